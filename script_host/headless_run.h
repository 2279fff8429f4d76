#pragma once
// A script run without windows, as zelvo32-script performs it: the line is opened as the
// program opens it (a port number from the settings' port table, a device, or an exec:
// command on a new pseudo-terminal), the host functions work on it through the
// protocol component and the port, the terminal's view and the script's console go to
// the output stream, messages and transfer progress to the error stream, and the
// console reads from an input descriptor.
//
//   HeadlessRun run({.device = "exec:./peer.sh", .script = "login.vm"});
//   int status = run.Run();   // 0 clean, 1 not compiled or not started, 2 run-time error

#include "script_host/run_observer.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace zelvo::script_host {

struct HeadlessOptions {
    std::string device;                 // empty: no line
    uint32_t baud = 19200;
    std::vector<std::string> settings;  // protocol settings, NAME=VALUE
    std::string script;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    int inputFd = 0;                    // the console's keys
    bool progress = true;               // transfer progress on the error stream
};

class HeadlessRun : private RunObserver {
public:
    explicit HeadlessRun(HeadlessOptions options);
    ~HeadlessRun() override;
    HeadlessRun(const HeadlessRun&) = delete;
    HeadlessRun& operator=(const HeadlessRun&) = delete;

    // Exit statuses.
    static constexpr int kClean = 0;
    static constexpr int kNotCompiled = 1;
    static constexpr int kRunError = 2;

    int Run();
    // Asks the running script to stop, as Stop does in the program; safe from any
    // thread and from a signal watcher.
    void RequestStop();

private:
    struct Parts;
    struct Input;

    void errorMessage(const std::string& text) override;
    void consoleOutput(int ch) override;
    int consoleInput(const std::function<bool()>& stopped) override;
    void pausedAt(int) override {}
    void resumed() override {}
    bool openLine(std::string& error);

    HeadlessOptions options_;
    std::unique_ptr<Parts> parts_;
    std::shared_ptr<Input> input_;
    bool lastWasCr_ = false;
};

} // namespace zelvo::script_host
