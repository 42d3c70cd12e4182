// Frame delivery: ring order, lost frames, waits and their time-outs,
// GrabStop, triggers, synchronized starts, unreachable cameras and
// per-frame interrupt objects.
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "capture/orv.h"
#include "platform/kernel.h"
#include "station_fixture.h"
#include "support/bmp_writer.h"

using kiru::sim::Station;
using kiru::test::WaitUntil;

namespace {

constexpr ULONG kLongWaitMs = 20000;

// A camera with a small sensor, software-triggered unless the test says otherwise.
class GrabTest : public kiru::test::StationTest {
protected:
    void Open(const std::string& extra = "Param.9 = 1\nParam.10 = 0\n", ULONG buffers = 3) {
        Load("[GEV]\nWidth = 8\nHeight = 4\n" + extra);
        module.reset(OrxCreateCaptureModule("GEV", 0, nullptr));
        ASSERT_NE(module, nullptr);
        camera = module->GetCam(0);
        ring.assign(buffers, std::vector<unsigned char>(32, 0xEE));
        for (auto& b : ring) addresses.push_back(b.data());
    }
    HGRAB Start(ULONG flags = 1) {
        return camera->Grab(flags, addresses.data(), static_cast<ULONG>(addresses.size()), -1, 0, 0, 0, 0);
    }
    void Fire() { ASSERT_EQ(camera->SetAcqParam(13, 0.0, 0), 1); }
    ULONG Lost(HGRAB grab) {
        ORV_GRAB_STATS stats{};
        module->GetGrabStats(grab, &stats);
        return stats.FramesLost;
    }
    ORV_GRAB_STATS Stats(HGRAB grab) {
        ORV_GRAB_STATS stats{};
        module->GetGrabStats(grab, &stats);
        return stats;
    }

    std::unique_ptr<CICapMod> module;
    CICamera* camera = nullptr;
    std::vector<std::vector<unsigned char>> ring;
    std::vector<void*> addresses;
};

ULONG FrameNumberIn(const void* frame) {
    ULONG n;
    std::memcpy(&n, frame, 4);
    return n;
}

}  // namespace

TEST_F(GrabTest, SoftwareTriggeredFramesFillTheRingInOrder) {
    Open();
    HGRAB grab = Start();
    ASSERT_NE(grab, nullptr);
    EXPECT_EQ(Station::ActiveGrabs("GEV", 0, 0), 1u);
    double previousArrival = 0;
    for (int i = 0; i < 5; ++i) {
        Fire();
        void* address = nullptr;
        ULONG count = 0;
        GRAB_EXT_ATTR ext{};
        const int index = camera->GrabWaitFrame(grab, &address, -1, kLongWaitMs, 1, &count, nullptr, &ext);
        ASSERT_EQ(index, i % 3);
        EXPECT_EQ(address, addresses[i % 3]);
        EXPECT_EQ(count, 1u);
        // The frame number is in the record (the 32-bit field at byte 24) and in the pattern.
        ULONG atByte24;
        std::memcpy(&atByte24, reinterpret_cast<const unsigned char*>(&ext) + 24, 4);
        EXPECT_EQ(atByte24, static_cast<ULONG>(i + 1));
        EXPECT_EQ(FrameNumberIn(address), static_cast<ULONG>(i + 1));
        EXPECT_GT(ext.ArrivalTime, previousArrival);
        previousArrival = ext.ArrivalTime;
        double frameTime = 0;
        ASSERT_EQ(camera->GetAcqParam(80, &frameTime, index), 1);
        EXPECT_EQ(frameTime, ext.ArrivalTime);
        EXPECT_EQ(camera->GrabRelease(grab, index), 1);
        EXPECT_EQ(camera->GrabRelease(grab, index), 0);  // not locked any more
    }
    // The pattern: byte i of row r is (i + r + frame number) mod 256 past the first four bytes.
    EXPECT_EQ(ring[1][5], static_cast<unsigned char>(5 + 0 + 5));
    EXPECT_EQ(ring[1][8 + 3], static_cast<unsigned char>(3 + 1 + 5));
    EXPECT_EQ(camera->GrabStop(grab), 1);
    EXPECT_EQ(Station::ActiveGrabs("GEV", 0, 0), 0u);
}

TEST_F(GrabTest, AFrameThatFindsEveryBufferHeldIsLostAndCounted) {
    Open("Param.9 = 1\nParam.10 = 0\n", 2);
    HGRAB grab = Start();
    ASSERT_NE(grab, nullptr);
    void* address;
    GRAB_EXT_ATTR ext{};
    Fire();
    ASSERT_EQ(camera->GrabWaitFrame(grab, &address, -1, kLongWaitMs, 1, nullptr, nullptr, &ext), 0);
    Fire();  // filled and not yet taken: still held
    ASSERT_TRUE(WaitUntil([&] { return Stats(grab).FramesWaiting == 1; }));
    Fire();
    ASSERT_TRUE(WaitUntil([&] { return Lost(grab) == 1; }));
    ASSERT_EQ(camera->GrabWaitFrame(grab, &address, -1, kLongWaitMs, 1, nullptr, nullptr, &ext), 1);
    EXPECT_EQ(ext.FrameNumber, 2u);
    EXPECT_EQ(Stats(grab).BuffersLocked, 2u);

    // Releasing every buffer lets the next frame in; the lost one kept its number.
    EXPECT_EQ(camera->GrabRelease(grab, -1), 1);
    Fire();
    ASSERT_EQ(camera->GrabWaitFrame(grab, &address, -1, kLongWaitMs, 1, nullptr, nullptr, &ext), 0);
    EXPECT_EQ(ext.FrameNumber, 4u);
    EXPECT_EQ(ext.LostFrames, 1u);
    const ORV_GRAB_STATS stats = Stats(grab);
    EXPECT_EQ(stats.FramesAcquired, 3u);
    EXPECT_EQ(stats.FramesLost, 1u);
    camera->GrabStop(grab);
    ORV_GRAB_STATS after{};
    EXPECT_EQ(module->GetGrabStats(grab, &after), 0);
}

TEST_F(GrabTest, WaitsTimeOutAndGrabStopWakesAWaiter) {
    Open();
    HGRAB grab = Start();
    void* address = nullptr;
    EXPECT_EQ(camera->GrabWaitFrame(grab, &address, -1, 0, 1, nullptr, nullptr, nullptr), -1);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(camera->GrabWaitFrame(grab, &address, -1, 30, 1, nullptr, nullptr, nullptr), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(30));

    int result = 0;
    std::thread waiter(
        [&] { result = camera->GrabWaitFrame(grab, &address, -1, INFINITE, 1, nullptr, nullptr, nullptr); });
    ASSERT_EQ(camera->GrabStop(grab), 1);
    waiter.join();
    EXPECT_EQ(result, -2);
    // The grab is over: waits fail at once and triggers deliver nothing.
    EXPECT_EQ(camera->GrabWaitFrame(grab, &address, -1, INFINITE, 1, nullptr, nullptr, nullptr), -2);
    EXPECT_EQ(camera->GrabStop(grab), 0);
    Fire();
    EXPECT_EQ(std::vector<unsigned char>(32, 0xEE), ring[0]);
    const std::vector<std::string> trace = Station::Trace();
    EXPECT_EQ(trace.front(), "GEV:0/0 Grab 1 3 -1");
    EXPECT_EQ(trace[1], "GEV:0/0 GrabStop");
}

TEST_F(GrabTest, HardwareTriggersAndTriggerModes) {
    Open("Param.9 = 1\nParam.10 = 2\n");
    HGRAB grab = Start();
    GRAB_EXT_ATTR ext{};
    void* address;
    Fire();  // the camera waits for its trigger line, not for software
    ASSERT_TRUE(Station::HardwareTrigger("GEV", 0, 0));
    ASSERT_EQ(camera->GrabWaitFrame(grab, &address, -1, kLongWaitMs, 1, nullptr, nullptr, &ext), 0);
    EXPECT_EQ(ext.FrameNumber, 1u);

    // A rising bit 0 of register 57 is a manual trigger.
    camera->WriteReg(57, 0x40);
    camera->WriteReg(57, 0x41);
    camera->WriteReg(57, 0x40);
    ASSERT_EQ(camera->GrabWaitFrame(grab, &address, -1, kLongWaitMs, 1, nullptr, nullptr, &ext), 1);
    EXPECT_EQ(ext.FrameNumber, 2u);

    // Switching to software trigger: hardware pulses are ignored, parameter 13 fires.
    camera->SetAcqParam(10, 0.0, 0);
    EXPECT_FALSE(Station::HardwareTrigger("GEV", 0, 0));
    Fire();
    ASSERT_EQ(camera->GrabWaitFrame(grab, &address, -1, kLongWaitMs, 1, nullptr, nullptr, &ext), 2);
    EXPECT_EQ(ext.FrameNumber, 3u);
    camera->GrabStop(grab);
}

TEST_F(GrabTest, FreeRunningCamerasDeliverOnTheirOwnClock) {
    Open("FrameRate = 500\n", 4);
    HGRAB grab = Start();
    std::vector<double> arrivals;
    for (int i = 0; i < 6; ++i) {
        GRAB_EXT_ATTR ext{};
        void* address;
        const int index = camera->GrabWaitFrame(grab, &address, -1, kLongWaitMs, 1, nullptr, nullptr, &ext);
        ASSERT_GE(index, 0);
        arrivals.push_back(ext.ArrivalTime);
        camera->GrabRelease(grab, index);
    }
    for (std::size_t i = 1; i < arrivals.size(); ++i) EXPECT_GT(arrivals[i], arrivals[i - 1]);
    // Parameter 9 = 1 with source 0 stops the clock: frames then come only on triggers.
    camera->SetAcqParam(10, 0.0, 0);
    camera->SetAcqParam(9, 1.0, 0);
    void* address;
    while (camera->GrabWaitFrame(grab, &address, -1, 0, 0, nullptr, nullptr, nullptr) >= 0) {
    }
    const ULONG acquired = Stats(grab).FramesAcquired;
    Fire();
    ASSERT_TRUE(WaitUntil([&] { return Stats(grab).FramesAcquired == acquired + 1; }));
    camera->GrabStop(grab);
}

TEST_F(GrabTest, ASynchronizedGrabWaitsForTheStartRegister) {
    Open("FrameRate = 1000\n");
    HGRAB grab = Start(0x81);
    void* address;
    EXPECT_EQ(camera->GrabWaitFrame(grab, &address, -1, 30, 1, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(Stats(grab).FramesAcquired, 0u);
    camera->WriteReg(ORV_REG_SYNC_START, 1);
    EXPECT_EQ(camera->GrabWaitFrame(grab, &address, -1, kLongWaitMs, 1, nullptr, nullptr, nullptr), 0);
    camera->GrabStop(nullptr);  // null: every grab of the camera
    EXPECT_EQ(Station::ActiveGrabs("GEV", 0, 0), 0u);
}

TEST_F(GrabTest, UnreachableCamerasDeliverNothingUntilTheyAreBack) {
    Open("Param.9 = 1\nParam.10 = 2\n");
    HGRAB grab = Start();
    ASSERT_TRUE(Station::SetReachable("GEV", 0, 0, false));
    EXPECT_FALSE(Station::HardwareTrigger("GEV", 0, 0));
    EXPECT_EQ(Stats(grab).FramesAcquired, 0u);
    ASSERT_TRUE(Station::SetReachable("GEV", 0, 0, true));
    ASSERT_TRUE(Station::HardwareTrigger("GEV", 0, 0));
    void* address;
    EXPECT_EQ(camera->GrabWaitFrame(grab, &address, -1, kLongWaitMs, 1, nullptr, nullptr, nullptr), 0);

    // An unreachable camera cannot start a grab.
    Station::SetReachable("GEV", 0, 0, false);
    EXPECT_EQ(Start(), nullptr);
    Station::SetReachable("GEV", 0, 0, true);
    EXPECT_EQ(camera->Grab(1, addresses.data(), 0, -1), nullptr);
    camera->GrabStop(grab);
}

TEST_F(GrabTest, InterruptObjectsAreSignalledPerFrame) {
    Open();
    std::unique_ptr<CInterrupt> frames(camera->CreateInterruptObject(ORV_EVENT_FRAME, 1));
    ASSERT_NE(frames, nullptr);
    EXPECT_EQ(WaitForSingleObject(frames->EventHandle(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    HGRAB grab = Start();
    Fire();
    EXPECT_EQ(WaitForSingleObject(frames->EventHandle(), kLongWaitMs), static_cast<DWORD>(WAIT_OBJECT_0));
    // Events of the module signal interrupt objects of the same number.
    std::unique_ptr<CInterrupt> other(camera->CreateInterruptObject(5, 1));
    ASSERT_TRUE(Station::FireEvent("GEV", 0, 5));
    EXPECT_EQ(WaitForSingleObject(other->EventHandle(), kLongWaitMs), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(frames->EventHandle(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    camera->GrabStop(grab);
}

TEST_F(GrabTest, GrabStatisticsAreFoundThroughAnyModule) {
    Load("[GEV:0]\n[GEV:1]\nWidth = 8\nHeight = 4\nParam.9 = 1\nParam.10 = 2\n");
    std::unique_ptr<CICapMod> first(OrxCreateCaptureModule("GEV", 0, nullptr));
    std::unique_ptr<CICapMod> second(OrxCreateCaptureModule("GEV", 1, nullptr));
    std::vector<unsigned char> buffer(32);
    void* address = buffer.data();
    HGRAB grab = second->GetCam(0)->Grab(1, &address, 1, -1);
    ASSERT_NE(grab, nullptr);
    Station::HardwareTrigger("GEV", 1, 0);
    Station::HardwareTrigger("GEV", 1, 0);
    ORV_GRAB_STATS stats{};
    ASSERT_TRUE(WaitUntil([&] { return first->GetGrabStats(grab, &stats) == 1 && stats.FramesLost == 1; }));
    EXPECT_EQ(stats.FramesAcquired, 1u);
    second->GetCam(0)->GrabStop(grab);
    EXPECT_EQ(first->GetGrabStats(grab, &stats), 0);
}

TEST_F(GrabTest, GrabsStartAndStopFromTwoThreadsAtOnce) {
    Open("FrameRate = 2000\n");
    std::atomic<bool> running{true};
    std::thread acquisition([&] {
        for (int i = 0; i < 200; ++i) {
            HGRAB grab = Start();
            if (!grab) continue;
            void* address;
            const int index = camera->GrabWaitFrame(grab, &address, -1, 1, 1, nullptr, nullptr, nullptr);
            if (index >= 0) camera->GrabRelease(grab, index);
            camera->GrabStop(grab);
        }
        running = false;
    });
    while (running) camera->GrabStop(nullptr);  // a client stopping everything meanwhile
    acquisition.join();
    EXPECT_EQ(Station::ActiveGrabs("GEV", 0, 0), 0u);
}

TEST_F(GrabTest, DeletingTheModuleEndsItsGrabs) {
    Open("FrameRate = 1000\n");
    ASSERT_NE(Start(), nullptr);
    module.reset();
    EXPECT_EQ(Station::ActiveGrabs("GEV", 0, 0), 0u);
}

TEST_F(GrabTest, CamerasCanShowABitmapFile) {
    const std::string path = ::testing::TempDir() + "station_frame.bmp";
    kiru_test::BmpSpec spec;
    spec.width = 3;
    spec.height = 2;
    spec.bits = 24;
    ASSERT_TRUE(kiru_test::WriteBmp(path, spec, [](int x, int y) { return 0x102030u * (1 + x + 3 * y); }));
    Load("[GEV]\nWidth = 4\nHeight = 2\nBytesPerPixel = 4\nBitsPerPixel = 32\nColorFormat = 4\nImage = " + path +
         "\nParam.9 = 1\nParam.10 = 0\n");
    std::unique_ptr<CICapMod> gev(OrxCreateCaptureModule("GEV", 0, nullptr));
    CICamera* cam = gev->GetCam(0);
    std::vector<unsigned char> frame(4 * 2 * 4, 0xEE);
    void* address = frame.data();
    HGRAB grab = cam->Grab(1, &address, 1, -1);
    cam->SetAcqParam(13, 0.0, 0);
    ASSERT_EQ(cam->GrabWaitFrame(grab, &address, -1, kLongWaitMs, 1, nullptr, nullptr, nullptr), 0);
    // Pixel (x, y) is blue, green, red, 0 of the file's pixel (x mod 3, y); the file repeats.
    auto expect = [&](int x, int y, unsigned colour) {
        const unsigned char* p = &frame[(y * 4 + x) * 4];
        EXPECT_EQ(p[0], colour & 0xFF) << x << "," << y;
        EXPECT_EQ(p[1], (colour >> 8) & 0xFF) << x << "," << y;
        EXPECT_EQ(p[2], (colour >> 16) & 0xFF) << x << "," << y;
        EXPECT_EQ(p[3], 0) << x << "," << y;
    };
    expect(0, 0, 0x102030u);
    expect(2, 0, 0x102030u * 3);
    expect(3, 0, 0x102030u);
    expect(1, 1, 0x102030u * 5);
    cam->GrabStop(grab);
}

TEST_F(GrabTest, TheWindowSetsTheFrameSize) {
    Open();
    ASSERT_EQ(camera->SetAoi(2, 1, 4, 2), 1);
    HGRAB grab = Start();
    // A running grab keeps its frame size.
    EXPECT_EQ(camera->SetAoi(0, 0, 8, 4), 0);
    EXPECT_EQ(camera->SetAoi(0, 0, 4, 2), 1);
    Fire();
    void* address;
    GRAB_EXT_ATTR ext{};
    ASSERT_EQ(camera->GrabWaitFrame(grab, &address, -1, kLongWaitMs, 1, nullptr, nullptr, &ext), 0);
    EXPECT_EQ(ext.Width, 4u);
    EXPECT_EQ(ext.Height, 2u);
    EXPECT_EQ(ring[0][8], 0xEE);  // 4 x 2 bytes written, no more
    EXPECT_NE(ring[0][7], 0xEE);
    camera->GrabStop(grab);
}
