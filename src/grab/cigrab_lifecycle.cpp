// CIGrab: construction, lifecycle (Initialize, Create, Start, Stop, Destroy,
// Terminate) and the heartbeat thread.
#include <kiru/cigrab.h>

#include <cstdlib>

#include "platform/kernel.h"

CIGrab::CIGrab()
    : m_heartbeatRun(1),
      m_schedulerMutex(::CreateMutexW(nullptr, FALSE, nullptr)),
      m_schedulerEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_schedulerThread(nullptr),
      m_schedulerStop(0),
      m_scheduleHead(nullptr),
      m_interjectCounter{0, 0, 0},
      m_byteCounts{0, 0, 0, 0},
      m_cameraDetected{0, 0, 0, 0, 0, 0, 0, 0},
      m_partsBetweenSensors(0),
      m_ringIsExternal(0),
      m_heartbeatThread(nullptr),
      m_heartbeatWake(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_frameCounts{} {}

// Copies every field as a value (handles and pointers are shared).
CIGrab::CIGrab(const CIGrab& other) : IXGrab(other) { *this = other; }

CIGrab& CIGrab::operator=(const CIGrab& other) {
    if (this == &other) return *this;
    IXGrab::operator=(other);
    m_heartbeatRun.store(other.m_heartbeatRun.load());
    m_schedulerMutex = other.m_schedulerMutex;
    m_schedulerEvent = other.m_schedulerEvent;
    m_schedulerThread = other.m_schedulerThread;
    m_schedulerStop.store(other.m_schedulerStop.load());
    m_scheduleHead = other.m_scheduleHead;
    for (int i = 0; i < 3; ++i) m_interjectCounter[i] = other.m_interjectCounter[i];
    m_byteCounts = other.m_byteCounts;
    for (int i = 0; i < 8; ++i) m_cameraDetected[i] = other.m_cameraDetected[i];
    m_partsBetweenSensors = other.m_partsBetweenSensors;
    m_ringIsExternal = other.m_ringIsExternal;
    m_heartbeatThread = other.m_heartbeatThread;
    m_heartbeatWake = other.m_heartbeatWake;
    for (int c = 0; c < 8; ++c)
        for (int fate = 0; fate < kFateCount; ++fate)
            m_frameCounts[c][fate] = __atomic_load_n(&other.m_frameCounts[c][fate], __ATOMIC_RELAXED);
    return *this;
}

// Back-end destructors and the exported deleter call Terminate first. An
// object destroyed without it still stops and joins its own threads here, so
// that no thread outlives the object it works on.
CIGrab::~CIGrab() {
    StopHeartbeat();
    StopScheduler();
    ReleaseRing(m_ringIsExternal != 0);
    DropScheduledOutputs();
    if (m_schedulerMutex) ::CloseHandle(m_schedulerMutex);
    if (m_schedulerEvent) ::CloseHandle(m_schedulerEvent);
    if (m_heartbeatWake) ::CloseHandle(m_heartbeatWake);
    m_schedulerMutex = m_schedulerEvent = m_heartbeatWake = nullptr;
    delete m_interjectEmulator;
    m_interjectEmulator = nullptr;
    std::free(m_interjectImage);
    m_interjectImage = nullptr;
    std::free(m_transformBuffer);
    m_transformBuffer = nullptr;
}

IFW_IGRABTYPE CIGrab::GetGrabType() { return IGRAB_COMMON; }

// The common Initialize does not set the initialized flag: each back-end
// sets it once its hardware is ready.
int CIGrab::Initialize() {
    if (m_initialized) return Fail("CIGrab", "Initialize", "Grab already initialized");
    m_ioRunning = 1;
    if (m_schedulerThread == nullptr) {
        m_schedulerStop = 0;
        m_schedulerThread = ::CreateThread(nullptr, 0, &CIGrab::SchedulerThreadMain, this, 0, nullptr);
    }
    return 1;
}

int CIGrab::Create(ULONG offsetX, ULONG offsetY, ULONG width, ULONG height, ULONG bits, ULONG count,
                   ULONG timeout) {
    RingPlan plan;
    if (!PlanRing("CIGrab", offsetX, offsetY, width, height, bits, count, timeout, true, plan)) return 0;

    unsigned char* ring = plan.ringSize ? AllocateNonPagedMem(plan.ringSize) : nullptr;
    const bool external = ring != nullptr;
    if (!external && plan.ringSize) ring = static_cast<unsigned char*>(std::calloc(plan.ringSize, 1));
    if (!InstallRing("CIGrab Init", plan, ring, external)) return 0;
    m_ringIsExternal = external ? 1 : 0;

    m_byteCounts.offsetX = plan.offsetX * plan.bytes;
    m_byteCounts.offsetY = plan.offsetY * plan.bytes;
    m_byteCounts.aoiWidth = m_aoiWidth * plan.bytes;
    m_byteCounts.aoiHeight = m_aoiHeight * plan.bytes;

    GetGpioAttr(&m_gpioAttr);

    m_heartbeatRun = 1;
    m_heartbeatThread = ::CreateThread(nullptr, 65536, &CIGrab::HeartbeatThreadMain, this, 0, nullptr);
    return 1;
}

int CIGrab::Destroy() {
    Stop();
    StopHeartbeat();
    m_created = 0;
    ReleaseRing(m_ringIsExternal != 0);
    m_ringIsExternal = 0;
    return 1;
}

int CIGrab::Start() {
    if (!m_created) return Fail("CIGrab", "Start", "Grab not created");
    Stop();
    return 1;
}

int CIGrab::Stop() {
    m_running = 0;
    return 1;
}

int CIGrab::Terminate() {
    Destroy();
    // The scheduler thread reads the initialized flag through SetOutputPort:
    // it is joined before the flag changes.
    StopScheduler();
    m_initialized = 0;
    UnregisterOnTerminate();
    for (int& detected : m_cameraDetected) detected = 0;
    return 1;
}

void CIGrab::StopHeartbeat() {
    if (m_heartbeatThread == nullptr) return;
    m_heartbeatRun = 0;
    ::SetEvent(m_heartbeatWake);
    ::WaitForSingleObject(m_heartbeatThread, INFINITE);
    ::CloseHandle(m_heartbeatThread);
    m_heartbeatThread = nullptr;
}

void CIGrab::StopScheduler() {
    if (m_schedulerThread == nullptr) return;
    m_schedulerStop = 1;
    ::SetEvent(m_schedulerEvent);
    ::WaitForSingleObject(m_schedulerThread, INFINITE);
    ::CloseHandle(m_schedulerThread);
    m_schedulerThread = nullptr;
    DropScheduledOutputs();
}

// Events still queued when the scheduler stops are never fired, also not by
// the scheduler of a later Initialize.
void CIGrab::DropScheduledOutputs() {
    while (m_scheduleHead != nullptr) {
        ScheduledOutput* next = m_scheduleHead->next;
        delete m_scheduleHead;
        m_scheduleHead = next;
    }
}

DWORD CIGrab::HeartbeatThreadMain(void* self) {
    static_cast<CIGrab*>(self)->RunHeartbeat();
    return 0;
}

// Toggles LED 1 once a second while the ring exists. The sleep is a wait on
// the wake event so that Destroy does not have to wait it out.
void CIGrab::RunHeartbeat() {
    while (m_heartbeatRun) {
        ::WaitForSingleObject(m_heartbeatWake, 1000);
        if (m_heartbeatRun) ToggleLed(1);
    }
}
