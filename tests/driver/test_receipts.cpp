// Receipt commands end to end: the driver's payloads and argument checks, and
// the emulated printer's answers.
#include "support_link.h"

#include "codepage.h"
#include "errors.h"
#include "link.h"

#include <cstdint>
#include <string>

using krv::emu::Fault;
using krv::emu::FaultSpec;
using krv::emu::Reply;
using krv::test::EmulatorTest;
using Bytes = std::vector<uint8_t>;

namespace {

using krv::test::Cp;
using krv::test::Oem;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

class ReceiptTest : public EmulatorTest {
  protected:
    int64_t cost = -1, sum = -1;

    bool Sale(int32_t quantity, uint8_t flags, int32_t price, uint8_t group = 0,
              const std::string &name = "Хліб", int64_t code = 1, bool barcode = false) {
        const std::string cp = Cp(name);
        return FPSale(&cost, &sum, quantity, flags, price, group, 0, barcode ? -1 : 0, cp.c_str(),
                      code) == -1;
    }
    uint8_t LastCode() {
        uint8_t code = 0, status = 0, ext = 0;
        FPCodeError(&code, &status, &ext);
        return code;
    }
};

// ---- sale and payout lines ----------------------------------------------------

TEST_F(ReceiptTest, SaleSendsItsFieldsAndReturnsLineValueAndReceiptSum) {
    const std::string name = Cp("Масло");
    ASSERT_EQ(FPSale(&cost, &sum, 1500, 0x03, 1250, 0, 0, 0, name.c_str(), 7), -1) << ErrorText();
    EXPECT_EQ(LastRequest(),
              Concat({{0x12, 0xDC, 0x05, 0x00, 0x03, 0xE2, 0x04, 0x00, 0x00, 0x80, 0x05},
                      Oem("Масло"),
                      {0x07, 0x00, 0x00, 0x00, 0x00, 0x00}}));
    EXPECT_EQ(cost, 1875); // 1,500 x 12,50
    EXPECT_EQ(sum, 1875);
    ASSERT_TRUE(Sale(2000, 0x03, 300, 1));
    EXPECT_EQ(cost, 600);
    EXPECT_EQ(sum, 2475);
}

TEST_F(ReceiptTest, NegativePriceGoesAsSignAndMagnitudeAndComesBackNegative) {
    ASSERT_TRUE(Sale(1, 0, 5000));
    ASSERT_TRUE(Sale(1, 0, -1250));
    const Bytes request = LastRequest();
    EXPECT_EQ(Bytes(request.begin() + 5, request.begin() + 9), (Bytes{0xE2, 0x04, 0x00, 0x80}));
    EXPECT_EQ(cost, -1250);
    EXPECT_EQ(sum, 3750);
    // More taken back than sold: the printer refuses it.
    EXPECT_FALSE(Sale(1, 0, -4000));
    EXPECT_EQ(LastCode(), 0x1B);
    EXPECT_EQ(cost, 0);
    EXPECT_EQ(sum, 0);
}

TEST_F(ReceiptTest, NameFromRegisterSendsFFAndNoName) {
    const std::string name = Cp("не отправляется");
    EXPECT_EQ(FPSale(&cost, &sum, 1, 0, 100, 2, -1, -1, name.c_str(), 55), 0);
    EXPECT_EQ(LastRequest(), (Bytes{0x12, 0x01, 0x00, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00, 0x82,
                                    0xFF, 55, 0, 0, 0, 0, 0}));
    EXPECT_EQ(LastCode(), 0x1C); // no such article programmed
    {
        auto lock = Emu().Lock();
        Emu().State().ext.articles[55] = krv::emu::ArticleRecord{};
    }
    EXPECT_EQ(FPSale(&cost, &sum, 1, 0, 100, 2, -1, 0, nullptr, 55), -1) << ErrorText();
    EXPECT_EQ(sum, 100);
}

TEST_F(ReceiptTest, BarcodeBitOnlyForAValidCheckDigit) {
    auto flagsSent = [&](int64_t code, bool barcode) {
        EXPECT_TRUE(Sale(1, 0, 100, 0, "Товар", code, barcode)) << ErrorText();
        return LastRequest().at(4);
    };
    EXPECT_EQ(flagsSent(4006381333931, true), 0x40);
    EXPECT_EQ(flagsSent(4006381333932, true), 0x00); // wrong check digit: sent plain
    EXPECT_EQ(flagsSent(17, true), 0x40);            // 0000000000017 after padding
    EXPECT_EQ(flagsSent(18, true), 0x00);
    EXPECT_EQ(flagsSent(12345678901231, true), 0x00); // 14 digits
    EXPECT_EQ(flagsSent(4006381333931, false), 0x00); // not asked for
    EXPECT_EQ(flagsSent(-4006381333931, true), 0x00); // no digits form
}

TEST_F(ReceiptTest, ArgumentChecksRunBeforeAnythingIsSent) {
    ASSERT_TRUE(Sale(1, 0, 100));
    const size_t before = RequestCount();
    // A refused check leaves code and status of the exchange before it.
    EmulatorTest::Emu().SetHeaderOverride({0x00, 0x15, 0x00});
    EXPECT_FALSE(Sale(1, 0, 100));
    EmulatorTest::Emu().ClearHeaderOverride();
    const size_t afterRefusal = RequestCount();

    EXPECT_FALSE(Sale(16777216, 0, 100, 9));
    EXPECT_EQ(ErrorText(), "Передаваемое количество больше допустимого!");
    EXPECT_EQ(LastCode(), 0x15);
    EXPECT_FALSE(Sale(-1, 0, 100));
    EXPECT_EQ(ErrorText(), "Передаваемое количество больше допустимого!");
    EXPECT_FALSE(Sale(1, 0, 100, 6));
    EXPECT_EQ(ErrorText(), "Несуществующая налоговая группа");
    EXPECT_FALSE(Sale(1, 0, 100, 0, std::string(71, 'A')));
    EXPECT_EQ(ErrorText(), "Название товара превышает 70 символов!");
    EXPECT_FALSE(Sale(1, 0, INT32_MIN));
    EXPECT_EQ(ErrorText(), "Недопустимая цена товара!");
    // The price is judged before the tax group, the group before the name.
    EXPECT_FALSE(Sale(1, 0, INT32_MIN, 6));
    EXPECT_EQ(ErrorText(), "Недопустимая цена товара!");
    EXPECT_FALSE(Sale(1, 0, 100, 6, std::string(71, 'A')));
    EXPECT_EQ(ErrorText(), "Несуществующая налоговая группа");
    EXPECT_FALSE(FPPayMoney(&cost, &sum, 16777216, 0, 1, 0, 0, 0, "x", 1));
    EXPECT_EQ(RequestCount(), afterRefusal);
    EXPECT_GT(afterRefusal, before);

    EXPECT_TRUE(Sale(16777215, 3, 1, 0, std::string(70, 'A'))) << ErrorText();
}

TEST_F(ReceiptTest, SaleIsStrictAboutTheShiftBitPaymentIsNot) {
    ASSERT_TRUE(Sale(1, 0, 1000));
    {
        auto lock = Emu().Lock();
        Emu().State().SetShiftOver24h(true);
    }
    EXPECT_FALSE(Sale(1, 0, 500));
    EXPECT_NE(ErrorText().find("Превышение продолжительности смены"), std::string::npos);
    EXPECT_EQ(cost, 0);
    EXPECT_EQ(sum, 0);
    int32_t amount = -1;
    int16_t change = 1;
    EXPECT_EQ(FPPayment(&amount, &change, 3, 2000, 0, -1), -1);
    EXPECT_NE(ErrorText().find("Продолжительность смены больше 24 часов."), std::string::npos);
    EXPECT_EQ(change, -1);
    EXPECT_EQ(amount, 500); // 2000 paid for 1500
}

TEST_F(ReceiptTest, PayoutLinesAndMixedReceiptsAreRefusedByThePrinter) {
    ASSERT_EQ(FPPayMoney(&cost, &sum, 1, 0, 700, 0, 0, 0, "x", 3), -1) << ErrorText();
    EXPECT_EQ(LastRequest().at(0), 0x08);
    EXPECT_EQ(sum, 700);
    EXPECT_FALSE(Sale(1, 0, 100));
    EXPECT_EQ(ErrorText(), "\r\nОткрыт чек выплат, продажи запрещены");
}

// ---- payment --------------------------------------------------------------------

TEST_F(ReceiptTest, PaymentPayloadsAndTheChangeOrRestReply) {
    int32_t amount = -1;
    int16_t change = 1;
    ASSERT_TRUE(Sale(1, 0, 1900));
    ASSERT_EQ(FPPayment(&amount, &change, 0, 1000, 0, -1), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x14, 0x00, 0xE8, 0x03, 0x00, 0x00}));
    EXPECT_EQ(change, 0);
    EXPECT_EQ(amount, 900); // still to pay
    // Change comes from cash only.
    EXPECT_EQ(FPPayment(&amount, &change, 1, 5000, 0, -1), 0);
    EXPECT_EQ(LastCode(), 0x2B);
    EXPECT_EQ(amount, 0);
    ASSERT_EQ(FPPayment(&amount, &change, 3, 1000, 0, -1), -1) << ErrorText();
    EXPECT_EQ(change, -1);
    EXPECT_EQ(amount, 100);
    // No receipt open any more.
    EXPECT_EQ(FPPayment(&amount, &change, 3, 100, 0, -1), 0);
    EXPECT_EQ(ErrorText(), "\r\nКоманда запрещена, чек не открыт");
}

TEST_F(ReceiptTest, PaymentOfTheRestAndTheNonFiscalMark) {
    int32_t amount = -1;
    int16_t change = 1;
    ASSERT_TRUE(Sale(1, 0, 1900));
    ASSERT_EQ(FPPayment(&amount, &change, 3, 0, -1, -1), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x14, 0x03, 0x00, 0x00, 0x00, 0x80}));
    EXPECT_EQ(change, -1);
    EXPECT_EQ(amount, 0);
    ASSERT_TRUE(Sale(1, 0, 100));
    // Only the low 16 bits of `fiscal` count.
    ASSERT_EQ(FPPayment(&amount, &change, 3, 0, -1, 0x10000), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x14, 0x43, 0x00, 0x00, 0x00, 0x80}));
}

TEST_F(ReceiptTest, PaymentArgumentChecks) {
    int32_t amount = -1;
    int16_t change = 1;
    const size_t before = RequestCount();
    EXPECT_EQ(FPPayment(&amount, &change, 10, 100, 0, -1), 0);
    EXPECT_EQ(ErrorText(), "Недопустимая форма оплаты!");
    EXPECT_EQ(amount, 0);
    EXPECT_EQ(change, 0);
    // A negative amount would set the pay-the-rest bit.
    EXPECT_EQ(FPPayment(&amount, &change, 3, -5, 0, -1), 0);
    EXPECT_EQ(ErrorText(), "Недопустимая сумма оплаты!");
    EXPECT_EQ(RequestCount(), before);
}

// ---- discounts and markups ------------------------------------------------------

TEST_F(ReceiptTest, DiscountAndMarkupForms) {
    int64_t value = -1, receiptSum = -1;
    ASSERT_TRUE(Sale(1, 0, 1875));
    ASSERT_EQ(FPDiscount(&value, &receiptSum, 0, 10, 999, -1, ""), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x23, 0x00, 0x0A, 0x00, 0x00, 0x82, 0x00}));
    EXPECT_EQ(value, -188);
    EXPECT_EQ(receiptSum, 1687);
    ASSERT_EQ(FPDiscount(&value, &receiptSum, 2, 10, 0, 0, nullptr), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x23, 0x02, 0x0A, 0x00, 0x00, 0x02, 0x00}));
    EXPECT_EQ(value, 169);
    const std::string note = Cp("Знижка");
    ASSERT_EQ(FPDiscount(&value, &receiptSum, 3, 5, 250, -1, note.c_str()), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), Concat({{0x23, 0x03, 0xFA, 0x00, 0x00, 0x80, 0x06}, Oem("Знижка")}));
    EXPECT_EQ(value, -250);
    EXPECT_EQ(receiptSum, 1606);
}

TEST_F(ReceiptTest, DiscountArgumentChecksAndPrinterRefusals) {
    int64_t value = -1, receiptSum = -1;
    EXPECT_EQ(FPDiscount(&value, &receiptSum, 1, 0, 100, -1, ""), 0);
    EXPECT_EQ(LastCode(), 0x27); // no receipt
    const size_t before = RequestCount();
    EXPECT_EQ(FPDiscount(&value, &receiptSum, 4, 10, 0, -1, ""), 0);
    EXPECT_EQ(ErrorText(), "Неправильный тип скидки!");
    EXPECT_EQ(FPDiscount(&value, &receiptSum, 1, 0, 100, -1, std::string(26, 'x').c_str()), 0);
    EXPECT_EQ(ErrorText(), "Длина пояснительной строки больше 25 символов!");
    EXPECT_EQ(FPDiscount(&value, &receiptSum, 1, 0, -100, -1, ""), 0);
    EXPECT_EQ(ErrorText(), "Недопустимое значение скидки/наценки!");
    EXPECT_EQ(FPDiscount(&value, &receiptSum, 0, 0x02000000, 0, -1, ""), 0);
    EXPECT_EQ(ErrorText(), "Недопустимое значение скидки/наценки!");
    // An amount reaching bit 25 would arrive as a percent.
    EXPECT_EQ(FPDiscount(&value, &receiptSum, 3, 0, 0x02000000, 0, ""), 0);
    EXPECT_EQ(ErrorText(), "Недопустимое значение скидки/наценки!");
    EXPECT_EQ(RequestCount(), before);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(receiptSum, 0);

    FPComment("x", 0); // opens a receipt without lines
    EXPECT_EQ(FPDiscount(&value, &receiptSum, 1, 0, 10, -1, std::string(25, 'x').c_str()), 0);
    EXPECT_EQ(ErrorText(), "\r\nНе было продаж/выплат, скидка невозможна");
}

// ---- comments, the zero receipt, void ---------------------------------------------

TEST_F(ReceiptTest, CommentLengthAndAttribute) {
    const std::string text27(27, 'c');
    ASSERT_EQ(FPComment(text27.c_str(), -1), -1) << ErrorText();
    EXPECT_EQ(LastRequest().at(1), 0x80 | 27);
    EXPECT_EQ(LastRequest().size(), 2u + 27);
    const size_t before = RequestCount();
    EXPECT_EQ(FPComment(std::string(28, 'c').c_str(), 0), 0);
    EXPECT_EQ(ErrorText(), "Длина коментария превышает допустимую длину");
    EXPECT_EQ(RequestCount(), before);
    const std::string ua = Cp("Ґава і №5");
    ASSERT_EQ(FPComment(ua.c_str(), 0), -1);
    const Bytes sent = LastRequest();
    EXPECT_EQ(sent.at(1), ua.size());
    EXPECT_EQ(sent.at(2), 0xF6); // Ґ as the OEM byte of Ў
    EXPECT_EQ(Bytes(sent.end() - 4, sent.end()),
              (Bytes{'i', ' ', 'N', '5'})); // і and № substituted
}

TEST_F(ReceiptTest, CommentAfterPaymentsBeganIsRefused) {
    int32_t amount = 0;
    int16_t change = 0;
    ASSERT_TRUE(Sale(1, 0, 1000));
    ASSERT_EQ(FPPayment(&amount, &change, 3, 100, 0, -1), -1);
    EXPECT_EQ(FPComment("late", 0), 0);
    EXPECT_EQ(ErrorText(), "\r\nКоманда запрещена после начала оплат");
    EXPECT_FALSE(Sale(1, 0, 100));
    EXPECT_EQ(LastCode(), 0x2E);
}

TEST_F(ReceiptTest, ZeroReceiptSendsItsThreeCommands) {
    ASSERT_TRUE(Sale(1, 0, 1000)); // voided by the zero receipt
    Emu().ClearRecords();
    ASSERT_EQ(FPNullCheck(), -1) << ErrorText();
    const auto requests = Emu().Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0], Bytes{0x0F});
    EXPECT_EQ(requests[1], Concat({{0x0B, 0x0C}, Oem("НУЛЬОВИЙ ЧЕК")}));
    EXPECT_EQ(requests[2], (Bytes{0x14, 0x03, 0x00, 0x00, 0x00, 0x80}));
    auto lock = Emu().Lock();
    EXPECT_EQ(Emu().State().receipt.kind, krv::emu::ReceiptKind::None);
    EXPECT_EQ(Emu().State().ext.ReadLe(0x10, 0x2F74, 2), 1u); // one voided sales receipt
}

TEST_F(ReceiptTest, ZeroReceiptStopsAtTheFirstFailedStep) {
    Emu().QueueFault(Fault::BadChecksum);
    EXPECT_EQ(FPNullCheck(), 0);
    EXPECT_EQ(ErrorText(), krv::drv::kTimeoutText);
    EXPECT_EQ(Emu().Requests().size(), 1u);

    // The comment step is judged strictly: the shift bit alone stops it.
    Emu().ClearRecords();
    Emu().SetHandler(0x0B, [](krv::emu::PrinterEmulator &, std::span<const uint8_t>) {
        return Reply{0, {}, uint8_t{0x20}, {}, 0};
    });
    EXPECT_EQ(FPNullCheck(), 0);
    EXPECT_EQ(Emu().Requests().size(), 2u);

    Emu().ClearRecords();
    Emu().SetHandler(0x0B, [](krv::emu::PrinterEmulator &, std::span<const uint8_t>) {
        return Reply::Error(0x19);
    });
    EXPECT_EQ(FPNullCheck(), 0);
    EXPECT_EQ(ErrorText(), "\r\nНедопустимые коды символов");
    EXPECT_EQ(Emu().Requests().size(), 2u);
}

TEST_F(ReceiptTest, VoidAndLineFeed) {
    ASSERT_TRUE(Sale(1, 0, 1000));
    ASSERT_EQ(FPResetOrder(), -1);
    EXPECT_EQ(LastRequest(), Bytes{0x0F});
    ASSERT_EQ(FPLineFeed(), -1);
    EXPECT_EQ(LastRequest(), Bytes{0x0E});
    ASSERT_TRUE(Sale(1, 0, 300));
    EXPECT_EQ(sum, 300); // a new receipt
}

// ---- cash in and out ------------------------------------------------------------------

TEST_F(ReceiptTest, CashInAndOutMoveTheDrawer) {
    ASSERT_EQ(FPInToCash(150), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x10, 0x96, 0x00, 0x00, 0x00}));
    ASSERT_EQ(FPOutOfCash(100), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x18, 0x64, 0x00, 0x00, 0x00}));
    EXPECT_EQ(FPOutOfCash(51), 0);
    EXPECT_EQ(ErrorText(), "\r\nПопытка выдачи большей суммы наличных, чем в денежном ящике");
    int64_t drawer = -1;
    ASSERT_EQ(FPGetMoneyInBox(&drawer), -1);
    EXPECT_EQ(drawer, 50);

    // The whole unsigned range reaches the wire: 42 949 672,95 is passed as -1.
    EXPECT_EQ(FPInToCash(-1), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x10, 0xFF, 0xFF, 0xFF, 0xFF}));

    ASSERT_TRUE(Sale(1, 0, 100));
    EXPECT_EQ(FPInToCash(1), 0);
    EXPECT_EQ(LastCode(), 0x2C);
}

// ---- replies that do not hold what they should ------------------------------------------

TEST_F(ReceiptTest, ShortOrMissingReplyDataFailsWithAClearText) {
    Emu().QueueFault(FaultSpec{Fault::TruncatedData, 1, 7});
    EXPECT_FALSE(Sale(1, 0, 100));
    EXPECT_EQ(ErrorText(), "Ответная посылка не соответствует формату данных!");
    EXPECT_EQ(cost, 0);
    EXPECT_EQ(sum, 0);

    Emu().QueueFault(Fault::ShortPayload);
    EXPECT_FALSE(Sale(1, 0, 100));
    EXPECT_EQ(ErrorText(), krv::drv::kTimeoutText);

    int32_t amount = -1;
    int16_t change = 1;
    Emu().QueueFault(Fault::AckEnq);
    EXPECT_EQ(FPPayment(&amount, &change, 3, 0, -1, -1), 0);
    EXPECT_EQ(ErrorText(), "Ответная посылка не соответствует формату данных!");
    EXPECT_EQ(amount, 0);

    int64_t value = -1, receiptSum = -1;
    ASSERT_TRUE(Sale(1, 0, 100));
    Emu().QueueFault(FaultSpec{Fault::TruncatedData, 1, 3});
    EXPECT_EQ(FPDiscount(&value, &receiptSum, 1, 0, 10, -1, ""), 0);
    EXPECT_EQ(ErrorText(), "Ответная посылка не соответствует формату данных!");
    EXPECT_EQ(value, 0);
    EXPECT_EQ(receiptSum, 0);
}

TEST_F(ReceiptTest, NullOutputPointersAreSkipped) {
    EXPECT_EQ(FPSale(nullptr, nullptr, 1, 0, 100, 0, 0, 0, nullptr, 1), -1) << ErrorText();
    EXPECT_EQ(FPPayment(nullptr, nullptr, 3, 0, -1, -1), -1) << ErrorText();
}

} // namespace
