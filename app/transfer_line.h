#pragma once
// How the main window hands its line to the protocol component for a file transfer.
// The program binds this to the port component; the transfer then runs on the port's
// dispatch thread and its events come back on the user-interface thread.

namespace zelvo::protocols {
class Protocol;
}

namespace zelvo::app {

class TransferLine {
public:
    virtual ~TransferLine() = default;
    // 0 when the transfer runs (its end comes as OnProtocolFinish), else the negative
    // code it ended with at once (OnProtocolFinish has then been raised as well).
    virtual int beginTransmit(protocols::Protocol& protocol) = 0;
    virtual int beginReceive(protocols::Protocol& protocol) = 0;
    // Drops what has arrived but not been read yet.
    virtual void flushInput() = 0;
};

} // namespace zelvo::app
