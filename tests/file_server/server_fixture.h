#pragma once
// A fresh server for each test: two drives (C: and D:) in a temporary directory, mapped
// through a settings store found via XDG_CONFIG_HOME, and a directory beside them that
// no request may reach.

#include "rfs_client.h"

#include "file_server/server_instance.h"

#include <gtest/gtest.h>

#include <string>

namespace rfs_test {

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the drive table (letter -> directory) into the settings store.
    void writeDriveTable(const std::vector<std::pair<char, std::string>>& drives);

    // Files below the temporary directory, by path relative to it ("c/DATA/A.TXT").
    void writeFile(const std::string& rel, const std::string& content);
    std::string readFile(const std::string& rel) const;
    bool exists(const std::string& rel) const;
    void makeDir(const std::string& rel);
    std::string path(const std::string& rel) const { return base_ + "/" + rel; }

    std::string base_;
    std::string savedCwd_;
    Client client;
};

} // namespace rfs_test
