// krv-dump-bench: the console's memory dump of a whole page (0000-FFFF, 512
// blocks) at 38400 baud against the emulator pacing its bytes at the line
// rate, compared with the time those bytes take on the wire; and how often
// the window's event loop ran during the read.
//
//   krv-dump-bench [ROUNDS]   rounds per case (default 1)
#include "console_state.h"
#include "console_windows.h"
#include "emulator.h"
#include "main_window.h"
#include "message_layer.h"
#include "payment_forms_window.h"
#include "tool_usage.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;
constexpr uint32_t kBaud = 38400;
constexpr uint8_t kPage = 23;

struct Result {
    double seconds = 0;
    double wireSeconds = 0;
    int ticks = 0;         // runs of a 10 ms timer during the read
    double longestGap = 0; // longest time without one, seconds
};

Result RunDump(uint32_t burst) {
    krv::emu::EmulatorOptions options;
    options.paceBaud = kBaud;
    options.paceBurst = burst;
    krv::emu::PrinterEmulator emulator(options);
    krv::emu::RegisterAllCommands(emulator);
    if (!emulator.Start()) {
        std::fprintf(stderr, "krv-dump-bench: no pty\n");
        std::exit(1);
    }
    {
        // Every byte value, so the frames carry their doubled 10h bytes.
        auto lock = emulator.Lock();
        std::vector<uint8_t> memory(0x10000);
        for (size_t i = 0; i < memory.size(); ++i)
            memory[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
        emulator.State().ext.Write(kPage, 0, memory);
    }
    ::setenv("KRV_COM1", emulator.SlavePath().c_str(), 1);

    krv::console::ResetState();
    krv::console::MessageScript script; // answers every box; "No" to saving
    TForm1 form;
    TForm5 forms;
    krv::console::Windows().Form1 = &form;
    krv::console::Windows().Form5 = &forms;
    krv::console::State().StartupArgument = QStringLiteral("-free");
    form.Control<QComboBox>(QStringLiteral("ComboBox7"))->setCurrentIndex(2); // 38400
    form.Button31Click();
    if (!krv::console::State().Connected) {
        std::fprintf(stderr, "krv-dump-bench: no connection\n");
        std::exit(1);
    }
    form.Control<QSpinBox>(QStringLiteral("SpinEdit4"))->setValue(kPage);
    form.Control<QLineEdit>(QStringLiteral("Edit17"))->setText(QStringLiteral("0000"));
    form.Control<QLineEdit>(QStringLiteral("Edit24"))->setText(QStringLiteral("FFFF"));
    script.messages.clear();
    script.answers = {krv::console::kResultNo};

    Result result;
    Clock::time_point lastTick;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        result.longestGap = std::max(result.longestGap, Seconds(now - lastTick).count());
        lastTick = now;
        ++result.ticks;
    });
    timer.start();

    const uint64_t wire0 = emulator.WireBytes();
    const Clock::time_point start = Clock::now();
    lastTick = start;
    form.Button55Click();
    result.seconds = Seconds(Clock::now() - start).count();
    result.longestGap = std::max(result.longestGap, Seconds(Clock::now() - lastTick).count());
    timer.stop();
    result.wireSeconds = static_cast<double>(emulator.WireBytes() - wire0) * 10.0 / kBaud;

    if (script.messages.size() != 1 ||
        !script.messages[0].text.contains(QStringLiteral("блоков - 512"))) {
        std::fprintf(stderr, "krv-dump-bench: the dump did not read 512 blocks: %s\n",
                     script.Texts().join(QStringLiteral(" | ")).toLocal8Bit().constData());
        std::exit(1);
    }
    form.FormClose();
    krv::console::Windows() = krv::console::ConsoleWindows{};
    emulator.Stop();
    return result;
}

} // namespace

constexpr const char *kUsage =
    "usage: krv-dump-bench [ROUNDS]\n"
    "  ROUNDS  rounds a case (default 1, 1..100): the console's dump of a whole\n"
    "          page at 38400 baud, bytes handed over one by one and 8 at a time;\n"
    "          a round takes about 20 s, a line is printed as each ends.\n";

int main(int argc, char **argv) {
    krv::tools::AnswerHelp(argc, argv, kUsage);
    krv::tools::AtMostArguments(argc, argv, 1, kUsage);
    const int rounds =
        static_cast<int>(krv::tools::NumberArgument(argc, argv, 1, 1, 1, 100, kUsage));
    krv::tools::LineBufferedOutput();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("memory dump 0000-FFFF (512 blocks) at %u baud, %d round(s) a case\n", kBaud,
                rounds);
    for (uint32_t burst : {1u, 8u}) {
        for (int round = 0; round < rounds; ++round) {
            const Result r = RunDump(burst);
            std::printf("bytes handed over %s: %7.3f s  wire %7.3f s  ratio %5.3f  "
                        "event loop ran %d times, longest gap %5.1f ms\n",
                        burst == 1 ? "one by one " : "8 at a time", r.seconds, r.wireSeconds,
                        r.seconds / r.wireSeconds, r.ticks, r.longestGap * 1e3);
        }
    }
    return 0;
}
