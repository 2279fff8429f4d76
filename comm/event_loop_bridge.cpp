#include "comm/event_loop_bridge.h"

#include "platform/clock.h"

#include <chrono>

namespace zelvo::comm {

struct EventLoopBridge::Call {
    std::function<void()> fn;
    bool blocking = false;  // a send: the caller waits
    bool started = false;
    bool done = false;
    bool cancelled = false;
    std::condition_variable cv;
};

EventLoopBridge::EventLoopBridge() : uiThread_(std::this_thread::get_id()) {}

EventLoopBridge::~EventLoopBridge()
{
    // Release any sender still waiting: its call will never run now.
    std::lock_guard lock(mutex_);
    for (auto& c : queue_) {
        c->cancelled = true;
        c->cv.notify_all();
    }
    queue_.clear();
}

void EventLoopBridge::bindToCurrentThread()
{
    std::lock_guard lock(mutex_);
    uiThread_ = std::this_thread::get_id();
}

bool EventLoopBridge::isUiThread() const
{
    std::lock_guard lock(mutex_);
    return std::this_thread::get_id() == uiThread_;
}

void EventLoopBridge::post(std::function<void()> fn)
{
    auto call = std::make_shared<Call>();
    call->fn = std::move(fn);
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(call));
    }
    cv_.notify_all();
}

bool EventLoopBridge::send(std::function<void()> fn, int timeoutMs)
{
    if (isUiThread()) {
        fn();
        return true;
    }
    auto call = std::make_shared<Call>();
    call->fn = std::move(fn);
    call->blocking = true;
    std::unique_lock lock(mutex_);
    queue_.push_back(call);
    cv_.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // Until the call starts the deadline applies; once it runs, wait for its end so the
    // caller never carries on while a handler is still reading.
    while (!call->started && !call->cancelled) {
        if (call->cv.wait_until(lock, deadline) == std::cv_status::timeout && !call->started) {
            call->cancelled = true;
            for (auto it = queue_.begin(); it != queue_.end(); ++it)
                if (*it == call) {
                    queue_.erase(it);
                    break;
                }
            return false;
        }
    }
    if (call->cancelled)
        return false;
    call->cv.wait(lock, [&] { return call->done; });
    return true;
}

std::shared_ptr<EventLoopBridge::Call> EventLoopBridge::takeCall(int64_t deadlineMs, bool wait,
                                                                uint64_t wakes, bool forRun)
{
    std::unique_lock lock(mutex_);
    while (queue_.empty()) {
        if (!wait || (forRun && quit_) || (!forRun && wakeCount_ != wakes))
            return nullptr;
        if (deadlineMs < 0) {
            cv_.wait(lock);
        } else {
            const int64_t left = deadlineMs - platform::monotonicMs();
            if (left <= 0)
                return nullptr;
            cv_.wait_for(lock, std::chrono::milliseconds(left));
        }
    }
    auto call = queue_.front();
    queue_.pop_front();
    call->started = true;
    return call;
}

void EventLoopBridge::runCall(const std::shared_ptr<Call>& call)
{
    call->cv.notify_all(); // a sender waiting for the start
    try {
        call->fn();
    } catch (...) {
        // A handler's exception must not unwind through the loop; it ends that call.
    }
    std::lock_guard lock(mutex_);
    call->done = true;
    call->cv.notify_all();
}

void EventLoopBridge::pumpPending()
{
    while (auto call = takeCall(0, false, 0, false))
        runCall(call);
}

bool EventLoopBridge::waitAndPump(const std::function<bool()>& done, int timeoutMs)
{
    const int64_t deadline = timeoutMs < 0 ? -1 : platform::monotonicMs() + timeoutMs;
    while (true) {
        // The wake count is taken before the test so a wake between the two is not lost.
        uint64_t wakes;
        {
            std::lock_guard lock(mutex_);
            wakes = wakeCount_;
        }
        if (done())
            return true;
        if (deadline >= 0 && platform::monotonicMs() >= deadline)
            return done();
        if (auto call = takeCall(deadline, true, wakes, false))
            runCall(call);
    }
}

void EventLoopBridge::wake()
{
    {
        std::lock_guard lock(mutex_);
        ++wakeCount_;
    }
    cv_.notify_all();
}

void EventLoopBridge::run()
{
    // A quit is consumed by the run it ends. One that came before the run started (the
    // loop's thread was slow to start) ends it at once instead of being lost.
    while (true) {
        auto call = takeCall(-1, true, 0, true);
        if (call) {
            runCall(call);
            continue;
        }
        std::lock_guard lock(mutex_);
        if (quit_) {
            quit_ = false;
            break;
        }
    }
}

void EventLoopBridge::quit()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    cv_.notify_all();
}

} // namespace zelvo::comm
