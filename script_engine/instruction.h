#pragma once

#include <cstdint>

namespace zelvo::script {

// Opcodes of the stack machine. Their numbers are part of the encoding.
enum Opcode : int16_t {
    opNop = 0,
    opPushBp = 1,
    opPopBp = 2,
    opMovBpSp = 3,
    opMovSpBp = 4,
    opAddSp = 5,
    opSubSp = 6,
    opPushA = 7,
    opPopA = 8,
    opChkStk = 9,
    opCall = 10,
    opCallX = 11,
    opRet = 12,
    opJz = 13,
    opJnz = 14,
    opJmp = 15,
    opHalt = 16,
    opMovAImm = 17,
    opMovsA = 18,
    opMovAGlobal = 19,
    opMovAAddrBp = 20,
    opMovALocal = 21,
    opMovLocalA = 22,
    opMovBA = 23,
    opMovAB = 24,
    opMovAIndA = 25,
    opMovIndAB = 26,
    opMovAIndB = 27,
    opMovIndBA = 28,
    opUnused = 29,
    opInv = 30,
    opNeg = 31,
    opNot = 32,
    opOr = 33,
    opXor = 34,
    opAnd = 35,
    opSeq = 36,
    opSne = 37,
    opSlt = 38,
    opSgt = 39,
    opSle = 40,
    opSge = 41,
    opShl = 42,
    opShr = 43,
    opAdd = 44,
    opSub = 45,
    opMul = 46,
    opDiv = 47,
    opMod = 48,
    opInc = 49,
    opDec = 50,
    opLast = 50,
};

// One instruction, 8 bytes: the source line, the opcode and the operand (0 when the
// instruction has none).
struct Instruction {
    uint16_t line;
    int16_t opcode;
    int32_t operand;
};
static_assert(sizeof(Instruction) == 8);

inline constexpr int kCodeCapacity = 1000;
inline constexpr int kDataCapacity = 1000;
inline constexpr int kStackSize = 1000;
inline constexpr int kMaxLine = 65535;

} // namespace zelvo::script
