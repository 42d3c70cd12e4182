// Points the application-data folders and the current directory into a fresh
// temporary folder, and puts everything back afterwards. CiOS's name caches
// are reset on both sides so that each test starts from empty caches.
#pragma once

#include <string>

namespace kiru_test {

// Separates the entries of the all-users folder list given to Enter.
#if defined(_WIN32)
constexpr char kFolderListSeparator = ';';
#else
constexpr char kFolderListSeparator = ':';
#endif

// Where the platform looks up the per-user and the all-users
// application-data folders, pointed elsewhere for this process and back.
// On POSIX systems that is XDG_DATA_HOME and XDG_DATA_DIRS; on Windows the
// shell's folder keys, reached through registry keys of the test's own that
// stand in for the current user's and the machine's.
class DataFolders {
public:
    ~DataFolders() { Restore(); }
    // commonList: the all-users folders, kFolderListSeparator between them.
    bool Point(const std::string& local, const std::string& commonList);
    void Restore();

private:
    bool pointed_ = false;
    std::string savedLocal_, savedCommon_;  // POSIX: the variables' old values
    bool hadLocal_ = false, hadCommon_ = false;
    std::wstring key_;  // Windows: the test's keys, under the current user's
    void* userKey_ = nullptr;
    void* machineKey_ = nullptr;
};

class EnvSandbox {
public:
    // Remembers the current directory, then makes the temporary folder
    // "<tmp>/<prefix>-XXXXXX" (in the system's own spelling). Returns its
    // path, or "" when it cannot be made.
    std::string Create(const char* prefix);
    // Points the application-data folders at the given ones and enters cwd,
    // which must exist.
    bool Enter(const std::string& dataHome, const std::string& dataDirs, const std::string& cwd);
    // Restores what Create remembered and removes the folder. False when the
    // old current directory cannot be entered again.
    bool Leave();

private:
    std::string root_;
    std::string savedCwd_;
    DataFolders folders_;
};

// The path with '/' turned into the system's separator ('\' on Windows).
std::string NativePath(std::string path);

}  // namespace kiru_test
