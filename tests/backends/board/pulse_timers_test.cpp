// Board pulse timers on a simulated board: the immediate assert of a short
// offset, the shortened duration, the release on the board clock, and an
// inverted board.
#include <gtest/gtest.h>
#include <kiru/kiru.h>
#include <kiru/station.h>

#include <memory>
#include <string>
#include <vector>

#include "capture/module.h"
#include "capture/orx.h"
#include "capture/sim/sim_clock.h"
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

// Samples a board bit on the board clock until the timer is done. A sample
// taken between `before` and `after` shows the state at some moment in
// between, so each sample bounds the true edge times from one side; the
// checks below only use bounds that hold however late a sample is taken.
struct Sample {
    std::int64_t before, after;
    bool active;
};
template <class Timer>
std::vector<Sample> Watch(const char* module, ULONG reg, ULONG mask, const Timer& timer) {
    std::vector<Sample> samples;
    const std::int64_t end = kiru::sim::NowUs() + 5000000;
    while (timer.Done() == 0 && kiru::sim::NowUs() < end) {
        ULONG value = 0;
        const std::int64_t before = kiru::sim::NowUs();
        Station::GetModuleParam(module, 0, reg, &value);
        samples.push_back({before, kiru::sim::NowUs(), (value & mask) != 0});
    }
    return samples;
}

TEST(PulseTimers, OffsetAndDurationOnTheBoardClock) {
    const struct {
        const char* module;
        const char* station;
        ULONG reg;
        const char* assertWrite;  // the script's write that asserts bit 4
    } cases[] = {{"QBM", "[QBM]\nModuleInfo = 1\n", 36, "VixnWriteReg 36 1040"},
                 {"LXP", "[LXP]\nInfo.4 = 1\nModuleParam.91 = 0\n", 91, "VixnWriteReg 91 16"}};
    const std::int64_t offset = 20000, duration = 200000, late = 100000;  // late: a loaded host
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        std::string error;
        ASSERT_TRUE(Station::LoadText(c.station, "board.ini", &error)) << error;
        std::unique_ptr<CICapMod> board(OrxCreateCaptureModule(c.module, 0, nullptr));
        ASSERT_NE(board, nullptr);
        std::vector<Sample> samples;
        const std::int64_t start = kiru::sim::NowUs();
        if (std::string(c.module) == "QBM") {
            CQB2PulseTimer timer(board.get(), 4, 1, 20.0, 200.0);
            ASSERT_EQ(timer.Create(), 1);
            samples = Watch(c.module, c.reg, 0x10, timer);
            ASSERT_EQ(timer.Done(), 1);
        } else {
            CVixnPulseTimer timer(board.get(), 4, 1, 20.0, 200.0);
            ASSERT_EQ(timer.Create(), 1);
            samples = Watch(c.module, c.reg, 0x10, timer);
            ASSERT_EQ(timer.Done(), 1);
        }
        bool asserted = false;
        for (const std::string& line : Station::Trace())
            asserted = asserted || line.find(c.assertWrite) != std::string::npos;
        EXPECT_TRUE(asserted);
        std::int64_t firstActive = -1;
        for (const Sample& s : samples) {
            if (s.active) {
                if (firstActive < 0) firstActive = s.after;
                EXPECT_GE(s.after, start + offset);               // not asserted early
                EXPECT_LE(s.before, start + offset + duration + late);  // nor released late
            } else if (firstActive < 0) {
                EXPECT_LE(s.before, start + offset + late);  // not asserted late
            } else {
                EXPECT_GE(s.after, start + offset + duration);  // not released early
            }
        }
        ULONG value = 0;
        Station::GetModuleParam(c.module, 0, c.reg, &value);
        EXPECT_EQ(value & 0x10, 0u);
        Station::Reset();
    }
}

}  // namespace
}  // namespace kiru_test
