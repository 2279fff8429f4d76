#include "terminal/ansi_emulator.h"

#include "terminal/buffer.h"

#include <algorithm>
#include <cstring>

namespace zelvo::terminal {

AnsiEmulator::AnsiEmulator(EmulatorType type)
    : TerminalEmulator(type, EscapeParser::Features{true, false, false})
{
}

void AnsiEmulator::escDispatch(uint8_t ch)
{
    Buffer& b = *buf_;
    switch (ch) {
    case 'D': // index: down one row, as CUD 1
        b.cursorDown(1);
        break;
    case 'E': // next line, within the margins
        b.setColumn(0);
        b.cursorDown(1);
        break;
    case 'H': // horizontal tab set
        b.bSetHorizontalTabStop(b.column() + 1);
        break;
    case 'I': { // move the text at the cursor to the next tab stop
        const int next = b.bGetNextTabStop(b.column(), 1);
        if (next > b.column())
            b.insertBlanks(next - b.column());
        break;
    }
    case 'J': // vertical tab set
        b.bSetVerticalTabStop(std::min(b.pageRow() + 1, b.PageHeight()));
        break;
    default:
        // Recognised single-byte escapes without an effect here.
        if (ch != 0 && std::strchr("FGKLMNOPQRSTUVW\\^abc", ch))
            break;
        write(ch);
        break;
    }
}

void AnsiEmulator::tabControl(int what)
{
    Buffer& b = *buf_;
    switch (what) {
    case 0: b.bSetHorizontalTabStop(b.column() + 1); break;
    case 1: b.bSetVerticalTabStop(std::min(b.pageRow() + 1, b.PageHeight())); break;
    case 2: b.bClearHorizontalTabStop(b.column() + 1); break;
    case 3: b.bClearVerticalTabStop(std::min(b.pageRow() + 1, b.PageHeight())); break;
    case 4:
    case 5: b.resetHorizontalTabStops(b.displayCols()); break;
    case 6: b.clearVerticalTabStops(); break;
    default: break;
    }
}

void AnsiEmulator::tabClear(int what)
{
    Buffer& b = *buf_;
    switch (what) {
    case 0: b.bClearHorizontalTabStop(b.column() + 1); break;
    case 1: b.bClearVerticalTabStop(std::min(b.pageRow() + 1, b.PageHeight())); break;
    case 2:
    case 3: b.resetHorizontalTabStops(b.displayCols()); break;
    case 4: b.clearVerticalTabStops(); break;
    default: break;
    }
}

void AnsiEmulator::csiDispatch(uint8_t final, const CsiParams& p)
{
    Buffer& b = *buf_;
    const int p1 = p.get(0, 1);
    switch (final) {
    case '@': b.insertBlanks(p1); break;                    // ICH
    case 'A': b.cursorUp(p1); break;                        // CUU
    case 'B':                                               // CUD
    case 'e': b.cursorDown(p1); break;                      // VPR
    case 'C':                                               // CUF
    case 'a': b.cursorRight(p1); break;                     // HPR
    case 'D': b.cursorLeft(p1); break;                      // CUB
    case 'E':                                               // CNL
        b.cursorDown(std::max(p1, 1));
        b.setColumn(0);
        break;
    case 'F':                                               // CPL
        b.cursorUp(std::max(p1, 1));
        b.setColumn(0);
        break;
    case 'G':                                               // CHA
    case '`': b.setColumn(p1 - 1); break;                   // HPA
    case 'H':                                               // CUP
    case 'f': cursorPosition(p); break;                     // HVP
    case 'I': b.setColumn(b.bGetNextTabStop(b.column(), p1)); break; // CHT
    case 'J': b.eraseInDisplay(p.get(0, 0), eraseColor(false)); break; // ED
    case 'K': b.eraseInLine(p.get(0, 0), eraseColor(true)); break;     // EL
    case 'L': b.insertLines(p1); break;                     // IL
    case 'M': b.deleteLines(p1); break;                     // DL
    case 'P': b.deleteChars(p1); break;                     // DCH
    case 'R': b.reportCursorPos(p.get(1, 1), p1); break;    // CPR from the remote side
    case 'W': tabControl(p1); break;                        // CTC
    case 'X': b.eraseChars(p1); break;                      // ECH
    case 'Y': {                                             // CVT
        const int v = b.nextVerticalTabStop(b.pageRow() + 1, p1);
        b.moveTo(v - 1, b.column());
        break;
    }
    case 'Z': b.setColumn(b.bGetPrevTabStop(b.column(), p1)); break; // CBT
    case 'c':                                               // DA
        if (p1 == 0)
            sendDeviceAttributes();
        break;
    case 'd': {                                             // VPA
        if (p1 != 0)
            b.moveTo(p1 - 1, b.column());
        break;
    }
    case 'g': tabClear(p1); break;                          // TBC
    case 'm': selectGraphicRendition(p); break;             // SGR
    case 'n':                                               // DSR
        if (p1 == 6)
            sendCursorPositionReport();
        break;
    case 's': saveCursor(); break;
    case 'u': restoreCursor(true); break;
    case 'h': case 'l': case 'i':                           // modes, media copy
    case 'b': case 'N': case 'O': case 'Q': case 'S':
    case 'T': case 'U': case 'V': case 'o':
        break;
    default:
        write(final);
        break;
    }
}

} // namespace zelvo::terminal
