// Printed reports: X and Z reports, the X report by articles, and the
// periodic reports from fiscal memory by dates and by Z-report numbers.
#include "KRV_T100DRV.h"
#include "command_helpers.h"

#include <algorithm>

using namespace krv::drv;
using namespace krv::drv::cmd;

namespace {

constexpr uint8_t kCmdDayReport = 0x09;
constexpr uint8_t kCmdArticleReport = 0x0A;
constexpr uint8_t kCmdDayClrReport = 0x0D;
constexpr uint8_t kCmdPeriodicReport = 0x11;
constexpr uint8_t kCmdPeriodicReportShort = 0x1A;
constexpr uint8_t kCmdPeriodicNumberReport = 0x1F;

// FFFF is never a report password; the printer is not asked.
constexpr uint16_t kRefusedPassword = 0xFFFF;

KrvBool SimpleReport(uint8_t command, uint16_t password) {
    if (password == kRefusedPassword)
        return Refuse(kWrongPasswordText);
    return ToExportBool(RunStandard(WithPassword(command, password)));
}

KrvBool DateRangeReport(uint8_t command, uint16_t password, double from, double to) {
    if (password == kRefusedPassword)
        return Refuse(kWrongPasswordText);
    Bytes payload = WithPassword(command, password);
    if (!PutBcdDate(payload, from) || !PutBcdDate(payload, to))
        return Refuse(kDateFormatText);
    return ToExportBool(RunStandard(payload));
}

} // namespace

extern "C" KRV_API KrvBool FPDayReport(uint16_t password) {
    const ExportLock lock;
    return SimpleReport(kCmdDayReport, password);
}

extern "C" KRV_API KrvBool FPDayClrReport(uint16_t password) {
    const ExportLock lock;
    return SimpleReport(kCmdDayClrReport, password);
}

extern "C" KRV_API KrvBool FPXArtReport(uint16_t password, int64_t firstCode, int64_t lastCode) {
    const ExportLock lock;
    if (password == kRefusedPassword)
        return Refuse("Неверный пароль отчетов!");
    Bytes payload = WithPassword(kCmdArticleReport, password);
    if (firstCode != 0 || lastCode != 0) {
        PutArticleCode(payload, std::min(firstCode, lastCode));
        PutArticleCode(payload, std::max(firstCode, lastCode));
    }
    return ToExportBool(RunStandard(payload));
}

extern "C" KRV_API KrvBool FPPeriodicReport(uint16_t password, KrvDateTime from, KrvDateTime to) {
    const ExportLock lock;
    return DateRangeReport(kCmdPeriodicReport, password, from, to);
}

extern "C" KRV_API KrvBool FPPeriodicReportShort(uint16_t password, KrvDateTime from,
                                                 KrvDateTime to) {
    const ExportLock lock;
    return DateRangeReport(kCmdPeriodicReportShort, password, from, to);
}

extern "C" KRV_API KrvBool FPPeriodicNumberReport(uint16_t password, uint16_t first,
                                                  uint16_t last) {
    const ExportLock lock;
    if (password == kRefusedPassword)
        return Refuse(kWrongPasswordText);
    if (last < first)
        return Refuse("Начальный номер отчета больше конечного!");
    Bytes payload = WithPassword(kCmdPeriodicNumberReport, password);
    PutU16(payload, first);
    PutU16(payload, last);
    return ToExportBool(RunStandard(payload));
}
