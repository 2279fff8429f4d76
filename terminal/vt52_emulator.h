#pragma once
// VT52 emulation: single-byte escapes only (no control sequences).

#include "terminal/terminal_emulator.h"

namespace zelvo::terminal {

class Vt52Emulator : public TerminalEmulator {
public:
    Vt52Emulator();

protected:
    void escDispatch(uint8_t ch) override;
    void csiDispatch(uint8_t final, const CsiParams& p) override;
};

} // namespace zelvo::terminal
