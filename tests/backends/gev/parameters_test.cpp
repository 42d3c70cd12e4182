// Camera parameters of the GigE back-end on simulated stations: the store and
// its replay, exposure, brightness and contrast, trigger programming, trigger
// scaler, register routing, gain conversions and result-output script lines.
#include <atomic>
#include <thread>

#include "backends/gev/gev_fixture.h"
#include "platform/kernel.h"
#include "support/poll.h"

namespace kiru_test {
namespace {

const char* const kTwo = "[GEV:0]\nCaps.58 = 0 255\nCaps.0x4003 = 0 200\n[GEV:1]\nCaps.58 = 0 1000\n";
const TraceLines kSoftware{"GEV:0/0 SetAcqParam 9 1 0", "GEV:0/0 SetAcqParam 10 0 0"};

TEST(GevParamStore, SlotsMapToParameterNumbers) {
    const ULONG ids[][2] = {{0, 0}, {95, 95}, {96, 0x4000}, {118, 0x4016}, {119, 0}};
    for (const auto& c : ids) EXPECT_EQ(CIGrabGev::GetParamId(c[0]), c[1]) << c[0];
    const ULONG slots[][2] = {{95, 95}, {96, 0}, {0x3FFF, 0}, {0x4000, 96}, {0x4016, 118}, {0x4017, 0}};
    for (const auto& c : slots) EXPECT_EQ(CIGrabGev::GetParamIndex(c[0]), c[1]) << c[0];
}

TEST_F(GevParamTest, ApplyParametersReplaysTheStoreInSlotOrderThenTheTrigger) {
    auto grab = Grab(kTwo);
    grab->SetTriggerMethod(IXGrab::TRIGGER_SOFTWARE);
    grab->SetCamParam(0x4003, 7.0, 0);
    grab->SetCamParam(83, 300.0, 1);
    grab->SetCamParam(83, 20.0, 0);
    grab->SetCamParam(0x7013002, 1.0, 0);  // outside the store
    grab->SetExposure(12.0, 0);
    Station::ClearTrace();
    grab->ApplyParameters(0);
    // Lower slots first (the output parameters Initialize stored come later), the trigger last.
    const TraceLines trace = Station::Trace();
    ASSERT_GE(trace.size(), 6u);
    EXPECT_EQ(TraceLines(trace.begin(), trace.begin() + 4),
              (TraceLines{"GEV:0/0 SetAcqParam 83 20 0", "GEV:0/0 SetAcqParam 83 300 1",
                          "GEV:0/0 SetAcqParam 16384 1200 0", "GEV:0/0 SetAcqParam 16387 7 0"}));
    EXPECT_EQ(TraceLines(trace.end() - 2, trace.end()), kSoftware);
    EXPECT_TRUE(TracedLines("GEV:0/0 SetAcqParam 117518338").empty());
    grab->SetTiling(2, 1);  // tiled: every camera
    Station::ClearTrace();
    grab->SetCamParam(22, 4.0, 0);
    EXPECT_EQ(Station::Trace(), (TraceLines{"GEV:0/0 SetAcqParam 22 4 0", "GEV:1/0 SetAcqParam 22 4 0"}));
}

TEST_F(GevParamTest, ExposureReachesCamerasAndStrobesOfTheControllers) {
    auto grab = Grab(std::string(kTwo) + "[TRX]\n[RCS]\n[USB]\n");
    EXPECT_EQ(grab->SetExposure(50.0, -1), 1);  // nothing stored for camera 0 yet: every camera
    EXPECT_EQ(TracedLines("GEV"), (TraceLines{"GEV:0/0 SetAcqParam 16384 5000 0", "GEV:1/0 SetAcqParam 16384 5000 0"}));
    EXPECT_EQ(TracedLines("TRX:0/0 SetAcqParam 16396"), TraceLines{"TRX:0/0 SetAcqParam 16396 0 0"});
    grab->SetRejectorEnabled(1);  // 640 x 480 / 80 is below the 12000 floor
    grab->SetExposure(20.0, 1);
    EXPECT_EQ(grab->GetCamExposure(1) + grab->GetExposure(), 70.0);
    Station::ClearTrace();
    EXPECT_EQ(grab->SetExposure(30.0, 0), 1);  // camera 0's exposure now stored: only the active camera
    EXPECT_EQ(grab->SetExposure(40.0, -1), 1);
    EXPECT_EQ(grab->SetExposure(60.0, 2), 1);  // beyond the cameras
    EXPECT_EQ(Station::Trace(), (TraceLines{"GEV:0/0 SetAcqParam 16384 3000 0", "GEV:0/0 SetAcqParam 16384 4000 0",
                                            "TRX:0/0 SetAcqParam 16396 12000 0",
                                            "RCS:0/0 SetAcqParam 117518338 12000 0",
                                            "USB:0/0 SetAcqParam 16389 12000 0"}));
    Station::ClearTrace();
    grab->ApplyParameters(1);
    EXPECT_EQ(TracedLines("GEV:1/0 SetAcqParam 16384"), TraceLines{"GEV:1/0 SetAcqParam 16384 2000 0"});
}

// Changes a running camera must see are made between Stop and Start.
TEST_F(GevParamTest, RunningCamerasAreReprogrammedBetweenStopAndStart) {
    auto grab = Grab("[GEV:0]\nParam.28 = 1\n[GEV:1]\n");
    grab->Start();
    const struct { std::function<int()> change; TraceLines lines; } cases[] = {
        {[&] { return grab->SetExposure(30.0, -1); },  // line scan: sent unscaled
         {"GEV:0/0 SetAcqParam 16384 30 0", "GEV:1/0 SetAcqParam 16384 30 0"}},
        {[&] { return grab->SetCamTriggerMethod(IXGrab::TRIGGER_SOFTWARE, 0); }, kSoftware},
        {[&] { return grab->SetImageColor(IFW_IMAGE_COLOR_TYPE(3)); }, {}},
        {[&] { return grab->SetFrameDelay(20); }, kSoftware},
    };
    for (const auto& c : cases) {
        grab->calls.clear();
        Station::ClearTrace();
        EXPECT_EQ(c.change(), 1);
        ASSERT_EQ(grab->calls.size(), 2u);
        EXPECT_EQ(grab->calls[0].first + grab->calls[1].first, "StopStart");
        EXPECT_EQ(grab->calls[0].second, 0u);
        EXPECT_EQ(Station::Trace(), c.lines);
    }
    grab->calls.clear();
    EXPECT_EQ(grab->SetImageColor(IFW_IMAGE_COLOR_TYPE(3)), 1);  // unchanged: no stop
    EXPECT_TRUE(grab->calls.empty());
}

TEST_F(GevParamTest, BrightnessAndContrastArePercentOfTheCameraMaximum) {
    auto grab = Grab(kTwo);
    EXPECT_EQ(grab->SetBrightness(40), 1);  // camera 0's maximum for every camera
    EXPECT_EQ(grab->SetContrast(25), 1);
    EXPECT_EQ(grab->SetCamBrightness(60, 1), 1);
    EXPECT_EQ(grab->SetCamBrightness(10, 5), 1);  // out of range: as SetBrightness; 58 now stored for camera 0
    EXPECT_EQ(Station::Trace(), (TraceLines{"GEV:0/0 SetAcqParam 58 102 0", "GEV:1/0 SetAcqParam 58 102 0",
                                            "GEV:0/0 SetAcqParam 16387 50 0", "GEV:1/0 SetAcqParam 58 600 0",
                                            "GEV:0/0 SetAcqParam 58 25.5 0"}));
    EXPECT_EQ(grab->GetBrightness() + grab->GetCamBrightness(7), 20u);
    EXPECT_EQ(grab->GetCamBrightness(1), 60u);
    EXPECT_EQ(grab->GetContrast(), 25u);
    Station::ClearTrace();
    EXPECT_EQ(grab->SetBrightness(101), 0);  // the common layer's refusal, and no camera touched
    EXPECT_STREQ(grab->GetLastErrorMsg(), "CIGrab::SetBrightness: Invalid brightness value");
    EXPECT_TRUE(Station::Trace().empty());
}

// Free-running: parameter 95 follows the frame delay below 200 frames per
// second, capped by the maximum trigger frequency and by what the camera takes.
TEST_F(GevParamTest, FreeRunRateFollowsTheFrameDelay) {
    const struct { UINT delay; int maxFreq; const char* extra; const char* rate; UINT delayAfter; } cases[] = {
        {4, 0, "", nullptr, 4}, {10, 50, "", "50", 20}, {10, 0, "", "100", 10}, {10, 50, "Caps.95 = 0 30\n", "50", 33}};
    for (const auto& c : cases) {
        auto grab = Grab(std::string("[GEV]\n") + c.extra);
        grab->SetMaxTrigFreq(c.maxFreq);
        EXPECT_EQ(grab->SetFrameDelay(c.delay), 1);
        TraceLines expected{"GEV:0/0 SetAcqParam 10 6 0", "GEV:0/0 SetAcqParam 9 1 0"};
        if (c.rate) expected.push_back(std::string("GEV:0/0 SetAcqParam 95 ") + c.rate + " 0");
        EXPECT_EQ(Station::Trace(), expected) << c.delay << " ms, max " << c.maxFreq;
        EXPECT_EQ(grab->GetFrameDelay(), c.delayAfter) << c.delay << " ms, max " << c.maxFreq;
    }
}

// Each camera is programmed with its own method in asynchronous mode, with
// camera 0's otherwise; camera -1 sets the method of every camera.
TEST_F(GevParamTest, TriggerMethodsProgramTheCameras) {
    const IXGrab::TriggerMethod kFree = IXGrab::TRIGGER_FREE_RUN, kHard = IXGrab::TRIGGER_HARDWARE;
    const struct { const char* station; int async, camera; IXGrab::TriggerMethod method, reported; TraceLines lines; }
        cases[] = {
            {"[GEV]\nText.67 = Marlo TS-4\n", 0, 0, kFree, kFree,
             {"GEV:0/0 SetAcqParam 9 0 0", "GEV:0/0 SetAcqParam 95 10 0"}},
            {"[GEV]\nParam.83.1 = 50\n", 0, 0, kHard, kHard,
             {"GEV:0/0 SetStoredVal 9 1 0", "GEV:0/0 SetAcqParam 10 2 0", "GEV:0/0 SetAcqParam 16391 0 0",
              "GEV:0/0 SetAcqParam 83 200 1"}},
            {"[GEV]\nText.67 = VEX-12\nParam.83.1 = 250\n", 0, 0, kHard, kHard,
             {"GEV:0/0 SetStoredVal 9 1 0", "GEV:0/0 SetAcqParam 10 1 0", "GEV:0/0 SetAcqParam 16391 0 0"}},
            {"[GEV]\n", 0, 0, IXGrab::TRIGGER_SOFTWARE, IXGrab::TRIGGER_SOFTWARE, kSoftware},
            {"[GEV:0]\n[GEV:1]\n", 1, 1, IXGrab::TRIGGER_SOFTWARE, kFree,  // the active camera 0 keeps its method
             {"GEV:1/0 SetAcqParam 9 1 0", "GEV:1/0 SetAcqParam 10 0 0"}},
            {"[GEV:0]\nParam.83.1 = 300\n[GEV:1]\nParam.83.1 = 300\n", 0, -1, kHard, kHard,
             {"GEV:0/0 SetStoredVal 9 1 0", "GEV:0/0 SetAcqParam 10 2 0", "GEV:0/0 SetAcqParam 16391 0 0",
              "GEV:1/0 SetStoredVal 9 1 0", "GEV:1/0 SetAcqParam 10 2 0", "GEV:1/0 SetAcqParam 16391 0 0"}},
        };
    for (const auto& c : cases) {
        auto grab = Grab(c.station);
        grab->SetASyncMode(c.async);
        EXPECT_EQ(grab->SetCamTriggerMethod(c.method, c.camera), 1);
        EXPECT_EQ(grab->GetTriggerMethod(), c.reported) << c.station;
        EXPECT_EQ(Station::Trace(), c.lines) << c.station;
    }
}

TEST_F(GevParamTest, BusyObjectMutexLeavesTheTriggerAlone) {
    auto grab = Grab("[GEV]\n");
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> held{false};
    std::thread holder([&] {
        WaitForSingleObject(grab->ObjectMutex(), INFINITE);
        held = true;
        WaitForSingleObject(release, INFINITE);
        ReleaseMutex(grab->ObjectMutex());
    });
    EXPECT_TRUE(WaitUntil([&] { return held.load(); }) && grab->SetTriggerSource(0) == 1);  // gives up after 2 s
    SetEvent(release);
    holder.join();
    CloseHandle(release);
    EXPECT_TRUE(Station::Trace().empty());
}

// USB trigger-scaler lines: eight per module, channels 0 to 3, firmware 203119 on.
TEST_F(GevParamTest, TrigScalerReachesOnlyCapableUsbChannels) {
    auto grab = Grab("[GEV]\n[USB:0]\nModuleInfo = 203119\n[USB:1]\nModuleInfo = 203118\n");
    const struct { int line; const char* traced; int read; } cases[] = {
        {2, "USB:0/2 SetAcqParam 16391 5 0", 5}, {4, nullptr, 1}, {9, nullptr, 1}, {16, nullptr, 1}, {-1, nullptr, 1}};
    for (const auto& c : cases) {
        Station::ClearTrace();
        grab->SetTrigScaler(5, c.line);
        EXPECT_EQ(Station::Trace(), c.traced ? TraceLines{c.traced} : TraceLines{}) << c.line;
        EXPECT_EQ(grab->GetTrigScaler(c.line), c.read) << c.line;
    }
}

TEST_F(GevParamTest, RegistersAboveTheControllerRangeGoToTheCameraModule) {
    const struct { const char* station; ULONG reg; std::string module; } cases[] = {
        {"[GEV]\n[TRX]\n", 0x200, "GEV"}, {"[GEV]\n[TRX]\n", 0x100, "TRX"},       {"[GEV]\n[RCS]\n", 0x200, "RCS"},
        {"[GEV]\n[RCS]\n", 0x30001, "GEV"}, {"[GEV]\n[GIO]\n[USB]\n", 0x80, "GIO"}, {"[GEV]\n[USB]\n", 0x80, "USB"},
        {"[GEV]\n", 0x80, ""}};
    for (const auto& c : cases) {
        auto grab = Grab(c.station);
        if (!c.module.empty()) Station::SetModuleParam(c.module, 0, c.reg, 77);
        EXPECT_EQ(grab->ReadReg(c.reg), c.module.empty() ? 0u : 77u) << c.station << c.reg;
        grab->WriteReg(c.reg, 5);
        const std::string line = c.module + ":0 SetModuleParam " + std::to_string(c.reg) + " 5";
        EXPECT_EQ(Station::Trace(), c.module.empty() ? TraceLines{} : TraceLines{line}) << c.station << c.reg;
    }
}

TEST_F(GevParamTest, GainConversionsDependOnTheBayerCodeAndCameraName) {
    const std::string mono = "[GEV]\n", bayer = "[GEV]\nParam.74 = 1\n";
    const struct { std::string station; char fn; double in, out; } cases[] = {
        {mono, 'B', 300, 1.5},        {bayer, 'B', 300, 1.125}, {bayer, 'G', 400, 1.5}, {bayer, 'G', 100, 0.5},
        {mono, 'g', 6.0, 1.99526},    {bayer, 'g', 6.0, 4.0},   {bayer + "Text.67 = Marlo\n", 'g', 6.0, 6.0},
        {mono, 'd', 2.0, 6.0206},     {bayer, 'd', 2.0, 3.0},   {bayer + "Text.67 = Wren\n", 'd', 2.0, 2.0}};
    for (const auto& c : cases) {
        auto grab = Grab(c.station);
        const double out = c.fn == 'B'   ? grab->Count2Gain(79, c.in, 200)  // blue
                           : c.fn == 'G' ? grab->Count2Gain(78, c.in, 200)  // green
                           : c.fn == 'g' ? grab->Decibel2Gain(c.in)
                                         : grab->Gain2Decibel(c.in);
        EXPECT_NEAR(out, c.out, 1e-4) << c.station << " " << c.fn << "(" << c.in << ")";
    }
}

TEST_F(GevParamTest, BaseEquationsFollowTheControllerMix) {
    const std::string two = "[GEV:0]\n[GEV:1]\n", qbm = two + "[QBM]\nModuleInfo = 1\n";
    const std::string gio = two + "[GIO]\nModuleInfo = 1\n";
    const struct { std::string station; int async, index; std::string text; } cases[] = {
        {qbm, 0, 0, "if (Result.0=3) Global.GPO[6] = pulse( 1, 0 , 5)"},
        {qbm, 0, 2, "if (Result.0=1) Global.GPO[4] = pulse( 1, 0 , 5)"},
        {qbm, 0, 3, ""},
        {qbm, 1, 0, "if ( CameraSrcId = 0)"},
        {qbm, 1, 6, "if ([Camera 02.Result] != 3) Global.GPO[4] = pulse( 1, 0, 5)"},
        {qbm, 1, 7, "endif"},
        {qbm, 1, 8, ""},
        {two + "[TRX]\n", 0, 0, ""},
        {"[GEV]\nText.67 = VEX-1\n", 0, 0, ""},
        {"[GEV]\n", 0, 0, "if (Result.0 = 3) Global.GPO[0] = pulse( 1, 0, 5)"},
        {gio, 0, 1, "if (Result.0 != 3) Global.GPO[2] = pulse( 1, 0, 5)"},
        {gio, 0, 2, ""},
        {two + "[GIO]\n", 1, 5, "if ([Camera 02.Result] = 3) Global.GPO[2] = pulse( 1, 0, 5)"},
        {two + "[LXP]\n", 1, 1, "if ([Camera 01.Result] = 3) Global.GPO[1] = pulse( 1, 0, 5)"},
    };
    for (const auto& c : cases) {
        auto grab = Grab(c.station);
        grab->SetASyncMode(c.async);
        char text[256] = "junk";
        EXPECT_EQ(grab->GetBaseEquation(c.index, text), c.text.empty() ? 0 : 1);
        EXPECT_EQ(std::string(text), c.text) << c.station << " async " << c.async << " index " << c.index;
    }
}

}  // namespace
}  // namespace kiru_test
