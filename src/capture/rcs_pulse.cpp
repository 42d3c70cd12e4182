// Pulse generators of the "RCS" controller. A unit fires one pulse per
// SetPulseGenTime, on the board clock, and the controller records it.
#include <algorithm>

#include "capture/rcs.h"
#include "capture/sim/sim_clock.h"
#include "capture/sim/sim_module.h"
#include "capture/sim/trace.h"

using kiru::sim::PulseGen;
using kiru::sim::TraceLine;

namespace {

PulseGen* FindUnit(kiru::sim::SimModule& sim, HPULSEGEN unit) {
    auto it = sim.pulseGens.find(unit);
    return it == sim.pulseGens.end() ? nullptr : it->second.get();
}

}  // namespace

HPULSEGEN CRCS::CreatePulseGenUnitEx(ULONG line, ULONG duration, ULONG level, ULONG timeRef, ULONG offset) {
    auto unit = std::make_unique<PulseGen>(PulseGen{line, duration, level, timeRef, offset});
    auto handle = reinterpret_cast<HPULSEGEN>(unit.get());
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    m_sim->pulseGens.emplace(handle, std::move(unit));
    (TraceLine(m_sim->Tag(), "CreatePulseGenUnitEx") << line << duration << level << timeRef << offset).Commit();
    return handle;
}

int CRCS::SetPulseGenDurationEx(HPULSEGEN unit, ULONG duration, ULONG level, ULONG offset) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    PulseGen* gen = FindUnit(*m_sim, unit);
    if (!gen) return 0;
    gen->duration = duration;
    gen->level = level;
    gen->offset = offset;
    (TraceLine(m_sim->Tag(), "SetPulseGenDurationEx") << gen->line << duration << level << offset).Commit();
    return 1;
}

int CRCS::DeletePulseGenUnit(HPULSEGEN unit) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    PulseGen* gen = FindUnit(*m_sim, unit);
    if (!gen) return 0;
    (TraceLine(m_sim->Tag(), "DeletePulseGenUnit") << gen->line).Commit();
    m_sim->pulseGens.erase(unit);
    return 1;
}

ULONG CRCS::GetPulseGenType(HPULSEGEN unit) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    PulseGen* gen = FindUnit(*m_sim, unit);
    return gen ? gen->timeRef : 0xFFFFFFFFu;
}

int CRCS::SetPulseGenTime(HPULSEGEN unit, double timeUs, ULONG flags) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    PulseGen* gen = FindUnit(*m_sim, unit);
    if (!gen) return 0;
    (TraceLine(m_sim->Tag(), "SetPulseGenTime") << gen->line << timeUs << flags).Commit();
    kiru::sim::SimModule* sim = m_sim.get();
    const auto start = static_cast<std::int64_t>(timeUs);
    sim->clock.Post(0, start, [sim, unit, start] {
        std::lock_guard<std::mutex> held(sim->mutex);
        // A unit deleted before its time fires nothing.
        PulseGen* g = FindUnit(*sim, unit);
        if (!g) return;
        const double durationUs = g->timeRef == 1 ? g->duration / 1000.0 : static_cast<double>(g->duration);
        sim->pulses.push_back({g->line, g->level, start, durationUs});
        (TraceLine(sim->Tag(), "PulseFired") << g->line << g->level << kiru::sim::NowUs() << durationUs).Commit();
    });
    return 1;
}
