// Many threads with short time-outs: units handed to a waiter that is timing
// out, or offered to a waiter for several objects at once, must be taken
// exactly once and never lost.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/kernel.h"

TEST(KernelStress, SemaphoreUnitsAreTakenExactlyOnceUnderShortTimeouts) {
    constexpr int kProducers = 2, kConsumers = 3, kUnitsEach = 2000;
    HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 1000000, nullptr);
    HANDLE unrelated = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> taken{0}, producersLeft{kProducers};
    // A lost unit would keep the consumers waiting for it; give up late instead of hanging.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::vector<std::thread> threads;
    for (int p = 0; p < kProducers; ++p) {
        threads.emplace_back([&] {
            for (int i = 0; i < kUnitsEach; ++i) ReleaseSemaphore(semaphore, 1, nullptr);
            --producersLeft;
        });
    }
    for (int c = 0; c < kConsumers; ++c) {
        threads.emplace_back([&, c] {
            HANDLE set[2] = {unrelated, semaphore};
            for (;;) {
                DWORD r = c == 0 ? WaitForSingleObject(semaphore, 1) : WaitForMultipleObjects(2, set, FALSE, 1);
                if (r == WAIT_OBJECT_0 + (c == 0 ? 0 : 1))
                    ++taken;
                else if (r == WAIT_TIMEOUT && producersLeft == 0 &&
                         (taken == kProducers * kUnitsEach || std::chrono::steady_clock::now() > giveUp))
                    break;
                else if (r != WAIT_TIMEOUT)
                    ADD_FAILURE() << "unexpected wait result " << r;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(taken, kProducers * kUnitsEach);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    CloseHandle(semaphore);
    CloseHandle(unrelated);
}
