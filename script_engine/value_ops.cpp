#include "script_engine/value_ops.h"

#include <algorithm>
#include <cstring>

#include "script_engine/instruction.h"
#include "script_engine/orv_exception.h"

namespace zelvo::script {
namespace {

// The first character of a string as a signed 8-bit number; 0 for the empty string.
int32_t firstCharacter(const ScriptValue& v)
{
    return static_cast<int8_t>(static_cast<unsigned char>(v.s->chars()[0]));
}

// Byte-wise comparison of unsigned bytes; a prefix is the smaller string.
int compareStrings(const StrBody* x, const StrBody* y)
{
    size_t n = std::min(x->length, y->length);
    int c = std::memcmp(x->chars(), y->chars(), n);
    if (c != 0)
        return c < 0 ? -1 : 1;
    if (x->length == y->length)
        return 0;
    return x->length < y->length ? -1 : 1;
}

// a becomes a followed by n characters; the body is extended in place when a owns it.
void appendChars(ScriptValue& a, const char* text, size_t n)
{
    size_t oldLength = a.s->length;
    size_t newLength = oldLength + n;
    if (newLength > kMaxStringLength)
        throw OrvException("String too long.");
    if (a.s->refs == 1 && a.s->capacity >= newLength) {
        std::memmove(a.s->chars() + oldLength, text, n);
        a.s->chars()[newLength] = '\0';
        a.s->length = static_cast<uint32_t>(newLength);
        return;
    }
    // A private body grows geometrically so that repeated appends stay linear.
    size_t capacity = a.s->refs == 1 ? std::max(newLength, oldLength * 2) : newLength;
    StrBody* body = newBody(a.s->chars(), oldLength, capacity);
    std::memcpy(body->chars() + oldLength, text, n);
    body->chars()[newLength] = '\0';
    body->length = static_cast<uint32_t>(newLength);
    releaseValue(a);
    a.s = body;
}

void add(ScriptValue& a, const ScriptValue& b)
{
    if (a.type == kString) {
        if (b.type == kString) {
            appendChars(a, b.s->chars(), b.s->length);
        } else {
            char c = static_cast<char>(b.i & 0xFF);
            if (c != 0)
                appendChars(a, &c, 1);
        }
        return;
    }
    if (b.type == kString) {
        char c = static_cast<char>(a.i & 0xFF);
        if (c == 0) {
            copyValue(a, b);
            return;
        }
        size_t n = b.s->length + 1;
        StrBody* body = newBody(&c, 1, n);
        std::memcpy(body->chars() + 1, b.s->chars(), b.s->length);
        body->chars()[n] = '\0';
        body->length = static_cast<uint32_t>(n);
        a.type = kString;
        a.s = body;
        return;
    }
    a.i = static_cast<int32_t>(static_cast<uint32_t>(a.i) + static_cast<uint32_t>(b.i));
}

bool compare(int opcode, const ScriptValue& a, const ScriptValue& b)
{
    int c;
    if (a.type == kString && b.type == kString) {
        c = compareStrings(a.s, b.s);
    } else {
        int32_t x = a.type == kString ? firstCharacter(a) : a.i;
        int32_t y = b.type == kString ? firstCharacter(b) : b.i;
        c = x < y ? -1 : (x > y ? 1 : 0);
    }
    switch (opcode) {
    case opSeq: return c == 0;
    case opSne: return c != 0;
    case opSlt: return c < 0;
    case opSgt: return c > 0;
    case opSle: return c <= 0;
    default: return c >= 0;
    }
}

const char* illegalMessage(int opcode)
{
    switch (opcode) {
    case opOr: return "illegal '|' on string.";
    case opXor: return "illegal '^' on string.";
    case opAnd: return "illegal '&' on string.";
    case opShl: return "illegal '<<' on string.";
    case opShr: return "illegal '>>' on string.";
    case opSub: return "illegal '-' on string.";
    case opMul: return "illegal '*' on string.";
    case opDiv: return "illegal '/' on string.";
    default: return "illegal '%' on string.";
    }
}

} // namespace

int32_t integerValue(const ScriptValue& v)
{
    if (v.type != kInteger)
        throw OrvException("No conversion from string to integer.");
    return v.i;
}

void binaryOperation(int opcode, ScriptValue& a, const ScriptValue& b)
{
    if (opcode == opAdd) {
        add(a, b);
        return;
    }
    if (opcode >= opSeq && opcode <= opSge) {
        setInt(a, compare(opcode, a, b) ? 1 : 0);
        return;
    }
    if (a.type != kInteger || b.type != kInteger)
        throw OrvException(illegalMessage(opcode));
    uint32_t x = static_cast<uint32_t>(a.i);
    uint32_t y = static_cast<uint32_t>(b.i);
    switch (opcode) {
    case opOr: a.i = a.i | b.i; break;
    case opXor: a.i = a.i ^ b.i; break;
    case opAnd: a.i = a.i & b.i; break;
    case opShl: a.i = static_cast<int32_t>(x << (y & 31)); break;
    case opShr: a.i = a.i >> (y & 31); break;
    case opSub: a.i = static_cast<int32_t>(x - y); break;
    case opMul: a.i = static_cast<int32_t>(x * y); break;
    case opDiv:
    case opMod:
        if (b.i == 0)
            throw OrvException("Devide by zero.");
        // The one quotient that does not fit wraps around like every other overflow.
        if (b.i == -1)
            a.i = opcode == opDiv ? static_cast<int32_t>(0u - x) : 0;
        else
            a.i = opcode == opDiv ? a.i / b.i : a.i % b.i;
        break;
    default:
        throw OrvException("Invalid OP.");
    }
}

void unaryOperation(int opcode, ScriptValue& a)
{
    if (a.type != kInteger)
        throw OrvException("Cannot use unary operator on strings.");
    switch (opcode) {
    case opInv: a.i = ~a.i; break;
    case opNeg: a.i = static_cast<int32_t>(0u - static_cast<uint32_t>(a.i)); break;
    default: a.i = a.i == 0 ? 1 : 0; break;
    }
}

void stepOperation(int opcode, ScriptValue& a)
{
    if (a.type != kInteger)
        throw OrvException(opcode == opInc ? "Cannot use postincrement on strings."
                                           : "Cannot use postdecrement on strings.");
    uint32_t x = static_cast<uint32_t>(a.i);
    a.i = static_cast<int32_t>(opcode == opInc ? x + 1 : x - 1);
}

} // namespace zelvo::script
