// Console output with an "x_memcpy" column: each kernel's time divided by the
// time of the memcpy run of the same format in the same process. Benchmarks
// are named "<kernel>/<format...>", and the memcpy run of a format is
// registered before the kernels of that format, so it is reported first.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Maps a run to the key its memcpy baseline is stored under; by default the
// part of the name after the kernel.
using RatioKey = std::function<std::string(const benchmark::BenchmarkReporter::Run& run, std::size_t slash)>;

class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter(OutputOptions options, RatioKey key) : ConsoleReporter(options), key_(std::move(key)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> out = runs;
        for (Run& run : out) {
            const std::string name = run.benchmark_name();
            const std::size_t slash = name.find('/');
            if (slash == std::string::npos) continue;
            const std::string format = key_ ? key_(run, slash) : name.substr(slash + 1);
            const double time = run.GetAdjustedCPUTime();
            if (name.compare(0, slash, "memcpy") == 0) memcpyTime_[format] = time;
            const auto base = memcpyTime_.find(format);
            if (base != memcpyTime_.end() && base->second > 0)
                run.counters["x_memcpy"] = benchmark::Counter(time / base->second);
        }
        ConsoleReporter::ReportRuns(out);
    }

private:
    RatioKey key_;
    std::map<std::string, double> memcpyTime_;
};

// Runs the registered benchmarks through a RatioReporter (colour only on a
// terminal) and shuts the library down.
inline void RunWithMemcpyRatios(RatioKey key = nullptr) {
    RatioReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                 : benchmark::ConsoleReporter::OO_Tabular,
                           std::move(key));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}
