// The tab " Дамп " without its widgets: hexadecimal addresses, the plan of
// blocks a range is read in, the reads themselves, the hex view text and the
// two dump files.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace krv::console {

// The printer hands out at most this many bytes a read.
inline constexpr int kDumpBlockBytes = 128;
// The hex view: 16 bytes a line, 8 lines.
inline constexpr size_t kHexViewLineBytes = 16;
inline constexpr size_t kHexViewLines = 8;

// Exactly four characters "0"-"9" or upper-case "A"-"F"; nothing otherwise
// (the box "Адрес задан неверно!").
std::optional<uint16_t> ParseHexAddress(const QString &text);
QString BadAddressText();

// One read of a range: `size` bytes (1..128) at `address`.
struct DumpBlock {
    uint16_t address = 0;
    uint8_t size = 0;
    bool operator==(const DumpBlock &) const = default;
};

// The blocks that read [start, end) in address order: 128 bytes each, the
// last one what remains. Empty when end <= start.
std::vector<DumpBlock> PlanDumpBlocks(uint16_t start, uint16_t end);

// The two address fields of a range read, checked in the order the operator
// meets them.
struct DumpRangeBuild {
    bool ok = false;
    uint16_t start = 0, end = 0; // end exclusive, start < end
    QString error;               // caption "Ошибка!"
};
DumpRangeBuild BuildDumpRange(const QString &startText, const QString &endText);

// FPGetMemoryData of `size` bytes (at most 128) at `address` on `page`.
bool ReadMemoryBlock(uint8_t page, uint16_t address, uint8_t size, QByteArray &bytes);

struct RangeReadOutcome {
    bool ok = false; // every block was read
    int blocks = 0;  // blocks read
    QByteArray data; // their bytes in address order; empty after a failure
};

// Reads the blocks in order and stops at the first failure, whose error
// stays the driver's last error: a dump with a hole would look whole.
// `afterBlock` runs after every block read, with the count so far.
RangeReadOutcome ReadMemoryRange(uint8_t page, const std::vector<DumpBlock> &blocks,
                                 const std::function<void(int)> &afterBlock = {});

// The question after a range read.
QString RangeReadQuestion(int blocks);

// Every byte as two upper-case hex digits and a blank, 16 a line, always
// 8 lines (empty past the data; data past 128 bytes is not shown).
QStringList HexViewLines(std::span<const uint8_t> bytes);
// The ".txt" file holds the lines as AnsiLinesBytes writes them.

// The chosen name with `extension` appended, whatever it ends in already.
QString DumpFileName(const QString &chosen, const QString &extension);
// Both files are written whole or not at all, with SaveFileBytes.

} // namespace krv::console
