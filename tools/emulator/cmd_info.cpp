// The emulated printer's memory and the commands that read it: the memory
// read (1C), article information (29), day totals (2A), the sums of the
// current receipt (2B) and the tax table (2C).
#include "bytes.h"
#include "commands.h"
#include "emulator.h"

#include "codepage.h"

#include <algorithm>

namespace krv::emu {

// ---- memory -------------------------------------------------------------------

std::vector<uint8_t> &DeviceStateExt::Bank(uint8_t bank) {
    auto &bytes = memory[bank];
    if (bytes.size() != mem::kBankSize)
        bytes.resize(mem::kBankSize, 0);
    return bytes;
}

std::vector<uint8_t> DeviceStateExt::Read(uint8_t bank, uint16_t address, size_t length) {
    const auto &bytes = Bank(bank);
    const size_t end = std::min(mem::kBankSize, size_t{address} + length);
    return {bytes.begin() + address, bytes.begin() + static_cast<std::ptrdiff_t>(end)};
}

void DeviceStateExt::Write(uint8_t bank, uint16_t address, std::span<const uint8_t> data) {
    auto &bytes = Bank(bank);
    for (size_t i = 0; i < data.size() && address + i < mem::kBankSize; ++i)
        bytes[address + i] = data[i];
}

uint64_t DeviceStateExt::ReadLe(uint8_t bank, uint16_t address, size_t count) {
    const Bytes bytes = Read(bank, address, count);
    return GetLe(bytes, 0, bytes.size()).value_or(0);
}

void DeviceStateExt::WriteLe(uint8_t bank, uint16_t address, uint64_t value, size_t count) {
    Bytes bytes;
    PutLe(bytes, value, count);
    Write(bank, address, bytes);
}

void DeviceStateExt::Reset() {
    static_cast<DeviceStateExtData &>(*this) = DeviceStateExtData{};
    Bank(mem::kBank00);
    Bank(mem::kBank10);
    for (int op = 0; op < 10; ++op)
        SetPassword(op, 0);
    static const char *const kFormNames[10] = {"КАРТКА",   "КРЕДИТ",   "ЧЕК",      "ГОТІВКА",
                                               "ОПЛАТА 5", "ОПЛАТА 6", "ОПЛАТА 7", "ОПЛАТА 8",
                                               "ОПЛАТА 9", "ОПЛАТА 10"};
    for (int form = 0; form < 10; ++form) {
        const Bytes name = DeviceText(kFormNames[form]);
        Bytes record{static_cast<uint8_t>(name.size())};
        record.insert(record.end(), name.begin(), name.end());
        Write(mem::kBank10, static_cast<uint16_t>(mem::kPayNames + 16 * form), record);
    }
    WriteLe(mem::kBank10, mem::kZCounter, 1, 2);
    WriteLe(mem::kBank10, mem::kTapeStart, 0x8000, 2);
    WriteLe(mem::kBank10, mem::kTapeEnd, 0xFFFF, 2);
    modemText = "KRV-L5 v1.07\r\nGSM: OK\r\nSIM: READY\r\nSIGNAL: 21\r\n";
    modem.sn = 20230017;
    modem.idDev = 4711;
    modem.idSam = 0x12345678;
    modem.failCode = 0;
    modem.batVoltage = 4150;
    modem.dcVoltage = 12000;
    modem.temperature = 31;
    modem.states = {0x11, 9, 9, 9, 6, 0, 0, 0};
    modem.rssi = 21;
    for (int i = 0; i < 8; ++i) {
        operatorNames[i] = DeviceText("КАСИР " + std::to_string(i + 1));
    }
}

namespace {

Bytes Sum40(uint64_t value) {
    Bytes out;
    PutLe(out, value, 5);
    return out;
}

void Append(Bytes &out, const Bytes &more) {
    out.insert(out.end(), more.begin(), more.end());
}

// The printer's address counter is 16 bits wide: a block that runs past
// FFFF goes on at 0000 of the same bank, so every address gives a whole
// block.
Reply MemoryRead(PrinterEmulator &emu, std::span<const uint8_t> p) {
    if (p.size() != 5)
        return Reply::Error(kErrFormat);
    const auto address = static_cast<uint16_t>(p[1] | p[2] << 8);
    auto &ext = emu.State().ext;
    Bytes out = ext.Read(p[3], address, p[4]);
    Append(out, ext.Read(p[3], 0, p[4] - out.size()));
    return Reply::Ok(std::move(out));
}

Reply ArticleInfo(PrinterEmulator &emu, std::span<const uint8_t> p) {
    const auto code = GetLe(p, 1, 6);
    if (!code || p.size() != 7)
        return Reply::Error(kErrFormat);
    auto &ext = emu.State().ext;
    const auto it = ext.articles.find(*code);
    if (it == ext.articles.end())
        return Reply::Error(kErrArticle);
    const ArticleRecord &a = it->second;
    const size_t nameLength = std::min<size_t>(a.name.size(), 0x7F);
    Bytes out{static_cast<uint8_t>(nameLength | (a.returnsFirst ? 0x80 : 0))};
    out.insert(out.end(), a.name.begin(), a.name.begin() + static_cast<std::ptrdiff_t>(nameLength));
    const uint32_t qty1 = a.returnsFirst ? a.returnsQty : a.salesQty;
    const uint8_t flags1 = a.returnsFirst ? a.returnsFlags : a.salesFlags;
    const uint64_t sum1 = a.returnsFirst ? a.returnsSum : a.salesSum;
    const uint32_t qty2 = a.returnsFirst ? a.salesQty : a.returnsQty;
    const uint8_t flags2 = a.returnsFirst ? a.salesFlags : a.returnsFlags;
    const uint64_t sum2 = a.returnsFirst ? a.salesSum : a.returnsSum;
    PutLe(out, qty1, 3);
    out.push_back(flags1);
    PutLe(out, a.priceWire, 4);
    out.push_back(a.taxByte);
    PutLe(out, sum1, 5);
    PutLe(out, qty2, 3);
    out.push_back(flags2);
    PutLe(out, sum2, 5);
    return Reply::Ok(std::move(out));
}

Reply DayTotals(PrinterEmulator &emu, std::span<const uint8_t>) {
    auto &ext = emu.State().ext;
    Bytes out = ext.Read(mem::kBank10, mem::kSaleReceiptNo, 2);
    Append(out, ext.Read(mem::kBank10, mem::kSaleDaySums, 30));
    for (uint64_t sum : ext.daySalesByForm)
        Append(out, Sum40(sum));
    Append(out, Sum40(ext.salesMarkups));
    Append(out, Sum40(ext.salesDiscounts));
    Append(out, Sum40(ext.cashIn));
    Append(out, ext.Read(mem::kBank10, mem::kPayReceiptNo, 2));
    Append(out, ext.Read(mem::kBank10, mem::kPayDaySums, 30));
    for (uint64_t sum : ext.dayReturnsByForm)
        Append(out, Sum40(sum));
    Append(out, Sum40(ext.returnsMarkups));
    Append(out, Sum40(ext.returnsDiscounts));
    Append(out, Sum40(ext.cashOut));
    return Reply::Ok(std::move(out));
}

Reply ReceiptSums(PrinterEmulator &emu, std::span<const uint8_t>) {
    auto &ext = emu.State().ext;
    Bytes out;
    for (uint32_t sum : ext.receiptByGroup)
        PutLe(out, sum, 4);
    for (uint32_t sum : ext.receiptByForm)
        PutLe(out, sum, 4);
    return Reply::Ok(std::move(out));
}

Reply TaxTable(PrinterEmulator &emu, std::span<const uint8_t>) {
    auto &ext = emu.State().ext;
    const uint8_t count = ext.Read(mem::kBank00, mem::kTaxCount, 1).at(0);
    Bytes out{count};
    out.insert(out.end(), ext.taxDate.begin(), ext.taxDate.end());
    Append(out, ext.Read(mem::kBank10, mem::kTaxTable, 2 * count + 1u));
    const uint8_t options = out.back();
    if (options & 0x20) {
        Append(out, ext.Read(mem::kBank10, static_cast<uint16_t>(mem::kTaxTable + 2 * count + 1),
                             2 * count));
        Append(out, ext.Read(mem::kBank10, mem::kGroupFLevy, 2));
    }
    return Reply::Ok(std::move(out));
}

} // namespace

Bytes DeviceText(std::string_view utf8) {
    const std::string oem = platform::AnsiToPrinterText(platform::Utf8ToCp1251(utf8));
    return Bytes(oem.begin(), oem.end());
}

void RegisterInfoCommands(PrinterEmulator &emu) {
    emu.SetHandler(0x1C, MemoryRead);
    emu.SetHandler(0x29, ArticleInfo);
    emu.SetHandler(0x2A, DayTotals);
    emu.SetHandler(0x2B, ReceiptSums);
    emu.SetHandler(0x2C, TaxTable);
}

} // namespace krv::emu
