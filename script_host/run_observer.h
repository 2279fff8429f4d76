#pragma once
// What a script run shows on the way: the engine's messages, the script's console, and
// the pauses of single-stepping. The editor window implements it in the program;
// zelvo32-script over its standard streams.

#include <functional>
#include <string>

namespace zelvo::script_host {

class RunObserver {
public:
    virtual ~RunObserver() = default;

    // A compile-time or run-time message of the engine.
    virtual void errorMessage(const std::string& text) = 0;
    // A character the script writes to its console (print, printf, putch, ...).
    virtual void consoleOutput(int ch) = 0;
    // Waits for a character typed into the console until stopped() becomes true; the
    // character, or 0 when stopped. A negative value tells the script that no more
    // input will come.
    virtual int consoleInput(const std::function<bool()>& stopped) = 0;
    // Single-stepping: the run is held before source line `line`; and goes on again.
    virtual void pausedAt(int line) = 0;
    virtual void resumed() = 0;
};

} // namespace zelvo::script_host
