// Camera parameters of the GigE back-end on simulated stations: the store and
// its replay, exposure, brightness and contrast, trigger programming, trigger
// scaler, register routing, gain conversions and result-output script lines.
#include <thread>

#include "backends/gev/param_grab.h"
#include "platform/kernel.h"
#include "support/poll.h"

namespace kiru_test {
namespace {

const char* const kTwo = "[GEV:0]\nCaps.58 = 0 255\nCaps.0x4003 = 0 200\n[GEV:1]\nCaps.58 = 0 1000\n";

TEST(GevParamStore, SlotsMapToParameterNumbers) {
    const struct { ULONG slot, number; } ids[] = {{0, 0}, {95, 95}, {96, 0x4000}, {118, 0x4016}, {119, 0}};
    for (const auto& c : ids) EXPECT_EQ(CIGrabGev::GetParamId(c.slot), c.number) << c.slot;
    const struct { ULONG number, slot; } slots[] = {{95, 95}, {96, 0}, {0x3FFF, 0}, {0x4000, 96}, {0x4016, 118},
                                                    {0x4017, 0}};
    for (const auto& c : slots) EXPECT_EQ(CIGrabGev::GetParamIndex(c.number), c.slot) << c.number;
}

TEST_F(GevParamTest, ApplyParametersReplaysTheStoreInSlotOrderThenTheTrigger) {
    auto grab = Grab(kTwo);
    grab->SetTriggerMethod(IXGrab::TRIGGER_SOFTWARE);
    grab->SetCamParam(0x4003, 7.0, 0);
    grab->SetCamParam(83, 300.0, 1);
    grab->SetCamParam(83, 20.0, 0);
    grab->SetCamParam(0x7013002, 1.0, 0);  // outside the store
    grab->SetExposure(12.0, 0);
    kiru::sim::Station::ClearTrace();
    grab->ApplyParameters(0);
    EXPECT_EQ(kiru::sim::Station::Trace(),
              (TraceLines{"GEV:0/0 SetAcqParam 83 20 0", "GEV:0/0 SetAcqParam 83 300 1", "GEV:0/0 SetAcqParam 16384 1200 0",
                       "GEV:0/0 SetAcqParam 16387 7 0", "GEV:0/0 SetAcqParam 9 1 0", "GEV:0/0 SetAcqParam 10 0 0"}));
    kiru::sim::Station::ClearTrace();
    grab->ApplyParameters(1);  // nothing stored for camera 1: only its trigger
    EXPECT_EQ(Lines("GEV:1/0"), (TraceLines{"GEV:1/0 SetAcqParam 9 1 0", "GEV:1/0 SetAcqParam 10 0 0"}));
    grab->SetTiling(2, 1);  // tiled: every camera
    kiru::sim::Station::ClearTrace();
    grab->SetCamParam(22, 4.0, 0);
    EXPECT_EQ(kiru::sim::Station::Trace(), (TraceLines{"GEV:0/0 SetAcqParam 22 4 0", "GEV:1/0 SetAcqParam 22 4 0"}));
}

TEST_F(GevParamTest, ExposureReachesCamerasAndStrobesOfTheControllers) {
    auto grab = Grab(std::string(kTwo) + "[TRX]\n[RCS]\n[USB]\n");
    EXPECT_EQ(grab->SetExposure(50.0, -1), 1);  // nothing stored for camera 0 yet: every camera
    EXPECT_EQ(Lines("GEV"), (TraceLines{"GEV:0/0 SetAcqParam 16384 5000 0", "GEV:1/0 SetAcqParam 16384 5000 0"}));
    EXPECT_EQ(Lines("TRX:0/0 SetAcqParam 16396"), TraceLines{"TRX:0/0 SetAcqParam 16396 0 0"});
    grab->SetRejectorEnabled(1);  // 640 x 480 / 80 is below the 12000 floor
    grab->SetExposure(20.0, 1);
    EXPECT_EQ(grab->GetCamExposure(1), 20.0);
    EXPECT_EQ(grab->GetExposure(), 50.0);
    kiru::sim::Station::ClearTrace();
    EXPECT_EQ(grab->SetExposure(30.0, 0), 1);  // camera 0's exposure now stored: only the active camera
    EXPECT_EQ(grab->SetExposure(40.0, -1), 1);
    EXPECT_EQ(kiru::sim::Station::Trace(),
              (TraceLines{"GEV:0/0 SetAcqParam 16384 3000 0", "GEV:0/0 SetAcqParam 16384 4000 0",
                       "TRX:0/0 SetAcqParam 16396 12000 0", "RCS:0/0 SetAcqParam 117518338 12000 0",
                       "USB:0/0 SetAcqParam 16389 12000 0"}));
    kiru::sim::Station::ClearTrace();
    EXPECT_EQ(grab->SetExposure(60.0, 2), 1);  // beyond the cameras
    EXPECT_TRUE(kiru::sim::Station::Trace().empty());
    grab->ApplyParameters(1);
    EXPECT_EQ(Lines("GEV:1/0 SetAcqParam 16384"), TraceLines{"GEV:1/0 SetAcqParam 16384 2000 0"});
}

TEST_F(GevParamTest, LineScanExposureIsSentUnscaledWithTheGrabStopped) {
    auto grab = Grab("[GEV]\nParam.28 = 1\n");
    grab->Start();
    grab->SetExposure(30.0, -1);
    ASSERT_EQ(grab->calls.size(), 3u);
    EXPECT_EQ(grab->calls[1].op, "Stop");
    EXPECT_EQ(kiru::sim::Station::Trace()[grab->calls[1].traceLength], "GEV:0/0 SetAcqParam 16384 30 0");
    EXPECT_EQ(grab->calls[2].op, "Start");
}

TEST_F(GevParamTest, UnsetObjectFailsInTheCommonLayerAndTouchesNoCamera) {
    std::string error;
    ASSERT_TRUE(kiru::sim::Station::LoadText(kTwo, "gev.ini", &error));
    ParamGrab grab;
    EXPECT_EQ(grab.SetExposure(5.0, -1), 0);
    EXPECT_STREQ(grab.GetLastErrorMsg(), "CIGrab::SetExposure: Grab not initialized");
    EXPECT_EQ(grab.SetBrightness(101), 0);
    EXPECT_STREQ(grab.GetLastErrorMsg(), "CIGrab::SetBrightness: Invalid brightness value");
    EXPECT_EQ(grab.SetTriggerParams(), 0);
    EXPECT_TRUE(kiru::sim::Station::Trace().empty());
}

TEST_F(GevParamTest, BrightnessAndContrastArePercentOfTheCameraMaximum) {
    auto grab = Grab(kTwo);
    EXPECT_EQ(grab->SetBrightness(40), 1);
    EXPECT_EQ(grab->SetContrast(25), 1);
    EXPECT_EQ(grab->SetCamBrightness(60, 1), 1);
    EXPECT_EQ(kiru::sim::Station::Trace(),
              (TraceLines{"GEV:0/0 SetAcqParam 58 102 0", "GEV:1/0 SetAcqParam 58 102 0", "GEV:0/0 SetAcqParam 16387 50 0",
                       "GEV:1/0 SetAcqParam 58 600 0"}));
    EXPECT_EQ(grab->GetBrightness(), 40u);
    EXPECT_EQ(grab->GetCamBrightness(1), 60u);
    EXPECT_EQ(grab->GetCamBrightness(7), 40u);
    EXPECT_EQ(grab->GetContrast(), 25u);
    kiru::sim::Station::ClearTrace();
    EXPECT_EQ(grab->SetCamBrightness(10, 5), 1);  // out of range: as SetBrightness; 58 now stored for camera 0
    EXPECT_EQ(kiru::sim::Station::Trace(), TraceLines{"GEV:0/0 SetAcqParam 58 25.5 0"});
}

// Free-running: parameter 95 follows the frame delay below 200 frames per
// second, capped by the maximum trigger frequency and by what the camera takes.
TEST_F(GevParamTest, FreeRunRateFollowsTheFrameDelay) {
    const struct { UINT delay; int maxFreq; const char* extra; const char* rate; UINT delayAfter; } cases[] = {
        {4, 0, "", nullptr, 4}, {10, 50, "", "50", 20}, {10, 0, "", "100", 10}, {10, 50, "Caps.95 = 0 30\n", "50", 33}};
    for (const auto& c : cases) {
        auto grab = Grab(std::string("[GEV]\n") + c.extra);
        grab->SetMaxTrigFreq(c.maxFreq);
        grab->SetTriggerMethod(IXGrab::TRIGGER_FREE_RUN);
        kiru::sim::Station::ClearTrace();
        EXPECT_EQ(grab->SetFrameDelay(c.delay), 1);
        TraceLines expected{"GEV:0/0 SetAcqParam 10 6 0", "GEV:0/0 SetAcqParam 9 1 0"};
        if (c.rate) expected.push_back(std::string("GEV:0/0 SetAcqParam 95 ") + c.rate + " 0");
        EXPECT_EQ(kiru::sim::Station::Trace(), expected) << c.delay << " ms, max " << c.maxFreq;
        EXPECT_EQ(grab->GetFrameDelay(), c.delayAfter) << c.delay << " ms, max " << c.maxFreq;
    }
}

TEST_F(GevParamTest, TriggerMethodsProgramEachCamera) {
    const struct { const char* station; IXGrab::TriggerMethod method; TraceLines lines; } cases[] = {
        {"[GEV]\nText.67 = Marlo TS-4\n", IXGrab::TRIGGER_FREE_RUN,
         {"GEV:0/0 SetAcqParam 9 0 0", "GEV:0/0 SetAcqParam 95 10 0"}},
        {"[GEV]\nParam.83.1 = 50\n", IXGrab::TRIGGER_HARDWARE,
         {"GEV:0/0 SetStoredVal 9 1 0", "GEV:0/0 SetAcqParam 10 2 0", "GEV:0/0 SetAcqParam 16391 0 0",
          "GEV:0/0 SetAcqParam 83 200 1"}},
        {"[GEV]\nText.67 = VEX-12\nParam.83.1 = 250\n", IXGrab::TRIGGER_HARDWARE,
         {"GEV:0/0 SetStoredVal 9 1 0", "GEV:0/0 SetAcqParam 10 1 0", "GEV:0/0 SetAcqParam 16391 0 0"}},
        {"[GEV]\n", IXGrab::TRIGGER_SOFTWARE, {"GEV:0/0 SetAcqParam 9 1 0", "GEV:0/0 SetAcqParam 10 0 0"}},
    };
    for (const auto& c : cases) {
        auto grab = Grab(c.station);
        EXPECT_EQ(grab->SetCamTriggerMethod(c.method, 0), 1);
        EXPECT_EQ(grab->GetTriggerMethod(), c.method);
        EXPECT_EQ(kiru::sim::Station::Trace(), c.lines) << c.station;
    }
}

TEST_F(GevParamTest, AsynchronousCamerasKeepTheirOwnTriggerMethod) {
    auto grab = Grab("[GEV:0]\n[GEV:1]\n");
    grab->SetASyncMode(1);
    grab->Start();
    EXPECT_EQ(grab->SetCamTriggerMethod(IXGrab::TRIGGER_SOFTWARE, 1), 1);
    EXPECT_EQ(Lines("GEV"), (TraceLines{"GEV:1/0 SetAcqParam 9 1 0", "GEV:1/0 SetAcqParam 10 0 0"}));
    ASSERT_EQ(grab->calls.size(), 3u);  // reprogrammed between Stop and Start
    EXPECT_EQ(grab->calls[1].op + grab->calls[2].op, "StopStart");
    EXPECT_EQ(grab->calls[2].traceLength - grab->calls[1].traceLength, 2u);
    EXPECT_NE(grab->GetTriggerMethod(), IXGrab::TRIGGER_SOFTWARE);
    grab->UseCamera(1);
    EXPECT_EQ(grab->GetTriggerMethod(), IXGrab::TRIGGER_SOFTWARE);
    grab->SetASyncMode(0);  // synchronous: camera 0's method for every camera
    EXPECT_NE(grab->GetTriggerMethod(), IXGrab::TRIGGER_SOFTWARE);
    kiru::sim::Station::ClearTrace();
    EXPECT_EQ(grab->SetTriggerMethod(IXGrab::TRIGGER_HARDWARE), 1);
    EXPECT_EQ(grab->GetTriggerMethod(), IXGrab::TRIGGER_HARDWARE);
    EXPECT_EQ(Lines("GEV:1/0 SetAcqParam 10"), TraceLines{"GEV:1/0 SetAcqParam 10 2 0"});
    ASSERT_EQ(grab->calls.size(), 5u);
    EXPECT_EQ(grab->calls[3].op + grab->calls[4].op, "StopStart");
}

TEST_F(GevParamTest, BusyObjectMutexLeavesTheTriggerAlone) {
    auto grab = Grab("[GEV]\n");
    grab->SetCamTriggerMethod(IXGrab::TRIGGER_SOFTWARE, 0);
    kiru::sim::Station::ClearTrace();
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> held{false};
    std::thread holder([&] {
        WaitForSingleObject(grab->ObjectMutex(), INFINITE);
        held = true;
        WaitForSingleObject(release, INFINITE);
        ReleaseMutex(grab->ObjectMutex());
    });
    ASSERT_TRUE(WaitUntil([&] { return held.load(); }));
    EXPECT_EQ(grab->SetTriggerSource(0), 1);
    SetEvent(release);
    holder.join();
    CloseHandle(release);
    EXPECT_TRUE(kiru::sim::Station::Trace().empty());
}

TEST_F(GevParamTest, ImageColourChangeStopsAndRestarts) {
    auto grab = Grab("[GEV]\n");
    grab->Start();
    EXPECT_EQ(grab->SetImageColor(IFW_IMAGE_COLOR_TYPE(0)), 1);  // unchanged: no stop
    EXPECT_EQ(grab->calls.size(), 1u);
    EXPECT_EQ(grab->SetImageColor(IFW_IMAGE_COLOR_TYPE(3)), 1);
    EXPECT_EQ(grab->GetBytesPP(), 4u);
    ASSERT_EQ(grab->calls.size(), 3u);
    EXPECT_EQ(grab->calls[1].op + grab->calls[2].op, "StopStart");
}

// USB trigger-scaler lines: eight per module, channels 0 to 3, firmware 203119 on.
TEST_F(GevParamTest, TrigScalerReachesOnlyCapableUsbChannels) {
    auto grab = Grab("[GEV]\n[USB:0]\nModuleInfo = 203119\n[USB:1]\nModuleInfo = 203118\n");
    const struct { int line; const char* traced; int read; } cases[] = {
        {2, "USB:0/2 SetAcqParam 16391 5 0", 5}, {4, nullptr, 1}, {9, nullptr, 1}, {16, nullptr, 1}, {-1, nullptr, 1}};
    for (const auto& c : cases) {
        kiru::sim::Station::ClearTrace();
        grab->SetTrigScaler(5, c.line);
        EXPECT_EQ(kiru::sim::Station::Trace(), c.traced ? TraceLines{c.traced} : TraceLines{}) << c.line;
        EXPECT_EQ(grab->GetTrigScaler(c.line), c.read) << c.line;
    }
}

TEST_F(GevParamTest, RegistersAboveTheControllerRangeGoToTheCameraModule) {
    const struct { const char* station; ULONG reg; const char* module; } cases[] = {
        {"[GEV]\n[TRX]\n", 0x200, "GEV:0"}, {"[GEV]\n[TRX]\n", 0x100, "TRX:0"},   {"[GEV]\n[RCS]\n", 0x200, "RCS:0"},
        {"[GEV]\n[RCS]\n", 0x30001, "GEV:0"}, {"[GEV]\n[GIO]\n[USB]\n", 0x80, "GIO:0"}, {"[GEV]\n[USB]\n", 0x80, "USB:0"},
        {"[GEV]\n", 0x80, nullptr}};
    for (const auto& c : cases) {
        auto grab = Grab(c.station);
        if (c.module) kiru::sim::Station::SetModuleParam(std::string(c.module, 3), 0, c.reg, 77);
        EXPECT_EQ(grab->ReadReg(c.reg), c.module ? 77u : 0u) << c.station << c.reg;
        grab->WriteReg(c.reg, 5);
        EXPECT_EQ(kiru::sim::Station::Trace(),
                  c.module ? TraceLines{std::string(c.module) + " SetModuleParam " + std::to_string(c.reg) + " 5"}
                           : TraceLines{})
            << c.station << c.reg;
    }
}

TEST_F(GevParamTest, GainConversionsDependOnTheBayerCodeAndCameraName) {
    enum Fn { kCount79, kCount78, kToGain, kToDecibel };
    const struct { const char* station; Fn fn; double in, out; } cases[] = {
        {"[GEV]\n", kCount79, 300, 1.5}, {"[GEV]\nParam.74 = 1\n", kCount79, 300, 1.125},
        {"[GEV]\nParam.74 = 1\n", kCount78, 400, 1.5}, {"[GEV]\nParam.74 = 1\n", kCount78, 100, 0.5},
        {"[GEV]\n", kToGain, 6.0, 1.99526}, {"[GEV]\nParam.74 = 1\n", kToGain, 6.0, 4.0},
        {"[GEV]\nParam.74 = 1\nText.67 = Marlo\n", kToGain, 6.0, 6.0}, {"[GEV]\n", kToDecibel, 2.0, 6.0206},
        {"[GEV]\nParam.74 = 1\n", kToDecibel, 2.0, 3.0}, {"[GEV]\nParam.74 = 1\nText.67 = Wren\n", kToDecibel, 2.0, 2.0}};
    for (const auto& c : cases) {
        auto grab = Grab(c.station);
        const double out = c.fn == kCount79   ? grab->Count2Gain(79, c.in, 200)
                           : c.fn == kCount78 ? grab->Count2Gain(78, c.in, 200)
                           : c.fn == kToGain  ? grab->Decibel2Gain(c.in)
                                              : grab->Gain2Decibel(c.in);
        EXPECT_NEAR(out, c.out, 1e-4) << c.station << " fn " << c.fn << " of " << c.in;
    }
}

TEST_F(GevParamTest, BaseEquationsFollowTheControllerMix) {
    const std::string two = "[GEV:0]\n[GEV:1]\n";
    const struct { std::string station; int async, index; std::string text; } cases[] = {
        {two + "[QBM]\nModuleInfo = 1\n", 0, 0, "if (Result.0=3) Global.GPO[6] = pulse( 1, 0 , 5)"},
        {two + "[QBM]\nModuleInfo = 1\n", 0, 2, "if (Result.0=1) Global.GPO[4] = pulse( 1, 0 , 5)"},
        {two + "[QBM]\nModuleInfo = 1\n", 0, 3, ""},
        {two + "[QBM]\nModuleInfo = 1\n", 1, 0, "if ( CameraSrcId = 0)"},
        {two + "[QBM]\nModuleInfo = 1\n", 1, 6, "if ([Camera 02.Result] != 3) Global.GPO[4] = pulse( 1, 0, 5)"},
        {two + "[QBM]\nModuleInfo = 1\n", 1, 7, "endif"},
        {two + "[QBM]\nModuleInfo = 1\n", 1, 8, ""},
        {two + "[TRX]\n", 0, 0, ""},
        {"[GEV]\nText.67 = VEX-1\n", 0, 0, ""},
        {"[GEV]\n", 0, 0, "if (Result.0 = 3) Global.GPO[0] = pulse( 1, 0, 5)"},
        {two + "[GIO]\nModuleInfo = 1\n", 0, 1, "if (Result.0 != 3) Global.GPO[2] = pulse( 1, 0, 5)"},
        {two + "[GIO]\nModuleInfo = 1\n", 0, 2, ""},
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
