// Dynamic loading on Windows: the built-in libraries first, then the
// system's loader. The system's functions are reached through their
// pointers taken before dynload.h gives their names to ours.
#include <kiru/win_types.h>

namespace {

HMODULE SystemLoadLibraryW(const wchar_t* name) { return ::LoadLibraryW(name); }
FARPROC SystemGetProcAddress(HMODULE module, const char* name) { return ::GetProcAddress(module, name); }
BOOL SystemFreeLibrary(HMODULE module) { return ::FreeLibrary(module); }

}  // namespace

#include "platform/dynload.h"

#include <string>

#include "platform/builtin_libraries.h"
#include "platform/text.h"

HMODULE LoadLibraryW(const wchar_t* name) {
    if (!name || !*name) return nullptr;
    const std::string narrow = kiru::platform::WideToNarrowString(name);
    if (HMODULE builtin = kiru::platform::detail::BuiltinModule(narrow.c_str())) return builtin;
    return SystemLoadLibraryW(name);
}

HMODULE LoadLibraryA(const char* name) {
    if (!name || !*name) return nullptr;
    if (HMODULE builtin = kiru::platform::detail::BuiltinModule(name)) return builtin;
    return SystemLoadLibraryW(kiru::platform::NarrowToWideString(name).c_str());
}

void* GetProcAddress(HMODULE module, const char* name) {
    using namespace kiru::platform::detail;
    if (!module || !name) return nullptr;
    if (IsBuiltinModule(module)) return BuiltinEntryPoint(module, name);
    // A 64-bit DLL exports plain names; a decorated one is looked up as given
    // first, then undecorated.
    if (FARPROC entry = SystemGetProcAddress(module, name)) return reinterpret_cast<void*>(entry);
    return reinterpret_cast<void*>(SystemGetProcAddress(module, UndecoratedName(name).c_str()));
}

BOOL FreeLibrary(HMODULE module) {
    if (!module) return FALSE;
    if (kiru::platform::detail::IsBuiltinModule(module)) return TRUE;
    return SystemFreeLibrary(module);
}
