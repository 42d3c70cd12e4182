// The shell's known-folder query (on Windows the shell's own), reduced to
// the two application-data folders the library uses. Elsewhere:
//   CSIDL_LOCAL_APPDATA  (per user):  $XDG_DATA_HOME, else $HOME/.local/share
//   CSIDL_COMMON_APPDATA (all users): first entry of $XDG_DATA_DIRS, else
//                                     /usr/local/share
// Environment values that are not absolute paths are ignored, as the XDG
// rules ask. The folder is given without a trailing separator.
#pragma once

#include <kiru/win_types.h>

#if defined(_WIN32)
#  include <shlobj.h>
#else

typedef LONG HRESULT;

#ifndef S_OK
#  define S_OK ((HRESULT)0)
#endif
#ifndef E_FAIL
#  define E_FAIL ((HRESULT)0x80004005u)
#endif
#ifndef E_INVALIDARG
#  define E_INVALIDARG ((HRESULT)0x80070057u)
#endif

#define CSIDL_LOCAL_APPDATA 0x001c
#define CSIDL_COMMON_APPDATA 0x0023
#define SHGFP_TYPE_CURRENT 0

// Writes the folder into path, which must hold MAX_PATH wide characters.
// On failure (unknown folder, no home folder, a folder longer than the
// buffer) path is left empty and a failure code is returned.
HRESULT SHGetFolderPathW(HWND owner, int csidl, HANDLE token, DWORD flags, wchar_t* path);

#endif  // !_WIN32
