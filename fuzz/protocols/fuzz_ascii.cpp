// Feeds arbitrary line data to the ASCII receiver with every combination of line-end
// translations and Ctrl-Z handling, in chunks, until the end-of-file time-out ends it.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "protocols/ascii_receiver.h"
#include "tests/protocols/fake_host.h"

using namespace zelvo::protocols;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    test::FakeHost host;
    EngineSettings s;
    s.Type = ptAscii;
    s.FileName = "/dest/file";
    s.AsciiCRTranslation = static_cast<TAsciiEOLTranslation>(mode & 3);
    s.AsciiLFTranslation = static_cast<TAsciiEOLTranslation>((mode >> 2) & 3);
    s.AsciiSuppressCtrlZ = (mode & 0x10) != 0;
    s.AsciiEOFTimeoutMs = 1000;
    const size_t chunk = 1 + (mode >> 5) * 29;
    AsciiReceiver rx(host, s);
    int64_t now = 0;
    rx.start(now);
    for (size_t i = 0; i < size && !rx.done(); i += chunk) {
        rx.receive(data + i, std::min(chunk, size - i), now);
        now += 100;
        rx.poll(now);
    }
    rx.poll(rx.deadline());
    // Everything that arrived is in the file, translated: never more than twice as long.
    if (!host.disk["/dest/file"].complete || host.disk["/dest/file"].data.size() > 2 * size)
        __builtin_trap();
    return 0;
}
