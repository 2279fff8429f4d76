// Input: the first byte chooses the target. Settings: the rest is the text of a settings
// store; every session it lists is read. Router: the rest is line data for the file
// server start-sequence router, with a server that accepts packets of fixed lengths.

#include "app/file_server_router.h"
#include "app/session_settings.h"
#include "platform/registry_store.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

int32_t receive(uint8_t* buf, int32_t pos, int32_t byte)
{
    if (pos < 0 || pos >= 1048)
        return -1;
    buf[pos] = uint8_t(byte);
    if (buf[0] == 0xFF)
        return -1;
    return pos >= buf[0] % 64 ? 0 : pos + 1;
}

int32_t dispatch(uint8_t* buf)
{
    return 1 + buf[0] % 64;
}

struct Sink : zelvo::app::FileServerRouter::Host {
    size_t sent = 0;
    void setTerminalActive(bool) override {}
    void sendToPort(const uint8_t*, size_t n) override { sent += n; }
    void packetStarted() override {}
    void packetEnded() override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] & 1) {
        Sink sink;
        zelvo::app::FileServerRouter router(sink, &receive, &dispatch);
        router.feed(data + 1, size - 1);
        return 0;
    }
    zelvo::platform::RegistryStore store("/nonexistent/zelvo-fuzz.reg");
    store.parse(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    zelvo::app::SessionSettings s;
    zelvo::app::ReadRegistry(store, zelvo::app::kDefaultSession, s);
    for (auto& name : zelvo::app::ReadSessions(store)) {
        zelvo::app::SessionSettings named;
        zelvo::app::ReadRegistry(store, zelvo::app::SessionPath(name), named);
        zelvo::app::WriteRegistry(store, zelvo::app::SessionPath(name), named);
    }
    zelvo::app::WriteRegistry(store, zelvo::app::kDefaultSession, s);
    (void)store.serialize();
    return 0;
}
