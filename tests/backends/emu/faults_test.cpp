// Faults while the emulator acquires: its image folder emptied, moved away
// and filled again, files cut short under it, the client's storage failing,
// and the grab stopped, terminated or deleted from another thread while a
// callback runs. Frames keep coming (from the files that are there, else the
// fill pattern), nothing hangs, and every frame produced is accounted for.
#include <gtest/gtest.h>
#include <kiru/kiru.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "backends/frame_counts.h"
#include "emu_fixture.h"
#include "support/memory_storage.h"
#include "support/poll.h"

using kiru_test::Delivery;
using kiru_test::ExpectCountsAddUp;
using kiru_test::FrameRecorder;
using kiru_test::WaitUntil;
namespace fs = std::filesystem;

namespace {

using EmuFaults = kiru_test::EmuSandbox;

// A frame's first two bytes tell a flat file (both the file's value) from
// the fill pattern (each pixel one more than the one before).
bool IsFlat(const Delivery& d, std::uint8_t value) { return d.firstBytes[0] == value && d.firstBytes[1] == value; }
bool IsFill(const Delivery& d) { return std::uint8_t(d.firstBytes[1] - d.firstBytes[0]) == 1; }

// Waits for a frame delivered after the first `from` ones that satisfies
// the test; updates `from` to just past it.
bool WaitForFrame(FrameRecorder& recorder, std::size_t& from, const std::function<bool(const Delivery&)>& test) {
    return WaitUntil([&] {
        const std::vector<Delivery> frames = recorder.Frames();
        for (std::size_t i = from; i < frames.size(); ++i) {
            if (test(frames[i])) {
                from = i + 1;
                return true;
            }
        }
        return false;
    });
}

void ExpectBalanced(CIGrab& grab, std::size_t delivered) {
    const KiruFrameCounts c = ExpectCountsAddUp(grab);
    EXPECT_EQ(c.delivered, delivered);
    EXPECT_EQ(c.lost, 0u);
}

// Every frame is either a flat file of one of the folder's values or the fill pattern.
void ExpectOnlyFilesOrFill(const std::vector<Delivery>& frames, std::initializer_list<std::uint8_t> values) {
    for (const Delivery& d : frames) {
        bool known = IsFill(d);
        for (std::uint8_t v : values) known = known || IsFlat(d, v);
        EXPECT_TRUE(known) << "frame " << d.frame << " starts " << int(d.firstBytes[0]) << ", "
                           << int(d.firstBytes[1]);
    }
}

}  // namespace

TEST_F(EmuFaults, FolderEmptiedMovedAndRefilledWhileRunning) {
    Flat(images_ + "/a.bmp", 32, 16, 10);
    Flat(images_ + "/b.bmp", 32, 16, 20);
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    Open(emu, images_, 32, 16, 8, 4);
    FrameRecorder recorder(2);
    recorder.Attach(emu);
    ASSERT_EQ(emu.Start(), 1);

    std::size_t seen = 0;
    ASSERT_TRUE(WaitForFrame(recorder, seen, [](const Delivery& d) { return IsFlat(d, 10) || IsFlat(d, 20); }));
    // Emptied: the listed files are gone, so the fill pattern stands in.
    fs::remove(images_ + "/a.bmp");
    fs::remove(images_ + "/b.bmp");
    ASSERT_TRUE(WaitForFrame(recorder, seen, IsFill));
    // Moved away, then a new folder of the same name with one of the names.
    fs::rename(images_, root_ + "/moved");
    ASSERT_TRUE(WaitForFrame(recorder, seen, IsFill));
    MakeDirs(images_);
    Flat(images_ + "/b.bmp", 32, 16, 30);
    ASSERT_TRUE(WaitForFrame(recorder, seen, [](const Delivery& d) { return IsFlat(d, 30); }));

    ASSERT_EQ(emu.Stop(), 1);
    ExpectOnlyFilesOrFill(recorder.Frames(), {10, 20, 30});
    ExpectBalanced(emu, recorder.Frames().size());
}

TEST_F(EmuFaults, FilesCutShortUnderTheRunningEmulatorGiveTheFillPattern) {
    const std::string file = images_ + "/a.bmp";
    Flat(file, 32, 16, 50);
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    Open(emu, images_, 32, 16, 8, 4);
    FrameRecorder recorder(2);
    recorder.Attach(emu);
    ASSERT_EQ(emu.Start(), 1);

    std::size_t seen = 0;
    const std::uint64_t whole = fs::file_size(file);
    // In the file header, in the information header, in the colour table, in the last row.
    for (std::uintmax_t length : {std::uintmax_t(6), std::uintmax_t(30), std::uintmax_t(300), whole - 1}) {
        SCOPED_TRACE(length);
        ASSERT_TRUE(WaitForFrame(recorder, seen, [](const Delivery& d) { return IsFlat(d, 50); }));
        fs::resize_file(file, length);
        ASSERT_TRUE(WaitForFrame(recorder, seen, IsFill));
        Flat(file, 32, 16, 50);
    }
    ASSERT_EQ(emu.Stop(), 1);

    // A truncated file already there when the folder is read is left out
    // or played as the fill pattern; the good file still plays.
    Flat(images_ + "/b.bmp", 32, 16, 60);
    fs::resize_file(images_ + "/b.bmp", 100);
    std::string folder = images_;
    ASSERT_EQ(emu.EmulateFromNewImagePath(&folder[0], 32, 16), 1);
    ASSERT_EQ(emu.Start(), 1);
    ASSERT_TRUE(WaitForFrame(recorder, seen, [](const Delivery& d) { return IsFlat(d, 50); }));
    ASSERT_TRUE(recorder.WaitFrames(seen + 4));
    ASSERT_EQ(emu.Stop(), 1);
    ExpectOnlyFilesOrFill(recorder.Frames(), {50});
    ExpectBalanced(emu, recorder.Frames().size());
}

TEST_F(EmuFaults, StorageThatFailsEveryWriteAndReadLeavesAcquisitionAndSettingsAlone) {
    Flat(images_ + "/a.bmp", 32, 16, 10);
    CIGrabEmu emu(IGEMU_FILE_STORE_FILES);
    Open(emu, images_, 32, 16, 8, 4);
    IFW_GPO_CONFIG gpo{1, 2, 3, IFW_GPO_DRIVER(0), 0};
    emu.SetGPOConfig(5, &gpo);
    FrameRecorder recorder(2);
    recorder.Attach(emu);
    ASSERT_EQ(emu.Start(), 1);

    MemoryStorage store;
    store.Break();
    for (std::size_t round = 1; round <= 3; ++round) {
        EXPECT_EQ(emu.SaveStorage(&store), 1);
        EXPECT_EQ(store.CallCount("Set"), round);  // writing stops at the first failure
        EXPECT_EQ(emu.LoadStorage(&store), 1);
    }
    EXPECT_GT(store.CallCount("Get"), 0u);
    IFW_GPO_CONFIG after{};
    emu.GetGPOConfig(5, &after);
    EXPECT_EQ(after.Offset, 2u);
    EXPECT_EQ(after.Duration, 3u);

    const std::size_t before = recorder.Frames().size();
    ASSERT_TRUE(recorder.WaitFrames(before + 3));
    ASSERT_EQ(emu.Stop(), 1);
    ExpectBalanced(emu, recorder.Frames().size());
}

// The client's callback stays inside while another thread stops,
// terminates or deletes the grab.
struct BlockingClient {
    std::atomic<int> entered{0};
    std::atomic<int> returned{0};
    std::atomic<bool> actionIssued{false};

    static int OnFrame(unsigned char*, unsigned, std::int64_t, void* self) {
        auto* me = static_cast<BlockingClient*>(self);
        if (me->entered++ == 0) {
            WaitUntil([me] { return me->actionIssued.load(); });
            // Stay a little longer, so that the action meets a running
            // callback rather than one already on its way out.
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
            WaitUntil([until] { return std::chrono::steady_clock::now() >= until; });
        }
        ++me->returned;
        return 1;
    }
};

enum class Action { Stop, Terminate, Delete };

class ActionDuringCallback : public kiru_test::EmuSandbox, public ::testing::WithParamInterface<Action> {};

TEST_P(ActionDuringCallback, WaitsForTheCallbackAndNoCallbackFollows) {
    Flat(images_ + "/a.bmp", 32, 16, 10);
    char keyword[] = "EMULATOR";
    IXGrab* grab = KiruGrabInstantiate(keyword);
    ASSERT_NE(grab, nullptr);
    auto* emu = dynamic_cast<CIGrabEmu*>(grab);
    ASSERT_NE(emu, nullptr);
    Open(*emu, images_, 32, 16, 8, 4);
    BlockingClient client;
    grab->RegisterBufferCallback(&BlockingClient::OnFrame, &client);
    ASSERT_EQ(grab->Start(), 1);
    ASSERT_TRUE(WaitUntil([&] { return client.entered.load() > 0; }));

    int result = -1;
    int returnedWhenDone = -1;
    KiruFrameCounts counts{};
    std::thread other([&] {
        client.actionIssued = true;
        switch (GetParam()) {
            case Action::Stop: result = grab->Stop(); break;
            case Action::Terminate: result = grab->Terminate(); break;
            case Action::Delete: result = KiruGrabDelete(grab); break;
        }
        returnedWhenDone = client.returned.load();
        if (GetParam() != Action::Delete) counts = ExpectCountsAddUp(*emu);
    });
    other.join();

    EXPECT_EQ(result, 1);
    // The action returned only after the callback did, and none ran since.
    EXPECT_GE(returnedWhenDone, 1);
    EXPECT_EQ(client.entered.load(), client.returned.load());
    EXPECT_EQ(client.returned.load(), returnedWhenDone);
    if (GetParam() != Action::Delete) {
        EXPECT_EQ(counts.delivered, std::uint64_t(client.entered.load()));
        EXPECT_EQ(KiruGrabDelete(grab), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(FromAnotherThread, ActionDuringCallback,
                         ::testing::Values(Action::Stop, Action::Terminate, Action::Delete),
                         [](const ::testing::TestParamInfo<Action>& param) {
                             switch (param.param) {
                                 case Action::Stop: return "Stop";
                                 case Action::Terminate: return "Terminate";
                                 default: return "KiruGrabDelete";
                             }
                         });
