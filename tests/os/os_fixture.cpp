#include "os_fixture.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <kiru/cios.h>
#include <unistd.h>

namespace fs = std::filesystem;

void OsSandbox::SetUp() {
    char cwd[PATH_MAX];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    savedCwd_ = cwd;
    if (const char* v = std::getenv("XDG_DATA_HOME")) hadDataHome_ = true, savedDataHome_ = v;
    if (const char* v = std::getenv("XDG_DATA_DIRS")) hadDataDirs_ = true, savedDataDirs_ = v;

    std::string pattern = (fs::temp_directory_path() / "kiru-os-XXXXXX").string();
    ASSERT_NE(::mkdtemp(&pattern[0]), nullptr) << errno;
    root_ = pattern;
    localRoot_ = root_ + "/user-data";
    commonRoot_ = root_ + "/shared-data";
    cwd_ = root_ + "/work";
    MakeDirs(cwd_);
    ASSERT_EQ(::setenv("XDG_DATA_HOME", localRoot_.c_str(), 1), 0);
    ASSERT_EQ(::setenv("XDG_DATA_DIRS", (commonRoot_ + ":" + root_ + "/second").c_str(), 1), 0);
    ASSERT_EQ(::chdir(cwd_.c_str()), 0);
    CiOS::ResetOEMName();
}

void OsSandbox::TearDown() {
    CiOS::ResetOEMName();
    EXPECT_EQ(::chdir(savedCwd_.c_str()), 0);
    if (hadDataHome_) ::setenv("XDG_DATA_HOME", savedDataHome_.c_str(), 1); else ::unsetenv("XDG_DATA_HOME");
    if (hadDataDirs_) ::setenv("XDG_DATA_DIRS", savedDataDirs_.c_str(), 1); else ::unsetenv("XDG_DATA_DIRS");
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
}

void OsSandbox::MakeDirs(const std::string& path) { fs::create_directories(path); }

void OsSandbox::WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

void OsSandbox::WriteOemIni(const std::string& contents) const { WriteFile(cwd_ + "/oem.ini", contents); }

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }
