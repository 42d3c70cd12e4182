// CIGrabEmu: triggers, the frame delay, colour changes and the accessors the
// emulator answers for itself.
#include <kiru/cigrab_emu.h>

#include "platform/kernel.h"

namespace {
// The emulator's fastest pace, about 30 frames per second.
constexpr UINT kMinFrameDelay = 33;
}  // namespace

// A trigger counts only in the triggered modes; the trigger semaphore holds
// at most one, so triggers that arrive while one is pending are merged.
int CIGrabEmu::GenerateSoftTrigger(int) {
    if ((m_triggerMethod == TRIGGER_HARDWARE || m_triggerMethod == TRIGGER_SOFTWARE) && m_triggerSemaphore != nullptr) {
        ::ReleaseSemaphore(m_triggerSemaphore, 1, nullptr);
    }
    return 1;
}

int CIGrabEmu::EmulationTrigger() {
    if (!CIGrab::EmulationTrigger()) return 0;
    GenerateSoftTrigger(0);
    return 1;
}

int CIGrabEmu::SetFrameDelay(UINT delay) {
    const int result = CIGrab::SetFrameDelay(delay);
    if (!result) return result;
    if (m_frameDelay < kMinFrameDelay) m_frameDelay = kMinFrameDelay;
    return 1;
}

int CIGrabEmu::SetImageColor(IFW_IMAGE_COLOR_TYPE type) {
    const int result = CIGrab::SetImageColor(type);
    if (!result) return result;

    // A depth or camera count that no longer fits the composite or the ring
    // (4-byte colour after an 8-bit Create) re-creates the object.
    const std::uint64_t frameSet = std::uint64_t(GetNumCameras() > 0 ? GetNumCameras() : 0) * m_horzTiles *
                                   m_vertTiles * m_imageSizeBytes;
    const std::uint64_t lastFrame =
        m_bufferCount > 0 ? std::uint64_t(m_bufferCount - 1) * m_width * m_height * ColorStrideFactor() : 0;
    const bool tooSmall = frameSet > m_compositeSize || lastFrame + frameSet > m_ringSize;
    const int wasRunning = m_running;
    if (m_created && tooSmall) {
        if (wasRunning) Stop();
        Create(0xFFFFFFFEu, 0xFFFFFFFEu, 0xFFFFFFFEu, 0xFFFFFFFEu, 0xFFFFFFFEu, 0xFFFFFFFEu, 0xFFFFFFFEu);
        if (wasRunning) Start();
        return 1;
    }

    if (wasRunning) Stop();
    if (CreateDIBSections()) LoadImageFiles();
    if (wasRunning) Start();
    return 1;
}

int CIGrabEmu::SetActiveCommPort(int port) {
    if (!CIGrab::SetActiveCommPort(port)) return 0;
    return port == 0 ? 1 : 0;
}

int CIGrabEmu::GetCommPortNum(int, IFW_COMPORT_KIND kind) {
    return (kind == IFW_COMPORT_KIND_100 || kind == IFW_COMPORT_KIND_101) ? 0 : 1;
}

int CIGrabEmu::GetNumCameras() {
    if (m_explicitNumCameras != 0) return m_explicitNumCameras;
    return m_imageColor == IFW_COLOR_PLANAR ? 3 : 1;
}

ULONG CIGrabEmu::GetWidth() { return CIGrab::GetWidth(); }
ULONG CIGrabEmu::GetHeight() { return CIGrab::GetHeight(); }

void CIGrabEmu::GotTeachImage() { m_teachImageIndex = __atomic_load_n(&m_lastDeliveredImageIndex, __ATOMIC_ACQUIRE); }
