// Bayer demosaic against a straightforward reference of the rule: each
// missing colour the mean of its neighbours of that colour, borders mirrored.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "capture/orx.h"

namespace {

// Colour (0 red, 1 green, 2 blue) of the sample at (x, y) for a layout.
int ColourAt(ULONG pattern, int x, int y) {
    static const int layouts[4][4] = {
        {0, 1, 1, 2},  // RG / GB
        {1, 0, 2, 1},  // GR / BG
        {1, 2, 0, 1},  // GB / RG
        {2, 1, 1, 0},  // BG / GR
    };
    return layouts[pattern - 1][(y & 1) * 2 + (x & 1)];
}

}  // namespace

// Straightforward reference: the colour of every sample, mirrored borders,
// pairwise-rounded means, fixed-point gains.
std::vector<std::uint8_t> Reference(ULONG pattern, const std::vector<std::uint8_t>& raw, int w, int h, int n,
                                    const float* gains) {
    auto at = [&](int x, int y) {
        x = x < 0 ? 1 : (x >= w ? w - 2 : x);
        y = y < 0 ? 1 : (y >= h ? h - 2 : y);
        return static_cast<int>(raw[y * w + x]);
    };
    auto avg = [](int a, int b) { return (a + b + 1) >> 1; };
    std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h * n);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int rgb[3];
            const int own = ColourAt(pattern, x, y);
            rgb[own] = at(x, y);
            const int sides = avg(avg(at(x - 1, y), at(x + 1, y)), avg(at(x, y - 1), at(x, y + 1)));
            const int corners = avg(avg(at(x - 1, y - 1), at(x + 1, y - 1)), avg(at(x - 1, y + 1), at(x + 1, y + 1)));
            if (own == 1) {
                const int rowColour = ColourAt(pattern, x + 1, y);  // the row's other colour
                rgb[rowColour] = avg(at(x - 1, y), at(x + 1, y));
                rgb[2 - rowColour] = avg(at(x, y - 1), at(x, y + 1));
            } else {
                rgb[1] = sides;
                rgb[2 - own] = corners;
            }
            for (int c = 0; c < 3; ++c) {
                const int q = gains ? static_cast<int>(gains[c] * 256.0f + 0.5f) : 256;
                const int v = std::min(255, (rgb[c] * q) >> 8);
                out[(static_cast<std::size_t>(y) * w + x) * n + (2 - c)] = static_cast<std::uint8_t>(v);
            }
            if (n == 4) out[(static_cast<std::size_t>(y) * w + x) * n + 3] = 0;
        }
    }
    return out;
}

TEST(BayerTest, ImagesMatchTheReferenceInEveryLayoutFormatAndGain) {
    // Small odd and even sizes put every layout phase on the borders; wider
    // ones go around the 32-pixel blocks of the vector kernel. The gains
    // scale and saturate each channel.
    const int widths[] = {4, 7, 33, 34, 65, 100, 131};
    const float gains[3] = {1.3f, 0.9f, 2.2f};
    for (int w : widths) {
        const int h = 5;
        std::vector<std::uint8_t> raw(static_cast<std::size_t>(w) * h);
        for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 11);
        for (ULONG pattern = ORV_BAYER_RG; pattern <= ORV_BAYER_BG; ++pattern) {
            for (int n : {3, 4}) {
                for (const float* g : {static_cast<const float*>(nullptr), gains}) {
                    SCOPED_TRACE(testing::Message() << "width " << w << " pattern " << pattern << " bytes " << n
                                                    << (g ? " gains" : ""));
                    std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h * n, 0xAA);
                    ASSERT_EQ(OrxBayerFilterConvert(0, pattern, out.data(), raw.data(), w, h, n == 4 ? 4 : 5, g), 1);
                    EXPECT_EQ(out, Reference(pattern, raw, w, h, n, g));
                }
            }
        }
    }
}

TEST(BayerTest, BadArgumentsAreRefused) {
    std::uint8_t raw[4] = {}, out[16] = {};
    EXPECT_EQ(OrxBayerFilterConvert(0, 0, out, raw, 2, 2, 5, nullptr), 0);
    EXPECT_EQ(OrxBayerFilterConvert(0, 5, out, raw, 2, 2, 5, nullptr), 0);
    EXPECT_EQ(OrxBayerFilterConvert(0, 1, out, raw, 2, 2, 3, nullptr), 0);
    EXPECT_EQ(OrxBayerFilterConvert(0, 1, nullptr, raw, 2, 2, 5, nullptr), 0);
    EXPECT_EQ(OrxBayerFilterConvert(0, 1, out, raw, 0, 2, 5, nullptr), 0);
    EXPECT_EQ(OrxBayerFilterConvert(0, 1, out, raw, 1, 1, 4, nullptr), 1);  // one sample: grey of itself
    EXPECT_EQ(out[0], 0);
}
