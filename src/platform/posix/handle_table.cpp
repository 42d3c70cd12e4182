#include "platform/posix/handle_table.h"
#include "platform/posix/waitable_core.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace kiru::platform::detail {
namespace {

struct HandleTable {
    std::mutex lock;
    std::unordered_map<std::uintptr_t, std::shared_ptr<Waitable>> objects;
    std::uintptr_t lastValue = 0;
};

// Never destroyed: handles may still be used and closed by objects that are
// torn down during process exit, after static destructors have run.
HandleTable& Table() {
    static HandleTable* table = new HandleTable;
    return *table;
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<Waitable> object) {
    if (!object) return nullptr;
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    // Multiples of 4 as on Windows, starting at 4: never 0, and far below the
    // pseudo-handles at the top of the range.
    table.lastValue += 4;
    table.objects.emplace(table.lastValue, std::move(object));
    return reinterpret_cast<HANDLE>(table.lastValue);
}

std::shared_ptr<Waitable> FindHandle(HANDLE handle) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == table.objects.end()) return nullptr;
    return it->second;
}

bool CloseHandleEntry(HANDLE handle) {
    std::shared_ptr<Waitable> dropped;  // released after the lock
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == table.objects.end()) return false;
    dropped = std::move(it->second);
    table.objects.erase(it);
    return true;
}

}  // namespace kiru::platform::detail
