// Threads: the handle is signalled when the thread ends (a join with
// time-out), identifiers, closing a running thread's handle, stack size and
// priority requests.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "platform/kernel_test_helpers.h"
#include "platform/event.h"
#include "platform/thread.h"

using kiru::platform::Event;

namespace {

struct Gate {
    Event open{true, false};
    DWORD seenId = 0;
};

DWORD WaitAtGate(void* arg) {
    auto* gate = static_cast<Gate*>(arg);
    gate->seenId = GetCurrentThreadId();
    gate->open.Wait(20000);
    return 42;
}

// Whether this process may use real-time scheduling at all.
bool RealTimeAllowed() {
    return kiru_test::OnOtherThread([] {
        sched_param param{};
        param.sched_priority = sched_get_priority_min(SCHED_FIFO);
        return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    });
}

int CurrentPolicy() {
    int policy = -1;
    sched_param param{};
    pthread_getschedparam(pthread_self(), &policy, &param);
    return policy;
}

}  // namespace

TEST(KernelThread, HandlesAreSignalledWhenTheirThreadsEndAndIdsAreDistinct) {
    Gate gates[2];
    DWORD ids[3] = {};
    HANDLE threads[3] = {CreateThread(nullptr, 0, WaitAtGate, &gates[0], 0, &ids[0]),
                         CreateThread(nullptr, 0, WaitAtGate, &gates[1], 0, &ids[1]),
                         CreateThread(nullptr, 0, [](void*) -> DWORD { return 5; }, nullptr, 0, &ids[2])};
    for (HANDLE thread : threads) ASSERT_NE(thread, nullptr);
    // Identifiers are nonzero and distinct, also for threads started elsewhere.
    std::set<DWORD> distinct(ids, ids + 3);
    distinct.insert(GetCurrentThreadId());
    std::thread([&] { distinct.insert(GetCurrentThreadId()); }).join();
    EXPECT_EQ(distinct.size(), 5u);
    EXPECT_EQ(distinct.count(0), 0u);

    // Waiting for any reports the thread that ended.
    EXPECT_EQ(WaitForMultipleObjects(3, threads, FALSE, 20000), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForSingleObject(threads[0], 0), WAIT_TIMEOUT);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(threads[0], &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    for (Gate& gate : gates) gate.open.Set();
    EXPECT_EQ(WaitForMultipleObjects(3, threads, TRUE, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(threads[0], 0), WAIT_OBJECT_0);  // stays signalled
    EXPECT_TRUE(GetExitCodeThread(threads[0], &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(gates[0].seenId, ids[0]);
    for (HANDLE thread : threads) EXPECT_TRUE(CloseHandle(thread));
}

TEST(KernelThread, ClosingTheHandleOfARunningThreadLetsItFinish) {
    auto token = std::make_shared<int>(1);
    std::weak_ptr<int> watch = token;
    Event release(true, false);
    struct Inner {
        HANDLE release;
        std::atomic<kiru_test::KernelThreadId> tid{0};
    } inner{release.NewHandle()};
    kiru::platform::Thread owner;
    // The inner thread's only handle is closed while it runs: it must go on
    // running (not be stopped, not be detached) and it owns its handle argument.
    owner.Start([&, token = std::move(token)]() mutable -> DWORD {
        auto waitAndClose = [](void* arg) -> DWORD {
            auto* in = static_cast<Inner*>(arg);
            in->tid = kiru_test::KernelTid();
            DWORD result = WaitForSingleObject(in->release, 20000);
            CloseHandle(in->release);
            return result;
        };
        EXPECT_TRUE(CloseHandle(CreateThread(nullptr, 0, waitAndClose, &inner, 0, nullptr)));
        token.reset();
        return 0;
    });
    ASSERT_TRUE(owner.Join(20000));
    EXPECT_TRUE(watch.expired());  // the body was released when the thread ended
    ASSERT_TRUE(kiru_test::WaitUntil([&] { return inner.tid != 0; }));
    release.Set();
    // The inner thread ends with nobody holding its object; the system
    // thread is gone once its task is.
    const std::string task = "/proc/self/task/" + std::to_string(inner.tid.load());
    EXPECT_TRUE(kiru_test::WaitUntil([&] { return ::access(task.c_str(), F_OK) != 0; }));
    EXPECT_FALSE(Event::FromHandle(inner.release).Valid());
    // It is joined by the next thread start; ThreadSanitizer reports a
    // thread that never is.
    kiru::platform::Thread next;
    EXPECT_TRUE(next.Start([] {}));
}

TEST(KernelThread, TypedThreadJoinsAndReportsItsExitCode) {
    Event go(true, false);
    std::atomic<bool> finished{false};
    {
        kiru::platform::Thread thread;
        ASSERT_TRUE(thread.Start([&]() -> DWORD {
            go.Wait(20000);
            finished = true;
            return 7;
        }));
        EXPECT_NE(thread.Id(), 0u);
        EXPECT_FALSE(thread.Join(0));
        EXPECT_EQ(thread.ExitCode(), STILL_ACTIVE);
        go.Set();
        EXPECT_TRUE(thread.Join());
        EXPECT_EQ(thread.ExitCode(), 7u);
    }
    EXPECT_TRUE(finished);
    go.Reset();
    {
        kiru::platform::Thread thread;
        thread.Start([&] {
            go.Wait(20000);
            finished = false;
        });
        go.Set();
    }  // the destructor waits for the thread
    EXPECT_FALSE(finished);

    // A wait on the calling thread's own pseudo-handle can only time out.
    EXPECT_EQ(WaitForSingleObject(GetCurrentThread(), 10), WAIT_TIMEOUT);
    kiru::platform::Thread thread;
    DWORD result = WAIT_FAILED;
    thread.Start([&] { result = WaitForSingleObject(GetCurrentThread(), 10); });
    thread.Join();
    EXPECT_EQ(result, WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(GetCurrentThread()));
}

TEST(KernelThread, RequestedStackSizeIsHonoured) {
    auto stackSize = [](void*) -> DWORD {
        pthread_attr_t attributes;
        std::size_t size = 0;
        pthread_getattr_np(pthread_self(), &attributes);
        pthread_attr_getstacksize(&attributes, &size);
        pthread_attr_destroy(&attributes);
        return static_cast<DWORD>(size >> 20);
    };
    for (std::size_t requested : {std::size_t{65536}, std::size_t{32u << 20}}) {
        HANDLE thread = CreateThread(nullptr, requested, stackSize, nullptr, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        WaitForSingleObject(thread, 20000);
        DWORD megabytes = 0;
        GetExitCodeThread(thread, &megabytes);
        EXPECT_GE(megabytes, requested >> 20) << requested;
        CloseHandle(thread);
    }
}

TEST(KernelThread, TimeCriticalAsksForRealTimeAndMinimalTimerSlack) {
    const int realTime = RealTimeAllowed() ? SCHED_FIFO : SCHED_OTHER;
    std::thread([&] {
        EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL));
        // 1 ns as asked; recent kernels report 0 for real-time threads.
        EXPECT_LE(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 1);
        EXPECT_EQ(CurrentPolicy(), realTime);
        EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL));
        EXPECT_EQ(CurrentPolicy(), SCHED_OTHER);
        EXPECT_GT(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 1);
    }).join();

    // The request reaches another thread through its handle.
    struct Probe {
        Event asked{true, false};
        int policy = -1;
    } probe;
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
            auto* self = static_cast<Probe*>(p);
            self->asked.Wait(20000);
            self->policy = CurrentPolicy();
            return 0;
        },
        &probe, 0, nullptr);
    EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL));
    probe.asked.Set();
    WaitForSingleObject(thread, 20000);
    EXPECT_EQ(probe.policy, realTime);
    CloseHandle(thread);
}

TEST(KernelThread, UnsupportedRequestsFail) {
    SetLastError(0);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CreateThread(nullptr, 0, WaitAtGate, nullptr, CREATE_SUSPENDED, nullptr), nullptr);
    SetLastError(0);
    EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), 7));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_FALSE(SetThreadPriority(event, THREAD_PRIORITY_NORMAL));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(event);
}
