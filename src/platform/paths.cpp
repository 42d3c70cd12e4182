#include "platform/paths.h"

#include "platform/text.h"

namespace kiru::platform {
namespace {

template <typename Char>
bool IsAbsolute(const Char* path) {
    if (path == nullptr || path[0] == 0) return false;
    if (path[0] == Char('/') || path[0] == Char('\\')) return true;
    return path[1] == Char(':');
}

template <typename Char>
const Char* SkipPrefix(const Char* path) {
    if (path != nullptr && path[0] == Char('.') && (path[1] == Char('\\') || path[1] == Char('/'))) return path + 2;
    return path;
}

void FixCurrentFolderPrefix(std::string& path) {
    if (path.size() >= 2 && path[0] == '.' && path[1] == '\\') path[1] = kPathSeparator;
}

}  // namespace

bool IsAbsolutePath(const char* path) { return IsAbsolute(path); }
bool IsAbsolutePath(const wchar_t* path) { return IsAbsolute(path); }

const char* SkipCurrentFolderPrefix(const char* path) { return SkipPrefix(path); }
const wchar_t* SkipCurrentFolderPrefix(const wchar_t* path) { return SkipPrefix(path); }

void BackslashesToSeparators(wchar_t* text) {
    if (text == nullptr) return;
    for (; *text != L'\0'; ++text) {
        if (*text == L'\\') *text = kWidePathSeparator;
    }
}

std::string ToNativePath(const wchar_t* path) {
    std::string native = WideToNarrowString(path);
    FixCurrentFolderPrefix(native);
    return native;
}

std::string ToNativePath(const char* path) {
    std::string native = path != nullptr ? path : "";
    FixCurrentFolderPrefix(native);
    return native;
}

}  // namespace kiru::platform
