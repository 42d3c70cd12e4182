// Serial ports through the grab object, in what only this system's own
// port functions promise: an open port is exclusive, a port handle is not a
// kernel object and foreign handles are refused, PurgeComm aborts a
// synchronous read waiting in another thread, and a pseudo-terminal whose
// peer went away fails reads and writes. (Windows promises the abort only
// for overlapped reads; its ports are kernel handles; Wine does not make an
// open COM port exclusive.)
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_fixture.h"

namespace kiru_test {
namespace {

TEST_F(SerialPorts, PurgeAbortsAWaitingRead) {
    SetTimeouts(b_, 0, 0, 60000);
    std::atomic<bool> done{false};
    int result = -1;
    ULONG got = 99;
    DWORD error = 0;
    std::thread reader([&] {
        char buffer[10];
        result = grab_.ReadComPort(b_, buffer, sizeof buffer, &got);
        error = GetLastError();
        done = true;
    });
    // The abort reaches reads already waiting, so repeat until it has.
    const bool ended = WaitUntil([&] {
        grab_.PurgeComPort(b_);
        return done.load();
    });
    if (!ended) Write(a_, "0123456789");  // let the reader finish before failing
    reader.join();
    EXPECT_TRUE(ended);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(error, 995u);  // operation aborted
}

TEST_F(SerialPorts, PeerGoingAwayFailsReadsAndWritesWithoutHanging) {
    SetTimeouts(b_, 0, 0, 30000);
    int result = -1;
    double waited = 0;
    std::thread reader([&] {
        char buffer[10];
        ULONG got = 0;
        const auto start = Clock::now();
        result = grab_.ReadComPort(b_, buffer, sizeof buffer, &got);
        waited = MsSince(start);
    });
    pair_.Kill();
    reader.join();
    EXPECT_EQ(result, 0);
    EXPECT_LT(waited, 20000);
    ULONG written = 0;
    EXPECT_EQ(grab_.WriteComPort(a_, "x", 1, &written), 0);
    char buffer[4];
    ULONG got = 0;
    SetTimeouts(a_, MAXDWORD, 0, 0);
    EXPECT_EQ(grab_.ReadComPort(a_, buffer, sizeof buffer, &got), 0);
}

TEST_F(SerialPorts, OpenIsExclusiveAndOtherHandlesAreRefused) {
    EXPECT_EQ(grab_.OpenComPort(Wide(pair_.EndA()).c_str()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 5u);  // in use

    void* closed = a_;
    grab_.CloseComPort(a_);
    a_ = INVALID_HANDLE_VALUE;
    HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    for (void* bad : {INVALID_HANDLE_VALUE, closed, static_cast<void*>(semaphore)}) {
        char buffer[4] = {};
        ULONG count = 77;
        EXPECT_EQ(grab_.WriteComPort(bad, buffer, 4, &count), 0);
        EXPECT_EQ(count, bad == INVALID_HANDLE_VALUE ? 77u : 0u);  // the invalid handle: nothing attempted
        EXPECT_EQ(grab_.ReadComPort(bad, buffer, 4, &count), 0);
        EXPECT_EQ(count, 0u);
        DCB dcb{};
        COMMTIMEOUTS timeouts{};
        COMSTAT status{};
        ULONG errors = 0;
        EXPECT_EQ(grab_.GetCommState(bad, &dcb), 0);
        EXPECT_EQ(grab_.SetCommState(bad, &dcb), 0);
        EXPECT_EQ(grab_.SetCommTimeouts(bad, &timeouts), 0);
        EXPECT_EQ(grab_.ClearCommError(bad, &errors, &status), 0);
        grab_.PurgeComPort(bad);
        grab_.CloseComPort(bad);
        EXPECT_FALSE(PurgeComm(bad, PURGE_RXCLEAR));
        EXPECT_FALSE(FlushFileBuffers(bad));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    DCB dcb{};
    EXPECT_FALSE(CloseHandle(b_));  // a port is not a kernel object
    EXPECT_EQ(grab_.GetCommState(b_, &dcb), 1);
    EXPECT_TRUE(CloseHandle(semaphore));
    a_ = grab_.OpenComPort(Wide(pair_.EndA()).c_str());  // free again once closed
    EXPECT_NE(a_, INVALID_HANDLE_VALUE);
}

}  // namespace
}  // namespace kiru_test
