// Module creation and the library's small free functions.
#include "capture/orx.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "capture/aravis/device.h"
#include "capture/gige.h"
#include "capture/rcs.h"
#include "capture/sim/numbers.h"
#include "capture/sim/sim_module.h"
#include "capture/sim/station_state.h"
#include "platform/adapters.h"
#include "platform/inet.h"

using kiru::sim::StationState;

const ULONG kOrvVersionResolution[8] = {2264, 904, 512, 271608, 271712, 1058056, 271736, 1416};

CICapMod* OrxCreateCaptureModule(const char* name, ULONG index, const char* configFile) {
    if (!name) return nullptr;
    kiru::sim::ReleaseParkedModules();
    std::shared_ptr<kiru::sim::SimModule> sim;
    if (std::strcmp(name, "GEV") == 0) {
        std::shared_ptr<kiru::gev::Device> device;
        switch (kiru::gev::BindSlot(index, &sim, &device)) {
            case kiru::gev::Binding::Absent: return nullptr;
            case kiru::gev::Binding::Real: {
                CICapMod* module = new CGige(sim, device);
                module->m_configFile = configFile ? configFile : "";
                return module;
            }
            case kiru::gev::Binding::Simulated: break;
        }
    } else {
        sim = StationState::Get().Find(name, index);
    }
    if (!sim) return nullptr;
    {
        std::lock_guard<std::mutex> lock(sim->mutex);
        // A GigE camera that does not answer is not found on the network.
        if (sim->name == "GEV" && !sim->channels.empty() && !sim->channels[0]->reachable) return nullptr;
        sim->configFile = configFile ? configFile : "";
    }
    CICapMod* module;
    if (sim->name == "GEV") module = new CGige(sim);
    else if (sim->name == "RCS") module = new CRCS(sim);
    else module = new CICapMod(sim);
    module->m_configFile = configFile ? configFile : "";
    return module;
}

int OrxSetConsoleHandler(ORX_CONSOLE_HANDLER handler) {
    StationState& s = StationState::Get();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.consoleHandler = handler;
    return 1;
}

ORX_CONSOLE_HANDLER OrxGetConsoleHandler() {
    StationState& s = StationState::Get();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.consoleHandler;
}

ULONG OrxGetAdapterIndexFromIP(ULONG addressNetworkOrder) {
    if (ULONG found = kiru::platform::AdapterIndexOfAddress(addressNetworkOrder)) return found;
    // The station's host adapters, numbered in order of first appearance.
    std::vector<ULONG> adapters;
    for (const auto& m : StationState::Get().Modules()) {
        if (m->name != "GEV") continue;
        std::lock_guard<std::mutex> lock(m->mutex);
        if (m->channels.empty()) continue;
        auto it = m->channels[0]->texts.find(0x4014);
        ULONG host;
        if (it == m->channels[0]->texts.end() || !kiru::sim::ParseIPv4(it->second, &host)) continue;
        if (std::find(adapters.begin(), adapters.end(), host) == adapters.end()) adapters.push_back(host);
    }
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        if (htonl(adapters[i]) == addressNetworkOrder) return static_cast<ULONG>(i + 1);
    }
    return 0;
}

int CheckOrvVersionResolution(ULONG a, ULONG b, ULONG c, ULONG d, ULONG e, ULONG f, ULONG g, ULONG h) {
    const ULONG given[8] = {a, b, c, d, e, f, g, h};
    for (int i = 0; i < 8; ++i) {
        if (given[i] != kOrvVersionResolution[i]) return 0;
    }
    return 1;
}
