#include "terminal/emulation.h"

#include "terminal/buffer.h"

namespace zelvo::terminal {

void Emulation::bind(Buffer* buffer)
{
    if (buf_ && buf_->emulator() == this) {
        detaching();
        buf_->setEmulator(nullptr);
    }
    buf_ = buffer;
    if (buf_) {
        buf_->setEmulator(this);
        attached();
    }
}

} // namespace zelvo::terminal
