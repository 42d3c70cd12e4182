#include "capture/sim/station_state.h"

#include <cstdio>
#include <cstdlib>

#include "capture/sim/sim_module.h"
#include "capture/sim/trace.h"

namespace kiru::sim {

StationState& StationState::Get() {
    // Never destroyed: module threads may outlive static destruction at exit.
    static StationState* state = [] {
        auto* s = new StationState;
        if (const char* path = std::getenv("KIRU_STATION"); path && *path) {
            StationDesc desc;
            std::string error;
            if (ReadStationFile(path, &desc, &error)) {
                s->Replace(desc);
            } else {
                std::fprintf(stderr, "kiru: KIRU_STATION: %s\n", error.c_str());
            }
        }
        return s;
    }();
    return *state;
}

std::vector<std::shared_ptr<SimModule>> StationState::Modules() {
    std::lock_guard<std::mutex> lock(mutex);
    return m_modules;
}

std::shared_ptr<SimModule> StationState::Find(const std::string& name, ULONG index) {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& m : m_modules) {
        if (m->name == name && m->index == index) return m;
    }
    return nullptr;
}

void StationState::Replace(const StationDesc& desc) {
    std::vector<std::shared_ptr<SimModule>> modules;
    for (const ModuleDesc& m : desc.modules) modules.push_back(std::make_shared<SimModule>(m));
    std::vector<std::shared_ptr<SimModule>> old;
    {
        std::lock_guard<std::mutex> lock(mutex);
        old.swap(m_modules);
        m_modules = std::move(modules);
        m_source = desc.source;
        m_absentEntryPoints.clear();
        gigeOpens = 0;
        gigeCloses = 0;
        displays.clear();
    }
    trace::Clear();
    ReleaseParkedModules();
    // Modules nobody holds open end here (their threads are joined); the
    // others when their last module object is deleted.
    old.clear();
}

std::string StationState::Source() {
    std::lock_guard<std::mutex> lock(mutex);
    return m_source;
}

bool StationState::EntryPointPresent(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex);
    return m_absentEntryPoints.count(name) == 0;
}

void StationState::SetEntryPointPresent(const std::string& name, bool present) {
    std::lock_guard<std::mutex> lock(mutex);
    if (present) m_absentEntryPoints.erase(name);
    else m_absentEntryPoints.insert(name);
}

}  // namespace kiru::sim
