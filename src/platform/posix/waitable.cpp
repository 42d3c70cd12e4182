#include "platform/posix/waitable_core.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/posix/handle_table.h"
#include "platform/posix/named_objects.h"
#include "platform/thread_identity.h"

namespace kiru::platform {
namespace detail {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWaiting = -1;  // nothing handed over yet
constexpr int kClaimed = -2;  // a signaller is handing an object over

// Where waiters for all of several objects sleep. Objects that such a
// waiter is registered with bump the generation when signalled.
struct WaitAllHub {
    std::mutex lock;
    std::condition_variable changed;
    std::uint64_t generation = 0;
};

// Never destroyed, like the handle table: objects may signal during exit.
WaitAllHub& Hub() {
    static WaitAllHub* hub = new WaitAllHub;
    return *hub;
}

std::uint64_t CurrentGeneration() {
    WaitAllHub& hub = Hub();
    std::lock_guard<std::mutex> guard(hub.lock);
    return hub.generation;
}

void BumpGeneration() {
    WaitAllHub& hub = Hub();
    {
        std::lock_guard<std::mutex> guard(hub.lock);
        ++hub.generation;
    }
    hub.changed.notify_all();
}

}  // namespace

// One waiting thread. It lives on the waiter's stack; signallers reach it
// through its nodes in the objects' queues, under those objects' locks.
struct WaitBlock {
    explicit WaitBlock(DWORD waiter) : tid(waiter) {}

    // Reserves this waiter for the caller's object; false when another
    // object (or the waiter itself) got there first.
    bool TryClaim() {
        int expected = kWaiting;
        return state.compare_exchange_strong(expected, kClaimed);
    }

    // Completes a claim and wakes the waiter.
    void Grant(int index, DWORD waitResult) {
        std::lock_guard<std::mutex> guard(lock);
        result = waitResult;
        state.store(index);
        wake.notify_one();
    }

    void Sleep(bool infinite, Clock::time_point deadline) {
        std::unique_lock<std::mutex> guard(lock);
        auto granted = [this] { return state.load() >= 0; };
        if (infinite)
            wake.wait(guard, granted);
        else
            wake.wait_until(guard, deadline, granted);
    }

    // The state once no signaller is inside Grant any more.
    int SettledState() {
        std::lock_guard<std::mutex> guard(lock);
        return state.load();
    }

    const DWORD tid;
    std::atomic<int> state{kWaiting};  // kWaiting, kClaimed, or the index of the object handed over
    DWORD result = WAIT_OBJECT_0;      // written before state becomes an index
    std::mutex lock;
    std::condition_variable wake;
};

// Keeps a wait-for-all registered with each of its objects for the length
// of the wait, so that they bump the generation when signalled.
class WaitAllRegistration {
public:
    WaitAllRegistration(Waitable* const* objects, std::size_t count) : objects_(objects), count_(count) {
        for (std::size_t i = 0; i < count_; ++i) {
            std::lock_guard<std::mutex> guard(objects_[i]->lock_);
            ++objects_[i]->waitAllWaiters_;
        }
    }
    ~WaitAllRegistration() {
        for (std::size_t i = 0; i < count_; ++i) {
            std::lock_guard<std::mutex> guard(objects_[i]->lock_);
            --objects_[i]->waitAllWaiters_;
        }
    }
    WaitAllRegistration(const WaitAllRegistration&) = delete;
    WaitAllRegistration& operator=(const WaitAllRegistration&) = delete;

private:
    Waitable* const* objects_;
    std::size_t count_;
};

Waitable::~Waitable() {
    if (!name_.empty()) ForgetNamedObject(name_, this);
}

DWORD Waitable::Wait(DWORD timeoutMs) {
    Waitable* self = this;
    return WaitForAny(&self, 1, timeoutMs);
}

void Waitable::LinkLocked(WaitNode* node) {
    node->prev = last_;
    node->next = nullptr;
    if (last_)
        last_->next = node;
    else
        first_ = node;
    last_ = node;
    node->linked = true;
}

void Waitable::UnlinkLocked(WaitNode* node) {
    if (node->prev)
        node->prev->next = node->next;
    else
        first_ = node->next;
    if (node->next)
        node->next->prev = node->prev;
    else
        last_ = node->prev;
    node->prev = node->next = nullptr;
    node->linked = false;
}

void Waitable::Dispatch(std::unique_lock<std::mutex>& lock) {
    WaitNode* node = first_;
    while (node && ReadyLocked(node->block->tid)) {
        WaitNode* next = node->next;
        WaitBlock* block = node->block;
        const int index = node->index;
        UnlinkLocked(node);
        // A waiter for several objects may have been served by another one;
        // its node here is then just dropped.
        if (block->TryClaim()) block->Grant(index, AcquireLocked(block->tid));
        node = next;
    }
    const bool wakeWaitAll = waitAllWaiters_ > 0;
    lock.unlock();
    if (wakeWaitAll) BumpGeneration();
}

DWORD WaitForAny(Waitable* const* objects, std::size_t count, DWORD timeoutMs) {
    const DWORD tid = CurrentThreadId();
    const bool infinite = timeoutMs == INFINITE;
    const Clock::time_point deadline =
        infinite ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
    WaitBlock block(tid);
    WaitNode single;
    std::vector<WaitNode> several(count > 1 ? count : 0);
    WaitNode* nodes = count > 1 ? several.data() : &single;

    // In index order: take the first object available now, else queue on it.
    std::size_t visited = 0;
    for (std::size_t i = 0; i < count; ++i) {
        Waitable& object = *objects[i];
        std::lock_guard<std::mutex> guard(object.lock_);
        visited = i + 1;
        if (block.state.load() != kWaiting) break;  // an object queued on earlier was handed over
        if (object.ReadyLocked(tid)) {
            if (block.TryClaim()) {
                block.result = object.AcquireLocked(tid);
                block.state.store(static_cast<int>(i));
            }
            break;
        }
        if (timeoutMs != 0) {
            nodes[i].block = &block;
            nodes[i].index = static_cast<int>(i);
            object.LinkLocked(&nodes[i]);
        }
    }

    if (block.state.load() == kWaiting && timeoutMs != 0) block.Sleep(infinite, deadline);

    // Leave the queues that still hold this waiter. Taking each object's
    // lock also waits out a signaller that is handing that object over. The
    // object already handed over has unlinked its node itself.
    const int handed = block.SettledState();
    for (std::size_t i = 0; i < visited; ++i) {
        if (static_cast<int>(i) == handed) continue;
        Waitable& object = *objects[i];
        std::lock_guard<std::mutex> guard(object.lock_);
        if (nodes[i].linked) object.UnlinkLocked(&nodes[i]);
    }

    const int index = block.state.load();
    if (index < 0) return WAIT_TIMEOUT;
    objects[index]->Acquired();
    return block.result + static_cast<DWORD>(index);
}

DWORD WaitForAll(Waitable* const* objects, std::size_t count, DWORD timeoutMs) {
    const DWORD tid = CurrentThreadId();
    const bool infinite = timeoutMs == INFINITE;
    const Clock::time_point deadline =
        infinite ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);

    // All objects are locked at once; a fixed (address) order keeps two such
    // waiters from deadlocking each other.
    std::vector<Waitable*> lockOrder(objects, objects + count);
    std::sort(lockOrder.begin(), lockOrder.end(), std::less<Waitable*>());

    WaitAllRegistration registration(objects, count);
    for (;;) {
        // Read before testing: a signal after the test moves the generation
        // past this value, so the sleep below cannot miss it.
        const std::uint64_t seen = CurrentGeneration();
        {
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
                locks.clear();
                for (std::size_t i = 0; i < count; ++i) objects[i]->Acquired();
                return result;
            }
        }
        if (!infinite && Clock::now() >= deadline) return WAIT_TIMEOUT;

        WaitAllHub& hub = Hub();
        std::unique_lock<std::mutex> lock(hub.lock);
        auto moved = [&] { return hub.generation != seen; };
        if (infinite)
            hub.changed.wait(lock, moved);
        else
            hub.changed.wait_until(lock, deadline, moved);
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
