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

    // Threaded dispatch: every handler ends in its own copy of the step prologue and an
    // indirect jump, which predicts far better than one shared switch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#if defined(__clang__)
#pragma GCC diagnostic ignored "-Wgnu-label-as-value"
#endif
    static const void* const kHandlers[opLast + 1] = {
        &&L_nop, &&L_pushBp, &&L_popBp, &&L_movBpSp, &&L_movSpBp, &&L_addSp, &&L_subSp,
        &&L_pushA, &&L_popA, &&L_chkStk, &&L_call, &&L_callX, &&L_ret, &&L_jz, &&L_jnz,
        &&L_jmp, &&L_halt, &&L_movAImm, &&L_movsA, &&L_movAGlobal, &&L_movAAddrBp,
        &&L_movALocal, &&L_movLocalA, &&L_movBA, &&L_movAB, &&L_movAIndA, &&L_movIndAB,
        &&L_movAIndB, &&L_movIndBA, &&L_invalid, &&L_unary, &&L_unary, &&L_unary,
        &&L_binary, &&L_binary, &&L_binary, &&L_seq, &&L_sne, &&L_slt, &&L_sgt, &&L_sle,
        &&L_sge, &&L_binary, &&L_binary, &&L_add, &&L_sub, &&L_binary, &&L_binary,
        &&L_binary, &&L_step, &&L_step,
    };

    Instruction in{};
    int32_t n = 0;

#define ORV_STEP()                                                                       \
    do {                                                                                 \
        if (sp > stackTop)                                                               \
            raise("Stack underflow.");                                                   \
        if (sp < stackLimit)                                                             \
            raise("Stack overflow.");                                                    \
        if (static_cast<uint32_t>(pc) >= static_cast<uint32_t>(codeSize))                \
            raise("PC out of code area");                                                \
        in = code[pc];                                                                   \
        if (ScriptOpFunc opf = h->opFunc)                                                \
            if (opf(in.line, pc) == 0 || h->closePending)                                \
                raise("Execution interrupted.");                                         \
        if (in.line != lastLine) {                                                       \
            lastLine = in.line;                                                          \
            lineEntry = pc;                                                              \
            if (ScriptLineFunc lf = h->lineFunc)                                         \
                if (lf(in.line, pc) == 0 || h->closePending)                             \
                    raise("Execution interrupted.");                                     \
        } else if (pc == lineEntry) {                                                    \
            if (ScriptLineFunc lf = h->lineFunc)                                         \
                if (lf(in.line, pc) == 0 || h->closePending)                             \
                    raise("Execution interrupted.");                                     \
        }                                                                                \
        n = in.operand;                                                                  \
        goto* (static_cast<uint16_t>(in.opcode) <= opLast ? kHandlers[in.opcode] : &&L_invalid); \
    } while (0)
#define ORV_NEXT()                                                                       \
    do {                                                                                 \
        ++pc;                                                                            \
        ORV_STEP();                                                                      \
    } while (0)
#define ORV_JUMP(target)                                                                 \
    do {                                                                                 \
        pc = (target);                                                                   \
        ORV_STEP();                                                                      \
    } while (0)
#define ORV_INT_OP(label, opcode, expr)                                                  \
    label:                                                                               \
    if ((a.type | b.type) == kInteger)                                                   \
        a.i = (expr);                                                                    \
    else                                                                                 \
        binaryOperation(opcode, a, b);                                                   \
    ORV_NEXT();

    try {
        ORV_STEP();

    L_nop:
        ORV_NEXT();
    L_pushBp:
        setInt(stack[sp], bp);
        --sp;
        ORV_NEXT();
    L_popBp:
        if (sp >= stackTop)
            raise("Stack underflow.");
        ++sp;
        bp = integerValue(stack[sp]);
        clearValue(stack[sp]);
        ORV_NEXT();
    L_movBpSp:
        bp = sp;
        ORV_NEXT();
    L_movSpBp:
        if (bp > stackTop)
            badAddress();
        for (int32_t i = sp + 1; i <= bp; ++i)
            clearValue(stack[i]);
        sp = bp;
        ORV_NEXT();
    L_addSp:
        for (int32_t k = 0; k < n; ++k) {
            if (sp >= stackTop)
                raise("Stack underflow.");
            ++sp;
            clearValue(stack[sp]);
        }
        ORV_NEXT();
    L_subSp:
        if (n < 0 || n > kStackSize)
            sp = stackLimit - 1; // cannot fit: the next step reports the overflow
        else
            sp -= n;
        ORV_NEXT();
    L_pushA:
        copyValue(stack[sp], a);
        --sp;
        ORV_NEXT();
    L_popA:
        if (sp >= stackTop)
            raise("Stack underflow.");
        ++sp;
        moveValue(a, stack[sp]);
        ORV_NEXT();
    L_chkStk:
        if (sp + 2 > stackTop)
            raise("Stack underflow.");
        if (integerValue(stack[sp + 2]) < n) {
            // Reported on the caller's line: the instruction before its call.
            pc = static_cast<int32_t>(static_cast<uint32_t>(integerValue(stack[sp + 1])) - 1u);
            raise("to few arguments in function call.");
        }
        ORV_NEXT();
    L_call:
        setInt(stack[sp], pc);
        --sp;
        ORV_JUMP(n);
    L_callX: {
        HostFunction* f = h->hostFunctions;
        for (int32_t k = n + (h->functionCount - h->compiledFunctionCount); f && k > 0; --k)
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
        ORV_NEXT();
    }
    L_ret:
        if (sp >= stackTop)
            raise("Stack underflow.");
        ++sp;
        n = integerValue(stack[sp]);
        clearValue(stack[sp]);
        ORV_JUMP(static_cast<int32_t>(static_cast<uint32_t>(n) + 1u));
    L_jz:
        if (integerValue(a) == 0)
            ORV_JUMP(n);
        ORV_NEXT();
    L_jnz:
        if (integerValue(a) != 0)
            ORV_JUMP(n);
        ORV_NEXT();
    L_jmp:
        ORV_JUMP(n);
    L_halt:
        h->pc = pc;
        h->sp = sp;
        h->bp = bp;
        return;
    L_movAImm:
        setInt(a, n);
        ORV_NEXT();
    L_movsA: {
        StrBody* body = literalAt(h, n);
        ++body->refs;
        releaseValue(a);
        a.type = kString;
        a.s = body;
        ORV_NEXT();
    }
    L_movAGlobal:
        if (static_cast<uint32_t>(n) > static_cast<uint32_t>(stackTop))
            badAddress();
        copyValue(a, stack[n]);
        ORV_NEXT();
    L_movAAddrBp:
        setInt(a, static_cast<int32_t>(static_cast<uint32_t>(bp) + static_cast<uint32_t>(n)));
        ORV_NEXT();
    L_movALocal:
        n = static_cast<int32_t>(static_cast<uint32_t>(bp) + static_cast<uint32_t>(n));
        if (static_cast<uint32_t>(n) > static_cast<uint32_t>(stackTop))
            badAddress();
        copyValue(a, stack[n]);
        ORV_NEXT();
    L_movLocalA:
        n = static_cast<int32_t>(static_cast<uint32_t>(bp) + static_cast<uint32_t>(n));
        if (static_cast<uint32_t>(n) > static_cast<uint32_t>(stackTop))
            badAddress();
        copyValue(stack[n], a);
        ORV_NEXT();
    L_movBA:
        copyValue(b, a);
        ORV_NEXT();
    L_movAB:
        copyValue(a, b);
        ORV_NEXT();
    L_movAIndA:
        n = integerValue(a);
        if (static_cast<uint32_t>(n) > static_cast<uint32_t>(stackTop))
            badAddress();
        copyValue(a, stack[n]);
        ORV_NEXT();
    L_movIndAB:
        n = integerValue(a);
        if (static_cast<uint32_t>(n) > static_cast<uint32_t>(stackTop))
            badAddress();
        copyValue(stack[n], b);
        ORV_NEXT();
    L_movAIndB:
        n = integerValue(b);
        if (static_cast<uint32_t>(n) > static_cast<uint32_t>(stackTop))
            badAddress();
        copyValue(a, stack[n]);
        ORV_NEXT();
    L_movIndBA:
        n = integerValue(b);
        if (static_cast<uint32_t>(n) > static_cast<uint32_t>(stackTop))
            badAddress();
        copyValue(stack[n], a);
        ORV_NEXT();
    L_unary:
        unaryOperation(in.opcode, a);
        ORV_NEXT();
    L_binary:
        binaryOperation(in.opcode, a, b);
        ORV_NEXT();
    L_step:
        stepOperation(in.opcode, a);
        ORV_NEXT();
        ORV_INT_OP(L_add, opAdd, static_cast<int32_t>(static_cast<uint32_t>(a.i) + static_cast<uint32_t>(b.i)))
        ORV_INT_OP(L_sub, opSub, static_cast<int32_t>(static_cast<uint32_t>(a.i) - static_cast<uint32_t>(b.i)))
        ORV_INT_OP(L_seq, opSeq, a.i == b.i)
        ORV_INT_OP(L_sne, opSne, a.i != b.i)
        ORV_INT_OP(L_slt, opSlt, a.i < b.i)
        ORV_INT_OP(L_sgt, opSgt, a.i > b.i)
        ORV_INT_OP(L_sle, opSle, a.i <= b.i)
        ORV_INT_OP(L_sge, opSge, a.i >= b.i)
    L_invalid:
        raise("Invalid OP.");
#undef ORV_INT_OP
#undef ORV_JUMP
#undef ORV_NEXT
#undef ORV_STEP
#pragma GCC diagnostic pop
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
