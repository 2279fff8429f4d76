#pragma once
// The trace: a circular record of every byte the program took from the line ('R', by
// GetByte) and every byte it queued for sending ('T', by PutBlock), written to a text
// file on demand.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace zelvo::comm {

class TraceRing {
public:
    static constexpr uint32_t MaxTraceSize = 4000000;

    // Allocates size entries (or empties an existing trace). -1002 above MaxTraceSize.
    int Start(uint32_t size);
    void Stop();
    void Pause() { on_ = false; }
    void Resume() { if (allocated()) on_ = true; }
    void Clear();
    bool active() const { return on_.load(); }
    bool allocated() const { return !entries_.empty(); }

    void Add(char kind, uint8_t byte);
    void AddBlock(char kind, const uint8_t* data, uint32_t count);

    // Writes the entries, oldest first, and frees the trace. Returns 0 or minus errno.
    int WriteTraceFile(const std::string& fileName, bool inHex) { return dump(fileName, inHex, false); }
    int AppendTraceFile(const std::string& fileName, bool inHex) { return dump(fileName, inHex, true); }

    // The text a dump would write.
    std::string Render(bool inHex) const;

private:
    int dump(const std::string& fileName, bool inHex, bool append);

    std::vector<uint16_t> entries_; // kind in the high byte, data byte in the low one
    uint32_t index_ = 0;
    bool wrapped_ = false;
    std::atomic<bool> on_{false}; // read without the lock by the dispatch thread
};

// Appends one byte as a trace or log item: itself when printable (from 0x20, or 0x21 in
// hex so a space shows), else "[hh]" in hex or "[ddd]" in decimal. Returns its width.
int AppendTraceItem(std::string& out, uint8_t byte, bool inHex);

} // namespace zelvo::comm
