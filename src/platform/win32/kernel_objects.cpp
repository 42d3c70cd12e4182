// Kernel objects on Windows: each typed object owns one Win32 handle, and
// everything else (waits, ownership, abandonment, names) is the system's.
#include "platform/event.h"
#include "platform/mutex.h"
#include "platform/semaphore.h"
#include "platform/win32/kernel_handle.h"

#include <functional>
#include <string>

#include "platform/text.h"

namespace kiru::platform {
namespace detail {

Waitable::~Waitable() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
}

std::shared_ptr<Waitable> AdoptHandle(HANDLE handle, ObjectKind kind) {
    if (handle == nullptr) return nullptr;
    return std::make_shared<Waitable>(handle, kind);
}

bool IsHandleOfKind(HANDLE handle, ObjectKind kind) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    const wchar_t* expected = L"";
    switch (kind) {
    case ObjectKind::Event: expected = L"Event"; break;
    case ObjectKind::Mutex: expected = L"Mutant"; break;
    case ObjectKind::Semaphore: expected = L"Semaphore"; break;
    case ObjectKind::Thread: expected = L"Thread"; break;
    }
    return ObjectTypeName(handle) == expected;
}

namespace {

// The object created under `name`, with `existed` telling whether the name
// was in use. A name held by an object of another kind gives null.
HANDLE CreateNamed(const std::string& name, bool* existed, const std::function<HANDLE(const wchar_t*)>& create) {
    const std::wstring wide = NarrowToWideString(name.c_str());
    HANDLE handle = create(wide.c_str());
    if (existed) *existed = handle != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS;
    return handle;
}

}  // namespace
}  // namespace detail

DWORD KernelObject::Wait(DWORD timeoutMs) const {
    return object_ ? ::WaitForSingleObject(object_->Handle(), timeoutMs) : WAIT_FAILED;
}

HANDLE KernelObject::NewHandle() const {
    if (!object_) return nullptr;
    HANDLE copy = nullptr;
    const HANDLE process = ::GetCurrentProcess();
    if (!::DuplicateHandle(process, object_->Handle(), process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

std::shared_ptr<detail::Waitable> KernelObject::Lookup(HANDLE handle, detail::ObjectKind kind) {
    if (!detail::IsHandleOfKind(handle, kind)) return nullptr;
    HANDLE copy = nullptr;
    const HANDLE process = ::GetCurrentProcess();
    if (!::DuplicateHandle(process, handle, process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) return nullptr;
    return detail::AdoptHandle(copy, kind);
}

Event::Event(bool manualReset, bool initiallySignalled)
    : KernelObject(detail::AdoptHandle(::CreateEventW(nullptr, manualReset, initiallySignalled, nullptr),
                                       detail::ObjectKind::Event)) {}

Event Event::OpenNamed(const std::string& name, bool manualReset, bool initiallySignalled, bool* existed) {
    HANDLE handle = detail::CreateNamed(name, existed, [&](const wchar_t* wide) {
        return ::CreateEventW(nullptr, manualReset, initiallySignalled, wide);
    });
    return Event(detail::AdoptHandle(handle, detail::ObjectKind::Event));
}

Event Event::FromHandle(HANDLE handle) { return Event(Lookup(handle, detail::ObjectKind::Event)); }

void Event::Set() const {
    if (object_) ::SetEvent(object_->Handle());
}

void Event::Reset() const {
    if (object_) ::ResetEvent(object_->Handle());
}

Mutex::Mutex(bool initiallyOwned)
    : KernelObject(detail::AdoptHandle(::CreateMutexW(nullptr, initiallyOwned, nullptr), detail::ObjectKind::Mutex)) {}

Mutex Mutex::OpenNamed(const std::string& name, bool initiallyOwned, bool* existed) {
    HANDLE handle = detail::CreateNamed(
        name, existed, [&](const wchar_t* wide) { return ::CreateMutexW(nullptr, initiallyOwned, wide); });
    return Mutex(detail::AdoptHandle(handle, detail::ObjectKind::Mutex));
}

Mutex Mutex::FromHandle(HANDLE handle) { return Mutex(Lookup(handle, detail::ObjectKind::Mutex)); }

bool Mutex::TryLock(DWORD timeoutMs) const {
    const DWORD result = Wait(timeoutMs);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0;
}

bool Mutex::Unlock() const { return object_ && ::ReleaseMutex(object_->Handle()) != FALSE; }

Semaphore::Semaphore(LONG initialCount, LONG maximumCount) {
    if (ValidCounts(initialCount, maximumCount))
        object_ = detail::AdoptHandle(::CreateSemaphoreW(nullptr, initialCount, maximumCount, nullptr),
                                      detail::ObjectKind::Semaphore);
}

Semaphore Semaphore::OpenNamed(const std::string& name, LONG initialCount, LONG maximumCount, bool* existed) {
    if (existed) *existed = false;
    if (!ValidCounts(initialCount, maximumCount)) return Semaphore();
    HANDLE handle = detail::CreateNamed(name, existed, [&](const wchar_t* wide) {
        return ::CreateSemaphoreW(nullptr, initialCount, maximumCount, wide);
    });
    return Semaphore(detail::AdoptHandle(handle, detail::ObjectKind::Semaphore));
}

Semaphore Semaphore::FromHandle(HANDLE handle) {
    return Semaphore(Lookup(handle, detail::ObjectKind::Semaphore));
}

Semaphore::ReleaseResult Semaphore::Release(LONG count, LONG* previous) const {
    if (!object_ || count <= 0) return ReleaseResult::InvalidCount;
    if (::ReleaseSemaphore(object_->Handle(), count, previous)) return ReleaseResult::Released;
    return ::GetLastError() == ERROR_TOO_MANY_POSTS ? ReleaseResult::TooManyPosts : ReleaseResult::InvalidCount;
}

}  // namespace kiru::platform
