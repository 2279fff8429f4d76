// The deliverable libnerrit.so itself: it exports the three entry points and nothing else,
// and serves a request built by hand from the wire format.

#include "rfs_client.h"

#include "file_server/nerrit.h"

#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace rfs_test {
namespace {

TEST(NerritLibrary, ExportsOnlyTheThreeEntryPoints)
{
    void* lib = ::dlopen(NERRIT_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << ::dlerror();
    EXPECT_NE(::dlsym(lib, "ServerReceive"), nullptr);
    EXPECT_NE(::dlsym(lib, "ServerDispatch"), nullptr);
    EXPECT_NE(::dlsym(lib, "ServerStatistic"), nullptr);
    EXPECT_EQ(::dlsym(lib, "_ZN5zelvo11file_server11resetServerEv"), nullptr);
    EXPECT_EQ(::dlsym(lib, "_ZN5zelvo8platform13RegistryStore4loadEv"), nullptr);
    ::dlclose(lib);
}

TEST(NerritLibrary, ServesAHandBuiltRequest)
{
    char tmpl[] = "/tmp/rfs-lib-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string base = tmpl;
    std::filesystem::create_directories(base + "/config/zelvo32");
    std::filesystem::create_directories(base + "/share");
    std::ofstream(base + "/config/zelvo32/registry.reg")
        << "[software\\brunmo\\zelvo32\\rfs]\n\"C\"=\"" << base << "/share\"\n";
    std::ofstream(base + "/share/HELLO.TXT") << "Hello, far side!";
    ::setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);

    // Open C:\HELLO.TXT for reading: code 14, owner 7, payload: mode 0 and the path.
    Bytes packet = {'K', 'Y', 0, 0, 0, 0, 14, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 0};
    const std::string path = "C:\\HELLO.TXT";
    packet.insert(packet.end(), path.begin(), path.end());
    packet.push_back(0);
    const uint16_t length = uint16_t(packet.size());
    packet[2] = uint8_t(length);
    packet[4] = uint8_t(~length);
    packet[5] = 0xFF;
    const uint32_t crc = checkSum(packet.data(), packet.size());
    for (int k = 0; k < 4; ++k)
        packet.push_back(uint8_t(crc >> (8 * k)));

    unsigned char buf[1052];
    int32_t pos = 0;
    for (uint8_t b : packet)
        pos = ServerReceive(buf, pos, b);
    ASSERT_EQ(pos, 0);
    const int32_t n = ServerDispatch(buf);
    ASSERT_GE(n, 20);
    EXPECT_EQ(buf[0], 'L');
    EXPECT_EQ(buf[1], 'Y');
    const int replyLength = buf[2] | buf[3] << 8;
    EXPECT_EQ(replyLength + 4, n);
    EXPECT_EQ((buf[4] | buf[5] << 8), (~replyLength & 0xFFFF));
    EXPECT_EQ(buf[6] | buf[7] << 8, 0);   // success
    EXPECT_EQ(buf[12] | buf[13] << 8, 7); // owner returned
    const uint32_t replyCrc = checkSum(buf, size_t(replyLength));
    EXPECT_EQ(buf[replyLength] | buf[replyLength + 1] << 8 | buf[replyLength + 2] << 16
                  | uint32_t(buf[replyLength + 3]) << 24,
              replyCrc);
    const Reply open = decodeReply(buf, size_t(n));
    ASSERT_TRUE(open.ok);
    ASSERT_EQ(open.payload.size(), 12u);
    EXPECT_EQ(open.payload[0] | open.payload[1] << 8, 0); // slot 0
    EXPECT_EQ(open.payload[2], 0x20);                     // archive
    EXPECT_EQ(open.payload[8], 16);                       // size

    // Read it back through a decoded reply, then close everything.
    Client c;
    const Reply r = c.read(0, 0, 100);
    EXPECT_EQ(r.result, 0);
    const std::string text(r.payload.begin() + 2, r.payload.end());
    EXPECT_EQ(text, "Hello, far side!");
    EXPECT_EQ(c.call(18, {}, 0).result, 0);

    uint32_t stats[10];
    ServerStatistic(stats);
    EXPECT_EQ(stats[0], 1u);
    EXPECT_EQ(stats[6], 3u);
    EXPECT_EQ(stats[7], 3u);
    std::filesystem::remove_all(base);
}

} // namespace
} // namespace rfs_test
