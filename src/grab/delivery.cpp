// Frame delivery for every back-end's acquisition threads: which callback a
// frame goes to, and the count of frames by fate that lets a client check
// that nothing vanished.
#include <kiru/cigrab.h>

namespace {

std::uint64_t Load(const std::uint64_t& field) { return __atomic_load_n(&field, __ATOMIC_RELAXED); }

}  // namespace

bool CIGrab::CallBufferCallback(unsigned char* image, ULONG frame, std::int64_t stamp, CallbackRule rule) {
    const IFW_BUFFER_CALLBACK callback = m_bufferCallback;
    if (callback == nullptr || (rule == kFunctionAndContextSet && m_bufferContext == nullptr)) return false;
    callback(image, frame, stamp, m_bufferContext);
    return true;
}

bool CIGrab::CallBufferExCallback(unsigned char* image, ULONG frame, std::int64_t stamp, int camera) {
    const IFW_BUFFER_EX_CALLBACK callback = m_bufferExCallback;
    if (callback == nullptr || m_bufferExContext == nullptr) return false;
    // The descriptor lives for the call only, as the client is told.
    IFW_GRAB_BUF_DESC desc{image, static_cast<ULONG>(camera), 0};
    callback(&desc, frame, stamp, m_bufferExContext);
    return true;
}

bool CIGrab::CallTrashCallback(unsigned char* image, ULONG frame, std::int64_t stamp, CallbackRule rule) {
    const IFW_BUFFER_CALLBACK callback = m_trashCallback;
    if (callback == nullptr || (rule == kFunctionAndContextSet && m_trashContext == nullptr)) return false;
    callback(image, frame, stamp, m_trashContext);
    return true;
}

void CIGrab::DeliverFrame(unsigned char* image, ULONG frame, std::int64_t stamp, int cameras, CallbackRule rule,
                          int camera) {
    // The fate is counted before the call: a client that stops acquisition
    // from inside the callback finds the frame already accounted for.
    if (m_asyncMode && BufferExCallbackRegistered()) {
        CountFrames(camera, kFateDelivered);
        for (int c = 0; c < cameras; ++c) CallBufferExCallback(image, frame, stamp, c);
        return;
    }
    const bool registered =
        m_bufferCallback != nullptr && (rule == kFunctionSet || m_bufferContext != nullptr);
    CountFrames(camera, registered ? kFateDelivered : kFateUnclaimed);
    if (registered) CallBufferCallback(image, frame, stamp, rule);
}

void CIGrab::CountFrames(int camera, FrameFate fate, std::uint64_t count) {
    if (camera < 0 || camera >= 8 || fate < 0 || fate >= kFateCount) return;
    __atomic_fetch_add(&m_frameCounts[camera][fate], count, __ATOMIC_RELAXED);
}

void CIGrab::SettleFrameCounts() {
    for (int c = 0; c < 8; ++c) {
        const std::uint64_t produced = Load(m_frameCounts[c][kFateProduced]);
        std::uint64_t settled = 0;
        for (int fate = kFateDelivered; fate < kFateCount; ++fate) settled += Load(m_frameCounts[c][fate]);
        if (produced > settled) CountFrames(c, kFateUnclaimed, produced - settled);
    }
}

int CIGrab::GetFrameCounts(int camera, KiruFrameCounts* counts) {
    if (counts == nullptr || camera < -1 || camera >= 8) return 0;
    std::uint64_t sum[kFateCount] = {};
    for (int c = 0; c < 8; ++c) {
        if (camera != -1 && c != camera) continue;
        for (int fate = 0; fate < kFateCount; ++fate) sum[fate] += Load(m_frameCounts[c][fate]);
    }
    *counts = {sum[kFateProduced], sum[kFateDelivered], sum[kFateUnclaimed], sum[kFateTrashed], sum[kFateLost]};
    return 1;
}
