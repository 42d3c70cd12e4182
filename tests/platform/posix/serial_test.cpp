// Serial ports through the grab object, in what only this system's own
// port functions promise: an open port is exclusive, a port handle is not a
// kernel object and foreign handles are refused, PurgeComm aborts a
// synchronous read waiting in another thread, and a pseudo-terminal whose
// peer goes away, even in the middle of a transfer, fails reads and writes
// promptly and reports what really moved. (Windows promises the abort only
// for overlapped reads; its ports are kernel handles; Wine does not make an
// open COM port exclusive.)
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_fixture.h"

namespace kiru_test {
namespace {

class SerialPeerDies : public SerialPorts {
protected:
    // Runs the transfer on its own thread, kills the peer once `started`
    // holds, and waits for the transfer to end. A transfer that does not end
    // is aborted with a purge so that the test fails instead of hanging.
    bool KillDuring(const std::function<void()>& transfer, const std::function<bool()>& started, void* port) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            transfer();
            done = true;
        });
        const bool began = WaitUntil(started);
        pair_.Kill();
        const bool ended = WaitUntil([&] { return done.load(); });
        if (!ended) WaitUntil([&] {
                grab_.PurgeComPort(port);
                return done.load();
            });
        worker.join();
        return began && ended;
    }
};

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

TEST_F(SerialPeerDies, WriteStalledOnAFullLineEndsWithWhatWasSent) {
    // No write time-out: only the peer going away ends this write.
    SetTimeouts(a_, 0, 0, 0);
    std::vector<char> big(8 * 1024 * 1024, 'w');
    int result = -1;
    ULONG written = 0;
    ASSERT_TRUE(KillDuring(
        [&] { result = grab_.WriteComPort(a_, big.data(), static_cast<ULONG>(big.size()), &written); },
        [&] { return InQueue(b_) > 0; }, a_));
    EXPECT_EQ(result, 0);
    EXPECT_GT(written, 0u);  // the peer took some before it died
    EXPECT_LT(written, big.size());
    ULONG again = 99;
    EXPECT_EQ(grab_.WriteComPort(a_, "x", 1, &again), 0);
    EXPECT_EQ(again, 0u);
    // A read that returns at once tells a line that is gone from an empty one.
    char buffer[4];
    ULONG got = 99;
    SetTimeouts(a_, MAXDWORD, 0, 0);
    EXPECT_EQ(grab_.ReadComPort(a_, buffer, sizeof buffer, &got), 0);
    EXPECT_EQ(got, 0u);
}

TEST_F(SerialPeerDies, ReadHoldingPartOfItsMessageReturnsOnlyWhatArrived) {
    SetTimeouts(b_, 0, 0, 60000);
    char buffer[10] = {};
    ULONG got = 99;
    int result = -1;
    Write(a_, "abcd");
    ASSERT_TRUE(WaitUntil([&] { return InQueue(b_) == 4; }));
    // The peer dies once the reader has taken the four bytes and waits for six more.
    ASSERT_TRUE(KillDuring([&] { result = grab_.ReadComPort(b_, buffer, sizeof buffer, &got); },
                           [&] { return InQueue(b_) == 0; }, b_));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(std::string(buffer, got), "abcd");
}

}  // namespace
}  // namespace kiru_test
