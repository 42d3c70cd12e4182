#include "platform/semaphore.h"
#include "platform/posix/waitable_core.h"

#include "platform/posix/named_objects.h"

namespace kiru::platform {
namespace detail {
namespace {

class SemaphoreObject final : public Waitable {
public:
    SemaphoreObject(LONG initialCount, LONG maximumCount)
        : Waitable(ObjectKind::Semaphore), count_(initialCount), maximum_(maximumCount) {}

    Semaphore::ReleaseResult Release(LONG count, LONG* previous) {
        if (count <= 0) return Semaphore::ReleaseResult::InvalidCount;
        std::unique_lock<std::mutex> lock(lock_);
        if (count > maximum_ - count_) return Semaphore::ReleaseResult::TooManyPosts;
        if (previous) *previous = count_;
        count_ += count;
        Dispatch(lock);
        return Semaphore::ReleaseResult::Released;
    }

private:
    bool ReadyLocked(DWORD) const override { return count_ > 0; }
    DWORD AcquireLocked(DWORD) override {
        --count_;
        return WAIT_OBJECT_0;
    }

    LONG count_;
    const LONG maximum_;
};

}  // namespace
}  // namespace detail

Semaphore::Semaphore(LONG initialCount, LONG maximumCount) {
    if (ValidCounts(initialCount, maximumCount))
        object_ = std::make_shared<detail::SemaphoreObject>(initialCount, maximumCount);
}

Semaphore Semaphore::OpenNamed(const std::string& name, LONG initialCount, LONG maximumCount,
                               bool* existed) {
    if (existed) *existed = false;
    if (!ValidCounts(initialCount, maximumCount)) return Semaphore();
    detail::NamedStatus status;
    auto object = detail::OpenOrCreateNamed(
        name, detail::ObjectKind::Semaphore,
        [&] { return std::make_shared<detail::SemaphoreObject>(initialCount, maximumCount); }, &status);
    if (existed) *existed = status == detail::NamedStatus::Existed;
    return Semaphore(std::move(object));
}

Semaphore Semaphore::FromHandle(HANDLE handle) {
    return Semaphore(Lookup(handle, detail::ObjectKind::Semaphore));
}

Semaphore::ReleaseResult Semaphore::Release(LONG count, LONG* previous) const {
    if (!object_) return ReleaseResult::InvalidCount;
    return static_cast<detail::SemaphoreObject&>(*object_).Release(count, previous);
}

}  // namespace kiru::platform
