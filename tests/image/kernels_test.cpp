// Pixel kernels: mirror and rotation, each with every
// processor-extension variant, without the AVX-512 ones, and as plain code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/image_kernels.h"
#include "support/pattern.h"

namespace {

using kiru_test::Bytes;
using kiru_test::Pattern;
using namespace kiru::img;

// The rotation exactly as described: inverse mapping in floating point and
// (int)(x + 0.5) sampling, one pixel at a time, into dst as given.
// With exactHalves, a sine or cosine within 1e-12 of a multiple of 1/2 takes
// that exact value, so that half-pixel positions are exact.
Bytes ReferenceRotate(const Bytes& src, std::size_t w, std::size_t h, unsigned px, unsigned deg, Bytes dst,
                      bool exactHalves = false) {
    const double a = deg * 3.14159265358979323846 / 180.0;
    double c = std::cos(a), s = std::sin(a);
    if (exactHalves) {
        if (std::fabs(2 * c - std::round(2 * c)) < 1e-12) c = std::round(2 * c) / 2;
        if (std::fabs(2 * s - std::round(2 * s)) < 1e-12) s = std::round(2 * s) / 2;
    }
    const bool quarter = IsQuarterTurnAngle(deg);
    const std::size_t dw = quarter ? h : w, dh = quarter ? w : h;
    double ox = 0, oy = 0, shx = 0, shy = 0;
    if (quarter) {
        double xs[4], ys[4];
        const double cx[4] = {0, double(w) - 1, 0, double(w) - 1}, cy[4] = {0, 0, double(h) - 1, double(h) - 1};
        for (int i = 0; i < 4; ++i) xs[i] = cx[i] * c + cy[i] * s, ys[i] = -cx[i] * s + cy[i] * c;
        shx = (double(h) - 1 - (*std::min_element(xs, xs + 4) + *std::max_element(xs, xs + 4))) / 2;
        shy = (double(w) - 1 - (*std::min_element(ys, ys + 4) + *std::max_element(ys, ys + 4))) / 2;
    } else {
        ox = double(w / 2), oy = double(h / 2);
    }
    for (std::size_t Y = 0; Y < dh; ++Y)
        for (std::size_t X = 0; X < dw; ++X) {
            const double p = X - ox - shx, q = Y - oy - shy;
            const long ix = static_cast<long>(p * c - q * s + ox + 0.5);
            const long iy = static_cast<long>(p * s + q * c + oy + 0.5);
            if (ix < 0 || iy < 0 || ix >= long(w) || iy >= long(h)) continue;
            std::memcpy(&dst[(Y * dw + X) * px], &src[(iy * w + ix) * px], px);
        }
    return dst;
}

struct Size {
    std::size_t w, h;
};

// Runs a check with every processor-extension variant of the kernels, again
// without the AVX-512 ones (the AVX2 ones then run where they exist), and
// with the plain code; all must write the same bytes.
template <class Check>
void WithAndWithoutCpuExtensions(Check check) {
    const char* const modes[] = {"with processor extensions", "without AVX-512", "plain code"};
    for (int m = 0; m < 3; ++m) {
        SCOPED_TRACE(modes[m]);
        AllowCpuExtensions(m < 2);
        AllowAvx512(m < 1);
        check();
    }
    AllowCpuExtensions(true);
    AllowAvx512(true);
}

// Rotates src by a stored angle in every mode (pixels outside the turned
// source keep 0x5A) and counts the bytes that differ from the mapping.
void ExpectRotationMatchesTheMapping(const Bytes& src, const Size& sz, unsigned px, unsigned deg,
                                     bool exactHalves = false) {
    const Bytes expected = ReferenceRotate(src, sz.w, sz.h, px, deg, Bytes(src.size(), 0x5A), exactHalves);
    WithAndWithoutCpuExtensions([&] {
        Bytes got(src.size(), 0x5A);
        RotateBlock(src.data(), sz.w, sz.h, got.data(), px, deg);
        std::size_t differ = 0;
        for (std::size_t i = 0; i < got.size(); ++i) differ += got[i] != expected[i];
        EXPECT_EQ(differ, 0u) << deg << " degrees, " << sz.w << "x" << sz.h << ", " << px << " bytes";
        // The exact angles have fast paths; the general rotation gives the same bytes.
        if (deg % 90 == 0) {
            Bytes general(src.size(), 0x5A);
            RotateGeneral(src.data(), sz.w, sz.h, general.data(), px, PlaceRotation(deg, sz.w, sz.h));
            EXPECT_EQ(general, expected) << "general rotation by " << deg << " degrees, " << sz.w << "x" << sz.h;
        }
    });
}

}  // namespace

// Hand-sampled from the mapping, so that the mapping itself is checked: a
// 5 x 5 frame (10 * y + x + 1) stored at 315 degrees (turned 45 clockwise),
// 0 where the turned frame does not reach; and the half-way rule, where the
// library sine of 30 degrees is a hair under 1/2 but "+ 0.5, truncated" must
// take the upper pixel.
TEST(RotationKernels, HandSampledExamples) {
    const Bytes clockwise45 = {21, 11, 12, 2,  3,  31, 22, 12, 13, 4,  32, 32, 23,
                               14, 14, 42, 33, 34, 24, 15, 0,  44, 34, 35, 0};
    Bytes src(25);
    for (int i = 0; i < 25; ++i) src[i] = static_cast<std::uint8_t>(10 * (i / 5) + i % 5 + 1);
    EXPECT_EQ(ReferenceRotate(src, 5, 5, 1, 315, Bytes(25, 0)), clockwise45);
    WithAndWithoutCpuExtensions([&] {
        Bytes got(25, 0);
        RotateBlock(src.data(), 5, 5, got.data(), 1, 315);
        EXPECT_EQ(got, clockwise45);
        // 5 x 9 at 30 degrees: output (2, 1) maps to exactly (3.5, 0.9...) + 0.5.
        Bytes tall(45), turned(45, 0);
        for (std::size_t i = 0; i < tall.size(); ++i) tall[i] = static_cast<std::uint8_t>(i);
        RotateBlock(tall.data(), 5, 9, turned.data(), 1, 30);
        EXPECT_EQ(turned[1 * 5 + 2], tall[1 * 5 + 4]);
    });
}

// Small images at every kind of angle; images large enough for whole tiles
// and 8 x 8 blocks away from the edges, with a power-of-two row length (the
// source is then re-laid with a padded stride) and odd sizes; and angles
// whose sine or cosine is 1/2, where whole rows and columns of samples lie
// exactly half-way between two source pixels, on every row alike.
TEST(RotationKernels, RotationsMatchTheMapping) {
    struct Case {
        std::vector<Size> sizes;
        std::vector<unsigned> pixels, angles;
        bool exactHalves;
    };
    const Case cases[] = {
        {{{1, 1}, {2, 3}, {3, 2}, {5, 4}, {4, 5}, {6, 6}, {7, 7}, {33, 17}, {16, 40}, {64, 64}},
         {1, 2, 3, 4},
         {0, 90, 180, 270, 17, 45, 100, 135, 200, 250, 315, 359},
         false},
        {{{512, 300}, {301, 257}, {257, 513}}, {1, 3, 4}, {1, 37, 45, 100, 179, 181, 225, 271, 359}, false},
        {{{5, 9}, {101, 77}, {300, 257}}, {1, 3}, {30, 150, 210, 330}, true},
    };
    for (const Case& c : cases)
        for (unsigned px : c.pixels)
            for (const Size& sz : c.sizes)
                for (unsigned deg : c.angles)
                    ExpectRotationMatchesTheMapping(Pattern(sz.w * sz.h * px, deg * 131 + std::uint32_t(sz.w + px)), sz,
                                                    px, deg, c.exactHalves);
}

TEST(MirrorKernel, EveryRowLengthAndPixelSize) {
    WithAndWithoutCpuExtensions([] {
        for (unsigned px = 1; px <= 4; ++px)
            for (std::size_t n = 0; n <= 40; ++n) {
                // The row sits between guard bytes that must survive.
                const Bytes src = Pattern(n * px + 2, static_cast<std::uint32_t>(n + 10 * px));
                Bytes got(n * px + 2, 0xEE), want(n * px + 2, 0xEE);
                MirrorRow(src.data() + 1, got.data() + 1, n, px);
                for (std::size_t i = 0; i < n; ++i) std::memcpy(&want[1 + i * px], &src[1 + (n - 1 - i) * px], px);
                EXPECT_EQ(got, want) << n << " pixels of " << px << " bytes";
            }
    });
    // Pixels of any other size are not written.
    Bytes src(10, 1), dst(10, 0);
    MirrorImage(src.data(), dst.data(), 2, 1, 5);
    EXPECT_EQ(dst, Bytes(10, 0));
}
