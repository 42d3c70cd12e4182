// Reading a table of the system's IP helper functions (GetIpNetTable,
// GetIpAddrTable): they first say how big a buffer they need, and the table
// can grow before it is read, so a few rounds are allowed.
#pragma once

#include <winsock2.h>
#include <iphlpapi.h>

#include <vector>

namespace kiru::platform::detail {

// `read(buffer, &size)` calls one of those functions. Returns the buffer
// holding the table, empty when the system has no entries (ERROR_NO_DATA)
// or the table cannot be read.
template <class Read>
std::vector<unsigned char> ReadIpHelperTable(Read read) {
    std::vector<unsigned char> buffer;
    ULONG size = 0;
    for (int round = 0; round < 4; ++round) {
        const DWORD result = read(buffer.empty() ? nullptr : buffer.data(), &size);
        if (result == NO_ERROR && !buffer.empty()) return buffer;
        if (result != ERROR_INSUFFICIENT_BUFFER || size == 0) break;
        buffer.assign(size, 0);
    }
    return {};
}

}  // namespace kiru::platform::detail
