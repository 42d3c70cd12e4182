// The PLC link of the "RCS" controller.
#include <algorithm>
#include <cstring>
#include <vector>

#include "capture/rcs.h"
#include "capture/sim/sim_module.h"
#include "capture/sim/trace.h"

using kiru::sim::PlcState;
using kiru::sim::TraceLine;

CRCS::~CRCS() {
    std::vector<std::uint64_t> cancelled;
    {
        std::lock_guard<std::mutex> lock(m_sim->mutex);
        auto& watches = m_sim->plc.watches;
        for (const auto& w : watches)
            if (w->owner == this) cancelled.push_back(w->id);
        watches.erase(std::remove_if(watches.begin(), watches.end(), [&](const auto& w) { return w->owner == this; }),
                      watches.end());
        auto& triggers = m_sim->plc.camTriggers;
        triggers.erase(
            std::remove_if(triggers.begin(), triggers.end(), [&](const auto& t) { return t->owner == this; }),
            triggers.end());
    }
    for (std::uint64_t id : cancelled) m_sim->interrupts.Cancel(id);
}

int CRCS::PlcRead(ULONG offset, ULONG bytes, void* data) {
    if (!data || offset > PlcState::kAreaSize || bytes > PlcState::kAreaSize - offset) return 0;
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    std::memcpy(data, &m_sim->plc.in[offset], bytes);
    return 1;
}

int CRCS::PlcWrite(const char* operation, ULONG offset, ULONG count, ULONG elementSize, const void* data) {
    if (!data || count == 0 || count > PlcState::kAreaSize) return 0;
    const ULONG bytes = count * elementSize;
    if (offset > PlcState::kAreaSize || bytes > PlcState::kAreaSize - offset) return 0;
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    std::memcpy(&m_sim->plc.out[offset], data, bytes);
    TraceLine line(m_sim->Tag(), operation);
    line << offset << count;
    for (ULONG i = 0; i < count; ++i) {
        const auto* p = static_cast<const unsigned char*>(data) + i * elementSize;
        if (elementSize == 1) {
            line << static_cast<unsigned>(*p);
        } else if (std::strcmp(operation, "PlcSetOutputsFloat") == 0) {
            float f;
            std::memcpy(&f, p, 4);
            line << static_cast<double>(f);
        } else if (elementSize == 2) {
            unsigned short v;
            std::memcpy(&v, p, 2);
            line << static_cast<short>(v);
        } else {
            ULONG v;
            std::memcpy(&v, p, 4);
            line << static_cast<LONG>(v);
        }
    }
    line.Commit();
    return 1;
}

int CRCS::PlcGetInputs(ULONG offset, ULONG count, unsigned char* data) { return PlcRead(offset, count, data); }
int CRCS::PlcGetInputsFloat(ULONG offset, ULONG count, float* data) {
    return count <= PlcState::kAreaSize ? PlcRead(offset, count * 4, data) : 0;
}
int CRCS::PlcGetInputsSigned16(ULONG offset, ULONG count, unsigned short* data) {
    return count <= PlcState::kAreaSize ? PlcRead(offset, count * 2, data) : 0;
}
int CRCS::PlcGetInputsSigned32(ULONG offset, ULONG count, ULONG* data) {
    return count <= PlcState::kAreaSize ? PlcRead(offset, count * 4, data) : 0;
}
int CRCS::PlcSetOutputs(ULONG offset, ULONG count, unsigned char* data) {
    return PlcWrite("PlcSetOutputs", offset, count, 1, data);
}
int CRCS::PlcSetOutputsFloat(ULONG offset, ULONG count, float* data) {
    return PlcWrite("PlcSetOutputsFloat", offset, count, 4, data);
}
int CRCS::PlcSetOutputsSigned16(ULONG offset, ULONG count, unsigned short* data) {
    return PlcWrite("PlcSetOutputsSigned16", offset, count, 2, data);
}
int CRCS::PlcSetOutputsSigned32(ULONG offset, ULONG count, ULONG* data) {
    return PlcWrite("PlcSetOutputsSigned32", offset, count, 4, data);
}

int CRCS::PlcGetIPAddress(ULONG* address, ULONG* mask, char* name) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    const kiru::sim::PlcDesc& d = m_sim->plc.desc;
    if (address) *address = d.ip;
    if (mask) *mask = d.mask;
    if (name) {
        std::strncpy(name, d.name.c_str(), 63);
        name[std::min<std::size_t>(d.name.size(), 63)] = '\0';
    }
    return 1;
}

int CRCS::PlcSetIPAddress(ULONG address, ULONG mask, ULONG gateway, char* name) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    kiru::sim::PlcDesc& d = m_sim->plc.desc;
    d.ip = address;
    d.mask = mask;
    d.gateway = gateway;
    if (name) d.name.assign(name, strnlen(name, 63));
    (TraceLine(m_sim->Tag(), "PlcSetIPAddress") << address << mask << gateway << d.name).Commit();
    return 1;
}

int CRCS::PlcGetMACAddress(unsigned char* mac) {
    if (!mac) return 0;
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    std::memcpy(mac, m_sim->plc.desc.mac.data(), 6);
    return 1;
}

ULONG CRCS::GetPlcType() {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    return m_sim->plc.desc.type;
}

HDATAIN CRCS::AddDataInChangeCallback(ULONG offset, ULONG size, ULONG mode, RCS_DATAIN_FUNC fn, void* context) {
    if (!fn || (size != 1 && size != 2 && size != 4 && size != 8)) return nullptr;
    if (offset > PlcState::kAreaSize || size > PlcState::kAreaSize - offset) return nullptr;
    auto watch = std::make_unique<kiru::sim::DataInWatch>(
        kiru::sim::DataInWatch{kiru::sim::NewOwnerId(), offset, size, mode, fn, context, this});
    auto handle = reinterpret_cast<HDATAIN>(watch.get());
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    m_sim->plc.watches.push_back(std::move(watch));
    return handle;
}

int CRCS::DelDataInChangeCallback(HDATAIN handle) {
    std::uint64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(m_sim->mutex);
        auto& list = m_sim->plc.watches;
        auto it = std::find_if(list.begin(), list.end(),
                               [&](const auto& w) { return reinterpret_cast<HDATAIN>(w.get()) == handle; });
        if (!handle || it == list.end()) return 0;
        id = (*it)->id;
        list.erase(it);
    }
    m_sim->interrupts.Cancel(id);
    return 1;
}

HDATAIN CRCS::AddDataInChangeCamTrigger(ULONG offset, int bit, ULONG camera) {
    if (offset >= PlcState::kAreaSize || bit < 0 || bit > 7) return nullptr;
    auto trigger = std::make_unique<kiru::sim::CamTrigger>(kiru::sim::CamTrigger{offset, bit, camera, this});
    auto handle = reinterpret_cast<HDATAIN>(trigger.get());
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    m_sim->plc.camTriggers.push_back(std::move(trigger));
    (TraceLine(m_sim->Tag(), "AddDataInChangeCamTrigger") << offset << bit << camera).Commit();
    return handle;
}

int CRCS::DelDataInChangeCamTrigger(ULONG offset, int bit, ULONG camera) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    auto& list = m_sim->plc.camTriggers;
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& t) {
        return t->offset == offset && t->bit == bit && t->camera == camera;
    });
    if (it == list.end()) return 0;
    list.erase(it);
    (TraceLine(m_sim->Tag(), "DelDataInChangeCamTrigger") << offset << bit << camera).Commit();
    return 1;
}
