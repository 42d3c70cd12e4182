// Frame delivery: ring order and the frame record, lost frames and their
// statistics, triggers, unreachable cameras, and grabs started and stopped
// from two threads.
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "platform/kernel.h"
#include "station_fixture.h"

using kiru::sim::Station;
using kiru::test::WaitUntil;

namespace {

constexpr ULONG kLongWaitMs = 20000;

// A camera with an 8 x 4 sensor, software-triggered unless the test says otherwise.
class GrabTest : public kiru::test::CameraStationTest {
protected:
    void OpenCamera(const std::string& extra = "Param.9 = 1\nParam.10 = 0\n", ULONG buffers = 3) {
        CameraStationTest::OpenCamera("[GEV]\nWidth = 8\nHeight = 4\n" + extra);
        ring.assign(buffers, std::vector<unsigned char>(32, 0xEE));
        for (auto& b : ring) addresses.push_back(b.data());
    }
    HGRAB Start(ULONG flags = 1) {
        return camera->Grab(flags, addresses.data(), static_cast<ULONG>(addresses.size()), -1, 0, 0, 0, 0);
    }
    void Fire() { ASSERT_EQ(camera->SetAcqParam(13, 0.0, 0), 1); }
    // The next frame's buffer index (or the wait's failure), with its record in ext.
    int Next(HGRAB grab, DWORD timeoutMs = kLongWaitMs) {
        void* address = nullptr;
        ext = GRAB_EXT_ATTR{};
        const int index = camera->GrabWaitFrame(grab, &address, -1, timeoutMs, 1, nullptr, nullptr, &ext);
        if (index >= 0) {
            EXPECT_EQ(address, addresses[index]);
        }
        return index;
    }
    ORV_GRAB_STATS Stats(HGRAB grab) {
        ORV_GRAB_STATS stats{};
        module->GetGrabStats(grab, &stats);
        return stats;
    }

    std::vector<std::vector<unsigned char>> ring;
    std::vector<void*> addresses;
    GRAB_EXT_ATTR ext{};
};

}  // namespace

TEST_F(GrabTest, SoftwareTriggeredFramesFillTheRingInOrder) {
    OpenCamera();
    ASSERT_EQ(camera->SetAoi(2, 1, 4, 2), 1);  // the window sets the frame size
    HGRAB grab = Start();
    ASSERT_NE(grab, nullptr);
    EXPECT_EQ(Station::ActiveGrabs("GEV", 0, 0), 1u);
    // A running grab keeps its frame size.
    EXPECT_EQ(camera->SetAoi(0, 0, 8, 4), 0);
    EXPECT_EQ(camera->SetAoi(0, 0, 4, 2), 1);
    double previousArrival = 0;
    for (int i = 0; i < 5; ++i) {
        Fire();
        void* address = nullptr;
        ULONG count = 0;
        const int index = camera->GrabWaitFrame(grab, &address, -1, kLongWaitMs, 1, &count, nullptr, &ext);
        ASSERT_EQ(index, i % 3);
        EXPECT_EQ(address, addresses[i % 3]);
        EXPECT_EQ(count, 1u);
        // The frame number is in the record (the 32-bit field at byte 24) and in the pattern.
        ULONG atByte24, inPattern;
        std::memcpy(&atByte24, reinterpret_cast<const unsigned char*>(&ext) + 24, 4);
        std::memcpy(&inPattern, address, 4);
        EXPECT_EQ(atByte24, static_cast<ULONG>(i + 1));
        EXPECT_EQ(inPattern, static_cast<ULONG>(i + 1));
        EXPECT_EQ(std::make_pair(ext.Width, ext.Height), std::make_pair(ULONG{4}, ULONG{2}));
        EXPECT_GT(ext.ArrivalTime, previousArrival);
        previousArrival = ext.ArrivalTime;
        double frameTime = 0;
        ASSERT_EQ(camera->GetAcqParam(80, &frameTime, index), 1);
        EXPECT_EQ(frameTime, ext.ArrivalTime);
        EXPECT_EQ(camera->GrabRelease(grab, index), 1);
        EXPECT_EQ(camera->GrabRelease(grab, index), 0);  // not locked any more
    }
    // The pattern: byte i of row r is (i + r + frame number) mod 256 past
    // the first four bytes; 4 x 2 bytes written, no more.
    EXPECT_EQ(ring[1][4 + 1], static_cast<unsigned char>(1 + 1 + 5));
    EXPECT_EQ(ring[1][4 + 3], static_cast<unsigned char>(3 + 1 + 5));
    EXPECT_EQ(ring[1][8], 0xEE);
    EXPECT_EQ(camera->GrabStop(grab), 1);
    EXPECT_EQ(Station::ActiveGrabs("GEV", 0, 0), 0u);
}

// A frame that finds every buffer held is lost and counted; the statistics
// are found through any module, and are gone with their grab.
TEST_F(GrabTest, AFrameThatFindsEveryBufferHeldIsLostAndCounted) {
    OpenCamera("Param.9 = 1\nParam.10 = 0\n[GEV:1]\n", 2);
    CICapMod* other = Open("GEV", 1);  // another camera's module
    HGRAB grab = Start();
    ASSERT_NE(grab, nullptr);
    Fire();
    ASSERT_EQ(Next(grab), 0);
    Fire();  // filled and not yet taken: still held
    ASSERT_TRUE(WaitUntil([&] { return Stats(grab).FramesWaiting == 1; }));
    Fire();
    ASSERT_TRUE(WaitUntil([&] { return Stats(grab).FramesLost == 1; }));
    ASSERT_EQ(Next(grab), 1);
    EXPECT_EQ(ext.FrameNumber, 2u);
    EXPECT_EQ(Stats(grab).BuffersLocked, 2u);
    // Releasing every buffer lets the next frame in; the lost one kept its number.
    EXPECT_EQ(camera->GrabRelease(grab, -1), 1);
    Fire();
    ASSERT_EQ(Next(grab), 0);
    EXPECT_EQ(std::make_pair(ext.FrameNumber, ext.LostFrames), std::make_pair(ULONG{4}, ULONG{1}));
    ORV_GRAB_STATS stats{};
    ASSERT_EQ(other->GetGrabStats(grab, &stats), 1);
    EXPECT_EQ(std::make_pair(stats.FramesAcquired, stats.FramesLost), std::make_pair(ULONG{3}, ULONG{1}));
    camera->GrabStop(grab);
    EXPECT_EQ(module->GetGrabStats(grab, &stats), 0);
    EXPECT_EQ(other->GetGrabStats(grab, &stats), 0);
}

TEST_F(GrabTest, HardwareTriggersTriggerModesAndUnreachableCameras) {
    OpenCamera("Param.9 = 1\nParam.10 = 2\n");
    HGRAB grab = Start();
    Fire();  // the camera waits for its trigger line, not for software
    // An unreachable camera takes no trigger.
    ASSERT_TRUE(Station::SetReachable("GEV", 0, 0, false));
    EXPECT_FALSE(Station::HardwareTrigger("GEV", 0, 0));
    EXPECT_EQ(Stats(grab).FramesAcquired, 0u);
    ASSERT_TRUE(Station::SetReachable("GEV", 0, 0, true));
    ASSERT_TRUE(Station::HardwareTrigger("GEV", 0, 0));
    ASSERT_EQ(Next(grab), 0);
    EXPECT_EQ(ext.FrameNumber, 1u);
    // A rising bit 0 of register 57 is a manual trigger.
    for (ULONG value : {0x40u, 0x41u, 0x40u}) camera->WriteReg(57, value);
    ASSERT_EQ(Next(grab), 1);
    EXPECT_EQ(ext.FrameNumber, 2u);
    // Switching to software trigger: hardware pulses are ignored, parameter 13 fires.
    camera->SetAcqParam(10, 0.0, 0);
    EXPECT_FALSE(Station::HardwareTrigger("GEV", 0, 0));
    Fire();
    ASSERT_EQ(Next(grab), 2);
    EXPECT_EQ(ext.FrameNumber, 3u);
    // An unreachable camera cannot start a grab, nor can a grab without buffers.
    Station::SetReachable("GEV", 0, 0, false);
    EXPECT_EQ(Start(), nullptr);
    Station::SetReachable("GEV", 0, 0, true);
    EXPECT_EQ(camera->Grab(1, addresses.data(), 0, -1), nullptr);
    camera->GrabStop(grab);
}

TEST_F(GrabTest, GrabsStartAndStopFromTwoThreadsAndEndWithTheirModule) {
    OpenCamera("FrameRate = 2000\n");
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
    ASSERT_NE(Start(), nullptr);
    modules_.clear();  // deleting the module ends its grabs
    EXPECT_EQ(Station::ActiveGrabs("GEV", 0, 0), 0u);
}

