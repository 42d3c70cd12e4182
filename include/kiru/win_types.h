// Windows-style scalar types, kernel constants and serial-port records.
// On Windows these come from <windows.h>; elsewhere Kiru defines them with
// the same widths and values so that client code reads the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#  include <windows.h>
#else

typedef int BOOL;
typedef std::uint8_t BYTE;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef std::uint32_t ULONG;
typedef std::uint32_t UINT;
typedef void* HANDLE;
typedef void* HWND;
typedef void* HMODULE;
typedef void* HINSTANCE;

#ifndef TRUE
#  define TRUE 1
#endif
#ifndef FALSE
#  define FALSE 0
#endif

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED_0 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE ((HANDLE)(std::intptr_t)-1)
#define MAX_PATH 260

#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15

// Serial ports. Only the fields that the termios mapping supports are kept.
#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2

#define PURGE_TXABORT 0x0001u
#define PURGE_RXABORT 0x0002u
#define PURGE_TXCLEAR 0x0004u
#define PURGE_RXCLEAR 0x0008u

#define CE_RXOVER 0x0001u
#define CE_OVERRUN 0x0002u
#define CE_RXPARITY 0x0004u
#define CE_FRAME 0x0008u
#define CE_BREAK 0x0010u

// Line settings. BaudRate is in bits per second (any standard termios rate),
// ByteSize 5 to 8, Parity one of NOPARITY/ODDPARITY/EVENPARITY, StopBits
// ONESTOPBIT or TWOSTOPBITS.
struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
};

// Queue state reported by ClearCommError: bytes waiting to be read and to be sent.
struct COMSTAT {
    DWORD cbInQue;
    DWORD cbOutQue;
};

// Time-outs in milliseconds, with the Windows meaning: a read returns when the
// gap between two bytes exceeds ReadIntervalTimeout, or when the total time
// exceeds ReadTotalTimeoutMultiplier * count + ReadTotalTimeoutConstant.
// ReadIntervalTimeout = MAXDWORD with both totals 0 returns at once with what
// is buffered.
struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};

#define MAXDWORD 0xFFFFFFFFu

#endif
