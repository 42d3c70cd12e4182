// Inspection I/O of the common layer: stored values and their validation,
// trigger method and strobe, decisions, the rejector, the output port image
// and the line configuration records.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
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

}  // namespace

TEST(GrabIo, SettersStoreBeforeTheInitializedCheck) {
    struct Case {
        const char* op;
        std::function<int(TestGrab&)> set;
        std::function<bool(TestGrab&)> stored;
    };
    const Case cases[] = {
        {"SetBrightness", [](TestGrab& g) { return g.SetBrightness(40); },
         [](TestGrab& g) { return g.GetBrightness() == 40; }},
        {"SetContrast", [](TestGrab& g) { return g.SetContrast(60); },
         [](TestGrab& g) { return g.GetContrast() == 60; }},
        {"SetExposure", [](TestGrab& g) { return g.SetExposure(12.5, 3); },
         [](TestGrab& g) { return g.GetExposure() == 12.5 && g.GetCamExposure(5) == 12.5; }},
        {"SetFrameDelay", [](TestGrab& g) { return g.SetFrameDelay(0); },
         [](TestGrab& g) { return g.GetFrameDelay() == 1; }},
        {"SetStrobeOffset", [](TestGrab& g) { return g.SetStrobeOffset(0); },
         [](TestGrab& g) { return g.GetStrobeOffset() == 1; }},
        {"SetStrobeDuration", [](TestGrab& g) { return g.SetStrobeDuration(0); },
         [](TestGrab& g) { return g.GetStrobeDuration() == 1; }},
        {"SetExternalTriggerDelay", [](TestGrab& g) { return g.SetExternalTriggerDelay(0); },
         [](TestGrab& g) { return g.GetExternalTriggerDelay() == 1; }},
        {"SetRejectorDelay", [](TestGrab& g) { return g.SetRejectorDelay(50); },
         [](TestGrab& g) { return g.GetRejectorDelay() == 50; }},
        {"SetRecycleDelay", [](TestGrab& g) { return g.SetRecycleDelay(0); },
         [](TestGrab& g) { return g.GetRecycleDelay() == 1; }},
        {"SetBrightness", [](TestGrab& g) { return g.SetCamBrightness(33, 2); },
         [](TestGrab& g) { return g.GetCamBrightness(0) == 33; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.op);
        TestGrab g;
        EXPECT_EQ(c.set(g), 0);
        EXPECT_EQ(std::string(g.GetLastErrorMsg()), std::string("CIGrab::") + c.op + ": Grab not initialized");
        EXPECT_TRUE(c.stored(g));
    }
}

TEST(GrabIo, DefaultsOfStoredValues) {
    TestGrab g;
    EXPECT_EQ(g.GetBrightness(), 50u);
    EXPECT_EQ(g.GetContrast(), 50u);
    EXPECT_EQ(g.GetExposure(), 100.0);
    EXPECT_EQ(g.GetFrameDelay(), 1u);
    EXPECT_EQ(g.GetRejectorDelay(), 100u);
    EXPECT_EQ(g.GetRecycleDelay(), 100u);
    EXPECT_EQ(g.GetExternalTriggerDelay(), 1u);
    EXPECT_EQ(g.GetStrobeDuration(), 200u);
    EXPECT_EQ(g.GetStrobeOffset(), 1u);
    EXPECT_EQ(g.GetStrobeEnable(), 0);
    EXPECT_EQ(g.GetExternalTriggerDelayEnable(), 0);
    EXPECT_EQ(g.GetTriggerMethod(), 0);
    EXPECT_EQ(g.GetPartsBetweenSensors(), 0u);
    EXPECT_EQ(g.IsAppRunning(), 0);
    EXPECT_EQ(PortImage(g), 255u);
    EXPECT_EQ(g.GetHardwareRevision(), 256u);
}

TEST(GrabIo, BrightnessAndContrastRange) {
    TestGrab g;
    ASSERT_EQ(g.SetBrightness(40), 0);
    EXPECT_EQ(g.SetBrightness(101), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::SetBrightness: Invalid brightness value");
    EXPECT_EQ(g.GetBrightness(), 40u);
    EXPECT_EQ(g.SetContrast(101), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::SetContrast: Invalid contrast value");
    EXPECT_EQ(g.GetContrast(), 50u);

    ASSERT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.SetBrightness(100), 1);
    EXPECT_EQ(g.GetBrightness(), 100u);
    EXPECT_EQ(g.SetBrightness(101), 0);
    EXPECT_EQ(g.GetBrightness(), 100u);
    EXPECT_EQ(g.SetContrast(0), 1);
    EXPECT_EQ(g.GetContrast(), 0u);
    EXPECT_EQ(g.SetExposure(3.25, 0), 1);
    EXPECT_EQ(g.GetExposure(), 3.25);
}

TEST(GrabIo, DelaysWhenInitialized) {
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.SetStrobeDuration(0), 1);
    EXPECT_EQ(g.GetStrobeDuration(), 1u);
    EXPECT_EQ(g.SetFrameDelay(7), 1);
    EXPECT_EQ(g.GetFrameDelay(), 7u);

    // External trigger delay: 0 without a message while not enabled.
    ASSERT_EQ(g.SetBrightness(101), 0);
    const std::string before = g.GetLastErrorMsg();
    EXPECT_EQ(g.SetExternalTriggerDelay(9), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), before.c_str());
    EXPECT_EQ(g.GetExternalTriggerDelay(), 9u);
    EXPECT_EQ(g.SetExternalTriggerDelayEnable(1), 1);
    EXPECT_EQ(g.GetExternalTriggerDelayEnable(), 1);
    EXPECT_EQ(g.SetExternalTriggerDelay(11), 1);
    EXPECT_EQ(g.GetExternalTriggerDelay(), 11u);

    // Rejector and recycle delays need their output.
    EXPECT_EQ(g.SetRejectorDelay(50), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::SetRejectorDelay: Rejector not enabled");
    EXPECT_EQ(g.GetRejectorDelay(), 50u);
    EXPECT_EQ(g.SetRecycleDelay(70), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::SetRecycleDelay: Recycler not enabled");
    EXPECT_EQ(g.GetRecycleDelay(), 70u);
    g.SetRejectorEnabled(1);
    g.SetRecyclerEnabled(1);
    EXPECT_EQ(g.SetRejectorDelay(0), 1);
    EXPECT_EQ(g.GetRejectorDelay(), 1u);
    EXPECT_EQ(g.SetRecycleDelay(80), 1);
    EXPECT_EQ(g.GetRecycleDelay(), 80u);
}

TEST(GrabIo, TriggerMethod) {
    TestGrab g;
    // Not initialized: stored, not applied, reported.
    EXPECT_EQ(g.SetTriggerMethod(IXGrab::TRIGGER_HARDWARE), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::SetTriggerMethod: Grab not initialized");
    EXPECT_EQ(g.GetTriggerMethod(), IXGrab::TRIGGER_HARDWARE);
    EXPECT_EQ(g.log.Count("SetTriggerParams"), 0u);

    ASSERT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.SetTriggerMethod(IXGrab::TRIGGER_SOFTWARE), 1);
    EXPECT_EQ(g.GetTriggerMethod(), IXGrab::TRIGGER_SOFTWARE);
    EXPECT_EQ(g.log.Count("SetTriggerParams"), 1u);
    EXPECT_EQ(g.GenerateSoftTrigger(0), 1);

    // An unknown method: 1, nothing changes, the reason stays behind.
    EXPECT_EQ(g.SetTriggerMethod(static_cast<IXGrab::TriggerMethod>(5)), 1);
    EXPECT_EQ(g.GetTriggerMethod(), IXGrab::TRIGGER_SOFTWARE);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::SetTriggerMethod: No trigger method specified");
    EXPECT_EQ(g.SetTriggerMethod(IXGrab::TRIGGER_NONE), 1);
    EXPECT_EQ(g.GetTriggerMethod(), IXGrab::TRIGGER_SOFTWARE);
    EXPECT_EQ(g.log.Count("SetTriggerParams"), 1u);

    // The same method again applies nothing.
    EXPECT_EQ(g.SetTriggerMethod(IXGrab::TRIGGER_SOFTWARE), 1);
    EXPECT_EQ(g.log.Count("SetTriggerParams"), 1u);

    // A running grab is stopped, reprogrammed and started again.
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    ASSERT_EQ(g.Start(), 1);
    g.log.Clear();
    EXPECT_EQ(g.SetTriggerMethod(IXGrab::TRIGGER_FREE_RUN), 1);
    const auto ops = g.log.Ops();
    ASSERT_GE(ops.size(), 3u);
    EXPECT_EQ(ops[0], "Stop");
    EXPECT_EQ(ops[1], "SetTriggerParams");
    EXPECT_EQ(ops[2], "Start");
    EXPECT_EQ(g.IsGrabRunning(), 1);
    EXPECT_EQ(g.GenerateSoftTrigger(0), 0);

    // Camera -1 is every camera; a single camera is left to back-ends.
    EXPECT_EQ(g.SetCamTriggerMethod(IXGrab::TRIGGER_HARDWARE, 0), 1);
    EXPECT_EQ(g.GetTriggerMethod(), IXGrab::TRIGGER_FREE_RUN);
    EXPECT_EQ(g.SetCamTriggerMethod(IXGrab::TRIGGER_HARDWARE, -1), 1);
    EXPECT_EQ(g.GetTriggerMethod(), IXGrab::TRIGGER_HARDWARE);
}

TEST(GrabIo, StrobeEnable) {
    TestGrab g;
    g.SetStrobeEnable(1);
    EXPECT_EQ(g.GetStrobeEnable(), 1);
    EXPECT_EQ(g.log.Count("SetTriggerParams"), 1u);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::SetTriggerParams: Grab not initialized");

    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    ASSERT_EQ(g.Start(), 1);
    g.log.Clear();
    g.SetStrobeEnable(0);
    EXPECT_EQ(g.GetStrobeEnable(), 0);
    const auto ops = g.log.Ops();
    ASSERT_GE(ops.size(), 3u);
    EXPECT_EQ(ops[0], "Stop");
    EXPECT_EQ(ops[1], "SetTriggerParams");
    EXPECT_EQ(ops[2], "Start");
    EXPECT_EQ(g.IsGrabRunning(), 1);
}

TEST(GrabIo, OperationsThatOnlyCheckInitialization) {
    struct Case {
        const char* op;
        std::function<int(CIGrab&)> call;
    };
    const Case cases[] = {
        {"SetPass", [](CIGrab& g) { return g.SetPass(0); }},
        {"SetFail", [](CIGrab& g) { return g.SetFail(1); }},
        {"SetRecycle", [](CIGrab& g) { return g.SetRecycle(2); }},
        {"SetReady", [](CIGrab& g) { return g.SetReady(1); }},
        {"SetDecisionOutput", [](CIGrab& g) { return g.SetDecisionOutput(0, IFW_DECISION_FAIL); }},
        {"SetDummyDecisionFIFO", [](CIGrab& g) { return g.SetDummyDecisionFIFO(1, 2); }},
        {"SetRejectorPulseControl", [](CIGrab& g) { return g.SetRejectorPulseControl(); }},
        {"SetGPO0", [](CIGrab& g) { return g.SetGPO0(); }},
        {"SetGPO1", [](CIGrab& g) { return g.SetGPO1(3); }},
        {"ToggleLed", [](CIGrab& g) { return g.ToggleLed(1); }},
        {"SetActiveCommPort", [](CIGrab& g) { return g.SetActiveCommPort(1); }},
        {"EmulationTrigger", [](CIGrab& g) { return g.EmulationTrigger(); }},
        {"SetTriggerParams", [](CIGrab& g) { return g.SetTriggerParams(); }},
    };
    TestGrab cold;
    TestGrab ready;
    ASSERT_EQ(ready.Initialize(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.op);
        EXPECT_EQ(c.call(cold), 0);
        EXPECT_EQ(std::string(cold.GetLastErrorMsg()), std::string("CIGrab::") + c.op + ": Grab not initialized");
        EXPECT_EQ(c.call(ready), 1);
    }
}

TEST(GrabIo, Rejector) {
    TestGrab g;
    EXPECT_EQ(g.RejectorControl(1), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::RejectorControl: Grab not initialized");
    EXPECT_EQ(g.IsAppRunning(), 0);
    EXPECT_EQ(g.RejectorTestControl(1), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::RejectorTestControl: Grab not initialized");

    ASSERT_EQ(g.Initialize(), 1);
    // Without a rejector the state is still stored, and the answer is 0.
    EXPECT_EQ(g.RejectorControl(1), 0);
    EXPECT_EQ(g.IsAppRunning(), 1);
    ASSERT_EQ(g.SetBrightness(101), 0);
    const std::string before = g.GetLastErrorMsg();
    EXPECT_EQ(g.RejectorTestControl(1), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), before.c_str());

    g.SetRejectorEnabled(1);
    EXPECT_EQ(g.RejectorControl(0), 1);
    EXPECT_EQ(g.IsAppRunning(), 0);
    EXPECT_EQ(g.RejectorControl(1), 1);
    EXPECT_EQ(g.IsAppRunning(), 1);

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
    EXPECT_EQ(g.SetOutputPort(3, 0), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::SetOutputPort: Grab not initialized");
    EXPECT_EQ(PortImage(g), 255u);

    ASSERT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.SetOutputPort(3, 0), 1);
    EXPECT_EQ(PortImage(g), 247u);
    EXPECT_EQ(g.GetOutputPortVal(3), 0);
    EXPECT_EQ(g.GetOutputPortVal(2), 1);

    // Any non-zero value sets the bit.
    EXPECT_EQ(g.SetOutputPort(3, 7), 1);
    EXPECT_EQ(PortImage(g), 255u);
    EXPECT_EQ(g.SetOutputPort(15, 1), 1);
    EXPECT_EQ(PortImage(g), 0x80FFu);

    // Bits 16 and above have no effect.
    for (UINT bit = 16; bit < 32; ++bit) {
        EXPECT_EQ(g.SetOutputPort(bit, 1), 1);
        EXPECT_EQ(g.GetOutputPortVal(bit), 0) << "bit " << bit;
    }
    EXPECT_EQ(PortImage(g), 0x80FFu);

    // Bit numbers are taken modulo 32.
    EXPECT_EQ(g.SetOutputPort(32 + 0, 0), 1);
    EXPECT_EQ(PortImage(g), 0x80FEu);
    EXPECT_EQ(g.SetOutputPort(64 + 9, 1), 1);
    EXPECT_EQ(PortImage(g), 0x82FEu);
    EXPECT_EQ(g.SetOutputPort(32 + 20, 1), 1);
    EXPECT_EQ(PortImage(g), 0x82FEu);
}

TEST(GrabIo, GPInputValueNeedsInitialization) {
    CIGrab g;
    EXPECT_EQ(g.GetGPInputValue(1), 0u);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::GetGPInputValue: Grab not initialized");
}

TEST(GrabIo, LineConfigurationRecords) {
    TestGrab g;
    IFW_GPI_CONFIG in{};
    g.GetGPIConfig(0, &in);
    EXPECT_EQ(in.Polarity, 1u);
    EXPECT_EQ(in.Debounce, 200u);
    EXPECT_EQ(in.State, 0u);
    EXPECT_EQ(in.Threshold, 3.0f);
    EXPECT_EQ(in.Options, 0u);
    IFW_GPO_CONFIG out{};
    g.GetGPOConfig(31, &out);
    EXPECT_EQ(out.Polarity, 1u);
    EXPECT_EQ(out.Offset, 0u);
    EXPECT_EQ(out.Duration, 1000u);
    EXPECT_EQ(out.Driver, IFW_GPO_DRIVER_PLAIN);
    EXPECT_EQ(out.initVal, 0u);

    IFW_GPI_CONFIG newIn{0, 55, 7, 1.5f, 9};
    g.SetGPIConfig(5, &newIn);
    IFW_GPO_CONFIG newOut{0, 10, 20, IFW_GPO_DRIVER_FAIL_IMMEDIATE, 3};
    g.SetGPOConfig(31, &newOut);
    g.GetGPOConfig(31, &out);
    EXPECT_EQ(std::memcmp(&out, &newOut, sizeof out), 0);
    g.GetGPOConfig(30, &out);
    EXPECT_EQ(out.Duration, 1000u);

    // The state word comes from the inputs, not from what was stored.
    g.inputBits = (1u << 5) | (1u << 31);
    g.GetGPIConfig(5, &in);
    EXPECT_EQ(in.Polarity, 0u);
    EXPECT_EQ(in.Debounce, 55u);
    EXPECT_EQ(in.State, 1u);
    EXPECT_EQ(in.Threshold, 1.5f);
    EXPECT_EQ(in.Options, 9u);
    g.GetGPIConfig(31, &in);
    EXPECT_EQ(in.State, 1u);
    g.inputBits = 0;
    g.GetGPIConfig(5, &in);
    EXPECT_EQ(in.State, 0u);

    // Line 32 and null records are ignored.
    IFW_GPI_CONFIG untouchedIn{11, 12, 13, 14.0f, 15};
    const IFW_GPI_CONFIG inCopy = untouchedIn;
    g.GetGPIConfig(32, &untouchedIn);
    EXPECT_EQ(std::memcmp(&untouchedIn, &inCopy, sizeof inCopy), 0);
    IFW_GPO_CONFIG untouchedOut{11, 12, 13, IFW_GPO_DRIVER_STROBE, 15};
    const IFW_GPO_CONFIG outCopy = untouchedOut;
    g.GetGPOConfig(32, &untouchedOut);
    EXPECT_EQ(std::memcmp(&untouchedOut, &outCopy, sizeof outCopy), 0);
    g.SetGPIConfig(32, &newIn);
    g.SetGPOConfig(0xFFFFFFFFu, &newOut);
    g.SetGPIConfig(0, nullptr);
    g.SetGPOConfig(0, nullptr);
    g.GetGPIConfig(0, nullptr);
    g.GetGPOConfig(0, nullptr);
    g.GetGPOConfig(0, &out);
    EXPECT_EQ(out.Duration, 1000u);

    // The attribute record is only cleared by the common layer.
    EXPECT_EQ(g.GetGpioAttr(nullptr), 1);
    IFW_GPIO_ATTR attr;
    std::memset(&attr, 0xA5, sizeof attr);
    EXPECT_EQ(g.GetGpioAttr(&attr), 1);
    const IFW_GPIO_ATTR zero{};
    EXPECT_EQ(std::memcmp(&attr, &zero, sizeof attr), 0);
}

TEST(GrabIo, SimpleStoredValues) {
    TestGrab g;
    EXPECT_EQ(g.SetPartsBetweenSensors(7), 1);
    EXPECT_EQ(g.GetPartsBetweenSensors(), 7u);
    EXPECT_EQ(g.SetSolutionChangeState(1), 1);
    EXPECT_EQ(g.SetHwSolutionIDNumBits(5), 1);
    EXPECT_EQ(g.SetSolutionLoaded(1, 9), 1);
    g.SetNumCameras(4);
    EXPECT_EQ(g.GetExpicitSetNumCameras(), 4);
    EXPECT_EQ(g.GenerateSoftTrigger(0), 0);
}

TEST(GrabIo, InterfaceFormsUseTheirClassName) {
    TestIXGrab g;
    EXPECT_EQ(g.SetBrightness(40), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::SetBrightness: Grab not initialized");
    EXPECT_EQ(g.GetBrightness(), 40u);
    EXPECT_EQ(g.SetStrobeDuration(0), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::SetStrobeDuration: Grab not initialized");
    EXPECT_EQ(g.GetStrobeDuration(), 1u);
    EXPECT_EQ(g.SetOutputPort(3, 0), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::SetOutputPort: Grab not initialized");
    EXPECT_EQ(g.SetPass(0), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::SetPass: Grab not initialized");
    EXPECT_EQ(g.SetImageColor(IFW_COLOR_RGB32), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::SetImageColor: Grab not initialized");
    EXPECT_EQ(g.RejectorControl(1), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::RejectorControl: Grab not initialized");
    EXPECT_EQ(g.ToggleLed(1), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::ToggleLed: Grab not initialized");

    ASSERT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.SetBrightness(101), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::SetBrightness: Invalid brightness value");
    EXPECT_EQ(g.SetContrast(101), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::SetContrast: Invalid contrast value");
    EXPECT_EQ(g.SetTriggerMethod(static_cast<IXGrab::TriggerMethod>(5)), 1);
    EXPECT_STREQ(g.LastError(), "IXGrab::SetTriggerMethod: No trigger method specified");
    EXPECT_EQ(g.SetRejectorDelay(50), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::SetRejectorDelay: Rejector not enabled");
    EXPECT_EQ(g.SetRecycleDelay(50), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::SetRecycleDelay: Recycler not enabled");
    EXPECT_EQ(g.GetCamAttr(nullptr), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::GetCamAttr: Invalid argument");
    EXPECT_EQ(g.SetOutputPort(3, 0), 1);
    EXPECT_EQ(g.SetImageColor(IFW_COLOR_MONO), 0);
    EXPECT_EQ(g.SetImageColor(IFW_COLOR_RGB24), 1);
    EXPECT_EQ(g.GetBytesPP(), 3u);
}
