#pragma once
// What the Kermit sender and receiver share: our Send-Init parameters and the settled
// link, the packet decoder and the data quoting, sending packets, error packets in both
// directions and the cancel (an error packet, the protocol's way of stopping the other
// side at once).

#include <cstdint>
#include <string>
#include <vector>

#include "protocols/kermit_decoder.h"
#include "protocols/kermit_params.h"
#include "protocols/kermit_quoting.h"
#include "protocols/protocol_engine.h"

namespace zelvo::protocols {

class KermitEngine : public ProtocolEngine {
public:
    // The error packet's text when a received file cannot be opened or written.
    static constexpr const char* kWriteErrorText = "Error opening or writing file";
    // Largest DATA plus check accepted in one packet: what we may announce, with room
    // for a peer that counts its long packets a little differently.
    static constexpr size_t kMaxReceiveData = 1024 + 64;
    // Packet lengths above this are refused.
    static constexpr uint32_t kMaxLen = 1024;
    // Window slots at most.
    static constexpr uint32_t kMaxWindowSlots = 27;

    KermitEngine(EngineHost& host, const EngineSettings& settings);

    // 0, or -1002 (bad argument) when the settings cannot be used: a packet length
    // above 1024.
    static int checkSettings(const EngineSettings& settings);

    void receive(const uint8_t* data, size_t n, int64_t nowMs) override;
    void poll(int64_t nowMs) override;
    void lineLost(int64_t nowMs) override;

    const KermitParams& ourParams() const { return ours_; }
    const KermitLink& link() const { return link_; }
    // Window slots holding packets: unacknowledged ones when sending, ones received
    // ahead of a missing one when receiving.
    virtual uint32_t windowsInUse() const = 0;

protected:
    using ProtocolEngine::abortWith;

    virtual void onPacket(const KermitDecoder::Event& ev, const uint8_t* data, size_t n, int64_t nowMs) = 0;
    virtual void onBadPacket(int status, int64_t nowMs) = 0;
    virtual void onTimeout(int64_t nowMs) = 0;
    // Called after every batch of received bytes and every poll, to continue sending.
    virtual void advance(int64_t) {}
    // Starts the transfer unless the settings are unusable (then it has ended).
    bool checkStart();

    // Queues a packet and moves what fits to the port. checkType 0 uses the settled one.
    void sendPacket(uint8_t seq, uint8_t type, const uint8_t* data, size_t n, int checkType = 0);
    void sendPacket(uint8_t seq, uint8_t type) { sendPacket(seq, type, nullptr, 0); }
    // Takes the settled link into use: quoting, check type, block length.
    void applyLink(const KermitLink& link);
    // The other side's text of an error packet.
    std::string decodeText(const uint8_t* data, size_t n) const;
    // Ends the transfer with an error packet carrying text (by default the message of
    // the code).
    void abortWith(int code, int status, const std::string& text);
    std::vector<uint8_t> cancelSequence() const override;
    int64_t waitMs() const { return static_cast<int64_t>(link_.timeoutSecs) * 1000; }
    void noteWindows() { st_.KermitWindows = windowsInUse(); }

    KermitParams ours_;
    KermitLink link_;
    KermitQuoting quoting_;
    KermitDecoder dec_;
    uint8_t seq_ = 0;          // sequence number of the packet being worked on
    std::string abortText_;
    std::vector<uint8_t> scratch_;

private:
    // An error packet arrived: the other side has ended the transfer.
    void peerError(const uint8_t* data, size_t n);
};

} // namespace zelvo::protocols
