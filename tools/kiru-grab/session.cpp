#include "session.h"

#include <kiru/kiru.h>
#include <kiru/station.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "bmp_save.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* GrabTypeName(IFW_IGRABTYPE type) {
    switch (type) {
        case IGRAB_LX2: return "LX2 board";
        case IGRAB_QB1: return "QB1";
        case IGRAB_TALON: return "Talon";
        case IGRAB_EMULATOR: return "emulator";
        case IGRAB_1394: return "IEEE 1394";
        case IGRAB_QB2: return "QB2 board";
        case IGRAB_QB2E:
        case IGRAB_QB2E_ALT: return "QB2E";
        case IGRAB_GEV: return "GigE";
        default: return "common layer";
    }
}

// What the callbacks have seen; they run on the library's threads.
struct Tally {
    std::mutex mutex;
    std::condition_variable changed;
    unsigned delivered = 0;
    unsigned trashed = 0;
    unsigned saved = 0;
    unsigned saveFailures = 0;
    Clock::time_point first, last;
    IXGrab* grab = nullptr;
    std::string saveDir;
};

int OnFrame(unsigned char* image, unsigned int, std::int64_t, void* context) {
    auto* tally = static_cast<Tally*>(context);
    IXGrab* grab = tally->grab;
    unsigned index;
    {
        std::lock_guard<std::mutex> lock(tally->mutex);
        index = tally->delivered++;
        tally->last = Clock::now();
        if (index == 0) tally->first = tally->last;
    }
    if (!tally->saveDir.empty() && image != nullptr) {
        unsigned char* shown = grab->ApplyImageTransform(image, 0);
        char name[32];
        std::snprintf(name, sizeof name, "frame_%05u.bmp", index);
        const bool ok = SaveBmp((std::filesystem::path(tally->saveDir) / name).string(), shown, grab->GetWidth(),
                                grab->GetHeight(), grab->GetBytesPP());
        std::lock_guard<std::mutex> lock(tally->mutex);
        ok ? ++tally->saved : ++tally->saveFailures;
    }
    tally->changed.notify_all();
    return 0;
}

int OnTrash(unsigned char*, unsigned int, std::int64_t, void* context) {
    auto* tally = static_cast<Tally*>(context);
    {
        std::lock_guard<std::mutex> lock(tally->mutex);
        ++tally->trashed;
    }
    tally->changed.notify_all();
    return 0;
}

const char* LastError(IXGrab* grab) {
    auto* common = dynamic_cast<CIGrab*>(grab);
    return common != nullptr ? common->GetLastErrorMsg() : "";
}

bool AsksForEmulator(const std::string& keyword) {
    for (const char* word : {"EMULATOR", "1394", "TORRIN", "QB1", "QB2E", "ELK", "TALON"})
        if (keyword.find(word) != std::string::npos) return true;
    return false;
}

// This program's own file, or an empty path when it cannot be told.
std::filesystem::path OwnExecutable() {
#ifdef _WIN32
    std::wstring buffer(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) return std::filesystem::path();
    buffer.resize(n);
    return std::filesystem::path(buffer);
#else
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self;
#endif
}

// The bundled sample images: installed beside the program (KIRU_INSTALLED_SAMPLES
// is relative to the folder of the executable), else those of the source tree
// the program was built from.
std::string BundledImages() {
    const std::filesystem::path self = OwnExecutable();
    if (!self.empty()) {
        const std::filesystem::path installed = self.parent_path() / KIRU_INSTALLED_SAMPLES / "images";
        std::error_code ec;
        if (std::filesystem::is_directory(installed, ec)) return installed.lexically_normal().string();
    }
    return std::string(KIRU_SAMPLES_DIR) + "/images";
}

}  // namespace

int RunSession(const GrabOptions& o) {
    // A bad station file ends the run before anything else happens, whether
    // or not the keyword would have reached the station.
    if (!o.station.empty()) {
        std::string error;
        if (!kiru::sim::Station::LoadFile(o.station, &error)) {
            std::fprintf(stderr, "kiru-grab: %s\n", error.c_str());
            return 2;
        }
    }
    if (!o.saveDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(o.saveDir, ec);
        if (ec) {
            std::fprintf(stderr, "kiru-grab: cannot create %s: %s\n", o.saveDir.c_str(), ec.message().c_str());
            return 1;
        }
    }

    std::string keywordBuffer = o.keyword;
    keywordBuffer.resize(std::max<std::size_t>(keywordBuffer.size() + 1, 8), '\0');
    IXGrab* grab = KiruGrabInstantiate(keywordBuffer.data());
    if (grab == nullptr) {
        std::fprintf(stderr, "kiru-grab: no grab object could be created\n");
        return 1;
    }
    const IFW_IGRABTYPE type = grab->GetGrabType();
    if (type == IGRAB_EMULATOR && !AsksForEmulator(o.keyword))
        std::printf("no hardware answered for keyword \"%s\": using the emulator\n", o.keyword.c_str());

    Tally tally;
    tally.grab = grab;
    tally.saveDir = o.saveDir;
    auto fail = [&](const char* step) {
        std::fprintf(stderr, "kiru-grab: %s failed: %s\n", step, LastError(grab));
        KiruGrabDelete(grab);
        return 1;
    };

    if (!grab->Initialize()) return fail("Initialize");
    constexpr ULONG kKeep = 0xFFFFFFFEu;
    std::string folder;  // the emulator's image folder
    if (type == IGRAB_EMULATOR) {
        folder = std::filesystem::absolute(o.images.empty() ? BundledImages() : o.images).string();
        grab->EmulateFromNewImagePath(folder.data(), kKeep, kKeep);
    }
    if (o.color && !grab->SetImageColor(IFW_COLOR_RGB24)) return fail("SetImageColor");
    grab->SetImgTransform(o.mirror ? IFW_TRANSFORM_MIRROR : o.flip ? IFW_TRANSFORM_FLIP : IFW_TRANSFORM_NONE);
    grab->SetRotateTransform(o.rotate);
    if (!grab->Create(0, 0, kKeep, kKeep, kKeep, o.buffers, kKeep)) return fail("Create");
    if (o.delayMs != 0 && !grab->SetFrameDelay(o.delayMs)) return fail("SetFrameDelay");
    const bool soft = o.trigger == "soft";
    grab->SetTriggerMethod(soft ? IXGrab::TRIGGER_SOFTWARE : IXGrab::TRIGGER_FREE_RUN);

    grab->RegisterBufferCallback(&OnFrame, &tally);
    grab->RegisterTrashCallback(&OnTrash, &tally);
    if (!grab->Start()) return fail("Start");

    const Clock::time_point started = Clock::now();
    const auto limit = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
    const auto triggerPeriod =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / o.rate));
    Clock::time_point nextTrigger = started;
    Clock::time_point nextProgress = started;
    {
        std::unique_lock<std::mutex> lock(tally.mutex);
        for (;;) {
            const Clock::time_point now = Clock::now();
            const bool enough = o.frames != 0 ? tally.delivered >= o.frames : now - started >= limit;
            // A frame count is a goal, not a promise: give up after the time
            // limit with time for the count at the trigger rate on top.
            const bool overdue = o.frames != 0 && now - started >= limit + triggerPeriod * o.frames;
            if (enough || overdue) break;
            if (soft && now >= nextTrigger) {
                lock.unlock();
                grab->GenerateSoftTrigger(0);
                lock.lock();
                nextTrigger += triggerPeriod;
            }
            if (!o.quiet && now >= nextProgress) {
                std::printf("\racquiring: %u frames delivered, %u trashed, %.1f s", tally.delivered, tally.trashed,
                            std::chrono::duration<double>(now - started).count());
                std::fflush(stdout);
                nextProgress += std::chrono::milliseconds(200);
            }
            Clock::time_point wake = nextProgress;
            if (soft && nextTrigger < wake) wake = nextTrigger;
            tally.changed.wait_until(lock, wake);
        }
    }
    grab->Stop();
    if (!o.quiet) std::printf("\n");

    const ULONG bits = grab->GetBytesPP() * 8;
    std::printf("grab type: %d (%s)\n", static_cast<int>(type), GrabTypeName(type));
    std::printf("geometry: %lu x %lu, %lu bits per pixel, %lu buffers\n",
                static_cast<unsigned long>(grab->GetWidth()), static_cast<unsigned long>(grab->GetHeight()),
                static_cast<unsigned long>(bits), static_cast<unsigned long>(grab->GetBufferCount()));
    if (!folder.empty()) std::printf("images: %s\n", folder.c_str());
    std::printf("frames delivered: %u\n", tally.delivered);
    std::printf("frames trashed: %u\n", tally.trashed);
    const double span = std::chrono::duration<double>(tally.last - tally.first).count();
    std::printf("frame rate: %.1f fps\n", tally.delivered > 1 && span > 0 ? (tally.delivered - 1) / span : 0.0);
    if (!o.saveDir.empty()) std::printf("saved: %u files in %s\n", tally.saved, o.saveDir.c_str());

    grab->Destroy();
    KiruGrabDelete(grab);
    if (tally.saveFailures != 0) {
        std::fprintf(stderr, "kiru-grab: %u frames could not be saved\n", tally.saveFailures);
        return 1;
    }
    return 0;
}
