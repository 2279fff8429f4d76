#include "terminal/vt100_emulator.h"

#include "terminal/buffer.h"

namespace zelvo::terminal {

Vt100Emulator::Vt100Emulator()
    : TerminalEmulator(etVT100, EscapeParser::Features{true, true, true})
{
}

void Vt100Emulator::clearScreen()
{
    buf_->clearScreen(eraseColor(true));
}

void Vt100Emulator::escDispatch(uint8_t ch)
{
    Buffer& b = *buf_;
    switch (ch) {
    case 'D': b.cursorDown(1); break; // IND, as CUD 1
    case 'E':                         // NEL
        b.setColumn(0);
        b.cursorDown(1);
        break;
    case 'H': b.bSetHorizontalTabStop(b.column() + 1); break; // HTS
    case 'Z': sendDeviceAttributes(); break;                  // DECID
    case '7': saveCursor(); break;                            // DECSC
    case '8': restoreCursor(false); break;                    // DECRC
    case 'M': case 'c': case '=': case '>':
        break;
    default:
        write(ch);
        break;
    }
}

void Vt100Emulator::csiDispatch(uint8_t final, const CsiParams& p)
{
    Buffer& b = *buf_;
    const int p1 = p.get(0, 1);
    switch (final) {
    case 'A': b.cursorUp(p1); break;      // CUU
    case 'B': b.cursorDown(p1); break;    // CUD
    case 'C': b.cursorRight(p1); break;   // CUF
    case 'D': b.cursorLeft(p1); break;    // CUB
    case 'H':                             // CUP
    case 'f': cursorPosition(p); break;   // HVP
    case 'J':                             // ED
        if (p.get(0, 0) == 2)
            clearScreen();
        else
            b.eraseInDisplay(p.get(0, 0), eraseColor(true));
        break;
    case 'K': b.eraseInLine(p.get(0, 0), eraseColor(false)); break; // EL
    case 'L': b.insertLines(p1); break;   // IL
    case 'M': b.deleteLines(p1); break;   // DL
    case 'R': b.reportCursorPos(p.get(1, 1), p1); break;
    case 'c': sendDeviceAttributes(); break; // DA
    case 'm': selectGraphicRendition(p); break;
    case 'n':                             // DSR
        if (p1 == 6)
            sendCursorPositionReport();
        break;
    case 'r': {                           // DECSTBM
        // An empty bottom means the page's last row, as ESC [ r resets the region.
        const int top = p.given(0) ? p.get(0, 1) : 1;
        const int bottom = p.given(1) ? p.get(1, 1) : b.PageHeight();
        b.setMargins(top == 0 ? 1 : top, bottom == 0 ? b.PageHeight() : bottom);
        break;
    }
    case 'h': case 'l': case 'i': case 'q':
        break;
    default:
        write(final);
        break;
    }
}

} // namespace zelvo::terminal
