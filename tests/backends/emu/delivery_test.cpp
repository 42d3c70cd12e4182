// Delivery as the client sees it: every frame the emulator produced is
// accounted for once acquisition stops, whatever the client does with its
// buffers and callbacks, and a callback may stop acquisition.
#include <gtest/gtest.h>
#include <kiru/kiru.h>

#include <atomic>
#include <string>

#include "emu_fixture.h"
#include "support/poll.h"

using kiru_test::EmuSandbox;
using kiru_test::FrameRecorder;

namespace {

using FrameCounts = EmuSandbox;

KiruFrameCounts Counts(CIGrabEmu& emu, int camera = -1) {
    KiruFrameCounts c{};
    EXPECT_EQ(emu.GetFrameCounts(camera, &c), 1);
    return c;
}

TEST_F(FrameCounts, EveryProducedFrameEndsInOneFate) {
    Flat(images_ + "/a.bmp", 32, 16, 7);
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    Open(emu, images_, 32, 16, 8, 3);
    ASSERT_EQ(emu.SetFrameDelay(1), 1);

    // First round: the client holds its first buffer, so later frames are
    // trashed.
    FrameRecorder recorder;
    recorder.Attach(emu);
    recorder.Hold();
    ASSERT_EQ(emu.Start(), 1);
    ASSERT_TRUE(recorder.WaitTrash(2));
    recorder.ReleaseHold();
    ASSERT_TRUE(recorder.WaitFrames(3));
    ASSERT_EQ(emu.Stop(), 1);
    KiruFrameCounts c = Counts(emu);
    EXPECT_EQ(c.produced, c.delivered + c.unclaimed + c.trashed + c.lost);
    EXPECT_EQ(c.delivered, recorder.Frames().size());
    EXPECT_GE(c.trashed, 2u);
    EXPECT_EQ(c.lost, 0u);

    // Second round without a frame callback: frames are unclaimed.
    emu.UnRegisterBufferCallback();
    const std::uint64_t before = c.produced;
    ASSERT_EQ(emu.Start(), 1);
    ASSERT_TRUE(kiru_test::WaitUntil([&] { return Counts(emu).produced >= before + 3; }));
    ASSERT_EQ(emu.Stop(), 1);
    const KiruFrameCounts after = Counts(emu);
    EXPECT_EQ(after.delivered, c.delivered);
    EXPECT_GE(after.unclaimed, c.unclaimed + 3);
    EXPECT_EQ(after.produced, after.delivered + after.unclaimed + after.trashed + after.lost);

    // Camera 0 holds the composite frames; other cameras and bad queries.
    EXPECT_EQ(Counts(emu, 0).produced, after.produced);
    EXPECT_EQ(Counts(emu, 7).produced, 0u);
    KiruFrameCounts unused{};
    EXPECT_EQ(emu.GetFrameCounts(8, &unused), 0);
    EXPECT_EQ(emu.GetFrameCounts(-2, &unused), 0);
    EXPECT_EQ(emu.GetFrameCounts(0, nullptr), 0);
}

// Stops acquisition from inside its first frame and tries to start it again.
struct StoppingClient {
    explicit StoppingClient(CIGrabEmu* grab) : emu(grab) {}
    CIGrabEmu* emu;
    std::atomic<int> calls{0};
    std::atomic<bool> stopped{false};
    int stopResult = -1, startResult = -1;
    std::string startError;
    static int OnFrame(unsigned char*, unsigned, std::int64_t, void* self) {
        auto* me = static_cast<StoppingClient*>(self);
        if (me->calls++ == 0) {
            me->stopResult = me->emu->Stop();
            me->startResult = me->emu->Start();
            me->startError = me->emu->GetLastErrorMsg();
            me->stopped = true;
        }
        return 0;
    }
};

TEST_F(FrameCounts, StopFromInsideACallbackEndsAcquisition) {
    Flat(images_ + "/a.bmp", 32, 16, 7);
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    Open(emu, images_, 32, 16, 8, 4);
    StoppingClient client(&emu);
    emu.RegisterBufferCallback(&StoppingClient::OnFrame, &client);
    ASSERT_EQ(emu.Start(), 1);
    ASSERT_TRUE(kiru_test::WaitUntil([&] { return client.stopped.load(); }));
    EXPECT_EQ(client.stopResult, 1);
    EXPECT_EQ(client.startResult, 0);
    EXPECT_EQ(client.startError, "CIGrabEmu::Start: called from inside a callback");
    EXPECT_EQ(emu.IsGrabRunning(), 0);

    // From the client's own thread the emulator starts again, after the
    // stopped callback thread has been joined.
    ASSERT_EQ(emu.Start(), 1);
    ASSERT_TRUE(kiru_test::WaitUntil([&] { return client.calls >= 2; }));
    ASSERT_EQ(emu.Stop(), 1);
    const KiruFrameCounts c = Counts(emu);
    EXPECT_EQ(c.produced, c.delivered + c.unclaimed + c.trashed + c.lost);
    EXPECT_EQ(c.delivered, std::uint64_t(client.calls.load()));
}

}  // namespace
