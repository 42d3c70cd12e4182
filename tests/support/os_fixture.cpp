#include "support/os_fixture.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

void OsSandbox::SetUp() {
    root_ = sandbox_.Create("kiru-os");
    ASSERT_FALSE(root_.empty());
    localRoot_ = root_ + "/user-data";
    commonRoot_ = root_ + "/shared-data";
    cwd_ = root_ + "/work";
    MakeDirs(cwd_);
    ASSERT_TRUE(sandbox_.Enter(localRoot_, commonRoot_ + kiru_test::kFolderListSeparator + root_ + "/second", cwd_));
}

void OsSandbox::TearDown() { EXPECT_TRUE(sandbox_.Leave()); }

void OsSandbox::MakeDirs(const std::string& path) { fs::create_directories(path); }

void OsSandbox::WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

void OsSandbox::WriteOemIni(const std::string& contents) const { WriteFile(cwd_ + "/oem.ini", contents); }

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }
