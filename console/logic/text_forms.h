// The small forms in which the console writes and reads its texts: money and
// rates in hundredths, labels padded to a width, hex digits, digit checks and
// the locale's decimal separator. Every tab and window assembles its boxes
// from these, so one printer value reads the same wherever it is shown.
#pragma once

#include <QChar>
#include <QLocale>
#include <QString>

#include <cstdint>

namespace krv::console {

// The decimal separator of `locale` ('.' where the locale names none).
QChar DecimalSeparatorOf(const QLocale &locale);
// The decimal separator of the user's locale, as the money and quantity
// fields show and read it.
QChar LocaleDecimalSeparator();

// Hundredths (kopecks, hundredths of a percent) with two decimals and the
// separator, digit by digit ("12,50", "-0,07"): what "%2.2f" of value / 100
// shows, without the rounding of a binary float.
QString FormatHundredths(int64_t value, QChar separator);
// Kopecks as hryvnias: FormatHundredths, then " грн." ("12,50 грн.").
QString FormatPanelMoney(int64_t kopecks, QChar separator);

// `text` followed by blanks up to `width` characters: the console aligns its
// assembled texts by labels of fixed width.
QString PaddedLabel(const QString &text, int width);

// `value` in upper-case hex, zero-padded to at least `digits` digits.
QString HexDigits(uint32_t value, int digits);

bool IsAsciiDigit(QChar c);
// The index of the first character that is no ASCII digit; -1 when all are.
int FirstNonDigit(const QString &text);
// True for a text of ASCII digits only (the empty text included).
bool AllDecimalDigits(const QString &text);

} // namespace krv::console
