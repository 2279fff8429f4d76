#include "comm/telephony/dial_runner.h"

#include "platform/clock.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace zelvo::telephony {

DialRunner::DialRunner(ModemLine& line, StatusFn status, DoneFn done)
    : line_(line), status_(std::move(status)), done_(std::move(done))
{
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

DialRunner::~DialRunner()
{
    stop();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void DialRunner::startCall(const CallPlan& plan)
{
    start([plan](HayesDialer& d, int64_t now) { d.placeCall(plan, now); });
}

void DialRunner::startHangup(HangupMethod method, uint32_t guardMs)
{
    start([method, guardMs](HayesDialer& d, int64_t now) { d.hangUp(method, guardMs, now); });
}

void DialRunner::start(std::function<void(HayesDialer&, int64_t)> begin)
{
    join();
    cancel_ = false;
    stop_ = false;
    uint64_t drain;
    while (wakeFd_ >= 0 && ::read(wakeFd_, &drain, sizeof drain) > 0) {
    }
    thread_ = std::thread([this, begin = std::move(begin)] { run(begin); });
}

void DialRunner::cancel()
{
    cancel_ = true;
    uint64_t one = 1;
    if (wakeFd_ >= 0)
        (void)!::write(wakeFd_, &one, sizeof one);
}

void DialRunner::stop()
{
    stop_ = true;
    uint64_t one = 1;
    if (wakeFd_ >= 0)
        (void)!::write(wakeFd_, &one, sizeof one);
    join();
}

void DialRunner::join()
{
    if (thread_.joinable())
        thread_.join();
}

void DialRunner::write(std::string_view bytes)
{
    // A line that takes nothing for this long is as good as gone; the dialer's own
    // time-outs then end the conversation.
    line_.write(bytes, 2000);
}

void DialRunner::status(uint32_t message, uint32_t state, uint32_t reason)
{
    if (status_ && !stop_)
        status_(message, state, reason);
}

void DialRunner::run(std::function<void(HayesDialer&, int64_t)> begin)
{
    using Outcome = HayesDialer::Outcome;
    begin(dialer_, platform::monotonicMs());
    bool cancelled = false;
    while (!stop_ && dialer_.outcome() == Outcome::Running) {
        int64_t now = platform::monotonicMs();
        if (cancel_ && !cancelled) {
            cancelled = true;
            dialer_.cancel(now);
            continue;
        }
        dialer_.tick(now);
        if (dialer_.outcome() != Outcome::Running)
            break;
        const int64_t wait = std::clamp<int64_t>(dialer_.deadline() - now, 0, 60000);
        pollfd fds[2] = {{line_.fd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        int rc = ::poll(fds, 2, int(wait));
        if (rc < 0 && errno != EINTR)
            break;
        if (fds[1].revents & POLLIN) {
            uint64_t v;
            (void)!::read(wakeFd_, &v, sizeof v);
        }
        now = platform::monotonicMs();
        if (fds[0].revents & POLLIN) {
            uint8_t b;
            for (;;) {
                ssize_t n = ::read(line_.fd(), &b, 1);
                if (n == 1) {
                    dialer_.receive(b, now);
                    if (dialer_.outcome() != Outcome::Running)
                        break;
                    continue;
                }
                if (n < 0 && errno == EINTR)
                    continue;
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
                    dialer_.lineLost(now);
                break;
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // A pseudo-terminal whose command has ended, a device that was pulled out.
            dialer_.lineLost(now);
        }
    }
    if (stop_)
        return;
    if (done_)
        done_(dialer_.outcome(), dialer_.connectRate());
}

} // namespace zelvo::telephony
