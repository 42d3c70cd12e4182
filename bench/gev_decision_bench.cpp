// Decision output of the GigE back-end on a simulated station: from a
// verdict (SetFail, then EnqueueResult, on the frame's callback thread) to
// the output on the hardware, as lateness against the time the output is
// due, on the library clock.
//
// Three paths, one free-running camera in asynchronous mode each, a verdict
// on every frame that comes at least 12 ms after the last verdict (so that
// the outputs of two verdicts never overlap):
// - "TRX" decision queue: line 0 is a queued fail line with a 2 ms offset;
//   the word is due 2 ms after it was queued ("DecisionReleased");
// - "RCS" pulse generator: line 0 is a queued fail line with a 5 ms offset;
//   the pulse is due at the frame's arrival + 5 ms - the exposure the camera
//   was given ("PulseFired");
// - "QBM" board pulse: line 0 is an immediate fail line with a 2 ms offset
//   and a 5 ms duration; board bit 11 is due 2 ms after the verdict
//   ("BoardWrite" of register 36 that sets it).
// The hardware stamps each output in the station trace with the time it
// happened; the verdicts are matched to those stamps after the run, so the
// measuring thread takes no CPU from the paths it measures. A verdict's
// output comes after its due time and before the next verdict is given (no
// output can come before the verdict that asks for it); a verdict with none
// there is lost.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <kiru/kiru.h>
#include <kiru/station.h>

#include "latency_stats.h"
#include "platform/clock.h"

namespace {

using kiru::sim::Station;

constexpr ULONG kKeep = 0xFFFFFFFEu;
constexpr int kDecisions = 1000;
constexpr int kWarmUp = 20;
constexpr double kLostAfterUs = 200000;
constexpr double kSpacingUs = 12000;  // between verdicts
constexpr double kEarlyUs = 1000;  // an output this much before its due time belongs to an earlier verdict

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
    std::mutex mutex;
    std::condition_variable done;
    std::vector<double> due;    // when each verdict's output is due
    std::vector<double> given;  // when each verdict was given
    bool stop = false;
};

int OnFrame(IFW_GRAB_BUF_DESC* desc, unsigned int, std::int64_t, void* context) {
    auto* v = static_cast<Verdicts*>(context);
    {
        std::lock_guard<std::mutex> lock(v->mutex);
        if (v->stop || v->due.size() >= static_cast<std::size_t>(kWarmUp + kDecisions)) return 0;
    }
    const auto now = static_cast<double>(NowUs());
    {
        std::lock_guard<std::mutex> lock(v->mutex);
        if (!v->given.empty() && now - v->given.back() < kSpacingUs) return 0;
    }
    double due = now + v->offsetUs;
    if (v->path == Path::Generator)
        due = v->grab->GetFrameTimestamp(static_cast<int>(desc->camera)) * 1000.0 + v->offsetUs - v->exposureUs;
    v->grab->SetFail(0);
    v->grab->EnqueueResult();
    std::lock_guard<std::mutex> lock(v->mutex);
    v->due.push_back(due);
    v->given.push_back(now);
    if (v->due.size() >= static_cast<std::size_t>(kWarmUp + kDecisions)) v->done.notify_all();
    return 0;
}

// Word `n` (from 0) of a trace line as a number.
double WordOf(const std::string& line, int n) {
    std::istringstream words(line);
    std::string word;
    for (int i = 0; i <= n; ++i) words >> word;
    return std::stod(word);
}

// When the path's outputs happened, in order, from the station trace.
std::vector<double> OutputTimes(Path path) {
    std::vector<double> times;
    bool bitWas = false;
    for (const std::string& line : Station::Trace()) {
        switch (path) {
        case Path::Queue:
            if (line.rfind("TRX:0/0 DecisionReleased ", 0) == 0) times.push_back(WordOf(line, 3));
            break;
        case Path::Generator:
            if (line.rfind("RCS:0 PulseFired 0 ", 0) == 0) times.push_back(WordOf(line, 4));
            break;
        case Path::Board:
            if (line.rfind("QBM:0 BoardWrite 36 ", 0) == 0) {
                const auto value = static_cast<unsigned long>(WordOf(line, 3));
                const bool bit = (value & (1u << 11)) != 0;
                if (bit && !bitWas) times.push_back(WordOf(line, 4));
                bitWas = bit;
            }
            break;
        }
    }
    return times;
}

// Lateness of each measured verdict's output: the first output from
// kEarlyUs before its due time until the next verdict was given.
void Match(const std::vector<double>& due, const std::vector<double>& given, const std::vector<double>& outputs,
           Summary& out) {
    std::vector<double> lateness;
    std::size_t next = 0;
    for (std::size_t i = 0; i < due.size(); ++i) {
        const double limit = i + 1 < given.size() ? given[i + 1] : due[i] + kLostAfterUs;
        while (next < outputs.size() && outputs[next] < due[i] - kEarlyUs) ++next;  // not this verdict's
        const bool found = next < outputs.size() && outputs[next] < limit;
        if (i >= static_cast<std::size_t>(kWarmUp)) {
            if (found)
                lateness.push_back(outputs[next] - due[i]);
            else
                ++out.lost;
        }
        if (found) ++next;
    }
    const LatencyStats stats = SummarizeLatencies(lateness);
    out.decisions = stats.count;
    out.medianUs = stats.medianUs;
    out.p99Us = stats.p99Us;
    out.maxUs = stats.maxUs;
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
    const double start = NowMs();
    if (ok) {
        std::unique_lock<std::mutex> lock(v.mutex);
        v.done.wait_for(lock, std::chrono::seconds(120),
                        [&] { return v.due.size() >= static_cast<std::size_t>(kWarmUp + kDecisions); });
    }
    out.seconds = (NowMs() - start) / 1000.0;
    // The last outputs are due within a few milliseconds.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        std::lock_guard<std::mutex> lock(v.mutex);
        v.stop = true;
    }
    grab->Stop();
    grab->Destroy();
    KiruGrabDelete(grab);
    const std::vector<double> outputs = OutputTimes(s.path);
    Station::Reset();
    if (!ok) return false;
    Match(v.due, v.given, outputs, out);
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
