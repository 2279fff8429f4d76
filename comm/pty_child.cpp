#include "comm/pty_child.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace zelvo::comm {

int PtyChild::Start(const std::string& command, int& masterFd, const std::string& term)
{
    Terminate();
    int master = -1, slave = -1;
    winsize ws{};
    ws.ws_row = 25;
    ws.ws_col = 80;
    if (::openpty(&master, &slave, nullptr, nullptr, &ws) != 0)
        return -errno;
    // Everything the child needs is prepared before fork: after it only
    // async-signal-safe calls are made.
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    // The environment, with TERM replaced when one is given.
    const std::string termEntry = "TERM=" + term;
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e)
        if (term.empty() || std::strncmp(*e, "TERM=", 5) != 0)
            envp.push_back(*e);
    if (!term.empty())
        envp.push_back(const_cast<char*>(termEntry.c_str()));
    envp.push_back(nullptr);
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t pid = ::fork();
    if (pid == 0) {
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        for (int s = 1; s < NSIG; ++s)
            ::sigaction(s, &dfl, nullptr);
        ::setsid();
        ::ioctl(slave, TIOCSCTTY, 0);
        ::dup2(slave, 0);
        ::dup2(slave, 1);
        ::dup2(slave, 2);
        if (slave > 2)
            ::close(slave);
        ::close(master);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve("/bin/sh", const_cast<char* const*>(argv), envp.data());
        ::_exit(127);
    }
    const int forkErr = errno;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ::close(slave);
    if (pid < 0) {
        ::close(master);
        return -forkErr;
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    pid_ = pid;
    masterFd = master;
    return 0;
}

bool PtyChild::Reap()
{
    if (pid_ <= 0)
        return true;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno == ECHILD)) {
        pid_ = -1;
        return true;
    }
    return false;
}

void PtyChild::Terminate(int graceMs)
{
    if (pid_ <= 0)
        return;
    if (Reap())
        return;
    // The child leads its own session and process group: hang the whole group up.
    ::kill(-pid_, SIGHUP);
    ::kill(pid_, SIGHUP);
    for (int waited = 0; waited < graceMs; waited += 10) {
        if (Reap())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

} // namespace zelvo::comm
