// The tabs "Отчеты" and "Пароли" of the connected main window, end to end:
// the handlers read their fields, the real driver talks to the emulated
// printer, and the boxes and the printer's state show the outcome.
#include "support_console.h"

#include "console_state.h"
#include "password_logic.h"
#include "widgets.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

using namespace krv::console;
using krv::emu::Bytes;

namespace {

const QString kErrorCaption = QStringLiteral("Ошибка!");

class ReportsTab : public krv::test::ConnectedConsoleTest {
  protected:
    QString OnlyMessage() {
        EXPECT_EQ(script->messages.size(), 1u) << script->Texts().join(" | ").toStdString();
        return script->messages.empty() ? QString() : script->messages.back().text;
    }
    void Choose(const char *group, int index) {
        auto *radio = form->findChild<RadioGroup *>(QString::fromLatin1(group));
        ASSERT_NE(radio, nullptr);
        radio->setItemIndex(index);
    }
};

TEST_F(ReportsTab, ZReportClosesTheDayTheTotalsShowIt) {
    SetText("Edit10", QStringLiteral("12,50"));
    form->Button14Click(); // cash in
    Clear();
    form->BitBtn3Click();
    EXPECT_TRUE(
        OnlyMessage().contains(QStringLiteral("Общая сумма служебных внесений:     \t12,50 грн.")));
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Информация об итогах за день"));

    Clear();
    form->BitBtn16Click();
    EXPECT_EQ(Requests(0x0D), (std::vector<Bytes>{{0x0D, 0x00, 0x00}}));
    EXPECT_EQ(recorder->calls, QStringList{QStringLiteral("GetPaperState")});
    form->BitBtn3Click();
    EXPECT_TRUE(
        OnlyMessage().contains(QStringLiteral("Общая сумма служебных внесений:     \t0,00 грн.")));

    // After the first Z report its number and the reports by number work.
    Clear();
    form->BitBtn1Click();
    EXPECT_TRUE(OnlyMessage().contains(
        QStringLiteral("Номер последнего Z-отчета:                                    \t1\r\n")));
    Clear();
    SetText("Edit15", QStringLiteral("1"));
    SetText("Edit16", QStringLiteral("1"));
    form->Button30Click();
    EXPECT_EQ(Requests(0x1F), (std::vector<Bytes>{{0x1F, 0, 0, 1, 0, 1, 0}}));
    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
}

TEST_F(ReportsTab, InputErrorsSendNothing) {
    struct Case {
        const char *field;
        const char *value;
        void (TForm1::*handler)();
        QString error;
    } cases[] = {
        {"Edit15", "70000", &TForm1::Button30Click,
         QStringLiteral("Проверьте правильность ввода номеров отчетов!")},
        {"Edit37", "", &TForm1::Button33Click,
         QStringLiteral("Начальный код артикула задан неверно!\r\nВ качестве кода артикула может "
                        "быть только число!")},
    };
    SetChecked("CheckBox14", false);
    SetText("Edit16", QStringLiteral("1"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.field);
        Clear();
        SetText(c.field, QString::fromUtf8(c.value));
        (form.get()->*c.handler)();
        EXPECT_EQ(OnlyMessage(), c.error);
        EXPECT_EQ(script->messages[0].caption, kErrorCaption);
        EXPECT_TRUE(Emu().Requests().empty());
    }
    // A letter typed into a code field is refused at once and the field reset.
    Clear();
    SetText("Edit38", QStringLiteral("12a"));
    EXPECT_EQ(Text("Edit38"), QStringLiteral("0"));
    EXPECT_TRUE(OnlyMessage().startsWith(QStringLiteral("Конечный код артикула задан неверно!")));
}

TEST_F(ReportsTab, ArticleReportAsksBeforeTheWholeRange) {
    struct Case {
        bool whole;
        const char *first, *last;
        int answer;
        int questions;
        std::vector<Bytes> sent;
    } cases[] = {
        {true, "", "", kResultCancel, 1, {}},
        {true, "", "", kResultOk, 1, {{0x0A, 0, 0}}}, // empty fields are not read
        {false, "0", "0", kResultOk, 1, {{0x0A, 0, 0}}},
        {false, "100", "12", kResultOk, 0, {{0x0A, 0, 0, 12, 0, 0, 0, 0, 0, 100, 0, 0, 0, 0, 0}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.first) + " / " + c.last);
        Clear();
        SetChecked("CheckBox14", c.whole);
        SetText("Edit37", QString::fromUtf8(c.first));
        SetText("Edit38", QString::fromUtf8(c.last));
        script->answers = {c.answer};
        form->Button33Click();
        EXPECT_EQ(Requests(0x0A), c.sent);
        ASSERT_EQ(script->messages.size(), static_cast<size_t>(c.questions));
        if (c.questions) {
            EXPECT_EQ(script->messages[0].caption, QStringLiteral("Внимание!"));
        }
    }
}

TEST_F(ReportsTab, ServiceReportPrintsTheMemoOnOneTape) {
    form->findChild<QPlainTextEdit *>(QStringLiteral("Memo1"))
        ->setPlainText(QStringLiteral("Рядок 1\nРядок 2\n"));
    SetChecked("CheckBox12", true);
    SetChecked("CheckBox16", true); // clears the control-tape box
    EXPECT_FALSE(form->findChild<QCheckBox *>(QStringLiteral("CheckBox12"))->isChecked());
    form->BitBtn2Click();
    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    auto lock = Emu().Lock();
    const auto &lines = Emu().State().ext.printedLines;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].lengthByte, 0x40 | 7); // receipt tape only
}

TEST_F(ReportsTab, PasswordsChangeRegisterAndList) {
    // Logged in with "Запрограммированное имя" ticked: the name field stays off.
    auto *name = form->Control<QWidget>(QStringLiteral("Edit5"));
    EXPECT_FALSE(name->isEnabled());
    auto *programmedName = form->Control<QCheckBox>(QStringLiteral("CheckBox3"));
    programmedName->click();
    EXPECT_TRUE(name->isEnabled());
    programmedName->click();
    EXPECT_FALSE(name->isEnabled());

    SetIndex("ComboBox1", 2);
    SetText("Edit2", QStringLiteral("123"));
    SetText("Edit3", QStringLiteral("123"));
    form->Button6Click();
    EXPECT_EQ(OnlyMessage(), QStringLiteral("Пароль успешно установлен!"));

    Clear();
    form->BitBtn18Click();
    EXPECT_TRUE(OnlyMessage().contains(QStringLiteral("Кассир3 - пароль: 123\r\n")));

    Clear();
    SetIndex("ComboBox2", 2);
    SetText("Edit4", QStringLiteral("70000"));
    form->Button7Click();
    EXPECT_EQ(OnlyMessage(),
              QStringLiteral("Старый пароль может принимать значения от 0 до 65535!"));
    EXPECT_TRUE(Emu().Requests().empty());
    Clear();
    SetText("Edit4", QStringLiteral("123"));
    form->Button7Click();
    EXPECT_EQ(OnlyMessage(), QStringLiteral("Кассир зарегистрирован успешно!"));
    {
        auto lock = Emu().Lock();
        EXPECT_EQ(Emu().State().ext.cashierOnDuty, 2);
    }
    Clear();
    form->Button8Click();
    EXPECT_EQ(OnlyMessage(), QStringLiteral("Кассир разрегистрирован успешно!"));
    auto lock = Emu().Lock();
    EXPECT_EQ(Emu().State().ext.cashierOnDuty, -1);
}

TEST_F(ReportsTab, KeptReportPasswordIsCheckedAndUsed) {
    Choose("RadioGroup4", 1);
    SetText("Edit22", QStringLiteral("70000"));
    form->Button43Click();
    EXPECT_EQ(OnlyMessage(),
              QStringLiteral("Старый пароль может принимать значения от 0 до 65535!"));
    EXPECT_EQ(State().ReportPassword, 0);

    Clear();
    SetText("Edit22", QStringLiteral("4242"));
    form->Button43Click();
    EXPECT_TRUE(script->messages.empty());
    EXPECT_EQ(State().ReportPassword, 4242);
    form->BitBtn15Click(); // the printer knows 0: the X report is refused
    EXPECT_EQ(Requests(0x09), (std::vector<Bytes>{{0x09, 0x92, 0x10}}));
    EXPECT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].caption, kErrorCaption);
    EXPECT_TRUE(recorder->calls.filter(QStringLiteral("GetPaperState")).isEmpty());
}

TEST_F(ReportsTab, ProgrammingAndReportPasswordsChangeInThePrinterAndAreKeptApart) {
    const QString done = QStringLiteral("Пароль успешно установлен!");
    // Changing them in the printer: number 8 is the programming password, 9
    // the report password.
    const struct {
        int choice;
        const char *oldText, *newText, *confirm;
        std::vector<Bytes> sent;
        QString caption, text;
        uint16_t programming, report; // the printer's after the press
    } changes[] = {
        {0, "", "321", "321", {{0x05, 0, 0, 8, 0x41, 0x01, 0}}, "Установка пароля", done, 321, 0},
        {1, "", "654", "654", {{0x05, 0, 0, 9, 0x8E, 0x02, 0}}, "Установка пароля", done, 321, 654},
        {1, "0", "7", "7", {{0x05, 0, 0, 9, 7, 0, 0}}, kErrorCaption, {}, 321, 654}, // wrong old
        {0,
         "321",
         "12",
         "13",
         {},
         kErrorCaption,
         QStringLiteral("Значения в полях \"Новый пароль\" и \"Подтверждение\" не совпадают!"),
         321,
         654},
    };
    for (const auto &c : changes) {
        SCOPED_TRACE(std::string(c.newText) + " as " + std::to_string(c.choice));
        Clear();
        Choose("RadioGroup1", c.choice);
        SetText("Edit34", QString::fromUtf8(c.oldText));
        SetText("Edit35", QString::fromUtf8(c.newText));
        SetText("Edit36", QString::fromUtf8(c.confirm));
        form->Button46Click();
        EXPECT_EQ(Requests(0x05), c.sent);
        ASSERT_EQ(script->messages.size(), 1u);
        EXPECT_EQ(script->messages[0].caption, c.caption);
        if (!c.text.isEmpty()) {
            EXPECT_EQ(script->messages[0].text, c.text);
        }
        auto lock = Emu().Lock();
        EXPECT_EQ(Emu().State().ext.Password(8), c.programming);
        EXPECT_EQ(Emu().State().ext.Password(9), c.report);
    }
    // Changing them in the printer kept nothing; keeping one leaves the other.
    const struct {
        int choice;
        const char *text;
        uint16_t programming, report;
    } kept[] = {{0, "111", 111, 0}, {1, "222", 111, 222}, {0, "333", 333, 222}};
    EXPECT_EQ(State().ProgrammingPassword, 0);
    EXPECT_EQ(State().ReportPassword, 0);
    for (const auto &k : kept) {
        SCOPED_TRACE(k.text);
        Clear();
        Choose("RadioGroup4", k.choice);
        SetText("Edit22", QString::fromUtf8(k.text));
        form->Button43Click();
        EXPECT_EQ(State().ProgrammingPassword, k.programming);
        EXPECT_EQ(State().ReportPassword, k.report);
        EXPECT_TRUE(script->messages.empty());
        EXPECT_TRUE(Emu().Requests().empty());
    }
}

TEST_F(ReportsTab, PeriodicReportsByDateSendTheRangeWithTheKeptPassword) {
    const QDate march1(2024, 3, 1), march15(2024, 3, 15);
    const Bytes range{0x01, 0x03, 0x24, 0x15, 0x03, 0x24};
    const auto with = [&range](Bytes head) {
        head.insert(head.end(), range.begin(), range.end());
        return head;
    };
    const struct {
        const char *road;
        void (TForm1::*handler)();
        uint16_t password;
        QDate from, to;
        Bytes sent;
        bool printed; // else the driver's error box and no paper check
    } cases[] = {
        {"full", &TForm1::Button28Click, 0, march1, march15, with({0x11, 0, 0}), true},
        {"short", &TForm1::Button29Click, 0, march1, march15, with({0x1A, 0, 0}), true},
        {"wrong password", &TForm1::Button29Click, 4242, march1, march15, with({0x1A, 0x92, 0x10}),
         false},
        {"dates reversed",
         &TForm1::Button28Click,
         0,
         march15,
         march1,
         {0x11, 0, 0, 0x15, 0x03, 0x24, 0x01, 0x03, 0x24},
         false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.road);
        Clear();
        State().ReportPassword = c.password;
        form->Control<QDateTimeEdit>(QStringLiteral("DateTimePicker3"))->setDate(c.from);
        form->Control<QDateTimeEdit>(QStringLiteral("DateTimePicker4"))->setDate(c.to);
        (form.get()->*c.handler)();
        EXPECT_EQ(Requests(c.sent[0]), std::vector<Bytes>{c.sent});
        EXPECT_EQ(Commands().size(), c.printed ? 2u : 1u) << "the paper query after a report";
        EXPECT_EQ(DriverCalls(QStringLiteral("GetPaperState")).size(), c.printed ? 1 : 0);
        if (c.printed) {
            EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
        } else {
            ASSERT_EQ(script->messages.size(), 1u);
            EXPECT_EQ(script->messages[0].caption, kErrorCaption);
        }
    }
}

TEST_F(ReportsTab, CurrentReceiptSumsShowEachGroupAndForm) {
    {
        auto lock = Emu().Lock();
        Emu().State().ext.receiptByGroup[1] = 1250;
        Emu().State().ext.receiptByForm[3] = 0xFFFFFFFF; // unsigned: 42 949 672,95
    }
    form->BitBtn4Click();
    EXPECT_EQ(Emu().Requests(), std::vector<Bytes>{{0x2B}});
    const QStringList lines = OnlyMessage().split(QStringLiteral("\r\n"));
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Данные текущего чека"));
    ASSERT_EQ(lines.size(), 21);
    const struct {
        int line;
        const char *label, *value;
    } rows[] = {
        {1, "Группа \"А\":", "0,00 грн."}, {2, "Группа \"Б\":", "12,50 грн."},
        {6, "Группа \"Е\":", "0,00 грн."}, {9, "КАРТКА:", "0,00 грн."},
        {12, "ГОТ", "42949672,95 грн."},   {18, "ОПЛАТА 10:", "0,00 грн."},
    };
    for (const auto &r : rows) {
        EXPECT_TRUE(lines[r.line].startsWith(QString::fromUtf8(r.label))) << r.line;
        EXPECT_EQ(lines[r.line].section(u'\t', 1), QString::fromUtf8(r.value)) << r.line;
    }

    Clear();
    Emu().SetHeaderOverride({std::nullopt, uint8_t{0x14}, std::nullopt});
    form->BitBtn4Click();
    Emu().ClearHeaderOverride();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].caption, kErrorCaption);
}

} // namespace
