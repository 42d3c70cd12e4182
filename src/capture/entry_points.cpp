#include "capture/entry_points.h"

#include <cstring>

#include "capture/module.h"
#include "capture/sim/sim_module.h"
#include "capture/sim/station_state.h"
#include "capture/sim/trace.h"
#include "platform/dynload.h"

using kiru::sim::StationState;
using kiru::sim::TraceLine;

namespace {
constexpr ULONG kParamRejectorDelayMs = 16403;
}

int OrxGigeOpen() {
    StationState& s = StationState::Get();
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.gigeOpens;
    return 1;
}

int OrxGigeClose(int, int) {
    StationState& s = StationState::Get();
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.gigeCloses;
    return 1;
}

int QbmAdvancedIOStart(CICapMod* module) {
    if (!module) return 0;
    kiru::sim::SimModule& sim = *module->Sim();
    std::lock_guard<std::mutex> lock(sim.mutex);
    TraceLine(sim.Tag(), "QbmAdvancedIOStart").Commit();
    sim.RestartDecisionsLocked(sim.boardDecisions, sim.Tag(), true);
    return 1;
}

int QbmAdvancedIOStop(CICapMod* module) {
    if (!module) return 0;
    kiru::sim::SimModule& sim = *module->Sim();
    std::lock_guard<std::mutex> lock(sim.mutex);
    TraceLine(sim.Tag(), "QbmAdvancedIOStop").Commit();
    sim.RestartDecisionsLocked(sim.boardDecisions, sim.Tag(), false);
    return 1;
}

int QbmAdvancedIOEnqueueDecision(CICapMod* module, ULONG decision) {
    if (!module) return 0;
    kiru::sim::SimModule& sim = *module->Sim();
    std::lock_guard<std::mutex> lock(sim.mutex);
    (TraceLine(sim.Tag(), "QbmAdvancedIOEnqueueDecision") << decision).Commit();
    const double delayMs = sim.channels.empty() ? 0.0 : sim.channels[0]->Value(kParamRejectorDelayMs, 0);
    sim.EnqueueDecisionLocked(sim.boardDecisions, sim.Tag(), decision, static_cast<std::int64_t>(delayMs * 1000.0));
    return 1;
}

void* OrvLookupEntryPoint(const char* name) {
    if (!name) return nullptr;
    struct Entry {
        const char* name;
        void* address;
    };
    static const Entry entries[] = {
        {"OrxGigeOpen", reinterpret_cast<void*>(&OrxGigeOpen)},
        {"OrxGigeClose", reinterpret_cast<void*>(&OrxGigeClose)},
        {"QbmAdvancedIOStart", reinterpret_cast<void*>(&QbmAdvancedIOStart)},
        {"QbmAdvancedIOStop", reinterpret_cast<void*>(&QbmAdvancedIOStop)},
        {"QbmAdvancedIOEnqueueDecision", reinterpret_cast<void*>(&QbmAdvancedIOEnqueueDecision)},
    };
    for (const Entry& e : entries) {
        if (std::strcmp(e.name, name) == 0) {
            return StationState::Get().EntryPointPresent(name) ? e.address : nullptr;
        }
    }
    return nullptr;
}

namespace {

// "orv21.dll" is this library's own capture library: loading it by name
// finds these entry points.
const bool g_registered = (kiru::platform::RegisterBuiltinLibrary("orv21.dll", &OrvLookupEntryPoint), true);

}  // namespace
