// GigE lines: the line record for each mix of controllers, input masks by
// solution bits, line configuration reaching the controller, names and
// input-active callbacks.
#include <cstring>

#include "backends/gev/gev_fixture.h"

namespace kiru_test {
namespace {

struct AttrCase {
    const char* station;
    ULONG numInputs, numOutputs, tagA, tagB;
    int input;  // an input whose name is checked
    const char* inputName;
    int output;  // an output whose name and flags are checked
    const char* outputName;
    ULONG outputFlags;
};

class GpioTest : public GevTest {};

TEST_F(GpioTest, LineRecordPerControllerMix) {
    const AttrCase cases[] = {
        {"[TRX]\n", 10, 10, 2, 8, 11, "GPOIN1", 8, "Strobe 1", 34},
        {"[RCS]\n", 10, 11, 2, 2, 4, "Trigger 2", 8, "LED0", 8},
        {"[USB:0]\n[USB:1]\n", 16, 24, 2, 6, 9, "IN9", 20, "OUT20", 42},
        // Without a controller each camera adds its input behind the board's.
        {"[QBM]\nModuleInfo = 1\n", 9, 7, 3, 7, 8, "IN1", 0, "", 0},
        {"", 2, 0, 0, 0, 1, "IN1", 0, "", 0},
    };
    for (const AttrCase& c : cases) {
        SCOPED_TRACE(c.station);
        Open(Camera(0) + Camera(1) + c.station);
        grab->SetHwSolutionIDNumBits(5);
        IFW_GPIO_ATTR attr;
        std::memset(&attr, 0xAB, sizeof(attr));
        ASSERT_EQ(grab->GetGpioAttr(&attr), 1);
        EXPECT_EQ(attr.numInputs, c.numInputs);
        EXPECT_EQ(attr.numOutputs, c.numOutputs);
        EXPECT_EQ(attr.platformTagA, c.tagA);
        EXPECT_EQ(attr.platformTagB, c.tagB);
        EXPECT_EQ(attr.solutionBits, 5u);
        EXPECT_STREQ(attr.inputs[c.input].name, c.inputName);
        EXPECT_STREQ(attr.outputs[c.output].name, c.outputName);
        EXPECT_EQ(attr.outputs[c.output].flags, c.outputFlags);
        grab.reset();
    }
}

TEST_F(GpioTest, InputsMaskedBySolutionBits) {
    Open(Camera(0) + "[RCS]\nInput.0 = 0xFF\n");
    const struct {
        int bits;
        UINT solution;
    } cases[] = {{3, 0x07}, {5, 0x1F}, {8, 0xFF}, {10, 0xFF}};
    for (const auto& c : cases) {
        grab->SetHwSolutionIDNumBits(c.bits);
        EXPECT_EQ(grab->GetGPInputValue(0), c.solution) << c.bits;
        EXPECT_EQ(grab->GetGPInputValue(1), 0xFFu) << c.bits;
    }
    // Before initialization lines, decisions and LEDs are refused.
    CIGrabGev idle;
    EXPECT_EQ(idle.GetGPInputValue(1), 0u);
    EXPECT_STREQ(idle.GetLastErrorMsg(), "CIGrabGev::GetGPInputValue: Grab not initialized");
    EXPECT_EQ(idle.SetPass(0), 0);
    EXPECT_STREQ(idle.GetLastErrorMsg(), "CIGrab::SetPass: Grab not initialized");
    EXPECT_EQ(idle.ToggleLed(1) + idle.SetExternalTriggerDelay(5) + idle.GetGpioAttr(nullptr), 0);
}

TEST_F(GpioTest, LineConfigurationReachesTheController) {
    Open(Camera(0) + "[TRX]\n");
    IFW_GPO_CONFIG out{1, 2500, 700, IFW_GPO_DRIVER_FAIL_QUEUED, 1};
    grab->SetGPOConfig(4, &out);
    EXPECT_TRUE(TracedInOrder({"TRX:0/1 SetAcqParam 16385 1 0", "TRX:0/1 SetAcqParam 16388 1 0",
                               "TRX:0/1 SetAcqParam 16386 700 0", "TRX:0/1 SetAcqParam 16384 2500 0",
                               "TRX:0 WriteOutputPort 1 5"}));
    IFW_GPI_CONFIG in{0, 300, 0, 7.5f, 0};
    grab->SetGPIConfig(8, &in);
    EXPECT_TRUE(TracedInOrder({"TRX:0/0 SetAcqParam 83 300 0", "TRX:0/0 SetAcqParam 16391 7.5 0",
                               "TRX:0/0 SetAcqParam 11 0 0"}));
    // Bad lines and null records change nothing, stored or sent.
    const std::size_t before = Station::Trace().size();
    IFW_GPO_CONFIG stored{};
    grab->SetGPOConfig(32, &out);
    grab->SetGPOConfig(5, nullptr);
    grab->GetGPOConfig(4, &stored);
    EXPECT_EQ(stored.Offset, 2500u);
    EXPECT_EQ(Station::Trace().size(), before);
}

int OnInput(unsigned int index, void* context) {
    static_cast<std::atomic<int>*>(context)->store(static_cast<int>(index) + 100);
    return 0;
}

TEST_F(GpioTest, NamesAndInputActiveCallbacks) {
    Open(Camera(0) + "[QBM]\nModuleInfo = 1\n");
    char names[512];
    const ULONG length = grab->GetInputChangeNames(names);
    int count = 0;
    for (const char* p = names; *p != '\0'; p += std::strlen(p) + 1) ++count;
    EXPECT_EQ(count, 20);
    EXPECT_STREQ(names, "TRIG Rising");
    EXPECT_EQ(names[length - 1], '\0');
    EXPECT_EQ(names[length - 2], '\0');

    std::atomic<int> seen{0};
    EXPECT_EQ(grab->CreateInputActiveCallback(20, &OnInput, &seen), nullptr);
    void* node = grab->CreateInputActiveCallback(4, &OnInput, &seen);  // "IN1 Rising": board event 31
    ASSERT_NE(node, nullptr);
    Station::FireEvent("QBM", 0, 31);
    EXPECT_TRUE(WaitUntil([&] { return seen.load() == 104; }));
    grab->DeleteInputActiveCallback(nullptr);
}

}  // namespace
}  // namespace kiru_test
