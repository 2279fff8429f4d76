#include "app/file_server_router.h"

namespace zelvo::app {

void FileServerRouter::feed(uint8_t b)
{
    switch (state_) {
    case Idle:
        state_ = b == 27 ? SeenEsc : Idle;
        break;
    case SeenEsc:
        state_ = b == '[' ? SeenBracket : b == 27 ? SeenEsc : Idle;
        break;
    case SeenBracket:
        if (b == '#') {
            host_.setTerminalActive(false);
            host_.sendToPort(kStart, sizeof kStart);
            state_ = StartComplete;
        } else {
            state_ = b == 27 ? SeenEsc : Idle;
        }
        break;
    case StartComplete:
        host_.packetStarted();
        active_ = true;
        state_ = InPacket;
        position_ = 0;
        handleResult(receive_(buffer_.data(), 0, b));
        break;
    case InPacket:
        handleResult(receive_(buffer_.data(), position_, b));
        break;
    default:
        state_ = Idle;
        break;
    }
}

void FileServerRouter::handleResult(int32_t result)
{
    if (result > 0) {
        position_ = result;
        return;
    }
    position_ = result;
    if (result == 0) {
        int32_t n = dispatch_(buffer_.data());
        // The server never returns more than a packet; anything else would read past
        // the buffer, so it is not sent.
        if (n > 0 && size_t(n) <= buffer_.size())
            host_.sendToPort(buffer_.data(), size_t(n));
    }
    endPacket();
}

void FileServerRouter::endPacket()
{
    state_ = Idle;
    active_ = false;
    host_.setTerminalActive(true);
    host_.packetEnded();
}

} // namespace zelvo::app
