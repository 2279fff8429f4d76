#pragma once
// Our end of a line for the interoperability tests: a protocol component on the slave
// of a pseudo-terminal pair, driven by a DirectLine; and two of them facing each other
// through a relay.

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "fake_host.h"
#include "protocols/direct_line.h"
#include "protocols/protocol.h"
#include "pty_harness.h"

namespace zelvo::protocols::test {

#define NEED_LRZSZ()                                                         \
    do {                                                                     \
        if (!haveProgram("sz") || !haveProgram("rz"))                        \
            GTEST_SKIP() << "lrzsz (sz, rz) is not installed";               \
    } while (0)

struct Dirs {
    std::string src = makeTempDir();
    std::string dst = makeTempDir();
    ~Dirs()
    {
        removeTree(src);
        removeTree(dst);
    }
};

struct Ours {
    PtyPair pty;
    DirectLine line;
    Protocol proto;
    std::vector<TransferState> lastStatuses;
    std::vector<int> errors;
    explicit Ours(TProtocolType type = ptZmodem)
    {
        proto.setProtocolType(type);
        proto.setUpcaseFileNames(false);
        proto.setHandshakeWait(182);
        if (type == ptZmodem)
            proto.setFinishWait(91);
        line.adopt(::dup(pty.slave), 115200);
        proto.setComPort(&line);
        proto.OnProtocolStatus = [this](Protocol& p, uint16_t flags) {
            if (flags & kStatusLast)
                lastStatuses.push_back(p.Snapshot());
        };
        proto.OnProtocolError = [this](Protocol&, int code) { errors.push_back(code); };
    }
    void sendFiles(std::vector<std::string> files)
    {
        auto next = std::make_shared<size_t>(0);
        proto.OnProtocolNextFile = [files, next](Protocol&, std::string& name) {
            name = *next < files.size() ? files[(*next)++] : std::string();
        };
    }
    int send()
    {
        const int rc = proto.BeginTransmit();
        return rc ? rc : line.run(proto);
    }
    // Into a directory (batch protocols) or, for the others, into the file named.
    int receive(const std::string& where)
    {
        if (Protocol::BatchProtocol(proto.ProtocolType())) {
            proto.setDestinationDirectory(where);
        } else {
            proto.setDestinationDirectory("");
            proto.setFileName(where);
        }
        const int rc = proto.BeginReceive();
        return rc ? rc : line.run(proto);
    }
};

struct OwnPair {
    Ours tx, rx;
    std::unique_ptr<Relay> relay;
    int rxResult = 1, txResult = 1;
    std::string rxDir;
    explicit OwnPair(TProtocolType type = ptZmodem) : tx(type), rx(type) {}
    void run(RelayOptions opt, std::function<void()> during = nullptr)
    {
        relay = std::make_unique<Relay>(tx.pty.master, rx.pty.master, opt);
        std::thread receiver([this] { rxResult = rx.receive(rxDir); });
        if (during)
            during();
        txResult = tx.send();
        receiver.join();
        relay->stop();
    }
};

inline std::vector<uint8_t> allByteValues(size_t repeat)
{
    std::vector<uint8_t> v;
    for (size_t r = 0; r < repeat; ++r)
        for (int b = 0; b < 256; ++b)
            v.push_back(static_cast<uint8_t>(b));
    return v;
}

// An Xmodem copy: the data, then nothing but SUB fill up to a whole block.
inline bool paddedCopy(const std::vector<uint8_t>& got, const std::vector<uint8_t>& sent)
{
    if (got.size() < sent.size() || got.size() - sent.size() >= 1024)
        return false;
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != (i < sent.size() ? sent[i] : 0x1A))
            return false;
    return true;
}

} // namespace zelvo::protocols::test
