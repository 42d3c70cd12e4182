// Rotation kernels: nearest-sampled rotation by any angle, and the exact
// quarter- and half-turn fast paths that give the same bytes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "grab/image_kernels.h"

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
    for (std::size_t Y = 0; Y < pl.dstHeight; ++Y) {
        const double q = static_cast<double>(Y) - pl.originY - pl.shiftY;
        // Inverse of the forward mapping, plus 0.5 for nearest sampling.
        const std::int64_t fx0 = ToFixed(p * c - q * s + pl.originX + 0.5);
        const std::int64_t fy0 = ToFixed(p * s + q * c + pl.originY + 0.5);
        // The pixels whose sample lies inside the source form one span, so
        // the inner loop needs no bounds test.
        std::int64_t lo = 0;
        std::int64_t hi = static_cast<std::int64_t>(pl.dstWidth);
        ClipSpan(fx0, stepX, -kOne, limitX, lo, hi);
        ClipSpan(fy0, stepY, -kOne, limitY, lo, hi);
        std::uint8_t* out = dst + Y * dstStride;
        std::int64_t fx = fx0 + lo * stepX;
        std::int64_t fy = fy0 + lo * stepY;
        for (std::int64_t X = lo; X < hi; ++X, fx += stepX, fy += stepY) {
            CopyPixel<PX>(out + X * PX, src + SampleIndex(fy) * srcStride + SampleIndex(fx) * PX);
        }
    }
}

// Quarter turns, walked in square tiles so that the strided side of the
// copy stays in the first-level cache.
constexpr std::size_t kTile = 32;

// Stored 90: out[Y][X] = src[X][srcWidth - 1 - Y].
template <unsigned PX>
void QuarterCcwT(const std::uint8_t* src, std::size_t sw, std::size_t sh, std::uint8_t* dst) {
    const std::size_t dw = sh, dh = sw;
    const std::size_t srcStride = sw * PX;
    for (std::size_t y0 = 0; y0 < dh; y0 += kTile) {
        const std::size_t y1 = std::min(y0 + kTile, dh);
        for (std::size_t x0 = 0; x0 < dw; x0 += kTile) {
            const std::size_t x1 = std::min(x0 + kTile, dw);
            for (std::size_t Y = y0; Y < y1; ++Y) {
                std::uint8_t* out = dst + Y * dw * PX;
                const std::uint8_t* column = src + (sw - 1 - Y) * PX;
                for (std::size_t X = x0; X < x1; ++X) CopyPixel<PX>(out + X * PX, column + X * srcStride);
            }
        }
    }
}

// Stored 270: out[Y][X] = src[srcHeight - 1 - X][Y].
template <unsigned PX>
void QuarterCwT(const std::uint8_t* src, std::size_t sw, std::size_t sh, std::uint8_t* dst) {
    const std::size_t dw = sh, dh = sw;
    const std::size_t srcStride = sw * PX;
    for (std::size_t y0 = 0; y0 < dh; y0 += kTile) {
        const std::size_t y1 = std::min(y0 + kTile, dh);
        for (std::size_t x0 = 0; x0 < dw; x0 += kTile) {
            const std::size_t x1 = std::min(x0 + kTile, dw);
            for (std::size_t Y = y0; Y < y1; ++Y) {
                std::uint8_t* out = dst + Y * dw * PX;
                const std::uint8_t* column = src + Y * PX;
                for (std::size_t X = x0; X < x1; ++X) CopyPixel<PX>(out + X * PX, column + (sh - 1 - X) * srcStride);
            }
        }
    }
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
        QuarterCcwT<PX>(src, sw, sh, dst);
    }
};
template <unsigned PX>
struct QuarterCwKernel {
    static void Run(const std::uint8_t* src, std::size_t sw, std::size_t sh, std::uint8_t* dst) {
        QuarterCwT<PX>(src, sw, sh, dst);
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
