#include "terminal/escape_parser.h"

#include <array>

namespace zelvo::terminal {

namespace {

constexpr uint8_t ESC = 0x1B;

// Bytes that text in the ground state does not simply write.
constexpr std::array<bool, 256> makeGroundSpecial()
{
    std::array<bool, 256> t{};
    t[0x1B] = true;
    t[0x09] = true;
    t[0x0C] = true;
    t[0x0E] = true;
    t[0x0F] = true;
    return t;
}
constexpr std::array<bool, 256> kGroundSpecial = makeGroundSpecial();

constexpr bool isDigit(uint8_t ch) { return ch >= '0' && ch <= '9'; }

} // namespace

EscapeParser::EscapeParser(ParserExecutor& executor, Features features)
    : exec_(executor)
    , features_(features)
{
}

void EscapeParser::reset()
{
    state_ = State::Ground;
    params_ = CsiParams{};
}

void EscapeParser::enterCsi()
{
    params_ = CsiParams{};
    state_ = State::CsiParam;
}

void EscapeParser::feed(const uint8_t* data, std::size_t len)
{
    std::size_t i = 0;
    while (i < len) {
        if (state_ == State::Ground) {
            // Text runs go to the executor in one piece.
            std::size_t j = i;
            while (j < len && !kGroundSpecial[data[j]])
                ++j;
            if (j > i) {
                exec_.print(data + i, j - i);
                i = j;
                continue;
            }
        }
        feed(data[i++]);
    }
}

void EscapeParser::feed(uint8_t ch)
{
    switch (state_) {
    case State::Ground:
        switch (ch) {
        case ESC:
            state_ = State::Escape;
            break;
        case 0x09:
        case 0x0C:
            exec_.control(ch);
            break;
        case 0x0E:
        case 0x0F:
            // Shift out / shift in: character sets are not switched.
            break;
        default:
            exec_.print(&ch, 1);
            break;
        }
        break;

    case State::Escape:
        if (ch == '[' && features_.controlSequences) {
            enterCsi();
        } else if ((ch == '(' || ch == ')') && features_.charsets) {
            state_ = State::CharsetDesignate;
        } else {
            state_ = State::Ground;
            exec_.escDispatch(ch);
        }
        break;

    case State::CsiParam:
        if (isDigit(ch)) {
            const int i = params_.count - 1;
            if (params_.digits[i] < CsiParams::kMaxDigits) {
                params_.value[i] = params_.value[i] * 10 + (ch - '0');
                ++params_.digits[i];
            }
        } else if (ch == ';') {
            if (params_.count == CsiParams::kMaxParams)
                state_ = State::CsiIgnore;
            else
                ++params_.count;
        } else if (ch == '=') {
            // Ignored.
        } else if (ch == '?') {
            state_ = features_.privateModes ? State::PrivateParam : State::PrivateChar;
        } else {
            state_ = State::Ground;
            exec_.csiDispatch(ch, params_);
        }
        break;

    case State::CsiIgnore:
        if (!isDigit(ch) && ch != ';' && ch != '=' && ch != '?')
            state_ = State::Ground;
        break;

    case State::CharsetDesignate:
        state_ = State::Ground;
        if (!(ch == 'A' || ch == 'B' || ch == '0' || ch == '1' || ch == '2'))
            exec_.print(&ch, 1);
        break;

    case State::PrivateParam:
        if (isDigit(ch) || ch == ';')
            break;
        state_ = State::Ground;
        if (ch != 'h' && ch != 'l')
            exec_.print(&ch, 1);
        break;

    case State::PrivateChar:
        state_ = State::Ground;
        exec_.print(&ch, 1);
        break;
    }
}

} // namespace zelvo::terminal
