// Handle bookkeeping, the per-thread last error and the clock.
#include <gtest/gtest.h>

#include <thread>

#include "platform/clock.h"
#include "platform/kernel.h"
#include "platform/mutex.h"

TEST(KernelHandles, UnknownOrClosedHandlesAreRefused) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_TRUE(CloseHandle(event));
    for (HANDLE bad : {event, static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
        EXPECT_FALSE(SetEvent(bad));
    }
}

TEST(KernelHandles, OperationsOfAnotherKindAreRefused) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    SetLastError(0);
    EXPECT_FALSE(SetEvent(mutex));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ReleaseSemaphore(mutex, 1, nullptr));
    EXPECT_FALSE(kiru::platform::Mutex::FromHandle(nullptr).Valid());
    EXPECT_TRUE(kiru::platform::Mutex::FromHandle(mutex).Valid());
    CloseHandle(mutex);
}

TEST(KernelHandles, LastErrorIsKeptPerThread) {
    SetLastError(ERROR_TIMEOUT);
    DWORD seen = 1;
    std::thread([&] {
        seen = GetLastError();
        SetLastError(ERROR_INVALID_HANDLE);
    }).join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
}

TEST(KernelClock, MillisecondsAndMicrosecondsAdvanceTogether) {
    const double ms = NowMs();
    const std::int64_t us = kiru::platform::NowUs();
    EXPECT_GE(ms, 0.0);
    Sleep(20);
    const double msLater = NowMs();
    const std::int64_t usLater = NowUs();
    EXPECT_GE(msLater - ms, 19.0);
    EXPECT_GE(usLater - us, 19000);
    EXPECT_NEAR((usLater - us) / 1000.0, msLater - ms, 50.0);
}
