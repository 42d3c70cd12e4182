// The LX2 station I/O on a simulated "LXP" board: counters and solution
// select from input edges, decisions, outputs timed by board scripts, line
// records, input-active callbacks and serial ports.
#include <cstring>

#include "backends/board/board_fixture.h"
#include "platform/clock.h"

namespace kiru_test {
namespace {

class Lx2IoTest : public BoardTest {
protected:
    void Open(const std::string& extra = "") {
        Load("[LXP]\n" + extra);
        ASSERT_EQ(grab.Initialize(), 1);
    }
    // One pulse on input line `bit` of port 0, leaving the other lines as they are.
    void Pulse(ULONG bit, ULONG rest = 0) {
        Station::SetInput("LXP", 0, 0, rest | (1u << bit));
        Station::SetInput("LXP", 0, 0, rest);
    }
    CIGrabLX2 grab;
};

TEST_F(Lx2IoTest, PartsBetweenSensorsCountTriggerAndRejectSensorEdges) {
    Open();
    ASSERT_EQ(grab.SetPartsBetweenSensors(3), 1);
    Pulse(2);
    Pulse(2);
    ASSERT_TRUE(WaitUntil([&] { return grab.GetPartsBetweenSensors() == 1; }));
    Pulse(2);
    Pulse(2);
    ASSERT_TRUE(WaitUntil([&] { return grab.GetPartsBetweenSensors() == 0; }));
    Pulse(0);  // a part at the trigger
    Pulse(0);
    ASSERT_TRUE(WaitUntil([&] { return grab.GetPartsBetweenSensors() == 1; }));  // 5 in, 4 out
    grab.SetPartsBetweenSensors(0);
    EXPECT_EQ(grab.GetPartsBetweenSensors(), 0u);
}

TEST_F(Lx2IoTest, SolutionStrobeReportsTheSelectedSolution) {
    Open();
    SolutionSeen seen;
    grab.RegisterChangeSolutionCallback(&SolutionSeen::OnChange, &seen);
    const struct {
        int bits;
        ULONG word;
        unsigned solution;
    } cases[] = {{5, 0xF8, 31}, {6, 0x04, 32}, {5, 0x04, 0}, {6, 0xFC, 63}, {5, 0x28, 5}};
    int calls = 0;
    for (const auto& c : cases) {
        grab.SetHwSolutionIDNumBits(c.bits);
        Station::SetInput("LXP", 0, 0, c.word);
        EXPECT_EQ(grab.GetGPInputValue(0), c.solution);
        EXPECT_EQ(grab.GetGPInputValue(1), c.word);
        Station::ClearTrace();
        Pulse(1, c.word);
        ASSERT_TRUE(WaitUntil([&] { return seen.calls.load() == calls + 1; }));
        ++calls;
        EXPECT_EQ(seen.solution.load(), c.solution) << c.word;
        const long high = TraceIndex("LXP:0 WriteOutputPort 1 6");
        EXPECT_GE(high, 0);
        EXPECT_GT(TraceIndex("LXP:0 WriteOutputPort 0 6"), high);
    }
    // Without solution bits the client is not called.
    InputSeen marker;
    grab.SetHwSolutionIDNumBits(0);
    grab.CreateInputActiveCallback(1, &InputSeen::OnInput, &marker);  // runs after the solution interrupt
    Pulse(1);
    ASSERT_TRUE(WaitUntil([&] { return marker.calls.load() == 1; }));
    EXPECT_EQ(seen.calls.load(), calls);
}

TEST_F(Lx2IoTest, DecisionsDrivePortsSevenToNineAndLedsTheirPorts) {
    Open();
    const struct {
        int (CIGrabLX2::*decide)(ULONG);
        const char* pattern[3];
    } cases[] = {
        {&CIGrabLX2::SetPass, {"0 7", "0 8", "1 9"}},
        {&CIGrabLX2::SetFail, {"1 7", "0 8", "0 9"}},
        {&CIGrabLX2::SetRecycle, {"0 7", "1 8", "0 9"}},
    };
    for (const auto& c : cases) {
        Station::ClearTrace();
        ASSERT_EQ((grab.*c.decide)(0), 1);
        const std::string port = "LXP:0 WriteOutputPort ";
        EXPECT_EQ(Station::Trace(), (TraceLines{port + c.pattern[0], port + c.pattern[1], port + c.pattern[2]}));
    }
    ASSERT_EQ(grab.SetDecisionOutput(1, IFW_DECISION_FAIL), 1);
    IFW_GPO_CONFIG cfg{};
    grab.GetGPOConfig(2, &cfg);
    EXPECT_EQ(cfg.Driver, IFW_GPO_DRIVER_FAIL_QUEUED);
    ASSERT_EQ(grab.SetDecisionOutput(0, IFW_DECISION_PASS), 1);
    grab.GetGPOConfig(1, &cfg);
    EXPECT_EQ(cfg.Driver, IFW_GPO_DRIVER_PASS_QUEUED);
    EXPECT_EQ(grab.SetDecisionOutput(3, IFW_DECISION_PASS), 0);
    EXPECT_EQ(grab.SetDummyDecisionFIFO(2, 0), 1);
    // LED 9 has no port.
    Station::ClearTrace();
    ASSERT_EQ(grab.ToggleLed(2) + grab.ToggleLed(2) + grab.ToggleLed(9), 3);
    EXPECT_EQ(Station::Trace(), (TraceLines{"LXP:0 WriteOutputPort 1 5", "LXP:0 WriteOutputPort 0 5"}));
}

TEST_F(Lx2IoTest, PulsesAreTimedOnTheBoardClock) {
    Open();
    const std::size_t before = Station::RegisterWrites("LXP", 0).size();
    const std::int64_t asked = kiru::platform::NowUs();
    ASSERT_EQ(grab.GeneratePulseOutPort(5, 1, 20.0, 30.0), 1);
    std::vector<kiru::sim::RegisterWriteInfo> writes;
    ASSERT_TRUE(WaitUntil([&] {
        writes = Station::RegisterWrites("LXP", 0);
        return writes.size() >= before + 2;
    }));
    const auto& on = writes[before];
    const auto& off = writes[before + 1];
    EXPECT_EQ(on.reg, 91u);
    EXPECT_EQ(on.value & 0x20u, 0x20u);
    EXPECT_EQ(off.value & 0x20u, 0u);
    // Neither edge comes early (a loaded host may make them late), within a board tick.
    EXPECT_GE(on.timeUs, asked + 20000 - 100);
    EXPECT_GE(off.timeUs, asked + 50000 - 100);

    // Eight running pulses fill the slots; a ninth is refused until one is over.
    for (int k = 0; k < 7; ++k) ASSERT_EQ(grab.GeneratePulseOutPort(6, 1, 5000.0, 1.0), 1) << k;
    ASSERT_TRUE(WaitUntil([&] { return Station::RegisterWrites("LXP", 0).size() >= before + 2; }));
    ASSERT_EQ(grab.GeneratePulseOutPort(7, 1, 0.0, 5000.0), 1);  // takes the finished slot
    EXPECT_EQ(grab.GeneratePulseOutPort(7, 1, 0.0, 1.0), 0);
    EXPECT_EQ(grab.GeneratePulseOutPort(40, 1, 0.0, 1.0), 0);
}

TEST_F(Lx2IoTest, InvertedBoardPulsesAndOutputsDriveTheInverseLevel) {
    Open("Info.4 = 0\nModuleParam.91 = 0xFF\n");
    ASSERT_EQ(grab.SetOutputPort(4, 1), 1);
    EXPECT_EQ(ModuleParam("LXP", 91), 0xEFu);
    Station::ClearTrace();
    ASSERT_EQ(grab.SetOutputPort(4, 1), 1);  // already there: no write
    EXPECT_TRUE(Station::Trace().empty());
    grab.SetAcqReady(0);
    EXPECT_EQ(ModuleParam("LXP", 91), 0xEFu);
    ASSERT_EQ(grab.GeneratePulseOutPort(0, 1, 0.0, 5.0), 1);
    ASSERT_TRUE(WaitUntil([] { return (ModuleParam("LXP", 91) & 1u) == 1u; }));
}

TEST_F(Lx2IoTest, LineRecordsDescribeTheBoard) {
    Open();
    IFW_GPIO_ATTR attr{};
    ASSERT_EQ(grab.GetGpioAttr(&attr), 1);
    EXPECT_EQ(grab.GetGpioAttr(nullptr), 1);
    EXPECT_EQ(attr.numInputs, 3u);  // 8 less the five solution bits
    EXPECT_STREQ(attr.inputs[2].name, "Reject Sensor");
    EXPECT_STREQ(attr.outputs[7].name, "OUT7");
    grab.SetHwSolutionIDNumBits(3);
    grab.GetGpioAttr(&attr);
    EXPECT_EQ(attr.numInputs, 5u);
    EXPECT_STREQ(attr.inputs[4].name, "IN4");
    EXPECT_FLOAT_EQ(attr.inputs[4].thresholdLimit, 18.0f);

    char names[128];
    std::memset(names, 'x', sizeof names);
    ASSERT_EQ(grab.GetInputChangeNames(names), 97u);
    EXPECT_STREQ(names, "GPI0 Rising");
    EXPECT_STREQ(names + 84, "GPI7 Rising");
    EXPECT_EQ(names[96], '\0');
    EXPECT_EQ(names[97], 'x');
}

TEST_F(Lx2IoTest, LineConfigurationProgramsTheBoard) {
    Open();
    IFW_GPI_CONFIG in{0, 350, 0, 0.0f, 0};
    grab.SetGPIConfig(0, &in);
    EXPECT_EQ(Param("LXP", 11), 0.0);
    EXPECT_EQ(Param("LXP", 83), 350.0);
    grab.SetGPIConfig(2, &in);
    EXPECT_EQ(Param("LXP", 0x401D), 350.0);
    grab.SetGPIConfig(40, &in);  // out of range: nothing

    const struct {
        ULONG line;
        IFW_GPO_DRIVER driver;
        ULONG mode, fail, delay, width;  // parameters of the line
        double modeValue, failValue;
    } cases[] = {
        {1, IFW_GPO_DRIVER_FAIL_QUEUED, 0x4022, 0x4029, 0x4024, 0x4025, 1.0, 2.0},
        {1, IFW_GPO_DRIVER_PASS_IMMEDIATE, 0x4022, 0x4029, 0x4024, 0x4025, 0.0, 0.0},
        {2, IFW_GPO_DRIVER_RECYCLE_QUEUED, 0x402A, 0x4031, 0x402C, 0x402D, 1.0, 0.0},
        {2, IFW_GPO_DRIVER_PLAIN, 0x402A, 0x4031, 0x402C, 0x402D, 0.0, 0.0},
    };
    for (const auto& c : cases) {
        IFW_GPO_CONFIG out{0, 7000, 900, c.driver, 0};
        grab.SetGPOConfig(c.line, &out);
        EXPECT_EQ(Param("LXP", c.mode), c.modeValue) << c.line << " " << c.driver;
        EXPECT_EQ(Param("LXP", c.fail), c.failValue) << c.line << " " << c.driver;
        EXPECT_EQ(Param("LXP", c.delay), 7000.0);
        EXPECT_EQ(Param("LXP", c.width), 900.0);
    }
    IFW_GPO_CONFIG strobe{0, 0, 1000, IFW_GPO_DRIVER_STROBE, 0};
    grab.SetGPOConfig(0, &strobe);
    EXPECT_EQ(Param("LXP", 3), 0.0);
    // An immediate-decision line rests at its inactive level.
    IFW_GPO_CONFIG immediate{0, 0, 1000, IFW_GPO_DRIVER_FAIL_IMMEDIATE, 0};
    grab.SetGPOConfig(6, &immediate);
    EXPECT_EQ(ModuleParam("LXP", 91) & 0x40u, 0x40u);
}

TEST_F(Lx2IoTest, InputActiveCallbacksFollowTheirLine) {
    Open();
    InputSeen seen;
    const int before = Station::InterruptCallbackCount("LXP", 0);
    void* node = grab.CreateInputActiveCallback(4, &InputSeen::OnInput, &seen);
    ASSERT_NE(node, nullptr);
    void* other = grab.CreateInputActiveCallback(5, &InputSeen::OnInput, &seen);
    EXPECT_EQ(grab.CreateInputActiveCallback(8, &InputSeen::OnInput, &seen), nullptr);
    EXPECT_EQ(Station::InterruptCallbackCount("LXP", 0), before + 2);
    Pulse(4);
    ASSERT_TRUE(WaitUntil([&] { return seen.calls.load() == 1; }));
    EXPECT_EQ(seen.index.load(), 4u);
    grab.DeleteInputActiveCallback(node);
    EXPECT_EQ(Station::InterruptCallbackCount("LXP", 0), before + 1);
    Pulse(5);
    ASSERT_TRUE(WaitUntil([&] { return seen.calls.load() == 2; }));
    EXPECT_EQ(seen.index.load(), 5u);
    grab.DeleteInputActiveCallback(nullptr);
    EXPECT_EQ(Station::InterruptCallbackCount("LXP", 0), before);
    (void)other;
}

TEST_F(Lx2IoTest, SerialPortsOfTheChannels) {
    const struct {
        const char* port;
        int expected;
    } cases[] = {{"com3", 3}, {"COM7", 7}, {"ttyS1", 4}, {"COMX", 4}};
    {
        CIGrabLX2 fresh;
        EXPECT_EQ(fresh.GetCommPortNum(0, IFW_COMPORT_KIND_0), 0);
        EXPECT_STREQ(fresh.GetLastErrorMsg(), "CIGrabLX2::GetCommPortNum: Grab not initialized");
    }
    for (const auto& c : cases) {
        Load(std::string("[LXP]\nChannels = 2\nCh1.PortName = ") + c.port + "\n");
        CIGrabLX2 board;
        ASSERT_EQ(board.Initialize(), 1);
        EXPECT_EQ(board.GetCommPortNum(1, IFW_COMPORT_KIND_0), c.expected) << c.port;
        EXPECT_EQ(board.GetCommPortNum(5, IFW_COMPORT_KIND_0), 4);  // no such channel
        EXPECT_EQ(board.GetCommPortNum(1, IFW_COMPORT_KIND_1), 1);
        EXPECT_EQ(board.GetCommPortNum(1, IFW_COMPORT_KIND_100), 0);
    }
    Open("Param.0x400B = 9\n");
    Station::ClearTrace();
    ASSERT_EQ(grab.SetActiveCommPort(2), 1);
    EXPECT_TRUE(Traced("LXP:0/0 SetAcqParam 16395 3 0"));
    EXPECT_EQ(Param("LXP", 0x400B), 9.0);  // the stored value stays
}

}  // namespace
}  // namespace kiru_test
