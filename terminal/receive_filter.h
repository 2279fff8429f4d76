#pragma once
// What the terminal adds to the bytes it receives before the emulator sees them: a
// carriage return before each line feed that comes without one ("LF implies CR", for
// devices that end lines with LF alone), and a timestamp at the start of each line.
// Both are off by default; with both off the bytes pass unchanged. Only what the
// terminal shows (and captures) is changed: the bytes on the line, the hex view and the
// other readers of the port see what arrived.
//
// A line's stamp goes before its first byte of text after a line feed: carriage
// returns, other control bytes and escape sequences that come first (a shell's prompt
// switching modes and returning to column 0 before the text) pass ahead of it, so
// "\r\n" and "\n\r" line ends both give one stamp per line and the text does not
// overwrite its own stamp. A carriage return within a line's text (a progress counter
// redrawing itself) gives none: on the screen the redrawn text covers the stamp, the
// capture file keeps it. An empty line gets its stamp too. The stamp is taken when the
// line's text begins, so a line shows when it began.

#include "terminal/line_stamper.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelvo::terminal {

class ReceiveFilter {
public:
    explicit ReceiveFilter(const StampClock& clock = StampClock::system()) : stamper_(clock) {}

    // atLineStart: the cursor stands at the start of a line, so the next byte begins one;
    // otherwise the line under way is left unstamped and the next one gets its stamp.
    void setTimestamps(TimestampMode mode, bool atLineStart);
    TimestampMode timestamps() const { return stamper_.mode(); }
    void setLfImpliesCr(bool on) { lfImpliesCr_ = on; }
    bool lfImpliesCr() const { return lfImpliesCr_; }
    // True when received bytes pass unchanged.
    bool passThrough() const { return !lfImpliesCr_ && stamper_.mode() == TimestampMode::tsOff; }

    // Appends to out what the terminal shows for len received bytes.
    void apply(const uint8_t* data, std::size_t len, std::vector<uint8_t>& out);
    // The terminal put a line of its own in between: the next received byte begins a line.
    void lineStarts() { lineStart_ = true; }
    // Notes bytes that were shown unchanged while passThrough() held, so that a CR LF
    // split at the moment LF implies CR is switched on still counts as one line end.
    void passed(const uint8_t* data, std::size_t len)
    {
        if (len > 0)
            afterCr_ = data[len - 1] == '\r';
    }

    LineStamper& stamper() { return stamper_; }

private:
    // Escape sequences at a line's start, followed so that the stamp goes after them.
    enum class Escape : uint8_t { none, esc, csi, string, stringEsc, vt52Row, vt52Column };
    // True when b comes before the line's text (a control byte or part of a sequence).
    bool beforeText(uint8_t b);

    LineStamper stamper_;
    bool lfImpliesCr_ = false;
    bool lineStart_ = true;
    bool afterCr_ = false;
    Escape escape_ = Escape::none;
};

} // namespace zelvo::terminal
