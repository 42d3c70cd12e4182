// Adapters on Windows: the system's table of IPv4 addresses.
#include "platform/adapters.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include <vector>

namespace kiru::platform {

ULONG AdapterIndexOfAddress(ULONG addressNetworkOrder) {
    ULONG size = 0;
    if (::GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0) return 0;
    std::vector<unsigned char> buffer(size);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    if (::GetIpAddrTable(table, &size, FALSE) != NO_ERROR) return 0;
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
        if (table->table[i].dwAddr == addressNetworkOrder) return table->table[i].dwIndex;
    return 0;
}

}  // namespace kiru::platform
