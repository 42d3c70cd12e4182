// Two serial ports joined back to back, both opened through the grab
// object at 115200 baud, 8 bits, no parity, one stop bit: a pseudo-terminal
// pair on POSIX systems, a pair of COM ports on Windows.
#pragma once

#include <gtest/gtest.h>
#include <kiru/ixgrab.h>

#include <chrono>
#include <string>

#include "platform/kernel.h"
#include "platform/serial.h"
#include "support/poll.h"
#if defined(_WIN32)
#include "platform/win32/com_pair.h"
using PortPair = ComPair;
#else
#include "platform/posix/pty_pair.h"
using PortPair = PtyPair;
#endif

namespace kiru_test {

using Clock = std::chrono::steady_clock;
inline double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

inline std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The line settings a test asks for; the rest of a DCB stays as the port had it.
struct Line {
    DWORD baud;
    BYTE size, parity, stop;
};

inline bool SameLine(const DCB& x, const DCB& y) {
    return x.BaudRate == y.BaudRate && x.ByteSize == y.ByteSize && x.Parity == y.Parity && x.StopBits == y.StopBits;
}

inline DCB WithLine(DCB dcb, const Line& line) {
    dcb.BaudRate = line.baud;
    dcb.ByteSize = line.size;
    dcb.Parity = line.parity;
    dcb.StopBits = line.stop;
    return dcb;
}

class SerialPorts : public ::testing::Test {
protected:
    static constexpr Line kLine{115200, 8, NOPARITY, ONESTOPBIT};

    void SetUp() override {
        bool missing = false;
        std::string why;
        if (!pair_.Start(&missing, &why)) {
            if (missing) GTEST_SKIP() << "socat is not installed, so no pair of ports can be made: " << why;
            FAIL() << why;
        }
        a_ = grab_.OpenComPort(Wide(pair_.EndA()).c_str());
        b_ = grab_.OpenComPort(Wide(pair_.EndB()).c_str());
        ASSERT_NE(a_, INVALID_HANDLE_VALUE);
        ASSERT_NE(b_, INVALID_HANDLE_VALUE);
        for (void* port : {a_, b_}) {
            DCB dcb{};
            dcb.DCBlength = sizeof dcb;
            ASSERT_EQ(grab_.GetCommState(port, &dcb), 1);
            dcb = WithLine(dcb, kLine);
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
        COMSTAT status{};
        status.cbInQue = status.cbOutQue = 99;
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

    PortPair pair_;
    IXGrab grab_;
    void* a_ = INVALID_HANDLE_VALUE;
    void* b_ = INVALID_HANDLE_VALUE;
};

}  // namespace kiru_test
