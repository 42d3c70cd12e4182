#include "capture/qmtmods.h"

#include <cstring>

#include "capture/sim/sim_module.h"
#include "capture/sim/station_state.h"

_QMT_PARENT_MOD* CQMTMods::GetFirst() {
    m_modules.clear();
    m_next = 0;
    for (const auto& m : kiru::sim::StationState::Get().Modules()) {
        _QMT_PARENT_MOD record{};
        std::strncpy(record.Name, m->name.c_str(), sizeof record.Name - 1);
        record.Index = m->index;
        std::lock_guard<std::mutex> lock(m->mutex);
        record.ModuleInfo = m->moduleInfo;
        record.Channels = static_cast<ULONG>(m->channels.size());
        m_modules.push_back(record);
    }
    return GetNext();
}

_QMT_PARENT_MOD* CQMTMods::GetNext() { return m_next < m_modules.size() ? &m_modules[m_next++] : nullptr; }
