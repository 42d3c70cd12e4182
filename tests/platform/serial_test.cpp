// Serial ports through the grab object, against two ports joined back to
// back: settings, transfers, queues, time-outs and refused opens.
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_fixture.h"

namespace kiru_test {
namespace {

TEST_F(SerialPorts, LineSettingsAreAppliedOrHonestlyRefused) {
    DCB dcb{};
    ASSERT_EQ(grab_.GetCommState(b_, &dcb), 1);
    EXPECT_TRUE(SameLine(dcb, WithLine(dcb, kLine)));
    // Settings a driver may refuse (a pty refuses parity and 7-bit bytes):
    // success must mean the settings are in force, failure that nothing
    // changed. Values outside the mapping are always refused. Under Wine a
    // COM port on a pseudo-terminal takes what the terminal ignores, so the
    // driver's choices are checked on POSIX systems only.
    enum Answer { kApplied, kAppliedOrRefused, kRefused, kRefusedOnPosix };
    const struct {
        Line wanted;
        Answer answer;
    } cases[] = {{{9600, 8, NOPARITY, ONESTOPBIT}, kApplied},
                 {{9600, 7, EVENPARITY, ONESTOPBIT}, kAppliedOrRefused},
                 {{9600, 8, ODDPARITY, ONESTOPBIT}, kAppliedOrRefused},
                 {{9600, 7, NOPARITY, ONESTOPBIT}, kAppliedOrRefused},
                 {{9600, 8, NOPARITY, TWOSTOPBITS}, kApplied},
                 {{12345, 8, NOPARITY, ONESTOPBIT}, kRefusedOnPosix},
                 {{9600, 9, NOPARITY, ONESTOPBIT}, kRefused},
                 {{9600, 8, 7, ONESTOPBIT}, kRefused},
                 {{9600, 5, NOPARITY, TWOSTOPBITS}, kRefusedOnPosix},
                 {{9600, 8, NOPARITY, ONE5STOPBITS}, kRefusedOnPosix}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.wanted.baud << " " << int(c.wanted.size) << int(c.wanted.parity)
                                        << int(c.wanted.stop));
#if defined(_WIN32)
        if (c.answer == kAppliedOrRefused || c.answer == kRefusedOnPosix) continue;
#endif
        DCB before{}, after{};
        ASSERT_EQ(grab_.GetCommState(a_, &before), 1);
        DCB wanted = WithLine(before, c.wanted);
        const int applied = grab_.SetCommState(a_, &wanted);
        if (c.answer != kAppliedOrRefused) {
            EXPECT_EQ(applied, c.answer == kApplied ? 1 : 0);
        }
#if !defined(_WIN32)
        // Windows leaves the error code to the driver.
        if (c.answer != kApplied && c.answer != kAppliedOrRefused) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        }
#endif
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
#if !defined(_WIN32)
    // Windows does not say what a freshly opened port's time-outs are.
    COMMTIMEOUTS fresh{1, 1, 1, 1, 1};
    ASSERT_TRUE(GetCommTimeouts(b_, &fresh));
    EXPECT_EQ(fresh.ReadIntervalTimeout + fresh.ReadTotalTimeoutMultiplier + fresh.ReadTotalTimeoutConstant +
                  fresh.WriteTotalTimeoutMultiplier + fresh.WriteTotalTimeoutConstant,
              0u);
#endif
    SetTimeouts(a_, 0, 0, 0);
    struct Case {
        DWORD interval, multiplier, constant;
        const char* waiting;  // bytes sent before the read of up to 10
        double minMs, maxMs;
    } cases[] = {
        {MAXDWORD, 0, 0, "", 0, 5000},             // return at once
        {0, 0, 200, "", 200, 20000},               // total: the constant
        {0, 30, 0, "", 300, 20000},                // total: 30 ms per byte asked for
        {MAXDWORD, MAXDWORD, 150, "", 150, 20000},  // any byte, or the constant
#if !defined(_WIN32)
        // Wine waits out the constant here although bytes are waiting.
        {MAXDWORD, MAXDWORD, 20000, "abcd", 0, 10000},  // bytes waiting: no wait for more
#endif
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

TEST_F(SerialPorts, MissingPortsAndOtherFilesAreRefused) {
#if defined(_WIN32)
    const std::string missing = pair_.EndA() + "9", plain = (std::filesystem::temp_directory_path() /
                                                              ("kiru-serial-" + std::to_string(getpid()))).string();
#else
    const std::string missing = pair_.EndA() + "-missing", plain = pair_.EndA() + "-file";
#endif
    EXPECT_EQ(grab_.OpenComPort(Wide(missing).c_str()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 2u);
    EXPECT_FALSE(std::filesystem::exists(missing));  // not created
    std::fclose(std::fopen(plain.c_str(), "w"));
    EXPECT_EQ(grab_.OpenComPort(Wide(plain).c_str()), INVALID_HANDLE_VALUE);  // not a serial device
    std::filesystem::remove(plain);
    EXPECT_EQ(grab_.OpenComPort(nullptr), INVALID_HANDLE_VALUE);
}

}  // namespace
}  // namespace kiru_test
