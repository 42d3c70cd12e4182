#include "platform/mutex.h"
#include "platform/posix/waitable_core.h"

#include <algorithm>
#include <vector>

#include "platform/posix/named_objects.h"
#include "platform/thread_identity.h"

namespace kiru::platform {
namespace detail {
namespace {

class MutexObject;

// The mutexes a thread owns. Holding a reference keeps an owned mutex alive
// until it is released or abandoned.
struct OwnedMutexes {
    std::vector<std::shared_ptr<MutexObject>> mutexes;
    ~OwnedMutexes();
};

OwnedMutexes& Owned() {
    thread_local OwnedMutexes owned;
    return owned;
}

class MutexObject final : public Waitable {
public:
    MutexObject() : Waitable(ObjectKind::Mutex) {}

    bool Release() {
        const DWORD tid = CurrentThreadId();
        std::unique_lock<std::mutex> lock(lock_);
        if (owner_ != tid) return false;
        if (--recursion_ > 0) return true;
        owner_ = 0;
        Dispatch(lock);  // the next waiter, if any, becomes the owner
        Forget();
        return true;
    }

    // Called on the owner's thread as it ends.
    void Abandon(DWORD tid) {
        std::unique_lock<std::mutex> lock(lock_);
        if (owner_ != tid) return;
        owner_ = 0;
        recursion_ = 0;
        abandoned_ = true;
        Dispatch(lock);
    }

private:
    bool ReadyLocked(DWORD tid) const override { return owner_ == 0 || owner_ == tid; }

    // May run on a releasing thread on behalf of the waiter it hands over to.
    DWORD AcquireLocked(DWORD tid) override {
        if (owner_ == tid) {
            ++recursion_;
            return WAIT_OBJECT_0;
        }
        owner_ = tid;
        recursion_ = 1;
        if (!abandoned_) return WAIT_OBJECT_0;
        abandoned_ = false;
        return WAIT_ABANDONED_0;
    }

    // On the new owner's thread: remember the mutex for abandonment.
    void Acquired() override {
        auto& mutexes = Owned().mutexes;
        for (const auto& m : mutexes)
            if (m.get() == this) return;  // a further level of ownership
        mutexes.push_back(std::static_pointer_cast<MutexObject>(shared_from_this()));
    }

    // Drops the owner thread's reference, outside lock_: it may be the last.
    void Forget() {
        auto& mutexes = Owned().mutexes;
        auto it = std::find_if(mutexes.rbegin(), mutexes.rend(),
                               [this](const std::shared_ptr<MutexObject>& m) { return m.get() == this; });
        if (it != mutexes.rend()) mutexes.erase(std::next(it).base());
    }

    DWORD owner_ = 0;  // thread identifier, 0 when free
    long recursion_ = 0;
    bool abandoned_ = false;
};

OwnedMutexes::~OwnedMutexes() {
    const DWORD tid = CurrentThreadId();
    for (auto& mutex : mutexes) mutex->Abandon(tid);
}

MutexObject& AsMutex(const std::shared_ptr<Waitable>& object) {
    return static_cast<MutexObject&>(*object);
}

}  // namespace

void AbandonOwnedMutexes() {
    std::vector<std::shared_ptr<MutexObject>> mutexes;
    mutexes.swap(Owned().mutexes);
    const DWORD tid = CurrentThreadId();
    for (auto& mutex : mutexes) mutex->Abandon(tid);
}

}  // namespace detail

Mutex::Mutex(bool initiallyOwned) : KernelObject(std::make_shared<detail::MutexObject>()) {
    if (initiallyOwned) Wait(0);
}

Mutex Mutex::OpenNamed(const std::string& name, bool initiallyOwned, bool* existed) {
    detail::NamedStatus status;
    auto object = detail::OpenOrCreateNamed(
        name, detail::ObjectKind::Mutex, [] { return std::make_shared<detail::MutexObject>(); }, &status);
    if (existed) *existed = status == detail::NamedStatus::Existed;
    Mutex mutex(std::move(object));
    // As on Windows, ownership is given only to the creator of a new name;
    // when the name existed (here or in another process) the request is ignored.
    if (mutex.Valid() && initiallyOwned && status == detail::NamedStatus::Created) mutex.Wait(0);
    return mutex;
}

Mutex Mutex::FromHandle(HANDLE handle) { return Mutex(Lookup(handle, detail::ObjectKind::Mutex)); }

bool Mutex::TryLock(DWORD timeoutMs) const {
    DWORD result = Wait(timeoutMs);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0;
}

bool Mutex::Unlock() const { return object_ && detail::AsMutex(object_).Release(); }

}  // namespace kiru::platform
