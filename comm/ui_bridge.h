#pragma once
// The bridge between the port's worker threads and the user-interface thread.
//
// Window handlers, port users and the port component's events live on the UI thread.
// The dispatch thread reaches them only through this interface: "send" is a blocking
// cross-thread call with a time limit (a notification to a window handler), "post" is a
// queued call. Code on the UI thread that must wait (closing a port whose dispatch
// thread is waiting for the UI, a script waiting for text) uses waitAndPump so queued
// calls keep running while it waits; nothing spins.
//
// Two implementations: EventLoopBridge (plain C++, comm/event_loop_bridge.h) for tests
// and command-line tools, and a Qt one in the program. A Qt implementation maps:
//   post(fn)          -> an event carrying fn, posted to the context object
//   send(fn, ms)      -> on the UI thread: fn() directly; elsewhere: a shared state
//                        {mutex, cv, started, done, cancelled}; post a lambda that
//                        marks started (unless cancelled), runs fn, marks done; wait on
//                        the cv until done, or until the deadline if not yet started,
//                        then mark cancelled and return false
//   pumpPending()     -> QCoreApplication::processEvents()
//   waitAndPump(c,ms) -> a QEventLoop quit by a QTimer(ms) or by wake() (a queued call
//                        that re-tests c), looping while !c()
//   wake()            -> post [this]{ retest }
//   isUiThread()      -> QThread::currentThread() == context->thread()

#include <functional>

namespace zelvo::comm {

class UiBridge {
public:
    virtual ~UiBridge() = default;

    // Queues fn to run on the UI thread; returns at once.
    virtual void post(std::function<void()> fn) = 0;

    // Runs fn on the UI thread and waits for it. Called on the UI thread it runs fn at
    // once. A call that has not started within timeoutMs is cancelled (it never runs)
    // and false is returned; a call that has started is waited for to its end, so the
    // caller never races with a running handler.
    virtual bool send(std::function<void()> fn, int timeoutMs) = 0;

    // On the UI thread: runs every queued call now.
    virtual void pumpPending() = 0;

    // On the UI thread: runs queued calls until done() is true or timeoutMs elapsed
    // (a negative timeout waits without limit). done() is re-tested after every queued
    // call and after every wake(). Returns done().
    virtual bool waitAndPump(const std::function<bool()>& done, int timeoutMs) = 0;

    // From any thread: makes a waitAndPump in progress re-test its condition.
    virtual void wake() = 0;

    // True on the thread that runs the UI.
    virtual bool isUiThread() const = 0;
};

} // namespace zelvo::comm
