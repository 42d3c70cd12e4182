#include "platform/serial.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <linux/serial.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "platform/kernel.h"
#include "platform/paths.h"

namespace {

using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------- ports

// A read or write that is waiting in poll. Each has its own eventfd, so that
// aborting or closing wakes exactly the operations it concerns.
struct Waiter {
    bool reading = false;
    int wakeFd = -1;
    bool aborted = false;  // guarded by the port's lock
    bool closed = false;   // guarded by the port's lock
};

struct SerialPort {
    explicit SerialPort(int descriptor) : fd(descriptor) {}
    ~SerialPort() {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);  // also releases the flock
    }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    const int fd;
    std::mutex lock;
    COMMTIMEOUTS timeouts{};     // guarded by lock
    std::vector<Waiter*> waiters;  // guarded by lock
    bool closed = false;           // guarded by lock
    serial_icounter_struct counters{};  // guarded by lock; last counters seen
    bool hasCounters = false;           // guarded by lock
};

// Handle values are 2 modulo 4 and grow without reuse: they never equal a
// kernel-object handle (multiples of 4) nor a pseudo-handle.
struct PortTable {
    std::mutex lock;
    std::unordered_map<std::uintptr_t, std::shared_ptr<SerialPort>> ports;
    std::uintptr_t lastId = 0;
};

PortTable& Ports() {
    static PortTable* table = new PortTable;  // outlives static destructors
    return *table;
}

HANDLE InsertPort(std::shared_ptr<SerialPort> port) {
    PortTable& table = Ports();
    std::lock_guard<std::mutex> guard(table.lock);
    const std::uintptr_t value = (++table.lastId << 2) | 2;
    table.ports.emplace(value, std::move(port));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<SerialPort> FindPort(HANDLE handle) {
    PortTable& table = Ports();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.ports.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == table.ports.end()) {
        errno = EBADF;
        return nullptr;
    }
    return it->second;
}

std::shared_ptr<SerialPort> RemovePort(HANDLE handle) {
    PortTable& table = Ports();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.ports.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == table.ports.end()) {
        errno = EBADF;
        return nullptr;
    }
    std::shared_ptr<SerialPort> port = std::move(it->second);
    table.ports.erase(it);
    return port;
}

void Wake(const Waiter& waiter) {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(waiter.wakeFd, &one, sizeof one);
}

// Reads the driver's line-error counters; false where it keeps none (ptys).
bool ReadCounters(int fd, serial_icounter_struct& counters) { return ::ioctl(fd, TIOCGICOUNT, &counters) == 0; }

// ---------------------------------------------------------------- waiting

enum class WaitResult { Ready, TimedOut, Aborted, Closed, Failed };

// Registers an operation with its port for the time it may wait, so that
// PurgeComm and CloseSerialPort can wake it.
class WaitScope {
public:
    WaitScope(SerialPort& port, bool reading) : port_(port) { waiter_.reading = reading; }
    ~WaitScope() {
        if (waiter_.wakeFd < 0) return;
        {
            std::lock_guard<std::mutex> guard(port_.lock);
            auto& list = port_.waiters;
            list.erase(std::remove(list.begin(), list.end(), &waiter_), list.end());
        }
        ::close(waiter_.wakeFd);
    }
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;

    // Waits until the device reports `events` (or a hang-up or error, left
    // in *revents), the deadline passes, or the operation is woken.
    WaitResult Wait(short events, Clock::time_point deadline, bool hasDeadline, short* revents) {
        *revents = 0;
        if (waiter_.wakeFd < 0 && !Register()) return WaitResult::Failed;
        int timeoutMs = -1;
        if (hasDeadline) {
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero()) return WaitResult::TimedOut;
            // Round up, so that the wait never ends just short of the deadline.
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            timeoutMs = static_cast<int>(std::min<long long>(ms, INT_MAX));
        }
        pollfd fds[2] = {{port_.fd, events, 0}, {waiter_.wakeFd, POLLIN, 0}};
        const int n = ::poll(fds, 2, timeoutMs);
        if (n < 0) return errno == EINTR ? WaitResult::Ready : WaitResult::Failed;
        if (fds[1].revents != 0) {
            std::lock_guard<std::mutex> guard(port_.lock);
            if (waiter_.closed) return WaitResult::Closed;
            if (waiter_.aborted) return WaitResult::Aborted;
        }
        *revents = fds[0].revents;
        return WaitResult::Ready;  // a time-out shows on the next deadline check
    }

private:
    bool Register() {
        const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (fd < 0) return false;
        std::lock_guard<std::mutex> guard(port_.lock);
        waiter_.wakeFd = fd;
        if (port_.closed) {  // closed before this operation got here
            waiter_.closed = true;
            Wake(waiter_);
        }
        port_.waiters.push_back(&waiter_);
        return true;
    }

    SerialPort& port_;
    Waiter waiter_;
};

// Fails the operation for a wait outcome other than Ready/TimedOut.
BOOL FailFor(WaitResult result) {
    if (result == WaitResult::Aborted) errno = ECANCELED;
    if (result == WaitResult::Closed) errno = EBADF;
    return FALSE;
}

constexpr short kTroubleEvents = POLLHUP | POLLERR | POLLNVAL;

// True when the device reports a hang-up or an error without waiting.
bool LineGone(int fd) {
    pollfd probe{fd, POLLIN, 0};
    return ::poll(&probe, 1, 0) > 0 && (probe.revents & kTroubleEvents) != 0;
}

// ---------------------------------------------------------------- errors

// The Windows error code for errno, for callers that read GetLastError.
DWORD WindowsError(int error) {
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV: return 2;     // ERROR_FILE_NOT_FOUND
    case EACCES:
    case EPERM:
    case EBUSY: return 5;      // ERROR_ACCESS_DENIED (also: port in use)
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOTTY:
    case ENOTSUP: return 50;   // ERROR_NOT_SUPPORTED
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ECANCELED: return 995;  // ERROR_OPERATION_ABORTED
    default: return 31;          // ERROR_GEN_FAILURE
    }
}

// Sets the last error from errno when ok is FALSE; returns ok.
BOOL Report(BOOL ok) {
    if (!ok) {
        const int error = errno;
        SetLastError(WindowsError(error));
        errno = error;
    }
    return ok;
}

// ---------------------------------------------------------------- line settings

struct BaudEntry {
    DWORD baud;
    speed_t speed;
};

constexpr BaudEntry kBaudRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

bool SpeedForBaud(DWORD baud, speed_t* speed) {
    for (const BaudEntry& entry : kBaudRates) {
        if (entry.baud == baud) {
            *speed = entry.speed;
            return true;
        }
    }
    return false;
}

DWORD BaudForSpeed(speed_t speed) {
    for (const BaudEntry& entry : kBaudRates) {
        if (entry.speed == speed) return entry.baud;
    }
    return 0;
}

tcflag_t SizeFlag(BYTE byteSize) {
    switch (byteSize) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

BYTE ByteSizeOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

constexpr tcflag_t kLineFlags = CSIZE | PARENB | PARODD | CSTOPB;

// Builds the termios wanted for dcb from current; false for values the
// mapping does not support.
bool ApplyDcb(const DCB& dcb, termios& settings) {
    speed_t speed;
    if (!SpeedForBaud(dcb.BaudRate, &speed)) return false;
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return false;
    if (dcb.Parity != NOPARITY && dcb.Parity != ODDPARITY && dcb.Parity != EVENPARITY) return false;
    // 1.5 stop bits exist only with 5-bit bytes, 2 only with longer ones;
    // the driver's "two stop bits" gives 1.5 with 5-bit bytes.
    bool twoStopBits;
    switch (dcb.StopBits) {
    case ONESTOPBIT: twoStopBits = false; break;
    case ONE5STOPBITS:
        if (dcb.ByteSize != 5) return false;
        twoStopBits = true;
        break;
    case TWOSTOPBITS:
        if (dcb.ByteSize == 5) return false;
        twoStopBits = true;
        break;
    default: return false;
    }
    if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0) return false;
    settings.c_cflag &= ~kLineFlags;
    settings.c_cflag |= SizeFlag(dcb.ByteSize);
    if (dcb.Parity != NOPARITY) {
        settings.c_cflag |= PARENB;
        if (dcb.Parity == ODDPARITY) settings.c_cflag |= PARODD;
        settings.c_iflag |= INPCK;
    } else {
        settings.c_iflag &= ~INPCK;
    }
    if (twoStopBits) settings.c_cflag |= CSTOPB;
    return true;
}

// Raw mode: bytes pass unchanged in both directions and reads never wait in
// the driver; speed, byte size, parity and stop bits are kept.
bool MakeRaw(int fd) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) return false;
    settings.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    settings.c_oflag &= ~OPOST;
    settings.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~CRTSCTS;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

std::uint64_t TotalTimeout(DWORD multiplier, DWORD constant, DWORD count) {
    return static_cast<std::uint64_t>(multiplier) * count + constant;
}

// ---------------------------------------------------------------- operations

HANDLE OpenSerialPortImpl(const wchar_t* path) {
    if (path == nullptr) {
        errno = EINVAL;
        return INVALID_HANDLE_VALUE;
    }
    const std::string native = kiru::platform::ToNativePath(path);
    const int fd = ::open(native.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    int error = 0;
    if (!::isatty(fd)) {
        error = ENOTTY;
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? EBUSY : errno;
    } else if (::ioctl(fd, TIOCEXCL) != 0 || !MakeRaw(fd)) {
        error = errno;
    }
    if (error != 0) {
        ::close(fd);
        errno = error;
        return INVALID_HANDLE_VALUE;
    }
    auto port = std::make_shared<SerialPort>(fd);
    port->hasCounters = ReadCounters(fd, port->counters);
    return InsertPort(std::move(port));
}

BOOL CloseSerialPortImpl(HANDLE handle) {
    const std::shared_ptr<SerialPort> port = RemovePort(handle);
    if (!port) return FALSE;
    std::lock_guard<std::mutex> guard(port->lock);
    port->closed = true;
    for (Waiter* waiter : port->waiters) {
        waiter->closed = true;
        Wake(*waiter);
    }
    // The descriptor closes with the last operation still using the port.
    return TRUE;
}

BOOL ReadSerialPortImpl(HANDLE handle, void* buffer, DWORD count, DWORD* read) {
    if (read != nullptr) *read = 0;
    const std::shared_ptr<SerialPort> port = FindPort(handle);
    if (!port) return FALSE;
    if (count == 0) return TRUE;
    if (buffer == nullptr) {
        errno = EINVAL;
        return FALSE;
    }
    COMMTIMEOUTS timeouts;
    {
        std::lock_guard<std::mutex> guard(port->lock);
        timeouts = port->timeouts;
    }
    const DWORD interval = timeouts.ReadIntervalTimeout;
    const bool returnAtOnce =
        interval == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == 0 && timeouts.ReadTotalTimeoutConstant == 0;
    const bool returnOnAny = interval == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == MAXDWORD &&
                             timeouts.ReadTotalTimeoutConstant > 0 && timeouts.ReadTotalTimeoutConstant < MAXDWORD;
    const bool useInterval = interval != 0 && interval != MAXDWORD;
    bool hasTotal = timeouts.ReadTotalTimeoutMultiplier != 0 || timeouts.ReadTotalTimeoutConstant != 0;
    std::uint64_t totalMs =
        TotalTimeout(timeouts.ReadTotalTimeoutMultiplier, timeouts.ReadTotalTimeoutConstant, count);
    if (returnOnAny) totalMs = timeouts.ReadTotalTimeoutConstant;

    const Clock::time_point start = Clock::now();
    const Clock::time_point totalDeadline = start + std::chrono::milliseconds(totalMs);
    Clock::time_point lastByte = start;
    auto* out = static_cast<unsigned char*>(buffer);
    DWORD got = 0;
    bool hungUp = false;
    WaitScope scope(*port, true);
    BOOL ok = TRUE;
    for (;;) {
        const ssize_t n = ::read(port->fd, out + got, count - got);
        if (n > 0) {
            got += static_cast<DWORD>(n);
            lastByte = Clock::now();
            if (got == count || returnOnAny) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            ok = FALSE;
            break;
        }
        if (hungUp) {  // nothing left to read and the line is gone
            errno = EIO;
            ok = FALSE;
            break;
        }
        if (returnAtOnce) {
            // An empty read is also what a line that is gone gives.
            if (got == 0 && LineGone(port->fd)) {
                errno = EIO;
                ok = FALSE;
            }
            break;
        }
        // The nearer of the total deadline and, once a byte has arrived, the
        // interval deadline.
        bool hasDeadline = hasTotal;
        Clock::time_point deadline = totalDeadline;
        if (useInterval && got > 0) {
            const Clock::time_point intervalDeadline = lastByte + std::chrono::milliseconds(interval);
            deadline = hasDeadline ? std::min(deadline, intervalDeadline) : intervalDeadline;
            hasDeadline = true;
        }
        short revents = 0;
        const WaitResult result = scope.Wait(POLLIN, deadline, hasDeadline, &revents);
        if (result == WaitResult::TimedOut) break;
        if (result != WaitResult::Ready) {
            ok = FailFor(result);
            break;
        }
        if (revents & kTroubleEvents) hungUp = true;
    }
    if (read != nullptr) *read = got;
    return ok;
}

BOOL WriteSerialPortImpl(HANDLE handle, const void* data, DWORD count, DWORD* written) {
    if (written != nullptr) *written = 0;
    const std::shared_ptr<SerialPort> port = FindPort(handle);
    if (!port) return FALSE;
    if (count == 0) return TRUE;
    if (data == nullptr) {
        errno = EINVAL;
        return FALSE;
    }
    COMMTIMEOUTS timeouts;
    {
        std::lock_guard<std::mutex> guard(port->lock);
        timeouts = port->timeouts;
    }
    const bool hasTotal = timeouts.WriteTotalTimeoutMultiplier != 0 || timeouts.WriteTotalTimeoutConstant != 0;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(TotalTimeout(timeouts.WriteTotalTimeoutMultiplier,
                                                              timeouts.WriteTotalTimeoutConstant, count));
    const auto* in = static_cast<const unsigned char*>(data);
    DWORD done = 0;
    bool hungUp = false;
    WaitScope scope(*port, false);
    BOOL ok = TRUE;
    while (done < count) {
        const ssize_t n = ::write(port->fd, in + done, count - done);
        if (n > 0) {
            done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            ok = FALSE;
            break;
        }
        if (hungUp) {
            errno = EIO;
            ok = FALSE;
            break;
        }
        short revents = 0;
        const WaitResult result = scope.Wait(POLLOUT, deadline, hasTotal, &revents);
        if (result == WaitResult::TimedOut) break;
        if (result != WaitResult::Ready) {
            ok = FailFor(result);
            break;
        }
        if (revents & kTroubleEvents) hungUp = true;
    }
    if (written != nullptr) *written = done;
    return ok;
}

BOOL GetCommStateImpl(HANDLE handle, DCB* dcb) {
    const std::shared_ptr<SerialPort> port = FindPort(handle);
    if (!port) return FALSE;
    if (dcb == nullptr) {
        errno = EINVAL;
        return FALSE;
    }
    termios settings{};
    if (::tcgetattr(port->fd, &settings) != 0) return FALSE;
    const tcflag_t cflag = settings.c_cflag;
    dcb->DCBlength = sizeof(DCB);
    dcb->BaudRate = BaudForSpeed(::cfgetospeed(&settings));
    dcb->ByteSize = ByteSizeOf(cflag);
    dcb->Parity = (cflag & PARENB) == 0 ? NOPARITY : (cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
    dcb->StopBits = (cflag & CSTOPB) == 0 ? ONESTOPBIT : dcb->ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    return TRUE;
}

BOOL SetCommStateImpl(HANDLE handle, DCB* dcb) {
    const std::shared_ptr<SerialPort> port = FindPort(handle);
    if (!port) return FALSE;
    if (dcb == nullptr) {
        errno = EINVAL;
        return FALSE;
    }
    termios before{};
    if (::tcgetattr(port->fd, &before) != 0) return FALSE;
    termios wanted = before;
    if (!ApplyDcb(*dcb, wanted)) {
        errno = EINVAL;
        return FALSE;
    }
    if (::tcsetattr(port->fd, TCSANOW, &wanted) != 0) return FALSE;
    // tcsetattr succeeds when any part was applied; check every part was.
    termios now{};
    if (::tcgetattr(port->fd, &now) != 0) return FALSE;
    if ((now.c_cflag & kLineFlags) != (wanted.c_cflag & kLineFlags) ||
        ::cfgetospeed(&now) != ::cfgetospeed(&wanted) || ::cfgetispeed(&now) != ::cfgetispeed(&wanted)) {
        ::tcsetattr(port->fd, TCSANOW, &before);
        errno = EINVAL;
        return FALSE;
    }
    return TRUE;
}

BOOL GetCommTimeoutsImpl(HANDLE handle, COMMTIMEOUTS* timeouts) {
    const std::shared_ptr<SerialPort> port = FindPort(handle);
    if (!port) return FALSE;
    if (timeouts == nullptr) {
        errno = EINVAL;
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(port->lock);
    *timeouts = port->timeouts;
    return TRUE;
}

BOOL SetCommTimeoutsImpl(HANDLE handle, COMMTIMEOUTS* timeouts) {
    const std::shared_ptr<SerialPort> port = FindPort(handle);
    if (!port) return FALSE;
    if (timeouts == nullptr) {
        errno = EINVAL;
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(port->lock);
    port->timeouts = *timeouts;
    return TRUE;
}

BOOL ClearCommErrorImpl(HANDLE handle, DWORD* errors, COMSTAT* status) {
    const std::shared_ptr<SerialPort> port = FindPort(handle);
    if (!port) return FALSE;
    int inQueue = 0;
    int outQueue = 0;
    if (::ioctl(port->fd, FIONREAD, &inQueue) != 0 || ::ioctl(port->fd, TIOCOUTQ, &outQueue) != 0) return FALSE;
    DWORD seen = 0;
    serial_icounter_struct counters{};
    if (ReadCounters(port->fd, counters)) {
        std::lock_guard<std::mutex> guard(port->lock);
        if (port->hasCounters) {
            const serial_icounter_struct& last = port->counters;
            if (counters.frame != last.frame) seen |= CE_FRAME;
            if (counters.overrun != last.overrun) seen |= CE_OVERRUN;
            if (counters.parity != last.parity) seen |= CE_RXPARITY;
            if (counters.brk != last.brk) seen |= CE_BREAK;
            if (counters.buf_overrun != last.buf_overrun) seen |= CE_RXOVER;
        }
        port->counters = counters;
        port->hasCounters = true;
    }
    if (errors != nullptr) *errors = seen;
    if (status != nullptr) {
        status->cbInQue = static_cast<DWORD>(inQueue);
        status->cbOutQue = static_cast<DWORD>(outQueue);
    }
    return TRUE;
}

BOOL PurgeCommImpl(HANDLE handle, DWORD flags) {
    const std::shared_ptr<SerialPort> port = FindPort(handle);
    if (!port) return FALSE;
    if ((flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) != 0) {
        errno = EINVAL;
        return FALSE;
    }
    if (flags & (PURGE_TXABORT | PURGE_RXABORT)) {
        std::lock_guard<std::mutex> guard(port->lock);
        for (Waiter* waiter : port->waiters) {
            if ((waiter->reading && (flags & PURGE_RXABORT)) || (!waiter->reading && (flags & PURGE_TXABORT))) {
                waiter->aborted = true;
                Wake(*waiter);
            }
        }
    }
    const bool input = (flags & PURGE_RXCLEAR) != 0;
    const bool output = (flags & PURGE_TXCLEAR) != 0;
    if (input || output) {
        const int queue = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
        if (::tcflush(port->fd, queue) != 0) return FALSE;
    }
    return TRUE;
}

BOOL FlushFileBuffersImpl(HANDLE handle) {
    const std::shared_ptr<SerialPort> port = FindPort(handle);
    if (!port) return FALSE;
    return ::tcdrain(port->fd) == 0 ? TRUE : FALSE;
}

}  // namespace

// Every function reports a failure through the last error as well as errno.

namespace kiru::platform {

HANDLE OpenSerialPort(const wchar_t* path) {
    const HANDLE port = OpenSerialPortImpl(path);
    Report(port != INVALID_HANDLE_VALUE);
    return port;
}

BOOL CloseSerialPort(HANDLE port) { return Report(CloseSerialPortImpl(port)); }

BOOL ReadSerialPort(HANDLE port, void* buffer, DWORD count, DWORD* read) {
    return Report(ReadSerialPortImpl(port, buffer, count, read));
}

BOOL WriteSerialPort(HANDLE port, const void* data, DWORD count, DWORD* written) {
    return Report(WriteSerialPortImpl(port, data, count, written));
}

}  // namespace kiru::platform

BOOL GetCommState(HANDLE port, DCB* dcb) { return Report(GetCommStateImpl(port, dcb)); }
BOOL SetCommState(HANDLE port, DCB* dcb) { return Report(SetCommStateImpl(port, dcb)); }
BOOL GetCommTimeouts(HANDLE port, COMMTIMEOUTS* timeouts) { return Report(GetCommTimeoutsImpl(port, timeouts)); }
BOOL SetCommTimeouts(HANDLE port, COMMTIMEOUTS* timeouts) { return Report(SetCommTimeoutsImpl(port, timeouts)); }
BOOL ClearCommError(HANDLE port, DWORD* errors, COMSTAT* status) {
    return Report(ClearCommErrorImpl(port, errors, status));
}
BOOL PurgeComm(HANDLE port, DWORD flags) { return Report(PurgeCommImpl(port, flags)); }
BOOL FlushFileBuffers(HANDLE port) { return Report(FlushFileBuffersImpl(port)); }
