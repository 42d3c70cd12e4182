// CIGrabQB2 camera settings and views: image parameters, trigger
// programming, colour, channels, tiling, the look-up table and the display.
#include <kiru/cigrab_qb2.h>

#include "backends/board/board_support.h"
#include "backends/board/qb2_params.h"
#include "capture/camera.h"
#include "capture/imgconn.h"
#include "capture/module.h"
#include "platform/kernel.h"

using namespace kiru::qb2;

namespace {

constexpr ULONG kLutFlags = 2;
constexpr DWORD kExposureSettleMs = 50;

}  // namespace

int CIGrabQB2::SetContrast(UINT value) {
    if (!CIGrab::SetContrast(value) || !m_created) return 0;
    SetParam(kContrast, m_contrast);
    return 1;
}

int CIGrabQB2::SetBrightness(UINT value) {
    if (!CIGrab::SetBrightness(value) || !m_created) return 0;
    SetParam(kBrightness, m_brightness);
    return 1;
}

int CIGrabQB2::SetExposure(double ms, int) {
    if (!CIGrab::SetExposure(ms, -1) || m_camera == nullptr) return 0;
    const double value = m_camera->CheckParamValue(kExposure, ms * 100.0);
    if (GetParam(kExposure) != value) {
        const bool wasRunning = Pause();
        CloseGrabThread();
        SetParam(kExposure, value);
        Resume(wasRunning);
    }
    ::Sleep(kExposureSettleMs);
    return 1;
}

int CIGrabQB2::SetFrameDelay(UINT delay) {
    if (!CIGrab::SetFrameDelay(delay)) return 0;
    SetParam(kFrameRate, 1000.0 / m_frameDelay);
    return 1;
}

int CIGrabQB2::SetExternalTriggerDelay(UINT delay) {
    const int common = CIGrab::SetExternalTriggerDelay(delay);
    if (common == 0) return common;
    const bool wasRunning = Pause();
    SetParam(kTriggerDelay, m_extTriggerDelay * 1000.0);
    Resume(wasRunning);
    return 1;
}

int CIGrabQB2::SetStrobeOffset(UINT offset) {
    if (!CIGrab::SetStrobeOffset(offset)) return 0;
    SetParam(kStrobeOffset, m_strobeOffset);
    return 1;
}

int CIGrabQB2::SetStrobeDuration(UINT duration) {
    if (!CIGrab::SetStrobeDuration(duration)) return 0;
    SetParam(kStrobeDuration, m_strobeDuration);
    return 1;
}

void CIGrabQB2::SetStrobeEnable(int enable) {
    CIGrab::SetStrobeEnable(enable);
    SetParam(kStrobeEnable, m_strobeEnabled ? 1.0 : 0.0);
}

int CIGrabQB2::SetTriggerParams() {
    if (!CIGrab::SetTriggerParams() || m_camera == nullptr) return 0;
    m_rejectorEnabledCopy = m_rejectorEnabled;
    SetParam(kStrobeEnable, m_strobeEnabled ? 1.0 : 0.0);
    SetParam(kStrobeDuration, m_strobeDuration);
    switch (m_triggerMethod) {
    case TRIGGER_FREE_RUN:
        SetParam(kFrameRate, 1000.0 / (m_frameDelay ? m_frameDelay : 1));
        m_camera->SetStoredVal(kTriggerMode, 6.0);
        break;
    case TRIGGER_HARDWARE: m_camera->SetStoredVal(kTriggerMode, 1.0); break;
    case TRIGGER_SOFTWARE: m_camera->SetStoredVal(kTriggerMode, 0.0); break;
    default: break;
    }
    SetParam(kTriggerEnable, 1.0);
    SetParam(kRejectorMode, 0.0);
    SetParam(kPulseWidth, m_camDouble[3]);
    const bool rejector = m_rejectorEnabled != 0;
    SetParam(kRejectorDelay, rejector ? m_rejectorDelay : 0.0);
    SetParam(kRejectorEnable, rejector ? 1.0 : 0.0);
    return 1;
}

int CIGrabQB2::GenerateSoftTrigger(int) {
    if (m_triggerMethod != TRIGGER_SOFTWARE) return 0;
    SetParam(kSoftTrigger, 0.0);
    return 1;
}

void CIGrabQB2::GenerateManualTrigger(int) {
    SetParam(kSoftTrigger, 0.0);
    CIGrab::GenerateManualTrigger(-1);
}

// ---- Views ----------------------------------------------------------------------------

int CIGrabQB2::SetTiling(ULONG across, ULONG down) {
    m_horzTiles = across == 1 || across == 2 ? across : 1;
    m_vertTiles = (down == 1 || down == 2) && m_horzTiles == 1 ? down : 1;
    return 1;
}

int CIGrabQB2::SetImageColor(IFW_IMAGE_COLOR_TYPE type) {
    const bool noTiles = !IsTiling();
    if (m_grab.load() != nullptr && type == m_imageColor && noTiles) return 1;
    const bool wasRunning = Pause();
    CloseGrabThread();
    if (!CIGrab::SetImageColor(type) && noTiles) {
        Resume(wasRunning);
        return 0;
    }
    if (m_camera == nullptr) return 0;
    m_module->AttachCamera(m_camera);
    SetParam(kLinesPerFrame, m_height);
    const ULONG lines = m_imageColor == IFW_COLOR_PLANAR ? 2 * m_height : m_horzTiles * m_vertTiles * m_height;
    SetParam(kPlaneMode, lines == m_height ? 0.0 : 2.0);
    SetParam(kPlanePacking, 0.0);
    ApplyAoi();
    Resume(wasRunning);
    return 1;
}

int CIGrabQB2::SetActiveCamera(int camera, int unused) {
    if (!CIGrab::SetActiveCamera(camera, unused)) return 0;
    const bool wasRunning = Pause();
    if (camera != m_activeCamera) {
        CICamera* next = m_module != nullptr && camera >= 0 ? m_module->GetCam(static_cast<ULONG>(camera)) : nullptr;
        if (next == nullptr) return 0;
        m_camera = next;
        m_activeCamera = camera;
        m_module->AttachCamera(next);
    }
    Resume(wasRunning);
    return 1;
}

int CIGrabQB2::GetNumCameras() { return m_imageColor == IFW_COLOR_PLANAR ? 2 : 1; }

int CIGrabQB2::Display(HWND window, unsigned char* image) {
    if (!CIGrab::Display(window, image)) return 0;
    if (m_display == nullptr) {
        // Width, height, bits per pixel and colour code of the attribute record.
        m_display = OrxCreateImgConn(image, m_camAttrWords[0], m_camAttrWords[1], m_camAttrWords[3], window,
                                     m_camAttrWords[4], 1, nullptr, 11, 1, nullptr, nullptr);
        if (m_display == nullptr) return 0;
    }
    m_display->GetSrc()->SetBufferAddr(image);
    m_display->Display();
    return 1;
}

// ---- Look-up table ------------------------------------------------------------------

int CIGrabQB2::LinearizeLUT() {
    if (!CIGrab::LinearizeLUT() || m_camera == nullptr) return 0;
    m_camera->LinearTable(0, kLutFlags);
    return 1;
}

int CIGrabQB2::InvLinearizeLUT() {
    if (!CIGrab::InvLinearizeLUT() || m_camera == nullptr) return 0;
    kiru::board::WriteInverseLut(m_camera);
    return 1;
}

int CIGrabQB2::SetLUTFloor(UINT value) {
    if (!CIGrab::SetLUTFloor(value) || m_camera == nullptr) return 0;
    kiru::board::WriteLutFloor(m_camera, value);
    return 1;
}

int CIGrabQB2::SetLUTCeiling(UINT value) {
    if (!CIGrab::SetLUTCeiling(value) || m_camera == nullptr) return 0;
    kiru::board::WriteLutCeiling(m_camera, value);
    return 1;
}

int CIGrabQB2::WriteLUTBuf(ULONG first, ULONG count, unsigned char* table) {
    if (!CIGrab::WriteLUTBuf(first, count, table) || m_camera == nullptr) return 0;
    m_camera->WriteTable(0, first, count, table, kLutFlags);
    return 1;
}
