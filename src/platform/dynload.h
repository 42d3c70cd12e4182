// Dynamic loading with the Windows names. "orv21.dll" (any case, with or
// without a folder) is the capture library linked into this library: its
// entry points come from the library's own table, never from the system's
// loader. Other names go to dlopen/dlsym. A decorated name "_Name@N" is
// looked up as "Name".
#pragma once

#include <kiru/win_types.h>

HMODULE LoadLibraryW(const wchar_t* name);
HMODULE LoadLibraryA(const char* name);
void* GetProcAddress(HMODULE module, const char* name);
BOOL FreeLibrary(HMODULE module);
