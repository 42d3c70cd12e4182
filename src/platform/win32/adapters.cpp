// Adapters on Windows: the system's table of IPv4 addresses.
#include "platform/adapters.h"

#include <vector>

#include "platform/win32/ip_helper_table.h"

namespace kiru::platform {

ULONG AdapterIndexOfAddress(ULONG addressNetworkOrder) {
    const std::vector<unsigned char> buffer = detail::ReadIpHelperTable(
        [](void* table, ULONG* size) { return ::GetIpAddrTable(static_cast<MIB_IPADDRTABLE*>(table), size, FALSE); });
    if (buffer.empty()) return 0;
    const auto* table = reinterpret_cast<const MIB_IPADDRTABLE*>(buffer.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
        if (table->table[i].dwAddr == addressNetworkOrder) return table->table[i].dwIndex;
    return 0;
}

}  // namespace kiru::platform
