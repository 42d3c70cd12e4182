// Points XDG_DATA_HOME, XDG_DATA_DIRS and the current directory into a fresh
// temporary folder, and puts everything back afterwards. CiOS's name caches
// are reset on both sides so that each test starts from empty caches.
#pragma once

#include <string>

namespace kiru_test {

class EnvSandbox {
public:
    // Remembers the current directory and environment, then makes the
    // temporary folder "<tmp>/<prefix>-XXXXXX". Returns its path, or "" when
    // it cannot be made.
    std::string Create(const char* prefix);
    // Points the environment at the given folders; cwd must exist.
    bool Enter(const std::string& dataHome, const std::string& dataDirs, const std::string& cwd);
    // Restores what Create remembered and removes the folder. False when the
    // old current directory cannot be entered again.
    bool Leave();

private:
    std::string root_;
    std::string savedCwd_;
    std::string savedDataHome_, savedDataDirs_;
    bool hadDataHome_ = false, hadDataDirs_ = false;
};

}  // namespace kiru_test
