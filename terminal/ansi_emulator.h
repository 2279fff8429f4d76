#pragma once
// ANSI X3.64 emulation (also ANSI BBS, which parses the same way).

#include "terminal/terminal_emulator.h"

namespace zelvo::terminal {

class AnsiEmulator : public TerminalEmulator {
public:
    explicit AnsiEmulator(EmulatorType type = etANSI);

protected:
    void escDispatch(uint8_t ch) override;
    void csiDispatch(uint8_t final, const CsiParams& p) override;

private:
    void tabControl(int what);
    void tabClear(int what);
};

} // namespace zelvo::terminal
