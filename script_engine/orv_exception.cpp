#include "script_engine/orv_exception.h"

#include <cstdarg>
#include <cstdio>

namespace zelvo::script {

std::string formatMessage(const char* format, ...)
{
    char buffer[kMaxMessageLength + 1];
    va_list args;
    va_start(args, format);
    // vsnprintf never writes past the buffer; a longer text is cut at its end.
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return std::string(buffer);
}

std::string limitMessage(std::string text)
{
    if (text.size() > kMaxMessageLength)
        text.resize(kMaxMessageLength);
    return text;
}

} // namespace zelvo::script
