// The KRV-L5 modem's state record: the bytes of its reply to "~~#01#", the
// console's decoded record and the decoders that name its codes.
//
// The reply comes from the device and is trusted for nothing: the parser
// reads only the bytes it is given. 76 bytes carry the base state, exactly
// 189 the base state and the extended one.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <span>
#include <vector>

namespace krv::console {

inline constexpr size_t kModemBaseStateBytes = 76;
inline constexpr size_t kModemExtendedStateBytes = 189;

// The state bytes of L5GetStateStruct: as many as its count byte says.
struct ModemStateReply {
    std::vector<uint8_t> bytes;
};

struct ModemState {
    uint32_t SecondCnt = 0, RROXchgTime = 0, ACQXchgTime = 0;
    QDateTime FirstUnsendPIDDateTime;
    uint32_t PID_Unused = 0, PID_CurPers = 0, PID_LastWrite = 0, PID_LastSign = 0, PID_LastSend = 0,
             SN = 0, ID_DEV = 0, ID_SAM = 0, NT_SAM = 0;
    uint16_t NT_SESSION = 0;
    uint8_t FailCode = 0, Res1 = 0;
    uint16_t BatVoltage = 0, DCVoltage = 0, BatCurrent = 0, Temperature = 0;
    uint8_t ModemState1 = 0, ModemState2 = 0, ModemState3 = 0, LanState1 = 0, LanState2 = 0,
            RROXchgResult = 0, ACQXchgResult = 0, Res2 = 0;
    uint16_t RROXchgErrorCnt = 0;
    uint8_t RSSI = 0, RSSI_BER = 0;
    QByteArray USSDResult; // single-byte characters as received
    uint16_t OSVer = 0, OSRev = 0;
    QDateTime SysTime;
    QString NETIPAddr, NETGate, NETMask, MODIPAddr, ACQIPAddr;
    uint16_t ACQPort = 0;
};

// A record as at start-up: zeros, the zero date-time, addresses "0.0.0.0".
ModemState EmptyModemState();

// The console's one record, read by the diagnostics window.
ModemState &CurrentModemState();
void ResetModemState();

// Fills `state` from bytes[0..highestIndex] (never past bytes.size()). A
// reply of fewer than 76 bytes is no state: false, `state` untouched. The
// extended fields are read only from exactly 189 bytes, else they take
// their defaults.
bool ModemStateParser(std::span<const uint8_t> bytes, int highestIndex, ModemState &state);

// "0x" and the value in upper-case hexadecimal, at least 2n digits.
QString HexWithPrefix(uint32_t value, int n);

// Seconds since 2000-01-01 00:00 as a moment.
QDateTime ModemMoment(uint32_t seconds);

// The USSD answer up to its first zero character, as text.
QString UssdText(const QByteArray &raw);

QString FailCodeName(uint8_t code);
QString FailCodeDescription(uint8_t code);
QString ModemState1Name(uint8_t code);
QString ModemState1Description(uint8_t code);
QString ModemState2Name(uint8_t code);
QString ModemState2Description(uint8_t code);
QString ModemState3Name(uint8_t code);
QString ModemState3Description(uint8_t code);
QString LanState1Name(uint8_t code);
QString LanState1Description(uint8_t code);
QString LanState2Name(uint8_t code);
QString LanState2Description(uint8_t code);
QString RROXchgResultName(uint8_t code);
QString RROXchgResultDescription(uint8_t code);
QString ACQXchgResultName(uint8_t code);
QString ACQXchgResultDescription(uint8_t code);
QString RSSIText(uint8_t value);
QString RSSI_BERText(uint8_t value);

} // namespace krv::console
