// Feeds arbitrary bytes through data-trigger matchers and the trace and dispatch-log
// renderers. The first bytes choose the trigger strings; every completed match must
// really end with its string, and rendering must stay in bounds.

#include "comm/data_trigger.h"
#include "comm/event_log.h"
#include "comm/trace_ring.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace zelvo::comm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int lenA = data[0] % 22;
    const int lenB = data[1] % 22;
    const bool ignoreCase = (data[0] & 0x80) != 0;
    size_t pos = 2;
    if (size < pos + static_cast<size_t>(lenA + lenB))
        return 0;
    DataTrigger a, b;
    a.assign(data + pos, lenA, ignoreCase);
    const std::string sa(reinterpret_cast<const char*>(data + pos), static_cast<size_t>(lenA));
    pos += static_cast<size_t>(lenA);
    b.assign(data + pos, lenB, false);
    const std::string sb(reinterpret_cast<const char*>(data + pos), static_cast<size_t>(lenB));
    pos += static_cast<size_t>(lenB);

    auto fold = [&](std::string s) {
        if (ignoreCase)
            for (char& c : s)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    };
    std::string seen;
    TraceRing trace;
    trace.Start(64);
    EventLog log;
    log.Start(256);
    for (size_t i = pos; i < size; ++i) {
        const uint8_t byte = data[i];
        seen += static_cast<char>(byte);
        if (a.match(byte)) {
            if (seen.size() < sa.size() || fold(seen.substr(seen.size() - sa.size())) != fold(sa))
                std::abort();
        }
        if (b.match(byte)) {
            if (seen.size() < sb.size() || seen.substr(seen.size() - sb.size()) != sb)
                std::abort();
        }
        trace.Add((byte & 1) ? 'R' : 'T', byte);
        log.Add(byte % 10, byte % 20, static_cast<uint32_t>(i), byte, data + pos, static_cast<uint32_t>(i - pos) % 40);
    }
    (void)trace.Render(true);
    (void)trace.Render(false);
    (void)log.Render(true);
    (void)log.Render(false);
    return 0;
}
