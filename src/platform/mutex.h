// Mutexes with Windows semantics: owned by a thread, re-entrant for that
// thread (each acquisition needs its own release), released only by the
// owner, and abandoned when the owner ends while holding it: the next thread
// to take it is told so (WAIT_ABANDONED_0) and becomes the owner.
#pragma once

#include <string>

#include "platform/waitable.h"

namespace kiru::platform {

class Mutex : public KernelObject {
public:
    // An invalid (empty) mutex; Valid() is false.
    Mutex() = default;
    // A new unnamed mutex, owned by the calling thread when initiallyOwned.
    explicit Mutex(bool initiallyOwned);

    // The named mutex `name` (UTF-8), visible to other processes. *existed
    // is set when the name was already in use here or in another process;
    // then initiallyOwned is ignored. A non-mutex object with that name
    // yields an invalid mutex.
    static Mutex OpenNamed(const std::string& name, bool initiallyOwned, bool* existed);

    // The mutex behind a handle; invalid when the handle is not a mutex.
    static Mutex FromHandle(HANDLE handle);

    void Lock() const { Wait(INFINITE); }
    // True when the calling thread now owns the mutex (also when it was
    // abandoned); false after timeoutMs without getting it.
    bool TryLock(DWORD timeoutMs = 0) const;
    // Releases one level of ownership; false when the caller is not the owner.
    bool Unlock() const;

    // For std::lock_guard and std::unique_lock.
    void lock() const { Lock(); }
    bool try_lock() const { return TryLock(0); }
    void unlock() const { Unlock(); }

private:
    explicit Mutex(std::shared_ptr<detail::Waitable> object) : KernelObject(std::move(object)) {}
};

namespace detail {

// Abandons every mutex the calling thread still owns. Run by a thread of
// ours as it ends, before its handle is signalled; other threads do it from
// a thread-local destructor.
void AbandonOwnedMutexes();

}  // namespace detail
}  // namespace kiru::platform
