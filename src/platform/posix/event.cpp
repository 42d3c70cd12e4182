#include "platform/event.h"
#include "platform/posix/waitable_core.h"

#include "platform/posix/named_objects.h"

namespace kiru::platform {
namespace detail {
namespace {

class EventObject final : public Waitable {
public:
    EventObject(bool manualReset, bool signalled)
        : Waitable(ObjectKind::Event), manualReset_(manualReset), signalled_(signalled) {}

    void Set() {
        std::unique_lock<std::mutex> lock(lock_);
        if (signalled_) return;  // a set event stays set; no second waiter is released
        signalled_ = true;
        Dispatch(lock);
    }

    void Reset() {
        std::lock_guard<std::mutex> guard(lock_);
        signalled_ = false;
    }

private:
    bool ReadyLocked(DWORD) const override { return signalled_; }
    DWORD AcquireLocked(DWORD) override {
        if (!manualReset_) signalled_ = false;
        return WAIT_OBJECT_0;
    }

    const bool manualReset_;
    bool signalled_;
};

EventObject& AsEvent(const std::shared_ptr<Waitable>& object) {
    return static_cast<EventObject&>(*object);
}

}  // namespace
}  // namespace detail

Event::Event(bool manualReset, bool initiallySignalled)
    : KernelObject(std::make_shared<detail::EventObject>(manualReset, initiallySignalled)) {}

Event Event::OpenNamed(const std::string& name, bool manualReset, bool initiallySignalled,
                       bool* existed) {
    detail::NamedStatus status;
    auto object = detail::OpenOrCreateNamed(
        name, detail::ObjectKind::Event,
        [&] { return std::make_shared<detail::EventObject>(manualReset, initiallySignalled); },
        &status);
    if (existed) *existed = status == detail::NamedStatus::Existed;
    return Event(std::move(object));
}

Event Event::FromHandle(HANDLE handle) { return Event(Lookup(handle, detail::ObjectKind::Event)); }

void Event::Set() const {
    if (object_) detail::AsEvent(object_).Set();
}

void Event::Reset() const {
    if (object_) detail::AsEvent(object_).Reset();
}

}  // namespace kiru::platform
