#pragma once

#include <cstddef>

#include "script_engine/script_handle.h"

namespace zelvo::script {

// The fourteen builtin functions every instance offers: console output and input,
// string helpers, files and starting a program. They are ordinary host functions.
class Builtins {
public:
    // Registers them in their fixed order, so that exec ends up at the head of the list.
    // False when memory ran out.
    static bool registerAll(ScriptHandle* h);
    // Closes every stream the script left open.
    static void closeFiles(ScriptHandle* h);
    // Sets the call's result to a copy of n characters without throwing; a failure is
    // left in pendingError for the machine to raise.
    static void returnString(ScriptHandle* h, const char* text, size_t n);
};

} // namespace zelvo::script
