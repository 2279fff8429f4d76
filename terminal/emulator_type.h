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
    etXterm = 5,
};

// What each emulation is called where it shows outside the program: the name the
// command-line tools take, and the terminal type a local program started on an exec:
// line is told (its TERM), so it writes only what the emulation understands.
struct EmulationInfo {
    EmulatorType type;
    std::string_view name;     // command-line name
    std::string_view termName; // TERM of programs on a local line
};

inline constexpr EmulationInfo kEmulations[] = {
    {etNone, "none", "dumb"},
    {etANSI, "ansi", "ansi"},
    {etVT52, "vt52", "vt52"},
    {etVT100, "vt100", "vt100"},
    {etANSIBBS, "ansibbs", "ansi"},
    {etXterm, "xterm", "xterm-256color"},
};

// The entry of a type; null for numbers that name no emulation.
inline constexpr const EmulationInfo* emulationInfo(int type)
{
    for (const EmulationInfo& e : kEmulations)
        if (e.type == type)
            return &e;
    return nullptr;
}

// The emulation a command-line name stands for ("none", "ansi", "vt100", "vt52",
// "ansibbs", "xterm"). False, and type untouched, for any other name.
inline bool emulatorTypeFromName(std::string_view name, EmulatorType& type)
{
    for (const EmulationInfo& e : kEmulations) {
        if (e.name == name) {
            type = e.type;
            return true;
        }
    }
    return false;
}

// TERM for a program on a local line of this emulation ("dumb" for unknown numbers).
inline constexpr std::string_view terminalTypeName(int type)
{
    const EmulationInfo* e = emulationInfo(type);
    return e ? e->termName : std::string_view("dumb");
}

// The highest type number a setting may hold.
inline constexpr int kMaxEmulatorType = etXterm;

} // namespace zelvo::terminal
