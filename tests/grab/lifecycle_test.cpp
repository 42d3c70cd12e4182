// Lifecycle of the common layer: every lifecycle operation in every state,
// repeated steps, the heartbeat thread, and the interface's own forms.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "support/test_grab.h"

using namespace kiru_test;

namespace {

enum class State { Fresh, Initialized, Created, Running, Destroyed, Terminated };

const char* Name(State s) {
    switch (s) {
        case State::Fresh: return "Fresh";
        case State::Initialized: return "Initialized";
        case State::Created: return "Created";
        case State::Running: return "Running";
        case State::Destroyed: return "Destroyed";
        case State::Terminated: return "Terminated";
    }
    return "?";
}

void Enter(TestGrab& g, State s) {
    if (s == State::Fresh) return;
    ASSERT_EQ(g.Initialize(), 1);
    if (s == State::Initialized) return;
    if (s == State::Terminated) {
        ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
        ASSERT_EQ(g.Terminate(), 1);
        return;
    }
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    if (s == State::Destroyed) {
        ASSERT_EQ(g.Destroy(), 1);
        return;
    }
    if (s == State::Running) { ASSERT_EQ(g.Start(), 1); }
}

enum class Op { Initialize, Create, Start, Stop, Destroy, Terminate };

const char* Name(Op op) {
    switch (op) {
        case Op::Initialize: return "Initialize";
        case Op::Create: return "Create";
        case Op::Start: return "Start";
        case Op::Stop: return "Stop";
        case Op::Destroy: return "Destroy";
        case Op::Terminate: return "Terminate";
    }
    return "?";
}

int Call(TestGrab& g, Op op) {
    switch (op) {
        case Op::Initialize: return g.Initialize();
        case Op::Create: return g.Create(0, 0, 320, 240, 8, 4, 1000);
        case Op::Start: return g.Start();
        case Op::Stop: return g.Stop();
        case Op::Destroy: return g.Destroy();
        case Op::Terminate: return g.Terminate();
    }
    return -1;
}

struct Expect {
    State state;
    Op op;
    int result;
    const char* message;  // nullptr: the last-error text stays as it was
    int initialized, created, running;
};

constexpr const char* kNotInit = "CIGrab::Create: Grab not initialized";
constexpr const char* kNotCreated = "CIGrab::Start: Grab not created";
constexpr const char* kAlready = "CIGrab::Initialize: Grab already initialized";

// What a back-end built on the common layer answers to each lifecycle
// operation in each state, and the flags it is left with.
const Expect kTable[] = {
    {State::Fresh, Op::Initialize, 1, nullptr, 1, 0, 0},
    {State::Fresh, Op::Create, 0, kNotInit, 0, 0, 0},
    {State::Fresh, Op::Start, 0, kNotCreated, 0, 0, 0},
    {State::Fresh, Op::Stop, 1, nullptr, 0, 0, 0},
    {State::Fresh, Op::Destroy, 1, nullptr, 0, 0, 0},
    {State::Fresh, Op::Terminate, 1, nullptr, 0, 0, 0},

    {State::Initialized, Op::Initialize, 0, kAlready, 1, 0, 0},
    {State::Initialized, Op::Create, 1, nullptr, 1, 1, 0},
    {State::Initialized, Op::Start, 0, kNotCreated, 1, 0, 0},
    {State::Initialized, Op::Stop, 1, nullptr, 1, 0, 0},
    {State::Initialized, Op::Destroy, 1, nullptr, 1, 0, 0},
    {State::Initialized, Op::Terminate, 1, nullptr, 0, 0, 0},

    {State::Created, Op::Initialize, 0, kAlready, 1, 1, 0},
    {State::Created, Op::Create, 1, nullptr, 1, 1, 0},
    {State::Created, Op::Start, 1, nullptr, 1, 1, 1},
    {State::Created, Op::Stop, 1, nullptr, 1, 1, 0},
    {State::Created, Op::Destroy, 1, nullptr, 1, 0, 0},
    {State::Created, Op::Terminate, 1, nullptr, 0, 0, 0},

    {State::Running, Op::Initialize, 0, kAlready, 1, 1, 1},
    {State::Running, Op::Create, 1, nullptr, 1, 1, 0},
    {State::Running, Op::Start, 1, nullptr, 1, 1, 1},
    {State::Running, Op::Stop, 1, nullptr, 1, 1, 0},
    {State::Running, Op::Destroy, 1, nullptr, 1, 0, 0},
    {State::Running, Op::Terminate, 1, nullptr, 0, 0, 0},

    {State::Destroyed, Op::Initialize, 0, kAlready, 1, 0, 0},
    {State::Destroyed, Op::Create, 1, nullptr, 1, 1, 0},
    {State::Destroyed, Op::Start, 0, kNotCreated, 1, 0, 0},
    {State::Destroyed, Op::Stop, 1, nullptr, 1, 0, 0},
    {State::Destroyed, Op::Destroy, 1, nullptr, 1, 0, 0},
    {State::Destroyed, Op::Terminate, 1, nullptr, 0, 0, 0},

    {State::Terminated, Op::Initialize, 1, nullptr, 1, 0, 0},
    {State::Terminated, Op::Create, 0, kNotInit, 0, 0, 0},
    {State::Terminated, Op::Start, 0, kNotCreated, 0, 0, 0},
    {State::Terminated, Op::Stop, 1, nullptr, 0, 0, 0},
    {State::Terminated, Op::Destroy, 1, nullptr, 0, 0, 0},
    {State::Terminated, Op::Terminate, 1, nullptr, 0, 0, 0},
};

}  // namespace

TEST(GrabLifecycle, EveryOperationInEveryState) {
    for (const Expect& e : kTable) {
        SCOPED_TRACE(std::string(Name(e.op)) + " in state " + Name(e.state));
        TestGrab g;
        Enter(g, e.state);
        // A failure text from before; successes must leave it alone.
        ASSERT_EQ(g.SetBrightness(101), 0);
        const std::string before = g.GetLastErrorMsg();

        EXPECT_EQ(Call(g, e.op), e.result);
        EXPECT_STREQ(g.GetLastErrorMsg(), e.message ? e.message : before.c_str());
        EXPECT_EQ(g.IsGrabInitialized(), e.initialized);
        EXPECT_EQ(g.IsGrabCreated(), e.created);
        EXPECT_EQ(g.IsGrabRunning(), e.running);
        // The ring exists exactly while the object is created.
        EXPECT_EQ(g.GetRingBufferSize() != 0, e.created != 0);
        EXPECT_EQ(g.GetFramePtr(0) != nullptr, e.created != 0);
        // Initialize reports the scheduled-output thread; nothing clears it.
        EXPECT_EQ(g.IsIORunning(), e.state != State::Fresh || e.op == Op::Initialize ? 1 : 0);
    }
}

TEST(GrabLifecycle, CommonLayerAloneNeverBecomesInitialized) {
    CIGrab g;
    EXPECT_EQ(g.GetGrabType(), IGRAB_COMMON);
    EXPECT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.IsGrabInitialized(), 0);
    EXPECT_EQ(g.IsIORunning(), 1);
    // No back-end set the flag, so a second Initialize is not refused...
    EXPECT_EQ(g.Initialize(), 1);
    // ...and everything needing initialization fails.
    EXPECT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::Create: Grab not initialized");
    EXPECT_EQ(g.SetPass(0), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::SetPass: Grab not initialized");
    EXPECT_EQ(g.Terminate(), 1);
}

TEST(GrabLifecycle, TerminateAfterDestroyAndTwice) {
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    // Timed outputs come from the scheduler thread.
    ASSERT_EQ(g.GeneratePulseOutPort(1, 0, 1.0, 0.0), 1);
    ASSERT_TRUE(g.log.WaitForCount("SetOutputPort", 1));
    const DWORD firstScheduler = g.log.Calls("SetOutputPort")[0].thread;
    EXPECT_NE(firstScheduler, ::GetCurrentThreadId());

    EXPECT_EQ(g.Destroy(), 1);
    EXPECT_EQ(g.Terminate(), 1);
    EXPECT_EQ(g.IsGrabInitialized(), 0);

    ASSERT_EQ(g.SetBrightness(101), 0);
    const std::string before = g.GetLastErrorMsg();
    g.log.Clear();
    EXPECT_EQ(g.Terminate(), 1);
    EXPECT_STREQ(g.GetLastErrorMsg(), before.c_str());
    EXPECT_EQ(g.IsGrabInitialized(), 0);
    EXPECT_EQ(g.IsGrabCreated(), 0);
    EXPECT_EQ(g.IsGrabRunning(), 0);
    EXPECT_EQ(g.GetRingBufferSize(), 0u);

    // The old scheduler thread is gone: after a new Initialize, timed
    // outputs come from a new one.
    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.GeneratePulseOutPort(1, 1, 1.0, 0.0), 1);
    ASSERT_TRUE(g.log.WaitForCount("SetOutputPort", 1));
    const DWORD secondScheduler = g.log.Calls("SetOutputPort")[0].thread;
    EXPECT_NE(secondScheduler, firstScheduler);
    EXPECT_NE(secondScheduler, ::GetCurrentThreadId());
}

TEST(GrabLifecycle, CreateStopsAcquisitionAndReplacesTheRing) {
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    ASSERT_EQ(g.Start(), 1);
    auto* frame = static_cast<unsigned char*>(g.GetFramePtr(0));
    std::memset(frame, 0x5A, g.GetRingBufferSize());
    g.log.Clear();

    ASSERT_EQ(g.Create(0, 0, 320, 240, 8, 2, 5000), 1);
    // Create runs Destroy first, which stops acquisition.
    ASSERT_GE(g.log.Count("Stop"), 1u);
    EXPECT_EQ(g.IsGrabRunning(), 0);
    EXPECT_EQ(g.GetBufferCount(), 2u);
    // Grab type 13 with one camera: 320 x 240 x max(1, 3) per frame.
    EXPECT_EQ(g.GetRingBufferSize(), 320u * 240u * 3u * 2u);
    // The new ring is zero-filled.
    auto* ring = static_cast<unsigned char*>(g.GetFramePtr(0));
    for (ULONG i = 0; i < g.GetRingBufferSize(); ++i) ASSERT_EQ(ring[i], 0) << "at byte " << i;
}

TEST(GrabLifecycle, FailedCreateLeavesNoRing) {
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    // Offset X 100 needs a width of at least 108.
    EXPECT_EQ(g.Create(100, 0, 107, 480, 8, 5, 5000), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::Create: Crop boundaries exceed max image size");
    EXPECT_EQ(g.IsGrabCreated(), 0);
    EXPECT_EQ(g.GetRingBufferSize(), 0u);
    EXPECT_EQ(g.GetFramePtr(0), nullptr);
    EXPECT_EQ(g.Start(), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab::Start: Grab not created");
}

TEST(GrabLifecycle, RingTooLargeToDescribeFailsAllocation) {
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    // 70000 x 70000 at 32 bits: far beyond what a 32-bit ring size holds.
    EXPECT_EQ(g.Create(0, 0, 70000, 70000, 32, 1, 5000), 0);
    EXPECT_STREQ(g.GetLastErrorMsg(), "CIGrab Init: Image ring buffer allocation failed");
    EXPECT_EQ(g.IsGrabCreated(), 0);
    EXPECT_EQ(g.GetFramePtr(0), nullptr);
}

TEST(GrabLifecycle, ExternalRingIsUsedZeroedAndNotFreed) {
    const ULONG size = 64 * 32 * 3 * 2;  // 64 x 32 mono, grab type 13, two frames
    auto memory = std::make_unique<unsigned char[]>(size);
    std::memset(memory.get(), 0xAB, size);

    TestGrab g;
    g.externalRing = memory.get();
    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(0, 0, 64, 32, 8, 2, 5000), 1);
    EXPECT_EQ(g.GetRingBufferSize(), size);
    EXPECT_EQ(g.GetFramePtr(0), memory.get());
    for (ULONG i = 0; i < size; ++i) ASSERT_EQ(memory[i], 0) << "at byte " << i;

    // Destroy must not free memory the back-end owns (a sanitizer build
    // reports it if it does); the memory stays usable.
    EXPECT_EQ(g.Destroy(), 1);
    memory[0] = 1;
    g.externalRing = nullptr;
    ASSERT_EQ(g.Create(0, 0, 64, 32, 8, 2, 5000), 1);
    EXPECT_NE(g.GetFramePtr(0), memory.get());
}

TEST(GrabLifecycle, HeartbeatTogglesLedOneWhileCreated) {
    TestGrab g;
    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    ASSERT_TRUE(g.log.WaitForCount("ToggleLed", 1)) << "no heartbeat";
    for (const GrabCall& c : g.log.Calls("ToggleLed")) {
        ASSERT_EQ(c.args.size(), 1u);
        EXPECT_EQ(c.args[0], 1u);
        EXPECT_NE(c.thread, ::GetCurrentThreadId());
    }
    // Destroy waits for the thread: nothing toggles afterwards.
    EXPECT_EQ(g.Destroy(), 1);
    const std::size_t after = g.log.Count("ToggleLed");
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);  // a new heartbeat
    ASSERT_TRUE(g.log.WaitForCount("ToggleLed", after + 1));
    EXPECT_EQ(g.Terminate(), 1);
}

TEST(GrabLifecycle, InterfaceOwnFormsUseTheirClassName) {
    TestIXGrab g;
    EXPECT_EQ(g.GetGrabType(), IGRAB_COMMON);
    EXPECT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::Create: Grab not initialized");
    EXPECT_EQ(g.Start(), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::Start: Grab not created");
    EXPECT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.IoRunning(), 1);
    EXPECT_EQ(g.Initialize(), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::Initialize: Grab already initialized");

    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    EXPECT_EQ(g.Created(), 1);
    EXPECT_EQ(g.Start(), 1);
    EXPECT_EQ(g.Destroy(), 1);
    EXPECT_EQ(g.Created(), 0);
    EXPECT_EQ(g.RingSize(), 0u);
    EXPECT_EQ(g.Terminate(), 1);
    EXPECT_EQ(g.IsGrabInitialized(), 0);
    EXPECT_EQ(g.Terminate(), 1);

    // A ring too large to describe.
    ASSERT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.Create(0, 0, 70000, 70000, 32, 1, 5000), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab Init: Image ring buffer allocation failed");
}
