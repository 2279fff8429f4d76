#include "comm/event_log.h"

#include "comm/comm_types.h"
#include "comm/trace_ring.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zelvo::comm {

namespace {

const char* const kKindNames[] = {"No event", "Dispatch", "Trigger",  "Error",    "Thread",
                                  "TrigAllc", "TrigDisp", "TrgHdAlc", "TrgHdDsp", "TrDatChg"};
const char* const kSubKindNames[] = {"ReadPort", "WritePort", "Line status", "Modem status",
                                     "Avail",    "Timer",     "Data",        "Status",
                                     "Start",    "Exit",      "Sleep",       "Wake",
                                     "Data",     "Timer",     "Status",      "Avail",
                                     "Window",   "Procedure", "Method"};
const char* const kModemBitNames[] = {"DCTS", "DDSR", "TERI", "DDCD", "CTS", "DSR", "RI", "DCD"};

void put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
uint32_t get32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

std::string compilerName()
{
#if defined(__clang__)
    return std::string("Clang ") + __clang_version__;
#elif defined(__GNUC__)
    return std::string("GCC ") + __VERSION__;
#else
    return "C++ compiler";
#endif
}

std::string systemName()
{
    struct utsname u {};
    if (uname(&u) != 0)
        return "Unknown";
    int major = 0, minor = 0;
    std::sscanf(u.release, "%d.%d", &major, &minor);
    return std::string(u.sysname) + " " + std::to_string(major) + "." + std::to_string(minor);
}

} // namespace

int EventLog::Start(uint32_t size)
{
    if (size > MaxLogSize || size < HeaderSize)
        return ecBadArgument;
    if (buf_.size() != size)
        buf_.assign(size, 0);
    Clear();
    on_ = true;
    return 0;
}

void EventLog::Stop()
{
    buf_.clear();
    buf_.shrink_to_fit();
    readIdx_ = writeIdx_ = used_ = 0;
    on_ = false;
}

void EventLog::Clear() { readIdx_ = writeIdx_ = used_ = 0; }

void EventLog::readBytes(uint32_t pos, void* out, uint32_t n) const
{
    auto* o = static_cast<uint8_t*>(out);
    const auto size = static_cast<uint32_t>(buf_.size());
    for (uint32_t i = 0; i < n; ++i)
        o[i] = buf_[(pos + i) % size];
}

void EventLog::writeBytes(uint32_t pos, const void* in, uint32_t n)
{
    const auto* p = static_cast<const uint8_t*>(in);
    const auto size = static_cast<uint32_t>(buf_.size());
    for (uint32_t i = 0; i < n; ++i)
        buf_[(pos + i) % size] = p[i];
}

void EventLog::dropOldest()
{
    uint8_t h[HeaderSize];
    readBytes(readIdx_, h, HeaderSize);
    const uint32_t total = HeaderSize + get32(h + 12);
    readIdx_ = (readIdx_ + total) % static_cast<uint32_t>(buf_.size());
    used_ -= total;
}

void EventLog::Add(uint8_t kind, uint8_t subKind, uint32_t timeMs, uint32_t value, const void* data,
                   uint32_t length)
{
    if (!on_ || buf_.empty())
        return;
    const auto size = static_cast<uint32_t>(buf_.size());
    // A record larger than the whole log keeps only the data that fits.
    if (HeaderSize + length > size)
        length = size - HeaderSize;
    while (size - used_ < HeaderSize + length)
        dropOldest();
    uint8_t h[HeaderSize] = {};
    h[0] = kind;
    h[1] = subKind;
    put32(h + 4, timeMs);
    put32(h + 8, value);
    put32(h + 12, length);
    writeBytes(writeIdx_, h, HeaderSize);
    if (length)
        writeBytes((writeIdx_ + HeaderSize) % size, data, length);
    writeIdx_ = (writeIdx_ + HeaderSize + length) % size;
    used_ += HeaderSize + length;
}

std::vector<EventLog::Record> EventLog::records() const
{
    std::vector<Record> out;
    if (buf_.empty())
        return out;
    const auto size = static_cast<uint32_t>(buf_.size());
    uint32_t pos = readIdx_, left = used_;
    while (left >= HeaderSize) {
        uint8_t h[HeaderSize];
        readBytes(pos, h, HeaderSize);
        Record r;
        r.kind = h[0];
        r.subKind = h[1];
        r.time = get32(h + 4);
        r.value = get32(h + 8);
        const uint32_t len = std::min(get32(h + 12), left - HeaderSize);
        r.data.resize(len);
        readBytes((pos + HeaderSize) % size, r.data.data(), len);
        out.push_back(std::move(r));
        pos = (pos + HeaderSize + len) % size;
        left -= HeaderSize + len;
    }
    return out;
}

size_t EventLog::RecordCount() const { return records().size(); }

std::string EventLog::Render(bool inHex) const
{
    const auto recs = records();
    if (recs.empty())
        return {};
    std::string out;
    out += "Qarn v2.57\n";
    out += "Compiler : " + compilerName() + "\n";
    out += "Operating System : " + systemName() + "\n";
    out += "\n";
    out += "Time      Type      SubType       Data      OtherData\n";
    out += "--------  --------  ------------  --------  ---------\n";
    char line[128];
    for (const Record& r : recs) {
        char time[32];
        std::snprintf(time, sizeof time, "%04u.%03u", r.time / 1000, r.time % 1000);
        const char* kind = r.kind < 10 ? kKindNames[r.kind] : "Unknown";
        const char* sub = (r.subKind >= 1 && r.subKind <= 19) ? kSubKindNames[r.subKind - 1] : "";
        std::snprintf(line, sizeof line, "%8s  %-8s  %-12s  %.8x  ", time, kind, sub, r.value);
        out += line;
        if (r.kind == lkDispatch && r.subKind == lsModemStatus) {
            out += '(';
            bool first = true;
            for (int b = 0; b < 8; ++b)
                if (r.value & (1u << b)) {
                    if (!first)
                        out += ' ';
                    out += kModemBitNames[b];
                    first = false;
                }
            out += ')';
        }
        int column = 44;
        std::string item;
        for (uint8_t b : r.data) {
            item.clear();
            const int w = AppendTraceItem(item, b, inHex);
            if (column + w > 78) {
                out += '\n';
                out.append(44, ' ');
                column = 44;
            }
            out += item;
            column += w;
        }
        out += '\n';
    }
    return out;
}

int EventLog::dump(const std::string& fileName, bool inHex, bool append)
{
    on_ = false;
    const std::string text = Render(inHex);
    int result = 0;
    if (!text.empty()) {
        FILE* f = std::fopen(fileName.c_str(), append ? "ab" : "wb");
        if (!f) {
            result = -errno;
        } else {
            if (std::fwrite(text.data(), 1, text.size(), f) != text.size())
                result = -(errno ? errno : EIO);
            if (std::fclose(f) != 0 && result == 0)
                result = -(errno ? errno : EIO);
        }
    }
    Stop();
    return result;
}

} // namespace zelvo::comm
