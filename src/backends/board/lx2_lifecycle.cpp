// CIGrabLX2 lifecycle: finding and bringing up the board, the frame ring's
// sensor window, the acquisition thread and its library grab, and teardown.
#include <kiru/cigrab_lx2.h>
#include <kiru/pulse_timers.h>
#include <kiru/scoped_handles.h>

#include <atomic>
#include <cstring>
#include <strings.h>

#include "backends/board/board_support.h"
#include "backends/board/lx2_params.h"
#include "capture/camera.h"
#include "capture/imgconn.h"
#include "capture/module.h"
#include "capture/orvos.h"
#include "capture/orx.h"
#include "platform/kernel.h"

using namespace kiru::lx2;

namespace {

constexpr ULONG kDeliveryMutexWaitMs = 2000;
constexpr DWORD kSlowStartSettleMs = 150;
constexpr ULONG kHoldFrameBit = 0x40;  // register 57: hold the frame for the hardware trigger

// Exposure limits (milliseconds) by camera file; other files get the last row.
struct ExposureLimits {
    const char* cameraFile;
    double minimum, maximum;
};
constexpr ExposureLimits kExposureLimits[] = {
    {"Kelm-JAI-CVA11-TRG-PWC-STROBE-X1", 0.64, 635.0},
    {"Kelm-JAI-CVA1-TRG-PWC-X1", 0.58, 1160.0},
    {"Sony XC-HR70 Mode1", 0.02, 2500.0},
    {"Kelm-TM1-TRG-PWC", 0.02, 1250.0},
    {"Kelm-TM2-TRG-PWC", 0.02, 1250.0},
    {nullptr, 0.02, 2500.0},
};

// Terminate is guarded against re-entry for the whole process.
std::atomic<bool> g_terminating{false};

}  // namespace

CIGrabLX2::CIGrabLX2() : m_appliedTriggerMethod(m_triggerMethod) {
    m_rejectorDelay = 1500;
    m_recycleDelay = 1500;
    m_hwSolutionIdBits = 5;
    m_gpoConfig[0] = IFW_GPO_CONFIG{1, 0, 1000, IFW_GPO_DRIVER_STROBE, m_gpoConfig[0].initVal};
    m_gpoConfig[1] = IFW_GPO_CONFIG{1, 50000, 1000, IFW_GPO_DRIVER_FAIL_QUEUED, m_gpoConfig[1].initVal};
    m_gpoConfig[2] = IFW_GPO_CONFIG{1, 50000, 1000, IFW_GPO_DRIVER_RECYCLE_QUEUED, m_gpoConfig[2].initVal};
    for (ULONG line = 4; line < 8; ++line) {
        m_gpoConfig[line].Polarity = 1;
        m_gpoConfig[line].Duration = 1000;
    }
    OrxSetConsoleHandler(nullptr);
    m_os = new CORVOS();
    m_acqReadyEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

CIGrabLX2::~CIGrabLX2() {
    Destroy();
    Terminate();
    if (m_acqReadyEvent != nullptr) ::CloseHandle(m_acqReadyEvent);
    m_acqReadyEvent = nullptr;
    delete m_os;
    m_os = nullptr;
}

IFW_IGRABTYPE CIGrabLX2::GetGrabType() { return IGRAB_LX2; }

bool CIGrabLX2::IsLxp() const { return m_module != nullptr && std::strcmp(m_module->ModName(), "LXP") == 0; }

void CIGrabLX2::SetParam(ULONG number, double value) {
    if (m_camera != nullptr) m_camera->SetAcqParam(number, value, 0);
}

double CIGrabLX2::GetParam(ULONG number) {
    double value = 0.0;
    if (m_camera != nullptr) m_camera->GetAcqParam(number, &value, 0);
    return value;
}

void CIGrabLX2::ShowMessage(const char* caption, const char* text) { kiru::board::ShowBoardMessage(*this, caption, text); }

bool CIGrabLX2::OnAcquisitionThread() const {
    return m_acqThread != nullptr && m_acqThreadIdSeen.load() == ::GetCurrentThreadId();
}

// ---- Bring-up ---------------------------------------------------------------------

int CIGrabLX2::Initialize() {
    if (!CIGrab::Initialize()) return 0;
    if (kiru::board::BoardMutexExists("BrdMutex_LXP0")) {
        ShowMessage(kiru::board::kInUseCaption, kiru::board::kInUseText);
        return 0;
    }
    m_module = kiru::board::OpenWithAppDataFile(m_productName, "LXP", "LXPtest.txt");
    if (m_module == nullptr) m_module = OrxCreateCaptureModule("LXP", 0, "LXPtest.txt");
    if (m_module == nullptr) m_module = OrxCreateCaptureModule("LXP", 0, nullptr);
    if (m_module == nullptr) m_module = kiru::board::OpenWithAppDataFile(m_productName, "HVQ", "hvqtest.txt");
    if (m_module == nullptr) m_module = OrxCreateCaptureModule("HVQ", 0, "hvqtest.txt");
    if (m_module == nullptr) {
        ShowMessage(kiru::board::kNoModuleCaption, kiru::board::kNoModuleText);
        return 0;
    }
    ULONG info = 1;
    m_module->QueryModuleInfo(4, &info);
    m_outputsInverted = info == 0 ? 1 : 0;

    m_camera = m_module->GetCam(0);
    if (m_camera == nullptr) {
        Terminate();
        return 0;
    }
    ORV_CAM_ATTR attr{};
    m_camera->GetAttr(&attr, 1);
    m_camAttr = IFW_CAM_ATTR{attr.Width, attr.Height, attr.BytesPerPixel, attr.BitsPerPixel, attr.ColorFormat};
    std::memcpy(m_cameraFile, attr.CameraFile, sizeof m_cameraFile);
    m_cameraFile[sizeof m_cameraFile - 1] = '\0';
    m_width = attr.Width;
    m_height = attr.Height;
    m_bitsPerPixel = attr.BitsPerPixel;
    m_bytesPerPixel = attr.BytesPerPixel;
    m_brightness = static_cast<UINT>(GetParam(kBrightness));
    m_contrast = static_cast<UINT>(GetParam(kContrast));
    m_strobeOffset = static_cast<UINT>(GetParam(kStrobeOffset));
    m_strobeDuration = static_cast<UINT>(GetParam(kStrobeDuration));

    m_module->SetModuleMode(1, 0);
    m_module->WriteOutputPort(248, 0);
    m_module->ConfigureModuleIo(0, 0, 0);
    if (IsLxp()) {
        // Board-side rejector and recycle timing: delays in milliseconds and
        // the pulse width of the decision outputs, all in microseconds.
        const double width = m_camDouble[3] * 1000.0;
        SetParam(kDecisionReset, 1.0);
        SetParam(kDecision[0].mode, 1.0);
        SetParam(kDecision[0].delay, m_rejectorDelay * 1000.0);
        SetParam(kDecision[0].width, width);
        SetParam(kDecision[0].enable, 1.0);
        SetParam(kDecision[1].mode, 1.0);
        SetParam(kDecision[1].delay, m_recycleDelay * 1000.0);
        SetParam(kDecision[1].width, width);
        SetParam(kDecision[1].enable, 1.0);
        SetParam(0x4017, 0.0);
        SetParam(0x4018, 0.0);
        SetParam(0x401C, 2.0);
        SetParam(kTriggerDebounce, 200.0);
        SetParam(kRejectSensorDebounce, 200.0);
        SetParam(kDecision[0].queue, 1.0);
        SetParam(kDecision[1].queue, 2.0);
        m_module->WriteOutputPort(0, kPortSolutionAck);
    }
    m_module->EnableModuleIo(1, 1);
    m_solutionCallback = m_module->CreateIntrCallback(kEventSolution, &CIGrabLX2::ChangeSolutionThunk, this);
    m_counterACallback = m_module->CreateIntrCallback(kEventTrigger, &CIGrabLX2::CounterAThunk, this);
    m_counterBCallback = m_module->CreateIntrCallback(kEventRejectSensor, &CIGrabLX2::CounterBThunk, this);

    m_initialized = 1;
    LinearizeLUT();
    const ExposureLimits* limits = kExposureLimits;
    while (limits->cameraFile != nullptr && strcasecmp(limits->cameraFile, m_cameraFile) != 0) ++limits;
    m_exposureMin = limits->minimum;
    m_exposureMax = limits->maximum;
    m_exposureLimit3 = 1.0;
    return 1;
}

void CIGrabLX2::ApplyAoi() {
    if (m_camera == nullptr) return;
    const bool planes = m_imageColor == IFW_COLOR_PLANAR || m_horzTiles * m_vertTiles > 1;
    const ULONG lines = planes ? 3 * m_height : m_height;
    m_camera->SetAoi(static_cast<WORD>(m_offsetX), static_cast<WORD>(m_offsetY), static_cast<WORD>(m_width),
                     static_cast<WORD>(lines));
}

int CIGrabLX2::Create(ULONG offsetX, ULONG offsetY, ULONG width, ULONG height, ULONG bitsPerPixel,
                      ULONG bufferCount, ULONG timeout) {
    if (m_camera == nullptr) return 0;
    // The sensor window's origin on the board; the geometry sentinels keep
    // their meaning.
    if (offsetX < 0xFFFFFFFDu) offsetX += static_cast<ULONG>(GetParam(kWindowX));
    if (offsetY < 0xFFFFFFFDu) offsetY += static_cast<ULONG>(GetParam(kWindowY));
    if (!CIGrab::Create(offsetX, offsetY, width, height, bitsPerPixel, bufferCount, timeout)) return 0;
    ApplyAoi();
    m_created = 1;
    return 1;
}

// ---- Acquisition ------------------------------------------------------------------

int CIGrabLX2::Start() {
    // The acquisition thread cannot wait for itself.
    if (OnAcquisitionThread()) return 0;
    if (!CIGrab::Start()) return 0;
    m_running = 1;
    SetTriggerParams();
    SetParam(kContrast, m_contrast);
    SetParam(kBrightness, m_brightness);
    if (IsLxp()) {
        SetParam(kTriggerDelayArm, 0.0);
        SetParam(kTriggerDelay, m_extTriggerDelayEnabled ? m_extTriggerDelay * 1000.0 : 0.0);
    }
    CloseGrabThread();
    m_appliedTriggerMethod = m_triggerMethod;

    if (m_loopRun.load() == 0) {
        m_loopRun = 1;
        ApplyAoi();
        const bool slowStart = m_triggerMethod != TRIGGER_HARDWARE && GetParam(kSlowStart) == 1.0;
        if (slowStart) SetParam(kFrameRate, 1.0);
        ::ResetEvent(m_acqReadyEvent);
        m_delivering = 1;
        if (m_acqThread == nullptr)
            m_acqThread = ::CreateThread(nullptr, 0, &CIGrabLX2::AcqThreadMain, this, 0, nullptr);
        if (m_acqThread == nullptr) {
            m_loopRun = 0;
            m_delivering = 0;
            m_running = 0;
            return Fail("CIGrabLX2", "Start", "Failed to create acq thread");
        }
        ::WaitForSingleObject(m_acqReadyEvent, INFINITE);
        if (m_grab.load() == nullptr) {
            m_loopRun = 0;
            m_delivering = 0;
            m_running = 0;
            return Fail("CIGrabLX2", "Start", "Failed to start grab");
        }
        if (slowStart) {
            ::Sleep(kSlowStartSettleMs);
            SetParam(kFrameRate, 1000.0 / (m_frameDelay ? m_frameDelay : 1));
        }
    }
    m_running = m_loopRun.load();
    m_delivering = m_running;
    return m_running;
}

DWORD CIGrabLX2::AcqThreadMain(void* self) { return static_cast<CIGrabLX2*>(self)->AcqThread(); }

DWORD CIGrabLX2::AcqThread() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    const ULONG id = ::GetCurrentThreadId();
    m_acqThreadIdSeen = id;
    __atomic_store_n(&m_acqThreadId, id, __ATOMIC_RELEASE);

    CICamera* camera = m_camera;
    OrvGrabTag* grab = camera->Grab(1, reinterpret_cast<void**>(m_imageArray), m_bufferCount, -1, 0, 0, 0, 0);
    m_grab = grab;
    if (grab != nullptr && m_appliedTriggerMethod == TRIGGER_HARDWARE)
        camera->WriteReg(kControlRegister, camera->ReadReg(kControlRegister) | kHoldFrameBit);
    ::SetEvent(m_acqReadyEvent);
    if (grab == nullptr) {
        m_loopRun = 0;
        return 0;
    }

    ULONG lostSeen = 0;
    ULONG frames = 0;
    while (m_loopRun.load() != 0) {
        void* address = nullptr;
        ULONG waiting = 0;
        GRAB_EXT_ATTR ext{};
        const int index = camera->GrabWaitFrame(grab, &address, -1, INFINITE, 1, &waiting, nullptr, &ext);
        if (index < 0) {
            if (index == -2) break;  // the grab has ended
            continue;
        }
        if (m_loopRun.load() == 0) {
            camera->GrabRelease(grab, index);
            break;
        }
        m_currentFrame = static_cast<unsigned char*>(address);
        UpdateFrameRate(ext.ArrivalTime);
        CountFrames(0, kFateProduced);
        if (++frames == m_bufferCount + 1) ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_NORMAL);
        const ULONG frameNumber = ext.FrameNumber;

        const bool deliverable = m_delivering.load() != 0;
        ORV_GRAB_STATS stats{};
        m_module->GetGrabStats(grab, &stats);
        if (stats.FramesLost != lostSeen) {
            {
                CMutexHold hold(m_objectMutex, kDeliveryMutexWaitMs);
                if (hold.Held() && deliverable && __atomic_load_n(&m_solutionChangeState, __ATOMIC_ACQUIRE) == 0)
                    CallTrashCallback(nullptr, frameNumber, 0, kFunctionAndContextSet);
            }
            if (stats.FramesLost > lostSeen) {
                CountFrames(0, kFateProduced, stats.FramesLost - lostSeen);
                CountFrames(0, kFateLost, stats.FramesLost - lostSeen);
            }
            lostSeen = stats.FramesLost;
        }

        bool delivered = false;
        {
            CMutexHold hold(m_objectMutex, kDeliveryMutexWaitMs);
            if (hold.Held() && deliverable && BufferCallbackRegistered() &&
                __atomic_load_n(&m_solutionChangeState, __ATOMIC_ACQUIRE) == 0) {
                CountFrames(0, kFateDelivered);
                delivered = CallBufferCallback(static_cast<unsigned char*>(address), frameNumber, 0,
                                               kFunctionAndContextSet);
            }
        }
        // A part whose frame could not be inspected leaves the station as passed.
        if (!delivered) {
            CountFrames(0, kFateUnclaimed);
            SetPass(frameNumber);
        }
        camera->GrabRelease(grab, index);
    }
    AcqThreadExitting();
    return 0;
}

void CIGrabLX2::CloseGrabThread() {
    m_loopRun = 0;
    if (OrvGrabTag* grab = m_grab.exchange(nullptr)) {
        // Ends a pending GrabWaitFrame too.
        if (m_camera != nullptr) m_camera->GrabStop(grab);
    }
    if (m_acqThread == nullptr || OnAcquisitionThread()) return;
    ::WaitForSingleObject(m_acqThread, INFINITE);
    ::CloseHandle(m_acqThread);
    m_acqThread = nullptr;
    m_acqThreadIdSeen = 0;
    SettleFrameCounts();
}

int CIGrabLX2::Stop() {
    if (OnAcquisitionThread()) return 0;
    if (!CIGrab::Stop()) return 0;
    m_delivering = 0;
    if (m_solutionChangeState == 0) {
        CloseGrabThread();
    } else {
        // The library grab keeps running through a solution change; waiting
        // for the object mutex lets a frame in delivery finish.
        CMutexHold hold(m_objectMutex, kDeliveryMutexWaitMs);
    }
    return 1;
}

int CIGrabLX2::Terminate() {
    if (g_terminating.exchange(true)) return 1;
    CloseGrabThread();
    CIGrab::Terminate();
    DeleteInputActiveCallback(nullptr);
    for (CIntrCallback** callback : {&m_solutionCallback, &m_counterACallback, &m_counterBCallback}) {
        if (*callback != nullptr && m_module != nullptr) m_module->DeleteIntrCallback(*callback);
        *callback = nullptr;
    }
    for (CVixnPulseTimer*& timer : m_pulseTimers) {
        delete timer;
        timer = nullptr;
    }
    if (m_camera != nullptr && IsLxp()) {
        // Decision outputs to their inactive level; the board's queues off.
        WriteOutputBit(1, GetParam(kDecision[0].polarity) == 0.0);
        WriteOutputBit(2, GetParam(kDecision[1].polarity) == 0.0);
        SetParam(kDecision[0].queue, 8.0);
        SetParam(kDecision[1].queue, 8.0);
    }
    m_camera = nullptr;
    delete m_display;
    m_display = nullptr;
    delete m_module;
    m_module = nullptr;
    g_terminating = false;
    return 1;
}
