#pragma once
// The UiBridge of the Qt program: queued calls go through the Qt event loop of the
// thread that created the bridge (the GUI thread).

#include "comm/ui_bridge.h"

#include <exception>
#include <functional>
#include <vector>

#include <QObject>

class QEventLoop;

namespace zelvo::comm {

class QtUiBridge : public UiBridge {
public:
    // The creating thread becomes the UI thread; create the bridge on the GUI thread.
    QtUiBridge();
    ~QtUiBridge() override;
    QtUiBridge(const QtUiBridge&) = delete;
    QtUiBridge& operator=(const QtUiBridge&) = delete;

    void post(std::function<void()> fn) override;
    bool send(std::function<void()> fn, int timeoutMs) override;
    void pumpPending() override;
    bool waitAndPump(const std::function<bool()>& done, int timeoutMs) override;
    void wake() override;
    bool isUiThread() const override;

    // A queued call that throws must not unwind through the Qt event loop; the
    // exception is handed here instead (by default its text goes to the Qt log).
    void setExceptionHandler(std::function<void(std::exception_ptr)> handler);

    // The object whose thread runs the queued calls.
    QObject* context() { return &context_; }

private:
    // Runs the calls posted to it (see qt_ui_bridge.cpp).
    class Receiver : public QObject {
    public:
        bool event(QEvent* e) override;
    };

    // Runs fn on the UI thread, catching what it throws, then lets a waiting
    // waitAndPump re-test its condition.
    void runGuarded(const std::function<void()>& fn);
    void retest();

    Receiver context_;
    std::vector<QEventLoop*> waits_; // waitAndPump loops in progress, innermost last
    std::function<void(std::exception_ptr)> exceptionHandler_;
};

} // namespace zelvo::comm
