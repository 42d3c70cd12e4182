#include "capture/orvos.h"

#include "platform/kernel.h"

int CORVOS::AcquireMutex(HANDLE mutex, ULONG timeoutMs) {
    if (!mutex || mutex == INVALID_HANDLE_VALUE) return 0;
    const DWORD result = WaitForSingleObject(mutex, timeoutMs);
    return (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0) ? 1 : 0;
}

int CORVOS::ReleaseMutex(HANDLE mutex) {
    if (!mutex || mutex == INVALID_HANDLE_VALUE) return 0;
    return ::ReleaseMutex(mutex) ? 1 : 0;
}
