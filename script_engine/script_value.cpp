#include "script_engine/script_value.h"

#include <cstdlib>
#include <cstring>

#include "script_engine/orv_exception.h"

namespace zelvo::script {

void freeBody(StrBody* body)
{
    std::free(body);
}

StrBody* newBody(const char* text, size_t n, size_t capacity)
{
    if (n > kMaxStringLength)
        throw OrvException("String too long.");
    if (capacity < n)
        capacity = n;
    if (capacity > kMaxStringLength)
        capacity = kMaxStringLength;
    auto* body = static_cast<StrBody*>(std::malloc(sizeof(StrBody) + capacity + 1));
    if (!body)
        throw OrvException("Out of memory.");
    body->refs = 1;
    body->length = static_cast<uint32_t>(n);
    body->capacity = static_cast<uint32_t>(capacity);
    if (n)
        std::memcpy(body->chars(), text, n);
    body->chars()[n] = '\0';
    return body;
}

void setString(ScriptValue& dst, const char* text, size_t n)
{
    StrBody* body = newBody(text, n);
    releaseValue(dst);
    dst.type = kString;
    dst.s = body;
}

void makePrivate(ScriptValue& v)
{
    if (v.type != kString || v.s->refs == 1)
        return;
    StrBody* copy = newBody(v.s->chars(), v.s->length);
    --v.s->refs;
    v.s = copy;
}

} // namespace zelvo::script
