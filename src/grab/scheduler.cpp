// Timed outputs: a time-ordered list of output events released by one
// time-critical thread per initialized object.
#include <kiru/cigrab.h>

#include <new>

#include "platform/clock.h"
#include "platform/kernel.h"

int CIGrab::ScheduleIOEvent(UINT port, int value, double delayMs, double durationMs) {
    const double now = NowMs();
    // The mutex is re-entrant: the scheduler thread schedules a pulse's
    // reversal while it holds it.
    if (::WaitForSingleObject(m_schedulerMutex, 2000) == WAIT_TIMEOUT) return 1;  // the event is lost

    auto* node = new (std::nothrow) ScheduledOutput{now + delayMs, port, value, durationMs, nullptr};
    if (node != nullptr) {
        // Before the first node at or after the new time: an event for the
        // same time as queued ones fires first.
        ScheduledOutput** link = &m_scheduleHead;
        while (*link != nullptr && (*link)->time < node->time) link = &(*link)->next;
        node->next = *link;
        *link = node;
    }
    ::ReleaseMutex(m_schedulerMutex);
    ::SetEvent(m_schedulerEvent);
    return 1;
}

int CIGrab::GeneratePulseOutPort(UINT port, int value, double delayMs, double durationMs) {
    if (delayMs == 0.0) {
        SetOutputPort(port, value);
        ScheduleIOEvent(port, !value, durationMs, 0.0);
    } else {
        ScheduleIOEvent(port, value, delayMs, durationMs);
    }
    return 1;
}

// The interface alone has no scheduler: an immediate pulse sets the line at
// once, and a delayed edge has no thread to release it.
int IXGrab::GeneratePulseOutPort(UINT port, int value, double delayMs, double) {
    if (delayMs == 0.0) SetOutputPort(port, value);
    return 1;
}

DWORD CIGrab::SchedulerThreadMain(void* self) {
    static_cast<CIGrab*>(self)->RunScheduler();
    return 0;
}

void CIGrab::RunScheduler() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    if (m_schedulerStop) return;
    DWORD timeout = INFINITE;
    for (;;) {
        ::WaitForSingleObject(m_schedulerEvent, timeout);
        if (m_schedulerStop) return;
        if (::WaitForSingleObject(m_schedulerMutex, 2000) == WAIT_TIMEOUT) continue;

        const double now = NowMs();
        while (m_scheduleHead != nullptr && m_scheduleHead->time <= now) {
            ScheduledOutput* node = m_scheduleHead;
            m_scheduleHead = node->next;
            SetOutputPort(node->port, node->value);
            if (node->duration != 0.0) ScheduleIOEvent(node->port, !node->value, node->duration, 0.0);
            delete node;
        }
        // Whole milliseconds, rounded down: the wait ends at or before the
        // next edge, and the remainder is taken by the following passes.
        timeout = m_scheduleHead != nullptr ? static_cast<DWORD>(m_scheduleHead->time - now) : INFINITE;
        ::ReleaseMutex(m_schedulerMutex);
    }
}
