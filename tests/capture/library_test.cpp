// Small parts of the library: scoped handle helpers, the OS wrapper, version
// check, adapter lookup and console handler.
#include <kiru/scoped_handles.h>

#if !defined(_WIN32)
#include <net/if.h>
#endif

#include <memory>
#include <thread>

#include "platform/event.h"
#include "platform/inet.h"
#include "platform/kernel.h"
#include "station_fixture.h"

using kiru::sim::Station;

namespace {

// Whether another thread can take the mutex right now.
bool FreeForOthers(HANDLE mutex) {
    bool taken = false;
    std::thread([&] {
        CMutexHold hold(mutex, 0);
        taken = hold.Held() != 0;
    }).join();
    return taken;
}

using LibraryTest = kiru::test::StationTest;

}  // namespace

TEST(ScopedHandlesTest, MutexHoldReleasesOnlyWhatItAcquired) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    ASSERT_NE(mutex, nullptr);
    {
        CMutexHold hold(mutex, 1000);
        EXPECT_EQ(hold.Held(), 1);
        {
            CMutexHold nested(mutex, 0);  // re-entrant for its owner
            EXPECT_EQ(nested.Held(), 1);
        }
        EXPECT_FALSE(FreeForOthers(mutex));
    }
    EXPECT_TRUE(FreeForOthers(mutex));

    // A holder that timed out must not release the owner's lock.
    kiru::platform::Event held(true, false), done(true, false);
    std::thread owner([&] {
        CMutexHold hold(mutex, 1000);
        held.Set();
        done.Wait(20000);
    });
    ASSERT_EQ(held.Wait(20000), WAIT_OBJECT_0);
    {
        CMutexHold failed(mutex, 10);
        EXPECT_EQ(failed.Held(), 0);
    }
    EXPECT_FALSE(FreeForOthers(mutex));
    done.Set();
    owner.join();
    EXPECT_TRUE(FreeForOthers(mutex));
    CMutexHold none(nullptr, 0);
    EXPECT_EQ(none.Held(), 0);

    // CORVOS works on the same kernel mutexes.
    CORVOS os;
    EXPECT_EQ(os.AcquireMutex(mutex, 100), 1);
    EXPECT_FALSE(FreeForOthers(mutex));
    EXPECT_EQ(os.ReleaseMutex(mutex), 1);
    EXPECT_EQ(os.ReleaseMutex(mutex), 0);  // not held any more
    EXPECT_EQ(CORVOS::AcquireMutex(nullptr, 0), 0);
    CloseHandle(mutex);
}

TEST(ScopedHandlesTest, HandleCloserClosesACopyOfTheHandle) {
    void* event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    {
        CrtHandleCloser closer(event);
        EXPECT_EQ(SetEvent(event), TRUE);  // still open inside the scope
    }
    EXPECT_EQ(CloseHandle(event), FALSE);  // closed by the closer
    void* none = nullptr;
    void* invalid = INVALID_HANDLE_VALUE;
    { CrtHandleCloser a(none), b(invalid); }
}

TEST_F(LibraryTest, VersionCheckAdapterIndexAndConsoleHandler) {
    EXPECT_EQ(CheckOrvVersionResolution(2264, 904, 512, 271608, 271712, 1058056, 271736, 1416), 1);
    EXPECT_EQ(CheckOrvVersionResolution(2264, 904, 512, 271608, 271712, 1058056, 271736, 1417), 0);
    // A local interface of this machine, then the station's host adapters in order.
#if defined(_WIN32)
    EXPECT_NE(OrxGetAdapterIndexFromIP(htonl(0x7F000001)), 0u);  // the loopback adapter
#else
    EXPECT_EQ(OrxGetAdapterIndexFromIP(htonl(0x7F000001)), if_nametoindex("lo"));
#endif
    Load("[GEV:0]\nText.0x4014 = 203.0.113.1\n[GEV:1]\nText.0x4014 = 203.0.113.9\n"
         "[GEV:2]\nText.0x4014 = 203.0.113.1\n");
    EXPECT_EQ(OrxGetAdapterIndexFromIP(htonl(0xCB007101)), 1u);
    EXPECT_EQ(OrxGetAdapterIndexFromIP(htonl(0xCB007109)), 2u);
    EXPECT_EQ(OrxGetAdapterIndexFromIP(htonl(0xCB007177)), 0u);
    EXPECT_EQ(OrxSetConsoleHandler(nullptr), 1);
    EXPECT_EQ(OrxGetConsoleHandler(), nullptr);
}
