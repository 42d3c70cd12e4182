#include "platform/dynload.h"
#include "platform/builtin_libraries.h"

#include <cctype>
#include <mutex>
#include <string>

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

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

Builtin* FindBuiltin(const char* name) {
    BuiltinTable& table = Builtins();
    const std::string base = BaseName(name);
    std::lock_guard<std::mutex> lock(table.mutex);
    for (int i = 0; i < table.count; ++i)
        if (SameNameIgnoringCase(table.slots[i].name, base)) return &table.slots[i];
    return nullptr;
}

Builtin* BuiltinOf(HMODULE module) {
    BuiltinTable& table = Builtins();
    auto* slot = reinterpret_cast<Builtin*>(module);
    return (slot >= table.slots && slot < table.slots + kMaxBuiltins) ? slot : nullptr;
}

}  // namespace

namespace kiru::platform::detail {

// "_Name@8" -> "Name"; other names unchanged.
std::string UndecoratedName(const char* name) {
    std::string n(name);
    const std::size_t at = n.rfind('@');
    if (n.size() > 2 && n[0] == '_' && at != std::string::npos && at > 1 && at + 1 < n.size() &&
        n.find_first_not_of("0123456789", at + 1) == std::string::npos) {
        return n.substr(1, at - 1);
    }
    return n;
}

HMODULE BuiltinModule(const char* name) {
    if (name == nullptr) return nullptr;
    return reinterpret_cast<HMODULE>(FindBuiltin(name));
}

bool IsBuiltinModule(HMODULE module) { return BuiltinOf(module) != nullptr; }

void* BuiltinEntryPoint(HMODULE module, const char* name) {
    Builtin* builtin = BuiltinOf(module);
    return builtin != nullptr && name != nullptr ? builtin->lookup(UndecoratedName(name).c_str()) : nullptr;
}

}  // namespace kiru::platform::detail

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
