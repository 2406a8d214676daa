#include "text_forms.h"

#include <algorithm>

namespace krv::console {

QChar DecimalSeparatorOf(const QLocale &locale) {
    const QString point = locale.decimalPoint();
    return point.isEmpty() ? QChar(u'.') : point.front();
}

QChar LocaleDecimalSeparator() {
    return DecimalSeparatorOf(QLocale());
}

QString FormatHundredths(int64_t value, QChar separator) {
    const bool negative = value < 0;
    const uint64_t magnitude =
        negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    QString text = negative ? QStringLiteral("-") : QString();
    text += QString::number(magnitude / 100);
    text += separator;
    text += QStringLiteral("%1").arg(static_cast<unsigned>(magnitude % 100), 2, 10, QChar(u'0'));
    return text;
}

QString FormatPanelMoney(int64_t kopecks, QChar separator) {
    return FormatHundredths(kopecks, separator) + QStringLiteral(" грн.");
}

QString PaddedLabel(const QString &text, int width) {
    return text.leftJustified(width, QLatin1Char(' '));
}

QString HexDigits(uint32_t value, int digits) {
    return QString::number(value, 16).toUpper().rightJustified(std::max(0, digits), u'0');
}

bool IsAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

int FirstNonDigit(const QString &text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (!IsAsciiDigit(text[i]))
            return static_cast<int>(i);
    return -1;
}

bool AllDecimalDigits(const QString &text) {
    return FirstNonDigit(text) < 0;
}

} // namespace krv::console
