// The core shared by every kernel object: a state guarded by its own lock,
// waits with absolute deadlines on the monotonic clock, and waits on
// several objects at once.
//
// As with the Windows kernel, a wait is satisfied when the object is
// signalled, not when the waiter next runs: a thread that waits queues
// itself on the object, and whoever signals the object hands it to the
// oldest queued waiter that can take it (takes it on that waiter's behalf)
// and wakes that one thread alone. Two SetEvent calls on an auto-reset
// event with two waiters therefore release both, and a released mutex
// passes straight to its next waiter. A wait for any of several objects
// queues on each of them and is handed the first that becomes available.
// A wait for all of several objects takes them together or not at all; it
// sleeps on a process-wide generation counter that objects bump when they
// are signalled while such a waiter is registered with them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include <kiru/win_types.h>

#include "platform/waitable.h"

namespace kiru::platform {

class KernelObject;

namespace detail {

struct WaitBlock;

// One waiter's place in one object's queue (guarded by that object's lock).
struct WaitNode {
    WaitNode* prev = nullptr;
    WaitNode* next = nullptr;
    WaitBlock* block = nullptr;
    int index = 0;  // position of the object in the waiter's list
    bool linked = false;
};

class Waitable : public std::enable_shared_from_this<Waitable> {
public:
    explicit Waitable(ObjectKind kind) : kind_(kind) {}
    virtual ~Waitable();
    Waitable(const Waitable&) = delete;
    Waitable& operator=(const Waitable&) = delete;

    ObjectKind Kind() const { return kind_; }

    // Waits until the calling thread has the object and returns
    // WAIT_OBJECT_0 (WAIT_ABANDONED_0 for a mutex whose owner ended while
    // holding it), or returns WAIT_TIMEOUT after timeoutMs (INFINITE:
    // never). A time-out of 0 only tests.
    DWORD Wait(DWORD timeoutMs);

    // Name under which the object was created ("" when unnamed). Set once,
    // before the object is shared.
    void SetName(std::string name) { name_ = std::move(name); }
    const std::string& Name() const { return name_; }

protected:
    // Both are called with lock_ held. ReadyLocked says whether thread `tid`
    // could take the object now; AcquireLocked takes it for that thread
    // (reset an auto-reset event, count a semaphore down, own a mutex) and
    // returns WAIT_OBJECT_0 or WAIT_ABANDONED_0.
    virtual bool ReadyLocked(DWORD tid) const = 0;
    virtual DWORD AcquireLocked(DWORD tid) = 0;

    // Called on the acquiring thread, without lock_, after each successful
    // wait (mutexes record their ownership there).
    virtual void Acquired() {}

    // To be called, with `lock` holding lock_, after a change that may have
    // made the object available: hands it to queued waiters, oldest first,
    // as long as it can be taken, then releases the lock and wakes the
    // waiters for several objects at once, if any.
    void Dispatch(std::unique_lock<std::mutex>& lock);

    mutable std::mutex lock_;

private:
    friend DWORD WaitForAny(Waitable* const* objects, std::size_t count, DWORD timeoutMs);
    friend DWORD WaitForAll(Waitable* const* objects, std::size_t count, DWORD timeoutMs);
    friend class WaitAllRegistration;

    void LinkLocked(WaitNode* node);
    void UnlinkLocked(WaitNode* node);

    const ObjectKind kind_;
    std::string name_;
    WaitNode* first_ = nullptr;  // queue of waiting threads, oldest first
    WaitNode* last_ = nullptr;
    int waitAllWaiters_ = 0;  // guarded by lock_
};

// Waits for any of the objects: takes the first one (lowest index) that is
// available and returns WAIT_OBJECT_0 + index (WAIT_ABANDONED_0 + index for
// an abandoned mutex), or WAIT_TIMEOUT. The caller keeps the objects alive
// and checks the count (1 to kMaxWaitObjects).
DWORD WaitForAny(Waitable* const* objects, std::size_t count, DWORD timeoutMs);

// Waits until all objects are available and takes them in one step, never
// some of them. WAIT_OBJECT_0, or WAIT_ABANDONED_0 + the lowest index of an
// abandoned mutex among them, or WAIT_TIMEOUT. The caller also checks that
// no object appears twice.
DWORD WaitForAll(Waitable* const* objects, std::size_t count, DWORD timeoutMs);

}  // namespace detail
}  // namespace kiru::platform
