// The LX2 board back-end on simulated appliances: bring-up of "LXP" and
// "HVQ" boards, acquisition, and what a busy or missing board gives.
#include <memory>
#include <thread>

#include "backends/board/board_fixture.h"
#include "backends/frame_counts.h"

namespace kiru_test {
namespace {

class Lx2Test : public BoardTest {};

TEST_F(Lx2Test, InitializeBringsUpAnLxpBoard) {
    Load("[LXP]\nCameraFile = \"Sony XC-HR70 Mode1\"\nParam.15 = 40\nParam.14 = 70\nParam.82 = 12\n");
    CIGrabLX2 grab;
    grab.SetRejectorDelay(0);  // stored before the initialized check
    ASSERT_EQ(grab.Initialize(), 1);
    EXPECT_EQ(grab.GetBrightness(), 40u);
    EXPECT_EQ(grab.GetContrast(), 70u);
    EXPECT_EQ(grab.GetStrobeDuration(), 12u);
    EXPECT_EQ(grab.GetWidth(), 640u);
    // Board timing in microseconds, and the order of the bring-up.
    const long mode = TraceIndex("LXP:0 SetModuleMode 1 0");
    const long reset = TraceIndex("LXP:0/0 SetAcqParam 16409 1 0");
    const long ack = TraceIndex("LXP:0 WriteOutputPort 0 6");
    const long enable = TraceIndex("LXP:0 EnableModuleIo 1 1");
    EXPECT_TRUE(mode >= 0 && mode < reset && reset < ack && ack < enable);
    EXPECT_TRUE(Traced("LXP:0/0 SetAcqParam 16420 1000 0"));  // rejector delay 1 ms (0 stores 1)
    EXPECT_TRUE(Traced("LXP:0/0 SetAcqParam 16428 1.5e+06 0"));
    EXPECT_TRUE(Traced("LXP:0 WriteOutputPort 248 0"));
    EXPECT_EQ(Station::InterruptCallbackCount("LXP", 0), 3);
    EXPECT_EQ(grab.Initialize(), 0);  // once only
    grab.Terminate();
    EXPECT_EQ(Station::InterruptCallbackCount("LXP", 0), 0);
    EXPECT_EQ(Station::OpenModuleCount("LXP", 0), 0);
    EXPECT_EQ(Param("LXP", 0x4023), 8.0);  // the board's queues off
}

TEST_F(Lx2Test, ExposureLimitsFollowTheCameraFile) {
    struct Probe : CIGrabLX2 {
        double Max() const { return m_exposureMax; }
    };
    const std::pair<const char*, double> cases[] = {
        {"kelm-jai-cva11-trg-pwc-strobe-x1", 635.0}, {"Kelm-TM2-TRG-PWC", 1250.0}, {"Other", 2500.0}};
    for (const auto& [file, maximum] : cases) {
        Load(std::string("[LXP]\nCameraFile = \"") + file + "\"\n");
        Probe grab;
        ASSERT_EQ(grab.Initialize(), 1);
        EXPECT_DOUBLE_EQ(grab.Max(), maximum) << file;
    }
}

TEST_F(Lx2Test, HvqBoardWritesNoBoardTimingAndReadsInvertedInputs) {
    Load("[HVQ]\nInput.0 = 0x0F\n");
    CIGrabLX2 grab;
    ASSERT_EQ(grab.Initialize(), 1);
    EXPECT_EQ(grab.GetGPInputValue(1), 0xF0u);
    EXPECT_EQ(grab.GetGPInputValue(0), 30u);  // bits 3-7 of the inverted word
    EXPECT_EQ(grab.SetPass(0), 1);
    EXPECT_EQ(grab.SetExternalTriggerDelay(5), 0);  // not enabled
    EXPECT_FALSE(TracedWith("HVQ:0/0 SetAcqParam 16420"));
    EXPECT_FALSE(TracedWith("HVQ:0 WriteOutputPort 1 9"));
    EXPECT_FALSE(TracedWith("HVQ:0/0 SetAcqParam 16411"));
    EXPECT_EQ(grab.SetDummyDecisionFIFO(2, 0), 0);
}

TEST_F(Lx2Test, MissingBoardOrCameraFailsCleanly) {
    Heard heard;
    {
        Load("[GEV]\n");
        CIGrabLX2 grab;
        grab.SetDbgCatcher(&Heard::Catch, &heard);
        EXPECT_EQ(grab.Initialize(), 0);
        EXPECT_TRUE(heard.Contains("No Module: Specified Image Capture Module not detected."));
        EXPECT_EQ(grab.Create(0, 0, 64, 48, 8, 2, 1000), 0);
        EXPECT_EQ(grab.GetGPInputValue(1), 0u);
        EXPECT_STREQ(grab.GetLastErrorMsg(), "CIGrabLX2::GetGPInputValue: Grab not initialized");
        EXPECT_EQ(grab.GeneratePulseOutPort(1, 1, 1.0, 1.0), 0);
    }
    Load("[LXP]\nChannels = 0\n");
    CIGrabLX2 grab;
    EXPECT_EQ(grab.Initialize(), 0);
    EXPECT_EQ(Station::OpenModuleCount("LXP", 0), 0);
}

TEST_F(Lx2Test, AcquisitionDeliversFramesAndStops) {
    Load("[LXP]\nWidth = 64\nHeight = 48\nFrameRate = 200\n");
    CIGrabLX2 grab;
    ASSERT_EQ(grab.Initialize(), 1);
    ASSERT_EQ(grab.Create(0, 0, 64, 48, 8, 4, 1000), 1);
    Frames frames;
    grab.RegisterBufferCallback(&Frames::OnFrame, &frames);
    grab.SetTriggerMethod(IXGrab::TRIGGER_SOFTWARE);
    ASSERT_EQ(grab.Start(), 1);
    EXPECT_EQ(Station::ActiveGrabs("LXP", 0, 0), 1u);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(grab.GenerateSoftTrigger(0), 1);
        ASSERT_TRUE(WaitUntil([&] { return frames.count.load() == i + 1; }));
    }
    EXPECT_EQ(frames.last.load(), 3u);
    EXPECT_NE(grab.GetFramePtr(0), nullptr);
    EXPECT_EQ(grab.Stop(), 1);
    EXPECT_EQ(Station::ActiveGrabs("LXP", 0, 0), 0u);
    EXPECT_EQ(ExpectCountsAddUp(grab).delivered, 3u);
    // Free running restarts the grab with the frame rate of the frame delay.
    grab.SetTriggerMethod(IXGrab::TRIGGER_FREE_RUN);
    ASSERT_EQ(grab.SetFrameDelay(10), 1);
    ASSERT_EQ(grab.Start(), 1);
    EXPECT_TRUE(WaitUntil([&] { return frames.count.load() >= 8; }));
    EXPECT_EQ(grab.GenerateSoftTrigger(0), 0);
    grab.Terminate();
    EXPECT_EQ(Station::ActiveGrabs("LXP", 0, 0), 0u);
}

TEST_F(Lx2Test, AFrameThatCannotBeDeliveredPassesThePart) {
    Load("[LXP]\nWidth = 32\nHeight = 8\n");
    Frames slow;
    struct Access : CIGrabLX2 {
        HANDLE Mutex() const { return m_objectMutex; }
    } grab;
    ASSERT_EQ(grab.Initialize(), 1);
    ASSERT_EQ(grab.Create(0, 0, 32, 8, 8, 4, 1000), 1);
    grab.RegisterBufferCallback(&Frames::OnFrame, &slow);
    grab.SetTriggerMethod(IXGrab::TRIGGER_SOFTWARE);
    ASSERT_EQ(grab.Start(), 1);
    Station::ClearTrace();
    {
        // The client holds the object mutex past the delivery's 2000 ms wait.
        CMutexHold hold(grab.Mutex(), INFINITE);
        ASSERT_EQ(grab.GenerateSoftTrigger(0), 1);
        ASSERT_TRUE(WaitUntil([] { return Traced("LXP:0 WriteOutputPort 1 9"); }));
    }
    EXPECT_EQ(slow.count.load(), 0);
    EXPECT_TRUE(Traced("LXP:0 WriteOutputPort 0 7"));
    grab.Stop();
}

TEST_F(Lx2Test, LookUpTableAndParametersReachTheBoard) {
    Load("[LXP]\nCaps.8 = 2 250000\n");
    CIGrabLX2 grab;
    ASSERT_EQ(grab.Initialize(), 1);
    std::vector<unsigned char> lut;
    ASSERT_EQ(grab.SetLUTCeiling(0), 1);
    ASSERT_TRUE(Station::GetLut("LXP", 0, 0, &lut));
    EXPECT_EQ(std::count(lut.begin(), lut.end(), 0), 256);
    ASSERT_EQ(grab.SetLUTFloor(255), 1);
    Station::GetLut("LXP", 0, 0, &lut);
    EXPECT_EQ(std::count(lut.begin(), lut.end(), 255), 256);
    ASSERT_EQ(grab.SetLUTCeiling(200), 1);
    Station::GetLut("LXP", 0, 0, &lut);
    EXPECT_EQ(lut[199], 199);
    EXPECT_EQ(lut[200], 200);
    EXPECT_EQ(lut[255], 200);
    ASSERT_EQ(grab.InvLinearizeLUT(), 1);
    Station::GetLut("LXP", 0, 0, &lut);
    EXPECT_EQ(lut[0], 255);
    EXPECT_EQ(lut[255], 0);

    EXPECT_EQ(grab.SetContrast(10), 0);  // not created yet
    ASSERT_EQ(grab.Create(0, 0, 640, 480, 8, 2, 1000), 1);
    EXPECT_EQ(grab.SetContrast(10), 1);
    EXPECT_EQ(Param("LXP", 14), 10.0);
    EXPECT_EQ(grab.SetExposure(3.5, 0), 1);
    EXPECT_EQ(Param("LXP", 8), 350.0);
    EXPECT_EQ(grab.SetExposure(1.0e6, 0), 1);
    EXPECT_EQ(Param("LXP", 8), 250000.0);  // what the camera takes
    EXPECT_EQ(grab.SetImageColor(IFW_COLOR_PLANAR), 1);
    EXPECT_EQ(grab.GetNumCameras(), 3);
    EXPECT_EQ(Param("LXP", 57), 8.0);
    EXPECT_EQ(Param("LXP", 0x4016), 2.0);
    EXPECT_TRUE(Traced("LXP:0/0 SetAoi 0 0 640 1440"));
    EXPECT_EQ(grab.SetImageColor(IFW_COLOR_RGB32), 1);
    EXPECT_EQ(Param("LXP", 57), 4.0);
    EXPECT_EQ(grab.SetTiling(4, 2), 1);
    EXPECT_EQ(grab.GetHorzTiles(), 1u);
    EXPECT_EQ(grab.GetVertTiles(), 2u);
    grab.GenerateManualTrigger(0);
    ULONG control = 7;
    Station::GetRegister("LXP", 0, 0, 57, &control);
    EXPECT_EQ(control & 1u, 0u);
    EXPECT_TRUE(Traced("LXP:0/0 WriteReg 57 1"));
}

}  // namespace
}  // namespace kiru_test
