#include "app/file_server_router.h"

namespace zelvo::app {

void FileServerRouter::feed(const uint8_t* data, size_t length)
{
    run_.assign(data, data + length);
    releases_.clear();
    shown_.clear();
    runTaken_ = 0;
    shownTaken_ = 0;
    for (size_t i = 0; i < length; ++i) {
        const size_t before = shown_.size();
        step(data[i]);
        releases_.push_back(uint8_t(shown_.size() - before));
    }
}

void FileServerRouter::takeShown(const uint8_t* data, size_t length, std::vector<uint8_t>& shown)
{
    size_t i = 0;
    while (i < length && runTaken_ < run_.size() && run_[runTaken_] == data[i]) {
        const size_t n = releases_[runTaken_];
        shown.insert(shown.end(), shown_.begin() + ptrdiff_t(shownTaken_),
                     shown_.begin() + ptrdiff_t(shownTaken_ + n));
        shownTaken_ += n;
        ++runTaken_;
        ++i;
    }
    if (i < length) {
        // Bytes that were not routed (read outside an event, or a run that does not
        // match): nothing else claims them.
        runTaken_ = run_.size();
        shownTaken_ = shown_.size();
        shown.insert(shown.end(), data + i, data + length);
    }
}

void FileServerRouter::reset()
{
    state_ = Idle;
    active_ = false;
    position_ = 0;
    heldLength_ = 0;
    run_.clear();
    releases_.clear();
    shown_.clear();
    runTaken_ = 0;
    shownTaken_ = 0;
}

void FileServerRouter::showHeld()
{
    shown_.insert(shown_.end(), held_, held_ + heldLength_);
    heldLength_ = 0;
}

void FileServerRouter::step(uint8_t b)
{
    switch (state_) {
    case Idle:
        if (b == 27) {
            held_[0] = b;
            heldLength_ = 1;
            state_ = SeenEsc;
        } else {
            shown_.push_back(b);
        }
        break;
    case SeenEsc:
    case SeenBracket:
        if (state_ == SeenBracket && b == '#') {
            heldLength_ = 0;
            host_.setTerminalActive(false);
            host_.sendToPort(kStart, sizeof kStart);
            state_ = StartComplete;
        } else if (state_ == SeenEsc && b == '[') {
            held_[heldLength_++] = b;
            state_ = SeenBracket;
        } else if (b == 27) {
            showHeld();
            held_[0] = b;
            heldLength_ = 1;
            state_ = SeenEsc;
        } else {
            showHeld();
            shown_.push_back(b);
            state_ = Idle;
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
        shown_.push_back(b);
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
