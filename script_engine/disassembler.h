#pragma once

#include <string>

#include "script_engine/instruction.h"

namespace zelvo::script {

// Lists compiled instructions as text, one per line: index, source line, mnemonic and
// operand (string literals shown with their text).
class Disassembler {
public:
    static const char* mnemonic(int opcode);
    static std::string line(const Instruction& in, int index, const char* data, int dataSize);
};

} // namespace zelvo::script
