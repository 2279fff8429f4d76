#pragma once

#include "script_engine/script_handle.h"

namespace zelvo::script {

// Executes the compiled program of an instance from instruction 0 until halt or the
// first run-time error, which goes to the error callback as
// "Runtime error: line %d - %s".
class Vm {
public:
    static void run(ScriptHandle* h);

    // Checks the arguments of a host call against the function's signature.
    static void checkArguments(const ScriptHandle* h, const HostFunction* f);
};

} // namespace zelvo::script
