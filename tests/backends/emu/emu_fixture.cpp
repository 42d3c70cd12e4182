#include "emu_fixture.h"

#include "support/bmp_writer.h"

namespace kiru_test {

void EmuSandbox::SetUp() {
    OsSandbox::SetUp();
    images_ = NativePath(root_ + "/images");
    MakeDirs(localRoot_ + "/Norvale Optics");
    MakeDirs(images_);
}

void EmuSandbox::Flat(const std::string& path, int width, int height, std::uint8_t value) {
    ASSERT_TRUE(WriteFlatBmp(path, width, height, value)) << path;
}

void EmuSandbox::Open(CIGrabEmu& emu, const std::string& folder, ULONG width, ULONG height, ULONG bits,
                      ULONG buffers, ULONG offsetX, ULONG offsetY) {
    std::string path = folder;
    EXPECT_EQ(emu.EmulateFromNewImagePath(&path[0], 0, 0), 0);
    ASSERT_EQ(emu.Initialize(), 1);
    ASSERT_EQ(emu.Create(offsetX, offsetY, width, height, bits, buffers, 5000), 1) << emu.GetLastErrorMsg();
}

void FrameRecorder::Attach(IXGrab& grab, bool ex) {
    if (ex) {
        grab.RegisterBufferCallbackEx(
            [](IFW_GRAB_BUF_DESC* desc, unsigned frame, std::int64_t stamp, void* self) {
                EXPECT_EQ(desc->reserved, 0u);
                auto* r = static_cast<FrameRecorder*>(self);
                r->Record(r->frames_, desc->image, frame, stamp, desc->camera, true);
                return 1;
            },
            this);
    } else {
        grab.RegisterBufferCallback(
            [](unsigned char* image, unsigned frame, std::int64_t stamp, void* self) {
                auto* r = static_cast<FrameRecorder*>(self);
                r->Record(r->frames_, image, frame, stamp, 0, true);
                return 1;
            },
            this);
    }
    grab.RegisterTrashCallback(
        [](unsigned char* image, unsigned frame, std::int64_t stamp, void* self) {
            auto* r = static_cast<FrameRecorder*>(self);
            r->Record(r->trash_, image, frame, stamp, 0, false);
            return 1;
        },
        this);
    grab.RegisterAcqThreadExitCallback(
        [](void* self) {
            auto* r = static_cast<FrameRecorder*>(self);
            std::lock_guard<std::mutex> lock(r->mutex_);
            ++r->exits_;
            return 1;
        },
        this);
}

void FrameRecorder::Record(std::vector<Delivery>& into, const unsigned char* image, unsigned frame,
                           std::int64_t stamp, ULONG camera, bool holdable) {
    Delivery d{image, frame, stamp, {}, camera};
    if (image != nullptr && copyBytes_ > 0) d.firstBytes.assign(image, image + copyBytes_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        into.push_back(std::move(d));
    }
    // A held client keeps the buffer until the test lets go.
    if (holdable) WaitUntil([this] { return !hold_; });
}

std::vector<Delivery> FrameRecorder::Frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

std::vector<Delivery> FrameRecorder::Trash() {
    std::lock_guard<std::mutex> lock(mutex_);
    return trash_;
}

std::size_t FrameRecorder::ExitCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return exits_;
}

}  // namespace kiru_test
