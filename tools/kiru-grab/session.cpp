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
#include <utility>
#include <vector>

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
    int cameras = 1;  // camera images side by side in a delivered frame
    std::vector<std::pair<IFW_ACQ_EVENT_TYPE, ULONG>> events;
    std::vector<unsigned char> copy;  // asynchronous mode: one camera's image, for the transforms
};

// Counts a delivered frame; returns its index.
unsigned CountDelivered(Tally* tally) {
    std::lock_guard<std::mutex> lock(tally->mutex);
    const unsigned index = tally->delivered++;
    tally->last = Clock::now();
    if (index == 0) tally->first = tally->last;
    return index;
}

// Saves the (transformed) image of one camera (or, for camera -1, of every
// camera) of a frame whose camera images lie one after the other.
void SaveFrame(Tally* tally, unsigned char* image, int camera, unsigned index) {
    IXGrab* grab = tally->grab;
    unsigned char* shown = grab->ApplyImageTransform(image, 0);
    const std::size_t block = std::size_t(grab->GetWidth()) * grab->GetHeight() * grab->GetBytesPP();
    const int first = camera < 0 ? 0 : camera;
    const int last = camera < 0 ? tally->cameras - 1 : camera;
    for (int c = first; c <= last; ++c) {
        char name[40];
        if (tally->cameras == 1)
            std::snprintf(name, sizeof name, "frame_%05u.bmp", index);
        else
            std::snprintf(name, sizeof name, "frame_%05u_cam%d.bmp", index, c);
        const bool ok = SaveBmp((std::filesystem::path(tally->saveDir) / name).string(), shown + c * block,
                                grab->GetWidth(), grab->GetHeight(), grab->GetBytesPP());
        std::lock_guard<std::mutex> lock(tally->mutex);
        ok ? ++tally->saved : ++tally->saveFailures;
    }
}

// Synchronous delivery: one frame holds every camera's image.
int OnFrame(unsigned char* image, unsigned int, std::int64_t, void* context) {
    auto* tally = static_cast<Tally*>(context);
    const unsigned index = CountDelivered(tally);
    if (!tally->saveDir.empty() && image != nullptr) SaveFrame(tally, image, -1, index);
    tally->changed.notify_all();
    return 0;
}

// Asynchronous delivery: one camera's frame. Its image lies at the camera's
// place in a frame whose other places other cameras may be filling at this
// moment: it is copied out before the transforms read it.
int OnFrameEx(IFW_GRAB_BUF_DESC* desc, unsigned int, std::int64_t, void* context) {
    auto* tally = static_cast<Tally*>(context);
    const unsigned index = CountDelivered(tally);
    const int camera = static_cast<int>(desc->camera);
    if (!tally->saveDir.empty() && desc->image != nullptr && camera < tally->cameras) {
        IXGrab* grab = tally->grab;
        const std::size_t block = std::size_t(grab->GetWidth()) * grab->GetHeight() * grab->GetBytesPP();
        tally->copy.resize(block * tally->cameras);
        std::copy(desc->image + camera * block, desc->image + (camera + 1) * block,
                  tally->copy.begin() + camera * block);
        SaveFrame(tally, tally->copy.data(), camera, index);
    }
    tally->changed.notify_all();
    return 0;
}

int OnAcquireEvent(void* context, IFW_ACQ_EVENT_TYPE event, ULONG value) {
    auto* tally = static_cast<Tally*>(context);
    {
        std::lock_guard<std::mutex> lock(tally->mutex);
        tally->events.emplace_back(event, value);
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

// A folder of the bundled samples ("images", "stations"): installed beside the
// program (KIRU_INSTALLED_SAMPLES is relative to the folder of the
// executable), else that of the source tree the program was built from.
std::filesystem::path BundledSamples(const char* folder) {
    const std::filesystem::path self = OwnExecutable();
    if (!self.empty()) {
        const std::filesystem::path installed = self.parent_path() / KIRU_INSTALLED_SAMPLES / folder;
        std::error_code ec;
        if (std::filesystem::is_directory(installed, ec)) return installed.lexically_normal();
    }
    return std::filesystem::path(KIRU_SAMPLES_DIR) / folder;
}

// The station file a --station argument names: the file itself, else a
// bundled sample station of that name (".ini" may be left out). Empty when
// there is neither.
std::string StationPath(const std::string& argument) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(argument, ec)) return argument;
    if (argument.find_first_of("/\\") != std::string::npos) return "";
    const std::filesystem::path stations = BundledSamples("stations");
    for (const std::string& name : {argument, argument + ".ini"}) {
        const std::filesystem::path candidate = stations / name;
        if (std::filesystem::is_regular_file(candidate, ec)) return candidate.string();
    }
    return "";
}

const char* EventName(IFW_ACQ_EVENT_TYPE event) {
    switch (event) {
        case IFW_ACQ_EVENT_CAMERA_LOST: return "camera lost";
        case IFW_ACQ_EVENT_CAMERA_REOPENED: return "camera reopened";
        default: return "unknown event";
    }
}

}  // namespace

int RunSession(const GrabOptions& o) {
    // A bad station file ends the run before anything else happens, whether
    // or not the keyword would have reached the station.
    if (!o.station.empty()) {
        const std::string path = StationPath(o.station);
        if (path.empty()) {
            std::fprintf(stderr, "kiru-grab: %s: no such station file or bundled sample station\n", o.station.c_str());
            return 2;
        }
        std::string error;
        if (!kiru::sim::Station::LoadFile(path, &error)) {
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

    // Asynchronous mode decides how the back-end brings the station up.
    if (o.async) grab->SetASyncMode(1);
    if (!grab->Initialize()) return fail("Initialize");
    constexpr ULONG kKeep = 0xFFFFFFFEu;
    std::string folder;  // the emulator's image folder
    if (type == IGRAB_EMULATOR) {
        const std::filesystem::path images =
            o.images.empty() ? BundledSamples("images") : std::filesystem::path(o.images);
        folder = std::filesystem::absolute(images).string();
        grab->EmulateFromNewImagePath(folder.data(), kKeep, kKeep);
    }
    if (o.color && !grab->SetImageColor(IFW_COLOR_RGB24)) return fail("SetImageColor");
    grab->SetImgTransform(o.mirror ? IFW_TRANSFORM_MIRROR : o.flip ? IFW_TRANSFORM_FLIP : IFW_TRANSFORM_NONE);
    grab->SetRotateTransform(o.rotate);
    // Colour frames are asked for twice: the colour type sets the pixel
    // format, and 24 bits per pixel in Create make a back-end that converts
    // its cameras' pixels (raw Bayer, 4-byte colour) deliver 3-byte pixels.
    if (!grab->Create(0, 0, kKeep, kKeep, o.color ? 24 : kKeep, o.buffers, kKeep)) return fail("Create");
    if (o.delayMs != 0 && !grab->SetFrameDelay(o.delayMs)) return fail("SetFrameDelay");
    const bool soft = o.trigger == "soft";
    grab->SetTriggerMethod(soft ? IXGrab::TRIGGER_SOFTWARE : IXGrab::TRIGGER_FREE_RUN);

    tally.cameras = std::max(grab->GetNumCameras(), 1);
    if (o.async)
        grab->RegisterBufferCallbackEx(&OnFrameEx, &tally);
    else
        grab->RegisterBufferCallback(&OnFrame, &tally);
    grab->RegisterTrashCallback(&OnTrash, &tally);
    grab->RegisterAcquireEventCallback(&OnAcquireEvent, &tally);
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
                grab->GenerateSoftTrigger(-1);  // every camera
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
    grab->UnRegisterAcquireEventCallback();
    if (!o.quiet) std::printf("\n");

    const ULONG bits = grab->GetBytesPP() * 8;
    std::printf("grab type: %d (%s)\n", static_cast<int>(type), GrabTypeName(type));
    std::printf("geometry: %lu x %lu, %lu bits per pixel, %lu buffers\n",
                static_cast<unsigned long>(grab->GetWidth()), static_cast<unsigned long>(grab->GetHeight()),
                static_cast<unsigned long>(bits), static_cast<unsigned long>(grab->GetBufferCount()));
    if (!folder.empty()) std::printf("images: %s\n", folder.c_str());
    std::printf("mode: %s\n", o.async ? "asynchronous" : "synchronous");
    std::printf("cameras: %d\n", tally.cameras);
    // The cameras' own names (model and serial of a GigE camera).
    for (int c = 0; c < tally.cameras && c < 8; ++c) {
        char desc[260] = "";
        if (grab->GetCameraDesc(c, desc) && desc[0] != '\0') std::printf("camera %d description: %s\n", c, desc);
    }
    std::printf("frames delivered: %u\n", tally.delivered);
    std::printf("frames trashed: %u\n", tally.trashed);
    // The library's own account of every frame, per camera.
    auto* common = dynamic_cast<CIGrab*>(grab);
    KiruFrameCounts all{};
    if (common != nullptr && common->GetFrameCounts(-1, &all)) {
        std::printf("frames lost: %llu\n", static_cast<unsigned long long>(all.lost));
        for (int c = 0; c < tally.cameras && c < 8; ++c) {
            KiruFrameCounts counts{};
            if (!common->GetFrameCounts(c, &counts)) continue;
            std::printf("camera %d: %llu frames delivered, %llu lost\n", c,
                        static_cast<unsigned long long>(counts.delivered),
                        static_cast<unsigned long long>(counts.lost));
        }
    }
    std::printf("acquire events: %zu\n", tally.events.size());
    for (const auto& [event, value] : tally.events) {
        if (event == IFW_ACQ_EVENT_CAMERA_LOST)
            std::printf("  %s: camera %lu\n", EventName(event), static_cast<unsigned long>(value));
        else
            std::printf("  %s\n", EventName(event));
    }
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
