// Status, clock and device control end to end: the status reply's layout and
// flags, the clock round trips, the ranges of the mode settings, and replies
// that are too short.
#include "support_link.h"

#include "codepage.h"
#include "errors.h"
#include "values.h"

#include <array>
#include <cmath>
#include <string>

using krv::emu::Fault;
using krv::emu::FaultSpec;
using krv::emu::Reply;
using krv::test::EmulatorTest;
using Bytes = std::vector<uint8_t>;

namespace {

using krv::test::Cp;
using krv::test::Oem;

double Date(int y, int m, int d) {
    return krv::drv::EncodeDate({y, m, d}).value();
}
double Time(int h, int m, int s) {
    return krv::drv::EncodeTime({h, m, s}).value();
}

struct Line {
    uint8_t lengthByte;
    std::string text; // UTF-8
};

// A status reply laid out field by field, independently of both sides.
Bytes StatusData(uint8_t a, uint8_t b, const std::array<Line, 4> &lines,
                 const std::string &firmware = "МВ-21") {
    Bytes out{a, b};
    const Bytes serial = Oem("КР12345678 01.02.03");
    out.insert(out.end(), serial.begin(), serial.end());
    out.insert(out.end(), {0x05, 0x03, 0x04, 0x13, 0x45});
    const Bytes fiscal = Oem("1234567890");
    out.insert(out.end(), fiscal.begin(), fiscal.end());
    for (const Line &line : lines) {
        out.push_back(line.lengthByte);
        const Bytes text = Oem(line.text);
        out.insert(out.end(), text.begin(), text.end());
    }
    const Bytes fw = Oem(firmware);
    out.insert(out.end(), fw.begin(), fw.end());
    return out;
}

struct StatusOut {
    std::array<int16_t, 13> flags;
    std::array<const char *, 7> texts;
    double date = -1, time = -1;
    StatusOut() {
        flags.fill(7);
        texts.fill("unchanged");
    }
    int Call() {
        auto &f = flags;
        auto &t = texts;
        return FPGetStatus(&f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7], &f[8], &f[9],
                           &f[10], &f[11], &f[12], &t[0], &t[1], &t[2], &t[3], &t[4], &t[5], &t[6],
                           &date, &time);
    }
    std::string Text(int i) const {
        return texts[i] ? krv::platform::Cp1251ToUtf8(texts[i]) : "<null>";
    }
};

class StatusTest : public EmulatorTest {
  protected:
    void Answer(Bytes data) {
        Emu().SetHandler(0x00, [data](krv::emu::PrinterEmulator &, std::span<const uint8_t>) {
            return Reply::Ok(data);
        });
    }
};

class StatusTestT200 : public StatusTest {
  protected:
    krv::emu::EmulatorOptions Options() override {
        krv::emu::EmulatorOptions options;
        options.designation = "МВ-22";
        return options;
    }
};

// ---- the status reply --------------------------------------------------------------

TEST_F(StatusTest, FlagsTextsAndRegistrationFromTheLayout) {
    Answer(StatusData(
        0x62, 0x50,
        {Line{0x05, "ТОВ А"}, Line{0x44, "Київ"}, Line{0x83, "вул"}, Line{0x0C, "123456789012"}}));
    StatusOut s;
    ASSERT_EQ(s.Call(), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), Bytes{0x00});
    const std::array<int16_t, 13> expected{-1, 0, 0, 0, -1, -1, 0, 0, 0, -1, 0, -1, 0};
    EXPECT_EQ(s.flags, expected);
    EXPECT_EQ(s.Text(0), "КР12345678 01.02.03");
    EXPECT_EQ(s.Text(1), "1234567890");
    EXPECT_EQ(s.Text(2), "ТОВ А");
    EXPECT_EQ(s.Text(3), "Київ"); // attribute bits 40 and 80 are not part of the length
    EXPECT_EQ(s.Text(4), "вул");
    EXPECT_EQ(s.Text(5), "123456789012");
    EXPECT_EQ(s.Text(6), "МВ-21");
    EXPECT_DOUBLE_EQ(s.date, Date(2004, 3, 5));
    EXPECT_DOUBLE_EQ(s.time, Time(13, 45, 0));
}

TEST_F(StatusTest, EveryFlagBitAndTheUnreportedOnes) {
    const std::array<Line, 4> none{Line{0, ""}, Line{0, ""}, Line{0, ""}, Line{0, ""}};
    Answer(StatusData(0xFE, 0x7B, none));
    StatusOut s;
    ASSERT_EQ(s.Call(), -1);
    for (int16_t flag : s.flags)
        EXPECT_EQ(flag, -1);
    // Bit 0 of A and bits 2 and 7 of B are not reported.
    Answer(StatusData(0x01, 0x84, none));
    ASSERT_EQ(s.Call(), -1);
    for (int16_t flag : s.flags)
        EXPECT_EQ(flag, 0);
}

// One bit at a time, so that two flags read from each other's bits cannot
// hide behind a reply with both set.
TEST_F(StatusTest, EachStatusBitAloneSetsOnlyItsOwnFlag) {
    const std::array<Line, 4> none{Line{0, ""}, Line{0, ""}, Line{0, ""}, Line{0, ""}};
    // The flag each bit of A and of B sets (-1: none).
    const int fromA[8] = {-1, 0, 1, 2, 3, 4, 5, 6};
    const int fromB[8] = {12, 7, -1, 8, 9, 10, 11, -1};
    for (int byte = 0; byte < 2; ++byte)
        for (int bit = 0; bit < 8; ++bit) {
            SCOPED_TRACE(std::string(byte ? "B" : "A") + " bit " + std::to_string(bit));
            const auto mask = static_cast<uint8_t>(1u << bit);
            Answer(StatusData(byte ? 0 : mask, byte ? mask : 0, none));
            StatusOut s;
            ASSERT_EQ(s.Call(), -1);
            std::array<int16_t, 13> expected{};
            if (const int flag = (byte ? fromB : fromA)[bit]; flag >= 0)
                expected[static_cast<size_t>(flag)] = -1;
            EXPECT_EQ(s.flags, expected);
        }
}

TEST_F(StatusTest, NotFiscalGivesTheDefaultRegistration) {
    Answer(StatusData(0x00, 0x40, {Line{0, ""}, Line{0, ""}, Line{0, ""}, Line{0, ""}}));
    StatusOut s;
    ASSERT_EQ(s.Call(), -1);
    EXPECT_DOUBLE_EQ(s.date, Date(2003, 1, 1));
    EXPECT_DOUBLE_EQ(s.time, 0.0);
}

TEST_F(StatusTest, ImpossibleRegistrationDateFallsBackToTheDefault) {
    Bytes data = StatusData(0x00, 0x10, {Line{0, ""}, Line{0, ""}, Line{0, ""}, Line{0, ""}});
    data[21] = 0x32; // day 32
    data[24] = 0x25; // hour 25
    Answer(data);
    StatusOut s;
    ASSERT_EQ(s.Call(), -1);
    EXPECT_DOUBLE_EQ(s.date, Date(2003, 1, 1));
    EXPECT_DOUBLE_EQ(s.time, 0.0);
}

TEST_F(StatusTest, EmptyHeaderLinesAreNullAndTheNextFieldFollowsTheLengthByte) {
    Answer(StatusData(0x00, 0x10,
                      {Line{0x00, ""}, Line{0x40, ""}, Line{0xC2, "АБ"}, Line{0x00, ""}}, "МВ-22"));
    StatusOut s;
    ASSERT_EQ(s.Call(), -1);
    EXPECT_EQ(s.texts[2], nullptr);
    EXPECT_EQ(s.texts[3], nullptr);
    EXPECT_EQ(s.Text(4), "АБ");
    EXPECT_EQ(s.texts[5], nullptr);
    EXPECT_EQ(s.Text(6), "МВ-22");
}

TEST_F(StatusTest, AZeroByteEndsADeviceText) {
    Bytes data = StatusData(0x00, 0x00, {Line{0x03, "abc"}, Line{0, ""}, Line{0, ""}, Line{0, ""}});
    data[38] = 0x00; // "abc" becomes "a", then the zero
    Answer(data);
    StatusOut s;
    ASSERT_EQ(s.Call(), -1);
    EXPECT_EQ(s.Text(2), "a");
}

TEST_F(StatusTest, ARefusalInTheHeaderIsNotDecoded) {
    Emu().SetHeaderOverride({0x01, 0x10, 0x00});
    StatusOut s;
    ASSERT_EQ(s.Call(), -1);
    uint8_t code = 9, status = 9, ext = 9;
    FPCodeError(&code, &status, &ext);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ErrorText(), "");
}

TEST_F(StatusTest, EveryShortReplyFailsAndWritesNothing) {
    const Bytes full = StatusData(
        0x62, 0x50,
        {Line{0x05, "ТОВ А"}, Line{0x02, "ab"}, Line{0x00, ""}, Line{0x0C, "123456789012"}});
    for (size_t keep = 0; keep < full.size(); ++keep) {
        Answer(full);
        Emu().QueueFault(FaultSpec{Fault::TruncatedData, 1, keep});
        StatusOut s;
        EXPECT_EQ(s.Call(), 0) << "kept " << keep;
        EXPECT_EQ(ErrorText(), "Ответная посылка не соответствует формату данных!")
            << "kept " << keep;
        EXPECT_EQ(s.flags[0], 7);
        EXPECT_STREQ(s.texts[0], "unchanged");
        EXPECT_EQ(s.date, -1);
    }
    Answer(full);
    StatusOut s;
    EXPECT_EQ(s.Call(), -1);
    Emu().QueueFault(Fault::ShortPayload);
    EXPECT_EQ(s.Call(), 0);
    EXPECT_EQ(ErrorText(), krv::drv::kTimeoutText);
}

TEST_F(StatusTest, TheEmulatedPrinterShowsItsStateAndDesignation) {
    {
        auto lock = Emu().Lock();
        auto &ext = Emu().State().ext;
        const Bytes line = Oem("МАГАЗИН");
        ext.headLines[0] = krv::emu::PrintedLine{static_cast<uint8_t>(0x40 | line.size()), line};
        ext.taxNumber = Oem("123456789012");
    }
    StatusOut s;
    ASSERT_EQ(s.Call(), -1) << ErrorText();
    EXPECT_EQ(s.Text(6), "МВ-21");
    EXPECT_EQ(s.Text(2), "МАГАЗИН");
    EXPECT_EQ(s.texts[3], nullptr);
    EXPECT_EQ(s.texts[4], nullptr);
    EXPECT_EQ(s.Text(5), "123456789012");
    EXPECT_EQ(s.flags[5], 0); // no receipt open
    const std::string name = Cp("Хліб");
    int64_t cost = 0, sum = 0;
    ASSERT_EQ(FPSale(&cost, &sum, 1, 0, 100, 0, 0, 0, name.c_str(), 1), -1);
    ASSERT_EQ(s.Call(), -1);
    EXPECT_EQ(s.flags[5], -1);
    EXPECT_EQ(s.flags[4], -1); // the shift opened
    EXPECT_EQ(s.flags[2], 0);  // a sales receipt
    ASSERT_EQ(FPResetOrder(), -1);
    ASSERT_EQ(FPPayMoney(&cost, &sum, 1, 0, 100, 0, 0, 0, name.c_str(), 1), -1);
    ASSERT_EQ(s.Call(), -1);
    EXPECT_EQ(s.flags[2], -1); // a return receipt
}

TEST_F(StatusTestT200, TheSecondModelAnswersWithItsDesignation) {
    StatusOut s;
    ASSERT_EQ(s.Call(), -1) << ErrorText();
    EXPECT_EQ(s.Text(6), "МВ-22");
}

// ---- clock ---------------------------------------------------------------------------

class ClockTest : public EmulatorTest {
  protected:
    void SetUp() override {
        EmulatorTest::SetUp();
        auto lock = Emu().Lock();
        Emu().State().clockRuns = false; // read back exactly what was set
    }
};

TEST_F(ClockTest, DateRoundTrip) {
    ASSERT_EQ(FPSetDate(Date(2026, 12, 31) + 0.75), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x02, 0x31, 0x12, 0x26}));
    double date = 0;
    ASSERT_EQ(FPGetDate(&date), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), Bytes{0x01});
    EXPECT_DOUBLE_EQ(date, Date(2026, 12, 31));
    ASSERT_EQ(FPSetDate(Date(2003, 2, 1)), -1);
    ASSERT_EQ(FPGetDate(&date), -1);
    EXPECT_DOUBLE_EQ(date, Date(2003, 2, 1));
}

TEST_F(ClockTest, TimeRoundTrip) {
    ASSERT_EQ(FPSetTime(Date(2020, 1, 1) + Time(13, 45, 7)), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x04, 0x13, 0x45, 0x07}));
    double time = -1;
    ASSERT_EQ(FPGetTime(&time), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), Bytes{0x03});
    EXPECT_NEAR(time, Time(13, 45, 7), 1e-9);
    ASSERT_EQ(FPSetTime(Time(0, 0, 0)), -1);
    ASSERT_EQ(FPGetTime(&time), -1);
    EXPECT_NEAR(time, 0.0, 1e-9);
}

TEST_F(ClockTest, UnusableDateTimesAreRefusedBeforeSending) {
    const size_t before = RequestCount();
    EXPECT_EQ(FPSetDate(std::nan("")), 0);
    EXPECT_EQ(ErrorText(), "Ошибка формата даты!");
    EXPECT_EQ(FPSetDate(1e12), 0);
    // The last millisecond of 9999-12-31 rounds into the year 10000: no date
    // to send, rather than a request of 00 00 00.
    const double pastTheLastDay = Date(9999, 12, 31) + 0.999999999;
    EXPECT_EQ(FPSetDate(pastTheLastDay), 0);
    EXPECT_EQ(ErrorText(), "Ошибка формата даты!");
    EXPECT_EQ(FPSetTime(std::nan("")), 0);
    EXPECT_EQ(ErrorText(), "Ошибка в формате времени!");
    EXPECT_EQ(FPSetTime(pastTheLastDay), 0);
    EXPECT_EQ(ErrorText(), "Ошибка в формате времени!");
    EXPECT_EQ(RequestCount(), before);
}

TEST_F(ClockTest, PrinterRefusesADateBeforeTheLastZReport) {
    ASSERT_EQ(FPSetDate(Date(2026, 5, 10)), -1);
    ASSERT_EQ(FPDayClrReport(0), -1) << ErrorText();
    EXPECT_EQ(FPSetDate(Date(2026, 5, 9)), 0);
    EXPECT_EQ(ErrorText(), "\r\nУстанавливаемая дата предшествует дате последнего Z-отчета");
}

TEST_F(ClockTest, BadClockRepliesFailWithTheFormatText) {
    double value = -5;
    Emu().SetHandler(0x01, [](krv::emu::PrinterEmulator &, std::span<const uint8_t>) {
        return Reply::Ok({0x31, 0x02, 0x26});
    });
    EXPECT_EQ(FPGetDate(&value), 0);
    EXPECT_EQ(ErrorText(), "Ответная посылка не соответствует формату данных!");
    Emu().QueueFault(FaultSpec{Fault::TruncatedData, 1, 2});
    EXPECT_EQ(FPGetTime(&value), 0);
    EXPECT_EQ(ErrorText(), "Ответная посылка не соответствует формату данных!");
    EXPECT_EQ(value, -5);
}

// ---- peripherals and modes ---------------------------------------------------------

class ControlTest : public EmulatorTest {};

TEST_F(ControlTest, CustomerDisplayLines) {
    const std::string twenty(20, 'x');
    ASSERT_EQ(FPSendCustomer(0, twenty.c_str()), -1) << ErrorText();
    Bytes expected(twenty.begin(), twenty.end());
    expected.insert(expected.begin(), {0x1B, 0x00, 20});
    EXPECT_EQ(LastRequest(), expected);
    const std::string ua = Cp("Дякуємо");
    ASSERT_EQ(FPSendCustomer(-1, ua.c_str()), -1);
    const Bytes text = Oem("Дякуємо");
    Bytes second = text;
    second.insert(second.begin(), {0x1B, 0x01, 7});
    EXPECT_EQ(LastRequest(), second);
    const size_t before = RequestCount();
    EXPECT_EQ(FPSendCustomer(0, std::string(21, 'x').c_str()), 0);
    EXPECT_EQ(ErrorText(), "Длина строк больше допустимой!");
    EXPECT_EQ(RequestCount(), before);
    ASSERT_EQ(FPSendCustomer(0, nullptr), -1);
    auto lock = Emu().Lock();
    EXPECT_TRUE(Emu().State().customerDisplay[0].empty());
    EXPECT_EQ(Emu().State().customerDisplay[1], text);
}

TEST_F(ControlTest, BaudCodeRange) {
    const size_t before = RequestCount();
    EXPECT_EQ(FPChangeBaudRate(3), 0);
    EXPECT_EQ(ErrorText(), "Неверно задан параметр скорости связи!");
    EXPECT_EQ(FPChangeBaudRate(-1), 0);
    EXPECT_EQ(RequestCount(), before);
    ASSERT_EQ(FPChangeBaudRate(258), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x26, 0x02}));
    auto lock = Emu().Lock();
    EXPECT_EQ(Emu().State().baudCode, 2);
}

TEST_F(ControlTest, LineSpacingAndContrastRanges) {
    const size_t before = RequestCount();
    EXPECT_EQ(FPLineSP(64), 0);
    EXPECT_EQ(ErrorText(), "Неверно задан параметр межстрочного расстояния!");
    EXPECT_EQ(FPSetContrast(49), 0);
    EXPECT_EQ(ErrorText(), "Диапазон котрастности печати должен быть задан в пределах 50 - 200%!");
    EXPECT_EQ(FPSetContrast(201), 0);
    EXPECT_EQ(FPSetContrast(256 + 10), 0); // only the low byte counts
    EXPECT_EQ(RequestCount(), before);

    ASSERT_EQ(FPLineSP(0), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x27, 0}));
    ASSERT_EQ(FPLineSP(63), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x27, 63}));
    ASSERT_EQ(FPSetContrast(50), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x27, 50}));
    ASSERT_EQ(FPSetContrast(200), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x27, 200}));
    ASSERT_EQ(FPSetContrast(512 + 120), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x27, 120}));
    auto lock = Emu().Lock();
    EXPECT_EQ(Emu().State().contrast, 120);
}

TEST_F(ControlTest, PaperStateBitsAndItsLengthCheck) {
    {
        auto lock = Emu().Lock();
        Emu().State().paperState = 0x0D; // bits 0, 2, 3
    }
    std::array<int16_t, 5> f{7, 7, 7, 7, 7};
    ASSERT_EQ(FPGetPaperState(&f[0], &f[1], &f[2], &f[3], &f[4]), -1);
    EXPECT_EQ(LastRequest(), Bytes{0x30});
    EXPECT_EQ(f, (std::array<int16_t, 5>{-1, -1, -1, 0, 0}));
    {
        auto lock = Emu().Lock();
        Emu().State().paperState = 0x60; // bits 5 and 6
    }
    ASSERT_EQ(FPGetPaperState(&f[0], &f[1], &f[2], &f[3], &f[4]), -1);
    EXPECT_EQ(f, (std::array<int16_t, 5>{0, 0, 0, -1, -1}));

    Emu().SetHandler(0x30, [](krv::emu::PrinterEmulator &, std::span<const uint8_t>) {
        return Reply::Ok({0x01, 0x00});
    });
    f.fill(7);
    EXPECT_EQ(FPGetPaperState(&f[0], &f[1], &f[2], &f[3], &f[4]), 0);
    EXPECT_EQ(ErrorText(), "Ответная посылка не соответствует формату данных!");
    EXPECT_EQ(f[0], 7);
    Emu().QueueFault(Fault::AckEnq);
    EXPECT_EQ(FPGetPaperState(&f[0], &f[1], &f[2], &f[3], &f[4]), 0);
    EXPECT_EQ(ErrorText(), "Ответная посылка не соответствует формату данных!");
}

TEST_F(ControlTest, EachPaperBitAloneSetsOnlyItsOwnFlag) {
    // Bit 0, control tape low (2), receipt tape low (3), bits 5 and 6.
    const int flagOfBit[8] = {0, -1, 1, 2, -1, 3, 4, -1};
    for (int bit = 0; bit < 8; ++bit) {
        SCOPED_TRACE(bit);
        {
            auto lock = Emu().Lock();
            Emu().State().paperState = static_cast<uint8_t>(1u << bit);
        }
        std::array<int16_t, 5> f{7, 7, 7, 7, 7};
        ASSERT_EQ(FPGetPaperState(&f[0], &f[1], &f[2], &f[3], &f[4]), -1);
        std::array<int16_t, 5> expected{};
        if (flagOfBit[bit] >= 0)
            expected[static_cast<size_t>(flagOfBit[bit])] = -1;
        EXPECT_EQ(f, expected);
    }
}

TEST_F(ControlTest, CutterToggleAndStatus) {
    int16_t enabled = 7;
    ASSERT_EQ(FPCutterStatus(&enabled), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x1C, 0x1A, 0x30, 0x10, 0x01}));
    EXPECT_EQ(enabled, -1);
    ASSERT_EQ(FPCplCutter(), -1);
    EXPECT_EQ(LastRequest(), Bytes{0x2E});
    ASSERT_EQ(FPCutterStatus(&enabled), -1);
    EXPECT_EQ(enabled, 0);
    Emu().QueueFault(Fault::BadChecksum);
    enabled = 7;
    EXPECT_EQ(FPCutterStatus(&enabled), 0);
    EXPECT_EQ(enabled, 0);
    EXPECT_EQ(ErrorText(), krv::drv::kTimeoutText);
}

TEST_F(ControlTest, TogglesDrawerCopiesAndVersion) {
    StatusOut s;
    ASSERT_EQ(s.Call(), -1);
    EXPECT_EQ(s.flags[1], -1); // drawer closed
    EXPECT_EQ(s.flags[6], 0);  // sums shown on the display
    EXPECT_EQ(s.flags[11], 0); // off-line
    ASSERT_EQ(FPOpenBox(), -1);
    EXPECT_EQ(LastRequest(), Bytes{0x1D});
    ASSERT_EQ(FPCplInd(), -1);
    EXPECT_EQ(LastRequest(), Bytes{0x25});
    ASSERT_EQ(FPCplOnline(), -1);
    EXPECT_EQ(LastRequest(), Bytes{0x24});
    ASSERT_EQ(s.Call(), -1);
    EXPECT_EQ(s.flags[1], 0);
    EXPECT_EQ(s.flags[6], -1);
    EXPECT_EQ(s.flags[11], -1);

    ASSERT_EQ(FPPrintVersion(), -1);
    EXPECT_EQ(LastRequest(), Bytes{0x20});
    EXPECT_EQ(FPCopyLastCheck(), 0);
    EXPECT_EQ(LastRequest(), Bytes{0x1E});
    EXPECT_EQ(ErrorText(), "\r\nКоманда запрещена, не было чеков");
    ASSERT_EQ(FPNullCheck(), -1) << ErrorText();
    EXPECT_EQ(FPCopyLastCheck(), -1) << ErrorText();
}

TEST_F(ControlTest, MoneyInTheDrawer) {
    int64_t sum = -1;
    ASSERT_EQ(FPGetMoneyInBox(&sum), -1);
    EXPECT_EQ(LastRequest(), Bytes{0x21});
    EXPECT_EQ(sum, 0);
    {
        auto lock = Emu().Lock();
        Emu().State().cashInDrawer = 4294967296 + 5;
    }
    ASSERT_EQ(FPGetMoneyInBox(&sum), -1);
    EXPECT_EQ(sum, 4294967301);
    Emu().QueueFault(FaultSpec{Fault::TruncatedData, 1, 4});
    sum = -1;
    EXPECT_EQ(FPGetMoneyInBox(&sum), 0);
    EXPECT_EQ(ErrorText(), "Ответная посылка не соответствует формату данных!");
    EXPECT_EQ(sum, -1);
}

} // namespace
