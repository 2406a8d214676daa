// The electronic control tape, the 72-hour lock and the text queries of the
// KRV-L5 modem.
#include "KRV_T100DRV.h"
#include "command_helpers.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

using namespace krv::drv;
using namespace krv::drv::cmd;

namespace {

constexpr const char *kModemSilentText = "Модем не отвечает!";

// Day, month, year (00 when `withYear` is off), hour, minute, second, each
// packed BCD. Nothing, with the reason set, when the value is no date or its
// time of day cannot be read.
std::optional<Bytes> MomentBytes(double moment, bool withYear) {
    if (!IsValidDateTime(moment)) {
        SetErrorText(kDateFormatText);
        return std::nullopt;
    }
    const CivilDate date = DecodeDate(moment);
    const auto time = LocaleTimeOfDay(moment);
    if (!time) {
        SetErrorText("Ошибка в формате времени подтверждения!");
        return std::nullopt;
    }
    return Bytes{
        ToBcd(date.day),   ToBcd(date.month),   withYear ? ToBcd(date.year % 100) : uint8_t{0},
        ToBcd(time->hour), ToBcd(time->minute), ToBcd(time->second)};
}

// These commands must reach a printer that is locked or whose tape is full,
// so its status byte is not looked at; an error code is still a refusal.
int32_t TapeCommand(const Bytes &payload) {
    return ToExportBool(RunLinkCheckingCode(payload));
}

// The reply of the last modem query; a text handed out points into it.
std::string g_modemReply;

// Up to three tries of writing the query and reading until the line falls
// idle. True when a reply came and every byte of the query went out.
bool ModemQuery(std::string_view query) {
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t *>(query.data()),
                                         query.size());
    Bytes reply;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        const bool written = WriteUnframed(bytes);
        if (ReceiveUntilIdle(reply)) {
            g_modemReply.assign(reply.begin(), reply.end());
            return written;
        }
        if (LastLinkFault() != LinkFault::NoReply)
            break; // a lost port or a flood: another try meets the same
    }
    return false;
}

// The text of a failed query: a flood past the longest real answer is a
// malformed reply, anything else a silent modem.
int32_t RefuseModemQuery() {
    return Refuse(LastLinkFault() == LinkFault::ReplyTooLong ? kReplyFormatText : kModemSilentText);
}

} // namespace

// ---- Electronic control tape ---------------------------------------------------------------

extern "C" KRV_API KrvBool FPGetStatusKLEF(int32_t *firstPacket, int32_t *lastPacket,
                                           uint16_t *freeBytes) {
    const ExportLock lock;
    if (!RunLink(Bytes{0x33}))
        return kFalse;
    const auto data = ReplyData();
    const auto first = ReadU32(data, 0);
    const auto last = ReadU32(data, 4);
    const auto free = ReadU16(data, 8);
    if (!first || !last || !free)
        return Refuse(kReplyFormatText);
    Put(firstPacket, static_cast<int32_t>(*first));
    Put(lastPacket, static_cast<int32_t>(*last));
    Put(freeBytes, static_cast<uint16_t>(*free));
    return kTrue;
}

extern "C" KRV_API KrvBool FPClrKLEF(uint16_t password, int32_t lastPacket) {
    const ExportLock lock;
    Bytes payload = WithPassword(0x37, password);
    PutU32(payload, static_cast<uint32_t>(lastPacket));
    return TapeCommand(payload);
}

extern "C" KRV_API KrvBool FPAckKLEF(uint16_t password, int32_t firstPacket, int32_t lastPacket,
                                     KrvDateTime moment) {
    const ExportLock lock;
    const auto when = MomentBytes(moment, true);
    if (!when)
        return kFalse;
    Bytes payload = WithPassword(0x38, password);
    PutU32(payload, static_cast<uint32_t>(firstPacket));
    PutU32(payload, static_cast<uint32_t>(lastPacket));
    payload.insert(payload.end(), when->begin(), when->end());
    return TapeCommand(payload);
}

extern "C" KRV_API KrvBool FPSet72Lock(uint16_t password, KrvDateTime moment, KrvBool16 extend) {
    const ExportLock lock;
    const auto when = MomentBytes(moment, extend != 0);
    if (!when)
        return kFalse;
    Bytes payload = WithPassword(0x3A, password);
    payload.insert(payload.end(), when->begin(), when->end());
    return TapeCommand(payload);
}

// ---- Modem -------------------------------------------------------------------------------

extern "C" KRV_API KrvBool L5GetStateText(const char **text) {
    const ExportLock lock;
    if (text)
        *text = nullptr;
    if (!ModemQuery("~~#00#"))
        return RefuseModemQuery();
    if (text)
        *text = g_modemReply.c_str();
    return kTrue;
}

extern "C" KRV_API KrvBool L5GetStateStruct(int16_t *count, uint8_t *buffer, int32_t bufferHigh) {
    const ExportLock lock;
    if (!ModemQuery("~~#01#"))
        return RefuseModemQuery();
    const auto *reply = reinterpret_cast<const uint8_t *>(g_modemReply.data());
    if (count)
        *count = reply[0];
    const size_t stateBytes = g_modemReply.size() - 1;
    const size_t room = (!buffer || bufferHigh < 0) ? 0 : static_cast<size_t>(bufferHigh) + 1;
    if (room > 0)
        std::copy_n(reply + 1, std::min(stateBytes, room), buffer);
    if (stateBytes > room)
        return Refuse("Ответ модема не помещается в буфер!");
    return kTrue;
}
