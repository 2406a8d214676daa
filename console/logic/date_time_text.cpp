#include "date_time_text.h"

#include <QLocale>
#include <QRegularExpression>

namespace krv::console {

QDateTime PlainDateTime(const QDate &date, const QTime &time) {
    return QDateTime(date, time, Qt::UTC);
}

QString LocaleDateTimeText(const QDateTime &moment) {
    const QLocale locale;
    QString text = locale.toString(moment.date(), QLocale::ShortFormat);
    if (moment.time() == QTime(0, 0))
        return text;
    // The moments have no zone: the zone name of the long format is dropped.
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.replace(zone, QStringLiteral(" "));
    return text + QLatin1Char(' ') + locale.toString(moment.time(), format.trimmed());
}

double ToDriverDateTime(const QDateTime &moment) {
    static const QDate kEpoch(1899, 12, 30);
    const QTime time = moment.time();
    return static_cast<double>(kEpoch.daysTo(moment.date())) +
           static_cast<double>(time.msecsSinceStartOfDay()) / 86400000.0;
}

int WindowedYear(int twoDigitYear, int currentYear) {
    const int floor = currentYear - 50;
    int year = floor - floor % 100 + twoDigitYear;
    if (year < floor)
        year += 100;
    return year;
}

} // namespace krv::console
