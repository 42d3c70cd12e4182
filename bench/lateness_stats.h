// Helpers of the lateness benchmarks: order statistics of a set of
// lateness samples, threads that keep the processors busy, and the count of
// this process's real-time threads.
#pragma once

#include <dirent.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <vector>

struct LatenessStats {
    std::size_t count = 0;
    double minUs = 0, medianUs = 0, p99Us = 0, maxUs = 0;
};

inline LatenessStats SummarizeLateness(std::vector<double> latenessUs) {
    LatenessStats s;
    if (latenessUs.empty()) return s;
    std::sort(latenessUs.begin(), latenessUs.end());
    const std::size_t n = latenessUs.size();
    s.count = n;
    s.minUs = latenessUs.front();
    s.medianUs = n % 2 ? latenessUs[n / 2] : 0.5 * (latenessUs[n / 2 - 1] + latenessUs[n / 2]);
    s.p99Us = latenessUs[static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(n))) - 1];
    s.maxUs = latenessUs.back();
    return s;
}

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
