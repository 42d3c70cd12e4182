// Events: a signalled/non-signalled flag that threads wait on. An auto-reset
// event lets exactly one waiter through per Set and resets itself as that
// waiter passes; a manual-reset event lets every waiter through until Reset.
#pragma once

#include <string>

#include "platform/waitable.h"

namespace kiru::platform {

class Event : public KernelObject {
public:
    // An invalid (empty) event; Valid() is false.
    Event() = default;
    Event(bool manualReset, bool initiallySignalled);

    // The process-wide event called `name` (UTF-8). When it exists already
    // its reset mode and state are kept and *existed is set; an object of
    // another kind with that name yields an invalid event.
    static Event OpenNamed(const std::string& name, bool manualReset, bool initiallySignalled,
                           bool* existed);

    // The event behind a handle; invalid when the handle is not an event.
    static Event FromHandle(HANDLE handle);

    void Set() const;
    void Reset() const;

private:
    explicit Event(std::shared_ptr<detail::Waitable> object) : KernelObject(std::move(object)) {}
};

}  // namespace kiru::platform
