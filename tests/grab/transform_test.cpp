// Image transforms, tiling and LUT limits of the grab object, and the pixel
// kernels behind them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "image/image_kernels.h"
#include "support/test_grab.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A grab whose frame size can be set below Create's 32-pixel minimum, the way
// a back-end adopts the size of a stored image.
class TransformGrab : public kiru_test::TestGrab {
public:
    TransformGrab() { Initialize(); }

    void AdoptGeometry(ULONG width, ULONG height, ULONG bytesPerPixel) {
        m_width = width;
        m_height = height;
        m_bytesPerPixel = bytesPerPixel;
        m_bitsPerPixel = 8 * bytesPerPixel;
        m_widthByteCount = width * bytesPerPixel;
        m_heightByteCount = height * bytesPerPixel;
        m_imageSizePixels = width * height;
        m_imageSizeBytes = width * height * bytesPerPixel;
    }
};

// The interface's own transform; the buffer is owned by the object.
class TransformIXGrab : public kiru_test::TestIXGrab {
public:
    ~TransformIXGrab() override {
        std::free(m_transformBuffer);
        m_transformBuffer = nullptr;
    }
    void AdoptGeometry(ULONG width, ULONG height) {
        m_width = width;
        m_height = height;
        m_widthByteCount = width;
        m_imageSizePixels = m_imageSizeBytes = width * height;
    }
};

Bytes Copy(const unsigned char* p, std::size_t n) { return Bytes(p, p + n); }

Bytes Pattern(std::size_t n, std::uint32_t seed) {
    Bytes b(n);
    for (auto& v : b) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<std::uint8_t>(seed >> 24);
    }
    return b;
}

// Compares pixels of one byte; -1 marks a pixel left out of the comparison.
void ExpectWritten(const unsigned char* got, const std::vector<int>& want) {
    for (std::size_t i = 0; i < want.size(); ++i)
        if (want[i] >= 0) {
            EXPECT_EQ(got[i], want[i]) << "at byte " << i;
        }
}

// --- Pipeline --------------------------------------------------------------

TEST(ApplyImageTransform, WithoutTransformReturnsTheClientImageUntouched) {
    TransformGrab grab;
    ASSERT_EQ(grab.Create(0, 0, 32, 32, 8, 2, 5000), 1);
    Bytes image = Pattern(32 * 32, 1);
    const Bytes before = image;
    EXPECT_EQ(grab.ApplyImageTransform(image.data(), 0), image.data());
    EXPECT_EQ(image, before);
    grab.SetRotateTransform(360);  // a full turn is no turn
    EXPECT_EQ(grab.ApplyImageTransform(image.data(), 0), image.data());
    EXPECT_EQ(image, before);
}

TEST(ApplyImageTransform, MirrorKeepsTheByteOrderOfEachPixel) {
    TransformGrab grab;
    grab.SetImgTransform(IFW_TRANSFORM_MIRROR);
    struct Case {
        ULONG width, bpp;
        Bytes in, out;
    } cases[] = {
        {4, 1, {1, 2, 3, 4}, {4, 3, 2, 1}},
        {2, 2, {1, 2, 3, 4}, {3, 4, 1, 2}},
        {3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {7, 8, 9, 4, 5, 6, 1, 2, 3}},
        {2, 4, {1, 2, 3, 4, 5, 6, 7, 8}, {5, 6, 7, 8, 1, 2, 3, 4}},
    };
    for (Case& c : cases) {
        grab.AdoptGeometry(c.width, 1, c.bpp);
        const Bytes client = c.in;
        unsigned char* out = grab.ApplyImageTransform(c.in.data(), 0);
        ASSERT_NE(out, c.in.data());
        EXPECT_EQ(Copy(out, c.out.size()), c.out) << c.bpp << "-byte pixels";
        EXPECT_EQ(c.in, client) << "one stage leaves the client's image alone";
    }
}

TEST(ApplyImageTransform, FlipReversesRowOrder) {
    TransformGrab grab;
    grab.AdoptGeometry(2, 3, 1);
    grab.SetImgTransform(IFW_TRANSFORM_FLIP);
    Bytes image = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(Copy(grab.ApplyImageTransform(image.data(), 0), 6), (Bytes{5, 6, 3, 4, 1, 2}));
}

TEST(ApplyImageTransform, SuccessiveCallsAlternateHalvesOfTheWorkArea) {
    TransformGrab grab;
    grab.AdoptGeometry(4, 1, 1);
    grab.SetImgTransform(IFW_TRANSFORM_MIRROR);
    Bytes image = {1, 2, 3, 4};
    unsigned char* first = grab.ApplyImageTransform(image.data(), 0);
    image = {5, 6, 7, 8};
    unsigned char* second = grab.ApplyImageTransform(image.data(), 0);
    EXPECT_NE(first, second);
    EXPECT_EQ(std::abs(first - second), 4) << "halves are one frame set apart";
    EXPECT_EQ(Copy(first, 4), (Bytes{4, 3, 2, 1})) << "the previous result survives the next call";
    EXPECT_EQ(Copy(second, 4), (Bytes{8, 7, 6, 5}));
    EXPECT_EQ(grab.ApplyImageTransform(image.data(), 0), first);
}

TEST(ApplyImageTransform, MirrorsEachCameraBlockOfPlanarImages) {
    TransformGrab grab;
    ASSERT_EQ(grab.SetImageColor(IFW_COLOR_PLANAR), 1);
    ASSERT_EQ(grab.Create(0, 0, 32, 32, 8, 1, 5000), 1);
    ASSERT_EQ(grab.GetNumCameras(), 8);
    grab.SetImgTransform(IFW_TRANSFORM_MIRROR);
    Bytes image = Pattern(8 * 32 * 32, 7);
    const unsigned char* out = grab.ApplyImageTransform(image.data(), 0);
    for (std::size_t row = 0; row < 8 * 32; ++row)
        for (std::size_t x = 0; x < 32; ++x) ASSERT_EQ(out[row * 32 + x], image[row * 32 + 31 - x]);
}

// Source pixel (x, y) of a 3 x 8 frame holds 10 * y + x + 1.
Bytes Frame3x8() {
    Bytes b(24);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 3; ++x) b[y * 3 + x] = static_cast<std::uint8_t>(10 * y + x + 1);
    return b;
}

TEST(ApplyImageTransform, QuarterTurnsFollowTheClientsSense) {
    TransformGrab grab;
    grab.AdoptGeometry(3, 8, 1);
    const Bytes clockwise = {71, 61, 51, 41, 31, 21, 11, 1,  //
                             72, 62, 52, 42, 32, 22, 12, 2,  //
                             73, 63, 53, 43, 33, 23, 13, 3};
    const Bytes counterClockwise = {3, 13, 23, 33, 43, 53, 63, 73,  //
                                    2, 12, 22, 32, 42, 52, 62, 72,  //
                                    1, 11, 21, 31, 41, 51, 61, 71};
    for (ULONG degrees : {90u, 450u, 270u}) {
        grab.SetRotateTransform(degrees);
        EXPECT_EQ(grab.GetWidth(), 8u) << degrees;
        EXPECT_EQ(grab.GetHeight(), 3u) << degrees;
        Bytes image = Frame3x8();
        EXPECT_EQ(Copy(grab.ApplyImageTransform(image.data(), 0), 24), degrees == 270 ? counterClockwise : clockwise)
            << degrees;
    }
}

TEST(ApplyImageTransform, MirrorBeforeAQuarterTurnWorksOnTheUnturnedFrame) {
    TransformGrab grab;
    grab.AdoptGeometry(3, 8, 1);
    grab.SetImgTransform(IFW_TRANSFORM_MIRROR);
    grab.SetRotateTransform(90);
    Bytes image = Frame3x8();
    const Bytes source = image;
    unsigned char* out = grab.ApplyImageTransform(image.data(), 0);
    EXPECT_EQ(out, image.data()) << "the second stage writes into the client's buffer";
    for (int Y = 0; Y < 3; ++Y)
        for (int X = 0; X < 8; ++X) EXPECT_EQ(out[Y * 8 + X], source[(7 - X) * 3 + (2 - Y)]);
}

TEST(ApplyImageTransform, HalfTurnIsAboutTheIntegerCentre) {
    TransformGrab grab;
    grab.SetRotateTransform(180);
    // Even width: the turn about x = 2 does not reach output column 0.
    grab.AdoptGeometry(4, 3, 1);
    Bytes image = {1, 2, 3, 4, 11, 12, 13, 14, 21, 22, 23, 24};
    ExpectWritten(grab.ApplyImageTransform(image.data(), 0), {-1, 24, 23, 22, -1, 14, 13, 12, -1, 4, 3, 2});
    // After a flip the turn writes into the client's buffer, where the
    // column it does not reach keeps the client's pixels.
    grab.SetImgTransform(IFW_TRANSFORM_FLIP);
    EXPECT_EQ(grab.ApplyImageTransform(image.data(), 0), image.data());
    EXPECT_EQ(image, (Bytes{1, 4, 3, 2, 11, 14, 13, 12, 21, 24, 23, 22}));
    // With odd sizes the turn reaches every pixel: flip and half turn mirror.
    grab.AdoptGeometry(3, 3, 1);
    image = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(grab.ApplyImageTransform(image.data(), 0), image.data());
    EXPECT_EQ(image, (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7}));
}

// A 5 x 5 frame (10 * y + x + 1) turned 45 degrees clockwise, sampled by
// hand from the mapping; -1 where the turned frame does not reach.
const std::vector<int> kClockwise45 = {21, 11, 12, 2,  3,   //
                                       31, 22, 12, 13, 4,   //
                                       32, 32, 23, 14, 14,  //
                                       42, 33, 34, 24, 15,  //
                                       -1, 44, 34, 35, -1};

TEST(ApplyImageTransform, AnyAngleSamplesTheNearestPixelOfEveryChannel) {
    for (ULONG bpp : {1u, 3u, 4u}) {
        TransformGrab grab;
        grab.AdoptGeometry(5, 5, bpp);
        grab.SetRotateTransform(45);
        // Channels differ from each other so that a mixed pixel shows.
        auto pixel = [](int v, ULONG ch) {
            return static_cast<std::uint8_t>(ch == 0 ? v : ch == 1 ? 255 - v : v ^ (0x40 * ch));
        };
        Bytes image(25 * bpp);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 5; ++x)
                for (ULONG ch = 0; ch < bpp; ++ch) image[(y * 5 + x) * bpp + ch] = pixel(10 * y + x + 1, ch);
        const unsigned char* out = grab.ApplyImageTransform(image.data(), 0);
        for (std::size_t i = 0; i < kClockwise45.size(); ++i) {
            if (kClockwise45[i] < 0) continue;
            for (ULONG ch = 0; ch < bpp; ++ch)
                EXPECT_EQ(out[i * bpp + ch], pixel(kClockwise45[i], ch))
                    << bpp << "-byte pixel " << i << " channel " << ch;
        }
    }
}

TEST(ApplyImageTransform, TilesAreLaidOutAsAMosaic) {
    TransformGrab grab;
    grab.SetTiling(2, 2);
    ASSERT_EQ(grab.Create(0, 0, 64, 64, 8, 1, 5000), 1);
    ASSERT_EQ(grab.GetWidth(), 64u);
    const std::size_t frame = 32 * 32;
    Bytes frames = Pattern(4 * frame, 3);
    auto expectMosaic = [&](const unsigned char* mosaic) {
        for (std::size_t t = 0; t < 2; ++t)
            for (std::size_t j = 0; j < 2; ++j)
                for (std::size_t r = 0; r < 32; ++r)
                    ASSERT_EQ(
                        0, std::memcmp(mosaic + (t * 32 + r) * 64 + j * 32, &frames[(t * 2 + j) * frame + r * 32], 32))
                        << "tile " << t << "," << j << " row " << r;
    };
    Bytes dst(4 * frame);
    EXPECT_EQ(grab.VertToHorzPlanes(frames.data(), dst.data()), dst.data());
    expectMosaic(dst.data());

    Bytes image = frames;
    expectMosaic(grab.ApplyImageTransform(image.data(), 0));
    EXPECT_EQ(image, frames);

    // Mosaic, then flip of the whole mosaic, which lands in the client's buffer.
    grab.SetImgTransform(IFW_TRANSFORM_FLIP);
    unsigned char* out = grab.ApplyImageTransform(image.data(), 0);
    EXPECT_EQ(out, image.data());
    for (std::size_t row = 0; row < 64; ++row) std::memcpy(&dst[row * 64], out + (63 - row) * 64, 64);
    expectMosaic(dst.data());
}

TEST(ApplyImageTransform, InterfaceVersionHasNoMosaicStage) {
    TransformIXGrab grab;
    grab.AdoptGeometry(4, 2);
    grab.SetTiling(2, 1);
    grab.SetImgTransform(IFW_TRANSFORM_MIRROR);
    // Two 4 x 2 frames; the mirror runs over the buffer as it is, rows of 8.
    Bytes image = {1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15, 16, 17, 18};
    EXPECT_EQ(Copy(grab.ApplyImageTransform(image.data(), 0), 16),
              (Bytes{8, 7, 6, 5, 4, 3, 2, 1, 18, 17, 16, 15, 14, 13, 12, 11}));
}

// --- Rotation kernels --------------------------------------------------------

// The rotation exactly as described: inverse mapping in floating point and
// (int)(x + 0.5) sampling, one pixel at a time.
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
    const bool quarter = kiru::img::IsQuarterTurnAngle(deg);
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
const Size kSizes[] = {{1, 1}, {2, 3}, {3, 2}, {5, 4}, {4, 5}, {6, 6}, {7, 7}, {33, 17}, {16, 40}, {64, 64}};

// Runs a check with every processor-extension variant of the kernels, again
// without the AVX-512 ones (the AVX2 ones then run where they exist), and
// with the plain code; all must write the same bytes.
template <class Check>
void WithAndWithoutCpuExtensions(Check check) {
    struct Mode {
        const char* name;
        bool extensions, avx512;
    };
    for (const Mode& mode : {Mode{"with processor extensions", true, true}, Mode{"without AVX-512", true, false},
                             Mode{"plain code", false, false}}) {
        SCOPED_TRACE(mode.name);
        kiru::img::AllowCpuExtensions(mode.extensions);
        kiru::img::AllowAvx512(mode.avx512);
        check();
    }
    kiru::img::AllowCpuExtensions(true);
    kiru::img::AllowAvx512(true);
}

// Rotates src (pixels outside the turned source keep 0x5A) with and without
// the processor extensions and counts the bytes that differ from expected.
void ExpectRotationGives(const Bytes& src, const Size& sz, unsigned px, unsigned deg, const Bytes& expected) {
    WithAndWithoutCpuExtensions([&] {
        Bytes got(src.size(), 0x5A);
        kiru::img::RotateBlock(src.data(), sz.w, sz.h, got.data(), px, deg);
        std::size_t differ = 0;
        for (std::size_t i = 0; i < got.size(); ++i) differ += got[i] != expected[i];
        EXPECT_EQ(differ, 0u) << deg << " degrees, " << sz.w << "x" << sz.h << ", " << px << " bytes";
    });
}

TEST(RotationKernels, FastPathsMatchTheGeneralRotationByteForByte) {
    using namespace kiru::img;
    WithAndWithoutCpuExtensions([] {
        for (unsigned px = 1; px <= 4; ++px)
            for (const Size& sz : kSizes) {
                const Bytes src = Pattern(sz.w * sz.h * px, static_cast<std::uint32_t>(sz.w * 131 + sz.h + px));
                for (unsigned deg : {90u, 180u, 270u}) {
                    // Both outputs start from the same bytes, so unwritten pixels compare too.
                    Bytes fast(src.size(), 0xA5), general(src.size(), 0xA5);
                    if (deg == 90) RotateQuarterCcw(src.data(), sz.w, sz.h, fast.data(), px);
                    if (deg == 180) RotateHalf(src.data(), sz.w, sz.h, fast.data(), px);
                    if (deg == 270) RotateQuarterCw(src.data(), sz.w, sz.h, fast.data(), px);
                    RotateGeneral(src.data(), sz.w, sz.h, general.data(), px, PlaceRotation(deg, sz.w, sz.h));
                    EXPECT_EQ(fast, general) << deg << " degrees, " << sz.w << "x" << sz.h << ", " << px << " bytes";
                    EXPECT_EQ(general, ReferenceRotate(src, sz.w, sz.h, px, deg, Bytes(src.size(), 0xA5)))
                        << deg << " degrees, " << sz.w << "x" << sz.h << ", " << px << " bytes";
                }
            }
    });
}

TEST(RotationKernels, AnyAngleMatchesThePixelByPixelMapping) {
    using namespace kiru::img;
    WithAndWithoutCpuExtensions([] {
        for (unsigned px = 1; px <= 4; ++px)
            for (const Size& sz : kSizes)
                for (unsigned deg : {17u, 45u, 100u, 135u, 200u, 250u, 315u, 359u}) {
                    const Bytes src = Pattern(sz.w * sz.h * px, deg + static_cast<std::uint32_t>(sz.w));
                    Bytes got(src.size(), 0x5A);
                    RotateBlock(src.data(), sz.w, sz.h, got.data(), px, deg);
                    EXPECT_EQ(got, ReferenceRotate(src, sz.w, sz.h, px, deg, Bytes(src.size(), 0x5A)))
                        << deg << " degrees, " << sz.w << "x" << sz.h << ", " << px << " bytes";
                }
    });
}

// Large enough for whole tiles and 8 x 8 blocks away from the edges, with a
// power-of-two row length (the source is then re-laid with a padded stride)
// and odd sizes. Pixels outside the turned source keep the fill value.
TEST(RotationKernels, LargeImagesMatchThePixelByPixelMapping) {
    using namespace kiru::img;
    const Size sizes[] = {{512, 300}, {301, 257}, {257, 513}};
    for (unsigned px : {1u, 3u, 4u})
        for (const Size& sz : sizes)
            for (unsigned deg : {1u, 37u, 45u, 100u, 179u, 181u, 225u, 271u, 359u}) {
                const Bytes src = Pattern(sz.w * sz.h * px, deg * 7 + px);
                const Bytes expected = ReferenceRotate(src, sz.w, sz.h, px, deg, Bytes(src.size(), 0x5A));
                ExpectRotationGives(src, sz, px, deg, expected);
            }
}

// Where the sine or cosine is 1/2, whole rows and columns of samples lie
// exactly half-way between two source pixels; "+ 0.5, truncated" takes the
// upper one, on every row alike, although the library sine of 30 degrees is
// a hair under 1/2.
TEST(RotationKernels, HalfWaySamplesTakeTheUpperPixel) {
    using namespace kiru::img;
    {
        // 5 x 9 at 30 degrees: output (2, 1) maps to exactly (3.5, 0.9...) + 0.5.
        Bytes src(5 * 9);
        for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(i);
        Bytes got(src.size(), 0);
        RotateBlock(src.data(), 5, 9, got.data(), 1, 30);
        EXPECT_EQ(got[1 * 5 + 2], src[1 * 5 + 4]);
    }
    const Size sizes[] = {{5, 9}, {101, 77}, {300, 257}};
    for (unsigned px : {1u, 3u})
        for (const Size& sz : sizes)
            for (unsigned deg : {30u, 150u, 210u, 330u}) {
                const Bytes src = Pattern(sz.w * sz.h * px, deg + px);
                const Bytes expected = ReferenceRotate(src, sz.w, sz.h, px, deg, Bytes(src.size(), 0x5A), true);
                ExpectRotationGives(src, sz, px, deg, expected);
            }
}

// --- Whole pipeline against a stage-by-stage model ----------------------------

// Either grab class with a frame geometry of any size and a stored angle.
template <class Base>
class PipelineGrab : public Base {
public:
    PipelineGrab() { this->Initialize(); }
    void Adopt(ULONG width, ULONG height, ULONG bytesPerPixel, ULONG horz, ULONG vert, unsigned stored) {
        this->m_width = width;
        this->m_height = height;
        this->m_bytesPerPixel = bytesPerPixel;
        this->m_bitsPerPixel = 8 * bytesPerPixel;
        this->m_widthByteCount = width * bytesPerPixel;
        this->m_heightByteCount = height * bytesPerPixel;
        this->m_imageSizePixels = width * height;
        this->m_imageSizeBytes = width * height * bytesPerPixel;
        this->SetTiling(horz, vert);
        this->m_rotation = stored;
    }
};

struct Stages {
    ULONG width, height, bpp, horz, vert;
    std::size_t cameras;
    bool mosaicStage;  // CIGrab's pipeline has it, IXGrab's does not
    IFW_IMG_TRANSFORM_TYPE transform;
    unsigned stored;  // rotation as stored
};

// The pipeline step by step: the client's buffer and one work half (filled
// with workFill) take turns. Returns the result and whether it is in the
// client's buffer.
std::pair<Bytes, bool> ModelPipeline(const Stages& s, Bytes client, std::uint8_t workFill) {
    const std::size_t image = std::size_t(s.width) * s.height * s.bpp;
    Bytes work(std::size_t(s.horz) * s.vert * s.cameras * image, workFill);
    Bytes* cur = &client;
    Bytes* other = &work;
    const bool quarter = kiru::img::IsQuarterTurnAngle(s.stored);
    // GetWidth and GetHeight: the client's view of the mosaic.
    const std::size_t viewW = quarter ? (s.vert * s.height) & ~std::size_t(7) : s.horz * s.width;
    const std::size_t viewH = quarter ? s.horz * s.width : s.vert * s.height;

    if (s.mosaicStage && s.horz > 1) {
        const std::size_t row = std::size_t(s.width) * s.bpp;
        std::size_t frame = 0;
        for (std::size_t t = 0; t < s.vert; ++t)
            for (std::size_t j = 0; j < s.horz; ++j, ++frame)
                for (std::size_t r = 0; r < s.height; ++r)
                    std::memcpy(&(*other)[t * s.horz * image + j * row + r * s.horz * row],
                                &(*cur)[frame * image + r * row], row);
        std::swap(cur, other);
    }
    if (s.transform == IFW_TRANSFORM_MIRROR || s.transform == IFW_TRANSFORM_FLIP) {
        const bool exactQuarter = s.stored == 90 || s.stored == 270;
        const std::size_t w = exactQuarter ? viewH : viewW, rows = exactQuarter ? viewW : viewH;
        const bool mirror = s.transform == IFW_TRANSFORM_MIRROR;
        for (std::size_t c = 0; c < s.cameras; ++c)
            for (std::size_t y = 0; y < rows; ++y)
                for (std::size_t x = 0; x < w; ++x) {
                    const std::size_t from = ((mirror ? y : rows - 1 - y) * w + (mirror ? w - 1 - x : x)) * s.bpp;
                    std::memcpy(&(*other)[c * image + (y * w + x) * s.bpp], &(*cur)[c * image + from], s.bpp);
                }
        std::swap(cur, other);
    }
    if (s.stored != 0) {
        const std::size_t w = quarter ? viewH : viewW, h = quarter ? viewW : viewH;
        const std::size_t block = w * h * s.bpp;
        for (std::size_t c = 0; c < s.cameras; ++c) {
            const auto at = static_cast<std::ptrdiff_t>(c * image);
            const Bytes turned =
                ReferenceRotate(Bytes(cur->begin() + at, cur->begin() + at + block), w, h, s.bpp, s.stored,
                                Bytes(other->begin() + at, other->begin() + at + block));
            std::copy(turned.begin(), turned.end(), other->begin() + at);
        }
        return {*other, other == &client};
    }
    return {*cur, cur == &client};
}

// Every combination of tiling, camera count, pixel size, mirror or flip and
// rotation gives the model's bytes in the model's buffer. Angles whose
// sample positions fall exactly on half pixels (30, 60, ...) are left to the
// kernel tests.
template <class Base>
void ExpectPipelineMatchesModel(bool mosaicStage) {
    std::uint32_t seed = mosaicStage ? 1 : 5000;
    for (bool planar : {false, true})
        for (ULONG bpp : {1u, 2u, 3u, 4u})
            for (ULONG horz : {1u, 2u, 3u})
                for (ULONG vert : {1u, 2u})
                    for (IFW_IMG_TRANSFORM_TYPE t : {IFW_TRANSFORM_NONE, IFW_TRANSFORM_MIRROR, IFW_TRANSFORM_FLIP})
                        for (unsigned stored : {0u, 90u, 180u, 270u, 17u, 100u, 200u}) {
                            if (planar && bpp != 1) continue;  // planes are one byte a pixel
                            const Stages s{5, 9, bpp, horz, vert, planar ? 8u : 1u, mosaicStage, t, stored};
                            SCOPED_TRACE(testing::Message() << (planar ? "planar, " : "") << bpp << "-byte pixels, "
                                                            << horz << "x" << vert << " tiles, transform " << t
                                                            << ", stored angle " << stored);
                            PipelineGrab<Base> grab;
                            if (planar) {
                                ASSERT_EQ(grab.SetImageColor(IFW_COLOR_PLANAR), 1);
                            }
                            ASSERT_EQ(std::size_t(grab.GetNumCameras()), s.cameras);
                            grab.Adopt(s.width, s.height, bpp, horz, vert, stored);
                            grab.SetImgTransform(t);
                            const Bytes input = Pattern(std::size_t(horz) * vert * s.cameras * 5 * 9 * bpp, ++seed);

                            // A rotation leaves unreached pixels as the work half held
                            // them; only bytes that do not depend on that compare.
                            const auto model = ModelPipeline(s, input, 0x00);
                            const Bytes otherFill = ModelPipeline(s, input, 0xFF).first;
                            Bytes client = input;
                            const unsigned char* got = grab.ApplyImageTransform(client.data(), 0);
                            ASSERT_NE(got, nullptr);
                            EXPECT_EQ(got == client.data(), model.second) << "the buffer holding the result";
                            std::size_t differ = 0;
                            for (std::size_t i = 0; i < input.size(); ++i)
                                if (model.first[i] == otherFill[i]) differ += got[i] != model.first[i];
                            EXPECT_EQ(differ, 0u);
                        }
}

TEST(TransformPipeline, CommonLayerMatchesTheStageByStageModel) {
    ExpectPipelineMatchesModel<kiru_test::TestGrab>(true);
}

TEST(TransformPipeline, InterfaceMatchesTheModelWithoutItsMosaicStage) {
    ExpectPipelineMatchesModel<kiru_test::TestIXGrab>(false);
}

TEST(MirrorKernel, EveryRowLengthAndPixelSize) {
    WithAndWithoutCpuExtensions([] {
        for (unsigned px = 1; px <= 4; ++px)
            for (std::size_t n = 0; n <= 40; ++n) {
                // The row sits between guard bytes that must survive.
                const Bytes src = Pattern(n * px + 2, static_cast<std::uint32_t>(n + 10 * px));
                Bytes got(n * px + 2, 0xEE), want(n * px + 2, 0xEE);
                kiru::img::MirrorRow(src.data() + 1, got.data() + 1, n, px);
                for (std::size_t i = 0; i < n; ++i) std::memcpy(&want[1 + i * px], &src[1 + (n - 1 - i) * px], px);
                EXPECT_EQ(got, want) << n << " pixels of " << px << " bytes";
            }
    });
    // Pixels of any other size are not written.
    Bytes src(10, 1), dst(10, 0);
    kiru::img::MirrorImage(src.data(), dst.data(), 2, 1, 5);
    EXPECT_EQ(dst, Bytes(10, 0));
}

// --- LUT limits ----------------------------------------------------------------

TEST(Lut, LimitsAreStoredEvenWhenNotInitialized) {
    kiru_test::TestGrab grab;  // never initialized
    EXPECT_EQ(grab.InvLinearizeLUT(), 0);
    EXPECT_EQ(grab.GetLUTFloor(), 255u);
    EXPECT_EQ(grab.GetLUTCeiling(), 0u);
    EXPECT_STREQ(grab.GetLastErrorMsg(), "CIGrab::InvLinearizeLUT: Grab not initialized");
    EXPECT_EQ(grab.LinearizeLUT(), 0);
    EXPECT_EQ(grab.GetLUTFloor(), 0u);
    EXPECT_EQ(grab.GetLUTCeiling(), 255u);
    EXPECT_STREQ(grab.GetLastErrorMsg(), "CIGrab::LinearizeLUT: Grab not initialized");
    EXPECT_EQ(grab.SetLUTFloor(12), 0);
    EXPECT_STREQ(grab.GetLastErrorMsg(), "CIGrab::SetLUTFloor: Grab not initialized");
    EXPECT_EQ(grab.SetLUTCeiling(200), 0);
    EXPECT_STREQ(grab.GetLastErrorMsg(), "CIGrab::SetLUTCeiling: Grab not initialized");
    EXPECT_EQ(grab.GetLUTFloor(), 12u);
    EXPECT_EQ(grab.GetLUTCeiling(), 200u);
}

TEST(Lut, InitializedObjectAcceptsLimits) {
    TransformGrab grab;
    EXPECT_EQ(grab.SetLUTFloor(3), 1);
    EXPECT_EQ(grab.SetLUTCeiling(250), 1);
    EXPECT_EQ(grab.GetLUTFloor(), 3u);
    EXPECT_EQ(grab.GetLUTCeiling(), 250u);
    EXPECT_EQ(grab.InvLinearizeLUT(), 1);
    EXPECT_EQ(grab.LinearizeLUT(), 1);
}

TEST(Lut, WriteLUTBufNeedsATable) {
    unsigned char table[256] = {};
    kiru_test::TestGrab idle;
    EXPECT_EQ(idle.WriteLUTBuf(0, 256, table), 0);
    EXPECT_STREQ(idle.GetLastErrorMsg(), "CIGrab::WriteLUTBuf: Grab not initialized");

    TransformGrab grab;
    EXPECT_EQ(grab.WriteLUTBuf(0, 256, table), 1);
    EXPECT_EQ(grab.WriteLUTBuf(0, 0, table), 0);
    EXPECT_EQ(grab.WriteLUTBuf(0, 256, nullptr), 0);
    EXPECT_STREQ(grab.GetLastErrorMsg(), "") << "a refused table is not an error";

    kiru_test::TestIXGrab iface;
    EXPECT_EQ(iface.WriteLUTBuf(0, 256, table), 0);
    EXPECT_STREQ(iface.LastError(), "IXGrab::WriteLUTBuf: Grab not initialized");
}

}  // namespace
