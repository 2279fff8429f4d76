#include "script_host/line_wait.h"

#include "app/port_access.h"
#include "platform/clock.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace zelvo::script_host {

// Stands in for the port's data event during a run; recognisable by its type, so the
// run knows whether it is still in place when it ends.
struct LineWait::Listener {
    LineWait* self;
    std::function<void(const uint8_t*, size_t)> next;
    void operator()(const uint8_t* data, size_t n) const
    {
        self->received(data, n);
        if (next)
            next(data, n);
    }
};

LineWait::LineWait(HostEnvironment& env, const std::atomic<bool>& stop) : env_(env), stop_(stop)
{
}

LineWait::~LineWait()
{
    detach();
}

int64_t LineWait::TimeoutMs(int seconds)
{
    return int64_t(seconds) * 18 * platform::kTickMs;
}

void LineWait::attach(app::PortAccess* port, const std::string& earlier)
{
    detach();
    backlog_.clear();
    const size_t keep = std::min(earlier.size(), kMaxBacklog);
    backlog_.assign(earlier.end() - std::ptrdiff_t(keep), earlier.end());
    echo_ = false;
    want_ = Want::Nothing;
    port_ = port;
    if (!port_)
        return;
    saved_ = port_->onData;
    port_->onData = Listener{this, saved_};
}

void LineWait::detach()
{
    if (!port_)
        return;
    if (port_->onData.target<Listener>())
        port_->onData = saved_;
    port_ = nullptr;
    saved_ = nullptr;
    if (!backlog_.empty()) {
        std::vector<uint8_t> rest(backlog_.begin(), backlog_.end());
        backlog_.clear();
        env_.terminalShow(rest.data(), rest.size());
    }
}

void LineWait::dropBacklog()
{
    backlog_.clear();
}

void LineWait::received(const uint8_t* data, size_t n)
{
    if (n >= kMaxBacklog) {
        backlog_.assign(data + (n - kMaxBacklog), data + n);
    } else {
        const size_t over = backlog_.size() + n > kMaxBacklog ? backlog_.size() + n - kMaxBacklog : 0;
        backlog_.erase(backlog_.begin(), backlog_.begin() + std::ptrdiff_t(over));
        backlog_.insert(backlog_.end(), data, data + n);
    }
    serve();
}

void LineWait::show(const uint8_t* data, size_t n)
{
    if (echo_ && n > 0)
        env_.terminalShow(data, n);
}

void LineWait::serve()
{
    if (done_ || want_ == Want::Nothing || backlog_.empty())
        return;
    if (want_ == Want::Byte) {
        const uint8_t b = backlog_.front();
        backlog_.pop_front();
        byte_ = b;
        done_ = true;
        show(&b, 1);
        return;
    }
    std::vector<uint8_t> bytes(backlog_.begin(), backlog_.end());
    size_t used = matcher_->feed(bytes.data(), bytes.size());
    if (used != TextMatcher::npos)
        done_ = true;
    else
        used = bytes.size();
    backlog_.erase(backlog_.begin(), backlog_.begin() + std::ptrdiff_t(used));
    show(bytes.data(), used);
}

bool LineWait::wait(std::optional<int> timeoutSec)
{
    serve();
    int64_t ms = -1;
    if (timeoutSec && *timeoutSec != -1)
        ms = *timeoutSec < 0 ? 0 : TimeoutMs(*timeoutSec);
    env_.waitFor([this] { return done_ || stop_.load(); }, ms);
    const bool got = done_ && !stop_.load();
    want_ = Want::Nothing;
    matcher_.reset();
    done_ = false;
    return got;
}

int LineWait::Waitfor(const std::string& text, std::optional<int> timeoutSec, bool echo)
{
    matcher_.emplace(text.substr(0, kMaxText));
    echo_ = echo;
    want_ = Want::Text;
    done_ = false;
    return wait(timeoutSec) ? 1 : 0;
}

int LineWait::Receive(std::optional<int> timeoutSec)
{
    want_ = Want::Byte;
    done_ = false;
    byte_ = 0;
    return wait(timeoutSec) ? byte_ : 0;
}

} // namespace zelvo::script_host
