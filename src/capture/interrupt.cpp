#include "capture/interrupt.h"

#include <algorithm>

#include "capture/aravis/device.h"
#include "capture/sim/sim_module.h"
#include "platform/kernel.h"

CInterrupt::CInterrupt(std::shared_ptr<kiru::sim::SimModule> sim, ULONG channel, ULONG event, HANDLE handle,
                       std::shared_ptr<kiru::gev::Device> device)
    : m_sim(std::move(sim)), m_channel(channel), m_eventNumber(event), m_event(handle), m_device(std::move(device)) {}

CInterrupt::~CInterrupt() {
    if (m_device) {
        m_device->RemoveFrameEvent(m_event);
    } else {
        std::lock_guard<std::mutex> lock(m_sim->mutex);
        auto& list = m_sim->channels[m_channel]->interrupts;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const kiru::sim::InterruptObject& o) { return o.handle == m_event; }),
                   list.end());
    }
    CloseHandle(m_event);
    kiru::sim::ReleaseModule(m_sim);
}
