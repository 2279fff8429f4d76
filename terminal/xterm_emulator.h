#pragma once
// The xterm emulation: the screen model of a VT220 with xterm's extensions, over UTF-8,
// for hosts that assume TERM=xterm-256color (bash, vi, less, top, systemd). It has its
// own parser (XtermParser) and drives the buffer in Unicode mode, where cells keep code
// points, two-cell characters and 256 or RGB colours, and the page follows the window.
//
// What it does: delayed wrap (the last-column flag), scrolling regions, insert/delete of
// lines and characters, erase in line/display (with the background colour of the pen)
// and of the scrollback, index/reverse index/next line, save and restore of the cursor
// with its rendition, tab stops, origin, auto-wrap, insert and new-line modes, the
// alternate screen (47, 1047, 1049), cursor visibility, application cursor and keypad
// modes, bracketed paste, G0..G3 with DEC special graphics and shifts, SGR with 16, 256
// and RGB colours, device attribute, status and window-size reports, the title (OSC 0
// and 2, with a stack for CSI 22/23 t) and the bell. Everything else is parsed to its end
// and ignored.

#include "terminal/buffer.h"
#include "terminal/emulation.h"
#include "terminal/xterm_parser.h"

#include <string>
#include <vector>

namespace zelvo::terminal {

class XtermEmulator : public Emulation, private XtermExecutor {
public:
    XtermEmulator();
    ~XtermEmulator() override;

    void processChar(uint8_t ch) override;
    void processBlock(const uint8_t* data, std::size_t len) override;
    KeyboardModes keyboardModes() const override;
    void pageResized() override;

    XtermParser::State parserState() const { return parser_.state(); }
    const std::string& title() const { return title_; }
    // The last-column flag: the next character goes to the start of the next line.
    bool wrapPending() const;

protected:
    void attached() override;
    void detaching() override;

private:
    enum class Charset : uint8_t { Ascii, DecGraphics, Uk };
    struct Position {
        int row = 0;
        int col = 0;
        bool operator==(const Position&) const = default;
    };
    struct SavedCursor {
        bool valid = false;
        Position pos;
        Buffer::Pen pen;
        Charset g[4] = {};
        int gl = 0;
        bool origin = false;
        bool autowrap = true;
        bool wrapPending = false;
    };

    // XtermExecutor
    void printAscii(const uint8_t* text, std::size_t len) override;
    void print(const char32_t* text, std::size_t len) override;
    void execute(uint8_t ch) override;
    void escDispatch(const char* intermediates, int count, uint8_t final) override;
    void csiDispatch(const CsiSequence& seq) override;
    void oscDispatch(const std::string& text, bool bel) override;

    Position position() const;
    // Ends a command: a cursor that moved loses the last-column flag.
    void settle(const Position& before);
    void printOne(char32_t cp);
    char32_t mapCharset(uint8_t ch);
    void wrapLine();
    void lineFeed();
    void reverseIndex();
    void moveTo(int row, int col);
    void home();
    void setWrapPending();

    void csiPlain(const CsiSequence& s);
    void csiPrivate(const CsiSequence& s);
    void selectGraphicRendition(const CsiSequence& s);
    void setMode(int mode, bool on);
    void setPrivateMode(int mode, bool on);
    int modeState(int mode, bool priv) const;
    void eraseInDisplay(int mode);
    void eraseInLine(int mode);
    void windowOp(const CsiSequence& s);
    void setMargins(const CsiSequence& s);
    void tab(int count, bool forward);
    void resetTabs();
    void saveCursor();
    void restoreCursor();
    void softReset();
    void fullReset();
    void alignmentTest();
    void repeat(int count);
    void deviceStatus(int what, bool priv);
    void reply(const std::string& bytes);
    void setTitle(std::string title);

    XtermParser parser_;
    Buffer::Pen pen_;
    bool autowrap_ = true;
    bool origin_ = false;
    bool insert_ = false;
    bool newLineMode_ = false;
    bool appCursor_ = false;
    bool appKeypad_ = false;
    bool bracketedPaste_ = false;
    Charset g_[4] = {};
    int gl_ = 0;
    int singleShift_ = -1;
    bool wrapPending_ = false;
    Position wrapAt_;
    SavedCursor saved_[2]; // main screen, alternate screen
    std::vector<bool> tabs_;
    char32_t lastChar_ = 0;
    std::string title_;
    std::vector<std::string> titleStack_;
};

} // namespace zelvo::terminal
