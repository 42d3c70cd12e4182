// The core shared by every kernel object: a state guarded by its own lock,
// waits with absolute deadlines on the monotonic clock, and the bookkeeping
// that lets one thread wait on several objects at once.
//
// A wait on one object sleeps on that object's condition variable, so waking
// it costs one futex wake and nothing global. A wait on several objects
// registers itself with each of them; an object that becomes signalled while
// such a waiter is registered also bumps a process-wide generation counter
// and broadcasts, which the multi-object waiters sleep on.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include <kiru/win_types.h>

namespace kiru::platform {

class KernelObject;

namespace detail {

enum class ObjectKind { Event, Mutex, Semaphore, Thread };

// Largest number of objects one WaitForMany accepts (the Windows limit).
constexpr std::size_t kMaxWaitObjects = 64;

class Waitable : public std::enable_shared_from_this<Waitable> {
public:
    explicit Waitable(ObjectKind kind) : kind_(kind) {}
    virtual ~Waitable();
    Waitable(const Waitable&) = delete;
    Waitable& operator=(const Waitable&) = delete;

    ObjectKind Kind() const { return kind_; }

    // Waits until the calling thread can take the object, takes it and
    // returns WAIT_OBJECT_0 (WAIT_ABANDONED_0 for a mutex whose owner ended
    // while holding it), or returns WAIT_TIMEOUT after timeoutMs (INFINITE:
    // never). A time-out of 0 only tests.
    DWORD Wait(DWORD timeoutMs);

    // Name under which the object was created ("" when unnamed). Set once,
    // before the object is shared.
    void SetName(std::string name) { name_ = std::move(name); }
    const std::string& Name() const { return name_; }

protected:
    enum class Wake { One, All };

    // Both are called with lock_ held. ReadyLocked says whether thread `tid`
    // could take the object now; AcquireLocked takes it (reset an auto-reset
    // event, count a semaphore down, own a mutex).
    virtual bool ReadyLocked(DWORD tid) const = 0;
    virtual DWORD AcquireLocked(DWORD tid) = 0;

    // Wakes waiters after the state changed to signalled. `count` threads
    // waiting on this object alone are woken (Wake::All: every one), plus
    // every multi-object waiter when `multiWaiting` (read under lock_ when
    // the state changed) says there are any. Called without lock_.
    void Notify(Wake how, bool multiWaiting, long count = 1);

    bool MultiWaitingLocked() const { return multiWaiters_ > 0; }

    mutable std::mutex lock_;

private:
    friend DWORD WaitForMany(const std::shared_ptr<Waitable>* objects, std::size_t count,
                             bool waitAll, DWORD timeoutMs);
    friend class MultiWaitRegistration;

    const ObjectKind kind_;
    std::string name_;
    std::condition_variable cv_;
    int multiWaiters_ = 0;  // guarded by lock_
};

// Waits on several objects. waitAll false: takes the first object (lowest
// index) that is signalled and returns WAIT_OBJECT_0 + index (or
// WAIT_ABANDONED_0 + index). waitAll true: takes all objects in one step once
// all are signalled, never some of them; returns WAIT_OBJECT_0, or
// WAIT_ABANDONED_0 + the lowest index of an abandoned mutex among them.
// WAIT_TIMEOUT when the time-out passes. The caller checks the count (1 to
// kMaxWaitObjects) and, for waitAll, that no object appears twice.
DWORD WaitForMany(const std::shared_ptr<Waitable>* objects, std::size_t count, bool waitAll,
                  DWORD timeoutMs);

}  // namespace detail

// Base of the typed kernel-object classes. A typed object shares its kernel
// object: copies, and handles made with NewHandle, refer to the same one.
class KernelObject {
public:
    bool Valid() const { return object_ != nullptr; }
    explicit operator bool() const { return Valid(); }

    // WAIT_OBJECT_0, WAIT_ABANDONED_0 (mutexes) or WAIT_TIMEOUT; WAIT_FAILED
    // on an invalid object.
    DWORD Wait(DWORD timeoutMs = INFINITE) const;

    // A new handle on this object for the handle-style functions; the caller
    // closes it with CloseHandle. Null on an invalid object.
    HANDLE NewHandle() const;

    const std::shared_ptr<detail::Waitable>& Object() const { return object_; }

protected:
    KernelObject() = default;
    explicit KernelObject(std::shared_ptr<detail::Waitable> object) : object_(std::move(object)) {}

    // The object behind `handle` when it is of `kind`, else null.
    static std::shared_ptr<detail::Waitable> Lookup(HANDLE handle, detail::ObjectKind kind);

    std::shared_ptr<detail::Waitable> object_;
};

}  // namespace kiru::platform
