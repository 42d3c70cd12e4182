// Bilinear demosaic of 8-bit Bayer images into blue-green-red pixels.
//
// Each output channel goes through a table indexed by the sum of the
// samples that make it (one, two or four of them), which folds the mean,
// the channel gain, rounding and saturation into a single look-up.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "capture/orx.h"

namespace {

enum Channel { kBlue = 0, kGreen = 1, kRed = 2 };

struct Tables {
    std::uint8_t one[3][256];
    std::uint8_t two[3][511];
    std::uint8_t four[3][1021];
};

void BuildTables(Tables& t, const float* gains) {
    // gains come as red, green, blue.
    const float gain[3] = {gains ? gains[2] : 1.0f, gains ? gains[1] : 1.0f, gains ? gains[0] : 1.0f};
    for (int c = 0; c < 3; ++c) {
        const double g = gain[c] > 0.0f ? gain[c] : 0.0;
        auto value = [g](double mean) {
            const double v = mean * g + 0.5;
            return static_cast<std::uint8_t>(v >= 255.0 ? 255 : static_cast<int>(v));
        };
        for (int s = 0; s < 256; ++s) t.one[c][s] = value(s);
        for (int s = 0; s < 511; ++s) t.two[c][s] = value(s / 2.0);
        for (int s = 0; s < 1021; ++s) t.four[c][s] = value(s / 4.0);
    }
}

// Mirror an index that is one step outside [0, n): -1 -> 1, n -> n - 2.
// Mirroring keeps the parity, so the Bayer colour of the mirrored sample
// is the one the formula expects.
inline int Mirror(int i, int n) {
    if (i < 0) return n > 1 ? 1 : 0;
    if (i >= n) return n > 1 ? n - 2 : n - 1;
    return i;
}

// One row. `same` is the non-green colour of this row (red or blue), `other`
// the one of the rows above and below; greenFirst tells whether x = 0 is green.
template <int N>
void ConvertRow(const std::uint8_t* up, const std::uint8_t* mid, const std::uint8_t* down, std::uint8_t* out,
                int width, bool greenFirst, int same, int other, const Tables& t) {
    const std::uint8_t* sameOne = t.one[same];
    const std::uint8_t* sameTwo = t.two[same];
    const std::uint8_t* otherTwo = t.two[other];
    const std::uint8_t* otherFour = t.four[other];
    const std::uint8_t* greenOne = t.one[kGreen];
    const std::uint8_t* greenFour = t.four[kGreen];

    auto green = [&](int x, int l, int r) {
        std::uint8_t* o = out + N * x;
        o[kGreen] = greenOne[mid[x]];
        o[same] = sameTwo[mid[l] + mid[r]];
        o[other] = otherTwo[up[x] + down[x]];
        if (N == 4) o[3] = 0;
    };
    auto colour = [&](int x, int l, int r) {
        std::uint8_t* o = out + N * x;
        o[same] = sameOne[mid[x]];
        o[kGreen] = greenFour[mid[l] + mid[r] + up[x] + down[x]];
        o[other] = otherFour[up[l] + up[r] + down[l] + down[r]];
        if (N == 4) o[3] = 0;
    };
    auto edge = [&](int x) {
        const int l = Mirror(x - 1, width), r = Mirror(x + 1, width);
        if (((x & 1) == 0) == greenFirst) green(x, l, r);
        else colour(x, l, r);
    };

    edge(0);
    if (width == 1) return;
    int x = 1;
    const int last = width - 2;  // interior pixels: 1 .. width - 2
    if (greenFirst) {
        // x = 1 is a colour pixel, x = 2 green, ...
        for (; x + 1 <= last; x += 2) {
            colour(x, x - 1, x + 1);
            green(x + 1, x, x + 2);
        }
    } else {
        for (; x + 1 <= last; x += 2) {
            green(x, x - 1, x + 1);
            colour(x + 1, x, x + 2);
        }
    }
    for (; x < width; ++x) {
        if (x <= last) {
            if (((x & 1) == 0) == greenFirst) green(x, x - 1, x + 1);
            else colour(x, x - 1, x + 1);
        } else {
            edge(x);
        }
    }
}

}  // namespace

int OrxBayerFilterConvert(int, ULONG pattern, void* dest, const void* source, ULONG width, ULONG height,
                          ULONG flags, const float* gains) {
    if (!dest || !source || width == 0 || height == 0 || width > 65535 || height > 65535) return 0;
    if (flags != ORV_BAYER_OUT_BGR32 && flags != ORV_BAYER_OUT_BGR24) return 0;
    if (pattern < ORV_BAYER_RG || pattern > ORV_BAYER_BG) return 0;

    // Layout of the first two rows: is (0, 0) green, and is row 0's other colour red?
    const bool greenFirstRow0 = pattern == ORV_BAYER_GR || pattern == ORV_BAYER_GB;
    const bool redRow0 = pattern == ORV_BAYER_RG || pattern == ORV_BAYER_GR;

    static thread_local Tables tables;
    BuildTables(tables, gains);

    const auto* src = static_cast<const std::uint8_t*>(source);
    auto* dst = static_cast<std::uint8_t*>(dest);
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    const int n = flags == ORV_BAYER_OUT_BGR32 ? 4 : 3;
    for (int y = 0; y < h; ++y) {
        const bool even = (y & 1) == 0;
        const bool greenFirst = even ? greenFirstRow0 : !greenFirstRow0;
        const bool redRow = even ? redRow0 : !redRow0;
        const std::uint8_t* up = src + static_cast<std::size_t>(Mirror(y - 1, h)) * w;
        const std::uint8_t* mid = src + static_cast<std::size_t>(y) * w;
        const std::uint8_t* down = src + static_cast<std::size_t>(Mirror(y + 1, h)) * w;
        std::uint8_t* out = dst + static_cast<std::size_t>(y) * w * n;
        const int same = redRow ? kRed : kBlue;
        const int other = redRow ? kBlue : kRed;
        if (n == 4) ConvertRow<4>(up, mid, down, out, w, greenFirst, same, other, tables);
        else ConvertRow<3>(up, mid, down, out, w, greenFirst, same, other, tables);
    }
    return 1;
}
