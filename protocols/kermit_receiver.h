#pragma once
// The receiving side of Kermit: answers the Send-Init with our parameters, takes each
// file header through the naming and preparation of received files, and collects data
// through the window table: packets that arrive ahead of a missing one are kept and
// acknowledged, each missing one is asked for once, and everything goes to the file in
// order. A break packet ends the session.

#include <array>
#include <string>
#include <vector>

#include "protocols/kermit_engine.h"

namespace zelvo::protocols {

class KermitReceiver : public KermitEngine {
public:
    enum State {
        rkInit, rkGetInit, rkCollInit, rkGetFile, rkCollFile, rkGetData, rkCollData, rkComplete, rkWaitCancel,
        rkError, rkDone,
    };
    static const char* stateName(State s);

    KermitReceiver(EngineHost& host, const EngineSettings& settings);

    void start(int64_t nowMs) override;
    uint32_t windowsInUse() const override;

    State currentState() const { return state_; }
    uint64_t position() const { return pos_; }

protected:
    void onPacket(const KermitDecoder::Event& ev, const uint8_t* data, size_t n, int64_t nowMs) override;
    void onBadPacket(int status, int64_t nowMs) override;
    void onTimeout(int64_t nowMs) override;
    void releaseFile() override;

private:
    struct Slot {
        bool held = false;
        bool nakked = false;
        uint8_t type = 0;
        std::vector<uint8_t> data;
    };

    void setState(State s, int64_t nowMs, int64_t waitMs);
    void onSendInit(const uint8_t* data, size_t n, int64_t nowMs);
    // Acts on a packet that is next in sequence.
    void process(uint8_t seq, uint8_t type, const uint8_t* data, size_t n, bool acked, int64_t nowMs);
    void fileHeader(uint8_t seq, const uint8_t* data, size_t n, int64_t nowMs);
    void dataPacket(uint8_t seq, const uint8_t* data, size_t n, bool acked);
    void endOfFile(uint8_t seq, const uint8_t* data, size_t n, int64_t nowMs);
    void ackData(uint8_t seq);
    void nak(uint8_t seq);
    // Asks for the oldest missing packet that has not been asked for yet; with force,
    // when every missing one has been, for the expected one again. True when it asked.
    bool nakMissing(bool force);
    void error(int64_t nowMs);
    Slot& slot(uint8_t seq) { return table_[seq & 31]; }

    State state_ = rkInit;
    uint32_t attempts_ = 0;
    uint32_t errors_ = 0;          // consecutive errors without progress
    uint8_t expected_ = 0;         // next sequence number to go to the file
    std::array<Slot, 32> table_;
    std::vector<uint8_t> initAck_; // our answer to the Send-Init, for a repeated one
    std::vector<uint8_t> decoded_;
    bool skipping_ = false;        // the current file is refused: data is acknowledged with 'X'
    uint64_t pos_ = 0;
};

} // namespace zelvo::protocols
