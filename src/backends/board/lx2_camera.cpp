// CIGrabLX2 camera settings: image parameters, trigger programming, the
// board's rejector timing, colour planes and channels, the look-up table and
// the display. Most setters stop a running grab, end the library grab and
// restart it, so that the board takes new timing only between grabs.
#include <kiru/cigrab_lx2.h>

#include "backends/board/board_support.h"
#include "backends/board/lx2_params.h"
#include "capture/camera.h"
#include "capture/imgconn.h"
#include "capture/module.h"

using namespace kiru::lx2;

namespace {

constexpr ULONG kLutFlags = 2;
constexpr ULONG kManualTriggerBit = 0x01;
constexpr ULONG kMaxTiles = 3;

}  // namespace

bool CIGrabLX2::Pause() {
    const bool wasRunning = m_running != 0;
    if (wasRunning) Stop();
    CloseGrabThread();
    return wasRunning;
}

void CIGrabLX2::Resume(bool wasRunning) {
    if (wasRunning) Start();
}

void CIGrabLX2::ApplyTriggerMode() {
    switch (m_triggerMethod) {
    case TRIGGER_FREE_RUN:
        SetParam(kFrameRate, 1000.0 / (m_frameDelay ? m_frameDelay : 1));
        SetParam(kTriggerMode, 6.0);
        break;
    case TRIGGER_HARDWARE: SetParam(kTriggerMode, 1.0); break;
    case TRIGGER_SOFTWARE: SetParam(kTriggerMode, 0.0); break;
    default: break;
    }
}

// ---- Image parameters -------------------------------------------------------------

int CIGrabLX2::SetContrast(UINT value) {
    if (!CIGrab::SetContrast(value) || !m_created) return 0;
    SetParam(kContrast, m_contrast);
    return 1;
}

int CIGrabLX2::SetBrightness(UINT value) {
    if (!CIGrab::SetBrightness(value) || !m_created) return 0;
    SetParam(kBrightness, m_brightness);
    return 1;
}

int CIGrabLX2::SetFrameDelay(UINT delay) {
    const UINT before = m_frameDelay;
    if (!CIGrab::SetFrameDelay(delay)) return 0;
    if (m_grab.load() == nullptr || before != m_frameDelay) SetParam(kFrameRate, 1000.0 / m_frameDelay);
    return 1;
}

int CIGrabLX2::SetStrobeDuration(UINT duration) {
    const UINT before = m_strobeDuration;
    if (!CIGrab::SetStrobeDuration(duration)) return 0;
    if (m_grab.load() == nullptr || before != m_strobeDuration) SetParam(kStrobeDuration, m_strobeDuration);
    return 1;
}

int CIGrabLX2::SetStrobeOffset(UINT offset) {
    const UINT before = m_strobeOffset;
    if (!CIGrab::SetStrobeOffset(offset)) return 0;
    if (m_grab.load() == nullptr || before != m_strobeOffset) SetParam(kStrobeOffset, m_strobeOffset);
    return 1;
}

int CIGrabLX2::SetExposure(double ms, int) {
    if (m_grab.load() != nullptr && ms == m_exposure) return 1;
    if (!CIGrab::SetExposure(ms, -1) || m_camera == nullptr) return 0;
    const bool wasRunning = Pause();
    ORV_PARAM_CAPS caps{};
    m_camera->GetParamCaps(kExposure, &caps);
    SetParam(kExposure, m_camera->CheckParamValue(kExposure, ms * 100.0));
    Resume(wasRunning);
    return 1;
}

// ---- Triggers and rejector timing ---------------------------------------------------

int CIGrabLX2::SetTriggerParams() {
    if (!CIGrab::SetTriggerParams() || m_camera == nullptr) return 0;
    if (!m_strobeEnabled) SetOutputPort(0, GetParam(kStrobePolarity) == 0.0);
    m_camera->SetStoredVal(kStrobeEnable, m_strobeEnabled ? 1.0 : 0.0);
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
    if (IsLxp() && (m_rejectorEnabled == 1 || m_rejectorEnabled == 2)) {
        const double on = m_rejectorEnabled == 2 ? 1.0 : 0.0;
        m_camera->SetStoredVal(kDecision[0].enable, on);
        m_camera->SetStoredVal(kDecision[1].enable, on);
        m_camera->SetStoredVal(kDecision[0].delay, m_rejectorDelay * 1000.0);
        m_camera->SetStoredVal(kDecision[1].delay, m_recycleDelay * 1000.0);
    }
    return 1;
}

int CIGrabLX2::GenerateSoftTrigger(int) {
    if (m_triggerMethod != TRIGGER_SOFTWARE) return 0;
    SetParam(kSoftTrigger, 0.0);
    return 1;
}

void CIGrabLX2::GenerateManualTrigger(int camera) {
    if (m_camera != nullptr) {
        // A pulse on the control register's trigger bit.
        const ULONG control = m_camera->ReadReg(kControlRegister);
        m_camera->WriteReg(kControlRegister, control | kManualTriggerBit);
        m_camera->WriteReg(kControlRegister, control & ~kManualTriggerBit);
    }
    CIGrab::GenerateManualTrigger(camera);
}

int CIGrabLX2::SetExternalTriggerDelay(UINT delay) {
    if (!CIGrab::SetExternalTriggerDelay(delay)) return 0;
    const bool wasRunning = Pause();
    if (IsLxp()) {
        SetParam(kTriggerDelayArm, 0.0);
        SetParam(kTriggerDelay, m_extTriggerDelay * 1000.0);
    }
    Resume(wasRunning);
    return 1;
}

int CIGrabLX2::SetRejectorDelay(UINT delay) {
    const UINT before = m_rejectorDelay;
    if (!CIGrab::SetRejectorDelay(delay)) return 0;
    if ((m_grab.load() == nullptr || before != m_rejectorDelay) && IsLxp())
        SetParam(kDecision[0].delay, m_rejectorDelay * 1000.0);
    return 1;
}

int CIGrabLX2::SetRecycleDelay(UINT delay) {
    const UINT before = m_recycleDelay;
    if (!CIGrab::SetRecycleDelay(delay)) return 0;
    if ((m_grab.load() == nullptr || before != m_recycleDelay) && IsLxp())
        SetParam(kDecision[1].delay, m_recycleDelay * 1000.0);
    return 1;
}

int CIGrabLX2::SetRejectorPulseControl() {
    if (!CIGrab::SetRejectorPulseControl()) return 0;
    const double width = m_camDouble[3];
    if (m_grab.load() != nullptr && width == m_lastPulseWidth) return 1;
    m_lastPulseWidth = width;
    const bool wasRunning = Pause();
    if (IsLxp()) {
        SetParam(kDecision[0].width, width * 1000.0);
        SetParam(kDecision[1].width, width * 1000.0);
    }
    Resume(wasRunning);
    return 1;
}

// ---- Colour, channels and views ---------------------------------------------------

int CIGrabLX2::SetImageColor(IFW_IMAGE_COLOR_TYPE type) {
    const bool noTiles = m_horzTiles < 2 && m_vertTiles < 2;
    if (m_grab.load() != nullptr && type == m_imageColor && noTiles) return 1;
    const bool wasRunning = Pause();
    if (!CIGrab::SetImageColor(type) && noTiles) {
        Resume(wasRunning);
        return 0;
    }
    int result = 0;
    if (m_camera != nullptr) {
        double packing = 0.0, planeMode = 0.0;
        if (m_imageColor == IFW_COLOR_RGB32) {
            packing = 4.0;
        } else if (m_imageColor == IFW_COLOR_PLANAR || IsTiling()) {
            packing = 8.0;
            planeMode = 2.0;
            // The other channels the board holds a camera rule for deliver
            // the further planes, free running.
            for (ULONG channel = 1; channel <= 7; ++channel) {
                CICamera* other = m_module->GetCam(channel);
                if (other == nullptr || other == m_camera) continue;
                ORV_CAM_ATTR attr{};
                other->GetAttr(&attr, 1);
                if (m_module->GetNextRule(attr.CameraFile, nullptr) == nullptr) continue;
                other->ApplyCameraRule(attr.CameraFile, 1);
                other->SetAcqParam(kFrameRate, 30.0, 0);
                other->SetAcqParam(kTriggerMode, 6.0, 0);
                other->SetAcqParam(kLinesPerFrame, m_height, 0);
                other->SetAcqParam(kPlaneMode, 0.0, 0);
                other->SetAcqParam(kPlanePacking, 0.0, 0);
                other->ApplyParams();
                other->SetChannelState(0);
                ApplyTriggerMode();
            }
        }
        m_module->AttachCamera(m_camera);
        SetParam(kLinesPerFrame, (m_height / 6) * 6);
        SetParam(kPlaneMode, planeMode);
        SetParam(kPlanePacking, packing);
        ApplyAoi();
        result = 1;
    }
    Resume(wasRunning);
    return result;
}

int CIGrabLX2::SetActiveCamera(int camera, int reset) {
    if (!CIGrab::SetActiveCamera(camera, reset)) return 0;
    if (camera == m_activeCamera) return 1;
    const bool wasRunning = m_running != 0;
    if (wasRunning) Stop();
    CICamera* next = m_module != nullptr && camera >= 0 ? m_module->GetCam(static_cast<ULONG>(camera)) : nullptr;
    if (next == nullptr) return 0;
    m_camera = next;
    m_activeCamera = camera;
    m_module->AttachCamera(next);
    if (reset) {
        SetParam(kFrameRate, 30.0);
        SetParam(kTriggerMode, 6.0);
        next->ApplyParams();
        next->SetChannelState(0);
        ApplyTriggerMode();
    }
    Resume(wasRunning);
    return 1;
}

int CIGrabLX2::GetNumCameras() { return m_imageColor == IFW_COLOR_PLANAR ? 3 : 1; }

int CIGrabLX2::SetTiling(ULONG horizontal, ULONG vertical) {
    m_horzTiles = horizontal >= 1 && horizontal <= kMaxTiles ? horizontal : 1;
    m_vertTiles = vertical >= 1 && vertical <= kMaxTiles && m_horzTiles == 1 ? vertical : 1;
    return 1;
}

void* CIGrabLX2::GetFramePtr(int) { return m_currentFrame.load(); }

int CIGrabLX2::Display(HWND window, unsigned char* image) {
    if (!CIGrab::Display(window, image)) return 0;
    if (m_display == nullptr) {
        m_display = OrxCreateImgConn(image, m_camAttr.width, m_camAttr.height, m_camAttr.bitsPerPixel, window,
                                     m_camAttr.colorCode, 1, nullptr, 11, 1, nullptr, nullptr);
        if (m_display == nullptr) return 0;
    }
    m_display->GetSrc()->SetBufferAddr(image);
    m_display->Display();
    return 1;
}

// ---- Look-up table ------------------------------------------------------------------

int CIGrabLX2::LinearizeLUT() {
    if (!CIGrab::LinearizeLUT() || m_camera == nullptr) return 0;
    m_camera->LinearTable(0, kLutFlags);
    return 1;
}

int CIGrabLX2::InvLinearizeLUT() {
    if (!CIGrab::InvLinearizeLUT() || m_camera == nullptr) return 0;
    kiru::board::WriteInverseLut(m_camera);
    return 1;
}

int CIGrabLX2::SetLUTFloor(UINT value) {
    if (!CIGrab::SetLUTFloor(value) || m_camera == nullptr) return 0;
    kiru::board::WriteLutFloor(m_camera, value);
    return 1;
}

int CIGrabLX2::SetLUTCeiling(UINT value) {
    if (!CIGrab::SetLUTCeiling(value) || m_camera == nullptr) return 0;
    kiru::board::WriteLutCeiling(m_camera, value);
    return 1;
}

int CIGrabLX2::WriteLUTBuf(ULONG first, ULONG count, unsigned char* table) {
    if (!CIGrab::WriteLUTBuf(first, count, table) || m_camera == nullptr) return 0;
    m_camera->WriteTable(0, first, count, table, kLutFlags);
    return 1;
}
