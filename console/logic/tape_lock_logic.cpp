#include "tape_lock_logic.h"

#include "date_time_text.h"
#include "driver_binding.h"
#include "text_forms.h"

#include <KRV_T100DRV.h>

namespace krv::console {

namespace {

uint32_t Le(std::span<const uint8_t> bytes, size_t offset, size_t size) {
    uint32_t value = 0;
    for (size_t i = size; i-- > 0;)
        value = (value << 8) | bytes[offset + i];
    return value;
}

// A BCD byte read digit by digit, as the printer's records are meant; a
// byte with a nibble above 9 gives a number of up to three digits, of which
// the first two count.
int BcdNumber(uint8_t byte) {
    const int value = (byte >> 4) * 10 + (byte & 0x0F);
    return value >= 100 ? value / 10 : value;
}

QString Two(int value) {
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

} // namespace

uint16_t ShownFreeBytes(const TapeStatus &status) {
    return status.first == 0 && status.last == 0 ? uint16_t{65535} : status.freeBytes;
}

QString VendorTapeStatusText(const TapeStatus &status) {
    return QStringLiteral("Номер первого пакета данных в КЛЭФ:       ") +
           QString::number(status.first) + QStringLiteral("\r\n") +
           QStringLiteral("Номер последнего пакета данных в КЛЭФ: ") +
           QString::number(status.last) + QStringLiteral("\r\n") +
           QStringLiteral("Размер cвободного места в КЛЭФ:                ") +
           QString::number(ShownFreeBytes(status)) + QStringLiteral(" байт") +
           QStringLiteral("\r\n");
}

std::optional<TapeDescriptor> ParseTapeDescriptor(std::span<const uint8_t> block) {
    if (block.size() != kTapeDescriptorLength)
        return std::nullopt;
    TapeDescriptor d;
    d.start = static_cast<uint16_t>(Le(block, 0, 2));
    d.end = static_cast<uint16_t>(Le(block, 3, 2));
    d.packetCounter = static_cast<int32_t>(Le(block, 6, 4));
    d.personalized = block[10] == 1;
    std::copy(block.begin() + 11, block.end(), d.lock.begin());
    return d;
}

std::optional<LockRecord> ParseLockRecord(std::span<const uint8_t> block) {
    if (block.size() != kLockRecordLength)
        return std::nullopt;
    LockRecord record{};
    std::copy(block.begin(), block.end(), record.begin());
    return record;
}

LockMoment DecodeBcdDateTime(const LockRecord &record, int currentYear) {
    LockMoment lock;
    if (record[2] == 0)
        return lock;
    lock.set = true;
    const int day = BcdNumber(record[0]), month = BcdNumber(record[1]), year = BcdNumber(record[2]);
    const int hour = BcdNumber(record[3]), minute = BcdNumber(record[4]);
    const QDate date(WindowedYear(year, currentYear), month, day);
    const QTime time(hour, minute, 0);
    if (!date.isValid())
        lock.error =
            QStringLiteral("'%1.%2.%3' is not a valid date").arg(Two(day), Two(month), Two(year));
    else if (!time.isValid())
        lock.error = QStringLiteral("'%1:%2:00' is not a valid time").arg(Two(hour), Two(minute));
    else
        lock.moment = PlainDateTime(date, time);
    return lock;
}

QString LockMomentText(const LockMoment &lock) {
    return lock.set ? LocaleDateTimeText(lock.moment) : QStringLiteral("не установлена");
}

QString MainTapeStatusText(const TapeStatus &status, const TapeDescriptor &descriptor,
                           const LockMoment &lock) {
    return QStringLiteral("Номер первого пакета данных в КЛЭФ:       ") +
           QString::number(status.first) + QStringLiteral("\r\n") +
           QStringLiteral("Номер последнего пакета данных в КЛЭФ: ") +
           QString::number(status.last) + QStringLiteral("\r\n") +
           QStringLiteral("Размер свободного места в КЛЭФ:                ") +
           QString::number(ShownFreeBytes(status)) + QStringLiteral(" байт") +
           QStringLiteral("\r\r\n") +
           QStringLiteral("Адрес начала КЛЭФ:                                       0x") +
           HexDigits(descriptor.start, 4) + QStringLiteral("\r\n") +
           QStringLiteral("Адрес конца КЛЭФ:                                         0x") +
           HexDigits(descriptor.end, 4) + QStringLiteral("\r\n") +
           QStringLiteral("Счётчик пакетов КЛЭФ:                                 ") +
           QString::number(descriptor.packetCounter) + QStringLiteral("\r\n") +
           QStringLiteral("Статус персонализации:") +
           (descriptor.personalized
                ? QStringLiteral("                                 выполнена")
                : QStringLiteral("                                 не выполнена")) +
           QStringLiteral("\r\n") +
           QStringLiteral("Дата и время блокировки КЛЭФ:                   ") +
           LockMomentText(lock);
}

QString NextLockText(const LockMoment &lock) {
    return QStringLiteral("Очередная блокировка КЛЭФ наступит: ") + LockMomentText(lock);
}

QString DigitErrorText(int edit) {
    switch (edit) {
    case 1:
        return QStringLiteral("Неверно задан новый номер для первого пакета данных!");
    case 2:
        return QStringLiteral("Неверно задан номер последнего пакета данных!");
    case 3:
        return QStringLiteral("Неверно задан номер начального пакета данных!");
    case 4:
        return QStringLiteral("Неверно задан номер конечного пакета данных!");
    default:
        return {};
    }
}

std::optional<int32_t> PacketNumber(const QString &text) {
    bool ok = false;
    const int32_t value = text.trimmed().toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

QString NotAnIntegerText(const QString &text) {
    return QStringLiteral("'%1' is not a valid integer value").arg(text);
}

// ---- Driver calls ------------------------------------------------------------------

bool CallGetTapeStatus(TapeStatus &status) {
    int32_t first = 0, last = 0;
    uint16_t freeBytes = 0;
    if (!DriverSucceeded(FPGetStatusKLEF(&first, &last, &freeBytes)))
        return false;
    status = TapeStatus{static_cast<uint32_t>(first), static_cast<uint32_t>(last), freeBytes};
    return true;
}

bool CallPersonalize(uint16_t password, bool flag, const QString &text) {
    return DriverSucceeded(FPPersonalize(password, flag ? -1 : 0, ToDriverText(text).c_str()));
}

bool CallSetPacketNumber(uint16_t password, int32_t number) {
    return DriverSucceeded(FPSetTotalNumb(password, number));
}

bool CallClearTape(uint16_t password, int32_t lastPacket) {
    return DriverSucceeded(FPClrKLEF(password, lastPacket));
}

bool CallAcknowledgeTape(uint16_t password, int32_t first, int32_t last, const QDateTime &now) {
    return DriverSucceeded(FPAckKLEF(password, first, last, ToDriverDateTime(now)));
}

bool CallSetLock(uint16_t password, const QDateTime &now, bool extend) {
    return DriverSucceeded(FPSet72Lock(password, ToDriverDateTime(now), extend ? -1 : 0));
}

} // namespace krv::console
