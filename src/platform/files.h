// File-system services with the Windows names the library is written
// against: file attributes and the executable's path, plus opening a file
// stream from a wide path.
#pragma once

#include <cstdio>
#include <kiru/win_types.h>

#ifndef INVALID_FILE_ATTRIBUTES
#  define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#endif
#ifndef FILE_ATTRIBUTE_READONLY
#  define FILE_ATTRIBUTE_READONLY 0x00000001u
#endif
#ifndef FILE_ATTRIBUTE_DIRECTORY
#  define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#endif
#ifndef FILE_ATTRIBUTE_NORMAL
#  define FILE_ATTRIBUTE_NORMAL 0x00000080u
#endif

#if !defined(_WIN32)

// Attributes of the file or folder at path (following symbolic links):
// FILE_ATTRIBUTE_DIRECTORY for a folder, FILE_ATTRIBUTE_READONLY when the
// owner may not write it, FILE_ATTRIBUTE_NORMAL when neither applies.
// INVALID_FILE_ATTRIBUTES (errno set) when the path cannot be examined.
DWORD GetFileAttributesW(const wchar_t* path);
DWORD GetFileAttributesA(const char* path);

// Full path of the running executable (module must be null). The result is
// cut to size - 1 characters and NUL-terminated; the return value is its
// length, or size when it was cut, or 0 on failure.
DWORD GetModuleFileNameW(HMODULE module, wchar_t* path, DWORD size);
DWORD GetModuleFileNameA(HMODULE module, char* path, DWORD size);

#endif  // !_WIN32

namespace kiru::platform {

// fopen with a wide path and mode. Like the other platform's runtime, a
// folder cannot be opened as a file stream, and the descriptor is not
// inherited by child processes. Null path or mode: null (errno EINVAL).
std::FILE* OpenFile(const wchar_t* path, const wchar_t* mode);

}  // namespace kiru::platform
