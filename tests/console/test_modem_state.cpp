// The modem state reply read byte by byte, its decoders at their edges, and
// what the diagnostics window and the printed report make of a state.
#include "modem_report.h"
#include "modem_state.h"
#include "saved_file.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace krv::console;

namespace {

std::vector<uint8_t> Reply(size_t size) {
    return std::vector<uint8_t>(size, 0);
}

void Put(std::vector<uint8_t> &bytes, size_t offset, std::initializer_list<uint8_t> values) {
    std::copy(values.begin(), values.end(), bytes.begin() + static_cast<ptrdiff_t>(offset));
}

ModemState Parse(const std::vector<uint8_t> &bytes) {
    ModemState state = EmptyModemState();
    EXPECT_TRUE(ModemStateParser(bytes, static_cast<int>(bytes.size()) - 1, state));
    return state;
}

// The extended part filled with recognisable values.
std::vector<uint8_t> ExtendedReply() {
    std::vector<uint8_t> bytes = Reply(189);
    const char ussd[] = "Balance 12.50";
    std::copy(std::begin(ussd), std::end(ussd) - 1, bytes.begin() + 76);
    bytes[76 + 20] = 'X';                      // after the zero: stored, not shown
    Put(bytes, 156, {0x23, 0x01});             // OSVer 0123 -> 123
    Put(bytes, 158, {18, 0});                  // OSRev
    Put(bytes, 160, {0x80, 0x51, 0x01, 0x00}); // 86400: 2000-01-02
    Put(bytes, 164, {192, 168, 1, 10});
    Put(bytes, 168, {192, 168, 1, 1});
    Put(bytes, 172, {255, 255, 255, 0});
    Put(bytes, 176, {10, 0, 0, 7});
    Put(bytes, 180, {193, 0, 2, 44});
    Put(bytes, 184, {0x1F, 0x90});
    return bytes;
}

void ExpectExtendedDefaults(const ModemState &s) {
    EXPECT_TRUE(s.USSDResult.isEmpty());
    EXPECT_EQ(s.OSVer, 0);
    EXPECT_EQ(s.OSRev, 0);
    EXPECT_EQ(s.ACQPort, 0);
    for (const QString &address : {s.NETIPAddr, s.NETGate, s.NETMask, s.MODIPAddr, s.ACQIPAddr})
        EXPECT_EQ(address, QStringLiteral("0.0.0.0"));
}

TEST(ModemStateParser, BaseFieldsKeepTheirByteOrders) {
    std::vector<uint8_t> bytes = Reply(76);
    Put(bytes, 12, {0x80, 0x51, 0x01, 0x00}); // 86400 seconds
    Put(bytes, 36, {0x12, 0x34, 0x56, 0x78}); // SN, low byte first
    Put(bytes, 44, {0x12, 0x34, 0x56, 0x78}); // ID_SAM, high byte first
    Put(bytes, 48, {0x00, 0x00, 0x01, 0x02}); // NT_SAM
    Put(bytes, 52, {0x01, 0x02});             // NT_SESSION
    Put(bytes, 56, {0x36, 0x10});             // BatVoltage 4150
    Put(bytes, 72, {0x02, 0x01});             // RROXchgErrorCnt
    Put(bytes, 74, {21, 3});
    const ModemState s = Parse(bytes);
    EXPECT_EQ(s.SN, 0x78563412u);
    EXPECT_EQ(s.ID_SAM, 0x12345678u);
    EXPECT_EQ(s.NT_SAM, 0x0102u);
    EXPECT_EQ(s.NT_SESSION, 0x0102);
    EXPECT_EQ(s.BatVoltage, 4150);
    EXPECT_EQ(s.RROXchgErrorCnt, 0x0102);
    EXPECT_EQ(s.RSSI, 21);
    EXPECT_EQ(s.RSSI_BER, 3);
    EXPECT_EQ(s.FirstUnsendPIDDateTime.date(), QDate(2000, 1, 2));
    EXPECT_EQ(s.FirstUnsendPIDDateTime.time(), QTime(0, 0));
    ExpectExtendedDefaults(s);
}

TEST(ModemStateParser, OnlyExactly189BytesCarryTheExtendedPart) {
    std::vector<uint8_t> extended = ExtendedReply();
    const ModemState s = Parse(extended);
    EXPECT_EQ(s.USSDResult.size(), 79);
    EXPECT_EQ(UssdText(s.USSDResult), QStringLiteral("Balance 12.50"));
    EXPECT_EQ(s.OSVer, 123);
    EXPECT_EQ(s.OSRev, 18);
    EXPECT_EQ(s.SysTime.date(), QDate(2000, 1, 2));
    EXPECT_EQ(s.NETIPAddr, QStringLiteral("192.168.1.10"));
    EXPECT_EQ(s.NETGate, QStringLiteral("192.168.1.1"));
    EXPECT_EQ(s.NETMask, QStringLiteral("255.255.255.0"));
    EXPECT_EQ(s.MODIPAddr, QStringLiteral("10.0.0.7"));
    EXPECT_EQ(s.ACQIPAddr, QStringLiteral("193.0.2.44"));
    EXPECT_EQ(s.ACQPort, 8080);

    // 100 bytes, or 189 bytes handed over with a lower highest index: base only.
    ExpectExtendedDefaults(Parse(std::vector<uint8_t>(extended.begin(), extended.begin() + 100)));
    ModemState s2 = EmptyModemState();
    ASSERT_TRUE(ModemStateParser(extended, 99, s2));
    ExpectExtendedDefaults(s2);
    // A version word with a digit above 9 is no version.
    Put(extended, 156, {0x00, 0x1A});
    EXPECT_EQ(Parse(extended).OSVer, 0);
}

TEST(ModemStateParser, ShortRepliesAreRefusedAndReadOnlyWhatWasGiven) {
    ModemState state = EmptyModemState();
    state.SN = 77;
    for (size_t size : {size_t{0}, size_t{1}, size_t{75}}) {
        std::vector<uint8_t> bytes(size, 0xFF);
        EXPECT_FALSE(ModemStateParser(bytes, static_cast<int>(size) - 1, state)) << size;
        // A highest index beyond the bytes given is not believed.
        EXPECT_FALSE(ModemStateParser(bytes, 188, state)) << size;
        EXPECT_EQ(state.SN, 77u);
    }
    // 76 bytes with a claimed 189: the base state, nothing read past them.
    std::vector<uint8_t> base(76, 0);
    Put(base, 36, {1, 0, 0, 0});
    ASSERT_TRUE(ModemStateParser(base, 188, state));
    EXPECT_EQ(state.SN, 1u);
    ExpectExtendedDefaults(state);
}

TEST(ModemDecoders, NamesDescriptionsAndFallbacks) {
    using Decoder = std::function<QString(uint8_t)>;
    struct Case {
        Decoder decoder;
        uint8_t code;
        QString expected;
    } cases[] = {
        {FailCodeName, 0x60, QStringLiteral("DPSWFAIL_ACQ_REJECT (0x60)")},
        {FailCodeName, 0x05, QStringLiteral("DPSWFAIL_UNKNOWN")},
        {FailCodeDescription, 0x24, QStringLiteral("Переполнение КЛЭФ")},
        {FailCodeDescription, 0x61, QStringLiteral("Не известная ошибка")},
        {ModemState1Name, 0x91, QStringLiteral("DLS_PPP (17)")},
        {ModemState1Description, 0x91,
         QStringLiteral("GPRS/CDMA соединение установлено\r\n(ожидается завершение стадии)")},
        {ModemState1Name, 0x80, QStringLiteral("DLS_NONE (0)")},
        {ModemState1Description, 0x80, QStringLiteral("Модем не инициализирован")},
        {ModemState1Name, 3, QStringLiteral("DLS_UNKNOWN")},
        {ModemState1Name, 11, QStringLiteral("DLS_CMDx (5-11)")},
        {ModemState1Name, 24, QStringLiteral("DLS_DC_CMD (18-24)")},
        {ModemState1Name, 26, QStringLiteral("DLS_UNKNOWN")},
        {ModemState2Name, 9, QStringLiteral("Opened (9)")},
        {ModemState2Name, 10, QStringLiteral("UNKNOWN")},
        {ModemState2Description, 8, QString()},
        {ModemState2Description, 9, QStringLiteral("PPP-соедиение установлено")},
        {ModemState3Description, 10, QStringLiteral("Не известно")},
        {LanState1Name, 9, QStringLiteral("LMS_MAIN (0x09)")},
        {LanState1Description, 8, QString()},
        {LanState1Name, 10, QStringLiteral("LMS_UNKNOWN")},
        {LanState2Name, 0x85, QStringLiteral("DHCP_WAIT_ACK (0x85)")},
        {LanState2Name, 3, QStringLiteral("DHCP_UNKNOWN")},
        {LanState2Description, 6, QStringLiteral("Сконфигурирован успешно")},
        {RROXchgResultName, 0xFB, QStringLiteral("ECRTR_INV_STATE (0xFB)")},
        {RROXchgResultName, 0x09, QStringLiteral("ECRRES_UNKNOWN")},
        {ACQXchgResultName, 0xF7, QStringLiteral("SES_ACQ_SEND_BREAK (0xF7)")},
        {ACQXchgResultName, 0xF8, QStringLiteral("ECRRES_UNKNOWN")},
        {ACQXchgResultDescription, 0x0A, QStringLiteral("Не известно")},
        {RSSIText, 1, QStringLiteral("Нет сигнала (1)")},
        {RSSIText, 14, QStringLiteral("Приемлемый (14)")},
        {RSSIText, 31, QStringLiteral("Отличный (31)")},
        {RSSIText, 32, QStringLiteral("Не известно (32)")},
        {RSSIText, 99, QStringLiteral("Не определён (99)")},
        {RSSI_BERText, 7, QStringLiteral("Больше 12.8% (7)")},
        {RSSI_BERText, 8, QStringLiteral("Не известно (8)")},
        {RSSI_BERText, 99, QStringLiteral("Не определён (99)")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.decoder(c.code), c.expected) << int(c.code);
}

TEST(ModemValueFormats, HexPairsVersionsAndUnits) {
    EXPECT_EQ(HexWithPrefix(255, 2), QStringLiteral("0x00FF"));
    EXPECT_EQ(HexWithPrefix(0x1234, 1), QStringLiteral("0x1234"));
    EXPECT_EQ(DecHexPair(4294967295u, 4), QStringLiteral("4294967295, 0xFFFFFFFF"));
    EXPECT_EQ(DecHexPair(0, 1), QStringLiteral("0, 0x00"));
    const struct {
        uint16_t version;
        const char *text;
    } versions[] = {{105, "1.05"}, {7, ".7"}, {12, ".12"}, {0, ".0"}, {9999, "99.99"}};
    for (const auto &v : versions)
        EXPECT_EQ(VersionText(v.version), QString::fromLatin1(v.text));

    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::Ukrainian, QLocale::Ukraine));
    EXPECT_EQ(MilliUnits(4150), QStringLiteral("4,150"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(MilliUnits(65535), QStringLiteral("65.535"));
    QLocale::setDefault(previous);
    EXPECT_EQ(ProposedSaveName(0), QString());
    EXPECT_EQ(ProposedSaveName(4294967295u), QStringLiteral("ID_DEV_4294967295"));
}

// ---- The listing and the printed report -------------------------------------------

QStringList Keys(const std::vector<ListingBlock> &blocks) {
    QStringList keys;
    for (const ListingBlock &block : blocks)
        keys << block.value.section(u':', 0, 0).trimmed();
    return keys;
}

TEST(ModemListing, BlocksShownPerOsRevision) {
    const QStringList extendedOnly = {"OSVer",   "OSRev",     "SysTime",   "NETIPAddr", "NETGate",
                                      "NETMask", "MODIPAddr", "ACQIPAddr", "ACQPort",   "RSSI_BER"};
    struct Case {
        uint16_t osRev;
        size_t blocks;
        bool extended, res3;
    } cases[] = {{0, 32, false, true}, {17, 31, false, false}, {18, 41, true, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.osRev);
        ModemState state = EmptyModemState();
        state.OSRev = c.osRev;
        const auto blocks = DetailedListing(state);
        EXPECT_EQ(blocks.size(), c.blocks);
        const QStringList keys = Keys(blocks);
        for (const QString &key : extendedOnly)
            EXPECT_EQ(keys.contains(key), c.extended) << key.toStdString();
        EXPECT_EQ(keys.contains(QStringLiteral("Res3")), c.res3);
        EXPECT_EQ(keys.first(), QStringLiteral("SN"));
        EXPECT_EQ(keys.last(), c.res3 ? QStringLiteral("Res3") : QStringLiteral("Res2"));

        const QStringList report = PrintedReport(state);
        // Title, label and value lines, the decoded ones split, the closing row.
        const qsizetype split = 10 + (c.extended ? 1 : 0); // 8 decoded, RSSI, USSD, RSSI_BER
        EXPECT_EQ(report.size(), 2 + 2 * qsizetype(c.blocks) + split);
        EXPECT_EQ(report.first(), QStringLiteral("******   ДІАГНОСТИКА МОДЕМА    ******"));
        EXPECT_EQ(report.first().size(), 37);
        EXPECT_EQ(report.last(), QString(37, u'*'));
        EXPECT_FALSE(report.contains(QString()));
    }
}

TEST(ModemListing, ValuesColoursAndReportLines) {
    ModemState state = EmptyModemState();
    state.OSRev = 18;
    state.OSVer = 105;
    state.FailCode = 0x41;
    state.RROXchgResult = 0;
    state.ACQXchgResult = 0xF1;
    state.Temperature = 25;
    state.ModemState1 = 0x11;
    state.USSDResult = QByteArray("\xC1\xE0\xEB\xE0\xED\xF1\0zz", 9); // "Баланс" in cp1251

    const auto blocks = DetailedListing(state);
    const auto find = [&](const char *key) {
        for (const ListingBlock &b : blocks)
            if (b.value.startsWith(QStringLiteral(" %1: ").arg(QLatin1String(key))))
                return b;
        ADD_FAILURE() << key;
        return ListingBlock{};
    };
    const ListingBlock fail = find("FailCode");
    EXPECT_EQ(fail.label, QStringLiteral(" Код ошибки модема:"));
    EXPECT_EQ(fail.value, QStringLiteral(" FailCode: DPSWFAIL_SAM_FAIL (0x41)"));
    EXPECT_EQ(fail.description,
              QStringLiteral(" Desription: Ошибка взаимодействия с модулем безопасности"));
    EXPECT_EQ(fail.valueRgb, kBlueRgb);
    EXPECT_EQ(fail.descriptionRgb, kRedRgb);
    EXPECT_EQ(find("RROXchgResult").descriptionRgb, kBlueRgb);
    EXPECT_EQ(find("ACQXchgResult").descriptionRgb, kRedRgb);
    EXPECT_EQ(find("ModemState1").valueRgb, kGreenRgb);
    EXPECT_EQ(find("LanState2").descriptionRgb, kMaroonRgb);
    EXPECT_EQ(find("OSVer").value, QStringLiteral(" OSVer: 1.05"));
    EXPECT_EQ(find("OSVer").valueRgb, kMaroonRgb);
    EXPECT_EQ(find("Temperature").value, QStringLiteral(" Temperature: 25 ° C."));
    EXPECT_EQ(find("USSDResult").value, QStringLiteral(" USSDResult: Баланс"));
    EXPECT_FALSE(find("USSDResult").hasDescription);
    EXPECT_EQ(find("SecondCnt").value, QStringLiteral(" SecondCnt: 0, 0x00000000 сек."));

    const QStringList report = PrintedReport(state);
    const qsizetype failAt = report.indexOf(QStringLiteral("Код помилки модема:"));
    ASSERT_GE(failAt, 0);
    EXPECT_EQ(report[failAt + 1], QStringLiteral(" FailCode: "));
    EXPECT_EQ(report[failAt + 2], QStringLiteral("  DPSWFAIL_SAM_FAIL (0x41)"));
    const qsizetype unsentAt = report.indexOf(QStringLiteral("Дата першого не переданого пакета:"));
    ASSERT_GE(unsentAt, 0);
    EXPECT_TRUE(report[unsentAt + 1].startsWith(QStringLiteral(" FirstUnsendPID: ")));
    EXPECT_TRUE(report.contains(QStringLiteral("Сеансів зв''язку з еквайером:")));
    EXPECT_TRUE(report.contains(QStringLiteral("  Баланс")));
}

TEST(ModemListing, SavedViewIsWindows1251WithCrLf) {
    EXPECT_EQ(AnsiLinesBytes({}), QByteArray());
    EXPECT_EQ(AnsiLinesBytes({QStringLiteral("Тест"), QString(), QStringLiteral(" 25 ° C.")}),
              QByteArray("\xD2\xE5\xF1\xF2\r\n\r\n 25 \xB0 C.\r\n"));
}

} // namespace
