// Helpers of the lateness benchmarks: threads that keep the processors busy
// and the count of this process's real-time (on Windows: time-critical)
// threads. The order statistics of the samples are in latency_stats.h.
#pragma once

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

// Threads of this process at time-critical priority, the highest a thread of
// a normal process can ask for.
inline int RealTimeThreads() {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    const DWORD self = ::GetCurrentProcessId();
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != self) continue;
        if (HANDLE thread = ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID)) {
            if (::GetThreadPriority(thread) == THREAD_PRIORITY_TIME_CRITICAL) ++count;
            ::CloseHandle(thread);
        }
    }
    ::CloseHandle(snapshot);
    return count;
}
#else
#include <dirent.h>
#include <sched.h>

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
#endif

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
