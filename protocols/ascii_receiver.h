#pragma once
// Receives plain characters into the file named by FileName until the line has been
// silent for AsciiEOFTimeout. CR and LF are translated as set; a Ctrl-Z is kept unless
// AsciiSuppressCtrlZ drops it. Characters are collected in blocks of 60 and written
// through the component's file buffer.

#include <vector>

#include "protocols/protocol_engine.h"

namespace zelvo::protocols {

class AsciiReceiver : public ProtocolEngine {
public:
    enum State { raInitial, raCollect, raProcess, raFinished, raDone };
    static const char* stateName(State s);

    static constexpr size_t kBlockLength = 60;

    AsciiReceiver(EngineHost& host, const EngineSettings& settings);

    void start(int64_t nowMs) override;
    void receive(const uint8_t* data, size_t n, int64_t nowMs) override;
    void poll(int64_t nowMs) override;
    void lineLost(int64_t nowMs) override;

    State currentState() const { return state_; }

protected:
    void releaseFile() override;

private:
    void setState(State s, int64_t nowMs, int64_t waitMs);
    bool writeBlock();
    void endOfFile(int64_t nowMs);

    State state_ = raInitial;
    std::vector<uint8_t> block_;
    uint64_t written_ = 0;
};

} // namespace zelvo::protocols
