// IXGrab's own lifecycle: used by classes that derive from the interface
// directly. It starts no thread; the common layer (CIGrab) adds those.
#include <kiru/ixgrab.h>

int IXGrab::Initialize() {
    if (m_initialized) return Fail("IXGrab", "Initialize", "Grab already initialized");
    m_ioRunning = 1;
    return 1;
}

int IXGrab::Destroy() {
    Stop();
    m_created = 0;
    ReleaseRing(false);
    return 1;
}

int IXGrab::Terminate() {
    Destroy();
    m_initialized = 0;
    UnregisterOnTerminate();
    return 1;
}

int IXGrab::Stop() {
    m_running = 0;
    return 1;
}

int IXGrab::Start() {
    if (!m_created) return Fail("IXGrab", "Start", "Grab not created");
    Stop();
    return 1;
}
