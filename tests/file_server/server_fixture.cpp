#include "server_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace rfs_test {

void ServerTest::SetUp()
{
    char cwd[PATH_MAX];
    savedCwd_ = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
    char tmpl[] = "/tmp/rfs-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    base_ = tmpl;
    makeDir("c");
    makeDir("d");
    makeDir("outside");
    makeDir("config/zelvo32");
    ::setenv("XDG_CONFIG_HOME", path("config").c_str(), 1);
    writeDriveTable({{'C', path("c")}, {'D', path("d")}});
    // The process's working directory lies outside every drive unless a test moves it.
    ASSERT_EQ(::chdir(base_.c_str()), 0);
    zelvo::file_server::resetServer();
}

void ServerTest::TearDown()
{
    client.call(18, {}, 0);
    zelvo::file_server::resetServer();
    (void)::chdir(savedCwd_.c_str());
    std::error_code ec;
    std::filesystem::permissions(base_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(base_, ec);
}

void ServerTest::writeDriveTable(const std::vector<std::pair<char, std::string>>& drives)
{
    std::ostringstream s;
    s << "[software\\brunmo\\zelvo32\\rfs]\n";
    for (const auto& [letter, dir] : drives)
        s << "\"" << letter << "\"=\"" << dir << "\"\n";
    // Written under a new name and renamed, so the store's file changes identity and the
    // server notices the new table even within one clock tick.
    const std::string file = path("config/zelvo32/registry.reg");
    {
        std::ofstream out(file + ".new", std::ios::binary);
        out << s.str();
    }
    std::filesystem::rename(file + ".new", file);
}

void ServerTest::writeFile(const std::string& rel, const std::string& content)
{
    std::ofstream out(path(rel), std::ios::binary);
    out << content;
}

std::string ServerTest::readFile(const std::string& rel) const
{
    std::ifstream in(path(rel), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool ServerTest::exists(const std::string& rel) const
{
    struct stat st;
    return ::lstat(path(rel).c_str(), &st) == 0;
}

void ServerTest::makeDir(const std::string& rel)
{
    std::filesystem::create_directories(path(rel));
}

} // namespace rfs_test
