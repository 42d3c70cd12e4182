// Bayer demosaic of a 2048 x 2048 mosaic against memcpy of the output bytes.
// The "x_memcpy" column is the conversion's processor time divided by the
// time memcpy of the same number of output bytes took in this run; the
// target for 3-byte output is at most 4.
#include <benchmark/benchmark.h>

#include "ratio_reporter.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>


#include "capture/orx.h"

namespace {

constexpr ULONG kWidth = 2048, kHeight = 2048;

struct Output {
    const char* name;
    ULONG flags;
    std::size_t pixelBytes;
};

const Output kOutputs[] = {{"bgr24", ORV_BAYER_OUT_BGR24, 3}, {"bgr32", ORV_BAYER_OUT_BGR32, 4}};

std::vector<std::uint8_t> Mosaic() {
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(kWidth) * kHeight);
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
    return raw;
}

void Memcpy(benchmark::State& state, Output out) {
    const std::size_t bytes = static_cast<std::size_t>(kWidth) * kHeight * out.pixelBytes;
    std::vector<std::uint8_t> src(bytes, 1), dst(bytes, 0);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void Convert(benchmark::State& state, Output out, bool gains) {
    const std::vector<std::uint8_t> raw = Mosaic();
    const std::size_t bytes = static_cast<std::size_t>(kWidth) * kHeight * out.pixelBytes;
    std::vector<std::uint8_t> dst(bytes, 0);
    const float rgb[3] = {1.2f, 1.0f, 1.4f};
    for (auto _ : state) {
        OrxBayerFilterConvert(0, ORV_BAYER_GB, dst.data(), raw.data(), kWidth, kHeight, out.flags,
                              gains ? rgb : nullptr);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

}  // namespace

int main(int argc, char** argv) {
    for (const Output& o : kOutputs) {
        const std::string format = o.name;
        benchmark::RegisterBenchmark(("memcpy/" + format).c_str(), Memcpy, o)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("bayer/" + format).c_str(), Convert, o, false)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("bayer/" + format + "/gains").c_str(), Convert, o, true)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // "bayer/bgr24/gains_median" compares with "memcpy/bgr24": the first
    // part of the format, and like with like among repeated runs.
    RunWithMemcpyRatios([](const benchmark::BenchmarkReporter::Run& run, std::size_t slash) {
        const std::string name = run.benchmark_name();
        return name.substr(slash + 1, name.find_first_of("/_", slash + 1) - slash - 1) + "/" + run.aggregate_name;
    });
    return 0;
}
