// Decision output of the GigE back-end on a simulated station: from a
// verdict (SetFail, then EnqueueResult, on the frame's callback thread) to
// the output on the hardware, as lateness against the time the output is
// due, on the library clock.
//
// Three paths, one free-running camera in asynchronous mode each:
// - "TRX" decision queue: line 0 is a queued fail line with a 2 ms offset;
//   the word is due 2 ms after it was queued and is seen when the channel's
//   queue has released it;
// - "RCS" pulse generator: line 0 is a queued fail line with a 5 ms offset;
//   the pulse is due at the frame's arrival + 5 ms - the exposure the camera
//   was given, and is seen when the generator has fired;
// - "QBM" board pulse: line 0 is an immediate fail line with a 2 ms offset
//   and a 5 ms duration; board bit 11 is due 2 ms after the verdict and is
//   seen set in register 36.
// One verdict is outstanding at a time: frames that arrive while the last
// output is still awaited get no verdict. The driving thread watches the
// hardware without sleeping; a verdict whose output is not seen within
// 200 ms counts as lost.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <kiru/kiru.h>
#include <kiru/station.h>

#include "platform/clock.h"

namespace {

using kiru::sim::Station;

constexpr ULONG kKeep = 0xFFFFFFFEu;
constexpr int kDecisions = 1000;
constexpr int kWarmUp = 20;
constexpr double kLostAfterUs = 200000;

enum class Path { Queue, Generator, Board };

struct Scenario {
    const char* name;
    Path path;
    const char* station;
    IFW_GPO_CONFIG line0;
};

struct Summary {
    std::size_t decisions = 0;
    double medianUs = 0, p99Us = 0, maxUs = 0;
    int lost = 0;
    double seconds = 0;
};

// Shared by the callback (acquisition thread) and the driving thread.
struct Verdicts {
    IXGrab* grab = nullptr;
    Path path = Path::Queue;
    double exposureUs = 0;
    double offsetUs = 0;
    std::atomic<bool> pending{false};
    std::atomic<bool> stop{false};
    std::atomic<double> dueUs{0};
    std::atomic<int> given{0};
};

int OnFrame(IFW_GRAB_BUF_DESC* desc, unsigned int, std::int64_t, void* context) {
    auto* v = static_cast<Verdicts*>(context);
    if (v->stop.load() || v->pending.load()) return 0;
    const double now = static_cast<double>(NowUs());
    double due = now + v->offsetUs;
    if (v->path == Path::Generator)
        due = v->grab->GetFrameTimestamp(static_cast<int>(desc->camera)) * 1000.0 + v->offsetUs - v->exposureUs;
    v->dueUs.store(due);
    v->pending.store(true);
    v->grab->SetFail(0);
    v->grab->EnqueueResult();
    v->given.fetch_add(1);
    return 0;
}

// Count of outputs the hardware has produced so far on the path.
std::size_t Outputs(Path path, std::size_t boardEdges) {
    switch (path) {
    case Path::Queue: return Station::ReleasedDecisions("TRX", 0, 0).size();
    case Path::Generator: return Station::Pulses("RCS", 0).size();
    case Path::Board: return boardEdges;
    }
    return 0;
}

bool BoardBit() {
    ULONG value = 0;
    Station::GetModuleParam("QBM", 0, 36, &value);
    return (value & (1u << 11)) != 0;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5))];
}

bool Measure(const Scenario& s, Summary& out, std::string& error) {
    const std::string text = std::string("[GEV:0]\nWidth = 64\nHeight = 48\n") + s.station;
    if (!Station::LoadText(text, s.name, &error)) return false;
    char keyword[] = "MARLO";
    IXGrab* grab = KiruGrabInstantiate(keyword);
    auto* gev = dynamic_cast<CIGrabGev*>(grab);
    if (gev == nullptr) {
        error = "no GigE grab object";
        KiruGrabDelete(grab);
        return false;
    }
    Verdicts v;
    v.grab = grab;
    v.path = s.path;
    v.offsetUs = s.line0.Offset;
    grab->SetASyncMode(1);
    bool ok = grab->Initialize() && grab->Create(0, 0, kKeep, kKeep, 8, 5, kKeep);
    if (ok) {
        IFW_GPO_CONFIG line = s.line0;
        grab->SetGPOConfig(0, &line);
        grab->SetDummyDecisionFIFO(0, 0);  // starts the controller queues empty
        grab->SetExposure(0.1, 0);
        Station::GetParam("GEV", 0, 0, 0x4000, &v.exposureUs);
        grab->SetFrameDelay(10);
        grab->SetTriggerMethod(IXGrab::TRIGGER_FREE_RUN);
        grab->RegisterBufferCallbackEx(&OnFrame, &v);
        ok = grab->Start();
    }
    if (!ok) error = gev->GetLastErrorMsg();
    std::vector<double> lateness;
    lateness.reserve(kDecisions);
    std::size_t seen = 0, boardEdges = 0;
    bool bitWas = false;
    const double start = NowMs();
    while (ok && static_cast<int>(lateness.size()) + out.lost < kDecisions &&
           NowMs() - start < 120000.0) {
        if (s.path == Path::Board) {
            const bool bit = BoardBit();
            if (bit && !bitWas) ++boardEdges;
            bitWas = bit;
        }
        const std::size_t outputs = Outputs(s.path, boardEdges);
        const double now = static_cast<double>(NowUs());
        if (!v.pending.load()) continue;
        if (outputs > seen) {
            seen = outputs;
            if (v.given.load() > kWarmUp) lateness.push_back(now - v.dueUs.load());  // warm-up not measured
            v.pending.store(false);
        } else if (now - v.dueUs.load() > kLostAfterUs) {
            ++out.lost;
            v.pending.store(false);
        }
    }
    v.stop.store(true);
    grab->Stop();
    out.seconds = (NowMs() - start) / 1000.0;
    grab->Destroy();
    KiruGrabDelete(grab);
    Station::Reset();
    if (!ok) return false;
    out.decisions = lateness.size();
    out.medianUs = Percentile(lateness, 0.5);
    out.p99Us = Percentile(lateness, 0.99);
    out.maxUs = lateness.empty() ? 0 : *std::max_element(lateness.begin(), lateness.end());
    return true;
}

std::vector<std::pair<std::string, Summary>> g_results;

void BM_Decision(benchmark::State& state, Scenario s) {
    for (auto _ : state) {
        Summary summary;
        std::string error;
        if (!Measure(s, summary, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        state.SetIterationTime(summary.seconds);
        state.counters["decisions"] = static_cast<double>(summary.decisions);
        state.counters["median_us"] = summary.medianUs;
        state.counters["p99_us"] = summary.p99Us;
        state.counters["lost"] = summary.lost;
        g_results.emplace_back(s.name, summary);
    }
}

const Scenario kScenarios[] = {
    {"trx_queue", Path::Queue, "[TRX]\n", {1, 2000, 1000, IFW_GPO_DRIVER_FAIL_QUEUED, 0}},
    {"rcs_generator", Path::Generator, "[RCS]\n", {1, 5000, 1000, IFW_GPO_DRIVER_FAIL_QUEUED, 0}},
    {"qbm_board", Path::Board, "[QBM]\nModuleInfo = 1\n", {1, 2000, 5000, IFW_GPO_DRIVER_FAIL_IMMEDIATE, 0}},
};

}  // namespace

int main(int argc, char** argv) {
    for (const Scenario& s : kScenarios)
        benchmark::RegisterBenchmark(s.name, BM_Decision, s)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\n%-14s %9s %11s %9s %9s %5s\n", "path", "decisions", "median_us", "p99_us", "max_us", "lost");
    for (const auto& [name, r] : g_results)
        std::printf("%-14s %9zu %11.1f %9.1f %9.1f %5d\n", name.c_str(), r.decisions, r.medianUs, r.p99Us, r.maxUs,
                    r.lost);
    return 0;
}
