// Lateness of scheduled output edges: the time the scheduler thread calls
// SetOutputPort minus the time the edge was asked for, over several hundred
// pulses of random delay and duration, once on an otherwise idle machine and
// once with two threads spinning on the processors.
//
// A pulse's first edge is asked for at the clock reading taken just before
// GeneratePulseOutPort plus its delay; its reversal at the moment the first
// edge was set plus its duration (the scheduler times the reversal from the
// firing). Four output lines pulse concurrently, so the scheduler also has
// several events queued at once.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <kiru/kiru.h>

#include "platform/clock.h"

namespace {

constexpr int kLanes = 4;       // output lines pulsing at the same time
constexpr int kPulses = 320;    // per scenario; two edges each
constexpr double kMinDelayMs = 1.0, kMaxDelayMs = 20.0;
constexpr double kMinDurationMs = 1.0, kMaxDurationMs = 50.0;

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
        bool done = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Lane& lane = lanes_[port];
            if (value) {
                lane.setAt = now;
            } else {
                lane.clearedAt = now;
                lane.busy = false;
                done = true;
            }
        }
        if (done) changed_.notify_all();
        return 1;
    }

    struct Lane {
        bool busy = false;
        double askedSetAt = 0.0;  // clock before scheduling + delay
        double duration = 0.0;
        double setAt = 0.0, clearedAt = 0.0;
    };

    std::mutex mutex_;
    std::condition_variable changed_;
    Lane lanes_[kLanes];
};

struct Summary {
    std::size_t edges = 0;
    double medianUs = 0, p99Us = 0, maxUs = 0, minUs = 0;
};

Summary Summarize(std::vector<double> latenessUs) {
    Summary s;
    if (latenessUs.empty()) return s;
    std::sort(latenessUs.begin(), latenessUs.end());
    const std::size_t n = latenessUs.size();
    s.edges = n;
    s.minUs = latenessUs.front();
    s.medianUs = n % 2 ? latenessUs[n / 2] : 0.5 * (latenessUs[n / 2 - 1] + latenessUs[n / 2]);
    s.p99Us = latenessUs[static_cast<std::size_t>(std::ceil(0.99 * n)) - 1];
    s.maxUs = latenessUs.back();
    return s;
}

// Threads of this process running with a real-time policy (the scheduler
// thread asks for one; the system may refuse).
int RealTimeThreads() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (dirent* entry = ::readdir(dir)) {
            const int tid = std::atoi(entry->d_name);
            if (tid <= 0) continue;
            const int policy = ::sched_getscheduler(tid);
            if (policy == SCHED_FIFO || policy == SCHED_RR) ++count;
        }
        ::closedir(dir);
    }
    return count;
}

// Runs the pulses and returns the lateness of every edge in microseconds.
std::vector<double> MeasurePulses(int busyThreads, int* realTime) {
    LatenessGrab grab;
    grab.Initialize();

    std::atomic<bool> spin{true};
    std::vector<std::thread> busy;
    for (int i = 0; i < busyThreads; ++i)
        busy.emplace_back([&spin] {
            volatile unsigned long sink = 0;
            while (spin.load(std::memory_order_relaxed)) sink = sink + 1;
        });

    std::mt19937 random(20240601);
    std::uniform_real_distribution<double> delay(kMinDelayMs, kMaxDelayMs);
    std::uniform_real_distribution<double> duration(kMinDurationMs, kMaxDurationMs);

    std::vector<double> lateness;
    lateness.reserve(2 * kPulses);
    int started = 0, finished = 0;
    std::unique_lock<std::mutex> lock(grab.mutex_);
    while (finished < kPulses) {
        // Start a pulse on every idle line.
        for (int port = 0; port < kLanes && started < kPulses; ++port) {
            LatenessGrab::Lane& lane = grab.lanes_[port];
            if (lane.busy) continue;
            const double d = delay(random), len = duration(random);
            lane = LatenessGrab::Lane{true, NowMs() + d, len, 0.0, 0.0};
            lock.unlock();  // the scheduler thread may fire meanwhile
            grab.GeneratePulseOutPort(static_cast<UINT>(port), 1, d, len);
            lock.lock();
            ++started;
        }
        // Wait for a pulse to end, then collect every ended one.
        grab.changed_.wait(lock, [&] {
            for (const auto& lane : grab.lanes_)
                if (!lane.busy && lane.duration != 0.0) return true;
            return false;
        });
        for (auto& lane : grab.lanes_) {
            if (lane.busy || lane.duration == 0.0) continue;
            lateness.push_back(1000.0 * (lane.setAt - lane.askedSetAt));
            lateness.push_back(1000.0 * (lane.clearedAt - (lane.setAt + lane.duration)));
            lane.duration = 0.0;
            ++finished;
        }
        if (finished == kPulses / 2 && realTime) *realTime = RealTimeThreads();
    }
    lock.unlock();

    spin = false;
    for (std::thread& t : busy) t.join();
    grab.Terminate();
    return lateness;
}

std::map<std::string, Summary> g_results;
std::map<std::string, int> g_realTime;

void BM_EdgeLateness(benchmark::State& state, int busyThreads, const char* name) {
    for (auto _ : state) {
        const double start = NowMs();
        int realTime = -1;
        const Summary s = Summarize(MeasurePulses(busyThreads, &realTime));
        state.SetIterationTime((NowMs() - start) / 1000.0);
        state.counters["edges"] = static_cast<double>(s.edges);
        state.counters["median_us"] = s.medianUs;
        state.counters["p99_us"] = s.p99Us;
        state.counters["max_us"] = s.maxUs;
        state.counters["rt_threads"] = realTime;
        g_results[name] = s;
        g_realTime[name] = realTime;
    }
}

BENCHMARK_CAPTURE(BM_EdgeLateness, idle, 0, "idle")->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EdgeLateness, two_busy_threads, 2, "two busy threads")
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
    std::printf("\nScheduled output edge lateness (target: median <= 100 us, p99 <= 500 us)\n");
    std::printf("%-18s %7s %11s %11s %11s %11s %9s\n", "scenario", "edges", "min_us", "median_us", "p99_us",
                "max_us", "rt_thread");
    for (const auto& [name, s] : g_results)
        std::printf("%-18s %7zu %11.1f %11.1f %11.1f %11.1f %9s\n", name.c_str(), s.edges, s.minUs, s.medianUs,
                    s.p99Us, s.maxUs, g_realTime[name] > 0 ? "yes" : "no");
    return 0;
}
