#include "platform/adapters.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace kiru::platform {

ULONG AdapterIndexOfAddress(ULONG addressNetworkOrder) {
    ULONG found = 0;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return 0;
    for (ifaddrs* a = list; a && !found; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        if (in->sin_addr.s_addr == addressNetworkOrder) found = if_nametoindex(a->ifa_name);
    }
    freeifaddrs(list);
    return found;
}

}  // namespace kiru::platform
