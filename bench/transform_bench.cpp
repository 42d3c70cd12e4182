// Image transform kernels against memcpy of the same bytes. Every kernel runs
// on the same three frame formats; the "x_memcpy" column is its time divided
// by the time memcpy took on the same format in this run (processor time,
// which a busy machine disturbs less than wall-clock time).
#include <benchmark/benchmark.h>

#include "ratio_reporter.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "image/image_kernels.h"

namespace {

struct Format {
    std::size_t width, height;
    unsigned pixelBytes;
    std::string Name() const {
        return std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(8 * pixelBytes);
    }
    std::size_t Bytes() const { return width * height * pixelBytes; }
};

const Format kFormats[] = {{2048, 2048, 1}, {1280, 1024, 3}, {1024, 1024, 4}};

using Kernel = void (*)(const std::uint8_t* src, std::uint8_t* dst, const Format& f);

void Memcpy(const std::uint8_t* src, std::uint8_t* dst, const Format& f) { std::memcpy(dst, src, f.Bytes()); }
void Flip(const std::uint8_t* src, std::uint8_t* dst, const Format& f) {
    kiru::img::FlipImage(src, dst, f.width * f.pixelBytes, f.height);
}
void Mirror(const std::uint8_t* src, std::uint8_t* dst, const Format& f) {
    kiru::img::MirrorImage(src, dst, f.width, f.height, f.pixelBytes);
}
template <unsigned Degrees>
void Rotate(const std::uint8_t* src, std::uint8_t* dst, const Format& f) {
    kiru::img::RotateBlock(src, f.width, f.height, dst, f.pixelBytes, Degrees);
}

const std::pair<const char*, Kernel> kKernels[] = {
    {"memcpy", Memcpy},       {"flip", Flip},
    {"mirror", Mirror},       {"rotate180", Rotate<180>},
    {"rotate90", Rotate<90>}, {"rotate270", Rotate<270>},
    {"rotate45", Rotate<45>}, {"rotate100", Rotate<100>},
};

void Run(benchmark::State& state, Kernel kernel, Format f) {
    std::vector<std::uint8_t> src(f.Bytes()), dst(f.Bytes());
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
    std::memset(dst.data(), 0, dst.size());
    for (auto _ : state) {
        kernel(src.data(), dst.data(), f);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.Bytes()));
}

}  // namespace

int main(int argc, char** argv) {
    for (const Format& f : kFormats)
        for (const auto& [name, kernel] : kKernels)
            benchmark::RegisterBenchmark((std::string(name) + "/" + f.Name()).c_str(), Run, kernel, f)
                ->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RunWithMemcpyRatios();
    return 0;
}
