// Which "GEV" slots are real cameras. Real cameras are used only when asked
// for: a station section with a Device key, or KIRU_GIGE=discover with no
// station at all. Nothing here touches a network otherwise.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "capture/aravis/device.h"
#include "capture/sim/sim_module.h"
#include "capture/sim/station_desc.h"
#include "capture/sim/station_state.h"

namespace kiru::gev {

namespace {

using kiru::sim::SimModule;

// Slots of the cameras discovery found, by index. Kept for the process, so
// that a reopened slot keeps its module object and the camera it was bound to.
struct Discovered {
    std::mutex mutex;
    std::vector<std::string> ids;
    bool listed = false;
    std::map<ULONG, std::shared_ptr<SimModule>> slots;
};

Discovered& DiscoveredSlots() {
    static Discovered* d = new Discovered;  // outlives module threads at exit
    return *d;
}

bool DiscoveryAsked() {
    const char* mode = std::getenv("KIRU_GIGE");
    return mode != nullptr && std::strcmp(mode, "discover") == 0;
}

// The slot module of discovered camera `index`; null when there is none.
// Index 0 lists the cameras again (a new bring-up); the others use the list.
std::shared_ptr<SimModule> DiscoveredSlot(ULONG index) {
    Discovered& d = DiscoveredSlots();
    std::lock_guard<std::mutex> lock(d.mutex);
    if (index == 0 || !d.listed) {
        d.ids = Discover();
        d.listed = true;
    }
    if (index >= d.ids.size()) return nullptr;
    auto& slot = d.slots[index];
    if (!slot || slot->deviceId != d.ids[index]) {
        kiru::sim::ModuleDesc desc = kiru::sim::DefaultModule("GEV", index);
        desc.device = d.ids[index];
        for (auto& c : desc.channels) c.texts.clear();
        slot = std::make_shared<SimModule>(desc);
    }
    return slot;
}

}  // namespace

Binding BindSlot(ULONG index, std::shared_ptr<SimModule>* module, std::shared_ptr<Device>* device) {
    kiru::sim::StationState& station = kiru::sim::StationState::Get();
    std::shared_ptr<SimModule> sim = station.Find("GEV", index);
    if (!sim && station.Modules().empty() && DiscoveryAsked()) sim = DiscoveredSlot(index);
    *module = sim;
    if (!sim || sim->deviceId.empty()) return Binding::Simulated;

    // One open camera per slot, shared by the module objects that hold it.
    std::lock_guard<std::mutex> lock(sim->mutex);
    std::shared_ptr<Device> open = sim->device.lock();
    if (!open || !open->Alive()) {
        std::string error;
        open = Open(sim->deviceId, &error);
        if (!open) {
            std::fprintf(stderr, "kiru: GEV:%lu: camera %s: %s\n", static_cast<unsigned long>(index),
                         sim->deviceId.c_str(), error.c_str());
            return Binding::Absent;
        }
        sim->device = open;
    }
    *device = open;
    return Binding::Real;
}

}  // namespace kiru::gev
