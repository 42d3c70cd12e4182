// Colour of the GigE back-end: the delivered image (Bayer planes demosaiced,
// 4-byte pixels cut to 3) and the white balance on frames of known content.
#include "backends/gev/param_grab.h"

namespace kiru_test {
namespace {

constexpr ULONG kW = 8, kH = 4;
const std::string kBayerGeometry = "Width = 8\nHeight = 4\nParam.74 = 1\n";
const std::string kBayer = kBayerGeometry + "Param.77 = 1\nParam.78 = 1\nParam.79 = 1\n";
const std::string kBgr32 = "Width = 8\nHeight = 4\nColorFormat = 4\nBytesPerPixel = 4\nBitsPerPixel = 32\n"
                           "Param.77 = 0\nParam.78 = 0\nParam.79 = 0\n";

// A raw plane of one colour in the red-first layout (R G / G B).
void Mosaic(unsigned char* plane, int r, int g, int b) {
    for (ULONG y = 0; y < kH; ++y)
        for (ULONG x = 0; x < kW; ++x)
            plane[y * kW + x] = static_cast<unsigned char>((y % 2) == (x % 2) ? (y % 2 ? b : r) : g);
}

std::vector<unsigned char> Uniform32(int b, int g, int r) {
    std::vector<unsigned char> frame(kW * kH * 4);
    for (std::size_t i = 0; i < frame.size(); i += 4) frame[i] = b, frame[i + 1] = g, frame[i + 2] = r;
    return frame;
}

// Every pixel of `count` pixels of `step` bytes is blue, green, red.
void ExpectPixels(const unsigned char* image, std::size_t count, std::size_t step, int b, int g, int r,
                  const std::string& what) {
    for (std::size_t i = 0; i < count; ++i, image += step)
        ASSERT_TRUE(image[0] == b && image[1] == g && image[2] == r)
            << what << " pixel " << i << ": " << +image[0] << " " << +image[1] << " " << +image[2];
}

TEST_F(GevParamTest, FourBytePixelsAreCutToThreeAndTheSourceKept) {
    auto grab = Grab("[GEV:0]\n" + kBgr32 + "[GEV:1]\n" + kBgr32);
    std::vector<unsigned char> source(2 * kW * kH * 4);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i * 7 + 3);
    const std::vector<unsigned char> before = source;
    EXPECT_EQ(grab->ConvertTo24(-1, source.data()), source.data());  // no conversion asked for
    grab->Use24BitOutput();
    unsigned char* out = grab->ConvertTo24(1, source.data());
    ASSERT_EQ(out, grab->ColourBuffer());
    for (std::size_t p = 0; p < kW * kH; ++p) {
        ASSERT_EQ(out[p * 3], 0) << "camera 0 converted too";
        ASSERT_EQ(std::memcmp(out + (kW * kH + p) * 3, &source[(kW * kH + p) * 4], 3), 0) << p;
    }
    grab->ConvertTo24(-1, source.data());
    for (std::size_t p = 0; p < 2 * kW * kH; ++p) ASSERT_EQ(std::memcmp(out + p * 3, &source[p * 4], 3), 0) << p;
    EXPECT_EQ(source, before);
}

// Gains take part in the conversion only for cameras named "Marlo" or "Wren".
TEST_F(GevParamTest, BayerPlanesBecomeColourImages) {
    const struct { const char* extra; bool use24; int blue; } cases[] = {
        {"", false, 50}, {"", true, 50}, {"Text.67 = Marlo TS\n", false, 25}, {"Text.67 = Wren 5\n", true, 25}};
    for (const auto& c : cases) {
        auto grab = Grab("[GEV:0]\n" + kBayerGeometry + c.extra + "Param.77 = 1\nParam.78 = 1\nParam.79 = 0.5\n" +
                         "[GEV:1]\n" + kBayer);
        if (c.use24) grab->Use24BitOutput();
        const std::size_t step = c.use24 ? 3 : 4;
        std::vector<unsigned char> slot(2 * kW * kH);
        Mosaic(slot.data(), 200, 100, 50);
        Mosaic(slot.data() + kW * kH, 10, 20, 30);
        unsigned char* out = grab->ConvertTo24(-1, slot.data());
        ASSERT_EQ(out, grab->ColourBuffer());
        ExpectPixels(out, kW * kH, step, c.blue, 100, 200, std::string("camera 0 ") + c.extra);
        ExpectPixels(out + kW * kH * step, kW * kH, step, 30, 20, 10, std::string("camera 1 ") + c.extra);
    }
}

TEST_F(GevParamTest, WhiteBalanceProgramsTheGainsFromTheRectangle) {
    IFW_RECT rect{2, 1, 4, 2};
    {  // monochrome: nothing to balance
        auto grab = Grab("[GEV]\n");
        EXPECT_EQ(grab->ComputeWhiteBalance(0, &rect), 1);
        EXPECT_EQ(grab->ComputeWhiteBalance(1, &rect), 0);
        EXPECT_TRUE(kiru::sim::Station::Trace().empty());
    }
    {  // 4-byte colour pixels, gains in decibels
        auto grab = Grab("[GEV]\n" + kBgr32);
        std::vector<unsigned char> frame = Uniform32(50, 100, 200);
        grab->SetFrame(frame.data());
        EXPECT_EQ(grab->ComputeWhiteBalance(0, &rect), 1);
        EXPECT_NEAR(StationParam("GEV", 0, 79), 12.0412, 1e-4);
        EXPECT_NEAR(StationParam("GEV", 0, 78), 6.0206, 1e-4);
        EXPECT_NEAR(StationParam("GEV", 0, 77), 0.0, 1e-9);
        frame = Uniform32(250, 100, 100);  // blue above 0.97 x 255
        grab->SetFrame(frame.data());
        kiru::sim::Station::ClearTrace();
        EXPECT_EQ(grab->ComputeWhiteBalance(0, &rect), 0);
        EXPECT_TRUE(kiru::sim::Station::Trace().empty());
    }
    // Bayer: camera 1 of two measured on the converted image; blue limited
    // to three quarters, green the largest.
    const struct { const char* name; double blue, green, red; } bayer[] = {{"", 1.35, 1.5, 2.0},
                                                                          {"Text.67 = Marlo TS\n", 0.9, 1.0, 4.0 / 3}};
    for (const auto& c : bayer) {
        auto grab = Grab("[GEV:0]\n" + kBayer + c.name + "[GEV:1]\n" + kBayer);
        std::vector<unsigned char> slot(2 * kW * kH);
        Mosaic(slot.data(), 250, 250, 250);
        Mosaic(slot.data() + kW * kH, 90, 120, 100);
        grab->SetFrame(slot.data());
        EXPECT_EQ(grab->ComputeWhiteBalance(1, &rect), 1);
        EXPECT_NEAR(StationParam("GEV", 1, 79), c.blue, 1e-9) << c.name;
        EXPECT_NEAR(StationParam("GEV", 1, 78), c.green, 1e-9) << c.name;
        EXPECT_NEAR(StationParam("GEV", 1, 77), c.red, 1e-9) << c.name;
        EXPECT_TRUE(Lines("GEV:0").empty());
    }
}

// Too bright a rectangle lowers the exposure by 30 % and tries again, at most
// eight times; the exposure is restored and the camera saves its user set.
TEST_F(GevParamTest, WhiteBalanceLowersTheExposureUntilTheRectangleFits) {
    const struct { double gain; int result; std::vector<int> exposures; } cases[] = {
        {300.0, 1, {7000, 10000}},
        {1e6, 0, {7000, 4900, 3400, 2300, 1600, 1100, 700, 400, 10000}},
    };
    for (const auto& c : cases) {
        auto grab = Grab("[GEV]\nParam.0x4000 = 10000\n" + kBgr32);
        std::vector<unsigned char> frame = Uniform32(200, 200, 200);
        // The scene's green follows the exposure the camera holds.
        grab->SetFrameSource([&] {
            const double level = c.gain * StationParam("GEV", 0, 0x4000) / 10000;
            for (std::size_t i = 1; i < frame.size(); i += 4) frame[i] = level > 255 ? 255 : int(level);
            return frame.data();
        });
        IFW_RECT rect{0, 0, kW, kH};
        EXPECT_EQ(grab->SetWhiteBalance(0, &rect), c.result);
        std::vector<std::string> expected;
        for (int e : c.exposures) expected.push_back("GEV:0/0 SetAcqParam 16384 " + std::to_string(e) + " 0");
        EXPECT_EQ(Lines("GEV:0/0 SetAcqParam 16384"), expected);
        // The frame never changes, so each lowering fires six software frames.
        EXPECT_EQ(Lines("GEV:0/0 SetAcqParam 13 0 0").size(), 6 * (c.exposures.size() - 1));
        EXPECT_EQ(Lines("GEV:0 SaveUserSet"), TraceLines{"GEV:0 SaveUserSet 1 0"});
        EXPECT_EQ(grab->GetExposure(), 100.0);
    }
}

}  // namespace
}  // namespace kiru_test
