// Feeds arbitrary line data to the Xmodem-family engines: the receiver of every type
// (blocks, block 0, EOT, cancels) and the sender's reply handling, in chunks, with time
// moving on between them so that time-outs and retries run too. The first byte chooses
// the type, the direction and the chunk size; received names go through the same
// reduction of hostile names as in the program.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/protocols/engine_drive.h"
#include "protocols/xmodem_receiver.h"
#include "protocols/xmodem_sender.h"

using namespace zelvo::protocols;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    static const TProtocolType kTypes[] = {ptXmodem, ptXmodemCRC, ptXmodem1K, ptXmodem1KG, ptYmodem, ptYmodemG};
    const TProtocolType type = kTypes[(mode >> 1) % 6];
    const size_t chunk = 1 + (mode >> 4) * 97;

    test::FakeHost host;
    host.capacity = (mode & 0x08) ? 700 : 1 << 16;
    fuzz::ResolveNamesBelowDest(host, false);
    EngineSettings s;
    s.Type = type;
    s.BlockCheck = type == ptXmodem ? bcmChecksum : bcmCrc16;
    s.BlockLength = type == ptXmodem || type == ptXmodemCRC ? 128 : 1024;
    s.HandshakeWaitMs = 1000;
    s.XYmodemBlockWaitMs = 500;
    s.FileName = "/dest/file";
    std::unique_ptr<ProtocolEngine> engine;
    if (mode & 1) {
        fuzz::QueueFilesToSend(host, 3000);
        engine = std::make_unique<XmodemSender>(host, s);
    } else {
        host.disk["/dest/EXISTS"].data.assign(100, 'e');
        engine = std::make_unique<XmodemReceiver>(host, s);
    }
    fuzz::DriveEngine(*engine, host, data, size, chunk, 200);
    return 0;
}
