// The payment-form names window on a connected console: the names read at
// connect fill the payment-form list of the tab "Операции", writing sends
// every form but cash in upper case, and failures stop with one box.
#include "support_console.h"

#include "console_state.h"
#include "console_windows.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <vector>

using namespace krv::console;
using krv::emu::Bytes;

namespace {

// The emulated printer's names (cash's is left out: its І has no place in
// the printer's code page and comes back as whatever the driver makes of it).
const QStringList kPrinterNames = {"КАРТКА",   "КРЕДИТ",   "ЧЕК",      "",         "ОПЛАТА 5",
                                   "ОПЛАТА 6", "ОПЛАТА 7", "ОПЛАТА 8", "ОПЛАТА 9", "ОПЛАТА 10"};
constexpr uint16_t kPayNamesAddress = 0x2D00;

class PaymentForms : public krv::test::ConnectedConsoleTest {
  protected:
    QComboBox *List() { return form->Control<QComboBox>(QStringLiteral("ComboBox4")); }
    QStringList ListItems() {
        QStringList items;
        for (int i = 0; i < List()->count(); ++i)
            items << (i == kCashPaymentForm ? QString() : List()->itemText(i));
        return items;
    }
    QStringList EditTexts() {
        QStringList texts;
        for (int f = 0; f < kPaymentFormCount; ++f)
            texts << (f == kCashPaymentForm ? QString() : forms->NameEdit(f)->text());
        return texts;
    }
    // Cash's name as the driver reads it.
    QString CashName() {
        QString name;
        EXPECT_TRUE(ReadPaymentFormName(kCashPaymentForm, name));
        return name;
    }
    // The printer's memory read, refusing the name of `failingForm`.
    void FailNameRead(int failingForm) {
        const auto address = static_cast<uint16_t>(kPayNamesAddress + 16 * failingForm);
        Emu().SetHandler(0x1C,
                         [address](krv::emu::PrinterEmulator &emu, std::span<const uint8_t> p) {
                             if (p.size() != 5)
                                 return krv::emu::Reply::Error(0x14);
                             const auto at = static_cast<uint16_t>(p[1] | p[2] << 8);
                             if (at == address)
                                 return krv::emu::Reply::Error(0x16);
                             return krv::emu::Reply::Ok(emu.State().ext.Read(p[3], at, p[4]));
                         });
    }
};

TEST_F(PaymentForms, ConnectFillsTheListAndTheWindowAndSelectsCash) {
    EXPECT_EQ(ListItems(), kPrinterNames);
    EXPECT_EQ(List()->currentIndex(), kCashPaymentForm);
    EXPECT_EQ(EditTexts(), kPrinterNames);
    const QString cash = CashName();
    EXPECT_TRUE(cash.startsWith(QStringLiteral("ГОТ"))) << cash.toStdString();
    EXPECT_EQ(List()->itemText(kCashPaymentForm), cash);
    EXPECT_EQ(forms->Edit4->text(), cash);
    EXPECT_FALSE(forms->Edit4->isEnabled());
}

TEST_F(PaymentForms, WriteSendsEveryFormButCashUpperCaseAndEmptyAsSplata) {
    forms->Edit1->setText(QStringLiteral("картка visa"));
    forms->Edit2->setText(QString());
    forms->Edit10->setText(QStringLiteral("ваучер"));
    forms->Button2Click();

    ASSERT_EQ(script->messages.size(), 1u) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Формы оплат"));
    EXPECT_EQ(script->messages[0].text,
              QStringLiteral("Новые значения безналичных форм оплат успешно записаны"));
    EXPECT_EQ(script->messages[0].icon, Icon::Information);

    const std::vector<Bytes> writes = Requests(0x32);
    ASSERT_EQ(writes.size(), 9u);
    std::vector<int> indexes;
    for (const Bytes &w : writes) {
        ASSERT_GE(w.size(), 5u);
        EXPECT_EQ(w[1] | w[2] << 8, 0) << "the programming password";
        indexes.push_back(w[3]);
    }
    EXPECT_EQ(indexes, (std::vector<int>{0, 1, 2, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(writes[1], (Bytes{0x32, 0x00, 0x00, 0x01, 0x06, 0x91, 0x8F, 0x8B, 0x80, 0x92, 0x80}))
        << "an empty name is sent as СПЛАТА";
    EXPECT_EQ(ListItems(), kPrinterNames) << "writing leaves the list alone";

    forms->Button1Click();
    QStringList expected = kPrinterNames;
    expected[0] = QStringLiteral("КАРТКА VISA");
    expected[1] = QStringLiteral("СПЛАТА");
    expected[9] = QStringLiteral("ВАУЧЕР");
    EXPECT_EQ(EditTexts(), expected);
    EXPECT_EQ(ListItems(), expected);
    EXPECT_EQ(script->messages.size(), 1u);
}

TEST_F(PaymentForms, WrongPasswordStopsAtTheFirstForm) {
    State().ProgrammingPassword = 4321;
    forms->Edit1->setText(QStringLiteral("нове"));
    forms->Button2Click();
    ASSERT_EQ(script->messages.size(), 1u) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Ошибка!"));
    EXPECT_EQ(script->messages[0].text, DriverErrorText());
    EXPECT_EQ(script->messages[0].parent, forms.get());
    ASSERT_EQ(Requests(0x32).size(), 1u);
    EXPECT_EQ(Requests(0x32)[0][1] | Requests(0x32)[0][2] << 8, 4321);
}

TEST_F(PaymentForms, ReadFailureKeepsTheNamesReadAndSelectsCash) {
    form->Button40Click();
    List()->setCurrentIndex(0);
    {
        auto lock = Emu().Lock();
        const Bytes name{5, 0x8D, 0x8E, 0x82, 0x80, 0x9F}; // НОВАЯ
        Bytes record(16, 0);
        std::copy(name.begin(), name.end(), record.begin());
        Emu().State().ext.Write(0x10, kPayNamesAddress + 16 * 2, record);
    }
    FailNameRead(4);
    form->Button31Click(); // the connect reads the names

    ASSERT_TRUE(State().Connected);
    ASSERT_EQ(script->messages.size(), 1u) << script->Texts().join(" | ").toStdString();
    EXPECT_EQ(script->messages[0].caption, QStringLiteral("Ошибка!"));
    EXPECT_EQ(script->messages[0].parent, forms.get());
    EXPECT_EQ(List()->currentIndex(), kCashPaymentForm);
    EXPECT_EQ(List()->itemText(2), QStringLiteral("НОВАЯ")) << "read before the failure";
    EXPECT_EQ(List()->itemText(4), kPrinterNames[4]) << "not read again";
    EXPECT_EQ(forms->Edit3->text(), QStringLiteral("НОВАЯ"));
    EXPECT_EQ(Requests(0x1C).size(), 5u) << "forms 0 to 4, then no more";
}

TEST_F(PaymentForms, ButtonShowsTheWindowOverTheMainWindowAndExitCloses) {
    Windows().Form5 = forms.get();
    script->modalActions.push_back([](QWidget &window) {
        window.findChild<QPushButton *>(QStringLiteral("Button3"))->click();
    });
    form->Control<QPushButton>(QStringLiteral("Button23"))->click();
    ASSERT_EQ(script->modals.size(), 1u);
    EXPECT_EQ(script->modals[0].window, forms.get());
    EXPECT_EQ(script->modals[0].centreOn, form.get());
    EXPECT_FALSE(forms->isVisible());
}

TEST_F(PaymentForms, ReadButtonIsWired) {
    forms->Edit1->setText(QStringLiteral("x"));
    forms->Button1->click();
    EXPECT_EQ(forms->Edit1->text(), kPrinterNames[0]);
    EXPECT_EQ(Requests(0x1C).size(), 10u);
}

} // namespace
