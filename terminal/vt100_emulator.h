#pragma once
// VT100 emulation: the ANSI core plus character set designation (swallowed), private
// modes (swallowed), identify, save/restore with ESC 7 / ESC 8 and scrolling margins.

#include "terminal/terminal_emulator.h"

namespace zelvo::terminal {

class Vt100Emulator : public TerminalEmulator {
public:
    Vt100Emulator();

protected:
    void escDispatch(uint8_t ch) override;
    void csiDispatch(uint8_t final, const CsiParams& p) override;
    void clearScreen() override;
};

} // namespace zelvo::terminal
