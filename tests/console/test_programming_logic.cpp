// The programming tab's rules without widgets: number characters, the cuts
// and limits of double-width lines, rate texts and numbers, the checks and
// entries of a tax write, what a tax read shows, the grid's compound rows and
// the controls the tax rules leave working.
#include "access_modes.h"
#include "console_state.h"
#include "header_logic.h"
#include "tax_logic.h"

#include <gtest/gtest.h>

#include <optional>

using namespace krv::console;

namespace {

TEST(NumberCharacters, DigitsAndLettersOnly) {
    const struct {
        const char *text;
        int refusedAt;
    } cases[] = {
        {"1234567890", -1},
        {"AZaz09", -1},
        {"АЯаяЁёЄєЇїІі", -1},
        {"12-34", 2},
        {"12 34", 2},
        {"ФН.1", 2},
        {"Ґ1", 0},
        {"", -1},
        {"ÀÉ", 0}, // Latin letters outside A-Z are not the printer's
    };
    for (const auto &c : cases)
        EXPECT_EQ(FirstRefusedNumberCharacter(QString::fromUtf8(c.text)), c.refusedAt) << c.text;
}

TEST(DoubleWidth, MessageLineCutsAndHeaderLimits) {
    const struct {
        int length;
        bool doubleWidth, firstModel;
        bool ask;
        int limit;
    } cuts[] = {
        {25, true, true, true, 20},  {25, true, false, true, 19}, {20, true, true, false, 20},
        {20, true, false, true, 19}, {36, false, true, false, 0}, {19, true, false, false, 19},
    };
    for (const auto &c : cuts) {
        const LineCut cut = MessageLineCut(c.length, c.doubleWidth, c.firstModel);
        EXPECT_EQ(cut.ask, c.ask) << c.length << " " << c.doubleWidth << " " << c.firstModel;
        if (c.ask) {
            EXPECT_EQ(cut.limit, c.limit);
        }
    }
    EXPECT_EQ(CutQuestionText(19), QStringLiteral("В режиме двойной ширины строка не может "
                                                  "превышать 19 символов.\r\nОбрезать строку?"));
    // Only the second initial line's question at 20 ends with "?!".
    for (int line = 0; line < kMessageLineCount; ++line) {
        EXPECT_EQ(CutQuestionCaption(line, 19), QStringLiteral("Что будем делать?"));
        EXPECT_EQ(CutQuestionCaption(line, 20), line == 1 ? QStringLiteral("Что будем делать?!")
                                                          : QStringLiteral("Что будем делать?"));
    }

    const struct {
        int line;
        bool doubleWidth, firstModel;
        const char *label;
    } limits[] = {
        {0, false, true, "Строка №1 (0..30 символов)"},
        {1, true, false, "Строка №2 (0..19 символов)"},
        {2, true, true, "Строка №3 (0..20 символов)"},
        {3, false, false, "Дополнительная строка №1 (0..36 символов)"},
        {4, true, true, "Дополнительная строка №2 (0..20 символов)"},
        {4, true, false, "Дополнительная строка №2 (0..19 символов)"},
    };
    for (const auto &l : limits)
        EXPECT_EQ(HeaderLimitLabel(l.line, HeaderLineLimit(l.line, l.doubleWidth, l.firstModel)),
                  QString::fromUtf8(l.label));
}

TEST(RateTexts, MaskEditNormalisationAndStoredText) {
    const struct {
        const char *edit, *normalised, *stored;
    } cases[] = {
        {" 5,00%", "5,00", "5,00"},   {"05,00%", "5,00", "05,00"}, {"20,00%", "20,00", "20,00"},
        {"1 ,5 %", "10,50", "1 ,5 "}, {"  ,  %", "0,00", " ,  "},  {" 0,50%", "0,50", "0,50"},
    };
    for (const auto &c : cases) {
        const QString edit = QString::fromUtf8(c.edit);
        EXPECT_EQ(NormalisedRateText(edit), QString::fromUtf8(c.normalised)) << c.edit;
        EXPECT_EQ(StoredRateText(edit), QString::fromUtf8(c.stored)) << c.edit;
    }
    EXPECT_EQ(RateEditText(QStringLiteral("5,00")), QStringLiteral(" 5,00%"));
    EXPECT_EQ(RateEditText(QStringLiteral("12,50")), QStringLiteral("12,50%"));
}

TEST(RateNumbers, ParsedAndShownWithTheSeparatorGiven) {
    const struct {
        const char *text;
        char separator;
        std::optional<int32_t> hundredths;
    } cases[] = {
        {"20,00", ',', 2000}, {"5,5", ',', 550},  {"0,00", ',', 0},    {"7", ',', 700},
        {"12.34", '.', 1234}, {"20,00", '.', {}}, {"20.00", ',', {}},  {"", ',', {}},
        {"1,", ',', {}},      {"-1,00", ',', {}}, {"НДС+ПС", ',', {}}, {"0,125", ',', 13},
    };
    for (const auto &c : cases)
        EXPECT_EQ(RateHundredths(QString::fromUtf8(c.text), QLatin1Char(c.separator)), c.hundredths)
            << c.text << " " << c.separator;
    EXPECT_EQ(RateText(2000, QLatin1Char(',')), QStringLiteral("20,00"));
    EXPECT_EQ(RateText(500, QLatin1Char('.')), QStringLiteral("5.00"));
    EXPECT_EQ(RateText(7, QLatin1Char(',')), QStringLiteral("0,07"));
}

RateCells Cells(std::initializer_list<const char *> texts) {
    RateCells cells;
    size_t i = 0;
    for (const char *text : texts)
        cells[i++] = QString::fromUtf8(text);
    return cells;
}

TEST(TaxWrite, CellChecksUnderEachSeparator) {
    const QString gap = QStringLiteral("Пустые поля между значениями ставок не допускаются!");
    const QString bad = QStringLiteral("Налоговые ставки заданы неверно!");
    const QString format = QStringLiteral("Неправильный формат налоговых ставок!");
    const struct {
        RateCells cells;
        char separator;
        QString error;
        int count;
    } cases[] = {
        {Cells({"20,00", "5,00", "0,00"}), ',', {}, 3},
        {Cells({"20,00", "5,00"}), ',', {}, 2},
        {Cells({"20.00", "5.00"}), '.', {}, 2},
        {Cells({"5"}), ',', bad, 0},
        {Cells({"20,0"}), ',', bad, 0},
        {Cells({"100,00"}), ',', bad, 0},
        {Cells({"20.00"}), ',', bad, 0},
        {Cells({"20,00"}), '.', bad, 0},
        {Cells({"20,00", "", "5,00"}), ',', gap, 0},
        {Cells({"", "", "", "", "5,00"}), ',', gap, 0},
        // A group without the scheme has no rate behind "НДС+ПС".
        {Cells({"НДС+ПС"}), ',', format, 0},
        // Nothing at all passes the checks; the driver refuses a count of 0.
        {Cells({}), ',', {}, 0},
    };
    for (const auto &c : cases) {
        const TaxWriteBuild build =
            BuildTaxWrite(c.cells, DefaultCompoundScheme(), 1, QLatin1Char(c.separator));
        EXPECT_EQ(build.error, c.error) << c.cells[0].toStdString() << " " << c.separator;
        EXPECT_EQ(build.ok, c.error.isEmpty());
        if (build.ok) {
            EXPECT_EQ(build.request.count, c.count);
        }
    }
}

TEST(TaxWrite, EntriesOfCompoundGroups) {
    const auto scheme = [](int group, bool taxOnLevy, const char *levy) {
        CompoundScheme s = DefaultCompoundScheme();
        s[static_cast<size_t>(group)].useCompound = true;
        s[static_cast<size_t>(group)].taxOnLevy = taxOnLevy;
        s[static_cast<size_t>(group)].levyRateText = QString::fromUtf8(levy);
        return s;
    };
    const struct {
        const char *what;
        CompoundScheme applied;
        RateCells cells;
        char separator;
        int taxType;
        RateEntry groupB;
        bool withLevy;
        int32_t groupFLevy;
        bool addedTax;
    } cases[] = {
        {"В compound, tax on levy",
         scheme(2, true, "5,00"),
         Cells({"20,00", "0,00", "НДС+ПС"}),
         ',',
         1,
         {false, 2000, 500, true},
         true,
         0,
         false},
        {"В compound, no tax on levy",
         scheme(2, false, "5,00"),
         Cells({"20,00", "0,00", "НДС+ПС"}),
         ',',
         1,
         {false, 2000, 500, false},
         true,
         0,
         false},
        // The scheme's texts carry a comma whatever the locale.
        {"В compound, point locale",
         scheme(2, true, "5,00"),
         Cells({"20.00", "0.00", "НДС+ПС"}),
         '.',
         1,
         {false, 2000, 500, true},
         true,
         0,
         false},
        {"Е levy alone",
         scheme(5, false, "3,00"),
         Cells({"20,00", "0,00", "7,00"}),
         ',',
         1,
         {false, 700, 0, false},
         true,
         300,
         false},
        {"Е levy of zero",
         scheme(5, false, "0,00"),
         Cells({"20,00", "0,00", "7,00"}),
         ',',
         0,
         {false, 700, 0, false},
         false,
         0,
         true},
        {"plain rates",
         DefaultCompoundScheme(),
         Cells({"20,00", "0,00", "7,00"}),
         ',',
         0,
         {false, 700, 0, false},
         false,
         0,
         true},
    };
    for (const auto &c : cases) {
        const TaxWriteBuild build =
            BuildTaxWrite(c.cells, c.applied, c.taxType, QLatin1Char(c.separator));
        ASSERT_TRUE(build.ok) << c.what << ": " << build.error.toStdString();
        EXPECT_EQ(build.request.count, 3) << c.what;
        EXPECT_EQ(build.request.entries[0], (RateEntry{false, 2000, 0, false})) << c.what;
        EXPECT_EQ(build.request.entries[2], c.groupB) << c.what;
        EXPECT_EQ(build.request.withLevy, c.withLevy) << c.what;
        EXPECT_EQ(build.request.groupFLevy, c.groupFLevy) << c.what;
        EXPECT_EQ(build.request.addedTax, c.addedTax) << c.what;
    }
}

TEST(TaxRead, WithoutTheLevySchemeNoGroupStaysCompound) {
    CompoundScheme before = DefaultCompoundScheme();
    before[0].useCompound = true;
    before[4].useCompound = true; // not even read
    TaxReading reading;
    reading.count = 2;
    reading.addedTax = true;
    reading.entries[0] = {false, 2000, 0, false};
    reading.entries[1] = {false, 700, 0, false};
    const TaxReadView view = ViewOfTaxRead(reading, before, 3, QLatin1Char('.'));
    EXPECT_FALSE(AnyCompoundGroup(view.applied));
    EXPECT_EQ(view.cells, Cells({"20.00", "7.00"}));
    EXPECT_EQ(view.taxTypeIndex, 0);
    EXPECT_EQ(view.selectedGroup, 3);
    EXPECT_EQ(TaxReadMessage(QStringLiteral("09.12.2026"), false),
              QStringLiteral("Дата программирования налоговых групп: 09.12.2026"));
}

TEST(TaxControls, CompoundButtonAndTaxTypeFollowTheRulesOnTopOfTheModes) {
    const struct {
        uint8_t mode;
        int taxType;
        bool compound;
        bool button, taxTypeEnabled;
    } cases[] = {
        {kServiceMode, 1, false, true, true},    {kServiceMode, 0, false, false, true},
        {kSupervisorMode, 1, true, true, false}, {kCashierMode, 1, false, false, false},
        {kCashierMode, 1, true, false, false},
    };
    for (const auto &c : cases) {
        ModeContext context;
        context.accessMode = c.mode;
        context.taxTypeIndex = c.taxType;
        context.compoundGroupExists = c.compound;
        const ControlPlan plan = PlanForMode(context);
        EXPECT_EQ(plan.EnabledOf(QStringLiteral("BitBtn14")), c.button)
            << int(c.mode) << c.taxType << c.compound;
        EXPECT_EQ(plan.EnabledOf(QStringLiteral("RadioGroup3")), c.taxTypeEnabled)
            << int(c.mode) << c.taxType << c.compound;
    }
}

} // namespace
