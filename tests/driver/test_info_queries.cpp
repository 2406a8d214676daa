// Information queries end to end: memory reads at the printer's fixed
// addresses, the record-shaped replies, and short or malformed replies.
#include "support_link.h"

#include "codepage.h"
#include "values.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using krv::emu::Fault;
using krv::emu::FaultSpec;
using krv::test::EmulatorTest;

constexpr const char *kFormatText = "Ответная посылка не соответствует формату данных!";
constexpr const char *kNoDataText = "Данные от ЭККР не были получены!";

double Date(int y, int m, int d) {
    return *krv::drv::EncodeDate({y, m, d});
}

class InfoQueryTest : public EmulatorTest {
  protected:
    void Poke(uint8_t bank, uint16_t address, const Bytes &bytes) {
        auto lock = Emu().Lock();
        Emu().State().ext.Write(bank, address, bytes);
    }
    void Truncate(size_t keep) { Emu().QueueFault(FaultSpec{Fault::TruncatedData, 1, keep}); }
};

// ---- raw memory ----------------------------------------------------------------------

TEST_F(InfoQueryTest, MemoryDataReadsTheAddressAndBankAsked) {
    Poke(0x10, 0x1234, {1, 2, 3, 4, 5});
    std::array<uint8_t, 8> dst{};
    const uint8_t length = 4;
    // The bank argument is 32 bits wide; its low byte is sent.
    ASSERT_EQ(FPGetMemoryData(dst.data(), 7, &length, 0x1234, 0x110), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x1C, 0x34, 0x12, 0x10, 0x04}));
    EXPECT_EQ(dst, (std::array<uint8_t, 8>{1, 2, 3, 4, 0, 0, 0, 0}));
}

TEST_F(InfoQueryTest, MemoryDataZeroLengthIsSentThenRefused) {
    uint8_t dst[1] = {0xAA};
    const uint8_t zero = 0;
    EXPECT_EQ(FPGetMemoryData(dst, 0, &zero, 0x0102, 0x10), 0);
    EXPECT_EQ(LastRequest(), (Bytes{0x1C, 0x02, 0x01, 0x10, 0x00}));
    EXPECT_EQ(ErrorText(), "Длина блока данных не может быть равна нулю!");
    EXPECT_EQ(dst[0], 0xAA);
}

TEST_F(InfoQueryTest, MemoryDataShortReplyIsAFailureAndWritesNothing) {
    Poke(0x10, 0x0200, {9, 9, 9, 9, 9, 9, 9, 9});
    Truncate(3);
    std::array<uint8_t, 8> dst{};
    const uint8_t length = 8;
    EXPECT_EQ(FPGetMemoryData(dst.data(), 7, &length, 0x0200, 0x10), 0);
    EXPECT_EQ(ErrorText(), kFormatText);
    EXPECT_EQ(dst, (std::array<uint8_t, 8>{}));
}

TEST_F(InfoQueryTest, MemoryDataRefusesABufferSmallerThanTheBlock) {
    uint8_t dst[4] = {};
    const uint8_t length = 5;
    EXPECT_EQ(FPGetMemoryData(dst, 3, &length, 0, 0x10), 0);
    EXPECT_EQ(FPGetMemoryData(nullptr, 100, &length, 0, 0x10), 0);
    EXPECT_EQ(FPGetMemoryData(dst, 3, nullptr, 0, 0x10), 0);
    EXPECT_TRUE(Emu().Requests().empty());
}

TEST_F(InfoQueryTest, MemoryDataDoesNotDecodeTheStatus) {
    Emu().SetHeaderOverride({0x81, 0x10, std::nullopt});
    uint8_t dst[2] = {};
    const uint8_t length = 2;
    EXPECT_EQ(FPGetMemoryData(dst, 1, &length, 0x3003, 0x10), -1) << ErrorText();
    uint8_t code = 1, status = 1, ext = 0;
    FPCodeError(&code, &status, &ext);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(status, 0);
}

// ---- fixed addresses -----------------------------------------------------------------------

TEST_F(InfoQueryTest, ReceiptCountersAreFourDigitBcd) {
    Poke(0x10, 0x301B, {0x34, 0x12});
    Poke(0x10, 0x3077, {0x99, 0x00});
    int16_t sale = 0, pay = 0;
    ASSERT_EQ(FPGetSaleCheckNumber(&sale), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x1C, 0x1B, 0x30, 0x10, 0x02}));
    ASSERT_EQ(FPGetPayCheckNumber(&pay), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x1C, 0x77, 0x30, 0x10, 0x02}));
    EXPECT_EQ(sale, 1234);
    EXPECT_EQ(pay, 99);
}

TEST_F(InfoQueryTest, DaySumsAddTheSixGroups) {
    for (int k = 0; k < 6; ++k) {
        Poke(0x10, static_cast<uint16_t>(0x301D + 5 * k),
             {static_cast<uint8_t>(k + 1), 0, 0, 0, 0});
        Poke(0x10, static_cast<uint16_t>(0x3079 + 5 * k), {0, 0, 0, 0, 1});
    }
    int64_t sales = -1, returns = -1;
    ASSERT_EQ(FPGetSaleDaySum(&sales), -1);
    EXPECT_EQ(sales, 21);
    const auto requests = Emu().Requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[5], (Bytes{0x1C, 0x36, 0x30, 0x10, 0x05}));
    ASSERT_EQ(FPGetPayDaySum(&returns), -1);
    EXPECT_EQ(returns, 6 * 4294967296LL);
}

TEST_F(InfoQueryTest, DaySumStopsAtTheFirstFailedRead) {
    Emu().SetHeaderOverride({0x01, std::nullopt, std::nullopt});
    int64_t sales = -1;
    EXPECT_EQ(FPGetSaleDaySum(&sales), 0);
    EXPECT_EQ(sales, -1);
    EXPECT_EQ(Emu().Requests().size(), 1u);
    EXPECT_EQ(ErrorText(), "\r\nПринтер не готов");
}

TEST_F(InfoQueryTest, LastZReportNumberAndDate) {
    int16_t number = 0;
    double date = 0;
    Poke(0x10, 0x0037, {0x01, 0x00});
    ASSERT_EQ(FPGetNumZReport(&number, &date), -1) << ErrorText();
    EXPECT_EQ(number, 1);
    EXPECT_EQ(date, Date(2003, 1, 1)) << "no Z report yet";
    Poke(0x10, 0x0037, {0x05, 0x00});
    Poke(0x10, 0x0169, {0x15, 0x06, 0x24});
    ASSERT_EQ(FPGetNumZReport(&number, &date), -1);
    EXPECT_EQ(number, 4);
    EXPECT_EQ(date, Date(2024, 6, 15));
    // A counter of 0 (no Z report) does not go below zero.
    Poke(0x10, 0x0037, {0x00, 0x00});
    ASSERT_EQ(FPGetNumZReport(&number, &date), -1);
    EXPECT_EQ(number, 0);
    const auto requests = Emu().Requests();
    EXPECT_EQ(requests[requests.size() - 2], (Bytes{0x1C, 0x37, 0x00, 0x10, 0x02}));
    EXPECT_EQ(requests.back(), (Bytes{0x1C, 0x69, 0x01, 0x10, 0x03}));
}

TEST_F(InfoQueryTest, LastZReportWithAnImpossibleDateFails) {
    Poke(0x10, 0x0037, {0x08, 0x00});
    Poke(0x10, 0x0169, {0x32, 0x13, 0x24});
    int16_t number = 0;
    double date = -5;
    EXPECT_EQ(FPGetNumZReport(&number, &date), 0);
    EXPECT_EQ(number, 7) << "the number is written after the first read";
    EXPECT_EQ(date, -5);
}

TEST_F(InfoQueryTest, VoidsCancelsAndTheSixthLevy) {
    Poke(0x10, 0x2F74, {0x03, 0x00, 0x10, 0x27, 0, 0, 0, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01});
    Poke(0x10, 0x2F82, {0x01, 0x01, 0x05, 0, 0, 0, 0, 0x00, 0x00, 0x07, 0, 0, 0, 0});
    Poke(0x10, 0x0165, {0x2C, 0x01});
    int16_t salesCount = 0, returnsCount = 0, levy = 0;
    int64_t salesSum = 0, returnsSum = 0;
    ASSERT_EQ(FPGetResetOrders(&salesCount, &returnsCount, &salesSum, &returnsSum), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x1C, 0x74, 0x2F, 0x10, 0x0E}));
    EXPECT_EQ(salesCount, 3);
    EXPECT_EQ(salesSum, 10000);
    EXPECT_EQ(returnsCount, 2);
    EXPECT_EQ(returnsSum, 4294967296LL);
    ASSERT_EQ(FPGetCancels(&salesCount, &returnsCount, &salesSum, &returnsSum), -1);
    EXPECT_EQ(salesCount, 0x0101);
    EXPECT_EQ(salesSum, 5);
    EXPECT_EQ(returnsCount, 0);
    EXPECT_EQ(returnsSum, 7);
    ASSERT_EQ(FPGetValueFor_F(&levy), -1);
    EXPECT_EQ(levy, 300);
}

TEST_F(InfoQueryTest, PasswordsStopAtTheCallersArray) {
    {
        auto lock = Emu().Lock();
        for (int op = 0; op < 10; ++op)
            Emu().State().ext.SetPassword(op, static_cast<uint16_t>(100 + op));
    }
    std::array<uint16_t, 11> values{};
    values.fill(0xEEEE);
    ASSERT_EQ(FPGetPasswords(values.data(), 9), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x1C, 0x03, 0x30, 0x10, 0x14}));
    EXPECT_EQ(values[0], 100);
    EXPECT_EQ(values[9], 109);
    EXPECT_EQ(values[10], 0xEEEE);
    values.fill(0xEEEE);
    ASSERT_EQ(FPGetPasswords(values.data(), 3), -1);
    EXPECT_EQ(values[3], 103);
    EXPECT_EQ(values[4], 0xEEEE);
}

// ---- tax rates from memory and the full table -----------------------------------------------

TEST_F(InfoQueryTest, TaxRatesNotProgrammed) {
    int32_t rates[6] = {}, levies[6] = {};
    KrvBool16 compound[5] = {};
    uint8_t count = 9;
    KrvBool16 added = 0, withLevy = 0;
    EXPECT_EQ(FPGetTaxRate(rates, 5, levies, 5, compound, 4, &count, &added, &withLevy), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(ErrorText(), "Ставки налоговых не запрограммированы!");
    EXPECT_EQ(LastRequest(), (Bytes{0x1C, 0x16, 0x00, 0x00, 0x01}));
}

TEST_F(InfoQueryTest, TaxRatesRoundTripWithLevies) {
    TaxRateEntry in[2] = {{0, 2000, 150, -1}, {0, 700, 0, 0}};
    ASSERT_EQ(FPSetTaxRate(0, 2, 0, in, 1, -1, 250), -1) << ErrorText();

    int32_t rates[6], levies[6];
    KrvBool16 compound[5] = {7, 7, 7, 7, 7};
    std::fill(std::begin(rates), std::end(rates), -9);
    std::fill(std::begin(levies), std::end(levies), -9);
    uint8_t count = 0;
    KrvBool16 added = 5, withLevy = 0;
    ASSERT_EQ(FPGetTaxRate(rates, 5, levies, 5, compound, 4, &count, &added, &withLevy), -1)
        << ErrorText();
    const auto requests = Emu().Requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests[requests.size() - 2], (Bytes{0x1C, 0x50, 0x01, 0x10, 0x09}));
    EXPECT_EQ(requests.back(), (Bytes{0x1C, 0x65, 0x01, 0x10, 0x02}));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(withLevy, -1);
    EXPECT_EQ(added, 0);
    EXPECT_EQ(rates[0], 2000);
    EXPECT_EQ(levies[0], 150);
    EXPECT_EQ(compound[0], -1);
    EXPECT_EQ(rates[1], 700);
    EXPECT_EQ(compound[1], 0);
    EXPECT_EQ(rates[2], -9);
    EXPECT_EQ(compound[2], 7);
    EXPECT_EQ(rates[5], 0);
    EXPECT_EQ(levies[5], 250);

    TaxRateEntry full[6] = {};
    double date = 0;
    uint16_t groupF = 0;
    ASSERT_EQ(FPFullGetTaxRate(&date, &count, &added, full, 5, &withLevy, &groupF), -1)
        << ErrorText();
    EXPECT_EQ(LastRequest(), Bytes{0x2C});
    EXPECT_EQ(count, 2);
    EXPECT_EQ(withLevy, -1);
    EXPECT_EQ(groupF, 250);
    EXPECT_EQ(full[0].rate, 2000);
    EXPECT_EQ(full[0].levyRate, 150);
    EXPECT_EQ(full[0].compound, -1);
    EXPECT_EQ(full[0].hasLevy, -1);
    EXPECT_EQ(full[1].hasLevy, 0);
    EXPECT_EQ(full[5].hasLevy, -1);
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    EXPECT_NEAR(date, now / 86400.0 + 25569.0, 1.5)
        << "the printer dates the table when it is programmed";
}

TEST_F(InfoQueryTest, TaxRatesAddedTaxWithoutLevies) {
    TaxRateEntry in[1] = {{0, 1234, 99, -1}};
    ASSERT_EQ(FPSetTaxRate(0, 1, -1, in, 0, 0, 0), -1);
    int32_t rates[6] = {}, levies[6] = {1, 1, 1, 1, 1, 1};
    KrvBool16 compound[5] = {3, 3, 3, 3, 3};
    uint8_t count = 0;
    KrvBool16 added = 0, withLevy = -1;
    ASSERT_EQ(FPGetTaxRate(rates, 5, levies, 5, compound, 4, &count, &added, &withLevy), -1);
    EXPECT_EQ(added, -1);
    EXPECT_EQ(withLevy, 0);
    EXPECT_EQ(rates[0], 1234);
    EXPECT_EQ(levies[0], 0);
    EXPECT_EQ(compound[0], 3) << "not written without the levy scheme";

    TaxRateEntry full[6] = {};
    full[0] = {-1, 0, 55, -1};
    double date = 0;
    uint16_t groupF = 9;
    ASSERT_EQ(FPFullGetTaxRate(&date, &count, &added, full, 5, &withLevy, &groupF), -1);
    EXPECT_EQ(full[0].rate, 1234);
    EXPECT_EQ(full[0].levyRate, 0);
    EXPECT_EQ(full[0].compound, 0);
    EXPECT_EQ(full[0].hasLevy, 0);
    EXPECT_EQ(groupF, 0);
    EXPECT_EQ(added, -1);
}

TEST_F(InfoQueryTest, TaxRateCountSixFillsOnlyTheSixthEntry) {
    Poke(0x00, 0x0016, {6});
    Poke(0x10, 0x0150, Bytes(25, 0x11));
    Poke(0x10, 0x0165, {0x07, 0x00});
    int32_t rates[6] = {-1, -1, -1, -1, -1, -1}, levies[6] = {-1, -1, -1, -1, -1, -1};
    KrvBool16 compound[5] = {};
    uint8_t count = 0;
    KrvBool16 added = 0, withLevy = 0;
    ASSERT_EQ(FPGetTaxRate(rates, 5, levies, 5, compound, 4, &count, &added, &withLevy), -1);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(rates[0], -1);
    EXPECT_EQ(rates[5], 0);
    EXPECT_EQ(levies[5], 7);
}

TEST_F(InfoQueryTest, FullTaxTableLengthIsChecked) {
    // Count 2, options 10: exactly 9 bytes are expected.
    Poke(0x00, 0x0016, {2});
    Poke(0x10, 0x0150, {0x10, 0x00, 0x20, 0x00, 0x10});
    {
        auto lock = Emu().Lock();
        Emu().State().ext.taxDate = {0x01, 0x02, 0x03};
    }
    double date = 0;
    uint8_t count = 0;
    KrvBool16 added = 0, withLevy = 0;
    uint16_t groupF = 0;
    TaxRateEntry full[6] = {};
    ASSERT_EQ(FPFullGetTaxRate(&date, &count, &added, full, 5, &withLevy, &groupF), -1)
        << ErrorText();
    EXPECT_EQ(date, Date(2003, 2, 1));
    EXPECT_EQ(full[1].rate, 32);
    EXPECT_EQ(added, -1);

    Truncate(8);
    count = 0;
    EXPECT_EQ(FPFullGetTaxRate(&date, &count, &added, full, 5, &withLevy, &groupF), 0);
    EXPECT_EQ(ErrorText(), kFormatText);
    EXPECT_EQ(count, 2) << "count and date are written before the length test";

    for (size_t keep : {0u, 2u, 4u}) {
        Truncate(keep);
        count = 9;
        EXPECT_EQ(FPFullGetTaxRate(&date, &count, &added, full, 5, &withLevy, &groupF), 0);
        EXPECT_EQ(ErrorText(), keep == 0 ? kNoDataText : kFormatText);
        EXPECT_EQ(count, keep == 0 ? 9 : 2) << "the count is written before the length test";
    }
}

TEST_F(InfoQueryTest, FullTaxTableOfSixRatesFillsSixEntries) {
    // Six rates and the levy scheme: the sixth group's levy word lies where
    // the fifth levy word does, and its hasLevy comes from that word alone.
    Poke(0x00, 0x0016, {6});
    Poke(0x10, 0x0150, {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 0x20});
    Poke(0x10, 0x015D, {0x0A, 0x00, 0, 0, 0, 0, 0, 0, 0x07, 0x80, 0, 0});
    double date = 0;
    uint8_t count = 0;
    KrvBool16 added = 0, withLevy = 0;
    uint16_t groupF = 0;
    TaxRateEntry full[6] = {};
    ASSERT_EQ(FPFullGetTaxRate(&date, &count, &added, full, 5, &withLevy, &groupF), -1)
        << ErrorText();
    EXPECT_EQ(count, 6);
    EXPECT_EQ(withLevy, -1);
    EXPECT_EQ(full[0].levyRate, 10);
    EXPECT_EQ(full[0].hasLevy, -1);
    EXPECT_EQ(full[4].levyRate, 7);
    EXPECT_EQ(full[4].compound, -1);
    EXPECT_EQ(full[5].rate, 6);
    EXPECT_EQ(full[5].levyRate, 0);
    EXPECT_EQ(groupF, 0x8007);
    EXPECT_EQ(full[5].hasLevy, -1);

    Poke(0x00, 0x0016, {7});
    EXPECT_EQ(FPFullGetTaxRate(&date, &count, &added, full, 5, &withLevy, &groupF), 0);
    EXPECT_EQ(ErrorText(), kFormatText);
}

TEST_F(InfoQueryTest, FullTaxTableWritesNoMoreEntriesThanTheArrayHolds) {
    TaxRateEntry in[5] = {{0, 1, 0, 0}, {0, 2, 0, 0}, {0, 3, 0, 0}, {0, 4, 0, 0}, {0, 5, 0, 0}};
    ASSERT_EQ(FPSetTaxRate(0, 5, 0, in, 4, -1, 9), -1);
    TaxRateEntry out[3] = {};
    std::fill(std::begin(out), std::end(out), TaxRateEntry{7, 7, 7, 7});
    double date = 0;
    uint8_t count = 0;
    KrvBool16 added = 0, withLevy = 0;
    uint16_t groupF = 0;
    ASSERT_EQ(FPFullGetTaxRate(&date, &count, &added, out, 1, &withLevy, &groupF), -1);
    EXPECT_EQ(out[1].rate, 2);
    EXPECT_EQ(out[2].rate, 7);
}

// ---- article, day totals, receipt sums
// -----------------------------------------------------------

TEST_F(InfoQueryTest, ArticleInfoReadsBothBlocks) {
    ASSERT_EQ(FPProgArt(0, 2, 12345, 4, krv::platform::Utf8ToCp1251("Хліб").c_str(), 77), -1);
    {
        auto lock = Emu().Lock();
        auto &a = Emu().State().ext.articles.at(77);
        a.salesQty = 1500;
        a.salesFlags = 2;
        a.salesSum = 0x100000002ULL;
        a.returnsQty = 3;
        a.returnsFlags = 0;
        a.returnsSum = 40;
    }
    const int64_t code = 77;
    uint8_t nameLength = 0, taxGroup = 9, salesFlags = 0, returnsFlags = 9;
    const char *name = nullptr;
    int32_t price = 0, salesQty = 0, returnsQty = 0;
    int64_t salesSum = 0, returnsSum = 0;
    ASSERT_EQ(FPGetArticleInfo(&nameLength, &name, &price, &taxGroup, &salesQty, &salesFlags,
                               &salesSum, &returnsQty, &returnsFlags, &returnsSum, &code),
              -1)
        << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x29, 77, 0, 0, 0, 0, 0}));
    EXPECT_EQ(nameLength, 4);
    ASSERT_NE(name, nullptr);
    // і goes out as the Latin i and does not come back.
    EXPECT_EQ(krv::platform::Cp1251ToUtf8(name), "Хл"
                                                 "i"
                                                 "б");
    EXPECT_EQ(price, 12345);
    EXPECT_EQ(taxGroup, 4);
    EXPECT_EQ(salesQty, 1500);
    EXPECT_EQ(salesFlags, 2);
    EXPECT_EQ(salesSum, 0x100000002LL);
    EXPECT_EQ(returnsQty, 3);
    EXPECT_EQ(returnsFlags, 0);
    EXPECT_EQ(returnsSum, 40);

    {
        auto lock = Emu().Lock();
        Emu().State().ext.articles.at(77).returnsFirst = true;
    }
    ASSERT_EQ(FPGetArticleInfo(&nameLength, &name, &price, &taxGroup, &salesQty, &salesFlags,
                               &salesSum, &returnsQty, &returnsFlags, &returnsSum, &code),
              -1);
    EXPECT_EQ(salesQty, 1500) << "bit 7 of the length byte swaps the blocks on the wire";
    EXPECT_EQ(salesSum, 0x100000002LL);
    EXPECT_EQ(returnsSum, 40);
}

TEST_F(InfoQueryTest, ArticleInfoMalformedReplies) {
    ASSERT_EQ(FPProgArt(0, 0, 1, 0, "Salt5", 5), -1);
    const int64_t code = 5;
    uint8_t nameLength = 0, taxGroup = 0, flags = 0;
    const char *name = nullptr;
    int32_t price = 0, qty = 0;
    int64_t sum = 0;
    Truncate(28);
    EXPECT_EQ(FPGetArticleInfo(&nameLength, &name, &price, &taxGroup, &qty, &flags, &sum, &qty,
                               &flags, &sum, &code),
              0);
    EXPECT_EQ(ErrorText(), kFormatText);
    EXPECT_EQ(nameLength, 5);
    Truncate(0);
    EXPECT_EQ(FPGetArticleInfo(&nameLength, &name, &price, &taxGroup, &qty, &flags, &sum, &qty,
                               &flags, &sum, &code),
              0);
    EXPECT_EQ(ErrorText(), kNoDataText);
    EXPECT_EQ(FPGetArticleInfo(&nameLength, &name, &price, &taxGroup, &qty, &flags, &sum, &qty,
                               &flags, &sum, nullptr),
              0);
}

TEST_F(InfoQueryTest, DayReportFieldsAndShape) {
    Poke(0x10, 0x301B, {0x34, 0x12});
    Poke(0x10, 0x3077, {0x07, 0x00});
    Poke(0x10, 0x3022, {5, 0, 0, 0, 0});
    Poke(0x10, 0x3092, {0, 1, 0, 0, 0});
    {
        auto lock = Emu().Lock();
        auto &ext = Emu().State().ext;
        ext.daySalesByForm[3] = 333;
        ext.dayReturnsByForm[9] = 999;
        ext.salesMarkups = 1;
        ext.salesDiscounts = 2;
        ext.cashIn = 3;
        ext.returnsMarkups = 4;
        ext.returnsDiscounts = 5;
        ext.cashOut = 0x0500000000ULL;
    }
    int16_t salesCount = 0, returnsCount = 0;
    int64_t sg[6] = {}, sf[10] = {}, rg[6] = {}, rf[11] = {};
    rf[10] = -7;
    int64_t sm = 0, sd = 0, rm = 0, rd = 0, in = 0, out = 0;
    ASSERT_EQ(FPGetDayReport(&salesCount, &returnsCount, sg, 5, sf, 9, rg, 5, rf, 9, &sm, &sd, &rm,
                             &rd, &in, &out),
              -1)
        << ErrorText();
    EXPECT_EQ(LastRequest(), Bytes{0x2A});
    EXPECT_EQ(salesCount, 1234);
    EXPECT_EQ(returnsCount, 7);
    EXPECT_EQ(sg[1], 5);
    EXPECT_EQ(sf[3], 333);
    EXPECT_EQ(rg[5], 256);
    EXPECT_EQ(rf[9], 999);
    EXPECT_EQ(rf[10], -7);
    EXPECT_EQ(sm, 1);
    EXPECT_EQ(sd, 2);
    EXPECT_EQ(in, 3);
    EXPECT_EQ(rm, 4);
    EXPECT_EQ(rd, 5);
    EXPECT_EQ(out, 0x0500000000LL);

    Truncate(193);
    salesCount = -1;
    EXPECT_EQ(FPGetDayReport(&salesCount, &returnsCount, sg, 5, sf, 9, rg, 5, rf, 9, &sm, &sd, &rm,
                             &rd, &in, &out),
              0);
    EXPECT_EQ(ErrorText(), kFormatText);
    EXPECT_EQ(salesCount, -1);
}

TEST_F(InfoQueryTest, CheckSumsCopyTheBreakdown) {
    {
        auto lock = Emu().Lock();
        auto &ext = Emu().State().ext;
        ext.receiptByGroup[0] = 100;
        ext.receiptByGroup[5] = 600;
        ext.receiptByForm[3] = 0x01020304;
        ext.receiptByForm[9] = 9;
    }
    int32_t groups[6] = {}, forms[10] = {};
    ASSERT_EQ(FPGetCheckSums(groups, 5, forms, 9), -1);
    EXPECT_EQ(LastRequest(), Bytes{0x2B});
    EXPECT_EQ(groups[0], 100);
    EXPECT_EQ(groups[5], 600);
    EXPECT_EQ(forms[3], 0x01020304);
    EXPECT_EQ(forms[9], 9);
    int32_t small[2] = {-1, -1};
    ASSERT_EQ(FPGetCheckSums(small, 0, forms, 9), -1);
    EXPECT_EQ(small[0], 100);
    EXPECT_EQ(small[1], -1);

    Truncate(63);
    EXPECT_EQ(FPGetCheckSums(groups, 5, forms, 9), 0);
    EXPECT_EQ(ErrorText(), kFormatText);
    Truncate(0);
    EXPECT_EQ(FPGetCheckSums(groups, 5, forms, 9), 0);
    EXPECT_EQ(ErrorText(), kNoDataText);
}

} // namespace
