#include "capture/sim/sim_module.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "capture/sim/sim_clock.h"
#include "capture/sim/sim_grab.h"
#include "capture/sim/station_state.h"
#include "capture/sim/trace.h"
#include "platform/kernel.h"

namespace kiru::sim {

namespace {
// Exposure at which a scene shows as it is when the station names none.
constexpr double kDefaultExposureReference = 10000.0;
}  // namespace

// ---- SimChannel --------------------------------------------------------

bool SimChannel::Supported(ULONG param) const {
    if (caps.count(param) || texts.count(param)) return true;
    auto it = desc.params.lower_bound({param, 0});
    return it != desc.params.end() && it->first.first == param;
}

bool SimChannel::HasValue(ULONG param, ULONG index) const { return values.count({param, index}) != 0; }

double SimChannel::Value(ULONG param, ULONG index, double fallback) const {
    auto it = values.find({param, index});
    return it == values.end() ? fallback : it->second;
}

double SimChannel::Limit(ULONG param, double value) const {
    auto it = caps.find(param);
    if (it == caps.end()) return value;
    return std::min(std::max(value, it->second.first), it->second.second);
}

double SimChannel::TextAddress(ULONG param) const {
    auto it = texts.find(param);
    if (it == texts.end()) return 0.0;
    return static_cast<double>(reinterpret_cast<std::uintptr_t>(it->second.c_str()));
}

void SimChannel::SetText(ULONG param, const std::string& text) {
    auto it = texts.find(param);
    // A client may still hold the old text's address: its node is kept.
    if (it != texts.end()) retiredTexts.push_back(texts.extract(it));
    texts.emplace(param, text);
}

ORV_CAM_ATTR SimChannel::Attributes() const {
    ORV_CAM_ATTR a{};
    a.Width = aoiSet ? aoiW : desc.width;
    a.Height = aoiSet ? aoiH : desc.height;
    a.BytesPerPixel = desc.bytesPerPixel;
    a.BitsPerPixel = desc.bitsPerPixel;
    a.ColorFormat = desc.colorFormat;
    // A raw colour camera repacks its pixels as 4-byte colour on parameter 57 = 4.
    if (desc.colorFormat == ORV_COLOR_RAW && Value(57, 0) == 4.0) {
        a.ColorFormat = ORV_COLOR_BGR32;
        a.BytesPerPixel = 4;
        a.BitsPerPixel = 32;
    }
    const std::string& name = rule.empty() ? desc.cameraFile : rule;
    std::strncpy(a.CameraFile, name.c_str(), sizeof a.CameraFile - 1);
    return a;
}

FrameGeometry SimChannel::Geometry() const {
    const ORV_CAM_ATTR a = Attributes();
    FrameGeometry g;
    g.x = aoiSet ? aoiX : 0;
    g.y = aoiSet ? aoiY : 0;
    g.width = a.Width;
    g.height = a.Height;
    g.bytesPerPixel = a.BytesPerPixel;
    return g;
}

// Parameter 9 switches the trigger mode on; parameter 10 then selects the
// source: 0 software (a write to parameter 13 fires a frame), 6 the camera's
// own timer at the frame rate, anything else a hardware trigger line.
SimChannel::TriggerMode SimChannel::Mode() const {
    if (Value(9, 0) == 0.0) return TriggerMode::FreeRunning;
    const double source = Value(10, 0);
    if (source == 0.0) return TriggerMode::Software;
    if (source == 6.0) return TriggerMode::FreeRunning;
    return TriggerMode::Hardware;
}

double SimChannel::FrameRate() const {
    const double rate = Value(95, 0);
    return rate > 0.0 ? rate : desc.frameRate;
}

bool SimChannel::CanGrab() const {
    const ORV_CAM_ATTR a = Attributes();
    return a.Width > 0 && a.Height > 0 && a.BytesPerPixel > 0;
}

SceneRendering SimChannel::Rendering() const {
    SceneRendering r;
    double exposure = 1.0;
    if (HasValue(0x4000, 0)) {
        double reference = desc.exposureReference;
        if (reference <= 0.0) {
            auto it = desc.params.find({0x4000, 0});
            reference = it != desc.params.end() && it->second > 0.0 ? it->second : kDefaultExposureReference;
        }
        exposure = Value(0x4000, 0) / reference;
    }
    static constexpr ULONG kGainParam[3] = {79, 78, 77};  // blue, green, red
    for (int c = 0; c < 3; ++c) {
        double gain = 1.0;
        if (desc.gainUnit != ChannelDesc::GainUnit::Off && HasValue(kGainParam[c], 0)) {
            const double v = Value(kGainParam[c], 0);
            switch (desc.gainUnit) {
                case ChannelDesc::GainUnit::Linear: gain = v; break;
                case ChannelDesc::GainUnit::Decibel: gain = std::pow(10.0, v / 20.0); break;
                case ChannelDesc::GainUnit::Scaled: gain = v / desc.gainPerUnit; break;
                case ChannelDesc::GainUnit::Off: break;
            }
        }
        r.scale[c] = exposure * gain;
    }
    const double code = Value(74, 0);
    if (code >= 1.0 && code <= 4.0 && code == std::floor(code)) r.bayer = static_cast<ULONG>(code);
    return r;
}

std::vector<ULONG> SimChannel::TriggeredCameras() const {
    if (desc.triggerCamerasSet) return desc.triggerCameras;
    if (module->name == "TRX" || module->name == "RCS") return {number};
    if (module->name == "USB") return {module->index * 4 + number};
    return {};
}

bool SimChannel::ExposureEvent(ULONG* event) const {
    if (module->name == "TRX" && number < 2) {
        *event = number == 0 ? 2 : 9;
        return true;
    }
    if (module->name == "USB") {
        *event = 8 + number;
        return true;
    }
    return false;
}

bool SimChannel::Trigger(TriggerMode mode) {
    if (!reachable || Mode() != mode) return false;
    bool taken = false;
    for (auto& grab : grabs) {
        if (!grab->Stopped()) {
            grab->Trigger();
            taken = true;
        }
    }
    return taken;
}

void SimChannel::KickGrabs() {
    for (auto& grab : grabs) grab->Kick();
}

void SimChannel::AfterFrame() {
    ++framesMade;
    if (outageDone || desc.outageAfterFrames == 0 || framesMade < desc.outageAfterFrames) return;
    outageDone = true;
    reachable = false;
    KickGrabs();
    if (desc.outageMs == 0) return;
    SimModule* m = module;
    SimChannel* self = this;
    m->clock.Post(0, NowUs() + static_cast<std::int64_t>(desc.outageMs) * 1000, [m, self] {
        std::lock_guard<std::mutex> lock(m->mutex);
        self->reachable = true;
        self->KickGrabs();
    });
}

void SimChannel::SignalInterrupts(ULONG event) {
    for (const InterruptObject& io : interrupts) {
        if (io.event == event) SetEvent(io.handle);
    }
}

// ---- SimModule ---------------------------------------------------------

SimModule::SimModule(const ModuleDesc& desc) : name(desc.name), index(desc.index), deviceId(desc.device) {
    moduleInfo = desc.moduleInfo;
    info = desc.info;
    params = desc.moduleParams;
    inputs = desc.inputs;
    inputEvents = desc.inputEvents;
    outputs = desc.outputs;
    for (const std::string& r : desc.rules) {
        auto rec = std::make_unique<ORV_CAMERA_RULE>();
        std::memset(rec.get(), 0, sizeof *rec);
        std::strncpy(rec->Name, r.c_str(), sizeof rec->Name - 1);
        rec->Index = static_cast<ULONG>(rules.size());
        rules.push_back(std::move(rec));
    }
    plc.desc = desc.plc;
    for (const auto& [offset, value] : desc.plc.inputs) plc.in[offset] = value;
    for (std::size_t i = 0; i < desc.channels.size(); ++i) {
        auto c = std::make_unique<SimChannel>();
        c->module = this;
        c->number = static_cast<ULONG>(i);
        c->desc = desc.channels[i];
        c->reachable = c->desc.reachable;
        c->values = c->desc.params;
        c->caps = c->desc.caps;
        c->texts = c->desc.texts;
        c->regs = c->desc.regs;
        c->image = c->desc.imageData;
        for (int v = 0; v < 256; ++v) c->lut[v] = static_cast<unsigned char>(v);
        channels.push_back(std::move(c));
    }
}

SimModule::~SimModule() { Shutdown(); }

std::string SimModule::Tag() const { return name + ":" + std::to_string(index); }

std::string SimModule::ChannelTag(ULONG channel) const { return Tag() + "/" + std::to_string(channel); }

void SimModule::Shutdown() {
    if (m_shutDown.exchange(true)) return;
    std::vector<std::shared_ptr<SimGrab>> grabs;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& c : channels) {
            grabs.insert(grabs.end(), c->grabs.begin(), c->grabs.end());
            c->grabs.clear();
        }
    }
    for (auto& g : grabs) g->Stop();
    clock.Stop();
    interrupts.Stop();
}

void SimModule::StopGrab(const std::shared_ptr<SimGrab>& grab) {
    grab->Stop();
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& c : channels) {
        auto& list = c->grabs;
        list.erase(std::remove(list.begin(), list.end(), grab), list.end());
    }
}

std::shared_ptr<SimGrab> SimModule::FindGrab(HGRAB handle) {
    if (!handle) return nullptr;
    for (auto& c : channels) {
        for (auto& g : c->grabs) {
            if (g->Handle() == handle) return g;
        }
    }
    return nullptr;
}

void SimModule::FireEventLocked(ULONG event) {
    for (const IntrRegistration& r : callbacks) {
        if (r.event != event) continue;
        ORX_INTR_FUNC fn = r.fn;
        void* context = r.context;
        interrupts.Post(r.id, 0, [fn, context] { fn(context); });
    }
    for (auto& c : channels) c->SignalInterrupts(event);
}

void SimModule::SetInputLocked(ULONG port, ULONG value, std::vector<ULONG>* triggerCameras) {
    ULONG& current = inputs[port];
    const ULONG changed = current ^ value;
    current = value;
    if (changed == 0) return;
    for (ULONG bit = 0; bit < 32; ++bit) {
        if (!((changed >> bit) & 1u)) continue;
        auto it = inputEvents.lines.find({port, bit});
        if (it == inputEvents.lines.end()) continue;
        const InputLineEvents& line = it->second;
        const bool rose = (value >> bit) & 1u;
        const long event = rose ? line.rising : line.falling;
        if (event >= 0) FireEventLocked(static_cast<ULONG>(event));
        if (!rose || line.triggerChannel < 0 || static_cast<std::size_t>(line.triggerChannel) >= channels.size())
            continue;
        // A trigger input passes the pulse on, as Station::HardwareTrigger does.
        SimChannel& channel = *channels[static_cast<std::size_t>(line.triggerChannel)];
        ULONG exposureEvent = 0;
        if (channel.ExposureEvent(&exposureEvent)) FireEventLocked(exposureEvent);
        const std::vector<ULONG> wired = channel.TriggeredCameras();
        triggerCameras->insert(triggerCameras->end(), wired.begin(), wired.end());
    }
    if (inputEvents.solution && inputEvents.solutionPort == port && (changed & inputEvents.solutionMask) != 0)
        FireEventLocked(inputEvents.solutionEvent);
}

void SimModule::EnqueueDecisionLocked(DecisionQueue& queue, const std::string& tag, ULONG decision,
                                      std::int64_t delayUs) {
    if (!queue.started) {
        (TraceLine(tag, "DecisionDropped") << decision << NowUs()).Commit();
        return;
    }
    queue.pending.push_back(decision);
    const std::uint64_t generation = queue.generation;
    DecisionQueue* q = &queue;
    clock.Post(0, NowUs() + std::max<std::int64_t>(delayUs, 0), [this, q, tag, generation] {
        std::lock_guard<std::mutex> lock(mutex);
        // A stop or restart of the queue discards what was pending.
        if (q->generation != generation || q->pending.empty()) return;
        const ULONG word = q->pending.front();
        q->released.push_back(word);
        q->pending.pop_front();
        (TraceLine(tag, "DecisionReleased") << word << NowUs()).Commit();
    });
}

void SimModule::RestartDecisionsLocked(DecisionQueue& queue, const std::string& tag, bool started) {
    const std::int64_t now = NowUs();
    for (ULONG word : queue.pending) (TraceLine(tag, "DecisionDropped") << word << now).Commit();
    queue.pending.clear();
    queue.started = started;
    ++queue.generation;
}

bool IsTriggerController(const std::string& moduleName) {
    return moduleName == "TRX" || moduleName == "RCS" || moduleName == "USB";
}

bool TriggerCameras(const std::vector<ULONG>& cameras) {
    bool taken = false;
    for (ULONG index : cameras) {
        std::shared_ptr<SimModule> gev = StationState::Get().Find("GEV", index);
        if (!gev) continue;
        std::lock_guard<std::mutex> lock(gev->mutex);
        if (!gev->channels.empty() && gev->channels[0]->Trigger(SimChannel::TriggerMode::Hardware)) taken = true;
    }
    return taken;
}

namespace {

std::mutex& ParkingMutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}
std::vector<std::shared_ptr<SimModule>>& Parked() {
    static auto* v = new std::vector<std::shared_ptr<SimModule>>;
    return *v;
}

}  // namespace

void ReleaseModule(std::shared_ptr<SimModule>& module) {
    if (module && module.use_count() == 1 &&
        (module->clock.OnWorkerThread() || module->interrupts.OnWorkerThread())) {
        std::lock_guard<std::mutex> lock(ParkingMutex());
        Parked().push_back(std::move(module));
        return;
    }
    module.reset();
}

void ReleaseParkedModules() {
    std::vector<std::shared_ptr<SimModule>> parked;
    {
        std::lock_guard<std::mutex> lock(ParkingMutex());
        auto& list = Parked();
        for (auto it = list.begin(); it != list.end();) {
            if ((*it)->clock.OnWorkerThread() || (*it)->interrupts.OnWorkerThread()) {
                ++it;
            } else {
                parked.push_back(std::move(*it));
                it = list.erase(it);
            }
        }
    }
}

}  // namespace kiru::sim
