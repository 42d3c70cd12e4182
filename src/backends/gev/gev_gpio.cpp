// CIGrabGev: the station's input and output lines. Every controller, board
// and camera line is numbered into one flat space of 32 inputs and 32
// outputs (GetGpioAttr), inputs are read from whichever hardware carries
// them, line records are stored in the common layer and then programmed
// into the hardware, and client callbacks are attached to input edges.
#include <kiru/cigrab_gev.h>
#include <kiru/pulse_timers.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "backends/board/board_support.h"
#include "backends/gev/gev_lines.h"
#include "capture/camera.h"
#include "capture/module.h"
#include "capture/orv_types.h"
#include "capture/rcs.h"
#include "platform/clock.h"

namespace {

constexpr ULONG kLimitAll = 0xFFFFFF;
constexpr ULONG kUsbFlagsFirmware = 203119;
constexpr ULONG kUsbPulseFirmware = 161760;
constexpr double kInputCacheMs = 10.0;

// Channel parameters of the I/O controllers.
constexpr ULONG kChTriggerPolarity = 11;
constexpr ULONG kChDebounce = 83;
constexpr ULONG kChOffset = 16384;
constexpr ULONG kChEnable = 16385;
constexpr ULONG kChDuration = 16386;
constexpr ULONG kChPolarity = 16387;
constexpr ULONG kChFailLine = 16388;
constexpr ULONG kChThreshold0 = 16389;
constexpr ULONG kChThreshold4 = 16390;
constexpr ULONG kChUsbTimeBase = 16390;
constexpr ULONG kChTriggerThreshold = 16391;
constexpr ULONG kChRcsTimeBase = 0x7013003;
// Camera parameters.
constexpr ULONG kCamStrobePolarity = 16395;
constexpr ULONG kCamLineSource = 16405;
constexpr ULONG kCamLinePolarity = 16406;
constexpr ULONG kCamStoredLinePolarity = 17;

void Name(char* field, const char* format, int value) { std::snprintf(field, 16, format, value); }

}  // namespace

CIGrabGev::LineResources& CIGrabGev::Lines() {
    if (!m_lineResources) m_lineResources = std::make_shared<LineResources>();
    return *m_lineResources;
}

bool CIGrabGev::GioBasic() const {
    return m_gioModule != nullptr &&
           ((m_gioModule->GetModuleInfo() & 1) != 0 || std::strcmp(m_gioModule->ModName(), "LXP") == 0);
}

bool CIGrabGev::QbmBoard() const { return m_qbmModule != nullptr && (m_qbmModule->GetModuleInfo() & 1) != 0; }

// ---- The line record --------------------------------------------------------------

int CIGrabGev::GetGpioAttr(IFW_GPIO_ATTR* attr) {
    if (attr == nullptr) return 0;
    std::memset(attr, 0, sizeof(*attr));
    auto in = [attr](ULONG i, ULONG flags, ULONG debounce, float threshold) -> IFW_GPIO_INPUT_ATTR* {
        if (i >= 32) return nullptr;
        attr->inputs[i].flags = flags;
        attr->inputs[i].debounceLimit = debounce;
        attr->inputs[i].thresholdLimit = threshold;
        return &attr->inputs[i];
    };
    auto out = [attr](ULONG i, ULONG flags, ULONG l1, ULONG l2, ULONG l3) -> IFW_GPIO_OUTPUT_ATTR* {
        if (i >= 32) return nullptr;
        attr->outputs[i] = {};
        attr->outputs[i].flags = flags;
        attr->outputs[i].limit1 = l1;
        attr->outputs[i].limit2 = l2;
        attr->outputs[i].limit3 = l3;
        return &attr->outputs[i];
    };
    auto header = [attr](ULONG ei, ULONG ni, ULONG eo, ULONG no, ULONG a, ULONG b) {
        attr->extraInputs = ei;
        attr->numInputs = ni;
        attr->extraOutputs = eo;
        attr->numOutputs = no;
        attr->platformTagA = a;
        attr->platformTagB = b;
    };
    const int ncam = m_numCameras < 0 ? 0 : (m_numCameras > kMaxCameras ? kMaxCameras : m_numCameras);

    if (m_trxModule != nullptr) {
        header(0, 10, 0, 10, 2, 8);
        for (int i = 0; i < 8; ++i) Name(in(i, i == 0 || i == 4 ? 8 : 0, 0, 18.0f)->name, "IN%d", i);
        Name(in(8, 11, 65535, 18.0f)->name, "Trigger %d", 1);
        Name(in(9, 2, 65535, 18.0f)->name, "Trigger %d", 2);
        for (int c = 0; c < ncam; ++c)
            if (auto* rec = in(10 + static_cast<ULONG>(c), 0, 0, 3.0f)) Name(rec->name, "GPOIN%d", c);
        for (int i = 0; i < 8; ++i) Name(out(i, i == 0 || i == 4 ? 95 : 94, 40000, kLimitAll, kLimitAll)->name, "OUT%d", i);
        for (int i = 8; i < 10; ++i) Name(out(i, 34, 0, kLimitAll, kLimitAll)->name, "Strobe %d", i - 7);
    }
    if (m_rcsModule != nullptr) {
        header(0, 10, 0, 11, 2, 2);
        for (int i = 0; i < 8; ++i) {
            if (i == 0 || i == 4)
                Name(in(i, 3, 65535, 18.0f)->name, "Trigger %d", i == 0 ? 1 : 2);
            else
                Name(in(i, 0, 0, 18.0f)->name, "IN%d", i);
        }
        for (int i = 8; i < 10; ++i) Name(in(i, 0, 0, 0.0f)->name, "GPOIN%d", i - 8);
        for (int i = 0; i < 8; ++i) Name(out(i, i == 3 || i == 7 ? 895 : 863, 40000, kLimitAll, kLimitAll)->name, "OUT%d", i);
        for (int i = 8; i < 11; ++i) Name(out(i, 8, 0, 0, 0)->name, "LED%d", i - 8);
    }
    for (int k = 0; k < kMaxUsbModules; ++k) {
        CICapMod* usb = m_usbModule[k];
        if (usb == nullptr) continue;
        attr->extraInputs = 0;
        attr->extraOutputs = 0;
        attr->platformTagA = 2;
        attr->platformTagB = 6;
        const bool newFirmware = usb->GetModuleInfo() >= kUsbFlagsFirmware;
        const ULONG pulseBit = usb->GetModuleParam(1) >= kUsbPulseFirmware ? 0x100 : 0;
        const ULONG firstIn = attr->numInputs;
        for (ULONG j = 0; j < 8; ++j) {
            const ULONG flags = (j == 0 ? 3 : 2) + (newFirmware && j < 4 ? 4 : 0);
            if (auto* rec = in(firstIn + j, flags, j == 0 ? 65535 : 0, 0.0f)) Name(rec->name, "IN%d", firstIn + j);
        }
        const ULONG firstOut = attr->numOutputs;
        for (ULONG j = 0; j < 8; ++j) {
            const bool decision = m_asyncMode != 0 || j / 2 == 0;
            const ULONG flags = decision ? ((j % 2 == 0 ? 223 : 222) | pulseBit) : 8;
            if (auto* rec = out(firstOut + j, flags, 40000, kLimitAll, kLimitAll)) Name(rec->name, "OUT%d", firstOut + j);
        }
        for (ULONG j = 8 + 12 * static_cast<ULONG>(k); j < 12 + 12 * static_cast<ULONG>(k); ++j)
            if (auto* rec = out(j, 42, 0, 0, 0)) Name(rec->name, "OUT%d", j);
        attr->numOutputs += 12;
        attr->numInputs += 8;
    }
    const bool gioBasic = GioBasic();
    if (m_gioModule == nullptr || gioBasic) {
        if (gioBasic) {
            header(0, 8, 1, 7, 5, 6);
            for (int i = 0; i < 8; ++i) Name(in(i, 0, 0, 0.0f)->name, "IN%d", i);
            for (int i = 0; i < 8; ++i) Name(out(i, 143, 0, kLimitAll, kLimitAll)->name, "OUT%d", i);
        }
        if (QbmBoard()) header(0, 7, 0, 7, 3, 7);
    }
    if (m_gioModule != nullptr && (m_gioModule->GetModuleInfo() & 2) != 0) {
        m_firstDciOutput = attr->extraOutputs + attr->numOutputs;
        m_firstDciInput = attr->extraInputs + attr->numInputs;
        for (int k = 0; k < 4; ++k) {
            if (auto* rec = out(m_firstDciOutput + k, 143, 0, kLimitAll, kLimitAll)) Name(rec->name, "DCI OUT%d", k);
            if (auto* rec = in(m_firstDciInput + k, k == 0 ? 8 : 0, 0, 18.0f)) Name(rec->name, "DCI IN%d", k);
        }
        attr->numOutputs += 4;
        attr->numInputs += 4;
    }

    m_firstCamInput = attr->extraInputs + attr->numInputs;
    m_firstCamOutput = attr->extraOutputs + attr->numOutputs;
    if (m_lineScan != 0) {
        for (int c = 0; c < ncam; ++c) {
            for (ULONG k = 0; k < 4; ++k) {
                const ULONG o = m_firstCamOutput + 4 * c + k;
                if (auto* rec = out(o, 136, 0, kLimitAll, kLimitAll)) Name(rec->name, "OUT%d", o);
                const ULONG i = m_firstCamInput + 4 * c + k;
                static const ULONG kFlags[4] = {130, 2, 0, 0};
                static const char* const kNames[4] = {"IN%d/Line Trig", "IN%d/Frame Trig", "IN%d", "IN%d"};
                if (auto* rec = in(i, kFlags[k], 0, 18.0f)) Name(rec->name, kNames[k], i);
            }
            attr->numOutputs += 4;
            attr->numInputs += 4;
        }
    } else if (m_rcsModule == nullptr && m_trxModule == nullptr && m_usbModule[0] == nullptr) {
        const bool vex = NameContains("VEX-");
        ULONG nin = 1, nout = 0;
        if (NameContains("Marlo TS")) {
            nin = nout = 4;
        } else if (vex) {
            nin = nout = 1;
        } else if (NameContains("Wren")) {
            nin = nout = 2;
        }
        attr->numInputs += nin * ncam;
        attr->numOutputs += nout * ncam;
        if (!gioBasic) {
            if (nout == 2) {
                for (int c = 0; c < ncam; ++c) {
                    if (auto* rec = out(m_firstCamOutput + c, 143, 0, 0, 0)) Name(rec->name, "OUT%d", c);
                    if (auto* rec = out(m_firstCamOutput + ncam + c, 2, 0, 0, 0)) Name(rec->name, "Strobe %d", c);
                }
            } else {
                for (int c = 0; c < ncam; ++c) {
                    for (ULONG k = 0; k < nout; ++k) {
                        const ULONG o = m_firstCamOutput + c * nout + k;
                        if (k == m_strobeLine) {
                            if (auto* rec = out(o, 2, 0, 0, 0)) Name(rec->name, vex ? "OUT%d" : "Strobe %d", c);
                        } else if (auto* rec = out(o, 143, 0, kLimitAll, kLimitAll)) {
                            Name(rec->name, "OUT%d", static_cast<int>(o - m_firstCamOutput));
                        }
                    }
                }
            }
            for (ULONG r = 0; r < nin * ncam; ++r)
                if (auto* rec = in(m_firstCamInput + r, 0, 0, 18.0f)) Name(rec->name, "IN%d", r);
        }
    }
    attr->solutionBits = static_cast<ULONG>(m_hwSolutionIdBits);
    return 1;
}

// ---- Reading inputs ---------------------------------------------------------------

UINT CIGrabGev::GetGPInputValue(int all) {
    if (!m_initialized) {
        Fail("CIGrabGev", "GetGPInputValue", "Grab not initialized");
        return 0;
    }
    const int bits = m_hwSolutionIdBits;
    auto masked = [&](ULONG v) { return (all == 0 && bits < 8) ? (v & (0xFFu >> (8 - (bits < 0 ? 0 : bits)))) : v; };
    ULONG value = 0;
    if (m_trxModule != nullptr)
        value = masked((m_trxModule->ReadInputPort(0) & 0xFFFF) | (m_trxModule->ReadInputPort(15) & 0xFFFF) << 8 |
                       (m_trxModule->ReadInputPort(16) & 0xFFFF) << 9);
    if (m_rcsModule != nullptr) value = masked(m_rcsModule->ReadInputPort(0));
    if (m_usbModule[0] != nullptr) {
        const double now = kiru::platform::NowMs();
        if (now - m_usbInputTime >= kInputCacheMs) {
            ULONG v = 0;
            for (int k = 0; k < kMaxUsbModules; ++k)
                if (m_usbModule[k] != nullptr) v |= m_usbModule[k]->ReadInputPort(0) << (8 * k);
            m_usbInputCache = v;
            m_usbInputTime = now;
        }
        value = masked(m_usbInputCache);
    }
    if (m_gioModule == nullptr) {
        if (QbmBoard()) value = ReadQB3GPInput(all == 0);
        if (all == 0) return value;
    } else {
        if (GioBasic()) value = m_gioModule->ReadInputPort(0);
        if (all == 0) return (value >> 2) & (bits == 6 ? 63 : 31);
        if (m_gioModule->GetModuleInfo() & 2) {
            IFW_GPIO_ATTR attr;
            GetGpioAttr(&attr);
            const double now = kiru::platform::NowMs();
            if (now - m_dciInputTime >= kInputCacheMs) {
                ULONG v = 0;
                for (ULONG k = 0; k < 4; ++k)
                    if (m_gioModule->ReadInputPort(k + 1) & 1) v |= 1u << ((m_firstDciInput + k) & 31);
                m_dciInputCache = v;
                m_dciInputTime = now;
            }
            value |= m_dciInputCache;
        }
    }
    if (m_rcsModule == nullptr && m_trxModule == nullptr && m_usbModule[0] == nullptr && m_numCameras > 0) {
        IFW_GPIO_ATTR attr;
        GetGpioAttr(&attr);
        const bool marlo = NameContains("Marlo TS"), wren = NameContains("Wren");
        for (int c = 0; c < m_numCameras && c < kMaxCameras; ++c) {
            if (m_camModule[c] == nullptr) continue;
            const ULONG ports = marlo ? 4 : wren ? 2 : 1;
            for (ULONG k = 0; k < ports; ++k) {
                const ULONG bit = m_firstCamInput + ports * c + k;
                if (bit < 32 && (m_camModule[c]->ReadInputPort(k) & 1)) value |= 1u << bit;
            }
        }
    }
    return value;
}

UINT CIGrabGev::ReadQB3GPInput(int solutionMode) {
    if (!QbmBoard()) return 0;
    const ULONG word = m_qbmModule->GetModuleParam(37);
    static const int kSolution[7] = {0, 1, 8, 10, 7, 2, 3};
    static const int kPlain[7] = {10, 7, 2, 3, 0, 1, 8};
    const int* map = solutionMode ? kSolution : kPlain;
    int count = 7;
    if (solutionMode) count = m_hwSolutionIdBits < 0 ? 0 : (m_hwSolutionIdBits > 7 ? 7 : m_hwSolutionIdBits);
    UINT result = 0;
    for (int i = 0; i < count; ++i)
        if (word >> map[i] & 1) result |= 1u << i;
    return result;
}

// ---- Input-change names and callbacks --------------------------------------------

ULONG CIGrabGev::GetInputChangeNames(char* names) {
    if (names == nullptr) return 0;
    std::string list;
    auto add = [&list](const std::string& name) {
        list += name;
        list += '\0';
    };
    auto rcsList = [&] {
        for (const char* edge : {"Rising", "Falling"})
            for (int i = 0; i < 8; ++i) add("IN" + std::to_string(i) + " " + edge);
    };
    if (m_trxModule != nullptr) {
        for (const char* edge : {"Rising", "Falling"}) {
            add(std::string("TRIG1 ") + edge);
            for (int i = 0; i < 4; ++i) add("IN" + std::to_string(i) + " " + edge);
            add(std::string("TRIG2 ") + edge);
            for (int i = 4; i < 8; ++i) add("IN" + std::to_string(i) + " " + edge);
        }
    } else if (m_rcsModule != nullptr) {
        rcsList();
    } else if (m_qbmModule != nullptr) {
        for (const char* input : {"TRIG", "IN0", "IN1", "IN2", "IN3", "SOL0", "SOL1", "SOL2", "ACC", "Cam Strobe"}) {
            add(std::string(input) + " Rising");
            add(std::string(input) + " Falling");
        }
    } else if (m_usbModule[0] != nullptr) {
        rcsList();
    } else {
        return 0;
    }
    list += '\0';
    std::memcpy(names, list.data(), list.size());
    return static_cast<ULONG>(list.size());
}

void CIGrabGev::InputActiveTrampoline(void* context) {
    kiru::board::InputActiveThunk<InputActiveNode>(context);
}

void* CIGrabGev::CreateInputActiveCallback(UINT index, IFW_INPUT_ACTIVE_CALLBACK fn, void* context) {
    static const ULONG kQbm[20] = {17, 18, 19, 20, 31, 32, 25, 26, 27, 28, 21, 22, 23, 24, 33, 34, 29, 30, 36, 35};
    static const ULONG kTrx[20] = {0, 3, 4, 5, 6, 7, 10, 11, 12, 13, 14, 17, 18, 19, 20, 21, 24, 25, 26, 27};
    static const ULONG kRcs[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    static const ULONG kUsb[16] = {0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19, 20, 21, 22, 23};
    struct Choice {
        CICapMod* module;
        UINT limit;
        const ULONG* events;
    };
    const Choice choices[] = {{m_qbmModule, 20, kQbm}, {m_trxModule, 20, kTrx}, {m_rcsModule, 16, kRcs},
                              {m_usbModule[0], 16, kUsb}};
    for (const Choice& choice : choices) {
        if (choice.module == nullptr || index >= choice.limit) continue;
        LineResources& lines = Lines();
        InputActiveNode* node =
            kiru::board::AddInputActive(lines.nodes, choice.module, choice.events[index], index, fn, context);
        m_inputNodes = node;
        return node;
    }
    return nullptr;
}

void CIGrabGev::DeleteInputActiveCallback(void* handle) {
    CICapMod* module = m_qbmModule != nullptr   ? m_qbmModule
                       : m_trxModule != nullptr ? m_trxModule
                       : m_rcsModule != nullptr ? m_rcsModule
                                                : m_usbModule[0];
    if (module == nullptr) return;
    LineResources& lines = Lines();
    kiru::board::RemoveInputActive(lines.nodes, module, handle);
    m_inputNodes = lines.nodes;
}

void* CIGrabGev::AddDataInChangeCamTrigger(ULONG offset, int bit, ULONG camera) {
    if (m_rcsModule == nullptr) return nullptr;
    return static_cast<CRCS*>(m_rcsModule)->AddDataInChangeCamTrigger(offset, bit, camera);
}

void CIGrabGev::DelDataInChangeCamTrigger(ULONG offset, int bit, ULONG camera) {
    if (m_rcsModule != nullptr) static_cast<CRCS*>(m_rcsModule)->DelDataInChangeCamTrigger(offset, bit, camera);
}

// ---- Line configuration -----------------------------------------------------------

void CIGrabGev::SetGPIConfig(ULONG line, IFW_GPI_CONFIG* cfg) {
    if (line >= 32 || cfg == nullptr) return;
    CIGrab::SetGPIConfig(line, cfg);
    const IFW_GPI_CONFIG c = m_gpiConfig[line];
    const double polarity = c.Polarity != 0 ? 1.0 : 0.0;

    if (m_trxModule != nullptr) {
        if (line == 8 || line == 9) {
            if (CICamera* ch = m_trxModule->GetCam(line - 8)) {
                if (line == 8) {
                    ch->SetAcqParam(kChDebounce, c.Debounce, 0);
                    ch->SetAcqParam(kChTriggerThreshold, c.Threshold, 0);
                }
                ch->SetAcqParam(kChTriggerPolarity, polarity, 0);
            }
        } else if (line == 0 || line == 4) {
            if (CICamera* ch = m_trxModule->GetCam(0))
                ch->SetAcqParam(line == 0 ? kChThreshold0 : kChThreshold4, c.Threshold, 0);
        }
    }
    if (m_rcsModule != nullptr) {
        if (line == 0 || line == 4) {
            if (CICamera* ch = m_rcsModule->GetCam(line / 4)) {
                ch->SetAcqParam(kChDebounce, c.Debounce, 0);
                ch->SetAcqParam(kChTriggerPolarity, polarity, 0);
            }
        } else {
            for (ULONG option : {0x100u, 0x200u}) {
                if ((c.Options & option) == 0) continue;
                m_rcsModule->WriteModuleReg(93, 0, 1, 1);
                m_rcsModule->WriteModuleReg(93, option == 0x100 ? 16 : 20, 4, line);
            }
        }
    }
    if (m_usbModule[0] != nullptr && line < 4) {
        if (CICamera* ch = m_usbModule[0]->GetCam(line)) {
            if (line == 0) ch->SetAcqParam(kChDebounce, c.Debounce, 0);
            ch->SetAcqParam(kChTriggerPolarity, polarity, 0);
        }
    }
    if (m_lineScan != 0) {
        IFW_GPIO_ATTR attr;
        GetGpioAttr(&attr);
        const ULONG ncam = static_cast<ULONG>(m_numCameras);
        if (line >= m_firstCamInput && line < m_firstCamInput + 4 * ncam) {
            const ULONG r = line - m_firstCamInput;
            const int cam = static_cast<int>(r / 4);
            CICamera* camera = cam < kMaxCameras ? m_camera[cam] : nullptr;
            if (camera != nullptr && r % 4 == 0) {
                const double source = (c.Options & 0x80) ? 1.0 : 6.0;
                const double bit = (c.Options & 0x400) ? 1.0 : 0.0;
                const bool differs =
                    camera->GetStoredVal(kCamLineSource) != source || camera->GetStoredVal(kCamStoredLinePolarity) != bit;
                const bool restart = m_running && differs;
                if (restart) Stop();
                camera->SetStoredVal(kCamStoredLinePolarity, bit);
                SetStoredCamParam(cam, kCamLineSource, source, 0);
                SetStoredCamParam(cam, kCamLinePolarity, polarity, 0);
                if (restart) Start();
            } else if (camera != nullptr && r % 4 == 1) {
                const bool restart = m_running != 0;
                if (restart) Stop();
                SetStoredCamParam(cam, kChTriggerPolarity, polarity, 0);
                if (restart) Start();
            }
        }
    }
    if (line == 31) {
        const ULONG choice = (c.Options & 0x40) ? 1 : 2;
        if (choice != m_hwTriggerSource) {
            m_hwTriggerSource = choice;
            if (GetTriggerMethod() == TRIGGER_HARDWARE) {
                const bool restart = m_running != 0;
                if (restart) Stop();
                SetTriggerSource(-1);
                if (restart) Start();
            }
        }
    }
}

void CIGrabGev::SetGPOConfig(ULONG line, IFW_GPO_CONFIG* cfg) {
    if (line >= 32 || cfg == nullptr) return;
    CIGrab::SetGPOConfig(line, cfg);
    const IFW_GPO_CONFIG c = m_gpoConfig[line];
    const ULONG driver = static_cast<ULONG>(c.Driver);
    const double enable = (driver == 0 || (driver >= 6 && driver <= 8)) ? 0.0 : 1.0;
    const ULONG initial = c.initVal & 0xFFFF;
    const ULONG timeBase = (c.initVal >> 16) & 1;
    const double polarity = c.Polarity != 0 ? 1.0 : 0.0;
    // Offset of the first line of a pair or group, with the camera's
    // external trigger delay when that is enabled.
    // The channel's camera decides whether the delay counts; the delay itself
    // is that camera's in asynchronous mode and camera 0's otherwise.
    auto offsetWithDelay = [&](int camera) {
        const int own = camera < kMaxCameras ? camera : 0;
        const int from = m_asyncMode ? own : 0;
        double offset = c.Offset;
        if (m_cam[own].triggerDelayEnable) offset += 1000.0 * m_cam[from].triggerDelay;
        return offset;
    };
    auto programDecision = [&](CICamera* ch, ULONG sub, bool first, int camera) {
        if (ch == nullptr) return;
        ch->SetAcqParam(kChEnable, enable, sub);
        ch->SetAcqParam(kChFailLine, driver == 3 ? 1.0 : 0.0, sub);
        ch->SetAcqParam(kChPolarity, polarity, sub);
        ch->SetAcqParam(kChDuration, c.Duration, sub);
        if (first) ch->SetAcqParam(kChOffset, offsetWithDelay(camera), 0);
    };

    if (m_trxModule != nullptr) {
        if (line < 8) {
            if (driver != 0) m_rejectorEnabled = 1;
            programDecision(m_trxModule->GetCam(line / 4), line % 4, line % 4 == 0, static_cast<int>(line / 4));
            m_trxModule->WriteOutputPort(initial, line + 1);
        } else if (line == 8 || line == 9) {
            SetStoredCamParam(static_cast<int>(line - 8), kCamStrobePolarity, polarity, m_strobeLine);
        }
        return;
    }
    if (m_rcsModule != nullptr) {
        if (line >= 8) return;
        auto* rcs = static_cast<CRCS*>(m_rcsModule);
        if (driver != 0) m_rejectorEnabled = 1;
        if (CICamera* ch = m_rcsModule->GetCam(line / 4)) ch->SetAcqParam(kChRcsTimeBase, timeBase, line);
        if (m_pulseGen[line] != nullptr && rcs->GetPulseGenType(m_pulseGen[line]) != timeBase) {
            rcs->DeletePulseGenUnit(m_pulseGen[line]);
            m_pulseGen[line] = nullptr;
        }
        if (driver >= 1 && driver <= 3) {
            const ULONG duration = timeBase ? c.Duration * 1000 : c.Duration;
            const ULONG level = c.Polarity == 1 ? 1 : 0;
            if (m_pulseGen[line] != nullptr)
                rcs->SetPulseGenDurationEx(m_pulseGen[line], duration, level, c.Offset);
            else
                m_pulseGen[line] = rcs->CreatePulseGenUnitEx(line, duration, level, timeBase, c.Offset);
        } else if (driver == 4) {
            const int cam = static_cast<int>(line / 4);
            if (cam < m_numCameras && m_camera[cam] != nullptr) {
                if (NameContains("Wren")) {
                    for (int k = 0; k < m_numCameras && k < kMaxCameras; ++k) {
                        SetStoredCamParam(k, kCamStrobePolarity, 0.0, 0);
                        SetStoredCamParam(k, kCamStrobePolarity, 0.0, 1);
                    }
                } else {
                    SetStoredCamParam(cam, kCamStrobePolarity, polarity, m_strobeLine);
                }
            }
        }
        m_rcsModule->WriteOutputPort(initial, line);
        return;
    }
    if (m_usbModule[0] != nullptr) {
        const ULONG slot = line / 12, l = line % 12;
        CICapMod* usb = slot < kMaxUsbModules ? m_usbModule[slot] : nullptr;
        if (usb == nullptr) return;
        if (l >= 8) {
            CICamera* ch = usb->GetCam(l - 8);
            if (ch != nullptr && (driver == 0 || (driver >= 6 && driver <= 8 && l == 8)))
                ch->SetAcqParam(kChEnable, 0.0, 2);
            const int cam = static_cast<int>(4 * slot + (l - 8));
            if (cam < kMaxCameras && m_camera[cam] != nullptr)
                SetStoredCamParam(cam, kCamStrobePolarity, c.Polarity == 0 ? 1.0 : 0.0, m_strobeLine);
        } else {
            if (driver != 0) m_rejectorEnabled = 1;
            CICamera* ch = usb->GetCam(l / 2);
            programDecision(ch, l % 2, l % 2 == 0, static_cast<int>(4 * slot + l / 2));
            if (ch != nullptr) ch->SetAcqParam(kChUsbTimeBase, timeBase ? 0.0 : 1.0, l);
        }
        usb->WriteOutputPort(initial, l + 1);
        return;
    }
    // The cameras' own lines.
    if (GioBasic()) return;
    IFW_GPIO_ATTR attr;
    GetGpioAttr(&attr);
    const ULONG ncam = static_cast<ULONG>(m_numCameras);
    if (line < m_firstCamOutput || line >= m_firstCamOutput + 2 * ncam) return;
    SetOutputPort(line, static_cast<int>(c.initVal));
    const ULONG r = line - m_firstCamOutput;
    if (NameContains("VEX-")) {
        if (r < ncam) SetStoredCamParam(static_cast<int>(r), kCamStrobePolarity, polarity, m_strobeLine);
    } else if (r >= ncam) {
        SetStoredCamParam(static_cast<int>(r - ncam), kCamStrobePolarity, c.Polarity == 0 ? 1.0 : 0.0, m_strobeLine);
    }
}
