// Counting semaphores with a maximum: each wait takes one unit, a release
// adds units, and a release that would pass the maximum fails and adds none.
#pragma once

#include <string>

#include "platform/waitable.h"

namespace kiru::platform {

class Semaphore : public KernelObject {
public:
    // An invalid (empty) semaphore; Valid() is false.
    Semaphore() = default;
    // Invalid unless 0 <= initialCount <= maximumCount and maximumCount > 0.
    Semaphore(LONG initialCount, LONG maximumCount);

    // The process-wide semaphore called `name` (UTF-8). When it exists its
    // counts are kept and *existed is set; an object of another kind with
    // that name, or invalid counts, yield an invalid semaphore.
    static Semaphore OpenNamed(const std::string& name, LONG initialCount, LONG maximumCount,
                               bool* existed);

    // The semaphore behind a handle; invalid when the handle is not a semaphore.
    static Semaphore FromHandle(HANDLE handle);

    enum class ReleaseResult { Released, InvalidCount, TooManyPosts };

    // Adds `count` (> 0) units and wakes as many waiters. Past the maximum
    // nothing is added. `previous` (optional) receives the count before the
    // release, on success only.
    ReleaseResult Release(LONG count = 1, LONG* previous = nullptr) const;

    static bool ValidCounts(LONG initialCount, LONG maximumCount) {
        return maximumCount > 0 && initialCount >= 0 && initialCount <= maximumCount;
    }

private:
    explicit Semaphore(std::shared_ptr<detail::Waitable> object) : KernelObject(std::move(object)) {}
};

}  // namespace kiru::platform
