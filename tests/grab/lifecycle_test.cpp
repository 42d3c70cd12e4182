// Lifecycle of the common layer: every lifecycle operation in every state,
// repeated steps, the ring's memory, the heartbeat thread, and the
// interface's own forms.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/test_grab.h"

using namespace kiru_test;

namespace {

enum class State { Fresh, Initialized, Created, Running, Destroyed, Terminated };
enum class Op { Initialize, Create, Start, Stop, Destroy, Terminate };
const char* const kStateNames[] = {"Fresh", "Initialized", "Created", "Running", "Destroyed", "Terminated"};
const char* const kOpNames[] = {"Initialize", "Create", "Start", "Stop", "Destroy", "Terminate"};

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

// The operations that lead from a fresh object to each state.
// clang-format off
const std::vector<Op> kWayTo[] = {{}, {Op::Initialize}, {Op::Initialize, Op::Create},
                                  {Op::Initialize, Op::Create, Op::Start}, {Op::Initialize, Op::Create, Op::Destroy},
                                  {Op::Initialize, Op::Create, Op::Terminate}};
// clang-format on

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
using S = State;

// What a back-end built on the common layer answers to each lifecycle
// operation in each state, and the flags it is left with.
const Expect kTable[] = {
    {S::Fresh, Op::Initialize, 1, nullptr, 1, 0, 0},        {S::Fresh, Op::Create, 0, kNotInit, 0, 0, 0},
    {S::Fresh, Op::Start, 0, kNotCreated, 0, 0, 0},         {S::Fresh, Op::Stop, 1, nullptr, 0, 0, 0},
    {S::Fresh, Op::Destroy, 1, nullptr, 0, 0, 0},           {S::Fresh, Op::Terminate, 1, nullptr, 0, 0, 0},
    {S::Initialized, Op::Initialize, 0, kAlready, 1, 0, 0}, {S::Initialized, Op::Create, 1, nullptr, 1, 1, 0},
    {S::Initialized, Op::Start, 0, kNotCreated, 1, 0, 0},   {S::Initialized, Op::Stop, 1, nullptr, 1, 0, 0},
    {S::Initialized, Op::Destroy, 1, nullptr, 1, 0, 0},     {S::Initialized, Op::Terminate, 1, nullptr, 0, 0, 0},
    {S::Created, Op::Initialize, 0, kAlready, 1, 1, 0},     {S::Created, Op::Create, 1, nullptr, 1, 1, 0},
    {S::Created, Op::Start, 1, nullptr, 1, 1, 1},           {S::Created, Op::Stop, 1, nullptr, 1, 1, 0},
    {S::Created, Op::Destroy, 1, nullptr, 1, 0, 0},         {S::Created, Op::Terminate, 1, nullptr, 0, 0, 0},
    {S::Running, Op::Initialize, 0, kAlready, 1, 1, 1},     {S::Running, Op::Create, 1, nullptr, 1, 1, 0},
    {S::Running, Op::Start, 1, nullptr, 1, 1, 1},           {S::Running, Op::Stop, 1, nullptr, 1, 1, 0},
    {S::Running, Op::Destroy, 1, nullptr, 1, 0, 0},         {S::Running, Op::Terminate, 1, nullptr, 0, 0, 0},
    {S::Destroyed, Op::Initialize, 0, kAlready, 1, 0, 0},   {S::Destroyed, Op::Create, 1, nullptr, 1, 1, 0},
    {S::Destroyed, Op::Start, 0, kNotCreated, 1, 0, 0},     {S::Destroyed, Op::Stop, 1, nullptr, 1, 0, 0},
    {S::Destroyed, Op::Destroy, 1, nullptr, 1, 0, 0},       {S::Destroyed, Op::Terminate, 1, nullptr, 0, 0, 0},
    {S::Terminated, Op::Initialize, 1, nullptr, 1, 0, 0},   {S::Terminated, Op::Create, 0, kNotInit, 0, 0, 0},
    {S::Terminated, Op::Start, 0, kNotCreated, 0, 0, 0},    {S::Terminated, Op::Stop, 1, nullptr, 0, 0, 0},
    {S::Terminated, Op::Destroy, 1, nullptr, 0, 0, 0},      {S::Terminated, Op::Terminate, 1, nullptr, 0, 0, 0},
};

}  // namespace

TEST(GrabLifecycle, EveryOperationInEveryState) {
    for (const Expect& e : kTable) {
        SCOPED_TRACE(std::string(kOpNames[int(e.op)]) + " in state " + kStateNames[int(e.state)]);
        TestGrab g;
        for (Op op : kWayTo[int(e.state)]) ASSERT_EQ(Call(g, op), 1);
        const std::string before = g.PlantError();  // successes must leave it alone
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

TEST(GrabLifecycle, RingsAreZeroedAndAnExternalOneIsNotFreed) {
    // Create stops acquisition and replaces the ring with a zeroed one.
    TestGrab g;
    ASSERT_TRUE(g.Ready(true));
    std::memset(g.GetFramePtr(0), 0x5A, g.GetRingBufferSize());
    ASSERT_EQ(g.Create(0, 0, 64, 32, 8, 2, 5000), 1);
    EXPECT_EQ(g.IsGrabRunning(), 0);
    // Grab type 13 with one camera: 64 x 32 x max(1, 3) per frame.
    const ULONG size = 64 * 32 * 3 * 2;
    ASSERT_EQ(g.GetRingBufferSize(), size);
    auto* ring = static_cast<unsigned char*>(g.GetFramePtr(0));
    for (ULONG i = 0; i < size; ++i) ASSERT_EQ(ring[i], 0) << "at byte " << i;

    // A ring the back-end provides is used and zeroed too.
    auto memory = std::make_unique<unsigned char[]>(size);
    std::memset(memory.get(), 0xAB, size);
    g.externalRing = memory.get();
    ASSERT_EQ(g.Create(0, 0, 64, 32, 8, 2, 5000), 1);
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
    ASSERT_TRUE(g.Ready());
    ASSERT_TRUE(WaitUntil([&] { return g.log.Count("ToggleLed") >= 1; })) << "no heartbeat";
    for (const GrabCall& c : g.log.Calls("ToggleLed")) {
        EXPECT_EQ(c.args, std::vector<ULONG>{1});
        EXPECT_NE(c.thread, ::GetCurrentThreadId());
    }
    // Destroy waits for the thread; a new Create starts a new heartbeat.
    EXPECT_EQ(g.Destroy(), 1);
    const std::size_t after = g.log.Count("ToggleLed");
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    ASSERT_TRUE(WaitUntil([&] { return g.log.Count("ToggleLed") > after; }));
}

TEST(GrabLifecycle, InterfaceOwnFormsUseThePlainRingRuleAndTheirClassName) {
    TestIXGrab g(IGRAB_LX2);  // the grab type does not change the plain rule
    EXPECT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::Create: Grab not initialized");
    EXPECT_EQ(g.Start(), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::Start: Grab not created");
    EXPECT_EQ(g.Initialize(), 1);
    EXPECT_EQ(g.m_ioRunning, 1);
    EXPECT_EQ(g.Initialize(), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::Initialize: Grab already initialized");
    // 5 x max(3P, P), and three planes also when tiled: 5 x P x T x 3.
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    EXPECT_EQ(g.m_ringSize, 4608000u);
    EXPECT_EQ(g.FrameAddress(1) - g.FrameAddress(0), 307200);
    EXPECT_EQ(g.Start(), 1);
    g.SetTiling(2, 1);
    ASSERT_EQ(g.Create(0, 0, 1280, 480, 8, 5, 5000), 1);
    EXPECT_EQ(g.m_ringSize, 9216000u);
    EXPECT_EQ(g.GetWidth(), 1280u);
    EXPECT_EQ(g.Destroy(), 1);
    EXPECT_EQ(g.m_created + g.m_ringSize, 0u);
    // Refusals: the crop rule, and a ring too large to describe.
    EXPECT_EQ(g.Create(100, 0, 107, 480, 8, 5, 5000), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab::Create: Crop boundaries exceed max image size");
    EXPECT_EQ(g.Create(0, 0, 70000, 70000, 32, 1, 5000), 0);
    EXPECT_STREQ(g.LastError(), "IXGrab Init: Image ring buffer allocation failed");
    EXPECT_EQ(g.m_created, 0);
    // The interface's SetWidth and SetHeight do nothing and answer 0.
    EXPECT_EQ(g.SetWidth(320) + g.SetHeight(240), 0);
    EXPECT_EQ(g.Terminate(), 1);
    EXPECT_EQ(g.IsGrabInitialized(), 0);
}
