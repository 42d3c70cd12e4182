// Semaphores: counts bounded by the maximum, a release past it failing
// without effect, and a release of n waking n waiters.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "kernel_test_helpers.h"
#include "platform/kernel.h"
#include "platform/semaphore.h"

using kiru_test::WaitUntil;

namespace {

// Takes units until none is left; returns how many were taken.
int Drain(HANDLE semaphore) {
    int taken = 0;
    while (WaitForSingleObject(semaphore, 0) == WAIT_OBJECT_0) ++taken;
    return taken;
}

}  // namespace

TEST(KernelSemaphore, ReleasePastMaximumFailsAndReleasesNothing) {
    HANDLE semaphore = CreateSemaphoreW(nullptr, 1, 2, nullptr);
    ASSERT_NE(semaphore, nullptr);
    LONG previous = -7;
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 1, &previous));
    EXPECT_EQ(previous, 1);

    previous = -7;
    SetLastError(0);
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, &previous));
    EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
    EXPECT_EQ(previous, -7);
    EXPECT_EQ(Drain(semaphore), 2);

    // A release of 3 at count 0 also passes the maximum of 2: nothing added.
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 3, nullptr));
    EXPECT_EQ(Drain(semaphore), 0);
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 2, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_EQ(Drain(semaphore), 2);
    CloseHandle(semaphore);
}

TEST(KernelSemaphore, InvalidCountsAreRefused) {
    for (auto counts : {std::pair<LONG, LONG>{3, 2}, {-1, 2}, {0, 0}, {0, -1}}) {
        SetLastError(0);
        EXPECT_EQ(CreateSemaphoreW(nullptr, counts.first, counts.second, nullptr), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 5, nullptr);
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(ReleaseSemaphore(semaphore, -1, nullptr));
    EXPECT_EQ(Drain(semaphore), 0);
    CloseHandle(semaphore);
}

TEST(KernelSemaphore, ReleaseOfTwoWakesTwoOfThreeWaiters) {
    kiru::platform::Semaphore semaphore(0, 10);
    std::vector<std::atomic<pid_t>> tids(3);
    std::atomic<int> passed{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&, i] {
            tids[i] = kiru_test::KernelTid();
            if (semaphore.Wait(20000) == WAIT_OBJECT_0) ++passed;
        });
    }
    for (auto& tid : tids) ASSERT_TRUE(kiru_test::WaitUntilSleeping(tid));

    EXPECT_EQ(semaphore.Release(2), kiru::platform::Semaphore::ReleaseResult::Released);
    EXPECT_TRUE(WaitUntil([&] { return passed == 2; }));
    EXPECT_FALSE(WaitUntil([&] { return passed > 2; }, std::chrono::milliseconds(100)));
    semaphore.Release(1);
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(passed, 3);
    EXPECT_EQ(semaphore.Wait(0), WAIT_TIMEOUT);
}
