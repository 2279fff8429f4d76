#include "comm/port_table.h"

#include "comm/comm_types.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace zelvo::comm {

namespace {
std::string valueName(int n) { return "COM" + std::to_string(n); }
} // namespace

std::string DefaultPortDevice(int n)
{
    if (n >= 1 && n <= 4)
        return "/dev/ttyS" + std::to_string(n - 1);
    if (n >= 5 && n <= 20)
        return "/dev/ttyUSB" + std::to_string(n - 5);
    if (n >= 21 && n <= 36)
        return "/dev/ttyACM" + std::to_string(n - 21);
    return {};
}

std::string PortDevice(const platform::RegistryStore& store, int n)
{
    if (n < 1 || n > MaxComNumber)
        return {};
    if (auto v = store.readString(PortTableKey, valueName(n)); v && !v->empty())
        return *v;
    return DefaultPortDevice(n);
}

void SetPortDevice(platform::RegistryStore& store, int n, const std::string& device)
{
    if (n < 1 || n > MaxComNumber)
        return;
    if (device.empty())
        store.deleteValue(PortTableKey, valueName(n));
    else
        store.writeString(PortTableKey, valueName(n), device);
}

bool IsExecDevice(const std::string& device) { return device.rfind(ExecPrefix, 0) == 0; }

std::string LocalShellDevice()
{
    const char* shell = std::getenv("SHELL");
    std::string path = (shell && *shell) ? shell : "/bin/sh";
    // Quoted for /bin/sh -c: every ' becomes '\''.
    std::string quoted = "'";
    for (char c : path) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += "'";
    return std::string(ExecPrefix) + "exec " + quoted + " -i";
}

int ProbePortDevice(const std::string& device)
{
    if (device.empty())
        return ecFileNotFound;
    if (IsExecDevice(device))
        return 0;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case EBUSY: return ecAccessDenied;
        case ENOENT: return ecFileNotFound;
        case ENXIO:
        case ENODEV:
        case EIO: return ecPathNotFound;
        default: return -errno;
        }
    }
    int rc = 0;
    if (!::isatty(fd))
        rc = ecPathNotFound;
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        rc = errno == EWOULDBLOCK ? ecAccessDenied : -errno;
    ::close(fd);
    return rc;
}

std::string PortChoiceText(int comNumber, const std::string& device)
{
    std::string text = valueName(comNumber);
    if (!device.empty())
        text += " (" + device + ")";
    return text;
}

int PortChoiceNumber(const std::string& text)
{
    if (text.size() <= 3)
        return 0;
    int n = 0;
    for (size_t i = 3; i < text.size() && text[i] != ' '; ++i) {
        if (text[i] < '0' || text[i] > '9' || n > MaxComNumber)
            return 0;
        n = n * 10 + (text[i] - '0');
    }
    return (n >= 1 && n <= MaxComNumber) ? n : 0;
}

std::vector<int> AvailablePorts(const platform::RegistryStore& store)
{
    std::vector<int> out;
    for (int n = 1; n <= MaxComNumber; ++n) {
        const int rc = ProbePortDevice(PortDevice(store, n));
        if (rc == 0 || rc == ecAccessDenied || rc == -EACCES)
            out.push_back(n);
    }
    return out;
}

} // namespace zelvo::comm
