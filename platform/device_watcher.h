#pragma once
// Tells when device nodes appear, disappear or change in chosen directories (/dev,
// /dev/serial/by-id), through inotify: the caller waits on fd() with poll() or a socket
// notifier instead of polling the file system. A directory that does not exist yet (the
// by-id directory before the first adapter is plugged in) is watched for through its
// nearest existing parent and watched itself once it appears.
//
//   DeviceWatcher w;
//   w.setDirectories({"/dev", "/dev/serial/by-id"});
//   poll({w.fd(), POLLIN}, 1000 ms) ... if (w.readEvents()) look again;

#include <string>
#include <vector>

namespace zelvo::platform {

class DeviceWatcher {
public:
    DeviceWatcher();
    ~DeviceWatcher();
    DeviceWatcher(const DeviceWatcher&) = delete;
    DeviceWatcher& operator=(const DeviceWatcher&) = delete;

    void setDirectories(std::vector<std::string> directories);
    // Readable when something changed; -1 when the system offers no notification (the
    // caller then relies on its periodic check alone).
    int fd() const { return fd_; }
    // Takes the pending events without waiting; true when there were any.
    bool readEvents();

private:
    void rewatch();

    int fd_ = -1;
    std::vector<std::string> directories_;
};

} // namespace zelvo::platform
