#pragma once
// Reconnecting a line whose device went away (a USB adapter pulled out): the plain
// logic, without windows or timers of its own.
//
// The owner reports the loss with LineLost, then calls Check whenever the directories
// of WatchDirectories() change (platform::DeviceWatcher) and at least every
// CheckIntervalMs; Check reopens the line as soon as the device is back, through the
// owner's reopen hook with the path it was found at. The terminal is told through the
// show hook: "[disconnected]" at the loss, "[reconnected]" once the line is open again.
//
//   Reconnector r({.show = print, .reopen = [&](const std::string& p) { return open(p); },
//                  .reconnected = [&] { ... }});
//   r.LineLost(IdentifyDevice("/dev/ttyUSB0"));
//   while (r.Waiting()) { wait for the watcher or 1 s; r.Check(); }

#include "comm/device_identity.h"

#include <functional>
#include <string>
#include <vector>

namespace zelvo::comm {

class Reconnector {
public:
    static constexpr int CheckIntervalMs = 1000;

    struct Hooks {
        std::function<void(const std::string& line)> show;
        // Opens the line on the device's path; true when it is open.
        std::function<bool(const std::string& path)> reopen;
        std::function<void()> reconnected;
    };

    explicit Reconnector(Hooks hooks) : hooks_(std::move(hooks)) {}

    // The line was lost. Returns false, doing nothing, for an empty identity (an exec:
    // line, which no device brings back).
    bool LineLost(const DeviceIdentity& id);
    // Looks for the device and reopens the line when it is there. A device that is back
    // but cannot be opened yet (its permissions not set, another program probing it) is
    // tried again at the next check.
    void Check();
    // The line is open again without Check (a reopen that finished later, or one by
    // hand): the wait ends as after a reopen of Check's own.
    void Reopened();
    // Stops waiting (the user chose another line).
    void Cancel() { waiting_ = false; }
    bool Waiting() const { return waiting_; }
    const DeviceIdentity& Identity() const { return id_; }
    // Where the device will reappear: its own directory and the by-id directory.
    std::vector<std::string> WatchDirectories() const;

private:
    Hooks hooks_;
    DeviceIdentity id_;
    bool waiting_ = false;
};

} // namespace zelvo::comm
