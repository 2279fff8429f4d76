#include "script_engine/lexer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "script_engine/tokens.h"

namespace zelvo::script {
namespace {

bool isLetter(int c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}
bool isHexDigit(int c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

struct Keyword {
    const char* word;
    int token;
};
constexpr Keyword kKeywords[] = {
    {"void", tkVoid},         {"var", tkVar}, {"break", tkBreak}, {"continue", tkContinue},
    {"do", tkDo},             {"else", tkElse}, {"for", tkFor},   {"if", tkIf},
    {"return", tkReturn},     {"while", tkWhile},
};

} // namespace

Lexer::Lexer(std::string source) : src_(std::move(source))
{
    textCapacity_ = 100;
    text_ = static_cast<char*>(std::malloc(textCapacity_));
    if (!text_) {
        std::fprintf(stderr, "lex text buffer overflow (%d)\n", 0);
        throw LexOverflow{};
    }
    text_[0] = '\0';
}

Lexer::~Lexer()
{
    std::free(text_);
}

std::string Lexer::textMode(const std::string& raw)
{
    std::string out;
    size_t end = raw.find('\0');
    if (end == std::string::npos)
        end = raw.size();
    out.reserve(end);
    for (size_t i = 0; i < end; ++i) {
        if (raw[i] == '\r' && i + 1 < end && raw[i + 1] == '\n')
            continue;
        out.push_back(raw[i]);
    }
    return out;
}

int Lexer::peekChar(size_t ahead) const
{
    size_t p = pos_ + ahead;
    return p < src_.size() ? static_cast<unsigned char>(src_[p]) : -1;
}

void Lexer::setText(size_t start, size_t end)
{
    size_t n = end - start;
    if (n + 1 > textCapacity_) {
        // The text area doubles until the token fits, as long as memory allows.
        size_t capacity = textCapacity_;
        while (capacity < n + 1) {
            if (capacity > (static_cast<size_t>(-1) >> 2)) {
                std::fprintf(stderr, "lex text buffer overflow (%d)\n", static_cast<int>(textCapacity_));
                throw LexOverflow{};
            }
            capacity *= 2;
        }
        char* grown = static_cast<char*>(std::realloc(text_, capacity));
        if (!grown) {
            std::fprintf(stderr, "lex text buffer overflow (%d)\n", static_cast<int>(textCapacity_));
            throw LexOverflow{};
        }
        text_ = grown;
        textCapacity_ = capacity;
    }
    std::memcpy(text_, src_.data() + start, n);
    text_[n] = '\0';
    textLength_ = n;
}

// A character constant or string literal starting at pos_: items up to the closing
// quote. An item is any character except the quote, backslash and line feed, or an
// escape sequence. Returns false when the literal is unterminated or has a bad escape.
//
// A quote inside a literal that failed to close was the second character of an escape,
// so a literal opened there reads the same items from the next character on and fails at
// the same place: remembering that place keeps a line full of quotes linear.
bool Lexer::matchQuoted(char quote, size_t& end)
{
    size_t& failedUntil = failedUntil_[quote == '"' ? 1 : 0];
    if (pos_ < failedUntil)
        return false;
    size_t p = pos_ + 1;
    const size_t n = src_.size();
    auto fail = [&]() {
        failedUntil = p;
        return false;
    };
    while (p < n) {
        char c = src_[p];
        if (c == quote) {
            end = p + 1;
            return true;
        }
        if (c == '\n')
            return fail();
        if (c == '\\') {
            if (p + 1 >= n)
                return fail();
            char e = src_[p + 1];
            if (std::strchr("\"'?\\abfnrtv", e) && e != '\0') {
                p += 2;
            } else if (e >= '0' && e <= '7') {
                p += 2;
            } else if (e == 'x' && p + 2 < n && isHexDigit(static_cast<unsigned char>(src_[p + 2]))) {
                p += 3;
            } else {
                return fail();
            }
            continue;
        }
        ++p;
    }
    return fail();
}

int Lexer::operatorToken(size_t& length) const
{
    int c0 = peekChar(0);
    int c1 = peekChar(1);
    int c2 = peekChar(2);
    length = 3;
    if (c0 == '>' && c1 == '>' && c2 == '=')
        return tkShrAssign;
    if (c0 == '<' && c1 == '<' && c2 == '=')
        return tkShlAssign;
    length = 2;
    switch (c0) {
    case '&':
        if (c1 == '&') return tkAndAnd;
        if (c1 == '=') return tkAndAssign;
        break;
    case '|':
        if (c1 == '|') return tkOrOr;
        if (c1 == '=') return tkOrAssign;
        break;
    case '<':
        if (c1 == '<') return tkShl;
        if (c1 == '=') return tkLe;
        break;
    case '>':
        if (c1 == '>') return tkShr;
        if (c1 == '=') return tkGe;
        break;
    case '=':
        if (c1 == '=') return tkEq;
        break;
    case '!':
        if (c1 == '=') return tkNe;
        break;
    case '+':
        if (c1 == '=') return tkAddAssign;
        if (c1 == '+') return tkInc;
        break;
    case '-':
        if (c1 == '=') return tkSubAssign;
        if (c1 == '-') return tkDec2;
        break;
    case '*':
        if (c1 == '=') return tkMulAssign;
        break;
    case '/':
        if (c1 == '=') return tkDivAssign;
        break;
    case '%':
        if (c1 == '=') return tkModAssign;
        break;
    case '^':
        if (c1 == '=') return tkXorAssign;
        break;
    default:
        break;
    }
    length = 1;
    return c0;
}

int Lexer::next()
{
    const size_t n = src_.size();
    for (;;) {
        if (pos_ >= n) {
            setText(pos_, pos_);
            return tkEnd;
        }
        int c = peekChar();
        if (c == ' ' || c == '\t') {
            ++pos_;
            continue;
        }
        if (c == '\n') {
            ++pos_;
            ++line_;
            continue;
        }
        if (c == '/' && peekChar(1) == '*') {
            // Block comments do not nest; an unterminated one runs to the end of input.
            size_t close = src_.find("*/", pos_ + 2);
            size_t stop = close == std::string::npos ? n : close + 2;
            for (size_t i = pos_; i < stop; ++i)
                if (src_[i] == '\n')
                    ++line_;
            pos_ = stop;
            continue;
        }
        if (c == '/' && peekChar(1) == '/') {
            // A line comment needs its line feed; without one its characters are tokens.
            size_t lf = pos_ >= noLineFeedFrom_ ? std::string::npos : src_.find('\n', pos_ + 2);
            if (lf != std::string::npos) {
                pos_ = lf + 1;
                ++line_;
                continue;
            }
            noLineFeedFrom_ = pos_;
        }
        break;
    }

    const size_t start = pos_;
    int c = peekChar();
    if (isLetter(c)) {
        size_t p = pos_ + 1;
        while (p < n && (isLetter(static_cast<unsigned char>(src_[p])) || isDigit(static_cast<unsigned char>(src_[p]))))
            ++p;
        pos_ = p;
        setText(start, p);
        for (const Keyword& k : kKeywords)
            if (std::strcmp(text_, k.word) == 0)
                return k.token;
        return tkIdent;
    }
    if (isDigit(c)) {
        if (c == '0' && (peekChar(1) == 'x' || peekChar(1) == 'X') && isHexDigit(peekChar(2))) {
            size_t p = pos_ + 2;
            while (p < n && isHexDigit(static_cast<unsigned char>(src_[p])))
                ++p;
            pos_ = p;
            setText(start, p);
            return tkHex;
        }
        size_t p = pos_;
        while (p < n && isDigit(static_cast<unsigned char>(src_[p])))
            ++p;
        pos_ = p;
        setText(start, p);
        return tkDec;
    }
    if (c == '\'' || c == '"') {
        size_t end = 0;
        if (matchQuoted(static_cast<char>(c), end)) {
            pos_ = end;
            setText(start, end);
            return c == '\'' ? tkChar : tkString;
        }
        // Not a literal: the quote alone is a token, which the parser rejects.
        ++pos_;
        setText(start, pos_);
        return c;
    }
    size_t length = 1;
    int token = operatorToken(length);
    pos_ += length;
    setText(start, pos_);
    return token;
}

} // namespace zelvo::script
