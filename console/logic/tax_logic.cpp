#include "tax_logic.h"

#include "driver_binding.h"
#include "receipt_logic.h"
#include "text_forms.h"

#include <KRV_T100DRV.h>

#include <QDate>
#include <QLocale>

#include <cmath>

namespace krv::console {

namespace {

constexpr QChar kSchemeSeparator = QLatin1Char(',');

const QString kGapText = QStringLiteral("Пустые поля между значениями ставок не допускаются!");
const QString kBadRatesText = QStringLiteral("Налоговые ставки заданы неверно!");
const QString kBadFormatText = QStringLiteral("Неправильный формат налоговых ставок!");

// "d<sep>dd" or "dd<sep>dd".
bool IsRateCellText(const QString &text, QChar separator) {
    const qsizetype n = text.size();
    if (n != 4 && n != 5)
        return false;
    for (qsizetype i = 0; i < n; ++i) {
        const bool separatorPlace = i == n - 3;
        if (separatorPlace ? text[i] != separator : !IsAsciiDigit(text[i]))
            return false;
    }
    return true;
}

} // namespace

CompoundScheme DefaultCompoundScheme() {
    CompoundScheme scheme;
    for (CompoundTaxGroup &group : scheme) {
        group.vatRateText = QStringLiteral("20,00");
        group.levyRateText = QStringLiteral("05,00");
    }
    scheme[kTaxGroupCount - 1].vatRateText = QStringLiteral("без НДС");
    return scheme;
}

bool AnyCompoundGroup(const CompoundScheme &scheme) {
    for (const CompoundTaxGroup &group : scheme)
        if (group.useCompound)
            return true;
    return false;
}

QString CompoundCellText() {
    return QStringLiteral("НДС+ПС");
}

// ---- Rate edits -------------------------------------------------------------------

QString NormalisedRateText(const QString &editText) {
    QString s = editText.left(5);
    for (qsizetype blank = s.indexOf(QLatin1Char(' ')); blank >= 0;
         blank = s.indexOf(QLatin1Char(' '))) {
        if (blank == 0 && s.size() > 2 && s[2] == kSchemeSeparator)
            s.remove(0, 1);
        else
            s[blank] = QLatin1Char('0');
    }
    if (s.startsWith(QLatin1Char('0')) && s.size() > 2 && s[2] == kSchemeSeparator)
        s.remove(0, 1);
    return s;
}

QString StoredRateText(const QString &editText) {
    return editText.startsWith(QLatin1Char(' ')) ? editText.mid(1, 4) : editText.left(5);
}

QString RateEditText(const QString &rateText) {
    return rateText.rightJustified(5, QLatin1Char(' '), true) + QLatin1Char('%');
}

// ---- Rate numbers ----------------------------------------------------------------------

std::optional<int32_t> RateHundredths(const QString &text, QChar separator) {
    const qsizetype point = text.indexOf(separator);
    const QString whole = point < 0 ? text : text.left(point);
    const QString fraction = point < 0 ? QString() : text.mid(point + 1);
    if (whole.isEmpty() || (point >= 0 && fraction.isEmpty()) || whole.size() > 6 ||
        fraction.size() > 6)
        return std::nullopt;
    for (const QString *part : {&whole, &fraction})
        for (QChar c : *part)
            if (!IsAsciiDigit(c))
                return std::nullopt;
    const double percent =
        QString(whole + QLatin1Char('.') + (fraction.isEmpty() ? QStringLiteral("0") : fraction))
            .toDouble();
    return static_cast<int32_t>(std::lround(percent * 100));
}

QString RateText(int32_t hundredths, QChar separator) {
    return FormatHundredths(hundredths, separator);
}

// ---- Tax write --------------------------------------------------------------------------

TaxWriteBuild BuildTaxWrite(const RateCells &cells, const CompoundScheme &applied, int taxTypeIndex,
                            QChar separator) {
    TaxWriteBuild build;
    uint8_t count = 0;
    while (count < kRateRows && !cells[count].isEmpty())
        ++count;

    bool gapSeen = false;
    for (const QString &cell : cells) {
        if (cell.isEmpty()) {
            gapSeen = true;
        } else if (IsRateCellText(cell, separator) || cell == CompoundCellText()) {
            if (gapSeen) {
                build.error = kGapText;
                return build;
            }
        } else {
            build.error = kBadRatesText;
            return build;
        }
    }

    TaxWriteRequest &request = build.request;
    request.count = count;
    request.addedTax = taxTypeIndex == 0;
    for (int row = 0; row < count; ++row) {
        RateEntry &entry = request.entries[static_cast<size_t>(row)];
        const CompoundTaxGroup &group = applied[static_cast<size_t>(row)];
        if (cells[row] == CompoundCellText() && group.useCompound) {
            const auto vat = RateHundredths(group.vatRateText, kSchemeSeparator);
            const auto levy = RateHundredths(group.levyRateText, kSchemeSeparator);
            if (!vat || !levy) {
                build.error = kBadFormatText;
                return build;
            }
            entry.rate = *vat;
            entry.levyRate = *levy;
            entry.compound = group.taxOnLevy;
            request.withLevy = true;
        } else {
            const auto rate = RateHundredths(cells[row], separator);
            if (!rate) {
                build.error = kBadFormatText;
                return build;
            }
            entry.rate = *rate;
        }
    }

    const CompoundTaxGroup &groupE = applied[kTaxGroupCount - 1];
    if (groupE.useCompound) {
        const auto levy = RateHundredths(groupE.levyRateText, kSchemeSeparator);
        if (!levy) {
            build.error = kBadFormatText;
            return build;
        }
        request.groupFLevy = *levy;
        if (*levy > 0)
            request.withLevy = true;
    }
    build.ok = true;
    return build;
}

// ---- Tax read ----------------------------------------------------------------------------

TaxReadView ViewOfTaxRead(const TaxReading &reading, const CompoundScheme &applied,
                          int selectedGroup, QChar separator) {
    TaxReadView view{{}, reading.addedTax ? 0 : 1, applied, selectedGroup};
    for (int i = 0; i < kRateRows; ++i) {
        const RateEntry &entry = reading.entries[static_cast<size_t>(i)];
        CompoundTaxGroup &group = view.applied[static_cast<size_t>(i)];
        const bool read = i < reading.count;
        if (read)
            view.cells[static_cast<size_t>(i)] = RateText(entry.rate, separator);
        if (read && entry.levyRate != 0 && reading.withLevy) {
            group.vatRateText = RateText(entry.rate, kSchemeSeparator);
            group.levyRateText = RateText(entry.levyRate, kSchemeSeparator);
            group.useCompound = entry.hasLevy;
            group.taxOnLevy = entry.compound;
            view.selectedGroup = i + 1;
        } else {
            group.useCompound = false;
            group.taxOnLevy = false;
        }
    }
    CompoundTaxGroup &groupE = view.applied[kTaxGroupCount - 1];
    groupE.useCompound = reading.entries[kTaxGroupCount - 1].hasLevy;
    if (groupE.useCompound)
        groupE.levyRateText = RateText(reading.groupFLevy, kSchemeSeparator);
    return view;
}

QString TaxReadMessage(const QString &dateText, bool withLevy) {
    QString text = QStringLiteral("Дата программирования налоговых групп: ") + dateText;
    if (withLevy)
        text += QStringLiteral("\r\nИспользуется схема составного налога!");
    return text;
}

// ---- Grid rows ------------------------------------------------------------------------------

GridRow GridRowView(bool groupUsesCompound, int taxTypeIndex, const GridRow &row) {
    GridRow view = row;
    view.green = groupUsesCompound && taxTypeIndex == 1;
    if (view.green) {
        if (view.cell != CompoundCellText()) {
            view.saved = view.cell;
            view.cell = CompoundCellText();
        }
    } else if (view.cell == CompoundCellText()) {
        view.cell = view.saved;
    } else {
        view.saved = view.cell;
    }
    return view;
}

// ---- Driver calls -------------------------------------------------------------------------------

bool CallTaxRead(TaxReading &reading) {
    TaxRateEntry rates[kTaxGroupCount] = {};
    KrvDateTime date = 0;
    uint8_t count = 0;
    KrvBool16 addedTax = 0, withLevy = 0;
    uint16_t groupFLevy = 0;
    if (!DriverSucceeded(FPFullGetTaxRate(&date, &count, &addedTax, rates, kTaxGroupCount - 1,
                                          &withLevy, &groupFLevy)))
        return false;
    reading = TaxReading{};
    reading.date = date;
    reading.count = count;
    reading.addedTax = addedTax != 0;
    for (size_t i = 0; i < kTaxGroupCount; ++i)
        reading.entries[i] = RateEntry{rates[i].hasLevy != 0, rates[i].rate, rates[i].levyRate,
                                       rates[i].compound != 0};
    reading.withLevy = withLevy != 0;
    reading.groupFLevy = groupFLevy;
    return true;
}

bool CallTaxWrite(uint16_t password, const TaxWriteRequest &request) {
    TaxRateEntry rates[kRateRows] = {};
    for (size_t i = 0; i < kRateRows; ++i) {
        const RateEntry &entry = request.entries[i];
        rates[i].hasLevy = entry.hasLevy ? -1 : 0;
        rates[i].rate = entry.rate;
        rates[i].levyRate = entry.levyRate;
        rates[i].compound = entry.compound ? -1 : 0;
    }
    return DriverSucceeded(FPSetTaxRate(password, request.count, request.addedTax ? -1 : 0, rates,
                                        kRateRows - 1, request.withLevy ? -1 : 0,
                                        request.groupFLevy));
}

bool CallProbeSale() {
    LineRequest request;
    request.quantity = 1;
    request.price = 1;
    request.name = ToDriverText(QStringLiteral("Тест"));
    request.code = 9999;
    LineOutcome outcome;
    return CallLine(LineCommand::Sale, request, outcome);
}

} // namespace krv::console
