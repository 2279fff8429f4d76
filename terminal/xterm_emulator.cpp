#include "terminal/xterm_emulator.h"

#include "terminal/char_width.h"

#include <algorithm>
#include <cstdio>

namespace zelvo::terminal {

namespace {

// DEC special graphics for 0x60..0x7E: the line-drawing set.
constexpr char16_t kDecGraphics[31] = {
    0x25C6, 0x2592, 0x2409, 0x240C, 0x240D, 0x240A, 0x00B0, 0x00B1, 0x2424, 0x240B, 0x2518,
    0x2510, 0x250C, 0x2514, 0x253C, 0x23BA, 0x23BB, 0x2500, 0x23BC, 0x23BD, 0x251C, 0x2524,
    0x2534, 0x252C, 0x2502, 0x2264, 0x2265, 0x03C0, 0x2260, 0x00A3, 0x00B7};

// Most characters one REP may write: a page of the largest size.
constexpr int kMaxRepeat = Buffer::kMaxUnicodeCells;
// Titles kept by CSI 22 t.
constexpr std::size_t kMaxTitleStack = 10;
// Longest title kept, in bytes.
constexpr std::size_t kMaxTitle = 1024;

std::string format(const char* fmt, int a, int b = 0, int c = 0)
{
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, fmt, a, b, c);
    return std::string(buf, static_cast<std::size_t>(std::max(n, 0)));
}

// Part of an xterm colour report: a palette colour as rgb:RRRR/GGGG/BBBB.
std::string colorSpec(uint32_t rgb)
{
    char buf[32];
    const unsigned r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    std::snprintf(buf, sizeof buf, "rgb:%02x%02x/%02x%02x/%02x%02x", r, r, g, g, b, b);
    return buf;
}

} // namespace

XtermEmulator::XtermEmulator()
    : Emulation(etXterm)
    , parser_(*this)
{
}

XtermEmulator::~XtermEmulator()
{
    bind(nullptr);
}

void XtermEmulator::attached()
{
    buf_->setUnicode(true);
    buf_->setPen(pen_);
    buf_->setCursorVisible(true);
    resetTabs();
}

void XtermEmulator::detaching()
{
    buf_->setAltScreen(false);
    buf_->setUnicode(false);
}

void XtermEmulator::pageResized()
{
    resetTabs();
    wrapPending_ = false;
}

KeyboardModes XtermEmulator::keyboardModes() const
{
    KeyboardModes m;
    m.utf8 = true;
    m.xtermKeys = true;
    m.applicationCursor = appCursor_;
    m.applicationKeypad = appKeypad_;
    m.bracketedPaste = bracketedPaste_;
    return m;
}

void XtermEmulator::processChar(uint8_t ch)
{
    processBlock(&ch, 1);
}

void XtermEmulator::processBlock(const uint8_t* data, std::size_t len)
{
    if (!buf_ || len == 0)
        return;
    if (onProcessChar_)
        for (std::size_t i = 0; i < len; ++i)
            onProcessChar_(data[i]);
    parser_.feed(data, len);
}

// ---------------------------------------------------------------------------------------
// Cursor

XtermEmulator::Position XtermEmulator::position() const
{
    return {buf_->pageRow(), buf_->column()};
}

bool XtermEmulator::wrapPending() const
{
    return wrapPending_ && buf_ && position() == wrapAt_;
}

void XtermEmulator::setWrapPending()
{
    wrapPending_ = autowrap_;
    wrapAt_ = position();
}

void XtermEmulator::settle(const Position& before)
{
    if (!(position() == before))
        wrapPending_ = false;
}

void XtermEmulator::moveTo(int row, int col)
{
    buf_->moveTo(row, col);
}

void XtermEmulator::home()
{
    moveTo(origin_ ? buf_->TopMargin() - 1 : 0, 0);
}

void XtermEmulator::lineFeed()
{
    buf_->newLine();
}

void XtermEmulator::wrapLine()
{
    wrapPending_ = false;
    buf_->setColumn(0);
    lineFeed();
}

void XtermEmulator::reverseIndex()
{
    Buffer& b = *buf_;
    if (b.pageRow() == b.TopMargin() - 1)
        b.scrollRegion(-1);
    else if (b.pageRow() > 0)
        moveTo(b.pageRow() - 1, b.column());
}

// ---------------------------------------------------------------------------------------
// Text

char32_t XtermEmulator::mapCharset(uint8_t ch)
{
    int set = gl_;
    if (singleShift_ >= 0) {
        set = singleShift_;
        singleShift_ = -1;
    }
    switch (g_[set]) {
    case Charset::DecGraphics:
        if (ch >= 0x60 && ch <= 0x7E)
            return kDecGraphics[ch - 0x60];
        return ch;
    case Charset::Uk:
        return ch == '#' ? char32_t(0x00A3) : char32_t(ch);
    case Charset::Ascii:
        break;
    }
    return ch;
}

void XtermEmulator::printAscii(const uint8_t* text, std::size_t len)
{
    Buffer& b = *buf_;
    if (insert_ || singleShift_ >= 0 || g_[gl_] != Charset::Ascii) {
        for (std::size_t i = 0; i < len; ++i)
            printOne(mapCharset(text[i]));
        return;
    }
    const int cols = b.Cols();
    while (len > 0) {
        if (wrapPending())
            wrapLine();
        const int col = b.column();
        const int room = cols - col;
        const int n = static_cast<int>(std::min<std::size_t>(len, static_cast<std::size_t>(room)));
        b.putAscii(text, n);
        lastChar_ = text[n - 1];
        text += n;
        len -= static_cast<std::size_t>(n);
        if (n < room) {
            b.setColumn(col + n);
            continue;
        }
        // The last column was written: the cursor stays on it.
        b.setColumn(cols - 1);
        if (autowrap_) {
            setWrapPending();
        } else if (len > 0) {
            // Without auto-wrap the rest overwrites the last column; the last one stays.
            b.putAscii(text + len - 1, 1);
            lastChar_ = text[len - 1];
            len = 0;
        }
    }
}

void XtermEmulator::print(const char32_t* text, std::size_t len)
{
    for (std::size_t i = 0; i < len; ++i)
        printOne(text[i]);
}

void XtermEmulator::printOne(char32_t cp)
{
    Buffer& b = *buf_;
    int width = charWidth(cp);
    const int cols = b.Cols();
    if (width == 0) {
        // A combining mark joins the character written last.
        if (wrapPending())
            b.combineAt(b.row(), b.column(), cp);
        else if (b.column() > 0)
            b.combineAt(b.row(), b.column() - 1, cp);
        return;
    }
    if (width > cols) {
        // A one-column page cannot hold a wide character.
        width = 1;
        cp = 0xFFFD;
    }
    if (wrapPending()) {
        wrapLine();
    } else if (b.column() + width > cols) {
        if (autowrap_)
            wrapLine();
        else
            b.setColumn(cols - width);
    }
    if (insert_)
        b.insertBlanks(width);
    const uint32_t code = static_cast<uint32_t>(cp);
    if (width == 2) {
        const uint32_t cells[2] = {code | cellWide, cellContinuation};
        b.putCells(cells, 2);
    } else {
        b.putCells(&code, 1);
    }
    lastChar_ = cp;
    const int col = b.column();
    if (col + width >= cols)
        setWrapPending();
    else
        b.setColumn(col + width);
}

void XtermEmulator::repeat(int count)
{
    if (lastChar_ == 0)
        return;
    count = std::min(count, std::min(kMaxRepeat, buf_->Cols() * buf_->PageHeight()));
    const char32_t cp = lastChar_;
    if (cp < 0x80) {
        const uint8_t ch = static_cast<uint8_t>(cp);
        for (int i = 0; i < count; ++i)
            printAscii(&ch, 1);
    } else {
        for (int i = 0; i < count; ++i)
            printOne(cp);
    }
}

// ---------------------------------------------------------------------------------------
// Controls

void XtermEmulator::execute(uint8_t ch)
{
    Buffer& b = *buf_;
    const Position before = position();
    switch (ch) {
    case 0x07: // BEL
        b.bell();
        break;
    case 0x08: // BS
        if (b.column() > 0)
            b.setColumn(b.column() - 1);
        b.bAddToCapture(ch);
        break;
    case 0x09: // HT
        tab(1, true);
        break;
    case 0x0A: // LF
    case 0x0B: // VT
    case 0x0C: // FF
        lineFeed();
        if (newLineMode_)
            b.setColumn(0);
        b.bAddToCapture(0x0A);
        break;
    case 0x0D: // CR
        b.setColumn(0);
        b.bAddToCapture(ch);
        break;
    case 0x0E: // SO: G1 into GL
        gl_ = 1;
        break;
    case 0x0F: // SI: G0 into GL
        gl_ = 0;
        break;
    default: // NUL, ENQ and the rest have no effect
        break;
    }
    settle(before);
}

void XtermEmulator::escDispatch(const char* intermediates, int count, uint8_t final)
{
    Buffer& b = *buf_;
    const Position before = position();
    if (count == 0) {
        switch (final) {
        case '7': saveCursor(); break;            // DECSC
        case '8': restoreCursor(); break;         // DECRC
        case 'D': lineFeed(); break;              // IND
        case 'E':                                 // NEL
            b.setColumn(0);
            lineFeed();
            break;
        case 'H':                                 // HTS
            tabs_[static_cast<std::size_t>(b.column())] = true;
            break;
        case 'M': reverseIndex(); break;          // RI
        case 'c': fullReset(); break;             // RIS
        case '=': appKeypad_ = true; break;       // DECKPAM
        case '>': appKeypad_ = false; break;      // DECKPNM
        case 'N': singleShift_ = 2; break;        // SS2
        case 'O': singleShift_ = 3; break;        // SS3
        case 'n': gl_ = 2; break;                 // LS2
        case 'o': gl_ = 3; break;                 // LS3
        case 'Z': reply("\x1b[?62;22c"); break;   // DECID
        default: break;                           // ST and the rest: nothing to do
        }
    } else if (count == 1) {
        const char i = intermediates[0];
        if (i == '(' || i == ')' || i == '*' || i == '+') {
            // SCS: designate a 94-character set to G0..G3.
            Charset set = Charset::Ascii;
            if (final == '0')
                set = Charset::DecGraphics;
            else if (final == 'A')
                set = Charset::Uk;
            g_[i == '(' ? 0 : i == ')' ? 1 : i == '*' ? 2 : 3] = set;
        } else if (i == '#' && final == '8') {
            alignmentTest();
        }
    }
    settle(before);
}

void XtermEmulator::oscDispatch(const std::string& text, bool bel)
{
    // Ps ; Pt
    std::size_t i = 0;
    int ps = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && ps < 100000)
        ps = ps * 10 + (text[i++] - '0');
    if (i == 0 || i >= text.size() || text[i] != ';')
        return;
    const std::string pt = text.substr(i + 1);
    switch (ps) {
    case 0: // icon name and window title
    case 2: // window title
        setTitle(pt);
        break;
    case 10: // default foreground and background colour queries
    case 11:
        if (pt == "?") {
            const int index = ps == 10 ? buf_->defaultFore() : buf_->defaultBack();
            reply("\x1b]" + std::to_string(ps) + ";" + colorSpec(Buffer::kPalette[index & 0x0F])
                  + (bel ? "\a" : "\x1b\\"));
        }
        break;
    default: // icon name alone, palette, clipboard, hyperlinks, ...: not done
        break;
    }
}

void XtermEmulator::setTitle(std::string title)
{
    // Control characters have no place in a caption.
    title.erase(std::remove_if(title.begin(), title.end(),
                               [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }),
                title.end());
    if (title.size() > kMaxTitle) {
        // Cut at a character boundary.
        std::size_t cut = kMaxTitle;
        while (cut > 0 && (static_cast<unsigned char>(title[cut]) & 0xC0) == 0x80)
            --cut;
        title.resize(cut);
    }
    title_ = title;
    buf_->setTitle(title_);
}

void XtermEmulator::reply(const std::string& bytes)
{
    buf_->reply(bytes.data(), static_cast<int>(bytes.size()));
}

// ---------------------------------------------------------------------------------------
// Control sequences

void XtermEmulator::csiDispatch(const CsiSequence& s)
{
    const Position before = position();
    if (s.intermediates == 0) {
        if (s.privateMarker == 0)
            csiPlain(s);
        else
            csiPrivate(s);
    } else if (s.intermediates == 1) {
        const char i = s.intermediate[0];
        if (i == '!' && s.final == 'p' && s.privateMarker == 0) {
            softReset(); // DECSTR
        } else if (i == '$' && s.final == 'p') {
            // DECRQM: which state a mode is in.
            const bool priv = s.privateMarker == '?';
            if (s.privateMarker == 0 || priv) {
                const int mode = s.get(0, 0);
                reply(format(priv ? "\x1b[?%d;%d$y" : "\x1b[%d;%d$y", mode, modeState(mode, priv)));
            }
        }
        // Cursor style, conformance level, protection and the rest: not done.
    }
    settle(before);
}

void XtermEmulator::csiPlain(const CsiSequence& s)
{
    Buffer& b = *buf_;
    const int n = s.count1(0);
    const int row = b.pageRow();
    const int col = b.column();
    const int top = b.TopMargin() - 1;
    const int bottom = b.BottomMargin() - 1;
    const int page = b.PageHeight();
    const int cols = b.Cols();
    switch (s.final) {
    case '@': b.insertBlanks(n); break;                                   // ICH
    case 'A':                                                             // CUU
        moveTo(row >= top ? std::max(top, row - n) : std::max(0, row - n), col);
        break;
    case 'B':                                                             // CUD
        moveTo(row <= bottom ? std::min(bottom, row + n) : std::min(page - 1, row + n), col);
        break;
    case 'C':                                                             // CUF
    case 'a':                                                             // HPR
        b.setColumn(std::min(cols - 1, col + n));
        break;
    case 'D': b.setColumn(std::max(0, col - n)); break;                   // CUB
    case 'E':                                                             // CNL
        moveTo(row <= bottom ? std::min(bottom, row + n) : std::min(page - 1, row + n), 0);
        break;
    case 'F':                                                             // CPL
        moveTo(row >= top ? std::max(top, row - n) : std::max(0, row - n), 0);
        break;
    case 'G':                                                             // CHA
    case '`':                                                             // HPA
        b.setColumn(n - 1);
        break;
    case 'H':                                                             // CUP
    case 'f': {                                                           // HVP
        int r = s.count1(0) - 1;
        if (origin_)
            r = std::clamp(r + top, top, bottom);
        moveTo(r, s.count1(1) - 1);
        break;
    }
    case 'I': tab(n, true); break;                                        // CHT
    case 'Z': tab(n, false); break;                                       // CBT
    case 'J': eraseInDisplay(s.get(0, 0)); break;                         // ED
    case 'K': eraseInLine(s.get(0, 0)); break;                            // EL
    case 'L': b.insertLines(n); break;                                    // IL
    case 'M': b.deleteLines(n); break;                                    // DL
    case 'P': b.deleteChars(n); break;                                    // DCH
    case 'S': b.scrollRegion(n); break;                                   // SU
    case 'T':                                                             // SD
        if (s.count <= 1) // with more parameters it is a mouse tracking request
            b.scrollRegion(-n);
        break;
    case 'X': b.eraseInRow(col, col + n); break;                          // ECH
    case 'b': repeat(n); break;                                           // REP
    case 'c':                                                             // DA
        if (s.get(0, 0) == 0)
            reply("\x1b[?62;22c");
        break;
    case 'd': {                                                           // VPA
        int r = n - 1;
        if (origin_)
            r = std::clamp(r + top, top, bottom);
        moveTo(r, col);
        break;
    }
    case 'e': moveTo(std::min(page - 1, row + n), col); break;            // VPR
    case 'g':                                                             // TBC
        if (s.get(0, 0) == 0)
            tabs_[static_cast<std::size_t>(col)] = false;
        else if (s.get(0, 0) == 3)
            std::fill(tabs_.begin(), tabs_.end(), false);
        break;
    case 'h':                                                             // SM
    case 'l':                                                             // RM
        for (int i = 0; i < s.count; ++i)
            setMode(s.get(i, 0), s.final == 'h');
        break;
    case 'm': selectGraphicRendition(s); break;                           // SGR
    case 'n': deviceStatus(s.get(0, 0), false); break;                    // DSR
    case 'r': setMargins(s); break;                                       // DECSTBM
    case 's':                                                             // SCOSC
        if (s.count == 0)
            saveCursor();
        break;
    case 'u': restoreCursor(); break;                                     // SCORC
    case 't': windowOp(s); break;                                         // XTWINOPS
    default: break;
    }
}

void XtermEmulator::csiPrivate(const CsiSequence& s)
{
    if (s.privateMarker == '?') {
        switch (s.final) {
        case 'h':                                                         // DECSET
        case 'l':                                                         // DECRST
            for (int i = 0; i < s.count; ++i)
                setPrivateMode(s.get(i, 0), s.final == 'h');
            break;
        case 'J': eraseInDisplay(s.get(0, 0)); break;                     // DECSED
        case 'K': eraseInLine(s.get(0, 0)); break;                        // DECSEL
        case 'n': deviceStatus(s.get(0, 0), true); break;                 // DECDSR
        default: break;
        }
    } else if (s.privateMarker == '>' && s.final == 'c' && s.get(0, 0) == 0) {
        reply("\x1b[>1;10;0c"); // secondary device attributes: a VT220, version 10
    }
}

void XtermEmulator::eraseInDisplay(int mode)
{
    Buffer& b = *buf_;
    const int row = b.pageRow();
    switch (mode) {
    case 0:
        b.eraseInRow(b.column(), b.Cols());
        b.erasePageRows(row + 1, b.PageHeight() - 1);
        break;
    case 1:
        b.erasePageRows(0, row - 1);
        b.eraseInRow(0, b.column() + 1);
        break;
    case 2:
        b.erasePageRows(0, b.PageHeight() - 1);
        break;
    case 3:
        b.eraseScrollback();
        break;
    default:
        break;
    }
}

void XtermEmulator::eraseInLine(int mode)
{
    Buffer& b = *buf_;
    switch (mode) {
    case 0: b.eraseInRow(b.column(), b.Cols()); break;
    case 1: b.eraseInRow(0, b.column() + 1); break;
    case 2: b.eraseInRow(0, b.Cols()); break;
    default: break;
    }
}

void XtermEmulator::setMargins(const CsiSequence& s)
{
    Buffer& b = *buf_;
    const int page = b.PageHeight();
    const int top = s.count1(0);
    const int bottom = std::min(s.get(1, 0) == 0 ? page : s.get(1, 0), page);
    // A region needs two lines at least; anything else leaves the margins alone.
    if (top >= bottom)
        return;
    b.setMargins(top, bottom);
    home();
}

void XtermEmulator::tab(int count, bool forward)
{
    Buffer& b = *buf_;
    const int cols = b.Cols();
    int col = b.column();
    for (int k = 0; k < count; ++k) {
        if (forward) {
            if (col >= cols - 1)
                break;
            do
                ++col;
            while (col < cols - 1 && !tabs_[static_cast<std::size_t>(col)]);
        } else {
            if (col <= 0)
                break;
            do
                --col;
            while (col > 0 && !tabs_[static_cast<std::size_t>(col)]);
        }
    }
    b.setColumn(col);
}

void XtermEmulator::resetTabs()
{
    const int cols = buf_->Cols();
    tabs_.assign(static_cast<std::size_t>(cols), false);
    for (int c = 8; c < cols; c += 8)
        tabs_[static_cast<std::size_t>(c)] = true;
}

void XtermEmulator::deviceStatus(int what, bool priv)
{
    Buffer& b = *buf_;
    if (what == 5 && !priv) {
        reply("\x1b[0n");
    } else if (what == 6) {
        const int row = b.pageRow() - (origin_ ? b.TopMargin() - 1 : 0);
        reply(format(priv ? "\x1b[?%d;%d;1R" : "\x1b[%d;%dR", row + 1, b.column() + 1));
    }
}

void XtermEmulator::windowOp(const CsiSequence& s)
{
    Buffer& b = *buf_;
    const int rows = b.PageHeight(), cols = b.Cols();
    switch (s.get(0, 0)) {
    case 14: // text area in pixels
        reply(format("\x1b[4;%d;%dt", rows * b.cellHeight(), cols * b.cellWidth()));
        break;
    case 16: // character cell in pixels
        reply(format("\x1b[6;%d;%dt", b.cellHeight(), b.cellWidth()));
        break;
    case 18: // text area in characters
        reply(format("\x1b[8;%d;%dt", rows, cols));
        break;
    case 19: // screen in characters: the page is all there is
        reply(format("\x1b[9;%d;%dt", rows, cols));
        break;
    case 22: // push the title
        if (s.get(1, 0) != 1) {
            if (titleStack_.size() >= kMaxTitleStack)
                titleStack_.erase(titleStack_.begin());
            titleStack_.push_back(title_);
        }
        break;
    case 23: // pop the title
        if (s.get(1, 0) != 1 && !titleStack_.empty()) {
            std::string t = titleStack_.back();
            titleStack_.pop_back();
            setTitle(t);
        }
        break;
    default: // moving, resizing, raising, reporting the title: not done
        break;
    }
}

// ---------------------------------------------------------------------------------------
// Modes

void XtermEmulator::setMode(int mode, bool on)
{
    switch (mode) {
    case 4: insert_ = on; break;       // IRM
    case 20: newLineMode_ = on; break; // LNM
    default: break;
    }
}

void XtermEmulator::setPrivateMode(int mode, bool on)
{
    Buffer& b = *buf_;
    switch (mode) {
    case 1: appCursor_ = on; break;                 // DECCKM
    case 5: b.setReverseVideo(on); break;           // DECSCNM
    case 6:                                         // DECOM
        origin_ = on;
        home();
        break;
    case 7:                                         // DECAWM
        autowrap_ = on;
        if (!on)
            wrapPending_ = false;
        break;
    case 25: b.setCursorVisible(on); break;         // DECTCEM
    case 66: appKeypad_ = on; break;                // DECNKM
    case 47:                                        // alternate screen
    case 1047:
        b.setAltScreen(on);
        break;
    case 1048:                                      // save / restore the cursor
        if (on)
            saveCursor();
        else
            restoreCursor();
        break;
    case 1049:                                      // both
        if (on) {
            if (!b.altScreen()) {
                saveCursor();
                b.setAltScreen(true);
            }
        } else if (b.altScreen()) {
            b.setAltScreen(false);
            restoreCursor();
        }
        break;
    case 2004: bracketedPaste_ = on; break;
    default: break; // mouse reports, focus events, blinking cursor, ...: not done
    }
}

// DECRQM answer: 1 set, 2 reset, 0 not known.
int XtermEmulator::modeState(int mode, bool priv) const
{
    auto state = [](bool on) { return on ? 1 : 2; };
    if (!priv) {
        if (mode == 4)
            return state(insert_);
        if (mode == 20)
            return state(newLineMode_);
        return 0;
    }
    switch (mode) {
    case 1: return state(appCursor_);
    case 5: return state(buf_->reverseVideo());
    case 6: return state(origin_);
    case 7: return state(autowrap_);
    case 25: return state(buf_->cursorVisible());
    case 66: return state(appKeypad_);
    case 47:
    case 1047:
    case 1049: return state(buf_->altScreen());
    case 2004: return state(bracketedPaste_);
    default: return 0;
    }
}

// ---------------------------------------------------------------------------------------
// Rendition

void XtermEmulator::selectGraphicRendition(const CsiSequence& s)
{
    Buffer::Pen& p = pen_;
    if (s.count == 0)
        p = Buffer::Pen{};
    int i = 0;
    while (i < s.count) {
        const int v = s.get(i, 0);
        // Sub-parameters (after ':') belong to the parameter before them.
        int next = i + 1;
        while (next < s.count && s.sub[next])
            ++next;
        switch (v) {
        case 0: p = Buffer::Pen{}; break;
        case 1: p.attr |= atBold; break;
        case 2: p.attr |= atFaint; break;
        case 3: p.attr |= atItalic; break;
        case 4:
            if (next > i + 1 && s.get(i + 1, 1) == 0)
                p.attr &= uint8_t(~atUnderline); // 4:0
            else
                p.attr |= atUnderline;
            break;
        case 5:
        case 6: p.attr |= atBlink; break;
        case 7: p.attr |= atReverse; break;
        case 8: p.attr |= atInvisible; break;
        case 9: p.attr |= atStrike; break;
        case 21: p.attr |= atUnderline; break; // double underline, drawn single
        case 22: p.attr &= uint8_t(~(atBold | atFaint)); break;
        case 23: p.attr &= uint8_t(~atItalic); break;
        case 24: p.attr &= uint8_t(~atUnderline); break;
        case 25: p.attr &= uint8_t(~atBlink); break;
        case 27: p.attr &= uint8_t(~atReverse); break;
        case 28: p.attr &= uint8_t(~atInvisible); break;
        case 29: p.attr &= uint8_t(~atStrike); break;
        case 39: p.fore = colorDefault; break;
        case 49: p.back = colorDefault; break;
        case 38:
        case 48:
        case 58: { // extended colour: 5;index or 2;r;g;b, with ';' or ':'
            uint32_t color = 0;
            bool valid = false;
            if (next > i + 1) {
                const int args = next - i - 1;
                const int kind = s.get(i + 1, 0);
                if (kind == 5 && args >= 2 && s.get(i + 2, 0) <= 255) {
                    color = indexedColor(s.get(i + 2, 0));
                    valid = true;
                } else if (kind == 2 && args >= 4) {
                    // 38:2:r:g:b, or 38:2:colourspace:r:g:b
                    const int base = args >= 5 ? i + 3 : i + 2;
                    color = rgbColor(std::min(s.get(base, 0), 255), std::min(s.get(base + 1, 0), 255),
                                     std::min(s.get(base + 2, 0), 255));
                    valid = true;
                }
            } else {
                const int kind = s.get(i + 1, 0);
                if (kind == 5 && i + 2 < s.count) {
                    valid = s.get(i + 2, 0) <= 255;
                    color = indexedColor(s.get(i + 2, 0));
                    next = i + 3;
                } else if (kind == 2 && i + 4 < s.count) {
                    color = rgbColor(std::min(s.get(i + 2, 0), 255), std::min(s.get(i + 3, 0), 255),
                                     std::min(s.get(i + 4, 0), 255));
                    valid = true;
                    next = i + 5;
                } else {
                    next = s.count; // a broken colour ends the list
                }
            }
            if (valid && v == 38)
                p.fore = color;
            else if (valid && v == 48)
                p.back = color;
            break;
        }
        default:
            if (v >= 30 && v <= 37)
                p.fore = indexedColor(v - 30);
            else if (v >= 40 && v <= 47)
                p.back = indexedColor(v - 40);
            else if (v >= 90 && v <= 97)
                p.fore = indexedColor(v - 90 + 8);
            else if (v >= 100 && v <= 107)
                p.back = indexedColor(v - 100 + 8);
            break;
        }
        i = next;
    }
    buf_->setPen(pen_);
}

// ---------------------------------------------------------------------------------------
// Save, restore, reset

void XtermEmulator::saveCursor()
{
    SavedCursor& s = saved_[buf_->altScreen() ? 1 : 0];
    s.valid = true;
    s.pos = position();
    s.pen = pen_;
    std::copy(std::begin(g_), std::end(g_), std::begin(s.g));
    s.gl = gl_;
    s.origin = origin_;
    s.autowrap = autowrap_;
    s.wrapPending = wrapPending();
}

void XtermEmulator::restoreCursor()
{
    const SavedCursor& s = saved_[buf_->altScreen() ? 1 : 0];
    if (!s.valid) {
        // Nothing saved: the defaults come back, as after a reset.
        pen_ = Buffer::Pen{};
        std::fill(std::begin(g_), std::end(g_), Charset::Ascii);
        gl_ = 0;
        origin_ = false;
        moveTo(0, 0);
    } else {
        pen_ = s.pen;
        std::copy(std::begin(s.g), std::end(s.g), std::begin(g_));
        gl_ = s.gl;
        origin_ = s.origin;
        autowrap_ = s.autowrap;
        moveTo(s.pos.row, s.pos.col);
        if (s.wrapPending && position() == s.pos)
            setWrapPending();
        else
            wrapPending_ = false;
    }
    buf_->setPen(pen_);
}

void XtermEmulator::softReset()
{
    Buffer& b = *buf_;
    b.setCursorVisible(true);
    origin_ = false;
    autowrap_ = true;
    insert_ = false;
    appCursor_ = false;
    appKeypad_ = false;
    std::fill(std::begin(g_), std::end(g_), Charset::Ascii);
    gl_ = 0;
    singleShift_ = -1;
    pen_ = Buffer::Pen{};
    b.setPen(pen_);
    const int row = b.pageRow(), col = b.column();
    b.setMargins(1, b.PageHeight());
    moveTo(row, col);
    saved_[0] = SavedCursor{};
    saved_[1] = SavedCursor{};
}

void XtermEmulator::fullReset()
{
    Buffer& b = *buf_;
    b.setAltScreen(false);
    softReset();
    newLineMode_ = false;
    bracketedPaste_ = false;
    b.setReverseVideo(false);
    resetTabs();
    titleStack_.clear();
    lastChar_ = 0;
    wrapPending_ = false;
    b.erasePageRows(0, b.PageHeight() - 1);
    moveTo(0, 0);
}

void XtermEmulator::alignmentTest()
{
    Buffer& b = *buf_;
    b.setMargins(1, b.PageHeight());
    const Buffer::Pen plain;
    b.setPen(plain);
    const std::string row(static_cast<std::size_t>(b.Cols()), 'E');
    for (int r = 0; r < b.PageHeight(); ++r) {
        moveTo(r, 0);
        b.putAscii(reinterpret_cast<const uint8_t*>(row.data()), b.Cols());
    }
    b.setPen(pen_);
    moveTo(0, 0);
}

} // namespace zelvo::terminal
