#pragma once

#include <cstddef>
#include <string>

namespace zelvo::script {

// Thrown when the token text cannot be enlarged; the compilation then fails.
struct LexOverflow {};

// Turns the text of a script into tokens, one at a time, and keeps the current line.
// The source is held in memory, so reading ahead never needs a push-back area: the
// lexer simply moves its position back.
class Lexer {
public:
    // source: the file's bytes after text-mode conversion (CR LF read as LF), ending at
    // the first NUL byte.
    explicit Lexer(std::string source);
    ~Lexer();
    Lexer(const Lexer&) = delete;
    Lexer& operator=(const Lexer&) = delete;

    // The next token code; 0 at the end of the input.
    int next();
    // The characters of the last token, NUL-terminated, valid until the next call.
    const char* text() const { return text_; }
    size_t textLength() const { return textLength_; }
    // Lines counted from 1; every line feed consumed advances it.
    int line() const { return line_; }

    // Converts a file's bytes as a text-mode read does: CR LF becomes LF and a NUL byte
    // ends the input.
    static std::string textMode(const std::string& raw);

private:
    int peekChar(size_t ahead = 0) const;
    void setText(size_t start, size_t end);
    bool matchQuoted(char quote, size_t& end);
    int operatorToken(size_t& length) const;

    std::string src_;
    size_t pos_ = 0;
    // Knowledge that keeps lexing linear on hostile input: no line feed follows this
    // position, and a literal opened before failedUntil_[q] with quote q cannot close.
    size_t noLineFeedFrom_ = static_cast<size_t>(-1);
    size_t failedUntil_[2] = {0, 0};
    int line_ = 1;
    char* text_ = nullptr;
    size_t textLength_ = 0;
    size_t textCapacity_ = 0;
};

} // namespace zelvo::script
