// Static address-resolution entries with the Windows names. GigE cameras
// get a static entry (their IPv4 address bound to their MAC address on the
// host adapter that reaches them) so that the first stream packets are not
// held up by address resolution. On Windows they are the system's entries;
// elsewhere they live in a table of this process and the system's own table
// is not changed.
#pragma once

#include <kiru/win_types.h>

#include <vector>

#if defined(_WIN32)
#  include <winsock2.h>
#  include <iphlpapi.h>
#else

#define MAXLEN_PHYSADDR 8
#define MIB_IPNET_TYPE_OTHER 1
#define MIB_IPNET_TYPE_INVALID 2
#define MIB_IPNET_TYPE_DYNAMIC 3
#define MIB_IPNET_TYPE_STATIC 4

#ifndef NO_ERROR
#define NO_ERROR 0u
#endif
#define ERROR_NOT_FOUND 1168u
#ifndef ERROR_INVALID_PARAMETER
#define ERROR_INVALID_PARAMETER 87u
#endif

// One entry: interface index, physical address, IPv4 address (network
// order) and entry type.
struct MIB_IPNETROW {
    DWORD dwIndex;
    DWORD dwPhysAddrLen;
    BYTE bPhysAddr[MAXLEN_PHYSADDR];
    DWORD dwAddr;
    DWORD dwType;
};

// Adds the entry, or replaces the one for the same interface and address.
// ERROR_INVALID_PARAMETER for a null row or a physical address longer than
// MAXLEN_PHYSADDR; else NO_ERROR.
DWORD SetIpNetEntry(MIB_IPNETROW* row);
// Removes the entry for the row's interface and address; ERROR_NOT_FOUND
// when there is none.
DWORD DeleteIpNetEntry(MIB_IPNETROW* row);

#endif  // !_WIN32

namespace kiru::platform {

// The entries in force, oldest first (tests and diagnostics).
std::vector<MIB_IPNETROW> StaticArpEntries();

}  // namespace kiru::platform
