#include "terminal/ui/tests/pty_peer.h"

#include "platform/clock.h"
#include "platform/registry_store.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace zelvo::terminal::test {

PtyPeer::PtyPeer()
{
    int m = -1, s = -1;
    char name[256] = {};
    if (openpty(&m, &s, name, nullptr, nullptr) != 0) return;
    // Raw on both sides: the test talks bytes, not lines.
    termios t{};
    tcgetattr(s, &t);
    cfmakeraw(&t);
    tcsetattr(s, TCSANOW, &t);
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    master_ = m;
    slave_ = s;
    slavePath_ = name;
}

PtyPeer::~PtyPeer()
{
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
}

bool PtyPeer::write(std::string_view data)
{
    const int64_t deadline = platform::monotonicMs() + 10000;
    while (!data.empty()) {
        const ssize_t n = ::write(master_, data.data(), data.size());
        if (n > 0) {
            data.remove_prefix(size_t(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (platform::monotonicMs() > deadline) return false;
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 50);
    }
    return true;
}

void PtyPeer::poll()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) break;
        received_.append(buf, size_t(n));
    }
}

void usePrivateSettings()
{
    char tmpl[] = "/tmp/zelvo-tw-XXXXXX";
    const char* dir = mkdtemp(tmpl);
    if (dir) setenv("XDG_CONFIG_HOME", dir, 1);
}

void mapPort(int comNumber, const std::string& device)
{
    platform::RegistryStore store;
    store.load();
    store.writeString("software\\brunmo\\zelvo32\\ports", "COM" + std::to_string(comNumber), device);
    store.save();
}

} // namespace zelvo::terminal::test
