// The tab "Операции" of the connected main window, end to end: the handlers
// read the fields, the real driver talks to the emulated printer, and the
// receipt panel and the boxes show the outcome. The locale is Ukrainian, so
// money is typed with a comma.
#include "support_console.h"

#include "console_state.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

using namespace krv::console;
using krv::emu::Bytes;

namespace krv::console {
void PrintTo(const ReceiptPanel &p, std::ostream *os) {
    *os << "[" << p.label11.toStdString() << "|" << p.label51.toStdString() << "|"
        << p.label52.toStdString() << "|" << p.label54.toStdString() << "]";
}
} // namespace krv::console

namespace {

const QString kErrorCaption = QStringLiteral("Ошибка!");

class ReceiptTab : public krv::test::ConnectedConsoleTest {
  protected:
    void Line(const char *code, const QString &name, const char *quantity, const char *price) {
        SetText("Edit39", QString::fromUtf8(code));
        SetText("Edit6", name);
        SetText("Edit7", QString::fromUtf8(quantity));
        SetText("Edit8", QString::fromUtf8(price));
    }
    ReceiptPanel PanelNow() {
        return ReceiptPanel{Text("Label11"), Text("Label51"), Text("Label52"), Text("Label54")};
    }
    void LoginAsCashier() {
        State().StartupArgument.clear(); // no login window here: cashier
        form->Button31Click();
        ASSERT_TRUE(State().Connected);
        ASSERT_EQ(State().AccessMode, kCashierMode);
    }
    void ExpectOneError(const QString &text) {
        ASSERT_EQ(script->messages.size(), 1u) << script->Texts().join(" | ").toStdString();
        EXPECT_EQ(script->messages[0].caption, kErrorCaption);
        EXPECT_EQ(script->messages[0].text, text);
        EXPECT_EQ(script->messages[0].icon, Icon::Error);
        EXPECT_EQ(script->messages[0].parent, form.get());
    }
};

// ---- Lines ------------------------------------------------------------------------

TEST_F(ReceiptTab, SaleWithAutomaticCloseFillsThePanelAndChecksThePaper) {
    Line("7", QStringLiteral("Товар"), "1,000", "12,50");
    SetChecked("CheckBox1", true);
    form->Button9Click();

    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x12, 0x14, 0x30}));
    EXPECT_EQ(Request(0x12),
              (Bytes{0x12, 0xE8, 0x03, 0x00, 0x03, 0xE2, 0x04, 0x00, 0x00, 0x80, 0x05,
                     0x92, 0xAE, 0xA2, 0xA0, 0xE0, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Request(0x14), (Bytes{0x14, 0x03, 0x00, 0x00, 0x00, 0x80}))
        << "cash, pay the rest, fiscal";
    EXPECT_EQ(PanelNow(),
              (ReceiptPanel{QStringLiteral("Сдача:"), QStringLiteral("12,50 грн."),
                            QStringLiteral("12,50 грн."), QStringLiteral("0,00 грн.")}));
    EXPECT_EQ(DriverCalls("GetPaperState").size(), 1);
}

TEST_F(ReceiptTab, SaleWithoutCloseKeepsTheReceiptOpenAndSendsTheFlags) {
    Line("123", QStringLiteral("A"), "0,5", "3"); // 0000000000123 has a right check digit
    SetChecked("CheckBox2", true);
    SetChecked("CheckBox15", true);
    SetIndex("ComboBox3", 2);
    form->Button9Click();

    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x12}));
    const Bytes sale = Request(0x12);
    ASSERT_GE(sale.size(), 10u);
    EXPECT_EQ((Bytes(sale.begin() + 1, sale.begin() + 10)),
              (Bytes{0x05, 0x00, 0x00, 0x81 | 0x40, 0x2C, 0x01, 0x00, 0x00, 0x82}))
        << "quantity 5 with one decimal, unit quantity, barcode, group В";
    EXPECT_EQ(PanelNow(), (ReceiptPanel{QString(), QStringLiteral("3,00 грн."),
                                        QStringLiteral("3,00 грн."), QString()}));
    EXPECT_TRUE(DriverCalls("GetPaperState").isEmpty()) << "no paper check without the close";
}

TEST_F(ReceiptTab, ReturnReceiptGoesThroughThePayoutCommand) {
    SetText("Edit10", QStringLiteral("100"));
    form->Button14Click();
    EXPECT_EQ(Request(0x10), (Bytes{0x10, 0x10, 0x27, 0x00, 0x00})) << "100 грн. is 10000 kopecks";
    Clear();

    Line("3", QStringLiteral("Повернення"), "2", "7,25");
    SetChecked("CheckBox1", true);
    form->Button10Click();
    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x08, 0x14, 0x30}));
    EXPECT_EQ(Text("Label51"), QStringLiteral("14,50 грн."));
    EXPECT_EQ(Text("Label52"), QStringLiteral("14,50 грн."));
    EXPECT_FALSE(Text("Label11").isEmpty());
}

TEST_F(ReceiptTab, CancelledLineFollowsTheKindOfTheOpenReceipt) {
    SetText("Edit10", QStringLiteral("100"));
    form->Button14Click();
    Line("1", QStringLiteral("A"), "2", "3,00");
    form->Button10Click();
    Clear();

    form->Button44Click();
    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x00, 0x08})) << "status, then the payout";
    const Bytes cancel = Request(0x08);
    ASSERT_GE(cancel.size(), 9u);
    EXPECT_EQ((Bytes(cancel.begin() + 5, cancel.begin() + 9)), (Bytes{0x2C, 0x01, 0x00, 0x80}));
    EXPECT_EQ(Text("Label51"), QStringLiteral("-6,00 грн."));
    EXPECT_EQ(Text("Label52"), QStringLiteral("0,00 грн."));

    form->Button13Click(); // void the return
    form->Button9Click();  // a sale receipt now
    Clear();
    form->Button44Click();
    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x00, 0x12}));
    EXPECT_EQ(Text("Label51"), QStringLiteral("-6,00 грн."));
}

TEST_F(ReceiptTab, FailedAutomaticCloseKeepsTheRegisteredLine) {
    Line("1", QStringLiteral("A"), "1", "5");
    SetChecked("CheckBox1", true);
    SetIndex("ComboBox4", 0);
    Emu().SetHandler(0x14, [](krv::emu::PrinterEmulator &, std::span<const uint8_t>) {
        return krv::emu::Reply::Error(0x18);
    });
    form->Button9Click();
    ExpectOneError(DriverErrorText());
    EXPECT_EQ(PanelNow(), (ReceiptPanel{QString(), QStringLiteral("5,00 грн."),
                                        QStringLiteral("5,00 грн."), QString()}));
    EXPECT_TRUE(DriverCalls("GetPaperState").isEmpty());
}

// ---- Payment ----------------------------------------------------------------------

TEST_F(ReceiptTab, PaymentShowsRestThenChange) {
    Line("1", QStringLiteral("A"), "1", "12,50");
    form->Button9Click();
    Clear();

    SetText("Edit11", QStringLiteral("5"));
    form->Button37Click();
    EXPECT_EQ(Request(0x14), (Bytes{0x14, 0x03, 0xF4, 0x01, 0x00, 0x00}));
    EXPECT_EQ(Text("Label11"), QStringLiteral("Остаток:"));
    EXPECT_EQ(Text("Label54"), QStringLiteral("7,50 грн."));
    EXPECT_EQ(Text("Label51"), QStringLiteral("12,50 грн.")) << "the line's rows stay";

    SetText("Edit11", QStringLiteral(" 10,00 "));
    form->Button37Click();
    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(Text("Label11"), QStringLiteral("Сдача:"));
    EXPECT_EQ(Text("Label54"), QStringLiteral("2,50 грн."));
    EXPECT_EQ(DriverCalls("GetPaperState").size(), 2);
}

TEST_F(ReceiptTab, CloseButtonPaysTheRestWithTheChosenFormNonFiscally) {
    Line("1", QStringLiteral("A"), "1", "1");
    form->Button9Click();
    Clear();
    SetIndex("ComboBox4", 3);
    SetChecked("CheckBox5", true);
    form->Button39Click();
    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(Request(0x14), (Bytes{0x14, 0x43, 0x00, 0x00, 0x00, 0x80}));
    EXPECT_EQ(Text("Label11"), QStringLiteral("Сдача:"));
}

// ---- Discounts and markups --------------------------------------------------------

TEST_F(ReceiptTab, DiscountsAndMarkupsByKind) {
    Line("1", QStringLiteral("A"), "1", "10");
    form->Button9Click();
    Clear();

    SetIndex("ComboBox9", 0);
    SetText("Edit18", QStringLiteral("10"));
    SetIndex("ComboBox10", 0);
    form->Button38Click();
    EXPECT_EQ(Request(0x23), (Bytes{0x23, 0x00, 0x0A, 0x00, 0x00, 0x82, 0x00}));
    EXPECT_EQ(PanelNow(),
              (ReceiptPanel{QStringLiteral("Скидка:"), QStringLiteral("10,00 грн."),
                            QStringLiteral("9,00 грн."), QStringLiteral("-1,00 грн.")}));
    Clear();

    SetIndex("ComboBox9", 3);
    SetText("Edit19", QStringLiteral("0,50"));
    SetIndex("ComboBox10", 1);
    SetText("Edit20", QStringLiteral("Бонус"));
    form->Button38Click();
    EXPECT_EQ(Request(0x23),
              (Bytes{0x23, 0x03, 0x32, 0x00, 0x00, 0x00, 0x05, 0x81, 0xAE, 0xAD, 0xE3, 0xE1}))
        << "markup of 50 kopecks on the subtotal, with its line";
    EXPECT_EQ(Text("Label11"), QStringLiteral("Наценка:"));
    EXPECT_EQ(Text("Label54"), QStringLiteral("0,50 грн."));
    EXPECT_EQ(Text("Label52"), QStringLiteral("9,50 грн."));
    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    EXPECT_TRUE(DriverCalls("GetPaperState").isEmpty());
}

TEST_F(ReceiptTab, DiscountTypeSwitchesTheValueField) {
    auto *percent = form->Control(QStringLiteral("Edit18"));
    auto *amount = form->Control(QStringLiteral("Edit19"));
    for (int kind : {1, 3}) {
        SetIndex("ComboBox9", kind);
        EXPECT_FALSE(percent->isEnabled()) << kind;
        EXPECT_TRUE(amount->isEnabled()) << kind;
    }
    SetIndex("ComboBox9", 2);
    EXPECT_TRUE(percent->isEnabled());
    EXPECT_FALSE(amount->isEnabled());
    SetIndex("ComboBox9", -1); // no type chosen: nothing changes
    EXPECT_TRUE(percent->isEnabled());
    EXPECT_FALSE(amount->isEnabled());
}

TEST_F(ReceiptTab, CashierCannotReachTheDiscountFieldsThroughTheType) {
    form->Button40Click();
    LoginAsCashier();
    SetIndex("ComboBox9", 1);
    EXPECT_FALSE(form->Control(QStringLiteral("Edit18"))->isEnabled());
    EXPECT_FALSE(form->Control(QStringLiteral("Edit19"))->isEnabled());
}

// ---- Refusals: one box, the window as it was ---------------------------------------

TEST_F(ReceiptTab, PrinterRefusalShowsOneBoxAndChangesNothing) {
    Line("1", QStringLiteral("A"), "1", "12,50");
    form->Button9Click();
    SetText("Edit11", QStringLiteral("5"));
    form->Button37Click(); // payments begun: no more lines or discounts
    const ReceiptPanel before = PanelNow();
    Clear();

    form->Button9Click();
    ExpectOneError(DriverErrorText());
    EXPECT_FALSE(script->messages[0].text.isEmpty());
    EXPECT_EQ(PanelNow(), before);
    EXPECT_EQ(Text("Edit8"), QStringLiteral("12,50"));
    Clear();

    SetText("Edit18", QStringLiteral("5"));
    form->Button38Click();
    ExpectOneError(DriverErrorText());
    EXPECT_EQ(PanelNow(), before);
    Clear();

    SetText("Edit9", QStringLiteral("Коментар"));
    form->Button11Click();
    ExpectOneError(DriverErrorText());
    EXPECT_EQ(PanelNow(), before) << "a refused comment empties nothing";
    Clear();

    SetText("Edit29", QStringLiteral("1000"));
    form->Button16Click(); // a receipt is open
    ExpectOneError(DriverErrorText());
    EXPECT_EQ(PanelNow(), before);
}

TEST_F(ReceiptTab, FailedStatusEndsTheCancelBeforeAnyLine) {
    Line("1", QStringLiteral("A"), "1", "1");
    FailNextStatusQueries(1);
    form->Button44Click();
    ExpectOneError(DriverErrorText());
    const std::vector<uint8_t> sent = Commands();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 0x12), 0);
}

// ---- Input errors ------------------------------------------------------------------------

TEST_F(ReceiptTab, InputErrorsShowTheirTextAndSendNothing) {
    const QString lineEmpty = QStringLiteral("Поля \"Код\", \"Наименование\", \"Количество\" и "
                                             "\"Цена\"\r\n           не могут быть пустыми!");
    const QString cancelEmpty = QStringLiteral(
        "Поля \"Наименование\", \"Количество\" и \"Цена\"\r\n           не могут быть пустыми!");
    struct Case {
        const char *what;
        std::function<void()> prepare;
        void (TForm1::*handler)();
        QString text;
    };
    const auto line = [this](const char *code, const char *name, const char *quantity,
                             const char *price) {
        return [=, this] { Line(code, QString::fromUtf8(name), quantity, price); };
    };
    const auto field = [this](const char *name, const char *text) {
        return [=, this] { SetText(name, QString::fromUtf8(text)); };
    };
    const std::vector<Case> cases = {
        {"sale, empty name", line("1", "", "1", "1"), &TForm1::Button9Click, lineEmpty},
        {"return, empty code", line("", "A", "1", "1"), &TForm1::Button10Click, lineEmpty},
        {"code", line("1a", "A", "1", "1"), &TForm1::Button9Click,
         QStringLiteral("Код товара задан неверно!")},
        {"four decimals", line("1", "A", "1,0000", "1"), &TForm1::Button9Click,
         QStringLiteral("Неправильный формат количества!")},
        {"negative quantity", line("1", "A", "-1", "1"), &TForm1::Button10Click,
         QStringLiteral("Неправильный формат количества!")},
        {"price", line("1", "A", "1", "12.50"), &TForm1::Button9Click,
         QStringLiteral("Введите цену в гривнах!")},
        {"cancel, empty price", line("1", "A", "1", ""), &TForm1::Button44Click, cancelEmpty},
        {"percent",
         [this] {
             SetIndex("ComboBox9", 2);
             SetText("Edit18", QStringLiteral("5%"));
         },
         &TForm1::Button38Click, QStringLiteral("Значение процентной скидки должно от 0%..100%!")},
        {"percent over 100",
         [this] {
             SetIndex("ComboBox9", 0);
             SetText("Edit18", QStringLiteral("101"));
         },
         &TForm1::Button38Click, QStringLiteral("Значение процентной скидки должно от 0%..100%!")},
        {"discount amount",
         [this] {
             SetIndex("ComboBox9", 1);
             SetText("Edit19", QStringLiteral("x"));
         },
         &TForm1::Button38Click, QStringLiteral("Введите значение асолютной скидки в гривнах!")},
        {"tendered empty", field("Edit11", ""), &TForm1::Button37Click,
         QStringLiteral("Введите сумму принятую от клиента!")},
        {"tendered", field("Edit11", "пять"), &TForm1::Button37Click,
         QStringLiteral("Введите сумму в гривнах!")},
        {"cash-in empty", field("Edit10", ""), &TForm1::Button14Click,
         QStringLiteral("Введите сумму для служебного внесения!")},
        {"cash-in", field("Edit10", "1,2,3"), &TForm1::Button14Click,
         QStringLiteral("Введите сумму в гривнах!")},
        {"cash-in negative", field("Edit10", "-5"), &TForm1::Button14Click,
         QStringLiteral("Введите сумму в гривнах!")},
        {"cash-in limit", field("Edit10", "42949672,96"), &TForm1::Button14Click,
         QStringLiteral("Максимальная сумма служебного внесения составляет 42949672.95 грн!")},
        {"cash-out empty", field("Edit29", ""), &TForm1::Button16Click,
         QStringLiteral("Введите сумму для служебного изъятия!")},
        {"cash-out limit", field("Edit29", "50000000"), &TForm1::Button16Click,
         QStringLiteral("Максимальная сумма служебного изъятия составляет 42949672.95 грн!")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        c.prepare();
        const ReceiptPanel before = PanelNow();
        Clear();
        (form.get()->*c.handler)();
        ExpectOneError(c.text);
        const std::vector<uint8_t> sent = Commands();
        if (c.handler == &TForm1::Button44Click)
            EXPECT_EQ(sent, (std::vector<uint8_t>{0x00})) << "only the status";
        else
            EXPECT_TRUE(sent.empty());
        EXPECT_EQ(PanelNow(), before);
    }
}

// ---- Other receipt commands ---------------------------------------------------------------

TEST_F(ReceiptTab, CommentOutsideAReceiptEmptiesThePanelInsideKeepsIt) {
    Line("1", QStringLiteral("A"), "1", "2");
    SetChecked("CheckBox1", true);
    form->Button9Click(); // closed: the panel still shows it
    ASSERT_FALSE(Text("Label51").isEmpty());
    SetChecked("CheckBox1", false);
    Clear();

    SetText("Edit9", QStringLiteral("Дякуємо"));
    form->Button11Click();
    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x00, 0x0B}));
    EXPECT_EQ(PanelNow(), ReceiptPanel{});

    form->Button9Click();
    const ReceiptPanel open = PanelNow();
    form->Button11Click();
    EXPECT_EQ(PanelNow(), open);
    EXPECT_TRUE(DriverCalls("GetPaperState").isEmpty());
}

TEST_F(ReceiptTab, RefusedCommentOutsideAReceiptKeepsThePanel) {
    Line("1", QStringLiteral("A"), "1", "2");
    SetChecked("CheckBox1", true);
    form->Button9Click();
    const ReceiptPanel closed = PanelNow();
    ASSERT_FALSE(closed.label51.isEmpty());
    SetChecked("CheckBox1", false);
    Emu().SetHandler(0x0B, [](krv::emu::PrinterEmulator &, std::span<const uint8_t>) {
        return krv::emu::Reply::Error(0x10);
    });
    Clear();
    form->Button11Click();
    ExpectOneError(DriverErrorText());
    EXPECT_EQ(PanelNow(), closed);
}

TEST_F(ReceiptTab, ZeroReceiptAndVoidEmptyThePanel) {
    Line("1", QStringLiteral("A"), "1", "2");
    form->Button9Click();
    Clear();
    form->Button13Click();
    ASSERT_EQ(script->messages.size(), 1u);
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Информация"));
    EXPECT_EQ(script->messages[0].text, QStringLiteral("Фактура чека анулирована!"));
    EXPECT_EQ(script->messages[0].icon, Icon::Information);
    EXPECT_EQ(PanelNow(), ReceiptPanel{});
    EXPECT_EQ(DriverCalls("GetPaperState").size(), 1);

    form->Button9Click();
    Clear();
    form->Button13Click();
    form->Button32Click();
    EXPECT_EQ(script->messages.size(), 1u) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(PanelNow(), ReceiptPanel{});
}

TEST_F(ReceiptTab, CashInAtTheLimitAndCashOut) {
    SetText("Edit10", QStringLiteral("42949672,95"));
    form->Button14Click();
    EXPECT_EQ(Request(0x10), (Bytes{0x10, 0xFF, 0xFF, 0xFF, 0xFF}));
    SetText("Edit29", QStringLiteral("0,01"));
    form->Button16Click();
    EXPECT_EQ(Request(0x18), (Bytes{0x18, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(DriverCalls("GetPaperState").size(), 2);
}

TEST_F(ReceiptTab, Barcodes) {
    SetText("Edit41", QString());
    form->BitBtn20Click();
    EXPECT_TRUE(Commands().empty()) << "an empty EAN-13 does nothing";
    EXPECT_TRUE(script->messages.empty());

    SetText("Edit41", QStringLiteral("124"));
    form->BitBtn20Click();
    ExpectOneError(DriverErrorText());
    EXPECT_TRUE(Commands().empty()) << "a wrong check digit";
    Clear();

    SetText("Edit41", QStringLiteral("4820000000000"));
    form->BitBtn20Click();
    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(Request(0x31),
              (Bytes{0x31, '4', '8', '2', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'}));
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x31, 0x30}));
    Clear();

    SetText("Edit40", QStringLiteral("ABC-123"));
    form->BitBtn19Click();
    EXPECT_TRUE(script->messages.empty()) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x2F})) << "no paper check after Code 128";
}

TEST_F(ReceiptTab, ButtonsAreWiredToTheirHandlers) {
    Line("1", QStringLiteral("A"), "1", "2");
    form->Control<QPushButton>(QStringLiteral("Button9"))->click();
    EXPECT_EQ(Commands(), (std::vector<uint8_t>{0x12}));
    Clear();
    form->Control<QPushButton>(QStringLiteral("Button13"))->click();
    EXPECT_EQ(Commands().front(), 0x0F);
}

// ---- The second model -----------------------------------------------------------------------

class ReceiptTabSecondModel : public ReceiptTab {
  protected:
    krv::emu::EmulatorOptions Options() override {
        krv::emu::EmulatorOptions options;
        options.designation = "МВ-22";
        return options;
    }
};

TEST_F(ReceiptTabSecondModel, NoPaperCheckFollowsAnyReceiptOperation) {
    ASSERT_EQ(State().IsFirstModel, 0);
    Line("1", QStringLiteral("A"), "1", "2");
    SetChecked("CheckBox1", true);
    form->Button9Click();
    form->Button32Click();
    SetText("Edit10", QStringLiteral("1"));
    form->Button14Click();
    form->Button9Click();
    SetChecked("CheckBox1", false);
    form->Button13Click();
    EXPECT_EQ(script->messages.size(), 1u) << script->Texts().join(" | ").toStdString();
    EXPECT_TRUE(DriverCalls("GetPaperState").isEmpty());
}

} // namespace
