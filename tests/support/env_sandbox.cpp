#include "support/env_sandbox.h"

#include <kiru/cios.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "platform/paths.h"

namespace fs = std::filesystem;

namespace kiru_test {
namespace {

bool ChangeDirectory(const std::string& path) {
    std::error_code ec;
    fs::current_path(path, ec);
    return !ec;
}

}  // namespace

std::string NativePath(std::string path) {
    std::replace(path.begin(), path.end(), '/', kiru::platform::kPathSeparator);
    return path;
}

std::string EnvSandbox::Create(const char* prefix) {
    std::error_code ec;
    savedCwd_ = fs::current_path(ec).string();
    if (ec) return "";
    // A fresh folder with a random suffix; create_directory fails when it exists.
    std::random_device seed;
    std::mt19937 random(seed());
    const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = std::string(prefix) + "-";
        for (int i = 0; i < 6; ++i) name += letters[random() % (sizeof letters - 1)];
        fs::path candidate = fs::temp_directory_path(ec) / name;
        if (!ec && fs::create_directory(candidate, ec) && !ec) {
            root_ = candidate.make_preferred().string();
            return root_;
        }
    }
    return "";
}

bool EnvSandbox::Enter(const std::string& dataHome, const std::string& dataDirs, const std::string& cwd) {
    const bool ok = folders_.Point(dataHome, dataDirs) && ChangeDirectory(cwd);
    CiOS::ResetOEMName();
    return ok;
}

bool EnvSandbox::Leave() {
    CiOS::ResetOEMName();
    const bool back = savedCwd_.empty() || ChangeDirectory(savedCwd_);
    folders_.Restore();
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
    return back;
}

}  // namespace kiru_test
