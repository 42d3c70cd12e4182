// Dynamic loading with the Windows names. A library built into this one (the
// capture library stand-in registers "orv21.dll") is matched by name in any
// case, with or without a folder, and its entry points come from the lookup
// it registered, never from the system's loader. Other names go to
// dlopen/dlsym (LoadLibraryW/GetProcAddress on Windows). A decorated name "_Name@N" is looked up as "Name".
#pragma once

#include <kiru/win_types.h>

#if defined(_WIN32)
// The system's functions keep their names for code that includes this
// header; ours look at the built-in libraries first and hand everything
// else to the system's loader.
#  define LoadLibraryW KiruLoadLibraryW
#  define LoadLibraryA KiruLoadLibraryA
#  define GetProcAddress KiruGetProcAddress
#  define FreeLibrary KiruFreeLibrary
#endif

HMODULE LoadLibraryW(const wchar_t* name);
HMODULE LoadLibraryA(const char* name);
void* GetProcAddress(HMODULE module, const char* name);
BOOL FreeLibrary(HMODULE module);

namespace kiru::platform {

// Finds an entry point by its undecorated name; null when there is none.
using EntryPointLookup = void* (*)(const char* name);

// Makes `name` a built-in library. Registering a name again replaces its
// lookup. Safe to call during static initialisation.
void RegisterBuiltinLibrary(const char* name, EntryPointLookup lookup);

}  // namespace kiru::platform
