// krv-console-loops-bench: the console's two long loops, bulk article
// programming and the stress test, run by their own handlers against the
// emulator paced at a line rate, timed against the wire time of the bytes
// the line carried in the same run.
//
//   krv-console-loops-bench [ARTICLES] [RECEIPTS] [POSITIONS] [BAUD] [BURST]
//     ARTICLES   articles of the bulk run (default 1000; 10000 is the whole run)
//     RECEIPTS   receipts of the stress run (default 20)
//     POSITIONS  positions per receipt (default 8)
//     BAUD       line rate (default 38400)
//     BURST      bytes the emulator hands over at once (default 1)
//
// Both loops are stopped from inside, by a click on their stop button that
// the window handles between two steps, as an operator's would be; the
// stress run's pause after each receipt is left out of the figures.
#include "article_logic.h"
#include "console_state.h"
#include "console_windows.h"
#include "driver_binding.h"
#include "emulator.h"
#include "main_window.h"
#include "message_layer.h"
#include "stress_test_window.h"
#include "tool_usage.h"

#include "KRV_T100DRV.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
using krv::emu::PrinterEmulator;

struct Figures {
    double seconds = 0;
    uint64_t wireBytes = 0;
};

double WireSeconds(uint64_t bytes, uint32_t baud) {
    return static_cast<double>(bytes) * 10.0 / baud;
}

void Report(const char *name, const Figures &f, uint32_t baud, int steps, const char *step) {
    const double wire = WireSeconds(f.wireBytes, baud);
    std::printf("%-28s %6d %-9s %8.2f s  wire %8.2f s  ratio %5.3f  %7.2f ms/%s\n", name, steps,
                step, f.seconds, wire, f.seconds / wire, 1e3 * f.seconds / steps, step);
}

// Clicks `button` from the window's event handling once `done` holds.
void StopWhen(QObject *owner, std::function<bool()> done, QPushButton *button) {
    auto *timer = new QTimer(owner);
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, owner, [timer, done, button] {
        if (!done())
            return;
        timer->stop();
        timer->deleteLater();
        button->click();
    });
    timer->start();
}

int Count(const PrinterEmulator &emu, uint8_t command) {
    return static_cast<int>(emu.Requests(command).size());
}

Figures BulkThroughTheWindow(TForm1 &form, PrinterEmulator &emu, int articles) {
    auto *button = form.Control<QPushButton>(QStringLiteral("Button41"));
    emu.ClearRecords();
    if (articles < krv::console::kBulkArticleCount)
        StopWhen(
            &form, [&emu, articles] { return Count(emu, 0x22) >= articles; }, button);
    const uint64_t bytes0 = emu.WireBytes();
    const auto start = Clock::now();
    button->click();
    Figures f;
    f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    f.wireBytes = emu.WireBytes() - bytes0;
    if (Count(emu, 0x22) != articles) {
        std::fprintf(stderr, "bulk run wrote %d articles, not %d\n", Count(emu, 0x22), articles);
        std::exit(1);
    }
    return f;
}

Figures BulkDirect(PrinterEmulator &emu, int articles) {
    const uint64_t bytes0 = emu.WireBytes();
    const auto start = Clock::now();
    for (int n = 1; n <= articles; ++n) {
        if (!krv::console::CallProgramArticle(0, krv::console::BulkArticleRequest(n))) {
            std::fprintf(stderr, "article %d refused\n", n);
            std::exit(1);
        }
    }
    Figures f;
    f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    f.wireBytes = emu.WireBytes() - bytes0;
    return f;
}

Figures StressThroughTheWindow(TForm2 &stress, PrinterEmulator &emu, int receipts, int positions) {
    emu.ClearRecords();
    stress.SpinEdit1->setValue(positions);
    StopWhen(
        &stress, [&emu, receipts] { return Count(emu, 0x14) >= receipts; }, stress.Button2);
    const uint64_t bytes0 = emu.WireBytes();
    const auto start = Clock::now();
    stress.Button1Click();
    Figures f;
    f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    f.wireBytes = emu.WireBytes() - bytes0;
    if (Count(emu, 0x14) != receipts) {
        std::fprintf(stderr, "stress run printed %d receipts, not %d\n", Count(emu, 0x14),
                     receipts);
        std::exit(1);
    }
    return f;
}

} // namespace

constexpr const char *kUsage =
    "usage: krv-console-loops-bench [ARTICLES] [RECEIPTS] [POSITIONS] [BAUD] [BURST]\n"
    "  ARTICLES   articles of the bulk run (default 1000, 1..10000; 10000 is the whole run)\n"
    "  RECEIPTS   receipts of the stress run (default 20, 1..10000)\n"
    "  POSITIONS  positions per receipt (default 8, 1..255)\n"
    "  BAUD       line rate: 9600, 19200 or 38400 (default)\n"
    "  BURST      bytes the emulator hands over at once (default 1, 1..64)\n"
    "The default run takes about 30 s.\n";

int main(int argc, char **argv) {
    using krv::tools::NumberArgument;
    krv::tools::AnswerHelp(argc, argv, kUsage);
    krv::tools::AtMostArguments(argc, argv, 5, kUsage);
    const int articles = static_cast<int>(
        NumberArgument(argc, argv, 1, 1000, 1, krv::console::kBulkArticleCount, kUsage));
    const int receipts = static_cast<int>(NumberArgument(argc, argv, 2, 20, 1, 10000, kUsage));
    const int positions = static_cast<int>(NumberArgument(argc, argv, 3, 8, 1, 255, kUsage));
    const auto baud =
        static_cast<uint32_t>(NumberArgument(argc, argv, 4, 38400, 9600, 38400, kUsage));
    const auto burst = static_cast<uint32_t>(NumberArgument(argc, argv, 5, 1, 1, 64, kUsage));
    if (baud != 9600 && baud != 19200 && baud != 38400)
        krv::tools::ExitWithUsage(kUsage, false, "BAUD is 9600, 19200 or 38400");
    krv::tools::LineBufferedOutput();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    using namespace krv::console;

    krv::emu::EmulatorOptions options;
    options.paceBaud = baud;
    options.paceBurst = burst;
    PrinterEmulator emu(options);
    krv::emu::RegisterAllCommands(emu);
    if (!emu.Start()) {
        std::fprintf(stderr, "no pty\n");
        return 1;
    }
    ::setenv("KRV_COM1", emu.SlavePath().c_str(), 1);

    // Every box is answered and recorded instead of shown.
    MessageScript script;
    TForm1 form;
    Windows().Form1 = &form;
    TForm2 stress;
    Windows().Form2 = &stress;
    QTemporaryDir logFolder;
    stress.SetLogPath(QDir(logFolder.path()).filePath(QStringLiteral("Logo.txt")));
    stress.SetReceiptPause(0);

    State().StartupArgument = QStringLiteral("-free");
    const int rateIndex = baud == 9600 ? 0 : baud == 19200 ? 1 : 2;
    form.Control<QComboBox>(QStringLiteral("ComboBox7"))->setCurrentIndex(rateIndex);
    form.Button31Click();
    if (!State().Connected) {
        std::fprintf(stderr, "no link: %s\n", script.Texts().join(" | ").toLocal8Bit().constData());
        return 1;
    }
    script.messages.clear();

    std::printf("emulator paced at %u bit/s, %u byte(s) handed over at once\n", baud, burst);
    const Figures direct = BulkDirect(emu, articles);
    Report("bulk, driver calls alone", direct, baud, articles, "article");
    const Figures bulk = BulkThroughTheWindow(form, emu, articles);
    Report("bulk, through the window", bulk, baud, articles, "article");
    if (articles < kBulkArticleCount)
        std::printf("  10000 articles extrapolated: %.1f s (wire %.1f s)\n",
                    bulk.seconds * kBulkArticleCount / articles,
                    WireSeconds(bulk.wireBytes, baud) * kBulkArticleCount / articles);
    const Figures run = StressThroughTheWindow(stress, emu, receipts, positions);
    Report("stress, through the window", run, baud, receipts, "receipt");
    std::printf("  %d positions a receipt, pause after each receipt left out\n", positions);

    form.FormClose();
    emu.Stop();
    return 0;
}
