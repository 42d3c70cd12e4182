// Message boxes with the Windows names. Off Windows a message box never
// blocks an unattended station: caption and text are written to standard
// error and the box answers as if its first button had been pressed. The
// grab objects also hand the text to their debug catcher themselves.
#pragma once

#include <kiru/win_types.h>

#if !defined(_WIN32)

#define MB_OK 0x00000000u
#define MB_ICONERROR 0x00000010u
#define MB_ICONWARNING 0x00000030u
#define IDOK 1

// Writes "caption: text" as one line to standard error; returns IDOK.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
int MessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);

#else

// Real message boxes, unless the environment variable KIRU_NO_MESSAGE_BOX is
// set (tests and unattended runs): then caption and text go to standard
// error and the box answers IDOK at once.
#  define MessageBoxA KiruMessageBoxA
#  define MessageBoxW KiruMessageBoxW
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
int MessageBoxW(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);

#endif  // !_WIN32
