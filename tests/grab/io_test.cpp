// Inspection I/O: stored values and their validation, trigger method and
// strobe, decisions, the rejector, the output port image and the line
// configuration records, in the common layer's and the interface's forms.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "support/test_grab.h"

using namespace kiru_test;

namespace {

// The 16-bit output port image as GetOutputPortVal reports it bit by bit.
ULONG PortImage(CIGrab& g) {
    ULONG value = 0;
    for (UINT bit = 0; bit < 16; ++bit) value |= static_cast<ULONG>(g.GetOutputPortVal(bit)) << bit;
    return value;
}

template <class Record>
bool Same(const Record& a, const Record& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

IFW_CAM_ATTR g_attr;
unsigned char g_table[256];

using G = IXGrab;
using C = CIGrab;

struct Checked {
    const char* op;  // as the refusal names it
    std::function<int(G&)> call;
    int ready;                              // the answer once initialized
    std::function<double(C&)> stored = {};  // a value the call sets even when refused
    double before = 0, after = 0;           // that value before and after the refused call
};

const Checked kChecked[] = {
    {"SetPass", [](G& g) { return g.SetPass(0); }, 1},
    {"SetFail", [](G& g) { return g.SetFail(1); }, 1},
    {"SetRecycle", [](G& g) { return g.SetRecycle(2); }, 1},
    {"SetReady", [](G& g) { return g.SetReady(1); }, 1},
    {"SetDecisionOutput", [](G& g) { return g.SetDecisionOutput(0, IFW_DECISION_FAIL); }, 1},
    {"SetDummyDecisionFIFO", [](G& g) { return g.SetDummyDecisionFIFO(1, 2); }, 1},
    {"SetRejectorPulseControl", [](G& g) { return g.SetRejectorPulseControl(); }, 1},
    {"SetGPO0", [](G& g) { return g.SetGPO0(); }, 1},
    {"SetGPO1", [](G& g) { return g.SetGPO1(3); }, 1},
    {"ToggleLed", [](G& g) { return g.ToggleLed(1); }, 1},
    {"SetActiveCommPort", [](G& g) { return g.SetActiveCommPort(1); }, 1},
    {"EmulationTrigger", [](G& g) { return g.EmulationTrigger(); }, 1},
    {"SetTriggerParams", [](G& g) { return g.SetTriggerParams(); }, 1},
    {"SetImageColor", [](G& g) { return g.SetImageColor(IFW_COLOR_RGB24); }, 1},
    {"GetCamAttr", [](G& g) { return g.GetCamAttr(&g_attr); }, 1},
    {"WriteLUTBuf", [](G& g) { return g.WriteLUTBuf(0, 256, g_table); }, 1},
    {"GetGPInputValue", [](G& g) { return int(g.GetGPInputValue(1)); }, 0},
    {"GetCommPortNum", [](G& g) { return g.GetCommPortNum(1, IFW_COMPORT_KIND_0); }, 0},
    {"RejectorTestControl", [](G& g) { return g.RejectorTestControl(1); }, 0},
    {"RejectorControl", [](G& g) { return g.RejectorControl(1); }, 0, [](C& g) { return g.IsAppRunning(); }},
    {"SetOutputPort", [](G& g) { return g.SetOutputPort(3, 0); }, 1, [](C& g) { return PortImage(g); }, 255, 255},
    {"SetTriggerMethod", [](G& g) { return g.SetTriggerMethod(G::TRIGGER_HARDWARE); }, 1,
     [](C& g) { return g.GetTriggerMethod(); }, G::TRIGGER_NONE, G::TRIGGER_HARDWARE},
    {"SetBrightness", [](G& g) { return g.SetBrightness(40); }, 1, [](C& g) { return g.GetBrightness(); }, 50, 40},
    {"SetBrightness", [](G& g) { return g.SetCamBrightness(33, 2); }, 1, [](C& g) { return g.GetCamBrightness(0); }, 40,
     33},
    {"SetContrast", [](G& g) { return g.SetContrast(60); }, 1, [](C& g) { return g.GetContrast(); }, 50, 60},
    {"SetExposure", [](G& g) { return g.SetExposure(12.5, 3); }, 1, [](C& g) { return g.GetCamExposure(5); }, 100,
     12.5},
    // Delays of 0 are stored as 1; the external trigger delay answers 0
    // without a message while not enabled, the rejector and recycle delays
    // while their outputs are not.
    {"SetFrameDelay", [](G& g) { return g.SetFrameDelay(0); }, 1, [](C& g) { return g.GetFrameDelay(); }, 1, 1},
    {"SetStrobeOffset", [](G& g) { return g.SetStrobeOffset(0); }, 1, [](C& g) { return g.GetStrobeOffset(); }, 1, 1},
    {"SetStrobeDuration", [](G& g) { return g.SetStrobeDuration(0); }, 1, [](C& g) { return g.GetStrobeDuration(); },
     200, 1},
    {"SetExternalTriggerDelay", [](G& g) { return g.SetExternalTriggerDelay(0); }, 0,
     [](C& g) { return g.GetExternalTriggerDelay(); }, 1, 1},
    {"SetRejectorDelay", [](G& g) { return g.SetRejectorDelay(0); }, 0, [](C& g) { return g.GetRejectorDelay(); }, 100,
     1},
    {"SetRecycleDelay", [](G& g) { return g.SetRecycleDelay(0); }, 0, [](C& g) { return g.GetRecycleDelay(); }, 100, 1},
};

template <class Grab>
void ExpectInitializationChecks(const std::string& cls) {
    constexpr bool common = std::is_base_of_v<CIGrab, Grab>;
    Grab cold, ready;
    ASSERT_EQ(ready.Initialize(), 1);
    for (const Checked& c : kChecked) {
        SCOPED_TRACE(cls + "::" + c.op);
        // The stored value is looked at in the common layer's form only.
        auto stored = [&] {
            if constexpr (common) return c.stored ? c.stored(cold) : 0.0;
            return c.before;
        };
        EXPECT_EQ(stored(), c.before);
        EXPECT_EQ(c.call(cold), 0);
        EXPECT_EQ(cold.LastError(), cls + "::" + c.op + ": Grab not initialized");
        EXPECT_EQ(stored(), common ? c.after : c.before);
        EXPECT_EQ(c.call(ready), c.ready);
    }
}

// Range checks and the outputs some values need, in either form.
template <class Grab>
void ExpectValueRules(const std::string& cls) {
    Grab g;
    for (int initialized : {0, 1}) {
        ASSERT_EQ(initialized ? g.Initialize() : 1, 1);
        EXPECT_EQ(g.SetBrightness(100), initialized);
        EXPECT_EQ(g.SetBrightness(101), 0);
        EXPECT_EQ(g.LastError(), cls + "::SetBrightness: Invalid brightness value");
        EXPECT_EQ(g.SetContrast(0), initialized);
        EXPECT_EQ(g.SetContrast(101), 0);
        EXPECT_EQ(g.LastError(), cls + "::SetContrast: Invalid contrast value");
        EXPECT_EQ(g.GetBrightness() * 1000 + g.GetContrast(), 100000u);
    }
    EXPECT_EQ(g.SetExternalTriggerDelayEnable(1), 1);
    EXPECT_EQ(g.GetExternalTriggerDelayEnable(), 1);
    EXPECT_EQ(g.SetExternalTriggerDelay(11), 1);
    EXPECT_EQ(g.GetExternalTriggerDelay(), 11u);
    // Rejector and recycle delays need their output.
    EXPECT_EQ(g.SetRejectorDelay(50), 0);
    EXPECT_EQ(g.LastError(), cls + "::SetRejectorDelay: Rejector not enabled");
    EXPECT_EQ(g.SetRecycleDelay(70), 0);
    EXPECT_EQ(g.LastError(), cls + "::SetRecycleDelay: Recycler not enabled");
    g.m_rejectorEnabled = 1;
    EXPECT_EQ(g.SetRejectorDelay(50), 1);
    // An unknown trigger method: 1, nothing changes, the reason stays behind.
    EXPECT_EQ(g.SetTriggerMethod(static_cast<IXGrab::TriggerMethod>(5)), 1);
    EXPECT_EQ(g.GetTriggerMethod(), IXGrab::TRIGGER_NONE);
    EXPECT_EQ(g.LastError(), cls + "::SetTriggerMethod: No trigger method specified");
}

}  // namespace

TEST(GrabIo, InitializationChecksInBothForms) {
    ExpectInitializationChecks<TestGrab>("CIGrab");
    ExpectInitializationChecks<TestIXGrab>("IXGrab");
}

TEST(GrabIo, ValueRulesInBothForms) {
    ExpectValueRules<TestGrab>("CIGrab");
    ExpectValueRules<TestIXGrab>("IXGrab");
}

TEST(GrabIo, TriggerMethodAndStrobe) {
    TestGrab g;
    // Not initialized: stored, not applied; the strobe switch is applied
    // (and refused) all the same.
    EXPECT_EQ(g.SetTriggerMethod(IXGrab::TRIGGER_HARDWARE), 0);
    EXPECT_EQ(g.log.Count("SetTriggerParams"), 0u);
    g.SetStrobeEnable(1);
    EXPECT_EQ(g.GetStrobeEnable(), 1);
    EXPECT_EQ(g.log.Count("SetTriggerParams"), 1u);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::SetTriggerParams: Grab not initialized");

    ASSERT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.SetTriggerMethod(IXGrab::TRIGGER_SOFTWARE), 1);
    EXPECT_EQ(g.log.Count("SetTriggerParams"), 2u);
    EXPECT_EQ(g.GenerateSoftTrigger(0), 1);
    // An unknown method and the same method again apply nothing.
    EXPECT_EQ(g.SetTriggerMethod(IXGrab::TRIGGER_NONE) + g.SetTriggerMethod(IXGrab::TRIGGER_SOFTWARE), 2);
    EXPECT_EQ(g.GetTriggerMethod(), IXGrab::TRIGGER_SOFTWARE);
    EXPECT_EQ(g.log.Count("SetTriggerParams"), 2u);
    // Camera -1 is every camera; a single camera is left to back-ends.
    EXPECT_EQ(g.SetCamTriggerMethod(IXGrab::TRIGGER_HARDWARE, 0), 1);
    EXPECT_EQ(g.GetTriggerMethod(), IXGrab::TRIGGER_SOFTWARE);
    EXPECT_EQ(g.SetCamTriggerMethod(IXGrab::TRIGGER_HARDWARE, -1), 1);
    EXPECT_EQ(g.GetTriggerMethod(), IXGrab::TRIGGER_HARDWARE);
    EXPECT_EQ(g.GenerateSoftTrigger(0), 0);

    // A running grab is stopped, reprogrammed and started again.
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    const std::function<void()> changes[] = {[&] { EXPECT_EQ(g.SetTriggerMethod(IXGrab::TRIGGER_FREE_RUN), 1); },
                                             [&] { g.SetStrobeEnable(0); }};
    for (const auto& change : changes) {
        ASSERT_EQ(g.Start(), 1);
        g.log.Clear();
        change();
        const auto ops = g.log.Ops();
        ASSERT_GE(ops.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(ops.begin(), ops.begin() + 3),
                  (std::vector<std::string>{"Stop", "SetTriggerParams", "Start"}));
        EXPECT_EQ(g.IsGrabRunning(), 1);
    }
}

TEST(GrabIo, RejectorRecyclerAndOtherStoredValues) {
    TestGrab g;
    EXPECT_EQ(g.GetHardwareRevision(), 256u);
    ASSERT_EQ(g.Initialize(), 1);
    // Without a rejector the state is still stored, and the answer is 0.
    EXPECT_EQ(g.RejectorControl(1), 0);
    EXPECT_EQ(g.IsAppRunning(), 1);
    const std::string before = g.PlantError();
    EXPECT_EQ(g.RejectorTestControl(1), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), before.c_str());

    g.m_rejectorEnabled = g.m_recyclerEnabled = 1;
    EXPECT_EQ(g.RejectorControl(0), 1);
    EXPECT_EQ(g.IsAppRunning(), 0);
    EXPECT_EQ(g.SetRejectorDelay(0) + g.SetRecycleDelay(80) + g.SetPartsBetweenSensors(7), 3);
    EXPECT_EQ(std::vector<ULONG>({g.GetRejectorDelay(), g.GetRecycleDelay(), g.GetPartsBetweenSensors()}),
              std::vector<ULONG>({1, 80, 7}));
    EXPECT_EQ(g.SetSolutionChangeState(1) + g.SetHwSolutionIDNumBits(5) + g.SetSolutionLoaded(1, 9), 3);
    g.SetNumCameras(4);
    EXPECT_EQ(g.GetExpicitSetNumCameras(), 4);
    // The test value restarts a running grab.
    EXPECT_EQ(g.RejectorTestControl(2), 1);
    EXPECT_EQ(g.log.Count("Start"), 0u);
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    ASSERT_EQ(g.Start(), 1);
    g.log.Clear();
    EXPECT_EQ(g.RejectorTestControl(3), 1);
    EXPECT_EQ(g.log.Count("Start"), 1u);
}

TEST(GrabIo, OutputPortImage) {
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    struct Step {
        UINT port;
        int value;
        ULONG image;
    };
    // Any non-zero value sets the bit; bits 16 to 31 have no effect; bit
    // numbers are taken modulo 32.
    const Step steps[] = {{3, 0, 0xF7},    {3, 7, 0xFF},        {15, 1, 0x80FF},     {16, 1, 0x80FF},
                          {31, 1, 0x80FF}, {32 + 0, 0, 0x80FE}, {64 + 9, 1, 0x82FE}, {32 + 20, 1, 0x82FE}};
    for (const Step& s : steps) {
        EXPECT_EQ(g.SetOutputPort(s.port, s.value), 1);
        EXPECT_EQ(PortImage(g), s.image) << "port " << s.port << " value " << s.value;
    }
    for (UINT bit = 16; bit < 32; ++bit) EXPECT_EQ(g.GetOutputPortVal(bit), 0) << "bit " << bit;
}

TEST(GrabIo, LineConfigurationRecords) {
    TestGrab g;
    const IFW_GPI_CONFIG defaultIn{1, 200, 0, 3.0f, 0};
    const IFW_GPO_CONFIG defaultOut{1, 0, 1000, IFW_GPO_DRIVER_PLAIN, 0};
    IFW_GPI_CONFIG newIn{0, 55, 7, 1.5f, 9};
    IFW_GPO_CONFIG newOut{0, 10, 20, IFW_GPO_DRIVER_FAIL_IMMEDIATE, 3};
    g.SetGPIConfig(5, &newIn);
    g.SetGPOConfig(30, &newOut);
    // Line 32 and null records are ignored.
    g.SetGPIConfig(32, &newIn);
    g.SetGPOConfig(0xFFFFFFFFu, &newOut);
    g.SetGPIConfig(0, nullptr);
    g.SetGPOConfig(0, nullptr);
    g.GetGPIConfig(0, nullptr);
    g.GetGPOConfig(0, nullptr);
    IFW_GPI_CONFIG in = newIn;
    IFW_GPO_CONFIG out = newOut;
    g.GetGPIConfig(32, &in);
    g.GetGPOConfig(32, &out);
    EXPECT_TRUE(Same(in, newIn));
    EXPECT_TRUE(Same(out, newOut));
    for (ULONG line : {0u, 29u, 30u, 31u}) {
        g.GetGPOConfig(line, &out);
        EXPECT_TRUE(Same(out, line == 30 ? newOut : defaultOut)) << line;
        g.GetGPIConfig(line, &in);
        EXPECT_TRUE(Same(in, defaultIn)) << line;
    }
    // The state word comes from the inputs, not from what was stored.
    for (ULONG bits : {(1u << 5) | (1u << 31), 0u}) {
        g.inputBits = bits;
        g.GetGPIConfig(5, &in);
        newIn.State = bits & 1u << 5 ? 1 : 0;
        EXPECT_TRUE(Same(in, newIn)) << bits;
        g.GetGPIConfig(31, &in);
        EXPECT_EQ(in.State, bits >> 31) << bits;
    }
    // The attribute record is only cleared by the common layer.
    EXPECT_EQ(g.GetGpioAttr(nullptr), 1);
    IFW_GPIO_ATTR attr;
    std::memset(&attr, 0xA5, sizeof attr);
    EXPECT_EQ(g.GetGpioAttr(&attr), 1);
    EXPECT_TRUE(Same(attr, IFW_GPIO_ATTR{}));
}
