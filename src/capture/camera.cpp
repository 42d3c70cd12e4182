// Camera and channel objects: attributes, numbered parameters, registers,
// tables and board-channel operations.
#include "capture/camera.h"

#include <cstring>
#include <strings.h>

#include "capture/aravis/device.h"
#include "capture/sim/sim_grab.h"
#include "capture/sim/sim_module.h"
#include "capture/sim/trace.h"

using kiru::sim::SimChannel;
using kiru::sim::TraceLine;

namespace {

constexpr ULONG kParamSoftwareTrigger = 13;
constexpr ULONG kRegManualTrigger = 57;

// Parameters whose change reprograms the frame timing of running grabs.
bool AffectsTiming(ULONG number) { return number == 9 || number == 10 || number == 95; }

}  // namespace

CICamera::CICamera(std::shared_ptr<kiru::sim::SimModule> sim, ULONG channel,
                   std::shared_ptr<kiru::gev::Device> device)
    : m_sim(std::move(sim)), m_channel(channel), m_state(m_sim->channels[channel].get()), m_device(std::move(device)) {}

int CICamera::GetAttr(ORV_CAM_ATTR* attr, int) {
    if (!attr) return 0;
    if (m_device) return m_device->GetAttr(attr);
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    if (!m_state->reachable) return 0;
    *attr = m_state->Attributes();
    return 1;
}

int CICamera::GetAcqParam(ULONG number, double* value, ULONG index) {
    if (m_device) {
        double v = 0.0;
        const int found = m_device->GetParam(number, index, &v);
        if (value) *value = v;
        return found;
    }
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    double v = 0.0;
    bool found = false;
    if (m_state->reachable) {
        if (m_state->texts.count(number)) {
            v = m_state->TextAddress(number);
            found = true;
        } else if (m_state->HasValue(number, index)) {
            v = m_state->Value(number, index);
            found = true;
        }
    }
    if (value) *value = v;
    return found ? 1 : 0;
}

int CICamera::SetAcqParam(ULONG number, double value, ULONG index) {
    if (m_device) return m_device->SetParam(number, index, value);
    std::vector<ULONG> triggered;  // cameras a controller's soft trigger reaches, once unlocked
    int result;
    {
        std::lock_guard<std::mutex> lock(m_sim->mutex);
        result = SetAcqParamLocked(number, value, index, &triggered);
    }
    if (!triggered.empty()) kiru::sim::TriggerCameras(triggered);
    return result;
}

int CICamera::SetAcqParamLocked(ULONG number, double value, ULONG index, std::vector<ULONG>* triggered) {
    SimChannel& c = *m_state;
    if (!c.reachable) return 0;
    if (c.texts.count(number)) {
        // A text parameter takes the address of a text.
        const char* text = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(value));
        if (!text) return 0;
        c.SetText(number, text);
        (TraceLine(m_sim->ChannelTag(m_channel), "SetAcqParam") << number << text << index).Commit();
        return 1;
    }
    (TraceLine(m_sim->ChannelTag(m_channel), "SetAcqParam") << number << value << index).Commit();
    c.values[{number, index}] = c.Limit(number, value);
    if (number == kParamSoftwareTrigger) {
        c.Trigger(SimChannel::TriggerMode::Software);
        // On an I/O controller the write fires the channel's trigger output:
        // its exposure event and a trigger pulse to the cameras wired to it.
        if (kiru::sim::IsTriggerController(m_sim->name)) {
            ULONG event = 0;
            if (c.ExposureEvent(&event)) m_sim->FireEventLocked(event);
            *triggered = c.TriggeredCameras();
        }
    }
    if (AffectsTiming(number)) c.KickGrabs();
    return 1;
}

int CICamera::GetParamCaps(ULONG number, ORV_PARAM_CAPS* caps) {
    if (!caps) return 0;
    if (m_device) return m_device->GetCaps(number, caps);
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    std::memset(caps, 0, sizeof *caps);
    if (!m_state->reachable) return 0;
    if (m_state->texts.count(number)) {
        caps->Flags = 1;
        return 1;
    }
    auto it = m_state->caps.find(number);
    if (it == m_state->caps.end()) return 0;
    caps->Min = it->second.first;
    caps->Max = it->second.second;
    return 1;
}

int CICamera::IsParamSupported(ULONG number) {
    if (m_device) return m_device->Supported(number) ? 1 : 0;
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    return m_state->Supported(number) ? 1 : 0;
}

double CICamera::CheckParamValue(ULONG number, double value) {
    if (m_device) return m_device->CheckValue(number, value);
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    return m_state->Limit(number, value);
}

double CICamera::GetStoredVal(ULONG number, ULONG index) {
    if (m_device) return m_device->GetStored(number, index);
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    if (m_state->texts.count(number)) return m_state->TextAddress(number);
    return m_state->Value(number, index);
}

int CICamera::SetStoredVal(ULONG number, double value, ULONG index) {
    if (m_device) return m_device->SetStored(number, index, value);
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    SimChannel& c = *m_state;
    if (c.texts.count(number)) return 0;
    (TraceLine(m_sim->ChannelTag(m_channel), "SetStoredVal") << number << value << index).Commit();
    c.values[{number, index}] = c.Limit(number, value);
    if (AffectsTiming(number)) c.KickGrabs();
    return 1;
}

ULONG CICamera::ReadReg(ULONG address) {
    if (m_device) return m_device->ReadReg(address);
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    if (!m_state->reachable) return 0;
    auto it = m_state->regs.find(address);
    if (address == ORV_REG_REACHABLE) return (it != m_state->regs.end() && it->second) ? it->second : 1;
    return it == m_state->regs.end() ? 0 : it->second;
}

int CICamera::WriteReg(ULONG address, ULONG value) {
    if (m_device) return m_device->WriteReg(address, value);
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    SimChannel& c = *m_state;
    if (!c.reachable) return 0;
    const ULONG before = c.regs.count(address) ? c.regs[address] : 0;
    c.regs[address] = value;
    (TraceLine(m_sim->ChannelTag(m_channel), "WriteReg") << address << value).Commit();
    if (address == ORV_REG_SYNC_START && value == 1) {
        for (auto& g : c.grabs) g->Release80();
    }
    // A rising bit 0 of register 57 is a manual trigger: one frame in either trigger mode.
    if (address == kRegManualTrigger && (value & 1) && !(before & 1)) {
        const SimChannel::TriggerMode mode = c.Mode();
        if (mode != SimChannel::TriggerMode::FreeRunning) c.Trigger(mode);
    }
    return 1;
}

int CICamera::WriteTable(ULONG kind, ULONG first, ULONG count, const void* data, ULONG flags) {
    if (!data || count == 0) return 0;
    if (m_device) return 0;  // tables of a real camera are its own features
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    SimChannel& c = *m_state;
    if (!c.reachable) return 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (kind == 0) {
        if (first >= c.lut.size() || count > c.lut.size() - first) return 0;
        std::memcpy(&c.lut[first], bytes, count);
    } else if (kind == 3) {
        if (count > (64u << 20) || first > (64u << 20)) return 0;
        if (c.calibration.size() < first + count) c.calibration.resize(first + count);
        std::memcpy(&c.calibration[first], bytes, count);
    } else {
        return 0;
    }
    (TraceLine(m_sim->ChannelTag(m_channel), "WriteTable") << kind << first << count << flags).Commit();
    return 1;
}

int CICamera::LinearTable(ULONG kind, ULONG flags) {
    if (kind != 0) return 0;
    if (m_device) return 0;  // tables of a real camera are its own features
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    if (!m_state->reachable) return 0;
    for (int i = 0; i < 256; ++i) m_state->lut[i] = static_cast<unsigned char>(i);
    (TraceLine(m_sim->ChannelTag(m_channel), "LinearTable") << kind << flags).Commit();
    return 1;
}

int CICamera::InverseTable(ULONG kind, ULONG flags) {
    if (kind != 0) return 0;
    if (m_device) return 0;  // tables of a real camera are its own features
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    if (!m_state->reachable) return 0;
    for (int i = 0; i < 256; ++i) m_state->lut[i] = static_cast<unsigned char>(255 - i);
    (TraceLine(m_sim->ChannelTag(m_channel), "InverseTable") << kind << flags).Commit();
    return 1;
}

int CICamera::WriteLutEntry(ULONG kind, ULONG index, ULONG value, ULONG flags) {
    if (kind != 0 || index > 255) return 0;
    if (m_device) return 0;  // tables of a real camera are its own features
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    if (!m_state->reachable) return 0;
    m_state->lut[index] = static_cast<unsigned char>(value > 255 ? 255 : value);
    (TraceLine(m_sim->ChannelTag(m_channel), "WriteLutEntry") << kind << index << value << flags).Commit();
    return 1;
}

int CICamera::ApplyCameraRule(const ORV_CAMERA_RULE* rule, int flags) {
    return rule ? ApplyCameraRule(rule->Name, flags) : 0;
}

int CICamera::ApplyCameraRule(const char* ruleName, int flags) {
    if (!ruleName) return 0;
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    for (const auto& rule : m_sim->rules) {
        if (strcasecmp(rule->Name, ruleName) == 0) {
            m_state->rule = rule->Name;
            (TraceLine(m_sim->ChannelTag(m_channel), "ApplyCameraRule") << rule->Name << flags).Commit();
            return 1;
        }
    }
    return 0;
}

int CICamera::ApplyParams() {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    ++m_state->applyParamsCount;
    TraceLine(m_sim->ChannelTag(m_channel), "ApplyParams").Commit();
    return 1;
}

int CICamera::SetChannelState(ULONG state) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    m_state->channelState = state;
    (TraceLine(m_sim->ChannelTag(m_channel), "SetChannelState") << state).Commit();
    return 1;
}

int CICamera::GetPortInfo(ORV_PORT_INFO* info, ULONG) {
    if (!info) return 0;
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    std::memset(info, 0, sizeof *info);
    if (m_state->desc.portName.empty()) return 0;
    std::strncpy(info->DeviceName, m_state->desc.portName.c_str(), sizeof info->DeviceName - 1);
    info->Channel = m_channel;
    return 1;
}

int CICamera::SetAoi(WORD x, WORD y, WORD width, WORD height) {
    if (width == 0 || height == 0) return 0;
    if (m_device) return m_device->SetAoi(x, y, width, height);
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    SimChannel& c = *m_state;
    if (!c.reachable) return 0;
    // The frame size of a running grab cannot change under its buffers.
    const kiru::sim::FrameGeometry now = c.Geometry();
    if (!c.grabs.empty() && (now.width != width || now.height != height)) return 0;
    c.aoiSet = true;
    c.aoiX = x;
    c.aoiY = y;
    c.aoiW = width;
    c.aoiH = height;
    (TraceLine(m_sim->ChannelTag(m_channel), "SetAoi") << x << y << width << height).Commit();
    return 1;
}
