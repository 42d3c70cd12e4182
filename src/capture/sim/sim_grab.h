// One running grab of a simulated camera: a producer thread that writes
// frames into the client's buffers in ring order, free-running at the frame
// rate or once per trigger, and the bookkeeping of filled, locked and lost
// buffers that GrabWaitFrame, GrabRelease and GetGrabStats see.
#pragma once

#include <kiru/win_types.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/orv_types.h"

namespace kiru::sim {

struct SimChannel;
class SimModule;

class SimGrab {
public:
    SimGrab(SimModule* module, SimChannel* channel, ULONG flags, std::vector<void*> buffers);
    ~SimGrab();
    SimGrab(const SimGrab&) = delete;
    SimGrab& operator=(const SimGrab&) = delete;

    HGRAB Handle() { return reinterpret_cast<HGRAB>(this); }
    SimChannel* Channel() const { return m_channel; }

    // Starts the producer thread (which begins by taking the module mutex).
    void Start();
    // Ends the grab: a pending wait returns, the producer is joined. Not
    // under the module mutex and not from the producer thread.
    void Stop();

    // The rest is called under the module mutex.
    bool Stopped() const { return m_stopped; }
    // Takes the oldest filled frame: its index, or -1 on time-out, -2 when
    // the grab has ended. timeoutMs INFINITE waits without limit.
    int Wait(std::unique_lock<std::mutex>& lock, ULONG timeoutMs, bool keepLocked, void** address, ULONG* count,
             GRAB_EXT_ATTR* ext);
    // Frees a locked buffer (index -1: every locked buffer).
    bool Release(int index);
    ORV_GRAB_STATS Stats() const;
    void Trigger();
    void Kick();
    // A synchronized start (flag 0x80) waits for this.
    void Release80() {
        m_armed = false;
        Kick();
    }

private:
    enum class Buffer { Free, Writing, Filled, Locked };
    void Run();
    void Produce(std::unique_lock<std::mutex>& lock);

    SimModule* m_module;
    SimChannel* m_channel;
    std::vector<void*> m_buffers;
    std::vector<Buffer> m_state;
    std::vector<GRAB_EXT_ATTR> m_meta;
    std::deque<int> m_filled;
    std::condition_variable m_cv;
    std::thread m_thread;
    std::mutex m_joinMutex;
    std::size_t m_next = 0;
    ULONG m_frameNumber = 0;
    ULONG m_acquired = 0;
    ULONG m_lost = 0;
    ULONG m_pendingTriggers = 0;
    bool m_armed;
    bool m_stopped = false;
    bool m_rescheduled = false;
};

}  // namespace kiru::sim
