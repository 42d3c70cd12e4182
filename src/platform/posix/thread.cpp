#include "platform/thread.h"
#include "platform/posix/waitable_core.h"

#include <cstdlib>
#include <mutex>
#include <vector>

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/mutex.h"
#include "platform/thread_identity.h"
#include "platform/posix/thread_priority.h"

namespace kiru::platform {
namespace detail {
namespace {

pid_t KernelThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

// Threads whose last reference was dropped by the thread itself as it
// ended: it cannot join itself, so it leaves its system thread here. They
// are joined when the next thread starts and at process exit.
class Reaper {
public:
    static Reaper& Instance() {
        // Never destroyed: ending threads may still hand themselves in
        // while static destructors run.
        static Reaper* reaper = [] {
            auto* r = new Reaper;
            std::atexit([] { Instance().JoinAll(); });
            return r;
        }();
        return *reaper;
    }

    void Add(pthread_t thread) {
        std::lock_guard<std::mutex> guard(lock_);
        ended_.push_back({thread, ::getpid()});
    }

    void JoinAll() {
        std::vector<Ended> ended;
        {
            std::lock_guard<std::mutex> guard(lock_);
            ended.swap(ended_);
        }
        // These threads have returned from their function; join waits only
        // for their last clean-up. A forked child inherits the list but not
        // the threads.
        for (const Ended& e : ended)
            if (e.pid == ::getpid()) ::pthread_join(e.thread, nullptr);
    }

private:
    struct Ended {
        pthread_t thread;
        pid_t pid;
    };
    std::mutex lock_;
    std::vector<Ended> ended_;
};

class ThreadObject;
thread_local std::weak_ptr<ThreadObject> t_current;
// Set when a thread destroyed its own object as it ended.
thread_local bool t_ownObjectDestroyed = false;

class ThreadObject final : public Waitable {
public:
    explicit ThreadObject(std::function<DWORD()> body)
        : Waitable(ObjectKind::Thread), body_(std::move(body)), id_(NewThreadId()) {}

    // On another thread, the join comes first: the ending thread may still
    // be signalling this object, which must stay intact until it is gone.
    ~ThreadObject() override {
        if (!started_ || creatorPid_ != ::getpid()) return;
        if (::pthread_equal(::pthread_self(), thread_)) {
            Reaper::Instance().Add(thread_);
            t_ownObjectDestroyed = true;
        } else {
            ::pthread_join(thread_, nullptr);
        }
    }

    bool Start(std::size_t stackSize) {
        Reaper::Instance().JoinAll();
        pthread_attr_t attributes;
        if (::pthread_attr_init(&attributes) != 0) return false;
        std::size_t defaultSize = 0;
        if (stackSize > 0 && ::pthread_attr_getstacksize(&attributes, &defaultSize) == 0 &&
            stackSize > defaultSize)
            ::pthread_attr_setstacksize(&attributes, stackSize);
        self_ = std::static_pointer_cast<ThreadObject>(shared_from_this());
        creatorPid_ = ::getpid();
        int rc = ::pthread_create(&thread_, &attributes, &ThreadObject::Run, this);
        ::pthread_attr_destroy(&attributes);
        if (rc != 0) {
            self_.reset();
            return false;
        }
        started_ = true;
        return true;
    }

    DWORD Id() const { return id_; }

    DWORD ExitCode() const {
        std::lock_guard<std::mutex> guard(lock_);
        return exitCode_;
    }

    void SetPriority(int priority) {
        std::lock_guard<std::mutex> guard(lock_);
        requestedPriority_ = priority;
        priorityRequested_ = true;
        // Under the lock the thread cannot pass its end, so its kernel id
        // still names it. Before it runs, it applies the request itself.
        if (kernelTid_ != 0 && !finished_) ApplyThreadPriority(thread_, kernelTid_, priority);
    }

private:
    static void* Run(void* argument) {
        std::shared_ptr<ThreadObject> self = std::move(static_cast<ThreadObject*>(argument)->self_);
        AdoptThreadId(self->id_);
        t_current = self;
        {
            std::lock_guard<std::mutex> guard(self->lock_);
            self->kernelTid_ = KernelThreadId();
            if (self->priorityRequested_)
                ApplyThreadPriority(::pthread_self(), self->kernelTid_, self->requestedPriority_);
        }

        DWORD code = self->body_();
        // What the body captured goes before the thread counts as ended, and
        // so do the mutexes it still holds.
        self->body_ = nullptr;
        AbandonOwnedMutexes();

        ThreadObject* object = self.get();
        {
            std::lock_guard<std::mutex> guard(object->lock_);
            object->exitCode_ = code;
            object->finished_ = true;
        }
        // Let go of the object before waking its waiters, so that the last
        // of them to let go joins this thread at once. Nobody else holding it
        // means nobody waits: the object is gone and the reaper will join us.
        // Otherwise it stays valid until we are joined, so it can still be
        // signalled through the plain pointer.
        self.reset();
        if (!t_ownObjectDestroyed) {
            std::unique_lock<std::mutex> lock(object->lock_);
            object->Dispatch(lock);
        }
        return nullptr;
    }

    bool ReadyLocked(DWORD) const override { return finished_; }
    DWORD AcquireLocked(DWORD) override { return WAIT_OBJECT_0; }

    std::function<DWORD()> body_;             // used by the thread only, once started
    std::shared_ptr<ThreadObject> self_;      // handed to the thread at its start
    pthread_t thread_{};
    bool started_ = false;
    pid_t creatorPid_ = 0;
    const DWORD id_;

    // Guarded by lock_.
    bool finished_ = false;
    DWORD exitCode_ = STILL_ACTIVE;
    pid_t kernelTid_ = 0;
    bool priorityRequested_ = false;
    int requestedPriority_ = THREAD_PRIORITY_NORMAL;
};

const ThreadObject& AsThread(const Waitable& object) { return static_cast<const ThreadObject&>(object); }

}  // namespace

std::shared_ptr<Waitable> StartThread(std::function<DWORD()> body, std::size_t stackSize) {
    if (!body) return nullptr;
    auto thread = std::make_shared<ThreadObject>(std::move(body));
    if (!thread->Start(stackSize)) return nullptr;
    return thread;
}

DWORD ThreadIdOf(const Waitable& thread) { return AsThread(thread).Id(); }

DWORD ThreadExitCodeOf(const Waitable& thread) { return AsThread(thread).ExitCode(); }

void SetThreadObjectPriority(Waitable& thread, int priority) {
    static_cast<ThreadObject&>(thread).SetPriority(priority);
}

std::shared_ptr<Waitable> CurrentThreadObject() { return t_current.lock(); }

}  // namespace detail

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
    object_ = detail::StartThread(std::move(body), stackSize);
    id_ = object_ ? detail::ThreadIdOf(*object_) : 0;
    exitCode_ = STILL_ACTIVE;
    return object_ != nullptr;
}

bool Thread::Join(DWORD timeoutMs) {
    if (!object_) return true;
    if (object_->Wait(timeoutMs) != WAIT_OBJECT_0) return false;
    exitCode_ = detail::ThreadExitCodeOf(*object_);
    object_.reset();  // joins the system thread unless a handle still refers to it
    return true;
}

DWORD Thread::ExitCode() const { return object_ ? detail::ThreadExitCodeOf(*object_) : exitCode_; }

bool Thread::SetPriority(int priority) const {
    if (!object_ || !detail::IsValidThreadPriority(priority)) return false;
    detail::SetThreadObjectPriority(*object_, priority);
    return true;
}

bool SetCurrentThreadPriority(int priority) {
    if (!detail::IsValidThreadPriority(priority)) return false;
    detail::ApplyThreadPriority(::pthread_self(), detail::KernelThreadId(), priority);
    return true;
}

}  // namespace kiru::platform
