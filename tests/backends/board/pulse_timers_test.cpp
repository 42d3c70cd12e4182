// Board pulse timers on a simulated board: the immediate assert of a short
// offset, the shortened duration, the release on the board clock, and an
// inverted board.
#include <gtest/gtest.h>
#include <kiru/kiru.h>
#include <kiru/station.h>

#include <memory>

#include "capture/module.h"
#include "capture/orx.h"
#include "support/poll.h"

namespace kiru_test {
namespace {

using kiru::sim::Station;

ULONG Register(ULONG number) {
    ULONG value = 0;
    Station::GetModuleParam("QBM", 0, number, &value);
    return value;
}

TEST(PulseTimers, Qb2TimerAssertsAtOnceAndReleasesOnTheBoard) {
    std::string error;
    ASSERT_TRUE(Station::LoadText("[QBM]\nModuleInfo = 1\n", "board.ini", &error)) << error;
    std::unique_ptr<CICapMod> board(OrxCreateCaptureModule("QBM", 0, nullptr));
    ASSERT_NE(board, nullptr);
    CQB2PulseTimer timer(board.get(), 3, 1, 0.5, 0.7);
    EXPECT_EQ(Register(36), 0x400u | 0x8u);  // asserted in the constructor
    EXPECT_EQ(Register(108), 5000u);
    EXPECT_EQ(timer.DurationMicro(), 200u);
    ASSERT_EQ(timer.Create(), 1);
    EXPECT_EQ(timer.Create(), 0);
    EXPECT_TRUE(WaitUntil([&] { return timer.Done() == 1; }));
    EXPECT_EQ(Register(36), 0x400u);
    Station::Reset();
}

TEST(PulseTimers, Lx2TimerOnAnInvertedBoardDrivesTheInverseLevel) {
    std::string error;
    ASSERT_TRUE(Station::LoadText("[LXP]\nInfo.4 = 0\nModuleParam.91 = 0\n", "board.ini", &error)) << error;
    std::unique_ptr<CICapMod> board(OrxCreateCaptureModule("LXP", 0, nullptr));
    ASSERT_NE(board, nullptr);
    CVixnPulseTimer timer(board.get(), 2, 1, 20.0, 30.0);
    EXPECT_EQ(timer.Level(), 0u);
    EXPECT_EQ(timer.OffsetMicro(), 20000u);
    ASSERT_EQ(timer.Create(), 1);
    EXPECT_TRUE(WaitUntil([&] { return timer.Done() == 1; }));
    ULONG value = 0;
    Station::GetModuleParam("LXP", 0, 91, &value);
    EXPECT_EQ(value, 0x4u);  // released to the inactive level: set, for level 0
    EXPECT_EQ(timer.Runs(), 1u);
    Station::Reset();
}

}  // namespace
}  // namespace kiru_test
