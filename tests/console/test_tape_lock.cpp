// The electronic control tape and its lock: the texts and the lock date
// without widgets, then the vendor window, the lock window and the main
// window's tape buttons against the emulated printer.
#include "support_console.h"

#include "console_state.h"
#include "date_time_text.h"
#include "device_state_ext.h"
#include "tape_lock_logic.h"
#include "tape_lock_window.h"
#include "vendor_window.h"

#include <QCheckBox>
#include <QLineEdit>

#include <gtest/gtest.h>

using namespace krv::console;

namespace {

// ---- Dates from numbers --------------------------------------------------------

class WithLocale : public ::testing::Test {
  protected:
    void Use(QLocale locale) { QLocale::setDefault(locale); }
    void TearDown() override { QLocale::setDefault(m_previous); }

  private:
    QLocale m_previous;
};

using LockDate = WithLocale;

TEST_F(LockDate, DecodedFromItsNumbersInAnyLocale) {
    const LockRecord record{0x15, 0x08, 0x24, 0x13, 0x30};
    const struct {
        QLocale locale;
        const char *text;
    } cases[] = {{QLocale(QLocale::Ukrainian, QLocale::Ukraine), "15.08.24 13:30:00"},
                 {QLocale(QLocale::Swedish, QLocale::Sweden), "2024-08-15 13:30:00"}};
    for (const auto &c : cases) {
        Use(c.locale);
        const LockMoment lock = DecodeBcdDateTime(record, 2026);
        EXPECT_EQ(lock.moment, PlainDateTime(QDate(2024, 8, 15), QTime(13, 30)));
        EXPECT_EQ(LockMomentText(lock), QString::fromLatin1(c.text));
    }
}

TEST_F(LockDate, UnsetMidnightCenturyAndImpossibleRecords) {
    Use(QLocale(QLocale::Ukrainian, QLocale::Ukraine));
    EXPECT_FALSE(DecodeBcdDateTime({0, 0, 0, 0, 0}, 2026).set);
    EXPECT_EQ(LockMomentText(DecodeBcdDateTime({0x15, 0x08, 0, 0x13, 0x30}, 2026)),
              QStringLiteral("не установлена"));
    // Midnight shows the date alone.
    EXPECT_EQ(LockMomentText(DecodeBcdDateTime({0x01, 0x02, 0x25, 0, 0}, 2026)),
              QStringLiteral("01.02.25"));
    struct Case {
        LockRecord record;
        QDate date;
        const char *error;
    } cases[] = {
        {{0x31, 0x12, 0x99, 0x23, 0x59}, QDate(1999, 12, 31), ""},
        {{0x31, 0x12, 0x75, 0x23, 0x59}, QDate(2075, 12, 31), ""},
        {{0x31, 0x12, 0x76, 0x23, 0x59}, QDate(1976, 12, 31), ""},
        {{0x00, 0x08, 0x24, 0x13, 0x30}, {}, "'00.08.24' is not a valid date"},
        {{0x30, 0x02, 0x24, 0x13, 0x30}, {}, "'30.02.24' is not a valid date"},
        {{0x15, 0x08, 0x24, 0x24, 0x00}, {}, "'24:00:00' is not a valid time"},
        // A nibble above 9: the first two digits of 9 * 10 + 15 make minute 10.
        {{0x15, 0x08, 0x24, 0x13, 0x9F}, QDate(2024, 8, 15), ""},
        {{0x15, 0x08, 0x24, 0x2F, 0x00}, {}, "'35:00:00' is not a valid time"},
    };
    for (const Case &c : cases) {
        const LockMoment lock = DecodeBcdDateTime(c.record, 2026);
        EXPECT_TRUE(lock.set);
        EXPECT_EQ(lock.error, QString::fromLatin1(c.error));
        EXPECT_EQ(lock.moment.date(), c.date);
    }
}

TEST(DriverDateTime, DaysSince1899WithTheTimeAsFraction) {
    EXPECT_DOUBLE_EQ(ToDriverDateTime(PlainDateTime(QDate(1899, 12, 30), QTime(0, 0))), 0.0);
    EXPECT_DOUBLE_EQ(ToDriverDateTime(PlainDateTime(QDate(2000, 1, 1), QTime(12, 0))), 36526.5);
    EXPECT_DOUBLE_EQ(ToDriverDateTime(QDateTime(QDate(2024, 8, 15), QTime(18, 0))), 45519.75);
}

// ---- Texts ---------------------------------------------------------------------------

TEST(TapeTexts, StatusDescriptorAndDigitChecks) {
    EXPECT_EQ(VendorTapeStatusText({0, 0, 1200}),
              QStringLiteral("Номер первого пакета данных в КЛЭФ:       0\r\n"
                             "Номер последнего пакета данных в КЛЭФ: 0\r\n"
                             "Размер cвободного места в КЛЭФ:                65535 байт\r\n"));
    EXPECT_EQ(ShownFreeBytes({0, 3, 1200}), 1200);
    EXPECT_EQ(ShownFreeBytes({4294967295u, 0, 7}), 7);

    const uint8_t block[16] = {0x00, 0x80, 0xEE, 0xFF, 0xFF, 0xEE, 0xFF, 0xFF,
                               0xFF, 0xFF, 0x01, 0x15, 0x08, 0x24, 0x13, 0x30};
    EXPECT_FALSE(ParseTapeDescriptor(std::span(block).first(15)));
    const auto descriptor = ParseTapeDescriptor(block);
    ASSERT_TRUE(descriptor);
    EXPECT_EQ(descriptor->packetCounter, -1);
    EXPECT_EQ(descriptor->lock, (LockRecord{0x15, 0x08, 0x24, 0x13, 0x30}));
    LockMoment none;
    EXPECT_EQ(MainTapeStatusText({5, 9, 300}, *descriptor, none),
              QStringLiteral("Номер первого пакета данных в КЛЭФ:       5\r\n"
                             "Номер последнего пакета данных в КЛЭФ: 9\r\n"
                             "Размер свободного места в КЛЭФ:                300 байт\r\r\n"
                             "Адрес начала КЛЭФ:                                       0x8000\r\n"
                             "Адрес конца КЛЭФ:                                         0xFFFF\r\n"
                             "Счётчик пакетов КЛЭФ:                                 -1\r\n"
                             "Статус персонализации:                                 выполнена\r\n"
                             "Дата и время блокировки КЛЭФ:                   не установлена"));
    uint8_t notDone[16] = {};
    notDone[10] = 2;
    EXPECT_TRUE(MainTapeStatusText({}, *ParseTapeDescriptor(notDone), none)
                    .contains(QStringLiteral("                                 не выполнена\r\n")));

    const struct {
        const char *text;
        int firstBad;
        std::optional<int32_t> number;
    } numbers[] = {{"", -1, std::nullopt},     {"0", -1, 0},  {"123456789", -1, 123456789},
                   {"12a", 2, std::nullopt},   {"-1", 0, -1}, {" 7", 0, 7},
                   {"\u0661", 0, std::nullopt}};
    for (const auto &n : numbers) {
        const QString text = QString::fromUtf8(n.text);
        EXPECT_EQ(FirstNonDigit(text), n.firstBad) << n.text;
        EXPECT_EQ(PacketNumber(text), n.number) << n.text;
    }
}

// ---- Against the emulated printer ------------------------------------------------------

constexpr uint16_t kReportPassword = 4321;
constexpr uint16_t kProgrammingPassword = 1234;

class TapeConsole : public krv::test::ConnectedConsoleTest {
  protected:
    void SetUp() override {
        ConnectedConsoleTest::SetUp();
        if (HasFatalFailure())
            return;
        {
            auto lock = Emu().Lock();
            auto &ext = Emu().State().ext;
            ext.SetPassword(krv::emu::kReportOperator, kReportPassword);
            ext.SetPassword(krv::emu::kProgrammingOperator, kProgrammingPassword);
            ext.AddPackets(5);
        }
        State().ReportPassword = kReportPassword;
        State().ProgrammingPassword = kProgrammingPassword;
        vendor = std::make_unique<TForm9>();
    }
    void TearDown() override {
        vendor.reset();
        ConnectedConsoleTest::TearDown();
    }
    // The one box shown since the last call, with its owner and caption.
    krv::console::MessageRecord OneBox() {
        EXPECT_EQ(script->messages.size(), 1u) << script->Texts().join(" | ").toStdString();
        auto box = script->messages.empty() ? MessageRecord{} : script->messages.back();
        script->messages.clear();
        return box;
    }
    std::array<uint8_t, 6> LockMomentBytes() {
        auto lock = Emu().Lock();
        return Emu().State().ext.lockMoment;
    }
    std::unique_ptr<TForm9> vendor;
};

TEST_F(TapeConsole, VendorWindowRunsEveryTapeCommand) {
    vendor->Button1Click();
    MessageRecord box = OneBox();
    EXPECT_EQ(box.caption, QStringLiteral("Статус КЛЭФ"));
    EXPECT_EQ(box.parent, vendor.get());
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("Номер первого пакета данных в КЛЭФ:       1\r\n"
                                                   "Номер последнего пакета данных в КЛЭФ: 5\r\n"
                                                   "Размер cвободного места в КЛЭФ:")));

    vendor->PersonalizText->setText(QStringLiteral("ТОВ Ромашка"));
    vendor->CheckBox1->setChecked(true);
    vendor->Button2Click();
    EXPECT_EQ(OneBox().text, QStringLiteral("Персонализация успешно завершена!"));
    vendor->CheckBox1->setChecked(false);
    vendor->Button2Click();
    box = OneBox();
    EXPECT_EQ(box.text, QStringLiteral("Cостояние персонализации ЭККР не изменено!"));
    EXPECT_EQ(box.icon, Icon::Warning);

    vendor->Edit1->setText(QStringLiteral("700"));
    vendor->Button3Click();
    EXPECT_EQ(OneBox().caption, QStringLiteral("Пакеты данных"));

    vendor->Edit3->setText(QStringLiteral("1"));
    vendor->Edit4->setText(QStringLiteral("3"));
    vendor->Button4Click();
    EXPECT_EQ(OneBox().text,
              QStringLiteral("Подтверждение передачи данных КЛЭФ успешно завершено!"));

    vendor->Edit2->setText(QStringLiteral("3"));
    vendor->Button5Click();
    EXPECT_EQ(OneBox().text, QStringLiteral("Очистка записей данных КЛЭФ успешно закончена!"));
    {
        auto lock = Emu().Lock();
        auto &ext = Emu().State().ext;
        EXPECT_EQ(ext.ReadLe(krv::emu::mem::kBank10, krv::emu::mem::kPersonalized, 1), 1u);
        EXPECT_EQ(ext.ReadLe(krv::emu::mem::kBank10, krv::emu::mem::kPacketCounter, 4), 700u);
        ASSERT_EQ(ext.acks.size(), 1u);
        EXPECT_EQ(ext.acks[0].first, 1u);
        EXPECT_EQ(ext.acks[0].last, 3u);
        EXPECT_EQ(ext.firstPacket, 4u);
        EXPECT_EQ(ext.personalization.size(), 11u);
    }

    // The main window's status shows what the commands left behind.
    form->Button54Click();
    box = OneBox();
    EXPECT_EQ(box.parent, form.get());
    EXPECT_TRUE(box.text.contains(
        QStringLiteral("Счётчик пакетов КЛЭФ:                                 700\r\n")));
    EXPECT_TRUE(
        box.text.contains(QStringLiteral("                                 выполнена\r\n")));
    EXPECT_TRUE(box.text.endsWith(QStringLiteral("не установлена")));
}

TEST_F(TapeConsole, LockIsExtendedShownAndRemovedFromEveryWindow) {
    QLocale::setDefault(QLocale(QLocale::Swedish, QLocale::Sweden)); // year first
    const QDateTime before = QDateTime::currentDateTime();
    vendor->Button7Click();
    MessageRecord box = OneBox();
    EXPECT_EQ(box.caption, QStringLiteral("Блокировка"));
    EXPECT_EQ(box.icon, Icon::Information);
    // 72 hours from now, as the printer computed it from the moment sent.
    const auto bytes = LockMomentBytes();
    const LockMoment expected =
        DecodeBcdDateTime({bytes[0], bytes[1], bytes[2], bytes[3], bytes[4]}, before.date().year());
    ASSERT_TRUE(expected.set);
    EXPECT_LE(std::abs(before.addSecs(72 * 3600).secsTo(
                  QDateTime(expected.moment.date(), expected.moment.time()))),
              120);
    EXPECT_EQ(box.text, QStringLiteral("Очередная блокировка КЛЭФ наступит: ") +
                            LocaleDateTimeText(expected.moment));
    EXPECT_TRUE(box.text.contains(QString::number(expected.moment.date().year())));

    form->Button54Click();
    EXPECT_TRUE(OneBox().text.endsWith(LocaleDateTimeText(expected.moment)));

    // Removal: the vendor window, the main window and the lock window.
    TForm7 lockWindow;
    const std::function<void()> removals[] = {[&] { vendor->Button8Click(); },
                                              [&] { form->Button47Click(); },
                                              [&] { lockWindow.Button1Click(); }};
    for (const auto &remove : removals) {
        {
            auto lock = Emu().Lock();
            Emu().State().ext.lockMoment[2] = 0x30;
        }
        remove();
        box = OneBox();
        EXPECT_EQ(box.text, QStringLiteral("Блокировка КЛЭФ снята"));
        EXPECT_EQ(LockMomentBytes()[2], 0);
    }
    lockWindow.Button3Click();
    EXPECT_EQ(OneBox().parent, &lockWindow);
    EXPECT_NE(LockMomentBytes()[2], 0);
}

TEST_F(TapeConsole, BadNumbersRefusedPrinterRefusalsAndSilenceShown) {
    vendor->Edit3->setText(QStringLiteral("12"));
    vendor->Edit3->setText(QStringLiteral("12a"));
    MessageRecord box = OneBox();
    EXPECT_EQ(box.text, QStringLiteral("Неверно задан номер начального пакета данных!"));
    EXPECT_EQ(box.caption, QStringLiteral("Ошибка!"));
    EXPECT_EQ(vendor->Edit3->text(), QStringLiteral("0"));

    // An empty number stops before any command.
    vendor->Edit1->setText(QString());
    Emu().ClearRecords();
    vendor->Button3Click();
    EXPECT_EQ(OneBox().text, QStringLiteral("'' is not a valid integer value"));
    EXPECT_TRUE(Emu().Requests().empty());

    // The printer refuses a wrong password: the driver's error, no success box.
    State().ReportPassword = 1;
    vendor->Edit2->setText(QStringLiteral("2"));
    vendor->Button5Click();
    box = OneBox();
    EXPECT_EQ(box.caption, QStringLiteral("Ошибка!"));
    EXPECT_EQ(box.icon, Icon::Error);

    // A printer that does not answer: one error box, no confirmation.
    State().ReportPassword = kReportPassword;
    for (int i = 0; i < 3; ++i)
        Emu().QueueFault(krv::emu::Fault::NakFrame);
    form->Button47Click();
    box = OneBox();
    EXPECT_EQ(box.caption, QStringLiteral("Ошибка!"));
    EXPECT_EQ(box.parent, form.get());
}

} // namespace
