#pragma once

#include <string>

namespace zelvo::script {

// The one exception type inside the engine. Every compile-time and run-time failure is
// raised as an OrvException and caught inside the library; none crosses an export.
class OrvException {
public:
    explicit OrvException(std::string message) : message_(std::move(message)) {}
    const std::string& message() const { return message_; }

private:
    std::string message_;
};

// Formats a message with printf-style arguments at full length; texts longer than
// kMaxMessageLength bytes are cut so that a huge identifier cannot flood the host.
std::string formatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

inline constexpr size_t kMaxMessageLength = 1023;

// Cuts a message to kMaxMessageLength bytes.
std::string limitMessage(std::string text);

} // namespace zelvo::script
