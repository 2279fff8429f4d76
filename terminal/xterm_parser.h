#pragma once
// The xterm parser: the state machine of a VT500-family terminal (ECMA-48 control
// functions with xterm's private extensions) over UTF-8 text. Like the escape parser it
// never fails and nothing it keeps grows with the input; unlike it, every sequence is
// parsed to its end, so no byte of a sequence it does not know reaches the screen.
//
//   Ground           - UTF-8 text; C0 controls are executed, ESC starts a sequence
//   Escape           - after ESC: '[' opens a control sequence, ']' an operating system
//                      command, 'P' a device control string, 'X' '^' '_' other strings;
//                      0x20..0x2F are intermediates, 0x30..0x7E the final byte
//   EscapeIntermediate - intermediates collected, waiting for the final byte
//   CsiEntry         - after CSI: a private marker (< = > ?) may come first
//   CsiParam         - digits, ';' (next parameter) and ':' (next sub-parameter)
//   CsiIntermediate  - intermediates after the parameters
//   CsiIgnore        - a malformed sequence: swallowed up to its final byte
//   OscString        - collected up to BEL or ST (ESC \)
//   StringIgnore     - DCS, SOS, PM and APC strings: swallowed up to ST
//
// C0 controls inside control sequences are executed as they come (as terminals do);
// CAN and SUB abandon any sequence; ESC always starts a new one, ending a string.

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelvo::terminal {

// A complete control sequence: CSI [private] params [intermediates] final.
struct CsiSequence {
    static constexpr int kMaxParams = 32;
    static constexpr int kMissing = -1;
    static constexpr int kMaxValue = 65535;

    int count = 0;                 // parameters (and sub-parameters) present
    int value[kMaxParams] = {};    // kMissing when empty
    bool sub[kMaxParams] = {};     // true when a ':' came before it
    char privateMarker = 0;        // '<' '=' '>' '?' or 0
    char intermediate[2] = {};     // up to two of 0x20..0x2F
    int intermediates = 0;
    uint8_t final = 0;

    // Parameter i, or def when it is missing or 0 (the usual reading of counts).
    int count1(int i, int def = 1) const
    {
        const int v = get(i, def);
        return v == 0 ? def : v;
    }
    int get(int i, int def) const { return i < count && value[i] != kMissing ? value[i] : def; }
};

class XtermExecutor {
public:
    virtual ~XtermExecutor() = default;
    // Printable ASCII (0x20..0x7E), a run in one piece.
    virtual void printAscii(const uint8_t* text, std::size_t len) = 0;
    // Decoded characters at or above U+00A0 (U+FFFD for each malformed sequence).
    virtual void print(const char32_t* text, std::size_t len) = 0;
    // A C0 control (0x00..0x1F but ESC, CAN and SUB).
    virtual void execute(uint8_t ch) = 0;
    // ESC [intermediates] final.
    virtual void escDispatch(const char* intermediates, int count, uint8_t final) = 0;
    virtual void csiDispatch(const CsiSequence& seq) = 0;
    // An operating system command that fitted kMaxOsc; bel tells whether BEL ended it
    // (else ST), so a reply can end the same way.
    virtual void oscDispatch(const std::string& text, bool bel) = 0;
};

class XtermParser {
public:
    enum class State {
        Ground,
        Escape,
        EscapeIntermediate,
        CsiEntry,
        CsiParam,
        CsiIntermediate,
        CsiIgnore,
        OscString,
        StringIgnore,
    };

    // Longest operating system command kept; longer ones are parsed and dropped.
    static constexpr std::size_t kMaxOsc = 4096;

    explicit XtermParser(XtermExecutor& executor);

    void feed(const uint8_t* data, std::size_t len);
    void reset();
    State state() const { return state_; }

private:
    void feedByte(uint8_t ch);
    // Ground-state text from data[i]; returns the index after what it took.
    std::size_t text(const uint8_t* data, std::size_t i, std::size_t len);
    void flushText();
    void emit(char32_t cp);
    // A multi-byte UTF-8 sequence that did not complete becomes U+FFFD.
    void abandonUtf8();
    void enterEscape();
    void csiParamByte(uint8_t ch);
    void csiCollect(uint8_t ch);
    void csiFinal(uint8_t ch);
    void oscEnd(bool bel);

    XtermExecutor& exec_;
    State state_ = State::Ground;

    // UTF-8 decoding.
    int utf8Need_ = 0;   // continuation bytes still expected
    int utf8Length_ = 0; // length of the sequence being decoded
    char32_t utf8Cp_ = 0;
    static constexpr std::size_t kTextChunk = 256;
    char32_t textBuf_[kTextChunk];
    std::size_t textLen_ = 0;

    // Sequences.
    char escIntermediate_[2] = {};
    int escIntermediates_ = 0;
    CsiSequence csi_;
    std::string osc_;
    bool oscOverflow_ = false;
    bool stringEsc_ = false; // ESC seen inside a string, waiting for '\'
};

} // namespace zelvo::terminal
