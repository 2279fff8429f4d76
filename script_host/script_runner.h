#pragma once
// One script run, start to end: creates an engine instance, installs the five callbacks
// (error, standard output, standard input, operation, line), registers the host
// functions, compiles the file and, when that succeeds, executes it; the instance is
// closed in every case. Stop requests end waits and transfers and make the operation
// and line callbacks end the run ("Execution interrupted."); in step mode the line
// callback holds the run before every source line until StepGo() or a stop.
//
//   ScriptRunner runner(environment);
//   runner.setBinding({&port, &transferLine, &protocol});
//   ScriptRunner::Result r = runner.Run("/home/me/login.vm", false, observer);
//
// The engine's callbacks carry no context; the runner whose script runs is remembered
// for the length of the run, and a second run while one is going is refused.

#include "script_host/host_functions.h"
#include "script_host/run_observer.h"

#include <cstdint>
#include <string>

namespace zelvo::script_host {

class ScriptRunner {
public:
    struct Result {
        bool started = false;  // false: another script was running, nothing happened
        bool compiled = false; // the file compiled and ran
        int messages = 0;      // messages the engine reported (compile or run time)
    };

    explicit ScriptRunner(HostEnvironment& env);
    ~ScriptRunner();
    ScriptRunner(const ScriptRunner&) = delete;
    ScriptRunner& operator=(const ScriptRunner&) = delete;

    void setBinding(const HostBinding& binding) { binding_ = binding; }
    const HostBinding& binding() const { return binding_; }

    Result Run(const std::string& path, bool step, RunObserver& observer);

    // True while any runner is inside Run.
    static bool AnyRunning();
    bool Running() const { return running_; }
    bool Paused() const { return paused_; }
    // How many times runs have been held at a line; tells one hold from the next.
    uint64_t HoldCount() const { return holds_; }

    // Safe from any thread.
    void RequestStop() { host_.RequestStop(); }
    bool StopRequested() const { return host_.StopRequested(); }
    // Step mode may be switched off while held (run on to the end).
    void setStepMode(bool on) { step_ = on; }
    bool StepMode() const { return step_; }
    // Releases the hold at the current line.
    void StepGo();

    HostEnvironment& environment() { return host_.environment(); }
    HostFunctions& host() { return host_; }

private:
    static void onError(const char* message);
    static void onStdout(int ch);
    static int onStdin();
    static int onOp(int line, int pc);
    static int onLine(int line, int pc);
    int lineReached(int line);

    static ScriptRunner* active_;

    HostFunctions host_;
    HostBinding binding_;
    RunObserver* observer_ = nullptr;
    bool running_ = false;
    bool step_ = false;
    bool stepGo_ = false;
    bool paused_ = false;
    uint64_t holds_ = 0;
    int messages_ = 0;
};

} // namespace zelvo::script_host
