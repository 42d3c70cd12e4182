// Shared pieces of the emulator tests: the application-data sandbox with an
// image folder and the maker's folder made, and a recorder of frame and trash
// callbacks that tests wait on.
#pragma once

#include <gtest/gtest.h>
#include <kiru/kiru.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "support/os_fixture.h"
#include "support/poll.h"

namespace kiru_test {

class EmuSandbox : public OsSandbox {
protected:
    void SetUp() override;

    // The per-user application-data folder plus "/Norvale Optics/" exists, so
    // the default image folder is <user data>/Norvale Optics//images.
    std::string DefaultImageFolder() const { return localRoot_ + "/Norvale Optics//images"; }

    // An 8-bit grey file whose every pixel is value.
    static void Flat(const std::string& path, int width, int height, std::uint8_t value);
    // An emulator initialized on `folder` and created with the given size.
    static void Open(CIGrabEmu& emu, const std::string& folder, ULONG width, ULONG height, ULONG bits = 8,
                     ULONG buffers = 5, ULONG offsetX = 0, ULONG offsetY = 0);

    std::string images_;  // a folder for the test's images (root_/images)
};

// One delivered frame or trash report.
struct Delivery {
    const unsigned char* image;
    unsigned frame;
    std::int64_t stamp;
    std::vector<std::uint8_t> firstBytes;  // copied while the callback ran
    ULONG camera;                          // buffer-ex deliveries only
};

// Records the callbacks of one grab object. Attach it, then wait for
// counts. Copies up to copyBytes of each frame while the callback runs.
class FrameRecorder {
public:
    explicit FrameRecorder(std::size_t copyBytes = 0) : copyBytes_(copyBytes) {}

    // Registers the buffer (or buffer-ex), trash and thread-exit callbacks.
    void Attach(IXGrab& grab, bool ex = false);
    // While held, frame callbacks do not return (the client holding a buffer).
    void Hold() { hold_ = true; }
    void ReleaseHold() { hold_ = false; }

    bool WaitFrames(std::size_t count, std::chrono::milliseconds limit = kGenerous) {
        return WaitUntil([&] { return Frames().size() >= count; }, limit);
    }
    bool WaitTrash(std::size_t count) {
        return WaitUntil([&] { return Trash().size() >= count; });
    }
    std::vector<Delivery> Frames();
    std::vector<Delivery> Trash();
    std::size_t ExitCount();

private:
    void Record(std::vector<Delivery>& into, const unsigned char* image, unsigned frame, std::int64_t stamp,
                ULONG camera, bool holdable);

    std::size_t copyBytes_;
    std::atomic<bool> hold_{false};
    std::mutex mutex_;
    std::vector<Delivery> frames_;
    std::vector<Delivery> trash_;
    std::size_t exits_ = 0;
};

}  // namespace kiru_test
