// The serial-port layer on a pseudo-terminal.
#include "serial_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>

using krv::platform::SerialPort;
using krv::platform::SerialTimeouts;

namespace {

constexpr unsigned kCom = 42;

class PtyTest : public ::testing::Test {
  protected:
    int master = -1;
    void SetUp() override {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        ::setenv(("KRV_COM" + std::to_string(kCom)).c_str(), ::ptsname(master), 1);
    }
    void TearDown() override { ::close(master); }

    SerialTimeouts Timeouts(uint32_t readMs) {
        SerialTimeouts t;
        t.readTotalConstantMs = readMs;
        t.writeTotalConstantMs = 300;
        return t;
    }
    void Send(const std::string &bytes) {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
};

} // namespace

TEST_F(PtyTest, OpensExclusivelyAndCanBeOpenedAgainAfterClose) {
    SerialPort first, second;
    ASSERT_TRUE(first.Open(kCom));
    EXPECT_FALSE(second.Open(kCom)) << "a port is for one user at a time";
    EXPECT_TRUE(first.Close());
    EXPECT_FALSE(first.Close());
    EXPECT_TRUE(second.Open(kCom));
}

TEST_F(PtyTest, MissingDeviceDoesNotOpen) {
    ::setenv("KRV_COM43", "/nonexistent/tty", 1);
    SerialPort port;
    EXPECT_FALSE(port.Open(43));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.SetLine(9600));
}

TEST_F(PtyTest, SetsEightNoneOneWithoutFlowControlAtTheDriversRates) {
    SerialPort port;
    ASSERT_TRUE(port.Open(kCom));
    EXPECT_FALSE(port.SetLine(0));
    EXPECT_FALSE(port.SetLine(12345));
    for (uint32_t baud : {9600u, 19200u, 38400u}) {
        ASSERT_TRUE(port.SetLine(baud)) << baud;
        termios tio{};
        int fd = ::open(::ptsname(master), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        // Root may open an exclusive tty; others read the settings through the master.
        ASSERT_EQ(::tcgetattr(fd >= 0 ? fd : master, &tio), 0);
        if (fd >= 0)
            ::close(fd);
        EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_FALSE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS));
        EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ISTRIP | ICRNL));
        EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO));
    }
}

TEST_F(PtyTest, ReadsBytesOneByOneAndWaitsOutTheTimeoutWhenSilent) {
    SerialPort port;
    ASSERT_TRUE(port.Open(kCom));
    ASSERT_TRUE(port.SetLine(9600));
    ASSERT_TRUE(port.SetTimeouts(Timeouts(200)));
    Send("\x06\x10\x02");
    uint8_t byte = 0;
    ASSERT_EQ(port.ReadByte(byte), 1);
    EXPECT_EQ(byte, 0x06);
    ASSERT_EQ(port.ReadByte(byte), 1);
    EXPECT_EQ(byte, 0x10);
    ASSERT_EQ(port.ReadByte(byte), 1);
    EXPECT_EQ(byte, 0x02);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.ReadByte(byte), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190))
        << "an empty read comes back only after the read time-out";
}

TEST_F(PtyTest, PurgeDropsWhatArrivedBeforeIt) {
    SerialPort port;
    ASSERT_TRUE(port.Open(kCom));
    ASSERT_TRUE(port.SetLine(19200));
    ASSERT_TRUE(port.SetTimeouts(Timeouts(100)));
    Send("abc");
    uint8_t byte = 0;
    ASSERT_EQ(port.ReadByte(byte), 1); // "bc" may now sit in our own buffer
    ASSERT_TRUE(port.Purge(true, true));
    Send("z");
    ASSERT_EQ(port.ReadByte(byte), 1);
    EXPECT_EQ(byte, 'z');
}

TEST_F(PtyTest, WritesEveryByte) {
    SerialPort port;
    ASSERT_TRUE(port.Open(kCom));
    ASSERT_TRUE(port.SetLine(38400));
    ASSERT_TRUE(port.SetTimeouts(Timeouts(100)));
    const uint8_t frame[] = {0x10, 0x02, 0x01, 0x00, 0xFF, 0x10, 0x03};
    EXPECT_EQ(port.Write(frame), sizeof frame);
    uint8_t got[16];
    ssize_t n = ::read(master, got, sizeof got);
    ASSERT_EQ(n, static_cast<ssize_t>(sizeof frame));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(got), 7),
              std::string(reinterpret_cast<const char *>(frame), 7));
}

TEST_F(PtyTest, SkipsOnlyTheArrivedRunOfOneByteWithoutWaiting) {
    SerialPort port;
    ASSERT_TRUE(port.Open(kCom));
    ASSERT_TRUE(port.SetLine(9600));
    ASSERT_TRUE(port.SetTimeouts(Timeouts(2000)));
    Send("\x16\x16\x16"
         "A\x16");
    uint8_t byte = 0;
    ASSERT_EQ(port.ReadByte(byte), 1);
    EXPECT_EQ(byte, 0x16);
    EXPECT_EQ(port.SkipArrived(0x16), 2u);
    ASSERT_EQ(port.ReadByte(byte), 1);
    EXPECT_EQ(byte, 'A') << "the first other byte stays to be read";
    EXPECT_EQ(port.SkipArrived(0x16), 1u);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.SkipArrived(0x16), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000))
        << "nothing arrived: no wait for the read time-out";
}
