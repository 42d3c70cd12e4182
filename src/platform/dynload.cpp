#include "platform/dynload.h"

#include <dlfcn.h>
#include <strings.h>

#include <string>

#include "capture/entry_points.h"
#include "platform/text.h"

namespace {

// Stands for "orv21.dll"; never dereferenced.
char g_captureLibrary;

HMODULE CaptureLibraryHandle() { return static_cast<HMODULE>(&g_captureLibrary); }

bool IsCaptureLibrary(const char* name) {
    std::string n(name);
    const std::size_t cut = n.find_last_of("/\\");
    if (cut != std::string::npos) n = n.substr(cut + 1);
    return strcasecmp(n.c_str(), "orv21.dll") == 0;
}

// "_Name@8" -> "Name"; other names unchanged.
std::string Undecorate(const char* name) {
    std::string n(name);
    const std::size_t at = n.rfind('@');
    if (n.size() > 2 && n[0] == '_' && at != std::string::npos && at > 1 && at + 1 < n.size() &&
        n.find_first_not_of("0123456789", at + 1) == std::string::npos) {
        return n.substr(1, at - 1);
    }
    return n;
}

}  // namespace

HMODULE LoadLibraryA(const char* name) {
    if (!name || !*name) return nullptr;
    if (IsCaptureLibrary(name)) return CaptureLibraryHandle();
    return static_cast<HMODULE>(dlopen(name, RTLD_NOW | RTLD_LOCAL));
}

HMODULE LoadLibraryW(const wchar_t* name) {
    if (!name) return nullptr;
    return LoadLibraryA(kiru::platform::WideToNarrowString(name).c_str());
}

void* GetProcAddress(HMODULE module, const char* name) {
    if (!module || !name) return nullptr;
    const std::string symbol = Undecorate(name);
    if (module == CaptureLibraryHandle()) return OrvLookupEntryPoint(symbol.c_str());
    return dlsym(module, symbol.c_str());
}

BOOL FreeLibrary(HMODULE module) {
    if (!module) return FALSE;
    if (module == CaptureLibraryHandle()) return TRUE;
    return dlclose(module) == 0 ? TRUE : FALSE;
}
