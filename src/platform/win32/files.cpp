// Opening a file stream from a wide path on Windows.
#include "platform/files.h"

#include <cerrno>
#include <cwchar>
#include <string>

namespace kiru::platform {

std::FILE* OpenFile(const wchar_t* path, const wchar_t* mode) {
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const DWORD attributes = ::GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = EISDIR;
        return nullptr;
    }
    // 'N': the descriptor is not inherited by child processes.
    std::wstring noInherit = mode;
    if (noInherit.find(L'N') == std::wstring::npos) noInherit += L'N';
    return ::_wfopen(path, noInherit.c_str());
}

}  // namespace kiru::platform
