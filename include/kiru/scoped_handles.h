// Small scoped helpers for kernel objects handed across the API.
#pragma once

#include <kiru/ciobject.h>
#include <kiru/export.h>
#include <kiru/win_types.h>

// Holds a mutex for the life of the object. The constructor waits for the
// mutex with the given time-out; the destructor releases it only when that
// wait succeeded. Held() tells whether it did.
class KIRU_API CMutexHold : public CIobject {
public:
    CMutexHold(void* mutex, ULONG timeout);
    ~CMutexHold() override;
    int Held() const { return m_held; }

private:
    CMutexHold(const CMutexHold&) = delete;
    CMutexHold& operator=(const CMutexHold&) = delete;
    void* m_mutex;
    int m_held;
};

// Owns a copy of a handle and closes it on destruction unless it is null or
// the invalid-handle value.
class KIRU_API CrtHandleCloser : public CIobject {
public:
    explicit CrtHandleCloser(void*& handle);
    ~CrtHandleCloser() override;

private:
    CrtHandleCloser(const CrtHandleCloser&) = delete;
    CrtHandleCloser& operator=(const CrtHandleCloser&) = delete;
    void* m_handle;
};
