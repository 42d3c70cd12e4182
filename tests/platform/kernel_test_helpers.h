// Helpers for the kernel-object tests: waiting for a condition with a
// generous limit, and knowing that another thread is really asleep in a
// wait (so that a test exercises the wake-up path, not the fast path).
#pragma once

#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

namespace kiru_test {

constexpr auto kGenerous = std::chrono::seconds(20);

// Polls `condition` until it holds or `limit` passes; returns its last value.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = kGenerous) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline pid_t KernelTid() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

// True once the thread with kernel id `tid` (of this process) sleeps in the
// kernel, which for our waiters means inside their wait.
inline bool WaitUntilSleeping(const std::atomic<pid_t>& tid) {
    return WaitUntil([&] {
        pid_t id = tid.load();
        if (id == 0) return false;
        std::ifstream stat("/proc/self/task/" + std::to_string(id) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        auto close = text.rfind(')');
        return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'S';
    });
}

}  // namespace kiru_test
