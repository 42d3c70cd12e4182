// The appliance boards' side of the station: what their input edges raise,
// and the record of board register writes that shows when the board's
// outputs changed.
#include <kiru/station.h>

#include "capture/sim/sim_clock.h"
#include "capture/sim/sim_module.h"
#include "capture/sim/station_desc.h"
#include "capture/sim/station_state.h"

namespace kiru::sim {

namespace {

constexpr std::size_t kRegisterWriteRecord = 65536;

}  // namespace

void AddBoardInputEvents(const std::string& name, InputEventMap* map) {
    auto line = [map](ULONG bit, long rising, long falling) {
        map->lines[{0, bit}] = InputLineEvents{rising, falling, -1};
    };
    if (name == "LXP") {
        // Input b rising raises event 20 + b: the trigger (0) counts parts,
        // the solution strobe (1) asks for a solution change, the reject
        // sensor (2) counts parts leaving.
        for (ULONG b = 0; b < 8; ++b) line(b, 20 + static_cast<long>(b), -1);
    } else if (name == "HVQ") {
        // Active-low inputs: the falling level is the active edge.
        for (ULONG b = 0; b < 8; ++b) line(b, -1, 20 + static_cast<long>(b));
    } else if (name == "QBM") {
        // IN0-IN3 on bits 0-3, SOL0-SOL2 on bits 4-6, the trigger on bit 7
        // and the accept line on bit 8; a change of a solution line raises
        // the solution event 16.
        static const long kRise[9] = {19, 31, 25, 27, 21, 23, 33, 17, 29};
        for (ULONG b = 0; b < 9; ++b) line(b, kRise[b], kRise[b] + 1);
        map->solution = true;
        map->solutionPort = 0;
        map->solutionMask = 0x70;
        map->solutionEvent = 16;
    }
}

void SimModule::RecordRegisterWriteLocked(ULONG reg, ULONG value) {
    if (registerWrites.size() >= kRegisterWriteRecord)
        registerWrites.erase(registerWrites.begin(), registerWrites.begin() + kRegisterWriteRecord / 2);
    registerWrites.push_back({reg, value, NowUs()});
}

std::vector<RegisterWriteInfo> Station::RegisterWrites(const std::string& module, ULONG index) {
    auto m = StationState::Get().Find(module, index);
    if (!m) return {};
    std::lock_guard<std::mutex> lock(m->mutex);
    std::vector<RegisterWriteInfo> out;
    out.reserve(m->registerWrites.size());
    for (const RegisterWrite& w : m->registerWrites) out.push_back({w.reg, w.value, w.timeUs});
    return out;
}

}  // namespace kiru::sim
