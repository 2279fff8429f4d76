#include "fuzz_input.h"

#include "file_server/nerrit.h"
#include "file_server/server_instance.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace rfs_fuzz {

namespace {

namespace fs = std::filesystem;

struct Sandbox {
    std::string base;
    mode_t secretMode = 0;

    Sandbox()
    {
        char tmpl[] = "/tmp/rfs-fuzz-XXXXXX";
        if (!::mkdtemp(tmpl))
            std::abort();
        base = tmpl;
        fs::create_directories(base + "/config/zelvo32");
        fs::create_directories(base + "/outside/DIR");
        {
            std::ofstream(base + "/outside/SECRET.TXT") << "secret";
        }
        struct stat st;
        if (::stat((base + "/outside/SECRET.TXT").c_str(), &st) != 0)
            std::abort();
        secretMode = st.st_mode;
        std::ofstream(base + "/config/zelvo32/registry.reg")
            << "[software\\brunmo\\zelvo32\\rfs]\n\"C\"=\"" << base << "/c\"\n\"D\"=\"" << base << "/d\"\n";
    }

    ~Sandbox()
    {
        std::error_code ec;
        fs::remove_all(base, ec);
    }

    // Set for every input: a test run in the same process may have moved them.
    void enter() const
    {
        ::setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
        if (::chdir(base.c_str()) != 0)
            std::abort();
    }

    void layDrives() const
    {
        std::error_code ec;
        for (const char* d : {"/c", "/d"}) {
            fs::permissions(base + d, fs::perms::owner_all, fs::perm_options::add, ec);
            fs::remove_all(base + d, ec);
        }
        fs::create_directories(base + "/c/DIR/SUB");
        fs::create_directories(base + "/d");
        std::ofstream(base + "/c/A.TXT") << "alpha alpha alpha alpha UUUU";
        std::ofstream(base + "/c/Long File Name.text") << std::string(3000, 'L');
        std::ofstream(base + "/c/DIR/B.DAT") << "bravo";
        fs::create_symlink(base + "/outside/SECRET.TXT", base + "/c/OUT.TXT", ec);
        fs::create_directory_symlink(base + "/outside/DIR", base + "/c/OUTDIR", ec);
        fs::create_symlink(base + "/c/A.TXT", base + "/c/IN.TXT", ec);
    }

    // The outside tree must look exactly as it was laid.
    void checkOutside() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(base + "/outside"))
            names.push_back(e.path().string());
        std::ifstream in(base + "/outside/SECRET.TXT");
        std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        struct stat st;
        if (names.size() != 2 || s != "secret" || ::stat((base + "/outside/SECRET.TXT").c_str(), &st) != 0
            || st.st_mode != secretMode) {
            std::fprintf(stderr, "file server reached outside its drives\n");
            std::abort();
        }
    }
};

Sandbox& sandbox()
{
    static Sandbox s;
    return s;
}

uint32_t crc(const uint8_t* d, size_t n)
{
    uint32_t c = 0;
    for (size_t i = 0; i < n; ++i) {
        c ^= d[i];
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    return c;
}

unsigned char buffer[1052];

// Set when a request that may change the drives was carried out: only then are they laid
// out again, which keeps the fuzzer fast.
bool drivesChanged = true;

bool changesDrives(uint16_t code)
{
    switch (code) {
    case 0: case 1: case 6: case 10: case 12: case 13: case 15:
        return true;
    default:
        return false;
    }
}

void feed(const uint8_t* bytes, size_t n)
{
    int32_t pos = 0;
    for (size_t i = 0; i < n; ++i) {
        const int32_t r = ServerReceive(buffer, pos, bytes[i]);
        if (r == 0) {
            drivesChanged = drivesChanged || changesDrives(uint16_t(buffer[6] | buffer[7] << 8));
            const int32_t out = ServerDispatch(buffer);
            if (out < 20 || out > 1052)
                std::abort();
            pos = 0;
        } else {
            pos = r < 0 ? 0 : r;
        }
    }
}

} // namespace

void runInput(const uint8_t* data, size_t size)
{
    Sandbox& box = sandbox();
    box.enter();
    if (drivesChanged) {
        box.layDrives();
        drivesChanged = false;
    }
    zelvo::file_server::resetServer();
    if (size == 0)
        return;
    if ((data[0] & 1) == 0) {
        feed(data + 1, size - 1);
    } else {
        size_t i = 1;
        std::vector<uint8_t> packet;
        while (i + 4 <= size) {
            const uint8_t code = data[i] % 24;
            const uint8_t packing = data[i + 1] % 5;
            const uint8_t owner = data[i + 2] % 4;
            size_t n = data[i + 3];
            i += 4;
            n = std::min(n * 4, size - i);
            n = std::min<size_t>(n, 1032);
            const uint16_t length = uint16_t(16 + n);
            packet.assign({0x4B, 0x59, uint8_t(length), uint8_t(length >> 8), uint8_t(~length),
                           uint8_t(~length >> 8), code, 0, 1, 2, 3, 4, owner, 0, packing, 0});
            packet.insert(packet.end(), data + i, data + i + n);
            const uint32_t c = crc(packet.data(), packet.size());
            for (int k = 0; k < 4; ++k)
                packet.push_back(uint8_t(c >> (8 * k)));
            feed(packet.data(), packet.size());
            i += n;
        }
    }
    uint32_t stats[10];
    ServerStatistic(stats);
    box.checkOutside();
}

} // namespace rfs_fuzz
