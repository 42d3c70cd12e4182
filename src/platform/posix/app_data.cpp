#include "platform/app_data.h"

#include <cstdlib>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/text.h"

namespace {

bool IsUsable(const char* value) { return value != nullptr && value[0] == '/'; }

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (IsUsable(home)) return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        IsUsable(found->pw_dir)) {
        return found->pw_dir;
    }
    return std::string();
}

std::string LocalAppData() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (IsUsable(dataHome)) return dataHome;
    const std::string home = HomeFolder();
    return home.empty() ? home : home + "/.local/share";
}

std::string CommonAppData() {
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    if (dataDirs != nullptr) {
        const std::string all = dataDirs;
        const std::string first = all.substr(0, all.find(':'));
        if (IsUsable(first.c_str())) return first;
    }
    return "/usr/local/share";
}

}  // namespace

HRESULT SHGetFolderPathW(HWND, int csidl, HANDLE, DWORD, wchar_t* path) {
    if (path == nullptr) return E_INVALIDARG;
    path[0] = L'\0';
    std::string folder;
    switch (csidl) {
    case CSIDL_LOCAL_APPDATA: folder = LocalAppData(); break;
    case CSIDL_COMMON_APPDATA: folder = CommonAppData(); break;
    default: return E_INVALIDARG;
    }
    if (folder.empty()) return E_FAIL;
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    const std::wstring wide = kiru::platform::NarrowToWideString(folder.c_str());
    if (wide.size() >= MAX_PATH) return E_FAIL;
    kiru::platform::NarrowToWide(folder.c_str(), path, MAX_PATH);
    return S_OK;
}
