// Kernel objects: the typed face (KernelObject and the classes derived from
// it in event.h, mutex.h, semaphore.h, thread.h). A typed object shares its
// kernel object with its copies and with the handles made from it; what a
// kernel object is inside depends on the system and is private to the
// platform layer.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>

#include <kiru/win_types.h>

namespace kiru::platform {

namespace detail {

enum class ObjectKind { Event, Mutex, Semaphore, Thread };

// Largest number of objects one wait accepts (the Windows limit).
constexpr std::size_t kMaxWaitObjects = 64;

class Waitable;

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
