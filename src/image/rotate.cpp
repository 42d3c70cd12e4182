// Rotation kernels: nearest-sampled rotation by any angle, and the exact
// quarter- and half-turn fast paths that give the same bytes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "image/image_kernels.h"
#include "image/rotate_sampling.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if KIRU_IMG_X86_DISPATCH
#include <immintrin.h>
#endif

namespace kiru::img {

namespace {

using namespace sampling;

template <unsigned PX>
inline void CopyPixel(std::uint8_t* dst, const std::uint8_t* src) {
    std::memcpy(dst, src, PX);
}

// ---------------------------------------------------------------------------
// Any angle

// Rounded to the nearest 2^-32: the sine and cosine of angles such as 30
// degrees are a hair off their exact values (0.49999999999999994), and so is
// floating-point arithmetic on them, far less than 2^-33. Rounding drops that
// noise, so positions that are exactly half-way between two pixels in exact
// arithmetic stay exactly there and the "+ 0.5, truncated" rule takes the
// upper pixel, on every row alike. Exact angles give exact positions.
std::int64_t ToFixed(double v) { return std::llround(std::ldexp(v, kFracBits)); }

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0))) --q;
    return q;
}

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return -FloorDiv(-a, b); }

// Narrows [lo, hi) to the X for which low < f0 + X * d < high.
void ClipSpan(std::int64_t f0, std::int64_t d, std::int64_t low, std::int64_t high, std::int64_t& lo,
              std::int64_t& hi) {
    if (d == 0) {
        if (!(f0 > low && f0 < high)) hi = lo;
        return;
    }
    if (d > 0) {
        lo = std::max(lo, FloorDiv(low - f0, d) + 1);
        hi = std::min(hi, CeilDiv(high - f0, d));
    } else {
        lo = std::max(lo, FloorDiv(high - f0, d) + 1);
        hi = std::min(hi, CeilDiv(low - f0, d));
    }
}

// The output is walked in tiles (a band of rows cut into column strips) so
// that the source lines one tile samples stay cached from one row to the
// next. A tile spans about strip * |sin| + band * |cos| source rows; each term
// is kept near kTileSourceRows. With a power-of-two stride far fewer source
// rows stay cached at once (their lines compete for the same cache sets), so
// such sources are first copied with a padded stride (PaddedSource).
constexpr std::size_t kMaxTile = 256;
constexpr double kTileSourceRows = 128.0;

// A multiple of 8, so that the vector loops rarely leave a remainder.
std::size_t TileSide(double slope) {
    const double side = kTileSourceRows / std::max(std::fabs(slope), 1e-9);
    if (side >= static_cast<double>(kMaxTile)) return kMaxTile;
    return std::max<std::size_t>(16, static_cast<std::size_t>(side) & ~std::size_t(7));
}

// A copy of the source with rows an odd number of cache lines apart (so that
// consecutive rows fall in different cache sets) and optional margins around
// it. The buffer is kept per thread: acquisition threads rotate every frame,
// and a fresh allocation each time would cost more page faults than the copy.
class PaddedSource {
public:
    struct Margins {
        std::size_t left, top, right, bottom;
    };

    // Returns the first source pixel in the copy (the copy's stride is
    // stride()), or null when no buffer could be had: the caller then works
    // on the source itself.
    const std::uint8_t* Copy(const std::uint8_t* src, std::size_t rowBytes, std::size_t rows, const Margins& m) {
        const std::size_t lines = (m.left + rowBytes + m.right + 63) / 64;
        stride_ = (lines | 1) * 64;
        const std::size_t size = stride_ * (m.top + rows + m.bottom);
        if (buffer_.size() < size) {
            try {
                buffer_.resize(size);
            } catch (const std::bad_alloc&) {
                return nullptr;
            }
        }
        std::uint8_t* first = buffer_.data() + m.top * stride_ + m.left;
        for (std::size_t y = 0; y < rows; ++y) std::memcpy(first + y * stride_, src + y * rowBytes, rowBytes);
        return first;
    }
    std::size_t stride() const { return stride_; }

private:
    std::vector<std::uint8_t> buffer_;
    std::size_t stride_ = 0;
};

// One copy buffer per thread for every pixel size.
PaddedSource& ThreadPaddedSource() {
    static thread_local PaddedSource padded;
    return padded;
}

// Rows 512 bytes apart or a multiple of that share cache sets every 8 rows
// or sooner.
bool HasConflictingStride(std::size_t rowBytes) { return rowBytes % 512 == 0; }

struct GeneralSetup {
    std::int64_t stepX, stepY;  // source step per output pixel along a row
    std::int64_t limitX, limitY;
    double c, s, p;  // cos, sin, and output X = 0 relative to the origin
};

GeneralSetup SetUpGeneral(std::size_t srcWidth, std::size_t srcHeight, const RotationPlacement& pl) {
    GeneralSetup g;
    g.c = pl.cos;
    g.s = pl.sin;
    g.p = -pl.originX - pl.shiftX;
    // Along an output row the source position moves by (cos, sin) per pixel.
    g.stepX = ToFixed(g.c);
    g.stepY = ToFixed(g.s);
    g.limitX = static_cast<std::int64_t>(srcWidth) << kFracBits;
    g.limitY = static_cast<std::int64_t>(srcHeight) << kFracBits;
    return g;
}

// The sample positions and spans of output rows y0 .. y0 + rows - 1.
void StartRows(const GeneralSetup& g, const RotationPlacement& pl, std::size_t y0, std::size_t rows, RowStart* band) {
    // Each row's position is computed in the column nearest the origin, where
    // the cosine and sine terms vanish and the position is exact, and taken
    // back to column 0 in fixed point.
    const double originColumn = std::round(pl.originX + pl.shiftX);
    const double p = g.p + originColumn;
    const std::int64_t columns = static_cast<std::int64_t>(originColumn);
    for (std::size_t r = 0; r < rows; ++r) {
        const double q = static_cast<double>(y0 + r) - pl.originY - pl.shiftY;
        RowStart& row = band[r];
        // Inverse of the forward mapping, plus 0.5 for nearest sampling.
        row.fx = ToFixed(p * g.c - q * g.s + pl.originX + 0.5) - columns * g.stepX;
        row.fy = ToFixed(p * g.s + q * g.c + pl.originY + 0.5) - columns * g.stepY;
        // Both coordinates are monotonic along a row, so the pixels whose
        // sample lies inside the source form one span and the inner loops
        // need no bounds test.
        row.lo = 0;
        row.hi = static_cast<std::int64_t>(pl.dstWidth);
        ClipSpan(row.fx, g.stepX, -kOne, g.limitX, row.lo, row.hi);
        ClipSpan(row.fy, g.stepY, -kOne, g.limitY, row.lo, row.hi);
        row.mlo = row.lo;
        row.mhi = row.hi;
        ClipSpan(row.fx, g.stepX, -1, g.limitX, row.mlo, row.mhi);
        ClipSpan(row.fy, g.stepY, -1, g.limitY, row.mlo, row.mhi);
        if (row.mlo >= row.mhi) row.mlo = row.mhi = row.hi;  // the whole span needs the clamp
    }
}

template <unsigned PX>
void SampleBand(const Band& b) {
    for (std::size_t x0 = 0; x0 < b.dstWidth; x0 += b.strip) {
        const std::int64_t stripLo = static_cast<std::int64_t>(x0);
        const std::int64_t stripHi = static_cast<std::int64_t>(std::min(x0 + b.strip, b.dstWidth));
        for (std::size_t r = 0; r < b.rowCount; ++r)
            SampleRange<PX>(b, b.rows[r], b.dst + r * b.dstStride, stripLo, stripHi);
    }
}

#if KIRU_IMG_X86_DISPATCH
// The same, with the source offsets of the unclamped runs computed four at a
// time in vector registers from the same 32.32 positions (so the samples are
// the same), and taken from the registers directly.
template <unsigned PX>
__attribute__((target("avx2"))) void SampleBandAvx2(const Band& b) {
    const __m256i laneStepX = _mm256_setr_epi64x(0, b.stepX, 2 * b.stepX, 3 * b.stepX);
    const __m256i laneStepY = _mm256_setr_epi64x(0, b.stepY, 2 * b.stepY, 3 * b.stepY);
    const __m256i stepX4 = _mm256_set1_epi64x(4 * b.stepX);
    const __m256i stepY4 = _mm256_set1_epi64x(4 * b.stepY);
    const __m256i stride = _mm256_set1_epi64x(static_cast<std::int64_t>(b.srcStride));
    for (std::size_t x0 = 0; x0 < b.dstWidth; x0 += b.strip) {
        const std::int64_t stripLo = static_cast<std::int64_t>(x0);
        const std::int64_t stripHi = static_cast<std::int64_t>(std::min(x0 + b.strip, b.dstWidth));
        for (std::size_t r = 0; r < b.rowCount; ++r) {
            const RowStart& row = b.rows[r];
            const StripRuns k = RunsInStrip(row, stripLo, stripHi);
            std::uint8_t* out = b.dst + r * b.dstStride;
            SampleRun<PX, true>(b.src, b.srcStride, out, k.a, k.b, row.fx + k.a * b.stepX, row.fy + k.a * b.stepY,
                                b.stepX, b.stepY);
            __m256i vx = _mm256_add_epi64(_mm256_set1_epi64x(row.fx + k.b * b.stepX), laneStepX);
            __m256i vy = _mm256_add_epi64(_mm256_set1_epi64x(row.fy + k.b * b.stepY), laneStepY);
            std::int64_t X = k.b;
            for (; X + 4 <= k.d; X += 4) {
                __m256i column = _mm256_srli_epi64(vx, kFracBits);
                if constexpr (PX == 2) column = _mm256_slli_epi64(column, 1);
                if constexpr (PX == 3) column = _mm256_add_epi64(column, _mm256_slli_epi64(column, 1));
                if constexpr (PX == 4) column = _mm256_slli_epi64(column, 2);
                const __m256i offset =
                    _mm256_add_epi64(_mm256_mul_epu32(_mm256_srli_epi64(vy, kFracBits), stride), column);
                const __m128i low = _mm256_castsi256_si128(offset);
                const __m128i high = _mm256_extracti128_si256(offset, 1);
                std::uint8_t* o = out + X * PX;
                CopyPixel<PX>(o, b.src + _mm_cvtsi128_si64(low));
                CopyPixel<PX>(o + PX, b.src + _mm_extract_epi64(low, 1));
                CopyPixel<PX>(o + 2 * PX, b.src + _mm_cvtsi128_si64(high));
                CopyPixel<PX>(o + 3 * PX, b.src + _mm_extract_epi64(high, 1));
                vx = _mm256_add_epi64(vx, stepX4);
                vy = _mm256_add_epi64(vy, stepY4);
            }
            SampleRun<PX, false>(b.src, b.srcStride, out, X, k.d, row.fx + X * b.stepX, row.fy + X * b.stepY, b.stepX,
                                 b.stepY);
            SampleRun<PX, true>(b.src, b.srcStride, out, k.d, k.e, row.fx + k.d * b.stepX, row.fy + k.d * b.stepY,
                                b.stepX, b.stepY);
        }
    }
}
#endif

template <unsigned PX>
void RotateGeneralT(const std::uint8_t* src, std::size_t srcWidth, std::size_t srcHeight, std::uint8_t* dst,
                    const RotationPlacement& pl) {
    const GeneralSetup g = SetUpGeneral(srcWidth, srcHeight, pl);
    const std::size_t rowBytes = srcWidth * PX;
    Band band{src, rowBytes, dst, pl.dstWidth * PX, pl.dstWidth, nullptr, 0, g.stepX, g.stepY, TileSide(pl.sin),
              // From one output row to the next the sample moves by (-sin, cos).
              pl.sin > 0, pl.cos < 0};
    void (*sample)(const Band&) = &SampleBand<PX>;
#if KIRU_IMG_X86_DISPATCH
    // The AVX2 code multiplies 32-bit rows by a 32-bit stride.
    if (srcHeight <= 0xFFFFFFFFu && rowBytes <= 0xFFFFFFFFu && HasAvx2()) sample = &SampleBandAvx2<PX>;
#endif
    PaddedSource& padded = ThreadPaddedSource();
    bool copied = false;
#if KIRU_IMG_X86_DISPATCH
    if constexpr (PX == 1) {
        // The block code keeps rows and columns in 32-bit lanes and needs
        // margins around the source.
        const bool lanesFit = srcHeight < (std::size_t(1) << 26) && rowBytes < (std::size_t(1) << 26);
        if (lanesFit && HasAvx512Vbmi()) {
            const PaddedSource::Margins margins{kBlockMarginLeft, kBlockMarginTop, kBlockMarginRight,
                                                kBlockMarginBottom};
            if (const std::uint8_t* copy = padded.Copy(src, rowBytes, srcHeight, margins)) {
                band.src = copy;
                band.srcStride = padded.stride();
                sample = &SampleBandBytesAvx512;
                copied = true;
            }
        }
    }
#endif
    if (!copied && HasConflictingStride(rowBytes)) {
        if (const std::uint8_t* copy = padded.Copy(src, rowBytes, srcHeight, PaddedSource::Margins{0, 0, 0, 0})) {
            band.src = copy;
            band.srcStride = padded.stride();
        }
    }
    RowStart rows[kMaxTile];
    band.rows = rows;
    const std::size_t bandRows = TileSide(pl.cos);
    for (std::size_t y0 = 0; y0 < pl.dstHeight; y0 += bandRows) {
        band.rowCount = std::min(bandRows, pl.dstHeight - y0);
        band.dst = dst + y0 * band.dstStride;
        StartRows(g, pl, y0, band.rowCount, rows);
        sample(band);
    }
}

// ---------------------------------------------------------------------------
// Quarter turns
//
// Counter-clockwise (stored 90): out[Y][X] = src[X][srcWidth - 1 - Y];
// clockwise (stored 270): out[Y][X] = src[srcHeight - 1 - X][Y]. The output
// is srcHeight pixels wide and srcWidth rows high.
//
// The output is walked in blocks one cache line wide and kBlockRows high, so
// that every output line is completed while it is cached and every source
// line is read whole, even with power-of-two strides.
constexpr std::size_t kBlockRows = 32;

template <unsigned PX, bool CCW>
inline const std::uint8_t* QuarterSource(const std::uint8_t* src, std::size_t sw, std::size_t sh, std::size_t X,
                                         std::size_t Y) {
    return CCW ? src + (X * sw + (sw - 1 - Y)) * PX : src + ((sh - 1 - X) * sw + Y) * PX;
}

// Pixel by pixel over the output rectangle [x0, x1) x [y0, y1).
template <unsigned PX, bool CCW>
void QuarterPixels(const std::uint8_t* src, std::size_t sw, std::size_t sh, std::uint8_t* dst, std::size_t x0,
                   std::size_t x1, std::size_t y0, std::size_t y1) {
    const std::size_t dw = sh;
    constexpr std::size_t blockWidth = 64 / PX;
    for (std::size_t bx = x0; bx < x1; bx += blockWidth) {
        const std::size_t bx1 = std::min(bx + blockWidth, x1);
        for (std::size_t Y = y0; Y < y1; ++Y) {
            std::uint8_t* out = dst + Y * dw * PX;
            for (std::size_t X = bx; X < bx1; ++X)
                CopyPixel<PX>(out + X * PX, QuarterSource<PX, CCW>(src, sw, sh, X, Y));
        }
    }
}

#if defined(__SSE2__)
template <unsigned PX>
inline __m128i UnpackLo(__m128i a, __m128i b) {
    if constexpr (PX == 1)
        return _mm_unpacklo_epi8(a, b);
    else if constexpr (PX == 2)
        return _mm_unpacklo_epi16(a, b);
    else
        return _mm_unpacklo_epi32(a, b);
}
template <unsigned PX>
inline __m128i UnpackHi(__m128i a, __m128i b) {
    if constexpr (PX == 1)
        return _mm_unpackhi_epi8(a, b);
    else if constexpr (PX == 2)
        return _mm_unpackhi_epi16(a, b);
    else
        return _mm_unpackhi_epi32(a, b);
}

// Transposes a square of 16 / PX rows of 16 bytes in registers: interleaving
// the upper and lower halves log2(rows) times turns rows into columns.
template <unsigned PX>
inline void TransposeSquare(__m128i* r) {
    constexpr unsigned n = 16 / PX;
    for (unsigned width = 1; width < n; width *= 2) {
        __m128i t[n];
        for (unsigned i = 0; i < n / 2; ++i) {
            t[2 * i] = UnpackLo<PX>(r[i], r[i + n / 2]);
            t[2 * i + 1] = UnpackHi<PX>(r[i], r[i + n / 2]);
        }
        for (unsigned i = 0; i < n; ++i) r[i] = t[i];
    }
}

// Turns the output square at (X0, Y0), 16 / PX pixels on a side, in
// registers, writing it at `out` with rows outStride bytes apart.
template <unsigned PX, bool CCW>
inline void QuarterSquare(const std::uint8_t* src, std::size_t sw, std::size_t sh, std::size_t X0, std::size_t Y0,
                          std::uint8_t* out, std::size_t outStride) {
    constexpr std::size_t n = 16 / PX;
    const std::size_t srcStride = sw * PX;
    __m128i r[n];
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* row =
            CCW ? src + (X0 + i) * srcStride + (sw - n - Y0) * PX : src + (sh - 1 - X0 - i) * srcStride + Y0 * PX;
        r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
    }
    TransposeSquare<PX>(r);
    // r[j] is source column j of the square: output row n - 1 - j of the
    // square when turning counter-clockwise, row j otherwise.
    for (std::size_t j = 0; j < n; ++j)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (CCW ? n - 1 - j : j) * outStride), r[j]);
}

// The squares that fit; returns the extent they covered. Squares are turned
// into a small block buffer one cache line wide, whose rows are then copied
// out whole: with power-of-two strides, source rows and output rows would
// otherwise compete for the same few cache sets.
template <unsigned PX, bool CCW>
void QuarterSquares(const std::uint8_t* src, std::size_t sw, std::size_t sh, std::uint8_t* dst, std::size_t* doneX,
                    std::size_t* doneY) {
    constexpr std::size_t n = 16 / PX;
    constexpr std::size_t blockWidth = 64 / PX;
    const std::size_t dw = sh, dh = sw;
    const std::size_t ex = dw - dw % n, ey = dh - dh % n;
    const std::size_t dstStride = dw * PX;
    alignas(64) std::uint8_t block[kBlockRows][64];
    for (std::size_t bx = 0; bx < ex; bx += blockWidth) {
        const std::size_t bx1 = std::min(bx + blockWidth, ex);
        for (std::size_t by = 0; by < ey; by += kBlockRows) {
            const std::size_t by1 = std::min(by + kBlockRows, ey);
            // Along a band of n source rows first, so that its lines are
            // used whole by consecutive squares.
            for (std::size_t X0 = bx; X0 < bx1; X0 += n)
                for (std::size_t Y0 = by; Y0 < by1; Y0 += n)
                    QuarterSquare<PX, CCW>(src, sw, sh, X0, Y0, &block[Y0 - by][(X0 - bx) * PX], 64);
            for (std::size_t Y = by; Y < by1; ++Y)
                std::memcpy(dst + Y * dstStride + bx * PX, block[Y - by], (bx1 - bx) * PX);
        }
    }
    *doneX = ex;
    *doneY = ey;
}
#endif

#if KIRU_IMG_X86_DISPATCH
// 3-byte pixels in squares of 4: each source row of a square is widened to
// four 32-bit words, the words are transposed, and each output row is
// narrowed back to 12 bytes. Loads and stores move exactly 12 bytes.
inline __m128i Load12(const std::uint8_t* p) {
    std::uint32_t high;
    std::memcpy(&high, p + 8, 4);
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                              _mm_cvtsi32_si128(static_cast<int>(high)));
}

inline void Store12(std::uint8_t* p, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
    const std::uint32_t high = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(v, 8)));
    std::memcpy(p + 8, &high, 4);
}

template <bool CCW>
__attribute__((target("ssse3"))) void QuarterSquares3(const std::uint8_t* src, std::size_t sw, std::size_t sh,
                                                      std::uint8_t* dst, std::size_t* doneX, std::size_t* doneY) {
    const __m128i widen = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i narrow = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const std::size_t dw = sh, dh = sw;
    const std::size_t ex = dw - dw % 4, ey = dh - dh % 4;
    const std::size_t srcStride = sw * 3, dstStride = dw * 3;
    for (std::size_t bx = 0; bx < ex; bx += 16) {
        const std::size_t bx1 = std::min<std::size_t>(bx + 16, ex);
        for (std::size_t by = 0; by < ey; by += kBlockRows) {
            const std::size_t by1 = std::min(by + kBlockRows, ey);
            for (std::size_t X0 = bx; X0 < bx1; X0 += 4) {
                for (std::size_t Y0 = by; Y0 < by1; Y0 += 4) {
                    __m128i r[4];
                    for (std::size_t i = 0; i < 4; ++i) {
                        const std::uint8_t* row = CCW ? src + (X0 + i) * srcStride + (sw - 4 - Y0) * 3
                                                      : src + (sh - 1 - X0 - i) * srcStride + Y0 * 3;
                        r[i] = _mm_shuffle_epi8(Load12(row), widen);
                    }
                    TransposeSquare<4>(r);
                    for (std::size_t j = 0; j < 4; ++j) {
                        const std::size_t Y = CCW ? Y0 + 3 - j : Y0 + j;
                        Store12(dst + Y * dstStride + X0 * 3, _mm_shuffle_epi8(r[j], narrow));
                    }
                }
            }
        }
    }
    *doneX = ex;
    *doneY = ey;
}
#endif

template <unsigned PX, bool CCW>
void QuarterT(const std::uint8_t* src, std::size_t sw, std::size_t sh, std::uint8_t* dst) {
    const std::size_t dw = sh, dh = sw;
    std::size_t doneX = 0, doneY = 0;
#if defined(__SSE2__)
    if constexpr (PX != 3) QuarterSquares<PX, CCW>(src, sw, sh, dst, &doneX, &doneY);
#endif
#if KIRU_IMG_X86_DISPATCH
    if constexpr (PX == 3) {
        if (HasSsse3()) QuarterSquares3<CCW>(src, sw, sh, dst, &doneX, &doneY);
    }
#endif
    QuarterPixels<PX, CCW>(src, sw, sh, dst, doneX, dw, 0, dh);
    QuarterPixels<PX, CCW>(src, sw, sh, dst, 0, doneX, doneY, dh);
}

// ---------------------------------------------------------------------------

template <template <unsigned> class Kernel, typename... Args>
void ByPixelSize(unsigned pixelBytes, Args&&... args) {
    switch (pixelBytes) {
        case 2: Kernel<2>::Run(args...); break;
        case 3: Kernel<3>::Run(args...); break;
        case 4: Kernel<4>::Run(args...); break;
        default: Kernel<1>::Run(args...); break;
    }
}

template <unsigned PX>
struct GeneralKernel {
    static void Run(const std::uint8_t* src, std::size_t sw, std::size_t sh, std::uint8_t* dst,
                    const RotationPlacement& pl) {
        RotateGeneralT<PX>(src, sw, sh, dst, pl);
    }
};
template <unsigned PX>
struct QuarterCcwKernel {
    static void Run(const std::uint8_t* src, std::size_t sw, std::size_t sh, std::uint8_t* dst) {
        QuarterT<PX, true>(src, sw, sh, dst);
    }
};
template <unsigned PX>
struct QuarterCwKernel {
    static void Run(const std::uint8_t* src, std::size_t sw, std::size_t sh, std::uint8_t* dst) {
        QuarterT<PX, false>(src, sw, sh, dst);
    }
};

}  // namespace

RotationPlacement PlaceRotation(unsigned degrees, std::size_t srcWidth, std::size_t srcHeight) {
    degrees %= 360;
    RotationPlacement pl{};
    switch (degrees) {
        case 0:
            pl.cos = 1.0;
            pl.sin = 0.0;
            break;
        case 90:
            pl.cos = 0.0;
            pl.sin = 1.0;
            break;
        case 180:
            pl.cos = -1.0;
            pl.sin = 0.0;
            break;
        case 270:
            pl.cos = 0.0;
            pl.sin = -1.0;
            break;
        default: {
            const double a = degrees * (3.14159265358979323846 / 180.0);
            pl.cos = std::cos(a);
            pl.sin = std::sin(a);
        }
    }
    const double w1 = static_cast<double>(srcWidth) - 1.0;
    const double h1 = static_cast<double>(srcHeight) - 1.0;
    if (IsQuarterTurnAngle(degrees)) {
        // Turned about the top-left pixel, then the bounding box of the
        // turned block is centred in the output, whose sides are swapped.
        double xMin = 0, xMax = 0, yMin = 0, yMax = 0;
        const double cornersX[4] = {0.0, w1, 0.0, w1};
        const double cornersY[4] = {0.0, 0.0, h1, h1};
        for (int i = 0; i < 4; ++i) {
            const double x = cornersX[i] * pl.cos + cornersY[i] * pl.sin;
            const double y = -cornersX[i] * pl.sin + cornersY[i] * pl.cos;
            if (i == 0 || x < xMin) xMin = x;
            if (i == 0 || x > xMax) xMax = x;
            if (i == 0 || y < yMin) yMin = y;
            if (i == 0 || y > yMax) yMax = y;
        }
        pl.shiftX = (h1 - (xMin + xMax)) / 2.0;
        pl.shiftY = (w1 - (yMin + yMax)) / 2.0;
        pl.dstWidth = srcHeight;
        pl.dstHeight = srcWidth;
    } else {
        pl.originX = static_cast<double>(srcWidth / 2);
        pl.originY = static_cast<double>(srcHeight / 2);
        pl.dstWidth = srcWidth;
        pl.dstHeight = srcHeight;
    }
    return pl;
}

void RotateGeneral(const std::uint8_t* src, std::size_t srcWidth, std::size_t srcHeight, std::uint8_t* dst,
                   unsigned pixelBytes, const RotationPlacement& placement) {
    if (srcWidth == 0 || srcHeight == 0) return;
    ByPixelSize<GeneralKernel>(pixelBytes, src, srcWidth, srcHeight, dst, placement);
}

void RotateQuarterCcw(const std::uint8_t* src, std::size_t srcWidth, std::size_t srcHeight, std::uint8_t* dst,
                      unsigned pixelBytes) {
    ByPixelSize<QuarterCcwKernel>(pixelBytes, src, srcWidth, srcHeight, dst);
}

void RotateQuarterCw(const std::uint8_t* src, std::size_t srcWidth, std::size_t srcHeight, std::uint8_t* dst,
                     unsigned pixelBytes) {
    ByPixelSize<QuarterCwKernel>(pixelBytes, src, srcWidth, srcHeight, dst);
}

// out(X, Y) = src(2 * (width / 2) - X, 2 * (height / 2) - Y): the rows mirrored
// in reverse order, one pixel off when the size is even.
void RotateHalf(const std::uint8_t* src, std::size_t width, std::size_t height, std::uint8_t* dst,
                unsigned pixelBytes) {
    if (width == 0 || height == 0) return;
    const std::size_t px = (pixelBytes >= 1 && pixelBytes <= 4) ? pixelBytes : 1;
    const std::size_t stride = width * px;
    const std::size_t x0 = 2 * (width / 2) + 1 - width;  // 1 when even, 0 when odd
    const std::size_t y0 = 2 * (height / 2) + 1 - height;
    const std::size_t centreY2 = 2 * (height / 2);
    for (std::size_t Y = y0; Y < height; ++Y) {
        MirrorRow(src + (centreY2 - Y) * stride + x0 * px, dst + Y * stride + x0 * px, width - x0,
                  static_cast<unsigned>(px));
    }
}

void RotateBlock(const std::uint8_t* src, std::size_t srcWidth, std::size_t srcHeight, std::uint8_t* dst,
                 unsigned pixelBytes, unsigned degrees) {
    if (srcWidth == 0 || srcHeight == 0) return;
    switch (degrees % 360) {
        case 90: RotateQuarterCcw(src, srcWidth, srcHeight, dst, pixelBytes); break;
        case 180: RotateHalf(src, srcWidth, srcHeight, dst, pixelBytes); break;
        case 270: RotateQuarterCw(src, srcWidth, srcHeight, dst, pixelBytes); break;
        default: RotateGeneral(src, srcWidth, srcHeight, dst, pixelBytes, PlaceRotation(degrees, srcWidth, srcHeight));
    }
}

}  // namespace kiru::img
