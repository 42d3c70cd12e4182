// CIGrabGev acquisition: the thread host and its two loops, starting and
// stopping the camera grabs, the GenICam acquisition commands, software and
// manual triggers, the I/O controllers' interrupt handlers, lost-frame
// reporting and the frame queries, and teardown in Terminate.
//
// One acquisition thread per object, created by the first Start, waits for
// the go event and runs one loop per Start: the asynchronous loop hands each
// camera's frames to the buffer-ex callback as they come, the synchronous
// loop waits for one frame of every camera and hands the ring slot holding
// them side by side to the buffer callback. Stop may come from a client
// thread or from inside a callback on the acquisition thread; only the
// former waits for the loop to end.
#include <kiru/cigrab_gev.h>
#include <kiru/scoped_handles.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "backends/gev/gev_atomic.h"
#include "capture/orv.h"
#include "platform/clock.h"
#include "platform/inet.h"
#include "platform/ip_net.h"
#include "platform/kernel.h"

using kiru::gev::Load;
using kiru::gev::Store;

namespace {

constexpr ULONG kParamIoWindowStart = 6;
constexpr ULONG kParamIoWindowEnd = 7;
constexpr ULONG kParamIoPulse = 8;
constexpr ULONG kParamTriggerMode = 9;
constexpr ULONG kParamTriggerSource = 10;
constexpr ULONG kParamSoftTrigger = 13;
constexpr ULONG kParamModel = 67;
constexpr ULONG kParamFrameTime = 80;
constexpr ULONG kParamIoLine = 0x4001;
constexpr ULONG kParamCameraIp = 0x400E;
constexpr ULONG kParamHostIp = 0x4014;
constexpr ULONG kFlagsGrab = 1;
constexpr ULONG kFlagsSynchronised = 0x81;

constexpr DWORD kTriggerMutexWaitMs = 2000;
constexpr DWORD kSyncStartMutexWaitMs = 5000;
constexpr DWORD kFrameWaitMs = 100;
constexpr DWORD kNoCameraPauseMs = 50;
constexpr DWORD kManualTriggerSettleMs = 100;
// A frame this much older than camera 0's belongs to an earlier part.
constexpr double kStaleFrameUs = 800000.0;

bool Contains(const char* text, const char* word) { return text != nullptr && std::strstr(text, word) != nullptr; }

CAdvancedIOCam* IoChannel(CICapMod* module, int channel) {
    return module != nullptr ? dynamic_cast<CAdvancedIOCam*>(module->GetCam(static_cast<ULONG>(channel))) : nullptr;
}

// Fires a software trigger on an I/O controller channel: the trigger source
// is switched to software for the write and put back afterwards.
void SoftTriggerChannel(CICamera* channel) {
    if (channel == nullptr) return;
    double source = 0.0;
    channel->GetAcqParam(kParamTriggerSource, &source);
    if (source != 0.0) channel->SetAcqParam(kParamTriggerSource, 0.0);
    channel->SetAcqParam(kParamSoftTrigger, 1.0);
    if (source != 0.0) channel->SetAcqParam(kParamTriggerSource, source);
}

// Calibration stations take a frame only when it was asked for: a software
// trigger must be pending, or a free-running camera must have reached the
// time of its next frame.
bool SkipForCalibration(IXGrab::TriggerMethod method, double expectedUs, double arrivalUs, bool triggerPending) {
    return (method == IXGrab::TRIGGER_SOFTWARE && !triggerPending) ||
           (method == IXGrab::TRIGGER_FREE_RUN && expectedUs > arrivalUs);
}

}  // namespace

// ---- Run flags ------------------------------------------------------------------

bool CIGrabGev::LoopRuns() const { return Load(m_loopRun) != 0; }

void CIGrabGev::SetLoopRun(bool run) { Store(m_loopRun, run ? 1 : 0); }

bool CIGrabGev::OnAcquisitionThread() const {
    return m_acqThread != nullptr && Load(m_acqThreadId) == static_cast<ULONG>(::GetCurrentThreadId());
}

// ---- Start, Stop, Destroy, Terminate ----------------------------------------------

int CIGrabGev::Start() {
    // The loop cannot start again while its own thread is inside a callback.
    if (OnAcquisitionThread()) return Fail("CIGrabGev", "Start", "called from inside a callback");
    if (!CIGrab::Start()) return 0;
    if (m_camera[0] == nullptr) return 0;

    m_running = 1;
    SetLoopRun(true);
    for (int c = 0; c < m_numCameras && c < kMaxCameras; ++c) {
        if (m_camera[c] != nullptr)
            m_camera[c]->SetAoi(static_cast<WORD>(m_offsetX), static_cast<WORD>(m_offsetY), static_cast<WORD>(m_width),
                                static_cast<WORD>(m_height));
    }
    SetTriggerParams();
    ::ResetEvent(m_acqReadyEvent);
    if (m_acqThread == nullptr) {
        Store(m_hostRun, 1);
        m_acqThread = ::CreateThread(nullptr, 0, &CIGrabGev::ThreadHostMain, this, 0, nullptr);
    }
    ::SetEvent(m_goEvent);
    if (m_acqThread == nullptr) {
        m_running = 0;
        SetLoopRun(false);
        return Fail("CIGrabGev", "Start", "Failed to create acq thread");
    }
    // Every loop sets the ready event, also when its grabs did not start.
    ::WaitForSingleObject(m_acqReadyEvent, INFINITE);
    bool started;
    {
        CMutexHold lock(m_grabLock, INFINITE);
        started = Load(m_grab[0]) != nullptr;
    }
    if (started) return 1;
    m_running = 0;
    SetLoopRun(false);
    return Fail("CIGrabGev", "Start", "Failed to start grab");
}

int CIGrabGev::Stop() {
    const int result = CIGrab::Stop();
    if (!result) return result;
    ::ResetEvent(m_acqStoppedEvent);
    SetLoopRun(false);
    StopGrabs(-1);
    // Called from inside a callback, the loop ends once the callback returns.
    if (Load(m_inAcquisition) && !OnAcquisitionThread()) ::WaitForSingleObject(m_acqStoppedEvent, INFINITE);
    return 1;
}

int CIGrabGev::Destroy() { return CIGrab::Destroy(); }

int CIGrabGev::Terminate() {
    // Tearing the modules down under the loop that uses them is not allowed.
    if (OnAcquisitionThread()) return Fail("CIGrabGev", "Terminate", "called from inside a callback");
    CIGrab::Terminate();
    Store(m_hostRun, 0);
    ::SetEvent(m_goEvent);
    if (m_acqThread != nullptr) {
        ::WaitForSingleObject(m_acqThread, INFINITE);
        ::CloseHandle(m_acqThread);
        m_acqThread = nullptr;
    }

    if (m_ioCallback != nullptr) {
        // Each module deletes only the callbacks it made; the others ignore it.
        if (m_rcsModule != nullptr) {
            if (CRCS* rcs = dynamic_cast<CRCS*>(m_rcsModule)) {
                for (OrvPulseGenTag*& unit : m_pulseGen) {
                    if (unit != nullptr) rcs->DeletePulseGenUnit(unit);
                    unit = nullptr;
                }
            }
            m_rcsModule->DeleteIntrCallback(m_ioCallback);
        }
        if (m_trxModule != nullptr) m_trxModule->DeleteIntrCallback(m_ioCallback);
        if (m_usbModule[0] != nullptr) m_usbModule[0]->DeleteIntrCallback(m_ioCallback);
        if (m_gioModule != nullptr) m_gioModule->DeleteIntrCallback(m_ioCallback);
        else if (m_qbmModule != nullptr) m_qbmModule->DeleteIntrCallback(m_ioCallback);
        m_ioCallback = nullptr;
    }
    delete m_display;
    m_display = nullptr;

    {
        CMutexHold lock(m_grabLock, INFINITE);
        for (int c = 0; c < kMaxCameras; ++c) {
            if (m_camModule[c] == nullptr) continue;
            if (m_camera[c] != nullptr) {
                const char* cameraIp = CameraText(m_camera[c], kParamCameraIp);
                MIB_IPNETROW row{};
                row.dwIndex = OrxGetAdapterIndexFromIP(inet_addr(CameraText(m_camera[c], kParamHostIp)));
                row.dwAddr = inet_addr(cameraIp);
                // No entry is the state wanted (it was never set, or the
                // system lost it); any other refusal leaves one behind.
                const DWORD error = DeleteIpNetEntry(&row);
                if (error != NO_ERROR && error != ERROR_NOT_FOUND) {
                    char line[160];
                    std::snprintf(line, sizeof line, "static address entry for %s not removed (error %lu)", cameraIp,
                                  static_cast<unsigned long>(error));
                    DbgPrint(line);
                }
            }
            delete m_interrupt[c];
            m_interrupt[c] = nullptr;
            delete m_camModule[c];
            m_camModule[c] = nullptr;
            m_camera[c] = nullptr;
            Store(m_grab[c], static_cast<OrvGrabTag*>(nullptr));
        }
    }
    m_primaryModule = nullptr;
    std::free(m_colourBuffer);
    m_colourBuffer = nullptr;
    m_colourBufferSize = 0;

    delete m_gioModule;
    m_gioModule = nullptr;
    DeletePlcCallbacks();
    delete m_rcsModule;
    m_rcsModule = nullptr;
    if (m_trxModule != nullptr) {
        for (int side = 0; side < 2; ++side) {
            if (m_trxCallback[side] != nullptr) m_trxModule->DeleteIntrCallback(m_trxCallback[side]);
            m_trxCallback[side] = nullptr;
            if (CICamera* ch = m_trxModule->GetCam(static_cast<ULONG>(side)))
                for (ULONG line = 0; line < 4; ++line) ch->SetAcqParam(kParamIoLine, 0.0, line);
        }
        delete m_trxModule;
        m_trxModule = nullptr;
    }
    for (int module = 0; module < kMaxUsbModules; ++module) {
        if (m_usbModule[module] == nullptr) continue;
        for (int channel = 0; channel < 4; ++channel) {
            if (module == 0 && m_usbCallback[channel] != nullptr) {
                m_usbModule[0]->DeleteIntrCallback(m_usbCallback[channel]);
                m_usbCallback[channel] = nullptr;
            }
            if (CICamera* ch = m_usbModule[module]->GetCam(static_cast<ULONG>(channel)))
                for (ULONG line = 0; line < 2; ++line) ch->SetAcqParam(kParamIoLine, 0.0, line);
        }
        delete m_usbModule[module];
        m_usbModule[module] = nullptr;
    }
    delete m_qbmModule;
    m_qbmModule = nullptr;
    return 1;
}

// ---- Grabs --------------------------------------------------------------------

ULONG CIGrabGev::RingSlotCount(std::size_t slotBytes) const {
    if (m_ring == nullptr || slotBytes == 0) return 0;
    return static_cast<ULONG>(std::min<std::size_t>(m_bufferCount, m_ringSize / slotBytes));
}

void CIGrabGev::ArmIoControllers() {
    auto armQueue = [](CAdvancedIOCam* ch, bool triggerDelay) {
        if (ch == nullptr) return;
        ch->AdvancedIOSetValidateWindow(0, triggerDelay ? 0 : 6000);
        ch->SetAcqParam(kParamIoWindowStart, 0.0);
        ch->SetAcqParam(kParamIoWindowEnd, 0.0);
        ch->SetAcqParam(kParamIoPulse, 500.0);
        ch->AdvancedIOStop();
        ch->AdvancedIOStart();
    };
    if (m_trxModule != nullptr)
        for (int side = 0; side < 2; ++side)
            armQueue(IoChannel(m_trxModule, side), m_cam[side].triggerDelayEnable != 0);
    if (m_rcsModule != nullptr) {
        for (ULONG side = 0; side < 2; ++side) {
            CICamera* ch = m_rcsModule->GetCam(side);
            if (ch == nullptr) continue;
            ch->SetAcqParam(kParamIoWindowStart, 0.0);
            ch->SetAcqParam(kParamIoWindowEnd, 0.0);
            ch->SetAcqParam(kParamIoPulse, 500.0);
            ch->SetAcqParam(kParamTriggerSource, (side == 1 && m_asyncMode) ? 7.0 : 1.0);
        }
    }
    for (CICapMod* usb : m_usbModule) {
        if (usb == nullptr) continue;
        for (int channel = 0; channel < 4; ++channel)
            armQueue(IoChannel(usb, channel), m_cam[channel].triggerDelayEnable != 0);
    }
}

void CIGrabGev::StartGrabs(int camera) {
    const int cameras = std::clamp(m_numCameras, 0, static_cast<int>(kMaxCameras));
    const std::size_t frameSize = std::size_t(m_camAttr[0].bytesPerPixel) * m_height * m_width;
    const std::size_t planes = m_imageColor == IFW_COLOR_PLANAR ? 3 : 1;
    ArmIoControllers();

    // Each ring slot holds every camera's image side by side.
    const std::size_t slotBytes = std::size_t(cameras) * planes * frameSize;
    const ULONG count = RingSlotCount(slotBytes);
    std::vector<void*> buffers(count);
    auto startOne = [&](int c, ULONG flags) {
        if (m_camera[c] == nullptr || count == 0) return;
        for (ULONG k = 0; k < count; ++k) buffers[k] = m_ring + std::size_t(c) * frameSize + std::size_t(k) * slotBytes;
        Store(m_grab[c], m_camera[c]->Grab(flags, buffers.data(), count, -1, 0, 0, 0, 0));
        Store(m_camFrameCount[c], ULONG{0});
        m_lostSeen[c] = 0;
        // Several cameras of this make on one free-running line start staggered.
        if (cameras >= 2 && NameContains("VEX-") && m_cam[c].triggerMethod == TRIGGER_FREE_RUN)
            ::Sleep(static_cast<DWORD>(153 / cameras));
    };

    CMutexHold lock(m_grabLock, INFINITE);
    if (camera >= 0) {
        if (camera < cameras) startOne(camera, kFlagsGrab);
        return;
    }
    // Synchronised start: every camera's grab is armed, then all are released together.
    const bool synchronised = !m_asyncMode && cameras >= 2 && Contains(CameraText(m_camera[0], kParamModel), "Marlo");
    if (synchronised && m_trxModule != nullptr) {
        m_trxModule->WriteModuleReg(9, 0, 1, 0);
        m_trxModule->WriteModuleReg(14, 0, 1, 0);
    }
    for (int c = 0; c < cameras; ++c) startOne(c, synchronised ? kFlagsSynchronised : kFlagsGrab);
    if (synchronised) {
        for (int c = 0; c < cameras; ++c)
            if (m_camera[c] != nullptr) m_camera[c]->WriteReg(ORV_REG_SYNC_START, 1);
        if (m_trxModule != nullptr) {
            m_trxModule->WriteModuleReg(9, 0, 1, 1);
            m_trxModule->WriteModuleReg(14, 0, 1, 1);
        }
    }
}

void CIGrabGev::StopGrabs(int camera) {
    CMutexHold lock(m_grabLock, INFINITE);
    for (int c = 0; c < kMaxCameras; ++c) {
        if (camera >= 0 && c != camera) continue;
        HGRAB grab = Load(m_grab[c]);
        if (grab == nullptr || m_camera[c] == nullptr) continue;
        // Wakes an asynchronous loop waiting for this camera's next frame.
        if (m_interrupt[c] != nullptr) ::SetEvent(m_interrupt[c]->EventHandle());
        m_camera[c]->GrabStop(grab);
        Store(m_grab[c], static_cast<OrvGrabTag*>(nullptr));
    }
}

void CIGrabGev::StartGeni(int camera) {
    if (camera < 0 || camera >= kMaxCameras) return;
    CGige* gige = dynamic_cast<CGige*>(m_camModule[camera]);
    if (gige == nullptr) return;
    gige->SetVal("TLParamsLocked", 1.0, 0, 0);
    gige->SetEnumVal("AcquisitionMode", "Continuous", 0, 0);
    gige->SetVal("AcquisitionStart", 1.0, 0, 0);
    ::Sleep(10);
    gige->SetVal("AcquisitionStart", 1.0, 0, 0);
}

void CIGrabGev::StopGeni(int camera) {
    if (camera < 0 || camera >= kMaxCameras) return;
    CGige* gige = dynamic_cast<CGige*>(m_camModule[camera]);
    if (gige == nullptr) return;
    gige->SetVal("AcquisitionStop", 1.0, 0, 0);
    gige->SetVal("TLParamsLocked", 0.0, 0, 0);
}

// ---- The thread host and its loops -------------------------------------------------

DWORD CIGrabGev::ThreadHostMain(void* self) { return static_cast<CIGrabGev*>(self)->RunThreadHost(); }

DWORD CIGrabGev::RunThreadHost() {
    while (Load(m_hostRun)) {
        ::WaitForSingleObject(m_goEvent, INFINITE);
        if (Load(m_hostRun)) {
            Store(m_inAcquisition, 1);
            if (m_asyncMode) RunAsyncLoop();
            else RunSyncLoop();
            // A loop stopped while it was reopening a camera may have started
            // that camera's grab again after Stop stopped the others.
            if (!LoopRuns()) StopGrabs(-1);
            SettleFrameCounts();
            Store(m_inAcquisition, 0);
        }
        ::SetEvent(m_acqStoppedEvent);
    }
    return 0;
}

void CIGrabGev::ReleaseHeldFrames() {
    for (int c = 0; c < kMaxCameras; ++c) {
        if (m_frameIndex[c] < 0) continue;
        HGRAB grab = Load(m_grab[c]);
        if (grab != nullptr && m_camera[c] != nullptr) m_camera[c]->GrabRelease(grab, m_frameIndex[c]);
        m_frameIndex[c] = -1;
    }
}

void CIGrabGev::RunAsyncLoop() {
    HANDLE local = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    Store(m_acqThreadId, static_cast<ULONG>(::GetCurrentThreadId()));
    double expected = NowMs() * 1000.0;
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    const int cameras = std::clamp(m_numCameras, 1, static_cast<int>(kMaxCameras));
    const std::size_t frameSize = std::size_t(m_camAttr[0].bytesPerPixel) * m_height * m_width;

    for (CICapMod* usb : m_usbModule)
        if (usb != nullptr) usb->SetSyncMode(0, 1, 0);
    StartGrabs(-1);
    {
        CMutexHold lock(m_grabLock, INFINITE);
        for (int c = 0; c < cameras; ++c)
            if (m_camera[c] != nullptr && m_interrupt[c] == nullptr)
                m_interrupt[c] = m_camera[c]->CreateInterruptObject(ORV_EVENT_FRAME, 1);
    }
    const bool started = Load(m_grab[0]) != nullptr;
    if (!started) {
        m_running = 0;
        SetLoopRun(false);
    }
    ::SetEvent(m_acqReadyEvent);

    ULONG taken = 0;
    while (started && LoopRuns()) {
        int cam = -1;
        int index = -1;
        void* address = nullptr;
        ULONG waiting = 0;
        GRAB_EXT_ATTR ext{};
        // Every camera is asked without waiting; the lowest index wins.
        for (int c = 0; c < cameras && cam < 0; ++c) {
            HGRAB grab = Load(m_grab[c]);
            if (grab == nullptr || m_camera[c] == nullptr) continue;
            index = m_camera[c]->GrabWaitFrame(grab, &address, -1, 0, 1, &waiting, nullptr, &ext);
            if (index >= 0) cam = c;
        }
        if (cam < 0) {
            for (int c = 0; c < cameras; ++c) CheckConnection(c);
            HANDLE events[kMaxCameras];
            for (int c = 0; c < cameras; ++c)
                events[c] = m_interrupt[c] != nullptr ? m_interrupt[c]->EventHandle() : local;
            const DWORD woke = ::WaitForMultipleObjects(static_cast<DWORD>(cameras), events, FALSE, kFrameWaitMs);
            if (woke == WAIT_TIMEOUT) continue;
            const DWORD which = (woke >= WAIT_ABANDONED_0 && woke < WAIT_ABANDONED_0 + DWORD(cameras))
                                    ? woke - WAIT_ABANDONED_0
                                    : woke - WAIT_OBJECT_0;
            if (!LoopRuns() || which >= DWORD(cameras)) break;
            HGRAB grab = Load(m_grab[which]);
            if (grab == nullptr || m_camera[which] == nullptr) continue;
            index = m_camera[which]->GrabWaitFrame(grab, &address, -1, 0, 1, &waiting, nullptr, &ext);
            if (index < 0) continue;
            cam = static_cast<int>(which);
        }

        CICamera* camera = m_camera[cam];
        HGRAB grab = Load(m_grab[cam]);
        double frameTime = 0.0;
        camera->GetAcqParam(kParamFrameTime, &frameTime, static_cast<ULONG>(index));
        Store(m_frameTime[cam], frameTime);
        m_arrivalTime[cam] = ext.ArrivalTime;
        Store(m_frameAddress[cam], static_cast<unsigned char*>(address));
        m_frameIndex[cam] = index;
        CountFrames(cam, kFateProduced);

        // Calibration stations skip frames that come before their time.
        const bool calibration = NameContains("Calib");
        if (calibration &&
            SkipForCalibration(m_cam[cam].triggerMethod, expected, ext.ArrivalTime, Load(m_manualTriggerPending))) {
            ReleaseHeldFrames();
            continue;
        }

        const ULONG frameCount = Load(m_camFrameCount[cam]) + 1;
        Store(m_camFrameCount[cam], frameCount);
        for (ULONG& word : m_results) Store(word, ULONG{0});
        if (calibration) expected += static_cast<double>(m_cam[cam].frameDelay) * 1000.0;
        if (++taken == m_bufferCount) ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_NORMAL);

        CheckLostFrames(cam, grab, ext.FrameNumber, true);
        Store(m_currentCamera, cam);

        if (BufferExCallbackRegistered()) {
            unsigned char* image =
                ConvertTo24(cam, static_cast<unsigned char*>(address) - std::size_t(cam) * frameSize);
            if (Load(m_manualTriggerPending) && !Load(m_appRunning)) ::Sleep(kManualTriggerSettleMs);
            Store(m_manualTriggerPending, 0);
            CountFrames(cam, kFateDelivered);
            CallBufferExCallback(image, frameCount, 0, cam);
        }
        ReleaseHeldFrames();
    }

    {
        CMutexHold lock(m_grabLock, INFINITE);
        for (CInterrupt*& interrupt : m_interrupt) {
            delete interrupt;
            interrupt = nullptr;
        }
    }
    if (local != nullptr) ::CloseHandle(local);
    if (started) AcqThreadExitting();
}

void CIGrabGev::RunSyncLoop() {
    const int cameras = std::clamp(m_numCameras, 1, static_cast<int>(kMaxCameras));
    const std::size_t frameSize = std::size_t(m_camAttr[0].bytesPerPixel) * m_height * m_width;
    Store(m_acqThreadId, static_cast<ULONG>(::GetCurrentThreadId()));
    double expected = NowMs() * 1000.0;
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    {
        // Start-up goes on after a time-out of the object mutex.
        CMutexHold hold(m_objectMutex, kSyncStartMutexWaitMs);
        for (CICapMod* usb : m_usbModule)
            if (usb != nullptr) usb->SetSyncMode(1, 1, 0);
        ::Sleep(50);
        StartGrabs(-1);
    }
    const bool started = Load(m_grab[0]) != nullptr;
    if (!started) {
        m_running = 0;
        SetLoopRun(false);
    }
    ::SetEvent(m_acqReadyEvent);
    if (!started) return;
    if (!LoopRuns()) {
        AcqThreadExitting();
        return;
    }

    ULONG cycles = 0;
    double latestArrival = 0.0;
    GRAB_EXT_ATTR latest{};
    while (LoopRuns()) {
        double reference = 0.0;
        int c = 0;
        while (c < cameras && LoopRuns()) {
            CICamera* camera = m_camera[c];
            HGRAB grab = Load(m_grab[c]);
            int index = -1;
            void* address = nullptr;
            GRAB_EXT_ATTR ext{};
            if (camera != nullptr && grab != nullptr) {
                // A frame still held from a cycle that was restarted is given back first.
                if (m_frameIndex[c] >= 0) camera->GrabRelease(grab, m_frameIndex[c]);
                m_frameIndex[c] = -1;
                ULONG waiting = 0;
                index = camera->GrabWaitFrame(grab, &address, -1, kFrameWaitMs, 1, &waiting, nullptr, &ext);
                if (index >= 0) {
                    double frameTime = 0.0;
                    camera->GetAcqParam(kParamFrameTime, &frameTime, static_cast<ULONG>(index));
                    Store(m_frameTime[c], frameTime);
                    Store(m_frameAddress[c], static_cast<unsigned char*>(address));
                    m_frameIndex[c] = index;
                    CountFrames(c, kFateProduced);
                }
            } else {
                ::Sleep(kNoCameraPauseMs);
            }

            if (index < 0) {
                if (!LoopRuns()) break;
                if (!CheckConnection(c)) {
                    c = 0;
                    continue;
                }
                // A camera that stopped delivering while the others go on: start the cycle afresh.
                if (c != 0 && NowMs() * 1000.0 - latestArrival > kStaleFrameUs && Load(m_camFrameCount[c]) != 0) {
                    for (int k = 0; k < cameras; ++k) {
                        HGRAB held = Load(m_grab[k]);
                        if (held != nullptr && m_camera[k] != nullptr) m_camera[k]->GrabRelease(held, -1);
                        m_frameIndex[k] = -1;
                    }
                    if (CAdvancedIOCam* ch = IoChannel(m_usbModule[c / 4], c % 4)) {
                        ch->AdvancedIOStop();
                        ch->AdvancedIOStart();
                    }
                    c = 0;
                }
                continue;
            }

            if (c == 0) {
                reference = ext.ArrivalTime;
            } else if (ext.ArrivalTime < reference - kStaleFrameUs && m_cam[0].triggerMethod != TRIGGER_FREE_RUN) {
                // A frame of an earlier part: drop it, tell the camera's channel, and wait for a newer one.
                camera->GrabRelease(grab, index);
                m_frameIndex[c] = -1;
                if (CAdvancedIOCam* ch = IoChannel(m_usbModule[c / 4], c % 4)) ch->AdvancedIOEnqueueDecision(0);
                continue;
            } else {
                unsigned char* slot = Load(m_frameAddress[0]) + std::size_t(c) * frameSize;
                if (address != slot) std::memcpy(slot, address, frameSize);
            }
            m_arrivalTime[c] = ext.ArrivalTime;
            latestArrival = ext.ArrivalTime;
            latest = ext;
            Store(m_camFrameCount[c], Load(m_camFrameCount[c]) + 1);
            ++c;
        }
        if (!LoopRuns()) break;

        const bool calibration = NameContains("Calib");
        if (calibration &&
            SkipForCalibration(m_cam[0].triggerMethod, expected, latestArrival, Load(m_manualTriggerPending))) {
            ReleaseHeldFrames();
            continue;
        }

        for (ULONG& word : m_results) Store(word, ULONG{0});
        if (calibration) expected += static_cast<double>(m_cam[0].frameDelay) * 1000.0;
        if (++cycles == m_bufferCount) ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_NORMAL);

        CheckLostFrames(0, Load(m_grab[0]), latest.FrameNumber, false);

        if (BufferCallbackRegistered()) {
            if (Load(m_manualTriggerPending) && !Load(m_appRunning)) ::Sleep(kManualTriggerSettleMs);
            Store(m_manualTriggerPending, 0);
            unsigned char* image = ConvertTo24(-1, Load(m_frameAddress[0]));
            for (int k = 0; k < cameras; ++k) CountFrames(k, kFateDelivered);
            CallBufferCallback(image, latest.FrameNumber, 0, kFunctionAndContextSet);
        }
        ReleaseHeldFrames();
    }
    ReleaseHeldFrames();
    AcqThreadExitting();
}

// Frames the camera lost because every buffer was held are reported through
// the trash callback; a jump of several also hands the decision queues an
// empty result for each frame beyond the first, so that the rejector stays
// in step with the parts.
void CIGrabGev::CheckLostFrames(int camera, OrvGrabTag* grab, ULONG frameNumber, bool async) {
    if (m_primaryModule == nullptr || grab == nullptr || camera < 0 || camera >= kMaxCameras) return;
    ORV_GRAB_STATS stats{};
    if (!m_primaryModule->GetGrabStats(grab, &stats)) return;
    const ULONG counter = stats.FramesLost;
    if (counter == m_lostSeen[camera]) return;
    CallTrashCallback(nullptr, frameNumber, 0, kFunctionAndContextSet);
    const ULONG difference = counter - m_lostSeen[camera];
    if (counter > m_lostSeen[camera]) {
        CountFrames(camera, kFateProduced, difference);
        CountFrames(camera, kFateLost, difference);
    }
    const int current = Load(m_currentCamera);
    if ((m_rcsModule != nullptr || m_trxModule != nullptr || m_usbModule[0] != nullptr) &&
        counter > m_lostSeen[camera] && difference > 1 && (!async || current == 0 || current == 1)) {
        ULONG saved[16];
        for (int i = 0; i < 16; ++i) {
            saved[i] = Load(m_results[i]);
            Store(m_results[i], ULONG{0});
        }
        for (ULONG i = 0; i + 1 < difference; ++i) EnqueueResult();
        for (int i = 0; i < 16; ++i) Store(m_results[i], saved[i]);
    }
    m_lostSeen[camera] = counter;
    m_lastLostCount = counter;
}

// ---- Triggers -----------------------------------------------------------------

void CIGrabGev::GevaSoftTrig(int channel) {
    if (channel < 0) return;
    if (m_trxModule != nullptr && channel < 2) SoftTriggerChannel(m_trxModule->GetCam(static_cast<ULONG>(channel)));
    if (m_rcsModule != nullptr && channel < 2) SoftTriggerChannel(m_rcsModule->GetCam(static_cast<ULONG>(channel)));
    if (channel / 4 < kMaxUsbModules && m_usbModule[channel / 4] != nullptr)
        SoftTriggerChannel(m_usbModule[channel / 4]->GetCam(static_cast<ULONG>(channel % 4)));
}

int CIGrabGev::GenerateSoftTrigger(int camera) {
    CMutexHold hold(m_objectMutex, kTriggerMutexWaitMs);
    if (!hold.Held()) return 0;
    Store(m_manualTriggerPending, 1);
    auto fire = [this](int c) {
        GevaSoftTrig(c);
        if (m_camera[c] != nullptr) m_camera[c]->SetAcqParam(kParamSoftTrigger, 0.0);
    };
    if (camera >= 0 && camera < m_numCameras && camera < kMaxCameras) {
        fire(camera);
    } else if (GetTriggerMethod() == TRIGGER_SOFTWARE) {
        for (int c = 0; c < m_numCameras && c < kMaxCameras; ++c) fire(c);
    }
    return 1;
}

void CIGrabGev::GenerateManualTrigger(int camera) {
    std::optional<CMutexHold> hold;
    hold.emplace(m_objectMutex, kTriggerMutexWaitMs);
    if (!hold->Held()) {
        hold.reset();
        CIGrab::GenerateManualTrigger(camera);
        return;
    }
    Store(m_manualTriggerPending, 1);
    // Cameras driven through GenICam acquisition commands are reprogrammed
    // without the object mutex.
    const bool geni = m_running && (NameContains("Marlo TS") || NameContains("Wren") || m_lineScan != 0);
    if (geni) hold.reset();

    const bool one = camera >= 0 && camera < m_numCameras && camera < kMaxCameras;
    const int first = one ? camera : 0;
    const int last = one ? camera : std::min(m_numCameras, static_cast<int>(kMaxCameras)) - 1;
    double source[kMaxCameras] = {};
    TriggerMethod savedMethod[kMaxCameras] = {};
    const ULONG framesBefore = Load(m_camFrameCount[0]);

    for (int c = first; c <= last; ++c) {
        CICamera* cam = m_camera[c];
        if (cam == nullptr) continue;
        cam->GetAcqParam(kParamTriggerSource, &source[c]);
        savedMethod[c] = m_cam[c].triggerMethod;
        if (source[c] != 0.0) {
            if (geni) StopGeni(c);
            cam->SetStoredVal(kParamTriggerMode, 1.0, 0);
            cam->SetAcqParam(kParamTriggerSource, 0.0);
            if (geni) {
                m_cam[c].triggerMethod = TRIGGER_SOFTWARE;
                StartGeni(c);
            }
        }
        cam->SetAcqParam(kParamSoftTrigger, 0.0);
    }

    auto restore = [&](int c) {
        if (m_camera[c] == nullptr || source[c] == 0.0) return;
        if (geni) StopGeni(c);
        m_camera[c]->SetAcqParam(kParamTriggerSource, source[c]);
        m_cam[c].triggerMethod = savedMethod[c];
        if (geni) StartGeni(c);
    };
    if (one) {
        if (source[camera] != 0.0) {
            ::Sleep(20);
            restore(camera);
        }
    } else {
        // The programming goes back once camera 0 has delivered the frame.
        for (int polls = 0; polls < 200 && m_running && Load(m_camFrameCount[0]) == framesBefore; ++polls) ::Sleep(30);
        for (int c = first; c <= last; ++c) restore(c);
    }
}

// ---- Interrupt handlers ----------------------------------------------------------

void CIGrabGev::IoInterrupt(void* context) { static_cast<CIGrabGev*>(context)->ChangeSolutionInterrupt(); }

void CIGrabGev::ChannelInterrupt(void* context) {
    const ChannelContext* channel = static_cast<ChannelContext*>(context);
    channel->grab->StartExposureInterrupt(channel->channel);
}

void CIGrabGev::StartExposureInterrupt(int channel) {
    if (!LoopRuns()) return;
    CICapMod* module = m_trxModule != nullptr ? m_trxModule : m_usbModule[0];
    if (module == nullptr) return;
    const int channels = module == m_trxModule ? 2 : 4;
    if (m_asyncMode) {
        if (CAdvancedIOCam* ch = IoChannel(module, channel)) ch->AdvancedIOValidateEntry();
    } else if (channel == 0) {
        for (int c = 0; c < channels; ++c)
            if (CAdvancedIOCam* ch = IoChannel(module, c)) ch->AdvancedIOValidateEntry();
    }
}

void CIGrabGev::ChangeSolutionInterrupt() {
    const UINT value = GetGPInputValue(0);
    const IFW_BUFFER_CALLBACK callback = m_changeSolutionCallback;
    void* context = m_changeSolutionContext;
    if (callback == nullptr || m_hwSolutionIdBits < 1) return;
    if (m_trxModule != nullptr) {
        // The controller's busy line is high while the client changes solution.
        m_trxModule->WriteOutputPort(1, 17);
        callback(nullptr, value, 0, context);
        m_trxModule->WriteOutputPort(0, 17);
    } else if (m_usbModule[0] != nullptr) {
        callback(nullptr, value, 0, context);
    } else if (m_rcsModule != nullptr) {
        const ULONG word = m_rcsModule->GetModuleParam(93);
        m_rcsModule->SetModuleParam(93, word | 64);
        callback(nullptr, (word >> 8) & 31, 0, context);
    } else if (m_gioModule != nullptr) {
        m_gioModule->WriteOutputPort(1, 7);
        callback(nullptr, value, 0, context);
        m_gioModule->WriteOutputPort(0, 7);
    } else if (m_qbmModule != nullptr) {
        m_qbmModule->WriteOutputPort(0, 18);
        callback(nullptr, value, 0, context);
        m_qbmModule->WriteOutputPort(1, 18);
    }
}

// ---- Frame queries and the rest ----------------------------------------------------

ULONG CIGrabGev::GetFrameCount(int camera) {
    if (camera < 0 || camera >= kMaxCameras) camera = 0;
    return Load(m_camFrameCount[camera]);
}

void* CIGrabGev::GetFramePtr(int camera) {
    if (camera < 0 || camera >= kMaxCameras) camera = 0;
    return Load(m_frameAddress[camera]);
}

double CIGrabGev::GetFrameTimestamp(int camera) {
    if (camera < 0 || camera >= kMaxCameras) camera = 0;
    return Load(m_frameTime[camera]) / 1000.0;
}

void CIGrabGev::SetAcqReady(int ready) {
    if (m_qbmModule != nullptr && (m_qbmModule->GetModuleInfo() & 1)) SetOutputPort(3, ready);
}

int CIGrabGev::Display(HWND window, unsigned char* image) {
    if (!CIGrab::Display(window, image)) return 0;
    if (m_display == nullptr) {
        m_display = OrxCreateImgConn(image, m_width, m_height, m_camAttr[0].bitsPerPixel, window,
                                     m_camAttr[0].colorCode, 1, nullptr, 11, 1, nullptr, nullptr);
        if (m_display == nullptr) return 0;
    }
    m_display->GetSrc()->SetBufferAddr(image);
    m_display->Display();
    return 1;
}

void CIGrabGev::RegisterAcquireEventCallback(IFW_ACQ_EVENT_CALLBACK fn, void* context) {
    m_acqEventCallback = fn;
    m_acqEventContext = context;
}

void CIGrabGev::UnRegisterAcquireEventCallback() {
    m_acqEventCallback = nullptr;
    m_acqEventContext = nullptr;
}
