// The emulated printer's status (00), clock (01 to 04), customer display
// (1B), drawer (1D), receipt copy (1E), version print (20), money in the
// drawer (21), mode toggles (24, 25, 2E), line rate (26), line spacing and
// contrast (27) and paper sensors (30).
#include "bytes.h"
#include "commands.h"
#include "emulator.h"

#include <algorithm>
#include <chrono>

namespace krv::emu {
namespace {

constexpr size_t kSerialLength = 19;
constexpr size_t kFiscalLength = 10;
constexpr size_t kFirmwareLength = 5;
constexpr size_t kMaxDisplayText = 20;
constexpr uint8_t kCutterOffBit = 0x08;

using namespace std::chrono;

// UTF-8 text as the printer's bytes, cut or padded with blanks to `width`.
Bytes FixedText(std::string_view utf8, size_t width) {
    Bytes text = DeviceText(utf8);
    text.resize(width, ' ');
    return text;
}

void AppendLine(Bytes &out, uint8_t attributes, std::span<const uint8_t> text) {
    const size_t length = std::min<size_t>(text.size(), 0x3F);
    out.push_back(static_cast<uint8_t>((attributes & 0xC0) | length));
    out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
}

bool AddedTax(DeviceStateExt &ext) {
    const uint8_t count = ext.Read(mem::kBank00, mem::kTaxCount, 1).at(0);
    if (count == 0 || count > 5)
        return false;
    const uint8_t options =
        ext.Read(mem::kBank10, static_cast<uint16_t>(mem::kTaxTable + 2 * count), 1).at(0);
    return (options & 0x30) == 0x10;
}

Reply Status(PrinterEmulator &emu, std::span<const uint8_t> p) {
    auto &st = emu.State();
    auto &ext = st.ext;
    if (p.size() != 1)
        return Reply::Error(kErrFormat);
    const auto &r = st.receipt;
    const bool receiptOpen = r.kind != ReceiptKind::None;
    const bool fiscal = st.fiscalMode || !ext.fiscalNumber.empty();
    uint8_t a = 0, b = 0;
    if (receiptOpen && r.paymentsBegun)
        a |= 0x02;
    if (!st.drawerOpen)
        a |= 0x04;
    // The console reads bit 3 as "the open receipt is a return".
    if (r.kind == ReceiptKind::Payout)
        a |= 0x08;
    if (AddedTax(ext))
        a |= 0x10;
    if (st.shiftOpen)
        a |= 0x20;
    if (receiptOpen)
        a |= 0x40;
    if (!st.displaySums)
        a |= 0x80;
    if (st.serviceReportOnTape)
        b |= 0x01;
    if (st.taxRatesChanged)
        b |= 0x02;
    if (st.ExtFlags() & 0x01)
        b |= 0x08;
    if (fiscal)
        b |= 0x10;
    if (st.lastCommandFailed)
        b |= 0x20;
    if (st.onLine)
        b |= 0x40;

    Bytes out{a, b};
    const Bytes serial = FixedText(st.serialNumber, kSerialLength);
    out.insert(out.end(), serial.begin(), serial.end());
    out.insert(out.end(), st.registration.begin(), st.registration.end());
    Bytes fiscalNumber(ext.fiscalNumber.begin(), ext.fiscalNumber.end());
    fiscalNumber.resize(kFiscalLength, ' ');
    out.insert(out.end(), fiscalNumber.begin(), fiscalNumber.end());
    for (const auto &line : ext.headLines)
        AppendLine(out, line.lengthByte, line.text);
    AppendLine(out, ext.idNumber ? 0x80 : 0x00, ext.taxNumber);
    const Bytes firmware = FixedText(st.designation, kFirmwareLength);
    out.insert(out.end(), firmware.begin(), firmware.end());
    return Reply::Ok(std::move(out));
}

// ---- clock ----

struct Moment {
    year_month_day date;
    hh_mm_ss<seconds> time;
};

Moment Split(sys_seconds now) {
    const sys_days day = floor<days>(now);
    return {year_month_day(day), hh_mm_ss<seconds>(now - day)};
}

int BcdOrMinus(uint8_t byte) {
    return IsBcd(byte) ? FromBcd(byte) : -1;
}

Reply GetDate(PrinterEmulator &emu, std::span<const uint8_t> p) {
    if (p.size() != 1)
        return Reply::Error(kErrFormat);
    const Moment m = Split(emu.State().Now());
    return Reply::Ok(Bytes{ToBcd(static_cast<int>(unsigned(m.date.day()))),
                           ToBcd(static_cast<int>(unsigned(m.date.month()))),
                           ToBcd(static_cast<int>(m.date.year()) % 100)});
}

Reply SetDate(PrinterEmulator &emu, std::span<const uint8_t> p) {
    auto &st = emu.State();
    if (p.size() != 4)
        return Reply::Error(kErrFormat);
    const auto date = BcdDate(p[1], p[2], p[3]);
    if (!date)
        return Reply::Error(kErrDateTime);
    const Bytes lastZ = st.ext.Read(mem::kBank10, mem::kZDate, 3);
    if (lastZ[0] != 0) {
        const year_month_day z{year(2000 + FromBcd(lastZ[2])),
                               month(static_cast<unsigned>(FromBcd(lastZ[1]))),
                               day(static_cast<unsigned>(FromBcd(lastZ[0])))};
        if (z.ok() && *date < z)
            return Reply::Error(kErrBeforeLastZ);
    }
    const Moment m = Split(st.Now());
    st.SetClock(sys_days(*date) + m.time.to_duration());
    return Reply::Ok();
}

Reply GetTime(PrinterEmulator &emu, std::span<const uint8_t> p) {
    if (p.size() != 1)
        return Reply::Error(kErrFormat);
    const Moment m = Split(emu.State().Now());
    return Reply::Ok(Bytes{ToBcd(static_cast<int>(m.time.hours().count())),
                           ToBcd(static_cast<int>(m.time.minutes().count())),
                           ToBcd(static_cast<int>(m.time.seconds().count()))});
}

Reply SetTime(PrinterEmulator &emu, std::span<const uint8_t> p) {
    auto &st = emu.State();
    if (p.size() != 4)
        return Reply::Error(kErrFormat);
    const int h = BcdOrMinus(p[1]), mi = BcdOrMinus(p[2]), s = BcdOrMinus(p[3]);
    if (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
        return Reply::Error(kErrDateTime);
    const Moment m = Split(st.Now());
    st.SetClock(sys_days(m.date) + hours(h) + minutes(mi) + seconds(s));
    return Reply::Ok();
}

// ---- peripherals and modes ----

Reply SendCustomer(PrinterEmulator &emu, std::span<const uint8_t> p) {
    if (p.size() < 3 || p.size() != 3u + p[2] || p[2] > kMaxDisplayText)
        return Reply::Error(kErrFormat);
    if (p[1] > 1)
        return Reply::Error(kErrNoSuchNumber);
    emu.State().customerDisplay[p[1]].assign(p.begin() + 3, p.end());
    return Reply::Ok();
}

Reply OpenBox(PrinterEmulator &emu, std::span<const uint8_t>) {
    emu.State().drawerOpen = true;
    return Reply::Ok();
}

Reply CopyLastCheck(PrinterEmulator &emu, std::span<const uint8_t>) {
    auto &st = emu.State();
    if (st.receipt.kind != ReceiptKind::None)
        return Reply::Error(kErrReceiptOpen);
    if (!st.anyReceiptClosed)
        return Reply::Error(kErrNoReceipts);
    ++st.copiesPrinted;
    return Reply::Ok();
}

Reply PrintVersion(PrinterEmulator &emu, std::span<const uint8_t>) {
    auto &st = emu.State();
    if (st.receipt.kind != ReceiptKind::None)
        return Reply::Error(kErrReceiptOpen);
    ++st.versionPrints;
    return Reply::Ok();
}

Reply MoneyInBox(PrinterEmulator &emu, std::span<const uint8_t>) {
    Bytes out;
    PutLe(out, static_cast<uint64_t>(std::max<int64_t>(emu.State().cashInDrawer, 0)), 5);
    return Reply::Ok(std::move(out));
}

Reply ToggleOnline(PrinterEmulator &emu, std::span<const uint8_t>) {
    emu.State().onLine = !emu.State().onLine;
    return Reply::Ok();
}

Reply ToggleDisplay(PrinterEmulator &emu, std::span<const uint8_t>) {
    emu.State().displaySums = !emu.State().displaySums;
    return Reply::Ok();
}

Reply ToggleCutter(PrinterEmulator &emu, std::span<const uint8_t>) {
    auto &ext = emu.State().ext;
    ext.SetCutterByte(static_cast<uint8_t>(ext.CutterByte() ^ kCutterOffBit));
    return Reply::Ok();
}

// The reply still goes out at the old rate; the new one applies from the
// next request on.
Reply ChangeBaudRate(PrinterEmulator &emu, std::span<const uint8_t> p) {
    static constexpr uint32_t kRates[] = {9600, 19200, 38400};
    if (p.size() != 2)
        return Reply::Error(kErrFormat);
    if (p[1] > 2)
        return Reply::Error(kErrForbidden);
    emu.State().baudCode = p[1];
    emu.PaceAfterReply(kRates[p[1]]);
    return Reply::Ok();
}

// One command sets the line spacing (0 to 63) and the contrast (50 to 200
// percent); a value both could mean sets both.
Reply LineParameter(PrinterEmulator &emu, std::span<const uint8_t> p) {
    auto &st = emu.State();
    if (p.size() != 2)
        return Reply::Error(kErrFormat);
    const uint8_t value = p[1];
    if (value > 200)
        return Reply::Error(kErrForbidden);
    if (value <= 63)
        st.lineSpacing = value;
    if (value >= 50)
        st.contrast = value;
    return Reply::Ok();
}

Reply PaperState(PrinterEmulator &emu, std::span<const uint8_t>) {
    return Reply::Ok(Bytes{emu.State().paperState});
}

} // namespace

void RegisterStatusClockCommands(PrinterEmulator &emu) {
    emu.SetHandler(0x00, Status);
    emu.SetHandler(0x01, GetDate);
    emu.SetHandler(0x02, SetDate);
    emu.SetHandler(0x03, GetTime);
    emu.SetHandler(0x04, SetTime);
    emu.SetHandler(0x1B, SendCustomer);
    emu.SetHandler(0x1D, OpenBox);
    emu.SetHandler(0x1E, CopyLastCheck);
    emu.SetHandler(0x20, PrintVersion);
    emu.SetHandler(0x21, MoneyInBox);
    emu.SetHandler(0x24, ToggleOnline);
    emu.SetHandler(0x25, ToggleDisplay);
    emu.SetHandler(0x26, ChangeBaudRate);
    emu.SetHandler(0x27, LineParameter);
    emu.SetHandler(0x2E, ToggleCutter);
    emu.SetHandler(0x30, PaperState);
}

} // namespace krv::emu
