// Frame geometry and the frame ring: argument sentinels, the crop rule, the
// buffer-count limits, ring sizing per grab type, colour and tiling, the
// setters that rebuild a created object, quarter-turn orientation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_grab.h"

using namespace kiru_test;

namespace {

struct Geometry {
    ULONG offsetX, offsetY, width, height, bits, count, timeout;
};

void ExpectGeometry(TestGrab& g, const Geometry& e) {
    EXPECT_EQ(g.GetOffsetX(), e.offsetX);
    EXPECT_EQ(g.GetOffsetY(), e.offsetY);
    EXPECT_EQ(g.GetWidth(), e.width);
    EXPECT_EQ(g.GetHeight(), e.height);
    EXPECT_EQ(g.GetBitPP(), e.bits);
    EXPECT_EQ(g.GetBufferCount(), e.count);
    EXPECT_EQ(g.GetTimeOut(), e.timeout);
}

// Distance between consecutive frames of the ring, checked for every frame.
ULONG FrameStride(TestGrab& g) {
    const ULONG count = g.GetBufferCount();
    if (count < 2) return 0;
    const auto stride = static_cast<ULONG>(g.FrameAddress(1) - g.FrameAddress(0));
    for (ULONG i = 2; i < count; ++i)
        EXPECT_EQ(static_cast<ULONG>(g.FrameAddress(i) - g.FrameAddress(i - 1)), stride) << "frame " << i;
    return stride;
}

}  // namespace

TEST(GrabGeometry, AjustValueSentinelsAndBounds) {
    CIGrab g;
    ULONG v = kKeep;
    g.AjustValue(v, 123, 456, kNoBound, kNoBound);
    EXPECT_EQ(v, 123u);
    v = kDefault;
    g.AjustValue(v, 123, 456, kNoBound, kNoBound);
    EXPECT_EQ(v, 456u);
    // 0xFFFFFFFD as a bound means none, not a very large bound.
    v = 0;
    g.AjustValue(v, 1, 2, kNoBound, kNoBound);
    EXPECT_EQ(v, 0u);
    v = 0xFFFFFFF0u;
    g.AjustValue(v, 1, 2, 0, kNoBound);
    EXPECT_EQ(v, 0xFFFFFFF0u);
    // Bounds apply after the sentinels are replaced.
    v = 3;
    g.AjustValue(v, 1, 2, 8, 32);
    EXPECT_EQ(v, 8u);
    v = 40;
    g.AjustValue(v, 1, 2, 8, 32);
    EXPECT_EQ(v, 32u);
    v = kKeep;
    g.AjustValue(v, 1, 2, 8, 32);
    EXPECT_EQ(v, 8u);
    v = kDefault;
    g.AjustValue(v, 1, 100, 8, 32);
    EXPECT_EQ(v, 32u);
    v = 20;
    g.AjustValue(v, 1, 2, 8, 32);
    EXPECT_EQ(v, 20u);

    EXPECT_EQ(g.BitToBytePerPixel(0), 0u);
    EXPECT_EQ(g.BitToBytePerPixel(1), 1u);
    EXPECT_EQ(g.BitToBytePerPixel(8), 1u);
    EXPECT_EQ(g.BitToBytePerPixel(9), 2u);
    EXPECT_EQ(g.BitToBytePerPixel(24), 3u);
    EXPECT_EQ(g.BitToBytePerPixel(32), 4u);
}

TEST(GrabGeometry, CreateDefaultsKeepsAndClamps) {
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    ExpectGeometry(g, {0, 0, 640, 480, 8, 5, 5000});

    ASSERT_EQ(g.Create(10, 12, 600, 400, 16, 2, 100), 1);
    ExpectGeometry(g, {10, 12, 600, 400, 16, 2, 100});
    EXPECT_EQ(g.GetBytesPP(), 2u);

    ASSERT_EQ(g.Create(kKeep, kKeep, kKeep, kKeep, kKeep, kKeep, kKeep), 1);
    ExpectGeometry(g, {10, 12, 600, 400, 16, 2, 100});

    ASSERT_EQ(g.Create(kDefault, kDefault, kDefault, kDefault, kDefault, kDefault, kDefault), 1);
    ExpectGeometry(g, {0, 0, 640, 480, 8, 5, 5000});
    EXPECT_EQ(g.GetBytesPP(), 1u);

    // Minimums: width and height 32, bits 8, one buffer; time-out 0 is kept.
    ASSERT_EQ(g.Create(0, 0, 16, 1, 0, 0, 0), 1);
    ExpectGeometry(g, {0, 0, 32, 32, 8, 1, 0});
    // Bits at most 32.
    ASSERT_EQ(g.Create(0, 0, 64, 64, 33, 1, 0), 1);
    EXPECT_EQ(g.GetBitPP(), 32u);
    EXPECT_EQ(g.GetBytesPP(), 4u);
}

TEST(GrabGeometry, CreateStoresByteCounts) {
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(100, 20, 300, 200, 16, 2, 700), 1);
    EXPECT_EQ(g.GetBytesPP(), 2u);
    EXPECT_EQ(g.GetAoiWidth(), 200u);
    EXPECT_EQ(g.GetAoiHeight(), 180u);
    EXPECT_EQ(g.GetWidthByteCount(), 600u);
    EXPECT_EQ(g.GetHeightByteCount(), 400u);
    EXPECT_EQ(g.GetOffsetXByteCount(), 200u);
    EXPECT_EQ(g.GetOffsetYByteCount(), 40u);
    EXPECT_EQ(g.GetAoiWidthByteCount(), 400u);
    EXPECT_EQ(g.GetAoiHeightByteCount(), 360u);
    EXPECT_EQ(g.GetImageSizeInPixels(), 60000u);
    EXPECT_EQ(g.GetImageSizeInBytes(), 120000u);
}

TEST(GrabGeometry, CropRule) {
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.Create(100, 0, 107, 480, 8, 5, 5000), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::Create: Crop boundaries exceed max image size");
    ASSERT_EQ(g.Create(100, 0, 108, 480, 8, 5, 5000), 1);
    EXPECT_EQ(g.GetAoiWidth(), 8u);

    EXPECT_EQ(g.Create(0, 50, 640, 57, 8, 5, 5000), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::Create: Crop boundaries exceed max image size");
    ASSERT_EQ(g.Create(0, 50, 640, 58, 8, 5, 5000), 1);
    EXPECT_EQ(g.GetAoiHeight(), 8u);

    // A width of 16 is raised to 32 before the crop rule is applied.
    ASSERT_EQ(g.Create(24, 0, 16, 480, 8, 5, 5000), 1);
    EXPECT_EQ(g.GetWidth(), 32u);
    EXPECT_EQ(g.GetAoiWidth(), 8u);
    EXPECT_EQ(g.Create(25, 0, 16, 480, 8, 5, 5000), 0);
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
        SCOPED_TRACE("width " + std::to_string(c.width) + ", asked " + std::to_string(c.asked));
        ASSERT_EQ(g.Create(0, 0, c.width, 32, 8, c.asked, 5000), 1);
        EXPECT_EQ(g.GetBufferCount(), c.expected);
    }
    // The limit looks at one tile: 2048 over two tiles is a 1024 frame.
    g.SetTiling(2, 1);
    ASSERT_EQ(g.Create(0, 0, 2048, 32, 8, 5, 5000), 1);
    EXPECT_EQ(g.GetBufferCount(), 3u);
    // ...and at the frame, not the client's, width: turned a quarter, the
    // height argument becomes the frame width.
    g.SetTiling(1, 1);
    g.SetRotation(90);
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
        ULONG stride, ring, count;
    };
    const Case cases[] = {
        // The emulator with one camera: stride P, ring 5 x 3P (at least three planes for 8 bits).
        {"emulator", IGRAB_EMULATOR, IFW_COLOR_MONO, 1, 1, 640, 480, 8, 307200, 4608000, 5},
        {"common", IGRAB_COMMON, IFW_COLOR_MONO, 1, 1, 640, 480, 8, 307200, 4608000, 5},
        {"emulator 16 bits", IGRAB_EMULATOR, IFW_COLOR_MONO, 1, 1, 640, 480, 16, 614400, 3072000, 5},
        // LX2: 4P, then x4 again.
        {"LX2", IGRAB_LX2, IFW_COLOR_MONO, 1, 1, 640, 480, 8, 307200, 24576000, 5},
        {"LX2 16 bits", IGRAB_LX2, IFW_COLOR_MONO, 1, 1, 640, 480, 16, 614400, 24576000, 5},
        // QB2: 3P whatever the depth.
        {"QB2 16 bits", IGRAB_QB2, IFW_COLOR_MONO, 1, 1, 640, 480, 16, 614400, 4608000, 5},
        // Three planes only below 0x300000 pixels.
        {"at 0x300000 pixels", IGRAB_COMMON, IFW_COLOR_MONO, 1, 1, 2048, 1536, 8, 3145728, 15728640, 5},
        {"below 0x300000 pixels", IGRAB_COMMON, IFW_COLOR_MONO, 1, 1, 2048, 1535, 8, 3143680, 47155200, 5},
        // Tiling: one plane per tile except for the emulator; LX2 keeps its x4.
        {"common tiled 2x1", IGRAB_COMMON, IFW_COLOR_MONO, 2, 1, 1280, 480, 8, 614400, 3072000, 5},
        {"common tiled 1x2", IGRAB_COMMON, IFW_COLOR_MONO, 1, 2, 640, 960, 8, 614400, 3072000, 5},
        {"emulator tiled 2x1", IGRAB_EMULATOR, IFW_COLOR_MONO, 2, 1, 1280, 480, 8, 614400, 9216000, 5},
        {"LX2 tiled 2x1", IGRAB_LX2, IFW_COLOR_MONO, 2, 1, 1280, 480, 8, 614400, 6144000, 5},
        {"QB2 tiled 2x1", IGRAB_QB2, IFW_COLOR_MONO, 2, 1, 1280, 480, 8, 614400, 3072000, 5},
        // Colour: 4 bytes per pixel for type 3 whatever the bit depth asked.
        {"colour 3 at 8 bits", IGRAB_COMMON, IFW_COLOR_RGB32, 1, 1, 640, 480, 8, 1228800, 6144000, 5},
        {"colour 3 at 32 bits", IGRAB_COMMON, IFW_COLOR_RGB32, 1, 1, 640, 480, 32, 1228800, 6144000, 5},
        // Type 4 keeps its 3 bytes per pixel in the stride.
        {"colour 4", IGRAB_COMMON, IFW_COLOR_RGB24, 1, 1, 2048, 1536, 8, 9437184, 47185920, 5},
        // Type 2: eight cameras side by side.
        {"colour 2", IGRAB_COMMON, IFW_COLOR_PLANAR, 1, 1, 640, 480, 8, 2457600, 12288000, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestGrab g(c.type);
        ASSERT_EQ(g.Initialize(), 1);
        if (c.colour != IFW_COLOR_MONO) { ASSERT_EQ(g.SetImageColor(c.colour), 1); }
        g.SetTiling(c.horz, c.vert);
        ASSERT_EQ(g.Create(0, 0, c.width, c.height, c.bits, 5, 5000), 1);
        EXPECT_EQ(g.GetBufferCount(), c.count);
        EXPECT_EQ(g.GetRingBufferSize(), c.ring);
        EXPECT_EQ(FrameStride(g), c.stride);
        EXPECT_EQ(g.GetWidth(), c.width);
        EXPECT_EQ(g.GetHeight(), c.height);
        // The common layer hands out the ring start for every index.
        EXPECT_EQ(g.GetFramePtr(0), g.FrameAddress(0));
        EXPECT_EQ(g.GetFramePtr(3), g.FrameAddress(0));
    }
}

TEST(GrabGeometry, CreateStoresTheAskedDepthEvenForColour) {
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.SetImageColor(IFW_COLOR_RGB32), 1);
    EXPECT_EQ(g.GetBytesPP(), 4u);
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    EXPECT_EQ(g.GetBitPP(), 8u);
    EXPECT_EQ(g.GetBytesPP(), 1u);
    EXPECT_EQ(g.GetImageSizeInBytes(), 307200u);
}

TEST(GrabGeometry, InterfaceOwnCreateUsesThePlainRule) {
    // Grab type 0 does not change the plain rule: 5 x max(3P, P).
    TestIXGrab lx2(IGRAB_LX2);
    ASSERT_EQ(lx2.Initialize(), 1);
    ASSERT_EQ(lx2.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    EXPECT_EQ(lx2.RingSize(), 4608000u);
    EXPECT_EQ(static_cast<ULONG>(lx2.FrameAddress(1) - lx2.FrameAddress(0)), 307200u);

    // Tiling does not drop the three planes: 5 x P x T x 3.
    TestIXGrab tiled;
    ASSERT_EQ(tiled.Initialize(), 1);
    tiled.SetTiling(2, 1);
    ASSERT_EQ(tiled.Create(0, 0, 1280, 480, 8, 5, 5000), 1);
    EXPECT_EQ(tiled.RingSize(), 9216000u);
    EXPECT_EQ(tiled.GetWidth(), 1280u);

    // The same validation as the common layer, under its own name.
    EXPECT_EQ(tiled.Create(100, 0, 107, 480, 8, 5, 5000), 0);
    EXPECT_STREQ(tiled.LastError(), "IXGrab::Create: Crop boundaries exceed max image size");
    EXPECT_EQ(tiled.Created(), 0);
    EXPECT_EQ(tiled.RingSize(), 0u);

    // The interface's SetWidth/SetHeight do nothing and answer 0.
    EXPECT_EQ(tiled.SetWidth(320), 0);
    EXPECT_EQ(tiled.SetHeight(240), 0);
}

TEST(GrabGeometry, SettersValidateAndStore) {
    TestGrab g;
    const char* crop = "Crop boundaries exceed max image size";

    // Offsets: width 640 and height 480 leave room for 632 and 472.
    EXPECT_EQ(g.SetOffsetX(633), 0);
    EXPECT_EQ(std::string(g.GetLastErrorMsg()), std::string("CIGrab::SetOffsetX: ") + crop);
    EXPECT_EQ(g.GetOffsetX(), 0u);
    EXPECT_EQ(g.SetOffsetX(632), 1);
    EXPECT_EQ(g.GetOffsetX(), 632u);
    EXPECT_EQ(g.SetOffsetX(kDefault), 1);
    EXPECT_EQ(g.GetOffsetX(), 0u);
    EXPECT_EQ(g.SetOffsetY(473), 0);
    EXPECT_EQ(std::string(g.GetLastErrorMsg()), std::string("CIGrab::SetOffsetY: ") + crop);
    EXPECT_EQ(g.SetOffsetY(472), 1);
    EXPECT_EQ(g.GetOffsetY(), 472u);
    ASSERT_EQ(g.SetOffsetY(0), 1);

    // Widths: at least 32, and at least offset + 8.
    EXPECT_EQ(g.iSetWidth(16), 1);
    EXPECT_EQ(g.GetWidth(), 32u);
    ASSERT_EQ(g.iSetWidth(640), 1);
    ASSERT_EQ(g.SetOffsetX(100), 1);
    EXPECT_EQ(g.iSetWidth(107), 0);
    EXPECT_EQ(std::string(g.GetLastErrorMsg()), std::string("CIGrab::SetWidth: ") + crop);
    EXPECT_EQ(g.GetWidth(), 640u);
    EXPECT_EQ(g.SetWidth(108), 1);
    EXPECT_EQ(g.GetWidth(), 108u);
    ASSERT_EQ(g.SetOffsetY(100), 1);
    EXPECT_EQ(g.SetHeight(107), 0);
    EXPECT_EQ(std::string(g.GetLastErrorMsg()), std::string("CIGrab::SetHeight: ") + crop);
    EXPECT_EQ(g.iSetHeight(kDefault), 1);
    EXPECT_EQ(g.GetHeight(), 480u);

    // AOI: at least 8 as a signed value; the frame follows offset + AOI.
    ASSERT_EQ(g.SetOffsetX(10), 1);
    ASSERT_EQ(g.SetOffsetY(20), 1);
    EXPECT_EQ(g.SetAoiWidth(7), 0);
    EXPECT_EQ(std::string(g.GetLastErrorMsg()), std::string("CIGrab::SetAoiWidth: ") + crop);
    EXPECT_EQ(g.SetAoiWidth(0xFFFFFFFFu), 0);
    EXPECT_EQ(g.SetAoiWidth(100), 1);
    EXPECT_EQ(g.GetAoiWidth(), 100u);
    EXPECT_EQ(g.GetWidth(), 110u);
    EXPECT_EQ(g.SetAoiHeight(7), 0);
    EXPECT_EQ(std::string(g.GetLastErrorMsg()), std::string("CIGrab::SetAoiHeight: ") + crop);
    EXPECT_EQ(g.SetAoiHeight(50), 1);
    EXPECT_EQ(g.GetAoiHeight(), 50u);
    EXPECT_EQ(g.GetHeight(), 70u);

    // Depth.
    EXPECT_EQ(g.SetBitsPP(12), 1);
    EXPECT_EQ(g.GetBitPP(), 12u);
    EXPECT_EQ(g.GetBytesPP(), 2u);
    EXPECT_EQ(g.SetBitsPP(40), 1);
    EXPECT_EQ(g.GetBitPP(), 32u);
    EXPECT_EQ(g.GetBytesPP(), 4u);
    EXPECT_EQ(g.SetBitsPP(1), 1);
    EXPECT_EQ(g.GetBitPP(), 8u);
    EXPECT_EQ(g.SetBytesPP(3), 1);
    EXPECT_EQ(g.GetBitPP(), 24u);
    EXPECT_EQ(g.SetBytesPP(9), 1);
    EXPECT_EQ(g.GetBytesPP(), 4u);
    EXPECT_EQ(g.GetBitPP(), 32u);
    EXPECT_EQ(g.SetBytesPP(0), 1);
    EXPECT_EQ(g.GetBytesPP(), 1u);

    // Buffer count: at most 3 once the width exceeds 640.
    EXPECT_EQ(g.SetBufferCount(0), 1);
    EXPECT_EQ(g.GetBufferCount(), 1u);
    EXPECT_EQ(g.SetBufferCount(kDefault), 1);
    EXPECT_EQ(g.GetBufferCount(), 5u);
    ASSERT_EQ(g.iSetWidth(641), 1);
    EXPECT_EQ(g.SetBufferCount(5), 1);
    EXPECT_EQ(g.GetBufferCount(), 3u);

    EXPECT_EQ(g.SetTimeOut(0), 1);
    EXPECT_EQ(g.GetTimeOut(), 0u);
    EXPECT_EQ(g.SetTimeOut(kDefault), 1);
    EXPECT_EQ(g.GetTimeOut(), 5000u);

    // The whole window at once; a violation changes none of the four.
    EXPECT_EQ(g.SetWindowGen(30, 40, 37, 100), 0);
    EXPECT_EQ(std::string(g.GetLastErrorMsg()), std::string("CIGrab::SetWindowGen: ") + crop);
    EXPECT_EQ(g.GetOffsetX(), 10u);
    EXPECT_EQ(g.GetOffsetY(), 20u);
    EXPECT_EQ(g.GetWidth(), 641u);
    EXPECT_EQ(g.GetHeight(), 70u);
    EXPECT_EQ(g.SetWindowGen(4, 5, 16, 300), 1);
    EXPECT_EQ(g.GetOffsetX(), 4u);
    EXPECT_EQ(g.GetOffsetY(), 5u);
    EXPECT_EQ(g.GetWidth(), 32u);
    EXPECT_EQ(g.GetHeight(), 300u);

    // None of this rebuilt anything: no ring exists.
    EXPECT_EQ(g.log.Count("Create"), 0u);
}

TEST(GrabGeometry, SettersRebuildACreatedRing) {
    struct Case {
        const char* what;
        int (*set)(TestGrab&);
        std::vector<ULONG> args;  // what the rebuild passes to Create
    };
    const std::vector<ULONG> keepAll(7, kKeep);
    const Case cases[] = {
        {"SetOffsetX", [](TestGrab& g) { return g.SetOffsetX(10); }, keepAll},
        {"SetOffsetY", [](TestGrab& g) { return g.SetOffsetY(10); }, keepAll},
        {"iSetWidth", [](TestGrab& g) { return g.iSetWidth(320); }, keepAll},
        {"iSetHeight", [](TestGrab& g) { return g.iSetHeight(240); }, keepAll},
        {"SetWidth", [](TestGrab& g) { return g.SetWidth(320); }, keepAll},
        {"SetHeight", [](TestGrab& g) { return g.SetHeight(240); }, keepAll},
        {"SetAoiWidth", [](TestGrab& g) { return g.SetAoiWidth(100); }, keepAll},
        {"SetAoiHeight", [](TestGrab& g) { return g.SetAoiHeight(100); }, keepAll},
        {"SetWindowGen", [](TestGrab& g) { return g.SetWindowGen(8, 8, 320, 240); }, keepAll},
        {"SetBitsPP", [](TestGrab& g) { return g.SetBitsPP(16); }, {kKeep, kKeep, kKeep, kKeep, 16, kKeep, kKeep}},
        {"SetBytesPP", [](TestGrab& g) { return g.SetBytesPP(2); }, {kKeep, kKeep, kKeep, kKeep, 16, kKeep, kKeep}},
        {"SetBufferCount", [](TestGrab& g) { return g.SetBufferCount(2); }, {kKeep, kKeep, kKeep, kKeep, 8, 2, kKeep}},
        {"SetTimeOut", [](TestGrab& g) { return g.SetTimeOut(100); }, {kKeep, kKeep, kKeep, kKeep, 8, 5, 100}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestGrab g;
        ASSERT_EQ(g.Initialize(), 1);
        ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
        g.log.Clear();
        EXPECT_EQ(c.set(g), 1);
        const auto creates = g.log.Calls("Create");
        ASSERT_EQ(creates.size(), 1u);
        EXPECT_EQ(creates[0].args, c.args);
        EXPECT_EQ(g.log.Count("Start"), 0u);
        EXPECT_EQ(g.IsGrabCreated(), 1);
        // The new ring follows the new geometry.
        const ULONG P = g.GetImageSizeInPixels();
        const ULONG B = g.GetBytesPP();
        const ULONG planes = B == 1 ? 3 : 1;
        EXPECT_EQ(g.GetRingBufferSize(), P * B * planes * g.GetBufferCount());

        // The same value again changes nothing and rebuilds nothing.
        g.log.Clear();
        EXPECT_EQ(c.set(g), 1);
        EXPECT_EQ(g.log.Count("Create"), 0u);
    }
}

TEST(GrabGeometry, SetterRestartsARunningGrab) {
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    ASSERT_EQ(g.Start(), 1);
    g.log.Clear();
    EXPECT_EQ(g.SetOffsetX(16), 1);
    const auto ops = g.log.Ops();
    ASSERT_FALSE(ops.empty());
    EXPECT_EQ(ops.front(), "Create");
    ASSERT_EQ(g.log.Count("Start"), 1u);
    // Start comes after the rebuild.
    const auto all = g.log.Calls();
    std::size_t createAt = 0, startAt = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].op == "Create") createAt = i;
        if (all[i].op == "Start") startAt = i;
    }
    EXPECT_GT(startAt, createAt);
    EXPECT_EQ(g.IsGrabRunning(), 1);
    EXPECT_EQ(g.IsGrabCreated(), 1);
    EXPECT_EQ(g.GetOffsetX(), 16u);
}

TEST(GrabGeometry, SetterSucceedsWhenTheRebuildFails) {
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    ASSERT_EQ(g.Start(), 1);
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
    g.SetRotation(90);
    // Create takes the frame width from the height argument.
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    EXPECT_EQ(g.GetAoiWidth(), 480u);
    EXPECT_EQ(g.GetAoiHeight(), 640u);
    EXPECT_EQ(g.GetWidth(), 640u);
    EXPECT_EQ(g.GetHeight(), 480u);

    // SetWidth changes the frame height; the width reported is the frame
    // height rounded down to a multiple of 8.
    g.log.Clear();
    EXPECT_EQ(g.SetWidth(803), 1);
    EXPECT_EQ(g.GetAoiHeight(), 803u);
    EXPECT_EQ(g.GetWidth(), 800u);
    EXPECT_EQ(g.GetHeight(), 480u);
    EXPECT_EQ(g.log.Count("Create"), 1u);
    EXPECT_EQ(g.SetHeight(500), 1);
    EXPECT_EQ(g.GetAoiWidth(), 500u);
    EXPECT_EQ(g.GetHeight(), 500u);

    // With tiles, the client sees vertical tiles x frame height as width.
    g.SetTiling(3, 2);
    EXPECT_EQ(g.GetWidth(), (2u * 803u) & ~7u);
    EXPECT_EQ(g.GetHeight(), 3u * 500u);
    // Create divides what becomes the frame width by the horizontal tiles.
    ASSERT_EQ(g.Create(0, 0, 960, 1920, 8, 5, 5000), 1);
    EXPECT_EQ(g.GetAoiWidth(), 640u);
    EXPECT_EQ(g.GetAoiHeight(), 480u);
    EXPECT_EQ(g.GetWidth(), 960u);
    EXPECT_EQ(g.GetHeight(), 1920u);
}

TEST(GrabGeometry, QuarterTurnBoundaries) {
    struct Case {
        ULONG rotation;
        bool quarter;
    };
    const Case cases[] = {{0, false},   {45, false},  {46, true},   {90, true},  {134, true},
                          {135, false}, {180, false}, {226, true},  {270, true}, {314, true},
                          {315, false}, {359, false}};
    TestGrab g;
    ASSERT_EQ(g.iSetWidth(200), 1);
    ASSERT_EQ(g.iSetHeight(101), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE("rotation " + std::to_string(c.rotation));
        g.SetRotation(c.rotation);
        EXPECT_EQ(g.GetWidth(), c.quarter ? 96u : 200u);
        EXPECT_EQ(g.GetHeight(), c.quarter ? 200u : 101u);
    }
}

TEST(GrabGeometry, TilingIsStoredWithoutRebuild) {
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(0, 0, 100, 50, 8, 2, 5000), 1);
    const ULONG ring = g.GetRingBufferSize();
    EXPECT_EQ(g.IsTiling(), 0);
    g.log.Clear();
    EXPECT_EQ(g.SetTiling(3, 2), 1);
    EXPECT_EQ(g.GetHorzTiles(), 3u);
    EXPECT_EQ(g.GetVertTiles(), 2u);
    EXPECT_EQ(g.IsTiling(), 1);
    EXPECT_EQ(g.GetWidth(), 300u);
    EXPECT_EQ(g.GetHeight(), 100u);
    EXPECT_EQ(g.log.Count("Create"), 0u);
    EXPECT_EQ(g.GetRingBufferSize(), ring);
    EXPECT_EQ(g.SetTiling(0, 0), 1);
    EXPECT_EQ(g.GetHorzTiles(), 1u);
    EXPECT_EQ(g.GetVertTiles(), 1u);
    EXPECT_EQ(g.IsTiling(), 0);
    EXPECT_EQ(g.SetTiling(1, 2), 1);
    EXPECT_EQ(g.IsTiling(), 1);
}

TEST(GrabGeometry, SetImageColor) {
    TestGrab g;
    EXPECT_EQ(g.SetImageColor(IFW_COLOR_RGB32), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::SetImageColor: Grab not initialized");
    EXPECT_EQ(g.GetImageColor(), IFW_COLOR_MONO);

    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(8, 4, 640, 480, 8, 5, 5000), 1);
    ASSERT_EQ(g.Start(), 1);
    unsigned char* ring = g.FrameAddress(0);
    const ULONG ringSize = g.GetRingBufferSize();

    // The current type: 0, nothing changes, no message.
    ASSERT_EQ(g.SetBrightness(101), 0);
    const std::string before = g.GetLastErrorMsg();
    g.log.Clear();
    EXPECT_EQ(g.SetImageColor(IFW_COLOR_MONO), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), before.c_str());
    EXPECT_EQ(g.log.Count("Stop"), 0u);

    // A running grab is stopped around the change and started again.
    EXPECT_EQ(g.SetImageColor(IFW_COLOR_RGB32), 1);
    const auto ops = g.log.Ops();
    ASSERT_GE(ops.size(), 2u);
    EXPECT_EQ(ops.front(), "Stop");
    EXPECT_EQ(g.log.Count("Start"), 1u);
    EXPECT_EQ(g.IsGrabRunning(), 1);
    EXPECT_EQ(g.GetImageColor(), IFW_COLOR_RGB32);
    EXPECT_EQ(g.GetBytesPP(), 4u);
    EXPECT_EQ(g.GetBitPP(), 32u);
    EXPECT_EQ(g.GetWidthByteCount(), 2560u);
    EXPECT_EQ(g.GetHeightByteCount(), 1920u);
    EXPECT_EQ(g.GetOffsetXByteCount(), 32u);
    EXPECT_EQ(g.GetOffsetYByteCount(), 16u);
    EXPECT_EQ(g.GetAoiWidthByteCount(), 632u * 4u);
    EXPECT_EQ(g.GetAoiHeightByteCount(), 476u * 4u);
    EXPECT_EQ(g.GetImageSizeInPixels(), 307200u);
    EXPECT_EQ(g.GetImageSizeInBytes(), 1228800u);

    // Frames are re-spaced inside the same ring.
    struct Spacing {
        IFW_IMAGE_COLOR_TYPE type;
        ULONG bytes, factor;
        int cameras;
    };
    const Spacing spacings[] = {{IFW_COLOR_RGB32, 4, 4, 1},
                                {IFW_COLOR_RGB24, 3, 3, 1},
                                {IFW_COLOR_PLANAR, 1, 3, 8},
                                {IFW_COLOR_MONO_ALT, 1, 1, 1}};
    for (const Spacing& s : spacings) {
        SCOPED_TRACE("colour type " + std::to_string(s.type));
        if (g.GetImageColor() != s.type) { ASSERT_EQ(g.SetImageColor(s.type), 1); }
        EXPECT_EQ(g.GetBytesPP(), s.bytes);
        EXPECT_EQ(g.GetNumCameras(), s.cameras);
        EXPECT_EQ(g.FrameAddress(0), ring);
        EXPECT_EQ(FrameStride(g), 640u * 480u * s.factor);
        EXPECT_EQ(g.GetRingBufferSize(), ringSize);
    }
}

TEST(GrabGeometry, UpdateFrameRateSmoothsOverFrames) {
    CIGrab g;
    EXPECT_EQ(g.GetFrameRate(), 0.0);
    g.UpdateFrameRate(100000.0);
    EXPECT_EQ(g.GetFrameRate(), 0.0);
    g.UpdateFrameRate(200000.0);
    EXPECT_DOUBLE_EQ(g.GetFrameRate(), 10.0);
    g.UpdateFrameRate(250000.0);
    EXPECT_DOUBLE_EQ(g.GetFrameRate(), 12.5);
}

TEST(GrabGeometry, CameraQueries) {
    TestGrab g;
    IFW_CAM_ATTR attr{};
    EXPECT_EQ(g.GetCamAttr(&attr), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::GetCamAttr: Grab not initialized");
    EXPECT_EQ(g.SetActiveCamera(0, 0), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::SetActiveCamera: Grab not initialized");
    EXPECT_EQ(g.IsCameraDetected(0), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::IsCameraDetected: Grab not initialized");
    int window = 0;
    unsigned char image[4] = {};
    EXPECT_EQ(g.Display(&window, image), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::Display: Grab not initialized");

    // One camera in the common layer; SetClientActiveCamera says no quietly.
    ASSERT_EQ(g.SetBrightness(101), 0);
    const std::string before = g.GetLastErrorMsg();
    EXPECT_EQ(g.SetClientActiveCamera(1), 0);
    EXPECT_EQ(g.SetClientActiveCamera(0), 1);
    EXPECT_STREQ(g.GetLastErrorMsg(), before.c_str());

    ASSERT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.GetCamAttr(nullptr), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::GetCamAttr: Invalid argument");
    EXPECT_EQ(g.Display(&window, image), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::Display: Grab not created");
    EXPECT_EQ(g.SetActiveCamera(0, 0), 1);
    EXPECT_EQ(g.SetActiveCamera(1, 0), 0);
    EXPECT_EQ(g.GetActiveCamera(), 0);

    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    EXPECT_EQ(g.Display(nullptr, image), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::Display: Invalid argument");
    EXPECT_EQ(g.Display(&window, nullptr), 0);
    EXPECT_EQ(g.Display(&window, image), 1);

    struct Colour {
        IFW_IMAGE_COLOR_TYPE type;
        ULONG bytes, code;
    };
    const Colour colours[] = {
        {IFW_COLOR_PLANAR, 1, 8}, {IFW_COLOR_RGB32, 4, 4}, {IFW_COLOR_RGB24, 3, 5}, {IFW_COLOR_MONO, 1, 0}};
    for (const Colour& c : colours) {
        SCOPED_TRACE("colour type " + std::to_string(c.type));
        ASSERT_EQ(g.SetImageColor(c.type), 1);
        ASSERT_EQ(g.GetCamAttr(&attr), 1);
        EXPECT_EQ(attr.width, g.GetWidth());
        EXPECT_EQ(attr.height, g.GetHeight());
        EXPECT_EQ(attr.bytesPerPixel, c.bytes);
        EXPECT_EQ(attr.bitsPerPixel, 8 * c.bytes);
        EXPECT_EQ(attr.colorCode, c.code);
    }
    // Type 2 has eight cameras, but only camera 0 may be the client's.
    ASSERT_EQ(g.SetImageColor(IFW_COLOR_PLANAR), 1);
    EXPECT_EQ(g.SetClientActiveCamera(1), 0);
    EXPECT_EQ(g.SetClientActiveCamera(0), 1);
    EXPECT_EQ(g.SetActiveCamera(7, 0), 1);
    EXPECT_EQ(g.SetActiveCamera(8, 0), 0);

    // Camera-detected flags: set by back-ends, cleared by Terminate.
    g.SetCameraDetected(0, 1);
    g.SetCameraDetected(7, 1);
    EXPECT_EQ(g.IsCameraDetected(0), 1);
    EXPECT_EQ(g.IsCameraDetected(1), 0);
    EXPECT_EQ(g.IsCameraDetected(7), 1);
    EXPECT_EQ(g.IsCameraDetected(8), 0);
    EXPECT_EQ(g.IsCameraDetected(-1), 0);
    ASSERT_EQ(g.Terminate(), 1);
    ASSERT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.IsCameraDetected(0), 0);
    EXPECT_EQ(g.IsCameraDetected(7), 0);
}
