// Decision queues of I/O controller channels.
#include "capture/camera.h"
#include "capture/sim/sim_clock.h"
#include "capture/sim/sim_module.h"
#include "capture/sim/trace.h"

using kiru::sim::TraceLine;

namespace {
constexpr ULONG kParamDecisionOffsetUs = 16384;
}

int CAdvancedIOCam::AdvancedIOStart() {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    TraceLine(m_sim->ChannelTag(m_channel), "AdvancedIOStart").Commit();
    m_sim->RestartDecisionsLocked(m_state->decisions, m_sim->ChannelTag(m_channel), true);
    return 1;
}

int CAdvancedIOCam::AdvancedIOStop() {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    TraceLine(m_sim->ChannelTag(m_channel), "AdvancedIOStop").Commit();
    m_sim->RestartDecisionsLocked(m_state->decisions, m_sim->ChannelTag(m_channel), false);
    return 1;
}

int CAdvancedIOCam::AdvancedIOEnqueueDecision(ULONG decision) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    (TraceLine(m_sim->ChannelTag(m_channel), "AdvancedIOEnqueueDecision") << decision).Commit();
    const double offset = m_state->Value(kParamDecisionOffsetUs, 0);
    m_sim->EnqueueDecisionLocked(m_state->decisions, m_sim->ChannelTag(m_channel), decision, static_cast<std::int64_t>(offset));
    return 1;
}

int CAdvancedIOCam::AdvancedIOSetValidateWindow(ULONG start, ULONG width) {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    m_state->decisions.windowStart = start;
    m_state->decisions.windowWidth = width;
    (TraceLine(m_sim->ChannelTag(m_channel), "AdvancedIOSetValidateWindow") << start << width).Commit();
    return 1;
}

int CAdvancedIOCam::AdvancedIOValidateEntry() {
    std::lock_guard<std::mutex> lock(m_sim->mutex);
    TraceLine(m_sim->ChannelTag(m_channel), "AdvancedIOValidateEntry").Commit();
    // The entry opens the channel's validate window on the controller's
    // clock: from start to start + width microseconds after the exposure.
    const kiru::sim::DecisionQueue& q = m_state->decisions;
    const std::int64_t opens = kiru::sim::NowUs() + q.windowStart;
    (TraceLine(m_sim->ChannelTag(m_channel), "ValidateWindow") << opens << opens + q.windowWidth).Commit();
    return 1;
}
