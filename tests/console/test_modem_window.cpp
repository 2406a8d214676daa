// The modem diagnostics window against the emulated printer and its modem:
// the text view, the detailed listing of both reply forms, replies too short
// to list, the port opened for one query, saving and printing.
#include "support_console.h"

#include "codepage.h"
#include "device_state_ext.h"
#include "modem_diagnostics_window.h"
#include "modem_report.h"
#include "modem_state.h"
#include "saved_file.h"
#include "widgets.h"

#include <QFile>
#include <QFontDatabase>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <gtest/gtest.h>

using namespace krv::console;

namespace {

class ModemWindow : public krv::test::ConnectedConsoleTest {
  protected:
    void SetUp() override {
        ConnectedConsoleTest::SetUp();
        if (HasFatalFailure())
            return;
        ResetModemState();
        modem = std::make_unique<TForm8>();
    }
    void TearDown() override {
        modem.reset();
        ResetModemState();
        ConnectedConsoleTest::TearDown();
    }
    void SetModem(const std::function<void(krv::emu::DeviceStateExt &)> &change) {
        auto lock = Emu().Lock();
        change(Emu().State().ext);
    }
    bool Saves() const { return modem->Button4->isEnabled(); }
    bool Prints() const { return modem->Button5->isEnabled(); }
    std::unique_ptr<TForm8> modem;
};

TEST_F(ModemWindow, TextViewShowsTheModemsOwnLines) {
    modem->Button2Click();
    EXPECT_TRUE(script->messages.empty());
    EXPECT_EQ(modem->ViewLines(),
              (QStringList{"KRV-L5 v1.07", "GSM: OK", "SIM: READY", "SIGNAL: 21"}));
    EXPECT_TRUE(Saves());
    EXPECT_FALSE(Prints());
    EXPECT_EQ(Emu().TextQueries(), (std::vector<std::string>{"~~#00#"}));
    // Connected: the window neither opens nor closes the port.
    EXPECT_TRUE(recorder->calls.isEmpty());
    // No detailed view yet: the save dialog proposes no name (cancelled here).
    modem->Button4Click();
    EXPECT_EQ(script->fileInitialNames, std::vector<QString>{QString()});
}

// Both views name fonts this system has: the modem's own text in the fixed
// font, the detailed listing in the console's.
TEST_F(ModemWindow, ViewsUseTheSystemsFixedFontAndTheConsoleFont) {
    const struct {
        void (TForm8::*press)();
        QFont expected;
    } views[] = {
        {&TForm8::Button2Click, QFontDatabase::systemFont(QFontDatabase::FixedFont)},
        {&TForm8::Button3Click, krv::console::ConsoleFont()},
    };
    for (const auto &view : views) {
        (modem.get()->*view.press)();
        const QFont font = modem->RichEdit1->document()->defaultFont();
        EXPECT_EQ(font.family(), view.expected.family());
        EXPECT_EQ(font.fixedPitch(), view.expected.fixedPitch());
    }
}

TEST_F(ModemWindow, DetailedListingOfBothReplyForms) {
    modem->Button3Click();
    ASSERT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    QStringList lines = modem->ViewLines();
    EXPECT_EQ(lines.size(), 32 * 3 + 8); // 32 blocks, 8 of them with a description
    EXPECT_EQ(lines[0], QStringLiteral(" Серийный номер модема:"));
    EXPECT_EQ(lines[1], QStringLiteral(" SN: 20230017, 0x0134AF81"));
    EXPECT_EQ(lines[2], QString());
    EXPECT_TRUE(lines.contains(QStringLiteral(" Res3: 0, 0x00")));
    EXPECT_FALSE(lines.contains(QStringLiteral(" Порт эквайера:")));
    EXPECT_TRUE(Saves());
    EXPECT_TRUE(Prints());
    EXPECT_EQ(CurrentModemState().ID_DEV, 4711u);

    SetModem([](krv::emu::DeviceStateExt &ext) {
        ext.modem.extended = true;
        ext.modem.osRev = 18;
        ext.modem.osVer = 0x0105;
        ext.modem.acqPort = 8080;
        ext.modem.addresses[4] = {193, 0, 2, 44};
        ext.modem.ussd = "\xC1\xE0\xEB\xE0\xED\xF1: 5"; // Windows-1251
        ext.modem.failCode = 0x02;                      // a description of two lines
    });
    modem->Button3Click();
    lines = modem->ViewLines();
    EXPECT_EQ(lines.size(), 41 * 3 + 8 + 1);
    const qsizetype fail = lines.indexOf(
        QStringLiteral(" Desription: Параметры РРО изменились во время работы модема"));
    ASSERT_GE(fail, 0);
    EXPECT_EQ(lines[fail + 1], QStringLiteral(" (заводской, фискальный или налоговый номер)"));
    EXPECT_TRUE(lines.filter(QStringLiteral("\r")).isEmpty()); // saved as lines of their own
    for (const char *line : {" OSVer: 1.05", " ACQIPAddr: 193.0.2.44", " ACQPort: 8080, 0x1F90",
                             " USSDResult: Баланс: 5", " ModemState1: DLS_PPP (17)"})
        EXPECT_TRUE(lines.contains(QString::fromUtf8(line))) << line;
    EXPECT_FALSE(lines.contains(QStringLiteral(" Res3: 0, 0x00")));
    // The value line carries its block's colour.
    QTextCursor cursor(modem->RichEdit1->document()->findBlockByNumber(1));
    cursor.movePosition(QTextCursor::EndOfBlock);
    EXPECT_EQ(cursor.charFormat().foreground().color(), QColor(0, 0, 255));
}

TEST_F(ModemWindow, RepliesTooShortToListLeaveNothingToSaveOrPrint) {
    modem->Button3Click();
    ASSERT_TRUE(Prints());
    const uint32_t sn = CurrentModemState().SN;

    SetModem([](krv::emu::DeviceStateExt &ext) { ext.modemState = {0}; });
    modem->Button3Click();
    EXPECT_TRUE(script->messages.empty());
    EXPECT_TRUE(modem->ViewLines().isEmpty());
    EXPECT_FALSE(Saves());
    EXPECT_FALSE(Prints());

    for (uint8_t count : {uint8_t{1}, uint8_t{75}}) {
        SetModem([count](krv::emu::DeviceStateExt &ext) {
            ext.modemState.assign(size_t{count} + 1, 0x5A);
            ext.modemState[0] = count;
        });
        modem->Button3Click();
        ASSERT_EQ(script->messages.size(), 1u) << int(count);
        EXPECT_EQ(script->messages[0].text,
                  QStringLiteral("Ответная посылка не соответсвует формату данных!"));
        EXPECT_EQ(script->messages[0].parent, modem.get());
        script->messages.clear();
        EXPECT_TRUE(modem->ViewLines().isEmpty());
        EXPECT_FALSE(Saves());
        EXPECT_FALSE(Prints());
        EXPECT_EQ(CurrentModemState().SN, sn); // the last good state stays
    }

    // A driver failure: the link is gone though the main window still
    // counts as connected.
    RealDriver().Close();
    modem->Button2Click();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Ошибка!"));
    EXPECT_EQ(script->messages[0].parent, modem.get());
    EXPECT_FALSE(Saves());
}

TEST_F(ModemWindow, WithoutTheMainLinkTheWindowOpensThePortForOneQuery) {
    form->Button40Click();
    recorder->calls.clear();
    modem->Button3Click();
    ASSERT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(recorder->calls, (QStringList{"Init 1 9600", "Close"}));
    EXPECT_TRUE(Prints());

    // Printing needs the main window's link: a warning, nothing printed.
    Emu().ClearRecords();
    modem->Button5Click();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].parent, nullptr);
    EXPECT_EQ(script->messages[0].text,
              QStringLiteral("Функция не доступна.\r\nНеобхдимо установить связь с ЭККР!"));
    EXPECT_TRUE(Emu().Requests().empty());
    script->messages.clear();

    // A port that cannot be opened: the main window's box, no close.
    recorder->calls.clear();
    recorder->failInitFromCall = 1;
    recorder->initCount = 0;
    modem->Button2Click();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_TRUE(script->messages[0].text.startsWith(QStringLiteral("Невозможно открыть порт!\n")))
        << script->messages[0].text.toStdString();
    EXPECT_EQ(script->messages[0].parent, form.get());
    EXPECT_EQ(recorder->calls, (QStringList{"Init 1 9600"}));
}

TEST_F(ModemWindow, PrintsTheReportAndSavesTheViewAsWindows1251) {
    SetModem([](krv::emu::DeviceStateExt &ext) { ext.modem.idDev = 4294967295u; });
    modem->Button3Click();
    modem->Button5Click();
    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    const QStringList report = PrintedReport(CurrentModemState());
    {
        auto lock = Emu().Lock();
        const auto &ext = Emu().State().ext;
        ASSERT_EQ(ext.printedLines.size(), size_t(report.size()));
        const auto &sn = ext.printedLines[2].text;
        EXPECT_EQ(std::string(sn.begin(), sn.end()), report[2].toStdString());
        EXPECT_EQ(ext.documentsClosed, 1);
        EXPECT_FALSE(ext.documentOpen);
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("modem.txt"));
    script->fileNames.push_back(path);
    modem->Button4Click();
    EXPECT_EQ(script->fileInitialNames, std::vector<QString>{QStringLiteral("ID_DEV_4294967295")});
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_EQ(bytes, AnsiLinesBytes(modem->ViewLines()));
    EXPECT_TRUE(bytes.startsWith(" \xD1\xE5\xF0\xE8\xE9\xED\xFB\xE9")); // " Серийный"
    EXPECT_TRUE(bytes.endsWith("\r\n\r\n"));
    EXPECT_FALSE(bytes.contains("\r\r") || bytes.contains("\n\n"));

    // A folder that does not exist: the application's error box.
    script->fileNames.push_back(dir.filePath(QStringLiteral("missing/modem.txt")));
    modem->Button4Click();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].icon, Icon::Error);
}

} // namespace
