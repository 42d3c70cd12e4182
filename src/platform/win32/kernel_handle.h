// What a kernel object is on Windows: one handle of the process, closed when
// the last typed object sharing it goes away.
#pragma once

#include <memory>
#include <string>

#include <kiru/win_types.h>

#include "platform/waitable.h"

namespace kiru::platform::detail {

class Waitable {
public:
    Waitable(HANDLE handle, ObjectKind kind) : handle_(handle), kind_(kind) {}
    ~Waitable();
    Waitable(const Waitable&) = delete;
    Waitable& operator=(const Waitable&) = delete;

    HANDLE Handle() const { return handle_; }
    ObjectKind Kind() const { return kind_; }

private:
    HANDLE handle_;
    ObjectKind kind_;
};

// Takes ownership of `handle` (null gives null).
std::shared_ptr<Waitable> AdoptHandle(HANDLE handle, ObjectKind kind);

// The system's name for the type of object behind a handle ("Event",
// "Mutant", "Semaphore", "Thread", ...); empty when the handle is not open.
std::wstring ObjectTypeName(HANDLE handle);

// True when `handle` is open and names an object of `kind`.
bool IsHandleOfKind(HANDLE handle, ObjectKind kind);

}  // namespace kiru::platform::detail
