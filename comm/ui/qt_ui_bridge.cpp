#include "comm/ui/qt_ui_bridge.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QtDebug>

#if defined(__SANITIZE_THREAD__)
#define ZELVO_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZELVO_THREAD_SANITIZER 1
#endif
#endif
#ifdef ZELVO_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
#endif

namespace zelvo::comm {

namespace {

// A queued call: the function travels to the UI thread in a posted event, which the
// receiver runs there and Qt then deletes there. The posting thread never touches the
// event after posting it.
class CallEvent : public QEvent {
public:
    explicit CallEvent(std::function<void()> f) : QEvent(eventType()), fn(std::move(f)) {}
    static QEvent::Type eventType()
    {
        static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
        return type;
    }
    std::function<void()> fn;
};

// Qt hands a posted event over under its own lock. Qt is not built with
// ThreadSanitizer, which therefore cannot see that hand-over; under it, the hand-over
// is announced explicitly (release when posting, acquire when running).
void postCall(QObject* receiver, std::function<void()> fn)
{
    auto* event = new CallEvent(std::move(fn));
#ifdef ZELVO_THREAD_SANITIZER
    __tsan_release(event);
#endif
    QCoreApplication::postEvent(receiver, event);
}

// State shared by a sending thread and the queued call that carries its function.
struct SendState {
    std::mutex mutex;
    std::condition_variable cv;
    bool started = false;
    bool done = false;
    bool cancelled = false;
};

} // namespace

QtUiBridge::QtUiBridge()
{
    exceptionHandler_ = [](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            qWarning("zelvo32: unhandled error in a queued call: %s", x.what());
        } catch (...) {
            qWarning("zelvo32: unhandled error in a queued call");
        }
    };
}

QtUiBridge::~QtUiBridge() = default;

void QtUiBridge::setExceptionHandler(std::function<void(std::exception_ptr)> handler)
{
    exceptionHandler_ = std::move(handler);
}

void QtUiBridge::runGuarded(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (...) {
        if (exceptionHandler_) exceptionHandler_(std::current_exception());
    }
    retest();
}

void QtUiBridge::retest()
{
    // Only the innermost wait can run now; it re-tests its condition and, if that is
    // still false, goes back to waiting.
    if (!waits_.empty()) waits_.back()->quit();
}

bool QtUiBridge::Receiver::event(QEvent* e)
{
#ifdef ZELVO_THREAD_SANITIZER
    __tsan_acquire(e);
#endif
    if (e->type() != CallEvent::eventType())
        return QObject::event(e);
    static_cast<CallEvent*>(e)->fn();
    return true;
}

void QtUiBridge::post(std::function<void()> fn)
{
    postCall(&context_, [this, fn = std::move(fn)] { runGuarded(fn); });
}

bool QtUiBridge::send(std::function<void()> fn, int timeoutMs)
{
    if (isUiThread()) {
        runGuarded(fn);
        return true;
    }
    auto st = std::make_shared<SendState>();
    postCall(
        &context_,
        [this, st, fn = std::move(fn)] {
            {
                std::lock_guard lk(st->mutex);
                if (st->cancelled) return;
                st->started = true;
            }
            runGuarded(fn);
            {
                std::lock_guard lk(st->mutex);
                st->done = true;
            }
            st->cv.notify_all();
        });

    std::unique_lock lk(st->mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // Wait for the call to start within the limit; once it runs, wait for its end so
    // the caller never overlaps a handler that is still working.
    if (!st->cv.wait_until(lk, deadline, [&] { return st->done; })) {
        if (!st->started) {
            st->cancelled = true;
            return false;
        }
        st->cv.wait(lk, [&] { return st->done; });
    }
    return true;
}

void QtUiBridge::pumpPending()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool QtUiBridge::waitAndPump(const std::function<bool()>& done, int timeoutMs)
{
    if (done()) return true;
    QEventLoop loop;
    QDeadlineTimer deadline(timeoutMs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(timeoutMs));
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    waits_.push_back(&loop);
    bool result = false;
    for (;;) {
        if (done()) {
            result = true;
            break;
        }
        if (deadline.hasExpired()) break;
        if (!deadline.isForever()) timer.start(int(qMax<qint64>(1, deadline.remainingTime())));
        loop.exec();
    }
    waits_.pop_back();
    return result;
}

void QtUiBridge::wake()
{
    postCall(&context_, [this] { retest(); });
}

bool QtUiBridge::isUiThread() const
{
    return QThread::currentThread() == context_.thread();
}

} // namespace zelvo::comm
