#include "platform/kernel.h"
#include "platform/posix/waitable_core.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/posix/handle_table.h"
#include "platform/mutex.h"
#include "platform/semaphore.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "platform/thread_identity.h"
#include "platform/posix/thread_priority.h"

namespace {

using kiru::platform::detail::Waitable;

thread_local DWORD t_lastError = ERROR_SUCCESS;

const HANDLE kCurrentThreadPseudoHandle = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2));

std::string NameOf(const wchar_t* name) {
    return (name && name[0]) ? kiru::platform::WideToNarrowString(name) : std::string();
}

// The object a wait refers to. The calling thread's pseudo-handle means its
// own thread object, which cannot become signalled during the wait; for a
// thread we did not start, an object that is never signalled stands in.
std::shared_ptr<Waitable> WaitTarget(HANDLE handle) {
    if (handle == kCurrentThreadPseudoHandle) {
        if (auto self = kiru::platform::detail::CurrentThreadObject()) return self;
        return kiru::platform::Event(true, false).Object();
    }
    return kiru::platform::detail::FindHandle(handle);
}

// Finishes a Create* call: the handle on success, and the last error that
// says whether the name existed.
HANDLE Created(const kiru::platform::KernelObject& object, bool existed, DWORD failure) {
    if (!object.Valid()) {
        SetLastError(failure);
        return nullptr;
    }
    HANDLE handle = object.NewHandle();
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

}  // namespace

HANDLE CreateEventW(void*, BOOL manualReset, BOOL initialState, const wchar_t* name) {
    using kiru::platform::Event;
    std::string narrow = NameOf(name);
    bool existed = false;
    Event event = narrow.empty() ? Event(manualReset != FALSE, initialState != FALSE)
                                 : Event::OpenNamed(narrow, manualReset != FALSE, initialState != FALSE, &existed);
    return Created(event, existed, ERROR_INVALID_HANDLE);
}

HANDLE CreateMutexW(void*, BOOL initialOwner, const wchar_t* name) {
    using kiru::platform::Mutex;
    std::string narrow = NameOf(name);
    bool existed = false;
    Mutex mutex = narrow.empty() ? Mutex(initialOwner != FALSE)
                                 : Mutex::OpenNamed(narrow, initialOwner != FALSE, &existed);
    return Created(mutex, existed, ERROR_INVALID_HANDLE);
}

HANDLE CreateSemaphoreW(void*, LONG initialCount, LONG maximumCount, const wchar_t* name) {
    using kiru::platform::Semaphore;
    if (!Semaphore::ValidCounts(initialCount, maximumCount)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string narrow = NameOf(name);
    bool existed = false;
    Semaphore semaphore = narrow.empty() ? Semaphore(initialCount, maximumCount)
                                         : Semaphore::OpenNamed(narrow, initialCount, maximumCount, &existed);
    return Created(semaphore, existed, ERROR_INVALID_HANDLE);
}

HANDLE CreateThread(void*, std::size_t stackSize, LPTHREAD_START_ROUTINE fn, void* arg, DWORD flags,
                    DWORD* threadId) {
    if (!fn || (flags & CREATE_SUSPENDED)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto thread = kiru::platform::detail::StartThread([fn, arg] { return fn(arg); }, stackSize);
    if (!thread) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId) *threadId = kiru::platform::detail::ThreadIdOf(*thread);
    return kiru::platform::detail::InsertHandle(std::move(thread));
}

BOOL SetEvent(HANDLE handle) {
    auto event = kiru::platform::Event::FromHandle(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event.Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
    auto event = kiru::platform::Event::FromHandle(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event.Reset();
    return TRUE;
}

BOOL ReleaseMutex(HANDLE handle) {
    auto mutex = kiru::platform::Mutex::FromHandle(handle);
    if (!mutex) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!mutex.Unlock()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}

BOOL ReleaseSemaphore(HANDLE handle, LONG releaseCount, LONG* previousCount) {
    using kiru::platform::Semaphore;
    auto semaphore = Semaphore::FromHandle(handle);
    if (!semaphore) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    switch (semaphore.Release(releaseCount, previousCount)) {
    case Semaphore::ReleaseResult::Released: return TRUE;
    case Semaphore::ReleaseResult::TooManyPosts: SetLastError(ERROR_TOO_MANY_POSTS); return FALSE;
    case Semaphore::ReleaseResult::InvalidCount: break;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto object = WaitTarget(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return object->Wait(milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    // The references keep every object alive for the length of the wait.
    std::vector<std::shared_ptr<Waitable>> references;
    std::vector<Waitable*> objects;
    references.reserve(count);
    objects.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        auto object = WaitTarget(handles[i]);
        if (!object) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(object.get());
        references.push_back(std::move(object));
    }
    if (!waitAll) return kiru::platform::detail::WaitForAny(objects.data(), count, milliseconds);

    std::vector<Waitable*> distinct = objects;
    std::sort(distinct.begin(), distinct.end());
    if (std::adjacent_find(distinct.begin(), distinct.end()) != distinct.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return kiru::platform::detail::WaitForAll(objects.data(), count, milliseconds);
}

BOOL CloseHandle(HANDLE handle) {
    if (handle == kCurrentThreadPseudoHandle) return TRUE;  // pseudo-handles need no closing
    if (!kiru::platform::detail::CloseHandleEntry(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
    using namespace kiru::platform;
    if (handle == kCurrentThreadPseudoHandle) {
        if (!SetCurrentThreadPriority(priority)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return TRUE;
    }
    auto object = detail::FindHandle(handle);
    if (!object || object->Kind() != detail::ObjectKind::Thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!detail::IsValidThreadPriority(priority)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    detail::SetThreadObjectPriority(*object, priority);
    return TRUE;
}

HANDLE GetCurrentThread() { return kCurrentThreadPseudoHandle; }

DWORD GetCurrentThreadId() { return kiru::platform::CurrentThreadId(); }

BOOL GetExitCodeThread(HANDLE handle, DWORD* exitCode) {
    using namespace kiru::platform;
    if (!exitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (handle == kCurrentThreadPseudoHandle) {  // the caller is running
        *exitCode = STILL_ACTIVE;
        return TRUE;
    }
    auto object = detail::FindHandle(handle);
    if (!object || object->Kind() != detail::ObjectKind::Thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *exitCode = detail::ThreadExitCodeOf(*object);
    return TRUE;
}

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD error) { t_lastError = error; }
