// Named kernel objects. Within the process a name maps to one live object;
// creating it again returns that object. Named mutexes are also visible to
// other processes: every process holding one open keeps a shared flock on a
// lock file named after it, in a per-user folder under $XDG_RUNTIME_DIR (or
// /tmp); the last process to let go removes the file. Only existence crosses
// the process boundary; ownership and waits stay within the process. Named
// events and semaphores are process-local.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/posix/waitable_core.h"

namespace kiru::platform::detail {

enum class NamedStatus {
    Created,    // no object of that name existed; `make` made it
    Existed,    // the name was in use here or (mutexes) in another process
    WrongKind,  // the name belongs to an object of another kind; nothing made
};

// The live object called `name` (UTF-8, not empty), or a new one from `make`.
// For a mutex named in another process but not here, a new local object is
// made and the status is still Existed.
std::shared_ptr<Waitable> OpenOrCreateNamed(const std::string& name, ObjectKind kind,
                                            const std::function<std::shared_ptr<Waitable>()>& make,
                                            NamedStatus* status);

// Called by a named object's destructor: releases the name (and the lock
// file) unless a newer object has taken the name over meanwhile.
void ForgetNamedObject(const std::string& name, const Waitable* object);

}  // namespace kiru::platform::detail
