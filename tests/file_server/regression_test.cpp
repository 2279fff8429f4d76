// Replays the inputs that once made the fuzz target fail, and a few hostile streams.

#include "fuzz_input.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

namespace {

TEST(FuzzRegressions, KeptInputsRunCleanly)
{
    // The fuzz target's seeds and the inputs kept from its runs.
    const std::filesystem::path base(ZELVO_FS_FUZZ_INPUTS);
    for (const char* folder : {"corpus/fuzz_file_server", "regressions/fuzz_file_server"}) {
        size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(base / folder)) {
            if (!entry.is_regular_file())
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            SCOPED_TRACE(entry.path().string());
            rfs_fuzz::runInput(data.data(), data.size());
            ++count;
        }
        EXPECT_GT(count, 0u) << folder;
    }
}

TEST(FuzzRegressions, RandomRequestListsRunCleanly)
{
    std::mt19937 rng(1234);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> data(1 + rng() % 600);
        for (uint8_t& b : data)
            b = uint8_t(rng());
        data[0] |= 1;
        rfs_fuzz::runInput(data.data(), data.size());
    }
}

} // namespace
