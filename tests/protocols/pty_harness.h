#pragma once
// Pseudo-terminal plumbing for the interoperability tests: pty pairs, a relay between
// two of them that can corrupt, drop, delay and rate-limit bytes, and peer processes
// (sz, rz) started on a pty.

#include <atomic>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace zelvo::protocols::test {

struct PtyPair {
    int master = -1;
    int slave = -1;
    std::string slaveName;
    PtyPair();
    ~PtyPair();
    void closeSlave();
};

struct RelayOptions {
    uint64_t corruptEvery = 0;   // flip a bit in every Nth byte from our side to the peer
    uint64_t dropEvery = 0;      // drop every Nth byte from our side to the peer
    uint64_t corruptFrom = 0;    // faults start after this many bytes
    int delayMs = 0;             // hold each chunk this long
    uint32_t bytesPerSecond = 0; // each way; 0 = unlimited
};

class Relay {
public:
    Relay(int ours, int peer, RelayOptions options = {});
    ~Relay();
    void stop();
    std::atomic<uint64_t> toPeer{0}, toUs{0};

private:
    void run();
    int ours_, peer_;
    RelayOptions opt_;
    int stopPipe_[2];
    std::thread thread_;
};

// Starts argv on the pty whose slave side is slave (as its controlling terminal, input
// and output; errors go to /dev/null), in directory cwd, with the flush shim preloaded.
// Returns the child's pid; the caller closes its copy of the slave.
pid_t spawnOnPty(const std::vector<std::string>& argv, int slave, const std::string& cwd);

class Peer {
public:
    // Starts argv on the slave of pty, in directory cwd, with the flush shim preloaded.
    Peer(const std::vector<std::string>& argv, PtyPair& pty, const std::string& cwd);
    ~Peer();
    // Waits for the peer to end; returns its exit status, or -1 after the time-out
    // (the peer is then killed).
    int wait(int timeoutMs);
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

bool haveProgram(const char* name);
std::string makeTempDir();
void removeTree(const std::string& dir);
void writeBytes(const std::string& path, const std::vector<uint8_t>& data);
std::vector<uint8_t> readBytes(const std::string& path);
bool fileExists(const std::string& path);

} // namespace zelvo::protocols::test
