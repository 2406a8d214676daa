#include "memory_dump.h"

#include "driver_binding.h"
#include "text_forms.h"

#include <KRV_T100DRV.h>

#include <algorithm>

namespace krv::console {

namespace {

std::optional<unsigned> HexDigit(QChar c) {
    if (c >= u'0' && c <= u'9')
        return static_cast<unsigned>(c.unicode() - u'0');
    if (c >= u'A' && c <= u'F')
        return static_cast<unsigned>(c.unicode() - u'A' + 10);
    return std::nullopt;
}

} // namespace

std::optional<uint16_t> ParseHexAddress(const QString &text) {
    if (text.size() != 4)
        return std::nullopt;
    unsigned value = 0;
    for (QChar c : text) {
        const std::optional<unsigned> digit = HexDigit(c);
        if (!digit)
            return std::nullopt;
        value = value * 16 + *digit;
    }
    return static_cast<uint16_t>(value);
}

QString BadAddressText() {
    return QStringLiteral("Адрес задан неверно!");
}

std::vector<DumpBlock> PlanDumpBlocks(uint16_t start, uint16_t end) {
    std::vector<DumpBlock> blocks;
    for (unsigned address = start; address < end;) {
        const unsigned size = std::min<unsigned>(kDumpBlockBytes, end - address);
        blocks.push_back(DumpBlock{static_cast<uint16_t>(address), static_cast<uint8_t>(size)});
        address += size;
    }
    return blocks;
}

DumpRangeBuild BuildDumpRange(const QString &startText, const QString &endText) {
    DumpRangeBuild build;
    if (startText.isEmpty()) {
        build.error = QStringLiteral("Начальный адрес задан неверно!");
        return build;
    }
    const std::optional<uint16_t> start = ParseHexAddress(startText);
    if (!start) {
        build.error = BadAddressText();
        return build;
    }
    if (endText.isEmpty()) {
        build.error = QStringLiteral("Конечный адрес задан неверно!");
        return build;
    }
    const std::optional<uint16_t> end = ParseHexAddress(endText);
    if (!end) {
        build.error = BadAddressText();
        return build;
    }
    if (*end < *start) {
        build.error = QStringLiteral("Начальный адрес старше конечного адреса!");
        return build;
    }
    if (*end == *start) {
        build.error = QStringLiteral("Нет данных для чтения!");
        return build;
    }
    build.start = *start;
    build.end = *end;
    build.ok = true;
    return build;
}

bool ReadMemoryBlock(uint8_t page, uint16_t address, uint8_t size, QByteArray &bytes) {
    std::vector<uint8_t> block;
    if (!CallReadMemory(address, page, std::min<uint8_t>(size, kDumpBlockBytes), block))
        return false;
    bytes = QByteArray(reinterpret_cast<const char *>(block.data()),
                       static_cast<qsizetype>(block.size()));
    return true;
}

RangeReadOutcome ReadMemoryRange(uint8_t page, const std::vector<DumpBlock> &blocks,
                                 const std::function<void(int)> &afterBlock) {
    RangeReadOutcome outcome;
    outcome.data.reserve(static_cast<qsizetype>(blocks.size()) * kDumpBlockBytes);
    for (const DumpBlock &block : blocks) {
        QByteArray bytes;
        if (!ReadMemoryBlock(page, block.address, block.size, bytes)) {
            outcome.data.clear();
            return outcome;
        }
        outcome.data += bytes;
        ++outcome.blocks;
        if (afterBlock)
            afterBlock(outcome.blocks);
    }
    outcome.ok = true;
    return outcome;
}

QString RangeReadQuestion(int blocks) {
    return QStringLiteral("Операция завершна, вычитано блоков - ") + QString::number(blocks) +
           QStringLiteral(".\r\n") + QStringLiteral("Хотите сохранить данные в файл?");
}

QStringList HexViewLines(std::span<const uint8_t> bytes) {
    QStringList lines;
    for (size_t line = 0; line < kHexViewLines; ++line) {
        QString text;
        for (size_t i = line * kHexViewLineBytes;
             i < std::min(bytes.size(), (line + 1) * kHexViewLineBytes); ++i)
            text += HexDigits(bytes[i], 2) + u' ';
        lines << text;
    }
    return lines;
}

QString DumpFileName(const QString &chosen, const QString &extension) {
    return chosen + extension;
}

} // namespace krv::console
