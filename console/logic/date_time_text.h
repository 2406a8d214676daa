// Date-times as the console shows them and hands them to the driver.
//
// Moments read from the printer or the modem are built from their numbers
// (never by parsing a text in the locale's order, which breaks in a
// year-first locale); the locale is used only to show them. They carry no
// time zone: arithmetic on them is plain calendar arithmetic.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

namespace krv::console {

// A zone-less moment (kept as UTC so that adding seconds never meets a
// daylight-saving gap).
QDateTime PlainDateTime(const QDate &date, const QTime &time);

// The locale's short date, a blank and its long time; the time is left out
// when it is exactly midnight.
QString LocaleDateTimeText(const QDateTime &moment);

// The driver's date-time: days since 1899-12-30, the fraction the time of day.
double ToDriverDateTime(const QDateTime &moment);

// A two-digit year placed in the window of 50 years back to 49 years ahead
// of `currentYear`.
int WindowedYear(int twoDigitYear, int currentYear);

} // namespace krv::console
