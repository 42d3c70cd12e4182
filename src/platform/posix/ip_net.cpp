#include "platform/ip_net.h"

#include <algorithm>
#include <mutex>

namespace {

struct ArpTable {
    std::mutex mutex;
    std::vector<MIB_IPNETROW> rows;
};

ArpTable& Table() {
    static ArpTable table;
    return table;
}

bool SameKey(const MIB_IPNETROW& a, const MIB_IPNETROW& b) { return a.dwIndex == b.dwIndex && a.dwAddr == b.dwAddr; }

}  // namespace

DWORD SetIpNetEntry(MIB_IPNETROW* row) {
    if (row == nullptr || row->dwPhysAddrLen > MAXLEN_PHYSADDR) return ERROR_INVALID_PARAMETER;
    ArpTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it =
        std::find_if(table.rows.begin(), table.rows.end(), [&](const MIB_IPNETROW& r) { return SameKey(r, *row); });
    if (it != table.rows.end()) *it = *row;
    else table.rows.push_back(*row);
    return NO_ERROR;
}

DWORD DeleteIpNetEntry(MIB_IPNETROW* row) {
    if (row == nullptr) return ERROR_INVALID_PARAMETER;
    ArpTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it =
        std::find_if(table.rows.begin(), table.rows.end(), [&](const MIB_IPNETROW& r) { return SameKey(r, *row); });
    if (it == table.rows.end()) return ERROR_NOT_FOUND;
    table.rows.erase(it);
    return NO_ERROR;
}

namespace kiru::platform {

std::vector<MIB_IPNETROW> StaticArpEntries() {
    ArpTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.rows;
}

}  // namespace kiru::platform
