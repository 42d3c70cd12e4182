// Static address-resolution entries on Windows are the system's own
// (SetIpNetEntry/DeleteIpNetEntry); the entries in force are read back from
// the system's table.
#include "platform/ip_net.h"

#include <vector>

#include "platform/win32/ip_helper_table.h"

namespace kiru::platform {

std::vector<MIB_IPNETROW> StaticArpEntries() {
    std::vector<MIB_IPNETROW> rows;
    const std::vector<unsigned char> buffer = detail::ReadIpHelperTable(
        [](void* table, ULONG* size) { return ::GetIpNetTable(static_cast<MIB_IPNETTABLE*>(table), size, FALSE); });
    if (buffer.empty()) return rows;
    const auto* table = reinterpret_cast<const MIB_IPNETTABLE*>(buffer.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
        if (table->table[i].dwType == MIB_IPNET_TYPE_STATIC) rows.push_back(table->table[i]);
    return rows;
}

}  // namespace kiru::platform
