// Inspection I/O of the common layer: stored values with their validation,
// trigger and strobe settings, decisions, the rejector, the software image of
// the output port and the per-line configuration records.
//
// Each rule is written once (the Common* helpers) and used by the IXGrab and
// CIGrab forms, which differ only in the class name of their messages.
#include <kiru/cigrab.h>

#include <cstring>

// ---- shared rules -------------------------------------------------------

int IXGrab::CommonSetBrightnessLike(const char* cls, const char* op, const char* reason, UINT& field, UINT value) {
    if (value > 100) return Fail(cls, op, reason);
    field = value;
    return CheckInitialized(cls, op);
}

// Delays of 0 are stored as 1; the value stays stored when the check fails.
int IXGrab::CommonStoreDelay(const char* cls, const char* op, UINT& field, UINT value) {
    field = value ? value : 1;
    return CheckInitialized(cls, op);
}

int IXGrab::CommonSetExternalTriggerDelay(const char* cls, UINT delay) {
    m_extTriggerDelay = delay ? delay : 1;
    if (!CheckInitialized(cls, "SetExternalTriggerDelay")) return 0;
    return m_extTriggerDelayEnabled ? 1 : 0;
}

int IXGrab::CommonSetRejectorDelay(const char* cls, UINT delay) {
    m_rejectorDelay = delay ? delay : 1;
    if (!CheckInitialized(cls, "SetRejectorDelay")) return 0;
    if (!m_rejectorEnabled) return Fail(cls, "SetRejectorDelay", "Rejector not enabled");
    return 1;
}

int IXGrab::CommonSetRecycleDelay(const char* cls, UINT delay) {
    m_recycleDelay = delay ? delay : 1;
    if (!CheckInitialized(cls, "SetRecycleDelay")) return 0;
    if (!m_recyclerEnabled) return Fail(cls, "SetRecycleDelay", "Recycler not enabled");
    return 1;
}

int IXGrab::CommonSetTriggerMethod(const char* cls, TriggerMethod method) {
    if (method != m_triggerMethod) {
        const int wasRunning = m_running;
        if (wasRunning && !Stop()) return 0;
        if (method == TRIGGER_FREE_RUN || method == TRIGGER_HARDWARE || method == TRIGGER_SOFTWARE) {
            m_triggerMethod = method;
            if (m_initialized) SetTriggerParams();
        } else {
            Fail(cls, "SetTriggerMethod", "No trigger method specified");
        }
        if (wasRunning) Start();
    }
    return CheckInitialized(cls, "SetTriggerMethod");
}

int IXGrab::CommonRejectorControl(const char* cls, int on) {
    if (!CheckInitialized(cls, "RejectorControl")) return 0;
    m_appRunning = on;
    return m_rejectorEnabled ? 1 : 0;
}

int IXGrab::CommonRejectorTestControl(const char* cls, int value) {
    if (!CheckInitialized(cls, "RejectorTestControl")) return 0;
    if (!m_rejectorEnabled) return 0;
    m_rejectorTestValue = value;
    if (m_running) Start();
    return 1;
}

// The port image is changed from client threads and from the scheduler
// thread, so bits are set and cleared atomically.
int IXGrab::CommonSetOutputPort(const char* cls, UINT port, int value) {
    if (!CheckInitialized(cls, "SetOutputPort")) return 0;
    const UINT bit = port % 32;
    if (bit < 16) {
        const UINT mask = 1u << bit;
        if (value) __atomic_fetch_or(&m_outputPortValue, mask, __ATOMIC_ACQ_REL);
        else __atomic_fetch_and(&m_outputPortValue, ~mask & 0xFFFFu, __ATOMIC_ACQ_REL);
    }
    return 1;
}

int IXGrab::CommonGetCamAttr(const char* cls, IFW_CAM_ATTR* attr) {
    if (!CheckInitialized(cls, "GetCamAttr")) return 0;
    if (attr == nullptr) return Fail(cls, "GetCamAttr", "Invalid argument");
    attr->width = GetWidth();
    attr->height = GetHeight();
    attr->bytesPerPixel = m_bytesPerPixel;
    attr->bitsPerPixel = m_bitsPerPixel;
    switch (m_imageColor) {
        case IFW_COLOR_PLANAR: attr->colorCode = 8; break;
        case IFW_COLOR_RGB32: attr->colorCode = 4; break;
        case IFW_COLOR_RGB24: attr->colorCode = 5; break;
        default: attr->colorCode = 0; break;
    }
    return 1;
}

int IXGrab::CommonDisplay(const char* cls, HWND window, unsigned char* image) {
    if (!CheckInitialized(cls, "Display")) return 0;
    if (!m_created) return Fail(cls, "Display", "Grab not created");
    if (window == nullptr || image == nullptr) return Fail(cls, "Display", "Invalid argument");
    return 1;
}

int IXGrab::CommonGetCommPortNum(const char* cls) {
    CheckInitialized(cls, "GetCommPortNum");
    return 0;
}

// ---- IXGrab forms -------------------------------------------------------

int IXGrab::SetContrast(UINT v) {
    return CommonSetBrightnessLike("IXGrab", "SetContrast", "Invalid contrast value", m_contrast, v);
}
int IXGrab::SetBrightness(UINT v) {
    return CommonSetBrightnessLike("IXGrab", "SetBrightness", "Invalid brightness value", m_brightness, v);
}
int IXGrab::SetExposure(double ms, int) {
    m_exposure = ms;
    return CheckInitialized("IXGrab", "SetExposure");
}
int IXGrab::SetFrameDelay(UINT d) { return CommonStoreDelay("IXGrab", "SetFrameDelay", m_frameDelay, d); }
int IXGrab::SetStrobeOffset(UINT d) { return CommonStoreDelay("IXGrab", "SetStrobeOffset", m_strobeOffset, d); }
int IXGrab::SetStrobeDuration(UINT d) {
    return CommonStoreDelay("IXGrab", "SetStrobeDuration", m_strobeDuration, d);
}
int IXGrab::SetRecycleDelay(UINT d) { return CommonSetRecycleDelay("IXGrab", d); }
int IXGrab::SetRejectorDelay(UINT d) { return CommonSetRejectorDelay("IXGrab", d); }
int IXGrab::SetExternalTriggerDelay(UINT d) { return CommonSetExternalTriggerDelay("IXGrab", d); }
int IXGrab::SetTriggerMethod(TriggerMethod m) { return CommonSetTriggerMethod("IXGrab", m); }

// Camera -1 means every camera; single cameras are the GigE back-end's.
int IXGrab::SetCamTriggerMethod(TriggerMethod m, int camera) {
    if (camera == -1) return SetTriggerMethod(m);
    return 1;
}

void IXGrab::SetStrobeEnable(int enable) {
    const int wasRunning = m_running;
    if (wasRunning) Stop();
    m_strobeEnabled = enable;
    SetTriggerParams();
    if (wasRunning) Start();
}

void IXGrab::GenerateManualTrigger(int) {}
int IXGrab::SetTriggerParams() { return CheckInitialized("IXGrab", "SetTriggerParams"); }
int IXGrab::SetRejectorPulseControl() { return CheckInitialized("IXGrab", "SetRejectorPulseControl"); }
int IXGrab::SetDummyDecisionFIFO(UINT, UINT) { return CheckInitialized("IXGrab", "SetDummyDecisionFIFO"); }
int IXGrab::SetGPO0() { return CheckInitialized("IXGrab", "SetGPO0"); }
int IXGrab::SetGPO1(UINT) { return CheckInitialized("IXGrab", "SetGPO1"); }
int IXGrab::SetReady(int) { return CheckInitialized("IXGrab", "SetReady"); }
int IXGrab::SetPass(ULONG) { return CheckInitialized("IXGrab", "SetPass"); }
int IXGrab::SetFail(ULONG) { return CheckInitialized("IXGrab", "SetFail"); }
int IXGrab::SetRecycle(ULONG) { return CheckInitialized("IXGrab", "SetRecycle"); }
int IXGrab::SetDecisionOutput(ULONG, IFW_DECISION_OUTPUT_TYPE) {
    return CheckInitialized("IXGrab", "SetDecisionOutput");
}
int IXGrab::SetOutputPort(UINT port, int value) { return CommonSetOutputPort("IXGrab", port, value); }
int IXGrab::SetActiveCommPort(int) { return CheckInitialized("IXGrab", "SetActiveCommPort"); }
int IXGrab::EmulationTrigger() { return CheckInitialized("IXGrab", "EmulationTrigger"); }
int IXGrab::ToggleLed(ULONG) { return CheckInitialized("IXGrab", "ToggleLed"); }
int IXGrab::RejectorControl(int on) { return CommonRejectorControl("IXGrab", on); }
int IXGrab::RejectorTestControl(int v) { return CommonRejectorTestControl("IXGrab", v); }
UINT IXGrab::GetGPInputValue(int) {
    CheckInitialized("IXGrab", "GetGPInputValue");
    return 0;
}
int IXGrab::GetCommPortNum(int, IFW_COMPORT_KIND) { return CommonGetCommPortNum("IXGrab"); }
int IXGrab::GenerateSoftTrigger(int) { return m_triggerMethod == TRIGGER_SOFTWARE ? 1 : 0; }
int IXGrab::GetCamAttr(IFW_CAM_ATTR* attr) { return CommonGetCamAttr("IXGrab", attr); }

UINT IXGrab::GetContrast() { return m_contrast; }
double IXGrab::GetExposure() { return m_exposure; }
UINT IXGrab::GetBrightness() { return m_brightness; }
UINT IXGrab::GetFrameDelay() { return m_frameDelay; }
UINT IXGrab::GetStrobeOffset() { return m_strobeOffset; }
UINT IXGrab::GetStrobeDuration() { return m_strobeDuration; }
int IXGrab::GetStrobeEnable() { return m_strobeEnabled; }
UINT IXGrab::GetExternalTriggerDelay() { return m_extTriggerDelay; }
int IXGrab::GetExternalTriggerDelayEnable() { return m_extTriggerDelayEnabled; }
int IXGrab::SetExternalTriggerDelayEnable(int enable) {
    m_extTriggerDelayEnabled = enable;
    return 1;
}
IXGrab::TriggerMethod IXGrab::GetTriggerMethod() { return m_triggerMethod; }

// Line records: out-of-range lines and null records are ignored.
void IXGrab::GetGPIConfig(ULONG line, IFW_GPI_CONFIG* cfg) {
    if (line >= 32 || cfg == nullptr) return;
    *cfg = m_gpiConfig[line];
    cfg->State = (GetGPInputValue(1) >> line) & 1u;
}

void IXGrab::SetGPIConfig(ULONG line, IFW_GPI_CONFIG* cfg) {
    if (line >= 32 || cfg == nullptr) return;
    m_gpiConfig[line] = *cfg;
}

void IXGrab::GetGPOConfig(ULONG line, IFW_GPO_CONFIG* cfg) {
    if (line >= 32 || cfg == nullptr) return;
    *cfg = m_gpoConfig[line];
}

void IXGrab::SetGPOConfig(ULONG line, IFW_GPO_CONFIG* cfg) {
    if (line >= 32 || cfg == nullptr) return;
    m_gpoConfig[line] = *cfg;
}

int IXGrab::GetGpioAttr(IFW_GPIO_ATTR* attr) {
    if (attr != nullptr) std::memset(attr, 0, sizeof *attr);
    return 1;
}

// ---- CIGrab forms -------------------------------------------------------

int CIGrab::SetContrast(UINT v) {
    return CommonSetBrightnessLike("CIGrab", "SetContrast", "Invalid contrast value", m_contrast, v);
}
int CIGrab::SetBrightness(UINT v) {
    return CommonSetBrightnessLike("CIGrab", "SetBrightness", "Invalid brightness value", m_brightness, v);
}
int CIGrab::SetExposure(double ms, int) {
    m_exposure = ms;
    return CheckInitialized("CIGrab", "SetExposure");
}
int CIGrab::SetFrameDelay(UINT d) { return CommonStoreDelay("CIGrab", "SetFrameDelay", m_frameDelay, d); }
int CIGrab::SetStrobeOffset(UINT d) { return CommonStoreDelay("CIGrab", "SetStrobeOffset", m_strobeOffset, d); }
int CIGrab::SetStrobeDuration(UINT d) {
    return CommonStoreDelay("CIGrab", "SetStrobeDuration", m_strobeDuration, d);
}
int CIGrab::SetRecycleDelay(UINT d) { return CommonSetRecycleDelay("CIGrab", d); }
int CIGrab::SetRejectorDelay(UINT d) { return CommonSetRejectorDelay("CIGrab", d); }
int CIGrab::SetExternalTriggerDelay(UINT d) { return CommonSetExternalTriggerDelay("CIGrab", d); }
int CIGrab::SetTriggerMethod(TriggerMethod m) { return CommonSetTriggerMethod("CIGrab", m); }
int CIGrab::SetTriggerParams() { return CheckInitialized("CIGrab", "SetTriggerParams"); }
int CIGrab::SetRejectorPulseControl() { return CheckInitialized("CIGrab", "SetRejectorPulseControl"); }
int CIGrab::SetDummyDecisionFIFO(UINT, UINT) { return CheckInitialized("CIGrab", "SetDummyDecisionFIFO"); }
int CIGrab::SetGPO0() { return CheckInitialized("CIGrab", "SetGPO0"); }
int CIGrab::SetGPO1(UINT) { return CheckInitialized("CIGrab", "SetGPO1"); }
int CIGrab::SetReady(int) { return CheckInitialized("CIGrab", "SetReady"); }
int CIGrab::SetPass(ULONG) { return CheckInitialized("CIGrab", "SetPass"); }
int CIGrab::SetFail(ULONG) { return CheckInitialized("CIGrab", "SetFail"); }
int CIGrab::SetRecycle(ULONG) { return CheckInitialized("CIGrab", "SetRecycle"); }
int CIGrab::SetDecisionOutput(ULONG, IFW_DECISION_OUTPUT_TYPE) {
    return CheckInitialized("CIGrab", "SetDecisionOutput");
}
int CIGrab::SetOutputPort(UINT port, int value) { return CommonSetOutputPort("CIGrab", port, value); }
int CIGrab::SetActiveCommPort(int) { return CheckInitialized("CIGrab", "SetActiveCommPort"); }
int CIGrab::EmulationTrigger() { return CheckInitialized("CIGrab", "EmulationTrigger"); }
int CIGrab::ToggleLed(ULONG) { return CheckInitialized("CIGrab", "ToggleLed"); }
int CIGrab::RejectorControl(int on) { return CommonRejectorControl("CIGrab", on); }
int CIGrab::RejectorTestControl(int v) { return CommonRejectorTestControl("CIGrab", v); }
UINT CIGrab::GetGPInputValue(int) {
    CheckInitialized("CIGrab", "GetGPInputValue");
    return 0;
}
int CIGrab::GetCommPortNum(int, IFW_COMPORT_KIND) { return CommonGetCommPortNum("CIGrab"); }
int CIGrab::GetCamAttr(IFW_CAM_ATTR* attr) { return CommonGetCamAttr("CIGrab", attr); }

int CIGrab::GetOutputPortVal(UINT port) {
    const UINT value = __atomic_load_n(&m_outputPortValue, __ATOMIC_ACQUIRE);
    return (value >> (port % 32)) & 1u;
}

UINT CIGrab::GetPartsBetweenSensors() { return m_partsBetweenSensors; }
int CIGrab::SetPartsBetweenSensors(UINT parts) {
    m_partsBetweenSensors = parts;
    return 1;
}
UINT CIGrab::GetRecycleDelay() { return m_recycleDelay; }
UINT CIGrab::GetRejectorDelay() { return m_rejectorDelay; }

int CIGrab::SetActiveCamera(int camera, int) {
    if (!CheckInitialized("CIGrab", "SetActiveCamera")) return 0;
    return camera < GetNumCameras() ? 1 : 0;
}

int CIGrab::IsCameraDetected(int camera) {
    if (!CheckInitialized("CIGrab", "IsCameraDetected")) return 0;
    if (camera < 0 || camera > 7) return 0;
    return m_cameraDetected[camera];
}

int CIGrab::Display(HWND window, unsigned char* image) { return CommonDisplay("CIGrab", window, image); }
char* CIGrab::GetErrorLog() { return nullptr; }
char* CIGrab::GetLastErrorMsg() { return m_lastError; }
unsigned char* CIGrab::AllocateNonPagedMem(ULONG) { return nullptr; }
void CIGrab::ReadCalib(unsigned char*, ULONG) {}
int CIGrab::IsGrabCreated() { return m_created; }
int CIGrab::IsIORunning() { return m_ioRunning; }
int CIGrab::IsAppRunning() { return m_appRunning; }
ULONG CIGrab::GetAcqThreadID() { return m_acqThreadId; }
