// PLC change delivery of the GigE back-end on a simulated station: the time
// from Station::SetPlcInputs (a new value in the PLC input area) to the entry
// of the client's file-change callback, over 2,000 changes of one watched
// 32-bit word; median, p99 and changes lost (never delivered).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <vector>

#include <kiru/kiru.h>
#include <kiru/station.h>

#include "latency_stats.h"
#include "platform/clock.h"

namespace {

constexpr int kChanges = 2000;

struct Probe {
    std::atomic<long long> seen{0};
    std::atomic<std::int64_t> enteredUs{0};
};

void OnChange(IFW_FILE_DATA_CB_RECORD* record, void* context) {
    auto* probe = static_cast<Probe*>(context);
    probe->enteredUs.store(kiru::platform::NowUs());
    probe->seen.store(record->value);
}

void BM_PlcChangeToCallback(benchmark::State& state) {
    std::string error;
    if (!kiru::sim::Station::LoadText("[GEV]\nWidth = 64\nHeight = 48\n[RCS]\nPlcType = 1\n", "plc.ini", &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    CIGrabGev grab;
    if (!grab.Initialize()) {
        state.SkipWithError("Initialize failed");
        return;
    }
    Probe probe;
    void* handle = grab.PlcAddFileChangeCallback(0, 32, 4, 0, &OnChange, &probe);
    std::vector<double> latencies;
    int lost = 0;
    for (auto _ : state) {
        latencies.clear();
        lost = 0;
        for (int i = 1; i <= kChanges; ++i) {
            const ULONG value = static_cast<ULONG>(i) + static_cast<ULONG>(state.iterations()) * kChanges;
            const std::int64_t sentUs = kiru::platform::NowUs();
            kiru::sim::Station::SetPlcInputs("RCS", 0, 32, &value, 4);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (probe.seen.load() != static_cast<long long>(value) && std::chrono::steady_clock::now() < deadline) {
            }
            if (probe.seen.load() != static_cast<long long>(value)) {
                ++lost;
                continue;
            }
            latencies.push_back(static_cast<double>(probe.enteredUs.load() - sentUs));
        }
    }
    grab.PlcDelFileChangeCallback(handle);
    grab.Terminate();
    kiru::sim::Station::Reset();
    const LatencyStats stats = SummarizeLatencies(latencies);
    SetLatencyCounters(state, stats);
    state.counters["lost"] = lost;
    std::printf("PLC change -> callback: %zu changes, median %.1f us, p99 %.1f us, max %.1f us, lost %d\n",
                stats.count, stats.medianUs, stats.p99Us, stats.maxUs, lost);
}
BENCHMARK(BM_PlcChangeToCallback)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
