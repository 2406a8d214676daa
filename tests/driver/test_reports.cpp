// Printed reports end to end: password and range checks, payloads, and the
// emulated printer's Z report.
#include "support_link.h"

#include "codepage.h"
#include "errors.h"
#include "values.h"

#include <cmath>
#include <string>

using krv::test::EmulatorTest;
using Bytes = std::vector<uint8_t>;

namespace {

double Date(int y, int m, int d) {
    return krv::drv::EncodeDate({y, m, d}).value();
}

class ReportTest : public EmulatorTest {
  protected:
    static constexpr uint16_t kPassword = 0x1234;
    void SetUp() override {
        EmulatorTest::SetUp();
        auto lock = Emu().Lock();
        Emu().State().ext.SetPassword(9, kPassword);
    }
    uint8_t LastCode() {
        uint8_t code = 0, status = 0, ext = 0;
        FPCodeError(&code, &status, &ext);
        return code;
    }
    bool SaleAndPay(int32_t price) {
        int64_t cost = 0, sum = 0;
        int32_t amount = 0;
        int16_t change = 0;
        return FPSale(&cost, &sum, 1, 0, price, 0, 0, 0, "x", 1) == -1 &&
               FPPayment(&amount, &change, 3, 0, -1, -1) == -1;
    }
};

TEST_F(ReportTest, PasswordFFFFIsRefusedWithoutAnExchange) {
    const double from = Date(2004, 3, 5), to = Date(2004, 12, 1);
    EXPECT_EQ(FPDayReport(0xFFFF), 0);
    EXPECT_EQ(ErrorText(), "Неверный пароль!");
    EXPECT_EQ(FPDayClrReport(0xFFFF), 0);
    EXPECT_EQ(ErrorText(), "Неверный пароль!");
    EXPECT_EQ(FPPeriodicReport(0xFFFF, from, to), 0);
    EXPECT_EQ(ErrorText(), "Неверный пароль!");
    EXPECT_EQ(FPPeriodicReportShort(0xFFFF, from, to), 0);
    EXPECT_EQ(ErrorText(), "Неверный пароль!");
    EXPECT_EQ(FPPeriodicNumberReport(0xFFFF, 10, 9), 0); // the password goes first
    EXPECT_EQ(ErrorText(), "Неверный пароль!");
    EXPECT_EQ(FPXArtReport(0xFFFF, 0, 0), 0);
    EXPECT_EQ(ErrorText(), "Неверный пароль отчетов!");
    EXPECT_EQ(RequestCount(), 0u);
}

TEST_F(ReportTest, XAndZReportPayloadsAndTheWrongPassword) {
    ASSERT_EQ(FPDayReport(kPassword), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x09, 0x34, 0x12}));
    EXPECT_EQ(FPDayReport(0x0001), 0);
    EXPECT_EQ(ErrorText(), "\r\nНеверный пароль");
    EXPECT_EQ(LastCode(), 0x15);
    ASSERT_EQ(FPDayClrReport(kPassword), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x0D, 0x34, 0x12}));
}

TEST_F(ReportTest, ArticleReportForms) {
    ASSERT_EQ(FPXArtReport(kPassword, 0, 0), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x0A, 0x34, 0x12}));
    ASSERT_EQ(FPXArtReport(kPassword, 500, 20), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x0A, 0x34, 0x12, 20, 0, 0, 0, 0, 0, 0xF4, 0x01, 0, 0, 0, 0}));
    ASSERT_EQ(FPXArtReport(kPassword, 0, 7), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x0A, 0x34, 0x12, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 0}));
    ASSERT_EQ(FPXArtReport(kPassword, 9, 9), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x0A, 0x34, 0x12, 9, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0}));
    // Ordered as signed numbers: the negative code goes first, as its low 48 bits.
    EXPECT_EQ(FPXArtReport(kPassword, 1, -1), 0);
    EXPECT_EQ(LastRequest(),
              (Bytes{0x0A, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 0, 0}));
}

TEST_F(ReportTest, PeriodicReportsByDate) {
    ASSERT_EQ(FPPeriodicReport(kPassword, Date(2004, 3, 5) + 0.5, Date(2004, 12, 1)), -1)
        << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x11, 0x34, 0x12, 0x05, 0x03, 0x04, 0x01, 0x12, 0x04}));
    ASSERT_EQ(FPPeriodicReportShort(kPassword, Date(2004, 3, 5), Date(2004, 12, 1)), -1)
        << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x1A, 0x34, 0x12, 0x05, 0x03, 0x04, 0x01, 0x12, 0x04}));
    // The order of the dates is the printer's to judge.
    EXPECT_EQ(FPPeriodicReport(kPassword, Date(2005, 1, 2), Date(2004, 1, 1)), 0);
    EXPECT_EQ(LastRequest(), (Bytes{0x11, 0x34, 0x12, 0x02, 0x01, 0x05, 0x01, 0x01, 0x04}));
    EXPECT_EQ(LastCode(), 0x1E);

    const size_t before = RequestCount();
    EXPECT_EQ(FPPeriodicReport(kPassword, std::nan(""), Date(2004, 1, 1)), 0);
    EXPECT_EQ(ErrorText(), "Ошибка формата даты!");
    EXPECT_EQ(FPPeriodicReportShort(kPassword, Date(2004, 1, 1), HUGE_VAL), 0);
    EXPECT_EQ(FPPeriodicReport(kPassword, Date(2004, 1, 1), Date(9999, 12, 31) + 0.999999999), 0);
    EXPECT_EQ(ErrorText(), "Ошибка формата даты!");
    EXPECT_EQ(RequestCount(), before);
}

TEST_F(ReportTest, PeriodicReportByNumbers) {
    const size_t before = RequestCount();
    EXPECT_EQ(FPPeriodicNumberReport(kPassword, 10, 9), 0);
    EXPECT_EQ(ErrorText(), "Начальный номер отчета больше конечного!");
    EXPECT_EQ(RequestCount(), before);

    // No Z report yet: the printer knows no number 9.
    EXPECT_EQ(FPPeriodicNumberReport(kPassword, 9, 9), 0);
    EXPECT_EQ(LastRequest(), (Bytes{0x1F, 0x34, 0x12, 0x09, 0x00, 0x09, 0x00}));
    EXPECT_EQ(LastCode(), 0x16);
    ASSERT_EQ(FPDayClrReport(kPassword), -1);
    ASSERT_EQ(FPDayClrReport(kPassword), -1);
    ASSERT_EQ(FPPeriodicNumberReport(kPassword, 1, 2), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x1F, 0x34, 0x12, 0x01, 0x00, 0x02, 0x00}));
    ASSERT_EQ(FPPeriodicNumberReport(kPassword, 0x0102, 0x0102), 0);
    EXPECT_EQ(LastRequest(), (Bytes{0x1F, 0x34, 0x12, 0x02, 0x01, 0x02, 0x01}));
}

TEST_F(ReportTest, ZReportClosesTheDayAndTheShiftWarning) {
    ASSERT_TRUE(SaleAndPay(2500));
    {
        auto lock = Emu().Lock();
        Emu().State().SetShiftOver24h(true);
    }
    // Only the shift bit: the report counts as done, its text stays.
    ASSERT_EQ(FPDayReport(kPassword), -1);
    EXPECT_NE(ErrorText().find("Превышение продолжительности смены"), std::string::npos);
    ASSERT_EQ(FPDayClrReport(kPassword), -1);
    auto lock = Emu().Lock();
    auto &st = Emu().State();
    EXPECT_EQ(st.StatusByte() & 0x20, 0);
    EXPECT_FALSE(st.shiftOpen);
    EXPECT_EQ(st.ext.ReadLe(0x10, 0x301D, 5), 0u); // day sales of group А cleared
    EXPECT_EQ(st.ext.ReadLe(0x10, 0x0037, 2), 2u); // Z counter moved on
    EXPECT_EQ(st.cashInDrawer, 2500);              // the cash stays in the drawer
    ASSERT_EQ(st.zReports.size(), 1u);
}

TEST_F(ReportTest, ReportsAreRefusedWhileAReceiptIsOpen) {
    int64_t cost = 0, sum = 0;
    ASSERT_EQ(FPSale(&cost, &sum, 1, 0, 100, 0, 0, 0, "x", 1), -1);
    EXPECT_EQ(FPDayClrReport(kPassword), 0);
    EXPECT_EQ(ErrorText(), "\r\nКоманда запрещена, чек открыт");
    EXPECT_EQ(FPDayReport(kPassword), 0);
    EXPECT_EQ(LastCode(), 0x2C);
}

TEST_F(ReportTest, NoReplyGivesTheTimeoutText) {
    Emu().QueueFault(krv::emu::Fault::BadChecksum);
    EXPECT_EQ(FPDayReport(kPassword), 0);
    EXPECT_EQ(ErrorText(), krv::drv::kTimeoutText);
}

} // namespace
