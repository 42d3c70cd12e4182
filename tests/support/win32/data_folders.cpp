// On Windows the shell finds the application-data folders under the
// "User Shell Folders" keys of the current user ("Local AppData") and of the
// machine ("Common AppData"). The test writes its own copies of those keys
// under the current user's key and has the process see them in place of the
// real roots (RegOverridePredefKey), so nothing of the system is changed.
#include <windows.h>

#include "support/env_sandbox.h"

namespace kiru_test {
namespace {

constexpr const wchar_t* kShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

std::wstring Wide(const std::string& text) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], n);
    return wide;
}

// Creates <key>\<root>, gives it the shell folder value and returns the root.
HKEY MakeRoot(const std::wstring& key, const wchar_t* root, const wchar_t* name, const std::string& folder) {
    const std::wstring rootPath = key + L"\\" + root;
    const std::wstring value = Wide(NativePath(folder));
    HKEY folders = nullptr, result = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, (rootPath + L"\\" + kShellFolders).c_str(), 0, nullptr, 0,
                          KEY_ALL_ACCESS, nullptr, &folders, nullptr) != ERROR_SUCCESS)
        return nullptr;
    const LONG set = ::RegSetValueExW(folders, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(folders);
    if (set != ERROR_SUCCESS ||
        ::RegOpenKeyExW(HKEY_CURRENT_USER, rootPath.c_str(), 0, KEY_ALL_ACCESS, &result) != ERROR_SUCCESS)
        return nullptr;
    return result;
}

}  // namespace

bool DataFolders::Point(const std::string& local, const std::string& commonList) {
    Restore();
    static LONG made = 0;
    key_ = L"Software\\Kiru tests\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(::InterlockedIncrement(&made));
    pointed_ = true;
    const std::string common = commonList.substr(0, commonList.find(kFolderListSeparator));
    HKEY user = MakeRoot(key_, L"user", L"Local AppData", local);
    HKEY machine = MakeRoot(key_, L"machine", L"Common AppData", common);
    userKey_ = user;
    machineKey_ = machine;
    return user != nullptr && machine != nullptr &&
           ::RegOverridePredefKey(HKEY_CURRENT_USER, user) == ERROR_SUCCESS &&
           ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine) == ERROR_SUCCESS;
}

void DataFolders::Restore() {
    if (!pointed_) return;
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    if (userKey_ != nullptr) ::RegCloseKey(static_cast<HKEY>(userKey_));
    if (machineKey_ != nullptr) ::RegCloseKey(static_cast<HKEY>(machineKey_));
    userKey_ = machineKey_ = nullptr;
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    pointed_ = false;
}

}  // namespace kiru_test
