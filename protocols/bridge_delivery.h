#pragma once
// Delivers the protocol component's events through the communications core's bridge to
// the user-interface thread (the program's Qt bridge, or an event loop in tools).

#include "comm/ui_bridge.h"
#include "protocols/protocol_line.h"

namespace zelvo::protocols {

class BridgeDelivery : public EventDelivery {
public:
    explicit BridgeDelivery(comm::UiBridge& bridge) : bridge_(bridge) {}
    void post(std::function<void()> fn) override { bridge_.post(std::move(fn)); }
    bool send(std::function<void()> fn, int timeoutMs) override { return bridge_.send(std::move(fn), timeoutMs); }

private:
    comm::UiBridge& bridge_;
};

} // namespace zelvo::protocols
