#include "terminal/terminal_emulator.h"

#include "terminal/buffer.h"

#include <algorithm>
#include <cstdio>

namespace zelvo::terminal {

TerminalEmulator::TerminalEmulator(EmulatorType type, EscapeParser::Features features)
    : Emulation(type)
    , parser_(*this, features)
{
}

TerminalEmulator::~TerminalEmulator()
{
    bind(nullptr);
}

void TerminalEmulator::takePendingColors()
{
    // The first byte starts the emulation in the default rendition: the terminal's
    // default colours (the font colour the user chose), no attributes.
    colorsPending_ = false;
    fore_ = buf_->defaultFore();
    back_ = buf_->defaultBack();
    attr_ = 0;
    applyAttr();
}

void TerminalEmulator::processChar(uint8_t ch)
{
    if (!buf_)
        return;
    if (colorsPending_)
        takePendingColors();
    if (onProcessChar_)
        onProcessChar_(ch);
    parser_.feed(ch);
}

void TerminalEmulator::processBlock(const uint8_t* data, std::size_t len)
{
    if (!buf_ || len == 0)
        return;
    if (colorsPending_)
        takePendingColors();
    if (onProcessChar_) {
        for (std::size_t i = 0; i < len; ++i) {
            onProcessChar_(data[i]);
            parser_.feed(data[i]);
        }
        return;
    }
    parser_.feed(data, len);
}

void TerminalEmulator::print(const uint8_t* data, std::size_t len)
{
    buf_->writeText(data, len);
}

void TerminalEmulator::write(uint8_t ch)
{
    buf_->bWriteChar(ch);
}

void TerminalEmulator::control(uint8_t ch)
{
    if (ch == 0x09)
        buf_->horizontalTab();
    else
        clearScreen();
}

void TerminalEmulator::clearScreen()
{
    buf_->clearScreen(buf_->currentColor());
}

void TerminalEmulator::applyAttr()
{
    buf_->bSetAttr(fore_, back_, attr_);
}

uint8_t TerminalEmulator::eraseColor(bool plainWhenReverse) const
{
    if (plainWhenReverse && (buf_->currentAttr() & atReverse))
        return buf_->plainColor();
    return buf_->currentColor();
}

void TerminalEmulator::selectGraphicRendition(const CsiParams& p)
{
    for (int i = 0; i < p.count; ++i) {
        const int v = p.get(i, 0);
        switch (v) {
        case 0:
            fore_ = buf_->defaultFore();
            back_ = buf_->defaultBack();
            attr_ = 0;
            break;
        case 1: attr_ |= atBold; break;
        case 4: attr_ |= atUnderline; break;
        case 5: attr_ |= atBlink; break;
        case 7: attr_ |= atReverse; break;
        case 8: attr_ |= atInvisible; break;
        case 22: attr_ &= static_cast<uint8_t>(~atBold); break;
        case 24: attr_ &= static_cast<uint8_t>(~atUnderline); break;
        case 25: attr_ &= static_cast<uint8_t>(~atBlink); break;
        case 27: attr_ &= static_cast<uint8_t>(~atReverse); break;
        case 28: attr_ &= static_cast<uint8_t>(~atInvisible); break;
        case 39: fore_ = buf_->defaultFore(); break;
        case 49: back_ = buf_->defaultBack(); break;
        default:
            if (v >= 30 && v <= 37)
                fore_ = v - 30;
            else if (v >= 40 && v <= 47)
                back_ = v - 40;
            break;
        }
    }
    // Bold brightens the colour; the bright value stays until another colour is chosen.
    if ((attr_ & atBold) && fore_ < 8)
        fore_ += 8;
    applyAttr();
}

void TerminalEmulator::saveCursor()
{
    Buffer::SavedCursor s;
    s.column = buf_->column();
    s.pageRow = buf_->pageRow();
    s.fore = static_cast<uint8_t>(fore_);
    s.back = static_cast<uint8_t>(back_);
    s.attr = attr_;
    buf_->saveCursor(s);
}

void TerminalEmulator::restoreCursor(bool resetHome)
{
    const Buffer::SavedCursor& s = buf_->savedCursor();
    if (s.saved) {
        buf_->moveTo(s.pageRow, s.column);
        fore_ = s.fore;
        back_ = s.back;
        attr_ = s.attr;
        buf_->clearSavedCursor();
        applyAttr();
    } else if (resetHome) {
        buf_->moveTo(0, 0);
        fore_ = buf_->defaultFore();
        back_ = buf_->defaultBack();
        attr_ = 0;
        applyAttr();
    }
}

void TerminalEmulator::cursorPosition(const CsiParams& p)
{
    // A 0 leaves that coordinate where it is.
    const int r = p.get(0, 1);
    const int c = p.get(1, 1);
    buf_->moveTo(r == 0 ? buf_->pageRow() : r - 1, c == 0 ? buf_->column() : c - 1);
}

void TerminalEmulator::sendCursorPositionReport()
{
    char reply[32];
    const int n = std::snprintf(reply, sizeof reply, "\x1b[%d;%dR", buf_->pageRow() + 1,
                                buf_->column() + 1);
    buf_->reply(reply, n);
}

void TerminalEmulator::sendDeviceAttributes()
{
    static const char kReply[] = "\x1b[?1;0c";
    buf_->reply(kReply, static_cast<int>(sizeof kReply - 1));
}

} // namespace zelvo::terminal
