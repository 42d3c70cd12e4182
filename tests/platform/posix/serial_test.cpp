// Serial ports through the grab object, against a real pseudo-terminal pair.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <kiru/ixgrab.h>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel.h"
#include "platform/serial.h"
#include "platform/posix/pty_pair.h"
#include "support/poll.h"

namespace {

using Clock = std::chrono::steady_clock;
using kiru_test::WaitUntil;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool SameLine(const DCB& x, const DCB& y) {
    return x.BaudRate == y.BaudRate && x.ByteSize == y.ByteSize && x.Parity == y.Parity && x.StopBits == y.StopBits;
}

class SerialPorts : public ::testing::Test {
protected:
    void SetUp() override {
        bool missing = false;
        std::string why;
        if (!pair_.Start(&missing, &why)) {
            if (missing) GTEST_SKIP() << "socat is not installed, so no pseudo-terminal pair can be made: " << why;
            FAIL() << why;
        }
        a_ = grab_.OpenComPort(Wide(pair_.EndA()).c_str());
        b_ = grab_.OpenComPort(Wide(pair_.EndB()).c_str());
        ASSERT_NE(a_, INVALID_HANDLE_VALUE);
        ASSERT_NE(b_, INVALID_HANDLE_VALUE);
        for (void* port : {a_, b_}) {
            DCB dcb{sizeof(DCB), 115200, 8, NOPARITY, ONESTOPBIT};
            ASSERT_EQ(grab_.SetCommState(port, &dcb), 1);
        }
    }

    void TearDown() override {
        if (a_ != INVALID_HANDLE_VALUE) grab_.CloseComPort(a_);
        if (b_ != INVALID_HANDLE_VALUE) grab_.CloseComPort(b_);
    }

    void SetTimeouts(void* port, DWORD interval, DWORD multiplier, DWORD constant, DWORD writeConstant = 0) {
        COMMTIMEOUTS timeouts{interval, multiplier, constant, 0, writeConstant};
        ASSERT_EQ(grab_.SetCommTimeouts(port, &timeouts), 1);
    }

    DWORD InQueue(void* port) {
        ULONG errors = 99;
        COMSTAT status{99, 99};
        EXPECT_EQ(grab_.ClearCommError(port, &errors, &status), 1);
        EXPECT_EQ(errors, 0u);
        return status.cbInQue;
    }

    void Write(void* port, const std::string& text) {
        ULONG written = 0;
        ASSERT_EQ(grab_.WriteComPort(port, text.data(), static_cast<ULONG>(text.size()), &written), 1);
        ASSERT_EQ(written, text.size());
    }

    // Reads up to `count` bytes with the port's time-outs (by default a
    // generous total time-out, so that exactly `count` bytes come back).
    std::string Read(void* port, std::size_t count, bool keepTimeouts = false) {
        if (!keepTimeouts) SetTimeouts(port, 0, 0, 20000);
        std::string data(count, '\0');
        ULONG got = 99;
        EXPECT_EQ(grab_.ReadComPort(port, &data[0], static_cast<ULONG>(count), &got), 1);
        data.resize(got);
        return data;
    }

    PtyPair pair_;
    IXGrab grab_;
    void* a_ = INVALID_HANDLE_VALUE;
    void* b_ = INVALID_HANDLE_VALUE;
};

TEST_F(SerialPorts, LineSettingsAreAppliedOrHonestlyRefused) {
    DCB dcb{};
    ASSERT_EQ(grab_.GetCommState(b_, &dcb), 1);
    EXPECT_TRUE(SameLine(dcb, DCB{sizeof(DCB), 115200, 8, NOPARITY, ONESTOPBIT}));
    // Settings a driver may refuse (a pty refuses parity and 7-bit bytes):
    // success must mean the settings are in force, failure that nothing
    // changed. Values outside the mapping are always refused.
    enum Answer { kApplied, kAppliedOrRefused, kRefused };
    const struct {
        DCB wanted;
        Answer answer;
    } cases[] = {{{sizeof(DCB), 9600, 8, NOPARITY, ONESTOPBIT}, kApplied},
                 {{sizeof(DCB), 9600, 7, EVENPARITY, ONESTOPBIT}, kAppliedOrRefused},
                 {{sizeof(DCB), 9600, 8, ODDPARITY, ONESTOPBIT}, kAppliedOrRefused},
                 {{sizeof(DCB), 9600, 7, NOPARITY, ONESTOPBIT}, kAppliedOrRefused},
                 {{sizeof(DCB), 9600, 8, NOPARITY, TWOSTOPBITS}, kAppliedOrRefused},
                 {{sizeof(DCB), 12345, 8, NOPARITY, ONESTOPBIT}, kRefused},
                 {{sizeof(DCB), 9600, 9, NOPARITY, ONESTOPBIT}, kRefused},
                 {{sizeof(DCB), 9600, 8, 7, ONESTOPBIT}, kRefused},
                 {{sizeof(DCB), 9600, 5, NOPARITY, TWOSTOPBITS}, kRefused},
                 {{sizeof(DCB), 9600, 8, NOPARITY, ONE5STOPBITS}, kRefused}};
    for (const auto& c : cases) {
        DCB wanted = c.wanted, before{}, after{};
        SCOPED_TRACE(testing::Message() << wanted.BaudRate << " " << int(wanted.ByteSize) << int(wanted.Parity)
                                        << int(wanted.StopBits));
        ASSERT_EQ(grab_.GetCommState(a_, &before), 1);
        const int applied = grab_.SetCommState(a_, &wanted);
        if (c.answer != kAppliedOrRefused) {
            EXPECT_EQ(applied, c.answer == kApplied ? 1 : 0);
        }
        if (c.answer == kRefused) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        }
        ASSERT_EQ(grab_.GetCommState(a_, &after), 1);
        EXPECT_TRUE(SameLine(after, applied ? wanted : before));
    }
}

TEST_F(SerialPorts, BytesPassUnchangedAndALargeTransferWaitsForRoom) {
    Write(a_, "hello world");
    EXPECT_EQ(Read(b_, 11), "hello world");
    // Every byte value, control characters included, arrives as sent, and a
    // write larger than the buffers waits for the reader.
    std::string sent(256 * 1024, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    int writeResult = -1;
    ULONG written = 0;
    std::thread writer([&] {
        writeResult = grab_.WriteComPort(b_, sent.data(), static_cast<ULONG>(sent.size()), &written);
    });
    const std::string received = Read(a_, sent.size());
    writer.join();
    EXPECT_EQ(writeResult, 1);
    EXPECT_EQ(written, sent.size());
    EXPECT_TRUE(received == sent) << "received " << received.size() << " bytes";
}

TEST_F(SerialPorts, QueueCountsAndPurge) {
    Write(a_, "12345");
    ASSERT_TRUE(WaitUntil([&] { return InQueue(b_) == 5; }));
    COMSTAT status{};
    ASSERT_EQ(grab_.ClearCommError(a_, nullptr, &status), 1);
    EXPECT_EQ(status.cbOutQue, 0u);  // WriteComPort waited until it was sent
    grab_.PurgeComPort(b_);
    EXPECT_EQ(InQueue(b_), 0u);
    SetTimeouts(b_, MAXDWORD, 0, 0);
    EXPECT_EQ(Read(b_, 8, true), "");
    Write(a_, "after");
    EXPECT_EQ(Read(b_, 5), "after");
}

TEST_F(SerialPorts, ReadsTimeOutAsConfigured) {
    COMMTIMEOUTS fresh{1, 1, 1, 1, 1};
    ASSERT_TRUE(GetCommTimeouts(b_, &fresh));
    EXPECT_EQ(fresh.ReadIntervalTimeout + fresh.ReadTotalTimeoutMultiplier + fresh.ReadTotalTimeoutConstant +
                  fresh.WriteTotalTimeoutMultiplier + fresh.WriteTotalTimeoutConstant,
              0u);
    struct Case {
        DWORD interval, multiplier, constant;
        const char* waiting;  // bytes sent before the read of up to 10
        double minMs, maxMs;
    } cases[] = {
        {MAXDWORD, 0, 0, "", 0, 5000},             // return at once
        {0, 0, 200, "", 200, 20000},               // total: the constant
        {0, 30, 0, "", 300, 20000},                // total: 30 ms per byte asked for
        {MAXDWORD, MAXDWORD, 150, "", 150, 20000},  // any byte, or the constant
        {MAXDWORD, MAXDWORD, 20000, "abcd", 0, 10000},  // bytes waiting: no wait for more
        {50, 0, 20000, "xyz", 0, 10000},           // a short interval ends the read
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.interval << " " << c.multiplier << " " << c.constant);
        const std::string waiting = c.waiting;
        if (!waiting.empty()) {
            Write(a_, waiting);
            ASSERT_TRUE(WaitUntil([&] { return InQueue(b_) == waiting.size(); }));
        }
        SetTimeouts(b_, c.interval, c.multiplier, c.constant);
        const auto start = Clock::now();
        EXPECT_EQ(Read(b_, 10, true), waiting);
        EXPECT_GE(MsSince(start), c.minMs);
        EXPECT_LT(MsSince(start), c.maxMs);
    }
    // Time-outs belong to the port they were set on.
    COMMTIMEOUTS other{};
    ASSERT_TRUE(GetCommTimeouts(a_, &other));
    EXPECT_EQ(other.ReadTotalTimeoutConstant, 0u);
}

TEST_F(SerialPorts, WriteThatCannotFinishTimesOutShortAndFails) {
    // Nobody reads b, so the pair's buffers fill and the write stalls.
    SetTimeouts(a_, 0, 0, 0, 300);
    std::vector<char> big(4 * 1024 * 1024, 'z');
    ULONG written = 0;
    const auto start = Clock::now();
    EXPECT_EQ(grab_.WriteComPort(a_, big.data(), static_cast<ULONG>(big.size()), &written), 0);
    EXPECT_GE(MsSince(start), 300);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
}

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
    const std::string missing = pair_.EndA() + "-missing", plain = pair_.EndA() + "-file";
    EXPECT_EQ(grab_.OpenComPort(Wide(missing).c_str()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 2u);
    EXPECT_NE(::access(missing.c_str(), F_OK), 0);  // not created
    std::fclose(std::fopen(plain.c_str(), "w"));
    EXPECT_EQ(grab_.OpenComPort(Wide(plain).c_str()), INVALID_HANDLE_VALUE);  // not a terminal
    EXPECT_EQ(grab_.OpenComPort(nullptr), INVALID_HANDLE_VALUE);

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
