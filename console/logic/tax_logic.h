// Tax rates and the compound-tax scheme, without widgets: the rate texts of
// the grid and of the compound-tax window, the checks of a tax write, the
// rate entries it sends, what a tax read puts on the window, and how the
// grid shows a group that works by the compound scheme.
//
// The compound-scheme texts always carry a comma (the window's mask and the
// defaults put it there), whatever the locale; the grid's texts use the
// locale's decimal separator.
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace krv::console {

// The scheme of one tax group.
struct CompoundTaxGroup {
    bool useCompound = false;
    QString vatRateText;  // "20,00"; "без НДС" for group Е
    QString levyRateText; // "05,00"
    bool taxOnLevy = false;

    bool operator==(const CompoundTaxGroup &) const = default;
};

// Groups А..Е, index 0..5.
inline constexpr int kTaxGroupCount = 6;
// Rows 1-5 of the grid hold the rates of groups А..Д.
inline constexpr int kRateRows = 5;
using CompoundScheme = std::array<CompoundTaxGroup, kTaxGroupCount>;
using RateCells = std::array<QString, kRateRows>;

// Both copies at start: no compound group, VAT "20,00" ("без НДС" for Е),
// levy "05,00", no tax on the levy.
CompoundScheme DefaultCompoundScheme();
bool AnyCompoundGroup(const CompoundScheme &scheme);

// The text of a compound group's rate cell.
QString CompoundCellText();

// ---- The compound-tax window's rate edits ----------------------------------

// What a rate edit's change leaves (the "%" dropped): a blank before a
// one-digit integer part goes, every other blank becomes a zero, and a
// leading zero before a one-digit integer part goes: " 5,00%" -> "5,00",
// "05,00%" -> "5,00", "1 ,5 %" -> "10,50".
QString NormalisedRateText(const QString &editText);
// The edit's text as a stored rate: from its second character for four
// characters when it starts with a blank, else its first five characters.
QString StoredRateText(const QString &editText);
// The edit text that shows a stored rate in the mask "09,99%".
QString RateEditText(const QString &rateText);

// ---- Rate numbers -----------------------------------------------------------

// Percent text -> hundredths of a percent, rounded: digits, optionally
// `separator` and more digits. nullopt for anything else.
std::optional<int32_t> RateHundredths(const QString &text, QChar separator);
// Hundredths of a percent -> "%2.2f" of the percent with `separator`.
QString RateText(int32_t hundredths, QChar separator);

// ---- Tax write ----------------------------------------------------------------

// One rate entry as the driver takes and returns it.
struct RateEntry {
    bool hasLevy = false;
    int32_t rate = 0;     // hundredths of a percent
    int32_t levyRate = 0; // hundredths of a percent
    bool compound = false;

    bool operator==(const RateEntry &) const = default;
};

struct TaxWriteRequest {
    uint8_t count = 0;
    bool addedTax = false;
    std::array<RateEntry, kRateRows> entries{};
    bool withLevy = false;
    int32_t groupFLevy = 0;
};

struct TaxWriteBuild {
    bool ok = false;
    TaxWriteRequest request;
    QString error; // the input-error box's text when not ok
};

// The checks and entries of "Установить". `taxTypeIndex` is the tax-type
// group's item (0 added tax, 1 included tax). Compound rates are read with
// a comma, grid cells with `separator`.
TaxWriteBuild BuildTaxWrite(const RateCells &cells, const CompoundScheme &applied, int taxTypeIndex,
                            QChar separator);

// ---- Tax read -------------------------------------------------------------------

struct TaxReading {
    double date = 0; // day-based date-time of the programming
    uint8_t count = 0;
    bool addedTax = false;
    std::array<RateEntry, kTaxGroupCount> entries{};
    bool withLevy = false;
    uint16_t groupFLevy = 0;
};

struct TaxReadView {
    RateCells cells;  // rows after the last rate read are empty
    int taxTypeIndex; // 0 added tax, 1 included tax
    CompoundScheme applied;
    int selectedGroup; // 1..6
};

// What a read puts on the window. Groups the printer reports without a levy
// lose their compound settings, so that the grid and the next write show
// and send only the levies the printer has.
TaxReadView ViewOfTaxRead(const TaxReading &reading, const CompoundScheme &applied,
                          int selectedGroup, QChar separator);
// The information box after a read; `dateText` in the locale's short format.
QString TaxReadMessage(const QString &dateText, bool withLevy);

// ---- The grid's compound rows --------------------------------------------------

struct GridRow {
    QString cell;  // the rate cell's text
    QString saved; // the text typed into the row, kept while it shows the scheme
    bool green = false;

    bool operator==(const GridRow &) const = default;
};

// How a rate row looks: a compound group shows CompoundCellText() on light
// green while included tax is chosen, and gets its typed rate back as soon
// as it no longer does.
GridRow GridRowView(bool groupUsesCompound, int taxTypeIndex, const GridRow &row);

// ---- Driver calls ------------------------------------------------------------------

bool CallTaxRead(TaxReading &reading);                                // FPFullGetTaxRate
bool CallTaxWrite(uint16_t password, const TaxWriteRequest &request); // FPSetTaxRate
// The probe receipt after a write: one unit of "Тест", code 9999, 1 kopeck,
// group А.
bool CallProbeSale();

} // namespace krv::console
