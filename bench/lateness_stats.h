// Helpers of the lateness benchmarks: threads that keep the processors busy
// and the count of this process's real-time threads. The order statistics of
// the samples are in latency_stats.h.
#pragma once

#include <dirent.h>
#include <sched.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

// Threads of this process running with a real-time policy (time-critical
// threads ask for one; the system may refuse).
inline int RealTimeThreads() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (dirent* entry = ::readdir(dir)) {
            const int tid = std::atoi(entry->d_name);
            if (tid <= 0) continue;
            const int policy = ::sched_getscheduler(tid);
            if (policy == SCHED_FIFO || policy == SCHED_RR) ++count;
        }
        ::closedir(dir);
    }
    return count;
}

// Threads spinning on the processors for as long as the object lives.
class BusyThreads {
public:
    explicit BusyThreads(int count) {
        for (int i = 0; i < count; ++i)
            threads_.emplace_back([this] {
                volatile unsigned long sink = 0;
                while (spin_.load(std::memory_order_relaxed)) sink = sink + 1;
            });
    }
    ~BusyThreads() {
        spin_ = false;
        for (std::thread& t : threads_) t.join();
    }
    BusyThreads(const BusyThreads&) = delete;
    BusyThreads& operator=(const BusyThreads&) = delete;

private:
    std::atomic<bool> spin_{true};
    std::vector<std::thread> threads_;
};
