// A serial peer that goes away in the middle of a transfer, through the
// grab object's port operations: a write stalled on a full line and a read
// that has part of its message return promptly and report what really
// moved.
#include <gtest/gtest.h>
#include <kiru/ixgrab.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/pty_pair.h"
#include "support/poll.h"

namespace {

using kiru_test::WaitUntil;

class SerialPeerDies : public ::testing::Test {
protected:
    void SetUp() override {
        bool missing = false;
        std::string why;
        if (!pair_.Start(&missing, &why)) {
            if (missing) GTEST_SKIP() << "socat is not installed, so no pseudo-terminal pair can be made: " << why;
            FAIL() << why;
        }
        for (auto [port, end] : {std::pair<void**, std::string>{&a_, pair_.EndA()}, {&b_, pair_.EndB()}}) {
            *port = grab_.OpenComPort(std::wstring(end.begin(), end.end()).c_str());
            ASSERT_NE(*port, INVALID_HANDLE_VALUE);
            DCB dcb{sizeof(DCB), 115200, 8, NOPARITY, ONESTOPBIT};
            ASSERT_EQ(grab_.SetCommState(*port, &dcb), 1);
        }
    }
    void TearDown() override {
        if (a_ != INVALID_HANDLE_VALUE) grab_.CloseComPort(a_);
        if (b_ != INVALID_HANDLE_VALUE) grab_.CloseComPort(b_);
    }
    DWORD InQueue(void* port) {
        COMSTAT status{};
        grab_.ClearCommError(port, nullptr, &status);
        return status.cbInQue;
    }
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

    PtyPair pair_;
    IXGrab grab_;
    void* a_ = INVALID_HANDLE_VALUE;
    void* b_ = INVALID_HANDLE_VALUE;
};

TEST_F(SerialPeerDies, WriteStalledOnAFullLineEndsWithWhatWasSent) {
    // No write time-out: only the peer going away ends this write.
    COMMTIMEOUTS timeouts{0, 0, 0, 0, 0};
    ASSERT_EQ(grab_.SetCommTimeouts(a_, &timeouts), 1);
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
}

TEST_F(SerialPeerDies, ReadHoldingPartOfItsMessageReturnsOnlyWhatArrived) {
    COMMTIMEOUTS timeouts{0, 0, 60000, 0, 0};
    ASSERT_EQ(grab_.SetCommTimeouts(b_, &timeouts), 1);
    char buffer[10] = {};
    ULONG got = 99;
    ULONG sent = 0;
    ASSERT_EQ(grab_.WriteComPort(a_, "abcd", 4, &sent), 1);
    ASSERT_TRUE(WaitUntil([&] { return InQueue(b_) == 4; }));
    // The peer dies once the reader has taken the four bytes and waits for six more.
    ASSERT_TRUE(KillDuring([&] { grab_.ReadComPort(b_, buffer, sizeof buffer, &got); },
                           [&] { return InQueue(b_) == 0; }, b_));
    EXPECT_EQ(std::string(buffer, got), "abcd");
}

}  // namespace
