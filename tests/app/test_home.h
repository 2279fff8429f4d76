#pragma once
// A folder of the running test's own, emptied and made the program's configuration home
// (XDG_CONFIG_HOME), so that no test reads or writes the user's settings.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace zelvo::app::testing {

inline std::filesystem::path testConfigHome(const std::string& prefix)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path()
                         / (prefix + "-" + std::to_string(::getpid()) + "-"
                            + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    return dir;
}

} // namespace zelvo::app::testing
