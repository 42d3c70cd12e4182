// CIGrabGev: decisions and outputs. A verdict becomes immediate software
// pulses on lines driven by that decision, bits in the result words that the
// I/O controllers' decision queues release on their own timing, and "RCS"
// pulse generators timed from the frame's arrival. Plain outputs, LEDs, the
// "QBM" board's timed pulses, strobes and the external trigger delay live
// here too.
#include <kiru/cigrab_gev.h>
#include <kiru/pulse_timers.h>

#include <cstring>

#include "backends/board/board_support.h"
#include "backends/gev/gev_atomic.h"
#include "backends/gev/gev_lines.h"
#include "capture/camera.h"
#include "capture/module.h"
#include "capture/orv_types.h"
#include "capture/rcs.h"
#include "platform/clock.h"

using kiru::gev::Load;
using kiru::gev::Store;

namespace {

constexpr ULONG kCamExposure = 0x4000;
constexpr ULONG kCamTriggerDelay = 16390;
constexpr ULONG kCamStrobeEnable = 16393;
constexpr ULONG kCamStrobeMode = 16394;
constexpr ULONG kCamStrobeOffset = 16396;
constexpr ULONG kCamStrobeDuration = 16397;
constexpr ULONG kChStrobeEnable = 60;
constexpr ULONG kChStrobeSource = 2;

// Stops a running grab for the life of the guard and starts it again after.
class RestartGuard {
public:
    RestartGuard(CIGrabGev& grab, bool running, bool wanted) : m_grab(grab), m_restart(running && wanted) {
        if (m_restart) m_grab.Stop();
    }
    ~RestartGuard() {
        if (m_restart) m_grab.Start();
    }

private:
    CIGrabGev& m_grab;
    bool m_restart;
};

}  // namespace

// ---- Verdicts -----------------------------------------------------------------------

void CIGrabGev::PulseLine(ULONG line) {
    const IFW_GPO_CONFIG& c = m_gpoConfig[line];
    // Whole milliseconds, as the controllers' software pulses take them.
    GeneratePulseOutPort(line, c.Polarity == 1 ? 1 : 0, static_cast<double>(c.Offset / 1000),
                         static_cast<double>(c.Duration / 1000));
}

int CIGrabGev::Decide(const char*, IFW_GPO_DRIVER queued, IFW_GPO_DRIVER immediate, const ULONG pattern[3]) {
    const int current = Load(m_currentCamera);
    const bool async = m_asyncMode != 0;
    if (GioBasic()) {
        for (ULONG i = 0; i < 3; ++i) m_gioModule->WriteOutputPort(pattern[i], 8 + i);
    } else if (m_usbModule[0] == nullptr) {
        IFW_GPIO_ATTR attr;
        GetGpioAttr(&attr);
        const ULONG end = m_firstCamOutput + 2 * static_cast<ULONG>(m_numCameras);
        for (ULONG line = 0; line < end && line < 32; ++line)
            if (m_gpoConfig[line].Driver == immediate && (!async || static_cast<int>(line / 2) == current))
                PulseLine(line);
    } else {
        for (ULONG k = 0; k < kMaxUsbModules; ++k) {
            if (m_usbModule[k] == nullptr) continue;
            for (ULONG c = 0; c < 4; ++c)
                for (ULONG j = 0; j < 2; ++j) {
                    const ULONG line = 12 * k + 2 * c + j;
                    if (line < 32 && m_gpoConfig[line].Driver == immediate &&
                        (!async || static_cast<int>(4 * k + c) == current))
                        PulseLine(line);
                }
        }
    }
    EnqueueResultKind(queued);
    return 1;
}

int CIGrabGev::SetPass(ULONG unused) {
    if (!CIGrab::SetPass(unused)) return 0;
    static const ULONG kPattern[3] = {0, 0, 1};
    return Decide("SetPass", IFW_GPO_DRIVER_PASS_QUEUED, IFW_GPO_DRIVER_PASS_IMMEDIATE, kPattern);
}

int CIGrabGev::SetRecycle(ULONG unused) {
    if (!CIGrab::SetRecycle(unused)) return 0;
    static const ULONG kPattern[3] = {0, 1, 0};
    return Decide("SetRecycle", IFW_GPO_DRIVER_RECYCLE_QUEUED, IFW_GPO_DRIVER_RECYCLE_IMMEDIATE, kPattern);
}

int CIGrabGev::SetFail(ULONG unused) {
    if (!CIGrab::SetFail(unused)) return 0;
    static const ULONG kPattern[3] = {1, 0, 0};
    return Decide("SetFail", IFW_GPO_DRIVER_FAIL_QUEUED, IFW_GPO_DRIVER_FAIL_IMMEDIATE, kPattern);
}

void CIGrabGev::EnqueueResultKind(IFW_GPO_DRIVER kind) {
    const bool usb = m_usbModule[0] != nullptr;
    const ULONG lines = usb ? 2 : 4, channels = usb ? 4 : 2;
    const int current = Load(m_currentCamera);
    auto mark = [this](ULONG word, ULONG bit) {
        if (word < 16) Store(m_results[word], Load(m_results[word]) | (1u << bit));
    };
    if (m_asyncMode) {
        const bool present = usb ? (current >= 0 && current < 4 * kMaxUsbModules && m_usbModule[current / 4] != nullptr)
                                 : (current == 0 || current == 1);
        if (present) {
            const ULONG cam = static_cast<ULONG>(current);
            for (ULONG j = 0; j < lines; ++j) {
                const ULONG line = 12 * (cam / 4) + (cam % 4) * lines + j;
                if (line < 32 && m_gpoConfig[line].Driver == kind) mark(cam, j);
            }
        }
    } else {
        for (ULONG k = 0; k < kMaxUsbModules; ++k) {
            if (k > 0 && m_usbModule[k] == nullptr) continue;
            for (ULONG c = 0; c < channels; ++c)
                for (ULONG j = 0; j < lines; ++j) {
                    const ULONG line = 12 * k + c * lines + j;
                    if (line < 32 && m_gpoConfig[line].Driver == kind) mark(4 * k + c, j);
                }
        }
    }
    if (m_rcsModule != nullptr) {
        auto* rcs = static_cast<CRCS*>(m_rcsModule);
        const int frameCamera = current >= 0 && current < kMaxCameras ? current : 0;
        for (ULONG line = 0; line < 8; ++line) {
            if (m_gpoConfig[line].Driver != kind || m_pulseGen[line] == nullptr) continue;
            if (m_asyncMode && static_cast<int>(line / 4) != current) continue;
            const ULONG slot = GetParamIndex(kCamExposure);
            const double exposure = Load(m_paramValue[line / 4][slot][0]);
            const double time = Load(m_arrivalTime[frameCamera]) + m_gpoConfig[line].Offset - exposure;
            rcs->SetPulseGenTime(m_pulseGen[line], time, 0);
        }
    }
}

void CIGrabGev::EnqueueResult() {
    const int current = Load(m_currentCamera);
    auto skip = [&](int channel) { return m_asyncMode != 0 && channel != current; };
    if (m_trxModule != nullptr) {
        for (int ch = 0; ch < 2; ++ch) {
            if (skip(ch)) continue;
            if (auto* cam = static_cast<CTRXCam*>(m_trxModule->GetCam(static_cast<ULONG>(ch))))
                cam->AdvancedIOEnqueueDecision(Load(m_results[ch]));
        }
        return;
    }
    for (int k = 0; k < kMaxUsbModules; ++k) {
        if (m_usbModule[k] == nullptr) continue;
        for (int c = 0; c < 4; ++c) {
            if (skip(4 * k + c)) continue;
            if (auto* cam = static_cast<CUSBCam*>(m_usbModule[k]->GetCam(static_cast<ULONG>(c))))
                cam->AdvancedIOEnqueueDecision(Load(m_results[4 * k + c]));
        }
    }
}

int CIGrabGev::SetPulse(int line, int on) {
    CIGrab::SetPulse(line, on);
    if (line < 0 || line >= 32) return 1;
    const ULONG slot = static_cast<ULONG>(line) / 12, sub = static_cast<ULONG>(line) % 12;
    const ULONG lines = m_usbModule[0] != nullptr ? 2 : 4;
    if (sub < 8 && m_gpoConfig[line].Driver == IFW_GPO_DRIVER_PULSE_QUEUED) {
        const ULONG word = 4 * slot + sub / lines, bit = 1u << (sub % lines);
        const ULONG value = Load(m_results[word]);
        Store(m_results[word], on ? (value | bit) : (value & ~bit));
    }
    return 1;
}

int CIGrabGev::SetDecisionOutput(ULONG output, IFW_DECISION_OUTPUT_TYPE type) {
    if (!CIGrab::SetDecisionOutput(output, type)) return 0;
    return output <= 2 ? 1 : 0;
}

int CIGrabGev::SetDummyDecisionFIFO(UINT count, UINT unused) {
    if (!CIGrab::SetDummyDecisionFIFO(count, unused)) return 0;
    auto restart = [](CICamera* ch) {
        if (auto* io = static_cast<CAdvancedIOCam*>(ch)) {
            io->AdvancedIOStop();
            io->AdvancedIOStart();
        }
    };
    if (m_trxModule != nullptr)
        for (ULONG ch = 0; ch < 2; ++ch) restart(m_trxModule->GetCam(ch));
    for (CICapMod* usb : m_usbModule)
        if (usb != nullptr)
            for (ULONG ch = 0; ch < 4; ++ch) restart(usb->GetCam(ch));
    m_dummyDecisions = m_appRunning ? 0 : count;
    return 1;
}

// ---- Outputs ------------------------------------------------------------------------

int CIGrabGev::GeneratePulseOutPort(UINT port, int level, double offsetMs, double durationMs) {
    if (m_qbmModule == nullptr || port > 6) return CIGrab::GeneratePulseOutPort(port, level, offsetMs, durationMs);
    static const ULONG kBoardBit[7] = {11, 12, 9, 6, 5, 7, 8};
    CQB2PulseTimer** slot = kiru::board::ReclaimQb2Slot(Lines().timers, m_qbmModule);
    if (slot == nullptr) return 0;
    *slot = new CQB2PulseTimer(m_qbmModule, kBoardBit[port], static_cast<ULONG>(level), offsetMs, durationMs);
    (*slot)->Create();
    return 1;
}

int CIGrabGev::SetOutputPort(UINT port, int value) {
    if (!CIGrab::SetOutputPort(port, value)) return 0;
    const ULONG on = value != 0 ? 1 : 0;
    const ULONG ncam = static_cast<ULONG>(m_numCameras);
    IFW_GPIO_ATTR attr;
    GetGpioAttr(&attr);
    const ULONG first = m_firstCamOutput;
    auto cameraWrite = [&](ULONG camera, ULONG output) {
        if (camera < static_cast<ULONG>(kMaxCameras) && m_camModule[camera] != nullptr)
            m_camModule[camera]->WriteOutputPort(on, output);
        return 1;
    };
    if (m_gioModule != nullptr && (m_gioModule->GetModuleInfo() & 2) != 0 && port >= m_firstDciOutput &&
        port < m_firstDciOutput + 4) {
        m_gioModule->WriteOutputPort(on, port - m_firstDciOutput + 1);
        return 1;
    }
    if (NameContains("Marlo TS") && port >= first && port < first + 4 * ncam)
        return cameraWrite((port - first) / 4, (port - first) % 4);
    if (NameContains("Wren") && port >= first && port < first + 2 * ncam)
        return cameraWrite((port - first) / 2, (port - first) % 2);
    if (port >= first && port < first + ncam) return cameraWrite(port - first, m_strobeLine == 0 ? 1 : 0);
    if (port >= first + ncam && port < first + 2 * ncam)
        return cameraWrite(port - first - ncam, m_strobeLine == 0 ? 0 : 1);
    if (GioBasic()) {
        if (port >= 16) return 1;
        const ULONG bit = 1u << port;
        const ULONG image = on ? (m_gioOutputImage | bit) : (m_gioOutputImage & ~bit);
        if (image == m_gioOutputImage && m_gioOutputWritten) return 1;
        m_gioOutputImage = image & 0xFFFF;
        m_gioModule->WriteOutputPort(m_gioOutputImage, 0);
        m_gioOutputWritten = 1;
        return 1;
    }
    if (m_usbModule[0] != nullptr) {
        if (port / 12 < static_cast<UINT>(kMaxUsbModules) && m_usbModule[port / 12] != nullptr)
            m_usbModule[port / 12]->WriteOutputPort(on, port % 12 + 1);
        return 1;
    }
    if (m_trxModule != nullptr) {
        m_trxModule->WriteOutputPort(on, port + 1);
        return 1;
    }
    if (m_rcsModule == nullptr) {
        static const ULONG kQbmOutput[7] = {4, 5, 6, 7, 1, 3, 2};
        if (QbmBoard() && port < 7) m_qbmModule->WriteOutputPort(on, kQbmOutput[port]);
        return 1;
    }
    if (port >= 8 && port <= 10) m_rcsLedManual[port - 8] = 1;
    m_rcsModule->WriteOutputPort(on, port);
    return 1;
}

int CIGrabGev::ToggleLed(ULONG which) {
    if (!CIGrab::ToggleLed(which)) return 0;
    if (which != 1 && which != 2) return 1;
    int& state = which == 1 ? m_ledA : m_ledB;
    state = state ? 0 : 1;
    const ULONG on = static_cast<ULONG>(state);
    if (m_trxModule != nullptr) {
        m_trxModule->WriteOutputPort(on, which == 1 ? 15 : 16);
    } else if (m_rcsModule != nullptr) {
        if (!m_rcsLedManual[which - 1]) m_rcsModule->WriteOutputPort(on, which == 1 ? 8 : 9);
    } else if (GioBasic()) {
        m_gioModule->WriteOutputPort(on, which == 1 ? 5 : 6);
    } else if (QbmBoard()) {
        m_qbmModule->WriteOutputPort(on, which == 1 ? 32 : 33);
    }
    return 1;
}

int CIGrabGev::SetReady(int ready) { return CIGrab::SetReady(ready); }

int CIGrabGev::SetSolutionLoaded(int loaded, int number) {
    CIGrab::SetSolutionLoaded(loaded, number);
    return 1;
}

int CIGrabGev::SetRejectorPulseControl() {
    if (!CIGrab::SetRejectorPulseControl()) return 0;
    RestartGuard restart(*this, m_running != 0, true);
    if (m_camDouble[3] > 65.0) m_camDouble[3] = 65.0;
    return 1;
}

int CIGrabGev::SetPartsBetweenSensors(UINT parts) {
    CIGrab::SetPartsBetweenSensors(parts);
    return 1;
}

// ---- Strobe and trigger delay ------------------------------------------------------

int CIGrabGev::SetStrobeOffset(UINT offset) {
    if (!CIGrab::SetStrobeOffset(offset)) return 0;
    RestartGuard restart(*this, m_running != 0, NameContains("VEX-") || NameContains("Wren"));
    m_cam[ParamCamera()].strobeOffset = offset;
    SetCamParam(kCamStrobeOffset, m_strobeOffset < 1 ? 1.0 : static_cast<double>(m_strobeOffset), m_strobeLine);
    return 1;
}

int CIGrabGev::SetStrobeDuration(UINT duration) {
    if (!CIGrab::SetStrobeDuration(duration)) return 0;
    RestartGuard restart(*this, m_running != 0, NameContains("VEX-") || NameContains("Wren"));
    m_cam[ParamCamera()].strobeDuration = NameContains("VEX-") ? 0 : duration;
    SetCamParam(kCamStrobeDuration, duration, 0);
    return 1;
}

void CIGrabGev::ApplyControllerStrobe(ULONG flag) {
    const int active = m_clientActiveCamera;
    const bool allCameras = m_horzTiles > 1 || m_vertTiles > 1;
    auto each = [&](CICapMod* module, bool usbChannels, double source) {
        for (int c = 0; c < m_numCameras && c < kMaxCameras; ++c) {
            if (!allCameras && c != active) continue;
            if (CICamera* ch = module->GetCam(static_cast<ULONG>(usbChannels ? c % 4 : c))) {
                ch->SetAcqParam(kChStrobeEnable, flag, 0);
                ch->SetAcqParam(kChStrobeSource, source, 0);
            }
        }
    };
    if (active == 0 || active == 1) {
        if (GioBasic()) each(m_gioModule, false, 2.0);
        if (m_trxModule != nullptr) each(m_trxModule, false, 1.0);
        if (m_rcsModule != nullptr) each(m_rcsModule, false, 1.0);
    }
    if (active >= 0 && active / 4 < kMaxUsbModules && m_usbModule[active / 4] != nullptr)
        each(m_usbModule[active / 4], true, 1.0);
}

void CIGrabGev::SetStrobeEnable(int enable) {
    RestartGuard restart(*this, m_running != 0, NameContains("VEX-") || NameContains("Wren"));
    CIGrab::SetStrobeEnable(enable);
    m_cam[ParamCamera()].strobeEnable = enable;
    SetCamParam(kCamStrobeEnable, enable, m_strobeLine);
    SetCamParam(kCamStrobeMode, 1.0, m_strobeLine);
    if (QbmBoard()) {
        if (!enable) m_qbmModule->WriteOutputPort(static_cast<ULONG>(m_ledA), 32);
        SetCamParam(kCamStrobeEnable, 0.0, m_strobeLine ^ 1);
    }
    ApplyControllerStrobe(enable != 0 ? 1 : 0);
}

UINT CIGrabGev::GetStrobeOffset() { return m_cam[ParamCamera()].strobeOffset; }
UINT CIGrabGev::GetStrobeDuration() { return m_cam[ParamCamera()].strobeDuration; }
int CIGrabGev::GetStrobeEnable() { return m_cam[ParamCamera()].strobeEnable; }

int CIGrabGev::SetExternalTriggerDelay(UINT delay) {
    CIGrab::SetExternalTriggerDelay(delay);
    if (!m_initialized) return 0;
    RestartGuard restart(*this, m_running != 0, true);
    const int cam = ParamCamera();
    m_cam[cam].triggerDelay = m_extTriggerDelay;
    SetCamParam(kCamTriggerDelay, m_cam[cam].triggerDelayEnable ? m_cam[cam].triggerDelay * 1000.0 : 0.0, 0);
    if (m_clientActiveCamera == 0 || m_clientActiveCamera == 1) {
        // The controller's decision offset includes the delay.
        IFW_GPO_CONFIG cfg = m_gpoConfig[m_clientActiveCamera * 4];
        SetGPOConfig(static_cast<ULONG>(m_clientActiveCamera * 4), &cfg);
    }
    return 1;
}

int CIGrabGev::SetExternalTriggerDelayEnable(int enable) {
    CIGrab::SetExternalTriggerDelayEnable(enable);
    m_cam[ParamCamera()].triggerDelayEnable = enable;
    SetExternalTriggerDelay(m_cam[ParamCamera()].triggerDelay);
    return 1;
}
