// CiOS's kernel wrappers: each passes its arguments to the platform call of
// the same name and returns its result.
#include <kiru/cios.h>

#include "platform/kernel.h"

HANDLE CiOS::CreateMutexW(void* attributes, BOOL initialOwner, const wchar_t* name) {
    return ::CreateMutexW(static_cast<LPSECURITY_ATTRIBUTES>(attributes), initialOwner, name);
}

HANDLE CiOS::CreateSemaphoreW(void* attributes, LONG initialCount, LONG maximumCount, const wchar_t* name) {
    return ::CreateSemaphoreW(static_cast<LPSECURITY_ATTRIBUTES>(attributes), initialCount, maximumCount, name);
}

BOOL CiOS::ReleaseMutex(HANDLE mutex) { return ::ReleaseMutex(mutex); }

BOOL CiOS::ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount) {
    return ::ReleaseSemaphore(semaphore, releaseCount, previousCount);
}

DWORD CiOS::WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return ::WaitForSingleObject(object, milliseconds);
}

void CiOS::Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

// The result is dropped: a refused priority leaves the thread as it was.
void CiOS::SetThreadPriority(HANDLE thread, int priority) { ::SetThreadPriority(thread, priority); }

BOOL CiOS::CloseHandle(HANDLE object) { return ::CloseHandle(object); }

HANDLE CiOS::GetCurrentThread() { return ::GetCurrentThread(); }
