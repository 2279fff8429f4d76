#pragma once
// The escape parser: an explicit state machine over the received bytes that hands what it
// recognises to an executor. It never fails: every byte leads to a defined state, nothing
// it keeps grows with the input, and unknown input ends up either ignored or written.
//
//   Ground           - text; ESC starts a sequence, TAB and FF are controls
//   Escape           - after ESC: '[' opens a control sequence, '(' / ')' a character set
//                      designation (when enabled), anything else is a single-byte escape
//   CsiParam         - digits and ';' build up to five parameters; '=' is ignored, '?'
//                      turns the sequence private, any other byte is the final byte
//   CsiIgnore        - a sixth parameter was started: the rest of the sequence, up to its
//                      final byte, is swallowed
//   CharsetDesignate - the designator after ESC ( or ESC ) is swallowed when it is one of
//                      A B 0 1 2, otherwise written
//   PrivateParam     - private modes with parameters (ESC [ ? 25 l): digits and ';' are
//                      collected, h or l ends them without effect, any other byte is
//                      written and ends the sequence
//   PrivateChar      - private sequences the emulation does not know: the next byte is
//                      written as a character

#include <cstddef>
#include <cstdint>

namespace zelvo::terminal {

// Parameters of a control sequence. Each keeps at most five digits, as received.
struct CsiParams {
    static constexpr int kMaxParams = 5;
    static constexpr int kMaxDigits = 5;

    int count = 1; // parameters started (1..5); the first always exists
    int value[kMaxParams] = {};
    int digits[kMaxParams] = {};

    // Parameter i (0-based) as a number, or missing when it was empty or absent.
    int get(int i, int missing) const
    {
        if (i < 0 || i >= count || digits[i] == 0)
            return missing;
        return value[i];
    }
    bool given(int i) const { return i >= 0 && i < count && digits[i] > 0; }
};

class ParserExecutor {
public:
    virtual ~ParserExecutor() = default;
    // A run of bytes to write as they are (text, and BS, LF, CR for the buffer to move).
    virtual void print(const uint8_t* data, std::size_t len) = 0;
    // TAB or FF in text.
    virtual void control(uint8_t ch) = 0;
    // ESC followed by ch (a single-byte escape).
    virtual void escDispatch(uint8_t ch) = 0;
    // ESC [ params final.
    virtual void csiDispatch(uint8_t final, const CsiParams& params) = 0;
};

class EscapeParser {
public:
    enum class State {
        Ground,
        Escape,
        CsiParam,
        CsiIgnore,
        CharsetDesignate,
        PrivateParam,
        PrivateChar,
    };

    // What the emulation understands beyond the common core.
    struct Features {
        bool controlSequences = true; // ESC [ (all but VT52)
        bool charsets = false;        // ESC ( and ESC ) (VT100)
        bool privateModes = false;    // ESC [ ? digits h/l (VT100)
    };

    EscapeParser(ParserExecutor& executor, Features features);

    void feed(uint8_t ch);
    void feed(const uint8_t* data, std::size_t len);
    void reset();
    State state() const { return state_; }

private:
    void enterCsi();

    ParserExecutor& exec_;
    Features features_;
    State state_ = State::Ground;
    CsiParams params_;
};

} // namespace zelvo::terminal
