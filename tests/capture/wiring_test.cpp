// What ties the station's pieces together: controller channels that trigger
// GigE cameras, and scenes whose brightness follows exposure and gains.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/orv.h"
#include "station_fixture.h"
#include "support/bmp_writer.h"

using kiru::sim::Station;
using kiru::test::WaitUntil;

namespace {

class WiringTest : public kiru::test::StationTest {
protected:
    // Starts a one-buffer grab on camera `index` of an open "GEV" module.
    void Grab(ULONG index) {
        modules.emplace_back(OrxCreateCaptureModule("GEV", index, nullptr));
        ASSERT_NE(modules.back(), nullptr);
        frames.emplace_back(64 * 4);
        void* address = frames.back().data();
        grabs.push_back(modules.back()->GetCam(0)->Grab(1, &address, 1, -1));
        ASSERT_NE(grabs.back(), nullptr);
    }
    ULONG Acquired(std::size_t camera) {
        ORV_GRAB_STATS stats{};
        modules[camera]->GetGrabStats(grabs[camera], &stats);
        return stats.FramesAcquired + stats.FramesLost;
    }
    // One frame of a started camera, released again.
    const std::vector<unsigned char>& Frame(std::size_t camera) {
        void* address = nullptr;
        const int index =
            modules[camera]->GetCam(0)->GrabWaitFrame(grabs[camera], &address, -1, 20000, 1, nullptr, nullptr, nullptr);
        EXPECT_EQ(index, 0);
        modules[camera]->GetCam(0)->GrabRelease(grabs[camera], index);
        return frames[camera];
    }
    void Reload(const std::string& text) {
        modules.clear();
        frames.clear();
        grabs.clear();
        Load(text);
    }
    void TearDown() override {
        modules.clear();
        StationTest::TearDown();
    }
    std::vector<std::unique_ptr<CICapMod>> modules;
    std::vector<std::vector<unsigned char>> frames;
    std::vector<HGRAB> grabs;
};

void OnEvent(void* context) { ++*static_cast<std::atomic<int>*>(context); }

// A 24-bit bitmap of one colour (0xRRGGBB); its path.
std::string UniformScene(const char* name, int width, int height, std::uint32_t colour) {
    const std::string path = ::testing::TempDir() + name;
    EXPECT_TRUE(kiru_test::WriteBmp(path, kiru_test::SpecOf(width, height, 24), [&](int, int) { return colour; }));
    return path;
}

}  // namespace

TEST_F(WiringTest, ControllerTriggersReachTheCamerasWiredToTheirChannels) {
    std::string text;
    for (int i = 0; i < 5; ++i)
        text += "[GEV:" + std::to_string(i) + "]\nWidth = 8\nHeight = 4\nParam.9 = 1\nParam.10 = 2\n";
    Load(text + "[TRX]\nCh1.TriggerCameras = 2 3\n[RCS]\nCh1.TriggerCameras = none\n[USB:1]\n");
    for (ULONG i = 0; i < 5; ++i) Grab(i);
    std::atomic<int> side1Exposures{0};
    std::unique_ptr<CICapMod> trx(OrxCreateCaptureModule("TRX", 0, nullptr));
    std::unique_ptr<CICapMod> rcs(OrxCreateCaptureModule("RCS", 0, nullptr));
    std::unique_ptr<CICapMod> usb(OrxCreateCaptureModule("USB", 1, nullptr));
    trx->CreateIntrCallback(9, &OnEvent, &side1Exposures);

    struct Case {
        CICapMod* controller;
        ULONG channel;
        bool soft;  // parameter 13 written on the channel, else its trigger input
        std::vector<int> cameras;
    };
    const Case cases[] = {
        {trx.get(), 0, true, {0}},      // unwired channels trigger the camera of their number
        {trx.get(), 1, false, {2, 3}},  // a listed channel triggers its list
        {rcs.get(), 0, false, {0}},     // the trigger input passes pulses on
        {rcs.get(), 1, true, {}},       // a channel wired to nothing
        {usb.get(), 0, true, {4}},      // USB module m channel c: camera 4m + c
    };
    std::array<ULONG, 5> expected{};
    for (const Case& c : cases) {
        bool taken;
        if (c.soft) {
            ASSERT_EQ(c.controller->GetCam(c.channel)->SetAcqParam(13, 1.0, 0), 1);
            taken = !c.cameras.empty();
        } else {
            taken = Station::HardwareTrigger(c.controller->ModName(), c.controller->ModIndex(), c.channel);
        }
        EXPECT_EQ(taken, !c.cameras.empty()) << c.controller->ModName() << "/" << c.channel;
        for (int camera : c.cameras) ++expected[camera];
        for (std::size_t camera = 0; camera < expected.size(); ++camera) {
            EXPECT_TRUE(WaitUntil([&] { return Acquired(camera) == expected[camera]; }))
                << c.controller->ModName() << "/" << c.channel << " camera " << camera;
        }
    }
    // TRX side 1 raised its exposure event once; a camera not in hardware-trigger mode ignores the pulse.
    EXPECT_TRUE(WaitUntil([&] { return side1Exposures == 1; }));
    ASSERT_EQ(modules[0]->GetCam(0)->SetAcqParam(10, 0.0, 0), 1);
    EXPECT_FALSE(Station::HardwareTrigger("TRX", 0, 0));
}

TEST_F(WiringTest, SceneBrightnessFollowsExposureAndGainsInEachUnit) {
    const std::string path = UniformScene("wiring_scene.bmp", 2, 2, 0x503C28u);  // red 80, green 60, blue 40
    struct Case {
        const char* keys;
        ULONG exposure;
        std::array<double, 3> gains;  // red, green, blue as written
        std::array<int, 3> bgr;
    };
    const Case cases[] = {
        {"Param.0x4000 = 1000\n", 2000, {2.0, 1.0, 0.5}, {40, 120, 255}},  // reference: the station's exposure
        {"ExposureReference = 4000\nGainUnit = dB\n", 2000, {6.0206, 0.0, 0.0}, {20, 30, 80}},
        {"GainUnit = 1.5\n", 10000, {3.0, 1.5, 0.75}, {20, 60, 160}},
        {"GainUnit = off\n", 5000, {3.0, 1.5, 0.75}, {20, 30, 40}},  // the host applies gains, not the camera
    };
    for (const Case& c : cases) {
        Reload(std::string("[GEV]\nWidth = 2\nHeight = 2\nBytesPerPixel = 4\nParam.9 = 1\nParam.10 = 0\nImage = ") +
               path + "\n" + c.keys);
        Grab(0);
        CICamera* camera = modules[0]->GetCam(0);
        camera->SetAcqParam(0x4000, c.exposure, 0);
        for (int g = 0; g < 3; ++g) camera->SetAcqParam(77 + g, c.gains[g], 0);
        camera->SetAcqParam(13, 0.0, 0);
        const std::vector<unsigned char>& frame = Frame(0);
        for (int b = 0; b < 3; ++b) EXPECT_NEAR(frame[12 + b], c.bgr[b], 1) << c.keys << " byte " << b;
        EXPECT_EQ(frame[15], 0);
    }
}

