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

TEST_F(GrabScheduler, PulseWithoutDelaySetsAtOnceAndReversesAnyValueLater) {
    struct Case {
        UINT port;
        int value, reversed;
    };
    for (const Case& c : {Case{2, 1, 0}, Case{5, 0, 1}, Case{9, 7, 0}}) {
        SCOPED_TRACE(testing::Message() << "port " << c.port << " value " << c.value);
        g.log.Clear();
        EXPECT_EQ(g.GeneratePulseOutPort(c.port, c.value, 0.0, 20.0), 1);
        // The first edge is set on the caller's thread before the call returns.
        const auto calls = g.log.Calls("SetOutputPort");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].args, (std::vector<ULONG>{c.port, ULONG(c.value)}));
        EXPECT_EQ(calls[0].thread, ::GetCurrentThreadId());
        EXPECT_EQ(g.GetOutputPortVal(c.port), c.value != 0);
        ASSERT_TRUE(WaitForScheduledEdges(g, 1));
        const auto edges = ScheduledEdges(g);
        ASSERT_EQ(edges.size(), 1u);
        EXPECT_EQ(edges[0].args, (std::vector<ULONG>{c.port, ULONG(c.reversed)}));
        EXPECT_GE(edges[0].atMs - calls[0].atMs, 20.0);
        EXPECT_EQ(g.GetOutputPortVal(c.port), c.reversed);
    }
}

TEST_F(GrabScheduler, DelayedPulseFiresBothEdgesOnTime) {
    ASSERT_EQ(g.SetOutputPort(4, 0), 1);
    const double asked = NowMs();
    EXPECT_EQ(g.GeneratePulseOutPort(4, 1, 30.0, 20.0), 1);
    // Nothing happens on the caller's thread.
    EXPECT_EQ(g.log.Count("SetOutputPort"), 1u);

    ASSERT_TRUE(WaitForScheduledEdges(g, 2));
    const auto edges = ScheduledEdges(g);
    EXPECT_EQ(edges[0].args, (std::vector<ULONG>{4, 1}));
    EXPECT_EQ(edges[1].args, (std::vector<ULONG>{4, 0}));
    EXPECT_GE(edges[0].atMs - asked, 30.0);
    // The reversal is timed from when the first edge was set.
    EXPECT_GE(edges[1].atMs - edges[0].atMs, 20.0);
    EXPECT_EQ(edges[0].thread, edges[1].thread);
    EXPECT_EQ(g.GetOutputPortVal(4), 0);
}

TEST_F(GrabScheduler, ScheduleIOEventWithAndWithoutDuration) {
    const double asked = NowMs();
    EXPECT_EQ(g.ScheduleIOEvent(6, 0, 10.0, 15.0), 1);
    ASSERT_TRUE(WaitForScheduledEdges(g, 2));
    auto edges = ScheduledEdges(g);
    EXPECT_EQ(edges[0].args, (std::vector<ULONG>{6, 0}));
    EXPECT_EQ(edges[1].args, (std::vector<ULONG>{6, 1}));
    EXPECT_GE(edges[0].atMs - asked, 10.0);
    EXPECT_GE(edges[1].atMs - edges[0].atMs, 15.0);

    // A reversal has no duration of its own, and an event without one is
    // set once: a later event finds exactly these edges before it.
    EXPECT_EQ(g.ScheduleIOEvent(7, 0, 5.0, 0.0), 1);
    ASSERT_TRUE(WaitForScheduledEdges(g, 3));
    EXPECT_EQ(g.ScheduleIOEvent(8, 0, 100.0, 0.0), 1);
    ASSERT_TRUE(WaitForScheduledEdges(g, 4));
    edges = ScheduledEdges(g);
    EXPECT_EQ(Ports(edges), (std::vector<ULONG>{6, 6, 7, 8}));
}

TEST_F(GrabScheduler, EventForTheSameTimeFiresBeforeQueuedOnes) {
    // now + (-1e300) is exactly -1e300 whatever the clock reads, so these
    // three events are for the very same time.
    const double sameTime = -1e300;
    g.HoldScheduler();
    EXPECT_EQ(g.ScheduleIOEvent(1, 0, sameTime, 0.0), 1);
    EXPECT_EQ(g.ScheduleIOEvent(2, 0, sameTime, 0.0), 1);
    EXPECT_EQ(g.ScheduleIOEvent(3, 0, sameTime, 0.0), 1);
    g.ReleaseScheduler();
    // A later event, which also wakes the scheduler once more.
    EXPECT_EQ(g.ScheduleIOEvent(10, 0, 0.0, 0.0), 1);
    ASSERT_TRUE(WaitForScheduledEdges(g, 4));
    EXPECT_EQ(Ports(ScheduledEdges(g)), (std::vector<ULONG>{3, 2, 1, 10}));
}

TEST_F(GrabScheduler, EventsFireInTimeOrderNotInSchedulingOrder) {
    // Times a million seconds apart in the past: their order does not depend
    // on when the test got to schedule them.
    const int n = 40;
    std::vector<int> rank(n);
    for (int i = 0; i < n; ++i) rank[i] = i;
    std::mt19937 random(12345);
    std::shuffle(rank.begin(), rank.end(), random);

    g.HoldScheduler();
    for (int i = 0; i < n; ++i) {
        // Port i is due at rank[i]; ranks are 1e9 ms apart.
        EXPECT_EQ(g.ScheduleIOEvent(static_cast<UINT>(i), 1, -1e12 + rank[i] * 1e9, 0.0), 1);
    }
    g.ReleaseScheduler();
    EXPECT_EQ(g.ScheduleIOEvent(99, 1, 0.0, 0.0), 1);
    ASSERT_TRUE(WaitForScheduledEdges(g, n + 1));

    std::vector<ULONG> expected(n);
    for (int i = 0; i < n; ++i) expected[rank[i]] = static_cast<ULONG>(i);
    expected.push_back(99);
    EXPECT_EQ(Ports(ScheduledEdges(g)), expected);
}

TEST_F(GrabScheduler, EdgesAreNeverEarlyAndFollowTheirTimes) {
    struct Asked {
        UINT port;
        double delay, earliest, latest;  // the asked time lies between earliest and latest
    };
    const double delays[] = {60.0, 20.0, 40.0, 1.0, 80.0, 20.0, 5.0};
    std::vector<Asked> asked;
    for (std::size_t i = 0; i < std::size(delays); ++i) {
        const UINT port = static_cast<UINT>(i);
        const double before = NowMs();
        EXPECT_EQ(g.ScheduleIOEvent(port, 0, delays[i], 0.0), 1);
        const double after = NowMs();
        asked.push_back({port, delays[i], before + delays[i], after + delays[i]});
    }
    ASSERT_TRUE(WaitForScheduledEdges(g, asked.size()));
    const auto edges = ScheduledEdges(g);
    ASSERT_EQ(edges.size(), asked.size());
    for (std::size_t i = 0; i < edges.size(); ++i) {
        const Asked& a = asked[edges[i].args[0]];
        EXPECT_GE(edges[i].atMs, a.earliest) << "port " << a.port << " fired early";
        // An edge fired after another only if it was not certainly due first.
        for (std::size_t j = i + 1; j < edges.size(); ++j) {
            const Asked& later = asked[edges[j].args[0]];
            EXPECT_GE(later.latest, a.earliest) << "port " << later.port << " fired after port " << a.port;
        }
    }
}

TEST_F(GrabScheduler, TerminateDropsQueuedEvents) {
    EXPECT_EQ(g.ScheduleIOEvent(7, 0, 100.0, 0.0), 1);
    EXPECT_EQ(g.Terminate(), 1);
    // A new scheduler after a new Initialize must not fire what the old one
    // left queued: the later marker arrives alone.
    ASSERT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.ScheduleIOEvent(8, 0, 300.0, 0.0), 1);
    ASSERT_TRUE(WaitForScheduledEdges(g, 1));
    EXPECT_EQ(Ports(ScheduledEdges(g)), (std::vector<ULONG>{8}));
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
