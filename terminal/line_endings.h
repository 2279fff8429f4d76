#pragma once
// What the Enter key sends, as the settings store keeps it ("EnterSends").

#include <cstdint>
#include <string_view>

namespace zelvo::terminal {

enum class EnterSends : uint32_t {
    esCR = 0,
    esLF = 1,
    esCRLF = 2,
};

constexpr std::string_view enterBytes(EnterSends e)
{
    switch (e) {
    case EnterSends::esLF: return "\n";
    case EnterSends::esCRLF: return "\r\n";
    case EnterSends::esCR: break;
    }
    return "\r";
}

} // namespace zelvo::terminal
