// Emulator acquisition as a client sees it: the ring and its trash buffer,
// frames the client holds, the frame delay floor, cropping, asynchronous
// delivery, and the emulator's own answers.
#include <gtest/gtest.h>
#include <kiru/kiru.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "backends/frame_counts.h"
#include "emu_fixture.h"
#include "platform/kernel.h"
#include "support/bmp_writer.h"

using kiru_test::Delivery;
using kiru_test::ExpectCountsAddUp;
using kiru_test::FrameRecorder;
using kiru_test::SpecOf;
using kiru_test::WaitUntil;

namespace {

constexpr ULONG kBits24 = 0u - 24u;  // Create's way of asking for 24 bits
using Acquisition = kiru_test::EmuSandbox;

// Ring buffer indexes of the first deliveries (one camera, 8 bits).
std::vector<long> Indexes(CIGrabEmu& emu, const std::vector<Delivery>& deliveries, std::size_t count) {
    std::vector<long> out;
    const auto* ring = static_cast<const unsigned char*>(emu.GetFramePtr(0));
    for (std::size_t i = 0; i < count && i < deliveries.size(); ++i)
        out.push_back(static_cast<long>((deliveries[i].image - ring) / static_cast<long>(emu.GetImageSizeInBytes())));
    return out;
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

}  // namespace

// The ring rotates over all but the last buffer; frames made while the
// client holds a buffer go to the trash (buffer N - 1). Every frame produced
// is counted in exactly one fate.
TEST_F(Acquisition, TheRingRotatesFramesForAHeldBufferGoToTheTrashAndEveryFrameIsCounted) {
    Flat(images_ + "/a.bmp", 64, 32, 7);
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    Open(emu, images_, 64, 32);
    FrameRecorder recorder(64 * 32);
    recorder.Attach(emu);
    recorder.Hold();  // the client keeps buffer 0
    ASSERT_EQ(emu.Start(), 1);
    EXPECT_EQ(emu.IsGrabRunning(), 1);
    ASSERT_TRUE(recorder.WaitTrash(3));
    EXPECT_EQ(recorder.Frames().size(), 1u);
    const auto* ring = static_cast<const unsigned char*>(emu.GetFramePtr(0));
    unsigned previous = 0;
    for (const Delivery& d : recorder.Trash()) {
        EXPECT_EQ(d.image, ring + 4 * emu.GetImageSizeInBytes());
        EXPECT_GT(d.frame, previous);  // one more per dropped frame (merged when the trash thread lags)
        EXPECT_EQ(d.stamp, 0);
        previous = d.frame;
    }
    // Letting go delivers the frames already made, in ring order.
    recorder.ReleaseHold();
    ASSERT_TRUE(recorder.WaitFrames(6));
    EXPECT_EQ(emu.Stop(), 1);
    EXPECT_EQ(emu.IsGrabRunning(), 0);
    EXPECT_EQ(recorder.ExitCount(), 1u);
    const std::vector<Delivery> frames = recorder.Frames();
    EXPECT_EQ(Indexes(emu, frames, 6), (std::vector<long>{0, 1, 2, 3, 0, 1}));
    const unsigned expectedNumbers[] = {1, 1, 1, 1, 2, 2};  // counted per buffer
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(frames[i].frame, expectedNumbers[i]) << i;
        EXPECT_EQ(frames[i].stamp, 0) << i;
        EXPECT_EQ(frames[i].firstBytes, std::vector<std::uint8_t>(64 * 32, 7)) << i;
    }
    EXPECT_NE(emu.GetAcqThreadID(), 0u);
    EXPECT_NE(emu.GetAcqThreadID(), static_cast<ULONG>(::GetCurrentThreadId()));
    const KiruFrameCounts c = ExpectCountsAddUp(emu);
    EXPECT_EQ(c.delivered, frames.size());
    EXPECT_GE(c.trashed, 3u);
    EXPECT_EQ(c.lost, 0u);

    // The emulator runs again after a stop, and a second stop is harmless;
    // without a frame callback, frames are unclaimed.
    emu.UnRegisterBufferCallback();
    ASSERT_EQ(emu.Start(), 1);
    KiruFrameCounts now{};
    ASSERT_TRUE(WaitUntil([&] { return emu.GetFrameCounts(-1, &now) == 1 && now.produced >= c.produced + 3; }));
    EXPECT_EQ(emu.Stop(), 1);
    EXPECT_EQ(emu.Stop(), 1);
    EXPECT_EQ(recorder.ExitCount(), 2u);
    const KiruFrameCounts after = ExpectCountsAddUp(emu);
    EXPECT_EQ(after.delivered, c.delivered);
    EXPECT_GE(after.unclaimed, c.unclaimed + 3);

    // Camera 0 holds the composite frames; other cameras and bad queries.
    EXPECT_EQ(ExpectCountsAddUp(emu, 0).produced, after.produced);
    EXPECT_EQ(ExpectCountsAddUp(emu, 7).produced, 0u);
    KiruFrameCounts unused{};
    EXPECT_EQ(emu.GetFrameCounts(8, &unused), 0);
    EXPECT_EQ(emu.GetFrameCounts(-2, &unused), 0);
    EXPECT_EQ(emu.GetFrameCounts(0, nullptr), 0);
}

TEST_F(Acquisition, TheEmulatorsOwnAnswersBeforeAndAfterInitialize) {
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    EXPECT_EQ(emu.GetGrabType(), IGRAB_EMULATOR);
    const struct {
        std::function<int()> call;
        const char* message;
    } refused[] = {
        {[&] { return emu.SetFrameDelay(10); }, "CIGrab::SetFrameDelay: Grab not initialized"},
        {[&] { return emu.SetActiveCommPort(0); }, "CIGrab::SetActiveCommPort: Grab not initialized"},
        {[&] { return emu.EmulationTrigger(); }, "CIGrab::EmulationTrigger: Grab not initialized"},
        {[&] { return emu.Create(0, 0, 64, 48, 8, 5, 5000); }, "CIGrab::Create: Grab not initialized"},
        {[&] { return emu.Start(); }, "CIGrab::Start: Grab not created"},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(r.call(), 0) << r.message;
        EXPECT_STREQ(emu.GetLastErrorMsg(), r.message);
    }
    EXPECT_EQ(emu.GetFrameDelay(), 10u);
    ASSERT_EQ(emu.Initialize(), 1);
    EXPECT_EQ(emu.Initialize(), 0);
    EXPECT_STREQ(emu.GetLastErrorMsg(), "CIGrab::Initialize: Grab already initialized");
    // The frame delay has a floor of 33 ms.
    EXPECT_EQ(emu.GetFrameDelay(), 33u);
    for (ULONG asked : {10u, 0u, 50u}) {
        EXPECT_EQ(emu.SetFrameDelay(asked), 1);
        EXPECT_EQ(emu.GetFrameDelay(), std::max<ULONG>(asked, 33u));
    }
    EXPECT_EQ(emu.SetActiveCommPort(1), 0);
    EXPECT_EQ(emu.SetActiveCommPort(0), 1);
    EXPECT_EQ(emu.GetCommPortNum(3, IFW_COMPORT_KIND_100), 0);
    EXPECT_EQ(emu.GetCommPortNum(3, IFW_COMPORT_KIND_101), 0);
    EXPECT_EQ(emu.GetCommPortNum(3, IFW_COMPORT_KIND_1), 1);
    EXPECT_EQ(emu.EmulationTrigger(), 1);

    // Create changes the depth only for negated bit counts; the ring needs a
    // trash buffer and has at most 60 buffers.
    const struct {
        ULONG bits, buffers, bitPP, bufferCount;
    } creates[] = {{24, 5, 8, 5}, {kBits24, 5, 24, 5}, {8, 5, 24, 5}, {0u - 8u, 5, 8, 5}, {8, 1, 8, 2}, {8, 100, 8, 60}};
    for (const auto& c : creates) {
        ASSERT_EQ(emu.Create(0, 0, 64, 48, c.bits, c.buffers, 5000), 1);
        EXPECT_EQ(emu.GetBitPP(), c.bitPP) << c.bits;
        EXPECT_EQ(emu.GetBytesPP(), c.bitPP / 8) << c.bits;
        EXPECT_EQ(emu.GetBufferCount(), c.bufferCount) << c.buffers;
    }
    EXPECT_EQ(emu.GetNumCameras(), 1);
    ASSERT_EQ(emu.SetImageColor(IFW_COLOR_PLANAR), 1);
    EXPECT_EQ(emu.GetNumCameras(), 3);
    emu.SetNumCameras(2);
    EXPECT_EQ(emu.GetNumCameras(), 2);
    EXPECT_EQ(emu.Terminate(), 1);
    EXPECT_EQ(emu.IsGrabInitialized(), 0);
}

TEST_F(Acquisition, FramesAreCroppedPlaneAfterPlaneAndDeliveredOnceForEachCameraWhenAsynchronous) {
    // Camera 0 and camera 1 (folder Cam2) show different gradients; each
    // plane's rows continue from where the previous plane's rows ended.
    MakeDirs(images_ + "/Cam2");
    auto first = [](int x, int y) { return std::uint32_t((x + 3 * y) & 0xFF); };
    auto second = [](int x, int y) { return std::uint32_t((100 + 2 * x + 5 * y) & 0xFF); };
    ASSERT_TRUE(kiru_test::WriteBmp(images_ + "/a.bmp", SpecOf(64, 48), first));
    ASSERT_TRUE(kiru_test::WriteBmp(images_ + "/Cam2/b.bmp", SpecOf(64, 48), second));
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    emu.SetNumCameras(2);
    Open(emu, images_, 64, 48, 8, 5, 8, 4);
    ASSERT_EQ(emu.GetAoiWidth(), 56u);
    ASSERT_EQ(emu.GetAoiHeight(), 44u);
    emu.SetASyncMode(1);
    FrameRecorder recorder(2 * 56 * 44);
    recorder.Attach(emu, true);
    ASSERT_EQ(emu.Start(), 1);
    ASSERT_TRUE(recorder.WaitFrames(4));
    EXPECT_EQ(emu.Stop(), 1);
    const std::vector<Delivery> frames = recorder.Frames();
    for (std::size_t i = 0; i < 4; i += 2) {
        EXPECT_EQ(std::make_pair(frames[i].camera, frames[i + 1].camera), (std::pair<ULONG, ULONG>(0u, 1u)));
        EXPECT_EQ(frames[i].image, frames[i + 1].image);
        EXPECT_EQ(frames[i].frame, frames[i + 1].frame);
    }
    EXPECT_NE(frames[0].image, frames[2].image);
    const std::vector<std::uint8_t>& frame = frames[0].firstBytes;
    for (int r = 0; r < 44; ++r) {
        for (int c = 0; c < 56; ++c) {
            ASSERT_EQ(frame[r * 56 + c], first(c + 8, r + 4)) << c << "," << r;
            // Plane 1 starts 44 rows after plane 0's first row: at row 0 of
            // the second composite image.
            ASSERT_EQ(frame[56 * 44 + r * 56 + c], second(c + 8, r)) << c << "," << r;
        }
    }

    // The emulator tests only the function of the buffer callback, while a
    // buffer-ex callback needs its context too.
    static std::atomic<int> plainFrames{0};
    emu.RegisterBufferCallbackEx(
        [](IFW_GRAB_BUF_DESC*, unsigned, std::int64_t, void*) {
            ADD_FAILURE() << "buffer-ex callback without context called";
            return 1;
        },
        nullptr);
    emu.RegisterBufferCallback(
        [](unsigned char*, unsigned, std::int64_t, void*) {
            ++plainFrames;
            return 1;
        },
        nullptr);
    ASSERT_EQ(emu.Start(), 1);
    EXPECT_TRUE(WaitUntil([] { return plainFrames >= 2; }));
    EXPECT_EQ(emu.Stop(), 1);
}

TEST_F(Acquisition, FourByteColourWhileRunningStaysInTheRingAndDeletingStopsTheThreads) {
    Flat(images_ + "/a.bmp", 64, 48, 90);
    auto* emu = new CIGrabEmu(IGEMU_FILE_STORE_FILES);
    Open(*emu, images_, 64, 48);
    FrameRecorder recorder;
    recorder.Attach(*emu);
    ASSERT_EQ(emu->Start(), 1);
    ASSERT_TRUE(recorder.WaitFrames(1));
    ASSERT_EQ(emu->SetImageColor(IFW_COLOR_RGB32), 1);
    EXPECT_EQ(emu->IsGrabRunning(), 1);
    EXPECT_EQ(emu->GetBytesPP(), 4u);
    EXPECT_GE(emu->GetRingBufferSize(), 4u * 64 * 48 * emu->GetBufferCount());
    const std::size_t before = recorder.Frames().size();
    ASSERT_TRUE(recorder.WaitFrames(before + 3));
    ASSERT_EQ(emu->SetImageColor(IFW_COLOR_RGB24), 1);
    ASSERT_TRUE(recorder.WaitFrames(before + 6));
    const auto* ring = static_cast<const unsigned char*>(emu->GetFramePtr(0));
    const Delivery last = recorder.Frames().back();
    EXPECT_GE(last.image, ring);
    EXPECT_LE(last.image + emu->GetImageSizeInBytes(), ring + emu->GetRingBufferSize());

    const std::size_t exits = recorder.ExitCount();  // changing the colour restarts the threads
    delete emu;                                       // while running
    EXPECT_EQ(recorder.ExitCount(), exits + 1);
    const std::size_t frames = recorder.Frames().size();
    EXPECT_FALSE(recorder.WaitFrames(frames + 1, std::chrono::milliseconds(100)));
}

TEST_F(Acquisition, StopFromInsideACallbackEndsAcquisition) {
    Flat(images_ + "/a.bmp", 32, 16, 7);
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    Open(emu, images_, 32, 16, 8, 4);
    StoppingClient client(&emu);
    emu.RegisterBufferCallback(&StoppingClient::OnFrame, &client);
    ASSERT_EQ(emu.Start(), 1);
    ASSERT_TRUE(WaitUntil([&] { return client.stopped.load(); }));
    EXPECT_EQ(client.stopResult, 1);
    EXPECT_EQ(client.startResult, 0);
    EXPECT_EQ(client.startError, "CIGrabEmu::Start: called from inside a callback");
    EXPECT_EQ(emu.IsGrabRunning(), 0);

    // From the client's own thread the emulator starts again, after the
    // stopped callback thread has been joined.
    ASSERT_EQ(emu.Start(), 1);
    ASSERT_TRUE(WaitUntil([&] { return client.calls >= 2; }));
    ASSERT_EQ(emu.Stop(), 1);
    EXPECT_EQ(ExpectCountsAddUp(emu).delivered, std::uint64_t(client.calls.load()));
}
