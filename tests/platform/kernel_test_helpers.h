// Helpers for the kernel-object tests: threads that are really asleep in a
// wait (so that a test exercises the wake-up path, not the fast path), and
// running a body on another thread.
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel.h"
#include "support/poll.h"

namespace kiru_test {

inline pid_t KernelTid() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

// True once the thread with kernel id `tid` (of this process) sleeps in the
// kernel, which for our waiters means inside their wait.
inline bool WaitUntilSleeping(const std::atomic<pid_t>& tid) {
    return WaitUntil([&] {
        const pid_t id = tid.load();
        if (id == 0) return false;
        std::ifstream stat("/proc/self/task/" + std::to_string(id) + "/stat");
        const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const auto close = text.rfind(')');
        return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'S';
    });
}

// `count` threads that each run `wait` once; `passed` counts the results
// that were WAIT_OBJECT_0. The constructor returns once every thread sleeps
// (`asleep` says whether they all did); the destructor joins them.
class Sleepers {
public:
    Sleepers(int count, std::function<DWORD()> wait) : tids_(count), results_(count, WAIT_FAILED) {
        for (int i = 0; i < count; ++i) {
            threads_.emplace_back([this, wait, i] {
                tids_[i] = KernelTid();
                results_[i] = wait();
                if (results_[i] == WAIT_OBJECT_0) ++passed;
            });
        }
        for (auto& tid : tids_) asleep = WaitUntilSleeping(tid) && asleep;
    }
    ~Sleepers() { Join(); }
    void Join() {
        for (auto& thread : threads_)
            if (thread.joinable()) thread.join();
    }
    // The result of thread i, once it has ended.
    DWORD Result(int i) {
        Join();
        return results_[i];
    }

    bool asleep = true;
    std::atomic<int> passed{0};

private:
    std::vector<std::atomic<pid_t>> tids_;
    std::vector<DWORD> results_;
    std::vector<std::thread> threads_;
};

// Runs `body` on another thread and returns its result.
template <class F>
auto OnOtherThread(F body) {
    decltype(body()) result{};
    std::thread([&] { result = body(); }).join();
    return result;
}

}  // namespace kiru_test
