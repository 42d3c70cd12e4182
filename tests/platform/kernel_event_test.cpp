// Events as the scheduler and the acquisition threads use them: an
// auto-reset event lets exactly one waiter through per SetEvent, a
// manual-reset event every waiter until ResetEvent, and waits time out.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "kernel_test_helpers.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/kernel.h"

using kiru_test::WaitUntil;
using kiru_test::WaitUntilSleeping;

namespace {

// Starts `count` threads that each wait once on `event` (up to 20 s) and
// count their successful waits, and returns when all of them sleep.
class Waiters {
public:
    Waiters(HANDLE event, int count) : tids_(count) {
        for (int i = 0; i < count; ++i) {
            threads_.emplace_back([this, event, i] {
                tids_[i] = kiru_test::KernelTid();
                if (WaitForSingleObject(event, 20000) == WAIT_OBJECT_0) ++passed;
            });
        }
        for (auto& tid : tids_) EXPECT_TRUE(WaitUntilSleeping(tid));
    }
    ~Waiters() {
        for (auto& thread : threads_) thread.join();
    }
    std::atomic<int> passed{0};

private:
    std::vector<std::atomic<pid_t>> tids_;
    std::vector<std::thread> threads_;
};

}  // namespace

TEST(KernelEvent, AutoResetReleasesExactlyOneWaiterPerSet) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    {
        Waiters waiters(event, 3);
        ASSERT_TRUE(SetEvent(event));
        ASSERT_TRUE(WaitUntil([&] { return waiters.passed == 1; }));
        // The waiter that passed reset the event, and nobody else follows.
        EXPECT_FALSE(WaitUntil([&] { return waiters.passed > 1; }, std::chrono::milliseconds(100)));
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);

        SetEvent(event);
        ASSERT_TRUE(WaitUntil([&] { return waiters.passed == 2; }));
        SetEvent(event);
        ASSERT_TRUE(WaitUntil([&] { return waiters.passed == 3; }));
    }
    EXPECT_TRUE(CloseHandle(event));
}

TEST(KernelEvent, QuickSuccessiveSetsReleaseOneSleepingWaiterEach) {
    // A wait is satisfied when the event is set, not when the waiter runs:
    // the second SetEvent finds the event reset and releases the second waiter.
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    {
        Waiters waiters(event, 2);
        SetEvent(event);
        SetEvent(event);
        EXPECT_TRUE(WaitUntil([&] { return waiters.passed == 2; }));
    }
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(KernelEvent, ManualResetRightAfterSetStillReleasesSleepingWaiters) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        Waiters waiters(event, 2);
        SetEvent(event);
        ResetEvent(event);
        EXPECT_TRUE(WaitUntil([&] { return waiters.passed == 2; }));
    }
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(KernelEvent, AutoResetSetTwiceWithoutWaiterReleasesOnce) {
    HANDLE event = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    SetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(KernelEvent, ManualResetReleasesAllWaitersAndStaysSet) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        Waiters waiters(event, 3);
        SetEvent(event);
        EXPECT_TRUE(WaitUntil([&] { return waiters.passed == 3; }));
    }
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(KernelEvent, TimedWaitReturnsTimeoutAfterTheDelay) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const double start = NowMs();
    EXPECT_EQ(WaitForSingleObject(event, 50), WAIT_TIMEOUT);
    const double elapsed = NowMs() - start;
    EXPECT_GE(elapsed, 45.0);
    EXPECT_LT(elapsed, 5000.0);
    CloseHandle(event);
}

TEST(KernelEvent, TypedEventSharesTheObjectWithItsHandles) {
    kiru::platform::Event event(false, false);
    HANDLE handle = event.NewHandle();
    ASSERT_NE(handle, nullptr);
    SetEvent(handle);
    EXPECT_EQ(event.Wait(0), WAIT_OBJECT_0);
    event.Set();
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);

    EXPECT_TRUE(kiru::platform::Event::FromHandle(handle).Valid());
    CloseHandle(handle);
    EXPECT_FALSE(kiru::platform::Event::FromHandle(handle).Valid());
}

TEST(KernelEvent, WaitInProgressKeepsTheObjectAlive) {
    HANDLE waited = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE other = kiru::platform::Event::FromHandle(waited).NewHandle();
    std::atomic<pid_t> tid{0};
    DWORD result = WAIT_FAILED;
    std::thread waiter([&] {
        tid = kiru_test::KernelTid();
        result = WaitForSingleObject(waited, 20000);
    });
    ASSERT_TRUE(WaitUntilSleeping(tid));
    EXPECT_TRUE(CloseHandle(waited));  // the waiter's reference remains
    SetEvent(other);
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
    CloseHandle(other);
}
