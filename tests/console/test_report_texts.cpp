// The report tab's texts and inputs without widgets: the three assembled
// boxes against fixed driver results (labels, padding, failure
// placeholders), the payment-form padding, and the checks of the typed
// article codes and report numbers.
#include "report_logic.h"

#include <QLocale>

#include <gtest/gtest.h>

using namespace krv::console;

namespace {

const QLocale kUkrainian(QLocale::Ukrainian, QLocale::Ukraine);

TEST(ReportTexts, InformationWithEveryQueryAnswered) {
    InformationResults r;
    r.saleReceiptNumber = 1234;
    r.saleDaySum = 1234567;
    r.payReceiptNumber = 7;
    r.payDaySum = 5;
    r.lastZReport = LastZReport{65534, QDate(2024, 3, 15)};
    r.voided = CountsAndSums{2, 65535, 1050, 99};
    r.cancels = CountsAndSums{3, 0, 300, 0};
    TaxRates taxes;
    taxes.count = 5;
    taxes.addedTax = true;
    taxes.withLevy = true;
    taxes.rates = {2000, 700, 0, 1250, 2000, 0};
    taxes.levies = {150, 0, 200, 0, 500, 25};
    taxes.compound = {true, true, false, false, true};
    r.taxRates = taxes;

    const QString date = kUkrainian.toString(QDate(2024, 3, 15), QLocale::ShortFormat);
    const QString expected =
        QStringLiteral("Номер последнего чека продаж:                              \t1234\r\n"
                       "Общая сумма дневных оборотов продаж:               \t12345,67 грн.\r\n"
                       "Номер последнего чека возврата:                           \t7\r\n"
                       "Общая сумма дневных оборотов возвратов:          \t0,05 грн.\r\n"
                       "Номер последнего Z-отчета:                                    \t65534\r\n"
                       "Дата снятия последнего Z-отчета:                          \t") +
        date +
        QStringLiteral(
            "\r\n\r\n"
            "Информация по аннуляциям:\r\n"
            "Количество аннулированных чеков продаж:         \t2\r\n"
            "Количество аннулированных чеков возвратов:    \t65535\r\n"
            "Сумма по аннулированным чекам продаж:              \t10,50 грн.\r\n"
            "Сумма по аннулированным чекам возвратов:         \t0,99 грн.\r\n"
            "\r\n"
            "Информация по отменам:\r\n"
            "Количество отмен в чеках продаж:                        \t3\r\n"
            "Количество отмен в чеках возвратов:                    \t0\r\n"
            "Сумма отмен в чеках продаж:                                  \t3,00 грн.\r\n"
            "Сумма отмен в чеках возвратов:                             \t0,00 грн.\r\n") +
        QString(84, u'-') +
        QStringLiteral("\r\r\n"
                       "Тип налога: Наложенный НДС\r\r\n"
                       "Группа А: составной налог (НДС:\t20,00%\tСбор с НДС:\t1,50%)\r\n"
                       "Группа Б: \t7,00%\r\n"
                       "Группа В: составной налог (НДС:\t0,00%\tСбор без НДС:\t2,00%)\r\n"
                       "Группа Г: \t12,50%\r\n"
                       "Группа Д: составной налог (НДС:\t20,00%\tСбор c НДС:\t5,00%)\r\n"
                       "Группа Е: Необлагаемая группа + Сбор без НДС:\t0,25%)\r\n");
    EXPECT_EQ(InformationText(r, kUkrainian), expected);
}

TEST(ReportTexts, InformationWhenNothingButTheStatusAnswers) {
    const QString fail = QStringLiteral("\tне удалось получить\r\n");
    const QString expected =
        QStringLiteral("Номер последнего чека продаж:                              ") + fail +
        QStringLiteral("Общая сумма дневных оборотов продаж:               ") + fail +
        QStringLiteral("Номер последнего чека возврата:                           ") + fail +
        QStringLiteral("Общая сумма дневных оборотов возвратов:          ") + fail +
        QStringLiteral("Номер последнего Z-отчета:                                    ") + fail +
        QStringLiteral("Дата снятия последнего Z-отчета:                         ") + fail +
        QStringLiteral("\r\n") +
        QStringLiteral("Информация по аннуляциям:                                     ") + fail +
        QStringLiteral("\r\n") +
        QStringLiteral("Информация по отменам:                                           ") + fail +
        QString(84, u'-') + QStringLiteral("\r\r\nНе удалось получить ставки налоговых групп!\r\n");
    EXPECT_EQ(InformationText(InformationResults{}, kUkrainian), expected);
    EXPECT_EQ(expected.count(QStringLiteral("не удалось получить")), 8);
}

TEST(ReportTexts, TaxPartWithoutTheLevyScheme) {
    InformationResults r;
    TaxRates taxes;
    taxes.count = 6; // more than five groups never shows a sixth rate line
    taxes.rates = {2000, 0, 0, 0, 0, 0};
    taxes.levies = {150, 0, 0, 0, 0, 300};
    taxes.compound = {true, false, false, false, false};
    r.taxRates = taxes;
    const QString text = InformationText(r, QLocale::c());
    EXPECT_TRUE(text.endsWith(QStringLiteral("Тип налога: Вложенный НДС\r\r\n"
                                             "Группа А: \t20.00%\r\nГруппа Б: \t0.00%\r\n"
                                             "Группа В: \t0.00%\r\nГруппа Г: \t0.00%\r\n"
                                             "Группа Д: \t0.00%\r\n"
                                             "Группа Е: Необлагаемая группа\r\n")))
        << text.toStdString();
}

QStringList FormNames() {
    return {QStringLiteral("КАРТКА"),
            QString(),
            QStringLiteral("ЧЕК"),
            QStringLiteral("ГОТІВКА"),
            QStringLiteral("123456789012345"),
            QStringLiteral("1234567890123456"),
            QStringLiteral("ОПЛАТА 7"),
            QStringLiteral("ОПЛАТА 8"),
            QStringLiteral("ОПЛАТА 9"),
            QStringLiteral("ОПЛАТА 10")};
}

// The ten form lines of a sums text for sums 1..10 kopecks.
QString FormBlock() {
    const char *labels[10] = {
        "КАРТКА:          ", ":                ", "ЧЕК:             ", "ГОТІВКА:         ",
        "123456789012345: ", "1234567890123456:", "ОПЛАТА 7:        ", "ОПЛАТА 8:        ",
        "ОПЛАТА 9:        ", "ОПЛАТА 10:       "};
    QString block;
    for (int f = 0; f < 10; ++f)
        block += QString::fromUtf8(labels[f]) +
                 QStringLiteral("\t0,%1 грн.\r\n").arg(f + 1, 2, 10, QChar(u'0'));
    return block + QStringLiteral("\r\n");
}

// Six tax-group lines with `blanks` after the colon, then an empty line.
QString GroupBlock(const char *blanks, const QStringList &sums) {
    const char16_t *letters[6] = {u"А", u"Б", u"В", u"Г", u"Д", u"Е"};
    QString block;
    for (int g = 0; g < 6; ++g)
        block += QStringLiteral("Группа \"") + QString::fromUtf16(letters[g]) +
                 QStringLiteral("\":") + QString::fromLatin1(blanks) + u'\t' + sums[g] +
                 QStringLiteral(" грн.\r\n");
    return block + QStringLiteral("\r\n");
}

TEST(ReportTexts, DayTotals) {
    DayTotals t;
    t.salesReceipts = 12;
    t.payoutReceipts = 3;
    t.salesByGroup = {100, 0, 0, 0, 0, 250000000000};
    t.payoutsByGroup = {0, 0, 0, 0, 0, 1};
    for (int f = 0; f < 10; ++f)
        t.salesByForm[static_cast<size_t>(f)] = t.payoutsByForm[static_cast<size_t>(f)] = f + 1;
    t.salesMarkups = 11;
    t.salesDiscounts = 22;
    t.returnsMarkups = 33;
    t.returnsDiscounts = 44;
    t.cashIn = 5000;
    t.cashOut = 6000;
    const QString expected =
        QStringLiteral("Счетчик чеков продаж:     \t12\r\nСчетчик чеков выплат:     \t3\r\n\r\n"
                       "Дневные счетчики сумм продаж по налоговым группам: \r\n") +
        GroupBlock("    ", {"1,00", "0,00", "0,00", "0,00", "0,00", "2500000000,00"}) +
        QStringLiteral("Дневные счетчики сумм возвратов по налоговым группам: \r\n") +
        GroupBlock("    ", {"0,00", "0,00", "0,00", "0,00", "0,00", "0,01"}) +
        QStringLiteral("Дневные счетчики сумм продаж по формам оплат: \r\n") + FormBlock() +
        QStringLiteral("Дневные счетчики сумм возвратов по формам оплат: \r\n") + FormBlock() +
        QStringLiteral("Дневные счетчики сумм наценок и скидок по продажам и возвратам: \r\n"
                       "Сумма наценок по продажам:      \t0,11 грн.\r\n"
                       "Сумма скидок по продажам:        \t0,22 грн.\r\n"
                       "Сумма наценок по возвратам:     \t0,33 грн.\r\n"
                       "Сумма скидок по возвратам:       \t0,44 грн.\r\n\r\n"
                       "Дневные счетчики сумм служебных операций: \r\n"
                       "Общая сумма служебных внесений:     \t50,00 грн.\r\n"
                       "Общая сумма служебных изъятий:       \t60,00 грн.\r\n");
    EXPECT_EQ(DayTotalsText(t, FormNames(), kUkrainian), expected);
}

TEST(ReportTexts, CurrentReceiptSumsAreUnsigned) {
    ReceiptSums sums;
    sums.byGroup = {4294967295u, 0, 0, 0, 0, 7};
    for (int f = 0; f < 10; ++f)
        sums.byForm[static_cast<size_t>(f)] = static_cast<uint32_t>(f + 1);
    const QString expected =
        QStringLiteral("Счетчики оборотов по налоговым группам: \r\n") +
        GroupBlock("   ", {"42949672,95", "0,00", "0,00", "0,00", "0,00", "0,07"}) +
        QStringLiteral("Суммы оплат по формам оплат: \r\n") + FormBlock();
    EXPECT_EQ(ReceiptSumsText(sums, FormNames(), kUkrainian), expected);
}

TEST(ReportInputs, ArticleRange) {
    const QString first = FirstArticleCodeError(), last = LastArticleCodeError();
    struct Case {
        bool wholeChecked;
        const char *first, *last;
        bool ok, whole;
        int64_t firstCode, lastCode;
        QString error;
    } cases[] = {
        {true, "", "", true, true, 0, 0, {}}, // fields not read at all
        {true, "100", "12", true, true, 0, 0, {}},
        {false, "0", "0", true, true, 0, 0, {}},
        {false, "100", "12", true, false, 100, 12, {}},
        {false, "99999999999999", "0", true, false, 99999999999999, 0, {}},
        {false, "", "5", false, false, 0, 0, first},
        {false, "5", "", false, false, 0, 0, last},
        {false, "5", "1a", false, false, 0, 0, last},
    };
    for (const Case &c : cases) {
        const ArticleRangeBuild b = BuildArticleRange(c.wholeChecked, QString::fromUtf8(c.first),
                                                      QString::fromUtf8(c.last));
        SCOPED_TRACE(std::string(c.first) + " / " + c.last);
        EXPECT_EQ(b.ok, c.ok);
        EXPECT_EQ(b.error, c.error);
        if (c.ok) {
            EXPECT_EQ(b.wholeRange, c.whole);
            EXPECT_EQ(b.first, c.firstCode);
            EXPECT_EQ(b.last, c.lastCode);
        }
    }
}

TEST(ReportInputs, ReportNumbers) {
    const QString firstText =
        QStringLiteral("Начальный номер отчета должен быть целым неотрицательным числом!");
    const QString lastText =
        QStringLiteral("Конечный номер отчета должен быть целым неотрицательным числом!");
    const QString checkText = QStringLiteral("Проверьте правильность ввода номеров отчетов!");
    struct Case {
        const char *first, *last;
        QString error;
        uint16_t firstNumber, lastNumber;
    } cases[] = {
        {"1", "65535", {}, 1, 65535},    {"00009", "9", {}, 9, 9},
        {"12a", "3", firstText, 0, 0},   {"-1", "3", firstText, 0, 0},
        {"1", " 3", lastText, 0, 0},     {"1", "", checkText, 0, 0},
        {"", "1", checkText, 0, 0},      {"65536", "1", checkText, 0, 0},
        {"1", "99999", checkText, 0, 0}, {"1", "65536", checkText, 0, 0},
    };
    for (const Case &c : cases) {
        const ReportNumbersBuild b =
            BuildReportNumbers(QString::fromUtf8(c.first), QString::fromUtf8(c.last));
        SCOPED_TRACE(std::string(c.first) + " / " + c.last);
        EXPECT_EQ(b.ok, c.error.isEmpty());
        EXPECT_EQ(b.error, c.error);
        EXPECT_EQ(b.first, c.firstNumber);
        EXPECT_EQ(b.last, c.lastNumber);
    }
}

TEST(ReportInputs, TapeAndMemoLines) {
    EXPECT_EQ(ServiceReportTape(false, false), 0);
    EXPECT_EQ(ServiceReportTape(true, false), 1);
    EXPECT_EQ(ServiceReportTape(false, true), 2);
    EXPECT_EQ(MemoLines(QString()), QStringList());
    EXPECT_EQ(MemoLines(QStringLiteral("a\n\nb\n")),
              (QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")}));
}

} // namespace
