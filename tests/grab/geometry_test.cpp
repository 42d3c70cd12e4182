// Frame geometry and the frame ring: argument sentinels, the crop rule, the
// buffer-count limits, ring sizing per grab type, colour and tiling, the
// setters that rebuild a created object, quarter-turn orientation.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/test_grab.h"

using namespace kiru_test;

namespace {

constexpr const char* kCrop = "Crop boundaries exceed max image size";

// Distance between consecutive frames of the ring, checked for every frame.
ULONG FrameStride(TestGrab& g) {
    const ULONG count = g.GetBufferCount();
    if (count < 2) return 0;
    const auto stride = static_cast<ULONG>(g.FrameAddress(1) - g.FrameAddress(0));
    for (ULONG i = 2; i < count; ++i)
        EXPECT_EQ(static_cast<ULONG>(g.FrameAddress(i) - g.FrameAddress(i - 1)), stride) << "frame " << i;
    return stride;
}

// Width, height, offset-x, offset-y, AOI width and AOI height byte counts,
// then the image size in pixels and in bytes.
std::vector<ULONG> ByteCounts(CIGrab& g) {
    return {g.GetWidthByteCount(),    g.GetHeightByteCount(),    g.GetOffsetXByteCount(),  g.GetOffsetYByteCount(),
            g.GetAoiWidthByteCount(), g.GetAoiHeightByteCount(), g.GetImageSizeInPixels(), g.GetImageSizeInBytes()};
}

// AOI width, AOI height, and the client's width and height.
std::vector<ULONG> Sizes(CIGrab& g) { return {g.GetAoiWidth(), g.GetAoiHeight(), g.GetWidth(), g.GetHeight()}; }

// The single-value geometry setters with the value each one sets.
struct Field {
    const char* setter;  // as a refusal names it
    int (CIGrab::*set)(ULONG);
    ULONG (CIGrab::*get)();
};
enum { OffsetX, OffsetY, Width, Height, AoiWidth, AoiHeight, Bits, Bytes, Count, TimeOut, None };
using G = CIGrab;
// clang-format off
const Field kFields[] = {
    {"SetOffsetX", &G::SetOffsetX, &G::GetOffsetX}, {"SetOffsetY", &G::SetOffsetY, &G::GetOffsetY},
    {"SetWidth", &G::SetWidth, &G::GetWidth}, {"SetHeight", &G::SetHeight, &G::GetHeight},
    {"SetAoiWidth", &G::SetAoiWidth, &G::GetAoiWidth}, {"SetAoiHeight", &G::SetAoiHeight, &G::GetAoiHeight},
    {"SetBitsPP", &G::SetBitsPP, &G::GetBitPP}, {"SetBytesPP", &G::SetBytesPP, &G::GetBytesPP},
    {"SetBufferCount", &G::SetBufferCount, &G::GetBufferCount}, {"SetTimeOut", &G::SetTimeOut, &G::GetTimeOut}};
// clang-format on

}  // namespace

TEST(GrabGeometry, AjustValueSentinelsAndBounds) {
    struct Case {
        ULONG value, current, def, minimum, maximum, want;
    };
    const Case cases[] = {{kKeep, 123, 456, kNoBound, kNoBound, 123},
                          {kDefault, 123, 456, kNoBound, kNoBound, 456},
                          // 0xFFFFFFFD as a bound means none, not a very large bound.
                          {0, 1, 2, kNoBound, kNoBound, 0},
                          {0xFFFFFFF0u, 1, 2, 0, kNoBound, 0xFFFFFFF0u},
                          // Bounds apply after the sentinels are replaced.
                          {3, 1, 2, 8, 32, 8},
                          {40, 1, 2, 8, 32, 32},
                          {20, 1, 2, 8, 32, 20},
                          {kKeep, 1, 2, 8, 32, 8},
                          {kDefault, 1, 100, 8, 32, 32}};
    CIGrab g;
    for (const Case& c : cases) {
        ULONG v = c.value;
        g.AjustValue(v, c.current, c.def, c.minimum, c.maximum);
        EXPECT_EQ(v, c.want) << c.value << " in " << c.minimum << ".." << c.maximum;
    }
    for (ULONG bits : {0u, 1u, 8u, 9u, 24u, 32u}) EXPECT_EQ(g.BitToBytePerPixel(bits), (bits + 7) / 8) << bits;
}

// Create in sequence on one object: sentinels, clamps, the crop rule, and
// the sizes and byte counts derived from the stored geometry.
TEST(GrabGeometry, CreateSentinelsClampsAndCropRule) {
    struct Case {
        ULONG args[7];
        ULONG want[7];  // offsets, size, bits, count, time-out; all zero: refused
    };
    const Case cases[] = {
        {{10, 12, 600, 400, 16, 2, 100}, {10, 12, 600, 400, 16, 2, 100}},
        {{kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep}, {10, 12, 600, 400, 16, 2, 100}},
        {{kDefault, kDefault, kDefault, kDefault, kDefault, kDefault, kDefault}, {0, 0, 640, 480, 8, 5, 5000}},
        // Minimums: width and height 32, bits 8, one buffer; time-out 0 is kept.
        {{0, 0, 16, 1, 0, 0, 0}, {0, 0, 32, 32, 8, 1, 0}},
        {{0, 0, 64, 64, 33, 1, 0}, {0, 0, 64, 64, 32, 1, 0}},
        {{100, 20, 300, 200, 16, 2, 700}, {100, 20, 300, 200, 16, 2, 700}},
        // The crop needs 8 pixels past the offset, after the minimum of 32.
        {{100, 0, 107, 480, 8, 5, 5000}, {}},
        {{100, 0, 108, 480, 8, 5, 5000}, {100, 0, 108, 480, 8, 5, 5000}},
        {{0, 50, 640, 57, 8, 5, 5000}, {}},
        {{0, 50, 640, 58, 8, 5, 5000}, {0, 50, 640, 58, 8, 5, 5000}},
        {{24, 0, 16, 480, 8, 5, 5000}, {24, 0, 32, 480, 8, 5, 5000}},
        {{25, 0, 16, 480, 8, 5, 5000}, {}},
    };
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    const std::vector<ULONG> defaults = {0, 0, 640, 480, 8, 5, 5000};
    auto geometry = [&] {
        return std::vector<ULONG>{g.GetOffsetX(), g.GetOffsetY(),     g.GetWidth(),  g.GetHeight(),
                                  g.GetBitPP(),   g.GetBufferCount(), g.GetTimeOut()};
    };
    EXPECT_EQ(geometry(), defaults);
    for (const Case& c : cases) {
        const std::vector<ULONG> want(c.want, c.want + 7);
        SCOPED_TRACE(testing::Message() << "Create(" << c.args[0] << ", " << c.args[1] << ", " << c.args[2] << ", "
                                        << c.args[3] << ", " << c.args[4] << ", ...)");
        const int result = g.Create(c.args[0], c.args[1], c.args[2], c.args[3], c.args[4], c.args[5], c.args[6]);
        if (want[2] == 0) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(g.GetLastErrorMsg(), std::string("CIGrab::Create: ") + kCrop);
            EXPECT_EQ(g.IsGrabCreated(), 0);
            EXPECT_EQ(g.GetRingBufferSize(), 0u);
            EXPECT_EQ(g.GetFramePtr(0), nullptr);
            EXPECT_EQ(g.Start(), 0);
            continue;
        }
        ASSERT_EQ(result, 1);
        EXPECT_EQ(geometry(), want);
        const ULONG B = (want[4] + 7) / 8, aoiW = want[2] - want[0], aoiH = want[3] - want[1];
        EXPECT_EQ(std::vector<ULONG>({g.GetBytesPP(), g.GetAoiWidth(), g.GetAoiHeight()}),
                  std::vector<ULONG>({B, aoiW, aoiH}));
        EXPECT_EQ(ByteCounts(g), std::vector<ULONG>({want[2] * B, want[3] * B, want[0] * B, want[1] * B, aoiW * B,
                                                     aoiH * B, want[2] * want[3], want[2] * want[3] * B}));
    }
    // The colour type's pixel size does not override the depth Create is asked for.
    ASSERT_EQ(g.SetImageColor(IFW_COLOR_RGB32), 1);
    EXPECT_EQ(g.GetBytesPP(), 4u);
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    EXPECT_EQ(g.GetBitPP(), 8u);
    EXPECT_EQ(g.GetImageSizeInBytes(), 307200u);
    // 70000 x 70000 at 32 bits: far beyond what a 32-bit ring size holds.
    EXPECT_EQ(g.Create(0, 0, 70000, 70000, 32, 1, 5000), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab Init: Image ring buffer allocation failed");
    EXPECT_EQ(g.GetFramePtr(0), nullptr);
}

TEST(GrabGeometry, BufferCountLimitsByFrameWidth) {
    struct Case {
        ULONG width, asked, expected;
    };
    const Case cases[] = {{640, 5, 5},  {648, 5, 5},  {649, 5, 3},  {1024, 5, 3}, {1024, 2, 2},
                          {2047, 5, 3}, {2048, 5, 5}, {3000, 9, 9}, {4000, 5, 5}, {4001, 5, 3}};
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    for (const Case& c : cases) {
        ASSERT_EQ(g.Create(0, 0, c.width, 32, 8, c.asked, 5000), 1);
        EXPECT_EQ(g.GetBufferCount(), c.expected) << "width " << c.width << ", asked " << c.asked;
    }
    // The limit looks at one tile: 2048 over two tiles is a 1024 frame.
    g.SetTiling(2, 1);
    ASSERT_EQ(g.Create(0, 0, 2048, 32, 8, 5, 5000), 1);
    EXPECT_EQ(g.GetBufferCount(), 3u);
    // ...and at the frame, not the client's, width: turned a quarter, the
    // height argument becomes the frame width.
    g.SetTiling(1, 1);
    g.m_rotation = 90;
    ASSERT_EQ(g.Create(0, 0, 64, 1024, 8, 5, 5000), 1);
    EXPECT_EQ(g.GetBufferCount(), 3u);
}

TEST(GrabGeometry, RingSizeByGrabTypeColourAndTiling) {
    struct Case {
        const char* what;
        IFW_IGRABTYPE type;
        IFW_IMAGE_COLOR_TYPE colour;
        ULONG horz, vert;
        ULONG width, height, bits;
        ULONG stride, ring;
    };
    const Case cases[] = {
        // The emulator with one camera: stride P, ring 5 x 3P (at least three planes for 8 bits).
        {"emulator", IGRAB_EMULATOR, IFW_COLOR_MONO, 1, 1, 640, 480, 8, 307200, 4608000},
        {"common", IGRAB_COMMON, IFW_COLOR_MONO, 1, 1, 640, 480, 8, 307200, 4608000},
        {"emulator 16 bits", IGRAB_EMULATOR, IFW_COLOR_MONO, 1, 1, 640, 480, 16, 614400, 3072000},
        // LX2: 4P, then x4 again.
        {"LX2", IGRAB_LX2, IFW_COLOR_MONO, 1, 1, 640, 480, 8, 307200, 24576000},
        {"LX2 16 bits", IGRAB_LX2, IFW_COLOR_MONO, 1, 1, 640, 480, 16, 614400, 24576000},
        // QB2: 3P whatever the depth.
        {"QB2 16 bits", IGRAB_QB2, IFW_COLOR_MONO, 1, 1, 640, 480, 16, 614400, 4608000},
        // Three planes only below 0x300000 pixels.
        {"at 0x300000 pixels", IGRAB_COMMON, IFW_COLOR_MONO, 1, 1, 2048, 1536, 8, 3145728, 15728640},
        {"below 0x300000 pixels", IGRAB_COMMON, IFW_COLOR_MONO, 1, 1, 2048, 1535, 8, 3143680, 47155200},
        // Tiling: one plane per tile except for the emulator; LX2 keeps its x4.
        {"common tiled 2x1", IGRAB_COMMON, IFW_COLOR_MONO, 2, 1, 1280, 480, 8, 614400, 3072000},
        {"common tiled 1x2", IGRAB_COMMON, IFW_COLOR_MONO, 1, 2, 640, 960, 8, 614400, 3072000},
        {"emulator tiled 2x1", IGRAB_EMULATOR, IFW_COLOR_MONO, 2, 1, 1280, 480, 8, 614400, 9216000},
        {"LX2 tiled 2x1", IGRAB_LX2, IFW_COLOR_MONO, 2, 1, 1280, 480, 8, 614400, 6144000},
        {"QB2 tiled 2x1", IGRAB_QB2, IFW_COLOR_MONO, 2, 1, 1280, 480, 8, 614400, 3072000},
        // Colour: 4 bytes per pixel for type 3 whatever the bit depth asked.
        {"colour 3 at 8 bits", IGRAB_COMMON, IFW_COLOR_RGB32, 1, 1, 640, 480, 8, 1228800, 6144000},
        {"colour 3 at 32 bits", IGRAB_COMMON, IFW_COLOR_RGB32, 1, 1, 640, 480, 32, 1228800, 6144000},
        // Type 4 keeps its 3 bytes per pixel in the stride.
        {"colour 4", IGRAB_COMMON, IFW_COLOR_RGB24, 1, 1, 2048, 1536, 8, 9437184, 47185920},
        // Type 2: eight cameras side by side.
        {"colour 2", IGRAB_COMMON, IFW_COLOR_PLANAR, 1, 1, 640, 480, 8, 2457600, 12288000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestGrab g(c.type);
        ASSERT_EQ(g.Initialize(), 1);
        if (c.colour != IFW_COLOR_MONO) {
            ASSERT_EQ(g.SetImageColor(c.colour), 1);
        }
        g.SetTiling(c.horz, c.vert);
        ASSERT_EQ(g.Create(0, 0, c.width, c.height, c.bits, 5, 5000), 1);
        EXPECT_EQ(g.GetBufferCount(), 5u);
        EXPECT_EQ(g.GetRingBufferSize(), c.ring);
        EXPECT_EQ(FrameStride(g), c.stride);
        EXPECT_EQ(g.GetWidth(), c.width);
        EXPECT_EQ(g.GetHeight(), c.height);
        // The common layer hands out the ring start for every index.
        EXPECT_EQ(g.GetFramePtr(0), g.FrameAddress(0));
        EXPECT_EQ(g.GetFramePtr(3), g.FrameAddress(0));
    }
}

// Setters in sequence on an object without a ring: each step calls a setter
// (unless it is None) and reads a value back. Offsets: width 640 and height
// 480 leave room for 632 and 472. Sizes: at least 32, and at least offset +
// 8. AOI: at least 8 as a signed value; the frame follows offset + AOI.
// Depth: 8 to 32 bits, 1 to 4 bytes. Buffer count: at most 3 once the width
// exceeds 640.
TEST(GrabGeometry, SettersValidateAndStore) {
    struct Step {
        int set;
        ULONG arg;
        int result;
        int get;
        ULONG want;
    };
    // clang-format off
    const Step steps[] = {
        {OffsetX, 633, 0, OffsetX, 0}, {OffsetX, 632, 1, OffsetX, 632}, {OffsetX, kDefault, 1, OffsetX, 0},
        {OffsetY, 473, 0, OffsetY, 0}, {OffsetY, 472, 1, OffsetY, 472},
        {Width, 16, 1, Width, 32}, {Width, 640, 1, Width, 640}, {OffsetX, 100, 1, OffsetX, 100},
        {Width, 107, 0, Width, 640}, {Width, 108, 1, Width, 108}, {OffsetY, 100, 1, OffsetY, 100},
        {Height, 107, 0, Height, 480}, {Height, kDefault, 1, Height, 480},
        {OffsetX, 10, 1, OffsetX, 10}, {OffsetY, 20, 1, OffsetY, 20}, {AoiWidth, 7, 0, AoiWidth, 640},
        {AoiWidth, 0xFFFFFFFFu, 0, AoiWidth, 640}, {AoiWidth, 100, 1, Width, 110}, {None, 0, 1, AoiWidth, 100},
        {AoiHeight, 7, 0, AoiHeight, 480}, {AoiHeight, 50, 1, Height, 70}, {None, 0, 1, AoiHeight, 50},
        {Bits, 12, 1, Bytes, 2}, {Bits, 40, 1, Bits, 32}, {None, 0, 1, Bytes, 4}, {Bits, 1, 1, Bits, 8},
        {Bytes, 3, 1, Bits, 24}, {Bytes, 9, 1, Bits, 32}, {Bytes, 0, 1, Bytes, 1},
        {Count, 0, 1, Count, 1}, {Count, kDefault, 1, Count, 5}, {Width, 641, 1, Width, 641}, {Count, 5, 1, Count, 3},
        {TimeOut, 0, 1, TimeOut, 0}, {TimeOut, kDefault, 1, TimeOut, 5000}};
    // clang-format on
    TestGrab g;
    for (const Step& s : steps) {
        const std::string setter = s.set == None ? "" : kFields[s.set].setter;
        SCOPED_TRACE(setter + "(" + std::to_string(s.arg) + ")");
        const std::string before = g.PlantError();
        EXPECT_EQ(s.set == None ? 1 : (g.*kFields[s.set].set)(s.arg), s.result);
        EXPECT_EQ(g.GetLastErrorMsg(), s.result ? before : "CIGrab::" + setter + ": " + kCrop);
        EXPECT_EQ((g.*kFields[s.get].get)(), s.want);
    }
    // The whole window at once; a violation changes none of the four.
    EXPECT_EQ(g.SetWindowGen(30, 40, 37, 100), 0);
    EXPECT_EQ(g.GetLastErrorMsg(), std::string("CIGrab::SetWindowGen: ") + kCrop);
    EXPECT_EQ(std::vector<ULONG>({g.GetOffsetX(), g.GetOffsetY(), g.GetWidth(), g.GetHeight()}),
              std::vector<ULONG>({10, 20, 641, 70}));
    EXPECT_EQ(g.SetWindowGen(4, 5, 16, 300), 1);
    EXPECT_EQ(std::vector<ULONG>({g.GetOffsetX(), g.GetOffsetY(), g.GetWidth(), g.GetHeight()}),
              std::vector<ULONG>({4, 5, 32, 300}));
    // None of this rebuilt anything: no ring exists.
    EXPECT_EQ(g.log.Count("Create"), 0u);
}

// A setter rebuilds a created ring (SetWindowGen stands for None here) and
// restarts a running grab; the same value again rebuilds nothing.
TEST(GrabGeometry, SettersRebuildACreatedRingAndRestartARunningOne) {
    struct Case {
        int field;
        ULONG arg;
        std::vector<ULONG> args;  // what the rebuild passes to Create
    };
    const std::vector<ULONG> keepAll(7, kKeep);
    // clang-format off
    const Case cases[] = {
        {OffsetX, 10, keepAll}, {OffsetY, 10, keepAll}, {Width, 320, keepAll}, {Height, 240, keepAll},
        {AoiWidth, 100, keepAll}, {AoiHeight, 100, keepAll}, {None, 0, keepAll},
        {Bits, 16, {kKeep, kKeep, kKeep, kKeep, 16, kKeep, kKeep}}, {Bytes, 2, {kKeep, kKeep, kKeep, kKeep, 16, kKeep, kKeep}},
        {Count, 2, {kKeep, kKeep, kKeep, kKeep, 8, 2, kKeep}}, {TimeOut, 100, {kKeep, kKeep, kKeep, kKeep, 8, 5, 100}}};
    // clang-format on
    for (bool running : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.field == None ? "SetWindowGen" : kFields[c.field].setter) +
                         (running ? " while running" : ""));
            TestGrab g;
            ASSERT_TRUE(g.Ready(running));
            auto set = [&] {
                return c.field == None ? g.SetWindowGen(8, 8, 320, 240) : (g.*kFields[c.field].set)(c.arg);
            };
            g.log.Clear();
            EXPECT_EQ(set(), 1);
            const auto calls = g.log.Calls();
            ASSERT_FALSE(calls.empty());
            EXPECT_EQ(calls[0].op, "Create");
            EXPECT_EQ(calls[0].args, c.args);
            EXPECT_EQ(g.log.Count("Create"), 1u);
            // A running grab is started again, after the rebuild.
            EXPECT_EQ(g.log.Count("Start"), running ? 1u : 0u);
            EXPECT_EQ(g.IsGrabRunning(), running ? 1 : 0);
            EXPECT_EQ(g.IsGrabCreated(), 1);
            // The new ring follows the new geometry.
            const ULONG B = g.GetBytesPP();
            EXPECT_EQ(g.GetRingBufferSize(), g.GetImageSizeInPixels() * B * (B == 1 ? 3 : 1) * g.GetBufferCount());
            // The same value again changes nothing and rebuilds nothing.
            g.log.Clear();
            EXPECT_EQ(set(), 1);
            EXPECT_EQ(g.log.Count("Create"), 0u);
        }
}

TEST(GrabGeometry, SetterSucceedsWhenTheRebuildFails) {
    TestGrab g;
    ASSERT_TRUE(g.Ready(true));
    g.log.Clear();
    // 100000 frames of 640 x 480 x 3 cannot be allocated.
    EXPECT_EQ(g.SetBufferCount(100000), 1);
    EXPECT_EQ(g.GetBufferCount(), 100000u);
    EXPECT_EQ(g.IsGrabCreated(), 0);
    EXPECT_EQ(g.GetRingBufferSize(), 0u);
    // The restart was tried and refused.
    EXPECT_EQ(g.log.Count("Start"), 1u);
    EXPECT_EQ(g.IsGrabRunning(), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::Start: Grab not created");
    // A back-end whose own Create step fails: the value stays stored.
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    g.failCreate = true;
    EXPECT_EQ(g.SetTimeOut(100), 1);
    EXPECT_EQ(g.GetTimeOut(), 100u);
    EXPECT_EQ(g.IsGrabCreated(), 0);
}

TEST(GrabGeometry, QuarterTurnSwapsWidthAndHeight) {
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    g.m_rotation = 90;
    // Create takes the frame width from the height argument.
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    EXPECT_EQ(Sizes(g), (std::vector<ULONG>{480, 640, 640, 480}));
    // SetWidth changes the frame height and SetHeight the frame width; the
    // width reported is the frame height rounded down to a multiple of 8.
    g.log.Clear();
    EXPECT_EQ(g.SetWidth(803) + g.SetHeight(500), 2);
    EXPECT_EQ(g.log.Count("Create"), 2u);
    EXPECT_EQ(Sizes(g), (std::vector<ULONG>{500, 803, 800, 500}));
    // With tiles, the client sees vertical tiles x frame height as width.
    g.SetTiling(3, 2);
    EXPECT_EQ(Sizes(g), (std::vector<ULONG>{500, 803, (2 * 803) & ~7u, 3 * 500}));
    // Create divides what becomes the frame width by the horizontal tiles.
    ASSERT_EQ(g.Create(0, 0, 960, 1920, 8, 5, 5000), 1);
    EXPECT_EQ(Sizes(g), (std::vector<ULONG>{640, 480, 960, 1920}));

    // Quarter-turn orientation: the stored angle modulo 180 in 46..134.
    g.SetTiling(1, 1);
    ASSERT_EQ(g.Create(0, 0, 101, 200, 8, 5, 5000), 1);
    for (ULONG rotation : {0u, 45u, 46u, 90u, 134u, 135u, 180u, 225u, 226u, 270u, 314u, 315u, 359u}) {
        const bool quarter = std::set<ULONG>{46, 90, 134, 226, 270, 314}.count(rotation) != 0;
        g.m_rotation = rotation;
        EXPECT_EQ(g.GetWidth(), quarter ? 96u : 200u) << rotation;
        EXPECT_EQ(g.GetHeight(), quarter ? 200u : 101u) << rotation;
    }
}

TEST(GrabGeometry, TilingIsStoredWithoutRebuild) {
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(0, 0, 100, 50, 8, 2, 5000), 1);
    const ULONG ring = g.GetRingBufferSize();
    g.log.Clear();
    struct Case {
        ULONG horz, vert, storedHorz, storedVert;
    };
    for (const Case& c : {Case{3, 2, 3, 2}, Case{0, 0, 1, 1}, Case{1, 2, 1, 2}, Case{2, 1, 2, 1}, Case{1, 1, 1, 1}}) {
        EXPECT_EQ(g.SetTiling(c.horz, c.vert), 1);
        const ULONG tiling = c.storedHorz * c.storedVert > 1;
        EXPECT_EQ(
            std::vector<ULONG>({g.GetHorzTiles(), g.GetVertTiles(), g.GetWidth(), g.GetHeight(), ULONG(g.IsTiling())}),
            std::vector<ULONG>({c.storedHorz, c.storedVert, 100 * c.storedHorz, 50 * c.storedVert, tiling}));
    }
    EXPECT_EQ(g.log.Count("Create"), 0u);
    EXPECT_EQ(g.GetRingBufferSize(), ring);
}

TEST(GrabGeometry, SetImageColorReSpacesFramesInTheSameRing) {
    TestGrab g;
    EXPECT_EQ(g.SetImageColor(IFW_COLOR_RGB32), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::SetImageColor: Grab not initialized");
    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(8, 4, 640, 480, 8, 5, 5000), 1);
    ASSERT_EQ(g.Start(), 1);
    unsigned char* ring = g.FrameAddress(0);
    const ULONG ringSize = g.GetRingBufferSize();
    // The current type: 0, nothing changes, no message.
    const std::string before = g.PlantError();
    g.log.Clear();
    EXPECT_EQ(g.SetImageColor(IFW_COLOR_MONO), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), before.c_str());
    EXPECT_TRUE(g.log.Ops().empty());
    // A running grab is stopped around the change and started again.
    EXPECT_EQ(g.SetImageColor(IFW_COLOR_RGB32), 1);
    const auto ops = g.log.Ops();
    EXPECT_EQ(std::vector<std::string>(ops.begin(), ops.begin() + 2), (std::vector<std::string>{"Stop", "Start"}));
    EXPECT_EQ(g.IsGrabRunning(), 1);
    EXPECT_EQ(g.GetBitPP(), 32u);
    EXPECT_EQ(ByteCounts(g), std::vector<ULONG>({2560, 1920, 32, 16, 632 * 4, 476 * 4, 307200, 1228800}));

    // Frames are re-spaced inside the same ring; the camera attributes and
    // the camera count follow the type, and only camera 0 may be the client's.
    struct Colour {
        IFW_IMAGE_COLOR_TYPE type;
        ULONG bytes, factor, code;
        int cameras;
    };
    const Colour colours[] = {{IFW_COLOR_RGB32, 4, 4, 4, 1},
                              {IFW_COLOR_RGB24, 3, 3, 5, 1},
                              {IFW_COLOR_PLANAR, 1, 3, 8, 8},
                              {IFW_COLOR_MONO_ALT, 1, 1, 0, 1},
                              {IFW_COLOR_MONO, 1, 1, 0, 1}};
    IFW_CAM_ATTR attr{};
    for (const Colour& c : colours) {
        SCOPED_TRACE("colour type " + std::to_string(c.type));
        if (g.GetImageColor() != c.type) {
            ASSERT_EQ(g.SetImageColor(c.type), 1);
        }
        EXPECT_EQ(g.FrameAddress(0), ring);
        EXPECT_EQ(FrameStride(g), 640u * 480u * c.factor);
        EXPECT_EQ(g.GetRingBufferSize(), ringSize);
        ASSERT_EQ(g.GetCamAttr(&attr), 1);
        EXPECT_EQ(std::vector<ULONG>({attr.width, attr.height, attr.bytesPerPixel, attr.bitsPerPixel, attr.colorCode}),
                  std::vector<ULONG>({g.GetWidth(), g.GetHeight(), c.bytes, 8 * c.bytes, c.code}));
        EXPECT_EQ(g.GetBytesPP(), c.bytes);
        EXPECT_EQ(g.GetNumCameras(), c.cameras);
        EXPECT_EQ(g.SetActiveCamera(c.cameras - 1, 0) * 10 + g.SetActiveCamera(c.cameras, 0), 10);
        EXPECT_EQ(g.SetClientActiveCamera(1), 0);
    }
}

TEST(GrabGeometry, UpdateFrameRateSmoothsOverFrames) {
    CIGrab g;
    EXPECT_EQ(g.GetGrabType(), IGRAB_COMMON);
    std::vector<double> rates = {g.GetFrameRate()};
    for (double t : {100000.0, 200000.0, 250000.0}) {
        g.UpdateFrameRate(t);
        rates.push_back(g.GetFrameRate());
    }
    EXPECT_EQ(rates, (std::vector<double>{0.0, 0.0, 10.0, 12.5}));
}

TEST(GrabGeometry, CameraQueries) {
    TestGrab g;
    unsigned char image[4] = {};
    HWND window = reinterpret_cast<HWND>(image);  // any non-null window counts as valid
    // One camera in the common layer; SetClientActiveCamera says no quietly.
    const std::string before = g.PlantError();
    EXPECT_EQ(g.SetClientActiveCamera(1), 0);
    EXPECT_EQ(g.SetClientActiveCamera(0), 1);
    EXPECT_STREQ(g.GetLastErrorMsg(), before.c_str());
    EXPECT_EQ(g.SetActiveCamera(0, 0), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::SetActiveCamera: Grab not initialized");
    EXPECT_EQ(g.IsCameraDetected(0), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::IsCameraDetected: Grab not initialized");
    EXPECT_EQ(g.Display(window, image), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::Display: Grab not initialized");

    ASSERT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.GetCamAttr(nullptr), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::GetCamAttr: Invalid argument");
    EXPECT_EQ(g.Display(window, image), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::Display: Grab not created");
    EXPECT_EQ(g.GetActiveCamera(), 0);
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    EXPECT_EQ(g.Display(nullptr, image) + g.Display(window, nullptr), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::Display: Invalid argument");
    EXPECT_EQ(g.Display(window, image), 1);

    // Camera-detected flags: set by back-ends, cleared by Terminate.
    g.m_cameraDetected[0] = g.m_cameraDetected[7] = 1;
    for (int camera : {-1, 0, 1, 7, 8}) EXPECT_EQ(g.IsCameraDetected(camera), camera == 0 || camera == 7) << camera;
    ASSERT_EQ(g.Terminate(), 1);
    ASSERT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.IsCameraDetected(0) + g.IsCameraDetected(7), 0);
}
