// CIGrabLX2 station I/O: the lines it reports, solution select and the
// solution-strobe interrupt, decision outputs, plain outputs and LEDs, board
// timed pulses, per-line configuration, the parts-between-sensors counters,
// input-active callbacks and the serial ports of the board's channels.
#include <kiru/cigrab_lx2.h>
#include <kiru/pulse_timers.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "backends/board/board_support.h"
#include "backends/board/lx2_params.h"
#include "capture/camera.h"
#include "capture/module.h"

using namespace kiru::lx2;

namespace {

constexpr ULONG kLimitAll = 0xFFFFFF;
constexpr ULONG kInputChangeLines = 8;
constexpr ULONG kInputChangeNamesSize = 97;

// The solution number of an input word: bits 3 to 7, and with six solution
// bits bit 2 as the sixth.
UINT SolutionOf(ULONG word, int bits) {
    UINT solution = (word >> 3) & 31u;
    if (bits == 6) solution |= ((word >> 2) & 1u) << 5;
    return solution;
}

void Name(char* field, const char* format, ULONG value) { std::snprintf(field, 16, format, static_cast<int>(value)); }

}  // namespace

// ---- Inputs and solution select -----------------------------------------------------

UINT CIGrabLX2::GetGPInputValue(int all) {
    if (!m_initialized) {
        Fail("CIGrabLX2", "GetGPInputValue", "Grab not initialized");
        return 0;
    }
    if (m_module == nullptr) return 0;
    ULONG word = m_module->ReadInputPort(0) & 0xFFFFu;
    // The "HVQ" board's inputs are active low.
    if (!IsLxp()) word ^= 255u;
    return all != 0 ? word : SolutionOf(word, m_hwSolutionIdBits);
}

void CIGrabLX2::ChangeSolutionThunk(void* self) { static_cast<CIGrabLX2*>(self)->ChangeSolutionInterrupt(); }
void CIGrabLX2::CounterAThunk(void* self) { ++static_cast<CIGrabLX2*>(self)->m_counterA; }
void CIGrabLX2::CounterBThunk(void* self) { ++static_cast<CIGrabLX2*>(self)->m_counterB; }

void CIGrabLX2::ChangeSolutionInterrupt() {
    if (m_module != nullptr) {
        const UINT solution = SolutionOf(m_module->ReadInputPort(0) & 0xFFFFu, m_hwSolutionIdBits);
        if (m_changeSolutionCallback != nullptr && m_hwSolutionIdBits >= 1) {
            // The acknowledge output is high while the client changes over.
            m_module->WriteOutputPort(1, kPortSolutionAck);
            m_changeSolutionCallback(nullptr, solution, 0, m_changeSolutionContext);
            m_module->WriteOutputPort(0, kPortSolutionAck);
        }
    }
    __atomic_store_n(&m_solutionChangeHandled, 1, __ATOMIC_RELEASE);
}

int CIGrabLX2::GetGpioAttr(IFW_GPIO_ATTR* attr) {
    if (attr == nullptr) return 1;
    std::memset(attr, 0, sizeof *attr);
    const int bits = m_hwSolutionIdBits < 0 ? 0 : (m_hwSolutionIdBits > 8 ? 8 : m_hwSolutionIdBits);
    attr->extraInputs = 0;
    attr->numInputs = 8 - static_cast<ULONG>(bits);
    attr->extraOutputs = 4;
    attr->numOutputs = 8;
    attr->platformTagA = 5;
    attr->platformTagB = 6;
    attr->solutionBits = static_cast<ULONG>(m_hwSolutionIdBits);
    auto in = [attr](ULONG i, const char* name, ULONG flags, ULONG debounce, float threshold) {
        attr->inputs[i].flags = flags;
        attr->inputs[i].debounceLimit = debounce;
        attr->inputs[i].thresholdLimit = threshold;
        Name(attr->inputs[i].name, name, i);
    };
    auto out = [attr](ULONG i, const char* name, ULONG flags, ULONG l1, ULONG l2, ULONG l3) {
        attr->outputs[i].flags = flags;
        attr->outputs[i].limit1 = l1;
        attr->outputs[i].limit2 = l2;
        attr->outputs[i].limit3 = l3;
        Name(attr->outputs[i].name, name, i);
    };
    const char* fixedInputs[3] = {"Trigger", "Solution Strobe", "Reject Sensor"};
    for (ULONG i = 0; i < attr->numInputs; ++i) {
        if (i < 3)
            in(i, fixedInputs[i], i == 1 ? 0 : 3, i == 1 ? 0 : 65535, 0.0f);
        else
            in(i, "IN%d", 0, 0, 18.0f);
    }
    out(0, "Strobe", 34, 0, 65535000, 65535000);
    out(1, "Decision 0", 23, 0, kLimitAll, kLimitAll);
    out(2, "Decision 1", 23, 0, kLimitAll, kLimitAll);
    out(3, "Acq Ready", 0, 0, 0, 0);
    for (ULONG i = 4; i < 8; ++i) out(i, "OUT%d", 143, 0, kLimitAll, kLimitAll);
    return 1;
}

ULONG CIGrabLX2::GetInputChangeNames(char* names) {
    if (names != nullptr) {
        char* p = names;
        for (ULONG i = 0; i < kInputChangeLines; ++i) p += std::sprintf(p, "GPI%lu Rising", static_cast<unsigned long>(i)) + 1;
        *p = '\0';
    }
    return kInputChangeNamesSize;
}

// ---- Decisions ------------------------------------------------------------------------

namespace {

// The decision pattern on ports 7, 8 and 9 of an "LXP" board.
void WriteDecision(CICapMod* module, ULONG first, ULONG second, ULONG third) {
    module->WriteOutputPort(first, kPortDecision[0]);
    module->WriteOutputPort(second, kPortDecision[1]);
    module->WriteOutputPort(third, kPortDecision[2]);
}

}  // namespace

int CIGrabLX2::SetPass(ULONG camera) {
    if (!CIGrab::SetPass(camera)) return 0;
    if (IsLxp()) WriteDecision(m_module, 0, 0, 1);
    return 1;
}

int CIGrabLX2::SetFail(ULONG camera) {
    if (!CIGrab::SetFail(camera)) return 0;
    if (IsLxp()) WriteDecision(m_module, 1, 0, 0);
    return 1;
}

int CIGrabLX2::SetRecycle(ULONG camera) {
    if (!CIGrab::SetRecycle(camera)) return 0;
    if (IsLxp()) WriteDecision(m_module, 0, 1, 0);
    return 1;
}

int CIGrabLX2::SetDecisionOutput(ULONG output, IFW_DECISION_OUTPUT_TYPE type) {
    if (!CIGrab::SetDecisionOutput(output, type) || output >= 3) return 0;
    static const IFW_GPO_DRIVER kDriver[3] = {IFW_GPO_DRIVER_PASS_QUEUED, IFW_GPO_DRIVER_FAIL_QUEUED,
                                              IFW_GPO_DRIVER_RECYCLE_QUEUED};
    const ULONG kind = static_cast<ULONG>(type);
    if (kind >= 3) return 0;
    m_gpoConfig[output + 1].Driver = kDriver[kind];
    return 1;
}

int CIGrabLX2::SetDummyDecisionFIFO(UINT count, UINT every) {
    if (!CIGrab::SetDummyDecisionFIFO(count, every) || !IsLxp()) return 0;
    m_dummyDecisions = m_appRunning ? 0 : count;
    return 1;
}

// ---- Outputs --------------------------------------------------------------------------

void CIGrabLX2::WriteOutputBit(UINT line, int value) {
    if (m_module == nullptr || line >= 32) return;
    bool on = value != 0;
    if (m_outputsInverted) on = !on;
    const ULONG mask = 1u << line;
    const ULONG word = m_module->GetModuleParam(kOutputRegister);
    if (((word & mask) != 0) == on) return;
    m_module->SetModuleParam(kOutputRegister, on ? (word | mask) : (word & ~mask));
}

int CIGrabLX2::SetOutputPort(UINT port, int value) {
    if (!CIGrab::SetOutputPort(port, value) || m_module == nullptr) return 0;
    WriteOutputBit(port, value);
    return 1;
}

void CIGrabLX2::SetAcqReady(int ready) { SetOutputPort(3, ready); }

int CIGrabLX2::ToggleLed(ULONG led) {
    if (!CIGrab::ToggleLed(led)) return 0;
    if (led != 1 && led != 2) return 1;
    const int state = m_ledState[led - 1].fetch_xor(1) ^ 1;
    if (m_module != nullptr) m_module->WriteOutputPort(static_cast<ULONG>(state), led == 1 ? kPortLed1 : kPortLed2);
    return 1;
}

int CIGrabLX2::GeneratePulseOutPort(UINT port, int count, double onTimeMs, double offTimeMs) {
    if (m_module == nullptr || port >= 32) return 0;
    CVixnPulseTimer** slot = nullptr;
    for (CVixnPulseTimer*& timer : m_pulseTimers)
        if (timer == nullptr) {
            slot = &timer;
            break;
        }
    if (slot == nullptr) {
        for (CVixnPulseTimer*& timer : m_pulseTimers)
            if (timer->Done() == 1) {
                delete timer;
                timer = nullptr;
                slot = &timer;
                break;
            }
    }
    if (slot == nullptr) return 0;
    *slot = new CVixnPulseTimer(m_module, port, static_cast<ULONG>(count), onTimeMs, offTimeMs);
    (*slot)->Create();
    return 1;
}

// ---- Line configuration -------------------------------------------------------------

void CIGrabLX2::SetGPIConfig(ULONG line, IFW_GPI_CONFIG* cfg) {
    CIGrab::SetGPIConfig(line, cfg);
    if (line >= 32 || cfg == nullptr) return;
    const IFW_GPI_CONFIG& c = m_gpiConfig[line];
    if (line == 0) {
        SetParam(kTriggerPolarity, c.Polarity != 0 ? 1.0 : 0.0);
        SetParam(kTriggerDebounce, c.Debounce);
    } else if (line == 2) {
        SetParam(kRejectSensorDebounce, c.Debounce);
    }
}

void CIGrabLX2::SetGPOConfig(ULONG line, IFW_GPO_CONFIG* cfg) {
    CIGrab::SetGPOConfig(line, cfg);
    if (line >= 32 || cfg == nullptr) return;
    const IFW_GPO_CONFIG& c = m_gpoConfig[line];
    if (line == 0) {
        SetParam(kStrobePolarity, c.Polarity != 0 ? 1.0 : 0.0);
    } else if ((line == 1 || line == 2) && IsLxp()) {
        const DecisionParams& p = kDecision[line - 1];
        const bool wasRunning = m_running != 0;
        if (wasRunning) Stop();
        const bool plain = c.Driver == IFW_GPO_DRIVER_PLAIN || (c.Driver >= IFW_GPO_DRIVER_PASS_IMMEDIATE &&
                                                               c.Driver <= IFW_GPO_DRIVER_RECYCLE_IMMEDIATE);
        SetParam(kDecisionReset, 0.0);
        SetParam(kDecisionReset, 1.0);
        SetParam(p.enable, 1.0);
        SetParam(p.mode, plain ? 0.0 : 1.0);
        SetParam(p.fail, c.Driver == IFW_GPO_DRIVER_FAIL_QUEUED ? 2.0 : 0.0);
        SetParam(p.polarity, c.Polarity != 0 ? 1.0 : 0.0);
        SetParam(p.delay, c.Offset);
        SetParam(p.width, c.Duration);
        if (wasRunning) Start();
    } else if (line >= 4 && line <= 7 && c.Driver >= IFW_GPO_DRIVER_PASS_IMMEDIATE &&
               c.Driver <= IFW_GPO_DRIVER_RECYCLE_IMMEDIATE) {
        // An immediate-decision line rests at its inactive level.
        SetOutputPort(line, c.Polarity == 0);
    }
}

// ---- Parts between sensors ------------------------------------------------------------

int CIGrabLX2::SetPartsBetweenSensors(UINT parts) {
    m_counterA = static_cast<int>(parts);
    m_counterB = 0;
    return 1;
}

UINT CIGrabLX2::GetPartsBetweenSensors() {
    const int a = m_counterA.load();
    const int b = m_counterB.load();
    return a > b ? static_cast<UINT>(a - b) : 0;
}

// ---- Input-active callbacks -------------------------------------------------------------

void* CIGrabLX2::CreateInputActiveCallback(UINT input, IFW_INPUT_ACTIVE_CALLBACK fn, void* context) {
    if (m_module == nullptr || input >= kInputChangeLines) return nullptr;
    return kiru::board::AddInputActive(m_inputNodes, m_module, kEventTrigger + input, input, fn, context);
}

void CIGrabLX2::DeleteInputActiveCallback(void* node) { kiru::board::RemoveInputActive(m_inputNodes, m_module, node); }

// ---- Serial ports ---------------------------------------------------------------------

int CIGrabLX2::SetActiveCommPort(int port) {
    if (!CIGrab::SetActiveCommPort(port) || m_camera == nullptr) return 0;
    // The port is chosen by the write; the stored value stays as it was.
    const double saved = m_camera->GetStoredVal(kSerialPort);
    SetParam(kSerialPort, port + 1.0);
    m_camera->SetStoredVal(kSerialPort, saved);
    return 1;
}

int CIGrabLX2::GetCommPortNum(int port, IFW_COMPORT_KIND kind) {
    if (kind == IFW_COMPORT_KIND_1) return 1;
    if (kind != IFW_COMPORT_KIND_0) return 0;
    if (!m_initialized) return Fail("CIGrabLX2", "GetCommPortNum", "Grab not initialized");
    if (m_module == nullptr || port < 0) return 4;
    CICamera* channel = m_module->GetCam(static_cast<ULONG>(port));
    ORV_PORT_INFO info{};
    if (channel == nullptr || !channel->GetPortInfo(&info, 0)) return 4;
    info.DeviceName[sizeof info.DeviceName - 1] = '\0';
    if (strncasecmp(info.DeviceName, "COM", 3) != 0 || !std::isdigit(static_cast<unsigned char>(info.DeviceName[3])))
        return 4;
    return info.DeviceName[3] - '0';
}
