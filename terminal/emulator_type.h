#pragma once
// The terminal emulations. The numbers are those stored in the settings.

#include <string_view>

namespace zelvo::terminal {

enum EmulatorType : int {
    etNone = 0,
    etANSI = 1,
    etVT52 = 2,
    etVT100 = 3,
    etANSIBBS = 4,
};

// The emulation a command-line name stands for: "none", "ansi", "vt100", "vt52" or
// "ansibbs". False, and type untouched, for any other name.
inline bool emulatorTypeFromName(std::string_view name, EmulatorType& type)
{
    if (name == "none")
        type = etNone;
    else if (name == "ansi")
        type = etANSI;
    else if (name == "vt100")
        type = etVT100;
    else if (name == "vt52")
        type = etVT52;
    else if (name == "ansibbs")
        type = etANSIBBS;
    else
        return false;
    return true;
}

} // namespace zelvo::terminal
