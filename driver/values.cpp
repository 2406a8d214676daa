#include "values.h"

#include "codepage.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <langinfo.h>

namespace krv::drv {

// ---- Texts -----------------------------------------------------------------

std::string EncodeDeviceText(std::string_view cp1251) {
    // The printer's page has no І, і or Ґ, ґ, and its № is not where the
    // printer's font has it: these five go out as look-alikes.
    return platform::AnsiToPrinterText(cp1251);
}

std::string DecodeDeviceText(std::span<const uint8_t> device) {
    size_t length = 0;
    while (length < device.size() && device[length] != 0)
        ++length;
    return platform::OemToAnsi(
        std::string_view(reinterpret_cast<const char *>(device.data()), length));
}

// ---- Integers --------------------------------------------------------------

namespace {

void PutLittleEndian(Bytes &out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::optional<uint64_t> ReadLittleEndian(std::span<const uint8_t> in, size_t offset, size_t bytes) {
    if (offset > in.size() || in.size() - offset < bytes)
        return std::nullopt;
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i)
        value |= static_cast<uint64_t>(in[offset + i]) << (8 * i);
    return value;
}

// Fields of up to four bytes.
std::optional<uint32_t> ReadNarrow(std::span<const uint8_t> in, size_t offset, size_t bytes) {
    const auto value = ReadLittleEndian(in, offset, bytes);
    if (!value)
        return std::nullopt;
    return static_cast<uint32_t>(*value);
}

} // namespace

void PutU16(Bytes &out, uint16_t value) {
    PutLittleEndian(out, value, 2);
}
void PutU24(Bytes &out, uint32_t value) {
    PutLittleEndian(out, value, 3);
}
void PutU32(Bytes &out, uint32_t value) {
    PutLittleEndian(out, value, 4);
}

bool PutMoneySignMagnitude(Bytes &out, int32_t kopecks) {
    const int64_t wide = kopecks;
    const uint32_t magnitude = static_cast<uint32_t>(wide < 0 ? -wide : wide);
    const uint32_t sign = wide < 0 ? 0x80000000u : 0;
    PutU32(out, (magnitude & 0x7FFFFFFFu) | sign);
    return magnitude <= 0x7FFFFFFFu;
}

void PutMoneyPlain(Bytes &out, int32_t kopecks) {
    PutU32(out, static_cast<uint32_t>(kopecks));
}

std::optional<uint32_t> ReadU16(std::span<const uint8_t> in, size_t offset) {
    return ReadNarrow(in, offset, 2);
}

std::optional<uint32_t> ReadU24(std::span<const uint8_t> in, size_t offset) {
    return ReadNarrow(in, offset, 3);
}

std::optional<uint32_t> ReadU32(std::span<const uint8_t> in, size_t offset) {
    return ReadNarrow(in, offset, 4);
}

std::optional<int64_t> ReadMoneySignMagnitude(std::span<const uint8_t> in, size_t offset) {
    const auto v = ReadLittleEndian(in, offset, 4);
    if (!v)
        return std::nullopt;
    const int64_t magnitude = static_cast<int64_t>(*v & 0x7FFFFFFFu);
    return (*v & 0x80000000u) ? -magnitude : magnitude;
}

std::optional<uint64_t> ReadSum40(std::span<const uint8_t> in, size_t offset) {
    return ReadLittleEndian(in, offset, 5);
}

void PutQuantity(Bytes &out, int32_t quantity, uint8_t qtyFlags) {
    PutU24(out, static_cast<uint32_t>(quantity) & kMaxQuantity);
    out.push_back(qtyFlags);
}

void PutArticleCode(Bytes &out, int64_t code) {
    PutLittleEndian(out, static_cast<uint64_t>(code), 6);
}

std::optional<int64_t> ReadArticleCode(std::span<const uint8_t> in, size_t offset) {
    const auto v = ReadLittleEndian(in, offset, 6);
    return v ? std::optional<int64_t>(static_cast<int64_t>(*v)) : std::nullopt;
}

std::optional<int> ParseTaxGroup(uint8_t byte) {
    if (byte < 0x80 || byte >= 0x80 + kTaxGroups)
        return std::nullopt;
    return byte - 0x80;
}

// ---- Dates and times -------------------------------------------------------

namespace {

using namespace std::chrono;

constexpr int64_t kMsPerDay = 86'400'000;
constexpr sys_days kEpoch = sys_days{year{1899} / December / 30};
constexpr sys_days kFirstDay = sys_days{year{1} / January / 1};
constexpr sys_days kLastDay = sys_days{year{9999} / December / 31};

// A date-time split into whole days from the epoch and milliseconds into the
// day, rounded to the millisecond first (the way TDateTime values are read).
struct SplitDateTime {
    int64_t days = 0;
    int64_t msOfDay = 0;
};

std::optional<SplitDateTime> Split(double dateTime) {
    if (!std::isfinite(dateTime))
        return std::nullopt;
    const double lowest = static_cast<double>((kFirstDay - kEpoch).count());
    const double highest = static_cast<double>((kLastDay - kEpoch).count()) + 1.0;
    if (dateTime <= lowest - 1.0 || dateTime >= highest)
        return std::nullopt;
    const int64_t ms = std::llround(dateTime * static_cast<double>(kMsPerDay));
    SplitDateTime split{ms / kMsPerDay, std::abs(ms) % kMsPerDay};
    const sys_days day = kEpoch + days{split.days};
    if (day < kFirstDay || day > kLastDay)
        return std::nullopt;
    return split;
}

} // namespace

std::optional<double> EncodeDate(const CivilDate &date) {
    if (date.year < 1 || date.year > 9999 || date.month < 1 || date.month > 12 || date.day < 1 ||
        date.day > 31)
        return std::nullopt;
    const year_month_day ymd{year{date.year}, month{static_cast<unsigned>(date.month)},
                             day{static_cast<unsigned>(date.day)}};
    if (!ymd.ok())
        return std::nullopt;
    return static_cast<double>((sys_days{ymd} - kEpoch).count());
}

std::optional<double> EncodeTime(const CivilTime &time) {
    if (time.hour < 0 || time.hour > 23 || time.minute < 0 || time.minute > 59 || time.second < 0 ||
        time.second > 59)
        return std::nullopt;
    return (time.hour * 3600.0 + time.minute * 60.0 + time.second) / 86400.0;
}

bool IsValidDateTime(double dateTime) {
    return Split(dateTime).has_value();
}

CivilDate DecodeDate(double dateTime) {
    const auto split = Split(dateTime);
    if (!split)
        return {};
    const year_month_day ymd{kEpoch + days{split->days}};
    return {static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
            static_cast<int>(static_cast<unsigned>(ymd.day()))};
}

CivilTime DecodeTime(double dateTime) {
    const auto split = Split(dateTime);
    if (!split)
        return {};
    const int64_t seconds = split->msOfDay / 1000;
    return {static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
            static_cast<int>(seconds % 60)};
}

uint8_t ToBcd(int value) {
    const int v = ((value % 100) + 100) % 100;
    return static_cast<uint8_t>((v / 10) << 4 | (v % 10));
}

int FromBcd(uint8_t byte) {
    return (byte >> 4) * 10 + (byte & 0x0F);
}

bool PutBcdDate(Bytes &out, double dateTime) {
    if (!IsValidDateTime(dateTime)) {
        out.insert(out.end(), 3, 0);
        return false;
    }
    const CivilDate d = DecodeDate(dateTime);
    out.push_back(ToBcd(d.day));
    out.push_back(ToBcd(d.month));
    out.push_back(ToBcd(d.year % 100));
    return true;
}

bool PutBcdTime(Bytes &out, double dateTime) {
    if (!IsValidDateTime(dateTime)) {
        out.insert(out.end(), 3, 0);
        return false;
    }
    const CivilTime t = DecodeTime(dateTime);
    out.push_back(ToBcd(t.hour));
    out.push_back(ToBcd(t.minute));
    out.push_back(ToBcd(t.second));
    return true;
}

std::optional<double> WindowedReplyDate(int day, int month, int twoDigitYear, int currentYear) {
    if (twoDigitYear < 0 || twoDigitYear > 99)
        return std::nullopt;
    // The hundred years from 50 back to 49 ahead of the current year.
    const int first = currentYear - 50;
    int fullYear = first - ((first % 100) + 100) % 100 + twoDigitYear;
    if (fullYear < first)
        fullYear += 100;
    return EncodeDate({fullYear, month, day});
}

std::optional<double> LocaleDateText(uint8_t bcdDay, uint8_t bcdMonth, uint8_t bcdYear) {
    // The date is laid out as text in the order of the locale's short date
    // format and read back by that same locale, so the order never changes
    // which day it is; what the locale's reading adds is the century of a
    // two-digit year, relative to the local year now.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return WindowedReplyDate(FromBcd(bcdDay), FromBcd(bcdMonth), FromBcd(bcdYear),
                             local.tm_year + 1900);
}

std::optional<double> ReplyTime(uint8_t bcdHour, uint8_t bcdMinute, uint8_t bcdSecond) {
    return EncodeTime({FromBcd(bcdHour), FromBcd(bcdMinute), FromBcd(bcdSecond)});
}

std::optional<CivilTime> ReadLongTimeText(std::string_view text, std::string_view am,
                                          std::string_view pm) {
    int fields[3] = {-1, -1, -1};
    size_t digits[3] = {0, 0, 0};
    int found = 0;
    for (size_t i = 0; i < text.size() && found < 3;) {
        if (text[i] < '0' || text[i] > '9') {
            ++i;
            continue;
        }
        int value = 0;
        size_t count = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (count < 3)
                value = value * 10 + (text[i] - '0');
            ++count;
            ++i;
        }
        fields[found] = value;
        digits[found] = count;
        ++found;
    }
    if (found < 2 || digits[0] > 2 || digits[1] > 2 || (found == 3 && digits[2] > 2))
        return std::nullopt;

    CivilTime time{fields[0], fields[1], found == 3 ? fields[2] : 0};
    const bool isPm = !pm.empty() && text.find(pm) != std::string_view::npos;
    const bool isAm = !isPm && !am.empty() && text.find(am) != std::string_view::npos;
    if (isPm || isAm) {
        if (time.hour < 1 || time.hour > 12)
            return std::nullopt;
        if (isAm && time.hour == 12)
            time.hour = 0;
        else if (isPm && time.hour != 12)
            time.hour += 12;
    }
    if (!EncodeTime(time))
        return std::nullopt;
    return time;
}

std::optional<CivilTime> LocaleTimeOfDay(double dateTime) {
    if (!IsValidDateTime(dateTime))
        return std::nullopt;
    const CivilDate d = DecodeDate(dateTime);
    const CivilTime t = DecodeTime(dateTime);
    std::tm tm{};
    tm.tm_year = d.year - 1900;
    tm.tm_mon = d.month - 1;
    tm.tm_mday = d.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    // nl_langinfo and strftime follow the thread's locale when one is set
    // with uselocale, else the global one.
    const std::string format = nl_langinfo(T_FMT);
    char text[128];
    const size_t length = std::strftime(text, sizeof text, format.c_str(), &tm);
    if (length == 0)
        return std::nullopt;
    const std::string am = nl_langinfo(AM_STR);
    const std::string pm = nl_langinfo(PM_STR);
    return ReadLongTimeText(std::string_view(text, length), am, pm);
}

// ---- Barcodes ----------------------------------------------------------------

std::optional<int> Ean13CheckDigit(std::string_view digits) {
    if (digits.size() != 12)
        return std::nullopt;
    int sum = 0;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (digits[i] < '0' || digits[i] > '9')
            return std::nullopt;
        const int digit = digits[i] - '0';
        sum += (i % 2 == 0) ? digit : 3 * digit; // positions 1, 3, ... count once
    }
    return (10 - sum % 10) % 10;
}

} // namespace krv::drv
