// Connecting, the rate scan, model recognition, login, disconnect and the
// rate change, through the real driver and an emulated printer.
#include "support_console.h"

#include "access_modes.h"
#include "connection.h"
#include "console_state.h"
#include "console_windows.h"
#include "main_window.h"
#include "password_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>

#include <chrono>
#include <deque>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace krv::console;
using krv::test::RecordingDriver;
using krv::test::ScopedDriver;

namespace {

// A driver that answers from a script, for the scan alone.
class ScriptedDriver final : public DriverApi {
  public:
    bool Init(int port, uint32_t baud) override {
        calls << QStringLiteral("Init %1 %2").arg(port).arg(baud);
        return Next(initResults);
    }
    bool Close() override {
        calls << QStringLiteral("Close");
        return true;
    }
    bool GetStatus(PrinterStatus &status) override {
        calls << QStringLiteral("GetStatus");
        status.firmware = firmware;
        status.serialNumber = QStringLiteral("КР00001234 15.03.24");
        return Next(statusResults);
    }
    bool ChangeBaudRate(int) override { return true; }
    bool GetPaperState(PaperState &) override { return false; }
    QString ErrorMessage() override { return {}; }
    void CodeError(uint8_t &r, uint8_t &s, uint8_t &e) override { r = s = e = 0; }

    static bool Next(std::deque<bool> &results) {
        if (results.empty())
            return true;
        const bool result = results.front();
        results.pop_front();
        return result;
    }

    QStringList calls;
    std::deque<bool> initResults, statusResults;
    QString firmware = QStringLiteral("МВ-21");
};

} // namespace

// ---- The scan ------------------------------------------------------------------

TEST(RateScan, WrapsFromTheChosenRateAndClosesAfterEachFailure) {
    ScriptedDriver driver;
    driver.statusResults = {false, false, false};
    int opened = 0, closed = 0;
    const ScanResult result =
        ScanForPrinter(driver, 3, 2, true, {[&](int) { ++opened; }, [&] { ++closed; }});
    EXPECT_EQ(result.outcome, ScanOutcome::NoAnswer);
    EXPECT_EQ(driver.calls,
              (QStringList{"Init 3 38400", "GetStatus", "Close", "Init 3 9600", "GetStatus",
                           "Close", "Init 3 19200", "GetStatus", "Close"}));
    EXPECT_EQ(opened, 3);
    EXPECT_EQ(closed, 3);
}

TEST(RateScan, StopsAtTheFirstAnswerAndKeepsThePortOpen) {
    ScriptedDriver driver;
    driver.statusResults = {false, true};
    const ScanResult result = ScanForPrinter(driver, 1, 0, true);
    EXPECT_EQ(result.outcome, ScanOutcome::Found);
    EXPECT_EQ(result.rateIndex, 1);
    EXPECT_EQ(driver.calls,
              (QStringList{"Init 1 9600", "GetStatus", "Close", "Init 1 19200", "GetStatus"}));
}

TEST(RateScan, PortThatCannotBeOpenedEndsTheScan) {
    ScriptedDriver driver;
    driver.initResults = {true, false};
    driver.statusResults = {false};
    EXPECT_EQ(ScanForPrinter(driver, 1, 0, true).outcome, ScanOutcome::PortNotOpened);
    EXPECT_EQ(driver.calls, (QStringList{"Init 1 9600", "GetStatus", "Close", "Init 1 19200"}));
}

TEST(RateScan, DesignationIsComparedExactly) {
    for (const char16_t *firmware : {u"МВ-21 ", u"MB-21", u"МВ-23", u"мв-21", u""}) {
        ScriptedDriver driver;
        driver.firmware = QString::fromUtf16(firmware);
        EXPECT_EQ(ScanForPrinter(driver, 1, 0, true).outcome, ScanOutcome::UnknownDesignation);
        EXPECT_EQ(driver.calls.last(), QStringLiteral("Close")) << "the port is closed";
        EXPECT_EQ(driver.calls.count(QStringLiteral("GetStatus")), 1) << "no further rate is tried";
    }
    EXPECT_TRUE(IsKnownDesignation(QStringLiteral("МВ-22")));
    EXPECT_TRUE(IsSecondModel(QStringLiteral("МВ-22")));
    EXPECT_FALSE(IsSecondModel(QStringLiteral("МВ-21")));
}

// ---- The main window on an emulated printer ----------------------------------------

namespace {

class Connect : public krv::test::ConsoleEmulatorTest {
  protected:
    void SetUp() override {
        ConsoleEmulatorTest::SetUp();
        recorder = std::make_unique<RecordingDriver>(RealDriver());
        scoped = std::make_unique<ScopedDriver>(*recorder);
        form = std::make_unique<TForm1>();
        login = std::make_unique<TForm3>();
        Windows().Form1 = form.get();
        Windows().Form3 = login.get();
        ASSERT_NE(Button(QStringLiteral("Button31")), nullptr) << "the main window has no layout";
    }
    void TearDown() override {
        form->FormClose();
        login.reset();
        form.reset();
        scoped.reset();
        ConsoleEmulatorTest::TearDown();
    }

    QWidget *Button(const QString &name) { return form->Control(name); }
    QComboBox *Combo(const char *name) {
        return form->Control<QComboBox>(QString::fromLatin1(name));
    }
    bool Enabled(const char *name) {
        QWidget *widget = form->Control(QString::fromLatin1(name));
        return widget && widget->isEnabled();
    }
    void SetAutoRate(bool on) {
        form->Control<QCheckBox>(QStringLiteral("CheckBox13"))->setChecked(on);
    }
    void LoginWith(const char *code) {
        script->modalActions.push_back([code](QWidget &window) {
            window.findChild<QLineEdit *>(QStringLiteral("Edit1"))
                ->setText(QString::fromLatin1(code));
            window.findChild<QPushButton *>(QStringLiteral("BitBtn1"))->click();
        });
    }
    QStringList Inits() const { return recorder->calls.filter(QStringLiteral("Init")); }

    std::unique_ptr<RecordingDriver> recorder;
    std::unique_ptr<ScopedDriver> scoped;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TForm3> login;
};

class ConnectSecondModel : public Connect {
  protected:
    krv::emu::EmulatorOptions Options() override {
        krv::emu::EmulatorOptions options;
        options.designation = "МВ-22";
        return options;
    }
};

class ConnectUnknownModel : public Connect {
  protected:
    krv::emu::EmulatorOptions Options() override {
        krv::emu::EmulatorOptions options;
        options.designation = "МВ-20";
        return options;
    }
};

} // namespace

TEST_F(Connect, FreeArgumentInAnyCaseGivesServiceModeWithoutLoginOrWarning) {
    State().StartupArgument = QStringLiteral("-FREE");
    form->Button31Click();
    EXPECT_TRUE(State().Connected);
    EXPECT_EQ(State().AccessMode, kServiceMode);
    EXPECT_TRUE(script->modals.empty());
    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(form->StatusPanelText(0), QStringLiteral("Порт открыт (9600 бит/с) Режим - СЕРВИС"));
    EXPECT_EQ(State().SerialNumberPrefix, QStringLiteral("КР000012"));
    EXPECT_EQ(State().ConnectedPort, 1);
    EXPECT_FALSE(Enabled("Button31"));
    EXPECT_TRUE(Enabled("Button40"));
    EXPECT_TRUE(Enabled("Button34"));
    EXPECT_TRUE(Enabled("BitBtn20")); // barcodes on the first model
    EXPECT_EQ(State().IsFirstModel, -1);
    EXPECT_EQ(State().LogoMaxWidth, 448);
    EXPECT_EQ(State().LogoMaxHeight, 1050);
    EXPECT_TRUE(form->Control(QStringLiteral("Button57"))->isHidden());
}

TEST_F(Connect, LoginCodesChooseTheMode) {
    struct Case {
        const char *code;
        uint8_t mode;
        QString caption, text, panel;
    } cases[] = {
        {"tallowbin", kServiceMode, QStringLiteral("Внимание"),
         QStringLiteral("Программа работает в сервисном режиме! "),
         QStringLiteral("Порт открыт (9600 бит/с) Режим - СЕРВИС")},
        {"QLWkettle", kSupervisorMode, QStringLiteral("Внимание"),
         QStringLiteral("Программа работает в режиме супервизора! "),
         QStringLiteral("Порт открыт (9600 бит/с) Режим - СУПЕРВИЗОР")},
        {"TallowBin", kCashierMode, QStringLiteral("Режим кассира"),
         QStringLiteral(
             " Программа работает режиме кассира!\r\nК некоторым функциям доступ ограничен!"),
         QStringLiteral("Порт открыт (9600 бит/с) Режим - КАССИР")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        script->messages.clear();
        LoginWith(c.code);
        form->Button31Click();
        ASSERT_TRUE(State().Connected);
        EXPECT_EQ(State().AccessMode, c.mode);
        ASSERT_EQ(script->messages.size(), 1u);
        EXPECT_EQ(script->messages[0].caption, c.caption);
        EXPECT_EQ(script->messages[0].text, c.text);
        EXPECT_EQ(form->StatusPanelText(0), c.panel);
        EXPECT_EQ(!form->Control(QStringLiteral("Button57"))->isHidden(),
                  c.mode == kSupervisorMode);
        // Shown means usable: the vendor window must be reachable.
        if (c.mode == kSupervisorMode) {
            EXPECT_TRUE(Enabled("Button57"));
        }
        EXPECT_EQ(Enabled("Button6"), c.mode != kCashierMode);
        EXPECT_EQ(Enabled("Button7"), true);
        EXPECT_EQ(Enabled("Button34"), c.mode != kCashierMode);
        EXPECT_EQ(Enabled("Edit19"), false); // discount type 0 (percent) or cashier
        form->Button40Click();
        EXPECT_FALSE(State().Connected);
    }
}

TEST_F(Connect, AutomaticRateScanTriesThreeRatesAndShowsOneErrorBox) {
    SetAutoRate(true);
    Combo("ComboBox7")->setCurrentIndex(2);
    FailNextStatusQueries(3);
    form->Button31Click();
    EXPECT_EQ(Inits(), (QStringList{"Init 1 38400", "Init 1 9600", "Init 1 19200"}));
    EXPECT_EQ(recorder->calls.count(QStringLiteral("Close")), 3);
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Ошибка!"));
    EXPECT_FALSE(script->messages[0].text.isEmpty());
    EXPECT_FALSE(State().Connected);
    EXPECT_TRUE(Enabled("Button31"));
    EXPECT_EQ(form->StatusPanelText(0), QStringLiteral("Порт закрыт."));
}

TEST_F(Connect, WithoutAutomaticRateOneTryIsMade) {
    SetAutoRate(false);
    FailNextStatusQueries(1);
    form->Button31Click();
    EXPECT_EQ(Inits(), QStringList{"Init 1 9600"});
    EXPECT_EQ(script->messages.size(), 1u);
    EXPECT_FALSE(State().Connected);
}

// A broken link (the printer never answers) must fail a console test in
// seconds: the fixture shortens the driver's reply limit, three full limits
// would take over fifteen.
TEST_F(Connect, ASilentPrinterFailsTheConnectWithinTheFixturesShortLimit) {
    SetAutoRate(false);
    for (int i = 0; i < 3; ++i)
        Emu().QueueFault(krv::emu::Fault::Silence);
    const auto start = std::chrono::steady_clock::now();
    form->Button31Click();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(Emu().Requests(0x00).size(), 3u) << "three tries";
    EXPECT_EQ(script->messages.size(), 1u);
    EXPECT_FALSE(State().Connected);
}

TEST_F(Connect, ScanShowsTheWorkingRate) {
    SetAutoRate(true);
    State().StartupArgument = QStringLiteral("-free");
    FailNextStatusQueries(1);
    form->Button31Click();
    ASSERT_TRUE(State().Connected);
    EXPECT_EQ(Combo("ComboBox7")->currentText(), QStringLiteral("19200"));
    EXPECT_EQ(form->StatusPanelText(0), QStringLiteral("Порт открыт (19200 бит/с) Режим - СЕРВИС"));
}

TEST_F(Connect, PortThatCannotBeOpenedIsReported) {
    recorder->failInitFromCall = 1;
    form->Button31Click();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_TRUE(script->messages[0].text.startsWith(QStringLiteral("Невозможно открыть порт!\n")))
        << script->messages[0].text.toStdString();
    EXPECT_FALSE(State().Connected);
    EXPECT_TRUE(Enabled("Button31"));
    EXPECT_EQ(form->StatusPanelText(0), QStringLiteral("Порт закрыт."));
}

TEST_F(Connect, PortBeyondTheDriversRangeIsNotOpened) {
    Combo("ComboBox6")->setCurrentIndex(255); // COM256
    form->Button31Click();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_TRUE(script->messages[0].text.startsWith(QStringLiteral("Невозможно открыть порт!\n")))
        << script->messages[0].text.toStdString();
    EXPECT_TRUE(Emu().Requests().empty());
}

TEST_F(ConnectUnknownModel, UnknownDesignationIsRefused) {
    State().StartupArgument = QStringLiteral("-free");
    form->Button31Click();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(
        script->messages[0].text,
        QStringLiteral("Программа работает только с версиями прошивок \"МВ-21\" и \"МВ-22\"!"));
    EXPECT_FALSE(State().Connected);
    EXPECT_EQ(recorder->calls.last(), QStringLiteral("Close"));
    EXPECT_TRUE(Enabled("Button31"));
    EXPECT_EQ(form->StatusPanelText(0), QStringLiteral("Порт закрыт."));
}

TEST_F(ConnectSecondModel, SecondModelLimitsAndControls) {
    State().StartupArgument = QStringLiteral("-free");
    form->Button31Click();
    ASSERT_TRUE(State().Connected);
    EXPECT_EQ(State().IsFirstModel, 0);
    EXPECT_EQ(State().LogoMaxWidth, 352);
    EXPECT_EQ(State().LogoMaxHeight, 312);
    EXPECT_FALSE(Enabled("BitBtn20"));
    EXPECT_FALSE(Enabled("Edit40"));
    for (const char *name : {"CheckBox15", "GroupBox29", "GroupBox30"})
        ASSERT_NE(form->Control(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_TRUE(form->Control(QStringLiteral("CheckBox15"))->isHidden());
    EXPECT_FALSE(form->Control(QStringLiteral("GroupBox29"))->isHidden());
    EXPECT_TRUE(form->Control(QStringLiteral("GroupBox30"))->isHidden());
}

TEST_F(Connect, DisconnectEmptiesTheCodeFieldsAndClosesEvenWhenCloseFails) {
    State().StartupArgument = QStringLiteral("-free");
    form->Button31Click();
    ASSERT_TRUE(State().Connected);
    auto *fiscal = form->Control<QLineEdit>(QStringLiteral("Edit14"));
    ASSERT_NE(fiscal, nullptr);
    fiscal->setText(QStringLiteral("123"));
    recorder->failClose = true;
    form->Button40Click();
    EXPECT_FALSE(State().Connected);
    EXPECT_TRUE(fiscal->text().isEmpty());
    EXPECT_TRUE(Enabled("Button31"));
    EXPECT_FALSE(Enabled("Button40"));
    EXPECT_EQ(form->StatusPanelText(0), QStringLiteral("Порт закрыт."));
    EXPECT_TRUE(script->messages.empty());
}

// A failed call leaves the link open while the port's device is there (a
// silent printer may answer the next call); once the device is gone (the
// adapter unplugged: the emulator's side of the line hangs up) the session
// counts the link as lost, the status bar says closed and the connect button
// works again, and a connect after it finds the printer anew.
TEST_F(Connect, LostPortShowsClosedAndConnectIsOfferedAgain) {
    State().StartupArgument = QStringLiteral("-free");
    form->Button31Click();
    ASSERT_TRUE(State().Connected);
    const QString openPanel = form->StatusPanelText(0);
    struct Case {
        const char *what;
        bool hangUp;
        bool connectedAfter;
    };
    for (const Case &c : {Case{"silent printer", false, true}, Case{"port gone", true, false}}) {
        SCOPED_TRACE(c.what);
        script->messages.clear();
        recorder->calls.clear();
        if (c.hangUp)
            Emu().Stop();
        else
            FailNextStatusQueries(1);
        form->Button1Click();
        ASSERT_EQ(script->messages.size(), 1u) << script->Texts().join(" | ").toStdString();
        EXPECT_EQ(script->messages[0].text,
                  QStringLiteral("Превышено время ожидания ответа от принтера!"));
        EXPECT_EQ(State().Connected, c.connectedAfter);
        EXPECT_EQ(State().LinkLost, !c.connectedAfter);
        EXPECT_EQ(LinkEstablished(), c.connectedAfter);
        EXPECT_EQ(Enabled("Button31"), !c.connectedAfter);
        EXPECT_EQ(Enabled("Button40"), c.connectedAfter);
        EXPECT_EQ(form->StatusPanelText(0),
                  c.connectedAfter ? openPanel : QStringLiteral("Порт закрыт."));
        EXPECT_EQ(recorder->calls.contains(QStringLiteral("Close")), !c.connectedAfter)
            << "the lost port is released";
    }

    krv::emu::PrinterEmulator replugged;
    krv::emu::RegisterAllCommands(replugged);
    ASSERT_TRUE(replugged.Start());
    setenv("KRV_COM1", replugged.SlavePath().c_str(), 1);
    script->messages.clear();
    form->Button31Click();
    EXPECT_TRUE(State().Connected);
    EXPECT_FALSE(State().LinkLost);
    EXPECT_FALSE(Enabled("Button31"));
    EXPECT_EQ(form->StatusPanelText(0), openPanel);
    form->Button40Click();
    replugged.Stop();
}

TEST_F(Connect, RateChangeReopensTheConnectedPortAndKeepsTheMode) {
    LoginWith("QLWkettle");
    form->Button31Click();
    ASSERT_TRUE(State().Connected);
    script->messages.clear();
    recorder->calls.clear();
    Combo("ComboBox6")->setCurrentIndex(4); // the list moved on; the link did not
    Combo("ComboBox8")->setCurrentIndex(2);
    form->Button34Click();
    EXPECT_EQ(recorder->calls, (QStringList{"ChangeBaudRate 2", "Close", "Init 1 38400"}));
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].text,
              QStringLiteral("Установлена новая скорость связи: 38400 бит/с!"));
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Информация"));
    EXPECT_EQ(Combo("ComboBox7")->currentIndex(), 2);
    EXPECT_EQ(form->StatusPanelText(0),
              QStringLiteral("Порт открыт (38400 бит/с) Режим - СУПЕРВИЗОР"));
    EXPECT_TRUE(State().Connected);
}

TEST_F(Connect, RefusedRateChangeShowsTheDriversBytesAndChangesNothing) {
    State().StartupArgument = QStringLiteral("-free");
    form->Button31Click();
    ASSERT_TRUE(State().Connected);
    const QString panel = form->StatusPanelText(0);
    // The printer refuses with result byte 3 and status byte 8: the box must
    // name each byte under its own caption.
    Emu().SetHandler(0x26, [](krv::emu::PrinterEmulator &, std::span<const uint8_t>) {
        krv::emu::Reply reply = krv::emu::Reply::Error(3);
        reply.status = 8;
        return reply;
    });
    recorder->calls.clear();
    Combo("ComboBox8")->setCurrentIndex(2);
    form->Button34Click();
    EXPECT_EQ(recorder->calls, QStringList{"ChangeBaudRate 2"}) << "no close, no reopen";
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Ошибка!"));
    EXPECT_TRUE(script->messages[0].text.endsWith(
        QStringLiteral("\r\nБайт статуса: 8\r\nБайт результата: 3")))
        << script->messages[0].text.toStdString();
    EXPECT_EQ(Combo("ComboBox7")->currentIndex(), 0);
    EXPECT_EQ(form->StatusPanelText(0), panel);
    EXPECT_TRUE(State().Connected);
}

TEST_F(Connect, FailedReopenAfterRateChangeLeavesTheConsoleDisconnected) {
    State().StartupArgument = QStringLiteral("-free");
    form->Button31Click();
    ASSERT_TRUE(State().Connected);
    recorder->failInitFromCall = recorder->initCount + 1;
    Combo("ComboBox8")->setCurrentIndex(1);
    form->Button34Click();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_TRUE(script->messages[0].text.startsWith(QStringLiteral("Невозможно открыть порт!\n")))
        << script->messages[0].text.toStdString();
    EXPECT_FALSE(State().Connected);
    EXPECT_TRUE(Enabled("Button31"));
    EXPECT_FALSE(Enabled("Button34"));
    EXPECT_EQ(form->StatusPanelText(0), QStringLiteral("Порт закрыт."));
    // And a new connect works.
    recorder->failInitFromCall = 0;
    form->Button31Click();
    EXPECT_TRUE(State().Connected);
}

TEST_F(Connect, FailedCloseDuringRateChangeStillReopens) {
    State().StartupArgument = QStringLiteral("-free");
    form->Button31Click();
    ASSERT_TRUE(State().Connected);
    recorder->failClose = true;
    Combo("ComboBox8")->setCurrentIndex(1);
    form->Button34Click();
    EXPECT_TRUE(State().Connected);
    EXPECT_EQ(form->StatusPanelText(0), QStringLiteral("Порт открыт (19200 бит/с) Режим - СЕРВИС"));
}

TEST_F(Connect, ClosingTheWindowWhileConnectedClosesTheLinkOnce) {
    State().StartupArgument = QStringLiteral("-free");
    form->Button31Click();
    ASSERT_TRUE(State().Connected);
    recorder->calls.clear();
    form->close();
    form->FormClose();
    EXPECT_EQ(recorder->calls, QStringList{"Close"});
    EXPECT_EQ(State().DriverLibraryHandle, nullptr);
}

TEST_F(Connect, AutomaticRateDisablesTheRateList) {
    SetAutoRate(true);
    EXPECT_FALSE(Enabled("ComboBox7"));
    SetAutoRate(false);
    EXPECT_TRUE(Enabled("ComboBox7"));
}

TEST_F(ConnectSecondModel, FirstModelAfterTheSecondInTheSameRun) {
    State().StartupArgument = QStringLiteral("-free");
    form->Button31Click();
    ASSERT_EQ(State().IsFirstModel, 0);
    form->Button40Click();
    {
        auto lock = Emu().Lock();
        Emu().State().designation = "МВ-21";
    }
    form->Button31Click();
    ASSERT_TRUE(State().Connected);
    EXPECT_EQ(State().IsFirstModel, -1);
    EXPECT_EQ(State().LogoMaxWidth, 448);
    EXPECT_TRUE(Enabled("BitBtn20"));
    EXPECT_TRUE(Enabled("Edit41"));
    EXPECT_FALSE(form->Control(QStringLiteral("CheckBox15"))->isHidden());
    EXPECT_TRUE(form->Control(QStringLiteral("GroupBox29"))->isHidden());
}

TEST_F(Connect, CashierModeKeepsTheDiscountAmountOffWhateverTheType) {
    auto *type = Combo("ComboBox9");
    ASSERT_NE(type, nullptr);
    for (int index = 0; index < type->count(); ++index) {
        type->setCurrentIndex(index);
        LoginWith("");
        form->Button31Click();
        ASSERT_TRUE(State().Connected);
        EXPECT_FALSE(Enabled("Edit19")) << index;
        EXPECT_FALSE(Enabled("Edit18")) << index;
        EXPECT_FALSE(Enabled("Edit14"));
        form->Button40Click();
    }
}

TEST_F(Connect, DriverErrorBoxCarriesTheDriversText) {
    FailNextStatusQueries(1);
    form->Button31Click();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].text, recorder->ErrorMessage() + DriverErrorDetail());
    EXPECT_FALSE(script->messages[0].text.contains(QChar(QChar::ReplacementCharacter)));
    EXPECT_EQ(script->messages[0].parent, form.get());
}

namespace {

// Stands in for the payment-form window: notes when its reader runs and
// what the link looked like then.
class PaymentFormsProbe : public QWidget {
    Q_OBJECT
  public:
    int reads = 0;
    bool linkUpAtRead = false;
    bool connectedAtRead = true;
  public slots:
    void Button1Click() {
        ++reads;
        linkUpAtRead = LinkEstablished();
        connectedAtRead = State().Connected;
    }
};

} // namespace

TEST_F(Connect, PaymentFormNamesAreReadAfterTheLogin) {
    PaymentFormsProbe probe;
    Windows().Form5 = &probe;
    LoginWith("tallowbin");
    form->Button31Click();
    EXPECT_EQ(probe.reads, 1);
    EXPECT_TRUE(probe.linkUpAtRead) << "the reader sees the link as open";
    EXPECT_TRUE(probe.connectedAtRead) << "the session and the windows agree";
    EXPECT_TRUE(LinkEstablished());
    form->Button40Click();
    EXPECT_FALSE(LinkEstablished());
}

TEST_F(Connect, ModemButtonShowsTheModemWindowOverTheMainWindow) {
    QDialog modem;
    Windows().Form8 = &modem;
    form->Button56Click();
    ASSERT_EQ(script->modals.size(), 1u);
    EXPECT_EQ(script->modals[0].window, &modem);
    EXPECT_EQ(script->modals[0].centreOn, form.get());
    EXPECT_TRUE(Enabled("Button56"));
}

// The box names the device and why it does not open, for each reason the
// system gives.
TEST(PortNotOpened, NamesTheDeviceAndTheReason) {
    const QString folder = QDir::tempPath() + QStringLiteral("/krv-port-%1").arg(::getpid());
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString plainFile = folder + QStringLiteral("/plain");
    const QString closedFile = folder + QStringLiteral("/closed");
    for (const QString &file : {plainFile, closedFile}) {
        QFile made(file);
        ASSERT_TRUE(made.open(QIODevice::WriteOnly));
    }
    ASSERT_EQ(::chmod(closedFile.toLocal8Bit().constData(), 0), 0);
    // A terminal another program holds.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const QString held = QString::fromLocal8Bit(::ptsname(master));
    const int holder = ::open(held.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    const struct {
        QString device;
        QString reason;
    } cases[] = {
        {folder + QStringLiteral("/missing"), QStringLiteral("нет такого устройства")},
        {plainFile, QStringLiteral("это не последовательный порт")},
        {closedFile, QStringLiteral("группу dialout")},
        {held, QStringLiteral("порт занят другой программой")},
    };
    for (const auto &c : cases) {
        if (c.device == closedFile && ::geteuid() == 0)
            continue; // the superuser opens it regardless
        ::setenv("KRV_COM7", c.device.toLocal8Bit().constData(), 1);
        const QString text = PortNotOpenedText(7);
        EXPECT_TRUE(text.startsWith(QStringLiteral("Невозможно открыть порт!\n") + c.device + ": "))
            << text.toStdString();
        EXPECT_TRUE(text.contains(c.reason)) << text.toStdString();
    }
    ::unsetenv("KRV_COM7");
    ::close(holder);
    ::close(master);
    QDir(folder).removeRecursively();
}

#include "test_connection.moc"
