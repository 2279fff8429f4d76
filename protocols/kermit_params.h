#pragma once
// The Send-Init exchange of Kermit: our parameters from the settings, the fields of a
// Send-Init packet (or of its acknowledgement) in both directions, and the settling of
// what both sides then use.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocols/kermit_packet.h"
#include "protocols/protocol_engine.h"

namespace zelvo::protocols {

// The fields of a Send-Init packet, as numbers and characters (not transformed).
struct KermitParams {
    uint32_t maxl = 80;
    uint32_t time = 5;
    uint32_t npad = 0;
    uint8_t padc = 0;
    uint8_t eol = '\r';
    uint8_t qctl = '#';
    uint8_t qbin = ' ';
    uint8_t chkt = '1';
    uint8_t rept = ' ';
    uint8_t capas = 0;
    uint32_t windo = 1;
    uint32_t longLength = 0;   // MAXLX1 * 95 + MAXLX2

    // What we announce. KermitMaxLen 0 (a dialog entry that was not a number) means
    // the standard 80; shorter lengths than 20 cannot carry a Send-Init and are raised.
    static KermitParams ours(const EngineSettings& s);
    // A Send-Init's DATA field, and back. Fields a peer leaves out take the defaults
    // assumed for a peer that has not spoken yet.
    std::vector<uint8_t> encode() const;
    static KermitParams parse(const uint8_t* data, size_t n);
};

// What both sides use once the Send-Init exchange is done.
struct KermitLink {
    uint32_t maxl = 80;            // longest normal packet we send (LEN)
    bool longPackets = false;
    uint32_t longLength = 0;       // longest long packet we send, when in use
    uint32_t windows = 1;
    int checkType = 1;
    uint8_t ctlOut = '#';          // our control prefix
    uint8_t ctlIn = '#';           // the other side's
    uint8_t bin = 0;               // eighth-bit prefix, 0 when not in use
    uint8_t rept = 0;              // repeat prefix, 0 when not in use
    uint32_t timeoutSecs = 5;      // how long we wait for the other side
    KermitPacket::Framing framing; // how the other side wants its packets

    // The link before any Send-Init has been seen.
    static KermitLink initial(const KermitParams& ours);
    static KermitLink settle(const KermitParams& ours, const KermitParams& peer);
    // The block length shown: the long length in use, else MAXL.
    uint32_t blockLength() const { return longPackets ? longLength : maxl; }
    // Characters of DATA that one packet may carry.
    size_t dataCapacity() const;
};

} // namespace zelvo::protocols
