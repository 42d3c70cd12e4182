// The application-data folders of POSIX systems come from XDG_DATA_HOME and
// the first entry of XDG_DATA_DIRS.
#include <cstdlib>

#include "support/env_sandbox.h"

namespace kiru_test {
namespace {

void Remember(const char* name, bool& had, std::string& saved) {
    const char* value = std::getenv(name);
    had = value != nullptr;
    saved = had ? value : "";
}

void Put(const char* name, bool had, const std::string& value) {
    if (had) ::setenv(name, value.c_str(), 1); else ::unsetenv(name);
}

}  // namespace

bool DataFolders::Point(const std::string& local, const std::string& commonList) {
    if (!pointed_) {
        Remember("XDG_DATA_HOME", hadLocal_, savedLocal_);
        Remember("XDG_DATA_DIRS", hadCommon_, savedCommon_);
        pointed_ = true;
    }
    return ::setenv("XDG_DATA_HOME", local.c_str(), 1) == 0 && ::setenv("XDG_DATA_DIRS", commonList.c_str(), 1) == 0;
}

void DataFolders::Restore() {
    if (!pointed_) return;
    Put("XDG_DATA_HOME", hadLocal_, savedLocal_);
    Put("XDG_DATA_DIRS", hadCommon_, savedCommon_);
    pointed_ = false;
}

}  // namespace kiru_test
