#include "script_host/headless_environment.h"

#include <climits>

namespace zelvo::script_host {

HeadlessEnvironment::HeadlessEnvironment(comm::EventLoopBridge& bridge, std::FILE* out, std::FILE* err)
    : bridge_(bridge), out_(out), err_(err)
{
}

bool HeadlessEnvironment::waitFor(const std::function<bool()>& done, int64_t timeoutMs)
{
    if (timeoutMs == 0) {
        bridge_.pumpPending();
        return done();
    }
    const int ms = timeoutMs < 0 ? -1 : timeoutMs > INT_MAX ? INT_MAX : int(timeoutMs);
    return bridge_.waitAndPump(done, ms);
}

void HeadlessEnvironment::wake()
{
    bridge_.wake();
}

void HeadlessEnvironment::terminalShow(const uint8_t* data, size_t n)
{
    std::string text;
    filter_.feed(data, n, text);
    if (text.empty())
        return;
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
}

void HeadlessEnvironment::showMessage(const std::string& text)
{
    std::fprintf(err_, "%s\n", text.c_str());
    std::fflush(err_);
}

} // namespace zelvo::script_host
