#include "platform/thread_identity.h"

#include <atomic>

namespace kiru::platform {
namespace {

std::atomic<DWORD> g_lastId{0};
thread_local DWORD t_id = 0;

}  // namespace

DWORD CurrentThreadId() {
    if (t_id == 0) t_id = detail::NewThreadId();
    return t_id;
}

namespace detail {

DWORD NewThreadId() {
    DWORD id = g_lastId.fetch_add(1, std::memory_order_relaxed) + 1;
    while (id == 0) id = g_lastId.fetch_add(1, std::memory_order_relaxed) + 1;
    return id;
}

void AdoptThreadId(DWORD id) { t_id = id; }

}  // namespace detail
}  // namespace kiru::platform
