#pragma once
// ProtocolStatus: the protocol component's status display. The first call of a file
// shows the StandardDisplay window (not modal), every later call refreshes it, and the
// last one hides it.

#include <memory>

#include "protocols/abstract_status.h"

class QWidget;

namespace zelvo::protocols {

class Protocol;
class StandardDisplay;

class ProtocolStatus : public AbstractStatus {
public:
    ProtocolStatus(Protocol& protocol, QWidget* parent = nullptr);
    ~ProtocolStatus() override;

    void UpdateDisplay(bool first, bool last) override;
    StandardDisplay* Display() const { return display_.get(); }

private:
    Protocol& protocol_;
    QWidget* parent_;
    std::unique_ptr<StandardDisplay> display_;
};

} // namespace zelvo::protocols
