#include "script_engine/vm.h"

#include <cstring>
#include <new>

#include "script_engine/orv_exception.h"
#include "script_engine/value_ops.h"

namespace zelvo::script {
namespace {

[[noreturn]] void raise(const char* message)
{
    throw OrvException(message);
}

[[noreturn]] void badAddress()
{
    raise("Invalid stack address.");
}

// The shared string body of the literal at offset d of the data area.
StrBody* literalAt(ScriptHandle* h, int32_t d)
{
    if (d < 0 || d >= h->dataSize)
        raise("Invalid OP.");
    if (h->literals.size() < static_cast<size_t>(h->dataSize))
        h->literals.resize(static_cast<size_t>(h->dataSize), nullptr);
    StrBody*& body = h->literals[static_cast<size_t>(d)];
    if (!body) {
        const char* text = h->data + d;
        body = newBody(text, strnlen(text, static_cast<size_t>(h->dataSize - d)));
    }
    return body;
}

} // namespace

void Vm::checkArguments(const ScriptHandle* h, const HostFunction* f)
{
    const char* sig = f->signature;
    const int argc = h->argCount;
    for (int i = 1; i <= argc; ++i, ++sig) {
        char c = *sig;
        if (c == '\0')
            throw OrvException(formatMessage("%s - extra parameter.", f->name));
        if (c == '*')
            return;
        const ScriptValue& arg = h->stack[h->sp + 1 + i];
        switch (c) {
        case 'I':
        case 'i':
            if (arg.type != kInteger)
                throw OrvException(formatMessage("%s - expecting integer in parameter %d.", f->name, i));
            break;
        case 'S':
        case 's':
            if (arg.type != kString)
                throw OrvException(formatMessage("%s - expecting string in parameter %d.", f->name, i));
            break;
        case 'V':
        case 'v':
            break;
        default:
            raise("Internal error - Bad external function.");
        }
    }
    // Parameters left over must be optional ones.
    for (; *sig && *sig != '*'; ++sig)
        if (*sig != 's' && *sig != 'i' && *sig != 'v')
            throw OrvException(formatMessage("%s - missing parameter(s).", f->name));
}

void Vm::run(ScriptHandle* h)
{
    ScriptValue* const stack = h->stack;
    const Instruction* const code = h->code;
    const int32_t codeSize = h->codeSize;
    const int32_t stackLimit = h->stackLimit;
    const int32_t stackTop = h->stackTop;
    ScriptValue& a = h->a;
    ScriptValue& b = h->b;

    setInt(a, 0);
    setInt(b, 0);
    // Slots above the globals are all 0 after a clean run; after a failed one they may
    // still hold values, which must not leak into the locals of this run.
    for (int32_t i = stackLimit; i <= stackTop; ++i)
        clearValue(stack[i]);

    int32_t pc = 0;
    int32_t sp = stackTop;
    int32_t bp = 0;
    int lastLine = 0;
    int32_t lineEntry = -1;

    try {
        for (;;) {
            if (sp > stackTop)
                raise("Stack underflow.");
            if (sp < stackLimit)
                raise("Stack overflow.");
            if (static_cast<uint32_t>(pc) >= static_cast<uint32_t>(codeSize))
                raise("PC out of code area");
            const Instruction in = code[pc];
            if (ScriptOpFunc op = h->opFunc) {
                if (op(in.line, pc) == 0)
                    raise("Execution interrupted.");
            }
            if (in.line != lastLine) {
                lastLine = in.line;
                lineEntry = pc;
                if (ScriptLineFunc lf = h->lineFunc)
                    if (lf(in.line, pc) == 0)
                        raise("Execution interrupted.");
            } else if (pc == lineEntry) {
                if (ScriptLineFunc lf = h->lineFunc)
                    if (lf(in.line, pc) == 0)
                        raise("Execution interrupted.");
            }

            const int32_t n = in.operand;
            switch (in.opcode) {
            case opNop:
                break;
            case opPushBp:
                setInt(stack[sp], bp);
                --sp;
                break;
            case opPopBp:
                if (sp >= stackTop)
                    raise("Stack underflow.");
                ++sp;
                bp = integerValue(stack[sp]);
                clearValue(stack[sp]);
                break;
            case opMovBpSp:
                bp = sp;
                break;
            case opMovSpBp:
                if (bp > stackTop)
                    badAddress();
                for (int32_t i = sp + 1; i <= bp; ++i)
                    clearValue(stack[i]);
                sp = bp;
                break;
            case opAddSp:
                for (int32_t k = 0; k < n; ++k) {
                    if (sp >= stackTop)
                        raise("Stack underflow.");
                    ++sp;
                    clearValue(stack[sp]);
                }
                break;
            case opSubSp:
                if (n < 0 || n > kStackSize)
                    sp = stackLimit - 1; // cannot fit: the next step reports the overflow
                else
                    sp -= n;
                break;
            case opPushA:
                copyValue(stack[sp], a);
                --sp;
                break;
            case opPopA:
                if (sp >= stackTop)
                    raise("Stack underflow.");
                ++sp;
                moveValue(a, stack[sp]);
                break;
            case opChkStk:
                if (sp + 2 > stackTop)
                    raise("Stack underflow.");
                if (integerValue(stack[sp + 2]) < n) {
                    pc = integerValue(stack[sp + 1]) - 1;
                    raise("to few arguments in function call.");
                }
                break;
            case opCall:
                setInt(stack[sp], pc);
                --sp;
                pc = n;
                continue;
            case opCallX: {
                HostFunction* f = h->hostFunctions;
                for (int32_t k = n; f && k > 0; --k)
                    f = f->next;
                if (!f || n < 0)
                    raise("Undefined function.");
                if (sp + 1 > stackTop)
                    raise("Stack underflow.");
                int32_t argc = integerValue(stack[sp + 1]);
                if (argc < 0 || argc > stackTop - sp - 1)
                    badAddress();
                h->pc = pc;
                h->sp = sp;
                h->bp = bp;
                h->argCount = argc;
                checkArguments(h, f);
                h->inHostCall = true;
                const char* result = f->function(h, argc);
                h->inHostCall = false;
                if (h->pendingError) {
                    const char* pending = h->pendingError;
                    h->pendingError = nullptr;
                    raise(pending);
                }
                if (result)
                    throw OrvException(limitMessage(result));
                if (h->closePending)
                    raise("Execution interrupted.");
                break;
            }
            case opRet:
                if (sp >= stackTop)
                    raise("Stack underflow.");
                ++sp;
                pc = integerValue(stack[sp]);
                clearValue(stack[sp]);
                ++pc;
                continue;
            case opJz:
                if (integerValue(a) == 0) {
                    pc = n;
                    continue;
                }
                break;
            case opJnz:
                if (integerValue(a) != 0) {
                    pc = n;
                    continue;
                }
                break;
            case opJmp:
                pc = n;
                continue;
            case opHalt:
                h->pc = pc;
                h->sp = sp;
                h->bp = bp;
                return;
            case opMovAImm:
                setInt(a, n);
                break;
            case opMovsA: {
                StrBody* body = literalAt(h, n);
                ++body->refs;
                releaseValue(a);
                a.type = kString;
                a.s = body;
                break;
            }
            case opMovAGlobal:
                if (static_cast<uint32_t>(n) > static_cast<uint32_t>(stackTop))
                    badAddress();
                copyValue(a, stack[n]);
                break;
            case opMovAAddrBp:
                setInt(a, bp + n);
                break;
            case opMovALocal: {
                int32_t i = bp + n;
                if (static_cast<uint32_t>(i) > static_cast<uint32_t>(stackTop))
                    badAddress();
                copyValue(a, stack[i]);
                break;
            }
            case opMovLocalA: {
                int32_t i = bp + n;
                if (static_cast<uint32_t>(i) > static_cast<uint32_t>(stackTop))
                    badAddress();
                copyValue(stack[i], a);
                break;
            }
            case opMovBA:
                copyValue(b, a);
                break;
            case opMovAB:
                copyValue(a, b);
                break;
            case opMovAIndA: {
                int32_t i = integerValue(a);
                if (static_cast<uint32_t>(i) > static_cast<uint32_t>(stackTop))
                    badAddress();
                copyValue(a, stack[i]);
                break;
            }
            case opMovIndAB: {
                int32_t i = integerValue(a);
                if (static_cast<uint32_t>(i) > static_cast<uint32_t>(stackTop))
                    badAddress();
                copyValue(stack[i], b);
                break;
            }
            case opMovAIndB: {
                int32_t i = integerValue(b);
                if (static_cast<uint32_t>(i) > static_cast<uint32_t>(stackTop))
                    badAddress();
                copyValue(a, stack[i]);
                break;
            }
            case opMovIndBA: {
                int32_t i = integerValue(b);
                if (static_cast<uint32_t>(i) > static_cast<uint32_t>(stackTop))
                    badAddress();
                copyValue(stack[i], a);
                break;
            }
            case opInv:
            case opNeg:
            case opNot:
                unaryOperation(in.opcode, a);
                break;
            case opAdd:
                if ((a.type | b.type) == kInteger)
                    a.i = static_cast<int32_t>(static_cast<uint32_t>(a.i) + static_cast<uint32_t>(b.i));
                else
                    binaryOperation(opAdd, a, b);
                break;
            case opSub:
                if ((a.type | b.type) == kInteger)
                    a.i = static_cast<int32_t>(static_cast<uint32_t>(a.i) - static_cast<uint32_t>(b.i));
                else
                    binaryOperation(opSub, a, b);
                break;
            case opSlt:
                if ((a.type | b.type) == kInteger)
                    a.i = a.i < b.i;
                else
                    binaryOperation(opSlt, a, b);
                break;
            case opSgt:
                if ((a.type | b.type) == kInteger)
                    a.i = a.i > b.i;
                else
                    binaryOperation(opSgt, a, b);
                break;
            case opSle:
                if ((a.type | b.type) == kInteger)
                    a.i = a.i <= b.i;
                else
                    binaryOperation(opSle, a, b);
                break;
            case opSge:
                if ((a.type | b.type) == kInteger)
                    a.i = a.i >= b.i;
                else
                    binaryOperation(opSge, a, b);
                break;
            case opSeq:
                if ((a.type | b.type) == kInteger)
                    a.i = a.i == b.i;
                else
                    binaryOperation(opSeq, a, b);
                break;
            case opSne:
                if ((a.type | b.type) == kInteger)
                    a.i = a.i != b.i;
                else
                    binaryOperation(opSne, a, b);
                break;
            case opOr:
            case opXor:
            case opAnd:
            case opShl:
            case opShr:
            case opMul:
            case opDiv:
            case opMod:
                binaryOperation(in.opcode, a, b);
                break;
            case opInc:
            case opDec:
                stepOperation(in.opcode, a);
                break;
            default:
                raise("Invalid OP.");
            }
            ++pc;
        }
    } catch (const OrvException& e) {
        int line = lastLine;
        if (static_cast<uint32_t>(pc) < static_cast<uint32_t>(codeSize))
            line = code[pc].line;
        h->pc = pc;
        h->sp = sp;
        h->bp = bp;
        h->inHostCall = false;
        reportError(h, limitMessage(formatMessage("Runtime error: line %d - ", line) + e.message()));
    } catch (const std::bad_alloc&) {
        h->inHostCall = false;
        reportError(h, formatMessage("Runtime error: line %d - %s", lastLine, "Out of memory."));
    }
}

} // namespace zelvo::script
