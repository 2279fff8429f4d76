#include "script_engine/disassembler.h"

#include <cstdio>
#include <cstring>

namespace zelvo::script {
namespace {

enum class Operand { None, Number, Label, External, Data };

struct OpInfo {
    const char* mnemonic;
    Operand operand;
};

constexpr OpInfo kOps[] = {
    {"nop", Operand::None},          {"push bp", Operand::None},     {"pop bp", Operand::None},
    {"mov bp,sp", Operand::None},    {"mov sp,bp", Operand::None},   {"add sp,", Operand::Number},
    {"sub sp,", Operand::Number},    {"push a", Operand::None},      {"pop a", Operand::None},
    {"chkstk", Operand::Number},     {"call", Operand::Label},       {"callx", Operand::External},
    {"ret", Operand::None},          {"jz", Operand::Label},         {"jnz", Operand::Label},
    {"jmp", Operand::Label},         {"halt", Operand::None},        {"mov a,", Operand::Number},
    {"movs a,", Operand::Data},      {"mov a,[N]", Operand::Number}, {"mov a,bp+N", Operand::Number},
    {"mov a,[bp+N]", Operand::Number}, {"mov [bp+N],a", Operand::Number}, {"mov b,a", Operand::None},
    {"mov a,b", Operand::None},      {"mov a,[a]", Operand::None},   {"mov [a],b", Operand::None},
    {"mov a,[b]", Operand::None},    {"mov [b],a", Operand::None},   {"(invalid)", Operand::None},
    {"inv a", Operand::None},        {"neg a", Operand::None},       {"not a", Operand::None},
    {"or a,b", Operand::None},       {"xor a,b", Operand::None},     {"and a,b", Operand::None},
    {"seq a,b", Operand::None},      {"sne a,b", Operand::None},     {"slt a,b", Operand::None},
    {"sgt a,b", Operand::None},      {"sle a,b", Operand::None},     {"sge a,b", Operand::None},
    {"shl a,b", Operand::None},      {"shr a,b", Operand::None},     {"add a,b", Operand::None},
    {"sub a,b", Operand::None},      {"mul a,b", Operand::None},     {"div a,b", Operand::None},
    {"mod a,b", Operand::None},      {"inc a", Operand::None},       {"dec a", Operand::None},
};
static_assert(sizeof kOps / sizeof kOps[0] == opLast + 1);

} // namespace

const char* Disassembler::mnemonic(int opcode)
{
    if (opcode < 0 || opcode > opLast)
        return "(invalid)";
    return kOps[opcode].mnemonic;
}

std::string Disassembler::line(const Instruction& in, int index, const char* data, int dataSize)
{
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%4d  line %5u  ", index, in.line);
    std::string out = prefix;
    std::string text = mnemonic(in.opcode);
    Operand kind = in.opcode >= 0 && in.opcode <= opLast ? kOps[in.opcode].operand : Operand::None;
    const std::string value = std::to_string(in.operand);
    switch (kind) {
    case Operand::None:
        break;
    case Operand::Number: {
        // Frame and global operands are shown in place: "mov a,[bp+4]", "mov [bp-1],a".
        size_t n = text.find('N');
        if (n == std::string::npos) {
            text += (text.back() == ',' ? "" : " ") + value;
        } else if (n > 0 && text[n - 1] == '+' && in.operand < 0) {
            text.replace(n - 1, 2, value);
        } else {
            text.replace(n, 1, value);
        }
        break;
    }
    case Operand::Label:
        text += " L" + value;
        break;
    case Operand::External:
        text += " #" + value;
        break;
    case Operand::Data:
        text += value;
        if (in.operand >= 0 && in.operand < dataSize) {
            text += "  \"";
            for (const char* p = data + in.operand; p < data + dataSize && *p; ++p) {
                unsigned char c = static_cast<unsigned char>(*p);
                if (c == '"' || c == '\\') {
                    text += '\\';
                    text += static_cast<char>(c);
                } else if (c >= 32 && c < 127) {
                    text += static_cast<char>(c);
                } else {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\x%02x", c);
                    text += esc;
                }
            }
            text += '"';
        }
        break;
    }
    return out + text;
}

} // namespace zelvo::script
