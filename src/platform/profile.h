// Reading of profile (INI) files. On Windows the system's profile functions
// do it; elsewhere they are ours, with the Windows profile-API behaviour:
// "[Section]" headers and "key=value" lines, section and key names compared
// without regard to case, names and values trimmed of surrounding blanks, a
// value enclosed in matching quotes loses them, lines starting with ';' are
// comments. Only the first section of a given name is consulted, and in it
// the first line of a given key. The file is read as UTF-8.
#pragma once

#include <kiru/win_types.h>
#include <string>

#if !defined(_WIN32)

// Copies the value of key in section into out (size characters, NUL
// included), or def (trailing blanks removed, "" when null) when the file,
// the section or the key is missing. A value that does not fit is cut.
// Returns the number of characters written, NUL not counted. Lists of
// section or key names (a null section or key) are not offered: out is
// emptied and 0 returned.
DWORD GetPrivateProfileStringW(const wchar_t* section, const wchar_t* key, const wchar_t* def, wchar_t* out,
                               DWORD size, const wchar_t* fileName);

// The same with UTF-8 texts; size is in bytes and cuts fall on character
// boundaries.
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* def, char* out, DWORD size,
                               const char* fileName);

#endif  // !_WIN32

namespace kiru::platform {

// Looks section/key up in fileName. Returns true and the (trimmed, unquoted)
// value when the key exists, false when the file, section or key is missing.
// Lets a caller tell a value read from the file from its default.
bool ReadProfileValue(const wchar_t* fileName, const wchar_t* section, const wchar_t* key, std::wstring& value);

}  // namespace kiru::platform
