// Lateness of scheduled output edges: the time the scheduler thread calls
// SetOutputPort minus the time the edge was asked for, over several hundred
// pulses of random delay and duration, once on an otherwise idle machine and
// once with two threads spinning on the processors.
//
// A pulse's first edge is asked for at the clock reading taken just before
// GeneratePulseOutPort plus its delay; its reversal at the moment the first
// edge was set plus its duration (the scheduler times the reversal from the
// firing). Four output lines pulse concurrently, so the scheduler also has
// several events queued at once. The edges are recorded without any lock the
// driving thread could hold, so that only the scheduler's own locking is
// measured.
//
// For reference, the same is measured for a bare timed wait on an event by a
// time-critical thread: what the platform's wait adds by itself.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <kiru/kiru.h>

#include "latency_stats.h"
#include "lateness_stats.h"
#include "platform/clock.h"
#include "platform/kernel.h"

namespace {

constexpr int kLanes = 4;     // output lines pulsing at the same time
constexpr int kPulses = 320;  // per scenario; two edges each
constexpr double kMinDelayMs = 1.0, kMaxDelayMs = 20.0;
constexpr double kMinDurationMs = 1.0, kMaxDurationMs = 50.0;
constexpr double kLostAfterMs = 5000.0;  // a pulse not ended by then is counted lost
constexpr auto kPoll = std::chrono::microseconds(500);

// One output line's pulse. The driving thread fills the asked values and
// sets `state` to kScheduled; the scheduler thread records the edges.
struct Lane {
    enum { kIdle, kScheduled, kSet, kCleared };
    std::atomic<int> state{kIdle};
    double askedSetAt = 0.0;  // clock before scheduling + delay
    double duration = 0.0;
    double setAt = 0.0, clearedAt = 0.0;
    bool retired = false;  // driver only: a lost pulse's line is not used again
};

// The common layer as a back-end uses it, timing every edge it is asked to set.
class LatenessGrab : public CIGrab {
public:
    ~LatenessGrab() override { Terminate(); }

    int Initialize() override {
        if (!CIGrab::Initialize()) return 0;
        m_initialized = 1;
        return 1;
    }

    int SetOutputPort(UINT port, int value) override {
        const double now = NowMs();
        CIGrab::SetOutputPort(port, value);
        if (port < kLanes) {
            Lane& lane = lanes[port];
            if (value) {
                lane.setAt = now;
                lane.state.store(Lane::kSet, std::memory_order_release);
            } else {
                lane.clearedAt = now;
                lane.state.store(Lane::kCleared, std::memory_order_release);
            }
        }
        return 1;
    }

    Lane lanes[kLanes];
};

struct Summary {
    LatencyStats lateness;
    int lost = 0;
    int realTimeThreads = -1;
};

// Runs the pulses; returns the lateness of every edge in microseconds.
std::vector<double> MeasurePulses(int busyThreads, Summary& s) {
    LatenessGrab grab;
    grab.Initialize();
    BusyThreads busy(busyThreads);

    std::mt19937 random(20240601);
    std::uniform_real_distribution<double> delay(kMinDelayMs, kMaxDelayMs);
    std::uniform_real_distribution<double> duration(kMinDurationMs, kMaxDurationMs);

    std::vector<double> lateness;
    lateness.reserve(2 * kPulses);
    int started = 0, finished = 0;
    while (finished < kPulses) {
        for (int port = 0; port < kLanes; ++port) {
            Lane& lane = grab.lanes[port];
            if (lane.retired) continue;
            const int state = lane.state.load(std::memory_order_acquire);
            if (state == Lane::kCleared) {
                lateness.push_back(1000.0 * (lane.setAt - lane.askedSetAt));
                lateness.push_back(1000.0 * (lane.clearedAt - (lane.setAt + lane.duration)));
                lane.state.store(Lane::kIdle, std::memory_order_relaxed);
                if (++finished == kPulses / 2) s.realTimeThreads = RealTimeThreads();
            } else if (state != Lane::kIdle && NowMs() - lane.askedSetAt > kLostAfterMs) {
                ++s.lost;
                ++finished;
                lane.retired = true;
                continue;
            }
            if (lane.state.load(std::memory_order_relaxed) != Lane::kIdle || started == kPulses) continue;
            const double d = delay(random), len = duration(random);
            lane.duration = len;
            lane.askedSetAt = NowMs() + d;
            lane.state.store(Lane::kScheduled, std::memory_order_release);
            grab.GeneratePulseOutPort(static_cast<UINT>(port), 1, d, len);
            ++started;
        }
        std::this_thread::sleep_for(kPoll);
    }
    grab.Terminate();
    return lateness;
}

// A time-critical thread waiting on an event that is never set, for the
// same random times: the lateness of the platform's timed wait alone.
std::vector<double> MeasureBareWaits(int busyThreads, Summary& s) {
    BusyThreads busy(busyThreads);
    struct Context {
        HANDLE event;
        std::vector<double> lateness;
        int realTime = -1;
    } context{::CreateEventW(nullptr, FALSE, FALSE, nullptr), {}};
    HANDLE thread = ::CreateThread(
        nullptr, 0,
        [](void* arg) -> DWORD {
            auto* c = static_cast<Context*>(arg);
            ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
            std::mt19937 random(20240601);
            std::uniform_int_distribution<int> ms(1, 50);
            for (int i = 0; i < 2 * kPulses; ++i) {
                const DWORD wait = static_cast<DWORD>(ms(random));
                const double start = NowMs();
                ::WaitForSingleObject(c->event, wait);
                c->lateness.push_back(1000.0 * (NowMs() - start - wait));
                if (i == kPulses) c->realTime = RealTimeThreads();
            }
            return 0;
        },
        &context, 0, nullptr);
    ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
    ::CloseHandle(context.event);
    s.realTimeThreads = context.realTime;
    return context.lateness;
}

std::vector<std::pair<std::string, Summary>> g_results;

void Report(benchmark::State& state, const std::string& name, const Summary& s) {
    state.counters["edges"] = static_cast<double>(s.lateness.count);
    SetLatencyCounters(state, s.lateness);
    state.counters["lost"] = s.lost;
    state.counters["rt_threads"] = s.realTimeThreads;
    g_results.emplace_back(name, s);
}

void BM_EdgeLateness(benchmark::State& state, int busyThreads, const char* name) {
    for (auto _ : state) {
        const double start = NowMs();
        Summary s;
        s.lateness = SummarizeLatencies(MeasurePulses(busyThreads, s));
        state.SetIterationTime((NowMs() - start) / 1000.0);
        Report(state, name, s);
    }
}

void BM_BareWaitLateness(benchmark::State& state, int busyThreads, const char* name) {
    for (auto _ : state) {
        const double start = NowMs();
        Summary s;
        s.lateness = SummarizeLatencies(MeasureBareWaits(busyThreads, s));
        state.SetIterationTime((NowMs() - start) / 1000.0);
        Report(state, name, s);
    }
}

BENCHMARK_CAPTURE(BM_EdgeLateness, idle, 0, "edges, idle")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EdgeLateness, two_busy_threads, 2, "edges, 2 busy")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BareWaitLateness, idle, 0, "bare wait, idle")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BareWaitLateness, two_busy_threads, 2, "bare wait, 2 busy")
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
    std::printf("\nLateness in microseconds (target for edges: median <= 100, p99 <= 500)\n");
    std::printf("%-18s %6s %5s %9s %10s %9s %9s %9s\n", "scenario", "edges", "lost", "min", "median", "p99", "max",
                "realtime");
    for (const auto& [name, s] : g_results)
        std::printf("%-18s %6zu %5d %9.1f %10.1f %9.1f %9.1f %9s\n", name.c_str(), s.lateness.count, s.lost,
                    s.lateness.minUs, s.lateness.medianUs, s.lateness.p99Us, s.lateness.maxUs,
                    s.realTimeThreads > 0 ? "yes" : "no");
    return 0;
}
