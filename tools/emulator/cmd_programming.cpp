// Programming commands of the emulated printer: passwords and cashiers (05,
// 06), receipt message lines (17), fiscalization (15), the taxpayer header
// (16), tax rates (19), articles (22), payment-form names (32),
// personalization (35) and the running packet number (36).
#include "bytes.h"
#include "commands.h"
#include "emulator.h"

#include <chrono>

namespace krv::emu {

namespace {

// A bounded reader over a request payload (after the command byte). Once a
// read falls short every later read fails too, so a field that was read can
// be trusted when the last one was.
class Cursor {
  public:
    explicit Cursor(std::span<const uint8_t> payload) : m_bytes(payload), m_pos(1) {}
    std::optional<uint64_t> Le(size_t count) {
        if (!Has(count))
            return Fail<uint64_t>();
        auto value = GetLe(m_bytes, m_pos, count);
        m_pos += count;
        return value;
    }
    std::optional<uint8_t> Byte() {
        if (!Has(1))
            return Fail<uint8_t>();
        return m_bytes[m_pos++];
    }
    std::optional<Bytes> Take(size_t count) {
        if (!Has(count))
            return Fail<Bytes>();
        Bytes out(m_bytes.begin() + static_cast<std::ptrdiff_t>(m_pos),
                  m_bytes.begin() + static_cast<std::ptrdiff_t>(m_pos + count));
        m_pos += count;
        return out;
    }
    bool AtEnd() const { return !m_failed && m_pos == m_bytes.size(); }

  private:
    bool Has(size_t count) const {
        return !m_failed && m_pos <= m_bytes.size() && count <= m_bytes.size() - m_pos;
    }
    template <typename T> std::optional<T> Fail() {
        m_failed = true;
        return std::nullopt;
    }
    std::span<const uint8_t> m_bytes;
    size_t m_pos;
    bool m_failed = false;
};

bool ProgrammingPasswordOk(PrinterEmulator &emu, uint64_t password) {
    return emu.State().ext.Password(kProgrammingOperator) == password;
}

std::array<uint8_t, 3> TodayBcd() {
    const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
    const std::chrono::year_month_day ymd{today};
    return {ToBcd(static_cast<int>(unsigned(ymd.day()))),
            ToBcd(static_cast<int>(unsigned(ymd.month()))),
            ToBcd(static_cast<int>(ymd.year()) % 100)};
}

Reply SetPassword(PrinterEmulator &emu, std::span<const uint8_t> p) {
    Cursor in(p);
    const auto password = in.Le(2);
    const auto op = in.Byte();
    const auto newPassword = in.Le(2);
    const auto length = in.Byte();
    if (!length)
        return Reply::Error(kErrFormat);
    const auto name = in.Take(*length);
    if (!name || !in.AtEnd() || *length > 15)
        return Reply::Error(kErrFormat);
    if (*op > 9)
        return Reply::Error(kErrNoSuchNumber);
    auto &ext = emu.State().ext;
    if (ext.Password(*op) != *password)
        return Reply::Error(kErrPassword);
    ext.SetPassword(*op, static_cast<uint16_t>(*newPassword));
    if (*op < 8)
        ext.operatorNames[*op] = *name;
    return Reply::Ok();
}

Reply SetCashier(PrinterEmulator &emu, std::span<const uint8_t> p) {
    Cursor in(p);
    const auto password = in.Le(2);
    const auto op = in.Byte();
    const auto length = in.Byte();
    if (!length)
        return Reply::Error(kErrFormat);
    auto &ext = emu.State().ext;
    Bytes name;
    if (*length == 0xFF) {
        if (!in.AtEnd())
            return Reply::Error(kErrFormat);
        if (*op < 8)
            name = ext.operatorNames[*op];
    } else {
        const auto text = in.Take(*length);
        if (!text || !in.AtEnd() || *length > 15)
            return Reply::Error(kErrFormat);
        name = *text;
    }
    if (*op > 7)
        return Reply::Error(kErrNoSuchNumber);
    if (ext.Password(*op) != *password)
        return Reply::Error(kErrPassword);
    if (*length == 0) {
        ext.cashierOnDuty = -1; // an empty name signs the cashier off
        ext.cashierName.clear();
    } else {
        ext.cashierOnDuty = *op;
        ext.cashierName = name;
    }
    return Reply::Ok();
}

// A length byte with print attributes and its text.
std::optional<PrintedLine> TakeAttributedLine(Cursor &in, size_t maxLength) {
    const auto lengthByte = in.Byte();
    if (!lengthByte)
        return std::nullopt;
    const size_t length = *lengthByte & 0x3F;
    const auto text = in.Take(length);
    if (!text || length > maxLength)
        return std::nullopt;
    return PrintedLine{*lengthByte, *text};
}

Reply SetMessageLine(PrinterEmulator &emu, std::span<const uint8_t> p) {
    Cursor in(p);
    const auto index = in.Byte();
    if (!index)
        return Reply::Error(kErrFormat);
    const auto line = TakeAttributedLine(in, 36);
    if (!line || !in.AtEnd())
        return Reply::Error(kErrFormat);
    if (*index > 7)
        return Reply::Error(kErrNoSuchNumber);
    emu.State().ext.messageLines[*index] = *line;
    return Reply::Ok();
}

Reply Fiscalize(PrinterEmulator &emu, std::span<const uint8_t> p) {
    Cursor in(p);
    const auto password = in.Le(2);
    const auto number = in.Take(10);
    if (!number || !in.AtEnd())
        return Reply::Error(kErrFormat);
    if (!ProgrammingPasswordOk(emu, *password))
        return Reply::Error(kErrPassword);
    auto &ext = emu.State().ext;
    if (!ext.fiscalNumber.empty())
        return Reply::Error(kErrForbidden);
    ext.fiscalNumber.assign(number->begin(), number->end());
    return Reply::Ok();
}

Reply SetHeadLines(PrinterEmulator &emu, std::span<const uint8_t> p) {
    Cursor in(p);
    const auto password = in.Le(2);
    if (!password)
        return Reply::Error(kErrFormat);
    std::array<PrintedLine, 3> lines;
    for (auto &line : lines) {
        const auto taken = TakeAttributedLine(in, 30);
        if (!taken)
            return Reply::Error(kErrFormat);
        line = *taken;
    }
    const auto marker = in.Byte();
    const auto number = in.Take(12);
    if (!number || !in.AtEnd() || (*marker != 0x0C && *marker != 0x8C))
        return Reply::Error(kErrFormat);
    if (!ProgrammingPasswordOk(emu, *password))
        return Reply::Error(kErrPassword);
    auto &ext = emu.State().ext;
    ext.headLines = lines;
    ext.taxNumber = *number;
    ext.idNumber = *marker == 0x8C;
    return Reply::Ok();
}

Reply SetTaxRates(PrinterEmulator &emu, std::span<const uint8_t> p) {
    Cursor in(p);
    const auto password = in.Le(2);
    const auto count = in.Byte();
    if (!count || *count == 0 || *count > 5)
        return Reply::Error(kErrFormat);
    const auto rates = in.Take(2 * size_t{*count});
    const auto options = in.Byte();
    if (!options)
        return Reply::Error(kErrFormat);
    const bool withLevy = *options & 0x20;
    std::optional<Bytes> levies = Bytes{};
    std::optional<Bytes> groupF = Bytes{0, 0};
    if (withLevy) {
        levies = in.Take(2 * size_t{*count});
        groupF = in.Take(2);
    }
    if (!levies || !groupF || !in.AtEnd())
        return Reply::Error(kErrFormat);
    for (size_t k = 0; k < *count; ++k) {
        const auto rate = *GetLe(*rates, 2 * k, 2);
        const auto levy = withLevy ? (*GetLe(*levies, 2 * k, 2) & 0x7FFF) : 0;
        if (rate > 9999 || rate + levy > 9999)
            return Reply::Error(kErrFormat);
    }
    if (!ProgrammingPasswordOk(emu, *password))
        return Reply::Error(kErrPassword);
    auto &ext = emu.State().ext;
    ext.WriteLe(mem::kBank00, mem::kTaxCount, *count, 1);
    Bytes table = *rates;
    table.push_back(*options);
    table.insert(table.end(), levies->begin(), levies->end());
    ext.Write(mem::kBank10, mem::kTaxTable, table);
    ext.Write(mem::kBank10, mem::kGroupFLevy, *groupF);
    ext.taxDate = TodayBcd();
    return Reply::Ok();
}

Reply ProgramArticle(PrinterEmulator &emu, std::span<const uint8_t> p) {
    Cursor in(p);
    const auto password = in.Le(2);
    const auto qtyFlags = in.Byte();
    const auto price = in.Le(4);
    const auto taxByte = in.Byte();
    const auto length = in.Byte();
    if (!length)
        return Reply::Error(kErrFormat);
    const auto name = in.Take(*length);
    const auto code = in.Le(6);
    if (!code || !in.AtEnd())
        return Reply::Error(kErrFormat);
    if (!ProgrammingPasswordOk(emu, *password))
        return Reply::Error(kErrPassword);
    if (*taxByte < 0x80 || *taxByte > 0x85 || name->empty() || name->size() > 70)
        return Reply::Error(kErrArticle);
    auto &ext = emu.State().ext;
    auto [it, added] = ext.articles.try_emplace(*code);
    it->second.name = *name;
    it->second.qtyFlags = *qtyFlags;
    it->second.priceWire = static_cast<uint32_t>(*price);
    it->second.taxByte = *taxByte;
    if (added) {
        const uint16_t programmed =
            static_cast<uint16_t>(ext.ReadLe(mem::kBank10, mem::kArticleCounts + 2, 2) + 1);
        ext.WriteLe(mem::kBank10, mem::kArticleCounts + 2, programmed, 2);
    }
    return Reply::Ok();
}

Reply SetPayName(PrinterEmulator &emu, std::span<const uint8_t> p) {
    Cursor in(p);
    const auto password = in.Le(2);
    const auto index = in.Byte();
    const auto length = in.Byte();
    if (!length)
        return Reply::Error(kErrFormat);
    const auto name = in.Take(*length);
    if (!name || !in.AtEnd() || name->empty() || name->size() > 15)
        return Reply::Error(kErrFormat);
    if (!ProgrammingPasswordOk(emu, *password))
        return Reply::Error(kErrPassword);
    if (*index == 3 || *index > 9)
        return Reply::Error(kErrPaymentForm);
    Bytes record(16, 0);
    record[0] = *length;
    std::copy(name->begin(), name->end(), record.begin() + 1);
    emu.State().ext.Write(mem::kBank10, static_cast<uint16_t>(mem::kPayNames + 16 * *index),
                          record);
    return Reply::Ok();
}

Reply Personalize(PrinterEmulator &emu, std::span<const uint8_t> p) {
    Cursor in(p);
    const auto password = in.Le(2);
    const auto flag = in.Byte();
    const auto length = in.Byte();
    if (!length)
        return Reply::Error(kErrFormat);
    const auto text = in.Take(*length);
    if (!text || !in.AtEnd() || text->empty())
        return Reply::Error(kErrFormat);
    if (!ProgrammingPasswordOk(emu, *password))
        return Reply::Error(kErrPassword);
    auto &ext = emu.State().ext;
    ext.personalization = *text;
    if (*flag)
        ext.WriteLe(mem::kBank10, mem::kPersonalized, 1, 1);
    return Reply::Ok();
}

Reply SetPacketNumber(PrinterEmulator &emu, std::span<const uint8_t> p) {
    Cursor in(p);
    const auto password = in.Le(2);
    const auto number = in.Le(4);
    if (!number || !in.AtEnd())
        return Reply::Error(kErrFormat);
    if (!ProgrammingPasswordOk(emu, *password))
        return Reply::Error(kErrPassword);
    emu.State().ext.WriteLe(mem::kBank10, mem::kPacketCounter, *number, 4);
    return Reply::Ok();
}

} // namespace

bool PutInService(PrinterEmulator &emu) {
    // The fresh printer's programming password is 0.
    Bytes taxes{0x19, 0, 0, 5};
    for (uint16_t rate : {2000, 700, 1400, 0, 0})
        PutLe(taxes, rate, 2);
    taxes.push_back(0x00);           // the tax included in the prices, no levies
    Bytes article{0x22, 0, 0, 0x00}; // whole quantities
    PutLe(article, 1250, 4);
    article.push_back(0x80); // group А
    const Bytes name = DeviceText("ХЛІБ");
    article.push_back(static_cast<uint8_t>(name.size()));
    article.insert(article.end(), name.begin(), name.end());
    PutLe(article, 1, 6);
    auto lock = emu.Lock();
    return SetTaxRates(emu, taxes).error == 0 && ProgramArticle(emu, article).error == 0;
}

void RegisterProgrammingCommands(PrinterEmulator &emu) {
    emu.SetHandler(0x05, SetPassword);
    emu.SetHandler(0x06, SetCashier);
    emu.SetHandler(0x15, Fiscalize);
    emu.SetHandler(0x16, SetHeadLines);
    emu.SetHandler(0x17, SetMessageLine);
    emu.SetHandler(0x19, SetTaxRates);
    emu.SetHandler(0x22, ProgramArticle);
    emu.SetHandler(0x32, SetPayName);
    emu.SetHandler(0x35, Personalize);
    emu.SetHandler(0x36, SetPacketNumber);
}

} // namespace krv::emu
