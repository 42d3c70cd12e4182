// Thread priorities in the Windows scale (THREAD_PRIORITY_*), mapped onto
// Linux scheduling. Time-critical asks for real-time (SCHED_FIFO) scheduling
// and the smallest timer slack, so that timed waits wake on time;
// when the system refuses, the thread silently keeps normal scheduling.
// The other levels map to nice values, which an unprivileged process can
// only raise; a refusal is likewise ignored.
#pragma once

#include <sys/types.h>

#include <pthread.h>

namespace kiru::platform::detail {

bool IsValidThreadPriority(int priority);

// Applies `priority` to the thread `thread` whose kernel thread id is `tid`.
// The calling thread's timer slack is set with prctl; another thread's
// through /proc, which may be refused. Best effort throughout.
void ApplyThreadPriority(pthread_t thread, pid_t tid, int priority);

}  // namespace kiru::platform::detail
