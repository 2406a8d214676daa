// The tab "Отчеты" without its widgets: the checks of the typed report
// numbers and article codes, the driver calls of the printed reports, and
// the three texts the console assembles from the printer's counters
// ("Сведения", "Итоги за день", "Данные текущего чека").
//
// The texts are built from plain result structs, so each is a function of
// what the driver answered; the Query* functions fill those structs.
#pragma once

#include "text_forms.h"

#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

namespace krv::console {

// ---- Inputs ------------------------------------------------------------------

// The article-code fields are checked on every change with AllDecimalDigits.

// The article-code fields' error texts, shown when a field holds anything
// but digits (on a change) or nothing at all (when the report is asked for).
QString FirstArticleCodeError();
QString LastArticleCodeError();

// "X-отчет по товарам": with "Весь диапазон" ticked the fields are not
// read at all; otherwise both are read, and two zeros also mean the whole
// range. The whole range is printed only after the operator agreed.
struct ArticleRangeBuild {
    bool ok = false;
    bool wholeRange = false; // ask first, then send 0 and 0
    int64_t first = 0, last = 0;
    QString error;
};
ArticleRangeBuild BuildArticleRange(bool wholeRangeChecked, const QString &first,
                                    const QString &last);
// The question before a report over every article.
QString WholeRangeQuestion();

// "Отчет по номерам": digits only, both present, each a 16-bit report number.
struct ReportNumbersBuild {
    bool ok = false;
    uint16_t first = 0, last = 0;
    QString error;
};
ReportNumbersBuild BuildReportNumbers(const QString &first, const QString &last);

// The tape of the service report: 1 receipt tape only, 2 control tape only,
// 0 both (the receipt-tape box wins when both are ticked).
int ServiceReportTape(bool receiptTapeOnly, bool controlTapeOnly);

// The lines of a multi-line field as the operator sees them: none for an
// empty text, and a final line break opens no further line.
QStringList MemoLines(const QString &text);

// ---- Printed reports -----------------------------------------------------------

bool CallDayReport(uint16_t password);    // X report
bool CallDayClrReport(uint16_t password); // Z report, closes the day
bool CallArticleReport(uint16_t password, int64_t first, int64_t last);
// Full (FPPeriodicReport) or short (FPPeriodicReportShort) report by dates.
bool CallPeriodicReport(bool shortForm, uint16_t password, QDate from, QDate to);
bool CallPeriodicNumberReport(uint16_t password, uint16_t first, uint16_t last);
// Prints `lines` as a non-fiscal document; closeDocument ends it.
bool CallServiceReport(const QStringList &lines, bool closeDocument, int tape);

// ---- "Сведения" -------------------------------------------------------------------

struct CountsAndSums {
    uint16_t salesCount = 0, returnsCount = 0;
    int64_t salesSum = 0, returnsSum = 0;
};

struct LastZReport {
    uint16_t number = 0;
    QDate date;
};

// The tax rates as the printer keeps them: hundredths of a percent; the
// levy words carry the compound mark apart.
struct TaxRates {
    uint8_t count = 0;
    bool addedTax = false;
    bool withLevy = false;
    std::array<int32_t, 6> rates{};
    std::array<int32_t, 6> levies{};
    std::array<bool, 5> compound{};
};

// What each query answered; nothing where it failed.
struct InformationResults {
    std::optional<uint16_t> saleReceiptNumber;
    std::optional<int64_t> saleDaySum;
    std::optional<uint16_t> payReceiptNumber;
    std::optional<int64_t> payDaySum;
    std::optional<LastZReport> lastZReport;
    std::optional<CountsAndSums> voided;
    std::optional<CountsAndSums> cancels;
    std::optional<TaxRates> taxRates;
};

// Runs every query in order, whatever the one before answered.
InformationResults QueryInformation();
// The text of the box "Информация"; dates in the locale's short format,
// amounts with its decimal separator.
QString InformationText(const InformationResults &results, const QLocale &locale);

// ---- "Итоги за день" ----------------------------------------------------------------

struct DayTotals {
    uint16_t salesReceipts = 0, payoutReceipts = 0;
    std::array<int64_t, 6> salesByGroup{}, payoutsByGroup{};
    std::array<int64_t, 10> salesByForm{}, payoutsByForm{};
    int64_t salesMarkups = 0, salesDiscounts = 0, returnsMarkups = 0, returnsDiscounts = 0;
    int64_t cashIn = 0, cashOut = 0;
};

bool QueryDayTotals(DayTotals &totals);
// `formNames`: the ten payment-form names of the receipt tab's list (a
// missing name counts as empty).
QString DayTotalsText(const DayTotals &totals, const QStringList &formNames, const QLocale &locale);

// ---- "Данные текущего чека" -----------------------------------------------------------

struct ReceiptSums {
    std::array<uint32_t, 6> byGroup{};
    std::array<uint32_t, 10> byForm{};
};

bool QueryReceiptSums(ReceiptSums &sums);
QString ReceiptSumsText(const ReceiptSums &sums, const QStringList &formNames,
                        const QLocale &locale);

// A payment-form name, ":" and blanks up to 17 characters (none after a
// name of 16 characters or more).
QString PaymentFormLabel(const QString &name);

} // namespace krv::console
