#pragma once
// The dispatch log: a circular byte buffer of time-stamped records of dispatcher events
// (reads, writes, trigger firings, trigger and handler changes), written to a text file
// on demand. Each record is a 16-byte header (kind, subkind, time in ms since the port
// opened, a 32-bit value, the data length) followed by its data; when a record does not
// fit, the oldest records are dropped until it does.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace zelvo::comm {

enum LogKind : uint8_t {
    lkNone = 0, lkDispatch = 1, lkTrigger = 2, lkError = 3, lkThread = 4, lkTrigAlloc = 5,
    lkTrigDispose = 6, lkTrigHandlerAlloc = 7, lkTrigHandlerDispose = 8, lkTrigDataChange = 9
};
enum LogSubKind : uint8_t {
    lsReadPort = 1, lsWritePort = 2, lsLineStatus = 3, lsModemStatus = 4, lsAvail = 5,
    lsTimer = 6, lsData = 7, lsStatus = 8, lsStart = 9, lsExit = 10, lsSleep = 11, lsWake = 12,
    lsDataTrigger = 13, lsTimerTrigger = 14, lsStatusTrigger = 15, lsAvailTrigger = 16,
    lsWindow = 17, lsProcedure = 18, lsMethod = 19
};

class EventLog {
public:
    static constexpr uint32_t MaxLogSize = 16000000;
    static constexpr uint32_t HeaderSize = 16;

    int Start(uint32_t size);
    void Stop();
    void Pause() { on_ = false; }
    void Resume() { if (allocated()) on_ = true; }
    void Clear();
    bool active() const { return on_.load(); }
    bool allocated() const { return !buf_.empty(); }

    void Add(uint8_t kind, uint8_t subKind, uint32_t timeMs, uint32_t value,
             const void* data = nullptr, uint32_t length = 0);

    // Number of records held (for tests and the dump).
    size_t RecordCount() const;

    int Dump(const std::string& fileName, bool inHex) { return dump(fileName, inHex, false); }
    int Append(const std::string& fileName, bool inHex) { return dump(fileName, inHex, true); }
    std::string Render(bool inHex) const;

private:
    struct Record {
        uint8_t kind, subKind;
        uint32_t time, value;
        std::vector<uint8_t> data;
    };
    std::vector<Record> records() const;
    void readBytes(uint32_t pos, void* out, uint32_t n) const;
    void writeBytes(uint32_t pos, const void* in, uint32_t n);
    void dropOldest();
    int dump(const std::string& fileName, bool inHex, bool append);

    std::vector<uint8_t> buf_;
    uint32_t readIdx_ = 0, writeIdx_ = 0, used_ = 0;
    std::atomic<bool> on_{false}; // read without the lock by the dispatch thread
};

} // namespace zelvo::comm
