// The simulation API over the station state.
#include <kiru/station.h>

#include <cstring>

#include "capture/sim/sim_clock.h"
#include "capture/sim/sim_grab.h"
#include "capture/sim/sim_module.h"
#include "capture/sim/station_state.h"
#include "capture/sim/trace.h"

namespace kiru::sim {

namespace {

std::shared_ptr<SimModule> Find(const std::string& module, ULONG index) {
    return StationState::Get().Find(module, index);
}

SimChannel* ChannelOf(SimModule& m, ULONG channel) {
    return channel < m.channels.size() ? m.channels[channel].get() : nullptr;
}

DecisionQueue* QueueOf(SimModule& m, long channel) {
    if (channel < 0) return &m.boardDecisions;
    SimChannel* c = ChannelOf(m, static_cast<ULONG>(channel));
    return c ? &c->decisions : nullptr;
}

}  // namespace

bool Station::LoadFile(const std::string& path, std::string* error) {
    StationState& state = StationState::Get();
    StationDesc desc;
    if (!ReadStationFile(path, &desc, error)) return false;
    state.Replace(desc);
    return true;
}

bool Station::LoadText(const std::string& text, const std::string& sourceName, std::string* error) {
    StationState& state = StationState::Get();
    StationDesc desc;
    if (!ParseStation(text, sourceName, &desc, error)) return false;
    state.Replace(desc);
    return true;
}

void Station::Reset() { StationState::Get().Replace(StationDesc{}); }

std::string Station::Source() { return StationState::Get().Source(); }

std::vector<std::string> Station::Trace() {
    StationState::Get();
    return trace::Lines();
}

void Station::ClearTrace() { trace::Clear(); }

void Station::SetTraceFile(const std::string& path) { trace::SetFile(path); }

bool Station::SetInput(const std::string& module, ULONG index, ULONG port, ULONG value) {
    auto m = Find(module, index);
    if (!m) return false;
    std::vector<ULONG> cameras;
    {
        std::lock_guard<std::mutex> lock(m->mutex);
        m->SetInputLocked(port, value, &cameras);
    }
    if (!cameras.empty()) TriggerCameras(cameras);
    return true;
}

bool Station::FireEvent(const std::string& module, ULONG index, ULONG event) {
    auto m = Find(module, index);
    if (!m) return false;
    std::lock_guard<std::mutex> lock(m->mutex);
    m->FireEventLocked(event);
    return true;
}

bool Station::HardwareTrigger(const std::string& module, ULONG index, ULONG channel) {
    auto m = Find(module, index);
    if (!m) return false;
    std::vector<ULONG> cameras;
    {
        std::lock_guard<std::mutex> lock(m->mutex);
        SimChannel* c = ChannelOf(*m, channel);
        if (!c) return false;
        if (!IsTriggerController(m->name)) return c->Trigger(SimChannel::TriggerMode::Hardware);
        // A controller's trigger input passes the pulse on to its cameras.
        ULONG event = 0;
        if (c->ExposureEvent(&event)) m->FireEventLocked(event);
        cameras = c->TriggeredCameras();
    }
    return TriggerCameras(cameras);
}

bool Station::SetReachable(const std::string& module, ULONG index, ULONG channel, bool reachable) {
    auto m = Find(module, index);
    if (!m) return false;
    std::lock_guard<std::mutex> lock(m->mutex);
    SimChannel* c = ChannelOf(*m, channel);
    if (!c) return false;
    c->reachable = reachable;
    c->KickGrabs();
    return true;
}

bool Station::SetClockOffset(const std::string& module, ULONG index, ULONG channel, std::int64_t offsetUs) {
    auto m = Find(module, index);
    if (!m) return false;
    std::lock_guard<std::mutex> lock(m->mutex);
    SimChannel* c = ChannelOf(*m, channel);
    if (!c) return false;
    c->clockOffsetUs = offsetUs;
    return true;
}

bool Station::SetPlcInputs(const std::string& module, ULONG index, ULONG offset, const void* data, ULONG size) {
    auto m = Find(module, index);
    if (!m || !data || offset > PlcState::kAreaSize || size > PlcState::kAreaSize - offset) return false;
    std::vector<ULONG> triggeredCameras;
    {
        std::lock_guard<std::mutex> lock(m->mutex);
        PlcState& plc = m->plc;
        const std::vector<unsigned char> before = plc.in;
        std::memcpy(&plc.in[offset], data, size);
        auto read = [](const std::vector<unsigned char>& area, ULONG at, ULONG bytes) {
            std::uint64_t v = 0;
            for (ULONG b = 0; b < bytes; ++b) v |= static_cast<std::uint64_t>(area[at + b]) << (8 * b);
            return v;
        };
        const std::int64_t now = NowUs();
        for (const auto& w : plc.watches) {
            const std::uint64_t oldValue = read(before, w->offset, w->size);
            const std::uint64_t newValue = read(plc.in, w->offset, w->size);
            if (oldValue == newValue) continue;
            RCS_DATAIN_CB_RECORD record{w->offset, w->size, newValue, static_cast<std::uint64_t>(now)};
            RCS_DATAIN_FUNC fn = w->fn;
            void* context = w->context;
            m->interrupts.Post(w->id, 0, [fn, context, record]() mutable { fn(&record, context); });
        }
        for (const auto& t : plc.camTriggers) {
            const bool was = (before[t->offset] >> t->bit) & 1;
            const bool is = (plc.in[t->offset] >> t->bit) & 1;
            if (is && !was) triggeredCameras.push_back(t->camera);
        }
    }
    for (ULONG camera : triggeredCameras) HardwareTrigger("GEV", camera, 0);
    return true;
}

bool Station::SetParam(const std::string& module, ULONG index, ULONG channel, ULONG number, double value,
                       ULONG sub) {
    auto m = Find(module, index);
    if (!m) return false;
    std::lock_guard<std::mutex> lock(m->mutex);
    SimChannel* c = ChannelOf(*m, channel);
    if (!c) return false;
    c->values[{number, sub}] = value;
    c->KickGrabs();
    return true;
}

bool Station::SetModuleParam(const std::string& module, ULONG index, ULONG number, ULONG value) {
    auto m = Find(module, index);
    if (!m) return false;
    std::lock_guard<std::mutex> lock(m->mutex);
    m->params[number] = value;
    return true;
}

bool Station::SetRegister(const std::string& module, ULONG index, ULONG channel, ULONG address, ULONG value) {
    auto m = Find(module, index);
    if (!m) return false;
    std::lock_guard<std::mutex> lock(m->mutex);
    SimChannel* c = ChannelOf(*m, channel);
    if (!c) return false;
    c->regs[address] = value;
    return true;
}

int Station::InterruptCallbackCount(const std::string& module, ULONG index) {
    auto m = Find(module, index);
    if (!m) return -1;
    std::lock_guard<std::mutex> lock(m->mutex);
    return static_cast<int>(m->callbacks.size());
}

int Station::DataInCallbackCount(const std::string& module, ULONG index) {
    auto m = Find(module, index);
    if (!m) return -1;
    std::lock_guard<std::mutex> lock(m->mutex);
    return static_cast<int>(m->plc.watches.size());
}

int Station::CamTriggerCount(const std::string& module, ULONG index) {
    auto m = Find(module, index);
    if (!m) return -1;
    std::lock_guard<std::mutex> lock(m->mutex);
    return static_cast<int>(m->plc.camTriggers.size());
}

bool Station::HasModule(const std::string& module, ULONG index) { return Find(module, index) != nullptr; }

bool Station::GetOutput(const std::string& module, ULONG index, ULONG port, ULONG* value) {
    auto m = Find(module, index);
    if (!m || !value) return false;
    std::lock_guard<std::mutex> lock(m->mutex);
    auto it = m->outputs.find(port);
    *value = it == m->outputs.end() ? 0 : it->second;
    return true;
}

bool Station::GetModuleParam(const std::string& module, ULONG index, ULONG number, ULONG* value) {
    auto m = Find(module, index);
    if (!m || !value) return false;
    std::lock_guard<std::mutex> lock(m->mutex);
    auto it = m->params.find(number);
    *value = it == m->params.end() ? 0 : it->second;
    return true;
}

bool Station::GetParam(const std::string& module, ULONG index, ULONG channel, ULONG number, double* value,
                       ULONG sub) {
    auto m = Find(module, index);
    if (!m || !value) return false;
    std::lock_guard<std::mutex> lock(m->mutex);
    SimChannel* c = ChannelOf(*m, channel);
    if (!c || !c->HasValue(number, sub)) return false;
    *value = c->Value(number, sub);
    return true;
}

bool Station::GetText(const std::string& module, ULONG index, ULONG channel, ULONG number, std::string* text) {
    auto m = Find(module, index);
    if (!m || !text) return false;
    std::lock_guard<std::mutex> lock(m->mutex);
    SimChannel* c = ChannelOf(*m, channel);
    if (!c) return false;
    auto it = c->texts.find(number);
    if (it == c->texts.end()) return false;
    *text = it->second;
    return true;
}

bool Station::GetRegister(const std::string& module, ULONG index, ULONG channel, ULONG address, ULONG* value) {
    auto m = Find(module, index);
    if (!m || !value) return false;
    std::lock_guard<std::mutex> lock(m->mutex);
    SimChannel* c = ChannelOf(*m, channel);
    if (!c) return false;
    auto it = c->regs.find(address);
    *value = it == c->regs.end() ? 0 : it->second;
    return true;
}

bool Station::GetModuleReg(const std::string& module, ULONG index, ULONG reg, ULONG offset, ULONG size,
                           ULONG* value) {
    auto m = Find(module, index);
    if (!m || !value || size == 0 || size > 4) return false;
    std::lock_guard<std::mutex> lock(m->mutex);
    auto it = m->regBlocks.find(reg);
    *value = 0;
    if (it == m->regBlocks.end()) return true;
    for (ULONG b = 0; b < size; ++b) {
        if (offset + b < it->second.size()) *value |= static_cast<ULONG>(it->second[offset + b]) << (8 * b);
    }
    return true;
}

bool Station::GetLut(const std::string& module, ULONG index, ULONG channel, std::vector<unsigned char>* lut) {
    auto m = Find(module, index);
    if (!m || !lut) return false;
    std::lock_guard<std::mutex> lock(m->mutex);
    SimChannel* c = ChannelOf(*m, channel);
    if (!c) return false;
    lut->assign(c->lut.begin(), c->lut.end());
    return true;
}

bool Station::GetCalibration(const std::string& module, ULONG index, ULONG channel,
                             std::vector<unsigned char>* table) {
    auto m = Find(module, index);
    if (!m || !table) return false;
    std::lock_guard<std::mutex> lock(m->mutex);
    SimChannel* c = ChannelOf(*m, channel);
    if (!c) return false;
    *table = c->calibration;
    return true;
}

std::string Station::Feature(const std::string& module, ULONG index, const std::string& feature) {
    auto m = Find(module, index);
    if (!m) return "";
    std::lock_guard<std::mutex> lock(m->mutex);
    auto it = m->features.find(feature);
    return it == m->features.end() ? "" : it->second;
}

std::vector<ULONG> Station::PendingDecisions(const std::string& module, ULONG index, long channel) {
    auto m = Find(module, index);
    if (!m) return {};
    std::lock_guard<std::mutex> lock(m->mutex);
    DecisionQueue* q = QueueOf(*m, channel);
    return q ? std::vector<ULONG>(q->pending.begin(), q->pending.end()) : std::vector<ULONG>{};
}

std::vector<ULONG> Station::ReleasedDecisions(const std::string& module, ULONG index, long channel) {
    auto m = Find(module, index);
    if (!m) return {};
    std::lock_guard<std::mutex> lock(m->mutex);
    DecisionQueue* q = QueueOf(*m, channel);
    return q ? q->released : std::vector<ULONG>{};
}

std::vector<PulseInfo> Station::Pulses(const std::string& module, ULONG index) {
    auto m = Find(module, index);
    if (!m) return {};
    std::lock_guard<std::mutex> lock(m->mutex);
    std::vector<PulseInfo> out;
    for (const PulseRecord& p : m->pulses) out.push_back({p.line, p.level, p.startUs, p.durationUs});
    return out;
}

bool Station::GetPlcOutputs(const std::string& module, ULONG index, ULONG offset, void* data, ULONG size) {
    auto m = Find(module, index);
    if (!m || !data || offset > PlcState::kAreaSize || size > PlcState::kAreaSize - offset) return false;
    std::lock_guard<std::mutex> lock(m->mutex);
    std::memcpy(data, &m->plc.out[offset], size);
    return true;
}

ULONG Station::ActiveGrabs(const std::string& module, ULONG index, ULONG channel) {
    auto m = Find(module, index);
    if (!m) return 0;
    std::lock_guard<std::mutex> lock(m->mutex);
    SimChannel* c = ChannelOf(*m, channel);
    return c ? static_cast<ULONG>(c->grabs.size()) : 0;
}

int Station::OpenModuleCount(const std::string& module, ULONG index) {
    auto m = Find(module, index);
    return m ? m->openObjects.load() : 0;
}

std::string Station::ConfigFile(const std::string& module, ULONG index) {
    auto m = Find(module, index);
    if (!m) return "";
    std::lock_guard<std::mutex> lock(m->mutex);
    return m->configFile;
}

DisplayInfo Station::Display(HWND window) {
    StationState& s = StationState::Get();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.displays.find(window);
    return it == s.displays.end() ? DisplayInfo{} : it->second;
}

void Station::SetEntryPointPresent(const std::string& name, bool present) {
    StationState::Get().SetEntryPointPresent(name, present);
}

int Station::GigeOpenCount() {
    StationState& s = StationState::Get();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.gigeOpens;
}

int Station::GigeCloseCount() {
    StationState& s = StationState::Get();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.gigeCloses;
}

}  // namespace kiru::sim
