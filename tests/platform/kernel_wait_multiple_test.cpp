// Waits on several objects: the lowest signalled index wins, waitAll takes
// every object together or none, and waits sleep until a signal or the
// time-out.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "kernel_test_helpers.h"
#include "platform/clock.h"
#include "platform/kernel.h"

using kiru_test::WaitUntil;

namespace {

struct Handles {
    HANDLE h[3];
    Handles(BOOL manualReset = FALSE) {
        for (HANDLE& handle : h) handle = CreateEventW(nullptr, manualReset, FALSE, nullptr);
    }
    ~Handles() {
        for (HANDLE handle : h) CloseHandle(handle);
    }
};

}  // namespace

TEST(KernelWaitMultiple, AnyReturnsTheLowestSignalledIndexAndTakesOnlyIt) {
    Handles events;
    SetEvent(events.h[2]);
    SetEvent(events.h[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, events.h, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, events.h, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, events.h, FALSE, 0), WAIT_TIMEOUT);
}

TEST(KernelWaitMultiple, AllTakesEveryObjectOrNone) {
    Handles events;
    HANDLE semaphore = CreateSemaphoreW(nullptr, 1, 1, nullptr);
    HANDLE set[2] = {semaphore, events.h[0]};

    const double start = NowMs();
    EXPECT_EQ(WaitForMultipleObjects(2, set, TRUE, 50), WAIT_TIMEOUT);
    EXPECT_GE(NowMs() - start, 45.0);
    // The semaphore was signalled the whole time but must not have been taken.
    LONG previous = -1;
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, &previous));

    SetEvent(events.h[0]);
    EXPECT_EQ(WaitForMultipleObjects(2, set, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(events.h[0], 0), WAIT_TIMEOUT);
    CloseHandle(semaphore);
}

TEST(KernelWaitMultiple, SleepingWaiterWakesOnTheSignalOfAnyObject) {
    Handles events;
    std::atomic<pid_t> tid{0};
    DWORD result = WAIT_FAILED;
    std::thread waiter([&] {
        tid = kiru_test::KernelTid();
        result = WaitForMultipleObjects(3, events.h, FALSE, 20000);
    });
    ASSERT_TRUE(kiru_test::WaitUntilSleeping(tid));
    SetEvent(events.h[2]);
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForSingleObject(events.h[2], 0), WAIT_TIMEOUT);  // auto-reset by the waiter
}

TEST(KernelWaitMultiple, SleepingWaitAllWakesOnlyWhenTheLastObjectIsSignalled) {
    Handles events(TRUE);
    std::atomic<pid_t> tid{0};
    std::atomic<bool> done{false};
    DWORD result = WAIT_FAILED;
    std::thread waiter([&] {
        tid = kiru_test::KernelTid();
        result = WaitForMultipleObjects(2, events.h, TRUE, 20000);
        done = true;
    });
    ASSERT_TRUE(kiru_test::WaitUntilSleeping(tid));
    SetEvent(events.h[1]);
    EXPECT_FALSE(WaitUntil([&] { return done.load(); }, std::chrono::milliseconds(100)));
    SetEvent(events.h[0]);
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
}

TEST(KernelWaitMultiple, AnyOfTwoThreadsReportsTheOneThatEnded) {
    HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto waitGate = [](void* g) -> DWORD { return WaitForSingleObject(static_cast<HANDLE>(g), 20000); };
    auto quick = [](void*) -> DWORD { return 5; };
    HANDLE threads[2] = {CreateThread(nullptr, 0, waitGate, gate, 0, nullptr),
                         CreateThread(nullptr, 0, quick, nullptr, 0, nullptr)};
    EXPECT_EQ(WaitForMultipleObjects(2, threads, FALSE, 20000), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForSingleObject(threads[0], 0), WAIT_TIMEOUT);
    SetEvent(gate);
    EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, 20000), WAIT_OBJECT_0);
    for (HANDLE thread : threads) CloseHandle(thread);
    CloseHandle(gate);
}

TEST(KernelWaitMultiple, AbandonedMutexReportsItsIndex) {
    Handles events;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    std::thread([&] { WaitForSingleObject(mutex, 0); }).join();
    HANDLE set[2] = {events.h[0], mutex};
    EXPECT_EQ(WaitForMultipleObjects(2, set, FALSE, 0), WAIT_ABANDONED_0 + 1);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST(KernelWaitMultiple, BadArgumentsFail) {
    Handles events;
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(0, events.h, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, events.h, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(1, nullptr, FALSE, 0), WAIT_FAILED);

    HANDLE twice[2] = {events.h[0], events.h[0]};
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetEvent(events.h[0]);
    EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0);  // allowed when waiting for any

    HANDLE withBad[2] = {events.h[1], reinterpret_cast<HANDLE>(0x7777770)};
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(2, withBad, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}
