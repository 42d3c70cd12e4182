#include "platform/files.h"

#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/paths.h"
#include "platform/text.h"

namespace {

DWORD AttributesOf(const std::string& path) {
    struct stat info {};
    if (path.empty()) {
        errno = ENOENT;
        return INVALID_FILE_ATTRIBUTES;
    }
    if (::stat(path.c_str(), &info) != 0) return INVALID_FILE_ATTRIBUTES;
    DWORD attributes = 0;
    if (S_ISDIR(info.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if ((info.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

// readlink does not say how long the link is, so grow until it fits.
bool ExecutablePath(std::string& out) {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", &buffer[0], buffer.size());
        if (n < 0) return false;
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            out.swap(buffer);
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

DWORD GetFileAttributesW(const wchar_t* path) {
    if (path == nullptr) {
        errno = EINVAL;
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(kiru::platform::ToNativePath(path));
}

DWORD GetFileAttributesA(const char* path) {
    if (path == nullptr) {
        errno = EINVAL;
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(kiru::platform::ToNativePath(path));
}

DWORD GetModuleFileNameW(HMODULE module, wchar_t* path, DWORD size) {
    std::string narrow;
    if (module != nullptr || path == nullptr || size == 0) {
        errno = EINVAL;
        return 0;
    }
    if (!ExecutablePath(narrow)) {
        path[0] = L'\0';
        return 0;
    }
    const std::wstring wide = kiru::platform::NarrowToWideString(narrow.c_str());
    const std::size_t written = kiru::platform::NarrowToWide(narrow.c_str(), path, size);
    return written < wide.size() ? size : static_cast<DWORD>(written);
}

DWORD GetModuleFileNameA(HMODULE module, char* path, DWORD size) {
    std::string narrow;
    if (module != nullptr || path == nullptr || size == 0) {
        errno = EINVAL;
        return 0;
    }
    if (!ExecutablePath(narrow)) {
        path[0] = '\0';
        return 0;
    }
    // Cut at a character boundary, as the wide form does.
    const std::wstring wide = kiru::platform::NarrowToWideString(narrow.c_str());
    const std::size_t written = kiru::platform::WideToNarrow(wide.c_str(), path, size);
    return written < narrow.size() ? size : static_cast<DWORD>(written);
}

namespace kiru::platform {

std::FILE* OpenFile(const wchar_t* path, const wchar_t* mode) {
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const std::string native = ToNativePath(path);
    std::string narrowMode = WideToNarrowString(mode);
    if (narrowMode.empty()) {
        errno = EINVAL;
        return nullptr;
    }
    // 'e' (close on exec) belongs with the mode letters, before any ",ccs=".
    const std::size_t comma = narrowMode.find(',');
    narrowMode.insert(comma == std::string::npos ? narrowMode.size() : comma, 1, 'e');
    std::FILE* file = std::fopen(native.c_str(), narrowMode.c_str());
    if (file == nullptr) return nullptr;
    struct stat info {};
    if (::fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
}

}  // namespace kiru::platform
