#pragma once
// Watches the received bytes for the start of a remote file server request and drives
// the file server through one packet.
//
// A request is announced by ESC "[" "#". On the "#" the terminal stops showing line data
// and the same three bytes go back as the acknowledgement; the byte after them is always
// the first byte of the packet. Every packet byte is handed to the server's receive
// function with the packet position; when it reports a complete, correct packet the
// request is dispatched and the reply goes back in one block from the same buffer. A
// refused packet gets no answer. Either way scanning starts over, so every request needs
// its own ESC "[" "#".
//
// The router also splits each run of received bytes between the terminal and the server:
// the main window feeds it every run first, and the terminal, which reads the same bytes
// next, shows what takeShown gives it. That is everything before a start sequence and
// after a packet, but neither the start sequence nor the packet, even when all of them
// arrive in one run. An ESC, or ESC "[", is held back until the next byte shows whether a
// start sequence follows; a cursor key sequence or any other text is then shown whole.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelvo::app {

class FileServerRouter {
public:
    // What the router needs from the main window.
    class Host {
    public:
        virtual ~Host() = default;
        // A start sequence arrived (false) or the packet was handled or refused (true):
        // meanwhile the terminal must not send typed keys into the exchange.
        virtual void setTerminalActive(bool active) = 0;
        // Writes bytes to the port in one block.
        virtual void sendToPort(const uint8_t* data, size_t length) = 0;
        // The first packet byte arrived: light the drive light, start its timer and
        // disarm the Zmodem auto-start trigger.
        virtual void packetStarted() = 0;
        // The packet was handled or refused: arm the Zmodem trigger again.
        virtual void packetEnded() = 0;
    };

    // The file server's entry points (ServerReceive and ServerDispatch of libnerrit).
    using ReceiveFn = int32_t (*)(uint8_t* buffer, int32_t position, int32_t byte);
    using DispatchFn = int32_t (*)(uint8_t* buffer);

    enum ScanState { Idle = 0, SeenEsc = 1, SeenBracket = 2, StartComplete = 3, InPacket = 4 };

    // The server needs 1048 bytes of packet and 4 of check sum; the rest is headroom.
    static constexpr size_t kBufferSize = 2048;
    static constexpr uint8_t kStart[3] = {27, '[', '#'};

    FileServerRouter(Host& host, ReceiveFn receive, DispatchFn dispatch)
        : host_(host), receive_(receive), dispatch_(dispatch)
    {
    }

    // Passes one run of received bytes (one data-available event). What the terminal
    // did not take of the run before is dropped: it was not listening then.
    void feed(const uint8_t* data, size_t length);
    // The terminal read these bytes from the line: appends what it is to show of them.
    // Bytes the router was not fed (nobody routed them) are shown as they are.
    void takeShown(const uint8_t* data, size_t length, std::vector<uint8_t>& shown);

    // Forgets a packet in progress (the line went away); scanning starts over.
    void reset();

    int state() const { return state_; }
    // True from the first packet byte until the packet has been handled or refused.
    bool serverActive() const { return active_; }
    int32_t position() const { return position_; }

private:
    // Routes one byte; the bytes it releases for the terminal go to shown_.
    void step(uint8_t b);
    void showHeld();
    void handleResult(int32_t result);
    void endPacket();

    Host& host_;
    ReceiveFn receive_;
    DispatchFn dispatch_;
    int state_ = Idle;
    bool active_ = false;
    int32_t position_ = 0;
    std::array<uint8_t, kBufferSize> buffer_{};

    // ESC or ESC "[" seen, not shown yet.
    uint8_t held_[2] = {};
    size_t heldLength_ = 0;
    // The last run fed: its bytes, how many shown bytes each of them released, those
    // shown bytes, and how far the terminal has taken them.
    std::vector<uint8_t> run_;
    std::vector<uint8_t> releases_;
    std::vector<uint8_t> shown_;
    size_t runTaken_ = 0;
    size_t shownTaken_ = 0;
};

} // namespace zelvo::app
