// CIGrabQB2 I/O and decisions: solution select, the line record, inputs and
// input-active callbacks, outputs and board-timed pulses, LEDs, decisions
// through the board's advanced-I/O queue, and the serial-port numbers.
#include <kiru/cigrab_qb2.h>
#include <kiru/pulse_timers.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "backends/board/board_support.h"
#include "backends/board/qb2_params.h"
#include "capture/camera.h"
#include "capture/module.h"
#include "platform/kernel.h"

using namespace kiru::qb2;

namespace {

constexpr ULONG kLimitAll = 0xFFFFFF;
constexpr UINT kInputChangeCount = 18;
constexpr DWORD kQueueRestartSettleMs = 1000;

// Register 37 bit of each solution bit.
constexpr ULONG kSolutionBitMap[7] = {0, 1, 8, 7, 2, 3, 10};
// Module event of each input-change name.
constexpr ULONG kInputEvents[kInputChangeCount] = {17, 18, 19, 20, 31, 32, 25, 26, 27, 28,
                                                   21, 22, 23, 24, 33, 34, 29, 30};
// Board bit of outputs 0 to 3.
constexpr ULONG kOutputBits[4] = {11, 12, 9, 6};
// Board port of outputs 4 to 6 (the decision outputs).
constexpr ULONG kDecisionPorts[3] = {1, 3, 2};

void Name(char* field, const char* format, int value) { std::snprintf(field, 16, format, value); }

}  // namespace

// ---- Solutions and inputs -----------------------------------------------------------

UINT CIGrabQB2::ReadSolutionNum() {
    if (m_module == nullptr) return 0;
    const ULONG reg = m_module->GetModuleParam(kSolutionRegister);
    UINT solution = 0;
    for (int i = 0; i < m_hwSolutionIdBits && i < 7; ++i)
        if ((reg >> kSolutionBitMap[i]) & 1u) solution |= 1u << i;
    return solution;
}

void CIGrabQB2::ChangeSolutionThunk(void* self) { static_cast<CIGrabQB2*>(self)->ChangeSolutionInterrupt(); }

void CIGrabQB2::ChangeSolutionInterrupt() {
    const UINT solution = ReadSolutionNum();
    if (m_changeSolutionCallback != nullptr && m_hwSolutionIdBits >= 1 && m_module != nullptr) {
        m_module->WriteOutputPort(0, kPortSolutionAck);
        m_changeSolutionCallback(nullptr, solution, 0, m_changeSolutionContext);
        m_module->WriteOutputPort(1, kPortSolutionAck);
    }
    __atomic_store_n(&m_solutionChangeHandled, 1, __ATOMIC_RELEASE);
}

UINT CIGrabQB2::GetGPInputValue(int all) {
    if (!m_initialized) {
        Fail("CIGrabQB2", "GetGPInputValue", "Grab not initialized");
        return 0;
    }
    if (all == 0) return ReadSolutionNum();
    return m_module != nullptr ? (m_module->ReadInputPort(0) & 0xFFFFu) : 0;
}

int CIGrabQB2::GetGpioAttr(IFW_GPIO_ATTR* attr) {
    if (attr == nullptr) return 1;
    std::memset(attr, 0, sizeof *attr);
    attr->extraInputs = m_hwSolutionIdBits > 3 ? static_cast<ULONG>(m_hwSolutionIdBits - 3) : 0;
    attr->numInputs = 8;
    for (int i = 0; i < 7; ++i) {
        IFW_GPIO_INPUT_ATTR& in = attr->inputs[i];
        in.flags = i == 0 || i == 4 ? 8 : 0;
        in.thresholdLimit = 18.0f;
        if (i < 4)
            Name(in.name, "IN%d", i);
        else
            Name(in.name, "SOL%d", i - 4);
    }
    attr->inputs[7].flags = 11;
    attr->inputs[7].debounceLimit = 65535;
    attr->inputs[7].thresholdLimit = 18.0f;
    std::snprintf(attr->inputs[7].name, 16, "Trig");
    attr->extraOutputs = 0;
    attr->numOutputs = 5;
    for (int i = 0; i < 4; ++i) {
        attr->outputs[i] = IFW_GPIO_OUTPUT_ATTR{143, 0, kLimitAll, kLimitAll, {}};
        Name(attr->outputs[i].name, "OUT%d", i);
    }
    attr->outputs[4] = IFW_GPIO_OUTPUT_ATTR{4, 0, kLimitAll, 1000000, {}};
    // The name fills its sixteen characters; it has no room for a terminator.
    std::memcpy(attr->outputs[4].name, "Decision Outputs", sizeof attr->outputs[4].name);
    attr->platformTagA = 3;
    attr->platformTagB = 7;
    attr->solutionBits = static_cast<ULONG>(m_hwSolutionIdBits);
    return 1;
}

ULONG CIGrabQB2::GetInputChangeNames(char* names) {
    std::string list = std::string("TRIG Rising") + '\0' + "TRIG Falling" + '\0';
    const char* lines[8] = {"IN0", "IN1", "IN2", "IN3", "SOL0", "SOL1", "SOL2", "ACC"};
    for (const char* line : lines) list += std::string(line) + " Rising" + '\0' + line + " Falling" + '\0';
    list += '\0';  // the empty name that ends the list
    if (names != nullptr) std::memcpy(names, list.data(), list.size());
    return static_cast<ULONG>(list.size());
}

void* CIGrabQB2::CreateInputActiveCallback(UINT index, IFW_INPUT_ACTIVE_CALLBACK fn, void* context) {
    if (m_module == nullptr || index >= kInputChangeCount) return nullptr;
    return kiru::board::AddInputActive(m_inputNodes, m_module, kInputEvents[index], index, fn, context);
}

void CIGrabQB2::DeleteInputActiveCallback(void* node) { kiru::board::RemoveInputActive(m_inputNodes, m_module, node); }

void CIGrabQB2::SetGPIConfig(ULONG line, IFW_GPI_CONFIG* cfg) {
    CIGrab::SetGPIConfig(line, cfg);
    if (line >= 32 || cfg == nullptr) return;
    const IFW_GPI_CONFIG& c = m_gpiConfig[line];
    if (line == 0) {
        SetParam(kThreshold0, c.Threshold);
    } else if (line == 4) {
        SetParam(kThreshold4, c.Threshold);
    } else if (line == 7) {
        SetParam(kTriggerThreshold, c.Threshold);
        SetParam(kTriggerDebounce, c.Debounce);
        SetParam(kTriggerPolarity, c.Polarity != 0 ? 1.0 : 0.0);
    }
}

void CIGrabQB2::SetGPOConfig(ULONG line, IFW_GPO_CONFIG* cfg) {
    CIGrab::SetGPOConfig(line, cfg);
    if (line != 4 || cfg == nullptr) return;
    m_camDouble[3] = m_gpoConfig[4].Duration / 1000.0;
    SetParam(kPulseWidth, m_camDouble[3]);
}

// ---- Outputs --------------------------------------------------------------------------

int CIGrabQB2::SetOutputPort(UINT port, int value) {
    if (!CIGrab::SetOutputPort(port, value) || m_module == nullptr) return 0;
    const ULONG on = value != 0 ? 1 : 0;
    if (port < 4) {
        m_module->WriteOutputPort(on, port + 4);
    } else if (port < 7) {
        // Driving a decision output by hand takes it from the decision block.
        if (m_camera != nullptr && m_camera->GetStoredVal(kDecisionEnable) != 0.0) SetParam(kDecisionEnable, 0.0);
        m_module->WriteOutputPort(on, kDecisionPorts[port - 4]);
    }
    return 1;
}

void CIGrabQB2::SetAcqReady(int ready) { SetOutputPort(3, ready); }

int CIGrabQB2::ToggleLed(ULONG led) {
    if (!CIGrab::ToggleLed(led)) return 0;
    if (led != 1 && led != 2) return 1;
    const int state = m_ledState[led - 1].fetch_xor(1) ^ 1;
    if (m_module != nullptr) m_module->WriteOutputPort(static_cast<ULONG>(state), led == 1 ? kPortLedA : kPortLedB);
    return 1;
}

int CIGrabQB2::GeneratePulseOutPort(UINT port, int level, double offsetMs, double durationMs) {
    if (m_module == nullptr) return 0;
    CQB2PulseTimer** slot = kiru::board::ReclaimQb2Slot(m_pulseTimers, m_module);
    if (port > 3 || slot == nullptr) return 0;
    *slot = new CQB2PulseTimer(m_module, kOutputBits[port], static_cast<ULONG>(level), offsetMs, durationMs);
    (*slot)->Create();
    return 1;
}

// ---- Decisions ----------------------------------------------------------------------

int CIGrabQB2::Decide(ULONG code, IFW_GPO_DRIVER pulsed) {
    if (m_ioEnqueue == nullptr) return 0;
    m_ioEnqueue(m_module, code);
    if (pulsed == IFW_GPO_DRIVER_PLAIN) return 1;
    for (ULONG line = 0; line < 4; ++line) {
        const IFW_GPO_CONFIG& c = m_gpoConfig[line];
        if (c.Driver != pulsed) continue;
        // Whole milliseconds.
        GeneratePulseOutPort(line, c.Polarity == 1 ? 1 : 0, static_cast<double>(c.Offset / 1000),
                             static_cast<double>(c.Duration / 1000));
    }
    return 1;
}

int CIGrabQB2::SetPass(ULONG camera) {
    if (!CIGrab::SetPass(camera)) return 0;
    return Decide(0, IFW_GPO_DRIVER_PASS_IMMEDIATE);
}

int CIGrabQB2::SetFail(ULONG camera) {
    if (!CIGrab::SetFail(camera)) return 0;
    return Decide(1, IFW_GPO_DRIVER_FAIL_IMMEDIATE);
}

int CIGrabQB2::SetRecycle(ULONG camera) {
    if (!CIGrab::SetRecycle(camera)) return 0;
    return Decide(2, IFW_GPO_DRIVER_PLAIN);
}

int CIGrabQB2::SetDecisionOutput(ULONG output, IFW_DECISION_OUTPUT_TYPE type) {
    if (!CIGrab::SetDecisionOutput(output, type) || output > 2) return 0;
    m_decisionOutputType[output] = static_cast<ULONG>(type);
    return 1;
}

int CIGrabQB2::SetDummyDecisionFIFO(UINT count, UINT every) {
    if (m_ioStop == nullptr || !CIGrab::SetDummyDecisionFIFO(count, every)) return 0;
    m_dummyDecisions = m_appRunning ? 0 : count;
    if (every == 0 && GetParam(kDecisionEnable) == 1.0) {
        // The queue restarts empty; the dummies then fill it.
        const bool wasRunning = Pause();
        m_ioStop(m_module);
        if (m_ioStart != nullptr) m_ioStart(m_module);
        Resume(wasRunning);
        ::Sleep(kQueueRestartSettleMs);
        for (UINT k = 0; k < m_dummyDecisions; ++k) m_module->SetModuleParam(kDummyDecisionRegister, 0);
    }
    return 1;
}

int CIGrabQB2::SetRejectorDelay(UINT delay) {
    if (!CIGrab::SetRejectorDelay(delay)) return 0;
    SetParam(kRejectorDelay, m_rejectorDelay);
    return 1;
}

int CIGrabQB2::SetRecycleDelay(UINT delay) { return CIGrab::SetRecycleDelay(delay); }

int CIGrabQB2::SetRejectorPulseControl() {
    if (!CIGrab::SetRejectorPulseControl()) return 0;
    const bool wasRunning = Pause();
    SetParam(kPulseWidth, m_camDouble[3]);
    Resume(wasRunning);
    return 1;
}

int CIGrabQB2::SetPartsBetweenSensors(UINT parts) {
    m_qb2PartsBetweenSensors = parts;
    return 1;
}

UINT CIGrabQB2::GetPartsBetweenSensors() { return m_qb2PartsBetweenSensors; }

// ---- Serial ports ---------------------------------------------------------------------

int CIGrabQB2::GetCommPortNum(int, IFW_COMPORT_KIND kind) {
    if (!m_initialized) return Fail("CIGrabQB2", "GetCommPortNum", "Grab not initialized");
    return kind == IFW_COMPORT_KIND_1 ? 4 : 0;
}
