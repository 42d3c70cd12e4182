#include <kiru/scoped_handles.h>

#include "capture/orvos.h"
#include "platform/kernel.h"

CMutexHold::CMutexHold(void* mutex, ULONG timeout)
    : m_mutex(mutex), m_held(CORVOS::AcquireMutex(static_cast<HANDLE>(mutex), timeout)) {}

CMutexHold::~CMutexHold() {
    if (m_held) CORVOS::ReleaseMutex(static_cast<HANDLE>(m_mutex));
}

CrtHandleCloser::CrtHandleCloser(void*& handle) : m_handle(handle) {}

CrtHandleCloser::~CrtHandleCloser() {
    if (m_handle && m_handle != INVALID_HANDLE_VALUE) CloseHandle(static_cast<HANDLE>(m_handle));
    m_handle = nullptr;
}
