#pragma once
// What the protocol fuzz targets share: a host whose received names go through the same
// reduction of hostile names as in the program, two files to send, and a loop that feeds
// the input to an engine in chunks with time moving on between them, then lets every
// pending time-out run out so that retries and give-ups run too.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "protocols/protocol_engine.h"
#include "protocols/received_name.h"
#include "tests/protocols/fake_host.h"

namespace zelvo::protocols::fuzz {

inline void ResolveNamesBelowDest(test::FakeHost& host, bool upcase)
{
    host.resolver = [upcase](const std::string& wire, std::string& path) {
        ReceivedName r = ReduceReceivedName(wire, "/dest", (wire.size() & 1) != 0, upcase);
        if (!r.ok)
            return static_cast<int>(psSkipFile);
        path = r.path;
        return 0;
    };
}

// A file of firstSize bytes and an empty one.
inline void QueueFilesToSend(test::FakeHost& host, std::size_t firstSize)
{
    test::MemFile f;
    f.data.assign(firstSize, 'x');
    host.toSend.emplace_back("a", f);
    host.toSend.emplace_back("b", test::MemFile{});
}

inline void DriveEngine(ProtocolEngine& engine, test::FakeHost& host, const uint8_t* data, std::size_t size,
                        std::size_t chunk, int64_t stepMs)
{
    int64_t now = 0;
    engine.start(now);
    for (std::size_t i = 0; i < size && !engine.done(); i += chunk) {
        engine.receive(data + i, std::min(chunk, size - i), now);
        host.out.clear();
        now += stepMs;
        engine.poll(now);
        host.out.clear();
    }
    for (int k = 0; k < 64 && !engine.done(); ++k) {
        now = std::max(now + 1, engine.deadline());
        engine.poll(now);
        host.out.clear();
    }
}

} // namespace zelvo::protocols::fuzz
