#include "script_host/plain_text_filter.h"

namespace zelvo::script_host {

void PlainTextFilter::feed(const uint8_t* data, size_t n, std::string& out)
{
    constexpr uint8_t kEsc = 0x1B, kBel = 0x07, kCan = 0x18, kSub = 0x1A;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = data[i];
        // CAN and SUB abandon any sequence, as terminals do.
        if ((c == kCan || c == kSub) && state_ != State::Text) {
            state_ = State::Text;
            continue;
        }
        switch (state_) {
        case State::Text:
            if (c == kEsc)
                state_ = State::Escape;
            else if (c == '\n' || c == '\t' || (c >= 0x20 && c != 0x7F))
                out.push_back(char(c));
            break;
        case State::Escape:
            if (c == '[')
                state_ = State::Csi;
            else if (c == ']')
                state_ = State::Osc;
            else if (c >= 0x20 && c <= 0x2F)
                state_ = State::Intermediate;
            else if (c == kEsc)
                state_ = State::Escape;
            else
                state_ = State::Text;
            break;
        case State::Intermediate:
            if (c >= 0x30 && c <= 0x7E)
                state_ = State::Text;
            else if (c == kEsc)
                state_ = State::Escape;
            break;
        case State::Csi:
            if (c >= 0x40 && c <= 0x7E)
                state_ = State::Text;
            else if (c == kEsc)
                state_ = State::Escape;
            break;
        case State::Osc:
            if (c == kBel)
                state_ = State::Text;
            else if (c == kEsc)
                state_ = State::OscEscape;
            break;
        case State::OscEscape:
            state_ = c == '\\' ? State::Text : State::Osc;
            break;
        }
    }
}

} // namespace zelvo::script_host
