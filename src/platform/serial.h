// Serial ports, with the Windows communications functions the grab object
// forwards to. On Windows a port is the system's: CreateFileW on the COM
// device, and the communications functions are the system's own. Elsewhere
// they are ours, on termios, as follows.
//
// A port handle names one open device; handle values never collide with the
// kernel-object handles (they are 2 modulo 4) and are never reused, so a
// stale or foreign handle is refused. Every function accepts any handle,
// INVALID_HANDLE_VALUE included, and refuses an unknown one without touching
// the system (FALSE, errno EBADF). Failures leave the reason in errno and,
// as a Windows error code, in the thread's last error (GetLastError).
//
// The device is put in raw mode when it is opened (no echo, no line editing,
// no character translation, no software flow control, receiver on, modem
// lines ignored) and read without blocking in the driver (VMIN = VTIME = 0);
// the waiting that COMMTIMEOUTS asks for is done with poll:
// - Reads: ReadIntervalTimeout is the longest gap between two bytes once the
//   first has arrived (0: unused); the total limit is
//   ReadTotalTimeoutMultiplier * count + ReadTotalTimeoutConstant (both 0:
//   none). Interval MAXDWORD with both totals 0 returns at once with what is
//   buffered; interval and multiplier MAXDWORD with a constant between 0 and
//   MAXDWORD returns as soon as any byte is there, waiting at most the
//   constant. A read that times out succeeds with the bytes it has (maybe 0).
// - Writes: the total limit is WriteTotalTimeoutMultiplier * count +
//   WriteTotalTimeoutConstant (both 0: none); a write that times out
//   succeeds with the bytes the driver took.
// A fresh port has all time-outs 0: a read waits until count bytes arrived.
#pragma once

#include <kiru/win_types.h>

namespace kiru::platform {

// Opens an existing serial device for reading and writing, exclusively: the
// device is marked exclusive (TIOCEXCL) and locked against any other open
// by this library, in this process or another. A path that is not a
// terminal device is refused. INVALID_HANDLE_VALUE on failure.
HANDLE OpenSerialPort(const wchar_t* path);

// Closes the port. A read or write waiting on it in another thread returns
// FALSE (errno EBADF).
BOOL CloseSerialPort(HANDLE port);

// One synchronous read of up to count bytes under the port's time-outs.
// TRUE with *read set (possibly short) on success or time-out; FALSE when the
// device fails (e.g. EIO after the other end went away) or the read was
// aborted by PurgeComm (ECANCELED), with *read holding what arrived before.
BOOL ReadSerialPort(HANDLE port, void* buffer, DWORD count, DWORD* read);

// One synchronous write of count bytes under the port's time-outs, with
// *written set as for reads.
BOOL WriteSerialPort(HANDLE port, const void* data, DWORD count, DWORD* written);

}  // namespace kiru::platform

#if !defined(_WIN32)

// Line settings: BaudRate (any termios rate), ByteSize (5 to 8), Parity
// (NOPARITY, ODDPARITY, EVENPARITY) and StopBits (ONESTOPBIT, TWOSTOPBITS,
// ONE5STOPBITS with 5-bit bytes). SetCommState fails (EINVAL) and changes
// nothing when a value is out of range or the driver does not apply every
// setting asked for.
BOOL GetCommState(HANDLE port, DCB* dcb);
BOOL SetCommState(HANDLE port, DCB* dcb);

BOOL GetCommTimeouts(HANDLE port, COMMTIMEOUTS* timeouts);
BOOL SetCommTimeouts(HANDLE port, COMMTIMEOUTS* timeouts);

// Reports the line errors seen since the last call (CE_FRAME, CE_OVERRUN,
// CE_RXPARITY, CE_BREAK, CE_RXOVER, from the driver's counters where it
// keeps them; 0 where it does not) and the bytes waiting in the input and
// output queues. errors and status may be null.
BOOL ClearCommError(HANDLE port, DWORD* errors, COMSTAT* status);

// PURGE_RXCLEAR / PURGE_TXCLEAR discard the input / output queue;
// PURGE_RXABORT / PURGE_TXABORT make reads / writes waiting on the port in
// other threads return FALSE (ECANCELED). Other flag bits: FALSE (EINVAL).
BOOL PurgeComm(HANDLE port, DWORD flags);

// Waits until everything written has been sent (tcdrain).
BOOL FlushFileBuffers(HANDLE port);

#endif  // !_WIN32
