#include "support_console.h"

#include "access_modes.h"
#include "console_state.h"
#include "console_windows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstdlib>

namespace krv::test {

using namespace krv::console;

bool RecordingDriver::Init(int port, uint32_t baud) {
    calls << QStringLiteral("Init %1 %2").arg(port).arg(baud);
    ++initCount;
    if (failInitFromCall > 0 && initCount >= failInitFromCall)
        return false;
    return m_inner.Init(port, baud);
}

bool RecordingDriver::Close() {
    calls << QStringLiteral("Close");
    const bool closed = m_inner.Close();
    return failClose ? false : closed;
}

bool RecordingDriver::GetStatus(PrinterStatus &status) {
    calls << QStringLiteral("GetStatus");
    return m_inner.GetStatus(status);
}

bool RecordingDriver::ChangeBaudRate(int rateIndex) {
    calls << QStringLiteral("ChangeBaudRate %1").arg(rateIndex);
    return m_inner.ChangeBaudRate(rateIndex);
}

bool RecordingDriver::GetPaperState(PaperState &state) {
    calls << QStringLiteral("GetPaperState");
    return m_inner.GetPaperState(state);
}

QString RecordingDriver::ErrorMessage() {
    return errorText ? *errorText : m_inner.ErrorMessage();
}

void RecordingDriver::CodeError(uint8_t &result, uint8_t &status, uint8_t &extFlags) {
    if (errorBytes) {
        result = errorBytes->first;
        status = errorBytes->second;
        extFlags = 0;
        return;
    }
    m_inner.CodeError(result, status, extFlags);
}

void ConsoleTest::SetUp() {
    ResetState();
    Windows() = ConsoleWindows{};
    script = std::make_unique<MessageScript>();
}

void ConsoleTest::TearDown() {
    script.reset();
    ReleaseDriverLibrary(State().DriverLibraryHandle);
    ResetState();
    Windows() = ConsoleWindows{};
}

void ConsoleEmulatorTest::SetUp() {
    ConsoleTest::SetUp();
    m_emulator = std::make_unique<krv::emu::PrinterEmulator>(Options());
    krv::emu::RegisterAllCommands(*m_emulator);
    ASSERT_TRUE(m_emulator->Start());
    const std::string port = Port();
    ASSERT_FALSE(port.empty());
    setenv("KRV_COM1", port.c_str(), 1);
    // The emulator answers within milliseconds: a second is plenty, and a
    // broken link then fails a test in a few seconds instead of sixteen.
    setenv("KRV_TEST_REPLY_LIMIT_MS", "1000", 1);
}

void ConsoleEmulatorTest::TearDown() {
    RealDriver().Close();
    m_emulator->Stop();
    unsetenv("KRV_COM1");
    unsetenv("KRV_TEST_REPLY_LIMIT_MS");
    ConsoleTest::TearDown();
}

void ConsoleEmulatorTest::FailNextStatusQueries(int count) {
    for (int i = 0; i < count * 3; ++i)
        m_emulator->QueueFault(krv::emu::Fault::NakFrame);
}

QLocale ConnectedConsoleTest::Locale() {
    return QLocale(QLocale::Ukrainian, QLocale::Ukraine);
}

void ConnectedConsoleTest::SetUp() {
    ConsoleEmulatorTest::SetUp();
    if (HasFatalFailure())
        return;
    m_previousLocale = QLocale();
    QLocale::setDefault(Locale());
    recorder = std::make_unique<RecordingDriver>(RealDriver());
    scoped = std::make_unique<ScopedDriver>(*recorder);
    form = std::make_unique<TForm1>();
    forms = std::make_unique<TForm5>();
    Windows().Form1 = form.get();
    Windows().Form5 = forms.get();
    State().StartupArgument = QStringLiteral("-free");
    form->Button31Click();
    ASSERT_TRUE(State().Connected) << script->Texts().join(" | ").toStdString();
    script->messages.clear();
    recorder->calls.clear();
    Emu().ClearRecords();
}

void ConnectedConsoleTest::TearDown() {
    if (form)
        form->FormClose();
    forms.reset();
    form.reset();
    scoped.reset();
    recorder.reset();
    QLocale::setDefault(m_previousLocale);
    ConsoleEmulatorTest::TearDown();
}

void ConnectedConsoleTest::SetText(const char *name, const QString &text) {
    auto *edit = form->findChild<QLineEdit *>(QString::fromLatin1(name));
    ASSERT_NE(edit, nullptr) << name;
    edit->setText(text);
}

QString ConnectedConsoleTest::Text(const char *name) {
    const QString objectName = QString::fromLatin1(name);
    if (const auto *edit = form->findChild<QLineEdit *>(objectName))
        return edit->text();
    if (const auto *label = form->findChild<QLabel *>(objectName))
        return label->text();
    ADD_FAILURE() << "no edit or label " << name;
    return {};
}

void ConnectedConsoleTest::SetChecked(const char *name, bool on) {
    auto *box = form->findChild<QCheckBox *>(QString::fromLatin1(name));
    ASSERT_NE(box, nullptr) << name;
    box->setChecked(on);
}

void ConnectedConsoleTest::SetIndex(const char *name, int index) {
    auto *combo = form->findChild<QComboBox *>(QString::fromLatin1(name));
    ASSERT_NE(combo, nullptr) << name;
    combo->setCurrentIndex(index);
}

std::vector<uint8_t> ConnectedConsoleTest::Commands() {
    std::vector<uint8_t> commands;
    for (const krv::emu::Bytes &request : Emu().Requests())
        commands.push_back(request.empty() ? 0 : request[0]);
    return commands;
}

krv::emu::Bytes ConnectedConsoleTest::Request(uint8_t command) {
    std::vector<krv::emu::Bytes> found = Requests(command);
    return found.empty() ? krv::emu::Bytes{} : std::move(found.front());
}

void ConnectedConsoleTest::Clear() {
    Emu().ClearRecords();
    recorder->calls.clear();
    script->messages.clear();
}

std::vector<krv::emu::Bytes> ConnectedConsoleTest::Requests(uint8_t command) {
    return Emu().Requests(command);
}

std::unique_ptr<QWidget> MakeControlTree() {
    auto root = std::make_unique<QWidget>();
    for (const QString &name : OperationControls() + QStringList{QStringLiteral("Button31"),
                                                                 QStringLiteral("Button57")}) {
        QWidget *widget = nullptr;
        if (name.startsWith(QLatin1String("Edit")))
            widget = new QLineEdit(root.get());
        else if (name.startsWith(QLatin1String("CheckBox")))
            widget = new QCheckBox(root.get());
        else if (name.startsWith(QLatin1String("ComboBox")))
            widget = new QComboBox(root.get());
        else if (name.startsWith(QLatin1String("Button")) ||
                 name.startsWith(QLatin1String("BitBtn")))
            widget = new QPushButton(root.get());
        else
            widget = new QWidget(root.get());
        widget->setObjectName(name);
    }
    return root;
}

std::string BinPath(const std::string &name) {
    // The tests live in the bin folder themselves.
    const char *bin = std::getenv("KRV_TEST_BIN");
    const std::string folder =
        bin && *bin ? std::string(bin) : QCoreApplication::applicationDirPath().toStdString();
    return folder + "/" + name;
}

} // namespace krv::test
