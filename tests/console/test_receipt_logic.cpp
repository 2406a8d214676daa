// The receipt tab's rules without widgets: money, quantity and code texts
// under both decimal separators, the driver arguments of each receipt
// button, the receipt panel and the payment-form names; then a few receipts
// run through the real driver against the emulated printer.
#include "codepage.h"
#include "receipt_logic.h"
#include "support_console.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <limits>

using namespace krv::console;

namespace {

const QString kPriceText = QStringLiteral("Введите цену в гривнах!");
const QString kSumText = QStringLiteral("Введите сумму в гривнах!");
const QString kQuantityText = QStringLiteral("Неправильный формат количества!");
const QString kCodeText = QStringLiteral("Код товара задан неверно!");
const QString kPercentText = QStringLiteral("Значение процентной скидки должно от 0%..100%!");
const QString kDiscountAmountText = QStringLiteral("Введите значение асолютной скидки в гривнах!");
const QString kCashInLimit =
    QStringLiteral("Максимальная сумма служебного внесения составляет 42949672.95 грн!");
const QString kCashOutLimit =
    QStringLiteral("Максимальная сумма служебного изъятия составляет 42949672.95 грн!");

// Tests write numbers with '#' for the decimal separator under test.
class WithSeparator : public ::testing::TestWithParam<char16_t> {
  protected:
    QChar Sep() const { return QChar(GetParam()); }
    QChar OtherSep() const { return QChar(GetParam() == u',' ? u'.' : u','); }
    QString T(const char *text) const { return QString::fromUtf8(text).replace(u'#', Sep()); }
    int64_t Amount(const char *text) const {
        const AmountParse parsed = ParseAmountText(T(text), Sep(), kPriceText);
        return parsed.ok ? parsed.value : std::numeric_limits<int64_t>::min();
    }
    bool AmountRefused(const char *text) const {
        const AmountParse parsed = ParseAmountText(T(text), Sep(), kPriceText);
        return !parsed.ok && parsed.error == kPriceText;
    }
    CashAmountParse Cash(const char *text) const {
        return ParseCashAmountText(T(text), Sep(), kSumText, kCashInLimit);
    }
    QuantityParse Quantity(const char *text, bool singleUnit = false) const {
        return ParseQuantityText(T(text), Sep(), singleUnit);
    }
    LineFields Line() const {
        LineFields f;
        f.code = "7";
        f.name = QStringLiteral("Товар");
        f.quantity = T("1#000");
        f.price = T("12#50");
        return f;
    }
};

INSTANTIATE_TEST_SUITE_P(Separators, WithSeparator, ::testing::Values(u',', u'.'),
                         [](const auto &info) { return info.param == u',' ? "Comma" : "Point"; });

TEST_P(WithSeparator, AmountReadsDecimalTextExactly) {
    EXPECT_EQ(Amount("12"), 1200);
    EXPECT_EQ(Amount("12#5"), 1250);
    EXPECT_EQ(Amount("12#"), 1200);
    EXPECT_EQ(Amount("0#07"), 7);
    EXPECT_EQ(Amount("#5"), 50);
    EXPECT_EQ(Amount("  3#10 "), 310);
    EXPECT_EQ(Amount("+2"), 200);
    EXPECT_EQ(Amount("-1#5"), -150);
    EXPECT_EQ(Amount("0019#99"), 1999);
    // 0,29 and 1,15 are not exact in binary; read as text they stay exact.
    EXPECT_EQ(Amount("0#29"), 29);
    EXPECT_EQ(Amount("1#15"), 115);
}

TEST_P(WithSeparator, AmountRoundsHalfToEven) {
    EXPECT_EQ(Amount("0#125"), 12);
    EXPECT_EQ(Amount("0#135"), 14);
    EXPECT_EQ(Amount("0#145"), 14);
    EXPECT_EQ(Amount("0#12500"), 12);
    EXPECT_EQ(Amount("0#1251"), 13);
    EXPECT_EQ(Amount("0#124999"), 12);
    EXPECT_EQ(Amount("0#005"), 0);
    EXPECT_EQ(Amount("0#015"), 2);
    EXPECT_EQ(Amount("0#999"), 100);
    EXPECT_EQ(Amount("-0#125"), -12);
    EXPECT_EQ(Amount("-0#135"), -14);
}

TEST_P(WithSeparator, AmountRefusesWhatIsNoNumber) {
    for (const char *text :
         {"", " ", "#", "-", "+", "--1", "abc", "1#2#3", "12 5", "1e3", "12р", "٣"})
        EXPECT_TRUE(AmountRefused(text)) << text;
    const QString other = QStringLiteral("12") + OtherSep() + QStringLiteral("5");
    EXPECT_FALSE(ParseAmountText(other, Sep(), kPriceText).ok);
    // The discount amount is read untrimmed.
    EXPECT_FALSE(ParseAmountText(T(" 5"), Sep(), kDiscountAmountText, false).ok);
    EXPECT_EQ(ParseAmountText(T(" 5"), Sep(), kDiscountAmountText, false).error,
              kDiscountAmountText);
}

TEST_P(WithSeparator, AmountStaysWithin32Bits) {
    EXPECT_EQ(Amount("21474836#47"), 2147483647);
    EXPECT_EQ(Amount("-21474836#47"), -2147483647);
    EXPECT_EQ(Amount("21474836#474"), 2147483647);
    EXPECT_TRUE(AmountRefused("21474836#48"));
    EXPECT_TRUE(AmountRefused("-21474836#48")); // no sign-magnitude form
    EXPECT_TRUE(AmountRefused("21474836#475")); // rounds up to 2^31
    EXPECT_TRUE(AmountRefused("42949672#96"));  // would wrap to 0
    EXPECT_TRUE(AmountRefused("99999999999999999999999999"));
}

TEST_P(WithSeparator, CashAmountUsesTheUnsigned32BitRange) {
    EXPECT_EQ(Cash("100").value, 10000);
    const CashAmountParse top = Cash("42949672#95");
    ASSERT_TRUE(top.ok);
    EXPECT_EQ(top.value, 4294967295);
    EXPECT_EQ(top.DriverValue(), -1); // all 32 bits set
    EXPECT_EQ(Cash("21474836#48").DriverValue(), std::numeric_limits<int32_t>::min());
    for (const char *text :
         {"42949672#96", "42949672#955", "92233720368547758#08", "99999999999999999999999"}) {
        const CashAmountParse parsed = Cash(text);
        EXPECT_FALSE(parsed.ok) << text;
        EXPECT_EQ(parsed.error, kCashInLimit) << text;
    }
}

TEST_P(WithSeparator, CashAmountRefusesNegativesAsBadInput) {
    for (const char *text : {"-1#00", "-0#01", "-99999999999999999999", "abc", "1#2#3"}) {
        const CashAmountParse parsed = Cash(text);
        EXPECT_FALSE(parsed.ok) << text;
        EXPECT_EQ(parsed.error, kSumText) << text;
    }
    EXPECT_TRUE(Cash("-0").ok);
    EXPECT_EQ(Cash("-0").value, 0);
}

TEST_P(WithSeparator, QuantityKeepsItsDigitsAndDecimals) {
    const QuantityParse q = Quantity("1#000");
    ASSERT_TRUE(q.ok);
    EXPECT_EQ(q.value, 1000);
    EXPECT_EQ(q.decimals, 3);
    EXPECT_EQ(q.qtyFlags, 0x03);
    EXPECT_EQ(Quantity("1#000", true).qtyFlags, 0x83);
    EXPECT_EQ(Quantity("3").value, 3);
    EXPECT_EQ(Quantity("3").qtyFlags, 0);
    EXPECT_EQ(Quantity("0#5").value, 5);
    EXPECT_EQ(Quantity("0#5").decimals, 1);
    EXPECT_EQ(Quantity("1#").value, 1);
    EXPECT_EQ(Quantity("1#").decimals, 0);
    EXPECT_EQ(Quantity(" 2#50 ").value, 250);
    EXPECT_EQ(Quantity("2147483647").value, 2147483647);
}

TEST_P(WithSeparator, QuantityRefusals) {
    for (const char *text : {"1#2345", "1#0000", "", "#", "abc", "1#2#3", "2147483648",
                             "214748364#8", "-1", "-1#000", "-0#001", "1 000"}) {
        const QuantityParse q = Quantity(text);
        EXPECT_FALSE(q.ok) << text;
        EXPECT_EQ(q.error, kQuantityText) << text;
    }
    EXPECT_FALSE(
        ParseQuantityText(QStringLiteral("1") + OtherSep() + QStringLiteral("5"), Sep(), false).ok);
}

TEST_P(WithSeparator, SaleRequestCarriesTheConvertedFields) {
    LineFields f = Line();
    f.taxGroup = 2;
    f.singleUnit = true;
    f.printBarcode = true;
    const LineBuild b = BuildLineRequest(f, Sep());
    ASSERT_TRUE(b.ok) << b.error.toStdString();
    EXPECT_EQ(b.request.quantity, 1000);
    EXPECT_EQ(b.request.qtyFlags, 0x83);
    EXPECT_EQ(b.request.price, 1250);
    EXPECT_EQ(b.request.taxGroup, 2);
    EXPECT_EQ(b.request.nameFromRegister, 0);
    EXPECT_EQ(b.request.printBarcode, -1);
    EXPECT_EQ(b.request.name, "\xD2\xEE\xE2\xE0\xF0"); // "Товар" in Windows-1251
    EXPECT_EQ(b.request.code, 7);

    f.nameFromRegister = true;
    f.taxGroup = -1; // nothing chosen: the driver refuses 255 by range
    const LineBuild fromRegister = BuildLineRequest(f, Sep());
    EXPECT_EQ(fromRegister.request.nameFromRegister, -1);
    EXPECT_EQ(fromRegister.request.taxGroup, 255);

    const LineBuild cancel = BuildCancelLineRequest(Line(), Sep());
    ASSERT_TRUE(cancel.ok);
    EXPECT_EQ(cancel.request.price, -1250);
}

TEST_P(WithSeparator, LineInputErrorsInFieldOrder) {
    const QString saleEmpty = QStringLiteral("Поля \"Код\", \"Наименование\", \"Количество\" и "
                                             "\"Цена\"\r\n           не могут быть пустыми!");
    const QString cancelEmpty = QStringLiteral(
        "Поля \"Наименование\", \"Количество\" и \"Цена\"\r\n           не могут быть пустыми!");
    for (QString LineFields::*field :
         {&LineFields::code, &LineFields::name, &LineFields::quantity, &LineFields::price}) {
        LineFields f = Line();
        f.*field = QString();
        EXPECT_EQ(BuildLineRequest(f, Sep()).error, saleEmpty);
        EXPECT_EQ(BuildCancelLineRequest(f, Sep()).error, cancelEmpty);
    }
    LineFields f = Line();
    f.code = "x1";
    f.quantity = T("1#2345");
    f.price = "abc";
    EXPECT_EQ(BuildLineRequest(f, Sep()).error, kCodeText);
    f.code = "1";
    EXPECT_EQ(BuildLineRequest(f, Sep()).error, kQuantityText);
    f.quantity = T("-2");
    EXPECT_EQ(BuildCancelLineRequest(f, Sep()).error, kQuantityText);
    f.quantity = "2";
    EXPECT_EQ(BuildLineRequest(f, Sep()).error, kPriceText);
    f.price = T("21474836#48");
    EXPECT_EQ(BuildLineRequest(f, Sep()).error, kPriceText);
    f.price = T("-21474836#47"); // negated for the cancel, still in range
    EXPECT_EQ(BuildCancelLineRequest(f, Sep()).request.price, 2147483647);
}

TEST_P(WithSeparator, PaymentRefusesAmountsThatWouldSetThePayRestBit) {
    const PaymentBuild b = BuildPaymentRequest(T("21474836#47"), 1, false, Sep());
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.request.form, 1);
    EXPECT_EQ(b.request.paid, 2147483647);
    EXPECT_EQ(b.request.payRest, 0);
    EXPECT_EQ(b.request.fiscal, -1);
    EXPECT_EQ(BuildPaymentRequest(T("5"), 3, true, Sep()).request.fiscal, 0);
    EXPECT_EQ(BuildPaymentRequest(QString(), 3, false, Sep()).error,
              QStringLiteral("Введите сумму принятую от клиента!"));
    for (const char *text : {"21474836#48", "-1", "-0#01", "abc", " "})
        EXPECT_EQ(BuildPaymentRequest(T(text), 3, false, Sep()).error, kSumText) << text;
}

TEST_P(WithSeparator, DiscountRequestByKind) {
    DiscountFields f;
    f.kind = 0;
    f.percent = " 10 ";
    f.amount = "garbage"; // not read for a percent kind
    f.text = QStringLiteral("Знижка");
    DiscountBuild b = BuildDiscountRequest(f, Sep());
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.request.kind, 0);
    EXPECT_EQ(b.request.percent, 10);
    EXPECT_EQ(b.request.amount, 0);
    EXPECT_EQ(b.request.isDiscount, -1);
    EXPECT_EQ(b.request.text, krv::platform::Utf8ToCp1251("Знижка"));

    f.kind = 3;
    f.percent = "garbage";
    f.amount = T("335544#31");
    f.discountOrMarkup = 1;
    b = BuildDiscountRequest(f, Sep());
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.request.amount, 0x01FFFFFF);
    EXPECT_EQ(b.request.percent, 0);
    EXPECT_EQ(b.request.isDiscount, 0);

    f.kind = -1; // text typed into the kind box: left for the driver to refuse
    b = BuildDiscountRequest(f, Sep());
    EXPECT_TRUE(b.ok);
    EXPECT_EQ(b.request.kind, 255);
}

TEST_P(WithSeparator, DiscountRefusesValuesThatWouldSetFlagBits) {
    DiscountFields f;
    for (const char *percent : {"101", "-1", "33554432", "10#5", "", "abc"}) {
        f.kind = 2;
        f.percent = T(percent);
        EXPECT_EQ(BuildDiscountRequest(f, Sep()).error, kPercentText) << percent;
    }
    f.percent = "100";
    EXPECT_TRUE(BuildDiscountRequest(f, Sep()).ok);
    for (const char *amount : {"335544#32", "-1", "-0#01", " 1", "abc", "21474836#48"}) {
        f.kind = 1;
        f.amount = T(amount);
        EXPECT_EQ(BuildDiscountRequest(f, Sep()).error, kDiscountAmountText) << amount;
    }
}

TEST_P(WithSeparator, CashRequests) {
    CashBuild b = BuildCashRequest(CashOperation::In, T("100"), Sep());
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.amount, 10000);
    EXPECT_EQ(BuildCashRequest(CashOperation::Out, T("42949672#95"), Sep()).amount, -1);
    EXPECT_EQ(BuildCashRequest(CashOperation::In, QString(), Sep()).error,
              QStringLiteral("Введите сумму для служебного внесения!"));
    EXPECT_EQ(BuildCashRequest(CashOperation::Out, QString(), Sep()).error,
              QStringLiteral("Введите сумму для служебного изъятия!"));
    EXPECT_EQ(BuildCashRequest(CashOperation::In, T("42949672#96"), Sep()).error, kCashInLimit);
    EXPECT_EQ(BuildCashRequest(CashOperation::Out, T("42949672#96"), Sep()).error, kCashOutLimit);
    // -1,00 would otherwise go out as 42949671,96.
    EXPECT_EQ(BuildCashRequest(CashOperation::In, T("-1#00"), Sep()).error, kSumText);
    EXPECT_EQ(BuildCashRequest(CashOperation::Out, T("-1#00"), Sep()).error, kSumText);
}

TEST_P(WithSeparator, PanelTexts) {
    EXPECT_EQ(FormatPanelMoney(1250, Sep()), T("12#50 грн."));
    EXPECT_EQ(FormatPanelMoney(7, Sep()), T("0#07 грн."));
    EXPECT_EQ(FormatPanelMoney(-150, Sep()), T("-1#50 грн."));
    EXPECT_EQ(FormatPanelMoney(429496729600, Sep()), T("4294967296#00 грн."));
    EXPECT_EQ(FormatPanelMoney(std::numeric_limits<int64_t>::min(), Sep()),
              T("-92233720368547758#08 грн."));

    ReceiptPanel panel{"Сдача:", "x", "y", "z"};
    ShowLineResult(panel, LineOutcome{1250, 4000}, Sep());
    EXPECT_EQ(panel.label11, QString());
    EXPECT_EQ(panel.label51, T("12#50 грн."));
    EXPECT_EQ(panel.label52, T("40#00 грн."));
    EXPECT_EQ(panel.label54, QString());

    ShowPaymentResult(panel, PaymentOutcome{100, -1}, Sep());
    EXPECT_EQ(panel.label11, QStringLiteral("Сдача:"));
    EXPECT_EQ(panel.label54, T("1#00 грн."));
    ShowPaymentResult(panel, PaymentOutcome{-1, 0}, Sep()); // read as unsigned
    EXPECT_EQ(panel.label11, QStringLiteral("Остаток:"));
    EXPECT_EQ(panel.label54, T("42949672#95 грн."));
    EXPECT_EQ(panel.label51, T("12#50 грн.")); // the line row stays

    DiscountRequest markup;
    markup.isDiscount = 0;
    ShowDiscountResult(panel, markup, DiscountOutcome{125, 1375}, Sep());
    EXPECT_EQ(panel.label11, QStringLiteral("Наценка:"));
    EXPECT_EQ(panel.label52, T("13#75 грн."));
    EXPECT_EQ(panel.label54, T("1#25 грн."));
    DiscountRequest discount;
    discount.isDiscount = -1;
    ShowDiscountResult(panel, discount, DiscountOutcome{-125, 1125}, Sep());
    EXPECT_EQ(panel.label11, QStringLiteral("Скидка:"));
    EXPECT_EQ(panel.label54, T("-1#25 грн."));
}

TEST(ReceiptRules, SeparatorFollowsTheLocale) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Ukrainian, QLocale::Ukraine));
    EXPECT_EQ(LocaleDecimalSeparator(), QChar(u','));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(LocaleDecimalSeparator(), QChar(u'.'));
    QLocale::setDefault(saved);
}

TEST(ReceiptRules, ArticleCodeIsASigned64BitInteger) {
    EXPECT_EQ(ParseArticleCodeText(" 42 ").value, 42);
    EXPECT_EQ(ParseArticleCodeText("9223372036854775807").value,
              std::numeric_limits<int64_t>::max());
    EXPECT_EQ(ParseArticleCodeText("-9223372036854775808").value,
              std::numeric_limits<int64_t>::min());
    for (const char *text :
         {"", "9223372036854775808", "-9223372036854775809", "1.0", "1,0", "12a", "0x10", "+"}) {
        const ArticleCodeParse parsed = ParseArticleCodeText(text);
        EXPECT_FALSE(parsed.ok) << text;
        EXPECT_EQ(parsed.error, kCodeText) << text;
    }
}

TEST(ReceiptRules, CloseRequestPaysTheRest) {
    const PaymentRequest close = BuildCloseRequest(3, false);
    EXPECT_EQ(close.form, 3);
    EXPECT_EQ(close.paid, 0);
    EXPECT_EQ(close.payRest, -1);
    EXPECT_EQ(close.fiscal, -1);
    EXPECT_EQ(BuildCloseRequest(0, true).fiscal, 0);
    EXPECT_EQ(BuildCloseRequest(-1, false).form, 255);
    EXPECT_EQ(BuildCloseRequest(259, false).form, 255); // never wraps onto form 3
}

TEST(ReceiptRules, StatusDecidesCancelCommandAndPanelReset) {
    PrinterStatus status;
    EXPECT_EQ(CancelLineCommand(status), LineCommand::Sale);
    EXPECT_TRUE(CommentStartsNewReceipt(status));
    status.flags[2] = -1; // flagA3: a return receipt
    status.flags[5] = -1; // receiptOpen
    EXPECT_EQ(CancelLineCommand(status), LineCommand::PayMoney);
    EXPECT_FALSE(CommentStartsNewReceipt(status));
}

TEST(ReceiptRules, DiscountKindPicksItsField) {
    EXPECT_EQ(DiscountValueField(0), DiscountField::Percent);
    EXPECT_EQ(DiscountValueField(1), DiscountField::Amount);
    EXPECT_EQ(DiscountValueField(2), DiscountField::Percent);
    EXPECT_EQ(DiscountValueField(3), DiscountField::Amount);
    EXPECT_FALSE(DiscountValueField(-1));
    EXPECT_FALSE(DiscountValueField(4));
}

TEST(ReceiptRules, PaperCheckOnlyOnTheFirstModelAndAfterPrinting) {
    using A = ReceiptAction;
    for (A a : {A::Payment, A::CloseReceipt, A::ZeroReceipt, A::Void, A::CashIn, A::CashOut,
                A::Ean13, A::LineFeed}) {
        EXPECT_TRUE(PaperCheckFollows(a, true)) << static_cast<int>(a);
        EXPECT_FALSE(PaperCheckFollows(a, false, true)) << static_cast<int>(a);
    }
    for (A a : {A::Sale, A::Return, A::CancelLine, A::Comment}) {
        EXPECT_FALSE(PaperCheckFollows(a, true, false)) << static_cast<int>(a);
        EXPECT_TRUE(PaperCheckFollows(a, true, true)) << static_cast<int>(a);
        EXPECT_FALSE(PaperCheckFollows(a, false, true)) << static_cast<int>(a);
    }
    EXPECT_FALSE(PaperCheckFollows(A::Discount, true, true));
    EXPECT_FALSE(PaperCheckFollows(A::Code128, true, true));
}

TEST(ReceiptRules, PaymentFormNames) {
    EXPECT_EQ(PaymentFormNameToWrite(QString()), QStringLiteral("СПЛАТА"));
    EXPECT_EQ(PaymentFormNameToWrite(QStringLiteral("картка visa")), QStringLiteral("КАРТКА VISA"));
    EXPECT_EQ(PaymentFormNameToWrite(QStringLiteral("ґєії")), QStringLiteral("ҐЄІЇ"));
    for (int form : kWritablePaymentForms)
        EXPECT_NE(form, kCashPaymentForm);
    EXPECT_FALSE(BuildEan13Request(QString()));
    EXPECT_EQ(BuildEan13Request(QStringLiteral("123")), std::string("123"));
}

// ---- Through the driver to the emulated printer ------------------------------

class ReceiptOnPrinter : public krv::test::ConsoleEmulatorTest {
  protected:
    void SetUp() override {
        ConsoleEmulatorTest::SetUp();
        ASSERT_TRUE(RealDriver().Init(1, 38400));
        Emu().ClearRecords();
    }
    krv::emu::Bytes Last() {
        const auto requests = Emu().Requests();
        return requests.empty() ? krv::emu::Bytes{} : requests.back();
    }
};

TEST_F(ReceiptOnPrinter, SaleThenAutomaticClose) {
    LineFields f;
    f.code = "7";
    f.name = QStringLiteral("Товар");
    f.quantity = "1,000";
    f.price = "12,50";
    const LineBuild sale = BuildLineRequest(f, u',');
    ASSERT_TRUE(sale.ok);
    LineOutcome line;
    ASSERT_TRUE(CallLine(LineCommand::Sale, sale.request, line));
    EXPECT_EQ(Last(),
              (krv::emu::Bytes{0x12, 0xE8, 0x03, 0x00, 0x03, 0xE2, 0x04, 0x00, 0x00, 0x80, 0x05,
                               0x92, 0xAE, 0xA2, 0xA0, 0xE0, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(line.itemCost, 1250);
    EXPECT_EQ(line.receiptSum, 1250);

    PaymentOutcome paid;
    ASSERT_TRUE(CallPayment(BuildCloseRequest(3, false), paid));
    EXPECT_EQ(Last(), (krv::emu::Bytes{0x14, 0x03, 0x00, 0x00, 0x00, 0x80}));
    ReceiptPanel panel;
    ShowPaymentResult(panel, paid, u',');
    EXPECT_EQ(panel.label11, QStringLiteral("Сдача:"));
    EXPECT_EQ(panel.label54, QStringLiteral("0,00 грн."));
}

TEST_F(ReceiptOnPrinter, CancelledLineInAReturnGoesOutWithANegativePrice) {
    ASSERT_TRUE(
        CallCash(CashOperation::In, BuildCashRequest(CashOperation::In, "100", u'.').amount));
    LineFields f;
    f.code = "1";
    f.name = "A";
    f.quantity = "2";
    f.price = "3.00";
    LineOutcome line;
    ASSERT_TRUE(CallLine(LineCommand::PayMoney, BuildLineRequest(f, u'.').request, line));
    PrinterStatus status;
    status.flags[2] = -1;
    const LineBuild cancel = BuildCancelLineRequest(f, u'.');
    ASSERT_TRUE(CallLine(CancelLineCommand(status), cancel.request, line));
    const krv::emu::Bytes request = Last();
    ASSERT_GE(request.size(), 10u);
    EXPECT_EQ(request[0], 0x08);
    EXPECT_EQ((krv::emu::Bytes(request.begin() + 5, request.begin() + 9)),
              (krv::emu::Bytes{0x2C, 0x01, 0x00, 0x80}));
    EXPECT_EQ(line.itemCost, -600);
    EXPECT_EQ(line.receiptSum, 0);
}

TEST_F(ReceiptOnPrinter, DiscountAndCashGoOutWithTheirFlags) {
    LineFields f;
    f.code = "1";
    f.name = "A";
    f.quantity = "1";
    f.price = "10";
    LineOutcome line;
    ASSERT_TRUE(CallLine(LineCommand::Sale, BuildLineRequest(f, u',').request, line));
    DiscountFields d;
    d.kind = 0;
    d.percent = "10";
    const DiscountBuild discount = BuildDiscountRequest(d, u',');
    DiscountOutcome outcome;
    ASSERT_TRUE(CallDiscount(discount.request, outcome));
    EXPECT_EQ(Last(), (krv::emu::Bytes{0x23, 0x00, 0x0A, 0x00, 0x00, 0x82, 0x00}));
    EXPECT_EQ(outcome.value, -100);
    EXPECT_EQ(outcome.receiptSum, 900);
    ASSERT_TRUE(CallVoid());

    ASSERT_TRUE(CallCash(CashOperation::In,
                         BuildCashRequest(CashOperation::In, "21474836,47", u',').amount))
        << RealDriver().ErrorMessage().toStdString();
    EXPECT_EQ(Last(), (krv::emu::Bytes{0x10, 0xFF, 0xFF, 0xFF, 0x7F}));
    ASSERT_TRUE(
        CallCash(CashOperation::Out, BuildCashRequest(CashOperation::Out, "0,01", u',').amount));
    EXPECT_EQ(Last(), (krv::emu::Bytes{0x18, 0x01, 0x00, 0x00, 0x00}));
}

TEST_F(ReceiptOnPrinter, PaymentFormNamesRoundTrip) {
    ASSERT_TRUE(WritePaymentFormName(0, 1, PaymentFormNameToWrite(QStringLiteral("картка"))));
    QString name;
    ASSERT_TRUE(ReadPaymentFormName(1, name));
    EXPECT_EQ(name.trimmed(), QStringLiteral("КАРТКА"));
}

// The shared text forms every tab builds its boxes from.
TEST(TextForms, HundredthsHexAndSeparators) {
    const struct {
        int64_t value;
        QChar separator;
        const char *text;
    } hundredths[] = {
        {0, u',', "0,00"},
        {7, u',', "0,07"},
        {-7, u'.', "-0.07"},
        {123456, u',', "1234,56"},
        {std::numeric_limits<int64_t>::min(), u',', "-92233720368547758,08"},
    };
    for (const auto &c : hundredths)
        EXPECT_EQ(FormatHundredths(c.value, c.separator), QString::fromUtf8(c.text)) << c.value;
    EXPECT_EQ(FormatPanelMoney(1250, u','), QStringLiteral("12,50 грн."));

    EXPECT_EQ(HexDigits(0x0A, 4), QStringLiteral("000A"));
    EXPECT_EQ(HexDigits(0xABCDE, 4), QStringLiteral("ABCDE")); // never cut
    EXPECT_EQ(HexDigits(0, 0), QStringLiteral("0"));

    EXPECT_EQ(DecimalSeparatorOf(QLocale(QLocale::Ukrainian, QLocale::Ukraine)), QChar(u','));
    EXPECT_EQ(DecimalSeparatorOf(QLocale::c()), QChar(u'.'));
    EXPECT_TRUE(AllDecimalDigits(QString()));
    EXPECT_FALSE(AllDecimalDigits(QStringLiteral("12a")));
    EXPECT_EQ(PaddedLabel(QStringLiteral("ab"), 4), QStringLiteral("ab  "));
    EXPECT_EQ(PaddedLabel(QStringLiteral("abcdef"), 4), QStringLiteral("abcdef"));
}

} // namespace
