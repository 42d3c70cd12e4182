#include "capture/gige.h"

#include "capture/aravis/device.h"
#include "capture/sim/numbers.h"
#include "capture/sim/sim_module.h"
#include "capture/sim/trace.h"

using kiru::sim::TraceLine;

int CGige::SetVal(const char* feature, double value, int, int) {
    if (!feature || !*feature) return 0;
    if (m_device) return m_device->SetFeature(feature, value);
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    if (!m_sim->channels.empty() && !m_sim->channels[0]->reachable) return 0;
    m_sim->features[feature] = kiru::sim::FormatDouble(value);
    (TraceLine(m_sim->Tag(), "SetVal") << feature << value).Commit();
    return 1;
}

int CGige::SetEnumVal(const char* feature, const char* entry, int, int) {
    if (!feature || !*feature || !entry) return 0;
    if (m_device) return m_device->SetEnumFeature(feature, entry);
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    if (!m_sim->channels.empty() && !m_sim->channels[0]->reachable) return 0;
    m_sim->features[feature] = entry;
    (TraceLine(m_sim->Tag(), "SetEnumVal") << feature << entry).Commit();
    return 1;
}

int CGige::GetVal(const char* feature, double* value) {
    if (!feature || !value) return 0;
    if (m_device) return m_device->GetFeature(feature, value);
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    auto it = m_sim->features.find(feature);
    if (it == m_sim->features.end()) return 0;
    return kiru::sim::ParseDouble(it->second, value) ? 1 : 0;
}
