// Shared pieces of the emulator tests: a sandbox whose application-data
// folders and current directory point into a fresh temporary folder, and a
// recorder of frame and trash callbacks that tests wait on.
#pragma once

#include <gtest/gtest.h>
#include <kiru/kiru.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "support/env_sandbox.h"

namespace kiru_test {

constexpr ULONG kKeepValue = 0xFFFFFFFEu;
// Generous limit for anything a test waits for.
constexpr std::chrono::seconds kLongWait{20};

class EmuSandbox : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The per-user application-data folder plus "/Norvale Optics/" exists, so
    // the default image folder is <user data>/Norvale Optics//images.
    std::string DefaultImageFolder() const { return userData_ + "/Norvale Optics//images"; }

    static void MakeDirs(const std::string& path);
    // An 8-bit grey file whose every pixel is value.
    static void Flat(const std::string& path, int width, int height, std::uint8_t value);

    std::string root_;      // the sandbox
    std::string userData_;  // $XDG_DATA_HOME
    std::string images_;    // a folder for the test's images (root_/images)

private:
    EnvSandbox sandbox_;
};

// One delivered frame or trash report.
struct Delivery {
    const unsigned char* image;
    unsigned frame;
    std::int64_t stamp;
    std::vector<std::uint8_t> firstBytes;  // copied while the callback ran
    ULONG camera;                          // buffer-ex deliveries only
};

// Records the callbacks of one grab object. Register it, then wait for
// counts. Copies up to copyBytes of each frame while the callback runs.
class FrameRecorder {
public:
    explicit FrameRecorder(std::size_t copyBytes = 0) : copyBytes_(copyBytes) {}

    void Attach(IXGrab& grab);
    void AttachEx(IXGrab& grab);

    // Blocks deliveries of frame buffers while held (the client holding a buffer).
    void Hold();
    void ReleaseHold();

    bool WaitFrames(std::size_t count, std::chrono::milliseconds limit = kLongWait);
    bool WaitTrash(std::size_t count);
    bool WaitExits(std::size_t count);
    std::vector<Delivery> Frames();
    std::vector<Delivery> Trash();
    std::size_t ExitCount();

private:
    static int OnFrame(unsigned char* image, unsigned frame, std::int64_t stamp, void* self);
    static int OnFrameEx(IFW_GRAB_BUF_DESC* desc, unsigned frame, std::int64_t stamp, void* self);
    static int OnTrash(unsigned char* image, unsigned frame, std::int64_t stamp, void* self);
    static int OnExit(void* self);
    void Record(std::vector<Delivery>& into, const unsigned char* image, unsigned frame, std::int64_t stamp,
                ULONG camera, bool holdable);
    bool WaitFor(const std::vector<Delivery>& list, std::size_t count, std::chrono::milliseconds limit);

    std::size_t copyBytes_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool hold_ = false;
    std::vector<Delivery> frames_;
    std::vector<Delivery> trash_;
    std::size_t exits_ = 0;
};

}  // namespace kiru_test
