// The stress test without its window: what one receipt sells, how a run
// starts, the largest time kept on the window, and the line each receipt
// adds to the log "Logo.txt".
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace krv::console {

inline constexpr int kMinStressPositions = 1;
inline constexpr int kMaxStressPositions = 255;
// The log of a run, in the current folder.
inline constexpr const char *kStressLogName = "Logo.txt";
// The pause after each receipt.
inline constexpr int kStressPauseMs = 2000;

// One sale of a stress receipt: quantity 1 without decimals, name taken
// from the request.
struct StressSale {
    int32_t price = 0; // kopecks
    uint8_t taxGroup = 0;
    std::string name; // Windows-1251
    int64_t code = 0;
};

struct StressReceipt {
    std::vector<StressSale> sales;
    int64_t total = 0; // kopecks, paid in cash
};

// Position k (1-based) costs k hryvnias in group (k - 1) mod 6 and takes
// the next code, starting at `firstCode`.
StressReceipt PlanStressReceipt(int64_t firstCode, int positions);
// "Товар <code>" and 39 "#".
QString StressArticleName(int64_t code);

struct StartCodeParse {
    bool ok = false;
    int64_t code = 1;
    QString error; // the input-error box's text
};
// The first code of a run: 1 for an empty field, else the field as a
// 64-bit integer.
StartCodeParse ParseStressStartCode(const QString &text);

// The positions are checked before the first receipt.
bool StressPositionsValid(int positions);
QString StressPositionsErrorText();
QString StressLogErrorText();

// The text of "Максимальное время печати чека" after a receipt printed in
// `lastPrintMs`: the larger of the two, an empty or unreadable label taking
// the new time.
QString StressMaxText(const QString &labelText, int64_t lastPrintMs);

// One line of the log (without its line end).
QString StressLogLine(int receiptNumber, int64_t lastPrintMs, int64_t totalMs,
                      const QString &maxText);

// Creates or empties the log; false when it cannot be written.
bool ResetStressLog(const QString &path);
// Appends one line and CR LF in Windows-1251; false when it cannot.
bool AppendStressLog(const QString &path, const QString &line);

} // namespace krv::console
