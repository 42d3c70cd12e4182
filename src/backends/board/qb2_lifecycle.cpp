// CIGrabQB2 lifecycle: the advanced-I/O entry points, bring-up of the
// "QBM" board, the sensor window, the acquisition thread with the first
// grab's settling and the start of the decision queue, and teardown.
#include <kiru/cigrab_qb2.h>
#include <kiru/pulse_timers.h>
#include <kiru/scoped_handles.h>

#include <atomic>
#include <cstring>

#include "backends/board/board_support.h"
#include "backends/board/qb2_params.h"
#include "capture/camera.h"
#include "capture/imgconn.h"
#include "capture/module.h"
#include "capture/orvos.h"
#include "capture/orx.h"
#include "platform/clock.h"
#include "platform/dynload.h"
#include "platform/kernel.h"

using namespace kiru::qb2;

namespace {

constexpr ULONG kDeliveryMutexWaitMs = 2000;
constexpr DWORD kSettleTriggerMs = 100;
constexpr double kSettleDrainMs = 200.0;
constexpr ULONG kFirstDrainWaitMs = 2000;
constexpr ULONG kDrainWaitMs = 5;
constexpr DWORD kNoFrameSleepMs = 10;

std::atomic<bool> g_terminating{false};
// The first acquisition of the process lets the camera settle and starts the
// board's decision queue.
std::atomic<bool> g_firstAcquisition{true};

}  // namespace

CIGrabQB2::CIGrabQB2() : m_appliedTriggerMethod(m_triggerMethod) {
    m_rejectorDelay = 1500;
    m_recycleDelay = 1500;
    OrxSetConsoleHandler(nullptr);
    m_os = new CORVOS();
    m_acqReadyEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_hwSolutionIdBits = 3;
    m_library = LoadLibraryA("orv21.dll");
    if (m_library != nullptr) {
        m_ioStart = reinterpret_cast<AdvancedIoFn>(GetProcAddress(m_library, "QbmAdvancedIOStart"));
        m_ioStop = reinterpret_cast<AdvancedIoFn>(GetProcAddress(m_library, "QbmAdvancedIOStop"));
        m_ioEnqueue = reinterpret_cast<EnqueueFn>(GetProcAddress(m_library, "QbmAdvancedIOEnqueueDecision"));
    }
}

CIGrabQB2::~CIGrabQB2() {
    Destroy();
    Terminate();
    if (m_acqReadyEvent != nullptr) ::CloseHandle(m_acqReadyEvent);
    m_acqReadyEvent = nullptr;
    delete m_os;
    m_os = nullptr;
    if (m_library != nullptr) FreeLibrary(m_library);
    m_library = nullptr;
}

IFW_IGRABTYPE CIGrabQB2::GetGrabType() { return IGRAB_QB2; }

void CIGrabQB2::SetParam(ULONG number, double value) {
    if (m_camera != nullptr) m_camera->SetAcqParam(number, value, 0);
}

double CIGrabQB2::GetParam(ULONG number) {
    double value = 0.0;
    if (m_camera != nullptr) m_camera->GetAcqParam(number, &value, 0);
    return value;
}

bool CIGrabQB2::OnAcquisitionThread() const {
    return m_acqThread != nullptr && m_acqThreadIdSeen.load() == ::GetCurrentThreadId();
}

bool CIGrabQB2::Pause() {
    const bool wasRunning = m_running != 0;
    if (wasRunning) Stop();
    return wasRunning;
}

void CIGrabQB2::Resume(bool wasRunning) {
    if (wasRunning) Start();
}

// ---- Bring-up ---------------------------------------------------------------------

int CIGrabQB2::Initialize() {
    if (!CIGrab::Initialize()) return 0;
    if (kiru::board::BoardMutexExists("BrdMutex_QBM0")) {
        kiru::board::ShowBoardMessage(*this, kiru::board::kInUseCaption, kiru::board::kInUseText);
        return 0;
    }
    m_module = kiru::board::OpenWithAppDataFile(m_productName, "QBM", "QBMtest.txt");
    if (m_module == nullptr) m_module = OrxCreateCaptureModule("QBM", 0, "QBMtest.txt");
    if (m_module == nullptr) m_module = OrxCreateCaptureModule("QBM", 0, nullptr);
    if (m_module == nullptr) m_module = OrxCreateCaptureModule("HVQ", 0, "hvqtest.txt");
    if (m_module == nullptr) {
        kiru::board::ShowBoardMessage(*this, kiru::board::kNoModuleCaption, kiru::board::kNoModuleText);
        return 0;
    }
    ULONG info = 0;
    m_module->QueryModuleInfo(4, &info);
    m_camera = m_module->GetCam(0);
    if (m_camera == nullptr) {
        Terminate();
        return 0;
    }
    ORV_CAM_ATTR attr{};
    m_camera->GetAttr(&attr, 1);
    static_assert(sizeof attr == sizeof m_camAttrWords, "the attribute record is 27 words");
    std::memcpy(m_camAttrWords, &attr, sizeof m_camAttrWords);
    m_width = attr.Width;
    m_height = attr.Height;
    m_bitsPerPixel = attr.BitsPerPixel;
    m_bytesPerPixel = attr.BytesPerPixel;
    m_brightness = static_cast<UINT>(GetParam(kBrightness));
    m_contrast = static_cast<UINT>(GetParam(kContrast));
    m_strobeOffset = static_cast<UINT>(GetParam(kStrobeOffset));
    m_strobeDuration = static_cast<UINT>(GetParam(kStrobeDuration));

    m_module->SetModuleMode(1, 0);
    m_module->ConfigureModuleIo(0, 0, 0);
    SetParam(kDecisionEnable, 1.0);
    SetParam(kRejectorEnable, 1.0);
    SetParam(kRejectorDelay, m_rejectorDelay);
    SetParam(kPulseWidth, m_camDouble[3]);
    SetParam(16398, 3.0);
    if (GetParam(kTriggerDebounce) < 200.0) SetParam(kTriggerDebounce, 200.0);
    SetParam(16400, 200.0);

    m_module->WriteOutputPort(0, 34);
    m_module->WriteOutputPort(0, 16);
    m_module->EnableModuleIo(1, 1);
    m_solutionCallback = m_module->CreateIntrCallback(kEventSolution, &CIGrabQB2::ChangeSolutionThunk, this);

    for (ULONG line = 0; line < 4; ++line) m_gpoConfig[line] = IFW_GPO_CONFIG{1, 0, 1000, IFW_GPO_DRIVER_PLAIN, 0};
    m_gpoConfig[4] = IFW_GPO_CONFIG{1, 0, static_cast<ULONG>(m_camDouble[3] * 1000.0), IFW_GPO_DRIVER_PLAIN, 0};
    m_gpiConfig[0] = IFW_GPI_CONFIG{1, 200, 0, static_cast<float>(GetParam(kThreshold0)), 0};
    m_gpiConfig[4] = IFW_GPI_CONFIG{1, 200, 0, static_cast<float>(GetParam(kThreshold4)), 0};
    m_gpiConfig[7] = IFW_GPI_CONFIG{GetParam(kTriggerPolarity) != 0.0 ? 1u : 0u,
                                    static_cast<ULONG>(GetParam(kTriggerDebounce)), 0,
                                    static_cast<float>(GetParam(kTriggerThreshold)), 0};

    m_initialized = 1;
    LinearizeLUT();
    ORV_PARAM_CAPS caps{};
    if (m_camera->GetParamCaps(kExposure, &caps)) {
        m_exposureMin = caps.Min / 100.0;
        m_exposureMax = caps.Max / 100.0;
    }
    m_exposureLimit3 = 1.0;
    return 1;
}

void CIGrabQB2::ApplyAoi() {
    if (m_camera == nullptr) return;
    const ULONG lines = m_imageColor == IFW_COLOR_PLANAR ? 2 * m_height : m_horzTiles * m_vertTiles * m_height;
    m_camera->SetAoi(static_cast<WORD>(m_offsetX), static_cast<WORD>(m_offsetY), static_cast<WORD>(m_width),
                     static_cast<WORD>(lines));
}

int CIGrabQB2::Create(ULONG offsetX, ULONG offsetY, ULONG width, ULONG height, ULONG bitsPerPixel,
                      ULONG bufferCount, ULONG timeout) {
    if (m_camera == nullptr) return 0;
    if (offsetX < 0xFFFFFFFDu) offsetX += static_cast<ULONG>(GetParam(kWindowX));
    if (offsetY < 0xFFFFFFFDu) offsetY += static_cast<ULONG>(GetParam(kWindowY));
    if (!CIGrab::Create(offsetX, offsetY, width, height, bitsPerPixel, bufferCount, timeout)) return 0;
    ApplyAoi();
    m_created = 1;
    return 1;
}

int CIGrabQB2::Destroy() {
    CIGrab::Destroy();
    return 1;
}

// ---- Acquisition ------------------------------------------------------------------

int CIGrabQB2::Start() {
    if (OnAcquisitionThread()) return 0;
    if (!CIGrab::Start()) return 0;
    m_running = 1;
    SetTriggerParams();
    SetParam(kContrast, m_contrast);
    SetParam(kBrightness, m_brightness);
    SetParam(kTriggerDelay, m_extTriggerDelayEnabled ? m_extTriggerDelay * 1000.0 : 0.0);
    if (m_triggerMethod != m_appliedTriggerMethod) {
        CloseGrabThread();
        m_appliedTriggerMethod = m_triggerMethod;
    }
    if (m_acqThread == nullptr) {
        m_threadRun = 1;
        ApplyAoi();
        ::ResetEvent(m_acqReadyEvent);
        m_delivering = 1;
        m_acqThread = ::CreateThread(nullptr, 0, &CIGrabQB2::AcqThreadMain, this, 0, nullptr);
        if (m_acqThread == nullptr) {
            m_threadRun = 0;
            m_delivering = 0;
            m_running = 0;
            return Fail("CIGrabQB2", "Start", "Failed to create acq thread");
        }
        ::WaitForSingleObject(m_acqReadyEvent, INFINITE);
        if (m_grab.load() == nullptr) {
            m_threadRun = 0;
            m_delivering = 0;
            m_running = 0;
            return Fail("CIGrabQB2", "Start", "Failed to start grab");
        }
    }
    m_running = m_threadRun.load();
    m_delivering = m_running;
    return m_running;
}

DWORD CIGrabQB2::AcqThreadMain(void* self) { return static_cast<CIGrabQB2*>(self)->AcqThread(); }

DWORD CIGrabQB2::AcqThread() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    const ULONG id = ::GetCurrentThreadId();
    m_acqThreadIdSeen = id;
    __atomic_store_n(&m_acqThreadId, id, __ATOMIC_RELEASE);
    CICamera* camera = m_camera;
    OrvGrabTag* grab = camera->Grab(1, reinterpret_cast<void**>(m_imageArray), m_bufferCount, -1, 0, 0, 0, 0);
    m_grab = grab;
    ::SetEvent(m_acqReadyEvent);
    if (grab == nullptr) {
        m_threadRun = 0;
        return 0;
    }

    if (g_firstAcquisition.exchange(false)) {
        // The camera's first frames after power-up are discarded.
        if (m_appliedTriggerMethod != TRIGGER_FREE_RUN) {
            ::Sleep(kSettleTriggerMs);
            SetParam(kSoftTrigger, 0.0);
        }
        const double end = kiru::platform::NowMs() + kSettleDrainMs;
        ULONG wait = kFirstDrainWaitMs;
        while (kiru::platform::NowMs() < end && m_threadRun.load() != 0) {
            void* address = nullptr;
            ULONG waiting = 0;
            GRAB_EXT_ATTR ext{};
            const int index = camera->GrabWaitFrame(grab, &address, -1, wait, 1, &waiting, nullptr, &ext);
            wait = kDrainWaitMs;
            if (index == -2) break;
            if (index >= 0) {
                CountFrames(0, kFateProduced);
                CountFrames(0, kFateUnclaimed);
                camera->GrabRelease(grab, index);
            }
        }
        if (m_ioStart != nullptr) m_ioStart(m_module);
    }

    ULONG lostSeen = 0;
    long frames = -1;
    while (m_threadRun.load() != 0) {
        void* address = nullptr;
        ULONG waiting = 0;
        GRAB_EXT_ATTR ext{};
        const int index = camera->GrabWaitFrame(grab, &address, -1, INFINITE, 1, &waiting, nullptr, &ext);
        if (index == -2) break;  // the grab has ended
        if (index < 0) {
            ::Sleep(kNoFrameSleepMs);
            continue;
        }
        CountFrames(0, kFateProduced);
        if (++frames == static_cast<long>(m_bufferCount))
            ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_NORMAL);
        const ULONG frameNumber = ext.FrameNumber;
        const bool deliverable = m_delivering.load() != 0;
        ORV_GRAB_STATS stats{};
        m_module->GetGrabStats(grab, &stats);
        if (stats.FramesLost != lostSeen) {
            {
                CMutexHold hold(m_objectMutex, kDeliveryMutexWaitMs);
                if (hold.Held() && deliverable) CallTrashCallback(nullptr, frameNumber, 0, kFunctionAndContextSet);
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
            if (hold.Held() && deliverable && BufferCallbackRegistered()) {
                CountFrames(0, kFateDelivered);
                delivered = CallBufferCallback(static_cast<unsigned char*>(address), frameNumber, 0,
                                               kFunctionAndContextSet);
            }
        }
        if (!delivered) CountFrames(0, kFateUnclaimed);
        camera->GrabRelease(grab, index);
    }
    AcqThreadExitting();
    return 0;
}

void CIGrabQB2::CloseGrabThread() {
    m_threadRun = 0;
    if (OrvGrabTag* grab = m_grab.exchange(nullptr)) {
        if (m_camera != nullptr) m_camera->GrabStop(grab);
        // The board's decision timing is put back between grabs.
        SetParam(kRejectorDelay, m_rejectorDelay);
        SetParam(kPulseWidth, m_camDouble[3]);
        m_rejectorEnabledCopy = 0;
    }
    if (m_acqThread == nullptr || OnAcquisitionThread()) return;
    ::WaitForSingleObject(m_acqThread, INFINITE);
    ::CloseHandle(m_acqThread);
    m_acqThread = nullptr;
    m_acqThreadIdSeen = 0;
    SettleFrameCounts();
}

int CIGrabQB2::Stop() {
    if (OnAcquisitionThread()) return 0;
    if (!CIGrab::Stop()) return 0;
    m_delivering = 0;
    if (m_solutionChangeState == 0) {
        CloseGrabThread();
    } else {
        CMutexHold hold(m_objectMutex, kDeliveryMutexWaitMs);
    }
    return 1;
}

int CIGrabQB2::Terminate() {
    if (g_terminating.exchange(true)) return 1;
    CloseGrabThread();
    CIGrab::Terminate();
    DeleteInputActiveCallback(nullptr);
    if (m_solutionCallback != nullptr && m_module != nullptr) m_module->DeleteIntrCallback(m_solutionCallback);
    m_solutionCallback = nullptr;
    for (CQB2PulseTimer*& timer : m_pulseTimers) {
        delete timer;
        timer = nullptr;
    }
    m_camera = nullptr;
    delete m_display;
    m_display = nullptr;
    delete m_module;
    m_module = nullptr;
    g_terminating = false;
    return 1;
}
