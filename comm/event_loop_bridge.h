#pragma once
// A plain C++ UiBridge: an event loop object whose owning thread plays the UI thread.
// Tests construct it on the test thread (which is then the UI thread) and let it run
// queued calls while they wait; a tool can give a thread to run() until quit().

#include "comm/ui_bridge.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace zelvo::comm {

class EventLoopBridge : public UiBridge {
public:
    // The constructing thread becomes the UI thread.
    EventLoopBridge();
    ~EventLoopBridge() override;
    EventLoopBridge(const EventLoopBridge&) = delete;
    EventLoopBridge& operator=(const EventLoopBridge&) = delete;

    // Makes the calling thread the UI thread (for a loop run on a thread of its own).
    void bindToCurrentThread();

    void post(std::function<void()> fn) override;
    bool send(std::function<void()> fn, int timeoutMs) override;
    void pumpPending() override;
    bool waitAndPump(const std::function<bool()>& done, int timeoutMs) override;
    void wake() override;
    bool isUiThread() const override;

    // Runs queued calls until quit() is called (from any thread or a queued call); a
    // quit() that came before run() ends it as soon as it starts.
    void run();
    void quit();

private:
    struct Call;
    // Takes one queued call, waiting until deadlineMs (<0: no limit) for one; a waiting
    // waitAndPump also returns on a wake after `wakes`, run() on quit.
    std::shared_ptr<Call> takeCall(int64_t deadlineMs, bool wait, uint64_t wakes, bool forRun);
    void runCall(const std::shared_ptr<Call>& call);

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::shared_ptr<Call>> queue_;
    std::thread::id uiThread_;
    uint64_t wakeCount_ = 0;
    bool quit_ = false;
};

} // namespace zelvo::comm
