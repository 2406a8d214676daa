// What the modem diagnostics window makes of a ModemState: the detailed
// coloured listing, the Ukrainian report printed on the receipt tape and the
// saved text; and the driver calls that fetch the modem's answers.
#pragma once

#include "modem_state.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

namespace krv::console {

inline constexpr uint32_t kBlueRgb = 0x0000FF;
inline constexpr uint32_t kMaroonRgb = 0x800000;
inline constexpr uint32_t kGreenRgb = 0x008000;
inline constexpr uint32_t kRedRgb = 0xFF0000;

// One block of the listing: a label line, a value line and, for decoded
// codes, a description line (" Desription: ..."); an empty line follows.
struct ListingBlock {
    QString label;
    QString value;
    bool hasDescription = false;
    QString description;
    uint32_t valueRgb = kBlueRgb;
    uint32_t descriptionRgb = kBlueRgb;
};

// Blocks present for this state: the extended group needs OSRev 18 or more,
// the unused Res3 byte is listed only for OSRev 0.
std::vector<ListingBlock> DetailedListing(const ModemState &state);

// The 44 steps of the printed report, as lines.
QStringList PrintedReport(const ModemState &state);

// "value, 0x..." of a value of n bytes.
QString DecHexPair(uint32_t value, int n);
// OSVer with a point before its last two digits (105: "1.05", 7: ".7").
QString VersionText(uint16_t version);
// Thousandths as units with three decimals and the locale's separator.
QString MilliUnits(uint16_t value);

// The file name the save dialog proposes: "ID_DEV_" and the modem's
// identifier, or nothing while it is 0.
QString ProposedSaveName(uint32_t idDev);

// Writes the view's lines as AnsiLinesBytes forms them, through a temporary
// file renamed into place; the error text when that fails, else empty.
QString SaveViewFile(const QString &path, const QStringList &lines);

// ---- Driver calls -------------------------------------------------------------------

// The modem's own text (UTF-8); false when the driver failed.
bool CallModemStateText(QString &text);
// The state reply: the count byte as an unsigned number and that many bytes
// of a 65535-byte buffer (zero-filled past what the modem sent).
bool CallModemStateStruct(ModemStateReply &reply);
// Prints the lines as a closed non-fiscal document on the receipt tape.
bool CallPrintLines(const QStringList &lines);

} // namespace krv::console
