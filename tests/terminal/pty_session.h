#pragma once
// A real program on a new pseudo-terminal, shown through the xterm emulation, which also
// answers the program's queries as its terminal. Everything the program writes is kept
// (the recording), with the places where the test looked at the page (checkpoints), so
// the same bytes can be replayed through another terminal later.

#include "screen_fixture.h"

#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace zelvo::terminal::test {

class PtySession {
public:
    PtySession(int rows, int cols);
    ~PtySession();
    PtySession(const PtySession&) = delete;
    PtySession& operator=(const PtySession&) = delete;

    // Starts argv[0] (looked up in PATH) with exactly the given environment ("NAME=value").
    // False with a message in error() when it cannot start.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env);
    const std::string& error() const { return error_; }

    // Types keys (the bytes go to the program as they are).
    void send(const std::string& keys);
    // Shows output until pred() holds, the program ends or timeoutMs passes; returns pred().
    bool waitFor(const std::function<bool()>& pred, int timeoutMs = 20000);
    // Until the page shows text.
    bool waitForText(const std::string& text, int timeoutMs = 20000);
    // Until the program has ended and everything it wrote is shown.
    bool waitExit(int timeoutMs = 20000);
    // Marks the current end of the recording as a place to compare pages.
    void checkpoint() { checkpoints_.push_back(recording_.size()); }

    bool pageContains(const std::string& text) const;
    std::string pageText() const;
    Screen& screen() { return screen_; }
    const std::string& recording() const { return recording_; }
    const std::vector<std::size_t>& checkpoints() const { return checkpoints_; }

private:
    // Reads what is there (waiting at most waitMs for something); false when the
    // program's side is closed.
    bool pump(int waitMs);

    Screen screen_;
    int master_ = -1;
    pid_t pid_ = -1;
    bool exited_ = false;
    std::string recording_;
    std::vector<std::size_t> checkpoints_;
    std::string error_;
};

} // namespace zelvo::terminal::test
