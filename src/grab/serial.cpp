// Serial-port operations of the grab object: thin forwarding to the
// platform's port functions. The object keeps no port state; the handle is
// the client's.
#include <kiru/ixgrab.h>

#include "platform/serial.h"

void* IXGrab::OpenComPort(const wchar_t* name) {
    // Failure shows only as the invalid handle; the reason is dropped.
    return kiru::platform::OpenSerialPort(name);
}

void IXGrab::CloseComPort(void* port) { kiru::platform::CloseSerialPort(port); }

int IXGrab::GetCommState(void* port, DCB* dcb) { return ::GetCommState(port, dcb); }

int IXGrab::SetCommState(void* port, DCB* dcb) { return ::SetCommState(port, dcb); }

int IXGrab::SetCommTimeouts(void* port, COMMTIMEOUTS* timeouts) { return ::SetCommTimeouts(port, timeouts); }

int IXGrab::ClearCommError(void* port, ULONG* errors, COMSTAT* status) {
    return ::ClearCommError(port, errors, status);
}

int IXGrab::WriteComPort(void* port, const void* data, ULONG count, ULONG* written) {
    if (port == INVALID_HANDLE_VALUE) return 0;
    DWORD done = 0;
    const bool failed = !kiru::platform::WriteSerialPort(port, data, count, &done);
    // Flushed whether or not the write succeeded.
    ::FlushFileBuffers(port);
    if (written != nullptr) *written = done;
    return !failed && done == count ? 1 : 0;
}

int IXGrab::ReadComPort(void* port, void* buffer, ULONG count, ULONG* read) {
    DWORD got = 0;
    const BOOL ok = kiru::platform::ReadSerialPort(port, buffer, count, &got);
    if (read != nullptr) *read = got;
    return ok;
}

void IXGrab::PurgeComPort(void* port) {
    ::PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}
