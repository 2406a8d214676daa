// Date-times as the console shows them and hands them to the driver.
//
// The driver's date-times count days since 1899-12-30; the fraction is the
// time of day. Moments read from the printer or the modem are built from
// their numbers (never by parsing a text in the locale's order, which breaks
// in a year-first locale); the locale is used only to show them. They carry
// no time zone: arithmetic on them is plain calendar arithmetic.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>

#include <optional>

namespace krv::console {

// ---- Driver values ----------------------------------------------------------

double DriverDateOf(const QDate &date);
double DriverTimeOf(const QTime &time);
// The date and the time of day together.
double ToDriverDateTime(const QDateTime &moment);
// Nothing for a value no calendar date or time of day answers (NaN, out of
// range). A negative value counts whole days back; its fraction is still
// the time of day forward.
std::optional<QDate> DateOfDriver(double dateTime);
std::optional<QTime> TimeOfDriver(double dateTime);

// ---- Moments ------------------------------------------------------------------

// A zone-less moment (kept as UTC so that adding seconds never meets a
// daylight-saving gap).
QDateTime PlainDateTime(const QDate &date, const QTime &time);

// A two-digit year placed in the window of 50 years back to 49 years ahead
// of `currentYear`.
int WindowedYear(int twoDigitYear, int currentYear);

// ---- Texts ----------------------------------------------------------------------

// The locale's short date ("15.03.24") and long time ("10:30:00") of a
// driver date-time; empty when it is no date or time.
QString ShortDateText(double dateTime);
// The short date of `date` in `locale`.
QString ShortDateText(const QDate &date, const QLocale &locale = QLocale());
QString LongTimeText(double dateTime);

// The locale's short date, a blank and its long time; the time is left out
// when it is exactly midnight.
QString LocaleDateTimeText(const QDateTime &moment);

} // namespace krv::console
