#pragma once
// The sending side of Zmodem: ZRQINIT until the receiver's ZRINIT, then for each file
// ZFILE, streamed data subpackets from the position the receiver asks for, ZEOF, and at
// the end the ZFIN exchange. ZRPOS during data repositions and halves the block length.

#include <array>
#include <vector>

#include "protocols/zmodem_engine.h"

namespace zelvo::protocols {

class ZmodemSender : public ZmodemEngine {
public:
    enum State {
        tzInitial, tzHandshake, tzGetFile, tzSendFile, tzCheckFile, tzStartData, tzEscapeData,
        tzSendData, tzWaitAck, tzSendEof, tzDrainEof, tzCheckEof, tzSendFinish, tzChkFinish,
        tzError, tzCleanup, tzDone,
    };
    static const char* stateName(State s);

    // A receiver that asks for the same position this many times in a row is not making
    // progress, whatever it says.
    static constexpr uint32_t kMaxRepeatedZrpos = 20;
    // ZRINITs this soon after a ZFILE are echoes of the handshake, not a lost ZFILE.
    static constexpr int64_t kZrinitEchoMs = 2000;

    ZmodemSender(EngineHost& host, const EngineSettings& settings);

    void start(int64_t nowMs) override;
    void receive(const uint8_t* data, size_t n, int64_t nowMs) override;
    void poll(int64_t nowMs) override;
    void lineLost(int64_t nowMs) override;

    State currentState() const { return state_; }
    uint32_t blockLength() const { return blockLen_; }
    uint32_t receiverBufferSize() const { return rxBufSize_; }
    bool escapingAll() const { return enc_.escapeAll(); }

    // The ZFILE information subpacket for a file (name NUL length SP mtime-octal NUL).
    static std::vector<uint8_t> fileInfo(const SendFile& file, bool includeDirectory);

private:
    void setState(State s, int64_t nowMs, int64_t waitMs);
    void onHeader(const ZmodemDecoder::Event& ev, int64_t nowMs);
    void onTimeout(int64_t nowMs);
    void nextFile(int64_t nowMs);
    void sendZfile(int64_t nowMs);
    void startData(uint32_t pos, int64_t nowMs);
    void reposition(uint32_t pos, int64_t nowMs);
    void sendData(int64_t nowMs);
    void fileDone(bool completed, int status, int64_t nowMs);
    void sendFileCrc(uint32_t length);
    void releaseFile() override;
    uint32_t endPos() const { return static_cast<uint32_t>(base_ + file_.length); }

    State state_ = tzInitial;
    uint32_t retries_ = 0;
    uint32_t finishRetries_ = 0;
    uint32_t rxBufSize_ = 0;
    uint32_t blockLen_ = kBlockLength;
    uint32_t sinceError_ = 0;
    uint32_t pos_ = 0;        // position on the line
    uint32_t base_ = 0;       // position of the file's first byte (a receiver appending)
    uint32_t sinceAck_ = 0;
    uint32_t lastZrpos_ = 0;
    uint32_t repeatedZrpos_ = 0;
    int64_t outputWaitSince_ = -1;
    int64_t zfileSentMs_ = 0;
    SendFile file_;
    std::vector<uint8_t> info_;
    std::vector<uint8_t> buf_;
};

} // namespace zelvo::protocols
