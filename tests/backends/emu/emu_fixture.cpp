#include "emu_fixture.h"

#include <filesystem>

#include "support/bmp_writer.h"

namespace fs = std::filesystem;

namespace kiru_test {

void EmuSandbox::SetUp() {
    root_ = sandbox_.Create("kiru-emu");
    ASSERT_FALSE(root_.empty());
    userData_ = root_ + "/user-data";
    images_ = root_ + "/images";
    MakeDirs(userData_ + "/Norvale Optics");
    MakeDirs(images_);
    MakeDirs(root_ + "/work");
    ASSERT_TRUE(sandbox_.Enter(userData_, root_ + "/shared-data", root_ + "/work"));
}

void EmuSandbox::TearDown() { EXPECT_TRUE(sandbox_.Leave()); }

void EmuSandbox::MakeDirs(const std::string& path) { fs::create_directories(path); }

void EmuSandbox::Flat(const std::string& path, int width, int height, std::uint8_t value) {
    ASSERT_TRUE(WriteFlatBmp(path, width, height, value)) << path;
}

void FrameRecorder::Attach(IXGrab& grab) {
    grab.RegisterBufferCallback(&FrameRecorder::OnFrame, this);
    grab.RegisterTrashCallback(&FrameRecorder::OnTrash, this);
    grab.RegisterAcqThreadExitCallback(&FrameRecorder::OnExit, this);
}

void FrameRecorder::AttachEx(IXGrab& grab) {
    grab.RegisterBufferCallbackEx(&FrameRecorder::OnFrameEx, this);
    grab.RegisterTrashCallback(&FrameRecorder::OnTrash, this);
    grab.RegisterAcqThreadExitCallback(&FrameRecorder::OnExit, this);
}

void FrameRecorder::Hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = true;
}

void FrameRecorder::ReleaseHold() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hold_ = false;
    }
    changed_.notify_all();
}

int FrameRecorder::OnFrame(unsigned char* image, unsigned frame, std::int64_t stamp, void* self) {
    static_cast<FrameRecorder*>(self)->Record(static_cast<FrameRecorder*>(self)->frames_, image, frame, stamp, 0,
                                              true);
    return 1;
}

int FrameRecorder::OnFrameEx(IFW_GRAB_BUF_DESC* desc, unsigned frame, std::int64_t stamp, void* self) {
    EXPECT_EQ(desc->reserved, 0u);
    static_cast<FrameRecorder*>(self)->Record(static_cast<FrameRecorder*>(self)->frames_, desc->image, frame, stamp,
                                              desc->camera, true);
    return 1;
}

int FrameRecorder::OnTrash(unsigned char* image, unsigned frame, std::int64_t stamp, void* self) {
    static_cast<FrameRecorder*>(self)->Record(static_cast<FrameRecorder*>(self)->trash_, image, frame, stamp, 0,
                                              false);
    return 1;
}

int FrameRecorder::OnExit(void* self) {
    auto* recorder = static_cast<FrameRecorder*>(self);
    std::lock_guard<std::mutex> lock(recorder->mutex_);
    ++recorder->exits_;
    recorder->changed_.notify_all();
    return 1;
}

void FrameRecorder::Record(std::vector<Delivery>& into, const unsigned char* image, unsigned frame,
                           std::int64_t stamp, ULONG camera, bool holdable) {
    Delivery d{image, frame, stamp, {}, camera};
    if (image != nullptr && copyBytes_ > 0) d.firstBytes.assign(image, image + copyBytes_);
    std::unique_lock<std::mutex> lock(mutex_);
    into.push_back(std::move(d));
    changed_.notify_all();
    // A held client keeps the buffer until the test lets go.
    if (holdable) changed_.wait_for(lock, kLongWait, [this] { return !hold_; });
}

bool FrameRecorder::WaitFor(const std::vector<Delivery>& list, std::size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return list.size() >= count; });
}

bool FrameRecorder::WaitFrames(std::size_t count, std::chrono::milliseconds limit) {
    return WaitFor(frames_, count, limit);
}
bool FrameRecorder::WaitTrash(std::size_t count) { return WaitFor(trash_, count, kLongWait); }

bool FrameRecorder::WaitExits(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kLongWait, [&] { return exits_ >= count; });
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
