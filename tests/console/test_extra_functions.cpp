// The tab "Доп. функции": the status view and toggle texts, the logo file
// checks, and the tab's handlers against the emulated printer (toggles,
// display, drawer, date, the logo upload received byte for byte).
#include "support_console.h"

#include "console_state.h"
#include "date_time_text.h"
#include "extra_functions_logic.h"
#include "logo_file.h"

#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimeEdit>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace krv::console;
using krv::emu::Bytes;

namespace {

// A one-bit-per-dot BMP file of `rows` (top row first, `width` dots each),
// stored bottom-up unless `topDown`, followed by `trailer`.
Bytes MonochromeBmp(int width, const std::vector<Bytes> &rows, bool topDown = false,
                    uint16_t bitCount = 1, Bytes trailer = {}) {
    const size_t stride = (static_cast<size_t>(width) + 31) / 32 * 4;
    const uint32_t offBits = 14 + 40 + 8;
    Bytes file(offBits, 0);
    const auto put32 = [&file](size_t at, uint32_t v) {
        for (size_t i = 0; i < 4; ++i)
            file[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(10, offBits);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    const auto height = static_cast<int32_t>(rows.size());
    put32(22, static_cast<uint32_t>(topDown ? -height : height));
    file[26] = 1;
    file[28] = static_cast<uint8_t>(bitCount);
    put32(58, 0x00FFFFFF); // palette: black, white
    for (size_t i = 0; i < rows.size(); ++i) {
        Bytes row = rows[topDown ? i : rows.size() - 1 - i];
        row.resize(stride, 0);
        file.insert(file.end(), row.begin(), row.end());
    }
    file.insert(file.end(), trailer.begin(), trailer.end());
    put32(2, static_cast<uint32_t>(file.size()));
    return file;
}

const std::vector<Bytes> kLogoRows = {{0x81, 0x10}, {0x42, 0x20}, {0x24, 0x10}};

// ---- Texts -------------------------------------------------------------------------

TEST(ExtraFunctionTexts, StatusViewAlignsItsLabelsAndNamesEachFlag) {
    PrinterStatus status;
    status.serialNumber = QStringLiteral("КР00001234 15.03.24");
    status.fiscalNumber = QStringLiteral("1234567890");
    status.firmware = QStringLiteral("МВ-21");
    status.registrationDate = 45366;  // 15.03.2024
    status.registrationTime = 0.4375; // 10:30
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Ukrainian, QLocale::Ukraine));
    const QStringList lines = StatusViewText(status).split(QStringLiteral("\r\n"));
    QLocale::setDefault(saved);

    // A non-fiscal printer that allows sales, no receipt, no flag set.
    const struct {
        int line;
        int labelWidth;
        QString value;
    } rows[] = {
        {0, 42, "КР00001234 15.03.24"},
        {1, 57, "ФН 1234567890"},
        {3, 56, ""},
        {6, 59, ""},
        {7, 49, "МВ-21"},
        {9, 56, "не фискальный"},
        {10, 50, "разрешена"},
        {11, 52, "закрыта"},
        {12, 53, "закрыт"},
        {13, 56, "разрешен"},
        {14, 65, "НДС вложенный"},
        {15, 50, "не изменялись"},
        {16, 49, "закрыт"},
        {17, 40, "запрещена"},
        {18, 50, "открыт"},
        {19, 47, "успешно"},
        {20, 58, "OffLine"},
    };
    ASSERT_EQ(lines.size(), 22) << "21 lines, each ended";
    EXPECT_TRUE(lines[8].isEmpty()) << "an empty line after the firmware";
    for (const auto &row : rows) {
        SCOPED_TRACE(row.line);
        const QString &line = lines[row.line];
        EXPECT_EQ(line.indexOf(QLatin1Char('\t')), row.labelWidth) << line.toStdString();
        EXPECT_EQ(line.section(QLatin1Char('\t'), 1), row.value);
    }
    EXPECT_TRUE(lines[10].startsWith(QStringLiteral("Регистрация продаж (выплат):")));
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("\t15.03.24 10:30:00"))) << lines[2].toStdString();

    status.flags[0] = -1; // payment stage
    status.flags[9] = -1; // fiscal
    const QStringList paying = StatusViewText(status).split(QStringLiteral("\r\n"));
    EXPECT_EQ(paying[9].section(QLatin1Char('\t'), 1), QStringLiteral("фискальный"));
    EXPECT_EQ(paying[10], QStringLiteral("Режим оплат, продажи(выплаты):").leftJustified(46) +
                              QStringLiteral("\tзапрещены"));
}

TEST(ExtraFunctionTexts, ToggleReportsTheModeTheSwitchLeadsTo) {
    const struct {
        ModeToggle toggle;
        bool wasSet;
        const char *text;
    } cases[] = {
        {ModeToggle::Online, true, "Режим печати чеков \"Off-Line\" успешно установлен!"},
        {ModeToggle::Online, false, "Режим печати чеков \"On-Line\" успешно установлен!"},
        {ModeToggle::Display, true, "Режим вывода суммы чека на дисплей успешно включен!"},
        {ModeToggle::Display, false, "Режим вывода суммы чека на дисплей успешно отключен!"},
        {ModeToggle::Cutter, true, "Режим автообрезки успешно отключен!"},
        {ModeToggle::Cutter, false, "Режим автообрезки успешно включен!"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ToggleMessage(c.toggle, c.wasSet).text, QString::fromUtf8(c.text));
    EXPECT_EQ(MoneyInBoxText(12345, u','), QStringLiteral("В кассе: 123,45 грн."));
}

TEST(ExtraFunctionTexts, DriverDateTimesRoundTrip) {
    EXPECT_EQ(DriverDateOf(QDate(2024, 3, 15)), 45366.0);
    EXPECT_EQ(DateOfDriver(45366.75), QDate(2024, 3, 15));
    EXPECT_EQ(TimeOfDriver(45366.4375), QTime(10, 30));
    EXPECT_EQ(DriverTimeOf(QTime(18, 0)), 0.75);
    EXPECT_FALSE(DateOfDriver(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(TimeOfDriver(1e300));
}

// ---- Logo file ---------------------------------------------------------------------

TEST(LogoFile, OnlyUncompressedOneBitPicturesWithTheirRowsInsideTheFile) {
    const Bytes good = MonochromeBmp(12, kLogoRows);
    Bytes truncated = good;
    truncated.resize(truncated.size() - 1);
    Bytes notBmp = good;
    notBmp[0] = 'X';
    Bytes compressed = good;
    compressed[30] = 1;
    Bytes offsetPastEnd = good;
    offsetPastEnd[10] = 0xFF;
    Bytes hugeWidth = good;
    hugeWidth[20] = 0x01; // 65536 + 12 dots: the driver would see 12
    const struct {
        const char *name;
        Bytes file;
        bool ok;
    } cases[] = {
        {"good", good, true},
        {"rows cut short", truncated, false},
        {"no BM", notBmp, false},
        {"24 bits a dot", MonochromeBmp(12, kLogoRows, false, 24), false},
        {"compressed", compressed, false},
        {"pixel offset past the end", offsetPastEnd, false},
        {"width beyond 16 bits", hugeWidth, false},
        {"headers only", Bytes(good.begin(), good.begin() + 40), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const LogoLoad load = LogoFromBytes(c.file);
        EXPECT_EQ(load.ok, c.ok);
        EXPECT_EQ(load.error.isEmpty(), c.ok);
    }
}

TEST(LogoFile, RowsEndTheBytesBottomUpWhateverTheFileHeld) {
    const LogoLoad plain = LogoFromBytes(MonochromeBmp(12, kLogoRows));
    ASSERT_TRUE(plain.ok);
    EXPECT_EQ(plain.image.width, 12);
    EXPECT_EQ(plain.image.height, 3);
    const LogoLoad withTrailer =
        LogoFromBytes(MonochromeBmp(12, kLogoRows, false, 1, Bytes{1, 2, 3, 4, 5}));
    const LogoLoad topDown = LogoFromBytes(MonochromeBmp(12, kLogoRows, true));
    ASSERT_TRUE(withTrailer.ok);
    ASSERT_TRUE(topDown.ok);
    EXPECT_EQ(withTrailer.image.bytes, plain.image.bytes);
    EXPECT_EQ(topDown.image.bytes, plain.image.bytes);
    EXPECT_EQ(topDown.image.height, 3);
}

TEST(LogoFile, UnreadablePathsAreRefusedWithTheirName) {
    EXPECT_FALSE(LoadLogoFile(QString()).ok);
    EXPECT_FALSE(LoadLogoFile(QStringLiteral("/dev/zero")).ok) << "a device is never read";
    const LogoLoad missing = LoadLogoFile(QStringLiteral("/nonexistent/logo.bmp"));
    EXPECT_FALSE(missing.ok);
    EXPECT_TRUE(missing.error.endsWith(QStringLiteral("/nonexistent/logo.bmp")));
    EXPECT_EQ(LogoDialogFolder(QStringLiteral("/nonexistent/logo.bmp")), QDir::homePath());
    EXPECT_EQ(LogoDialogFolder(QDir::tempPath() + QStringLiteral("/x.bmp")), QDir::tempPath());
}

// ---- On the printer ----------------------------------------------------------------

class ExtraFunctionsTab : public krv::test::ConnectedConsoleTest {};

TEST_F(ExtraFunctionsTab, OnlineToggleTwiceReportsOffLineThenOnLine) {
    {
        auto lock = Emu().Lock();
        Emu().State().onLine = true;
    }
    form->Button35Click();
    form->Button35Click();
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x00, 0x24, 0x00, 0x24}));
    ASSERT_EQ(script->messages.size(), 2u);
    EXPECT_EQ(script->messages[0].text,
              QStringLiteral("Режим печати чеков \"Off-Line\" успешно установлен!"));
    EXPECT_EQ(script->messages[1].text,
              QStringLiteral("Режим печати чеков \"On-Line\" успешно установлен!"));
    EXPECT_EQ(script->messages[1].caption, QStringLiteral("Режим печати чеков"));
}

TEST_F(ExtraFunctionsTab, CutterToggleReadsItsSettingFirstAndAFailedQuerySendsNoToggle) {
    form->BitBtn13Click(); // the emulated cutter starts enabled
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x1C, 0x2E}));
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].text, QStringLiteral("Режим автообрезки успешно отключен!"));
    form->Button52Click();
    EXPECT_EQ(script->messages.back().text, QStringLiteral("Режим автообрезки отключен!"));

    Clear();
    FailNextStatusQueries(1);
    form->Button36Click();
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x00, 0x00, 0x00})) << "three tries, no toggle";
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].icon, Icon::Error);
}

TEST_F(ExtraFunctionsTab, AFailingUpperDisplayLineSendsNoLowerLine) {
    SetText("Edit13", QStringLiteral("Верх"));
    SetText("Edit28", QStringLiteral("Низ"));
    form->Button17Click();
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x1B, 0x1B}));
    EXPECT_TRUE(script->messages.empty()) << "no box on success";

    Emu().ClearRecords();
    Emu().SetHeaderOverride({std::nullopt, uint8_t{0x14}, std::nullopt});
    form->Button17Click();
    Emu().ClearHeaderOverride();
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x1B}));
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Ошибка!"));

    script->messages.clear();
    form->Button18Click();
    EXPECT_TRUE(script->messages.empty()) << "the drawer opens without a box";
    auto lock = Emu().Lock();
    EXPECT_TRUE(Emu().State().drawerOpen);
}

TEST_F(ExtraFunctionsTab, DateGoesOutInBcdAndComesBackInTheLocaleFormat) {
    form->Control<QDateEdit>(QStringLiteral("DateTimePicker1"))->setDate(QDate(2031, 6, 1));
    form->Button3Click();
    ASSERT_FALSE(Emu().Requests().empty());
    EXPECT_EQ(Emu().Requests().back(), (Bytes{0x02, 0x01, 0x06, 0x31}));
    EXPECT_EQ(script->Texts(), QStringList{QStringLiteral("Дата была успешно установлена!")});
    form->Button2Click();
    EXPECT_EQ(script->messages.back().text, QStringLiteral("Установленная дата: 01.06.31"));
}

TEST_F(ExtraFunctionsTab, LogoPathIsKeptAsChosenAndTheUploadArrivesByteForByte) {
    EXPECT_EQ(Text("Edit31"), QDir::homePath() + QLatin1Char('/')) << "the default folder";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Logo.Small.bmp"));
    const Bytes bmp = MonochromeBmp(16, kLogoRows);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char *>(bmp.data()), static_cast<qint64>(bmp.size()));
    }
    script->fileNames.push_back(path);
    form->BitBtn9Click();
    EXPECT_EQ(Text("Edit31"), path) << "letter case kept";
    EXPECT_EQ(script->fileFilters.back(),
              QStringLiteral("All (*.bmp)|*.bmp|Bitmaps (*.bmp)|*.bmp"));

    SetChecked("CheckBox9", true); // inverted
    form->BitBtn10Click();
    EXPECT_EQ(script->Texts(),
              QStringList{QStringLiteral("Загрузка логотипа торговой точки успешно завершена!")});
    ASSERT_FALSE(Emu().Requests().empty());
    EXPECT_EQ(Emu().Requests().front(), (Bytes{0x2D, 0x00, 0x00, 0x01, 16, 0x00, 3, 0x00}));
    auto lock = Emu().Lock();
    EXPECT_EQ(Emu().State().ext.logo, (Bytes{0x7E, 0xEF, 0xBD, 0xDF, 0xDB, 0xEF}))
        << "rows top first, each byte inverted";
}

TEST_F(ExtraFunctionsTab, ALogoThatIsNoPictureSendsNothing) {
    SetText("Edit31", QStringLiteral("/nonexistent/logo.bmp"));
    form->BitBtn10Click();
    EXPECT_TRUE(Emu().Requests().empty());
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Ошибка!"));
}

TEST_F(ExtraFunctionsTab, TimeGoesOutInBcdAndComesBackInTheLocaleFormat) {
    const struct {
        QTime time;
        Bytes sent;
    } sets[] = {
        {QTime(13, 45, 30), {0x04, 0x13, 0x45, 0x30}},
        {QTime(0, 0, 0), {0x04, 0x00, 0x00, 0x00}},
        {QTime(23, 59, 59), {0x04, 0x23, 0x59, 0x59}},
    };
    for (const auto &c : sets) {
        SCOPED_TRACE(c.time.toString().toStdString());
        Clear();
        form->Control<QTimeEdit>(QStringLiteral("DateTimePicker2"))->setTime(c.time);
        form->Button5Click();
        EXPECT_EQ(Emu().Requests(), std::vector<Bytes>{c.sent});
        EXPECT_EQ(script->Texts(), QStringList{QStringLiteral("Время было успешно установлено!")});
        EXPECT_EQ(script->messages[0].caption, QStringLiteral("Информация"));
    }
    const struct {
        Bytes reply;
        QString text; // empty: the driver's error box
    } gets[] = {
        {{0x09, 0x05, 0x07}, QStringLiteral("Установленное время: 09:05:07")},
        {{0x23, 0x59, 0x59}, QStringLiteral("Установленное время: 23:59:59")},
        {{0x24, 0x00, 0x00}, {}},
        {{0x12, 0x00}, {}},
    };
    for (const auto &c : gets) {
        Clear();
        Emu().SetHandler(0x03,
                         [reply = c.reply](krv::emu::PrinterEmulator &, std::span<const uint8_t>) {
                             return krv::emu::Reply::Ok(reply);
                         });
        form->Button4Click();
        EXPECT_EQ(Emu().Requests(), std::vector<Bytes>{{0x03}});
        ASSERT_EQ(script->messages.size(), 1u);
        EXPECT_EQ(script->messages[0].caption,
                  c.text.isEmpty() ? QStringLiteral("Ошибка!") : QStringLiteral("Информация"));
        if (!c.text.isEmpty()) {
            EXPECT_EQ(script->messages[0].text, c.text);
        }
    }
}

// Line feed, receipt copy and version print: on a KRV-T100 each printed one is
// followed by the paper check, whose two tape bits name the tape running out.
TEST_F(ExtraFunctionsTab, PrintingButtonsCheckThePaperOnTheFirstModelOnly) {
    const QString controlLow = QStringLiteral("Заканчивается контрольная лента!");
    const QString receiptLow = QStringLiteral("Заканчивается чековая лента!");
    const QString bothLow = QStringLiteral("Заканчиваются контрольная и чековая ленты!");
    const struct {
        void (TForm1::*handler)();
        uint8_t command;
        bool firstModel;
        uint8_t paper;
        bool copyable; // a receipt was closed before
        std::vector<uint8_t> commands;
        QString box; // empty: none; "error": the driver's error box
    } cases[] = {
        {&TForm1::Button12Click, 0x0E, true, 0x04, true, {0x0E, 0x30}, controlLow},
        {&TForm1::Button19Click, 0x1E, true, 0x08, true, {0x1E, 0x30}, receiptLow},
        {&TForm1::Button20Click, 0x20, true, 0x0C, true, {0x20, 0x30}, bothLow},
        {&TForm1::Button12Click, 0x0E, true, 0x0D, true, {0x0E, 0x30}, {}}, // bit 0: no warning
        {&TForm1::Button20Click, 0x20, true, 0x00, true, {0x20, 0x30}, {}},
        {&TForm1::Button12Click, 0x0E, false, 0x0C, true, {0x0E}, {}},
        {&TForm1::Button19Click, 0x1E, false, 0x0C, true, {0x1E}, {}},
        {&TForm1::Button19Click, 0x1E, true, 0x0C, false, {0x1E}, QStringLiteral("error")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "command " << int(c.command) << " paper " << int(c.paper)
                                        << (c.firstModel ? " T100" : " T200"));
        {
            auto lock = Emu().Lock();
            Emu().State().paperState = c.paper;
            Emu().State().anyReceiptClosed = c.copyable;
        }
        State().IsFirstModel = c.firstModel ? -1 : 0;
        Clear();
        (form.get()->*c.handler)();
        EXPECT_EQ(Commands(), c.commands);
        EXPECT_EQ(Requests(c.command), std::vector<Bytes>{{c.command}});
        if (c.box.isEmpty()) {
            EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
            continue;
        }
        ASSERT_EQ(script->messages.size(), 1u);
        if (c.box == QStringLiteral("error")) {
            EXPECT_EQ(script->messages[0].caption, QStringLiteral("Ошибка!"));
        } else {
            EXPECT_EQ(script->messages[0].caption, QStringLiteral("Внимание!"));
            EXPECT_EQ(script->messages[0].text, c.box);
        }
    }
}

TEST_F(ExtraFunctionsTab, LogoSwitchesUseTheKeptProgrammingPasswordAndContrastIsWritten) {
    const QString on = QStringLiteral("Печать в чеках логотипа торговой точки успешно включена!");
    const QString off = QStringLiteral("Печать в чеках логотипа торговой точки успешно отключена!");
    const QString contrast = QStringLiteral("Значение контрастности успешно записано!");
    const struct {
        const char *road;
        std::function<void(krv::emu::PrinterEmulator &)> prepare;
        uint16_t password;
        void (TForm1::*handler)();
        Bytes sent;
        QString caption, text; // caption "Ошибка!": the driver's error box
    } cases[] = {
        {"on without a logo",
         [](auto &) {},
         0,
         &TForm1::Button24Click,
         {0x2D, 0, 0, 1, 0, 0, 0, 0},
         "Ошибка!",
         {}},
        {"on",
         [](auto &emu) {
             auto lock = emu.Lock();
             emu.State().ext.logo = Bytes(6, 0x55);
         },
         0,
         &TForm1::Button24Click,
         {0x2D, 0, 0, 1, 0, 0, 0, 0},
         "Информация",
         on},
        {"off",
         [](auto &) {},
         0,
         &TForm1::Button45Click,
         {0x2D, 0, 0, 0, 0, 0, 0, 0},
         "Информация",
         off},
        {"on, wrong password",
         [](auto &) {},
         4242,
         &TForm1::Button24Click,
         {0x2D, 0x92, 0x10, 1, 0, 0, 0, 0},
         "Ошибка!",
         {}},
        {"off, wrong password",
         [](auto &) {},
         4242,
         &TForm1::Button45Click,
         {0x2D, 0x92, 0x10, 0, 0, 0, 0, 0},
         "Ошибка!",
         {}},
        {"contrast",
         [](auto &) {},
         0,
         &TForm1::BitBtn21Click,
         {0x27, 150},
         "Контрастность печати",
         contrast},
        {"contrast refused",
         [](auto &emu) {
             emu.SetHeaderOverride({std::nullopt, uint8_t{0x14}, std::nullopt});
         },
         0,
         &TForm1::BitBtn21Click,
         {0x27, 150},
         "Ошибка!",
         {}},
    };
    form->Control<QSpinBox>(QStringLiteral("SpinEdit1"))->setValue(150);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.road);
        c.prepare(Emu());
        State().ProgrammingPassword = c.password;
        Clear();
        (form.get()->*c.handler)();
        Emu().ClearHeaderOverride();
        EXPECT_EQ(Emu().Requests(), std::vector<Bytes>{c.sent});
        ASSERT_EQ(script->messages.size(), 1u);
        EXPECT_EQ(script->messages[0].caption, c.caption);
        if (!c.text.isEmpty()) {
            EXPECT_EQ(script->messages[0].text, c.text);
        }
    }
    auto lock = Emu().Lock();
    EXPECT_FALSE(Emu().State().ext.logoEnabled) << "switched on, then off";
    EXPECT_EQ(Emu().State().contrast, 150);
}

} // namespace
