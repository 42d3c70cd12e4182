// GigE decisions: the general I/O pattern, result words per mode, the ninth
// overlapping board pulse, and operations refused before initialization.
#include "backends/gev/gev_fixture.h"

namespace kiru_test {
namespace {

class DecisionTest : public GevTest {};

TEST_F(DecisionTest, FailOnGeneralIoWritesThePattern) {
    Open(Camera(0) + "[GIO]\nModuleInfo = 1\n");
    ASSERT_EQ(grab->SetFail(0), 1);
    EXPECT_TRUE(TracedInOrder({"GIO:0 WriteOutputPort 1 8", "GIO:0 WriteOutputPort 0 9", "GIO:0 WriteOutputPort 0 10"}));
    EXPECT_EQ(grab->SetDecisionOutput(3, IFW_DECISION_OUTPUT_TYPE(0)), 0);
    EXPECT_EQ(grab->SetDecisionOutput(2, IFW_DECISION_OUTPUT_TYPE(0)), 1);
}

TEST_F(DecisionTest, RefusedBeforeInitialization) {
    CIGrabGev idle;
    EXPECT_EQ(idle.SetPass(0), 0);
    EXPECT_STREQ(idle.GetLastErrorMsg(), "CIGrab::SetPass: Grab not initialized");
    EXPECT_EQ(idle.ToggleLed(1), 0);
    EXPECT_EQ(idle.SetExternalTriggerDelay(5), 0);
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
