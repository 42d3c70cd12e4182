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
// is the Recorder itself.
struct Recorder {
    std::vector<Received> buffers, trash, solutions;
    std::vector<IFW_GRAB_BUF_DESC> descs;
    int exits = 0;
    void* exitContext = reinterpret_cast<void*>(1);
    std::vector<std::string> debug;
    void* debugContext = nullptr;

    // Set by a test to call back into the grab object from inside the
    // buffer callback.
    TestGrab* grab = nullptr;
    unsigned char* reenterImage = nullptr;
};

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

Recorder* g_solutionTarget = nullptr;  // change-solution may come without a context

int OnSolution(unsigned char* image, unsigned int frame, std::int64_t stamp, void* context) {
    g_solutionTarget->solutions.push_back({image, frame, stamp, context});
    return 1;
}

Recorder* g_exitTarget = nullptr;  // the exit callback may come without a context

int OnExit(void* context) {
    g_exitTarget->exits++;
    g_exitTarget->exitContext = context;
    return 1;
}

int OnDebug(void* context, char* message) {
    auto* r = static_cast<Recorder*>(context);
    r->debugContext = context;
    r->debug.emplace_back(message);
    return 0;
}

}  // namespace

TEST(GrabCallbacks, ReTriggerCameraDeliversTheCurrentFrame) {
    TestGrab g;
    Recorder r;
    g.RegisterBufferCallback(&OnBuffer, &r);
    // No ring yet: no frame to deliver.
    g.ReTrigger(0);
    EXPECT_TRUE(r.buffers.empty());

    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    g.ReTrigger(0);
    ASSERT_EQ(r.buffers.size(), 1u);
    EXPECT_EQ(r.buffers[0].image, g.GetFramePtr(0));
    EXPECT_EQ(r.buffers[0].frame, g.GetFrameCount(0));
    EXPECT_EQ(r.buffers[0].stamp, 0);
    EXPECT_EQ(r.buffers[0].context, &r);

    // Callbacks survive Destroy and Create.
    ASSERT_EQ(g.Destroy(), 1);
    ASSERT_EQ(g.Create(0, 0, 320, 240, 8, 2, 5000), 1);
    g.ReTrigger(0);
    ASSERT_EQ(r.buffers.size(), 2u);
    EXPECT_EQ(r.buffers[1].image, g.GetFramePtr(0));
}

TEST(GrabCallbacks, ANullContextMeansNotRegistered) {
    TestGrab g;
    Recorder r;
    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    unsigned char image[8] = {};

    g.RegisterBufferCallback(&OnBuffer, nullptr);
    g.ReTrigger(0);
    g.ReTrigger(image, 0);
    EXPECT_FALSE(g.DeliverBuffer(image, 1));
    g.RegisterBufferCallbackEx(&OnBufferEx, nullptr);
    IFW_GRAB_BUF_DESC desc{image, 0, 0};
    EXPECT_FALSE(g.DeliverBufferEx(&desc, 1));
    g.RegisterTrashCallback(&OnTrash, nullptr);
    EXPECT_FALSE(g.DeliverTrash(nullptr, 1));
    EXPECT_TRUE(r.buffers.empty());

    // A null function with a context is not registered either.
    g.RegisterBufferCallback(nullptr, &r);
    g.ReTrigger(0);
    g.ReTrigger(image, 0);
    EXPECT_FALSE(g.DeliverBuffer(image, 1));

    // Change-solution and thread-exit callbacks need only their function.
    Recorder s;
    g_solutionTarget = &s;
    g.RegisterChangeSolutionCallback(&OnSolution, nullptr);
    EXPECT_TRUE(g.DeliverChangeSolution(3));
    ASSERT_EQ(s.solutions.size(), 1u);
    EXPECT_EQ(s.solutions[0].frame, 3u);
    EXPECT_EQ(s.solutions[0].context, nullptr);
    g_exitTarget = &s;
    g.RegisterAcqThreadExitCallback(&OnExit, nullptr);
    g.AcqThreadExitting();
    EXPECT_EQ(s.exits, 1);
    EXPECT_EQ(s.exitContext, nullptr);
}

TEST(GrabCallbacks, ReTriggerImageDeliversAGivenImage) {
    TestGrab g;  // no ring needed
    Recorder r;
    unsigned char image[16] = {};
    g.RegisterBufferCallback(&OnBuffer, &r);
    g.ReTrigger(nullptr, 0);
    EXPECT_TRUE(r.buffers.empty());
    g.ReTrigger(image, 2);
    ASSERT_EQ(r.buffers.size(), 1u);
    EXPECT_EQ(r.buffers[0].image, image);
    EXPECT_EQ(r.buffers[0].frame, g.GetFrameCount(2));
    EXPECT_EQ(r.buffers[0].stamp, 0);
    EXPECT_EQ(r.buffers[0].context, &r);
}

TEST(GrabCallbacks, ReTriggerImageFromInsideItsCallbackIsRefused) {
    TestGrab g;
    Recorder r;
    unsigned char outer[4] = {}, inner[4] = {};
    r.grab = &g;
    r.reenterImage = inner;
    g.RegisterBufferCallback(&OnBuffer, &r);
    g.ReTrigger(outer, 0);
    ASSERT_EQ(r.buffers.size(), 1u);
    EXPECT_EQ(r.buffers[0].image, outer);
    // The busy flag is cleared once the outer call returns.
    r.reenterImage = nullptr;
    g.ReTrigger(inner, 0);
    ASSERT_EQ(r.buffers.size(), 2u);
    EXPECT_EQ(r.buffers[1].image, inner);
}

TEST(GrabCallbacks, ReTriggerCameraOnTheAcquisitionThreadIsRefused) {
    TestGrab g;
    Recorder r;
    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    g.RegisterBufferCallback(&OnBuffer, &r);
    g.SetAcqThreadId(::GetCurrentThreadId());
    EXPECT_EQ(g.GetAcqThreadID(), static_cast<ULONG>(::GetCurrentThreadId()));
    g.ReTrigger(0);
    EXPECT_TRUE(r.buffers.empty());
    // The given-image form has its own guard and still delivers.
    unsigned char image[4] = {};
    g.ReTrigger(image, 0);
    EXPECT_EQ(r.buffers.size(), 1u);

    // Any other thread is served, on that thread.
    std::thread other([&] { g.ReTrigger(0); });
    other.join();
    ASSERT_EQ(r.buffers.size(), 2u);
    EXPECT_EQ(r.buffers[1].image, g.GetFramePtr(0));
}

TEST(GrabCallbacks, UnregisteringTheBufferCallbackRemovesBufferEx) {
    TestGrab g;
    Recorder r;
    unsigned char image[4] = {};
    IFW_GRAB_BUF_DESC desc{image, 1, 0};
    g.RegisterBufferCallbackEx(&OnBufferEx, &r);
    ASSERT_TRUE(g.DeliverBufferEx(&desc, 7));
    ASSERT_EQ(r.descs.size(), 1u);
    EXPECT_EQ(r.descs[0].image, image);
    EXPECT_EQ(r.descs[0].camera, 1u);

    g.RegisterBufferCallback(&OnBuffer, &r);
    g.UnRegisterBufferCallback();
    EXPECT_FALSE(g.DeliverBufferEx(&desc, 8));
    EXPECT_FALSE(g.DeliverBuffer(image, 8));
    g.ReTrigger(image, 0);
    EXPECT_TRUE(r.buffers.empty());
    EXPECT_EQ(r.descs.size(), 1u);

    // Registering again replaces the pair.
    Recorder r2;
    g.RegisterTrashCallback(&OnTrash, &r);
    g.RegisterTrashCallback(&OnTrash, &r2);
    ASSERT_TRUE(g.DeliverTrash(nullptr, 9));
    EXPECT_TRUE(r.trash.empty());
    ASSERT_EQ(r2.trash.size(), 1u);
    EXPECT_EQ(r2.trash[0].frame, 9u);
    g.UnRegisterTrashCallback();
    EXPECT_FALSE(g.DeliverTrash(nullptr, 10));
}

TEST(GrabCallbacks, AcqThreadExitting) {
    TestGrab g;
    // Nothing registered: nothing happens.
    g.AcqThreadExitting();

    Recorder r;
    g_exitTarget = &r;
    g.RegisterAcqThreadExitCallback(&OnExit, &r);
    g.AcqThreadExitting();
    EXPECT_EQ(r.exits, 1);
    EXPECT_EQ(r.exitContext, &r);
    g.UnRegisterAcqThreadExitCallback();
    g.AcqThreadExitting();
    EXPECT_EQ(r.exits, 1);
}

TEST(GrabCallbacks, TerminateUnregistersEverything) {
    TestGrab g;
    Recorder r;
    g_solutionTarget = &r;
    g_exitTarget = &r;
    ASSERT_EQ(g.Initialize(), 1);
    ASSERT_EQ(g.Create(0, 0, 640, 480, 8, 5, 5000), 1);
    g.RegisterBufferCallback(&OnBuffer, &r);
    g.RegisterBufferCallbackEx(&OnBufferEx, &r);
    g.RegisterTrashCallback(&OnTrash, &r);
    g.RegisterChangeSolutionCallback(&OnSolution, &r);
    g.RegisterAcqThreadExitCallback(&OnExit, &r);
    g.RegisterErrorCallback(&OnBuffer, &r);

    ASSERT_EQ(g.Terminate(), 1);
    unsigned char image[4] = {};
    IFW_GRAB_BUF_DESC desc{image, 0, 0};
    g.ReTrigger(image, 0);
    EXPECT_FALSE(g.DeliverBuffer(image, 1));
    EXPECT_FALSE(g.DeliverBufferEx(&desc, 1));
    EXPECT_FALSE(g.DeliverTrash(image, 1));
    EXPECT_FALSE(g.DeliverChangeSolution(1));
    g.AcqThreadExitting();
    EXPECT_TRUE(r.buffers.empty());
    EXPECT_TRUE(r.descs.empty());
    EXPECT_TRUE(r.trash.empty());
    EXPECT_TRUE(r.solutions.empty());
    EXPECT_EQ(r.exits, 0);
}

TEST(GrabCallbacks, DebugCatcher) {
    CIGrab g;
    char text[] = "hello";
    g.DbgPrint(text);  // no catcher: nothing happens

    Recorder r;
    g.SetDbgCatcher(&OnDebug, &r);
    g.DbgPrint(text);
    ASSERT_EQ(r.debug.size(), 1u);
    EXPECT_EQ(r.debug[0], "hello");
    EXPECT_EQ(r.debugContext, &r);

    g.SetDbgCatcher(nullptr, &r);
    g.DbgPrint(text);
    EXPECT_EQ(r.debug.size(), 1u);
}
