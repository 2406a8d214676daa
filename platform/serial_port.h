// Serial port over termios, in place of the Windows COM-port calls.
//
// A port is named by its COM number. COMn is the device named by the
// environment variable KRV_COM<n> when it is set, otherwise /dev/ttyS<n-1>.
// That mapping lives in ComDevicePath() and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace krv::platform {

std::string ComDevicePath(unsigned com);
// Whether the device behind COM<com> is there: false once an adapter is
// unplugged or the far side of a pseudo terminal is gone, even while a port
// opened on it is still held. Asks the file system only; nothing is opened.
bool ComDevicePresent(unsigned com);
// Why SerialPort::Open(com) fails now, found by trying it again: 0 when the
// port opens (it is released at once), else the system's error of the step
// that failed: ENOENT (no such device), EACCES (no right to read and write
// it), EWOULDBLOCK (another program holds it), ENOTTY (not a terminal).
int ComOpenError(unsigned com);

// The Windows time-out model: a read of n bytes gives up after
// readTotalMultiplierMs * n + readTotalConstantMs; a write of n bytes after
// writeTotalMultiplierMs * n + writeTotalConstantMs. The Windows interval
// time-out has no counterpart: with one-byte reads it never matters.
struct SerialTimeouts {
    uint32_t readTotalMultiplierMs = 0;
    uint32_t readTotalConstantMs = 0;
    uint32_t writeTotalMultiplierMs = 0;
    uint32_t writeTotalConstantMs = 0;
};

// What the link layer needs of a port. The link never touches termios itself,
// so tests can stand a scripted double behind it.
class SerialIo {
  public:
    virtual ~SerialIo() = default;
    // One byte: 1 when a byte was read, 0 when the read time-out passed with
    // nothing (only after that time has really passed), -1 on an error or
    // when the line is gone (hung up, peer closed): then at once, every time.
    virtual int ReadByte(uint8_t &byte) = 0;
    // Drops the bytes equal to `value` that have already arrived and wait at
    // the head of the input, without waiting for more; the number dropped.
    virtual size_t SkipArrived(uint8_t value) = 0;
    // Number of bytes written (less than data.size() on a time-out or error).
    virtual size_t Write(std::span<const uint8_t> data) = 0;
    virtual bool Purge(bool output, bool input) = 0;
    virtual bool IsOpen() const = 0;
};

class SerialPort final : public SerialIo {
  public:
    SerialPort() = default;
    ~SerialPort() override;
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Opens COM<com> for exclusive use (no other process may open it while we
    // hold it). False when the device is missing, busy or not a terminal.
    bool Open(unsigned com);
    // 8 data bits, no parity, one stop bit, no flow control, raw mode.
    // False for a rate the port cannot take (0 included).
    bool SetLine(uint32_t baud);
    bool SetTimeouts(const SerialTimeouts &timeouts);
    bool Close();

    int ReadByte(uint8_t &byte) override;
    size_t SkipArrived(uint8_t value) override;
    size_t Write(std::span<const uint8_t> data) override;
    bool Purge(bool output, bool input) override;
    bool IsOpen() const override { return m_fd >= 0; }

  private:
    uint32_t ReadTotalMs() const;
    uint8_t ReadTimeoutTenths() const;
    bool ApplyReadTimeout();
    bool HungUp();
    bool FetchArrived();

    int m_fd = -1;
    SerialTimeouts m_timeouts;
    uint8_t m_buffer[256];
    size_t m_pos = 0, m_len = 0;
    // Set when the line was found hung up; only a new Open clears it.
    bool m_lost = false;
};

} // namespace krv::platform
