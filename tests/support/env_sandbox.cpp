#include "support/env_sandbox.h"

#include <kiru/cios.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace kiru_test {

std::string EnvSandbox::Create(const char* prefix) {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return "";
    savedCwd_ = cwd;
    if (const char* v = std::getenv("XDG_DATA_HOME")) hadDataHome_ = true, savedDataHome_ = v;
    if (const char* v = std::getenv("XDG_DATA_DIRS")) hadDataDirs_ = true, savedDataDirs_ = v;
    std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(&pattern[0]) == nullptr) return "";
    root_ = pattern;
    return root_;
}

bool EnvSandbox::Enter(const std::string& dataHome, const std::string& dataDirs, const std::string& cwd) {
    const bool ok = ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1) == 0 &&
                    ::setenv("XDG_DATA_DIRS", dataDirs.c_str(), 1) == 0 && ::chdir(cwd.c_str()) == 0;
    CiOS::ResetOEMName();
    return ok;
}

bool EnvSandbox::Leave() {
    CiOS::ResetOEMName();
    const bool back = savedCwd_.empty() || ::chdir(savedCwd_.c_str()) == 0;
    if (hadDataHome_) ::setenv("XDG_DATA_HOME", savedDataHome_.c_str(), 1); else ::unsetenv("XDG_DATA_HOME");
    if (hadDataDirs_) ::setenv("XDG_DATA_DIRS", savedDataDirs_.c_str(), 1); else ::unsetenv("XDG_DATA_DIRS");
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
    return back;
}

}  // namespace kiru_test
