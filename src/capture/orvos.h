// Operating-system services of the capture library.
#pragma once

#include <kiru/ciobject.h>
#include <kiru/win_types.h>

class CORVOS : public CIobject {
public:
    CORVOS() = default;
    // Waits up to timeoutMs (INFINITE: no limit) for a mutex made by
    // CreateMutexW; 1 when it is now held (also when it was abandoned), else 0.
    static int AcquireMutex(HANDLE mutex, ULONG timeoutMs);
    // 1 when the caller held the mutex and released it.
    static int ReleaseMutex(HANDLE mutex);
};
