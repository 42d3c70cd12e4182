// The QB2 board back-end on a simulated "QBM" board: bring-up, the decision
// queue with and without the library's entry points, the line record,
// solution select, outputs and pulses, and acquisition.
#include <cstring>

#include "backends/board/board_fixture.h"
#include "backends/frame_counts.h"

namespace kiru_test {
namespace {

class Qb2Test : public BoardTest {
protected:
    void Open(const std::string& extra = "") {
        Load("[QBM]\nWidth = 32\nHeight = 8\n" + extra);
        ASSERT_EQ(grab.Initialize(), 1);
    }
    CIGrabQB2 grab;
};

TEST_F(Qb2Test, BringUp) {
    Open("Param.83 = 50\nCaps.8 = 2 250000\nParam.16410 = 4.5\nParam.11 = 1\n");
    // The debounce is raised to the board's minimum.
    for (const auto& [number, value] : {std::pair<ULONG, double>{83, 200.0}, {16403, 1500.0}, {16404, 2.0}, {16398, 3.0}})
        EXPECT_EQ(Param("QBM", number), value) << number;
    EXPECT_LT(TraceIndex("QBM:0 WriteOutputPort 0 34"), TraceIndex("QBM:0 EnableModuleIo 1 1"));
    IFW_GPI_CONFIG in{};
    grab.GetGPIConfig(0, &in);
    EXPECT_FLOAT_EQ(in.Threshold, 4.5f);
    EXPECT_EQ(in.Debounce, 200u);
    grab.GetGPIConfig(7, &in);
    EXPECT_EQ(in.Polarity, 1u);
    EXPECT_EQ(in.Debounce, 200u);
    IFW_GPO_CONFIG out{};
    grab.GetGPOConfig(4, &out);
    EXPECT_EQ(out.Duration, 2000u);
    struct Limits : CIGrabQB2 {
        double Min() const { return m_exposureMin; }
        double Max() const { return m_exposureMax; }
    } limits;
    ASSERT_EQ(limits.Initialize(), 1);
    EXPECT_DOUBLE_EQ(limits.Min(), 0.02);
    EXPECT_DOUBLE_EQ(limits.Max(), 2500.0);

    Load("[QBM]\nParam.83 = 300\n");
    CIGrabQB2 other;
    ASSERT_EQ(other.Initialize(), 1);
    EXPECT_EQ(Param("QBM", 83), 300.0);
}

TEST_F(Qb2Test, DecisionsGoThroughTheBoardQueue) {
    Open("Param.16403 = 0\n");
    // Restarting the queue with no dummies leaves it started and empty.
    ASSERT_EQ(grab.SetDummyDecisionFIFO(0, 0), 1);
    IFW_GPO_CONFIG pulsed{1, 0, 20000, IFW_GPO_DRIVER_PASS_IMMEDIATE, 0};
    grab.SetGPOConfig(1, &pulsed);
    const std::size_t before = Station::RegisterWrites("QBM", 0).size();
    ASSERT_EQ(grab.SetPass(0), 1);
    ASSERT_EQ(grab.SetFail(0), 1);
    ASSERT_EQ(grab.SetRecycle(0), 1);
    ASSERT_TRUE(WaitUntil([] { return Station::ReleasedDecisions("QBM", 0, -1).size() == 3; }));
    EXPECT_EQ(Station::ReleasedDecisions("QBM", 0, -1), (std::vector<ULONG>{0, 1, 2}));
    // The pass pulsed line 1 (board bit 12) and nothing else.
    const auto writes = Station::RegisterWrites("QBM", 0);
    ASSERT_GT(writes.size(), before);
    EXPECT_EQ(writes[before].reg, 36u);
    EXPECT_EQ(writes[before].value & 0x1000u, 0x1000u);
    EXPECT_EQ(writes[before].value & 0x0A40u, 0u);
}

TEST_F(Qb2Test, MissingEntryPointsQueueNothing) {
    Load("[QBM]\n");
    Station::SetEntryPointPresent("QbmAdvancedIOEnqueueDecision", false);
    Station::SetEntryPointPresent("QbmAdvancedIOStop", false);
    CIGrabQB2 board;  // looks the entry points up when it is built
    ASSERT_EQ(board.Initialize(), 1);
    EXPECT_EQ(board.SetPass(0), 0);
    EXPECT_EQ(board.SetRecycle(0), 0);
    EXPECT_EQ(board.SetDummyDecisionFIFO(1, 0), 0);
    EXPECT_FALSE(TracedWith("QBM:0 QbmAdvancedIO"));
    CIGrabQB2 fresh;  // before initialization the common check fails first
    EXPECT_EQ(fresh.SetPass(0), 0);
    EXPECT_STREQ(fresh.GetLastErrorMsg(), "CIGrab::SetPass: Grab not initialized");
}

TEST_F(Qb2Test, LineRecordAndInputChangeNames) {
    Open();
    IFW_GPIO_ATTR attr{};
    ASSERT_EQ(grab.GetGpioAttr(&attr), 1);
    EXPECT_EQ(grab.GetGpioAttr(nullptr), 1);
    EXPECT_EQ(attr.extraInputs, 0u);
    EXPECT_EQ(attr.numInputs, 8u);
    EXPECT_EQ(attr.numOutputs, 5u);
    EXPECT_EQ(attr.platformTagA, 3u);
    EXPECT_EQ(attr.platformTagB, 7u);
    const struct {
        ULONG line;
        const char* name;
        ULONG flags;
    } inputs[] = {{0, "IN0", 8}, {3, "IN3", 0}, {4, "SOL0", 8}, {6, "SOL2", 0}, {7, "Trig", 11}};
    for (const auto& i : inputs) {
        EXPECT_STREQ(attr.inputs[i.line].name, i.name);
        EXPECT_EQ(attr.inputs[i.line].flags, i.flags) << i.name;
        EXPECT_FLOAT_EQ(attr.inputs[i.line].thresholdLimit, 18.0f);
    }
    EXPECT_EQ(attr.inputs[7].debounceLimit, 65535u);
    EXPECT_STREQ(attr.outputs[3].name, "OUT3");
    EXPECT_EQ(attr.outputs[3].limit2, 0xFFFFFFu);
    EXPECT_EQ(std::string(attr.outputs[4].name, 16), "Decision Outputs");
    EXPECT_EQ(attr.outputs[4].limit3, 1000000u);
    grab.SetHwSolutionIDNumBits(5);
    grab.GetGpioAttr(&attr);
    EXPECT_EQ(attr.extraInputs, 2u);
    EXPECT_EQ(attr.solutionBits, 5u);

    char names[256];
    std::memset(names, 'x', sizeof names);
    const ULONG size = grab.GetInputChangeNames(names);
    EXPECT_EQ(size, 216u);
    EXPECT_STREQ(names, "TRIG Rising");
    EXPECT_STREQ(names + 12, "TRIG Falling");
    EXPECT_STREQ(names + size - 13, "ACC Falling");
    EXPECT_EQ(names[size - 1], '\0');
    EXPECT_EQ(names[size], 'x');
}

TEST_F(Qb2Test, SolutionSelectReadsRegister37) {
    Open();
    const struct {
        int bits;
        ULONG reg;
        UINT solution;
    } cases[] = {{3, 0x103, 7}, {3, 0x002, 2}, {2, 0x103, 3}, {7, 0x584, 92}, {0, 0xFFFF, 0}};
    for (const auto& c : cases) {
        grab.SetHwSolutionIDNumBits(c.bits);
        Station::SetModuleParam("QBM", 0, 37, c.reg);
        EXPECT_EQ(grab.ReadSolutionNum(), c.solution) << c.bits << " " << c.reg;
        EXPECT_EQ(grab.GetGPInputValue(0), c.solution);
    }
    SolutionSeen seen;
    grab.SetHwSolutionIDNumBits(3);
    Station::SetModuleParam("QBM", 0, 37, 0x101);
    grab.RegisterChangeSolutionCallback(&SolutionSeen::OnChange, &seen);
    Station::ClearTrace();
    Station::SetInput("QBM", 0, 0, 0x10);  // a solution line changes
    ASSERT_TRUE(WaitUntil([&] { return seen.calls.load() == 1; }));
    EXPECT_EQ(seen.solution.load(), 5u);
    EXPECT_LT(TraceIndex("QBM:0 WriteOutputPort 0 18"), TraceIndex("QBM:0 WriteOutputPort 1 18"));
    EXPECT_EQ(grab.GetGPInputValue(1), 0x10u);
}

TEST_F(Qb2Test, InputActiveCallbacksMapToBoardEvents) {
    Open();
    InputSeen seen;
    EXPECT_EQ(grab.CreateInputActiveCallback(18, &InputSeen::OnInput, &seen), nullptr);
    void* falling = grab.CreateInputActiveCallback(3, &InputSeen::OnInput, &seen);  // IN0 falling
    ASSERT_NE(falling, nullptr);
    grab.CreateInputActiveCallback(0, &InputSeen::OnInput, &seen);  // TRIG rising
    Station::SetInput("QBM", 0, 0, 0x01);
    Station::SetInput("QBM", 0, 0, 0x00);
    ASSERT_TRUE(WaitUntil([&] { return seen.calls.load() == 1; }));
    EXPECT_EQ(seen.index.load(), 3u);
    Station::SetInput("QBM", 0, 0, 0x80);
    ASSERT_TRUE(WaitUntil([&] { return seen.calls.load() == 2; }));
    EXPECT_EQ(seen.index.load(), 0u);
    grab.DeleteInputActiveCallback(nullptr);
    EXPECT_EQ(Station::InterruptCallbackCount("QBM", 0), 1);  // the solution interrupt stays
}

TEST_F(Qb2Test, OutputsLedsAndPulses) {
    Open();
    const struct {
        UINT port;
        const char* line;
    } cases[] = {{0, "QBM:0 WriteOutputPort 1 4"}, {3, "QBM:0 WriteOutputPort 1 7"},
                 {4, "QBM:0 WriteOutputPort 1 1"}, {5, "QBM:0 WriteOutputPort 1 3"},
                 {6, "QBM:0 WriteOutputPort 1 2"}};
    for (const auto& c : cases) {
        Station::ClearTrace();
        ASSERT_EQ(grab.SetOutputPort(c.port, 1), 1);
        EXPECT_TRUE(Traced(c.line)) << c.port;
    }
    EXPECT_EQ(Param("QBM", 16397), 0.0);  // the decision block gave up its outputs
    Station::ClearTrace();
    grab.ToggleLed(1);
    grab.ToggleLed(1);
    grab.ToggleLed(2);
    EXPECT_EQ(Station::Trace(), (std::vector<std::string>{"QBM:0 WriteOutputPort 1 32", "QBM:0 WriteOutputPort 0 32",
                                                          "QBM:0 WriteOutputPort 1 33"}));

    EXPECT_EQ(grab.GeneratePulseOutPort(4, 1, 0.0, 1.0), 0);
    for (int k = 0; k < 8; ++k) ASSERT_EQ(grab.GeneratePulseOutPort(k % 4, 1, 5000.0, 5000.0), 1) << k;
    EXPECT_EQ(grab.GeneratePulseOutPort(0, 1, 0.0, 1.0), 0);  // a ninth overlapping pulse
}

TEST_F(Qb2Test, AShortPulseIsAssertedAtOnceAndReleasedOnTheBoard) {
    Open("ModuleParam.36 = 0\n");
    ASSERT_EQ(grab.GeneratePulseOutPort(2, 1, 0.5, 2.0), 1);  // asserted at once: bit 9
    EXPECT_EQ(ModuleParam("QBM", 36) & 0x200u, 0x200u);
    ASSERT_TRUE(WaitUntil([] { return (ModuleParam("QBM", 36) & 0x200u) == 0; }));
    for (int k = 0; k < 8; ++k) ASSERT_EQ(grab.GeneratePulseOutPort(1, 0, 0.0, 3.0), 1) << k;
}

TEST_F(Qb2Test, AcquisitionDeliversFrames) {
    Open("Caps.8 = 2 250000\n");
    ASSERT_EQ(grab.Create(0, 0, 32, 8, 8, 4, 1000), 1);
    Frames frames;
    grab.RegisterBufferCallback(&Frames::OnFrame, &frames);
    grab.SetTriggerMethod(IXGrab::TRIGGER_SOFTWARE);
    ASSERT_EQ(grab.Start(), 1);
    const int settled = frames.count.load();
    // The first acquisition of the process discards what comes while the
    // camera settles: trigger until a frame arrives.
    ASSERT_TRUE(WaitUntil([&] {
        EXPECT_EQ(grab.GenerateSoftTrigger(0), 1);
        return frames.count.load() > settled;
    }));
    ASSERT_EQ(grab.SetExposure(3.0, 0), 1);
    Station::ClearTrace();
    ASSERT_EQ(grab.SetExposure(3.0, 0), 1);  // the camera holds it already: no restart
    EXPECT_FALSE(TracedWith("QBM:0/0 Grab "));
    EXPECT_EQ(grab.SetTiling(2, 2), 1);
    EXPECT_EQ(grab.GetHorzTiles(), 2u);
    EXPECT_EQ(grab.GetVertTiles(), 1u);
    EXPECT_EQ(grab.Stop(), 1);
    EXPECT_EQ(Station::ActiveGrabs("QBM", 0, 0), 0u);
    ExpectCountsAddUp(grab);
    EXPECT_EQ(grab.GetCommPortNum(0, IFW_COMPORT_KIND_1), 4);
    EXPECT_EQ(grab.GetCommPortNum(0, IFW_COMPORT_KIND_0), 0);
}

}  // namespace
}  // namespace kiru_test
