// Thread identifiers: nonzero, unique among the threads of the process for
// the whole life of the process, and fixed for a thread's life. Mutex
// ownership is recorded by this identifier.
#pragma once

#include <kiru/win_types.h>

namespace kiru::platform {

// The calling thread's identifier; a thread that did not come from
// CreateThread or Thread gets one on first use.
DWORD CurrentThreadId();

namespace detail {

// Reserves the identifier of a thread about to be started, so that its
// creator can report it before the thread runs.
DWORD NewThreadId();

// Called first thing on a started thread with the identifier reserved for it.
void AdoptThreadId(DWORD id);

}  // namespace detail
}  // namespace kiru::platform
