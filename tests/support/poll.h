// Waiting in tests: poll a condition with a generous limit. Tests never rely
// on the machine being fast; the limit only stops a test that would hang.
#pragma once

#include <chrono>
#include <thread>

namespace kiru_test {

constexpr std::chrono::milliseconds kGenerous{20000};

// Polls `condition` every millisecond until it holds or `limit` passes;
// returns its last value.
template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = kGenerous) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace kiru_test
