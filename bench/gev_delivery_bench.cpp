// Frame delivery of the GigE back-end on a simulated station: the time from
// a frame's arrival (the arrival stamp the camera puts on it, on the
// library's clock; GetFrameTimestamp reports it) to the entry of the
// client's callback, and the acquisition thread's processor time per
// delivered frame.
//
// Two scenarios, free-running cameras:
// - asynchronous mode, 4 cameras of 1280 x 1024 8-bit pixels at 50 frames
//   per second each, every camera's frame delivered on its own through the
//   buffer-ex callback;
// - synchronous mode, 8 cameras of 640 x 480 at 30 frames per second, one
//   composite frame per cycle through the buffer callback, timed from the
//   arrival of the cycle's last camera frame.
// Frames lost are those the library counts as lost or trashed. The processor
// time is the acquisition thread's own clock, read inside the callback (which
// runs on that thread) at the first and the last measured callback; it is
// shown per callback and per camera frame delivered (a synchronous callback
// delivers one frame of every camera).
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <kiru/kiru.h>
#include <kiru/station.h>

#include "latency_stats.h"
#include "platform/clock.h"

namespace {

constexpr ULONG kKeep = 0xFFFFFFFEu;
constexpr int kWarmUpFrames = 40;  // not measured: the thread and the caches settle

struct Scenario {
    const char* name;
    bool async;
    int cameras;
    ULONG width, height;
    UINT frameDelayMs;
    int frames;  // measured deliveries
};

struct Summary {
    LatencyStats latency;
    unsigned long long lost = 0;
    double cpuUsPerCallback = 0;
    double cpuUsPerFrame = 0;
    double seconds = 0;
};

double ThreadCpuUs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

// What the callbacks record; they all run on the acquisition thread.
struct Recorder {
    IXGrab* grab = nullptr;
    int cameras = 0;
    int wanted = 0;
    int seen = 0;
    std::vector<double> latencyUs;
    double cpuStartUs = 0, cpuEndUs = 0;
    std::mutex mutex;  // guards `done` for the driving thread
    bool done = false;

    // arrivalUs: the frame's (or the cycle's last) arrival on the library clock.
    void Record(double nowUs, double arrivalUs) {
        ++seen;
        if (seen <= kWarmUpFrames) {
            if (seen == kWarmUpFrames) cpuStartUs = ThreadCpuUs();
            return;
        }
        if (static_cast<int>(latencyUs.size()) >= wanted) return;
        latencyUs.push_back(nowUs - arrivalUs);
        if (static_cast<int>(latencyUs.size()) == wanted) {
            cpuEndUs = ThreadCpuUs();
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
    }
    bool Done() {
        std::lock_guard<std::mutex> lock(mutex);
        return done;
    }
};

int OnCameraFrame(IFW_GRAB_BUF_DESC* desc, unsigned int, std::int64_t, void* context) {
    const double now = static_cast<double>(NowUs());
    auto* r = static_cast<Recorder*>(context);
    r->Record(now, r->grab->GetFrameTimestamp(static_cast<int>(desc->camera)) * 1000.0);
    return 0;
}

int OnCompositeFrame(unsigned char*, unsigned int, std::int64_t, void* context) {
    const double now = static_cast<double>(NowUs());
    auto* r = static_cast<Recorder*>(context);
    double last = 0;
    for (int c = 0; c < r->cameras; ++c) last = std::max(last, r->grab->GetFrameTimestamp(c) * 1000.0);
    r->Record(now, last);
    return 0;
}

std::string StationText(const Scenario& s) {
    std::string text;
    for (int c = 0; c < s.cameras; ++c) {
        text += "[GEV:" + std::to_string(c) + "]\nWidth = " + std::to_string(s.width) +
                "\nHeight = " + std::to_string(s.height) + "\nText.67 = Bench GM\n";
    }
    return text;
}

bool Measure(const Scenario& s, Summary& out, std::string& error) {
    if (!kiru::sim::Station::LoadText(StationText(s), s.name, &error)) return false;
    char keyword[] = "MARLO";
    IXGrab* grab = KiruGrabInstantiate(keyword);
    auto* common = dynamic_cast<CIGrab*>(grab);
    if (common == nullptr || grab->GetGrabType() != IGRAB_GEV) {
        error = "no GigE grab object";
        KiruGrabDelete(grab);
        return false;
    }
    Recorder r;
    r.grab = grab;
    r.cameras = s.cameras;
    r.wanted = s.frames;
    r.latencyUs.reserve(s.frames);
    if (s.async) grab->SetASyncMode(1);
    bool ok = grab->Initialize() && grab->GetNumCameras() == s.cameras && grab->Create(0, 0, kKeep, kKeep, 8, 5, kKeep);
    if (ok) {
        // In asynchronous mode each camera keeps its own frame delay.
        for (int c = 0; c < (s.async ? s.cameras : 1); ++c) {
            if (s.async) grab->SetClientActiveCamera(c);
            ok = ok && grab->SetFrameDelay(s.frameDelayMs);
        }
        grab->SetClientActiveCamera(0);
        grab->SetTriggerMethod(IXGrab::TRIGGER_FREE_RUN);
        if (s.async) grab->RegisterBufferCallbackEx(&OnCameraFrame, &r);
        else grab->RegisterBufferCallback(&OnCompositeFrame, &r);
    }
    const double start = NowMs();
    ok = ok && grab->Start();
    if (!ok) error = common->GetLastErrorMsg();
    // The run takes frames / rate seconds; give it four times as long.
    const double limitMs = 4.0 * (s.frames + kWarmUpFrames) * s.frameDelayMs / (s.async ? s.cameras : 1) + 5000.0;
    while (ok && !r.Done() && NowMs() - start < limitMs) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    grab->Stop();
    out.seconds = (NowMs() - start) / 1000.0;
    KiruFrameCounts counts{};
    common->GetFrameCounts(-1, &counts);
    grab->Destroy();
    KiruGrabDelete(grab);
    kiru::sim::Station::Reset();
    if (!ok) return false;

    out.latency = SummarizeLatencies(r.latencyUs);
    out.lost = counts.lost + counts.trashed;
    const std::size_t frames = out.latency.count;
    out.cpuUsPerCallback = r.Done() && frames > 0 ? (r.cpuEndUs - r.cpuStartUs) / frames : 0;
    out.cpuUsPerFrame = s.async ? out.cpuUsPerCallback : out.cpuUsPerCallback / s.cameras;
    if (!r.Done()) error = "only " + std::to_string(frames) + " frames in time";
    return r.Done();
}

std::vector<std::pair<std::string, Summary>> g_results;

void BM_Delivery(benchmark::State& state, Scenario s) {
    for (auto _ : state) {
        Summary summary;
        std::string error;
        if (!Measure(s, summary, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        state.SetIterationTime(summary.seconds);
        state.counters["frames"] = static_cast<double>(summary.latency.count);
        SetLatencyCounters(state, summary.latency);
        state.counters["lost"] = static_cast<double>(summary.lost);
        state.counters["cpu_us_per_callback"] = summary.cpuUsPerCallback;
        state.counters["cpu_us_per_frame"] = summary.cpuUsPerFrame;
        g_results.emplace_back(s.name, summary);
    }
}

BENCHMARK_CAPTURE(BM_Delivery, async_4x1280x1024_50fps, Scenario{"async 4 x 1280x1024", true, 4, 1280, 1024, 20, 2000})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Delivery, sync_8x640x480_30fps, Scenario{"sync 8 x 640x480", false, 8, 640, 480, 33, 900})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    if (g_results.empty()) return 0;
    std::printf(
        "\nArrival to callback in microseconds (targets: median <= 100, p99 <= 1000, no frame lost,\n"
        "acquisition thread <= 20 us of processor time per frame)\n");
    std::printf("%-22s %9s %9s %9s %9s %6s %13s %10s\n", "scenario", "callbacks", "median", "p99", "max", "lost",
                "cpu/callback", "cpu/frame");
    for (const auto& [name, s] : g_results)
        std::printf("%-22s %9zu %9.1f %9.1f %9.1f %6llu %13.1f %10.1f\n", name.c_str(), s.latency.count,
                    s.latency.medianUs, s.latency.p99Us, s.latency.maxUs, s.lost, s.cpuUsPerCallback, s.cpuUsPerFrame);
    return 0;
}
