// GigE acquisition: delivery in both loops, stale and lost frames, a camera
// lost and regained, triggers, start failures, stopping from inside a
// callback, the synchronised start and the frame bookkeeping.
#include "backends/frame_counts.h"
#include "backends/gev/gev_fixture.h"

namespace kiru_test {
namespace {

bool HasEvents(Record& record, const std::vector<std::pair<int, ULONG>>& events) {
    std::lock_guard<std::mutex> lock(record.mutex);
    return record.events == events;
}

class GevAcquisition : public GevTest {
protected:
    // Initialized, created with `buffers` buffers and started, frames going to the record.
    void Run(const std::string& station, bool async, IXGrab::TriggerMethod method, ULONG buffers = 3) {
        Open(station);
        grab->SetASyncMode(async ? 1 : 0);
        for (int c = 0; c < grab->GetNumCameras(); ++c) grab->SetCamTriggerMethod(method, async ? c : -1);
        ASSERT_EQ(grab->Create(0, 0, 64, 48, 8, buffers, 5000), 1);
        record.cameras = grab->GetNumCameras();
        if (async) grab->RegisterBufferCallbackEx(&OnBufferEx, &record);
        else grab->RegisterBufferCallback(&OnBuffer, &record);
        grab->RegisterTrashCallback(&OnTrash, &record);
        grab->RegisterAcquireEventCallback(&OnEvent, &record);
        ASSERT_EQ(grab->Start(), 1) << grab->LastError();
    }
};

TEST_F(GevAcquisition, AsynchronousLoopDeliversCameraZeroFirstWhenTwoAreReady) {
    record.hold = true;
    Run(Camera(0) + Camera(1), true, IXGrab::TRIGGER_HARDWARE);
    ASSERT_TRUE(Station::HardwareTrigger("GEV", 0));
    ASSERT_TRUE(WaitUntil([&] { return record.Frames() == 1; }));
    // While the first frame is with the client, camera 1 and then camera 0 deliver.
    ASSERT_TRUE(Station::HardwareTrigger("GEV", 1));
    ASSERT_TRUE(Station::HardwareTrigger("GEV", 0));
    ASSERT_TRUE(WaitUntil([&] { return grab->Stats(0).FramesWaiting == 1 && grab->Stats(1).FramesWaiting == 1; }));
    record.Open();
    ASSERT_TRUE(WaitUntil([&] { return record.Frames() == 3; }));
    grab->Stop();
    const std::vector<std::pair<int, unsigned>> order = {{0, 1}, {0, 2}, {1, 1}};
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(record.frames[i].camera, order[i].first) << i;
        EXPECT_EQ(record.frames[i].frame, order[i].second) << i;
    }
    // The image is the ring slot's start; camera 1's frame lies one image further.
    EXPECT_EQ(record.frames[1].head, (std::vector<unsigned char>{2, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(record.frames[2].head, (std::vector<unsigned char>{1, 0, 0, 0, 1, 0, 0, 0}));
    ExpectCountsAddUp(*grab);
}

TEST_F(GevAcquisition, SynchronousLoopDropsAFrameOfAnEarlierPartAndWaitsForANewerOne) {
    Run(Camera(0) + Camera(1) + "[USB]\n", false, IXGrab::TRIGGER_SOFTWARE);
    ASSERT_TRUE(Station::SetClockOffset("GEV", 1, 0, -900000));
    ASSERT_EQ(grab->GenerateSoftTrigger(-1), 1);
    EXPECT_TRUE(WaitUntil([] { return Traced("USB:0/1 AdvancedIOEnqueueDecision 0"); }));
    EXPECT_EQ(record.Frames(), 0u);
    ASSERT_TRUE(Station::SetClockOffset("GEV", 1, 0, 0));
    ASSERT_EQ(grab->GenerateSoftTrigger(1), 1);
    ASSERT_TRUE(WaitUntil([&] { return record.Frames() == 1; }));
    grab->Stop();
    // Camera 0's first frame with camera 1's second, side by side in camera 0's slot.
    EXPECT_EQ(record.frames[0].head, (std::vector<unsigned char>{1, 0, 0, 0, 2, 0, 0, 0}));
    EXPECT_EQ(record.frames[0].frame, 2u);
    ExpectCountsAddUp(*grab);
}

TEST_F(GevAcquisition, LostFramesGoToTheTrashCallbackAndQueueEmptyResults) {
    record.hold = true;
    Run(Camera(0) + "[USB]\n", false, IXGrab::TRIGGER_HARDWARE, 2);
    ASSERT_TRUE(Station::HardwareTrigger("GEV", 0));
    ASSERT_TRUE(WaitUntil([&] { return record.Frames() == 1; }));
    // One more frame fills the second buffer; three find every buffer held.
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(Station::HardwareTrigger("GEV", 0));
    ASSERT_TRUE(WaitUntil([&] { return grab->Stats(0).FramesLost == 3; }));
    record.Open();
    ASSERT_TRUE(WaitUntil([&] { return record.Frames() == 2; }));
    grab->Stop();
    EXPECT_EQ(record.trashed, std::vector<unsigned>{2});
    EXPECT_EQ(grab->enqueued.load(), 2);
    const KiruFrameCounts n = ExpectCountsAddUp(*grab, 0);
    EXPECT_EQ(n.lost, 3u);
    EXPECT_EQ(n.delivered, 2u);
    ExpectCountsAddUp(*grab);
}

TEST_F(GevAcquisition, ALostCameraIsReportedReopenedAndDeliversAgain) {
    for (const bool async : {false, true}) {
        SCOPED_TRACE(async ? "asynchronous" : "synchronous");
        Run(Camera(0, "FrameRate = 100\n"), async, IXGrab::TRIGGER_FREE_RUN);
        ASSERT_TRUE(WaitUntil([&] { return record.Frames() >= 2; }));
        ASSERT_TRUE(Station::SetReachable("GEV", 0, 0, false));
        EXPECT_TRUE(WaitUntil([&] { return HasEvents(record, {{0, 0}}); }));
        // Back only once its module was closed: reopening waits out the 7 s guard in asynchronous mode.
        EXPECT_TRUE(WaitUntil([] { return Station::OpenModuleCount("GEV", 0) == 0; }));
        ASSERT_TRUE(Station::SetReachable("GEV", 0, 0, true));
        EXPECT_TRUE(WaitUntil([&] { return HasEvents(record, {{0, 0}, {1, 0}}); }));
        const std::size_t before = record.Frames();
        EXPECT_TRUE(WaitUntil([&] { return record.Frames() >= before + 2; }));
        grab->Stop();
        ExpectCountsAddUp(*grab);
        grab.reset();
        record.frames.clear();
        record.events.clear();
    }
}

TEST_F(GevAcquisition, SoftAndManualTriggersEachMakeAFrame) {
    Run(Camera(0, "Text.67 = Marlo TS-2\n"), false, IXGrab::TRIGGER_SOFTWARE);
    ASSERT_EQ(grab->GenerateSoftTrigger(0), 1);
    ASSERT_TRUE(WaitUntil([&] { return record.Frames() == 1; }));
    EXPECT_EQ(grab->GetFrameCount(9), grab->GetFrameCount(0));
    EXPECT_EQ(grab->GetFrameCount(0), 1u);
    EXPECT_EQ(grab->GetFramePtr(-1), grab->GetFramePtr(0));
    EXPECT_GT(grab->GetFrameTimestamp(0), 0.0);
    EXPECT_EQ(grab->GetFrameTimestamp(-1), grab->GetFrameTimestamp(0));

    // A manual trigger on a hardware-triggered camera fires it by software
    // through its GenICam acquisition commands, then puts the source back.
    grab->SetTriggerMethod(IXGrab::TRIGGER_HARDWARE);
    Station::ClearTrace();
    grab->GenerateManualTrigger(0);
    ASSERT_TRUE(WaitUntil([&] { return record.Frames() == 2; }));
    EXPECT_TRUE(WaitUntil([] {
        return TracedInOrder({"GEV:0 SetVal AcquisitionStop 1", "GEV:0/0 SetStoredVal 9 1 0",
                              "GEV:0/0 SetAcqParam 10 0 0", "GEV:0 SetEnumVal AcquisitionMode Continuous",
                              "GEV:0 SetVal AcquisitionStart 1", "GEV:0/0 SetAcqParam 13 0 0",
                              "GEV:0/0 SetAcqParam 10 2 0", "GEV:0 SetVal TLParamsLocked 1"});
    }));
    grab->GenerateManualTrigger(-1);
    EXPECT_TRUE(WaitUntil([&] { return record.Frames() == 3; }));

    const HWND window = reinterpret_cast<HWND>(0x5A);
    EXPECT_EQ(grab->Display(window, static_cast<unsigned char*>(grab->GetFramePtr(0))), 1);
    EXPECT_EQ(Station::Display(window).paints, 1u);
}

TEST_F(GevAcquisition, StartFailsWithoutCameraZeroOrItsGrab) {
    Open(Camera(0) + "[QBM]\nModuleInfo = 1\n");
    ASSERT_EQ(grab->Create(0, 0, 64, 48, 8, 3, 5000), 1);
    grab->DeleteModules(0);
    EXPECT_EQ(grab->Start(), 0);
    EXPECT_EQ(grab->IsGrabRunning(), 0);
    ASSERT_EQ(grab->ReCreateModules(-1), 1);
    ASSERT_TRUE(Station::SetReachable("GEV", 0, 0, false));
    EXPECT_EQ(grab->Start(), 0);
    EXPECT_STREQ(grab->LastError(), "CIGrabGev::Start: Failed to start grab");
    EXPECT_EQ(grab->IsGrabRunning(), 0);
    ASSERT_TRUE(Station::SetReachable("GEV", 0, 0, true));
    EXPECT_EQ(grab->Start(), 1);
    grab->SetAcqReady(1);
    EXPECT_EQ(grab->GetOutputPortVal(3), 1);
}

struct Stopper {
    ProbeGev* grab;
    std::atomic<int> stops{0};
};

int StopInside(unsigned char*, unsigned int, std::int64_t, void* context) {
    auto* stopper = static_cast<Stopper*>(context);
    stopper->grab->Stop();
    ++stopper->stops;
    return 0;
}

TEST_F(GevAcquisition, StopFromACallbackAndTerminateWhileRunningEndTheLoop) {
    Open(Camera(0, "FrameRate = 100\n"));
    ASSERT_EQ(grab->Create(0, 0, 64, 48, 8, 3, 5000), 1);
    Stopper stopper{grab.get()};
    grab->RegisterBufferCallback(&StopInside, &stopper);
    for (int round = 1; round <= 2; ++round) {
        ASSERT_EQ(grab->Start(), 1);  // the second Start joins the loop the callback stopped
        EXPECT_TRUE(WaitUntil([&] { return stopper.stops.load() >= round; }));
    }
    grab->RegisterBufferCallback(&OnBuffer, &record);
    ASSERT_EQ(grab->Start(), 1);
    EXPECT_GE(stopper.stops.load(), 2);
    ASSERT_TRUE(WaitUntil([&] { return record.Frames() >= 1; }));
    EXPECT_EQ(grab->Terminate(), 1);
    EXPECT_EQ(grab->IsGrabRunning(), 0);
    EXPECT_EQ(Station::ActiveGrabs("GEV", 0, 0), 0u);
    ExpectCountsAddUp(*grab);
}

TEST_F(GevAcquisition, MarloCamerasStartTogetherAndControllerChannelsValidateExposures) {
    const std::string marlo = "Text.67 = Marlo 5\n";
    Run(Camera(0, marlo) + Camera(1, marlo) + "[TRX]\n", false, IXGrab::TRIGGER_FREE_RUN);
    EXPECT_TRUE(TracedInOrder({"TRX:0/0 AdvancedIOSetValidateWindow 0 6000", "TRX:0/0 AdvancedIOStop",
                               "TRX:0/0 AdvancedIOStart", "TRX:0 WriteModuleReg 9 0 1 0",
                               "TRX:0 WriteModuleReg 14 0 1 0", "GEV:0/0 Grab 129 3 -1", "GEV:1/0 Grab 129 3 -1",
                               "GEV:0/0 WriteReg 268435624 1", "GEV:1/0 WriteReg 268435624 1",
                               "TRX:0 WriteModuleReg 9 0 1 1", "TRX:0 WriteModuleReg 14 0 1 1"}));
    ASSERT_TRUE(WaitUntil([&] { return record.Frames() >= 2; }));
    ASSERT_TRUE(Station::FireEvent("TRX", 0, 2));
    EXPECT_TRUE(WaitUntil([] {
        return TracedInOrder({"TRX:0/0 AdvancedIOValidateEntry", "TRX:0/1 AdvancedIOValidateEntry"});
    }));
    // Each entry opens the 6 ms window the controller was armed with.
    const auto windows = TracedNumbers("TRX:0/1 ValidateWindow ");
    ASSERT_FALSE(windows.empty());
    EXPECT_EQ(windows[0][1] - windows[0][0], 6000);
    grab->Stop();
    ExpectCountsAddUp(*grab);
}

}  // namespace
}  // namespace kiru_test
