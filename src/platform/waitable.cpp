#include "platform/waitable.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/handle_table.h"
#include "platform/named_objects.h"
#include "platform/thread_identity.h"

namespace kiru::platform {
namespace detail {
namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point DeadlineAfter(DWORD timeoutMs) {
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

// Where waiters on several objects sleep. Signalled objects that have such
// waiters bump the generation and broadcast.
struct MultiWaitHub {
    std::mutex lock;
    std::condition_variable changed;
    std::uint64_t generation = 0;
};

// Never destroyed, like the handle table: objects may signal during exit.
MultiWaitHub& Hub() {
    static MultiWaitHub* hub = new MultiWaitHub;
    return *hub;
}

std::uint64_t CurrentGeneration() {
    MultiWaitHub& hub = Hub();
    std::lock_guard<std::mutex> guard(hub.lock);
    return hub.generation;
}

// Sleeps until the generation moves past `seen` or the deadline passes.
void WaitForGenerationChange(std::uint64_t seen, bool infinite, Clock::time_point deadline) {
    MultiWaitHub& hub = Hub();
    std::unique_lock<std::mutex> lock(hub.lock);
    auto moved = [&] { return hub.generation != seen; };
    if (infinite)
        hub.changed.wait(lock, moved);
    else
        hub.changed.wait_until(lock, deadline, moved);
}

}  // namespace

// Keeps a multi-object waiter registered with each of its objects for the
// duration of the wait, so that they broadcast when signalled.
class MultiWaitRegistration {
public:
    MultiWaitRegistration(const std::shared_ptr<Waitable>* objects, std::size_t count)
        : objects_(objects), count_(count) {
        for (std::size_t i = 0; i < count_; ++i) {
            std::lock_guard<std::mutex> guard(objects_[i]->lock_);
            ++objects_[i]->multiWaiters_;
        }
    }
    ~MultiWaitRegistration() {
        for (std::size_t i = 0; i < count_; ++i) {
            std::lock_guard<std::mutex> guard(objects_[i]->lock_);
            --objects_[i]->multiWaiters_;
        }
    }
    MultiWaitRegistration(const MultiWaitRegistration&) = delete;
    MultiWaitRegistration& operator=(const MultiWaitRegistration&) = delete;

private:
    const std::shared_ptr<Waitable>* objects_;
    std::size_t count_;
};

Waitable::~Waitable() {
    if (!name_.empty()) ForgetNamedObject(name_, this);
}

DWORD Waitable::Wait(DWORD timeoutMs) {
    const DWORD tid = CurrentThreadId();
    std::unique_lock<std::mutex> lock(lock_);
    if (!ReadyLocked(tid)) {
        if (timeoutMs == 0) return WAIT_TIMEOUT;
        auto ready = [&] { return ReadyLocked(tid); };
        if (timeoutMs == INFINITE)
            cv_.wait(lock, ready);
        else if (!cv_.wait_until(lock, DeadlineAfter(timeoutMs), ready))
            return WAIT_TIMEOUT;
    }
    return AcquireLocked(tid);
}

void Waitable::Notify(Wake how, bool multiWaiting, long count) {
    // Past a handful, waking everyone is cheaper than one call per unit.
    if (how == Wake::All || count > 8) {
        cv_.notify_all();
    } else {
        for (long i = 0; i < count; ++i) cv_.notify_one();
    }
    if (multiWaiting) {
        MultiWaitHub& hub = Hub();
        {
            std::lock_guard<std::mutex> guard(hub.lock);
            ++hub.generation;
        }
        hub.changed.notify_all();
    }
}

DWORD WaitForMany(const std::shared_ptr<Waitable>* objects, std::size_t count, bool waitAll,
                  DWORD timeoutMs) {
    const DWORD tid = CurrentThreadId();
    const bool infinite = timeoutMs == INFINITE;
    const Clock::time_point deadline = infinite ? Clock::time_point::max() : DeadlineAfter(timeoutMs);

    // waitAll locks every object at once; a fixed (address) order keeps two
    // such waiters from deadlocking each other.
    std::vector<Waitable*> lockOrder;
    if (waitAll) {
        for (std::size_t i = 0; i < count; ++i) lockOrder.push_back(objects[i].get());
        std::sort(lockOrder.begin(), lockOrder.end(), std::less<Waitable*>());
    }

    MultiWaitRegistration registration(objects, count);
    for (;;) {
        // Read before testing: a signal after the test moves the generation
        // past this value, so the sleep below cannot miss it.
        const std::uint64_t seen = CurrentGeneration();

        if (waitAll) {
            std::vector<std::unique_lock<std::mutex>> locks;
            locks.reserve(count);
            for (Waitable* object : lockOrder) locks.emplace_back(object->lock_);
            bool allReady = true;
            for (std::size_t i = 0; i < count && allReady; ++i) allReady = objects[i]->ReadyLocked(tid);
            if (allReady) {
                DWORD result = WAIT_OBJECT_0;
                for (std::size_t i = 0; i < count; ++i) {
                    if (objects[i]->AcquireLocked(tid) == WAIT_ABANDONED_0 && result == WAIT_OBJECT_0)
                        result = WAIT_ABANDONED_0 + static_cast<DWORD>(i);
                }
                return result;
            }
        } else {
            for (std::size_t i = 0; i < count; ++i) {
                Waitable& object = *objects[i];
                std::lock_guard<std::mutex> guard(object.lock_);
                if (object.ReadyLocked(tid)) return object.AcquireLocked(tid) + static_cast<DWORD>(i);
            }
        }

        if (!infinite && Clock::now() >= deadline) return WAIT_TIMEOUT;
        WaitForGenerationChange(seen, infinite, deadline);
    }
}

}  // namespace detail

DWORD KernelObject::Wait(DWORD timeoutMs) const {
    return object_ ? object_->Wait(timeoutMs) : WAIT_FAILED;
}

HANDLE KernelObject::NewHandle() const { return detail::InsertHandle(object_); }

std::shared_ptr<detail::Waitable> KernelObject::Lookup(HANDLE handle, detail::ObjectKind kind) {
    std::shared_ptr<detail::Waitable> object = detail::FindHandle(handle);
    if (object && object->Kind() != kind) object.reset();
    return object;
}

}  // namespace kiru::platform
