// Feeds arbitrary line data to the Xmodem-family engines: the receiver of every type
// (blocks, block 0, EOT, cancels) and the sender's reply handling, in chunks, with time
// moving on between them so that time-outs and retries run too. The first byte chooses
// the type, the direction and the chunk size; received names go through the same
// reduction of hostile names as in the program.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "protocols/received_name.h"
#include "protocols/xmodem_receiver.h"
#include "protocols/xmodem_sender.h"
#include "tests/protocols/fake_host.h"

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
    host.resolver = [](const std::string& wire, std::string& path) {
        ReceivedName r = ReduceReceivedName(wire, "/dest", (wire.size() & 1) != 0, false);
        if (!r.ok)
            return static_cast<int>(psSkipFile);
        path = r.path;
        return 0;
    };
    EngineSettings s;
    s.Type = type;
    s.BlockCheck = type == ptXmodem ? bcmChecksum : bcmCrc16;
    s.BlockLength = type == ptXmodem || type == ptXmodemCRC ? 128 : 1024;
    s.HandshakeWaitMs = 1000;
    s.XYmodemBlockWaitMs = 500;
    s.FileName = "/dest/file";
    int64_t now = 0;
    std::unique_ptr<ProtocolEngine> engine;
    if (mode & 1) {
        test::MemFile f;
        f.data.assign(3000, 'x');
        host.toSend.emplace_back("a", f);
        host.toSend.emplace_back("b", test::MemFile{});
        engine = std::make_unique<XmodemSender>(host, s);
    } else {
        host.disk["/dest/EXISTS"].data.assign(100, 'e');
        engine = std::make_unique<XmodemReceiver>(host, s);
    }
    engine->start(now);
    for (size_t i = 0; i < size && !engine->done(); i += chunk) {
        engine->receive(data + i, std::min(chunk, size - i), now);
        host.out.clear();
        now += 200;
        engine->poll(now);
        host.out.clear();
    }
    // Let every pending time-out run out.
    for (int k = 0; k < 64 && !engine->done(); ++k) {
        now = std::max(now + 1, engine->deadline());
        engine->poll(now);
        host.out.clear();
    }
    return 0;
}
