// Threads on Windows: CreateThread, with the thread's handle as its kernel
// object, so a wait on it is a join with time-out.
#include "platform/thread.h"

#include <mmsystem.h>

#include <memory>

#include "platform/thread_identity.h"
#include "platform/win32/kernel_handle.h"

namespace kiru::platform {
namespace {

// Waits and sleeps wake on the system timer's tick, 15.6 ms unless some
// program asks for a finer one, while the library's threads time strobes and
// decisions in milliseconds. Each library thread asks for the finest period
// while it runs; the system counts the requests and keeps the finest asked.
class FineTimerPeriod {
public:
    FineTimerPeriod() {
        TIMECAPS caps{};
        if (::timeGetDevCaps(&caps, sizeof caps) == MMSYSERR_NOERROR && ::timeBeginPeriod(caps.wPeriodMin) == TIMERR_NOERROR)
            period_ = caps.wPeriodMin;
    }
    ~FineTimerPeriod() {
        if (period_ != 0) ::timeEndPeriod(period_);
    }
    FineTimerPeriod(const FineTimerPeriod&) = delete;
    FineTimerPeriod& operator=(const FineTimerPeriod&) = delete;

private:
    UINT period_ = 0;
};

DWORD WINAPI RunBody(void* arg) {
    std::unique_ptr<std::function<DWORD()>> body(static_cast<std::function<DWORD()>*>(arg));
    FineTimerPeriod fineTimer;
    return (*body)();
}

}  // namespace

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        Join();
        object_ = std::move(other.object_);
        id_ = other.id_;
        exitCode_ = other.exitCode_;
    }
    return *this;
}

bool Thread::Start(std::function<DWORD()> body, std::size_t stackSize) {
    Join();
    id_ = 0;
    exitCode_ = STILL_ACTIVE;
    auto owned = std::make_unique<std::function<DWORD()>>(std::move(body));
    DWORD id = 0;
    // A reservation only: the system commits the stack as it grows.
    HANDLE handle = ::CreateThread(nullptr, stackSize, RunBody, owned.get(),
                                   stackSize ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, &id);
    if (handle == nullptr) return false;
    owned.release();  // the thread deletes it
    object_ = detail::AdoptHandle(handle, detail::ObjectKind::Thread);
    id_ = id;
    return true;
}

bool Thread::Join(DWORD timeoutMs) {
    if (!object_) return true;
    if (::WaitForSingleObject(object_->Handle(), timeoutMs) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    exitCode_ = ::GetExitCodeThread(object_->Handle(), &code) ? code : 0;
    object_.reset();
    return true;
}

DWORD Thread::ExitCode() const {
    if (!object_) return exitCode_;
    DWORD code = 0;
    return ::GetExitCodeThread(object_->Handle(), &code) ? code : exitCode_;
}

bool Thread::SetPriority(int priority) const {
    return object_ && ::SetThreadPriority(object_->Handle(), priority) != FALSE;
}

bool SetCurrentThreadPriority(int priority) { return ::SetThreadPriority(::GetCurrentThread(), priority) != FALSE; }

DWORD CurrentThreadId() { return ::GetCurrentThreadId(); }

}  // namespace kiru::platform
