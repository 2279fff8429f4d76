#include "terminal/xterm_parser.h"

namespace zelvo::terminal {

namespace {

constexpr uint8_t ESC = 0x1B;
constexpr uint8_t CAN = 0x18;
constexpr uint8_t SUB = 0x1A;
constexpr uint8_t BEL = 0x07;
constexpr char32_t kReplacement = 0xFFFD;

constexpr bool isAsciiText(uint8_t b) { return b >= 0x20 && b < 0x7F; }

} // namespace

XtermParser::XtermParser(XtermExecutor& executor)
    : exec_(executor)
{
}

void XtermParser::reset()
{
    state_ = State::Ground;
    utf8Need_ = 0;
    textLen_ = 0;
    escIntermediates_ = 0;
    csi_ = CsiSequence{};
    osc_.clear();
    oscOverflow_ = false;
    stringEsc_ = false;
}

void XtermParser::feed(const uint8_t* data, std::size_t len)
{
    std::size_t i = 0;
    while (i < len) {
        if (state_ == State::Ground) {
            i = text(data, i, len);
            if (i >= len)
                break;
        }
        feedByte(data[i++]);
    }
}

// ---------------------------------------------------------------------------------------
// Text

void XtermParser::flushText()
{
    if (textLen_ > 0) {
        exec_.print(textBuf_, textLen_);
        textLen_ = 0;
    }
}

void XtermParser::emit(char32_t cp)
{
    // C1 controls decoded from UTF-8 are neither shown nor carried out.
    if (cp < 0xA0)
        return;
    textBuf_[textLen_++] = cp;
    if (textLen_ == kTextChunk)
        flushText();
}

void XtermParser::abandonUtf8()
{
    if (utf8Need_ > 0) {
        utf8Need_ = 0;
        emit(kReplacement);
    }
}

std::size_t XtermParser::text(const uint8_t* data, std::size_t i, std::size_t len)
{
    while (i < len) {
        const uint8_t b = data[i];
        if (utf8Need_ == 0) {
            if (isAsciiText(b)) {
                std::size_t j = i + 1;
                while (j < len && isAsciiText(data[j]))
                    ++j;
                flushText();
                exec_.printAscii(data + i, j - i);
                i = j;
                continue;
            }
            if (b < 0x20)
                break;
            ++i;
            if (b == 0x7F)
                continue; // DEL is not shown
            if (b >= 0xC2 && b <= 0xDF) {
                utf8Need_ = 1;
                utf8Cp_ = b & 0x1F;
            } else if (b >= 0xE0 && b <= 0xEF) {
                utf8Need_ = 2;
                utf8Cp_ = b & 0x0F;
            } else if (b >= 0xF0 && b <= 0xF4) {
                utf8Need_ = 3;
                utf8Cp_ = b & 0x07;
            } else {
                emit(kReplacement); // a continuation byte alone, or no lead byte at all
                continue;
            }
            utf8Length_ = utf8Need_ + 1;
            continue;
        }
        if (b < 0x80 || b > 0xBF) {
            // The sequence broke off; the byte that broke it counts on its own.
            abandonUtf8();
            continue;
        }
        ++i;
        utf8Cp_ = (utf8Cp_ << 6) | (b & 0x3F);
        if (--utf8Need_ > 0)
            continue;
        const char32_t cp = utf8Cp_;
        const bool overlong = (utf8Length_ == 3 && cp < 0x800) || (utf8Length_ == 4 && cp < 0x10000);
        const bool invalid = overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF);
        emit(invalid ? kReplacement : cp);
    }
    flushText();
    return i;
}

// ---------------------------------------------------------------------------------------
// Sequences

void XtermParser::enterEscape()
{
    state_ = State::Escape;
    escIntermediates_ = 0;
}

void XtermParser::csiCollect(uint8_t ch)
{
    if (csi_.intermediates < 2)
        csi_.intermediate[csi_.intermediates++] = static_cast<char>(ch);
    else
        state_ = State::CsiIgnore; // more than a terminal knows to read
}

void XtermParser::csiParamByte(uint8_t ch)
{
    if (csi_.count == 0) {
        csi_.count = 1;
        csi_.value[0] = CsiSequence::kMissing;
    }
    if (ch >= '0' && ch <= '9') {
        int& v = csi_.value[csi_.count - 1];
        if (v == CsiSequence::kMissing)
            v = 0;
        v = v * 10 + (ch - '0');
        if (v > CsiSequence::kMaxValue)
            v = CsiSequence::kMaxValue;
        return;
    }
    // ';' starts the next parameter, ':' the next sub-parameter.
    if (csi_.count == CsiSequence::kMaxParams) {
        state_ = State::CsiIgnore;
        return;
    }
    csi_.sub[csi_.count] = ch == ':';
    csi_.value[csi_.count++] = CsiSequence::kMissing;
}

void XtermParser::csiFinal(uint8_t ch)
{
    state_ = State::Ground;
    csi_.final = ch;
    exec_.csiDispatch(csi_);
}

void XtermParser::oscEnd(bool bel)
{
    state_ = State::Ground;
    stringEsc_ = false;
    if (!oscOverflow_)
        exec_.oscDispatch(osc_, bel);
    osc_.clear();
    oscOverflow_ = false;
}

void XtermParser::feedByte(uint8_t ch)
{
    // Strings first: inside them C0 controls are not carried out.
    if (state_ == State::OscString || state_ == State::StringIgnore) {
        if (stringEsc_) {
            stringEsc_ = false;
            if (ch == '\\') {
                if (state_ == State::OscString)
                    oscEnd(false);
                state_ = State::Ground;
                return;
            }
            // Any other byte abandons the string and goes on as an escape sequence.
            osc_.clear();
            oscOverflow_ = false;
            enterEscape();
            feedByte(ch);
            return;
        }
        if (ch == ESC) {
            stringEsc_ = true;
        } else if (ch == CAN || ch == SUB) {
            osc_.clear();
            oscOverflow_ = false;
            state_ = State::Ground;
        } else if (state_ == State::OscString) {
            if (ch == BEL)
                oscEnd(true);
            else if (ch >= 0x20) {
                if (osc_.size() < kMaxOsc)
                    osc_ += static_cast<char>(ch);
                else
                    oscOverflow_ = true;
            }
        }
        return;
    }

    // Controls act the same in every other state.
    if (ch < 0x20) {
        if (ch == ESC)
            enterEscape();
        else if (ch == CAN || ch == SUB)
            state_ = State::Ground;
        else
            exec_.execute(ch);
        return;
    }
    if (ch == 0x7F)
        return;

    switch (state_) {
    case State::Ground:
        // Only controls arrive here; text goes through text().
        break;

    case State::Escape:
        if (ch >= 0x80) {
            // Not a sequence after all: the byte is text.
            state_ = State::Ground;
            const uint8_t b = ch;
            text(&b, 0, 1);
        } else if (ch <= 0x2F) {
            escIntermediate_[0] = static_cast<char>(ch);
            escIntermediates_ = 1;
            state_ = State::EscapeIntermediate;
        } else if (ch == '[') {
            csi_ = CsiSequence{};
            state_ = State::CsiEntry;
        } else if (ch == ']') {
            osc_.clear();
            oscOverflow_ = false;
            state_ = State::OscString;
        } else if (ch == 'P' || ch == 'X' || ch == '^' || ch == '_') {
            state_ = State::StringIgnore;
        } else {
            state_ = State::Ground;
            exec_.escDispatch(escIntermediate_, 0, ch);
        }
        break;

    case State::EscapeIntermediate:
        if (ch >= 0x80) {
            state_ = State::Ground;
        } else if (ch <= 0x2F) {
            if (escIntermediates_ < 2)
                escIntermediate_[escIntermediates_++] = static_cast<char>(ch);
        } else {
            state_ = State::Ground;
            exec_.escDispatch(escIntermediate_, escIntermediates_, ch);
        }
        break;

    case State::CsiEntry:
        if (ch >= 0x3C && ch <= 0x3F) {
            csi_.privateMarker = static_cast<char>(ch);
            state_ = State::CsiParam;
            break;
        }
        state_ = State::CsiParam;
        [[fallthrough]];
    case State::CsiParam:
        if ((ch >= '0' && ch <= '9') || ch == ';' || ch == ':')
            csiParamByte(ch);
        else if (ch >= 0x3C && ch <= 0x3F)
            state_ = State::CsiIgnore;
        else if (ch <= 0x2F) {
            state_ = State::CsiIntermediate;
            csiCollect(ch);
        } else if (ch <= 0x7E)
            csiFinal(ch);
        else
            state_ = State::CsiIgnore;
        break;

    case State::CsiIntermediate:
        if (ch <= 0x2F)
            csiCollect(ch);
        else if (ch >= 0x40 && ch <= 0x7E)
            csiFinal(ch);
        else
            state_ = State::CsiIgnore;
        break;

    case State::CsiIgnore:
        if (ch >= 0x40 && ch <= 0x7E)
            state_ = State::Ground;
        break;

    case State::OscString:
    case State::StringIgnore:
        break;
    }
}

} // namespace zelvo::terminal
