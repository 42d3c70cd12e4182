// IPv4 address texts and byte order (inet_addr, inet_ntoa, htonl, ntohl,
// in_addr) from the system's socket headers.
#pragma once

#if defined(_WIN32)
#  include <winsock2.h>
#else
#  include <arpa/inet.h>
#  include <netinet/in.h>
#endif
