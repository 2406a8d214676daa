// The link on a real pty against peers that misbehave as hardware does: a
// line that hangs up, a peer that goes away mid-reply; and callers that break
// the one-call-at-a-time rule.
#include "support_link.h"

#include "codepage.h"
#include "errors.h"
#include "link.h"

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

using namespace krv::drv;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

namespace {

constexpr uint8_t kPort = 201;

double ProcessCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// A pty whose master side the test plays; the driver is opened on its slave.
class PeerTest : public ::testing::Test {
  protected:
    int master = -1;
    void SetUp() override {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        ::setenv(("KRV_COM" + std::to_string(kPort)).c_str(), ::ptsname(master), 1);
        ASSERT_EQ(FPInit(kPort, 9600, 3, 3), -1);
    }
    void TearDown() override {
        FPClose();
        CloseMaster();
    }
    void CloseMaster() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    // Waits (bounded) for the driver's request to reach the master.
    bool AwaitRequest() {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0)
            return false;
        uint8_t buffer[64];
        return ::read(master, buffer, sizeof buffer) > 0;
    }
    void Write(const Bytes &bytes) {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    static std::string ErrorText() { return krv::platform::Cp1251ToUtf8(FPErrorMessage()); }
};

// Every call on a gone line fails at once, with the time-out text, and keeps
// doing so until the port is opened again.
void ExpectEveryCallFailsAtOnce() {
    const double cpu = ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (int call = 0; call < 3; ++call) {
        EXPECT_EQ(FPOpenBox(), 0);
        EXPECT_EQ(krv::platform::Cp1251ToUtf8(FPErrorMessage()), kTimeoutText);
        EXPECT_EQ(LastLinkFault(), LinkFault::PortLost);
        const char *text = nullptr;
        EXPECT_EQ(L5GetStateText(&text), 0);
    }
    EXPECT_LT(ProcessCpuSeconds() - cpu, 0.5) << "no call may spin on a gone line";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << "nor wait out its reply limit";
}

} // namespace

TEST_F(PeerTest, HungUpLineFailsAtOnce) {
    // The adapter unplugged: the kernel hangs the tty up under the open port.
    const std::string slave = ::ptsname(master);
    const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::ioctl(fd, TIOCVHANGUP) != 0) {
        if (fd >= 0)
            ::close(fd);
        GTEST_SKIP() << "no right to hang a tty up here";
    }
    ::close(fd);
    ExpectEveryCallFailsAtOnce();
}

TEST_F(PeerTest, PeerClosingMidReplyFailsAtOnce) {
    std::thread peer([this] {
        if (AwaitRequest())
            Write(Bytes{0x06, 0x10, 0x02, 0x01, 0x00});
        CloseMaster();
    });
    const double cpu = ProcessCpuSeconds();
    EXPECT_EQ(FPOpenBox(), 0);
    peer.join();
    EXPECT_LT(ProcessCpuSeconds() - cpu, 0.5);
    ExpectEveryCallFailsAtOnce();
    EXPECT_TRUE(LinkIsOpen()) << "the port stays the caller's to close";
    EXPECT_EQ(FPClose(), -1);
}

// Callers that break the one-call-at-a-time rule get their calls one after
// the other, each whole (the sanitizer build watches the heap).
using krv::test::EmulatorTest;

TEST_F(EmulatorTest, ConcurrentCallsAreSerialised) {
    std::atomic<int> failures{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t)
        callers.emplace_back([&failures] {
            for (int i = 0; i < 25; ++i) {
                const char *serial = nullptr;
                if (FPGetStatus(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &serial,
                                nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr) != -1)
                    ++failures;
            }
        });
    for (auto &caller : callers)
        caller.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(Emu().Requests().size(), 100u);
}
