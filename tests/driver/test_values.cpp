#include "values.h"

#include "codepage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <limits>
#include <locale.h>
#include <string>

#if defined(__SANITIZE_ADDRESS__) && __has_include(<sanitizer/lsan_interface.h>)
#include <sanitizer/lsan_interface.h>
#define KRV_LSAN_DISABLE() __lsan_disable()
#define KRV_LSAN_ENABLE() __lsan_enable()
#else
#define KRV_LSAN_DISABLE() ((void)0)
#define KRV_LSAN_ENABLE() ((void)0)
#endif

using namespace krv::drv;

namespace {

Bytes Wire(std::initializer_list<int> bytes) {
    Bytes out;
    for (int b : bytes)
        out.push_back(static_cast<uint8_t>(b));
    return out;
}

std::string Chars(std::initializer_list<int> bytes) {
    std::string out;
    for (int b : bytes)
        out += static_cast<char>(b);
    return out;
}

// Makes a named locale the calling thread's locale for one scope. An
// installed locale is used when there is one; otherwise the locale is
// compiled into a private temporary folder (nothing system-wide). Tests skip
// when neither works.
class ThreadLocale {
  public:
    explicit ThreadLocale(const std::string &name) {
        for (const char *suffix : {".UTF-8", ".utf8"}) {
            m_locale = newlocale(LC_ALL_MASK, (name + suffix).c_str(), nullptr);
            if (m_locale)
                break;
        }
        if (!m_locale)
            m_locale = CompilePrivately(name);
        if (m_locale)
            m_previous = uselocale(m_locale);
    }
    ~ThreadLocale() {
        if (m_locale) {
            uselocale(m_previous);
            freelocale(m_locale);
        }
        if (!m_dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_dir, ec);
        }
    }
    ThreadLocale(const ThreadLocale &) = delete;
    ThreadLocale &operator=(const ThreadLocale &) = delete;
    bool Ok() const { return m_locale != nullptr; }

  private:
    locale_t CompilePrivately(const std::string &name) {
        std::string dir = (std::filesystem::temp_directory_path() / "krv-locale-XXXXXX").string();
        if (!mkdtemp(dir.data()))
            return nullptr;
        m_dir = dir;
        const std::string full = name + ".UTF-8";
        const std::string command =
            "localedef -i " + name + " -f UTF-8 '" + dir + "/" + full + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            return nullptr;
        const char *old = std::getenv("LOCPATH");
        const std::string saved = old ? old : "";
        ::setenv("LOCPATH", dir.c_str(), 1);
        // glibc keeps the path list of a locale loaded through LOCPATH for
        // the life of the process; that is not ours to free.
        KRV_LSAN_DISABLE();
        locale_t made = newlocale(LC_ALL_MASK, full.c_str(), nullptr);
        KRV_LSAN_ENABLE();
        if (old)
            ::setenv("LOCPATH", saved.c_str(), 1);
        else
            ::unsetenv("LOCPATH");
        return made;
    }

    locale_t m_locale = nullptr;
    locale_t m_previous = nullptr;
    std::string m_dir;
};

#define USE_LOCALE(var, name)                                                                      \
    ThreadLocale var{name};                                                                        \
    if (!var.Ok())                                                                                 \
    GTEST_SKIP() << "locale " << name << " is not available"

double Date(int y, int m, int d) {
    return EncodeDate({y, m, d}).value();
}
double Time(int h, int m, int s) {
    return EncodeTime({h, m, s}).value();
}

int CurrentYear() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

} // namespace

// ---- Texts -----------------------------------------------------------------

TEST(DeviceText, FiveLettersAreSubstitutedBeforeTheOemConversion) {
    // № 5  І  і  Ґ  ґ
    EXPECT_EQ(EncodeDeviceText(Chars({0xB9, '5', 0xB2, 0xB3, 0xA5, 0xB4})),
              Chars({'N', '5', 'I', 'i', 0xF6, 0xF7}));
    // Є є Ї ї keep their own OEM bytes; "Тест".
    EXPECT_EQ(EncodeDeviceText(krv::platform::Utf8ToCp1251("ЄєЇї Тест")),
              Chars({0xF2, 0xF3, 0xF4, 0xF5, ' ', 0x92, 0xA5, 0xE1, 0xE2}));
    EXPECT_EQ(EncodeDeviceText(""), "");
}

TEST(DeviceText, LengthIsKeptForAnyLength) {
    const std::string text(1000, static_cast<char>(0xB9));
    EXPECT_EQ(EncodeDeviceText(text), std::string(1000, 'N'));
    const std::string anyBytes = Chars({0x00, 0x10, 0x98, 0xFF});
    EXPECT_EQ(EncodeDeviceText(anyBytes).size(), anyBytes.size());
}

TEST(DeviceText, DecodingConvertsBackWithoutUndoingSubstitutions) {
    EXPECT_EQ(DecodeDeviceText(Wire({0x92, 0xA5, 0xE1, 0xE2, 0xF6})),
              Chars({0xD2, 0xE5, 0xF1, 0xF2, 0xA1})); // "Тест" and Ў
    EXPECT_EQ(DecodeDeviceText(Wire({'N', '5'})), "N5");
    EXPECT_EQ(DecodeDeviceText({}), "");
}

TEST(DeviceText, DecodingEndsAtAZeroByte) {
    EXPECT_EQ(DecodeDeviceText(Wire({'A', 'B', 0, 'C'})), "AB");
    EXPECT_EQ(DecodeDeviceText(Wire({0, 'C'})), "");
}

// ---- Integers and money ----------------------------------------------------

TEST(Integers, WrittenLowByteFirst) {
    Bytes out;
    PutU16(out, 0x1234);
    PutU24(out, 0xABCDEF);
    PutU32(out, 0x01020304);
    EXPECT_EQ(out, Wire({0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(ReadU16(out, 0), 0x1234u);
    EXPECT_EQ(ReadU24(out, 2), 0xABCDEFu);
    EXPECT_EQ(ReadU32(out, 5), 0x01020304u);
}

TEST(Integers, ReadersNeverReachPastTheSpan) {
    const Bytes four = Wire({1, 2, 3, 4});
    EXPECT_TRUE(ReadU32(four, 0).has_value());
    EXPECT_FALSE(ReadU32(four, 1).has_value());
    EXPECT_FALSE(ReadU16(four, 3).has_value());
    EXPECT_TRUE(ReadU16(four, 2).has_value());
    EXPECT_FALSE(ReadU16(four, 4).has_value());
    EXPECT_FALSE(ReadU24(four, 100).has_value());
    EXPECT_FALSE(ReadU32(four, std::numeric_limits<size_t>::max()).has_value());
    EXPECT_FALSE(ReadU16(four, std::numeric_limits<size_t>::max() - 1).has_value());
    EXPECT_FALSE(ReadSum40(four, 0).has_value());
    EXPECT_FALSE(ReadArticleCode(Wire({1, 2, 3, 4, 5}), 0).has_value());
    EXPECT_FALSE(ReadMoneySignMagnitude(Wire({1, 2, 3}), 0).has_value());
    EXPECT_FALSE(ReadU16({}, 0).has_value());
}

TEST(Money, SignMagnitudeAndPlainForms) {
    Bytes out;
    EXPECT_TRUE(PutMoneySignMagnitude(out, -150));
    EXPECT_EQ(out, Wire({0x96, 0x00, 0x00, 0x80}));
    out.clear();
    EXPECT_TRUE(PutMoneySignMagnitude(out, 150));
    EXPECT_EQ(out, Wire({0x96, 0x00, 0x00, 0x00}));
    out.clear();
    PutMoneyPlain(out, 150);
    EXPECT_EQ(out, Wire({0x96, 0x00, 0x00, 0x00}));
    out.clear();
    PutMoneyPlain(out, -1);
    EXPECT_EQ(out, Wire({0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(Money, SignMagnitudeReadBackAsSigned) {
    EXPECT_EQ(ReadMoneySignMagnitude(Wire({0x96, 0x00, 0x00, 0x80}), 0), -150);
    EXPECT_EQ(ReadMoneySignMagnitude(Wire({0xFF, 0xFF, 0xFF, 0x7F}), 0), 2147483647);
    EXPECT_EQ(ReadMoneySignMagnitude(Wire({0xFF, 0xFF, 0xFF, 0xFF}), 0), -2147483647);
    EXPECT_EQ(ReadMoneySignMagnitude(Wire({0x00, 0x00, 0x00, 0x80}), 0), 0);
    for (int32_t v : {0, 1, -1, 123456789, -123456789, 2147483647, -2147483647}) {
        Bytes out;
        ASSERT_TRUE(PutMoneySignMagnitude(out, v));
        EXPECT_EQ(ReadMoneySignMagnitude(out, 0), v);
    }
}

TEST(Money, SmallestIntegerHasNoSignMagnitudeForm) {
    Bytes out;
    EXPECT_FALSE(PutMoneySignMagnitude(out, std::numeric_limits<int32_t>::min()));
    EXPECT_EQ(out.size(), 4u);
}

TEST(Sum40, FiveBytesWidenedTo64Bits) {
    EXPECT_EQ(ReadSum40(Wire({0, 0, 0, 0, 1}), 0), 4294967296u);
    EXPECT_EQ(ReadSum40(Wire({0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), 0), 0xFFFFFFFFFFu);
    EXPECT_EQ(ReadSum40(Wire({9, 0x10, 0, 0, 0, 0, 0}), 1), 0x10u);
}

TEST(Quantity, DigitsThenFlags) {
    Bytes out;
    PutQuantity(out, 25, 0x01);
    EXPECT_EQ(out, Wire({0x19, 0x00, 0x00, 0x01}));
    out.clear();
    PutQuantity(out, 1500, 0x03 | kQtyUnitFlag);
    EXPECT_EQ(out, Wire({0xDC, 0x05, 0x00, 0x83}));
    out.clear();
    PutQuantity(out, 16777215, 0);
    EXPECT_EQ(out, Wire({0xFF, 0xFF, 0xFF, 0x00}));
}

TEST(ArticleCodes, SixBytesLowFirst) {
    Bytes out;
    PutArticleCode(out, 1);
    EXPECT_EQ(out, Wire({1, 0, 0, 0, 0, 0}));
    out.clear();
    PutArticleCode(out, (int64_t{1} << 48) + 0x0102);
    EXPECT_EQ(out, Wire({0x02, 0x01, 0, 0, 0, 0}));
    out.clear();
    PutArticleCode(out, 0x0000BBAA99887766);
    EXPECT_EQ(out, Wire({0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB}));
    EXPECT_EQ(ReadArticleCode(out, 0), 0x0000BBAA99887766);
    EXPECT_EQ(ReadArticleCode(Wire({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), 0),
              (int64_t{1} << 48) - 1);
}

TEST(TaxGroups, OnlyEightyToEightyFiveMeanAGroup) {
    EXPECT_EQ(TaxGroupByte(0), 0x80);
    EXPECT_EQ(TaxGroupByte(5), 0x85);
    EXPECT_EQ(ParseTaxGroup(0x80), 0);
    EXPECT_EQ(ParseTaxGroup(0x85), 5);
    EXPECT_FALSE(ParseTaxGroup(0x86).has_value());
    EXPECT_FALSE(ParseTaxGroup(0x7F).has_value());
    EXPECT_FALSE(ParseTaxGroup(0x00).has_value());
    EXPECT_FALSE(ParseTaxGroup(0xFF).has_value());
}

// ---- Day-based date-times ----------------------------------------------------

TEST(DateTimes, DaysCountFromTheEndOf1899) {
    EXPECT_EQ(Date(1899, 12, 30), 0.0);
    EXPECT_EQ(Date(1900, 1, 1), 2.0);
    EXPECT_EQ(Date(2026, 12, 31), 46387.0);
    EXPECT_EQ(Date(1, 1, 1), -693593.0);
    EXPECT_EQ(Date(9999, 12, 31), 2958465.0);
    EXPECT_EQ(DecodeDate(46387.75), (CivilDate{2026, 12, 31}));
    EXPECT_EQ(DecodeTime(46387.75), (CivilTime{18, 0, 0}));
    EXPECT_EQ(DecodeTime(Time(13, 45, 7)), (CivilTime{13, 45, 7}));
}

TEST(DateTimes, ImpossibleDatesAndTimesAreRefused) {
    EXPECT_TRUE(EncodeDate({2024, 2, 29}).has_value());
    EXPECT_FALSE(EncodeDate({2026, 2, 29}).has_value());
    EXPECT_FALSE(EncodeDate({2026, 4, 31}).has_value());
    EXPECT_FALSE(EncodeDate({2026, 13, 1}).has_value());
    EXPECT_FALSE(EncodeDate({2026, 0, 1}).has_value());
    EXPECT_FALSE(EncodeDate({0, 1, 1}).has_value());
    EXPECT_FALSE(EncodeDate({10000, 1, 1}).has_value());
    EXPECT_FALSE(EncodeTime({24, 0, 0}).has_value());
    EXPECT_FALSE(EncodeTime({0, 60, 0}).has_value());
    EXPECT_FALSE(EncodeTime({0, 0, -1}).has_value());
}

TEST(DateTimes, ValuesBefore1899CountDaysBackAndTimeForward) {
    EXPECT_EQ(DecodeDate(-1.25), (CivilDate{1899, 12, 29}));
    EXPECT_EQ(DecodeTime(-1.25), (CivilTime{6, 0, 0}));
    EXPECT_EQ(DecodeDate(-0.5), (CivilDate{1899, 12, 30}));
    EXPECT_EQ(DecodeTime(-0.5), (CivilTime{12, 0, 0}));
}

TEST(DateTimes, ValuesAreTakenToTheNearestMillisecond) {
    EXPECT_EQ(DecodeDate(0.99999999999), (CivilDate{1899, 12, 31}));
    EXPECT_EQ(DecodeTime(0.99999999999), (CivilTime{0, 0, 0}));
    EXPECT_EQ(DecodeTime(Time(23, 59, 59)), (CivilTime{23, 59, 59}));
}

TEST(DateTimes, ValuesOutsideTheCalendarDecodeToZeros) {
    for (double bad :
         {std::nan(""), std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity(), 1e300, -1e300, 2958466.0, -693594.0}) {
        EXPECT_FALSE(IsValidDateTime(bad)) << bad;
        EXPECT_EQ(DecodeDate(bad), CivilDate{}) << bad;
        EXPECT_EQ(DecodeTime(bad), CivilTime{}) << bad;
    }
    EXPECT_TRUE(IsValidDateTime(2958465.999));
    EXPECT_TRUE(IsValidDateTime(-693593.5));
}

// ---- BCD ------------------------------------------------------------------------

TEST(Bcd, DigitsInNibbles) {
    EXPECT_EQ(ToBcd(31), 0x31);
    EXPECT_EQ(ToBcd(7), 0x07);
    EXPECT_EQ(ToBcd(2026 % 100), 0x26);
    EXPECT_EQ(ToBcd(2026), 0x26);
    EXPECT_EQ(FromBcd(0x31), 31);
    EXPECT_EQ(FromBcd(0x09), 9);
    EXPECT_EQ(FromBcd(0x1A), 20); // read as the nibbles say, unchecked
}

TEST(Bcd, DateAndTimeOfARequest) {
    const double when = Date(2026, 12, 31) + Time(13, 45, 7);
    Bytes out;
    EXPECT_TRUE(PutBcdDate(out, when));
    EXPECT_TRUE(PutBcdTime(out, when));
    EXPECT_EQ(out, Wire({0x31, 0x12, 0x26, 0x13, 0x45, 0x07}));
    out.clear();
    EXPECT_TRUE(PutBcdDate(out, Date(2003, 2, 1)));
    EXPECT_EQ(out, Wire({0x01, 0x02, 0x03}));
}

TEST(Bcd, InvalidDateTimeStillWritesThreeBytes) {
    Bytes out{0xAA};
    EXPECT_FALSE(PutBcdDate(out, std::nan("")));
    EXPECT_FALSE(PutBcdTime(out, std::numeric_limits<double>::infinity()));
    EXPECT_EQ(out, Wire({0xAA, 0, 0, 0, 0, 0, 0}));
}

// ---- Dates and times of replies ------------------------------------------------

TEST(ReplyDates, TwoDigitYearsFallInTheWindowAroundNow) {
    EXPECT_EQ(WindowedReplyDate(1, 2, 3, 2026), Date(2003, 2, 1));
    EXPECT_EQ(WindowedReplyDate(31, 12, 26, 2026), Date(2026, 12, 31));
    EXPECT_EQ(WindowedReplyDate(1, 1, 0, 2026), Date(2000, 1, 1));
    EXPECT_EQ(WindowedReplyDate(1, 1, 75, 2026), Date(2075, 1, 1));
    EXPECT_EQ(WindowedReplyDate(1, 1, 76, 2026), Date(1976, 1, 1));
    EXPECT_EQ(WindowedReplyDate(1, 1, 99, 2026), Date(1999, 1, 1));
    EXPECT_EQ(WindowedReplyDate(1, 1, 79, 2030), Date(2079, 1, 1));
    EXPECT_EQ(WindowedReplyDate(1, 1, 80, 2030), Date(1980, 1, 1));
    EXPECT_EQ(WindowedReplyDate(1, 1, 50, 2100), Date(2050, 1, 1));
    EXPECT_EQ(WindowedReplyDate(1, 1, 49, 2100), Date(2149, 1, 1));
}

TEST(ReplyDates, ImpossibleDatesGiveNothing) {
    EXPECT_FALSE(WindowedReplyDate(31, 2, 26, 2026).has_value());
    EXPECT_FALSE(WindowedReplyDate(0, 1, 26, 2026).has_value());
    EXPECT_FALSE(WindowedReplyDate(1, 13, 26, 2026).has_value());
    EXPECT_FALSE(WindowedReplyDate(29, 2, 26, 2026).has_value());
    EXPECT_TRUE(WindowedReplyDate(29, 2, 24, 2026).has_value());
    EXPECT_FALSE(WindowedReplyDate(1, 1, 100, 2026).has_value());
    EXPECT_FALSE(LocaleDateText(0x00, 0x00, 0x00).has_value());
    EXPECT_FALSE(LocaleDateText(0x01, 0x01, 0xA0).has_value()); // year nibbles read 100
    EXPECT_FALSE(LocaleDateText(0xFF, 0xFF, 0xFF).has_value());
}

// The order of day, month and year in the locale's short date format decides
// how the date would be written out, never which date it is.
class ReplyDatesUnderLocales : public ::testing::TestWithParam<const char *> {};

TEST_P(ReplyDatesUnderLocales, SameDateWhateverTheOrder) {
    USE_LOCALE(locale, std::string(GetParam()));
    const int year = CurrentYear();
    ASSERT_TRUE(year >= 1954 && year <= 2052) << "the cases below assume a year near 2026";
    EXPECT_EQ(LocaleDateText(0x01, 0x02, 0x03), Date(2003, 2, 1));
    EXPECT_EQ(LocaleDateText(0x31, 0x12, 0x26), Date(2026, 12, 31));
    EXPECT_EQ(LocaleDateText(0x12, 0x31, 0x26), std::nullopt); // month 31
}

INSTANTIATE_TEST_SUITE_P(Locales, ReplyDatesUnderLocales, ::testing::Values("C", "ru_RU", "en_US"),
                         [](const auto &info) { return std::string(info.param); });

TEST(ReplyTimes, FractionOfADay) {
    EXPECT_EQ(ReplyTime(0x13, 0x45, 0x07), Time(13, 45, 7));
    EXPECT_EQ(ReplyTime(0x00, 0x00, 0x00), 0.0);
    EXPECT_EQ(ReplyTime(0x23, 0x59, 0x59), Time(23, 59, 59));
    EXPECT_FALSE(ReplyTime(0x24, 0x00, 0x00).has_value());
    EXPECT_FALSE(ReplyTime(0x12, 0x60, 0x00).has_value());
    EXPECT_FALSE(ReplyTime(0x12, 0x00, 0x6A).has_value());
}

// ---- The long time text --------------------------------------------------------

TEST(LongTimeText, TwentyFourHourTexts) {
    EXPECT_EQ(ReadLongTimeText("13:45:07", "AM", "PM"), (CivilTime{13, 45, 7}));
    EXPECT_EQ(ReadLongTimeText("9:05:00", "AM", "PM"), (CivilTime{9, 5, 0}));
    EXPECT_EQ(ReadLongTimeText("0:00:00", "", ""), (CivilTime{0, 0, 0}));
    EXPECT_EQ(ReadLongTimeText("14 h 05 min 09 s", "", ""), (CivilTime{14, 5, 9}));
    EXPECT_EQ(ReadLongTimeText("14:05", "", ""), (CivilTime{14, 5, 0})); // no seconds shown
}

TEST(LongTimeText, TwelveHourTexts) {
    EXPECT_EQ(ReadLongTimeText("12:05:00 AM", "AM", "PM"), (CivilTime{0, 5, 0}));
    EXPECT_EQ(ReadLongTimeText("1:02:03 PM", "AM", "PM"), (CivilTime{13, 2, 3}));
    EXPECT_EQ(ReadLongTimeText("12:00:00 PM", "AM", "PM"), (CivilTime{12, 0, 0}));
    EXPECT_EQ(ReadLongTimeText("11:59:59 PM", "AM", "PM"), (CivilTime{23, 59, 59}));
    EXPECT_EQ(ReadLongTimeText("PM 01:02:03", "AM", "PM"), (CivilTime{13, 2, 3}));
    EXPECT_EQ(ReadLongTimeText("07:08:09 AM", "AM", "PM"), (CivilTime{7, 8, 9}));
}

TEST(LongTimeText, UnreadableTextsGiveNothing) {
    EXPECT_FALSE(ReadLongTimeText("", "AM", "PM").has_value());
    EXPECT_FALSE(ReadLongTimeText("noon", "AM", "PM").has_value());
    EXPECT_FALSE(ReadLongTimeText("13", "AM", "PM").has_value());
    EXPECT_FALSE(ReadLongTimeText("123:00:00", "", "").has_value());
    EXPECT_FALSE(ReadLongTimeText("12:345:00", "", "").has_value());
    EXPECT_FALSE(ReadLongTimeText("25:00:00", "", "").has_value());
    EXPECT_FALSE(ReadLongTimeText("12:60:00", "", "").has_value());
    EXPECT_FALSE(ReadLongTimeText("13:00:00 PM", "AM", "PM").has_value());
    EXPECT_FALSE(ReadLongTimeText("0:00:00 AM", "AM", "PM").has_value());
}

TEST(LocaleTimeOfDay, TwentyFourHourLocale) {
    USE_LOCALE(locale, "C");
    EXPECT_EQ(LocaleTimeOfDay(Date(2026, 12, 31) + Time(13, 45, 7)), (CivilTime{13, 45, 7}));
    EXPECT_EQ(LocaleTimeOfDay(Time(0, 0, 5)), (CivilTime{0, 0, 5}));
    EXPECT_FALSE(LocaleTimeOfDay(std::nan("")).has_value());
}

TEST(LocaleTimeOfDay, RussianLocale) {
    USE_LOCALE(locale, "ru_RU");
    EXPECT_EQ(LocaleTimeOfDay(Date(2026, 12, 31) + Time(13, 45, 7)), (CivilTime{13, 45, 7}));
}

TEST(LocaleTimeOfDay, TwelveHourLocaleIsReadBackIn24HourForm) {
    USE_LOCALE(locale, "en_US");
    EXPECT_EQ(LocaleTimeOfDay(Date(2026, 12, 31) + Time(13, 45, 7)), (CivilTime{13, 45, 7}));
    EXPECT_EQ(LocaleTimeOfDay(Time(0, 0, 5)), (CivilTime{0, 0, 5}));
    EXPECT_EQ(LocaleTimeOfDay(Time(12, 30, 0)), (CivilTime{12, 30, 0}));
    EXPECT_EQ(LocaleTimeOfDay(Time(9, 1, 2)), (CivilTime{9, 1, 2}));
}

// ---- EAN-13 ---------------------------------------------------------------------

TEST(Ean13, CheckDigits) {
    EXPECT_EQ(Ean13CheckDigit("000000000000"), 0);
    EXPECT_EQ(Ean13CheckDigit("012345678901"), 2);
    EXPECT_EQ(Ean13CheckDigit("400638133393"), 1); // 4006381333931
    EXPECT_EQ(Ean13CheckDigit("590123412345"), 7); // 5901234123457
}

TEST(Ean13, OnlyTwelveDecimalDigitsAreTaken) {
    EXPECT_FALSE(Ean13CheckDigit("01234567890").has_value());
    EXPECT_FALSE(Ean13CheckDigit("0123456789012").has_value());
    EXPECT_FALSE(Ean13CheckDigit("01234567890a").has_value());
    EXPECT_FALSE(Ean13CheckDigit("01234567890 ").has_value());
    EXPECT_FALSE(Ean13CheckDigit("").has_value());
}
