#include "platform/posix/thread_priority.h"

#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <kiru/win_types.h>

namespace kiru::platform::detail {
namespace {

// A middle real-time priority: above every normal thread, below the
// kernel's own real-time threads.
constexpr int kTimeCriticalFifoPriority = 50;

// Timer slack in nanoseconds: 1 for time-critical threads; 0 restores the
// process default.
void SetTimerSlack(pid_t tid, unsigned long nanoseconds) {
    if (tid == static_cast<pid_t>(::syscall(SYS_gettid))) {
        ::prctl(PR_SET_TIMERSLACK, nanoseconds, 0, 0, 0);
        return;
    }
    if (tid <= 0) return;
    std::string path = "/proc/self/task/" + std::to_string(tid) + "/timerslack_ns";
    if (FILE* file = std::fopen(path.c_str(), "w")) {
        std::fprintf(file, "%lu", nanoseconds);
        std::fclose(file);
    }
}

int NiceFor(int priority) {
    switch (priority) {
    case THREAD_PRIORITY_IDLE: return 19;
    case THREAD_PRIORITY_LOWEST: return 10;
    case THREAD_PRIORITY_BELOW_NORMAL: return 5;
    case THREAD_PRIORITY_ABOVE_NORMAL: return -5;
    case THREAD_PRIORITY_HIGHEST: return -10;
    default: return 0;
    }
}

}  // namespace

bool IsValidThreadPriority(int priority) {
    switch (priority) {
    case THREAD_PRIORITY_IDLE:
    case THREAD_PRIORITY_LOWEST:
    case THREAD_PRIORITY_BELOW_NORMAL:
    case THREAD_PRIORITY_NORMAL:
    case THREAD_PRIORITY_ABOVE_NORMAL:
    case THREAD_PRIORITY_HIGHEST:
    case THREAD_PRIORITY_TIME_CRITICAL: return true;
    default: return false;
    }
}

void ApplyThreadPriority(pthread_t thread, pid_t tid, int priority) {
    if (priority == THREAD_PRIORITY_TIME_CRITICAL) {
        sched_param param{};
        int lowest = ::sched_get_priority_min(SCHED_FIFO);
        int highest = ::sched_get_priority_max(SCHED_FIFO);
        param.sched_priority = kTimeCriticalFifoPriority;
        if (param.sched_priority < lowest) param.sched_priority = lowest;
        if (param.sched_priority > highest) param.sched_priority = highest;
        ::pthread_setschedparam(thread, SCHED_FIFO, &param);  // refusal keeps normal scheduling
        SetTimerSlack(tid, 1);
        return;
    }
    // Leave real-time scheduling (always allowed) and the minimal timer
    // slack, then apply the nice value.
    int policy = SCHED_OTHER;
    sched_param current{};
    if (::pthread_getschedparam(thread, &policy, &current) == 0 && policy != SCHED_OTHER) {
        sched_param normal{};
        ::pthread_setschedparam(thread, SCHED_OTHER, &normal);
    }
    SetTimerSlack(tid, 0);
    if (tid > 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceFor(priority));
}

}  // namespace kiru::platform::detail
