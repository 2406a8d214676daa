// Test support for the console: a driver recorder in front of the real
// driver, an emulator reached through the driver's COM mapping, and a
// stand-in window holding just the named controls.
#pragma once

#include "driver_binding.h"
#include "emulator.h"
#include "main_window.h"
#include "message_layer.h"
#include "payment_forms_window.h"

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace krv::test {

// Forwards every call to `inner` and records it ("Init 1 38400", "Close",
// "GetStatus", "ChangeBaudRate 2", "GetPaperState"). Calls can be made to
// fail without reaching the driver.
class RecordingDriver final : public krv::console::DriverApi {
  public:
    explicit RecordingDriver(krv::console::DriverApi &inner) : m_inner(inner) {}

    bool Init(int port, uint32_t baud) override;
    bool Close() override;
    bool GetStatus(krv::console::PrinterStatus &status) override;
    bool ChangeBaudRate(int rateIndex) override;
    bool GetPaperState(krv::console::PaperState &state) override;
    QString ErrorMessage() override;
    void CodeError(uint8_t &result, uint8_t &status, uint8_t &extFlags) override;

    QStringList calls;
    int failInitFromCall = 0; // the n-th Init (1-based) and later fail; 0 never
    bool failClose = false;
    int initCount = 0;
    // Fixed last-error bytes instead of the driver's.
    std::optional<std::pair<uint8_t, uint8_t>> errorBytes; // result, status
    std::optional<QString> errorText;

  private:
    krv::console::DriverApi &m_inner;
};

// Installs a driver on the console for the scope.
class ScopedDriver {
  public:
    explicit ScopedDriver(krv::console::DriverApi &driver) { krv::console::SetDriver(&driver); }
    ~ScopedDriver() { krv::console::SetDriver(nullptr); }
    ScopedDriver(const ScopedDriver &) = delete;
    ScopedDriver &operator=(const ScopedDriver &) = delete;
};

// Every test starts from the console's start-up state and a message script.
class ConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::unique_ptr<krv::console::MessageScript> script;
};

// ConsoleTest with an emulated printer on COM1 (KRV_COM1) with every command.
class ConsoleEmulatorTest : public ConsoleTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    virtual krv::emu::EmulatorOptions Options() { return {}; }
    // The device COM1 names; the in-process emulator's pty unless a test
    // serves the port another way.
    virtual std::string Port() { return m_emulator->SlavePath(); }
    krv::emu::PrinterEmulator &Emu() { return *m_emulator; }
    // Makes the next `count` status queries fail quickly (NAK frames for
    // every try of the driver).
    void FailNextStatusQueries(int count);

  private:
    std::unique_ptr<krv::emu::PrinterEmulator> m_emulator;
};

// ConsoleEmulatorTest with the main window and the payment-form window
// created and the console connected in service mode ("-free"), the driver
// behind `recorder`; the connect's boxes, calls and requests are cleared.
// Money texts use the locale's separator; Locale() picks the locale first.
class ConnectedConsoleTest : public ConsoleEmulatorTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    virtual QLocale Locale();

    // Controls of the main window by name.
    void SetText(const char *name, const QString &text);
    QString Text(const char *name); // a line edit's or a label's text
    void SetChecked(const char *name, bool on);
    void SetIndex(const char *name, int index);
    QStringList DriverCalls(const QString &prefix) const { return recorder->calls.filter(prefix); }
    // The command bytes of the requests the emulator received, in order, and
    // the first request of one command (empty when none).
    std::vector<uint8_t> Commands();
    krv::emu::Bytes Request(uint8_t command);
    // Every request of one command, in order.
    std::vector<krv::emu::Bytes> Requests(uint8_t command);
    // Forgets the requests, driver calls and boxes so far.
    void Clear();

    std::unique_ptr<RecordingDriver> recorder;
    std::unique_ptr<ScopedDriver> scoped;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TForm5> forms; // the payment-form names window

  private:
    QLocale m_previousLocale;
};

// A bare window holding one widget of a fitting class for every operation
// control plus Button31, Button57, ComboBox7, ComboBox9 and CheckBox14.
std::unique_ptr<QWidget> MakeControlTree();

// Path of a file in the build's bin folder (KRV_TEST_BIN).
std::string BinPath(const std::string &name);

} // namespace krv::test
