// The emulated printer's reports: X (09), Z (0D), X by articles (0A), and
// the periodic reports from fiscal memory by dates (11 full, 1A short) and
// by Z-report numbers (1F).
#include "bytes.h"
#include "commands.h"
#include "emulator.h"

#include <chrono>

namespace krv::emu {
namespace {

using namespace std::chrono;

// Password and printer state checks every report shares.
std::optional<uint8_t> ReportRefusal(DeviceState &st, std::span<const uint8_t> p,
                                     std::initializer_list<size_t> sizes) {
    bool sizeOk = false;
    for (size_t size : sizes)
        sizeOk = sizeOk || p.size() == size;
    if (!sizeOk)
        return kErrFormat;
    if (*GetLe(p, 1, 2) != st.ext.Password(kReportOperator))
        return kErrPassword;
    if (st.receipt.kind != ReceiptKind::None)
        return kErrReceiptOpen;
    return std::nullopt;
}

Reply Printed(DeviceState &st, std::span<const uint8_t> p) {
    st.printedReports.emplace_back(p.begin(), p.end());
    return Reply::Ok();
}

Reply DayReport(PrinterEmulator &emu, std::span<const uint8_t> p) {
    auto &st = emu.State();
    if (auto refused = ReportRefusal(st, p, {3}))
        return Reply::Error(*refused);
    return Printed(st, p);
}

// Z report: the day's totals go to fiscal memory and start again from zero;
// the shift closes and with it the over-24-hours warning.
Reply DayClrReport(PrinterEmulator &emu, std::span<const uint8_t> p) {
    auto &st = emu.State();
    auto &ext = st.ext;
    if (auto refused = ReportRefusal(st, p, {3}))
        return Reply::Error(*refused);

    const uint16_t counter =
        static_cast<uint16_t>(std::max<uint64_t>(ext.ReadLe(mem::kBank10, mem::kZCounter, 2), 1));
    const sys_days today = floor<days>(st.Now());
    const year_month_day date{today};
    ZRecord record{counter, static_cast<uint8_t>(unsigned(date.day())),
                   static_cast<uint8_t>(unsigned(date.month())),
                   static_cast<uint8_t>(static_cast<int>(date.year()) % 100)};
    st.zReports.push_back(record);
    ext.WriteLe(mem::kBank10, mem::kZCounter, counter + 1u, 2);
    const Bytes zDate{ToBcd(record.day), ToBcd(record.month), ToBcd(record.year)};
    ext.Write(mem::kBank10, mem::kZDate, zDate);

    const Bytes zeros(30, 0);
    ext.Write(mem::kBank10, mem::kSaleDaySums, zeros);
    ext.Write(mem::kBank10, mem::kPayDaySums, zeros);
    // Voided receipts and cancellations are counted per day as well.
    ext.Write(mem::kBank10, mem::kVoided, Bytes(14, 0));
    ext.Write(mem::kBank10, mem::kCancels, Bytes(14, 0));
    ext.daySalesByForm.fill(0);
    ext.dayReturnsByForm.fill(0);
    ext.dayReturnsByGroupExtra.fill(0);
    ext.salesMarkups = ext.salesDiscounts = ext.returnsMarkups = ext.returnsDiscounts = 0;
    ext.cashIn = ext.cashOut = 0;
    st.shiftOpen = false;
    st.SetShiftOver24h(false);
    return Printed(st, p);
}

Reply ArticleReport(PrinterEmulator &emu, std::span<const uint8_t> p) {
    auto &st = emu.State();
    if (auto refused = ReportRefusal(st, p, {3, 15}))
        return Reply::Error(*refused);
    if (p.size() == 15 && *GetLe(p, 3, 6) > *GetLe(p, 9, 6))
        return Reply::Error(kErrNoSuchNumber);
    return Printed(st, p);
}

std::optional<year_month_day> RequestDate(std::span<const uint8_t> p, size_t offset) {
    return BcdDate(p[offset], p[offset + 1], p[offset + 2]);
}

Reply PeriodicReport(PrinterEmulator &emu, std::span<const uint8_t> p) {
    auto &st = emu.State();
    if (auto refused = ReportRefusal(st, p, {9}))
        return Reply::Error(*refused);
    const auto from = RequestDate(p, 3);
    const auto to = RequestDate(p, 6);
    if (!from || !to || *to < *from)
        return Reply::Error(kErrDateTime);
    return Printed(st, p);
}

Reply PeriodicNumberReport(PrinterEmulator &emu, std::span<const uint8_t> p) {
    auto &st = emu.State();
    if (auto refused = ReportRefusal(st, p, {7}))
        return Reply::Error(*refused);
    const uint64_t first = *GetLe(p, 3, 2);
    const uint64_t last = *GetLe(p, 5, 2);
    const uint64_t lastZ = st.ext.ReadLe(mem::kBank10, mem::kZCounter, 2);
    if (first == 0 || last < first || last >= std::max<uint64_t>(lastZ, 1))
        return Reply::Error(kErrNoSuchNumber);
    return Printed(st, p);
}

} // namespace

void RegisterReportCommands(PrinterEmulator &emu) {
    emu.SetHandler(0x09, DayReport);
    emu.SetHandler(0x0D, DayClrReport);
    emu.SetHandler(0x0A, ArticleReport);
    emu.SetHandler(0x11, PeriodicReport);
    emu.SetHandler(0x1A, PeriodicReport);
    emu.SetHandler(0x1F, PeriodicNumberReport);
}

} // namespace krv::emu
