// Serial ports through the grab object, against a real pseudo-terminal pair.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <kiru/ixgrab.h>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel.h"
#include "platform/serial.h"
#include "pty_pair.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Polls a condition until it holds or the limit passes.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(10)) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

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

    void SetTimeouts(void* port, DWORD interval, DWORD multiplier, DWORD constant, DWORD writeMultiplier = 0,
                     DWORD writeConstant = 0) {
        COMMTIMEOUTS timeouts{interval, multiplier, constant, writeMultiplier, writeConstant};
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

    // Reads exactly count bytes (with a generous total time-out as a guard).
    std::string ReadExactly(void* port, std::size_t count) {
        SetTimeouts(port, 0, 0, 20000);
        std::string data(count, '\0');
        ULONG got = 0;
        EXPECT_EQ(grab_.ReadComPort(port, &data[0], static_cast<ULONG>(count), &got), 1);
        data.resize(got);
        return data;
    }

    PtyPair pair_;
    IXGrab grab_;
    void* a_ = INVALID_HANDLE_VALUE;
    void* b_ = INVALID_HANDLE_VALUE;
};

bool SameLine(const DCB& x, const DCB& y) {
    return x.BaudRate == y.BaudRate && x.ByteSize == y.ByteSize && x.Parity == y.Parity && x.StopBits == y.StopBits;
}

TEST_F(SerialPorts, OpenIsExclusiveAndOnlyForExistingTerminals) {
    EXPECT_EQ(grab_.OpenComPort(Wide(pair_.EndA()).c_str()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 5u);  // in use
    grab_.CloseComPort(a_);
    a_ = grab_.OpenComPort(Wide(pair_.EndA()).c_str());
    EXPECT_NE(a_, INVALID_HANDLE_VALUE);

    const std::string missing = pair_.EndA() + "-missing";
    EXPECT_EQ(grab_.OpenComPort(Wide(missing).c_str()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 2u);
    EXPECT_NE(::access(missing.c_str(), F_OK), 0);  // not created
    const std::string plain = pair_.EndA() + "-file";
    std::fclose(std::fopen(plain.c_str(), "w"));
    EXPECT_EQ(grab_.OpenComPort(Wide(plain).c_str()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(grab_.OpenComPort(nullptr), INVALID_HANDLE_VALUE);
}

TEST_F(SerialPorts, LineSettingsAreAppliedOrHonestlyRefused) {
    for (void* port : {a_, b_}) {
        DCB dcb{};
        ASSERT_EQ(grab_.GetCommState(port, &dcb), 1);
        EXPECT_EQ(dcb.BaudRate, 115200u);
        EXPECT_EQ(dcb.ByteSize, 8);
        EXPECT_EQ(dcb.Parity, NOPARITY);
        EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
        DCB slow{sizeof(DCB), 9600, 8, NOPARITY, ONESTOPBIT};
        ASSERT_EQ(grab_.SetCommState(port, &slow), 1);
        ASSERT_EQ(grab_.GetCommState(port, &dcb), 1);
        EXPECT_EQ(dcb.BaudRate, 9600u);
    }
    // Settings a driver may refuse (a pty refuses parity and 7-bit bytes):
    // success must mean the settings are in force, failure that nothing changed.
    const DCB optional[] = {{sizeof(DCB), 9600, 7, EVENPARITY, ONESTOPBIT},
                            {sizeof(DCB), 9600, 8, ODDPARITY, ONESTOPBIT},
                            {sizeof(DCB), 9600, 7, NOPARITY, ONESTOPBIT},
                            {sizeof(DCB), 9600, 8, NOPARITY, TWOSTOPBITS}};
    for (DCB wanted : optional) {
        DCB before{}, after{};
        ASSERT_EQ(grab_.GetCommState(a_, &before), 1);
        const int applied = grab_.SetCommState(a_, &wanted);
        ASSERT_EQ(grab_.GetCommState(a_, &after), 1);
        if (applied) {
            EXPECT_TRUE(SameLine(after, wanted)) << int(wanted.ByteSize) << int(wanted.Parity);
        } else {
            EXPECT_TRUE(SameLine(after, before)) << int(wanted.ByteSize) << int(wanted.Parity);
        }
    }
    // Values outside the mapping are refused without touching the line.
    const DCB invalid[] = {{sizeof(DCB), 12345, 8, NOPARITY, ONESTOPBIT},
                           {sizeof(DCB), 9600, 9, NOPARITY, ONESTOPBIT},
                           {sizeof(DCB), 9600, 8, 7, ONESTOPBIT},
                           {sizeof(DCB), 9600, 5, NOPARITY, TWOSTOPBITS},
                           {sizeof(DCB), 9600, 8, NOPARITY, ONE5STOPBITS}};
    for (DCB wanted : invalid) {
        DCB before{}, after{};
        ASSERT_EQ(grab_.GetCommState(b_, &before), 1);
        EXPECT_EQ(grab_.SetCommState(b_, &wanted), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        ASSERT_EQ(grab_.GetCommState(b_, &after), 1);
        EXPECT_TRUE(SameLine(after, before));
    }
}

TEST_F(SerialPorts, BytesPassUnchangedInBothDirections) {
    Write(a_, "hello world");
    EXPECT_EQ(ReadExactly(b_, 11), "hello world");
    // Every byte value, control characters included, arrives as sent.
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    Write(b_, all);
    EXPECT_EQ(ReadExactly(a_, all.size()), all);
}

TEST_F(SerialPorts, LargeTransferWaitsForRoomAndLosesNothing) {
    std::string sent(256 * 1024, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    int writeResult = -1;
    ULONG written = 0;
    std::thread writer([&] {
        writeResult = grab_.WriteComPort(a_, sent.data(), static_cast<ULONG>(sent.size()), &written);
    });
    const std::string received = ReadExactly(b_, sent.size());
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
    char buffer[8];
    ULONG got = 99;
    EXPECT_EQ(grab_.ReadComPort(b_, buffer, sizeof buffer, &got), 1);
    EXPECT_EQ(got, 0u);

    Write(a_, "after");
    EXPECT_EQ(ReadExactly(b_, 5), "after");
}

TEST_F(SerialPorts, ReadsTimeOutAsConfigured) {
    COMMTIMEOUTS fresh{1, 1, 1, 1, 1};
    ASSERT_TRUE(GetCommTimeouts(b_, &fresh));
    EXPECT_EQ(fresh.ReadIntervalTimeout + fresh.ReadTotalTimeoutMultiplier + fresh.ReadTotalTimeoutConstant +
                  fresh.WriteTotalTimeoutMultiplier + fresh.WriteTotalTimeoutConstant,
              0u);
    char buffer[100];
    ULONG got = 99;

    SetTimeouts(b_, MAXDWORD, 0, 0);  // return at once
    auto start = Clock::now();
    EXPECT_EQ(grab_.ReadComPort(b_, buffer, 10, &got), 1);
    EXPECT_EQ(got, 0u);
    EXPECT_LT(MsSince(start), 5000);

    SetTimeouts(b_, 0, 0, 200);  // total: constant
    start = Clock::now();
    EXPECT_EQ(grab_.ReadComPort(b_, buffer, 10, &got), 1);
    EXPECT_EQ(got, 0u);
    EXPECT_GE(MsSince(start), 200);

    SetTimeouts(b_, 0, 30, 0);  // total: 30 ms per byte asked for
    start = Clock::now();
    EXPECT_EQ(grab_.ReadComPort(b_, buffer, 10, &got), 1);
    EXPECT_EQ(got, 0u);
    EXPECT_GE(MsSince(start), 300);

    SetTimeouts(b_, MAXDWORD, MAXDWORD, 150);  // any byte, or the constant
    start = Clock::now();
    EXPECT_EQ(grab_.ReadComPort(b_, buffer, 10, &got), 1);
    EXPECT_EQ(got, 0u);
    EXPECT_GE(MsSince(start), 150);

    // With bytes waiting, "any byte" returns them without waiting for more,
    // and a short interval ends a read long before its total time-out.
    Write(a_, "abcd");
    ASSERT_TRUE(WaitUntil([&] { return InQueue(b_) == 4; }));
    SetTimeouts(b_, MAXDWORD, MAXDWORD, 20000);
    start = Clock::now();
    EXPECT_EQ(grab_.ReadComPort(b_, buffer, sizeof buffer, &got), 1);
    EXPECT_EQ(std::string(buffer, got), "abcd");
    EXPECT_LT(MsSince(start), 10000);

    Write(a_, "xyz");
    ASSERT_TRUE(WaitUntil([&] { return InQueue(b_) == 3; }));
    SetTimeouts(b_, 50, 0, 20000);
    start = Clock::now();
    EXPECT_EQ(grab_.ReadComPort(b_, buffer, sizeof buffer, &got), 1);
    EXPECT_EQ(std::string(buffer, got), "xyz");
    EXPECT_LT(MsSince(start), 10000);

    // Time-outs belong to the port they were set on.
    COMMTIMEOUTS other{};
    ASSERT_TRUE(GetCommTimeouts(a_, &other));
    EXPECT_EQ(other.ReadTotalTimeoutConstant, 0u);
}

TEST_F(SerialPorts, WriteThatCannotFinishTimesOutShortAndFails) {
    // Nobody reads b, so the pair's buffers fill and the write stalls.
    SetTimeouts(a_, 0, 0, 0, 0, 300);
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

TEST_F(SerialPorts, ClosedAndForeignHandlesAreRefused) {
    void* closed = a_;
    grab_.CloseComPort(a_);
    a_ = INVALID_HANDLE_VALUE;
    DCB dcb{};
    EXPECT_EQ(grab_.GetCommState(closed, &dcb), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    ULONG written = 0;
    EXPECT_EQ(grab_.WriteComPort(closed, "x", 1, &written), 0);

    HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    EXPECT_EQ(grab_.GetCommState(semaphore, &dcb), 0);
    EXPECT_FALSE(CloseHandle(b_));  // a port is not a kernel object
    EXPECT_EQ(grab_.GetCommState(b_, &dcb), 1);
    EXPECT_TRUE(CloseHandle(semaphore));
}

TEST(SerialInvalidHandle, EveryOperationRefusesIt) {
    IXGrab grab;
    void* invalid = INVALID_HANDLE_VALUE;
    char buffer[4] = {};
    ULONG count = 77;
    EXPECT_EQ(grab.WriteComPort(invalid, buffer, 4, &count), 0);
    EXPECT_EQ(count, 77u);  // nothing was attempted
    EXPECT_EQ(grab.ReadComPort(invalid, buffer, 4, &count), 0);
    EXPECT_EQ(count, 0u);
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    COMSTAT status{};
    ULONG errors = 0;
    EXPECT_EQ(grab.GetCommState(invalid, &dcb), 0);
    EXPECT_EQ(grab.SetCommState(invalid, &dcb), 0);
    EXPECT_EQ(grab.SetCommTimeouts(invalid, &timeouts), 0);
    EXPECT_EQ(grab.ClearCommError(invalid, &errors, &status), 0);
    grab.PurgeComPort(invalid);
    grab.CloseComPort(invalid);
    EXPECT_FALSE(PurgeComm(invalid, PURGE_RXCLEAR));
    EXPECT_FALSE(FlushFileBuffers(invalid));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
