// A client built against the installed package: it sees only the public
// headers and the exported symbols of the shared library.
#include <kiru/kiru.h>
#include <kiru/station.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// A back-end as a client could write one: the common layer plus a flag.
class ClientGrab : public CIGrab {
public:
    int Initialize() override {
        if (!CIGrab::Initialize()) return 0;
        m_initialized = 1;
        return 1;
    }
    int Create(ULONG x, ULONG y, ULONG w, ULONG h, ULONG bits, ULONG count, ULONG timeout) override {
        if (!CIGrab::Create(x, y, w, h, bits, count, timeout)) return 0;
        m_created = 1;
        return 1;
    }
};

int failures = 0;
void Check(bool ok, const char* what) {
    if (!ok) {
        std::printf("FAILED: %s\n", what);
        ++failures;
    }
}

struct Frames {
    std::mutex mutex;
    std::condition_variable arrived;
    unsigned count = 0;
};

int OnFrame(unsigned char*, unsigned int, std::int64_t, void* context) {
    auto* frames = static_cast<Frames*>(context);
    {
        std::lock_guard<std::mutex> lock(frames->mutex);
        ++frames->count;
    }
    frames->arrived.notify_all();
    return 0;
}

// What an inspection program's integration test does: load a station with a
// GigE camera, run a grab through the factory, read the trace.
void StationChecks() {
    using kiru::sim::Station;
    std::string error;
    Check(!Station::LoadText("[GEV]\nWidht = 320\n", "client.ini", &error), "a bad station is refused");
    Check(error == "client.ini:2: unknown key 'Widht'", "the station's error names file and line");
    Check(Station::LoadText("[GEV]\nWidth = 320\nHeight = 240\nFrameRate = 100\n", "client.ini", &error),
          "LoadText");
    std::string model;
    Check(Station::GetText("GEV", 0, 0, 67, &model) && model == "SimCam", "the camera's identity");

    char keyword[16] = "MARLO";  // asks for the GigE back-end
    IXGrab* grab = KiruGrabInstantiate(keyword);
    Check(grab != nullptr, "KiruGrabInstantiate");
    if (grab == nullptr) return;
    Check(grab->GetGrabType() == IGRAB_GEV, "the station's camera gives a GigE grab");
    constexpr ULONG kKeep = 0xFFFFFFFEu;
    Frames frames;
    Check(grab->Initialize() != 0, "Initialize");
    Check(grab->Create(0, 0, kKeep, kKeep, kKeep, 4, kKeep) != 0, "Create");
    grab->RegisterBufferCallback(&OnFrame, &frames);
    Check(grab->Start() != 0, "Start");
    {
        std::unique_lock<std::mutex> lock(frames.mutex);
        Check(frames.arrived.wait_for(lock, std::chrono::seconds(30), [&] { return frames.count >= 2; }),
              "frames arrive");
    }
    grab->Stop();
    grab->Destroy();
    KiruGrabDelete(grab);

    const std::vector<std::string> trace = Station::Trace();
    bool grabbed = false;
    for (const std::string& line : trace) grabbed = grabbed || line.rfind("GEV:0/0 Grab ", 0) == 0;
    Check(grabbed, "the camera's grab is in the trace");
    Station::Reset();
}

}  // namespace

int main() {
    CIGrabQB2E qb2e;
    Check(qb2e.GetGrabType() == IGRAB_QB2E || qb2e.GetGrabType() == IGRAB_QB2E_ALT, "QB2E grab type");
    Check(qb2e.SetPass(0) == 0, "SetPass on an uninitialized object fails");
    Check(std::strcmp(qb2e.GetLastErrorMsg(), "CIGrab::SetPass: Grab not initialized") == 0, "error text");

    ClientGrab grab;
    Check(grab.Initialize() == 1, "Initialize");
    Check(grab.Create(0, 0, 640, 480, 8, 5, 5000) == 1, "Create");
    Check(grab.GetRingBufferSize() == 5u * 640u * 480u * 3u, "ring size");
    Check(grab.Terminate() == 1, "Terminate");

    // CiOS is usable from a client: paths and kernel wrappers.
    char path[MAX_PATH];
    Check(CiOS::AppDataPath(path, "", "/absolute/name.txt") != nullptr, "AppDataPath");
    Check(std::strcmp(path, "/absolute/name.txt") == 0, "absolute names are returned unchanged");
    HANDLE mutex = CiOS::CreateMutexW(nullptr, FALSE, nullptr);
    Check(mutex != nullptr, "CreateMutexW");
    {
        CMutexHold hold(mutex, 1000);
        Check(hold.Held() == 1, "CMutexHold acquires a free mutex");
    }
    Check(CiOS::CloseHandle(mutex) == TRUE, "CloseHandle");

    StationChecks();

    if (failures == 0) std::printf("client OK\n");
    return failures == 0 ? 0 : 1;
}
