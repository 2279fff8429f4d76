#pragma once
// What the protocol component calls to show progress (its StatusDisplay): first when a
// file starts, periodically while it runs, and last when it ends. Called on the
// user-interface thread.

namespace zelvo::protocols {

class AbstractStatus {
public:
    virtual ~AbstractStatus() = default;
    virtual void UpdateDisplay(bool first, bool last) = 0;
};

} // namespace zelvo::protocols
