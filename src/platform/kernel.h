// The handle-style face of the kernel objects, with the Windows names and
// semantics, for the places where kernel objects are handed across as
// HANDLE values. Each function works on the same objects as the typed
// classes in kiru::platform (event.h, mutex.h, semaphore.h, thread.h).
//
// Error codes are kept per thread (GetLastError). Handles are references to
// reference-counted objects: CloseHandle drops one reference, and a wait in
// progress keeps its objects alive. Closing a thread's handle never detaches
// the thread; it is joined once it has ended and nothing refers to it.
#pragma once

#include <cstddef>

#include <kiru/win_types.h>

#if !defined(_WIN32)

#define ERROR_SUCCESS 0u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_NOT_OWNER 288u
#define ERROR_TOO_MANY_POSTS 298u
#define ERROR_TIMEOUT 1460u

#ifndef STILL_ACTIVE
#  define STILL_ACTIVE 259u
#endif
#define CREATE_SUSPENDED 0x00000004u
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000u
#define MAXIMUM_WAIT_OBJECTS 64u

typedef DWORD (*LPTHREAD_START_ROUTINE)(void* arg);
typedef void* LPSECURITY_ATTRIBUTES;

// Security attributes are ignored everywhere. A null or empty name makes an
// unnamed object. Creating a named object that exists returns a new handle
// on it and sets ERROR_ALREADY_EXISTS (its creation arguments are then
// ignored); otherwise the last error is cleared to 0. A name held by an
// object of another kind fails with ERROR_INVALID_HANDLE. Named mutexes are
// seen by other processes too; named events and semaphores only here.
HANDLE CreateEventW(void* attrs, BOOL manualReset, BOOL initialState, const wchar_t* name);
HANDLE CreateMutexW(void* attrs, BOOL initialOwner, const wchar_t* name);
// Fails (ERROR_INVALID_PARAMETER) unless 0 <= initialCount <= maximumCount and maximumCount > 0.
HANDLE CreateSemaphoreW(void* attrs, LONG initialCount, LONG maximumCount, const wchar_t* name);

// Starts fn(arg) on a new thread; its result is the exit code. stackSize 0
// takes the default size, a larger one is honoured. CREATE_SUSPENDED is
// not supported (ERROR_INVALID_PARAMETER). threadId (optional) receives the
// identifier GetCurrentThreadId will report on the new thread.
HANDLE CreateThread(void* attrs, std::size_t stackSize, LPTHREAD_START_ROUTINE fn, void* arg,
                    DWORD flags, DWORD* threadId);

BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// Fails with ERROR_NOT_OWNER unless the calling thread owns the mutex.
BOOL ReleaseMutex(HANDLE mutex);
// Fails with ERROR_TOO_MANY_POSTS, releasing nothing, past the maximum;
// with ERROR_INVALID_PARAMETER for a count below 1.
BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount);

// WAIT_OBJECT_0, WAIT_ABANDONED_0 (a mutex whose owner ended holding it),
// WAIT_TIMEOUT, or WAIT_FAILED with the last error set.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
// count 1 to MAXIMUM_WAIT_OBJECTS. waitAll FALSE: WAIT_OBJECT_0 + the index
// of the object taken, the lowest index among those signalled. waitAll TRUE:
// all objects are taken together or none; an object given twice is
// ERROR_INVALID_PARAMETER.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);

// FALSE with ERROR_INVALID_HANDLE for a handle that is not open.
BOOL CloseHandle(HANDLE object);

void Sleep(DWORD milliseconds);

// THREAD_PRIORITY_TIME_CRITICAL asks for real-time scheduling and minimal
// timer slack; a refusal by the system keeps the normal scheduling and
// still succeeds. Fails only for a handle that is not a thread or an
// unknown level (ERROR_INVALID_PARAMETER).
BOOL SetThreadPriority(HANDLE thread, int priority);
// A pseudo-handle meaning "the calling thread"; it needs no closing.
HANDLE GetCurrentThread();
DWORD GetCurrentThreadId();
// STILL_ACTIVE while the thread runs.
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);

DWORD GetLastError();
void SetLastError(DWORD error);

#endif  // !_WIN32
