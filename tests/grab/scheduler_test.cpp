// Timed outputs: ScheduleIOEvent and GeneratePulseOutPort as seen through the
// back-end's SetOutputPort, which the scheduler thread calls.
//
// Edges are never early, but how late they are depends on the machine, so
// the tests check order and lower bounds only. Where the order of events
// must not depend on how fast the test thread schedules them, the events
// are queued while the test holds the scheduler's lock, with times so far
// in the past that their order is fixed and they all fire on release.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "support/test_grab.h"

using namespace kiru_test;

namespace {

// SetOutputPort calls made by the scheduler thread (not by the test).
std::vector<GrabCall> ScheduledEdges(const TestGrab& g) {
    std::vector<GrabCall> out;
    for (const GrabCall& c : g.log.Calls("SetOutputPort"))
        if (c.thread != ::GetCurrentThreadId()) out.push_back(c);
    return out;
}

bool WaitForScheduledEdges(const TestGrab& g, std::size_t n) {
    return WaitUntil([&] { return ScheduledEdges(g).size() >= n; });
}

std::vector<ULONG> Ports(const std::vector<GrabCall>& edges) {
    std::vector<ULONG> out;
    for (const GrabCall& c : edges) out.push_back(c.args[0]);
    return out;
}

class GrabScheduler : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(g.Initialize(), 1); }
    TestGrab g;
};

}  // namespace

// Without a delay a pulse's first edge is set on the caller's thread before
// the call returns; otherwise both edges come from the scheduler thread. The
// reversal (of any non-zero value to 0) is timed from when the first edge was set.
TEST_F(GrabScheduler, EdgesAndTheirReversalsAreNeverEarly) {
    struct Case {
        bool pulse;  // GeneratePulseOutPort, else ScheduleIOEvent
        UINT port;
        int value, reversed;
        double delay;
    };
    for (const Case& c : {Case{true, 2, 1, 0, 0.0}, Case{true, 5, 0, 1, 0.0}, Case{true, 9, 7, 0, 0.0},
                          Case{true, 4, 1, 0, 30.0}, Case{false, 6, 0, 1, 30.0}}) {
        SCOPED_TRACE(testing::Message() << (c.pulse ? "pulse" : "event") << " on port " << c.port << " value "
                                        << c.value << " after " << c.delay << " ms");
        g.log.Clear();
        const double asked = NowMs();
        EXPECT_EQ(c.pulse ? g.GeneratePulseOutPort(c.port, c.value, c.delay, 20.0)
                          : g.ScheduleIOEvent(c.port, c.value, c.delay, 20.0),
                  1);
        const std::size_t scheduled = c.delay == 0 ? 1 : 2;
        if (scheduled == 1) {
            const auto calls = g.log.Calls("SetOutputPort");
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].thread, ::GetCurrentThreadId());
            EXPECT_EQ(g.GetOutputPortVal(c.port), c.value != 0);
        }
        ASSERT_TRUE(WaitForScheduledEdges(g, scheduled));
        const auto all = g.log.Calls("SetOutputPort");
        ASSERT_EQ(all.size(), 2u);
        EXPECT_EQ(ScheduledEdges(g).size(), scheduled);
        EXPECT_EQ(all[0].args, (std::vector<ULONG>{c.port, ULONG(c.value)}));
        EXPECT_EQ(all[1].args, (std::vector<ULONG>{c.port, ULONG(c.reversed)}));
        EXPECT_GE(all[0].atMs - asked, c.delay);
        EXPECT_GE(all[1].atMs - all[0].atMs, 20.0);
        EXPECT_EQ(g.GetOutputPortVal(c.port), c.reversed);
    }
    // A reversal has no duration of its own, and an event without one is
    // set once: a later event finds exactly these edges before it.
    g.log.Clear();
    EXPECT_EQ(g.ScheduleIOEvent(7, 0, 5.0, 0.0), 1);
    ASSERT_TRUE(WaitForScheduledEdges(g, 1));
    EXPECT_EQ(g.ScheduleIOEvent(8, 0, 100.0, 0.0), 1);
    ASSERT_TRUE(WaitForScheduledEdges(g, 2));
    EXPECT_EQ(Ports(ScheduledEdges(g)), (std::vector<ULONG>{7, 8}));
}

// Events queued while the scheduler is held, for times far in the past: those
// a million seconds apart fire in time order whatever order they were
// scheduled in; those for the very same time (now + (-1e300) is exactly
// -1e300 whatever the clock reads) fire first, the latest scheduled first.
TEST_F(GrabScheduler, EventsFireInTimeOrderAndTheLatestOfEqualTimesFirst) {
    const int n = 40;
    std::vector<int> rank(n);  // -1: the common earliest time
    for (int i = 0; i < n; ++i) rank[i] = i % 10 == 3 ? -1 : i;
    std::shuffle(rank.begin(), rank.end(), std::mt19937(12345));
    g.HoldScheduler();
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(g.ScheduleIOEvent(UINT(i), 1, rank[i] < 0 ? -1e300 : -1e12 + rank[i] * 1e9, 0.0), 1);
    g.ReleaseScheduler();
    // A later event, which also wakes the scheduler once more.
    EXPECT_EQ(g.ScheduleIOEvent(99, 1, 0.0, 0.0), 1);
    ASSERT_TRUE(WaitForScheduledEdges(g, n + 1));
    std::vector<ULONG> expected;
    for (int i = n - 1; i >= 0; --i)
        if (rank[i] < 0) expected.push_back(ULONG(i));
    for (int r = 0; r < n; ++r)
        for (int i = 0; i < n; ++i)
            if (rank[i] == r) expected.push_back(ULONG(i));
    expected.push_back(99);
    EXPECT_EQ(Ports(ScheduledEdges(g)), expected);
}

TEST_F(GrabScheduler, TerminateDropsQueuedEventsAndInitializeStartsANewScheduler) {
    EXPECT_EQ(g.ScheduleIOEvent(6, 0, 0.0, 0.0), 1);
    ASSERT_TRUE(WaitForScheduledEdges(g, 1));
    const DWORD first = ScheduledEdges(g)[0].thread;
    EXPECT_EQ(g.ScheduleIOEvent(7, 0, 100.0, 0.0), 1);
    EXPECT_EQ(g.Terminate(), 1);
    // A new scheduler after a new Initialize must not fire what the old one
    // left queued: the later marker arrives alone, from a new thread.
    g.log.Clear();
    ASSERT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.ScheduleIOEvent(8, 0, 300.0, 0.0), 1);
    ASSERT_TRUE(WaitForScheduledEdges(g, 1));
    const auto edges = ScheduledEdges(g);
    EXPECT_EQ(Ports(edges), (std::vector<ULONG>{8}));
    EXPECT_NE(edges[0].thread, first);
    EXPECT_EQ(g.GetOutputPortVal(7), 1);
}

TEST(GrabSchedulerUninitialized, ResultsAreOneWhateverHappens) {
    // Without a scheduler thread the event waits and the call still succeeds.
    CIGrab plain;
    EXPECT_EQ(plain.ScheduleIOEvent(1, 1, 5.0, 5.0), 1);
    EXPECT_EQ(plain.GeneratePulseOutPort(1, 1, 5.0, 5.0), 1);

    // A scheduler on an object no back-end initialized: the edges reach
    // SetOutputPort, which refuses them.
    TestGrab g;
    g.markInitialized = false;
    ASSERT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.GeneratePulseOutPort(2, 0, 0.0, 5.0), 1);
    ASSERT_TRUE(WaitForScheduledEdges(g, 1));
    EXPECT_EQ(ScheduledEdges(g)[0].args, (std::vector<ULONG>{2, 1}));
    // Both edges were refused: the text is the refusal, the port unchanged.
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::SetOutputPort: Grab not initialized");
    EXPECT_EQ(g.GetOutputPortVal(2), 1);
}
