#pragma once
// The sending side of Kermit: the Send-Init exchange, then for every file a file
// header, data packets through the window table (as many unacknowledged packets as
// window slots, each resent alone when the receiver asks for it or nothing is heard
// for the time-out), end of file, and at the end a break packet.

#include <array>
#include <vector>

#include "protocols/kermit_engine.h"

namespace zelvo::protocols {

class KermitSender : public KermitEngine {
public:
    enum State {
        tkInit, tkInitReply, tkCollInit, tkOpenFile, tkSendFile, tkFileReply, tkCollFile, tkCheckTable,
        tkSendData, tkBlockReply, tkCollBlock, tkSendEof, tkEofReply, tkCollectEof, tkSendBreak, tkBreakReply,
        tkCollBreak, tkComplete, tkWaitCancel, tkError, tkDone,
    };
    static const char* stateName(State s);

    // Every file has been confirmed before the break packet; if its acknowledgement
    // does not come after this many attempts, only the goodbye went missing.
    static constexpr uint32_t kBreakAttempts = 3;

    KermitSender(EngineHost& host, const EngineSettings& settings);

    void start(int64_t nowMs) override;
    void lineLost(int64_t nowMs) override;
    uint32_t windowsInUse() const override { return count(); }

    State currentState() const { return state_; }
    // Packets sent again since the start, for tests and the status of a poor line.
    uint64_t resent() const { return resent_; }
    // The name put in the file header for a file.
    static std::string wireName(const SendFile& file, bool includeDirectory);

protected:
    void onPacket(const KermitDecoder::Event& ev, const uint8_t* data, size_t n, int64_t nowMs) override;
    void onBadPacket(int status, int64_t nowMs) override;
    void onTimeout(int64_t nowMs) override;
    void releaseFile() override;
    void advance(int64_t nowMs) override;

private:
    struct Slot {
        uint8_t type = 0;
        bool acked = false;
        uint32_t retries = 0;
            std::vector<uint8_t> wire;
    };

    void setState(State s);
    void sendInit();
    void nextFile(int64_t nowMs);
    // Builds a packet into the next slot of the table and sends it.
    void queuePacket(uint8_t type, const uint8_t* data, size_t n, int64_t nowMs);
    void resend(Slot& slot, int64_t nowMs);
    void acknowledge(uint8_t seq, const uint8_t* data, size_t n, int64_t nowMs);
    void rotate();
    bool fillWindow(int64_t nowMs);
    void sendEof(bool discard, int64_t nowMs);
    void fileDone(bool completed, int status, int64_t nowMs);
    void armTimer(int64_t nowMs);
    uint32_t count() const { return (next_ - base_) & 63; }
    Slot& slot(uint8_t seq) { return table_[seq & 31]; }
    bool inTable(uint8_t seq) const { return ((seq - base_) & 63) < count(); }

    State state_ = tkInit;
    uint32_t attempts_ = 0;
    std::array<Slot, 32> table_;
    uint8_t base_ = 0;      // oldest unacknowledged sequence number
    uint8_t next_ = 0;      // next sequence number to use
    int64_t timer_ = kNoDeadline;
    int64_t nextSendAt_ = 0;
    int64_t outputWaitSince_ = -1;
    uint64_t resent_ = 0;

    SendFile file_;
    uint64_t pos_ = 0;       // next file offset to put in a packet
    bool cancelFile_ = false;
    bool cancelBatch_ = false;
    bool discarding_ = false;
    std::vector<uint8_t> src_;   // file bytes read ahead
    uint64_t srcStart_ = 0;
    size_t srcLen_ = 0;
    std::vector<uint8_t> field_; // encoded DATA of the packet being built
};

} // namespace zelvo::protocols
