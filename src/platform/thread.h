// Threads. A thread's object is signalled when its function returns, so a
// wait on it is a join with time-out. Threads are never detached: the
// system thread is joined when the last reference to its object goes away
// (at once when that happens on another thread; when the thread itself
// drops the last reference as it ends, e.g. after its handle was closed
// while it ran, a process-wide reaper joins it at the next thread start or
// at process exit).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#include "platform/waitable.h"

#ifndef STILL_ACTIVE
#  define STILL_ACTIVE 259u
#endif

namespace kiru::platform {

// An owned thread: the destructor waits for the thread to end.
class Thread : public KernelObject {
public:
    Thread() = default;
    ~Thread() { Join(); }
    Thread(Thread&&) noexcept = default;
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Runs `body` on a new thread; its result is the exit code. stackSize 0
    // takes the default; a larger request than the default is honoured. A
    // thread this object still owns is joined first. False when no thread
    // could be started.
    bool Start(std::function<DWORD()> body, std::size_t stackSize = 0);

    // The same for a body that returns nothing (exit code 0).
    template <class F, class = std::enable_if_t<std::is_void_v<std::invoke_result_t<F&>>>>
    bool Start(F body, std::size_t stackSize = 0) {
        return Start(std::function<DWORD()>([b = std::move(body)]() mutable -> DWORD {
                         b();
                         return 0;
                     }),
                     stackSize);
    }

    // Waits for the thread to end, at most timeoutMs; true when it has ended
    // (or none was started). The system thread is then joined and this
    // object keeps only its identifier and exit code.
    bool Join(DWORD timeoutMs = INFINITE);

    // Identifier as GetCurrentThreadId reports it on the thread; 0 before Start.
    DWORD Id() const { return id_; }
    // STILL_ACTIVE until the thread has ended, then the body's result.
    DWORD ExitCode() const;

    // THREAD_PRIORITY_* value; false only for an unknown level or no thread.
    bool SetPriority(int priority) const;
    bool SetTimeCritical() const { return SetPriority(THREAD_PRIORITY_TIME_CRITICAL); }

private:
    DWORD id_ = 0;
    DWORD exitCode_ = STILL_ACTIVE;
};

// Applies a THREAD_PRIORITY_* level to the calling thread (any thread, ours
// or not). False only for an unknown level.
bool SetCurrentThreadPriority(int priority);

namespace detail {

// Starts `body` on a new thread; null when the system refused.
std::shared_ptr<Waitable> StartThread(std::function<DWORD()> body, std::size_t stackSize);

// Queries on an object of kind Thread.
DWORD ThreadIdOf(const Waitable& thread);
DWORD ThreadExitCodeOf(const Waitable& thread);
void SetThreadObjectPriority(Waitable& thread, int priority);

// The calling thread's object when it was started by StartThread, else null.
std::shared_ptr<Waitable> CurrentThreadObject();

}  // namespace detail
}  // namespace kiru::platform
