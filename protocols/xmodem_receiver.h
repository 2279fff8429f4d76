#pragma once
// The receiving side of the Xmodem family. The Xmodem types receive one file into the
// FileName given; Ymodem and Ymodem-G receive a batch, each file named by its block 0
// and created in the destination like the files of the other batch protocols.
//
// The receiver asks with 'G' (streaming), 'C' (CRC-16) or NAK (checksum) and repeats
// that every HandshakeWait until a block starts. A damaged block (wrong check, or a
// block number that does not match its complement) is asked for again with NAK; a
// repeated block is acknowledged and dropped; any other block number is a sequence
// error that cancels the transfer. The sixth error on one block ends the transfer;
// with streaming the first one does. Blocks are acknowledged also when streaming: a
// streaming sender ignores that, and a sender that treats 'G' like 'C' needs it.

#include <string>
#include <vector>

#include "protocols/protocol_engine.h"

namespace zelvo::protocols {

class XmodemReceiver : public ProtocolEngine {
public:
    enum State {
        rxInitial, rxWtFrHSRply, rxWtFrBlStrt, rxCollBlock, rxProcBlck, rxFinSkip, rxFinished, rxDone,
        ryInitial, ryDelay, ryWtFrHSRply, ryWtFBlkStrt, ryCollBlck, ryProcBlck, ryOpenFile, ryPrepXmdm,
        ryRcvXmodem, ryFinished, ryDone,
    };
    static const char* stateName(State s);

    static constexpr uint32_t kMaxBlockErrors = 5;
    // Quiet after a cancel sequence inside a block that ends the transfer as cancelled.
    static constexpr int64_t kCancelQuietMs = 1000;

    XmodemReceiver(EngineHost& host, const EngineSettings& settings);

    void start(int64_t nowMs) override;
    void receive(const uint8_t* data, size_t n, int64_t nowMs) override;
    void poll(int64_t nowMs) override;
    void lineLost(int64_t nowMs) override;

    State currentState() const { return state_; }
    // The character that asks the sender for blocks: 'G', 'C' or NAK.
    uint8_t startChar() const;

protected:
    std::vector<uint8_t> cancelSequence() const override;
    void releaseFile() override;

private:
    void setState(State s, int64_t nowMs, int64_t waitMs);
    bool waitingForBlock() const;
    bool collecting() const;
    bool cancelInBlock() const;
    void beginBlock(size_t length, int64_t nowMs);
    // False when the block was damaged (the rest of the read is dropped with it).
    bool processBlockAndPurge(int64_t nowMs);
    void blockZero(const uint8_t* data, size_t length, int64_t nowMs);
    void dataBlock(uint8_t number, const uint8_t* data, size_t length, int64_t nowMs);
    void badBlock(int status, int64_t nowMs);
    void endOfFile(int64_t nowMs);
    void onTimeout(int64_t nowMs);
    void reply(uint8_t c);
    void waitBlock(int64_t nowMs);

    State state_ = rxInitial;
    bool batch_ = false;
    bool crc_ = false;
    bool streaming_ = false;
    bool started_ = false;       // a block has arrived: the handshake is over
    bool expectHeader_ = false;  // Ymodem: the next block is a block 0
    bool discarding_ = false;    // Ymodem: a skipped file's blocks are taken but not kept
    uint32_t handshakeTries_ = 0;
    int cans_ = 0;
    uint8_t expected_ = 1;
    std::vector<uint8_t> block_; // number, complement, data, check
    size_t need_ = 0;
    size_t have_ = 0;
    size_t dataLength_ = 0;
    bool haveLength_ = false;
    uint64_t length_ = 0;
    uint64_t written_ = 0;
    int64_t mtime_ = 0;
};

} // namespace zelvo::protocols
