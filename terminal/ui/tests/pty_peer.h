#pragma once
// The far end of a test line: the master side of a pseudo-terminal pair whose slave the
// port under test opens (mapped to a port number through the settings store).

#include <string>
#include <string_view>

namespace zelvo::terminal::test {

class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    bool ok() const { return master_ >= 0; }

    // Writes all of data (waiting for room as needed, at most 10 s in all).
    bool write(std::string_view data);
    // Appends whatever the port has sent so far to received() without waiting.
    void poll();
    // Everything received since the last clear().
    const std::string& received() const { return received_; }
    void clear() { received_.clear(); }

private:
    int master_ = -1;
    int slave_ = -1; // held open so the line does not hang up between port opens
    std::string slavePath_;
    std::string received_;
};

// Points the settings store of this process at a fresh directory and maps the given
// port number to a device path in its port table.
void usePrivateSettings();
void mapPort(int comNumber, const std::string& device);

} // namespace zelvo::terminal::test
