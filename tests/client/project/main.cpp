// A client built against the installed package: it sees only the public
// headers and the exported symbols of the shared library.
#include <kiru/kiru.h>

#include <cstdio>
#include <cstring>

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

    if (failures == 0) std::printf("client OK\n");
    return failures == 0 ? 0 : 1;
}
