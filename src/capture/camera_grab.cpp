// Camera grabs: frames into the client's ring of buffers, waits, releases,
// statistics, and per-frame interrupt objects.
#include <algorithm>

#include "capture/aravis/device.h"
#include "capture/camera.h"
#include "capture/interrupt.h"
#include "capture/sim/sim_grab.h"
#include "capture/sim/sim_module.h"
#include "capture/sim/trace.h"
#include "platform/kernel.h"

using kiru::sim::SimGrab;
using kiru::sim::TraceLine;

CICamera::~CICamera() {
    // Grabs started through this object end with it.
    if (m_device) {
        for (HGRAB grab : m_grabs) m_device->GrabStop(grab);
        return;
    }
    std::vector<HGRAB> grabs;
    {
        std::lock_guard<std::mutex> lock(m_sim->mutex);
        grabs = m_grabs;
    }
    for (HGRAB grab : grabs) GrabStop(grab);
    kiru::sim::ReleaseModule(m_sim);
}

HGRAB CICamera::Grab(ULONG flags, void** buffers, ULONG count, LONG mode, ULONG, ULONG, ULONG, ULONG) {
    if (!buffers || count == 0 || count > 4096) return nullptr;
    std::vector<void*> list(buffers, buffers + count);
    if (std::find(list.begin(), list.end(), nullptr) != list.end()) return nullptr;
    if (m_device) {
        HGRAB grab = m_device->Grab(flags, buffers, count);
        if (grab) {
            std::lock_guard<std::mutex> lock(m_sim->mutex);
            m_grabs.push_back(grab);
        }
        return grab;
    }
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    if (!m_state->reachable || !m_state->CanGrab()) return nullptr;
    auto grab = std::make_shared<SimGrab>(m_sim.get(), m_state, flags, std::move(list));
    m_state->grabs.push_back(grab);
    m_grabs.push_back(grab->Handle());
    (TraceLine(m_sim->ChannelTag(m_channel), "Grab") << flags << count << mode).Commit();
    // Started under the mutex, so that a GrabStop always finds a running producer.
    grab->Start();
    return grab->Handle();
}

int CICamera::GrabWaitFrame(HGRAB handle, void** address, LONG, ULONG timeoutMs, ULONG lockFrame, ULONG* count,
                            void*, GRAB_EXT_ATTR* ext) {
    if (m_device) return m_device->GrabWaitFrame(handle, address, timeoutMs, lockFrame != 0, count, ext);
    std::shared_ptr<SimGrab> grab;  // outlives the lock: it may be the last reference
    std::unique_lock<std::mutex> lock(m_sim->mutex);
    grab = m_sim->FindGrab(handle);
    if (!grab || grab->Channel() != m_state) return -2;
    return grab->Wait(lock, timeoutMs, lockFrame != 0, address, count, ext);
}

int CICamera::GrabRelease(HGRAB handle, int index) {
    if (m_device) return m_device->GrabRelease(handle, index);
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    std::shared_ptr<SimGrab> grab = m_sim->FindGrab(handle);
    if (!grab || grab->Channel() != m_state) return 0;
    return grab->Release(index) ? 1 : 0;
}

int CICamera::GrabStop(HGRAB handle) {
    if (m_device) {
        const int stopped = m_device->GrabStop(handle);
        std::lock_guard<std::mutex> lock(m_sim->mutex);
        if (handle) m_grabs.erase(std::remove(m_grabs.begin(), m_grabs.end(), handle), m_grabs.end());
        else m_grabs.clear();
        return stopped;
    }
    std::vector<std::shared_ptr<SimGrab>> stopping;
    {
        std::lock_guard<std::mutex> lock(m_sim->mutex);
        for (auto& g : m_state->grabs) {
            if (handle ? g->Handle() == handle : true) stopping.push_back(g);
        }
        if (stopping.empty()) return 0;
        TraceLine(m_sim->ChannelTag(m_channel), "GrabStop").Commit();
    }
    for (auto& g : stopping) {
        m_sim->StopGrab(g);
        std::lock_guard<std::mutex> lock(m_sim->mutex);
        m_grabs.erase(std::remove(m_grabs.begin(), m_grabs.end(), g->Handle()), m_grabs.end());
    }
    return 1;
}

CInterrupt* CICamera::CreateInterruptObject(ULONG event, ULONG) {
    HANDLE handle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!handle) return nullptr;
    if (m_device) {
        if (event == ORV_EVENT_FRAME) m_device->AddFrameEvent(handle);
        return new CInterrupt(m_sim, m_channel, event, handle, m_device);
    }
    {
        std::lock_guard<std::mutex> lock(m_sim->mutex);
        m_state->interrupts.push_back({event, handle});
    }
    return new CInterrupt(m_sim, m_channel, event, handle);
}
