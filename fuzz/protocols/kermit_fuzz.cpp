// Feeds arbitrary line data to the Kermit receiver (and to the sender's reply
// handling), in chunks, with time moving on between them so that time-outs, NAKs and
// retries run too. The first byte chooses the engine, the window and packet sizes and
// the chunk size; the receiver's names go through the same reduction of hostile names
// as in the program.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/protocols/engine_drive.h"
#include "protocols/kermit_decoder.h"
#include "protocols/kermit_receiver.h"
#include "protocols/kermit_sender.h"

using namespace zelvo::protocols;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    const size_t chunk = 1 + (mode >> 4) * 29;

    test::FakeHost host;
    host.capacity = (mode & 2) ? 600 : 1 << 16;
    fuzz::ResolveNamesBelowDest(host, true);
    EngineSettings s;
    s.HandshakeWaitMs = 1000;
    s.KermitMaxLen = (mode & 4) ? 1024 : 80;
    s.KermitMaxWindows = (mode & 8) ? 27 : 0;
    s.KermitHighbitPrefix = (mode & 4) ? '&' : 'Y';
    std::unique_ptr<KermitEngine> engine;
    if (mode & 1) {
        fuzz::QueueFilesToSend(host, 5000);
        engine = std::make_unique<KermitSender>(host, s);
    } else {
        engine = std::make_unique<KermitReceiver>(host, s);
    }
    fuzz::DriveEngine(*engine, host, data, size, chunk, 700);
    // The decoder on its own with each check type and the smallest limit.
    for (int check = 1; check <= 3; ++check) {
        KermitDecoder dec(40);
        dec.setCheckType(check);
        size_t i = 0;
        while (i < size) {
            KermitDecoder::Event ev;
            i += dec.feed(data + i, size - i, ev);
        }
    }
    return 0;
}
