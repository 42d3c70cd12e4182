// Rotation kernels: nearest-sampled rotation by any angle, and the exact
// quarter- and half-turn fast paths that give the same bytes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "grab/image_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kiru::img {

namespace {

// Source positions are stepped along an output row in 32.32 fixed point: the
// position of each row start is computed afresh in floating point, and only
// the per-pixel increments are fixed point, so errors do not accumulate down
// the image. Exact angles give exact values (all multiples of 1/2).
constexpr int kFracBits = 32;
constexpr std::int64_t kOne = std::int64_t(1) << kFracBits;

std::int64_t ToFixed(double v) { return static_cast<std::int64_t>(std::floor(std::ldexp(v, kFracBits))); }

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

template <unsigned PX>
inline void CopyPixel(std::uint8_t* dst, const std::uint8_t* src) {
    std::memcpy(dst, src, PX);
}

// The sample index of a fixed-point position t = x + 0.5 known to lie in
// (-1, size): (int)t truncates towards zero, so (-1, 0) gives 0.
inline std::size_t SampleIndex(std::int64_t t) { return static_cast<std::size_t>(std::max<std::int64_t>(t, 0) >> kFracBits); }

// The general rotation walks the output in tiles (a band of rows, cut into
// column strips) so that the source lines a tile samples stay cached from
// one row to the next, also when the source stride is a power of two.
constexpr std::size_t kBandRows = 32;
constexpr std::size_t kStripColumns = 32;

struct RowStart {
    std::int64_t fx, fy;    // fixed-point sample position of output X = 0
    std::int64_t lo, hi;    // output X whose sample lies inside the source
    std::int64_t mlo, mhi;  // the part of [lo, hi) where neither coordinate is negative
};

// Samples output pixels [lo, hi) of one row. Where a coordinate may lie in
// (-1, 0) it is truncated to 0; elsewhere the shift alone gives the index.
template <unsigned PX, bool Clamp>
inline void SampleRun(const std::uint8_t* src, std::size_t srcStride, std::uint8_t* out, std::int64_t lo,
                      std::int64_t hi, std::int64_t fx, std::int64_t fy, std::int64_t stepX, std::int64_t stepY) {
    for (std::int64_t X = lo; X < hi; ++X, fx += stepX, fy += stepY) {
        const std::size_t ix = Clamp ? SampleIndex(fx) : static_cast<std::size_t>(fx >> kFracBits);
        const std::size_t iy = Clamp ? SampleIndex(fy) : static_cast<std::size_t>(fy >> kFracBits);
        CopyPixel<PX>(out + X * PX, src + iy * srcStride + ix * PX);
    }
}

template <unsigned PX>
void RotateGeneralT(const std::uint8_t* src, std::size_t srcWidth, std::size_t srcHeight, std::uint8_t* dst,
                    const RotationPlacement& pl) {
    const double c = pl.cos;
    const double s = pl.sin;
    // Along an output row the source position moves by (cos, sin) per pixel.
    const std::int64_t stepX = ToFixed(c);
    const std::int64_t stepY = ToFixed(s);
    const std::int64_t limitX = static_cast<std::int64_t>(srcWidth) << kFracBits;
    const std::int64_t limitY = static_cast<std::int64_t>(srcHeight) << kFracBits;
    const std::size_t srcStride = srcWidth * PX;
    const std::size_t dstStride = pl.dstWidth * PX;
    const double p = -pl.originX - pl.shiftX;  // output X = 0, relative to the origin
    RowStart band[kBandRows];
    for (std::size_t y0 = 0; y0 < pl.dstHeight; y0 += kBandRows) {
        const std::size_t rows = std::min(kBandRows, pl.dstHeight - y0);
        for (std::size_t r = 0; r < rows; ++r) {
            const double q = static_cast<double>(y0 + r) - pl.originY - pl.shiftY;
            RowStart& row = band[r];
            // Inverse of the forward mapping, plus 0.5 for nearest sampling.
            row.fx = ToFixed(p * c - q * s + pl.originX + 0.5);
            row.fy = ToFixed(p * s + q * c + pl.originY + 0.5);
            // The pixels whose sample lies inside the source form one span,
            // so the inner loops need no bounds test.
            row.lo = 0;
            row.hi = static_cast<std::int64_t>(pl.dstWidth);
            ClipSpan(row.fx, stepX, -kOne, limitX, row.lo, row.hi);
            ClipSpan(row.fy, stepY, -kOne, limitY, row.lo, row.hi);
            row.mlo = row.lo;
            row.mhi = row.hi;
            ClipSpan(row.fx, stepX, -1, limitX, row.mlo, row.mhi);
            ClipSpan(row.fy, stepY, -1, limitY, row.mlo, row.mhi);
            if (row.mlo >= row.mhi) row.mlo = row.mhi = row.hi;  // all of the span needs the clamp
        }
        for (std::size_t x0 = 0; x0 < pl.dstWidth; x0 += kStripColumns) {
            const std::int64_t stripLo = static_cast<std::int64_t>(x0);
            const std::int64_t stripHi = static_cast<std::int64_t>(std::min(x0 + kStripColumns, pl.dstWidth));
            for (std::size_t r = 0; r < rows; ++r) {
                const RowStart& row = band[r];
                std::uint8_t* out = dst + (y0 + r) * dstStride;
                // [lo, mlo) and [mhi, hi) clamp; [mlo, mhi) does not.
                const std::int64_t a = std::max(row.lo, stripLo);
                const std::int64_t b = std::min(std::max(row.mlo, a), stripHi);
                const std::int64_t e = std::min(row.hi, stripHi);
                const std::int64_t d = std::max(std::min(row.mhi, e), b);
                if (a < b) SampleRun<PX, true>(src, srcStride, out, a, b, row.fx + a * stepX, row.fy + a * stepY, stepX, stepY);
                if (b < d) SampleRun<PX, false>(src, srcStride, out, b, d, row.fx + b * stepX, row.fy + b * stepY, stepX, stepY);
                if (d < e) SampleRun<PX, true>(src, srcStride, out, d, e, row.fx + d * stepX, row.fy + d * stepY, stepX, stepY);
            }
        }
    }
}

// Quarter turns. With CCW (stored 90) out[Y][X] = src[X][srcWidth - 1 - Y];
// otherwise (stored 270) out[Y][X] = src[srcHeight - 1 - X][Y]. The output is
// srcHeight pixels wide and srcWidth rows high.
template <unsigned PX, bool CCW>
inline const std::uint8_t* QuarterSource(const std::uint8_t* src, std::size_t sw, std::size_t sh, std::size_t X,
                                         std::size_t Y) {
    return CCW ? src + (X * sw + (sw - 1 - Y)) * PX : src + ((sh - 1 - X) * sw + Y) * PX;
}

// Pixel by pixel over the output rectangle [x0, x1) x [y0, y1), in small
// tiles: few enough lines on the strided side that a power-of-two stride
// does not evict them.
constexpr std::size_t kScalarTile = 8;

template <unsigned PX, bool CCW>
void QuarterScalar(const std::uint8_t* src, std::size_t sw, std::size_t sh, std::uint8_t* dst, std::size_t x0,
                   std::size_t x1, std::size_t y0, std::size_t y1) {
    const std::size_t dw = sh;
    for (std::size_t ty = y0; ty < y1; ty += kScalarTile) {
        const std::size_t ty1 = std::min(ty + kScalarTile, y1);
        for (std::size_t tx = x0; tx < x1; tx += kScalarTile) {
            const std::size_t tx1 = std::min(tx + kScalarTile, x1);
            for (std::size_t Y = ty; Y < ty1; ++Y)
                for (std::size_t X = tx; X < tx1; ++X)
                    CopyPixel<PX>(dst + (Y * dw + X) * PX, QuarterSource<PX, CCW>(src, sw, sh, X, Y));
        }
    }
}

#if defined(__SSE2__)
template <unsigned PX>
inline __m128i UnpackLo(__m128i a, __m128i b) {
    if constexpr (PX == 1) return _mm_unpacklo_epi8(a, b);
    else if constexpr (PX == 2) return _mm_unpacklo_epi16(a, b);
    else return _mm_unpacklo_epi32(a, b);
}
template <unsigned PX>
inline __m128i UnpackHi(__m128i a, __m128i b) {
    if constexpr (PX == 1) return _mm_unpackhi_epi8(a, b);
    else if constexpr (PX == 2) return _mm_unpackhi_epi16(a, b);
    else return _mm_unpackhi_epi32(a, b);
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

// Squares of 16 / PX pixels, turned in registers. Returns how far the squares
// reached: output columns [0, *doneX) and rows [0, *doneY).
template <unsigned PX, bool CCW>
void QuarterSquares(const std::uint8_t* src, std::size_t sw, std::size_t sh, std::uint8_t* dst, std::size_t* doneX,
                    std::size_t* doneY) {
    constexpr std::size_t n = 16 / PX;
    const std::size_t dw = sh, dh = sw;
    const std::size_t bx = dw - dw % n, by = dh - dh % n;
    const std::size_t srcStride = sw * PX, dstStride = dw * PX;
    // A band of n source rows is read along its length, so that each source
    // line is used whole by consecutive squares.
    for (std::size_t X0 = 0; X0 < bx; X0 += n) {
        for (std::size_t Y0 = 0; Y0 < by; Y0 += n) {
            __m128i r[n];
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint8_t* row = CCW ? src + (X0 + i) * srcStride + (sw - n - Y0) * PX
                                              : src + (sh - 1 - X0 - i) * srcStride + Y0 * PX;
                r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
            }
            TransposeSquare<PX>(r);
            // r[j] is source column j of the square: output row Y0 + n - 1 - j
            // when turning counter-clockwise, Y0 + j otherwise.
            for (std::size_t j = 0; j < n; ++j) {
                const std::size_t Y = CCW ? Y0 + n - 1 - j : Y0 + j;
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + Y * dstStride + X0 * PX), r[j]);
            }
        }
    }
    *doneX = bx;
    *doneY = by;
}
#endif

template <unsigned PX, bool CCW>
void QuarterT(const std::uint8_t* src, std::size_t sw, std::size_t sh, std::uint8_t* dst) {
    const std::size_t dw = sh, dh = sw;
    std::size_t doneX = 0, doneY = 0;
#if defined(__SSE2__)
    if constexpr (PX != 3) QuarterSquares<PX, CCW>(src, sw, sh, dst, &doneX, &doneY);
#endif
    QuarterScalar<PX, CCW>(src, sw, sh, dst, doneX, dw, 0, dh);
    QuarterScalar<PX, CCW>(src, sw, sh, dst, 0, doneX, doneY, dh);
}

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
        case 0: pl.cos = 1.0; pl.sin = 0.0; break;
        case 90: pl.cos = 0.0; pl.sin = 1.0; break;
        case 180: pl.cos = -1.0; pl.sin = 0.0; break;
        case 270: pl.cos = 0.0; pl.sin = -1.0; break;
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

// out(X, Y) = src(2 * (width / 2) - X, 2 * (height / 2) - Y): a mirror of the
// rows in reverse order, one pixel off when the size is even.
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
