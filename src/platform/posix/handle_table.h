// The process's handle table: a HANDLE is a small number naming one
// reference to a kernel object. Handle values are never reused, so a stale
// or forged handle is refused instead of reaching another object.
#pragma once

#include <memory>

#include <kiru/win_types.h>

#include "platform/posix/waitable_core.h"

namespace kiru::platform::detail {

// Adds a reference to `object` and returns its new handle (null if object is null).
HANDLE InsertHandle(std::shared_ptr<Waitable> object);

// The object a handle refers to, or null for an unknown handle.
std::shared_ptr<Waitable> FindHandle(HANDLE handle);

// Drops the handle's reference; false for an unknown handle. When it was the
// last reference the object is destroyed here, outside the table's lock.
bool CloseHandleEntry(HANDLE handle);

}  // namespace kiru::platform::detail
