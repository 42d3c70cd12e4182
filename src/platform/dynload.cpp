#include "platform/dynload.h"

#include <dlfcn.h>
#include <strings.h>

#include <mutex>
#include <string>

#include "platform/text.h"

namespace {

// Built-in libraries. Their handles are the addresses of their slots, which
// never move, so a handle stays valid and is never confused with dlopen's.
struct Builtin {
    std::string name;
    kiru::platform::EntryPointLookup lookup = nullptr;
};
constexpr int kMaxBuiltins = 8;

struct BuiltinTable {
    std::mutex mutex;
    Builtin slots[kMaxBuiltins];
    int count = 0;
};

BuiltinTable& Builtins() {
    static BuiltinTable table;
    return table;
}

std::string BaseName(const char* name) {
    std::string n(name);
    const std::size_t cut = n.find_last_of("/\\");
    return cut == std::string::npos ? n : n.substr(cut + 1);
}

Builtin* FindBuiltin(const char* name) {
    BuiltinTable& table = Builtins();
    const std::string base = BaseName(name);
    std::lock_guard<std::mutex> lock(table.mutex);
    for (int i = 0; i < table.count; ++i)
        if (strcasecmp(table.slots[i].name.c_str(), base.c_str()) == 0) return &table.slots[i];
    return nullptr;
}

Builtin* BuiltinOf(HMODULE module) {
    BuiltinTable& table = Builtins();
    auto* slot = static_cast<Builtin*>(module);
    return (slot >= table.slots && slot < table.slots + kMaxBuiltins) ? slot : nullptr;
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

void kiru::platform::RegisterBuiltinLibrary(const char* name, EntryPointLookup lookup) {
    if (name == nullptr || lookup == nullptr) return;
    if (Builtin* existing = FindBuiltin(name)) {
        existing->lookup = lookup;
        return;
    }
    BuiltinTable& table = Builtins();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (table.count == kMaxBuiltins) return;
    table.slots[table.count].name = BaseName(name);
    table.slots[table.count].lookup = lookup;
    ++table.count;
}

HMODULE LoadLibraryA(const char* name) {
    if (!name || !*name) return nullptr;
    if (Builtin* builtin = FindBuiltin(name)) return static_cast<HMODULE>(builtin);
    return static_cast<HMODULE>(dlopen(name, RTLD_NOW | RTLD_LOCAL));
}

HMODULE LoadLibraryW(const wchar_t* name) {
    if (!name) return nullptr;
    return LoadLibraryA(kiru::platform::WideToNarrowString(name).c_str());
}

void* GetProcAddress(HMODULE module, const char* name) {
    if (!module || !name) return nullptr;
    const std::string symbol = Undecorate(name);
    if (Builtin* builtin = BuiltinOf(module)) return builtin->lookup(symbol.c_str());
    return dlsym(module, symbol.c_str());
}

BOOL FreeLibrary(HMODULE module) {
    if (!module) return FALSE;
    if (BuiltinOf(module) != nullptr) return TRUE;
    return dlclose(module) == 0 ? TRUE : FALSE;
}
