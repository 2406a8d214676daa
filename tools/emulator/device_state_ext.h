// Device state of the programming, information-query, non-fiscal text, logo,
// control-tape, 72-hour-lock and modem commands.
//
// Much of what the printer keeps lives in its memory banks at fixed
// addresses, and the memory read command (1C) shows those bytes as they are;
// the handlers therefore keep that state in `memory` itself, not beside it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace krv::emu {

// Fixed places in the printer's memory (bank 10 unless the name says 00).
namespace mem {
inline constexpr uint8_t kBank00 = 0x00;
inline constexpr uint8_t kBank10 = 0x10;
inline constexpr uint16_t kTaxCount = 0x0016;      // bank 00, 1 byte
inline constexpr uint16_t kZCounter = 0x0037;      // word
inline constexpr uint16_t kTapeStart = 0x0039;     // word: first address of the tape area
inline constexpr uint16_t kTapeEnd = 0x003C;       // word: last address of the tape area
inline constexpr uint16_t kPacketCounter = 0x003F; // 4 bytes
inline constexpr uint16_t kPersonalized = 0x0043;  // 1 when personalized
inline constexpr uint16_t kLockRecord = 0x0044;    // BCD day, month, year, hour, minute
inline constexpr uint16_t kArticleCounts = 0x0065; // word sold-in count, word programmed count
inline constexpr uint16_t kTaxTable = 0x0150;      // rates, options, levy words
inline constexpr uint16_t kGroupFLevy = 0x0165;    // word
inline constexpr uint16_t kZDate = 0x0169;         // BCD day, month, year
inline constexpr uint16_t kPayNames = 0x2D00;      // 16 bytes per form: length, name
inline constexpr uint16_t kVoided = 0x2F74;        // 14 bytes
inline constexpr uint16_t kCancels = 0x2F82;       // 14 bytes
inline constexpr uint16_t kPasswords = 0x3003;     // ten words
inline constexpr uint16_t kCutter = 0x301A;        // bit 3 set: cutter off
inline constexpr uint16_t kSaleReceiptNo = 0x301B; // 4-digit BCD, low pair first
inline constexpr uint16_t kSaleDaySums = 0x301D;   // six Sum40
inline constexpr uint16_t kPayReceiptNo = 0x3077;
inline constexpr uint16_t kPayDaySums = 0x3079;
inline constexpr size_t kBankSize = 0x10000;
} // namespace mem

// Places in the password table: the programming password guards programming
// and the logo, the report password the reports and the control tape.
inline constexpr int kProgrammingOperator = 8;
inline constexpr int kReportOperator = 9;

// Error codes the handlers answer with.
inline constexpr uint8_t kErrForbidden = 0x10;
inline constexpr uint8_t kErrLogo = 0x13;
inline constexpr uint8_t kErrFormat = 0x14; // a length or a field out of shape
inline constexpr uint8_t kErrPassword = 0x15;
inline constexpr uint8_t kErrNoSuchNumber = 0x16;
inline constexpr uint8_t kErrTaxGroup = 0x17;
inline constexpr uint8_t kErrPaymentForm = 0x18;
inline constexpr uint8_t kErrCharacters = 0x19;
inline constexpr uint8_t kErrNegativeSale = 0x1B;
inline constexpr uint8_t kErrArticle = 0x1C;
inline constexpr uint8_t kErrDateTime = 0x1E;
inline constexpr uint8_t kErrCostOverflow = 0x20;
inline constexpr uint8_t kErrCashShort = 0x23;
inline constexpr uint8_t kErrBeforeLastZ = 0x24;
inline constexpr uint8_t kErrPayoutOpen = 0x25;
inline constexpr uint8_t kErrSaleOpen = 0x26;
inline constexpr uint8_t kErrNoReceipt = 0x27;
inline constexpr uint8_t kErrNoReceipts = 0x2A;
inline constexpr uint8_t kErrChangeForbidden = 0x2B;
inline constexpr uint8_t kErrReceiptOpen = 0x2C;
inline constexpr uint8_t kErrNoLines = 0x2D;
inline constexpr uint8_t kErrAfterPayments = 0x2E;
inline constexpr uint8_t kErrTapeNumber = 0x30;

// UTF-8 text as the printer stores it (Windows-1251, then the printer's
// code page, look-alikes for the letters it lacks).
std::vector<uint8_t> DeviceText(std::string_view utf8);

struct ArticleRecord {
    std::vector<uint8_t> name; // device text as received
    uint8_t qtyFlags = 0;
    uint32_t priceWire = 0; // the four price bytes as received
    uint8_t taxByte = 0x80;
    uint32_t salesQty = 0;
    uint8_t salesFlags = 0;
    uint64_t salesSum = 0;
    uint32_t returnsQty = 0;
    uint8_t returnsFlags = 0;
    uint64_t returnsSum = 0;
    bool returnsFirst = false; // the reply then carries the returns block first
};

struct PrintedLine {
    uint8_t lengthByte = 0;    // as received, with its tape bits
    std::vector<uint8_t> text; // device text
};

struct TapeAck {
    uint32_t first = 0, last = 0;
    std::array<uint8_t, 6> moment{}; // BCD day, month, year, hour, minute, second
};

// The KRV-L5 modem's state as the emulated modem reports it to "~~#01#":
// the 76-byte base state, or with `extended` the 189-byte form.
struct ModemStateFields {
    bool extended = false;
    uint32_t secondCnt = 0, rroXchgTime = 0, acqXchgTime = 0, firstUnsendSeconds = 0;
    uint32_t pidUnused = 0, pidCurPers = 0, pidLastWrite = 0, pidLastSign = 0, pidLastSend = 0;
    uint32_t sn = 0, idDev = 0, idSam = 0, ntSam = 0; // ID_SAM and NT_SAM go high byte first
    uint16_t ntSession = 0;                           // high byte first
    uint8_t failCode = 0, res1 = 0;
    uint16_t batVoltage = 0, dcVoltage = 0, batCurrent = 0, temperature = 0;
    std::array<uint8_t, 8> states{}; // ModemState1..3, LanState1..2, both results, Res2
    uint16_t rroXchgErrorCnt = 0;
    uint8_t rssi = 0, rssiBer = 0;
    // Extended part.
    std::string ussd;   // up to 79 bytes, zero-filled
    uint16_t osVer = 0; // four BCD digits
    uint16_t osRev = 0;
    uint32_t sysTime = 0;                              // seconds since 2000-01-01
    std::array<std::array<uint8_t, 4>, 5> addresses{}; // NET IP, gateway, mask, modem IP, acquirer
    uint16_t acqPort = 0;                              // high byte first
};
// The reply: the count byte, then the state bytes.
std::vector<uint8_t> ModemStateReplyBytes(const ModemStateFields &fields);

struct DeviceStateExtData {
    // ---- memory, bank number -> 64 KiB ----
    std::map<uint8_t, std::vector<uint8_t>> memory;

    // ---- programming ----
    std::array<std::vector<uint8_t>, 8> operatorNames;
    int cashierOnDuty = -1;
    std::vector<uint8_t> cashierName;
    std::array<PrintedLine, 8> messageLines;
    std::string fiscalNumber;
    std::array<PrintedLine, 3> headLines;
    std::vector<uint8_t> taxNumber;
    bool idNumber = false;
    std::array<uint8_t, 3> taxDate{}; // BCD date of the last tax programming
    std::map<uint64_t, ArticleRecord> articles;
    std::vector<uint8_t> personalization;

    // ---- totals the other command families may feed ----
    std::array<uint64_t, 10> daySalesByForm{};
    std::array<uint64_t, 10> dayReturnsByForm{};
    std::array<uint64_t, 6> dayReturnsByGroupExtra{};
    uint64_t salesMarkups = 0, salesDiscounts = 0, returnsMarkups = 0, returnsDiscounts = 0;
    uint64_t cashIn = 0, cashOut = 0;
    std::array<uint32_t, 6> receiptByGroup{};
    std::array<uint32_t, 10> receiptByForm{};

    // ---- non-fiscal documents and barcodes ----
    bool documentOpen = false;
    int documentsClosed = 0;
    std::vector<PrintedLine> printedLines;
    std::vector<std::vector<uint8_t>> code128;
    std::vector<std::string> ean13;

    // ---- logo ----
    uint16_t logoWidth = 0, logoHeight = 0;
    size_t logoExpected = 0;
    std::vector<uint8_t> logoIncoming;
    std::vector<uint8_t> logo; // the last picture received whole
    bool logoLoading = false;
    bool logoBroken = false; // a load stopped half-way
    bool logoEnabled = false;
    int logoChunksSeen = 0;
    int failLogoChunk = -1; // test knob: refuse this chunk (0-based) with code 13

    // ---- electronic control tape and the lock ----
    uint32_t firstPacket = 0, lastPacket = 0;
    uint16_t tapeCapacity = 60000;
    uint16_t packetBytes = 120;
    std::vector<TapeAck> acks;
    std::array<uint8_t, 6> lockMoment{}; // BCD day, month, year, hour, minute, second; year 0: none

    // ---- the modem ----
    std::string modemText;           // answer to "~~#00#", bytes as sent
    ModemStateFields modem;          // what "~~#01#" reports
    std::vector<uint8_t> modemState; // when not empty, sent instead: count byte, state bytes
    int modemSilentQueries = 0;      // test knob: leave this many queries unanswered
};

struct DeviceStateExt : DeviceStateExtData {
    DeviceStateExt() { Reset(); }
    // A fresh printer: zero passwords, named payment forms, an empty tape,
    // no tax rates, no articles.
    void Reset();

    std::vector<uint8_t> &Bank(uint8_t bank);
    // Bytes from address on, cut at the end of the bank.
    std::vector<uint8_t> Read(uint8_t bank, uint16_t address, size_t length);
    void Write(uint8_t bank, uint16_t address, std::span<const uint8_t> bytes);
    uint64_t ReadLe(uint8_t bank, uint16_t address, size_t count);
    void WriteLe(uint8_t bank, uint16_t address, uint64_t value, size_t count);
    uint16_t Password(int op) {
        return static_cast<uint16_t>(ReadLe(mem::kBank10, mem::kPasswords + 2 * op, 2));
    }
    void SetPassword(int op, uint16_t value) {
        WriteLe(mem::kBank10, static_cast<uint16_t>(mem::kPasswords + 2 * op), value, 2);
    }
    uint8_t CutterByte() { return Read(mem::kBank10, mem::kCutter, 1).at(0); }
    void SetCutterByte(uint8_t value) { WriteLe(mem::kBank10, mem::kCutter, value, 1); }

    uint16_t FreeBytes() const;
    // Stores `count` new packets (what a receipt would add) and keeps the
    // packet counter in memory in step.
    void AddPackets(uint32_t count);
};

} // namespace krv::emu
