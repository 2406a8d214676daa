// Programming exports end to end through the emulated printer: payload bytes,
// the order of the argument checks, and what the printer keeps.
#include "support_link.h"

#include "codepage.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using krv::test::EmulatorTest;

using krv::test::Concat;
using krv::test::Cp;

class ProgrammingTest : public EmulatorTest {
  protected:
    void ExpectRefused(int32_t result, const std::string &text, size_t requestsBefore) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(ErrorText(), text);
        EXPECT_EQ(RequestCount(), requestsBefore) << "nothing may be sent after a failed check";
    }
};

// ---- passwords and cashiers --------------------------------------------------------

TEST_F(ProgrammingTest, SetPasswordSendsFieldsAndThePrinterKeepsTheNewPassword) {
    ASSERT_EQ(FPSetPassword(0, 0x1234, 2, "Ivan"), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), Concat({0x05, 0x00, 0x00, 0x02, 0x34, 0x12, 0x04}, "Ivan"));
    auto lock = Emu().Lock();
    EXPECT_EQ(Emu().State().ext.Password(2), 0x1234);
}

TEST_F(ProgrammingTest, SetPasswordChecksOperatorBeforeName) {
    const std::string sixteen(16, 'a');
    ExpectRefused(FPSetPassword(0, 1, 10, sixteen.c_str()),
                  "Недопустимый номер оператора (кассира)!", 0);
    ExpectRefused(FPSetPassword(0, 1, 0, sixteen.c_str()), "Имя кассира превышает 15 символов!", 0);
    EXPECT_EQ(FPSetPassword(0, 1, 0, std::string(15, 'a').c_str()), -1);
    // No name for the programming password: a length byte of 0.
    EXPECT_EQ(FPSetPassword(0, 7, 8, nullptr), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x05, 0x00, 0x00, 0x08, 0x07, 0x00, 0x00}));
}

TEST_F(ProgrammingTest, WrongPasswordIsReportedWithThePrintersText) {
    EXPECT_EQ(FPSetPassword(0x4444, 1, 0, "x"), 0);
    EXPECT_EQ(ErrorText(), "\r\nНеверный пароль");
}

TEST_F(ProgrammingTest, SetCashierByNumberSendsFfWhateverTheName) {
    ASSERT_EQ(FPSetCashier(3, Cp("Олена").c_str(), 0, -1), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x06, 0x00, 0x00, 0x03, 0xFF}));
    // The name limit holds with byNumber too.
    ExpectRefused(FPSetCashier(3, std::string(16, 'b').c_str(), 0, -1),
                  "Имя кассира превышает 15 символов!", 1);
    ExpectRefused(FPSetCashier(10, "", 0, 0), "Неверный номер кассира!", 1);
}

TEST_F(ProgrammingTest, SetCashierWithEmptyNameSignsTheCashierOff) {
    ASSERT_EQ(FPSetCashier(1, "Anna", 0, 0), -1);
    EXPECT_EQ(LastRequest(), Concat({0x06, 0x00, 0x00, 0x01, 0x04}, "Anna"));
    ASSERT_EQ(FPSetCashier(1, nullptr, 0, 0), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x06, 0x00, 0x00, 0x01, 0x00}));
    auto lock = Emu().Lock();
    EXPECT_EQ(Emu().State().ext.cashierOnDuty, -1);
}

// ---- receipt message lines -------------------------------------------------------------

struct LineExport {
    KrvBool (*fn)(const char *, KrvBool16, int32_t);
    uint8_t index;
    size_t doubleWidthLimit;
    const char *message;
};

TEST_F(ProgrammingTest, MessageLinesUseTheirIndexLimitsAndTexts) {
    const LineExport exports[] = {
        {FPSetInitialFirstLine, 0, 21, "Неверная длина 1-й строки начального сообщения чека!"},
        {FPSetFinalFirstLine, 1, 21, "Неверная длина 1-й строки конечного сообщения чека!"},
        {FPSetInitialSecondLine, 2, 21, "Неверная длина 2-й строки начального сообщения чека!"},
        {FPSetInitialEndLine, 3, 21, "Неверная длина 3-й строки начального сообщения чека!"},
        {FPSetFinalSecondLine, 4, 21, "Неверная длина 2-й строки конечного сообщения чека!"},
        {FPSetFinalEndLine, 5, 21, "Неверная длина 3-й строки конечного сообщения чека!"},
        {FPSetHeaderLineAdd1, 6, 20, "Неверная длина 1-й доп. строки шапки чека!"},
        {FPSetHeaderLineAdd2, 7, 20, "Неверная длина 2-й доп. строки шапки чека!"},
    };
    for (const LineExport &e : exports) {
        SCOPED_TRACE(e.message);
        const std::string wide(e.doubleWidthLimit, 'W');
        ASSERT_EQ(e.fn(wide.c_str(), -1, 0), -1) << ErrorText();
        EXPECT_EQ(LastRequest(),
                  Concat({0x17, e.index, static_cast<uint8_t>(0x40 | wide.size())}, wide));
        const size_t before = RequestCount();
        ExpectRefused(e.fn((wide + "W").c_str(), -1, 0), e.message, before);
        EXPECT_EQ(e.fn(std::string(36, 'n').c_str(), 0, 0), -1);
        ExpectRefused(e.fn(std::string(37, 'n').c_str(), 0, 0), e.message, before + 1);
    }
}

TEST_F(ProgrammingTest, MessageLineAttributesAndEmptyLine) {
    ASSERT_EQ(FPSetFinalEndLine("ab", -1, -1), -1);
    EXPECT_EQ(LastRequest(), Concat({0x17, 0x05, 0xC2}, "ab"));
    // The height flag is 32 bits wide and tested on its low half.
    ASSERT_EQ(FPSetFinalEndLine("", 0, 0x10000), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x17, 0x05, 0x00}));
    ASSERT_EQ(FPSetFinalEndLine("", 0, 0x0001), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x17, 0x05, 0x80}));
}

// ---- fiscalization and the taxpayer header ---------------------------------------------

TEST_F(ProgrammingTest, FiscalNumberIsPaddedAndChecked) {
    ASSERT_EQ(FPFiscalization(0, "123"), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), Concat({0x15, 0x00, 0x00}, "0000000123"));
    ExpectRefused(FPFiscalization(0, "12345678901"),
                  "Длина фискального номера должна быть до 10 символов!", 1);
    ExpectRefused(FPFiscalization(0, "12-3"), "Фискальный номер может состоять только из цифр!", 1);
    // Letters, Latin and Cyrillic, are accepted; the printer refuses a second fiscalization.
    EXPECT_EQ(FPFiscalization(0, Cp("12AЇ").c_str()), 0);
    EXPECT_EQ(RequestCount(), 2u);
    EXPECT_EQ(LastRequest(),
              (Bytes{0x15, 0x00, 0x00, '0', '0', '0', '0', '0', '0', '1', '2', 'A', 0xF4}));
}

TEST_F(ProgrammingTest, HeadLinePayloadAndNumberMarker) {
    ASSERT_EQ(FPSetHeadLine(0, "AB", -1, 0, "", 0, -1, "C", -1, -1, "", 0), -1) << ErrorText();
    EXPECT_EQ(LastRequest(),
              Concat({0x16, 0x00, 0x00, 0x42, 'A', 'B', 0x80, 0xC1, 'C', 0x0C}, "000000000000"));
    ASSERT_EQ(FPSetHeadLine(0, "", 0, 0, "", 0, 0, "", 0, 0, "12345", -1), -1);
    EXPECT_EQ(LastRequest(), Concat({0x16, 0x00, 0x00, 0x00, 0x00, 0x00, 0x8C}, "000000012345"));
}

TEST_F(ProgrammingTest, HeadLineChecksLinesInOrderThenTheNumber) {
    const std::string w21(21, 'x'), n31(31, 'x'), n13(13, '1');
    ExpectRefused(FPSetHeadLine(0, "", 0, 0, w21.c_str(), -1, 0, n31.c_str(), 0, 0, n13.c_str(), 0),
                  "Длина второй строки атрибутов налогоплательщика больше допустимой!", 0);
    ExpectRefused(FPSetHeadLine(0, n31.c_str(), 0, 0, "", 0, 0, "", 0, 0, "", 0),
                  "Длина первой строки атрибутов налогоплательщика больше допустимой!", 0);
    ExpectRefused(FPSetHeadLine(0, "", 0, 0, "", 0, 0, w21.c_str(), -1, 0, "", 0),
                  "Длина третьей строки атрибутов налогоплательщика больше допустимой!", 0);
    ExpectRefused(FPSetHeadLine(0, w21.c_str(), 0, 0, "", 0, 0, "", 0, 0, n13.c_str(), 0),
                  "Длина налогового номера больше 12 символов!", 0);
    ExpectRefused(FPSetHeadLine(0, "", 0, 0, "", 0, 0, "", 0, 0, n13.c_str(), -1),
                  "Длина идентификационного номера больше 12 символов!", 0);
}

// ---- tax rates ---------------------------------------------------------------------------

TEST_F(ProgrammingTest, TaxRateCountAndValueChecks) {
    TaxRateEntry rates[6] = {};
    ExpectRefused(FPSetTaxRate(0, 6, 0, rates, 5, 0, 0), "Cлишком много налоговых ставок!", 0);
    ExpectRefused(FPSetTaxRate(0, 0, 0, rates, 5, 0, 0), "Cлишком мало налоговых ставок!", 0);
    rates[1].rate = 10000;
    ExpectRefused(FPSetTaxRate(0, 2, 0, rates, 5, 0, 0),
                  "Значение налоговой ставки не должно превышать 99,99%!", 0);
    rates[1].rate = -1;
    ExpectRefused(FPSetTaxRate(0, 2, 0, rates, 5, 0, 0),
                  "Значение налоговой ставки не должно превышать 99,99%!", 0);
    rates[1] = {0, 9000, 1000, 0};
    // Without the levy scheme the levy is not looked at.
    EXPECT_EQ(FPSetTaxRate(0, 2, 0, rates, 5, 0, 0), -1);
    ExpectRefused(FPSetTaxRate(0, 2, 0, rates, 5, -1, 0),
                  "Cумма налоговой ставки и ставки сбора не должны превышать 99,99%!", 1);
}

TEST_F(ProgrammingTest, NegativeLevyOrShortArrayIsRefused) {
    TaxRateEntry rates[2] = {{0, 2000, -5, 0}, {0, 700, 0, 0}};
    ExpectRefused(FPSetTaxRate(0, 2, 0, rates, 1, -1, 0),
                  "Cумма налоговой ставки и ставки сбора не должны превышать 99,99%!", 0);
    rates[0].levyRate = 0;
    EXPECT_EQ(FPSetTaxRate(0, 3, 0, rates, 1, 0, 0), 0);
    EXPECT_EQ(RequestCount(), 0u) << "a third rate would be read past the caller's array";
    EXPECT_EQ(FPSetTaxRate(0, 2, 0, nullptr, 1, 0, 0), 0);
    EXPECT_EQ(RequestCount(), 0u);
}

TEST_F(ProgrammingTest, LevyTooLargeToAddToTheRateIsRefused) {
    // rate + levy must not wrap around to a small sum.
    TaxRateEntry rates[1] = {{0, 1, INT32_MAX, 0}};
    ExpectRefused(FPSetTaxRate(0, 1, 0, rates, 0, -1, 0),
                  "Cумма налоговой ставки и ставки сбора не должны превышать 99,99%!", 0);
}

TEST_F(ProgrammingTest, TaxRateOptionsByte) {
    TaxRateEntry rates[1] = {{0, 2000, 0, 0}};
    ASSERT_EQ(FPSetTaxRate(0, 1, 0, rates, 0, 0, 0), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x19, 0x00, 0x00, 0x01, 0xD0, 0x07, 0x00}));
    ASSERT_EQ(FPSetTaxRate(0, 1, -1, rates, 0, 0, 0), -1);
    EXPECT_EQ(LastRequest().back(), 0x10);
    ASSERT_EQ(FPSetTaxRate(0, 1, -1, rates, 0, -1, 0), -1);
    EXPECT_EQ(LastRequest()[6], 0x20);
}

TEST_F(ProgrammingTest, TaxRateWithLevySendsLevyWordsAndGroupFLevy) {
    {
        auto lock = Emu().Lock();
        Emu().State().ext.SetPassword(8, 0x0A0B);
    }
    TaxRateEntry rates[2] = {{0, 2000, 150, -1}, {0, 0x1010, 0x0110, 0}};
    ASSERT_EQ(FPSetTaxRate(0x0A0B, 2, 0, rates, 1, -1, 0x12345), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x19, 0x0B, 0x0A, 0x02, 0xD0, 0x07, 0x10, 0x10, 0x20, 0x96,
                                    0x80, 0x10, 0x01, 0x45, 0x23}));
}

// ---- articles and payment forms ----------------------------------------------------------

TEST_F(ProgrammingTest, ProgArtChecksInOrderAndSendsItsFields) {
    const std::string long71(71, 'z');
    ExpectRefused(FPProgArt(0xFFFF, 0, 1, 9, long71.c_str(), 1), "Неверный пароль отчетов!", 0);
    ExpectRefused(FPProgArt(0, 0, 1, 6, long71.c_str(), 1), "Несуществующая налоговая группа", 0);
    ExpectRefused(FPProgArt(0, 0, 1, 5, long71.c_str(), 1),
                  "Название товара превышает 70 символов!", 0);
    ASSERT_EQ(FPProgArt(0, 3, -150, 2, "Milk", 0x0000010203040506LL), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x22, 0x00, 0x00, 0x03, 0x96, 0x00, 0x00, 0x80, 0x82, 0x04,
                                    'M',  'i',  'l',  'k',  0x06, 0x05, 0x04, 0x03, 0x02, 0x01}));
    auto lock = Emu().Lock();
    ASSERT_EQ(Emu().State().ext.articles.count(0x010203040506ULL), 1u);
}

TEST_F(ProgrammingTest, ProgArtRefusesThePriceThatHasNoSignMagnitudeForm) {
    ExpectRefused(FPProgArt(0, 0, INT32_MIN, 0, "Salt", 1), "Недопустимая цена товара!", 0);
    ASSERT_EQ(FPProgArt(0, 0, -INT32_MAX, 0, "Salt", 1), -1) << ErrorText();
    const Bytes request = LastRequest();
    EXPECT_EQ(Bytes(request.begin() + 4, request.begin() + 8), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(ProgrammingTest, PayNameChecksAndRoundTrip) {
    ExpectRefused(FPSetPayName(0, 3, "CASH"), "Недопустимый индекс оплат!", 0);
    ExpectRefused(FPSetPayName(0, 10, "X"), "Недопустимый индекс оплат!", 0);
    ExpectRefused(FPSetPayName(0, 1, ""), "Недопустимая длина названия формы оплаты!", 0);
    ExpectRefused(FPSetPayName(0, 1, std::string(16, 'q').c_str()),
                  "Недопустимая длина названия формы оплаты!", 0);
    ASSERT_EQ(FPSetPayName(0, 9, std::string(15, 'q').c_str()), -1);

    const std::string name = Cp("Картка №1");
    ASSERT_EQ(FPSetPayName(0, 2, name.c_str()), -1) << ErrorText();
    // № leaves as N; the rest in the printer's code page.
    EXPECT_EQ(LastRequest(), (Bytes{0x32, 0x00, 0x00, 0x02, 0x09, 0x8A, 0xA0, 0xE0, 0xE2, 0xAA,
                                    0xA0, ' ', 'N', '1'}));
    const char *read = nullptr;
    ASSERT_EQ(FPGetPayName(2, &read), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x1C, 0x20, 0x2D, 0x10, 0x10}));
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(std::string(read), Cp("Картка N1"));
}

// The printer's own names read back as the driver would have written them:
// the Ukrainian letters its page lacks come as their look-alikes, never '?'.
TEST_F(ProgrammingTest, DefaultPayNamesUseThePrintersLookAlikes) {
    const struct {
        uint8_t index;
        const char *utf8;
    } names[] = {{0, "КАРТКА"}, {3, "ГОТIВКА"}};
    for (const auto &n : names) {
        const char *read = nullptr;
        ASSERT_EQ(FPGetPayName(n.index, &read), -1) << ErrorText();
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(krv::platform::Cp1251ToUtf8(read), n.utf8);
    }
}

TEST_F(ProgrammingTest, GetPayNameEmptyAndOverlongLength) {
    {
        auto lock = Emu().Lock();
        auto &ext = Emu().State().ext;
        ext.WriteLe(0x10, 0x2D00 + 16 * 5, 0, 1);
        ext.WriteLe(0x10, 0x2D00 + 16 * 6, 0x30, 1); // claims 48 bytes in a 16-byte record
    }
    const char *read = "stale";
    ASSERT_EQ(FPGetPayName(5, &read), -1);
    EXPECT_STREQ(read, "");
    EXPECT_EQ(FPGetPayName(6, &read), 0);
    EXPECT_EQ(ErrorText(), "Ответная посылка не соответствует формату данных!");
    const size_t sent = RequestCount();
    ExpectRefused(FPGetPayName(10, &read), "Недопустимый индекс оплат!", sent);
}

// ---- personalization and the packet number ------------------------------------------------

TEST_F(ProgrammingTest, PersonalizeLengthsAndPayload) {
    ExpectRefused(FPPersonalize(0, -1, ""), "Недопустимая длина строки персонализации!", 0);
    ExpectRefused(FPPersonalize(0, -1, std::string(181, 'p').c_str()),
                  "Недопустимая длина строки персонализации!", 0);
    const std::string text(180, 'p');
    ASSERT_EQ(FPPersonalize(0, -1, text.c_str()), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), Concat({0x35, 0x00, 0x00, 0x01, 180}, text));
    ASSERT_EQ(FPPersonalize(0, 0, "x"), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x35, 0x00, 0x00, 0x00, 0x01, 'x'}));
}

TEST_F(ProgrammingTest, PersonalizeAndPacketNumberIgnoreStatusButNotARefusal) {
    // A locked printer still takes them: the status byte is not decoded.
    Emu().SetHeaderOverride({0x02, std::nullopt, std::nullopt});
    EXPECT_EQ(FPPersonalize(0, -1, "x"), -1) << ErrorText();
    EXPECT_EQ(FPSetTotalNumb(0, 0x01020304), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x36, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01}));
    Emu().ClearHeaderOverride();
    // A refusal is a failure with the printer's text.
    EXPECT_EQ(FPPersonalize(0x5555, -1, "x"), 0);
    EXPECT_EQ(ErrorText(), "\r\nНеверный пароль");
    uint8_t code = 0, status = 0, ext = 0;
    FPCodeError(&code, &status, &ext);
    EXPECT_EQ(code, 0x15);
    EXPECT_EQ(FPSetTotalNumb(0x5555, 1), 0);
    EXPECT_EQ(ErrorText(), "\r\nНеверный пароль");
}

TEST_F(ProgrammingTest, NoReplyGivesTheTimeoutText) {
    Emu().QueueFault(krv::emu::Fault::NakFrame);
    Emu().QueueFault(krv::emu::Fault::NakFrame);
    Emu().QueueFault(krv::emu::Fault::NakFrame);
    EXPECT_EQ(FPSetTotalNumb(0, 1), 0);
    EXPECT_EQ(ErrorText(), "Превышено время ожидания ответа от принтера!");
}

} // namespace
