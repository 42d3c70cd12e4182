// Bilinear demosaic of 8-bit Bayer images into blue-green-red pixels.
//
// A missing colour is the mean of the nearest samples of that colour: two
// (left and right, or above and below) or four (the sides, or the corners).
// Means are rounded pairwise, mean(a, b) = (a + b + 1) / 2 and the mean of
// four is the mean of two such means, which is what the vector units
// compute in one instruction. A gain g multiplies a channel as
// min(255, v * round(256 g) / 256). The rows are worked by a vector kernel
// (bayer_avx2.cpp) where the processor has one; this file does the borders,
// the rest of each row and every pixel on other processors, with the same
// arithmetic, so the result does not depend on the processor.
#include <cmath>
#include <cstdint>

#include "capture/bayer_kernel.h"
#include "capture/orx.h"

namespace kiru::bayer {

namespace {

inline int Avg(int a, int b) { return (a + b + 1) >> 1; }

inline std::uint8_t Gain(int v, std::uint16_t g) {
    const int scaled = (v * g) >> 8;
    return static_cast<std::uint8_t>(scaled > 255 ? 255 : scaled);
}

// Mirror an index one step outside [0, n): -1 -> 1, n -> n - 2. Mirroring
// keeps the parity, so the mirrored sample has the colour the formula expects.
inline int Mirror(int i, int n) {
    if (i < 0) return n > 1 ? 1 : 0;
    if (i >= n) return n > 1 ? n - 2 : n - 1;
    return i;
}

}  // namespace

void ConvertPixels(const RowArgs& a, int from, int to) {
    const int n = a.pixelBytes;
    for (int x = from; x < to; ++x) {
        const int l = Mirror(x - 1, a.width), r = Mirror(x + 1, a.width);
        const bool colour = ((x & 1) == 0) != a.greenFirst;
        int same, green, other;
        const int h2 = Avg(a.mid[l], a.mid[r]);
        const int v2 = Avg(a.up[x], a.down[x]);
        if (colour) {
            same = a.mid[x];
            green = Avg(h2, v2);
            other = Avg(Avg(a.up[l], a.up[r]), Avg(a.down[l], a.down[r]));
        } else {
            same = h2;
            green = a.mid[x];
            other = v2;
        }
        std::uint8_t* o = a.out + static_cast<std::size_t>(n) * x;
        const int red = a.redRow ? same : other, blue = a.redRow ? other : same;
        o[0] = Gain(blue, a.gains[0]);
        o[1] = Gain(green, a.gains[1]);
        o[2] = Gain(red, a.gains[2]);
        if (n == 4) o[3] = 0;
    }
}

}  // namespace kiru::bayer

using kiru::bayer::RowArgs;

int OrxBayerFilterConvert(int, ULONG pattern, void* dest, const void* source, ULONG width, ULONG height,
                          ULONG flags, const float* gains) {
    if (!dest || !source || width == 0 || height == 0 || width > 65535 || height > 65535) return 0;
    if (flags != ORV_BAYER_OUT_BGR32 && flags != ORV_BAYER_OUT_BGR24) return 0;
    if (pattern < ORV_BAYER_RG || pattern > ORV_BAYER_BG) return 0;

    // Is (0, 0) green, and is row 0's other colour red?
    const bool greenFirstRow0 = pattern == ORV_BAYER_GR || pattern == ORV_BAYER_GB;
    const bool redRow0 = pattern == ORV_BAYER_RG || pattern == ORV_BAYER_GR;

    RowArgs a{};
    // Gains arrive as red, green, blue; rows use blue, green, red.
    for (int c = 0; c < 3; ++c) {
        const float g = gains ? gains[2 - c] : 1.0f;
        const double q = g > 0.0f ? std::floor(g * 256.0 + 0.5) : 0.0;
        a.gains[c] = static_cast<std::uint16_t>(q > 65535.0 ? 65535.0 : q);
    }
    a.unitGains = a.gains[0] == 256 && a.gains[1] == 256 && a.gains[2] == 256;
    a.width = static_cast<int>(width);
    a.pixelBytes = flags == ORV_BAYER_OUT_BGR32 ? 4 : 3;

    const auto* src = static_cast<const std::uint8_t*>(source);
    auto* dst = static_cast<std::uint8_t*>(dest);
    const int h = static_cast<int>(height);
    const kiru::bayer::RowKernel kernel = kiru::bayer::VectorKernel();
    for (int y = 0; y < h; ++y) {
        const bool even = (y & 1) == 0;
        a.greenFirst = even ? greenFirstRow0 : !greenFirstRow0;
        a.redRow = even ? redRow0 : !redRow0;
        a.up = src + static_cast<std::size_t>(kiru::bayer::MirrorRow(y - 1, h)) * width;
        a.mid = src + static_cast<std::size_t>(y) * width;
        a.down = src + static_cast<std::size_t>(kiru::bayer::MirrorRow(y + 1, h)) * width;
        a.out = dst + static_cast<std::size_t>(y) * width * a.pixelBytes;
        // The vector kernel takes whole blocks of interior pixels from x = 1.
        const int done = kernel ? kernel(a) : 1;
        kiru::bayer::ConvertPixels(a, 0, 1);
        kiru::bayer::ConvertPixels(a, done, a.width);
    }
    return 1;
}
