// The host's network adapters.
#pragma once

#include <kiru/win_types.h>

namespace kiru::platform {

// The system's interface index of the adapter that holds the IPv4 address
// (network byte order), or 0 when no adapter has it.
ULONG AdapterIndexOfAddress(ULONG addressNetworkOrder);

}  // namespace kiru::platform
