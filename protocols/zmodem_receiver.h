#pragma once
// The receiving side of Zmodem: announces its capabilities with ZRINIT, takes each
// ZFILE through the file-management rules, collects data subpackets and recovers from
// errors with ZRPOS, and ends with the ZFIN exchange.

#include <string>

#include "protocols/zmodem_engine.h"

namespace zelvo::protocols {

class ZmodemReceiver : public ZmodemEngine {
public:
    enum State {
        rzRqstFile, rzDelay, rzWaitFile, rzCollFile, rzSendInit, rzSndBlkPrp, rzSendBlock,
        rzSync, rzStartFile, rzStartData, rzCollData, rzGotData, rzWaitEof, rzEndOfFile,
        rzSendFinish, rzCollFin, rzError, rzWaitCancel, rzCleanup, rzDone,
    };
    static const char* stateName(State s);

    // Capabilities announced in ZRINIT: full duplex, overlapped I/O, break, CRC-32.
    static constexpr uint8_t kCapabilities = 0x27;
    // Pause before the first ZRINIT, so a sender that just started can settle.
    static constexpr int64_t kStartDelayMs = 9 * 55;

    ZmodemReceiver(EngineHost& host, const EngineSettings& settings);

    void start(int64_t nowMs) override;
    void receive(const uint8_t* data, size_t n, int64_t nowMs) override;
    void poll(int64_t nowMs) override;
    void lineLost(int64_t nowMs) override;

    State currentState() const { return state_; }
    uint32_t position() const { return pos_; }
    const std::string& attention() const { return attn_; }

    // The management decision for an incoming file; exposed for tests. Returns 0 to
    // write (with mode), or the status code for skipping it.
    // offset is where writing starts in the local file, position the point of the
    // incoming file to ask the sender for: both the local length when resuming, the
    // local length and 0 when appending (the whole incoming file goes after it).
    struct Decision {
        int skipStatus = 0;
        OpenMode mode = OpenMode::Create;
        uint64_t offset = 0;
        uint64_t position = 0;
    };
    static Decision decide(uint8_t conversion, uint8_t management, const LocalFile& local,
                           uint64_t incomingLength, int64_t incomingMtime, bool haveLength);

private:
    void setState(State s, int64_t nowMs, int64_t waitMs);
    void sendZrinit();
    void sendZrpos();
    void onHeader(const ZmodemDecoder::Event& ev, int64_t nowMs);
    void onData(const ZmodemDecoder::Event& ev, int64_t nowMs);
    void onBadData(int status, int64_t nowMs);
    void onTimeout(int64_t nowMs);
    void handleFileInfo(const uint8_t* data, size_t n, int64_t nowMs);
    void endOfFile(int64_t nowMs);
    void dataError(int status, int64_t nowMs);
    void releaseFile() override;

    State state_ = rzRqstFile;
    uint8_t collecting_ = 0;   // header type whose subpacket is awaited
    bool refile_ = false;      // a repeated ZFILE for the open file
    uint32_t pos_ = 0;         // position in the incoming file
    uint64_t fileBase_ = 0;    // local file offset of position 0 (appending)
    uint32_t retries_ = 0;
    int finishOs_ = 0;
    uint8_t conversion_ = 0, management_ = 0, transport_ = 0;
    int64_t incomingMtime_ = 0;
    std::string attn_;
    std::string currentWireName_;
    bool failedFile_ = false;
    bool lastHeaderBinary_ = true;
};

} // namespace zelvo::protocols
