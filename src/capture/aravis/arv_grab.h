// One grab of a real camera: an Aravis stream whose buffers are the client's
// ring buffers, so frames land where the client reads them without a copy.
// Buffers go back to the stream when released; frames that arrive broken, or
// find no buffer, are counted lost (with the gaps in the block ids).
#pragma once

#include <arv.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "capture/orv_types.h"

namespace kiru::gev {

class AravisDevice;

class AravisGrab {
public:
    AravisGrab(AravisDevice* owner, std::vector<void*> buffers, std::size_t frameBytes);
    ~AravisGrab();
    AravisGrab(const AravisGrab&) = delete;
    AravisGrab& operator=(const AravisGrab&) = delete;

    HGRAB Handle() { return reinterpret_cast<HGRAB>(this); }

    // Creates the stream over the buffers and starts the camera.
    bool Start(ArvCamera* camera, std::string* error);
    // Ends the stream (and its thread) and stops the camera: nothing is
    // written into the buffers afterwards, and a pending wait returns -2.
    void Stop();

    int Wait(ULONG timeoutMs, bool lock, void** address, ULONG* count, GRAB_EXT_ATTR* ext);
    int Release(int index);
    ORV_GRAB_STATS Stats();

private:
    static void OnNewBuffer(ArvStream* stream, void* self);
    // Under m_mutex: takes a popped buffer; its index, or -1 for a broken frame.
    int Take(ArvBuffer* buffer, bool lock, void** address, ULONG* count, GRAB_EXT_ATTR* ext);
    ULONG LostLocked();

    AravisDevice* m_owner;
    std::vector<void*> m_buffers;
    std::size_t m_frameBytes;
    std::vector<ArvBuffer*> m_arv;     // one Aravis buffer per ring buffer (we hold a reference)
    std::vector<bool> m_held;          // taken by the client and not yet released
    ArvStream* m_stream = nullptr;
    gulong m_signal = 0;
    bool m_acquiring = false;

    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::uint64_t m_signalled = 0;  // buffers the stream announced
    std::uint64_t m_popped = 0;     // buffers taken from the stream
    bool m_stopped = false;
    std::mutex m_stopMutex;  // one Stop at a time

    ULONG m_acquired = 0;
    ULONG m_broken = 0;  // frames that arrived incomplete
    guint64 m_failures = 0;  // the stream's count of broken frames, kept after it is gone
    std::uint64_t m_gaps = 0;
    bool m_haveId = false;
    std::uint64_t m_lastId = 0;
    std::uint64_t m_frameNumber = 0;
};

}  // namespace kiru::gev
