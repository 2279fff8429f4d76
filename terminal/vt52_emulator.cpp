#include "terminal/vt52_emulator.h"

#include "terminal/buffer.h"

namespace zelvo::terminal {

Vt52Emulator::Vt52Emulator()
    : TerminalEmulator(etVT52, EscapeParser::Features{false, false, false})
{
}

void Vt52Emulator::escDispatch(uint8_t ch)
{
    Buffer& b = *buf_;
    switch (ch) {
    case 'A': b.cursorUp(1); break;
    case 'B': b.cursorDown(1); break;
    case 'C': b.cursorRight(1); break;
    case 'D': b.cursorLeft(1); break;
    case 'H': b.moveTo(0, 0); break;
    case 'J': clearScreen(); break;
    case 'K': b.eraseInLine(2, b.currentColor()); break;
    case 'c': break;
    default: write(ch); break;
    }
}

void Vt52Emulator::csiDispatch(uint8_t final, const CsiParams&)
{
    // The parser opens no control sequences for VT52; should one arrive, its final byte
    // is shown like any other unknown byte.
    write(final);
}

} // namespace zelvo::terminal
