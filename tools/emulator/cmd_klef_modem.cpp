// The electronic control tape (33 status, 37 clear, 38 acknowledge), the
// 72-hour lock (3A) and the KRV-L5 modem's text queries of the emulated
// printer.
#include "bytes.h"
#include "commands.h"
#include "emulator.h"

#include <algorithm>
#include <chrono>

namespace krv::emu {

uint16_t DeviceStateExt::FreeBytes() const {
    const uint64_t stored = lastPacket == 0 ? 0 : uint64_t{lastPacket} - firstPacket + 1;
    const uint64_t used = stored * packetBytes;
    return static_cast<uint16_t>(used >= tapeCapacity ? 0 : tapeCapacity - used);
}

void DeviceStateExt::AddPackets(uint32_t count) {
    if (count == 0)
        return;
    auto counter = static_cast<uint32_t>(ReadLe(mem::kBank10, mem::kPacketCounter, 4));
    if (lastPacket == 0)
        firstPacket = counter + 1;
    counter += count;
    lastPacket = counter;
    WriteLe(mem::kBank10, mem::kPacketCounter, counter, 4);
}

namespace {

void PutBe(Bytes &out, uint64_t value, size_t count) {
    for (size_t i = count; i-- > 0;)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

} // namespace

Bytes ModemStateReplyBytes(const ModemStateFields &f) {
    Bytes out{static_cast<uint8_t>(f.extended ? 189 : 76)};
    for (uint32_t value :
         {f.secondCnt, f.rroXchgTime, f.acqXchgTime, f.firstUnsendSeconds, f.pidUnused,
          f.pidCurPers, f.pidLastWrite, f.pidLastSign, f.pidLastSend, f.sn, f.idDev})
        PutLe(out, value, 4);
    PutBe(out, f.idSam, 4);
    PutBe(out, f.ntSam, 4);
    PutBe(out, f.ntSession, 2);
    out.push_back(f.failCode);
    out.push_back(f.res1);
    for (uint16_t value : {f.batVoltage, f.dcVoltage, f.batCurrent, f.temperature})
        PutLe(out, value, 2);
    out.insert(out.end(), f.states.begin(), f.states.end());
    PutLe(out, f.rroXchgErrorCnt, 2);
    out.push_back(f.rssi);
    out.push_back(f.rssiBer);
    if (!f.extended)
        return out;
    Bytes ussd(79, 0);
    std::copy_n(f.ussd.begin(), std::min<size_t>(f.ussd.size(), ussd.size()), ussd.begin());
    out.insert(out.end(), ussd.begin(), ussd.end());
    out.push_back(0);
    PutLe(out, f.osVer, 2);
    PutLe(out, f.osRev, 2);
    PutLe(out, f.sysTime, 4);
    for (const auto &address : f.addresses)
        out.insert(out.end(), address.begin(), address.end());
    PutBe(out, f.acqPort, 2);
    out.insert(out.end(), 3, 0);
    return out;
}

namespace {

bool ReportPasswordOk(PrinterEmulator &emu, std::span<const uint8_t> p) {
    return emu.State().ext.Password(kReportOperator) == GetLe(p, 1, 2);
}

// BCD day, month, year, hour, minute, second as a point in time.
std::optional<std::chrono::sys_seconds> MomentOf(std::span<const uint8_t, 6> bcd) {
    using namespace std::chrono;
    const auto date = BcdDate(bcd[0], bcd[1], bcd[2]);
    if (!date || !IsBcd(bcd[3]) || !IsBcd(bcd[4]) || !IsBcd(bcd[5]))
        return std::nullopt;
    const int h = FromBcd(bcd[3]), m = FromBcd(bcd[4]), s = FromBcd(bcd[5]);
    if (h > 23 || m > 59 || s > 59)
        return std::nullopt;
    return sys_days{*date} + hours{h} + minutes{m} + seconds{s};
}

std::array<uint8_t, 6> BcdOf(std::chrono::sys_seconds moment) {
    using namespace std::chrono;
    const auto day = floor<days>(moment);
    const year_month_day ymd{day};
    const hh_mm_ss time{moment - day};
    return {ToBcd(static_cast<int>(unsigned(ymd.day()))),
            ToBcd(static_cast<int>(unsigned(ymd.month()))),
            ToBcd(static_cast<int>(ymd.year()) % 100),
            ToBcd(static_cast<int>(time.hours().count())),
            ToBcd(static_cast<int>(time.minutes().count())),
            ToBcd(static_cast<int>(time.seconds().count()))};
}

Reply TapeStatus(PrinterEmulator &emu, std::span<const uint8_t> p) {
    if (p.size() != 1)
        return Reply::Error(kErrFormat);
    auto &ext = emu.State().ext;
    Bytes out;
    PutLe(out, ext.firstPacket, 4);
    PutLe(out, ext.lastPacket, 4);
    PutLe(out, ext.FreeBytes(), 2);
    return Reply::Ok(std::move(out));
}

Reply ClearTape(PrinterEmulator &emu, std::span<const uint8_t> p) {
    if (p.size() != 7)
        return Reply::Error(kErrFormat);
    if (!ReportPasswordOk(emu, p))
        return Reply::Error(kErrPassword);
    auto &ext = emu.State().ext;
    const auto last = static_cast<uint32_t>(*GetLe(p, 3, 4));
    if (ext.lastPacket == 0 || last < ext.firstPacket || last > ext.lastPacket)
        return Reply::Error(kErrTapeNumber);
    if (last == ext.lastPacket) {
        ext.firstPacket = ext.lastPacket = 0;
    } else {
        ext.firstPacket = last + 1;
    }
    return Reply::Ok();
}

Reply AcknowledgeTape(PrinterEmulator &emu, std::span<const uint8_t> p) {
    if (p.size() != 17)
        return Reply::Error(kErrFormat);
    if (!ReportPasswordOk(emu, p))
        return Reply::Error(kErrPassword);
    auto &ext = emu.State().ext;
    TapeAck ack;
    ack.first = static_cast<uint32_t>(*GetLe(p, 3, 4));
    ack.last = static_cast<uint32_t>(*GetLe(p, 7, 4));
    std::copy(p.begin() + 11, p.end(), ack.moment.begin());
    if (!MomentOf(ack.moment))
        return Reply::Error(kErrDateTime);
    if (ext.lastPacket == 0 || ack.first > ack.last || ack.first < ext.firstPacket ||
        ack.last > ext.lastPacket)
        return Reply::Error(kErrTapeNumber);
    ext.acks.push_back(ack);
    return Reply::Ok();
}

// With a year the lock moves to 72 hours after the moment given; a year byte
// of 00 removes it.
Reply Lock72(PrinterEmulator &emu, std::span<const uint8_t> p) {
    if (p.size() != 9)
        return Reply::Error(kErrFormat);
    if (!ReportPasswordOk(emu, p))
        return Reply::Error(kErrPassword);
    auto &ext = emu.State().ext;
    std::array<uint8_t, 6> moment{};
    std::copy(p.begin() + 3, p.end(), moment.begin());
    if (moment[2] == 0) {
        ext.lockMoment = {};
    } else {
        const auto start = MomentOf(moment);
        if (!start)
            return Reply::Error(kErrDateTime);
        ext.lockMoment = BcdOf(*start + std::chrono::hours{72});
    }
    ext.Write(mem::kBank10, mem::kLockRecord, std::span<const uint8_t>(ext.lockMoment).first(5));
    return Reply::Ok();
}

Bytes ModemQuery(PrinterEmulator &emu, std::string_view query) {
    auto &ext = emu.State().ext;
    if (ext.modemSilentQueries > 0) {
        --ext.modemSilentQueries;
        return {};
    }
    if (query == "~~#00#")
        return Bytes(ext.modemText.begin(), ext.modemText.end());
    if (query == "~~#01#")
        return ext.modemState.empty() ? ModemStateReplyBytes(ext.modem) : ext.modemState;
    return {};
}

} // namespace

void RegisterTapeModemCommands(PrinterEmulator &emu) {
    emu.SetHandler(0x33, TapeStatus);
    emu.SetHandler(0x37, ClearTape);
    emu.SetHandler(0x38, AcknowledgeTape);
    emu.SetHandler(0x3A, Lock72);
    emu.SetTextQueryHandler(ModemQuery);
}

} // namespace krv::emu
