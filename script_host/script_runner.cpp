#include "script_host/script_runner.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zelvo::script_host {

ScriptRunner* ScriptRunner::active_ = nullptr;

ScriptRunner::ScriptRunner(HostEnvironment& env) : host_(env) {}

ScriptRunner::~ScriptRunner()
{
    if (active_ == this)
        active_ = nullptr;
}

bool ScriptRunner::AnyRunning()
{
    return active_ != nullptr;
}

void ScriptRunner::StepGo()
{
    stepGo_ = true;
    host_.environment().wake();
}

ScriptRunner::Result ScriptRunner::Run(const std::string& path, bool step, RunObserver& observer)
{
    Result r;
    if (active_)
        return r;
    ScriptHandle* h = ScriptInit();
    if (!h) {
        observer.errorMessage("Out of memory.");
        r.started = true;
        r.messages = 1;
        return r;
    }
    active_ = this;
    observer_ = &observer;
    running_ = true;
    step_ = step;
    stepGo_ = false;
    messages_ = 0;
    r.started = true;

    ScriptSetErrorFunc(h, &ScriptRunner::onError);
    ScriptSetStdoutFunc(h, &ScriptRunner::onStdout);
    ScriptSetStdinFunc(h, &ScriptRunner::onStdin);
    ScriptSetOpFunc(h, &ScriptRunner::onOp);
    ScriptSetLineFunc(h, &ScriptRunner::onLine);
    host_.Register(h, binding_);
    if (ScriptCompile(h, path.c_str()) == 1) {
        r.compiled = true;
        // A stop requested before this run does not end it.
        host_.ClearStop();
        ScriptExecute(h);
    } else if (messages_ == 0) {
        // The engine reports a file it cannot read by its result only.
        std::string why = "cannot be read";
        if (std::FILE* f = std::fopen(path.c_str(), "r"))
            std::fclose(f);
        else
            why = std::strerror(errno);
        observer.errorMessage("The script file " + path + ": " + why);
        ++messages_;
    }
    ScriptClose(h);
    host_.Release();
    running_ = false;
    paused_ = false;
    r.messages = messages_;
    observer_ = nullptr;
    active_ = nullptr;
    return r;
}

void ScriptRunner::onError(const char* message)
{
    if (!active_ || !active_->observer_)
        return;
    ++active_->messages_;
    active_->observer_->errorMessage(message ? message : "");
}

void ScriptRunner::onStdout(int ch)
{
    if (active_ && active_->observer_)
        active_->observer_->consoleOutput(ch & 0xFF);
}

int ScriptRunner::onStdin()
{
    ScriptRunner* self = active_;
    if (!self || !self->observer_ || self->StopRequested())
        return 0;
    return self->observer_->consoleInput([self] { return self->StopRequested(); });
}

int ScriptRunner::onOp(int, int)
{
    return active_ && active_->StopRequested() ? 0 : 1;
}

int ScriptRunner::onLine(int line, int)
{
    return active_ ? active_->lineReached(line) : 1;
}

int ScriptRunner::lineReached(int line)
{
    if (step_ && !StopRequested()) {
        stepGo_ = false;
        paused_ = true;
        ++holds_;
        if (observer_)
            observer_->pausedAt(line);
        host_.environment().waitFor([this] { return stepGo_ || StopRequested(); }, -1);
        paused_ = false;
        if (observer_)
            observer_->resumed();
    }
    return StopRequested() ? 0 : 1;
}

} // namespace zelvo::script_host
