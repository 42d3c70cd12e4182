// Shared pieces of the any-angle rotation: the fixed-point sample positions
// of output rows and the plain per-pixel sampling that every variant uses at
// the edges of the source.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kiru::img::sampling {

// Source positions are 32.32 fixed point. Each output row's start is
// computed afresh in floating point; along a row the position moves by a
// fixed-point step per pixel, so errors do not accumulate down the image.
constexpr int kFracBits = 32;
constexpr std::int64_t kOne = std::int64_t(1) << kFracBits;

// The sample index of a fixed-point position t = x + 0.5 known to lie in
// (-1, size): (int)t truncates towards zero, so (-1, 0) gives 0.
inline std::size_t SampleIndex(std::int64_t t) {
    return static_cast<std::size_t>(std::max<std::int64_t>(t, 0) >> kFracBits);
}

struct RowStart {
    std::int64_t fx, fy;    // fixed-point sample position of output X = 0
    std::int64_t lo, hi;    // output X whose sample lies inside the source
    std::int64_t mlo, mhi;  // the part of [lo, hi) where neither coordinate is negative
};

// A band of output rows, walked in strips `strip` pixels wide.
struct Band {
    const std::uint8_t* src;
    std::size_t srcStride;
    std::uint8_t* dst;  // first row of the band
    std::size_t dstStride, dstWidth;
    const RowStart* rows;
    std::size_t rowCount;
    std::int64_t stepX, stepY;  // source step per output pixel along a row
    std::size_t strip;
    bool rowStepsLeft, rowStepsUp;  // the sample moves to smaller x / y from one output row to the next
};

// The runs of one row within [from, to): [a, b) and [d, e) may hold negative
// coordinates and clamp them, [b, d) needs no clamp.
struct StripRuns {
    std::int64_t a, b, d, e;
};

inline StripRuns RunsInStrip(const RowStart& row, std::int64_t from, std::int64_t to) {
    StripRuns runs;
    runs.a = std::max(row.lo, from);
    runs.b = std::min(std::max(row.mlo, runs.a), to);
    runs.e = std::min(row.hi, to);
    runs.d = std::max(std::min(row.mhi, runs.e), runs.b);
    return runs;
}

// Samples output pixels [lo, hi) of one row.
template <unsigned PX, bool Clamp>
inline void SampleRun(const std::uint8_t* src, std::size_t srcStride, std::uint8_t* out, std::int64_t lo,
                      std::int64_t hi, std::int64_t fx, std::int64_t fy, std::int64_t stepX, std::int64_t stepY) {
    for (std::int64_t X = lo; X < hi; ++X, fx += stepX, fy += stepY) {
        const std::size_t ix = Clamp ? SampleIndex(fx) : static_cast<std::size_t>(fx >> kFracBits);
        const std::size_t iy = Clamp ? SampleIndex(fy) : static_cast<std::size_t>(fy >> kFracBits);
        std::memcpy(out + X * PX, src + iy * srcStride + ix * PX, PX);
    }
}

// Samples output pixels [from, to) of one row (`out` is the row's start),
// leaving the pixels whose sample lies outside the source as they are.
template <unsigned PX>
inline void SampleRange(const Band& b, const RowStart& row, std::uint8_t* out, std::int64_t from, std::int64_t to) {
    if (from >= to) return;
    const StripRuns k = RunsInStrip(row, from, to);
    SampleRun<PX, true>(b.src, b.srcStride, out, k.a, k.b, row.fx + k.a * b.stepX, row.fy + k.a * b.stepY, b.stepX,
                        b.stepY);
    SampleRun<PX, false>(b.src, b.srcStride, out, k.b, k.d, row.fx + k.b * b.stepX, row.fy + k.b * b.stepY, b.stepX,
                         b.stepY);
    SampleRun<PX, true>(b.src, b.srcStride, out, k.d, k.e, row.fx + k.d * b.stepX, row.fy + k.d * b.stepY, b.stepX,
                        b.stepY);
}

#if defined(__GNUC__) && defined(__x86_64__)
// 8-bit pixels in 8 x 8 blocks with AVX-512 byte permutes. The source must
// have the margins that kBlockMargin* describe around it.
void SampleBandBytesAvx512(const Band& b);
#endif

// Margins a source needs for the block sampler: its windows start up to one
// pixel above and left of a sample and reach 16 pixels on.
constexpr std::size_t kBlockMarginLeft = 16, kBlockMarginTop = 1;
constexpr std::size_t kBlockMarginRight = 16, kBlockMarginBottom = 16;

}  // namespace kiru::img::sampling
