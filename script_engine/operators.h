#pragma once

#include "script_engine/instruction.h"
#include "script_engine/tokens.h"

namespace zelvo::script {

// The machine operation of a binary operator or compound assignment token; opNop when
// the token is neither.
inline int binaryOpcode(int token)
{
    switch (token) {
    case '|': case tkOrAssign: return opOr;
    case '^': case tkXorAssign: return opXor;
    case '&': case tkAndAssign: return opAnd;
    case tkEq: return opSeq;
    case tkNe: return opSne;
    case '<': return opSlt;
    case '>': return opSgt;
    case tkLe: return opSle;
    case tkGe: return opSge;
    case tkShl: case tkShlAssign: return opShl;
    case tkShr: case tkShrAssign: return opShr;
    case '+': case tkAddAssign: return opAdd;
    case '-': case tkSubAssign: return opSub;
    case '*': case tkMulAssign: return opMul;
    case '/': case tkDivAssign: return opDiv;
    case '%': case tkModAssign: return opMod;
    default: return opNop;
    }
}

// The machine operation of a unary operator token.
inline int unaryOpcode(int token)
{
    switch (token) {
    case '-': return opNeg;
    case '~': return opInv;
    default: return opNot;
    }
}

} // namespace zelvo::script
