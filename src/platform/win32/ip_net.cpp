// Static address-resolution entries on Windows are the system's own
// (SetIpNetEntry/DeleteIpNetEntry); the entries in force are read back from
// the system's table.
#include "platform/ip_net.h"

#include <vector>

namespace kiru::platform {

std::vector<MIB_IPNETROW> StaticArpEntries() {
    std::vector<MIB_IPNETROW> rows;
    ULONG size = 0;
    if (::GetIpNetTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0) return rows;
    std::vector<unsigned char> buffer(size);
    auto* table = reinterpret_cast<MIB_IPNETTABLE*>(buffer.data());
    if (::GetIpNetTable(table, &size, FALSE) != NO_ERROR) return rows;
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
        if (table->table[i].dwType == MIB_IPNET_TYPE_STATIC) rows.push_back(table->table[i]);
    return rows;
}

}  // namespace kiru::platform
