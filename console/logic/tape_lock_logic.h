// The electronic control tape and its 72-hour lock without widgets: the
// tape status and descriptor texts, the lock date, the digit check of the
// vendor window's packet numbers and the driver calls behind them.
#pragma once

#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace krv::console {

// Printer memory holding the tape's descriptor and the lock record.
inline constexpr uint16_t kTapeDescriptorAddress = 0x39;
inline constexpr uint8_t kTapeDescriptorLength = 16;
inline constexpr uint16_t kLockRecordAddress = 0x44;
inline constexpr uint8_t kLockRecordLength = 5;
inline constexpr int32_t kTapeMemoryBank = 0x10;

struct TapeStatus {
    uint32_t first = 0, last = 0;
    uint16_t freeBytes = 0;
};

// The free space as shown: an empty tape (both packet numbers 0) reads 65535.
uint16_t ShownFreeBytes(const TapeStatus &status);
// The vendor window's box (with its Latin "c" in "cвободного").
QString VendorTapeStatusText(const TapeStatus &status);

// Day, month, year modulo 100, hour, minute, packed BCD.
using LockRecord = std::array<uint8_t, 5>;

struct TapeDescriptor {
    uint16_t start = 0, end = 0;
    int32_t packetCounter = 0;
    bool personalized = false;
    LockRecord lock{};
};
// Nothing unless the block is exactly 16 bytes.
std::optional<TapeDescriptor> ParseTapeDescriptor(std::span<const uint8_t> block);
std::optional<LockRecord> ParseLockRecord(std::span<const uint8_t> block);

struct LockMoment {
    bool set = false; // false: the year byte is 0, no lock
    QDateTime moment; // valid when set and the record holds a real date
    QString error;    // the date or time that does not exist, when set
};
// DecodeBcdDateTime: every byte as high nibble * 10 + low nibble (cut to two
// digits), the year in the window around `currentYear`; built from the
// numbers, never from a text.
LockMoment DecodeBcdDateTime(const LockRecord &record, int currentYear);
// "не установлена", or the locale's date and long time (no time at midnight).
// Only for a record without error.
QString LockMomentText(const LockMoment &lock);

// The main window's box; the lock part as LockMomentText.
QString MainTapeStatusText(const TapeStatus &status, const TapeDescriptor &descriptor,
                           const LockMoment &lock);
// "Очередная блокировка КЛЭФ наступит: " and the lock.
QString NextLockText(const LockMoment &lock);

// ---- The vendor window's number edits ----------------------------------------------

// The edits are checked with FirstNonDigit.
// The message of the vendor window's number edit 1..4.
QString DigitErrorText(int edit);
// The edit's text as the driver's number; nothing for a text that is no
// 32-bit integer (the empty text included).
std::optional<int32_t> PacketNumber(const QString &text);
// The application's own report of a text that is no integer.
QString NotAnIntegerText(const QString &text);

// ---- Driver calls -------------------------------------------------------------------

bool CallGetTapeStatus(TapeStatus &status);
bool CallPersonalize(uint16_t password, bool flag, const QString &text);
bool CallSetPacketNumber(uint16_t password, int32_t number);
bool CallClearTape(uint16_t password, int32_t lastPacket);
bool CallAcknowledgeTape(uint16_t password, int32_t first, int32_t last, const QDateTime &now);
bool CallSetLock(uint16_t password, const QDateTime &now, bool extend);

} // namespace krv::console
