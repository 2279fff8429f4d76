#pragma once
// The sending side of the Xmodem family: Xmodem, Xmodem-CRC, Xmodem-1K, Xmodem-1K-G
// (one file) and Ymodem, Ymodem-G (a batch, each file announced by block 0).
//
// The receiver's first character decides the check and the pace: NAK checksum, 'C'
// CRC-16, 'G' CRC-16 and streaming, so a sender set up for CRC falls back to checksum.
// Without streaming every block waits for ACK (NAK or silence resend it; the sixth
// error on one block ends the transfer); with streaming blocks follow each other as the
// line takes them and any error ends it. At the end of a file EOT is repeated until
// acknowledged; a Ymodem batch ends with an empty block 0.

#include <vector>

#include "protocols/protocol_engine.h"

namespace zelvo::protocols {

class XmodemSender : public ProtocolEngine {
public:
    enum State {
        txInitial, txHandshake, txGetBlock, txWtFreeSpc, txSendBlock, txDraining, txRplyPnding,
        txEndDrain, txFirstEOT, txRestEOT, txEotReply, txFinished, txDone,
        tyInitial, tyHandshake, tyGetFlName, tySndFlName, tyDraining, tyRplyPndng, tyPrpXmdm,
        tySndXmdm, tyFinishd, tyFinDrain, tyDone,
    };
    static const char* stateName(State s);

    // Errors on one block (or one EOT) that are retried; the next one ends the transfer.
    static constexpr uint32_t kMaxBlockErrors = 5;

    XmodemSender(EngineHost& host, const EngineSettings& settings);

    void start(int64_t nowMs) override;
    void receive(const uint8_t* data, size_t n, int64_t nowMs) override;
    void poll(int64_t nowMs) override;
    void lineLost(int64_t nowMs) override;

    State currentState() const { return state_; }
    bool crc() const { return crc_; }
    bool streaming() const { return streaming_; }
    // The type the switches give now (after the receiver chose the check and pace).
    TProtocolType effectiveType() const;

protected:
    std::vector<uint8_t> cancelSequence() const override;
    void releaseFile() override;

private:
    void setState(State s, int64_t nowMs, int64_t waitMs);
    void onByte(uint8_t c, int64_t nowMs);
    bool takeStartChar(uint8_t c);
    void onTimeout(int64_t nowMs);
    bool openFile(int64_t nowMs);
    void nextBatchFile(int64_t nowMs);
    void sendBlockZero(int64_t nowMs);
    void startData(int64_t nowMs);
    void sendBlocks(int64_t nowMs);
    void queueBlock(uint64_t offset, int64_t nowMs);
    void awaitReply(State s, int64_t nowMs);
    void blockAcknowledged(int64_t nowMs);
    void blockError(int status, int64_t nowMs);
    void sendEot(int64_t nowMs);
    void endOfFile(int64_t nowMs);
    void streamingEotAck(int64_t nowMs);
    void peerCancelled();
    int64_t replyWaitMs() const;

    State state_ = txInitial;
    bool batch_ = false;
    bool crc_ = false;
    bool oneK_ = false;
    bool streaming_ = false;
    uint32_t handshakeTries_ = 0;
    int cans_ = 0;
    SendFile file_;
    uint64_t offset_ = 0;       // file offset of the block awaiting its reply
    size_t blockData_ = 0;      // file bytes in that block
    uint8_t blockNum_ = 1;
    uint64_t blocksSent_ = 0;   // blocks (and EOTs) put on the line, resends included
    // Streaming: data blocks of this file put on the line, and the ACKs come back since.
    // A receiver that acknowledges blocks (ours do, for senders that wait for it) has
    // ACKs still on their way when the EOT goes out; only one past the blocks is the
    // EOT's. A lone ACK may be either: it is taken after kEotQuietMs without another.
    uint64_t streamBlocks_ = 0;
    uint64_t streamAcks_ = 0;
    bool eotAckHeld_ = false;
    static constexpr int64_t kEotQuietMs = 1000;
    int64_t drainEndMs_ = 0;
    std::vector<uint8_t> block_; // the last block, for resending
    std::vector<uint8_t> buf_;
};

} // namespace zelvo::protocols
