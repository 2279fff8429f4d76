#pragma once
// The waits of a running script: Waitfor (a text, with a time-out) and Receive (one
// byte, with a time-out), and the echo of what they read into the terminal.
//
// For the length of a run the script reads the line as a stream. A listener takes the
// place of the port's data event (and passes every byte on to it, so the main window
// still sees them) and keeps what arrives in a backlog until a wait reads it: Waitfor
// reads up to and including the end of its text, Receive one byte; what follows stays
// for the next wait. So bytes that arrive while the script is between waits (sending,
// printing, paused in single-step mode) are not lost, and two Receive calls return the
// first two bytes of a reply that came in one piece. Bytes that a wait reads are copied
// into the terminal while echo is on; what no wait has read when the run ends is shown
// in the terminal then.
//
// The text is matched on the bytes the wait reads (up to 255 characters; the line's own
// data triggers hold 21), and the time-out is a timer of the event loop: n seconds are
// n x 18 ticks of 55 ms, 990 ms per second. Waiting blocks in the event loop, so the
// windows stay responsive and a waiting script costs no processor time.

#include "script_host/host_environment.h"
#include "script_host/text_matcher.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace zelvo::app {
class PortAccess;
}

namespace zelvo::script_host {

class LineWait {
public:
    // stop: the run's stop request; it ends a wait at once.
    LineWait(HostEnvironment& env, const std::atomic<bool>& stop);
    ~LineWait();
    LineWait(const LineWait&) = delete;
    LineWait& operator=(const LineWait&) = delete;

    // The start of a run: echo off, the backlog holding what came before (if anyone
    // kept it), and the listener put in front of the port's data event.
    void attach(app::PortAccess* port, const std::string& earlier = {});
    // The end of a run: the port's data event is given back (unless someone else has
    // replaced the listener meanwhile) and the unread backlog is shown in the terminal.
    void detach();

    // Waits for text (at most its first 255 characters are used). timeoutSec: none or
    // -1 waits without limit, other negative values end at once. Sets echo. Returns 1
    // when the text arrived, 0 on time-out or stop.
    int Waitfor(const std::string& text, std::optional<int> timeoutSec, bool echo);
    // Waits for one byte: the byte (0..255), or 0 on time-out or stop.
    int Receive(std::optional<int> timeoutSec);
    // A transfer is taking the line: what arrived before it belongs to the exchange that
    // led up to it and is dropped.
    void dropBacklog();

    bool echo() const { return echo_; }
    size_t backlogSize() const { return backlog_.size(); }

    // Bytes kept for the next wait at most; older ones give way to newer ones.
    static constexpr size_t kMaxBacklog = 8192;
    static constexpr size_t kMaxText = 255;
    // The wait of a time-out in seconds, as whole ticks of the line's timer.
    static int64_t TimeoutMs(int seconds);

private:
    struct Listener;
    enum class Want { Nothing, Text, Byte };

    void received(const uint8_t* data, size_t n);
    // Lets the active wait read from the backlog.
    void serve();
    void show(const uint8_t* data, size_t n);
    bool wait(std::optional<int> timeoutSec);

    HostEnvironment& env_;
    const std::atomic<bool>& stop_;
    app::PortAccess* port_ = nullptr;
    std::function<void(const uint8_t*, size_t)> saved_;
    std::deque<uint8_t> backlog_;
    bool echo_ = false;
    Want want_ = Want::Nothing;
    std::optional<TextMatcher> matcher_;
    bool done_ = false;
    int byte_ = 0;
};

} // namespace zelvo::script_host
