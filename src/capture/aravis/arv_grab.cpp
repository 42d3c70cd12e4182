#include "capture/aravis/arv_grab.h"

#include <algorithm>
#include <chrono>

#include "capture/aravis/arv_device.h"
#include "capture/aravis/mapping.h"
#include "platform/clock.h"

namespace kiru::gev {

namespace {

// The library's monotonic clock (µs) at a buffer's host time stamp, which
// Aravis takes from the real-time clock in nanoseconds.
double ArrivalUs(ArvBuffer* buffer) {
    const std::int64_t systemNs = static_cast<std::int64_t>(arv_buffer_get_system_timestamp(buffer));
    const std::int64_t nowUs = kiru::platform::NowUs();
    if (systemNs <= 0) return static_cast<double>(nowUs);
    const std::int64_t ageUs = g_get_real_time() - systemNs / 1000;
    return static_cast<double>(nowUs - std::max<std::int64_t>(ageUs, 0));
}

}  // namespace

AravisGrab::AravisGrab(AravisDevice* owner, std::vector<void*> buffers, std::size_t frameBytes)
    : m_owner(owner), m_buffers(std::move(buffers)), m_frameBytes(frameBytes), m_held(m_buffers.size(), false) {}

AravisGrab::~AravisGrab() {
    Stop();
    for (std::size_t k = 0; k < m_arv.size(); ++k) {
        if (m_held[k]) g_object_unref(m_arv[k]);  // the reference the stream handed over
        g_object_unref(m_arv[k]);
    }
}

bool AravisGrab::Start(ArvCamera* camera, std::string* error) {
    GError* err = nullptr;
    m_stream = arv_camera_create_stream(camera, nullptr, nullptr, &err);
    if (!m_stream) {
        *error = std::string("cannot open a stream: ") + (err ? err->message : "unknown error");
        if (err) g_error_free(err);
        return false;
    }
    for (std::size_t k = 0; k < m_buffers.size(); ++k) {
        // The buffer writes into the client's memory and never frees it.
        ArvBuffer* b = arv_buffer_new_full(m_frameBytes, m_buffers[k], GINT_TO_POINTER(static_cast<int>(k) + 1), nullptr);
        g_object_ref(b);
        m_arv.push_back(b);
        arv_stream_push_buffer(m_stream, b);
    }
    m_signal = g_signal_connect(m_stream, "new-buffer", G_CALLBACK(&AravisGrab::OnNewBuffer), this);
    arv_stream_set_emit_signals(m_stream, TRUE);
    if (!m_owner->StartAcquisition(error)) return false;
    m_acquiring = true;
    return true;
}

void AravisGrab::Stop() {
    std::lock_guard<std::mutex> once(m_stopMutex);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped) return;
        m_stopped = true;
    }
    m_arrived.notify_all();
    if (m_stream) {
        // No announcement after this returns (it waits for a running one).
        arv_stream_set_emit_signals(m_stream, FALSE);
        if (m_signal) g_signal_handler_disconnect(m_stream, m_signal);
        ArvStream* stream;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            LostLocked();  // keeps the stream's last counts
            stream = m_stream;
            m_stream = nullptr;
        }
        // Joins the receiving thread and drops the buffers queued in it: the
        // ring is not written after this.
        g_object_unref(stream);
    }
    if (m_acquiring) m_owner->StopAcquisition();
    m_acquiring = false;
}

void AravisGrab::OnNewBuffer(ArvStream*, void* self) {
    auto* grab = static_cast<AravisGrab*>(self);
    {
        std::lock_guard<std::mutex> lock(grab->m_mutex);
        ++grab->m_signalled;
    }
    grab->m_arrived.notify_all();
    grab->m_owner->FrameArrived();
}

int AravisGrab::Wait(ULONG timeoutMs, bool lock, void** address, ULONG* count, GRAB_EXT_ATTR* ext) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> guard(m_mutex);
    for (;;) {
        if (m_stopped) return -2;
        if (ArvBuffer* buffer = arv_stream_try_pop_buffer(m_stream)) {
            ++m_popped;
            const int index = Take(buffer, lock, address, count, ext);
            if (index >= 0) return index;
            continue;
        }
        if (timeoutMs == 0) return -1;
        auto ready = [&] { return m_stopped || m_signalled > m_popped; };
        if (timeoutMs == INFINITE) {
            m_arrived.wait(guard, ready);
        } else if (!m_arrived.wait_until(guard, deadline, ready)) {
            return -1;
        }
    }
}

int AravisGrab::Take(ArvBuffer* buffer, bool lock, void** address, ULONG* count, GRAB_EXT_ATTR* ext) {
    const int index = GPOINTER_TO_INT(arv_buffer_get_user_data(buffer)) - 1;
    if (index < 0 || static_cast<std::size_t>(index) >= m_arv.size() || m_arv[index] != buffer) {
        g_object_unref(buffer);  // not one of ours: cannot happen, but never write through it
        return -1;
    }
    if (arv_buffer_get_status(buffer) != ARV_BUFFER_STATUS_SUCCESS) {
        ++m_broken;
        arv_stream_push_buffer(m_stream, buffer);
        return -1;
    }
    const std::uint64_t id = arv_buffer_get_frame_id(buffer);
    std::uint64_t step = 1;
    if (m_haveId) {
        step = FrameIdDistance(m_lastId, id);
        if (step > 1) m_gaps += step - 1;
        if (step == 0) step = 1;
    }
    m_haveId = true;
    m_lastId = id;
    m_frameNumber += step;
    ++m_acquired;

    const double frameTimeUs = static_cast<double>(arv_buffer_get_timestamp(buffer)) / 1000.0;
    m_owner->FrameTaken(static_cast<ULONG>(index), frameTimeUs);
    if (ext) {
        *ext = GRAB_EXT_ATTR{};
        ext->ArrivalTime = ArrivalUs(buffer);
        ext->FrameTime = frameTimeUs;
        ext->BufferIndex = static_cast<ULONG>(index);
        ext->FrameNumber = static_cast<ULONG>(m_frameNumber);
        ext->LostFrames = LostLocked();
        ext->Width = static_cast<ULONG>(std::max(arv_buffer_get_image_width(buffer), 0));
        ext->Height = static_cast<ULONG>(std::max(arv_buffer_get_image_height(buffer), 0));
    }
    if (address) *address = m_buffers[index];
    if (count) {
        gint waiting = 0;
        arv_stream_get_n_buffers(m_stream, nullptr, &waiting);
        *count = static_cast<ULONG>(waiting) + 1;
    }
    if (lock) m_held[index] = true;
    else arv_stream_push_buffer(m_stream, buffer);
    return index;
}

int AravisGrab::Release(int index) {
    std::lock_guard<std::mutex> guard(m_mutex);
    bool released = false;
    for (std::size_t k = 0; k < m_held.size(); ++k) {
        if ((index < 0 || static_cast<std::size_t>(index) == k) && m_held[k]) {
            // After the stream is gone a held buffer stays ours to drop.
            if (m_stream) {
                m_held[k] = false;
                arv_stream_push_buffer(m_stream, m_arv[k]);
            }
            released = true;
        }
    }
    return released ? 1 : 0;
}

ULONG AravisGrab::LostLocked() {
    guint64 completed = 0, underruns = 0;
    if (m_stream) arv_stream_get_statistics(m_stream, &completed, &m_failures, &underruns);
    const std::uint64_t failures = m_failures;
    // Every lost frame shows as a gap in the block ids of the frames that
    // arrived whole: broken ones, those that found no free buffer (the
    // stream counts those by packet, not by frame) and those that never
    // came. Broken ones are also counted as they come.
    return static_cast<ULONG>(std::max<std::uint64_t>({m_gaps, failures, m_broken}));
}

ORV_GRAB_STATS AravisGrab::Stats() {
    std::lock_guard<std::mutex> guard(m_mutex);
    ORV_GRAB_STATS s{};
    s.FramesAcquired = m_acquired;
    s.FramesLost = LostLocked();
    gint waiting = 0;
    if (m_stream) arv_stream_get_n_buffers(m_stream, nullptr, &waiting);
    s.FramesWaiting = static_cast<ULONG>(waiting);
    s.BuffersLocked = static_cast<ULONG>(std::count(m_held.begin(), m_held.end(), true));
    return s;
}

}  // namespace kiru::gev
