// Path rules shared by everything that builds or opens paths. The native
// separator is '/', or '\' on Windows; names may arrive in either spelling,
// so an absolute path and a "current folder" prefix are recognised in both.
#pragma once

#include <cstddef>
#include <string>

namespace kiru::platform {

#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
constexpr wchar_t kWidePathSeparator = L'\\';
#else
constexpr char kPathSeparator = '/';
constexpr wchar_t kWidePathSeparator = L'/';
#endif

// Absolute: starts with '/' or '\', or has a colon as its second character
// (a drive letter). A null or empty path is not absolute.
bool IsAbsolutePath(const char* path);
bool IsAbsolutePath(const wchar_t* path);

// Returns path past a leading "./" or ".\", or path itself when it has none.
const char* SkipCurrentFolderPrefix(const char* path);
const wchar_t* SkipCurrentFolderPrefix(const wchar_t* path);

// Replaces every backslash by the native separator, in place.
void BackslashesToSeparators(wchar_t* text);

// The narrow (UTF-8) path the system is given for a wide or narrow path:
// a leading ".\" becomes "./"; everything else is kept as it is.
std::string ToNativePath(const wchar_t* path);
std::string ToNativePath(const char* path);

}  // namespace kiru::platform
