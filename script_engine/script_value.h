#pragma once

#include <cstddef>
#include <cstdint>

namespace zelvo::script {

// Body of a string value: a reference count, the length and the capacity, followed by
// the NUL-terminated characters. Bodies are shared between values and copied before a
// change when more than one value refers to them.
struct StrBody {
    int32_t refs;
    uint32_t length;
    uint32_t capacity; // characters that fit, not counting the terminating NUL
    char* chars() { return reinterpret_cast<char*>(this + 1); }
    const char* chars() const { return reinterpret_cast<const char*>(this + 1); }
};

enum : int32_t { kInteger = 0, kString = 1 };

// Longest string the engine builds; longer results stop the run with "String too long.".
inline constexpr size_t kMaxStringLength = 16u * 1024u * 1024u;

// The only data type of the language. A plain struct: the owner manages the reference
// counts with the helpers below, which keeps the machine's integer path free of
// constructors and destructors.
struct ScriptValue {
    int32_t type;
    union {
        int32_t i;
        StrBody* s;
    };
};

inline ScriptValue intValue(int32_t v)
{
    ScriptValue r;
    r.type = kInteger;
    r.i = v;
    return r;
}

void freeBody(StrBody* body);

inline void releaseValue(ScriptValue& v)
{
    if (v.type == kString && --v.s->refs == 0)
        freeBody(v.s);
}

// "Clear": the value becomes integer 0, releasing any string.
inline void clearValue(ScriptValue& v)
{
    releaseValue(v);
    v.type = kInteger;
    v.i = 0;
}

inline void setInt(ScriptValue& v, int32_t n)
{
    if (v.type != kInteger)
        releaseValue(v);
    v.type = kInteger;
    v.i = n;
}

// dst = src, sharing the string body.
inline void copyValue(ScriptValue& dst, const ScriptValue& src)
{
    if (src.type == kString)
        ++src.s->refs;
    releaseValue(dst);
    dst = src;
}

// dst = src; src is cleared (a pop).
inline void moveValue(ScriptValue& dst, ScriptValue& src)
{
    if (&dst == &src)
        return;
    releaseValue(dst);
    dst = src;
    src.type = kInteger;
    src.i = 0;
}

// Allocates a body holding a copy of n characters (may throw OrvException).
StrBody* newBody(const char* text, size_t n, size_t capacity = 0);

// dst becomes a fresh string value with a copy of the text.
void setString(ScriptValue& dst, const char* text, size_t n);

// Makes the body of a string value private to it (copy on write).
void makePrivate(ScriptValue& v);

} // namespace zelvo::script
