// Telmar23: the service console of the KRV-T100 / KRV-T200 fiscal printers.
#include "console_state.h"
#include "main_window.h"
#include "password_dialog.h"

#include "compound_tax_window.h"
#include "console_windows.h"
#include "modem_diagnostics_window.h"
#include "payment_forms_window.h"
#include "receipt_header_window.h"
#include "stress_test_window.h"
#include "tape_lock_window.h"
#include "vendor_window.h"
#include "widgets.h"

#include "tool_usage.h"
#include "toolkit_display.h"

#include <QApplication>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[]) {
    // Answered before the toolkit starts, so that it needs no display.
    krv::tools::AnswerHelp(argc, argv,
                           "usage: Telmar23 [-free] [toolkit options]\n"
                           "  -free  service mode without the access code\n"
                           "Without it the console asks for the access code once a printer\n"
                           "answers. COMn is the device KRV_COM<n> names, else /dev/ttyS<n-1>.\n");
    // Without a display the toolkit would end the program with a core dump
    // and advice to reinstall it.
    if (!krv::platform::DisplayAvailable(argc, argv)) {
        std::fputs("Telmar23: no display to show the console on: start it on a desktop, "
                   "over ssh -X, or with QT_QPA_PLATFORM=offscreen for no window\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    // The program's title (not shown in window captions).
    QApplication::setApplicationName(QStringLiteral("Telmar 2.3"));
    // Every window and box in the font the layouts were drawn for, with the
    // console's style.
    krv::console::UseConsoleLook();

    using krv::console::Windows;
    // The main window first: its creation checks the driver library before
    // any other window exists. The others are created in a fixed order
    // (the vendor window before the modem window) and live until the end.
    TForm1 form1;
    Windows().Form1 = &form1;
    auto form2 = std::make_unique<TForm2>();
    Windows().Form2 = form2.get();
    auto form3 = std::make_unique<TForm3>();
    Windows().Form3 = form3.get();
    auto form4 = std::make_unique<TForm4>();
    Windows().Form4 = form4.get();
    auto form5 = std::make_unique<TForm5>();
    Windows().Form5 = form5.get();
    auto form6 = std::make_unique<TForm6>();
    Windows().Form6 = form6.get();
    auto form7 = std::make_unique<TForm7>();
    Windows().Form7 = form7.get();
    auto form9 = std::make_unique<TForm9>();
    Windows().Form9 = form9.get();
    auto form8 = std::make_unique<TForm8>();
    Windows().Form8 = form8.get();

    if (krv::console::State().TerminationRequested) {
        form1.FormClose();
        return 1;
    }
    form1.show();
    return app.exec();
}
