// Pulse timers of the appliance boards on a simulated station: how late the
// board's output edges come against the start and end the client asked for.
// Each pulse is asked with GeneratePulseOutPort (offset 1 to 10 ms, duration
// 1 to 50 ms, one pulse per output line at a time, every line busy); the
// asked start is the time of the call plus the offset, the asked end the
// start plus the duration, both on the library clock. The edges are the
// board's register writes as the station recorded them with their times
// (register 91 of an LX2 board, register 36 of a QB2 board). Idle, and with
// two threads spinning on the two processors.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <kiru/kiru.h>
#include <kiru/station.h>

#include "latency_stats.h"
#include "lateness_stats.h"
#include "platform/clock.h"

namespace {

using kiru::platform::NowUs;
using kiru::sim::Station;

constexpr int kPulses = 1000;
constexpr std::int64_t kGiveUpUs = 200000;  // an edge not seen by then counts as lost

struct Board {
    const char* name;
    const char* module;
    ULONG reg;
    std::vector<ULONG> bits;  // board bit of each output line used
    bool lx2;
};

struct Result {
    LatencyStats start, end;
    int lost = 0;
    double seconds = 0;
    std::string loadBefore, loadAfter;
};

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

struct Asked {
    std::int64_t callUs, startUs, endUs;
};

bool Measure(const Board& board, int busy, Result& out, std::string& error) {
    const std::string text = std::string("[") + board.module + "]\nWidth = 32\nHeight = 8\n";
    if (!Station::LoadText(text, board.name, &error)) return false;
    std::unique_ptr<CIGrab> grab;
    if (board.lx2)
        grab = std::make_unique<CIGrabLX2>();
    else
        grab = std::make_unique<CIGrabQB2>();
    if (!grab->Initialize()) {
        error = grab->GetLastErrorMsg();
        return false;
    }
    out.loadBefore = LoadAverage();
    BusyThreads spinning(busy);
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> offsetMs(1, 10), durationMs(1, 50);
    const std::size_t lines = board.bits.size();
    std::vector<std::vector<Asked>> asked(lines);
    std::vector<int> phase(lines, 2);  // 0 waiting for the assert, 1 for the release, 2 idle
    int launched = 0;
    const std::int64_t begin = NowUs();
    while (true) {
        bool busyLine = false;
        for (std::size_t line = 0; line < lines; ++line) {
            ULONG value = 0;
            Station::GetModuleParam(board.module, 0, board.reg, &value);
            const bool on = (value >> board.bits[line]) & 1u;
            const std::int64_t now = NowUs();
            if (phase[line] == 0 && (on || now > asked[line].back().endUs + kGiveUpUs)) phase[line] = 1;
            if (phase[line] == 1 && (!on || now > asked[line].back().endUs + kGiveUpUs)) phase[line] = 2;
            if (phase[line] == 2 && launched < kPulses) {
                const int offset = offsetMs(random), duration = durationMs(random);
                const std::int64_t call = NowUs();
                if (grab->GeneratePulseOutPort(static_cast<UINT>(line), 1, offset, duration)) {
                    asked[line].push_back({call, call + offset * 1000, call + (offset + duration) * 1000});
                    phase[line] = 0;
                    ++launched;
                }
            }
            busyLine = busyLine || phase[line] != 2;
        }
        if (!busyLine && launched >= kPulses) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    out.seconds = static_cast<double>(NowUs() - begin) / 1e6;
    out.loadAfter = LoadAverage();

    // The edges of each line, in order, from the board's register writes.
    const std::vector<kiru::sim::RegisterWriteInfo> writes = Station::RegisterWrites(board.module, 0);
    std::vector<double> startLate, endLate;
    for (std::size_t line = 0; line < lines; ++line) {
        std::vector<std::int64_t> rises, falls;
        bool level = false;
        for (const auto& w : writes) {
            if (w.reg != board.reg || w.timeUs < begin) continue;
            const bool on = (w.value >> board.bits[line]) & 1u;
            if (on && !level) rises.push_back(w.timeUs);
            if (!on && level) falls.push_back(w.timeUs);
            level = on;
        }
        // Each pulse takes the first rise after its call and the first fall
        // after that rise; a pulse whose edges are missing counts as lost.
        std::size_t r = 0, f = 0;
        for (const Asked& a : asked[line]) {
            while (r < rises.size() && rises[r] < a.callUs) ++r;
            if (r == rises.size()) {
                ++out.lost;
                continue;
            }
            while (f < falls.size() && falls[f] <= rises[r]) ++f;
            if (f == falls.size()) {
                ++out.lost;
                continue;
            }
            startLate.push_back(static_cast<double>(rises[r] - a.startUs));
            endLate.push_back(static_cast<double>(falls[f] - a.endUs));
        }
    }
    out.start = SummarizeLatencies(startLate);
    out.end = SummarizeLatencies(endLate);
    grab->Terminate();
    Station::Reset();
    return true;
}

std::vector<std::pair<std::string, Result>> g_results;

void BM_PulseLateness(benchmark::State& state, Board board, int busy) {
    for (auto _ : state) {
        Result result;
        std::string error;
        if (!Measure(board, busy, result, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        state.SetIterationTime(result.seconds);
        state.counters["pulses"] = static_cast<double>(result.start.count);
        state.counters["start_median_us"] = result.start.medianUs;
        state.counters["start_p99_us"] = result.start.p99Us;
        state.counters["end_median_us"] = result.end.medianUs;
        state.counters["end_p99_us"] = result.end.p99Us;
        state.counters["lost"] = result.lost;
        g_results.emplace_back(std::string(board.name) + (busy ? "/busy2" : "/idle"), result);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Board boards[] = {
        {"lx2", "LXP", 91, {0, 1, 2, 3, 4, 5, 6, 7}, true},
        {"qb2", "QBM", 36, {11, 12, 9, 6}, false},
    };
    for (const Board& board : boards)
        for (int busy : {0, 2})
            benchmark::RegisterBenchmark((std::string(board.name) + (busy ? "/busy2" : "/idle")).c_str(),
                                         BM_PulseLateness, board, busy)
                ->Iterations(1)
                ->UseManualTime()
                ->Unit(benchmark::kSecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\nlateness of the board's output edges, microseconds (asked: call time + offset; end: + duration)\n");
    std::printf("%-11s %6s %5s %10s %9s %9s %10s %9s %9s  %s\n", "board", "pulses", "lost", "start_med", "start_p99",
                "start_max", "end_med", "end_p99", "end_max", "load before -> after");
    for (const auto& [name, r] : g_results)
        std::printf("%-11s %6zu %5d %10.1f %9.1f %9.1f %10.1f %9.1f %9.1f  %s -> %s\n", name.c_str(), r.start.count,
                    r.lost, r.start.medianUs, r.start.p99Us, r.start.maxUs, r.end.medianUs, r.end.p99Us, r.end.maxUs,
                    r.loadBefore.c_str(), r.loadAfter.c_str());
    std::printf("real-time threads at the end: %d\n", RealTimeThreads());
    return 0;
}
