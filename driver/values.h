// The byte forms of the printer's values and their conversions to the values
// of the exported interface. Pure functions, no I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace krv::drv {

using Bytes = std::vector<uint8_t>;

// ---- Texts -----------------------------------------------------------------
// Windows-1251 -> printer bytes: І і № Ґ ґ substituted, then ANSI -> OEM.
// Same length out as in; any length is taken.
std::string EncodeDeviceText(std::string_view cp1251);
// Printer bytes -> Windows-1251, OEM -> ANSI, nothing substituted back. The
// text ends at a zero byte, as it would for the caller of the C interface.
std::string DecodeDeviceText(std::span<const uint8_t> device);

// ---- Integers --------------------------------------------------------------
void PutU16(Bytes &out, uint16_t value);
void PutU24(Bytes &out, uint32_t value);
void PutU32(Bytes &out, uint32_t value);
// MoneyAmount, sign-magnitude: magnitude in the low 31 bits, bit 31 = negative.
// The four bytes are always written; false for the one amount whose
// magnitude needs 32 bits (INT32_MIN), which would go out as "minus zero".
bool PutMoneySignMagnitude(Bytes &out, int32_t kopecks);
// MoneyAmount, plain: the amount taken as an unsigned 32-bit number.
void PutMoneyPlain(Bytes &out, int32_t kopecks);

// Readers return nothing when the field does not lie wholly inside `in`.
std::optional<uint32_t> ReadU16(std::span<const uint8_t> in, size_t offset);
std::optional<uint32_t> ReadU24(std::span<const uint8_t> in, size_t offset);
std::optional<uint32_t> ReadU32(std::span<const uint8_t> in, size_t offset);
std::optional<int64_t> ReadMoneySignMagnitude(std::span<const uint8_t> in, size_t offset);
std::optional<uint64_t> ReadSum40(std::span<const uint8_t> in, size_t offset);

// QuantityField: 3 bytes of the quantity's digits, then qtyFlags.
inline constexpr uint8_t kQtyBarcodeFlag = 0x40;
inline constexpr uint8_t kQtyUnitFlag = 0x80;
// Writes the low 24 bits of the quantity as they are; the range check
// (0..FFFFFF) is the command's.
inline constexpr uint32_t kMaxQuantity = 0xFFFFFF;
void PutQuantity(Bytes &out, int32_t quantity, uint8_t qtyFlags);

// ArticleCode: the low 48 bits, 6 bytes little-endian.
void PutArticleCode(Bytes &out, int64_t code);
std::optional<int64_t> ReadArticleCode(std::span<const uint8_t> in, size_t offset);

// TaxGroupIndex: 0..5 sent as 80..85. ParseTaxGroup gives nothing for any
// other byte (the caller's variable then stays as it was).
inline constexpr int kTaxGroups = 6;
inline uint8_t TaxGroupByte(int index) {
    return static_cast<uint8_t>(0x80 + index);
}
std::optional<int> ParseTaxGroup(uint8_t byte);
inline constexpr const char *kNoSuchTaxGroupText = "Несуществующая налоговая группа";

// ---- Dates and times -------------------------------------------------------
// Day-based date-times: days since 1899-12-30, fraction = time of day. As with
// the Delphi TDateTime, a value before 1899-12-30 counts its whole days
// backwards and its fraction forwards: -1.25 is 1899-12-29 06:00. Values are
// taken to the nearest millisecond first, so 0.9999999999 is the next
// midnight. Years 1..9999 only.
struct CivilDate {
    int year = 0, month = 0, day = 0;
    friend bool operator==(const CivilDate &, const CivilDate &) = default;
};
struct CivilTime {
    int hour = 0, minute = 0, second = 0;
    friend bool operator==(const CivilTime &, const CivilTime &) = default;
};
// Nothing for an impossible date or time of day.
std::optional<double> EncodeDate(const CivilDate &date);
std::optional<double> EncodeTime(const CivilTime &time);
// False for NaN, infinities and values outside years 1..9999.
bool IsValidDateTime(double dateTime);
// For a value that is not valid both give all zeros.
CivilDate DecodeDate(double dateTime);
CivilTime DecodeTime(double dateTime);

uint8_t ToBcd(int value);  // last two decimal digits; of a year pass year % 100
int FromBcd(uint8_t byte); // high nibble * 10 + low nibble, checked or not
// Both always write three bytes; for a value that is not a valid date-time
// they write 00 00 00 (which the printer refuses) and give false.
bool PutBcdDate(Bytes &out, double dateTime); // day, month, year % 100
bool PutBcdTime(Bytes &out, double dateTime); // hour, minute, second

// LocaleDateText: a reply's BCD day, month, year as a date at midnight, with
// the two-digit year placed in the window the locale's parser uses (50 years
// back to 49 ahead of the current local year). Nothing for an impossible date
// (a day or month out of range, or a year byte that reads above 99).
std::optional<double> LocaleDateText(uint8_t bcdDay, uint8_t bcdMonth, uint8_t bcdYear);
// The same with the current year given.
std::optional<double> WindowedReplyDate(int day, int month, int twoDigitYear, int currentYear);
// A reply's BCD hour, minute, second as a fraction of a day; nothing for an
// impossible time of day.
std::optional<double> ReplyTime(uint8_t bcdHour, uint8_t bcdMinute, uint8_t bcdSecond);
// Hour, minute and second of a date-time as the current LC_TIME locale's long
// time text shows them, read back into 24-hour form (12 AM is 0, PM hours
// other than 12 get 12 added). Nothing when the text cannot be read.
std::optional<CivilTime> LocaleTimeOfDay(double dateTime);
// The reading step alone: the first three runs of digits are hour (one or two
// digits), minute and second (a text without seconds reads as second 0); a
// text holding `pm` (or `am`) is a 12-hour text. Nothing when the text has no
// hour and minute or shows an impossible time.
std::optional<CivilTime> ReadLongTimeText(std::string_view text, std::string_view am,
                                          std::string_view pm);

// ---- Barcodes ----------------------------------------------------------------
// Check digit of the first 12 decimal digits; nothing when `digits` is not
// exactly 12 decimal digits.
std::optional<int> Ean13CheckDigit(std::string_view digits);

} // namespace krv::drv
