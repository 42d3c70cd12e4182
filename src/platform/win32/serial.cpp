// Serial ports on Windows: the COM device opened with CreateFileW for
// exclusive synchronous use; line settings, time-outs, queues and errors
// are the system's communications functions.
#include "platform/serial.h"

namespace kiru::platform {

HANDLE OpenSerialPort(const wchar_t* path) {
    if (path == nullptr || path[0] == L'\0') {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE port = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
    // Only a communications device answers GetCommState.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(port);
        ::SetLastError(error == ERROR_SUCCESS ? ERROR_INVALID_HANDLE : error);
        return INVALID_HANDLE_VALUE;
    }
    return port;
}

BOOL CloseSerialPort(HANDLE port) {
    if (port == nullptr || port == INVALID_HANDLE_VALUE) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // A read or write waiting in another thread returns FALSE.
    ::CancelIoEx(port, nullptr);
    return ::CloseHandle(port);
}

BOOL ReadSerialPort(HANDLE port, void* buffer, DWORD count, DWORD* read) {
    DWORD got = 0;
    const BOOL ok = ::ReadFile(port, buffer, count, &got, nullptr);
    if (read) *read = got;
    return ok;
}

BOOL WriteSerialPort(HANDLE port, const void* data, DWORD count, DWORD* written) {
    DWORD put = 0;
    const BOOL ok = ::WriteFile(port, data, count, &put, nullptr);
    if (written) *written = put;
    return ok;
}

}  // namespace kiru::platform
