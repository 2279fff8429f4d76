#pragma once
// A command running on a new pseudo-terminal: the line of an "exec:COMMAND" port.
// The command runs through /bin/sh -c with the pty's slave side as its controlling
// terminal and its standard input, output and error; the master side is the line.
// At close the child gets SIGHUP, then SIGKILL after a short grace, and is reaped.

#include <string>
#include <sys/types.h>

namespace zelvo::comm {

class PtyChild {
public:
    PtyChild() = default;
    ~PtyChild() { Terminate(); }
    PtyChild(const PtyChild&) = delete;
    PtyChild& operator=(const PtyChild&) = delete;

    // Starts command; on success masterFd is the line (O_NONBLOCK, close-on-exec) and
    // 0 is returned, else minus errno. A non-empty term becomes the command's TERM.
    int Start(const std::string& command, int& masterFd, const std::string& term = {});
    // Ends and reaps the child (SIGHUP, up to graceMs, then SIGKILL).
    void Terminate(int graceMs = 300);
    // Reaps the child if it has exited; true when it is gone.
    bool Reap();
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

} // namespace zelvo::comm
