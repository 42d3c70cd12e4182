// Dynamic loading over dlopen/dlsym, after the built-in libraries.
#include "platform/dynload.h"

#include <dlfcn.h>

#include <string>

#include "platform/builtin_libraries.h"
#include "platform/text.h"

HMODULE LoadLibraryA(const char* name) {
    if (!name || !*name) return nullptr;
    if (HMODULE builtin = kiru::platform::detail::BuiltinModule(name)) return builtin;
    return static_cast<HMODULE>(dlopen(name, RTLD_NOW | RTLD_LOCAL));
}

HMODULE LoadLibraryW(const wchar_t* name) {
    if (!name) return nullptr;
    return LoadLibraryA(kiru::platform::WideToNarrowString(name).c_str());
}

void* GetProcAddress(HMODULE module, const char* name) {
    using namespace kiru::platform::detail;
    if (!module || !name) return nullptr;
    if (IsBuiltinModule(module)) return BuiltinEntryPoint(module, name);
    return dlsym(module, UndecoratedName(name).c_str());
}

BOOL FreeLibrary(HMODULE module) {
    if (!module) return FALSE;
    if (kiru::platform::detail::IsBuiltinModule(module)) return TRUE;
    return dlclose(module) == 0 ? TRUE : FALSE;
}
