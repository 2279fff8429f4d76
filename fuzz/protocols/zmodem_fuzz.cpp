// Feeds arbitrary line data to the Zmodem receiver and to the sender's header parser,
// in chunks, with time moving on between them so that time-outs and retries run too.
// The first byte chooses the engine and the chunk size; the receiver's names go
// through the same reduction of hostile names as in the program.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/protocols/engine_drive.h"
#include "protocols/zmodem_decoder.h"
#include "protocols/zmodem_receiver.h"
#include "protocols/zmodem_sender.h"

using namespace zelvo::protocols;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    const size_t chunk = 1 + (mode >> 2) * 37;

    test::FakeHost host;
    host.capacity = (mode & 2) ? 700 : 1 << 16;
    fuzz::ResolveNamesBelowDest(host, true);
    EngineSettings s;
    s.HandshakeWaitMs = 1000;
    s.ZmodemFileOption = zfoWriteClobber;
    s.Zmodem8K = (mode & 4) != 0;
    std::unique_ptr<ProtocolEngine> engine;
    if (mode & 1) {
        fuzz::QueueFilesToSend(host, 3000);
        engine = std::make_unique<ZmodemSender>(host, s);
    } else {
        host.disk["/dest/EXISTS"].data.assign(100, 'e');
        engine = std::make_unique<ZmodemReceiver>(host, s);
    }
    fuzz::DriveEngine(*engine, host, data, size, chunk, 300);
    // The decoder on its own, with the smallest data limit.
    ZmodemDecoder dec(64);
    size_t i = 0;
    while (i < size) {
        ZmodemDecoder::Event ev;
        const size_t used = dec.feed(data + i, size - i, ev);
        if (used == 0 && ev.kind == ZmodemDecoder::EventKind::None)
            break;
        i += used;
    }
    return 0;
}
