#include "capture/sim/sim_grab.h"

#include <chrono>

#include "capture/sim/sim_clock.h"
#include "capture/sim/sim_module.h"

namespace kiru::sim {

SimGrab::SimGrab(SimModule* module, SimChannel* channel, ULONG flags, std::vector<void*> buffers)
    : m_module(module),
      m_channel(channel),
      m_buffers(std::move(buffers)),
      m_state(m_buffers.size(), Buffer::Free),
      m_meta(m_buffers.size()),
      m_armed((flags & 0x80) != 0) {}

// Grabs are stopped (SimModule::StopGrab, Shutdown) before their last
// reference goes, which may be dropped under the module mutex.
SimGrab::~SimGrab() {
    std::lock_guard<std::mutex> join(m_joinMutex);
    if (m_thread.joinable()) m_thread.join();
}

void SimGrab::Start() { m_thread = std::thread([this] { Run(); }); }

void SimGrab::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_module->mutex);
        m_stopped = true;
        m_cv.notify_all();
    }
    // Two threads may stop the same grab; one joins, the other waits for it.
    std::lock_guard<std::mutex> join(m_joinMutex);
    if (m_thread.joinable()) m_thread.join();
}

void SimGrab::Trigger() {
    ++m_pendingTriggers;
    m_cv.notify_all();
}

void SimGrab::Kick() {
    m_rescheduled = true;
    m_cv.notify_all();
}

void SimGrab::Run() {
    std::unique_lock<std::mutex> lock(m_module->mutex);
    std::int64_t nextDue = 0;
    while (!m_stopped) {
        if (m_rescheduled) {
            m_rescheduled = false;
            nextDue = 0;
        }
        const bool live = m_channel->reachable && !m_armed;
        if (!live) {
            m_pendingTriggers = 0;
            nextDue = 0;
            m_cv.wait(lock);
            continue;
        }
        if (m_pendingTriggers > 0) {
            --m_pendingTriggers;
            Produce(lock);
            continue;
        }
        if (m_channel->Mode() != SimChannel::TriggerMode::FreeRunning) {
            nextDue = 0;
            m_cv.wait(lock);
            continue;
        }
        const std::int64_t period = static_cast<std::int64_t>(1e6 / m_channel->FrameRate());
        const std::int64_t now = NowUs();
        if (nextDue == 0) nextDue = now + period;
        if (now < nextDue) {
            m_cv.wait_for(lock, std::chrono::microseconds(nextDue - now));
            continue;
        }
        nextDue += period;
        if (nextDue <= now) nextDue = now + period;  // fell behind: no burst of catch-up frames
        Produce(lock);
    }
}

void SimGrab::Produce(std::unique_lock<std::mutex>& lock) {
    const ULONG number = ++m_frameNumber;
    const std::size_t count = m_buffers.size();
    std::size_t slot = count;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t k = (m_next + i) % count;
        if (m_state[k] == Buffer::Free) {
            slot = k;
            break;
        }
    }
    if (slot == count) {
        ++m_lost;  // every buffer is held
        m_channel->AfterFrame();
        return;
    }
    m_state[slot] = Buffer::Writing;
    m_next = (slot + 1) % count;
    const FrameGeometry geometry = m_channel->Geometry();
    const std::array<unsigned char, 256> lut = m_channel->lut;
    const std::shared_ptr<const Image> image = m_channel->image;
    const SceneRendering rendering = m_channel->Rendering();
    lock.unlock();
    FillFrame(static_cast<unsigned char*>(m_buffers[slot]), geometry, number, lut, image.get(), rendering);
    lock.lock();
    if (m_stopped) {
        m_state[slot] = Buffer::Free;
        return;
    }
    const double arrival = static_cast<double>(NowUs() + m_channel->clockOffsetUs);
    GRAB_EXT_ATTR& meta = m_meta[slot];
    meta = GRAB_EXT_ATTR{};
    meta.ArrivalTime = arrival;
    meta.FrameTime = arrival;
    meta.BufferIndex = static_cast<ULONG>(slot);
    meta.FrameNumber = number;
    meta.LostFrames = m_lost;
    meta.Width = geometry.width;
    meta.Height = geometry.height;
    m_state[slot] = Buffer::Filled;
    m_filled.push_back(static_cast<int>(slot));
    ++m_acquired;
    m_channel->values[{80, static_cast<ULONG>(slot)}] = arrival;
    m_cv.notify_all();
    m_channel->SignalInterrupts(ORV_EVENT_FRAME);
    m_channel->AfterFrame();
}

int SimGrab::Wait(std::unique_lock<std::mutex>& lock, ULONG timeoutMs, bool keepLocked, void** address,
                  ULONG* count, GRAB_EXT_ATTR* ext) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (!m_filled.empty()) {
            const int k = m_filled.front();
            m_filled.pop_front();
            m_state[k] = keepLocked ? Buffer::Locked : Buffer::Free;
            if (address) *address = m_buffers[k];
            if (count) *count = static_cast<ULONG>(m_filled.size() + 1);
            if (ext) *ext = m_meta[k];
            return k;
        }
        if (m_stopped) return -2;
        if (timeoutMs == 0) return -1;
        if (timeoutMs == INFINITE) {
            m_cv.wait(lock);
        } else if (m_cv.wait_until(lock, deadline) == std::cv_status::timeout) {
            if (m_filled.empty()) return m_stopped ? -2 : -1;
        }
    }
}

bool SimGrab::Release(int index) {
    bool released = false;
    for (std::size_t k = 0; k < m_state.size(); ++k) {
        if ((index < 0 || static_cast<std::size_t>(index) == k) && m_state[k] == Buffer::Locked) {
            m_state[k] = Buffer::Free;
            released = true;
        }
    }
    return released;
}

ORV_GRAB_STATS SimGrab::Stats() const {
    ORV_GRAB_STATS s{};
    s.FramesAcquired = m_acquired;
    s.FramesLost = m_lost;
    s.FramesWaiting = static_cast<ULONG>(m_filled.size());
    for (Buffer b : m_state) s.BuffersLocked += b == Buffer::Locked ? 1 : 0;
    return s;
}

}  // namespace kiru::sim
