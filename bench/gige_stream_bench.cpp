// Streaming from a real GigE Vision camera: Aravis's fake camera at
// 127.0.0.1 sends 512 x 512 Mono8 frames at AcquisitionFrameRate 1000 with
// 8996-byte packets, received once through Kiru (the GigE back-end on a
// station whose GEV:0 is the camera, frames delivered to a buffer callback)
// and once through a minimal Aravis client (pop, check, push back), in the
// same run. Each reports frames per second, the process's processor time per
// frame (the camera runs in its own process) and frames lost.
//
// GigE Vision must not reach a real network: the program re-runs itself in
// a private network namespace (unshare -n, loopback only) and starts and
// stops the fake camera itself.
#include <benchmark/benchmark.h>

#include <arv.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <kiru/kiru.h>
#include <kiru/station.h>

#include "capture/aravis/mapping.h"

extern char** environ;

namespace {

constexpr double kWarmUpSeconds = 0.5;
constexpr double kMeasureSeconds = 3.0;
constexpr int kBuffers = 16;
constexpr int kSide = 512;

double ProcessCpuUs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

double NowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool OnlyLoopback() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool only = true;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if ((a->ifa_flags & IFF_UP) && !(a->ifa_flags & IFF_LOOPBACK)) only = false;
    }
    freeifaddrs(list);
    return only;
}

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// The fake camera, answering at 127.0.0.1, set up for the run.
class FakeCamera {
public:
    bool Start() {
        const char* argv[] = {"arv-fake-gv-camera-0.8", "-i", "127.0.0.1", nullptr};
        if (posix_spawnp(&pid_, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return false;
        for (int attempt = 0; attempt < 40; ++attempt) {
            if (Shell("arv-tool-0.8 -a 127.0.0.1 control DeviceModelName") == 0) {
                return Shell("arv-tool-0.8 -a 127.0.0.1 control Width=512 Height=512 PixelFormat=Mono8 "
                             "TriggerMode=Off AcquisitionFrameRate=1000 GevSCPSPacketSize=8996") == 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    ~FakeCamera() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
};

struct Window {
    std::atomic<long> frames{0};
    double start = 0, cpuStart = 0;
    long framesAtStart = 0;
};

void Report(benchmark::State& state, long frames, double seconds, double cpuUs, double lost) {
    state.SetIterationTime(seconds);
    state.counters["fps"] = frames / seconds;
    state.counters["cpu_us_per_frame"] = frames > 0 ? cpuUs / frames : 0.0;
    state.counters["lost"] = lost;
    state.counters["frames"] = static_cast<double>(frames);
}

void AravisClient(benchmark::State& state) {
    for (auto _ : state) {
        GError* err = nullptr;
        ArvCamera* camera = arv_camera_new("127.0.0.1", &err);
        if (!camera) {
            state.SkipWithError(err ? err->message : "no camera");
            return;
        }
        arv_camera_gv_set_packet_size(camera, 8996, nullptr);
        arv_camera_set_frame_rate(camera, 1000.0, nullptr);
        ArvStream* stream = arv_camera_create_stream(camera, nullptr, nullptr, nullptr);
        const guint payload = arv_camera_get_payload(camera, nullptr);
        std::vector<unsigned char> ring(std::size_t(payload) * kBuffers);
        for (int k = 0; k < kBuffers; ++k)
            arv_stream_push_buffer(stream, arv_buffer_new(payload, ring.data() + std::size_t(k) * payload));
        arv_camera_start_acquisition(camera, nullptr);
        long frames = 0, framesAtStart = 0;
        double start = 0, cpuStart = 0;
        std::uint64_t lastId = 0, gaps = 0;
        const double begin = NowSeconds();
        for (;;) {
            const double now = NowSeconds();
            if (start == 0 && now - begin >= kWarmUpSeconds) {
                start = now;
                cpuStart = ProcessCpuUs();
                framesAtStart = frames;
            }
            if (start != 0 && now - start >= kMeasureSeconds) break;
            ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 200000);
            if (!buffer) continue;
            if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) {
                ++frames;
                const std::uint64_t id = arv_buffer_get_frame_id(buffer);
                const std::uint64_t step = lastId ? kiru::gev::FrameIdDistance(lastId, id) : 1;
                if (start != 0 && step > 1) gaps += step - 1;
                lastId = id;
            }
            arv_stream_push_buffer(stream, buffer);
        }
        const double seconds = NowSeconds() - start;
        const double cpu = ProcessCpuUs() - cpuStart;
        guint64 completed = 0, failures = 0, underruns = 0;
        arv_stream_get_statistics(stream, &completed, &failures, &underruns);
        arv_camera_stop_acquisition(camera, nullptr);
        g_object_unref(stream);
        g_object_unref(camera);
        // Frames the camera sent in the window that were not received whole.
        Report(state, frames - framesAtStart, seconds, cpu, static_cast<double>(gaps));
    }
}

int OnFrame(unsigned char*, unsigned int, std::int64_t, void* context) {
    static_cast<Window*>(context)->frames.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

struct GrabDeleter {
    void operator()(IXGrab* grab) const { KiruGrabDelete(grab); }
};

void KiruGrab(benchmark::State& state) {
    for (auto _ : state) {
        std::string error;
        if (!kiru::sim::Station::LoadText("[GEV:0]\nDevice = 127.0.0.1\n", "bench.ini", &error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        char keyword[] = "MARLO";
        std::unique_ptr<IXGrab, GrabDeleter> grab(KiruGrabInstantiate(keyword));
        constexpr ULONG kKeep = 0xFFFFFFFEu;
        Window window;
        // Frame delay 1 ms: the camera keeps its own rate of 1000 per second.
        if (!grab->Initialize() || !grab->Create(0, 0, kKeep, kKeep, kKeep, kBuffers, kKeep) ||
            !grab->SetFrameDelay(1)) {
            state.SkipWithError("the GigE grab object did not come up");
            return;
        }
        grab->RegisterBufferCallback(&OnFrame, &window);
        if (!grab->Start()) {
            state.SkipWithError("Start failed");
            return;
        }
        const double begin = NowSeconds();
        while (NowSeconds() - begin < kWarmUpSeconds) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const long framesAtStart = window.frames.load();
        const double start = NowSeconds();
        const double cpuStart = ProcessCpuUs();
        KiruFrameCounts before{};
        auto* common = dynamic_cast<CIGrab*>(grab.get());
        common->GetFrameCounts(0, &before);
        while (NowSeconds() - start < kMeasureSeconds) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const long frames = window.frames.load() - framesAtStart;
        const double seconds = NowSeconds() - start;
        const double cpu = ProcessCpuUs() - cpuStart;
        KiruFrameCounts after{};
        common->GetFrameCounts(0, &after);
        grab->Stop();
        Report(state, frames, seconds, cpu, static_cast<double>(after.lost - before.lost));
        grab.reset();
        kiru::sim::Station::Reset();
    }
}

}  // namespace

BENCHMARK(AravisClient)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(KiruGrab)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    if (!OnlyLoopback()) {
        if (std::getenv("KIRU_BENCH_NETNS")) {
            std::fprintf(stderr, "gige_stream: still not in a private network namespace; not run\n");
            return 0;
        }
        // Again, inside a private network namespace with only the loopback up.
        setenv("KIRU_BENCH_NETNS", "1", 1);
        std::vector<char*> args = {const_cast<char*>("unshare"), const_cast<char*>("-n"), const_cast<char*>("sh"),
                                   const_cast<char*>("-c"),
                                   const_cast<char*>("ip link set lo up && exec \"$0\" \"$@\"")};
        for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp("unshare", args.data());
        std::fprintf(stderr, "gige_stream: unshare -n is not permitted here; not run\n");
        return 0;
    }
    setenv("KIRU_NO_MESSAGE_BOX", "1", 1);
    FakeCamera camera;
    if (!camera.Start()) {
        std::fprintf(stderr, "gige_stream: arv-fake-gv-camera-0.8 did not start (package aravis-tools)\n");
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
