// Mutexes: re-entrant for the owner, released only by the owner, timed
// waits, and abandonment when the owner ends holding them.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "kernel_test_helpers.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/kernel.h"
#include "platform/mutex.h"

namespace {

// Runs `body` on another thread and returns its result.
template <class F>
auto OnOtherThread(F body) {
    decltype(body()) result{};
    std::thread thread([&] { result = body(); });
    thread.join();
    return result;
}

}  // namespace

TEST(KernelMutex, OwnerReentersAndMustReleaseEveryLevel) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // second level
    auto otherGets = [&] {
        return OnOtherThread([&] {
            DWORD r = WaitForSingleObject(mutex, 0);
            if (r == WAIT_OBJECT_0) ReleaseMutex(mutex);
            return r;
        });
    };
    EXPECT_EQ(otherGets(), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(otherGets(), WAIT_TIMEOUT);  // one level still held
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(otherGets(), WAIT_OBJECT_0);

    SetLastError(0);
    EXPECT_FALSE(ReleaseMutex(mutex));  // no level left
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    CloseHandle(mutex);
}

TEST(KernelMutex, ReleaseByNonOwnerFailsAndKeepsOwnership) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
    DWORD error = 0;
    BOOL released = OnOtherThread([&] {
        BOOL ok = ReleaseMutex(mutex);
        error = GetLastError();
        return ok;
    });
    EXPECT_FALSE(released);
    EXPECT_EQ(error, ERROR_NOT_OWNER);
    EXPECT_EQ(OnOtherThread([&] { return WaitForSingleObject(mutex, 0); }), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST(KernelMutex, TimedWaitOnHeldMutexTimesOutThenSucceedsAfterRelease) {
    kiru::platform::Mutex mutex(false);
    kiru::platform::Event held(true, false), release(true, false);
    std::thread owner([&] {
        mutex.Lock();
        held.Set();
        release.Wait(20000);
        mutex.Unlock();
    });
    ASSERT_EQ(held.Wait(20000), WAIT_OBJECT_0);
    const double start = NowMs();
    EXPECT_FALSE(mutex.TryLock(50));
    const double elapsed = NowMs() - start;
    EXPECT_GE(elapsed, 45.0);
    EXPECT_LT(elapsed, 5000.0);

    release.Set();
    EXPECT_TRUE(mutex.TryLock(20000));
    EXPECT_TRUE(mutex.Unlock());
    owner.join();
}

TEST(KernelMutex, ReleaseHandsTheMutexToTheSleepingWaiter) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
    kiru::platform::Event got(true, false), done(true, false);
    std::atomic<pid_t> waiterTid{0};
    std::thread waiter([&] {
        waiterTid = kiru_test::KernelTid();
        if (WaitForSingleObject(mutex, 20000) != WAIT_OBJECT_0) return;
        got.Set();
        done.Wait(20000);
        ReleaseMutex(mutex);
    });
    ASSERT_TRUE(kiru_test::WaitUntilSleeping(waiterTid));
    EXPECT_TRUE(ReleaseMutex(mutex));
    // Already the waiter's, even if it has not run yet: the releaser cannot take it back.
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
    EXPECT_EQ(got.Wait(20000), WAIT_OBJECT_0);
    done.Set();
    waiter.join();
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

TEST(KernelMutex, OwnerEndingWhileHoldingAbandonsToTheNextWaiter) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    kiru::platform::Event locked(true, false), finish(true, false);
    std::atomic<pid_t> waiterTid{0};
    DWORD waiterResult = WAIT_FAILED;
    BOOL waiterReleased = FALSE;

    std::thread owner([&] {
        WaitForSingleObject(mutex, 0);
        WaitForSingleObject(mutex, 0);  // two levels, neither released
        locked.Set();
        finish.Wait(20000);
    });
    ASSERT_EQ(locked.Wait(20000), WAIT_OBJECT_0);
    std::thread waiter([&] {
        waiterTid = kiru_test::KernelTid();
        waiterResult = WaitForSingleObject(mutex, 20000);
        waiterReleased = ReleaseMutex(mutex);  // it became the owner
    });
    ASSERT_TRUE(kiru_test::WaitUntilSleeping(waiterTid));
    finish.Set();
    owner.join();
    waiter.join();
    EXPECT_EQ(waiterResult, WAIT_ABANDONED_0);
    EXPECT_TRUE(waiterReleased);
    // Abandonment is reported once.
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

TEST(KernelMutex, ThreadHandleIsSignalledOnlyAfterItsMutexesAreAbandoned) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    HANDLE thread = CreateThread(
        nullptr, 0, [](void* m) -> DWORD { return WaitForSingleObject(static_cast<HANDLE>(m), 0); }, mutex, 0,
        nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED_0);
    ReleaseMutex(mutex);
    CloseHandle(thread);
    CloseHandle(mutex);
}

TEST(KernelMutex, TypedMutexWorksWithStandardLocks) {
    kiru::platform::Mutex mutex(false);
    kiru::platform::Mutex copy = mutex;  // the same mutex
    int counter = 0;
    int timedIncrements = 0;
    std::thread other([&] {
        for (int i = 0; i < 1000; ++i) {
            if (!copy.TryLock(1)) continue;  // short timed attempts race with hand-overs
            ++counter;
            ++timedIncrements;
            copy.Unlock();
        }
    });
    for (int i = 0; i < 1000; ++i) {
        std::lock_guard<kiru::platform::Mutex> guard(mutex);
        std::lock_guard<kiru::platform::Mutex> again(mutex);  // re-entrant
        ++counter;
    }
    other.join();
    EXPECT_EQ(counter, 1000 + timedIncrements);
    EXPECT_FALSE(mutex.Unlock());
}
