// Colour of the GigE back-end on cameras whose scene is a bitmap: the
// delivered image (Bayer mosaics demosaiced, 4-byte pixels cut to 3) and the
// white balance, whose gains the cameras or the conversion then apply.
#include <cmath>
#include <mutex>

#include "backends/gev/gev_fixture.h"
#include "support/bmp_writer.h"
#include "support/poll.h"

namespace kiru_test {
namespace {

constexpr ULONG kSide = 32, kPixels = kSide * kSide;  // the smallest frame Create takes
const std::string kBgr32 = "ColorFormat = 4\nBytesPerPixel = 4\nBitsPerPixel = 32\n";
const std::string kDecibels = "GainUnit = dB\nParam.77 = 0\nParam.78 = 0\nParam.79 = 0\n";

// A 32 x 32 camera section whose scene is uniformly 0xRRGGBB.
std::string Camera(int index, std::uint32_t rgb, const std::string& extra) {
    const std::string path = ::testing::TempDir() + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                             std::to_string(index) + "_" + std::to_string(rgb) + ".bmp";
    EXPECT_TRUE(WriteBmp(path, SpecOf(int(kSide), int(kSide), 24), [rgb](int, int) { return rgb; }));
    return "[GEV:" + std::to_string(index) + "]\nWidth = 32\nHeight = 32\nImage = " + path + "\n" + extra;
}

struct Seen {
    std::mutex mutex;
    std::vector<unsigned char> image;
    std::size_t bytes;
};
int OnFrame(unsigned char* image, unsigned int, std::int64_t, void* context) {
    auto* seen = static_cast<Seen*>(context);
    std::lock_guard<std::mutex> lock(seen->mutex);
    if (seen->image.empty()) seen->image.assign(image, image + seen->bytes);
    return 0;
}

// One software-triggered synchronous frame of every camera, as delivered.
std::vector<unsigned char> OneFrame(ParamGrab& grab, std::size_t bytes) {
    Seen seen;
    seen.bytes = bytes;
    grab.RegisterBufferCallback(&OnFrame, &seen);
    EXPECT_EQ(grab.Start(), 1);
    grab.GenerateSoftTrigger(-1);
    EXPECT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> lock(seen.mutex);
        return !seen.image.empty();
    }));
    grab.Stop();
    grab.UnRegisterBufferCallback();
    return seen.image;
}

// The grab object on `station`, created with `bits` per pixel, software-triggered.
std::unique_ptr<ParamGrab> Running(std::unique_ptr<ParamGrab> grab, ULONG bits) {
    grab->real = true;
    EXPECT_EQ(grab->Create(0, 0, kSide, kSide, bits, 2, 5000), 1);
    grab->SetTriggerMethod(IXGrab::TRIGGER_SOFTWARE);
    return grab;
}

// Each camera's pixels (of `step` bytes) are its scene's blue, green, red, within `tolerance`.
void ExpectScene(const std::vector<unsigned char>& image, std::size_t step, const std::vector<std::uint32_t>& rgb,
                 int tolerance, const std::string& what) {
    ASSERT_EQ(image.size(), rgb.size() * kPixels * step) << what;
    for (std::size_t p = 0; p < image.size() / step; ++p)
        for (int k = 0; k < 3; ++k)
            ASSERT_LE(std::abs(image[p * step + k] - int((rgb[p / kPixels] >> (8 * k)) & 0xFF)), tolerance)
                << what << " pixel " << p << " byte " << k;
}

TEST_F(GevParamTest, DeliveredFramesShowTheSceneInColour) {
    const struct { std::string kind; ULONG bits, step; } cases[] = {
        {"Param.74 = 1\n", 32, 4}, {"Param.74 = 2\n", 32, 4}, {"Param.74 = 3\n", 24, 3},
        {"Param.74 = 4\n", 32, 4}, {kBgr32, 24, 3},           {kBgr32, 32, 4}};
    for (const auto& c : cases) {
        auto grab = Running(Grab(Camera(0, 0x102030, c.kind) + Camera(1, 0xC86432, c.kind)), c.bits);
        ExpectScene(OneFrame(*grab, 2 * kPixels * c.step), c.step, {0x102030, 0xC86432}, 0, c.kind);
        // The ring keeps the camera's own pixels; without conversion they are the image itself.
        unsigned char* ring = static_cast<unsigned char*>(grab->GetFramePtr(0));
        EXPECT_EQ(grab->ConvertTo24(-1, ring) == ring, c.kind == kBgr32 && c.bits == 32) << c.kind;
        if (c.kind == kBgr32) ExpectScene({ring, ring + 2 * kPixels * 4}, 4, {0x102030, 0xC86432}, 0, "ring");
    }
}

// Camera 1 of two is balanced; camera 0 would be too bright to measure. The
// brightest channel keeps its level; Bayer blue gets three quarters at most.
TEST_F(GevParamTest, WhiteBalanceProgramsGainsThatEvenTheChannels) {
    const std::string bayer = "Param.74 = 1\nGainUnit = 1.5\nParam.77 = 1.5\nParam.78 = 1.5\nParam.79 = 1.5\n";
    const std::string marlo = "Param.74 = 1\nGainUnit = off\nParam.77 = 1\nParam.78 = 1\nParam.79 = 1\n";
    const struct { std::string first, kind; std::uint32_t scene, balanced; double blue, green, red; } cases[] = {
        {"", kBgr32 + kDecibels, 0xC86432, 0xC8C8C8, 12.0412, 6.0206, 0.0},
        {"", bayer, 0x5A7864, 0x78785A, 1.35, 1.5, 2.0},
        {"Text.67 = Marlo TS\n", marlo, 0x5A7864, 0x78785A, 0.9, 1.0, 4.0 / 3}};
    for (const auto& c : cases) {
        auto grab = Running(Grab(Camera(0, 0xFFFFFF, c.first + c.kind) + Camera(1, c.scene, c.kind)), 32);
        OneFrame(*grab, 2 * kPixels * 4);
        IFW_RECT rect{2, 1, 4, 2};
        EXPECT_EQ(grab->ComputeWhiteBalance(1, &rect), 1);
        EXPECT_NEAR(Param(1, 79), c.blue, 1e-4) << c.kind;
        EXPECT_NEAR(Param(1, 78), c.green, 1e-4) << c.kind;
        EXPECT_NEAR(Param(1, 77), c.red, 1e-4) << c.kind;
        EXPECT_EQ(grab->ComputeWhiteBalance(0, &rect), 0) << c.kind;  // too bright
        const std::vector<unsigned char> image = OneFrame(*grab, 2 * kPixels * 4);
        ExpectScene({image.begin() + kPixels * 4, image.end()}, 4, {c.balanced}, 1, c.kind);
    }
    auto mono = Grab("[GEV]\n");  // nothing to balance
    IFW_RECT rect{0, 0, 4, 4};
    EXPECT_EQ(mono->ComputeWhiteBalance(0, &rect), 1);
    EXPECT_EQ(mono->ComputeWhiteBalance(1, &rect), 0);
    EXPECT_TRUE(Station::Trace().empty());
}

// Too bright a rectangle lowers the exposure by 30 % and tries again, at most
// eight times; the exposure is restored and the camera saves its user set.
TEST_F(GevParamTest, WhiteBalanceLowersTheExposureUntilTheRectangleFits) {
    for (const int result : {1, 0}) {  // 0: a scene that stays too bright
        const std::string reference = result ? "" : "ExposureReference = 100\n";
        auto grab = Running(Grab(Camera(0, 0xC8FFC8, kBgr32 + kDecibels + "Param.0x4000 = 10000\n" + reference)), 32);
        ASSERT_EQ(grab->Start(), 1);
        grab->GenerateSoftTrigger(0);
        ASSERT_TRUE(WaitUntil([&] { return grab->GetFrameCount(0) > 0; }));
        IFW_RECT rect{0, 0, kSide, kSide};
        EXPECT_EQ(grab->SetWhiteBalance(0, &rect), result);
        EXPECT_EQ(grab->IsGrabRunning(), 1);
        grab->Stop();
        const TraceLines lines = TracedLines("GEV:0/0 SetAcqParam 16384");
        ASSERT_TRUE(lines.size() >= 2 && lines.size() <= 9) << lines.size();
        EXPECT_TRUE(result || lines.size() == 9u);
        for (std::size_t i = 0, e = 70; i + 1 < lines.size(); ++i, e = e * 7 / 10)
            EXPECT_EQ(lines[i], "GEV:0/0 SetAcqParam 16384 " + std::to_string(e * 100) + " 0");
        EXPECT_EQ(lines.back(), "GEV:0/0 SetAcqParam 16384 10000 0");
        EXPECT_GE(TracedLines("GEV:0/0 SetAcqParam 13 0 0").size(), lines.size() - 1);  // a fresh frame after each
        EXPECT_EQ(TracedLines("GEV:0 SaveUserSet"), TraceLines{"GEV:0 SaveUserSet 1 0"});
        EXPECT_EQ(grab->GetExposure(), 100.0);
    }
}

}  // namespace
}  // namespace kiru_test
