#include "date_time_text.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace krv::console {

namespace {

const QDate kDriverEpoch(1899, 12, 30);
constexpr double kMillisecondsPerDay = 86400000.0;
// Beyond a few thousand years a day count is no date anybody sets.
constexpr double kMaxDayCount = 3.0e6;

bool IsDayCount(double dateTime) {
    return std::isfinite(dateTime) && std::fabs(dateTime) <= kMaxDayCount;
}

// The locale's long time format without its time-zone part: the clocks of
// the printer and the modem have no zone.
QString LongTimeFormat(const QLocale &locale) {
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.replace(zone, QStringLiteral(" "));
    return format.trimmed();
}

} // namespace

// ---- Driver values ----------------------------------------------------------

double DriverDateOf(const QDate &date) {
    return static_cast<double>(kDriverEpoch.daysTo(date));
}

double DriverTimeOf(const QTime &time) {
    return static_cast<double>(time.msecsSinceStartOfDay()) / kMillisecondsPerDay;
}

double ToDriverDateTime(const QDateTime &moment) {
    return DriverDateOf(moment.date()) + DriverTimeOf(moment.time());
}

std::optional<QDate> DateOfDriver(double dateTime) {
    if (!IsDayCount(dateTime))
        return std::nullopt;
    const QDate date = kDriverEpoch.addDays(static_cast<qint64>(std::trunc(dateTime)));
    if (!date.isValid())
        return std::nullopt;
    return date;
}

std::optional<QTime> TimeOfDriver(double dateTime) {
    if (!IsDayCount(dateTime))
        return std::nullopt;
    const double fraction = std::fabs(dateTime - std::trunc(dateTime));
    auto ms = static_cast<int>(std::llround(fraction * kMillisecondsPerDay));
    ms = std::min(ms, static_cast<int>(kMillisecondsPerDay) - 1);
    return QTime::fromMSecsSinceStartOfDay(ms);
}

// ---- Moments ------------------------------------------------------------------

QDateTime PlainDateTime(const QDate &date, const QTime &time) {
    return QDateTime(date, time, Qt::UTC);
}

int WindowedYear(int twoDigitYear, int currentYear) {
    const int floor = currentYear - 50;
    int year = floor - floor % 100 + twoDigitYear;
    if (year < floor)
        year += 100;
    return year;
}

// ---- Texts ----------------------------------------------------------------------

QString ShortDateText(double dateTime) {
    const std::optional<QDate> date = DateOfDriver(dateTime);
    return date ? ShortDateText(*date) : QString();
}

QString ShortDateText(const QDate &date, const QLocale &locale) {
    return locale.toString(date, QLocale::ShortFormat);
}

QString LongTimeText(double dateTime) {
    const std::optional<QTime> time = TimeOfDriver(dateTime);
    const QLocale locale;
    return time ? locale.toString(*time, LongTimeFormat(locale)) : QString();
}

QString LocaleDateTimeText(const QDateTime &moment) {
    const QLocale locale;
    QString text = ShortDateText(moment.date(), locale);
    if (moment.time() == QTime(0, 0))
        return text;
    return text + QLatin1Char(' ') + locale.toString(moment.time(), LongTimeFormat(locale));
}

} // namespace krv::console
