// Status, clock and device control: the status reply with its flags and
// texts, the paper sensors and the cutter setting, the date and time, the
// customer display, the drawer, and the printer's mode switches.
#include "KRV_T100DRV.h"
#include "command_helpers.h"
#include "info_queries.h"

#include <array>
#include <optional>
#include <string>

using namespace krv::drv;
using namespace krv::drv::cmd;

namespace {

constexpr uint8_t kCmdStatus = 0x00;
constexpr uint8_t kCmdGetDate = 0x01;
constexpr uint8_t kCmdSetDate = 0x02;
constexpr uint8_t kCmdGetTime = 0x03;
constexpr uint8_t kCmdSetTime = 0x04;
constexpr uint8_t kCmdSendCustomer = 0x1B;
constexpr uint8_t kCmdOpenBox = 0x1D;
constexpr uint8_t kCmdCopyLastCheck = 0x1E;
constexpr uint8_t kCmdPrintVersion = 0x20;
constexpr uint8_t kCmdMoneyInBox = 0x21;
constexpr uint8_t kCmdCplOnline = 0x24;
constexpr uint8_t kCmdCplInd = 0x25;
constexpr uint8_t kCmdChangeBaudRate = 0x26;
constexpr uint8_t kCmdLineParameter = 0x27; // line spacing and contrast alike
constexpr uint8_t kCmdCplCutter = 0x2E;
constexpr uint8_t kCmdPaperState = 0x30;

constexpr uint16_t kCutterAddress = 0x301A;
constexpr uint8_t kCutterBank = 0x10;
constexpr uint8_t kCutterOffBit = 0x08;

constexpr size_t kMaxCustomerText = 20;

// Layout of the status reply data.
constexpr size_t kSerialOffset = 2;
constexpr size_t kSerialLength = 19;
constexpr size_t kRegDateOffset = 21;
constexpr size_t kRegTimeOffset = 24;
constexpr size_t kFiscalOffset = 26;
constexpr size_t kFiscalLength = 10;
constexpr size_t kHeaderOffset = 36;
constexpr size_t kFirmwareLength = 5;
constexpr uint8_t kLineLengthMask = 0x3F;

enum StatusText {
    kSerial,
    kFiscal,
    kHeader1,
    kHeader2,
    kHeader3,
    kTaxNumber,
    kFirmware,
    kStatusTexts
};

// Storage behind the text pointers FPGetStatus hands out; replaced by every
// successful call.
std::array<std::string, kStatusTexts> g_statusTexts;

int16_t Flag(uint8_t byte, int bit) {
    return ToExportBool16((byte >> bit) & 1);
}

// A device text field of the reply in Windows-1251 (the decoder ends it at a
// zero byte, as the zero-terminated text handed out would end). Nothing when
// the field does not lie wholly inside the reply.
std::optional<std::string> TextField(std::span<const uint8_t> data, size_t offset, size_t length) {
    if (offset > data.size() || length > data.size() - offset)
        return std::nullopt;
    return DecodeDeviceText(data.subspan(offset, length));
}

double DefaultRegistrationDate() {
    return EncodeDate(CivilDate{2003, 1, 1}).value_or(0.0);
}

struct DecodedStatus {
    std::array<int16_t, 13> flags{};
    std::array<std::string, kStatusTexts> texts;
    double registrationDate = 0;
    double registrationTime = 0;
};

// Decodes the whole status reply before anything is handed out, so that a
// short or garbled reply writes nothing.
bool DecodeStatus(std::span<const uint8_t> data, DecodedStatus &out) {
    if (data.size() < kHeaderOffset)
        return Fail(kReplyFormatText);
    const uint8_t a = data[0];
    const uint8_t b = data[1];
    out.flags = {Flag(a, 1), Flag(a, 2), Flag(a, 3), Flag(a, 4), Flag(a, 5), Flag(a, 6), Flag(a, 7),
                 Flag(b, 1), Flag(b, 3), Flag(b, 4), Flag(b, 5), Flag(b, 6), Flag(b, 0)};

    // An impossible registration date or time in the reply is shown as the
    // date of a printer that was never registered rather than failing the
    // call that tells the console whether a printer answers at all.
    out.registrationDate = DefaultRegistrationDate();
    out.registrationTime = 0;
    const bool fiscalMode = (b >> 4) & 1;
    if (fiscalMode) {
        if (auto date = LocaleDateText(data[kRegDateOffset], data[kRegDateOffset + 1],
                                       data[kRegDateOffset + 2]))
            out.registrationDate = *date;
        if (auto time = ReplyTime(data[kRegTimeOffset], data[kRegTimeOffset + 1], 0))
            out.registrationTime = *time;
    }

    auto serial = TextField(data, kSerialOffset, kSerialLength);
    auto fiscal = TextField(data, kFiscalOffset, kFiscalLength);
    if (!serial || !fiscal)
        return Fail(kReplyFormatText);
    out.texts[kSerial] = std::move(*serial);
    out.texts[kFiscal] = std::move(*fiscal);

    size_t offset = kHeaderOffset;
    for (int field = kHeader1; field <= kTaxNumber; ++field) {
        if (offset >= data.size())
            return Fail(kReplyFormatText);
        const size_t length = data[offset] & kLineLengthMask;
        auto text = TextField(data, offset + 1, length);
        if (!text)
            return Fail(kReplyFormatText);
        out.texts[field] = std::move(*text);
        offset += 1 + length;
    }
    auto firmware = TextField(data, offset, kFirmwareLength);
    if (!firmware)
        return Fail(kReplyFormatText);
    out.texts[kFirmware] = std::move(*firmware);
    return true;
}

// The date or the time of the printer's clock: three BCD bytes of the reply,
// read by `convert`.
KrvBool ReadClock(uint8_t command, std::optional<double> (*convert)(uint8_t, uint8_t, uint8_t),
                  KrvDateTime *out) {
    if (!RunStandard(Bytes{command}))
        return kFalse;
    const auto data = ReplyData();
    if (data.size() < 3)
        return Refuse(kReplyFormatText);
    const auto value = convert(data[0], data[1], data[2]);
    if (!value)
        return Refuse(kReplyFormatText);
    Put(out, *value);
    return kTrue;
}

KrvBool LineParameter(int32_t value, int min, int max, const char *message) {
    const uint8_t low = static_cast<uint8_t>(value & 0xFF);
    if (low < min || low > max)
        return Refuse(message);
    return ToExportBool(RunStandard(Bytes{kCmdLineParameter, low}));
}

} // namespace

extern "C" KRV_API KrvBool
FPGetStatus(KrvBool16 *paymentMode, KrvBool16 *drawerClosed, KrvBool16 *flagA3, KrvBool16 *addedTax,
            KrvBool16 *shiftOpen, KrvBool16 *receiptOpen, KrvBool16 *displayOff,
            KrvBool16 *taxRatesChanged, KrvBool16 *serviceReport, KrvBool16 *fiscalMode,
            KrvBool16 *lastCommandFailed, KrvBool16 *onLine, KrvBool16 *serviceReportOnTape,
            const char **serialNumber, const char **fiscalNumber, const char **headerLine1,
            const char **headerLine2, const char **headerLine3, const char **taxNumber,
            const char **firmware, KrvDateTime *registrationDate, KrvDateTime *registrationTime) {
    const ExportLock lock;
    if (!RunLink(Bytes{kCmdStatus}))
        return kFalse;
    DecodedStatus status;
    if (!DecodeStatus(ReplyData(), status))
        return kFalse;

    KrvBool16 *flags[] = {paymentMode,        drawerClosed,      flagA3,
                          addedTax,           shiftOpen,         receiptOpen,
                          displayOff,         taxRatesChanged,   serviceReport,
                          fiscalMode,         lastCommandFailed, onLine,
                          serviceReportOnTape};
    for (size_t i = 0; i < status.flags.size(); ++i)
        Put(flags[i], status.flags[i]);

    g_statusTexts = std::move(status.texts);
    const char **texts[] = {serialNumber, fiscalNumber, headerLine1, headerLine2,
                            headerLine3,  taxNumber,    firmware};
    for (size_t i = 0; i < g_statusTexts.size(); ++i) {
        const std::string &text = g_statusTexts[i];
        Put(texts[i], text.empty() ? static_cast<const char *>(nullptr) : text.c_str());
    }
    Put(registrationDate, status.registrationDate);
    Put(registrationTime, status.registrationTime);
    return kTrue;
}

extern "C" KRV_API KrvBool FPGetDate(KrvDateTime *date) {
    const ExportLock lock;
    return ReadClock(kCmdGetDate, LocaleDateText, date);
}

extern "C" KRV_API KrvBool FPSetDate(KrvDateTime date) {
    const ExportLock lock;
    Bytes payload{kCmdSetDate};
    if (!PutBcdDate(payload, date))
        return Refuse(kDateFormatText);
    return ToExportBool(RunStandard(payload));
}

extern "C" KRV_API KrvBool FPGetTime(KrvDateTime *time) {
    const ExportLock lock;
    return ReadClock(kCmdGetTime, ReplyTime, time);
}

extern "C" KRV_API KrvBool FPSetTime(KrvDateTime time) {
    const ExportLock lock;
    // What LocaleTimeOfDay gives is always a possible time of day.
    const auto parts = LocaleTimeOfDay(time);
    if (!parts)
        return Refuse("Ошибка в формате времени!");
    const Bytes payload{kCmdSetTime, ToBcd(parts->hour), ToBcd(parts->minute),
                        ToBcd(parts->second)};
    return ToExportBool(RunStandard(payload));
}

extern "C" KRV_API KrvBool FPSendCustomer(KrvBool16 secondLine, const char *text) {
    const ExportLock lock;
    const std::string_view line = TextArg(text);
    if (line.size() > kMaxCustomerText)
        return Refuse("Длина строк больше допустимой!");
    Bytes payload{kCmdSendCustomer, static_cast<uint8_t>(secondLine != 0 ? 1 : 0)};
    if (!PutDeviceText(payload, line))
        return kFalse;
    return ToExportBool(RunStandard(payload));
}

extern "C" KRV_API KrvBool FPOpenBox(void) {
    const ExportLock lock;
    return BareCommand(kCmdOpenBox);
}
extern "C" KRV_API KrvBool FPCopyLastCheck(void) {
    const ExportLock lock;
    return BareCommand(kCmdCopyLastCheck);
}
extern "C" KRV_API KrvBool FPPrintVersion(void) {
    const ExportLock lock;
    return BareCommand(kCmdPrintVersion);
}
extern "C" KRV_API KrvBool FPCplOnline(void) {
    const ExportLock lock;
    return BareCommand(kCmdCplOnline);
}
extern "C" KRV_API KrvBool FPCplInd(void) {
    const ExportLock lock;
    return BareCommand(kCmdCplInd);
}
extern "C" KRV_API KrvBool FPCplCutter(void) {
    const ExportLock lock;
    return BareCommand(kCmdCplCutter);
}

extern "C" KRV_API KrvBool FPGetMoneyInBox(int64_t *sum) {
    const ExportLock lock;
    if (!RunStandard(Bytes{kCmdMoneyInBox}))
        return kFalse;
    const auto value = ReadSum40(ReplyData(), 0);
    if (!value)
        return Refuse(kReplyFormatText);
    Put(sum, static_cast<int64_t>(*value));
    return kTrue;
}

extern "C" KRV_API KrvBool FPChangeBaudRate(int32_t code) {
    const ExportLock lock;
    const uint8_t low = static_cast<uint8_t>(code & 0xFF);
    if (low > 2)
        return Refuse("Неверно задан параметр скорости связи!");
    return ToExportBool(RunStandard(Bytes{kCmdChangeBaudRate, low}));
}

extern "C" KRV_API KrvBool FPLineSP(int32_t spacing) {
    const ExportLock lock;
    return LineParameter(spacing, 0, 63, "Неверно задан параметр межстрочного расстояния!");
}

extern "C" KRV_API KrvBool FPSetContrast(int32_t contrast) {
    const ExportLock lock;
    return LineParameter(contrast, 50, 200,
                         "Диапазон котрастности печати должен быть задан в пределах 50 - 200%!");
}

extern "C" KRV_API KrvBool FPCutterStatus(KrvBool16 *enabled) {
    const ExportLock lock;
    Put<KrvBool16>(enabled, 0);
    std::vector<uint8_t> setting;
    if (!ReadPrinterMemory(kCutterAddress, kCutterBank, 1, setting) || setting.empty())
        return kFalse;
    Put<KrvBool16>(enabled, ToExportBool16((setting[0] & kCutterOffBit) == 0));
    return kTrue;
}

extern "C" KRV_API KrvBool FPGetPaperState(KrvBool16 *bit0, KrvBool16 *controlTapeLow,
                                           KrvBool16 *receiptTapeLow, KrvBool16 *bit5,
                                           KrvBool16 *bit6) {
    const ExportLock lock;
    if (!RunLink(Bytes{kCmdPaperState}))
        return kFalse;
    const auto data = ReplyData();
    if (data.size() != 1)
        return Refuse(kReplyFormatText);
    const uint8_t state = data[0];
    Put(bit0, Flag(state, 0));
    Put(controlTapeLow, Flag(state, 2));
    Put(receiptTapeLow, Flag(state, 3));
    Put(bit5, Flag(state, 5));
    Put(bit6, Flag(state, 6));
    return kTrue;
}
