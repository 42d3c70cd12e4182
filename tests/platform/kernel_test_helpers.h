// Helpers for the kernel-object tests: threads that are really asleep in a
// wait (so that a test exercises the wake-up path, not the fast path), and
// running a body on another thread.
#pragma once

#if defined(_WIN32)
#  include <winternl.h>

#  include "support/win32/wine.h"
#else
#  include <sys/syscall.h>
#  include <unistd.h>
#endif

#include <atomic>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel.h"
#include "support/poll.h"

namespace kiru_test {

using KernelThreadId = long;

#if defined(_WIN32)

// Under Wine each thread is a Linux task, but Wine's process and thread ids
// are its own numbering and the system call gives the Linux ones. Only
// called under Wine: on Windows the instruction means something else.
inline long LinuxSyscall0(long number) {
    long result;
    __asm__ volatile("syscall" : "=a"(result) : "a"(number) : "rcx", "r11", "memory");
    return result;
}
constexpr long kLinuxGetpid = 39, kLinuxGettid = 186;

// Files are opened by Wine's server process, so "/proc/self" would be the
// server: the process is named by its Linux id, through drive Z:.
inline std::string TaskFolder() {
    static const std::string folder = "Z:/proc/" + std::to_string(LinuxSyscall0(kLinuxGetpid)) + "/task/";
    return folder;
}

#else

inline std::string TaskFolder() { return "/proc/self/task/"; }

#endif

// The scheduling state letter of a Linux task of this process ('S' when it
// sleeps), or 0 when it cannot be read.
inline char LinuxTaskState(KernelThreadId id) {
    std::ifstream stat(TaskFolder() + std::to_string(id) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() ? text[close + 2] : 0;
}

#if defined(_WIN32)

// Under Wine the thread's Linux task id; on Windows the system's thread id,
// negative to tell the two apart.
inline KernelThreadId KernelTid() {
    if (UnderWine()) return LinuxSyscall0(kLinuxGettid);
    return -static_cast<KernelThreadId>(::GetCurrentThreadId());
}

// Windows reports a waiting thread's state (5) among the process's threads.
// Wine reports 0 for every thread, hence the Linux task state there.
inline bool WindowsThreadWaits(DWORD threadId) {
    std::vector<unsigned char> buffer(1 << 20);
    ULONG used = 0;
    if (::NtQuerySystemInformation(SystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                                   &used) < 0)
        return false;
    auto* process = reinterpret_cast<SYSTEM_PROCESS_INFORMATION*>(buffer.data());
    for (;;) {
        if (reinterpret_cast<ULONG_PTR>(process->UniqueProcessId) == ::GetCurrentProcessId()) {
            auto* threads = reinterpret_cast<SYSTEM_THREAD_INFORMATION*>(process + 1);
            for (ULONG i = 0; i < process->NumberOfThreads; ++i)
                if (reinterpret_cast<ULONG_PTR>(threads[i].ClientId.UniqueThread) == threadId)
                    return threads[i].ThreadState == 5;
            return false;
        }
        if (process->NextEntryOffset == 0) return false;
        process = reinterpret_cast<SYSTEM_PROCESS_INFORMATION*>(reinterpret_cast<unsigned char*>(process) +
                                                                process->NextEntryOffset);
    }
}

inline bool IsSleeping(KernelThreadId id) {
    return id > 0 ? LinuxTaskState(id) == 'S' : WindowsThreadWaits(static_cast<DWORD>(-id));
}

#else

inline KernelThreadId KernelTid() { return static_cast<KernelThreadId>(::syscall(SYS_gettid)); }

inline bool IsSleeping(KernelThreadId id) { return LinuxTaskState(id) == 'S'; }

#endif

// True once the thread with kernel id `tid` (of this process) sleeps in the
// kernel, which for our waiters means inside their wait.
inline bool WaitUntilSleeping(const std::atomic<KernelThreadId>& tid) {
    return WaitUntil([&] {
        const KernelThreadId id = tid.load();
        return id != 0 && IsSleeping(id);
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
    std::vector<std::atomic<KernelThreadId>> tids_;
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
