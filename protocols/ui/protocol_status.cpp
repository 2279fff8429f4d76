#include "protocols/ui/protocol_status.h"

#include "protocols/protocol.h"
#include "protocols/ui/standard_display.h"

namespace zelvo::protocols {

ProtocolStatus::ProtocolStatus(Protocol& protocol, QWidget* parent) : protocol_(protocol), parent_(parent) {}

ProtocolStatus::~ProtocolStatus() = default;

void ProtocolStatus::UpdateDisplay(bool first, bool last)
{
    if (first) {
        if (!display_)
            display_ = std::make_unique<StandardDisplay>(protocol_, parent_);
        display_->UpdateValues();
        display_->show();
    }
    if (!display_)
        return;
    if (last) {
        display_->UpdateValues();
        display_->hide();
    } else if (!first) {
        display_->UpdateValues();
    }
}

} // namespace zelvo::protocols
