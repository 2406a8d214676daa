// Damaged and hostile inputs against the console's readers: modem state
// replies of every length with any claimed length, logo files cut, flipped
// and with huge header fields, logo and stress-log paths that are no regular
// files, and dump addresses typed wrong. Every mutation is drawn from a fixed seed.
#include "logo_file.h"
#include "memory_dump.h"
#include "modem_state.h"
#include "stress_plan.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace krv::console;

namespace {

// Fixed-seed draws: the same mutations on every run.
struct Random {
    std::mt19937_64 engine;
    explicit Random(uint64_t seed) : engine(seed) {}
    uint64_t Next() { return engine(); }
    size_t Below(size_t n) { return n ? static_cast<size_t>(engine() % n) : 0; }
};

void PutLe(std::vector<uint8_t> &b, size_t at, uint32_t value, size_t size = 4) {
    for (size_t i = 0; i < size; ++i)
        b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A 1-bit BMP of width x height with a two-entry palette.
std::vector<uint8_t> Bitmap(int32_t width, int32_t height) {
    const size_t stride = (static_cast<size_t>(width) + 31) / 32 * 4;
    const size_t offBits = 14 + 40 + 8;
    std::vector<uint8_t> b(offBits + stride * static_cast<size_t>(std::abs(height)), 0x55);
    b[0] = 'B';
    b[1] = 'M';
    PutLe(b, 2, static_cast<uint32_t>(b.size()));
    PutLe(b, 6, 0);
    PutLe(b, 10, offBits);
    PutLe(b, 14, 40);
    PutLe(b, 18, static_cast<uint32_t>(width));
    PutLe(b, 22, static_cast<uint32_t>(height));
    PutLe(b, 26, 1, 2);
    PutLe(b, 28, 1, 2);
    PutLe(b, 30, 0);
    PutLe(b, 34, 0);
    PutLe(b, 54, 0);
    PutLe(b, 58, 0xFFFFFF);
    return b;
}

// What a loaded logo must satisfy: its bytes are a whole bottom-up file of
// the size it claims, never more than the file it came from.
void ExpectSound(const LogoLoad &load, size_t fileSize, const std::string &what) {
    if (!load.ok) {
        EXPECT_FALSE(load.error.isEmpty()) << what;
        return;
    }
    EXPECT_GT(load.image.width, 0) << what;
    EXPECT_GT(load.image.height, 0) << what;
    EXPECT_LE(load.image.bytes.size(), fileSize) << what;
    const size_t stride = (static_cast<size_t>(load.image.width) + 31) / 32 * 4;
    EXPECT_GE(load.image.bytes.size(), stride * static_cast<size_t>(load.image.height)) << what;
}

TEST(HostileLogo, CutsFlipsAndHugeFieldsFailWithAText) {
    const std::vector<uint8_t> valid = Bitmap(70, -9);
    ASSERT_TRUE(LogoFromBytes(valid).ok);
    for (size_t length = 0; length <= valid.size(); ++length) {
        const std::vector<uint8_t> cut(valid.begin(),
                                       valid.begin() + static_cast<std::ptrdiff_t>(length));
        ExpectSound(LogoFromBytes(cut), cut.size(), "cut " + std::to_string(length));
    }
    const uint32_t edges[] = {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xFFFFu, 0x10000u};
    for (size_t at = 2; at + 4 <= 62; at += 2) {
        for (uint32_t value : edges) {
            std::vector<uint8_t> bytes = valid;
            PutLe(bytes, at, value);
            ExpectSound(LogoFromBytes(bytes), bytes.size(), "field " + std::to_string(at));
        }
    }
    Random random(17);
    for (int i = 0; i < 2000; ++i) {
        std::vector<uint8_t> bytes = valid;
        for (size_t f = 1 + random.Below(3); f > 0; --f) {
            const size_t at = random.Below(62);
            bytes[at] ^= static_cast<uint8_t>(1u << random.Below(8));
        }
        ExpectSound(LogoFromBytes(bytes), bytes.size(), "flip " + std::to_string(i));
    }
}

TEST(HostileLogo, PathsThatAreNoRegularFilesAreRefusedWithoutBlocking) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pipe = dir.filePath(QStringLiteral("logo.bmp"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString huge = dir.filePath(QStringLiteral("huge.bmp"));
    {
        QFile file(huge);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const std::vector<uint8_t> head = Bitmap(8, 8);
        file.write(reinterpret_cast<const char *>(head.data()), static_cast<qint64>(head.size()));
        ASSERT_TRUE(file.resize(100 << 20));
    }
    struct Case {
        QString path;
        bool ok;
    } cases[] = {{pipe, false},       {huge, false},
                 {dir.path(), false}, {QStringLiteral("/dev/zero"), false},
                 {QString(), false},  {dir.filePath(QStringLiteral("missing.bmp")), false}};
    for (const Case &c : cases) {
        const LogoLoad load = LoadLogoFile(c.path);
        EXPECT_EQ(load.ok, c.ok) << c.path.toStdString();
        EXPECT_FALSE(load.error.isEmpty()) << c.path.toStdString();
    }
}

TEST(HostileStressLog, PathsThatAreNoRegularFilesAreRefusedWithoutBlocking) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pipe = dir.filePath(QStringLiteral("Logo.txt"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    for (const QString &path : {pipe, dir.path()}) {
        EXPECT_FALSE(ResetStressLog(path)) << path.toStdString();
        EXPECT_FALSE(AppendStressLog(path, QStringLiteral("1")));
    }
    const QString log = dir.filePath(QStringLiteral("log.txt"));
    ASSERT_TRUE(AppendStressLog(log, QStringLiteral("old")));
    ASSERT_TRUE(ResetStressLog(log));
    ASSERT_TRUE(AppendStressLog(log, QStringLiteral("Чек 1")));
    ASSERT_TRUE(AppendStressLog(log, QStringLiteral("Чек 2")));
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("\xD7\xE5\xEA 1\r\n\xD7\xE5\xEA 2\r\n"));
}

// Replies of every length, with the claimed highest index anywhere from
// none to past the bytes given: the parser reads only what it was given
// and takes the long form only when it is whole.
TEST(HostileModemState, RepliesOfEveryLengthAndClaim) {
    std::vector<uint8_t> bytes(kModemExtendedStateBytes + 40);
    Random random(23);
    for (uint8_t &b : bytes)
        b = static_cast<uint8_t>(random.Next());
    for (size_t length = 0; length <= bytes.size(); ++length) {
        const std::span<const uint8_t> given(bytes.data(), length);
        const int claims[] = {-1,
                              0,
                              static_cast<int>(length) - 1,
                              static_cast<int>(length),
                              static_cast<int>(kModemExtendedStateBytes) - 1,
                              INT_MAX,
                              INT_MIN};
        for (int claim : claims) {
            ModemState state;
            const bool ok = ModemStateParser(given, claim, state);
            const size_t used = claim < 0 ? 0 : std::min<size_t>(size_t(claim) + 1, length);
            EXPECT_EQ(ok, used >= kModemBaseStateBytes) << length << " " << claim;
            if (ok && used != kModemExtendedStateBytes) {
                EXPECT_TRUE(state.USSDResult.isEmpty()) << length << " " << claim;
            }
            if (ok && used == kModemExtendedStateBytes) {
                EXPECT_EQ(state.USSDResult.size(), 79) << length << " " << claim;
            }
        }
    }
    // Every code's texts exist for every byte value.
    for (int code = 0; code < 256; ++code) {
        const auto c = static_cast<uint8_t>(code);
        FailCodeName(c);
        FailCodeDescription(c);
        ModemState1Name(c);
        ModemState2Description(c);
        LanState2Name(c);
        RROXchgResultDescription(c);
        ACQXchgResultName(c);
        RSSIText(c);
        RSSI_BERText(c);
    }
    UssdText(QByteArray(79, '\0'));
    UssdText(QByteArray(79, '\xFF'));
}

// Addresses typed any way give a range or a message, and the hex view
// shows at most its lines whatever it is given.
TEST(HostileMemoryDump, TypedAddressesAndViewSizes) {
    const char *texts[] = {"",       "0",    "FFFF",
                           "FFFFF",  "-001", "+001",
                           "0x01",   "ffff", "  10",
                           "10  ",   "١٢٣٤", "\xEF\xBC\x91\xEF\xBC\x92\xEF\xBC\x93\xEF\xBC\x94",
                           "0000\n", "00\t0"};
    for (const char *start : texts) {
        for (const char *end : texts) {
            const DumpRangeBuild build =
                BuildDumpRange(QString::fromUtf8(start), QString::fromUtf8(end));
            EXPECT_NE(build.ok, !build.error.isEmpty()) << start << " " << end;
            if (build.ok) {
                EXPECT_LT(build.start, build.end) << start << " " << end;
                unsigned covered = build.start;
                for (const DumpBlock &block : PlanDumpBlocks(build.start, build.end)) {
                    EXPECT_EQ(block.address, covered);
                    EXPECT_GT(block.size, 0);
                    EXPECT_LE(block.size, kDumpBlockBytes);
                    covered += block.size;
                }
                EXPECT_EQ(covered, build.end) << start << " " << end;
            }
        }
    }
    std::vector<uint8_t> bytes(1000, 0xAB);
    for (size_t size :
         {size_t(0), size_t(1), size_t(127), size_t(128), size_t(129), size_t(1000)}) {
        const QStringList lines = HexViewLines(std::span<const uint8_t>(bytes.data(), size));
        EXPECT_EQ(lines.size(), static_cast<qsizetype>(kHexViewLines)) << size;
        for (const QString &line : lines)
            EXPECT_LE(line.size(), static_cast<qsizetype>(3 * kHexViewLineBytes)) << size;
    }
}

} // namespace
