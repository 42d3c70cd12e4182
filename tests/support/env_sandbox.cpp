#include "support/env_sandbox.h"

#include <kiru/cios.h>

#include <cstdlib>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;

namespace kiru_test {
namespace {

bool SetVariable(const char* name, const std::string& value) {
#if defined(_WIN32)
    return ::_putenv_s(name, value.c_str()) == 0;
#else
    return ::setenv(name, value.c_str(), 1) == 0;
#endif
}

void RemoveVariable(const char* name) {
#if defined(_WIN32)
    ::_putenv_s(name, "");
#else
    ::unsetenv(name);
#endif
}

bool ChangeDirectory(const std::string& path) {
    std::error_code ec;
    fs::current_path(path, ec);
    return !ec;
}

}  // namespace

std::string EnvSandbox::Create(const char* prefix) {
    std::error_code ec;
    savedCwd_ = fs::current_path(ec).string();
    if (ec) return "";
    if (const char* v = std::getenv("XDG_DATA_HOME")) hadDataHome_ = true, savedDataHome_ = v;
    if (const char* v = std::getenv("XDG_DATA_DIRS")) hadDataDirs_ = true, savedDataDirs_ = v;
    // A fresh folder with a random suffix; create_directory fails when it exists.
    std::random_device seed;
    std::mt19937 random(seed());
    const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = std::string(prefix) + "-";
        for (int i = 0; i < 6; ++i) name += letters[random() % (sizeof letters - 1)];
        const fs::path candidate = fs::temp_directory_path(ec) / name;
        if (!ec && fs::create_directory(candidate, ec) && !ec) {
            root_ = candidate.generic_string();
            return root_;
        }
    }
    return "";
}

bool EnvSandbox::Enter(const std::string& dataHome, const std::string& dataDirs, const std::string& cwd) {
    const bool ok =
        SetVariable("XDG_DATA_HOME", dataHome) && SetVariable("XDG_DATA_DIRS", dataDirs) && ChangeDirectory(cwd);
    CiOS::ResetOEMName();
    return ok;
}

bool EnvSandbox::Leave() {
    CiOS::ResetOEMName();
    const bool back = savedCwd_.empty() || ChangeDirectory(savedCwd_);
    if (hadDataHome_) SetVariable("XDG_DATA_HOME", savedDataHome_); else RemoveVariable("XDG_DATA_HOME");
    if (hadDataDirs_) SetVariable("XDG_DATA_DIRS", savedDataDirs_); else RemoveVariable("XDG_DATA_DIRS");
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
    return back;
}

}  // namespace kiru_test
