// The process's station: the simulated modules in enumeration order and the
// library-wide state of the stand-in (entry points, console handler,
// display paints). The first use loads the file named by KIRU_STATION.
#pragma once

#include <kiru/station.h>
#include <kiru/win_types.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "capture/orv_types.h"
#include "capture/sim/station_desc.h"

namespace kiru::sim {

class SimModule;

class StationState {
public:
    static StationState& Get();

    std::vector<std::shared_ptr<SimModule>> Modules();
    std::shared_ptr<SimModule> Find(const std::string& name, ULONG index);
    // Installs a new station (an empty description empties it).
    void Replace(const StationDesc& desc);
    std::string Source();

    bool EntryPointPresent(const std::string& name);
    void SetEntryPointPresent(const std::string& name, bool present);

    std::mutex mutex;  // guards the fields below and the module list
    ORX_CONSOLE_HANDLER consoleHandler = nullptr;
    int gigeOpens = 0;
    int gigeCloses = 0;
    std::map<HWND, DisplayInfo> displays;

private:
    StationState() = default;
    std::vector<std::shared_ptr<SimModule>> m_modules;
    std::string m_source;
    std::set<std::string> m_absentEntryPoints;
};

}  // namespace kiru::sim
