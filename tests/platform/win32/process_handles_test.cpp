// Every handle the library opens is closed again: the process's handle count
// after whole Initialize-Create-Start-Stop-Terminate cycles on the emulator
// is what it was before them.
#include <gtest/gtest.h>
#include <kiru/kiru.h>

#include <atomic>
#include <string>

#include "support/poll.h"

namespace {

int CountFrame(unsigned char*, unsigned int, std::int64_t, void* context) {
    ++*static_cast<std::atomic<int>*>(context);
    return 0;
}

DWORD ProcessHandles() {
    DWORD count = 0;
    EXPECT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &count));
    return count;
}

// One cycle on the bundled sample images; false at the first step that fails.
bool Cycle() {
    char keyword[16] = "EMU";
    IXGrab* grab = KiruGrabInstantiate(keyword);
    if (grab == nullptr) return false;
    std::atomic<int> frames{0};
    std::string images = KIRU_SOURCE_DIR "/samples/images";
    constexpr ULONG kKeep = 0xFFFFFFFEu;
    bool ok = grab->Initialize() != 0;
    ok = ok && grab->EmulateFromNewImagePath(images.data(), kKeep, kKeep) != 0;
    ok = ok && grab->Create(0, 0, kKeep, kKeep, kKeep, 4, kKeep) != 0;
    grab->RegisterBufferCallback(&CountFrame, &frames);
    ok = ok && grab->Start() != 0;
    ok = ok && kiru_test::WaitUntil([&] { return frames.load() >= 3; });
    ok = grab->Stop() != 0 && ok;
    ok = grab->Terminate() != 0 && ok;
    KiruGrabDelete(grab);
    return ok;
}

}  // namespace

TEST(ProcessHandles, AFullCycleClosesEveryHandleItOpened) {
    // The first cycle may open what stays for the life of the process (the
    // loader's and the runtime's own handles, the clock): counted from after it.
    ASSERT_TRUE(Cycle());
    const DWORD before = ProcessHandles();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(Cycle()) << "cycle " << i;
    EXPECT_EQ(ProcessHandles(), before);
}
