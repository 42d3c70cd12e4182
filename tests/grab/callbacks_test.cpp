// Client callbacks: registration, the delivery rule, ReTrigger in both forms
// with their guards, the acquisition-thread exit hook and the debug catcher.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/test_grab.h"

using namespace kiru_test;

namespace {

struct Received {
    unsigned char* image;
    unsigned int frame;
    std::int64_t stamp;
    void* context;
};

// What a client's callbacks saw. The context pointer handed to the library
// is the Recorder itself; callbacks that may come without a context record
// into g_target.
struct Recorder {
    std::vector<Received> buffers, trash, solutions;
    std::vector<IFW_GRAB_BUF_DESC> descs;
    std::vector<void*> exits;
    std::vector<std::string> debug;
    // Set by a test to call back into the grab object from inside the
    // buffer callback.
    TestGrab* grab = nullptr;
    unsigned char* reenterImage = nullptr;
};
Recorder* g_target = nullptr;

int OnBuffer(unsigned char* image, unsigned int frame, std::int64_t stamp, void* context) {
    auto* r = static_cast<Recorder*>(context);
    r->buffers.push_back({image, frame, stamp, context});
    if (r->grab != nullptr && r->reenterImage != nullptr) r->grab->ReTrigger(r->reenterImage, 0);
    return 1;
}
int OnBufferEx(IFW_GRAB_BUF_DESC* desc, unsigned int, std::int64_t, void* context) {
    static_cast<Recorder*>(context)->descs.push_back(*desc);
    return 1;
}
int OnTrash(unsigned char* image, unsigned int frame, std::int64_t stamp, void* context) {
    static_cast<Recorder*>(context)->trash.push_back({image, frame, stamp, context});
    return 1;
}
int OnSolution(unsigned char* image, unsigned int frame, std::int64_t stamp, void* context) {
    g_target->solutions.push_back({image, frame, stamp, context});
    return 1;
}
int OnExit(void* context) {
    g_target->exits.push_back(context);
    return 1;
}
int OnDebug(void* context, char* message) {
    static_cast<Recorder*>(context)->debug.emplace_back(message);
    return 0;
}

std::vector<unsigned char*> Images(const std::vector<Received>& received) {
    std::vector<unsigned char*> out;
    for (const Received& r : received) out.push_back(r.image);
    return out;
}

unsigned char* Frame(TestGrab& g) { return static_cast<unsigned char*>(g.GetFramePtr(0)); }

}  // namespace

TEST(GrabCallbacks, ReTriggerDeliversTheCurrentFrameOrAGivenImageWithoutReentry) {
    TestGrab g;
    Recorder r;
    unsigned char outer[4] = {}, inner[4] = {};
    g.RegisterBufferCallback(&OnBuffer, &r);
    // No ring yet: no frame to deliver; no image: nothing to deliver; a
    // given image needs no ring.
    g.ReTrigger(0);
    g.ReTrigger(nullptr, 0);
    g.ReTrigger(outer, 2);
    ASSERT_TRUE(g.Ready());
    g.ReTrigger(0);
    unsigned char* first = Frame(g);
    // Callbacks survive Destroy and Create.
    ASSERT_EQ(g.Destroy(), 1);
    ASSERT_EQ(g.Create(0, 0, 320, 240, 8, 2, 5000), 1);
    g.ReTrigger(0);
    ASSERT_EQ(Images(r.buffers), (std::vector<unsigned char*>{outer, first, Frame(g)}));
    for (const Received& b : r.buffers) {
        EXPECT_EQ(b.frame, g.GetFrameCount(0));
        EXPECT_EQ(b.stamp, 0);
        EXPECT_EQ(b.context, &r);
    }

    // The given-image form refuses a call from inside its own callback, and
    // is served again once the outer call returned.
    r.buffers.clear();
    r.grab = &g;
    r.reenterImage = inner;
    g.ReTrigger(outer, 0);
    r.reenterImage = nullptr;
    g.ReTrigger(inner, 0);
    // The camera form refuses the acquisition thread; any other thread is
    // served, on that thread.
    g.m_acqThreadId = ::GetCurrentThreadId();
    EXPECT_EQ(g.GetAcqThreadID(), static_cast<ULONG>(::GetCurrentThreadId()));
    g.ReTrigger(0);
    std::thread other([&] { g.ReTrigger(0); });
    other.join();
    EXPECT_EQ(Images(r.buffers), (std::vector<unsigned char*>{outer, inner, Frame(g)}));
}

TEST(GrabCallbacks, RegisteringUnregisteringReplacingAndTerminate) {
    TestGrab g;
    Recorder r, r2;
    g_target = &r;
    ASSERT_TRUE(g.Ready());
    unsigned char image[8] = {};
    IFW_GRAB_BUF_DESC desc{image, 1, 0};
    // A null context or function means not registered...
    g.RegisterBufferCallbackEx(&OnBufferEx, nullptr);
    g.RegisterTrashCallback(&OnTrash, nullptr);
    EXPECT_FALSE(g.DeliverBufferEx(&desc, 1) || g.DeliverTrash(nullptr, 1));
    for (Recorder* context : {static_cast<Recorder*>(nullptr), &r}) {
        g.RegisterBufferCallback(context ? nullptr : &OnBuffer, context);
        g.ReTrigger(0);
        g.ReTrigger(image, 0);
        EXPECT_FALSE(g.DeliverBuffer(image, 1));
    }
    EXPECT_TRUE(r.buffers.empty());
    // ...except for change-solution and thread-exit callbacks, which need only their function.
    g.RegisterChangeSolutionCallback(&OnSolution, nullptr);
    EXPECT_TRUE(g.DeliverChangeSolution(3));
    ASSERT_EQ(r.solutions.size(), 1u);
    EXPECT_EQ(r.solutions[0].frame, 3u);
    EXPECT_EQ(r.solutions[0].context, nullptr);
    g.RegisterAcqThreadExitCallback(&OnExit, nullptr);
    g.AcqThreadExitting();
    EXPECT_EQ(r.exits, std::vector<void*>{nullptr});
    r.exits.clear();
    r.solutions.clear();

    g.RegisterBufferCallbackEx(&OnBufferEx, &r);
    ASSERT_TRUE(g.DeliverBufferEx(&desc, 7));
    ASSERT_EQ(r.descs.size(), 1u);
    EXPECT_EQ(r.descs[0].image, image);
    EXPECT_EQ(r.descs[0].camera, 1u);
    // Unregistering the buffer callback removes the buffer-ex callback too.
    g.RegisterBufferCallback(&OnBuffer, &r);
    g.UnRegisterBufferCallback();
    EXPECT_FALSE(g.DeliverBufferEx(&desc, 8) || g.DeliverBuffer(image, 8));
    // Registering again replaces the pair.
    g.RegisterTrashCallback(&OnTrash, &r);
    g.RegisterTrashCallback(&OnTrash, &r2);
    ASSERT_TRUE(g.DeliverTrash(nullptr, 9));
    ASSERT_EQ(r2.trash.size(), 1u);
    EXPECT_EQ(r2.trash[0].frame, 9u);
    g.UnRegisterTrashCallback();
    EXPECT_FALSE(g.DeliverTrash(nullptr, 10));
    g.UnRegisterAcqThreadExitCallback();
    g.AcqThreadExitting();  // nothing registered: nothing happens
    g.RegisterAcqThreadExitCallback(&OnExit, &r);
    g.AcqThreadExitting();
    g.UnRegisterAcqThreadExitCallback();
    g.AcqThreadExitting();
    EXPECT_EQ(r.exits, std::vector<void*>{&r});

    // Terminate unregisters everything.
    g.RegisterBufferCallback(&OnBuffer, &r);
    g.RegisterBufferCallbackEx(&OnBufferEx, &r);
    g.RegisterTrashCallback(&OnTrash, &r);
    g.RegisterChangeSolutionCallback(&OnSolution, &r);
    g.RegisterAcqThreadExitCallback(&OnExit, &r);
    g.RegisterErrorCallback(&OnBuffer, &r);
    ASSERT_EQ(g.Terminate(), 1);
    g.ReTrigger(image, 0);
    g.AcqThreadExitting();
    EXPECT_FALSE(g.DeliverBuffer(image, 1) || g.DeliverBufferEx(&desc, 1) || g.DeliverTrash(image, 1) ||
                 g.DeliverChangeSolution(1));
    EXPECT_EQ(r.buffers.size() + r.descs.size() + r.trash.size() + r.solutions.size() + r.exits.size(), 2u);
}

TEST(GrabCallbacks, DebugCatcher) {
    CIGrab g;
    char text[] = "hello";
    g.DbgPrint(text);  // no catcher: nothing happens
    Recorder r;
    g.SetDbgCatcher(&OnDebug, &r);
    g.DbgPrint(text);
    g.SetDbgCatcher(nullptr, &r);
    g.DbgPrint(text);
    EXPECT_EQ(r.debug, std::vector<std::string>{"hello"});
}
