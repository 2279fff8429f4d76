#include "script_engine/codegen.h"

#include <cstring>

#include "script_engine/operators.h"
#include "script_engine/orv_exception.h"
#include "script_engine/tokens.h"

namespace zelvo::script {

CodeGen::CodeGen(Instruction* code, ScriptValue* stack, char* data, Report report)
    : code_(code), stack_(stack), data_(data), report_(std::move(report))
{
}

void CodeGen::error(const std::string& text)
{
    report_(limitMessage("Error: " + text));
    ++errors_;
}

int CodeGen::emit(int opcode, int operand)
{
    if (codeSize_ >= kCodeCapacity) {
        if (!codeFull_) {
            codeFull_ = true;
            error(formatMessage("Line %d - Program too large (more than %d instructions).", line_,
                                kCodeCapacity));
        }
        return -1;
    }
    if (line_ > kMaxLine && !lineTooLarge_) {
        lineTooLarge_ = true;
        error(formatMessage("Line %d - Line number too large.", line_));
    }
    Instruction& in = code_[codeSize_];
    in.line = static_cast<uint16_t>(line_ > kMaxLine ? kMaxLine : line_);
    in.opcode = static_cast<int16_t>(opcode);
    in.operand = operand;
    return codeSize_++;
}

int CodeGen::emitJump(int opcode, int label)
{
    int index = emit(opcode, 0);
    if (index >= 0)
        labels_[static_cast<size_t>(label)].fixups.push_back(index);
    return index;
}

int CodeGen::newLabel()
{
    labels_.emplace_back();
    return static_cast<int>(labels_.size()) - 1;
}

void CodeGen::place(int label)
{
    labels_[static_cast<size_t>(label)].address = codeSize_;
}

void CodeGen::defineOrReport(const std::string& name, SymbolKind kind, int value)
{
    if (!symbols_.define(name, kind, value))
        error(formatMessage("Line %d - Symbol '%s' allready defined !", line_, name.c_str()));
}

void CodeGen::defineExternal(const char* name)
{
    defineOrReport(name, SymbolKind::ExternalFunction, externals_++);
}

void CodeGen::generate(Node* root)
{
    // Start-up code: call main with no arguments, then halt. Instruction 5 is the return
    // target when the program has no main.
    line_ = 0;
    emit(opMovAImm, 0);
    emit(opPushA);
    int callMain = emit(opCall, 0);
    emit(opPopA);
    emit(opHalt);
    emit(opRet);

    gen(root);

    Symbol mainSymbol = symbols_.lookupGlobal("main");
    int mainAddress = 5;
    if (mainSymbol.kind == SymbolKind::ScriptFunction)
        mainAddress = labels_[static_cast<size_t>(mainSymbol.value)].address;
    if (callMain >= 0)
        code_[callMain].operand = mainAddress;

    // A label never placed leaves its jumps at 0.
    for (const Label& label : labels_)
        if (label.address >= 0)
            for (int index : label.fixups)
                code_[index].operand = label.address;
}

void CodeGen::gen(Node* n, bool address)
{
    if (!n)
        return;
    line_ = n->line;
    try {
        genNode(n, address);
    } catch (const OrvException& e) {
        error(limitMessage(formatMessage("Line %d - ", n->line) + e.message()));
    }
}

void CodeGen::genLoopBody(Node* body, int breakLabel, int continueLabel)
{
    if (static_cast<int>(loops_.size()) >= kMaxLoopNesting)
        error(formatMessage("Line %d - Loops nested too deeply (more than %d).", line_, kMaxLoopNesting));
    loops_.emplace_back(breakLabel, continueLabel);
    gen(body);
    loops_.pop_back();
}

void CodeGen::genNode(Node* n, bool address)
{
    if (address && n->kind != NodeKind::Identifier && n->kind != NodeKind::PreInc
        && n->kind != NodeKind::PostInc) {
        error(formatMessage("Line %d - Lvalue required.", line_));
        return;
    }
    switch (n->kind) {
    case NodeKind::DeclList:
    case NodeKind::LocalDeclList:
    case NodeKind::StatementList:
        // Lists are walked in a loop, however long they are.
        for (Node* p = n; p; p = p->child[1]) {
            line_ = p->line;
            gen(p->child[0]);
        }
        break;
    case NodeKind::VarList: {
        // The rest of the list first: the variables are defined from the last one.
        std::vector<Node*> items;
        for (Node* p = n; p; p = p->child[1]) {
            line_ = p->line;
            items.push_back(p->child[0]);
        }
        for (auto it = items.rbegin(); it != items.rend(); ++it)
            gen(*it);
        break;
    }
    case NodeKind::VarDecl:
        genVarDecl(n);
        break;
    case NodeKind::Initializer:
        gen(n->child[0]);
        break;
    case NodeKind::Function:
        genFunction(n);
        break;
    case NodeKind::Param:
        for (Node* p = n; p; p = p->child[1]) {
            line_ = p->line;
            defineOrReport(p->child[0]->name, SymbolKind::Parameter, params_++);
        }
        break;
    case NodeKind::Block: {
        bool scoped = level_ > 1;
        if (scoped)
            symbols_.openScope();
        ++level_;
        gen(n->child[0]);
        gen(n->child[1]);
        --level_;
        if (scoped)
            symbols_.closeScope();
        break;
    }
    case NodeKind::If: {
        int elseLabel = newLabel();
        gen(n->child[0]);
        emitJump(opJz, elseLabel);
        gen(n->child[1]);
        if (!n->child[2]) {
            place(elseLabel);
        } else {
            int endLabel = newLabel();
            emitJump(opJmp, endLabel);
            place(elseLabel);
            gen(n->child[2]);
            place(endLabel);
        }
        break;
    }
    case NodeKind::While: {
        int top = newLabel();
        int end = newLabel();
        place(top);
        gen(n->child[0]);
        emitJump(opJz, end);
        genLoopBody(n->child[1], end, top);
        emitJump(opJmp, top);
        place(end);
        break;
    }
    case NodeKind::Do: {
        int top = newLabel();
        int end = newLabel();
        place(top);
        genLoopBody(n->child[0], end, top);
        gen(n->child[1]);
        emitJump(opJnz, top);
        place(end);
        break;
    }
    case NodeKind::For: {
        int top = newLabel();
        int step = newLabel();
        int end = newLabel();
        gen(n->child[0]);
        place(top);
        if (n->child[1]) {
            gen(n->child[1]);
            emitJump(opJz, end);
        }
        genLoopBody(n->child[3], end, step);
        place(step);
        gen(n->child[2]);
        emitJump(opJmp, top);
        place(end);
        break;
    }
    case NodeKind::Break:
        if (loops_.empty())
            error(formatMessage("Line %d - 'break' outside of loop.", line_));
        else
            emitJump(opJmp, loops_.back().first);
        break;
    case NodeKind::Continue:
        if (loops_.empty())
            error(formatMessage("Line %d - 'continue' outside of loop.", line_));
        else
            emitJump(opJmp, loops_.back().second);
        break;
    case NodeKind::Return:
        gen(n->child[0]);
        if (returnLabel_ >= 0)
            emitJump(opJmp, returnLabel_);
        break;
    case NodeKind::Comma: {
        Node* p = n;
        while (p->kind == NodeKind::Comma) {
            line_ = p->line;
            gen(p->child[0]);
            p = p->child[1];
        }
        gen(p);
        break;
    }
    case NodeKind::Assign:
        gen(n->child[0], true);
        emit(opPushA);
        gen(n->child[1]);
        emit(opMovBA);
        emit(opPopA);
        if (n->op != '=') {
            emit(opPushA);
            emit(opMovAIndA);
            emit(binaryOpcode(n->op));
            emit(opMovBA);
            emit(opPopA);
        }
        emit(opMovIndAB);
        emit(opMovAB);
        break;
    case NodeKind::Conditional: {
        int falseLabel = newLabel();
        int end = newLabel();
        gen(n->child[0]);
        emitJump(opJz, falseLabel);
        gen(n->child[1]);
        emitJump(opJmp, end);
        place(falseLabel);
        gen(n->child[2]);
        place(end);
        break;
    }
    case NodeKind::Logical: {
        int end = newLabel();
        gen(n->child[0]);
        emitJump(n->op == tkOrOr ? opJnz : opJz, end);
        gen(n->child[1]);
        place(end);
        break;
    }
    case NodeKind::Binary:
        gen(n->child[0]);
        emit(opPushA);
        gen(n->child[1]);
        emit(opMovBA);
        emit(opPopA);
        emit(binaryOpcode(n->op));
        break;
    case NodeKind::Unary:
        gen(n->child[0]);
        emit(unaryOpcode(n->op));
        break;
    case NodeKind::PreInc:
        gen(n->child[0], true);
        emit(opMovBA);
        emit(opMovAIndB);
        emit(n->op == tkInc ? opInc : opDec);
        emit(opMovIndBA);
        if (address)
            emit(opMovAB);
        break;
    case NodeKind::PostInc:
        gen(n->child[0], true);
        emit(opMovBA);
        emit(opMovAIndB);
        if (!address)
            emit(opPushA);
        emit(n->op == tkInc ? opInc : opDec);
        emit(opMovIndBA);
        emit(address ? opMovAB : opPopA);
        break;
    case NodeKind::Call:
        genCall(n);
        break;
    case NodeKind::Arg:
        break;
    case NodeKind::Constant:
        if (n->value.type == kInteger) {
            emit(opMovAImm, n->value.i);
        } else {
            // Every occurrence is stored anew, with its terminating NUL.
            size_t bytes = n->value.s->length + 1;
            int offset = 0;
            if (static_cast<size_t>(dataSize_) + bytes > static_cast<size_t>(kDataCapacity)) {
                if (!dataFull_) {
                    dataFull_ = true;
                    error(formatMessage("Line %d - Too much string data (more than %d bytes).", line_,
                                        kDataCapacity));
                }
            } else {
                offset = dataSize_;
                std::memcpy(data_ + dataSize_, n->value.s->chars(), bytes);
                dataSize_ += static_cast<int>(bytes);
            }
            emit(opMovsA, offset);
        }
        break;
    case NodeKind::Identifier:
        genIdentifier(n, address);
        break;
    }
}

void CodeGen::genVarDecl(Node* n)
{
    const std::string& name = n->child[0]->name;
    Node* init = n->child[1];
    if (level_ > 0) {
        int k = locals_++;
        defineOrReport(name, SymbolKind::Local, k);
        if (init) {
            gen(init);
            emit(opMovLocalA, -k);
        }
        return;
    }
    int g = globals_++;
    if (g >= kStackSize) {
        error(formatMessage("Line %d - Too many global variables.", line_));
        return;
    }
    defineOrReport(name, SymbolKind::Global, g);
    if (init) {
        Node* value = init->child[0];
        if (!value || value->kind != NodeKind::Constant)
            throw OrvException("Initializer must be constant.");
        copyValue(stack_[g], value->value);
    }
}

void CodeGen::genFunction(Node* n)
{
    int entry = newLabel();
    place(entry);
    defineOrReport(n->child[0]->name, SymbolKind::ScriptFunction, entry);
    returnLabel_ = newLabel();
    int check = emit(opChkStk, 0);
    emit(opPushBp);
    emit(opMovBpSp);
    int reserve = emit(opSubSp, 0);
    symbols_.openScope();
    level_ = 1;
    params_ = 0;
    gen(n->child[1]);
    gen(n->child[2]);
    symbols_.closeScope();
    place(returnLabel_);
    emit(opMovSpBp);
    emit(opPopBp);
    emit(opRet);
    if (check >= 0)
        code_[check].operand = params_;
    if (reserve >= 0)
        code_[reserve].operand = locals_;
    locals_ = 0;
    level_ = 0;
    returnLabel_ = -1;
}

void CodeGen::genIdentifier(Node* n, bool address)
{
    Symbol s = symbols_.lookup(n->name);
    switch (s.kind) {
    case SymbolKind::Global:
        emit(address ? opMovAImm : opMovAGlobal, s.value);
        break;
    case SymbolKind::Parameter:
        emit(address ? opMovAAddrBp : opMovALocal, s.value + 4);
        break;
    case SymbolKind::Local:
        emit(address ? opMovAAddrBp : opMovALocal, -s.value);
        break;
    case SymbolKind::ScriptFunction:
    case SymbolKind::ExternalFunction:
        error(formatMessage("Line %d - Function name '%s' not allowed.", line_, n->name.c_str()));
        break;
    case SymbolKind::Undefined:
        error(formatMessage("Line %d - Undefined Symbol '%s'.", line_, n->name.c_str()));
        break;
    }
}

void CodeGen::genCall(Node* n)
{
    // Arguments are pushed from the last to the first.
    std::vector<Node*> args;
    for (Node* p = n->child[1]; p; p = p->child[1]) {
        line_ = p->line;
        args.push_back(p->child[0]);
    }
    for (auto it = args.rbegin(); it != args.rend(); ++it) {
        gen(*it);
        emit(opPushA);
    }
    int argc = static_cast<int>(args.size());
    emit(opMovAImm, argc);
    emit(opPushA);
    const std::string& name = n->child[0]->name;
    Symbol s = symbols_.lookup(name);
    switch (s.kind) {
    case SymbolKind::ScriptFunction:
        emitJump(opCall, s.value);
        break;
    case SymbolKind::ExternalFunction:
        emit(opCallX, s.value);
        break;
    case SymbolKind::Undefined:
        error(formatMessage("Line %d - Undefined Symbol '%s'.", line_, name.c_str()));
        break;
    default:
        error(formatMessage("Line %d - Call to non function '%s'.", line_, name.c_str()));
        break;
    }
    emit(opAddSp, argc + 1);
}

} // namespace zelvo::script
