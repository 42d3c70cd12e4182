// Loading a 1280x1024 24-bit BMP file from the page cache into a 24-bit
// bitmap of the same size, against the cost of reading the file's bytes plus
// one memcpy of the image. The "x_read_memcpy" column is a kernel's time
// divided by that baseline's time in the same run; "x_memcpy" divides by a
// plain memcpy of the image bytes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/bitmap.h"
#include "platform/bmp_file.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
constexpr std::size_t kImageBytes = std::size_t(kWidth) * kHeight * 3;

std::string g_path;

void Put(std::vector<unsigned char>& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// A bottom-up 24-bit file, as most tools write them.
std::string WriteSample() {
    char pattern[] = "/tmp/kiru-bmp-bench-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd < 0) return {};
    std::vector<unsigned char> bytes;
    Put(bytes, 0x4D42, 2);
    Put(bytes, 54 + kImageBytes, 4);
    Put(bytes, 0, 4);
    Put(bytes, 54, 4);
    Put(bytes, 40, 4);
    Put(bytes, kWidth, 4);
    Put(bytes, kHeight, 4);
    Put(bytes, 1, 2);
    Put(bytes, 24, 2);
    Put(bytes, 0, 4);
    Put(bytes, kImageBytes, 4);
    for (int i = 0; i < 4; ++i) Put(bytes, 0, 4);
    for (std::size_t i = 0; i < kImageBytes; ++i) bytes.push_back(static_cast<unsigned char>(i * 2654435761u >> 13));
    const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    return ok ? std::string(pattern) : std::string();
}

std::unique_ptr<kiru::platform::Dib> Target() {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -kHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    return kiru::platform::Dib::Create(info);
}

void ReadFileBytes(unsigned char* buffer, std::size_t capacity) {
    const int fd = ::open(g_path.c_str(), O_RDONLY | O_CLOEXEC);
    std::size_t done = 0;
    while (done < capacity) {
        const ssize_t got = ::read(fd, buffer + done, capacity - done);
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
}

void BM_Memcpy(benchmark::State& state) {
    std::vector<unsigned char> src(kImageBytes, 1), dst(kImageBytes, 0);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), kImageBytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}

void BM_ReadPlusMemcpy(benchmark::State& state) {
    std::vector<unsigned char> file(54 + kImageBytes), image(kImageBytes);
    for (auto _ : state) {
        ReadFileBytes(file.data(), file.size());
        std::memcpy(image.data(), file.data() + 54, kImageBytes);
        benchmark::DoNotOptimize(image.data());
        benchmark::ClobberMemory();
    }
}

void BM_LoadBmp24(benchmark::State& state) {
    auto target = Target();
    for (auto _ : state) {
        const int rows = kiru::platform::LoadBmpFile(g_path.c_str(), *target, nullptr, nullptr);
        if (rows != kHeight) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(target->Bits());
        benchmark::ClobberMemory();
    }
}

// The same file drawn into an 8-bit grey target (the converting route).
void BM_LoadBmp24IntoGrey(benchmark::State& state) {
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, 8, BI_RGB, 0, 0, 0, 256, 0};
    for (int i = 0; i < 256; ++i) info.bmiColors[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    auto target = kiru::platform::Dib::Create(info);
    for (auto _ : state) {
        const int rows = kiru::platform::LoadBmpFile(g_path.c_str(), *target, nullptr, nullptr);
        if (rows != kHeight) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(target->Bits());
        benchmark::ClobberMemory();
    }
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> out = runs;
        for (Run& run : out) {
            const std::string name = run.benchmark_name();
            const double time = run.GetAdjustedCPUTime();
            if (name == "memcpy") memcpy_ = time;
            if (name == "read+memcpy") baseline_ = time;
            if (memcpy_ > 0) run.counters["x_memcpy"] = benchmark::Counter(time / memcpy_);
            if (baseline_ > 0) run.counters["x_read_memcpy"] = benchmark::Counter(time / baseline_);
        }
        ConsoleReporter::ReportRuns(out);
    }

private:
    double memcpy_ = 0, baseline_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    g_path = WriteSample();
    if (g_path.empty()) {
        std::fprintf(stderr, "cannot write the sample file\n");
        return 1;
    }
    std::vector<unsigned char> warm(54 + kImageBytes);
    ReadFileBytes(warm.data(), warm.size());  // into the page cache

    benchmark::RegisterBenchmark("memcpy", BM_Memcpy);
    benchmark::RegisterBenchmark("read+memcpy", BM_ReadPlusMemcpy);
    benchmark::RegisterBenchmark("load_bmp24", BM_LoadBmp24);
    benchmark::RegisterBenchmark("load_bmp24_into_grey8", BM_LoadBmp24IntoGrey);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    ::unlink(g_path.c_str());
    return 0;
}
