// krv-link-bench: the cost of one driver transaction against the emulator,
// compared with the same exchange done directly on the pty (the link's own
// limit) and with the bytes' time on the wire.
//
//   krv-link-bench [N]      N transactions per case (default 300)
#include "KRV_T100DRV.h"
#include "emulator.h"
#include "link.h"
#include "tool_usage.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Seconds = std::chrono::duration<double>;
constexpr uint8_t kPort = 250;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Measure {
    double wallPerCall = 0; // seconds
    double cpuPerCall = 0;  // seconds of the calling thread
};

Measure TimeDriver(int n) {
    const std::vector<uint8_t> status{0x00};
    auto start = std::chrono::steady_clock::now();
    double cpu0 = ThreadCpuSeconds();
    for (int i = 0; i < n; ++i) {
        // A reply must answer this very request, or the figures mean nothing.
        if (!krv::drv::PrinterTransaction(status) ||
            krv::drv::LastReply().header.sequence != krv::drv::SequenceCounter()) {
            std::fprintf(stderr, "krv-link-bench: transaction %d failed\n", i);
            std::exit(1);
        }
    }
    double cpu = ThreadCpuSeconds() - cpu0;
    double wall = Seconds(std::chrono::steady_clock::now() - start).count();
    return {wall / n, cpu / n};
}

// The same request and reply without the driver: write the frame, read until
// the reply's closing DLE ETX is in, as fast as the pty allows. (Replies
// differ in length by their stuffed bytes, so the end is found, not counted.)
Measure TimeDirect(const std::string &slave, int n) {
    int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::perror("open");
        std::exit(1);
    }
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    uint8_t buffer[256];
    auto start = std::chrono::steady_clock::now();
    double cpu0 = ThreadCpuSeconds();
    for (int i = 0; i < n; ++i) {
        uint8_t seq = static_cast<uint8_t>(1 + i % 200);
        std::vector<uint8_t> frame = krv::drv::BuildRequestFrame(seq, std::vector<uint8_t>{0x00});
        ::tcflush(fd, TCIOFLUSH);
        if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
            std::exit(1);
        std::vector<uint8_t> reply;
        while (!krv::drv::EndsWithFrameEnd(reply)) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0) {
                std::fprintf(stderr, "krv-link-bench: direct exchange timed out\n");
                std::exit(1);
            }
            ssize_t r = ::read(fd, buffer, sizeof buffer);
            if (r > 0)
                reply.insert(reply.end(), buffer, buffer + r);
        }
    }
    double cpu = ThreadCpuSeconds() - cpu0;
    double wall = Seconds(std::chrono::steady_clock::now() - start).count();
    ::close(fd);
    return {wall / n, cpu / n};
}

void RunCase(const char *name, uint32_t paceBaud, uint32_t burst, int n) {
    krv::emu::EmulatorOptions options;
    options.paceBaud = paceBaud;
    options.paceBurst = burst;
    krv::emu::PrinterEmulator emulator(options);
    krv::emu::RegisterAllCommands(emulator);
    if (!emulator.Start()) {
        std::fprintf(stderr, "krv-link-bench: no pty\n");
        std::exit(1);
    }
    std::string var = "KRV_COM" + std::to_string(kPort);
    ::setenv(var.c_str(), emulator.SlavePath().c_str(), 1);
    const uint32_t lineBaud = paceBaud ? paceBaud : 38400;
    if (FPInit(kPort, lineBaud, 3, 3) == 0) {
        std::fprintf(stderr, "krv-link-bench: FPInit failed\n");
        std::exit(1);
    }
    // One warm-up exchange gives the sizes on the wire.
    krv::drv::PrinterTransaction(std::vector<uint8_t>{0x00});
    FPClose();
    const size_t replyBytes = krv::drv::LastReply().raw.size();
    const size_t requestBytes = krv::drv::BuildRequestFrame(1, std::vector<uint8_t>{0x00}).size();

    // Alternate the two, five rounds each, and keep the best round of
    // each: both then see the same warm caches and the same machine load.
    Measure driver{1e9, 0}, direct{1e9, 0};
    for (int round = 0; round < 5; ++round) {
        if (FPInit(kPort, lineBaud, 3, 3) == 0)
            std::exit(1);
        Measure d = TimeDriver(n);
        FPClose();
        if (d.wallPerCall < driver.wallPerCall)
            driver = d;
        Measure x = TimeDirect(emulator.SlavePath(), n);
        if (x.wallPerCall < direct.wallPerCall)
            direct = x;
        std::printf("%-16s round %d: %9.1f us/call  direct %9.1f us\n", name, round + 1,
                    d.wallPerCall * 1e6, x.wallPerCall * 1e6);
    }
    emulator.Stop();

    std::printf("%-16s best %9.1f us/call  direct %9.1f us  ratio %6.3f", name,
                driver.wallPerCall * 1e6, direct.wallPerCall * 1e6,
                driver.wallPerCall / direct.wallPerCall);
    if (paceBaud) {
        double wire = static_cast<double>(requestBytes + replyBytes) * 10.0 / paceBaud;
        std::printf("  wire %8.1f us  vs wire %6.3f", wire * 1e6, driver.wallPerCall / wire);
    }
    std::printf("  driver CPU %5.2f %%\n", 100.0 * driver.cpuPerCall / driver.wallPerCall);
}

} // namespace

constexpr const char *kUsage =
    "usage: krv-link-bench [N]\n"
    "  N  status transactions a case (default 300, 1..100000); the paced cases\n"
    "     take N/10 at 9600 and N/4 at 38400 baud, five rounds each, against the\n"
    "     emulator and directly on the pty. The default run takes about 70 s.\n";

int main(int argc, char **argv) {
    krv::tools::AnswerHelp(argc, argv, kUsage);
    krv::tools::AtMostArguments(argc, argv, 1, kUsage);
    const int n =
        static_cast<int>(krv::tools::NumberArgument(argc, argv, 1, 300, 1, 100000, kUsage));
    krv::tools::LineBufferedOutput();
    std::printf("status request (00), %d transactions a case\n", n);
    const int slow = n / 10 > 0 ? n / 10 : 1, fast = n / 4 > 0 ? n / 4 : 1;
    RunCase("instant", 0, 1, n);
    std::printf("paced, every byte handed over on its own:\n");
    RunCase("  9600", 9600, 1, slow);
    RunCase("  38400", 38400, 1, fast);
    std::printf("paced, bytes handed over as an 8-byte UART receive FIFO does:\n");
    RunCase("  9600", 9600, 8, slow);
    RunCase("  38400", 38400, 8, fast);
    return 0;
}
