// GigE decisions: the general I/O pattern, result words per mode, the
// controllers' queues and pulses, and the ninth overlapping board pulse.
#include "backends/gev/gev_fixture.h"
#include "capture/sim/sim_clock.h"

namespace kiru_test {
namespace {

class DecisionTest : public GevTest {
protected:
    // A GigE object whose frame bookkeeping the tests can see and set.
    struct DecisionGev : ProbeGev {
        using CIGrabGev::m_arrivalTime;
        void SetCurrent(int camera) { __atomic_store_n(&m_currentCamera, camera, __ATOMIC_RELEASE); }
        void Send() { CIGrabGev::EnqueueResult(); }
    };
    DecisionGev* OpenDecisions(const std::string& text) {
        Load(text);
        auto* object = new DecisionGev;
        grab.reset(object);
        EXPECT_EQ(object->Initialize(), 1);
        return object;
    }
    static std::vector<std::string> Sent() {
        std::vector<std::string> sent;
        for (const std::string& line : Station::Trace())
            if (line.find("AdvancedIOEnqueueDecision") != std::string::npos) sent.push_back(line);
        return sent;
    }
};

TEST_F(DecisionTest, ResultWordsPerModeWithFourUsbCameras) {
    const struct {
        int async;
        std::vector<std::string> sent;
    } cases[] = {
        // Only the current camera's word; its channel's fail line is bit 0.
        {1, {"USB:0/2 AdvancedIOEnqueueDecision 1"}},
        {0,
         {"USB:0/0 AdvancedIOEnqueueDecision 1", "USB:0/1 AdvancedIOEnqueueDecision 1",
          "USB:0/2 AdvancedIOEnqueueDecision 1", "USB:0/3 AdvancedIOEnqueueDecision 1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.async);
        DecisionGev* gev = OpenDecisions(Camera(0) + Camera(1) + Camera(2) + Camera(3) + "[USB:0]\n");
        gev->SetASyncMode(c.async);
        IFW_GPO_CONFIG fail{1, 0, 1000, IFW_GPO_DRIVER_FAIL_QUEUED, 0};
        IFW_GPO_CONFIG pulse{1, 0, 1000, IFW_GPO_DRIVER_PULSE_QUEUED, 0};
        for (ULONG line = 0; line < 8; line += 2) gev->SetGPOConfig(line, &fail);
        gev->SetGPOConfig(13, &pulse);  // a line of a missing second module: ignored
        gev->SetCurrent(2);
        Station::ClearTrace();
        ASSERT_EQ(gev->SetFail(0), 1);
        gev->SetPulse(13, 1);
        gev->Send();
        EXPECT_EQ(Sent(), c.sent);
        grab.reset();
    }
}

TEST_F(DecisionTest, RcsPulseTimedFromTheFrame) {
    record.hold = true;
    struct Release {  // a failed check must not leave a frame held at the door
        Record& r;
        ~Release() { r.Open(); }
    } release{record};
    DecisionGev* gev = OpenDecisions(Camera(0) + "[RCS]\n");
    gev->SetASyncMode(1);
    gev->SetCamTriggerMethod(IXGrab::TRIGGER_HARDWARE, 0);
    IFW_GPO_CONFIG fail{1, 5000, 700, IFW_GPO_DRIVER_FAIL_QUEUED, 0};
    gev->SetGPOConfig(1, &fail);
    gev->SetExposure(2.0, 0);
    double exposure = 0;  // as the camera got it
    ASSERT_TRUE(Station::GetParam("GEV", 0, 0, 0x4000, &exposure));
    ASSERT_EQ(gev->Create(0, 0, 64, 48, 8, 3, 5000), 1);
    gev->RegisterBufferCallbackEx(&OnBufferEx, &record);
    ASSERT_EQ(gev->Start(), 1);
    ASSERT_TRUE(Station::HardwareTrigger("GEV", 0));
    ASSERT_TRUE(WaitUntil([&] { return record.Frames() == 1; }));
    // The frame is with the client: the verdict belongs to it.
    const int verdict = gev->SetFail(0);
    const auto due = static_cast<std::int64_t>(gev->m_arrivalTime[0] + 5000 - exposure);
    record.Open();
    ASSERT_EQ(verdict, 1);
    std::vector<kiru::sim::PulseInfo> pulses;
    EXPECT_TRUE(WaitUntil([&] { return !(pulses = Station::Pulses("RCS", 0)).empty(); }));
    gev->Stop();
    ASSERT_EQ(pulses.size(), 1u);
    const auto fired = TracedNumbers("RCS:0 PulseFired 1 1 ");  // time fired, duration
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_GE(fired[0][0], due);
    EXPECT_EQ(fired[0][1], 700);
    EXPECT_EQ(pulses[0].line, 1u);
    EXPECT_EQ(pulses[0].level, 1u);
    EXPECT_EQ(pulses[0].startUs, due);
    EXPECT_EQ(pulses[0].durationUs, 700.0);
}

// A TRX channel releases each word its offset after it was queued, on the
// controller's clock; a restart of the queue (dummy decisions) drops what is
// still pending.
TEST_F(DecisionTest, ControllerQueueReleasesAfterTheOffsetAndRestartDrops) {
    DecisionGev* gev = OpenDecisions(Camera(0) + "[TRX]\n");
    IFW_GPO_CONFIG fail{1, 3000, 1000, IFW_GPO_DRIVER_FAIL_QUEUED, 0};
    gev->SetGPOConfig(0, &fail);
    gev->SetDummyDecisionFIFO(0, 0);
    Station::ClearTrace();
    const auto queued = static_cast<long long>(kiru::sim::NowUs());
    ASSERT_EQ(gev->SetFail(0), 1);
    gev->Send();
    ASSERT_TRUE(WaitUntil([&] { return !TracedNumbers("TRX:0/0 DecisionReleased ").empty(); }));
    const auto released = TracedNumbers("TRX:0/0 DecisionReleased ");
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0][0], 1);
    EXPECT_GE(released[0][1], queued + 3000);
    // Channel 1 got the empty word on its own queue.
    EXPECT_TRUE(WaitUntil([&] { return !TracedNumbers("TRX:0/1 DecisionReleased 0 ").empty(); }));

    fail.Offset = 5000000;  // the next word waits long enough to be dropped
    gev->SetGPOConfig(0, &fail);
    gev->SetFail(0);
    gev->Send();
    gev->SetDummyDecisionFIFO(0, 0);
    const auto dropped = TracedNumbers("TRX:0/0 DecisionDropped ");
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_EQ(dropped[0][0], 1);
    EXPECT_EQ(Station::PendingDecisions("TRX", 0, 0).size(), 0u);
}

TEST_F(DecisionTest, FailOnGeneralIoWritesThePattern) {
    Open(Camera(0) + "[GIO]\nModuleInfo = 1\n");
    ASSERT_EQ(grab->SetFail(0), 1);
    EXPECT_TRUE(TracedInOrder({"GIO:0 WriteOutputPort 1 8", "GIO:0 WriteOutputPort 0 9", "GIO:0 WriteOutputPort 0 10"}));
    EXPECT_EQ(grab->SetDecisionOutput(3, IFW_DECISION_OUTPUT_TYPE(0)), 0);
    EXPECT_EQ(grab->SetDecisionOutput(2, IFW_DECISION_OUTPUT_TYPE(0)), 1);
}

TEST_F(DecisionTest, NinthOverlappingBoardPulseIsRefused) {
    Open(Camera(0) + "[QBM]\nModuleInfo = 1\n");
    for (int i = 0; i < 8; ++i) EXPECT_EQ(grab->GeneratePulseOutPort(static_cast<UINT>(i % 7), 1, 5000.0, 5000.0), 1);
    EXPECT_EQ(grab->GeneratePulseOutPort(0, 1, 5000.0, 5000.0), 0);
    // Above port 6 the common scheduler takes the pulse.
    EXPECT_EQ(grab->GeneratePulseOutPort(7, 1, 5000.0, 5000.0), 1);
}

TEST_F(DecisionTest, LedsToggleOnTheController) {
    Open(Camera(0) + "[TRX]\n");
    Station::ClearTrace();
    grab->ToggleLed(2);
    grab->ToggleLed(2);
    grab->ToggleLed(3);
    EXPECT_TRUE(TracedInOrder({"TRX:0 WriteOutputPort 1 16", "TRX:0 WriteOutputPort 0 16"}));
    EXPECT_EQ(Station::Trace().size(), 2u);
}

}  // namespace
}  // namespace kiru_test
