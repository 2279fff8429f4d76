#pragma once
// An in-memory EngineHost for engine tests: files live in maps, the line is a byte
// vector, and two engines can be wired together with a fault-injecting link.

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "protocols/protocol_engine.h"

namespace zelvo::protocols::test {

struct MemFile {
    std::vector<uint8_t> data;
    int64_t mtime = 0;
    bool complete = false;
};

class FakeHost : public EngineHost {
public:
    size_t capacity = 1 << 20;
    std::vector<uint8_t> out;
    int flushes = 0;

    // Sending.
    std::vector<std::pair<std::string, MemFile>> toSend;
    size_t nextIndex = 0;
    const MemFile* sending = nullptr;
    std::vector<std::string> sentComplete;

    // Receiving: the "disk", keyed by path.
    std::map<std::string, MemFile> disk;
    std::string openPath;
    std::vector<std::pair<std::string, OpenMode>> opens;
    std::function<int(const std::string&, std::string&)> resolver;

    std::vector<TransferState> statuses;
    std::vector<unsigned> statusFlags;
    std::vector<int> errors;

    size_t outputFree() override { return capacity - out.size(); }
    size_t outputUsed() override { return out.size(); }
    int putBlock(const uint8_t* d, size_t n) override
    {
        if (n > outputFree())
            return -3006;
        out.insert(out.end(), d, d + n);
        return 0;
    }
    void flushOutput() override
    {
        out.clear();
        ++flushes;
    }
    int nextFile(SendFile& f) override
    {
        if (nextIndex >= toSend.size())
            return 0;
        auto& [name, file] = toSend[nextIndex++];
        f.path = name;
        f.wireName = name;
        f.length = file.data.size();
        f.mtime = file.mtime;
        sending = &file;
        return 1;
    }
    int readFile(uint64_t off, uint8_t* buf, size_t n) override
    {
        if (!sending)
            return -103;
        if (off >= sending->data.size())
            return 0;
        n = std::min<size_t>(n, sending->data.size() - off);
        std::memcpy(buf, sending->data.data() + off, n);
        return static_cast<int>(n);
    }
    void closeSendFile(bool completed) override
    {
        if (completed)
            sentComplete.push_back(toSend[nextIndex - 1].first);
        sending = nullptr;
    }
    int resolveReceivedName(const std::string& wire, std::string& path) override
    {
        if (resolver)
            return resolver(wire, path);
        path = wire;
        return 0;
    }
    int statLocal(const std::string& path, LocalFile& local) override
    {
        auto it = disk.find(path);
        local = LocalFile{};
        if (it != disk.end()) {
            local.exists = true;
            local.length = it->second.data.size();
            local.mtime = it->second.mtime;
        }
        return 0;
    }
    int openReceiveFile(const std::string& path, OpenMode mode, uint64_t offset) override
    {
        MemFile& f = disk[path];
        if (mode == OpenMode::Create)
            f.data.clear();
        else
            f.data.resize(offset);
        f.complete = false;
        openPath = path;
        opens.emplace_back(path, mode);
        return 0;
    }
    int prepareReceiveFile(std::string& path) override
    {
        return openReceiveFile(path, OpenMode::Create, 0);
    }
    int writeFile(uint64_t off, const uint8_t* d, size_t n) override
    {
        MemFile& f = disk[openPath];
        if (f.data.size() < off + n)
            f.data.resize(off + n);
        std::memcpy(f.data.data() + off, d, n);
        return 0;
    }
    int closeReceiveFile(bool completed, int64_t mtime) override
    {
        MemFile& f = disk[openPath];
        f.complete = completed;
        if (completed && mtime)
            f.mtime = mtime;
        openPath.clear();
        return 0;
    }
    void reportStatus(const TransferState& st, unsigned flags) override
    {
        statuses.push_back(st);
        statusFlags.push_back(flags);
    }
    void reportError(int code) override { errors.push_back(code); }
};

// Carries bytes between two engines. The filter sees every byte of one direction with
// its running index and may change it or drop it (return false).
struct Link {
    using Filter = std::function<bool(uint64_t index, uint8_t& byte)>;
    Filter aToB, bToA;
    uint64_t countAB = 0, countBA = 0;
    size_t chunk = 4096;

    static void move(FakeHost& from, ProtocolEngine& to, const Filter& f, uint64_t& count, size_t chunk,
                     int64_t now)
    {
        if (from.out.empty())
            return;
        std::vector<uint8_t> bytes;
        bytes.swap(from.out);
        std::vector<uint8_t> passed;
        passed.reserve(bytes.size());
        for (uint8_t b : bytes) {
            if (!f || f(count, b))
                passed.push_back(b);
            ++count;
        }
        for (size_t i = 0; i < passed.size() && !to.done(); i += chunk)
            to.receive(passed.data() + i, std::min(chunk, passed.size() - i), now);
    }

    // Runs until both ends are done; time jumps to the next deadline when the wire is
    // quiet. Returns false if the step limit was reached.
    bool run(ProtocolEngine& a, FakeHost& ha, ProtocolEngine& b, FakeHost& hb, int64_t& now,
             int maxSteps = 200000)
    {
        for (int step = 0; step < maxSteps; ++step) {
            if (a.done() && b.done() && ha.out.empty() && hb.out.empty())
                return true;
            const bool quiet = ha.out.empty() && hb.out.empty();
            if (!b.done())
                move(ha, b, aToB, countAB, chunk, now);
            else
                ha.out.clear();
            if (!a.done())
                move(hb, a, bToA, countBA, chunk, now);
            else
                hb.out.clear();
            if (quiet) {
                int64_t next = std::min(a.done() ? ProtocolEngine::kNoDeadline : a.deadline(),
                                        b.done() ? ProtocolEngine::kNoDeadline : b.deadline());
                if (next == ProtocolEngine::kNoDeadline)
                    next = now + 1000;
                now = std::max(now + 1, next);
            }
            if (!a.done())
                a.poll(now);
            if (!b.done())
                b.poll(now);
            if (a.done() && b.done()) {
                ha.out.clear();
                hb.out.clear();
                return true;
            }
        }
        return false;
    }
};

inline std::vector<uint8_t> randomBytes(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return v;
}

} // namespace zelvo::protocols::test
