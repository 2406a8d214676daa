// The tab "Программирование" end to end: the handlers, the compound-tax and
// receipt-header windows, the real driver and the emulated printer.
#include "support_console.h"

#include "compound_tax_window.h"
#include "console_state.h"
#include "console_windows.h"
#include "receipt_header_window.h"
#include "widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace krv::console;
using krv::emu::Bytes;
using krv::emu::DeviceText;

namespace {

const QString kInfoCaption = QStringLiteral("Информация");

class ProgrammingTab : public krv::test::ConnectedConsoleTest {
  protected:
    void SetUp() override {
        ConnectedConsoleTest::SetUp();
        if (HasFatalFailure())
            return;
        compound = std::make_unique<TForm4>();
        header = std::make_unique<TForm6>();
        Windows().Form4 = compound.get();
        Windows().Form6 = header.get();
    }
    void TearDown() override {
        compound.reset();
        header.reset();
        ConnectedConsoleTest::TearDown();
    }

    QWidget *Widget(const char *name) { return form->findChild<QWidget *>(name); }
    QTableWidget *Grid() { return form->findChild<QTableWidget *>("StringGrid1"); }
    void SetRates(std::initializer_list<const char *> rates) {
        int row = 1;
        for (const char *rate : rates)
            Grid()->item(row++, 1)->setText(QString::fromUtf8(rate));
        for (; row <= 5; ++row)
            Grid()->item(row, 1)->setText(QString());
    }
    QString Rate(int row) { return Grid()->item(row, 1)->text(); }
    bool Green(int row) {
        return Grid()->item(row, 1)->background().color() == QColor::fromRgb(kMoneyGreenRgb);
    }
    // Opens the compound-tax window and plays the operator in it.
    void EditScheme(std::function<void(TForm4 &)> play) {
        script->modalActions.push_back(
            [play](QWidget &window) { play(static_cast<TForm4 &>(window)); });
        form->BitBtn14Click();
    }

    std::unique_ptr<TForm4> compound;
    std::unique_ptr<TForm6> header;
};

TEST_F(ProgrammingTab, NumberFieldsRefuseAnythingButLettersAndDigits) {
    const struct {
        const char *edit, *button, *radio;
        const char *refusal;
    } fields[] = {
        {"Edit14", "Button22", nullptr, "Фискальный номер задан неверно!"},
        {"Edit26", "BitBtn17", "RadioButton1", "Налоговый номер задан неверно!"},
        {"Edit26", "BitBtn17", "RadioButton2", "Идентификационный номер задан неверно!"},
    };
    for (const auto &f : fields) {
        if (f.radio)
            static_cast<QAbstractButton *>(Widget(f.radio))->click();
        script->messages.clear();
        SetText(f.edit, QStringLiteral("АбЇї12"));
        EXPECT_TRUE(Widget(f.button)->isEnabled()) << f.edit;
        for (const char *typed : {"1", "12", "12-"})
            SetText(f.edit, QString::fromUtf8(typed));
        EXPECT_EQ(Text(f.edit), QString()) << f.edit;
        EXPECT_FALSE(Widget(f.button)->isEnabled()) << f.edit;
        ASSERT_EQ(script->messages.size(), 1u) << f.edit;
        EXPECT_EQ(script->messages[0].caption, QStringLiteral("Ошибка!"));
        EXPECT_TRUE(script->messages[0].text.startsWith(QString::fromUtf8(f.refusal)))
            << script->messages[0].text.toStdString();
    }
    EXPECT_TRUE(Commands().empty());
}

TEST_F(ProgrammingTab, FiscalizationAsksMakesTheZReportOfANewPrinterAndWritesTheNumber) {
    const QString confirm = QStringLiteral("Подтверждение фискализации");
    const QString zQuestion = QStringLiteral("Внимание!");
    const struct {
        const char *road;
        bool alreadyFiscal;
        std::vector<int> answers;
        std::vector<uint8_t> commands;
        std::vector<QString> captions;
        QString lastText;
        bool written;
    } roads[] = {
        {"new printer",
         false,
         {kResultYes, kResultYes},
         {0x00, 0x0D, 0x15},
         {confirm, zQuestion, kInfoCaption},
         FiscalizationDoneText(),
         true},
        {"Z declined",
         false,
         {kResultYes, kResultNo},
         {0x00},
         {confirm, zQuestion, kInfoCaption},
         QStringLiteral("Операция была отклонена пользователем!"),
         false},
        {"already fiscal",
         true,
         {kResultYes},
         {0x00, 0x15},
         {confirm, kInfoCaption},
         FiscalizationDoneText(),
         true},
        {"not confirmed", false, {kResultNo}, {}, {confirm}, {}, false},
    };
    for (const auto &r : roads) {
        {
            auto lock = Emu().Lock();
            Emu().State().fiscalMode = r.alreadyFiscal;
            Emu().State().ext.fiscalNumber.clear();
            Emu().State().zReports.clear();
        }
        State().FiscalizationWizardActive = false;
        Clear();
        SetText("Edit14", QStringLiteral("ФН0012345"));
        script->answers.assign(r.answers.begin(), r.answers.end());
        form->Button22Click();
        EXPECT_EQ(Commands(), r.commands) << r.road;
        std::vector<QString> captions;
        for (const auto &m : script->messages) {
            captions.push_back(m.caption);
            // Both questions lead to what cannot be undone: No is their default.
            if (m.caption == confirm || m.caption == zQuestion) {
                EXPECT_EQ(m.buttons, Buttons::YesNoDefaultNo) << r.road;
            }
        }
        EXPECT_EQ(captions, r.captions)
            << r.road << ": " << script->Texts().join(" | ").toStdString();
        if (!r.lastText.isEmpty()) {
            EXPECT_EQ(script->messages.back().text, r.lastText) << r.road;
        }
        EXPECT_EQ(State().FiscalizationWizardActive, r.written) << r.road;
        auto lock = Emu().Lock();
        EXPECT_EQ(Emu().State().zReports.size(), r.commands.size() == 3 ? 1u : 0u) << r.road;
        const std::string stored = Emu().State().ext.fiscalNumber;
        EXPECT_EQ(!stored.empty(), r.written) << r.road;
        if (r.written) {
            const Bytes expected = DeviceText("ФН0012345");
            EXPECT_NE(stored.find(std::string(expected.begin(), expected.end())), std::string::npos)
                << r.road;
        }
    }
}

TEST_F(ProgrammingTab, HeaderWriteSendsLinesAsTypedAndTheAppliedAdditionalLines) {
    // In the header window: three lines, an additional line in double width,
    // applied; then line 2 retyped without applying.
    script->modalActions.push_back([](QWidget &window) {
        auto &h = static_cast<TForm6 &>(window);
        h.Edit1->setText(QStringLiteral("ТОВ \"Ромашка\""));
        h.Edit2->setText(QStringLiteral("м. Київ"));
        h.Edit3->setText(QStringLiteral("вул. Садова, 1"));
        h.Edit4->setText(QStringLiteral("Спасибо!"));
        h.ComboBox1->setCurrentIndex(3);
        h.CheckBox1->setChecked(true);
        h.Button1->click();
    });
    form->Button53Click();
    EXPECT_EQ(State().ReceiptHeaderLines[3].text, QStringLiteral("Спасибо!"));
    EXPECT_TRUE(State().ReceiptHeaderLines[3].doubleWidth);
    header->Edit2->setText(QStringLiteral("м. Львов"));

    SetText("Edit26", QStringLiteral("1234567890"));
    ASSERT_TRUE(Widget("BitBtn17")->isEnabled());
    State().FiscalizationWizardActive = true;
    Clear();
    form->BitBtn17Click();
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x16, 0x17, 0x17}));
    ASSERT_EQ(script->messages.size(), 1u) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(script->messages[0].parent, header.get());
    EXPECT_EQ(script->messages[0].text, HeaderDoneText(true));
    EXPECT_TRUE(script->messages[0].text.contains(QStringLiteral("ФИСКАЛИЗАЦИЯ УСПЕШНО")));
    EXPECT_FALSE(State().FiscalizationWizardActive);
    {
        auto lock = Emu().Lock();
        const auto &ext = Emu().State().ext;
        EXPECT_EQ(ext.headLines[0].text, DeviceText("ТОВ \"Ромашка\""));
        EXPECT_EQ(ext.headLines[1].text, DeviceText("м. Львов"));
        EXPECT_FALSE(ext.idNumber);
        EXPECT_EQ(ext.messageLines[6].text, DeviceText("Спасибо!"));
        EXPECT_NE(ext.messageLines[6].lengthByte & 0xC0, 0); // an attribute bit is set
        EXPECT_EQ(ext.messageLines[7].lengthByte & 0x3F, 0);
    }
    // The next write shows the shorter text; " ІД:" marks the number.
    static_cast<QAbstractButton *>(Widget("RadioButton2"))->click();
    Clear();
    form->BitBtn17Click();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].text, HeaderDoneText(false));
    auto lock = Emu().Lock();
    EXPECT_TRUE(Emu().State().ext.idNumber);
}

TEST_F(ProgrammingTab, DoubleWidthMessageLinesAskToCutForTheModel) {
    const QString line25 = QStringLiteral("Ласкаво просимо до нас!!");
    ASSERT_EQ(line25.size(), 24);
    const QString text = line25 + QStringLiteral("!");
    const struct {
        bool firstModel, doubleWidth;
        int answer;
        int sentLength; // -1: nothing sent
        const char *question;
    } cases[] = {
        {true, true, kResultYes, 20, "20"},
        {false, true, kResultYes, 19, "19"},
        {true, true, kResultNo, -1, "20"},
        {true, false, kResultYes, 25, nullptr},
    };
    for (const auto &c : cases) {
        State().IsFirstModel = c.firstModel ? -1 : 0;
        SetChecked("CheckBox10", c.doubleWidth);
        SetText("Edit42", text);
        {
            auto lock = Emu().Lock();
            Emu().State().ext.messageLines[2] = {}; // initial line 2
        }
        Clear();
        script->answers = {c.answer};
        form->Button27Click();
        if (c.question) {
            ASSERT_FALSE(script->messages.empty());
            EXPECT_EQ(script->messages[0].text, CutQuestionText(QString(c.question).toInt()));
            EXPECT_EQ(script->messages[0].caption, c.firstModel
                                                       ? QStringLiteral("Что будем делать?!")
                                                       : QStringLiteral("Что будем делать?"));
        }
        EXPECT_EQ(Text("Edit42"), text); // the field keeps its text
        if (c.sentLength < 0) {
            EXPECT_TRUE(Commands().empty());
            continue;
        }
        EXPECT_EQ(script->messages.back().text,
                  QStringLiteral("2-я строка начального сообщения чека установлена."));
        auto lock = Emu().Lock();
        EXPECT_EQ(Emu().State().ext.messageLines[2].text,
                  DeviceText(text.left(c.sentLength).toStdString()));
    }
}

// Each of the six buttons reads its own edit and writes its own line: the
// printer numbers them initial 1, final 1, initial 2, initial 3, final 2,
// final 3.
TEST_F(ProgrammingTab, EachMessageLineButtonWritesItsOwnLine) {
    const struct {
        void (TForm1::*handler)();
        const char *edit;
        uint8_t index;
        const char *done;
    } lines[] = {
        {&TForm1::Button15Click, "Edit12", 0, "1-я строка начального сообщения чека установлена."},
        {&TForm1::Button27Click, "Edit42", 2, "2-я строка начального сообщения чека установлена."},
        {&TForm1::Button49Click, "Edit43", 3, "3-я строка начального сообщения чека установлена."},
        {&TForm1::Button26Click, "Edit27", 1, "1-я строка конечного сообщения чека установлена."},
        {&TForm1::Button50Click, "Edit44", 4, "2-я строка конечного сообщения чека установлена."},
        {&TForm1::Button51Click, "Edit45", 5, "3-я строка конечного сообщения чека установлена."},
    };
    SetChecked("CheckBox10", false);
    SetChecked("CheckBox11", false);
    for (const auto &l : lines)
        SetText(l.edit, QStringLiteral("Line of ") + QString::fromLatin1(l.edit));
    for (const auto &l : lines) {
        SCOPED_TRACE(l.edit);
        Clear();
        (form.get()->*l.handler)();
        Bytes sent{0x17, l.index, 14};
        for (char c : std::string("Line of ") + l.edit)
            sent.push_back(static_cast<uint8_t>(c));
        EXPECT_EQ(Emu().Requests(), std::vector<Bytes>{sent});
        EXPECT_EQ(script->Texts(), QStringList{QString::fromUtf8(l.done)});
        EXPECT_EQ(script->messages[0].caption, kInfoCaption);
    }
}

TEST_F(ProgrammingTab, HeaderWindowLimitsAndItsAppliedCopy) {
    State().IsFirstModel = 0; // a KRV-T200
    header->show();
    header->Edit2->setText(QString(25, QLatin1Char('x')));
    header->ComboBox1->setCurrentIndex(1);
    header->CheckBox1->setChecked(true);
    EXPECT_EQ(header->Edit2->text().size(), 19);
    EXPECT_EQ(header->Label3->text(), QStringLiteral("Строка №2 (0..19 символов)"));
    EXPECT_EQ(header->Label2->text(), QStringLiteral("Строка №1 (0..30 символов)"));
    EXPECT_EQ(header->Label5->text(), QStringLiteral("Дополнительная строка №1 (0..36 символов)"));
    header->Button2->click(); // "Закрыть": nothing applied
    header->show();
    EXPECT_EQ(header->Edit2->text(), QString());
    EXPECT_FALSE(header->CheckBox1->isChecked());
    EXPECT_EQ(header->Label3->text(), QStringLiteral("Строка №2 (0..30 символов)"));
    header->hide();
}

TEST_F(ProgrammingTab, CompoundGroupShowsInTheGridAndIsWrittenWithItsLevyThenProbed) {
    SetRates({"20,00", "0,00", "7,00"});
    EditScheme([](TForm4 &w) {
        w.ComboBox1->setCurrentIndex(2); // В
        w.CheckBox1->setChecked(true);
        w.CheckBox2->setChecked(true);
        w.MaskEdit2->setText(QStringLiteral("05,00%"));
        w.BitBtn1->click();
    });
    EXPECT_EQ(Rate(3), CompoundCellText());
    EXPECT_TRUE(Green(3));
    EXPECT_FALSE(Green(2));
    EXPECT_FALSE(Widget("RadioGroup3")->isEnabled()); // the tax type is locked
    EXPECT_TRUE(Widget("BitBtn14")->isEnabled());

    Clear();
    form->BitBtn6Click();
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x19, 0x12, 0x0F}));
    ASSERT_EQ(script->messages.size(), 1u) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(script->messages[0].text,
              QStringLiteral("Тип налога и налоговые группы установлены!"));
    // Password, count 3, rates 2000 0 2000, the levy scheme, levies 0 0 500
    // with tax on the levy, no levy for group Е.
    EXPECT_EQ(Request(0x19), (Bytes{0x19, 0, 0, 3, 0xD0, 0x07, 0, 0, 0xD0, 0x07, 0x20, 0, 0, 0, 0,
                                    0xF4, 0x81, 0, 0}));
    {
        auto lock = Emu().Lock();
        EXPECT_EQ(Emu().State().receipt.kind, krv::emu::ReceiptKind::None);
    }

    // The group leaves the scheme: its typed rate comes back, the type unlocks.
    EditScheme([](TForm4 &w) {
        w.ComboBox1->setCurrentIndex(2);
        w.CheckBox1->setChecked(false);
        w.BitBtn1->click();
    });
    EXPECT_EQ(Rate(3), QStringLiteral("7,00"));
    EXPECT_FALSE(Green(3));
    EXPECT_TRUE(Widget("RadioGroup3")->isEnabled());
}

TEST_F(ProgrammingTab, TaxReadFillsTheGridAndDropsLeviesThePrinterHasNot) {
    // The printer gets Б compound at 15,00 + 2,50 and Е a levy of 3,00.
    SetRates({"20,00", "0,00", "7,00"});
    EditScheme([](TForm4 &w) {
        w.ComboBox1->setCurrentIndex(1);
        w.CheckBox1->setChecked(true);
        w.MaskEdit1->setText(QStringLiteral("15,00%"));
        w.MaskEdit2->setText(QStringLiteral(" 2,50%"));
        w.ComboBox1->setCurrentIndex(5);
        w.CheckBox1->setChecked(true);
        w.MaskEdit2->setText(QStringLiteral(" 3,00%"));
        w.BitBtn1->click();
    });
    form->BitBtn6Click();
    ASSERT_EQ(script->messages.back().text,
              QStringLiteral("Тип налога и налоговые группы установлены!"));

    // Locally Г also claims the scheme, and the grid holds other rates.
    State().CompoundTaxApplied[3].useCompound = true;
    State().CompoundTaxWorking[3].useCompound = true;
    SetRates({"1,00", "1,00", "1,00", "1,00", "1,00"});
    Clear();
    form->BitBtn5Click();
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x2C}));
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Дата программирования налогов!"));
    EXPECT_TRUE(script->messages[0].text.startsWith(
        QStringLiteral("Дата программирования налоговых групп: ") +
        QLocale().toString(QDate::currentDate(), QLocale::ShortFormat)));
    EXPECT_TRUE(script->messages[0].text.endsWith(
        QStringLiteral("\r\nИспользуется схема составного налога!")));

    EXPECT_EQ(Rate(1), QStringLiteral("20,00"));
    EXPECT_EQ(Rate(2), CompoundCellText());
    EXPECT_TRUE(Green(2));
    EXPECT_EQ(State().GridRateTexts[1], QStringLiteral("15,00"));
    EXPECT_EQ(Rate(3), QStringLiteral("7,00"));
    EXPECT_EQ(Rate(4), QString());
    EXPECT_EQ(Rate(5), QString());
    EXPECT_FALSE(State().CompoundTaxApplied[3].useCompound);
    EXPECT_TRUE(State().CompoundTaxApplied[5].useCompound);
    EXPECT_EQ(State().CompoundTaxApplied[5].levyRateText, QStringLiteral("3,00"));
    EXPECT_EQ(State().CompoundTaxWorking, State().CompoundTaxApplied);
    EXPECT_EQ(State().SelectedTaxGroup, 2);

    // A cashier may read the rates but never reaches the compound scheme.
    State().AccessMode = kCashierMode;
    form->ApplyControlsForMode();
    form->BitBtn5Click();
    EXPECT_FALSE(Widget("BitBtn14")->isEnabled());
    EXPECT_FALSE(Widget("RadioGroup3")->isEnabled());
}

} // namespace
