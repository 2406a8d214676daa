#include "report_logic.h"

#include "date_time_text.h"
#include "driver_binding.h"
#include "receipt_logic.h"

#include <KRV_T100DRV.h>

#include <algorithm>
#include <string>
#include <vector>

namespace krv::console {

namespace {

const QString kNotRead = QStringLiteral("не удалось получить");
const QString kLineEnd = QStringLiteral("\r\n");
const QString kTab = QStringLiteral("\t");

const QString kReportNumbersText = QStringLiteral("Проверьте правильность ввода номеров отчетов!");

// A field of digits only as a non-negative number up to `maximum`.
std::optional<uint64_t> DigitsValue(const QString &text, uint64_t maximum) {
    if (text.isEmpty() || !AllDecimalDigits(text))
        return std::nullopt;
    uint64_t value = 0;
    for (QChar c : text) {
        value = value * 10 + static_cast<unsigned>(c.unicode() - u'0');
        if (value > maximum)
            return std::nullopt;
    }
    return value;
}

// The driver takes the service report's lines through a callback list; the
// converted lines live as long as this object, the call included.
class LineList {
  public:
    explicit LineList(const QStringList &lines) {
        m_lines.reserve(static_cast<size_t>(lines.size()));
        for (const QString &line : lines)
            m_lines.push_back(ToDriverText(line));
        m_list.context = this;
        m_list.count = [](void *context) {
            return static_cast<int32_t>(static_cast<LineList *>(context)->m_lines.size());
        };
        m_list.line = [](void *context, int32_t index) -> const char * {
            const auto &lines = static_cast<LineList *>(context)->m_lines;
            if (index < 0 || static_cast<size_t>(index) >= lines.size())
                return nullptr;
            return lines[static_cast<size_t>(index)].c_str();
        };
    }
    const TextLineList *List() const { return &m_list; }

  private:
    std::vector<std::string> m_lines;
    TextLineList m_list{};
};

struct TextBuilder {
    QString text;
    void Line(const QString &line) { text += line + kLineEnd; }
    void Value(const QString &label, const QString &value) { Line(label + kTab + value); }
    void Empty() { text += kLineEnd; }
};

QString FormName(const QStringList &names, int index) {
    return index < names.size() ? names[index] : QString();
}

const char16_t *const kGroupLetters[6] = {u"А", u"Б", u"В", u"Г", u"Д", u"Е"};

// "Группа \"А\":" and `blanks` blanks.
QString QuotedGroupLabel(int group, int blanks) {
    return QStringLiteral("Группа \"") + QString::fromUtf16(kGroupLetters[group]) +
           QStringLiteral("\":") + QString(blanks, u' ');
}

void TaxRatesPart(TextBuilder &out, const std::optional<TaxRates> &taxes, QChar separator) {
    if (!taxes) {
        out.Line(QStringLiteral("Не удалось получить ставки налоговых групп!"));
        return;
    }
    out.text += (taxes->addedTax ? QStringLiteral("Тип налога: Наложенный НДС")
                                 : QStringLiteral("Тип налога: Вложенный НДС")) +
                QStringLiteral("\r\r\n");
    const int groups = std::min<int>(taxes->count, 5);
    for (int k = 0; k < groups; ++k) {
        const QString letter = QString::fromUtf16(kGroupLetters[k]);
        const QString rate = FormatHundredths(taxes->rates[static_cast<size_t>(k)], separator);
        const int32_t levyValue = taxes->levies[static_cast<size_t>(k)];
        if (taxes->withLevy && levyValue != 0) {
            const bool compound = taxes->compound[static_cast<size_t>(k)];
            // Group Д's text has always carried a Latin "c".
            const QString withTax =
                k == 4 ? QStringLiteral("Сбор c НДС:") : QStringLiteral("Сбор с НДС:");
            out.Line(QStringLiteral("Группа ") + letter +
                     QStringLiteral(": составной налог (НДС:") + kTab + rate + u'%' + kTab +
                     (compound ? withTax : QStringLiteral("Сбор без НДС:")) + kTab +
                     FormatHundredths(levyValue, separator) + QStringLiteral("%)"));
        } else {
            out.Value(QStringLiteral("Группа ") + letter + QStringLiteral(": "), rate + u'%');
        }
    }
    if (taxes->withLevy && taxes->levies[5] != 0)
        out.Value(QStringLiteral("Группа Е: Необлагаемая группа + Сбор без НДС:"),
                  FormatHundredths(taxes->levies[5], separator) + QStringLiteral("%)"));
    else
        out.Line(QStringLiteral("Группа Е: Необлагаемая группа"));
}

void CountsAndSumsLines(TextBuilder &out, const CountsAndSums &values,
                        const std::array<QString, 4> &labels, QChar separator) {
    out.Value(labels[0], QString::number(values.salesCount));
    out.Value(labels[1], QString::number(values.returnsCount));
    out.Value(labels[2], FormatPanelMoney(values.salesSum, separator));
    out.Value(labels[3], FormatPanelMoney(values.returnsSum, separator));
}

// Six tax-group lines and ten payment-form lines of a sums text, each group
// of lines closed by an empty line.
template <class Sum>
void GroupLines(TextBuilder &out, const std::array<Sum, 6> &sums, int blanks, QChar separator) {
    for (int g = 0; g < 6; ++g)
        out.Value(QuotedGroupLabel(g, blanks),
                  FormatPanelMoney(static_cast<int64_t>(sums[static_cast<size_t>(g)]), separator));
    out.Empty();
}

template <class Sum>
void FormLines(TextBuilder &out, const std::array<Sum, 10> &sums, const QStringList &names,
               QChar separator) {
    for (int f = 0; f < 10; ++f)
        out.Value(PaymentFormLabel(FormName(names, f)),
                  FormatPanelMoney(static_cast<int64_t>(sums[static_cast<size_t>(f)]), separator));
    out.Empty();
}

} // namespace

// ---- Inputs ------------------------------------------------------------------

QString FirstArticleCodeError() {
    return QStringLiteral("Начальный код артикула задан неверно!\r\nВ качестве кода артикула "
                          "может быть только число!");
}

QString LastArticleCodeError() {
    return QStringLiteral("Конечный код артикула задан неверно!\r\nВ качестве кода артикула "
                          "может быть только число!");
}

ArticleRangeBuild BuildArticleRange(bool wholeRangeChecked, const QString &first,
                                    const QString &last) {
    ArticleRangeBuild build;
    if (!wholeRangeChecked) {
        // Codes travel as six bytes: 14 digits always fit, more never do.
        constexpr uint64_t kMaxCode = (uint64_t{1} << 47) - 1;
        const std::optional<uint64_t> firstCode = DigitsValue(first, kMaxCode);
        if (!firstCode) {
            build.error = FirstArticleCodeError();
            return build;
        }
        const std::optional<uint64_t> lastCode = DigitsValue(last, kMaxCode);
        if (!lastCode) {
            build.error = LastArticleCodeError();
            return build;
        }
        build.first = static_cast<int64_t>(*firstCode);
        build.last = static_cast<int64_t>(*lastCode);
    }
    build.wholeRange = wholeRangeChecked || (build.first == 0 && build.last == 0);
    if (build.wholeRange)
        build.first = build.last = 0;
    build.ok = true;
    return build;
}

QString WholeRangeQuestion() {
    return QStringLiteral("Отчет будет сформирован по всем артикулам!\r\nЕсли Вы согласны, тогда "
                          "нажмите кнопку \"ОК\".");
}

ReportNumbersBuild BuildReportNumbers(const QString &first, const QString &last) {
    ReportNumbersBuild build;
    if (!AllDecimalDigits(first)) {
        build.error =
            QStringLiteral("Начальный номер отчета должен быть целым неотрицательным числом!");
        return build;
    }
    if (!AllDecimalDigits(last)) {
        build.error =
            QStringLiteral("Конечный номер отчета должен быть целым неотрицательным числом!");
        return build;
    }
    // The printer takes 16-bit numbers: a larger one would print another range.
    const std::optional<uint64_t> firstNumber = DigitsValue(first, 0xFFFF);
    const std::optional<uint64_t> lastNumber = DigitsValue(last, 0xFFFF);
    if (!firstNumber || !lastNumber) {
        build.error = kReportNumbersText;
        return build;
    }
    build.first = static_cast<uint16_t>(*firstNumber);
    build.last = static_cast<uint16_t>(*lastNumber);
    build.ok = true;
    return build;
}

int ServiceReportTape(bool receiptTapeOnly, bool controlTapeOnly) {
    if (receiptTapeOnly)
        return 1;
    return controlTapeOnly ? 2 : 0;
}

QStringList MemoLines(const QString &text) {
    if (text.isEmpty())
        return {};
    QStringList lines = text.split(u'\n');
    if (lines.back().isEmpty())
        lines.removeLast();
    return lines;
}

// ---- Printed reports -----------------------------------------------------------

bool CallDayReport(uint16_t password) {
    return DriverSucceeded(FPDayReport(password));
}

bool CallDayClrReport(uint16_t password) {
    return DriverSucceeded(FPDayClrReport(password));
}

bool CallArticleReport(uint16_t password, int64_t first, int64_t last) {
    return DriverSucceeded(FPXArtReport(password, first, last));
}

bool CallPeriodicReport(bool shortForm, uint16_t password, QDate from, QDate to) {
    const auto call = shortForm ? &FPPeriodicReportShort : &FPPeriodicReport;
    return DriverSucceeded(call(password, DriverDateOf(from), DriverDateOf(to)));
}

bool CallPeriodicNumberReport(uint16_t password, uint16_t first, uint16_t last) {
    return DriverSucceeded(FPPeriodicNumberReport(password, first, last));
}

bool CallServiceReport(const QStringList &lines, bool closeDocument, int tape) {
    const LineList list(lines);
    return DriverSucceeded(FPTransPrintNew(list.List(), closeDocument ? -1 : 0, tape));
}

// ---- "Сведения" -------------------------------------------------------------------

InformationResults QueryInformation() {
    InformationResults results;
    int16_t number = 0;
    int64_t sum = 0;
    if (DriverSucceeded(FPGetSaleCheckNumber(&number)))
        results.saleReceiptNumber = static_cast<uint16_t>(number);
    if (DriverSucceeded(FPGetSaleDaySum(&sum)))
        results.saleDaySum = sum;
    if (DriverSucceeded(FPGetPayCheckNumber(&number)))
        results.payReceiptNumber = static_cast<uint16_t>(number);
    if (DriverSucceeded(FPGetPayDaySum(&sum)))
        results.payDaySum = sum;

    KrvDateTime date = 0;
    if (DriverSucceeded(FPGetNumZReport(&number, &date)))
        results.lastZReport =
            LastZReport{static_cast<uint16_t>(number), DateOfDriver(date).value_or(QDate())};

    const auto countsAndSums = [](auto query) -> std::optional<CountsAndSums> {
        int16_t salesCount = 0, returnsCount = 0;
        int64_t salesSum = 0, returnsSum = 0;
        if (!DriverSucceeded(query(&salesCount, &returnsCount, &salesSum, &returnsSum)))
            return std::nullopt;
        return CountsAndSums{static_cast<uint16_t>(salesCount), static_cast<uint16_t>(returnsCount),
                             salesSum, returnsSum};
    };
    results.voided = countsAndSums(&FPGetResetOrders);
    results.cancels = countsAndSums(&FPGetCancels);

    TaxRates taxes;
    std::array<KrvBool16, 5> compound{};
    KrvBool16 addedTax = 0, withLevy = 0;
    if (DriverSucceeded(FPGetTaxRate(taxes.rates.data(), 5, taxes.levies.data(), 5, compound.data(),
                                     4, &taxes.count, &addedTax, &withLevy))) {
        taxes.addedTax = addedTax != 0;
        taxes.withLevy = withLevy != 0;
        for (size_t k = 0; k < compound.size(); ++k)
            taxes.compound[k] = compound[k] != 0;
        results.taxRates = taxes;
    }
    return results;
}

QString InformationText(const InformationResults &r, const QLocale &locale) {
    const QChar sep = DecimalSeparatorOf(locale);
    const auto number = [](const std::optional<uint16_t> &value) {
        return value ? QString::number(*value) : kNotRead;
    };
    const auto money = [sep](const std::optional<int64_t> &value) {
        return value ? FormatPanelMoney(*value, sep) : kNotRead;
    };
    TextBuilder out;
    out.Value(QStringLiteral("Номер последнего чека продаж:                              "),
              number(r.saleReceiptNumber));
    out.Value(QStringLiteral("Общая сумма дневных оборотов продаж:               "),
              money(r.saleDaySum));
    out.Value(QStringLiteral("Номер последнего чека возврата:                           "),
              number(r.payReceiptNumber));
    out.Value(QStringLiteral("Общая сумма дневных оборотов возвратов:          "),
              money(r.payDaySum));

    const QString zNumberLabel =
        QStringLiteral("Номер последнего Z-отчета:                                    ");
    if (r.lastZReport) {
        out.Value(zNumberLabel, QString::number(r.lastZReport->number));
        out.Value(QStringLiteral("Дата снятия последнего Z-отчета:                          "),
                  ShortDateText(r.lastZReport->date, locale));
    } else {
        out.Value(zNumberLabel, kNotRead);
        out.Value(QStringLiteral("Дата снятия последнего Z-отчета:                         "),
                  kNotRead);
    }
    out.Empty();

    if (r.voided) {
        out.Line(QStringLiteral("Информация по аннуляциям:"));
        CountsAndSumsLines(out, *r.voided,
                           {QStringLiteral("Количество аннулированных чеков продаж:         "),
                            QStringLiteral("Количество аннулированных чеков возвратов:    "),
                            QStringLiteral("Сумма по аннулированным чекам продаж:              "),
                            QStringLiteral("Сумма по аннулированным чекам возвратов:         ")},
                           sep);
    } else {
        out.Value(QStringLiteral("Информация по аннуляциям:                                     "),
                  kNotRead);
    }
    out.Empty();

    if (r.cancels) {
        out.Line(QStringLiteral("Информация по отменам:"));
        CountsAndSumsLines(
            out, *r.cancels,
            {QStringLiteral("Количество отмен в чеках продаж:                        "),
             QStringLiteral("Количество отмен в чеках возвратов:                    "),
             QStringLiteral("Сумма отмен в чеках продаж:                                  "),
             QStringLiteral("Сумма отмен в чеках возвратов:                             ")},
            sep);
    } else {
        out.Value(
            QStringLiteral("Информация по отменам:                                           "),
            kNotRead);
    }

    out.text += QString(84, u'-') + QStringLiteral("\r\r\n");
    TaxRatesPart(out, r.taxRates, sep);
    return out.text;
}

// ---- "Итоги за день" ----------------------------------------------------------------

bool QueryDayTotals(DayTotals &totals) {
    DayTotals t;
    int16_t salesReceipts = 0, payoutReceipts = 0;
    if (!DriverSucceeded(FPGetDayReport(
            &salesReceipts, &payoutReceipts, t.salesByGroup.data(), 5, t.salesByForm.data(), 9,
            t.payoutsByGroup.data(), 5, t.payoutsByForm.data(), 9, &t.salesMarkups,
            &t.salesDiscounts, &t.returnsMarkups, &t.returnsDiscounts, &t.cashIn, &t.cashOut)))
        return false;
    t.salesReceipts = static_cast<uint16_t>(salesReceipts);
    t.payoutReceipts = static_cast<uint16_t>(payoutReceipts);
    totals = t;
    return true;
}

QString DayTotalsText(const DayTotals &t, const QStringList &formNames, const QLocale &locale) {
    const QChar sep = DecimalSeparatorOf(locale);
    TextBuilder out;
    out.Value(QStringLiteral("Счетчик чеков продаж:     "), QString::number(t.salesReceipts));
    out.Value(QStringLiteral("Счетчик чеков выплат:     "), QString::number(t.payoutReceipts));
    out.Empty();
    out.Line(QStringLiteral("Дневные счетчики сумм продаж по налоговым группам: "));
    GroupLines(out, t.salesByGroup, 4, sep);
    out.Line(QStringLiteral("Дневные счетчики сумм возвратов по налоговым группам: "));
    GroupLines(out, t.payoutsByGroup, 4, sep);
    out.Line(QStringLiteral("Дневные счетчики сумм продаж по формам оплат: "));
    FormLines(out, t.salesByForm, formNames, sep);
    out.Line(QStringLiteral("Дневные счетчики сумм возвратов по формам оплат: "));
    FormLines(out, t.payoutsByForm, formNames, sep);
    out.Line(QStringLiteral("Дневные счетчики сумм наценок и скидок по продажам и возвратам: "));
    out.Value(QStringLiteral("Сумма наценок по продажам:      "),
              FormatPanelMoney(t.salesMarkups, sep));
    out.Value(QStringLiteral("Сумма скидок по продажам:        "),
              FormatPanelMoney(t.salesDiscounts, sep));
    out.Value(QStringLiteral("Сумма наценок по возвратам:     "),
              FormatPanelMoney(t.returnsMarkups, sep));
    out.Value(QStringLiteral("Сумма скидок по возвратам:       "),
              FormatPanelMoney(t.returnsDiscounts, sep));
    out.Empty();
    out.Line(QStringLiteral("Дневные счетчики сумм служебных операций: "));
    out.Value(QStringLiteral("Общая сумма служебных внесений:     "),
              FormatPanelMoney(t.cashIn, sep));
    out.Value(QStringLiteral("Общая сумма служебных изъятий:       "),
              FormatPanelMoney(t.cashOut, sep));
    return out.text;
}

// ---- "Данные текущего чека" -----------------------------------------------------------

bool QueryReceiptSums(ReceiptSums &sums) {
    std::array<int32_t, 6> groups{};
    std::array<int32_t, 10> forms{};
    if (!DriverSucceeded(FPGetCheckSums(groups.data(), 5, forms.data(), 9)))
        return false;
    // The printer's 32-bit sums are unsigned.
    for (size_t g = 0; g < groups.size(); ++g)
        sums.byGroup[g] = static_cast<uint32_t>(groups[g]);
    for (size_t f = 0; f < forms.size(); ++f)
        sums.byForm[f] = static_cast<uint32_t>(forms[f]);
    return true;
}

QString ReceiptSumsText(const ReceiptSums &sums, const QStringList &formNames,
                        const QLocale &locale) {
    const QChar sep = DecimalSeparatorOf(locale);
    TextBuilder out;
    out.Line(QStringLiteral("Счетчики оборотов по налоговым группам: "));
    GroupLines(out, sums.byGroup, 3, sep);
    out.Line(QStringLiteral("Суммы оплат по формам оплат: "));
    FormLines(out, sums.byForm, formNames, sep);
    return out.text;
}

QString PaymentFormLabel(const QString &name) {
    const qsizetype blanks = std::max<qsizetype>(0, 16 - name.size());
    return name + u':' + QString(blanks, u' ');
}

} // namespace krv::console
