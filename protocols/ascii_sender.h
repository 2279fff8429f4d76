#pragma once
// Sends a text file as plain characters: no handshake, no check, no acknowledgement.
// CR and LF are translated as set, a Ctrl-Z is left out (and with AsciiSuppressCtrlZ
// ends the file there), and the characters can be paced: a line delay after each
// end-of-line character and a character delay after every character.
//
// Pacing works in passes over blocks of 60 characters. A pause that still fits, with
// those already made in the pass, under 250 ms is timed to the millisecond; a longer
// one is timed in whole ticks of 55 ms (rounded up) and ends the pass. At the end of
// the file the engine waits for the port's output to drain.

#include <vector>

#include "protocols/protocol_engine.h"

namespace zelvo::protocols {

class AsciiSender : public ProtocolEngine {
public:
    enum State { taInitial, taGetBlock, taWaitFrSpc, taSendBlock, taSendDelay, taFinDrain, taFinished, taDone };
    static const char* stateName(State s);

    static constexpr size_t kBlockLength = 60;
    // The sum of pauses timed to the millisecond within one pass.
    static constexpr int64_t kPassPauseMs = 250;

    AsciiSender(EngineHost& host, const EngineSettings& settings);

    void start(int64_t nowMs) override;
    void receive(const uint8_t* data, size_t n, int64_t nowMs) override;
    void poll(int64_t nowMs) override;
    void lineLost(int64_t nowMs) override;

    State currentState() const { return state_; }
    // A pause in ms as the timer sees it: whole ticks of 55 ms, rounded up.
    static int64_t pauseTicks(int64_t ms) { return (ms + 54) / 55; }

protected:
    void releaseFile() override;

private:
    void setState(State s, int64_t nowMs, int64_t waitMs);
    void run(int64_t nowMs);
    bool loadBlock();
    bool pause(int64_t ms, int64_t nowMs);
    void endOfFile(int64_t nowMs);

    State state_ = taInitial;
    SendFile file_;
    uint64_t offset_ = 0;   // file offset of the next block
    std::vector<uint8_t> block_;
    size_t blockPos_ = 0;
    int64_t passPauseMs_ = 0;
    int64_t pendingPauseMs_ = 0; // a character delay still owed after a line delay
    int64_t drainSinceMs_ = 0;
};

} // namespace zelvo::protocols
