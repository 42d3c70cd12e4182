// Real GigE Vision cameras behind "GEV" slots, against Aravis's fake camera
// in a private network namespace: selection, identity, parameters reaching
// the device, frames streamed into the ring, lost frames, and a camera that
// vanishes and comes back.
#include <gtest/gtest.h>
#include <kiru/kiru.h>
#include <kiru/station.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/aravis/device.h"
#include "capture/aravis/mapping.h"
#include "capture/camera.h"
#include "capture/gige.h"
#include "capture/orx.h"
#include "fake_camera.h"
#include "platform/clock.h"
#include "support/poll.h"

namespace {

using kiru::sim::Station;
using kiru_test::Control;
using kiru_test::WaitUntil;

// ---- The mapping, without a camera ------------------------------------------

TEST(GigeMapping, FrameIdsWrapAndSkipZero) {
    struct Case {
        std::uint64_t from, to, distance;
    } cases[] = {
        {65400, 65401, 1}, {65534, 65535, 1}, {65535, 1, 1},   // 16-bit ids skip 0 when they wrap
        {65535, 3, 3},     {65530, 2, 7},     {10, 13, 3},     // frames lost across and before the wrap
        {13, 10, 0},       {7, 7, 0},         {70000, 70005, 5},  // earlier or repeated; 64-bit ids
        {70005, 70000, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kiru::gev::FrameIdDistance(c.from, c.to), c.distance) << c.from << " -> " << c.to;
    }
}

TEST(GigeMapping, PixelFormatsTriggerSourcesAndTexts) {
    struct Format {
        const char* name;
        ULONG bytes, color, bayer;
        bool known;
    } formats[] = {{"Mono8", 1, ORV_COLOR_MONO8, 0, true},      {"BayerRG8", 1, ORV_COLOR_MONO8, ORV_BAYER_RG, true},
                   {"BayerBG8", 1, ORV_COLOR_MONO8, ORV_BAYER_BG, true}, {"BGRa8", 4, ORV_COLOR_BGR32, 0, true},
                   {"Mono16", 2, ORV_COLOR_MONO16, 0, true},    {"YUV422_8", 0, 0, 0, false}};
    for (const Format& f : formats) {
        const kiru::gev::PixelLayout l = kiru::gev::PixelFormatLayout(f.name);
        EXPECT_EQ(l.known, f.known) << f.name;
        EXPECT_EQ(l.bytesPerPixel, f.bytes) << f.name;
        EXPECT_EQ(l.colorFormat, f.color) << f.name;
        EXPECT_EQ(l.bayer, f.bayer) << f.name;
    }
    for (ULONG source = 0; source <= 5; ++source) {
        ULONG back = 99;
        ASSERT_TRUE(kiru::gev::TriggerSourceNumber(kiru::gev::TriggerSourceEntry(source), &back));
        EXPECT_EQ(back, source);
    }
    EXPECT_EQ(kiru::gev::TriggerSourceEntry(2), "Line1");
    EXPECT_EQ(kiru::gev::TriggerSourceEntry(kiru::gev::kSourceTimer), "");
    EXPECT_EQ(kiru::gev::MacText(0x0002, 0xA1B2C3D4), "00:02:a1:b2:c3:d4");
}

// ---- Against the fake camera ---------------------------------------------------

constexpr const char* kStation = "[GEV:0]\nDevice = 127.0.0.1\n";

// What the frame callbacks and acquire events saw.
struct Seen {
    std::mutex mutex;
    std::vector<unsigned char*> images;
    std::vector<bool> rampOk;  // the image is the fake camera's diagonal ramp
    std::vector<std::pair<int, ULONG>> events;
    std::size_t Frames() {
        std::lock_guard<std::mutex> lock(mutex);
        return images.size();
    }
    std::size_t Events() {
        std::lock_guard<std::mutex> lock(mutex);
        return events.size();
    }
};

// The fake camera's Mono8 pattern at exposure 10000 and gain 0: pixel (x, y)
// of frame id f is (x + y + f) mod 255.
bool IsRamp(const unsigned char* image, int width, int height) {
    const int first = image[0];
    for (int y = 0; y < height; y += 37) {
        for (int x = 0; x < width; x += 13) {
            if (image[y * width + x] != (first + x + y) % 255) return false;
        }
    }
    return true;
}

int OnFrame(unsigned char* image, unsigned int, std::int64_t, void* context) {
    auto* seen = static_cast<Seen*>(context);
    const bool ramp = image != nullptr && IsRamp(image, 512, 512);
    std::lock_guard<std::mutex> lock(seen->mutex);
    seen->images.push_back(image);
    seen->rampOk.push_back(ramp);
    return 0;
}

int OnEvent(void* context, IFW_ACQ_EVENT_TYPE event, ULONG value) {
    auto* seen = static_cast<Seen*>(context);
    std::lock_guard<std::mutex> lock(seen->mutex);
    seen->events.emplace_back(static_cast<int>(event), value);
    return 0;
}

struct GrabDeleter {
    void operator()(IXGrab* grab) const { KiruGrabDelete(grab); }
};

class RealCamera : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string why = kiru_test::NotInPrivateNamespace();
        if (!why.empty()) GTEST_SKIP() << why;
        if (!kiru::gev::Supported()) GTEST_SKIP() << "built without Aravis";
        setenv("KIRU_NO_MESSAGE_BOX", "1", 1);
        Station::Reset();
        ASSERT_TRUE(camera_.Start()) << "arv-fake-gv-camera-0.8 did not answer";
        // The fake camera's defaults, set explicitly: Mono8 512 x 512, ramp scale 1.
        for (const char* setting : {"Width=512", "Height=512", "PixelFormat=Mono8", "ExposureTimeAbs=10000",
                                    "GainRaw=0", "TriggerMode=Off", "AcquisitionFrameRate=25"})
            kiru_test::Run(std::string("arv-tool-0.8 -a 127.0.0.1 control ") + setting + " >/dev/null 2>&1");
    }
    void TearDown() override {
        grab_.reset();
        Station::Reset();
        unsetenv("KIRU_GIGE");
    }

    // A "MARLO" grab object brought up on the station text.
    IXGrab* Bring(const std::string& station) {
        if (!station.empty()) {
            std::string error;
            EXPECT_TRUE(Station::LoadText(station, "real.ini", &error)) << error;
        }
        char keyword[16] = "MARLO";  // the factory clears 8 bytes of it
        grab_.reset(KiruGrabInstantiate(keyword));
        return grab_.get();
    }
    // Created with `buffers` ring buffers and the callbacks registered.
    bool Ready(IXGrab* grab, ULONG buffers) {
        constexpr ULONG kKeep = 0xFFFFFFFEu;
        if (!grab->Initialize() || !grab->Create(0, 0, kKeep, kKeep, kKeep, buffers, kKeep)) return false;
        grab->RegisterBufferCallback(&OnFrame, &seen_);
        grab->RegisterAcquireEventCallback(&OnEvent, &seen_);
        return true;
    }

    kiru_test::FakeCamera camera_;
    std::unique_ptr<IXGrab, GrabDeleter> grab_;
    Seen seen_;
};

TEST_F(RealCamera, StationSlotIsTheCameraWithItsIdentityAndSettings) {
    IXGrab* grab = Bring(kStation);
    ASSERT_NE(grab, nullptr);
    EXPECT_EQ(grab->GetGrabType(), IGRAB_GEV);
    ASSERT_TRUE(grab->Initialize());
    char desc[260] = "";
    ASSERT_TRUE(grab->GetCameraDesc(0, desc));
    EXPECT_STREQ(desc, "Fake-GV01");
    EXPECT_EQ(grab->GetWidth(), 512u);
    EXPECT_EQ(grab->GetHeight(), 512u);
    // Bring-up raised the packet size from 1400 to 8228.
    EXPECT_EQ(Control("GevSCPSPacketSize"), "8228");

    // Exposure reaches ExposureTimeAbs (the fake camera has no ExposureTime);
    // register 0x0D08 goes to the device; the trigger method programs the
    // trigger features.
    ASSERT_TRUE(grab->SetExposure(123.0, -1));
    EXPECT_EQ(Control("ExposureTimeAbs"), "12300");
    grab->WriteReg(0x0D08, 77);
    EXPECT_EQ(Control("R[0x0D08]"), "0x0000004d");
    EXPECT_EQ(grab->ReadReg(0x0D08), 77u);
    EXPECT_NE(grab->ReadReg(0x0A00), 0u);  // we hold control
    grab->SetTriggerMethod(IXGrab::TRIGGER_SOFTWARE);
    EXPECT_TRUE(grab->SetTriggerParams());
    EXPECT_EQ(Control("TriggerMode"), "On");
    EXPECT_EQ(Control("TriggerSource"), "Software");
}

TEST_F(RealCamera, ModuleRefusalsAreClearNotFatal) {
    std::string error;
    ASSERT_TRUE(Station::LoadText(std::string(kStation) + "[GEV:1]\nDevice = 127.0.0.2\n", "real.ini", &error));
    EXPECT_EQ(OrxCreateCaptureModule("GEV", 1, nullptr), nullptr);  // nothing answers there
    std::unique_ptr<CICapMod> module(OrxCreateCaptureModule("GEV", 0, nullptr));
    ASSERT_NE(module, nullptr);
    CICamera* cam = module->GetCam(0);
    ASSERT_NE(cam, nullptr);
    EXPECT_EQ(module->GetCam(1), nullptr);
    EXPECT_EQ(cam->SetAcqParam(0x4004, 1.0), 0);  // a parameter with no feature
    EXPECT_FALSE(cam->IsParamSupported(0x4004));
    double value = 0;
    EXPECT_TRUE(cam->GetAcqParam(74, &value));  // Mono8: no Bayer layout
    EXPECT_EQ(value, 0.0);
    ORV_PARAM_CAPS caps{};
    ASSERT_TRUE(cam->GetParamCaps(0x4000, &caps));
    EXPECT_EQ(caps.Min, 10.0);
    EXPECT_EQ(cam->CheckParamValue(95, 5000.0), 1000.0);
    // A frame that would not fit the ring's buffers is refused before streaming.
    ASSERT_TRUE(cam->SetAoi(0, 0, 64, 64));
    ASSERT_TRUE(static_cast<CGige*>(module.get())->SetEnumVal("PixelFormat", "Mono16"));
    std::vector<unsigned char> ring(2 * 64 * 64);
    void* buffers[2] = {ring.data(), ring.data() + 64 * 64};
    EXPECT_EQ(cam->Grab(1, buffers, 2, -1), nullptr);
}

TEST_F(RealCamera, FramesFillTheRingInOrderFreeRunningOrOnSoftwareTriggers) {
    IXGrab* grab = Bring(kStation);
    ASSERT_TRUE(Ready(grab, 4));
    ASSERT_TRUE(grab->SetFrameDelay(20));  // 50 frames per second
    ASSERT_TRUE(grab->Start());
    ASSERT_TRUE(WaitUntil([&] { return seen_.Frames() >= 12; }));
    grab->Stop();
    {
        std::lock_guard<std::mutex> lock(seen_.mutex);
        const unsigned char* base = seen_.images[0];
        for (std::size_t i = 0; i < seen_.images.size(); ++i) {
            const std::ptrdiff_t slot = (seen_.images[i] - seen_.images[i % 4]);
            EXPECT_EQ(slot, 0) << "frame " << i << " is not in ring slot " << i % 4;
            EXPECT_TRUE(seen_.rampOk[i]) << "frame " << i;
        }
        // Four distinct slots of one frame each.
        EXPECT_EQ(seen_.images[1] - base, 512 * 512);
        EXPECT_EQ(seen_.images[3] - base, 3 * 512 * 512);
    }

    grab->SetTriggerMethod(IXGrab::TRIGGER_SOFTWARE);
    ASSERT_TRUE(grab->Start());
    EXPECT_EQ(Control("TriggerMode"), "On");
    // The fake camera looks for triggers at 25 Hz: each answers within ~100 ms.
    const std::size_t before = seen_.Frames();
    for (std::size_t wanted = 1; wanted <= 3; ++wanted) {
        ASSERT_TRUE(grab->GenerateSoftTrigger(0));
        ASSERT_TRUE(WaitUntil([&] { return seen_.Frames() >= before + wanted; })) << "trigger " << wanted;
    }
    grab->Stop();
}

TEST_F(RealCamera, HeldBuffersLoseFramesAndTheNumbersSkipThem) {
    std::string error;
    ASSERT_TRUE(Station::LoadText(kStation, "real.ini", &error));
    std::unique_ptr<CICapMod> module(OrxCreateCaptureModule("GEV", 0, nullptr));
    ASSERT_NE(module, nullptr);
    CICamera* cam = module->GetCam(0);
    ASSERT_TRUE(static_cast<CGige*>(module.get())->SetVal("AcquisitionFrameRate", 200.0));
    std::vector<unsigned char> ring(2 * 512 * 512);
    void* buffers[2] = {ring.data(), ring.data() + 512 * 512};
    HGRAB handle = cam->Grab(1, buffers, 2, -1);
    ASSERT_NE(handle, nullptr);
    void* address = nullptr;
    GRAB_EXT_ATTR first{}, second{}, third{};
    ASSERT_GE(cam->GrabWaitFrame(handle, &address, -1, 5000, 1, nullptr, nullptr, &first), 0);
    ASSERT_GE(cam->GrabWaitFrame(handle, &address, -1, 5000, 1, nullptr, nullptr, &second), 0);
    EXPECT_EQ(second.FrameNumber, first.FrameNumber + 1);
    ORV_GRAB_STATS stats{};
    ASSERT_TRUE(module->GetGrabStats(handle, &stats));
    EXPECT_EQ(stats.BuffersLocked, 2u);
    // Both buffers held while the camera runs on (200 frames per second):
    // the frames of these 100 ms find no buffer.
    const double held = NowMs();
    WaitUntil([&] { return NowMs() - held >= 100.0; });
    EXPECT_EQ(cam->GrabRelease(handle, -1), 1);
    const int index = cam->GrabWaitFrame(handle, &address, -1, 5000, 1, nullptr, nullptr, &third);
    ASSERT_GE(index, 0);
    EXPECT_EQ(address, buffers[index]);
    EXPECT_GT(third.FrameNumber, second.FrameNumber + 3);
    EXPECT_EQ(third.LostFrames, third.FrameNumber - 3);  // every frame between was lost
    ASSERT_TRUE(module->GetGrabStats(handle, &stats));
    EXPECT_EQ(stats.FramesLost, third.LostFrames);
    EXPECT_EQ(stats.FramesAcquired, 3u);
    EXPECT_TRUE(IsRamp(static_cast<unsigned char*>(address), 512, 512));
    EXPECT_EQ(cam->GrabStop(handle), 1);
    EXPECT_EQ(cam->GrabWaitFrame(handle, &address, -1, 0, 1, nullptr, nullptr, nullptr), -2);
}

TEST_F(RealCamera, LostCameraIsReportedAndRecovered) {
    IXGrab* grab = Bring(kStation);
    grab->SetASyncMode(0);
    ASSERT_TRUE(Ready(grab, 4));
    ASSERT_TRUE(grab->Start());
    ASSERT_TRUE(WaitUntil([&] { return seen_.Frames() >= 3; }));
    camera_.Stop();
    ASSERT_TRUE(WaitUntil([&] { return seen_.Events() >= 1; }, std::chrono::seconds(60)));
    {
        std::lock_guard<std::mutex> lock(seen_.mutex);
        EXPECT_EQ(seen_.events[0], std::make_pair(0, ULONG{0}));  // camera 0 lost
    }
    ASSERT_TRUE(camera_.Start());
    ASSERT_TRUE(WaitUntil([&] { return seen_.Events() >= 2; }, std::chrono::seconds(60)));
    const std::size_t before = seen_.Frames();
    ASSERT_TRUE(WaitUntil([&] { return seen_.Frames() >= before + 3; }));
    {
        std::lock_guard<std::mutex> lock(seen_.mutex);
        EXPECT_EQ(seen_.events[1].first, 1);  // reopened
    }
    grab->Stop();
}

TEST_F(RealCamera, DiscoveryFillsSlotsOnlyWhenAskedFor) {
    // No station and no KIRU_GIGE: nothing is looked for, the emulator answers.
    EXPECT_EQ(Bring("")->GetGrabType(), IGRAB_EMULATOR);
    setenv("KIRU_GIGE", "discover", 1);
    IXGrab* grab = Bring("");
    EXPECT_EQ(grab->GetGrabType(), IGRAB_GEV);
    ASSERT_TRUE(grab->Initialize());
    char desc[260] = "";
    ASSERT_TRUE(grab->GetCameraDesc(0, desc));
    EXPECT_STREQ(desc, "Fake-GV01");
}

// kiru-grab shows the real camera's name, frames and lost frames, whether the
// camera is named in a station file or found by discovery.
TEST_F(RealCamera, KiruGrabShowsTheCamera) {
    const std::string tool = std::string(KIRU_BINARY_DIR) + "/tools/kiru-grab";
    const std::string station = ::testing::TempDir() + "/real_camera.ini";
    {
        FILE* f = std::fopen(station.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(kStation, f);
        std::fclose(f);
    }
    for (const std::string& how : {"--station " + station, std::string("")}) {
        const std::string env = how.empty() ? "KIRU_GIGE=discover " : "";
        int status = -1;
        const std::string out = kiru_test::Run(env + tool + " -q -n 10 --delay 20 --keyword MARLO " + how, &status);
        ASSERT_EQ(status, 0) << how << "\n" << out;
        EXPECT_NE(out.find("grab type: 8 (GigE)"), std::string::npos) << out;
        EXPECT_NE(out.find("camera 0 description: Fake-GV01"), std::string::npos) << out;
        EXPECT_NE(out.find("frames delivered: 1"), std::string::npos) << out;  // 10 or a few more
        EXPECT_NE(out.find("frames lost: "), std::string::npos) << out;
    }
}

}  // namespace
