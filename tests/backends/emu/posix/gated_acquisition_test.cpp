// Emulator acquisition held at a gate: a named pipe in place of an image
// file blocks the emulator inside the open of that file until the test
// opens the pipe's writing end, so the test decides when the emulator goes on.
#include <gtest/gtest.h>
#include <kiru/kiru.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "backends/emu/emu_fixture.h"
#include "support/bmp_writer.h"

using kiru_test::FrameRecorder;
using kiru_test::SpecOf;
using kiru_test::WaitUntil;

namespace {

using GatedAcquisition = kiru_test::EmuSandbox;

// The writing end of a named pipe, opened once a reader is blocked opening
// it (so the reader stays inside that open until the end is closed); -1
// when no reader came within the limit.
int WriterOnceBlocked(const std::string& fifo, std::chrono::milliseconds limit = kiru_test::kGenerous) {
    int fd = -1;
    WaitUntil([&] { return (fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) >= 0; }, limit);
    return fd;
}

}  // namespace

// The producer is held inside a frame by making its image file a named pipe:
// opening it blocks until a writer comes. Triggers given meanwhile are merged
// into one pending trigger.
TEST_F(GatedAcquisition, TriggeredModesMakeOneFramePerTriggerAndMergeTriggersArrivingTogether) {
    const std::string gate = images_ + "/gate.bmp";
    Flat(gate, 64, 32, 1);
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    Open(emu, images_, 64, 32);
    EXPECT_EQ(emu.GenerateSoftTrigger(0), 1);  // free-running: nothing to release
    ASSERT_EQ(emu.SetTriggerMethod(IXGrab::TRIGGER_HARDWARE), 1);
    ASSERT_EQ(::unlink(gate.c_str()), 0);
    ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
    FrameRecorder recorder;
    recorder.Attach(emu);
    ASSERT_EQ(emu.Start(), 1);
    // No frame without a trigger (a slow machine can only make this pass).
    EXPECT_LT(WriterOnceBlocked(gate, std::chrono::milliseconds(300)), 0);

    EXPECT_EQ(emu.GenerateSoftTrigger(0), 1);
    // While the producer is inside frame 1, two triggers come.
    const int fd = WriterOnceBlocked(gate);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(emu.EmulationTrigger(), 1);
    EXPECT_EQ(emu.GenerateSoftTrigger(0), 1);
    ::close(fd);
    ASSERT_TRUE(recorder.WaitFrames(1));
    // They make exactly one more frame.
    const int second = WriterOnceBlocked(gate);
    ASSERT_GE(second, 0);
    ::close(second);
    ASSERT_TRUE(recorder.WaitFrames(2));
    const int third = WriterOnceBlocked(gate, std::chrono::milliseconds(300));
    EXPECT_LT(third, 0);
    if (third >= 0) ::close(third);

    ASSERT_EQ(::unlink(gate.c_str()), 0);
    Flat(gate, 64, 32, 1);
    EXPECT_EQ(emu.Stop(), 1);
    EXPECT_EQ(recorder.Frames().size(), 2u);
}

// Create on a running emulator reads the folder again and may take the first
// file's size; the producer must be stopped before that, or it would compose
// frames of the new size into the composite of the old one. A named pipe in
// the calib folder holds Create inside its folder listing (the conform test
// opens every listed file) while the test watches for frames.
TEST_F(GatedAcquisition, CreateStopsTheProducerBeforeReadingTheFolder) {
    // The first file declares 640 x 480 but never loads (108-byte header), so
    // every frame is the fill pattern drawn at the grab's current size.
    kiru_test::BmpSpec spec = SpecOf(640, 480);
    spec.headerSize = 108;
    ASSERT_TRUE(kiru_test::WriteBmp(images_ + "/big.bmp", spec, [](int, int) { return 1u; }));
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    Open(emu, images_, 64, 48);
    MakeDirs(images_ + "/calib");
    const std::string gate = images_ + "/calib/gate.bmp";
    ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
    FrameRecorder recorder;
    recorder.Attach(emu);
    ASSERT_EQ(emu.Start(), 1);
    ASSERT_TRUE(recorder.WaitFrames(1));

    std::atomic<int> created{-1};
    std::thread creator([&] { created = emu.Create(0, 0, 64, 48, 8, 5, 5000); });
    // The writer end stays open until the check is done, so the listing stays where it is.
    const int writer = WriterOnceBlocked(gate);
    const std::size_t before = recorder.Frames().size();
    EXPECT_FALSE(recorder.WaitFrames(before + 1, std::chrono::milliseconds(300)));
    if (writer >= 0) ::close(writer);
    creator.join();
    ASSERT_GE(writer, 0);
    EXPECT_EQ(created.load(), 1);
    EXPECT_EQ(emu.IsGrabRunning(), 0);
    EXPECT_EQ(emu.GetWidth(), 64u);
    EXPECT_EQ(recorder.ExitCount(), 1u);
}
