// The dump tab's rules without widgets: hexadecimal addresses, the block
// plan of a range, the range checks, the hex view and its file.
#include "memory_dump.h"
#include "saved_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace krv::console;

namespace {

TEST(MemoryDump, ParseHexAddress) {
    struct Case {
        const char *text;
        std::optional<uint16_t> value;
    } cases[] = {
        {"0000", 0},
        {"00FF", 255},
        {"FFFF", 65535},
        {"A1B2", 0xA1B2},
        {"00ff", std::nullopt},
        {"0FF", std::nullopt},
        {"00FF0", std::nullopt},
        {"", std::nullopt},
        {"00G0", std::nullopt},
        {" 0FF", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ParseHexAddress(QString::fromUtf8(c.text)), c.value) << c.text;
}

TEST(MemoryDump, BlockPlans) {
    EXPECT_EQ(PlanDumpBlocks(0x0000, 0x0080), (std::vector<DumpBlock>{{0x0000, 128}}));
    EXPECT_EQ(PlanDumpBlocks(0x0000, 0x00C8),
              (std::vector<DumpBlock>{{0x0000, 128}, {0x0080, 72}}));
    EXPECT_EQ(PlanDumpBlocks(0x0010, 0x0011), (std::vector<DumpBlock>{{0x0010, 1}}));
    EXPECT_TRUE(PlanDumpBlocks(0x0100, 0x0100).empty());

    const std::vector<DumpBlock> page = PlanDumpBlocks(0x0000, 0xFFFF);
    ASSERT_EQ(page.size(), 512u);
    size_t bytes = 0;
    for (size_t i = 0; i < page.size(); ++i) {
        EXPECT_EQ(page[i].address, i * 128) << i;
        bytes += page[i].size;
    }
    EXPECT_EQ(page.back(), (DumpBlock{0xFF80, 127}));
    EXPECT_EQ(bytes, 0xFFFFu);
}

TEST(MemoryDump, RangeChecksInOrder) {
    const QString bad = BadAddressText();
    struct Case {
        const char *start, *end;
        QString error;
    } cases[] = {
        {"0000", "00C8", {}},
        {"", "zz", QStringLiteral("Начальный адрес задан неверно!")},
        {"00c8", "", bad},
        {"0000", "", QStringLiteral("Конечный адрес задан неверно!")},
        {"0000", "12", bad},
        {"0100", "00FF", QStringLiteral("Начальный адрес старше конечного адреса!")},
        {"0100", "0100", QStringLiteral("Нет данных для чтения!")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.start) + " - " + c.end);
        const DumpRangeBuild b =
            BuildDumpRange(QString::fromUtf8(c.start), QString::fromUtf8(c.end));
        EXPECT_EQ(b.ok, c.error.isEmpty());
        EXPECT_EQ(b.error, c.error);
    }
}

// Full blocks are checked byte for byte by the dump tab's own test; here
// the short block and the file rules.
TEST(MemoryDump, HexViewAndItsFile) {
    const std::vector<uint8_t> shortData{0xAB, 0x00};
    EXPECT_EQ(HexViewLines(shortData),
              (QStringList{QStringLiteral("AB 00 "), {}, {}, {}, {}, {}, {}, {}}));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = DumpFileName(dir.filePath(QStringLiteral("dump.txt")), ".txt");
    EXPECT_TRUE(path.endsWith(QStringLiteral("dump.txt.txt")));
    ASSERT_EQ(SaveFileBytes(path, AnsiLinesBytes(HexViewLines(shortData))), QString());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("AB 00 \r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n"));
    // A folder in the way is no file: nothing is written.
    EXPECT_FALSE(SaveFileBytes(dir.path(), QByteArray("x")).isEmpty());
}

} // namespace
