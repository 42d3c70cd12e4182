// Soak run: the emulator at its top rate (software triggers as fast as its
// producer takes them), or the GigE back-end on a simulated camera running
// free at 500 frames per second that drops out once for 300 ms, for a number
// of minutes, with a client that holds its buffer at random times and
// changes the image transform and rotation as it goes. Acquisition is
// stopped and started again every minute; after each stop the frame counts
// must balance (produced = delivered + unclaimed + trashed + lost), the
// delivered count must equal the callbacks the client saw, and a row with
// the minute's frames by fate and the resident memory is printed. The run fails when a count does not balance or resident memory
// grew by more than 1 MiB after the first minute.
//
//   bench_soak [minutes] [image folder | gev]     (1 minute, ./images by default)
#include <kiru/kiru.h>
#include <kiru/station.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Resident set size of this process in KiB (0 when /proc is not there).
long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    if (!(statm >> pages >> resident)) return 0;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// The client: counts its callbacks, holds the buffer now and then, and every
// few hundred frames picks another transform and rotation, which it applies
// to the frame it holds. All of it runs on the emulator's callback thread,
// so the transform settings are only touched by that thread while running.
struct Client {
    IXGrab* grab = nullptr;
    std::mt19937 random{12345};
    std::atomic<std::uint64_t> frames{0};
    std::atomic<std::uint64_t> trashReports{0};
    std::uint64_t holds = 0;
    std::uint64_t toggles = 0;

    static int OnFrame(unsigned char* image, unsigned, std::int64_t, void* self) {
        auto* me = static_cast<Client*>(self);
        const std::uint64_t n = me->frames.fetch_add(1) + 1;
        if (n % 300 == 0) {
            static const IFW_IMG_TRANSFORM_TYPE kTransforms[] = {IFW_TRANSFORM_NONE, IFW_TRANSFORM_MIRROR,
                                                                 IFW_TRANSFORM_FLIP};
            static const ULONG kAngles[] = {0, 90, 180, 270};
            me->grab->SetImgTransform(kTransforms[me->random() % 3]);
            me->grab->SetRotateTransform(kAngles[me->random() % 4]);
            ++me->toggles;
        }
        me->grab->ApplyImageTransform(image, 0);
        // About one frame in forty is held for up to 20 ms: the producer
        // meets a locked buffer and trashes frames meanwhile.
        if (me->random() % 40 == 0) {
            ++me->holds;
            std::this_thread::sleep_for(std::chrono::microseconds(me->random() % 20000));
        }
        return 1;
    }
    static int OnTrash(unsigned char*, unsigned, std::int64_t, void* self) {
        static_cast<Client*>(self)->trashReports.fetch_add(1);
        return 1;
    }
};

// The simulated station of the GigE run: one camera, free-running fast,
// that stops answering once, for 300 ms, after 5000 frames (10 s in).
constexpr const char* kGevStation =
    "[GEV:0]\nWidth = 320\nHeight = 240\nFrameRate = 500\nOutage = 5000 300\n";

// An initialized and created grab object of the chosen back-end, or null.
IXGrab* OpenGrab(bool gev, std::string folder) {
    constexpr ULONG kKeep = 0xFFFFFFFEu;
    std::string error;
    if (gev && !kiru::sim::Station::LoadText(kGevStation, "soak station", &error)) {
        std::fprintf(stderr, "soak: %s\n", error.c_str());
        return nullptr;
    }
    char keyword[16];
    std::snprintf(keyword, sizeof keyword, "%s", gev ? "MARLO" : "EMULATOR");
    IXGrab* grab = KiruGrabInstantiate(keyword);
    if (grab == nullptr) return nullptr;
    bool ok = grab->Initialize() != 0;
    if (ok && !gev) grab->EmulateFromNewImagePath(&folder[0], kKeep, kKeep);
    ok = ok && grab->Create(0, 0, kKeep, kKeep, kKeep, 4, kKeep) != 0;
    if (!ok) {
        auto* common = dynamic_cast<CIGrab*>(grab);
        std::fprintf(stderr, "soak: opening the grab failed: %s\n", common ? common->GetLastErrorMsg() : "");
        KiruGrabDelete(grab);
        return nullptr;
    }
    grab->SetTriggerMethod(gev ? IXGrab::TRIGGER_FREE_RUN : IXGrab::TRIGGER_SOFTWARE);
    // A frame delay this short leaves a free-running GigE camera at its own rate.
    if (gev) grab->SetFrameDelay(2);
    return grab;
}

KiruFrameCounts Counts(CIGrab& grab) {
    KiruFrameCounts c{};
    grab.GetFrameCounts(-1, &c);
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 1;
    std::string source = argc > 2 ? argv[2] : "images";
    if (minutes < 1) {
        std::fprintf(stderr, "usage: bench_soak [minutes >= 1] [image folder | gev]\n");
        return 2;
    }
    const bool gev = source == "gev";
    if (!gev) source = std::filesystem::absolute(source).string();

    IXGrab* grab = OpenGrab(gev, source);
    auto* common = dynamic_cast<CIGrab*>(grab);
    if (common == nullptr) return 1;
    Client client;
    client.grab = grab;
    grab->RegisterBufferCallback(&Client::OnFrame, &client);
    grab->RegisterTrashCallback(&Client::OnTrash, &client);
    std::printf("soak: %d minute(s), %s, %lux%lu, 4 buffers\n", minutes,
                gev ? "GigE camera at 500 frames/s with one 300 ms outage" : ("emulator on " + source).c_str(),
                static_cast<unsigned long>(grab->GetWidth()), static_cast<unsigned long>(grab->GetHeight()));
    std::printf("%6s %10s %10s %10s %10s %6s %8s %8s %9s\n", "minute", "produced", "delivered", "unclaimed",
                "trashed", "lost", "holds", "toggles", "rss KiB");

    bool ok = true;
    long baseline = 0, peak = 0;
    KiruFrameCounts last{};
    for (int minute = 1; minute <= minutes; ++minute) {
        if (!grab->Start()) {
            std::fprintf(stderr, "soak: Start failed in minute %d: %s\n", minute, common->GetLastErrorMsg());
            KiruGrabDelete(grab);
            return 1;
        }
        const Clock::time_point end = Clock::now() + std::chrono::minutes(1);
        while (Clock::now() < end) {
            if (!gev) grab->GenerateSoftTrigger(-1);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        grab->Stop();

        const KiruFrameCounts c = Counts(*common);
        const std::uint64_t settled = c.delivered + c.unclaimed + c.trashed + c.lost;
        const long rss = ResidentKiB();
        std::printf("%6d %10llu %10llu %10llu %10llu %6llu %8llu %8llu %9ld\n", minute,
                    static_cast<unsigned long long>(c.produced - last.produced),
                    static_cast<unsigned long long>(c.delivered - last.delivered),
                    static_cast<unsigned long long>(c.unclaimed - last.unclaimed),
                    static_cast<unsigned long long>(c.trashed - last.trashed),
                    static_cast<unsigned long long>(c.lost - last.lost),
                    static_cast<unsigned long long>(client.holds), static_cast<unsigned long long>(client.toggles),
                    rss);
        std::fflush(stdout);
        if (c.produced != settled) {
            std::printf("soak: FAIL in minute %d: produced %llu but delivered + unclaimed + trashed + lost = %llu\n",
                        minute, static_cast<unsigned long long>(c.produced), static_cast<unsigned long long>(settled));
            ok = false;
        }
        if (c.delivered != client.frames.load()) {
            std::printf("soak: FAIL in minute %d: %llu frames counted as delivered, the client saw %llu\n", minute,
                        static_cast<unsigned long long>(c.delivered),
                        static_cast<unsigned long long>(client.frames.load()));
            ok = false;
        }
        if (c.produced == last.produced) {
            std::printf("soak: FAIL in minute %d: no frame produced\n", minute);
            ok = false;
        }
        if (minute == 1) baseline = rss;
        if (rss > peak) peak = rss;
        last = c;
    }
    const long growth = peak - baseline;
    std::printf("soak: totals produced %llu, delivered %llu, unclaimed %llu, trashed %llu (%llu trash reports), "
                "lost %llu; resident memory after minute 1 %ld KiB, peak %ld KiB (growth %ld KiB)\n",
                static_cast<unsigned long long>(last.produced), static_cast<unsigned long long>(last.delivered),
                static_cast<unsigned long long>(last.unclaimed), static_cast<unsigned long long>(last.trashed),
                static_cast<unsigned long long>(client.trashReports.load()),
                static_cast<unsigned long long>(last.lost), baseline, peak, growth);
    if (growth > 1024) {
        std::printf("soak: FAIL: resident memory grew by %ld KiB after the first minute (limit 1024)\n", growth);
        ok = false;
    }
    KiruGrabDelete(grab);
    std::printf("soak: %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
