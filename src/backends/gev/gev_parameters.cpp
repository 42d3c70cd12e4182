// CIGrabGev camera parameters: the per-camera parameter store that a reopened
// camera is reprogrammed from, exposure, brightness and contrast, trigger
// method and trigger-source programming, frame delay, the USB trigger scaler,
// register routing, the gain/decibel conversions and the result-output
// script lines handed to the client.
#include <kiru/cigrab_gev.h>
#include <kiru/scoped_handles.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "backends/gev/gev_atomic.h"
#include "capture/orv.h"

using kiru::gev::Load;
using kiru::gev::Store;

// The parameter store is read on the acquisition thread while a lost camera
// is reprogrammed and written from client threads; its entries are accessed
// whole and atomically. Camera objects are used under the grab lock, which
// recovery holds while it replaces them.

namespace {

constexpr ULONG kParamTriggerMode = 9;
constexpr ULONG kParamTriggerSource = 10;
constexpr ULONG kParamBrightness = 58;
constexpr ULONG kParamModel = 67;
constexpr ULONG kParamDebounce = 83;
constexpr ULONG kParamFrameRate = 95;
constexpr ULONG kParamExposure = 0x4000;
constexpr ULONG kParamContrast = 0x4003;
constexpr ULONG kParamUsbStrobe = 0x4005;
constexpr ULONG kParamTrigScaler = 0x4007;
constexpr ULONG kParamTrxStrobe = 0x400C;
constexpr ULONG kParamRcsStrobe = 0x7013002;

// Slots 96 and up hold the parameters 0x4000 to 0x4016.
constexpr ULONG kFirstHighSlot = 96;
constexpr ULONG kHighParamBase = 0x4000;
constexpr ULONG kHighParamLast = 0x4016;

constexpr DWORD kObjectMutexWaitMs = 2000;
// USB modules program the trigger scaler from this firmware level on.
constexpr ULONG kUsbTrigScalerFirmware = 203119;
// Trigger method 2 leaves the camera's own frame rate alone from this rate up.
constexpr double kFreeRunRateLimit = 200.0;

bool Storable(ULONG number) {
    return number < kFirstHighSlot || (number >= kHighParamBase && number <= kHighParamLast);
}

bool Contains(const char* text, const char* word) { return text != nullptr && std::strstr(text, word) != nullptr; }

}  // namespace

// ---- Parameter store --------------------------------------------------------

ULONG CIGrabGev::GetParamId(ULONG slot) {
    if (slot < kFirstHighSlot) return slot;
    if (slot < static_cast<ULONG>(kParamSlots)) return slot - kFirstHighSlot + kHighParamBase;
    return 0;
}

ULONG CIGrabGev::GetParamIndex(ULONG number) {
    if (number < kFirstHighSlot) return number;
    if (number >= kHighParamBase && number <= kHighParamLast) return number - kHighParamBase + kFirstHighSlot;
    return 0;
}

void CIGrabGev::StoreParam(int camera, ULONG number, double value, ULONG sub) {
    if (camera < 0 || camera >= kMaxCameras || sub > 1 || !Storable(number)) return;
    const ULONG slot = GetParamIndex(number);
    Store(m_paramValue[camera][slot][sub], value);
    Store(m_paramSet[camera][slot][sub], ULONG{1});
}

void CIGrabGev::SetStoredCamParam(int camera, ULONG number, double value, ULONG sub) {
    if (camera < 0 || camera >= kMaxCameras) return;
    CMutexHold lock(m_grabLock, INFINITE);
    if (m_camera[camera] != nullptr) m_camera[camera]->SetAcqParam(number, value, sub);
    StoreParam(camera, number, value, sub);
}

void CIGrabGev::SetCamParam(ULONG number, double value, ULONG sub) {
    if (IsTiling()) {
        SetAllCamParam(number, value, sub);
        return;
    }
    SetStoredCamParam(ParamCamera(), number, value, sub);
}

void CIGrabGev::SetAllCamParam(ULONG number, double value, ULONG sub) {
    for (int c = 0; c < m_numCameras && c < kMaxCameras; ++c) SetStoredCamParam(c, number, value, sub);
}

void CIGrabGev::ApplyParameters(int camera) {
    if (camera < 0 || camera >= kMaxCameras) return;
    {
        CMutexHold lock(m_grabLock, INFINITE);
        CICamera* cam = m_camera[camera];
        for (ULONG slot = 0; cam != nullptr && slot < static_cast<ULONG>(kParamSlots); ++slot) {
            for (ULONG sub = 0; sub < 2; ++sub) {
                if (Load(m_paramSet[camera][slot][sub]) != 0)
                    cam->SetAcqParam(GetParamId(slot), Load(m_paramValue[camera][slot][sub]), sub);
            }
        }
    }
    SetTriggerSource(camera);
}

// ---- Helpers ------------------------------------------------------------------

int CIGrabGev::ParamCamera() const {
    return (m_clientActiveCamera >= 0 && m_clientActiveCamera < kMaxCameras) ? m_clientActiveCamera : 0;
}

bool CIGrabGev::CameraNameContains(int camera, const char* word) const {
    return camera >= 0 && camera < kMaxCameras && Contains(m_camName[camera], word);
}

bool CIGrabGev::ParamMaximum(int camera, ULONG number, double* maximum) {
    if (camera < 0 || camera >= kMaxCameras) return false;
    CMutexHold lock(m_grabLock, INFINITE);
    ORV_PARAM_CAPS caps{};
    if (m_camera[camera] == nullptr || !m_camera[camera]->GetParamCaps(number, &caps)) return false;
    *maximum = caps.Max;
    return true;
}

double CIGrabGev::ReadCamParam(int camera, ULONG number, ULONG sub) {
    CMutexHold lock(m_grabLock, INFINITE);
    double value = 0.0;
    if (camera >= 0 && camera < kMaxCameras && m_camera[camera] != nullptr &&
        !m_camera[camera]->GetAcqParam(number, &value, sub))
        value = 0.0;
    return value;
}

// ---- Exposure, brightness, contrast ------------------------------------------

int CIGrabGev::SetExposure(double exposure, int camera) {
    if (!CIGrab::SetExposure(exposure, camera)) return 0;
    const double value = static_cast<double>(m_exposureDivider) * m_exposure;

    if (camera < 0) {
        const int active = m_clientActiveCamera;
        if (active < 0 || active >= m_numCameras || active >= kMaxCameras) return 1;
        m_cam[active].exposure = m_exposure;

        // Line-scan cameras only take a new exposure while stopped.
        const bool stopped = m_lineScan != 0 && m_running != 0;
        if (stopped) Stop();
        if (Load(m_paramSet[0][GetParamIndex(kParamExposure)][0]) != 0) SetCamParam(kParamExposure, value, 0);
        else SetAllCamParam(kParamExposure, value, 0);
        if (stopped) Start();

        // The I/O controllers hold the strobe of the camera they trigger; it
        // covers the image transfer when a rejector is fitted.
        ULONG strobe = 0;
        if (m_rejectorEnabled) {
            strobe = m_height * m_bytesPerPixel * m_width / 80;
            if (strobe < 12000) strobe = 12000;
        }
        if (active < 2) {
            if (m_trxModule != nullptr) {
                if (CICamera* side = m_trxModule->GetCam(static_cast<ULONG>(active)))
                    side->SetAcqParam(kParamTrxStrobe, static_cast<double>(strobe), 0);
            }
            if (m_rcsModule != nullptr) {
                if (CICamera* side = m_rcsModule->GetCam(static_cast<ULONG>(active)))
                    side->SetAcqParam(kParamRcsStrobe, static_cast<double>(strobe), 0);
            }
        }
        if (CICapMod* usb = m_usbModule[active / 4]) {
            if (CICamera* channel = usb->GetCam(static_cast<ULONG>(active % 4)))
                channel->SetAcqParam(kParamUsbStrobe, static_cast<double>(strobe), 0);
        }
        return 1;
    }

    if (camera >= m_numCameras || camera >= kMaxCameras) return 1;
    SetStoredCamParam(camera, kParamExposure, value, 0);
    m_cam[camera].exposure = m_exposure;
    return 1;
}

double CIGrabGev::GetExposure() { return m_cam[ParamCamera()].exposure; }

double CIGrabGev::GetCamExposure(int camera) {
    if (camera < 0 || camera >= m_numCameras || camera >= kMaxCameras) return GetExposure();
    return m_cam[camera].exposure;
}

// Brightness and contrast are percentages of the parameter's maximum; a
// camera that reports no range for the parameter does not have it.
int CIGrabGev::SetBrightness(UINT value) {
    if (!CIGrab::SetBrightness(value)) return 0;
    m_cam[ParamCamera()].brightness = m_brightness;
    double maximum = 0.0;
    if (!ParamMaximum(0, kParamBrightness, &maximum)) return 1;
    const double scaled = m_brightness * maximum / 100.0;
    if (Load(m_paramSet[0][GetParamIndex(kParamBrightness)][0]) != 0) SetCamParam(kParamBrightness, scaled, 0);
    else SetAllCamParam(kParamBrightness, scaled, 0);
    return 1;
}

int CIGrabGev::SetCamBrightness(UINT value, int camera) {
    if (camera < 0 || camera >= m_numCameras || camera >= kMaxCameras) return SetBrightness(value);
    m_cam[camera].brightness = value;
    double maximum = 0.0;
    if (ParamMaximum(camera, kParamBrightness, &maximum))
        SetStoredCamParam(camera, kParamBrightness, value * maximum / 100.0, 0);
    return 1;
}

int CIGrabGev::SetContrast(UINT value) {
    if (!CIGrab::SetContrast(value)) return 0;
    m_cam[ParamCamera()].contrast = m_contrast;
    double maximum = 0.0;
    if (ParamMaximum(0, kParamContrast, &maximum)) SetCamParam(kParamContrast, m_contrast * maximum / 100.0, 0);
    return 1;
}

UINT CIGrabGev::GetBrightness() { return m_cam[ParamCamera()].brightness; }

UINT CIGrabGev::GetContrast() { return m_cam[ParamCamera()].contrast; }

UINT CIGrabGev::GetCamBrightness(int camera) {
    if (camera < 0 || camera >= m_numCameras || camera >= kMaxCameras) return GetBrightness();
    return m_cam[camera].brightness;
}

// ---- Trigger method and source ------------------------------------------------

int CIGrabGev::SetTriggerMethod(TriggerMethod method) {
    m_cam[m_asyncMode ? ParamCamera() : 0].triggerMethod = method;
    const int wasRunning = m_running;
    if (wasRunning) Stop();
    const int result = CIGrab::SetTriggerMethod(method);
    if (wasRunning) Start();
    return result;
}

int CIGrabGev::SetCamTriggerMethod(TriggerMethod method, int camera) {
    if (camera < 0) return SetTriggerMethod(method);
    if (camera >= kMaxCameras) return 1;
    const int wasRunning = m_running;
    if (wasRunning) Stop();
    m_cam[camera].triggerMethod = method;
    SetTriggerSource(camera);
    if (wasRunning) Start();
    return 1;
}

IXGrab::TriggerMethod CIGrabGev::GetTriggerMethod() { return m_cam[m_asyncMode ? ParamCamera() : 0].triggerMethod; }

int CIGrabGev::SetTriggerParams() {
    if (!CIGrab::SetTriggerParams()) return 0;
    SetTriggerSource(-1);
    CMutexHold lock(m_grabLock, INFINITE);
    return m_camera[0] != nullptr ? 1 : 0;
}

int CIGrabGev::SetTriggerSource(int camera) {
    const bool all = camera < 0 || IsTiling();
    if (!all && camera >= kMaxCameras) return 1;
    // A busy object (recovery, a trigger in progress) keeps its programming.
    if (!CORVOS::AcquireMutex(m_objectMutex, kObjectMutexWaitMs)) return 1;
    if (all) {
        for (int c = 0; c < m_numCameras && c < kMaxCameras; ++c) ProgramTrigger(c);
    } else {
        ProgramTrigger(camera);
    }
    CORVOS::ReleaseMutex(m_objectMutex);
    return 1;
}

void CIGrabGev::ProgramTrigger(int c) {
    CMutexHold lock(m_grabLock, INFINITE);
    CICamera* cam = m_camera[c];
    if (cam == nullptr) return;
    const TriggerMethod method = m_cam[m_asyncMode ? c : 0].triggerMethod;
    switch (method) {
        case TRIGGER_FREE_RUN: {
            // Free-running: the camera times its own frames at 1000 / frame delay
            // per second, capped by the station's maximum trigger frequency; the
            // delay then follows the rate the camera actually took.
            const bool marlo = CameraNameContains(c, "Marlo");
            if (!marlo) cam->SetAcqParam(kParamTriggerSource, 6.0, 0);
            cam->SetAcqParam(kParamTriggerMode, marlo ? 0.0 : 1.0, 0);
            const UINT delay = IsTiling() ? m_cam[0].frameDelay : m_cam[c].frameDelay;
            if (delay == 0) break;
            double rate = 1000.0 / delay;
            if (rate < kFreeRunRateLimit) {
                if (m_maxTrigFreq > 0 && rate > m_maxTrigFreq) rate = m_maxTrigFreq;
                cam->SetAcqParam(kParamFrameRate, rate, 0);
                const double taken = cam->GetStoredVal(kParamFrameRate, 0);
                if (taken > 0.0) m_cam[c].frameDelay = static_cast<UINT>(1000.0 / taken);
            }
            break;
        }
        case TRIGGER_HARDWARE: {
            cam->SetStoredVal(kParamTriggerMode, 1.0, 0);
            // These cameras take their trigger on line 1.
            if (Contains(CameraText(m_camera[0], kParamModel), "VEX-")) m_hwTriggerSource = 1;
            cam->SetAcqParam(kParamTriggerSource, static_cast<double>(m_hwTriggerSource), 0);
            cam->SetAcqParam(kParamTrigScaler, 0.0, 0);
            double debounce = 0.0;
            cam->GetAcqParam(kParamDebounce, &debounce, 1);
            if (debounce < 200.0) cam->SetAcqParam(kParamDebounce, 200.0, 1);
            break;
        }
        case TRIGGER_SOFTWARE:
            cam->SetAcqParam(kParamTriggerMode, 1.0, 0);
            cam->SetAcqParam(kParamTriggerSource, 0.0, 0);
            break;
        default: break;
    }
}

int CIGrabGev::SetFrameDelay(UINT delay) {
    if (!CIGrab::SetFrameDelay(delay)) return 0;
    if (m_asyncMode) {
        m_cam[ParamCamera()].frameDelay = m_frameDelay;
    } else {
        for (CameraSettings& settings : m_cam) settings.frameDelay = m_frameDelay;
    }
    const int wasRunning = m_running;
    if (wasRunning) Stop();
    SetTriggerSource(m_clientActiveCamera);
    if (wasRunning) Start();
    return 1;
}

UINT CIGrabGev::GetFrameDelay() { return m_cam[ParamCamera()].frameDelay; }

// Trigger-scaler lines count eight per USB module, of which channels 0 to 3 exist.
void CIGrabGev::SetTrigScaler(int value, int line) {
    if (line < 0 || line / 8 >= kMaxUsbModules || line % 8 >= 4) return;
    CICapMod* usb = m_usbModule[line / 8];
    if (usb == nullptr) return;
    CICamera* channel = usb->GetCam(static_cast<ULONG>(line % 8));
    if (channel == nullptr || usb->GetModuleInfo() < kUsbTrigScalerFirmware) return;
    channel->SetAcqParam(kParamTrigScaler, static_cast<double>(value), 0);
}

int CIGrabGev::GetTrigScaler(int line) {
    if (line < 0 || line / 8 >= kMaxUsbModules || line % 8 >= 4) return 1;
    CICapMod* usb = m_usbModule[line / 8];
    if (usb == nullptr) return 1;
    CICamera* channel = usb->GetCam(static_cast<ULONG>(line % 8));
    if (channel == nullptr || usb->GetModuleInfo() < kUsbTrigScalerFirmware) return 1;
    double value = 0.0;
    channel->GetAcqParam(kParamTrigScaler, &value, 0);
    return static_cast<int>(value);
}

int CIGrabGev::SetImageColor(IFW_IMAGE_COLOR_TYPE type) {
    if (type == m_imageColor) return 1;
    const int wasRunning = m_running;
    if (wasRunning) Stop();
    const int result = CIGrab::SetImageColor(type);
    if (wasRunning) Start();
    return result;
}

UINT CIGrabGev::GetExternalTriggerDelay() { return m_cam[ParamCamera()].triggerDelay; }

int CIGrabGev::GetExternalTriggerDelayEnable() { return m_cam[ParamCamera()].triggerDelayEnable; }

UINT CIGrabGev::GetPartsBetweenSensors() { return m_partsBetweenSensors; }

// ---- Registers ----------------------------------------------------------------

// Low registers belong to the station's I/O controller; registers above its
// range are the camera module's.
ULONG CIGrabGev::ReadReg(ULONG reg) {
    const ULONG limit = m_rcsModule != nullptr ? 0x30000 : 0x100;
    if (reg > limit) {
        CMutexHold lock(m_grabLock, INFINITE);
        if (m_camModule[0] != nullptr) return m_camModule[0]->GetModuleParam(reg);
    }
    for (CICapMod* module : {m_trxModule, m_rcsModule, m_gioModule, m_usbModule[0]}) {
        if (module != nullptr) return module->GetModuleParam(reg);
    }
    return 0;
}

void CIGrabGev::WriteReg(ULONG reg, ULONG value) {
    const ULONG limit = m_rcsModule != nullptr ? 0x30000 : 0x100;
    if (reg > limit) {
        CMutexHold lock(m_grabLock, INFINITE);
        if (m_camModule[0] != nullptr) {
            m_camModule[0]->SetModuleParam(reg, value);
            return;
        }
    }
    for (CICapMod* module : {m_trxModule, m_rcsModule, m_gioModule, m_usbModule[0]}) {
        if (module != nullptr) {
            module->SetModuleParam(reg, value);
            return;
        }
    }
}

// ---- Gain conversions -----------------------------------------------------------

// Bayer cameras carry their gains as plain factors with a limited range (blue
// at three quarters); monochrome and colour-pixel cameras in decibels.
double CIGrabGev::Count2Gain(ULONG number, double count, double maximum) {
    double gain = count / maximum;
    if (m_bayerCode == 0) return gain;
    if (number == 79) gain *= 0.75;
    return gain > 1.5 ? 1.5 : gain;
}

double CIGrabGev::Decibel2Gain(double decibels) {
    if (m_bayerCode == 0) return std::pow(10.0, decibels / 20.0);
    if (CameraNameContains(0, "Marlo") || CameraNameContains(0, "Wren")) return decibels;
    return decibels / 1.5;
}

double CIGrabGev::Gain2Decibel(double gain) {
    if (m_bayerCode == 0) return 20.0 * std::log10(gain);
    if (CameraNameContains(0, "Marlo") || CameraNameContains(0, "Wren")) return gain;
    return gain * 1.5;
}

// ---- Result-output script lines -------------------------------------------------

int CIGrabGev::GetBaseEquation(int index, char* text) {
    if (text == nullptr) return 0;
    text[0] = '\0';
    if (index < 0) return 0;
    const bool async = m_asyncMode != 0 && m_numCameras > 1;
    const int q = index % 4;
    const int c = index / 4 + 1;
    const char* op = q == 2 ? "!=" : "=";

    // One block of four lines per camera: select the camera's result, pulse
    // the pass and fail outputs, close the block.
    auto cameraBlock = [&](int output) {
        if (index >= m_numCameras * 4) return;
        if (q == 0) std::sprintf(text, "if ( CameraSrcId = %d)", index / 4);
        else if (q == 3) std::strcpy(text, "endif");
        else std::sprintf(text, "if ([Camera 0%d.Result] %s 3) Global.GPO[%d] = pulse( 1, 0, 5)", c, op, output);
    };

    if (m_qbmModule != nullptr && (m_qbmModule->GetModuleInfo() & 1) != 0) {
        if (async) {
            cameraBlock(index / 2 == 3 ? 4 : index / 2);
        } else {
            static const char* const kFixed[] = {
                "if (Result.0=3) Global.GPO[6] = pulse( 1, 0 , 5)",
                "if (Result.0=2) Global.GPO[5] = pulse( 1, 0 , 5)",
                "if (Result.0=1) Global.GPO[4] = pulse( 1, 0 , 5)",
            };
            if (index < 3) std::strcpy(text, kFixed[index]);
        }
        return text[0] != '\0' ? 1 : 0;
    }

    // Controllers with a decision queue take their results without a script.
    if (m_trxModule != nullptr || m_rcsModule != nullptr || m_usbModule[0] != nullptr ||
        CameraNameContains(0, "VEX-") || CameraNameContains(0, "Wren"))
        return 0;

    int base = 0;
    if (m_gioModule != nullptr &&
        ((m_gioModule->GetModuleInfo() & 1) != 0 || std::strcmp(m_gioModule->ModName(), "LXP") == 0))
        base = 1;
    if (async) {
        cameraBlock(base + index / 2);
    } else if (index < 2) {
        std::sprintf(text, "if (Result.0 %s 3) Global.GPO[%d] = pulse( 1, 0, 5)", index % 2 ? "!=" : "=", base + index);
    }
    return text[0] != '\0' ? 1 : 0;
}
