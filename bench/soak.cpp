// Soak run: the emulator at its top rate (software triggers as fast as its
// producer takes them) for a number of minutes, with a client that holds its
// buffer at random times and changes the image transform and rotation as it
// goes. Acquisition is stopped and started again every minute; after each
// stop the frame counts must balance (produced = delivered + unclaimed +
// trashed + lost), the delivered count must equal the callbacks the client
// saw, and a row with the minute's frames by fate and the resident memory is
// printed. The run fails when a count does not balance or resident memory
// grew by more than 1 MiB after the first minute.
//
//   bench_soak [minutes] [image folder]     (1 minute, ./images by default)
#include <kiru/kiru.h>

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

KiruFrameCounts Counts(CIGrab& grab) {
    KiruFrameCounts c{};
    grab.GetFrameCounts(-1, &c);
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 1;
    std::string folder = argc > 2 ? argv[2] : "images";
    if (minutes < 1) {
        std::fprintf(stderr, "usage: bench_soak [minutes >= 1] [image folder]\n");
        return 2;
    }
    folder = std::filesystem::absolute(folder).string();

    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    Client client;
    client.grab = &emu;
    constexpr ULONG kKeep = 0xFFFFFFFEu;
    if (!emu.Initialize()) {
        std::fprintf(stderr, "soak: Initialize failed: %s\n", emu.GetLastErrorMsg());
        return 1;
    }
    emu.EmulateFromNewImagePath(&folder[0], kKeep, kKeep);
    if (!emu.Create(0, 0, kKeep, kKeep, kKeep, 4, kKeep)) {
        std::fprintf(stderr, "soak: Create failed: %s\n", emu.GetLastErrorMsg());
        return 1;
    }
    emu.SetTriggerMethod(IXGrab::TRIGGER_SOFTWARE);
    emu.RegisterBufferCallback(&Client::OnFrame, &client);
    emu.RegisterTrashCallback(&Client::OnTrash, &client);
    std::printf("soak: %d minute(s) on %s, %lux%lu, 4 buffers, software triggers\n", minutes, folder.c_str(),
                static_cast<unsigned long>(emu.GetWidth()), static_cast<unsigned long>(emu.GetHeight()));
    std::printf("%6s %10s %10s %10s %10s %6s %8s %8s %9s\n", "minute", "produced", "delivered", "unclaimed",
                "trashed", "lost", "holds", "toggles", "rss KiB");

    bool ok = true;
    long baseline = 0, peak = 0;
    KiruFrameCounts last{};
    for (int minute = 1; minute <= minutes; ++minute) {
        if (!emu.Start()) {
            std::fprintf(stderr, "soak: Start failed in minute %d: %s\n", minute, emu.GetLastErrorMsg());
            return 1;
        }
        const Clock::time_point end = Clock::now() + std::chrono::minutes(1);
        while (Clock::now() < end) {
            emu.GenerateSoftTrigger(-1);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        emu.Stop();

        const KiruFrameCounts c = Counts(emu);
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
    emu.Terminate();
    std::printf("soak: %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
