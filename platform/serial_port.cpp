#include "serial_port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace krv::platform {

namespace {

speed_t SpeedFor(uint32_t baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

using Clock = std::chrono::steady_clock;

// Waits until fd is ready for `events` or the deadline passes; true when ready.
bool WaitReady(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        int ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, ms);
        if (r > 0)
            return true;
        if (r == 0) {
            if (Clock::now() >= deadline)
                return false;
            continue;
        }
        if (errno != EINTR)
            return false;
    }
}

} // namespace

std::string ComDevicePath(unsigned com) {
    std::string var = "KRV_COM" + std::to_string(com);
    if (const char *path = std::getenv(var.c_str()); path != nullptr && *path != '\0')
        return path;
    if (com == 0)
        return {};
    return "/dev/ttyS" + std::to_string(com - 1);
}

bool ComDevicePresent(unsigned com) {
    const std::string path = ComDevicePath(com);
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

SerialPort::~SerialPort() {
    Close();
}

namespace {

// The port's device opened for exclusive use, as a Windows COM port opened
// without sharing: an advisory lock keeps other programs of ours off. -1 and
// errno set when it cannot be had.
int OpenExclusive(unsigned com) {
    const std::string path = ComDevicePath(com);
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !::isatty(fd)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace

int ComOpenError(unsigned com) {
    const int fd = OpenExclusive(com);
    if (fd < 0)
        return errno ? errno : EIO;
    ::close(fd);
    return 0;
}

bool SerialPort::Open(unsigned com) {
    Close();
    const int fd = OpenExclusive(com);
    if (fd < 0)
        return false;
    // TIOCEXCL keeps other openers off too.
    ::ioctl(fd, TIOCEXCL);
    // Opened non-blocking so that a modem line without carrier cannot hang
    // the open; reads block from here on (see ApplyReadTimeout).
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_fd = fd;
    return true;
}

bool SerialPort::SetLine(uint32_t baud) {
    if (m_fd < 0)
        return false;
    speed_t speed = SpeedFor(baud);
    if (speed == B0)
        return false;
    termios tio{};
    if (::tcgetattr(m_fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNPAR | PARMRK);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = ReadTimeoutTenths();
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0)
        return false;
    return ::tcsetattr(m_fd, TCSANOW, &tio) == 0;
}

bool SerialPort::SetTimeouts(const SerialTimeouts &timeouts) {
    if (m_fd < 0)
        return false;
    m_timeouts = timeouts;
    return ApplyReadTimeout();
}

bool SerialPort::Close() {
    if (m_fd < 0)
        return false;
    int fd = m_fd;
    m_fd = -1;
    m_pos = m_len = 0;
    m_lost = false;
    // Give up exclusivity before closing: a pty stays exclusive while any
    // other holder keeps it open, which would lock us out of our own port.
    ::ioctl(fd, TIOCNXCL);
    return ::close(fd) == 0;
}

// Bytes are handed out one at a time, but fetched from the kernel as many as
// have arrived, with one blocking read that the line discipline ends at the
// first byte or at the read time-out (VMIN 0, VTIME): one system call per
// burst, and no poll in between.
//
// A hung-up line (an adapter unplugged, a pty whose other side closed) makes
// every read return at once with nothing or with EIO. Taken as a silent line
// that would spin the caller's loop for its whole reply limit, so an empty or
// failed read asks the kernel whether the line is gone, and a gone line fails
// this and every later read at once until the port is opened again.
int SerialPort::ReadByte(uint8_t &byte) {
    if (m_fd < 0 || m_lost)
        return -1;
    if (m_pos < m_len) {
        byte = m_buffer[m_pos++];
        return 1;
    }
    m_pos = m_len = 0;
    for (;;) {
        ssize_t n = ::read(m_fd, m_buffer, sizeof m_buffer);
        if (n > 0) {
            m_len = static_cast<size_t>(n);
            m_pos = 1;
            byte = m_buffer[0];
            return 1;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (HungUp())
            return -1;
        return n == 0 ? 0 : -1;
    }
}

size_t SerialPort::SkipArrived(uint8_t value) {
    size_t skipped = 0;
    while (m_fd >= 0 && !m_lost) {
        if (m_pos == m_len && !FetchArrived())
            break;
        if (m_buffer[m_pos] != value)
            break;
        ++m_pos;
        ++skipped;
    }
    return skipped;
}

// Refills the empty buffer with what has already arrived, without waiting.
bool SerialPort::FetchArrived() {
    m_pos = m_len = 0;
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0)
        return false;
    ssize_t n = ::read(m_fd, m_buffer, sizeof m_buffer);
    if (n <= 0) {
        HungUp();
        return false;
    }
    m_len = static_cast<size_t>(n);
    return true;
}

bool SerialPort::HungUp() {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
        m_lost = true;
    return m_lost;
}

uint32_t SerialPort::ReadTotalMs() const {
    return m_timeouts.readTotalMultiplierMs + m_timeouts.readTotalConstantMs;
}

// The read time-out lives in the terminal settings: VTIME counts tenths of a
// second (at most 25.5 s); a time-out of 0 makes reads return at once.
uint8_t SerialPort::ReadTimeoutTenths() const {
    return static_cast<uint8_t>(std::min<uint32_t>((ReadTotalMs() + 99) / 100, 255));
}

bool SerialPort::ApplyReadTimeout() {
    termios tio{};
    if (::tcgetattr(m_fd, &tio) != 0)
        return false;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = ReadTimeoutTenths();
    return ::tcsetattr(m_fd, TCSANOW, &tio) == 0;
}

// Writes run non-blocking with their own deadline; reads block in the line
// discipline. The flag is switched around each write.
size_t SerialPort::Write(std::span<const uint8_t> data) {
    if (m_fd < 0 || m_lost)
        return 0;
    const int flags = ::fcntl(m_fd, F_GETFL);
    ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK);
    auto deadline =
        Clock::now() + std::chrono::milliseconds(m_timeouts.writeTotalMultiplierMs * data.size() +
                                                 m_timeouts.writeTotalConstantMs);
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(m_fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            HungUp();
            break;
        }
        if (!WaitReady(m_fd, POLLOUT, deadline))
            break;
    }
    ::fcntl(m_fd, F_SETFL, flags);
    return done;
}

bool SerialPort::Purge(bool output, bool input) {
    if (m_fd < 0 || m_lost)
        return false;
    int which = output && input ? TCIOFLUSH : output ? TCOFLUSH : input ? TCIFLUSH : -1;
    if (input)
        m_pos = m_len = 0;
    if (which < 0)
        return true;
    return ::tcflush(m_fd, which) == 0;
}

} // namespace krv::platform
