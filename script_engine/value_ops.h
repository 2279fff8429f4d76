#pragma once

#include "script_engine/script_value.h"

namespace zelvo::script {

// The value operations of the language, shared by the machine and constant folding.
// Each raises OrvException with the language's message when the operands do not fit.

// The integer value of an operand; a string raises "No conversion from string to integer.".
int32_t integerValue(const ScriptValue& v);

// a = a <op> b for the binary opcodes opOr .. opMod.
void binaryOperation(int opcode, ScriptValue& a, const ScriptValue& b);

// a = <op> a for opInv, opNeg and opNot.
void unaryOperation(int opcode, ScriptValue& a);

// The integer in a grows or shrinks by one (opInc, opDec).
void stepOperation(int opcode, ScriptValue& a);

} // namespace zelvo::script
