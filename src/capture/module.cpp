#include "capture/module.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "capture/aravis/device.h"
#include "capture/camera.h"
#include "capture/interrupt.h"
#include "capture/sim/sim_grab.h"
#include "capture/sim/sim_module.h"
#include "capture/sim/station_state.h"
#include "capture/sim/trace.h"

using kiru::sim::SimModule;
using kiru::sim::TraceLine;

// ---- CModule -----------------------------------------------------------

CModule::CModule(std::shared_ptr<SimModule> sim, std::shared_ptr<kiru::gev::Device> device)
    : m_sim(std::move(sim)), m_device(std::move(device)) {
    ++m_sim->openObjects;
}

CModule::~CModule() {
    while (!m_callbacks.empty()) DeleteIntrCallback(m_callbacks.back());
    --m_sim->openObjects;
    kiru::sim::ReleaseModule(m_sim);
}

const char* CModule::ModName() const { return m_sim->name.c_str(); }

ULONG CModule::ModIndex() const { return m_sim->index; }

CIntrCallback* CModule::CreateIntrCallback(ULONG event, ORX_INTR_FUNC fn, void* context) {
    if (!fn) return nullptr;
    const std::uint64_t id = kiru::sim::NewOwnerId();
    auto* callback = new CIntrCallback(id, event);
    {
        std::lock_guard<std::mutex> lock(m_sim->mutex);
        m_sim->callbacks.push_back({id, event, fn, context, callback});
    }
    m_callbacks.push_back(callback);
    return callback;
}

int CModule::DeleteIntrCallback(CIntrCallback* callback) {
    auto mine = std::find(m_callbacks.begin(), m_callbacks.end(), callback);
    if (!callback || mine == m_callbacks.end()) return 0;
    m_callbacks.erase(mine);
    {
        std::lock_guard<std::mutex> lock(m_sim->mutex);
        auto& list = m_sim->callbacks;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const kiru::sim::IntrRegistration& r) { return r.id == callback->m_id; }),
                   list.end());
    }
    // Calls already queued are dropped; a running one is waited for.
    m_sim->interrupts.Cancel(callback->m_id);
    delete callback;
    return 1;
}

// ---- CICapMod ----------------------------------------------------------

CICapMod::CICapMod(std::shared_ptr<SimModule> sim, std::shared_ptr<kiru::gev::Device> device)
    : CModule(std::move(sim), std::move(device)) {
    // A real camera is the module's one camera.
    const std::size_t count = m_device ? 1 : m_sim->channels.size();
    for (std::size_t i = 0; i < count; ++i) {
        const ULONG channel = static_cast<ULONG>(i);
        CICamera* camera;
        if (m_sim->name == "TRX") camera = new CTRXCam(m_sim, channel);
        else if (m_sim->name == "USB") camera = new CUSBCam(m_sim, channel);
        else camera = new CICamera(m_sim, channel, m_device);
        m_cameras.emplace_back(camera);
    }
}

CICapMod::~CICapMod() = default;  // the cameras end their grabs

CICamera* CICapMod::GetCam(ULONG index) { return index < m_cameras.size() ? m_cameras[index].get() : nullptr; }

ULONG CICapMod::GetModuleInfo() {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    return m_sim->moduleInfo;
}

int CICapMod::QueryModuleInfo(ULONG item, ULONG* value) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    auto it = m_sim->info.find(item);
    if (it == m_sim->info.end()) {
        if (value) *value = 0;
        return 0;
    }
    if (value) *value = it->second;
    return 1;
}

ULONG CICapMod::GetModuleParam(ULONG number) {
    if (m_device) return m_device->ReadReg(number);  // a camera's registers
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    auto it = m_sim->params.find(number);
    return it == m_sim->params.end() ? 0 : it->second;
}

int CICapMod::SetModuleParam(ULONG number, ULONG value) {
    if (m_device) return m_device->WriteReg(number, value);
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    m_sim->params[number] = value;
    m_sim->RecordRegisterWriteLocked(number, value);
    (TraceLine(m_sim->Tag(), "SetModuleParam") << number << value).Commit();
    return 1;
}

ULONG CICapMod::ReadInputPort(ULONG port) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    auto it = m_sim->inputs.find(port);
    return it == m_sim->inputs.end() ? 0 : it->second;
}

int CICapMod::WriteOutputPort(ULONG value, ULONG port) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    m_sim->outputs[port] = value;
    (TraceLine(m_sim->Tag(), "WriteOutputPort") << value << port).Commit();
    return 1;
}

int CICapMod::WriteModuleReg(ULONG reg, ULONG offset, ULONG size, ULONG value) {
    if (size != 1 && size != 2 && size != 4) return 0;
    if (offset > 0xFFFF) return 0;
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    std::vector<unsigned char>& block = m_sim->regBlocks[reg];
    if (block.size() < offset + size) block.resize(offset + size);
    for (ULONG b = 0; b < size; ++b) block[offset + b] = static_cast<unsigned char>(value >> (8 * b));
    (TraceLine(m_sim->Tag(), "WriteModuleReg") << reg << offset << size << value).Commit();
    return 1;
}

ULONG CICapMod::ReadModuleReg(ULONG reg, ULONG offset, ULONG size) {
    if (size != 1 && size != 2 && size != 4) return 0;
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    auto it = m_sim->regBlocks.find(reg);
    if (it == m_sim->regBlocks.end()) return 0;
    ULONG value = 0;
    for (ULONG b = 0; b < size; ++b) {
        if (offset + b < it->second.size()) value |= static_cast<ULONG>(it->second[offset + b]) << (8 * b);
    }
    return value;
}

int CICapMod::SetModuleMode(ULONG mode, ULONG flags) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    m_sim->moduleMode[0] = mode;
    m_sim->moduleMode[1] = flags;
    (TraceLine(m_sim->Tag(), "SetModuleMode") << mode << flags).Commit();
    return 1;
}

int CICapMod::ConfigureModuleIo(ULONG a, ULONG b, ULONG c) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    m_sim->ioConfig[0] = a;
    m_sim->ioConfig[1] = b;
    m_sim->ioConfig[2] = c;
    (TraceLine(m_sim->Tag(), "ConfigureModuleIo") << a << b << c).Commit();
    return 1;
}

int CICapMod::EnableModuleIo(ULONG enable, ULONG flags) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    m_sim->ioEnable[0] = enable;
    m_sim->ioEnable[1] = flags;
    (TraceLine(m_sim->Tag(), "EnableModuleIo") << enable << flags).Commit();
    return 1;
}

int CICapMod::AttachCamera(CICamera* camera) {
    if (!camera || camera->Module() != m_sim.get()) return 0;
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    m_sim->attachedChannel = static_cast<long>(camera->Channel());
    (TraceLine(m_sim->Tag(), "AttachCamera") << camera->Channel()).Commit();
    return 1;
}

int CICapMod::GetGrabStats(HGRAB grab, ORV_GRAB_STATS* stats) {
    if (!stats || !grab) return 0;
    if (kiru::gev::GrabStats(grab, stats)) return 1;
    {
        std::lock_guard<std::mutex> lock(m_sim->mutex);
        if (std::shared_ptr<kiru::sim::SimGrab> g = m_sim->FindGrab(grab)) {
            *stats = g->Stats();
            return 1;
        }
    }
    // Grab handles are valid library-wide: a GigE object asks its primary
    // module about the grabs of all its cameras.
    for (const auto& other : kiru::sim::StationState::Get().Modules()) {
        if (other == m_sim) continue;
        std::lock_guard<std::mutex> lock(other->mutex);
        if (std::shared_ptr<kiru::sim::SimGrab> g = other->FindGrab(grab)) {
            *stats = g->Stats();
            return 1;
        }
    }
    return 0;
}

int CICapMod::SetSyncMode(ULONG mode, ULONG a, ULONG b) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    m_sim->syncMode[0] = mode;
    m_sim->syncMode[1] = a;
    m_sim->syncMode[2] = b;
    (TraceLine(m_sim->Tag(), "SetSyncMode") << mode << a << b).Commit();
    return 1;
}

const ORV_CAMERA_RULE* CICapMod::GetNextRule(const char* name, const ORV_CAMERA_RULE* previous) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    std::size_t start = 0;
    if (previous) {
        auto it = std::find_if(m_sim->rules.begin(), m_sim->rules.end(),
                               [&](const auto& r) { return r.get() == previous; });
        if (it == m_sim->rules.end()) return nullptr;
        start = static_cast<std::size_t>(it - m_sim->rules.begin()) + 1;
    }
    for (std::size_t i = start; i < m_sim->rules.size(); ++i) {
        if (!name || strcasecmp(m_sim->rules[i]->Name, name) == 0) return m_sim->rules[i].get();
    }
    return nullptr;
}

int CICapMod::SaveUserSet(const char* set, ULONG flags) {
    if (!set) return 0;
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    auto& saved = m_sim->userSets[set];
    saved.clear();
    for (auto& c : m_sim->channels) saved.push_back(c->values);
    (TraceLine(m_sim->Tag(), "SaveUserSet") << set << flags).Commit();
    return 1;
}

const char* CICapMod::ConfigFile() const { return m_configFile.c_str(); }
