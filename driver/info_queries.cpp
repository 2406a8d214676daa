// Information queries: raw reads of printer memory and the reads of its fixed
// addresses (receipt counters, day sums, the last Z report, tax rates, voids
// and cancellations, passwords), the description of one article, the day
// totals, the sums of the current receipt and the full tax table.
//
// Replies are device data: every field is read only where the reply really
// has it, and nothing is written past the caller's arrays (at most highest
// index + 1 entries, none through a null pointer).
#include "info_queries.h"

#include "KRV_T100DRV.h"
#include "command_helpers.h"

#include <algorithm>
#include <string>

using namespace krv::drv;
using namespace krv::drv::cmd;

namespace {

constexpr uint8_t kBank10 = 0x10;

// How many of `wanted` entries fit an array whose highest index is `high`.
size_t Room(const void *array, int32_t high, size_t wanted) {
    if (!array || high < 0)
        return 0;
    return std::min(wanted, static_cast<size_t>(high) + 1);
}

// `judge` is the result rule the exchange is held to.
bool MemoryRead(uint16_t address, uint8_t bank, uint8_t length, Bytes &out, bool (*judge)(bool)) {
    out.clear();
    const Bytes payload{0x1C, static_cast<uint8_t>(address & 0xFF),
                        static_cast<uint8_t>(address >> 8), bank, length};
    if (!judge(PrinterTransaction(payload)))
        return false;
    if (length == 0) {
        SetErrorText("Длина блока данных не может быть равна нулю!");
        return false;
    }
    const Bytes &data = LastReply().data;
    if (data.size() < length) {
        // Fewer bytes than asked for: the rest would be stale or made up.
        SetErrorText(kReplyFormatText);
        return false;
    }
    out.assign(data.begin(), data.begin() + length);
    return true;
}

bool FixedRead(uint16_t address, uint8_t length, Bytes &out, uint8_t bank = kBank10) {
    return MemoryRead(address, bank, length, out, StandardResult);
}

// Four-digit packed BCD, the low digit pair first.
int16_t BcdCounter(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<int16_t>(FromBcd(bytes[offset + 1]) * 100 + FromBcd(bytes[offset]));
}

int32_t DaySum(uint16_t firstAddress, int64_t *total) {
    uint64_t sum = 0;
    for (int k = 0; k < kTaxGroups; ++k) {
        Bytes data;
        if (!FixedRead(static_cast<uint16_t>(firstAddress + 5 * k), 5, data))
            return kFalse;
        sum += *ReadSum40(data, 0);
    }
    Put(total, static_cast<int64_t>(sum));
    return kTrue;
}

int32_t CountsAndSums(uint16_t address, int16_t *salesCount, int16_t *returnsCount,
                      int64_t *salesSum, int64_t *returnsSum) {
    Bytes data;
    if (!FixedRead(address, 14, data))
        return kFalse;
    Put(salesCount, static_cast<int16_t>(*ReadU16(data, 0)));
    Put(salesSum, static_cast<int64_t>(*ReadSum40(data, 2)));
    Put(returnsCount, static_cast<int16_t>(*ReadU16(data, 7)));
    Put(returnsSum, static_cast<int64_t>(*ReadSum40(data, 9)));
    return kTrue;
}

// A reply date; 00 00 00 (nothing recorded yet) stands for 1 January 2003.
std::optional<double> ReplyDate(uint8_t day, uint8_t month, uint8_t year) {
    if (day == 0 && month == 0 && year == 0)
        return LocaleDateText(0x01, 0x01, 0x03);
    return LocaleDateText(day, month, year);
}

// A command whose whole reply is one record of a fixed shape.
const Bytes *FixedReply(uint8_t command, size_t expectedLength) {
    if (!RunStandard(Bytes{command}))
        return nullptr;
    const Bytes &data = LastReply().data;
    if (data.empty()) {
        SetErrorText(kNoReplyDataText);
        return nullptr;
    }
    if (data.size() != expectedLength) {
        SetErrorText(kReplyFormatText);
        return nullptr;
    }
    return &data;
}

void PutSums40(int64_t *target, int32_t high, size_t count, std::span<const uint8_t> data,
               size_t offset) {
    const size_t room = Room(target, high, count);
    for (size_t i = 0; i < room; ++i)
        target[i] = static_cast<int64_t>(*ReadSum40(data, offset + 5 * i));
}

std::string g_articleName;

} // namespace

namespace krv::drv {

bool ReadPrinterMemory(uint16_t address, uint8_t bank, uint8_t length, std::vector<uint8_t> &out) {
    return MemoryRead(address, bank, length, out, LinkResult);
}

} // namespace krv::drv

// ---- Memory ------------------------------------------------------------------------

extern "C" KRV_API KrvBool FPGetMemoryData(uint8_t *dst, int32_t dstHigh, const uint8_t *length,
                                           uint16_t address, int32_t bank) {
    const ExportLock lock;
    if (!length)
        return Refuse("Не задана длина блока данных!");
    const uint8_t wanted = *length;
    if (wanted > Room(dst, dstHigh, 256))
        return Refuse("Буфер данных меньше длины блока!");
    Bytes data;
    if (!ReadPrinterMemory(address, static_cast<uint8_t>(bank & 0xFF), wanted, data))
        return kFalse;
    std::copy(data.begin(), data.end(), dst);
    return kTrue;
}

extern "C" KRV_API KrvBool FPGetSaleCheckNumber(int16_t *number) {
    const ExportLock lock;
    Bytes data;
    if (!FixedRead(0x301B, 2, data))
        return kFalse;
    Put(number, BcdCounter(data, 0));
    return kTrue;
}

extern "C" KRV_API KrvBool FPGetPayCheckNumber(int16_t *number) {
    const ExportLock lock;
    Bytes data;
    if (!FixedRead(0x3077, 2, data))
        return kFalse;
    Put(number, BcdCounter(data, 0));
    return kTrue;
}

extern "C" KRV_API KrvBool FPGetSaleDaySum(int64_t *total) {
    const ExportLock lock;
    return DaySum(0x301D, total);
}

extern "C" KRV_API KrvBool FPGetPayDaySum(int64_t *total) {
    const ExportLock lock;
    return DaySum(0x3079, total);
}

// The counter holds the number of the next Z report.
extern "C" KRV_API KrvBool FPGetNumZReport(int16_t *number, KrvDateTime *date) {
    const ExportLock lock;
    Bytes data;
    if (!FixedRead(0x0037, 2, data))
        return kFalse;
    const uint32_t counter = *ReadU16(data, 0);
    Put(number, static_cast<int16_t>(counter <= 1 ? counter : counter - 1));
    if (!FixedRead(0x0169, 3, data))
        return kFalse;
    const auto value = ReplyDate(data[0], data[1], data[2]);
    if (!value)
        return Refuse(kReplyFormatText);
    Put(date, *value);
    return kTrue;
}

extern "C" KRV_API KrvBool FPGetValueFor_F(int16_t *value) {
    const ExportLock lock;
    Bytes data;
    if (!FixedRead(0x0165, 2, data))
        return kFalse;
    Put(value, static_cast<int16_t>(*ReadU16(data, 0)));
    return kTrue;
}

extern "C" KRV_API KrvBool FPGetResetOrders(int16_t *salesCount, int16_t *returnsCount,
                                            int64_t *salesSum, int64_t *returnsSum) {
    const ExportLock lock;
    return CountsAndSums(0x2F74, salesCount, returnsCount, salesSum, returnsSum);
}

extern "C" KRV_API KrvBool FPGetCancels(int16_t *salesCount, int16_t *returnsCount,
                                        int64_t *salesSum, int64_t *returnsSum) {
    const ExportLock lock;
    return CountsAndSums(0x2F82, salesCount, returnsCount, salesSum, returnsSum);
}

extern "C" KRV_API KrvBool FPGetPasswords(uint16_t *values, int32_t valuesHigh) {
    const ExportLock lock;
    Bytes data;
    if (!FixedRead(0x3003, 20, data))
        return kFalse;
    const size_t room = Room(values, valuesHigh, 10);
    for (size_t i = 0; i < room; ++i)
        values[i] = static_cast<uint16_t>(*ReadU16(data, 2 * i));
    return kTrue;
}

extern "C" KRV_API KrvBool FPGetTaxRate(int32_t *rates, int32_t ratesHigh, int32_t *levies,
                                        int32_t leviesHigh, KrvBool16 *compound,
                                        int32_t compoundHigh, uint8_t *count, KrvBool16 *addedTax,
                                        KrvBool16 *withLevy) {
    const ExportLock lock;
    Bytes data;
    if (!FixedRead(0x0016, 1, data, 0x00))
        return kFalse;
    const size_t n = data[0];
    Put(count, data[0]);
    if (n == 0)
        return Refuse("Ставки налоговых не запрограммированы!");

    // The read length is one byte: a count too large for it cannot be a
    // table the printer keeps, and only its options byte is looked at.
    const auto tableLength = static_cast<uint8_t>(std::min<size_t>(4 * n + 1, 255));
    if (2 * n >= tableLength)
        return Refuse(kReplyFormatText);
    if (!FixedRead(0x0150, tableLength, data))
        return kFalse;
    const uint8_t options = data[2 * n];
    const bool levyScheme = options & 0x20;
    Put(withLevy, ToExportBool16(levyScheme));
    Put(addedTax, ToExportBool16(options & 0x10));
    if (n <= 5) {
        const size_t rateRoom = Room(rates, ratesHigh, n);
        const size_t levyRoom = Room(levies, leviesHigh, n);
        const size_t compoundRoom = Room(compound, compoundHigh, n);
        for (size_t k = 0; k < n; ++k) {
            if (k < rateRoom)
                rates[k] = static_cast<int32_t>(*ReadU16(data, 2 * k));
            const uint32_t levyWord = levyScheme ? *ReadU16(data, 2 * n + 1 + 2 * k) : 0;
            if (k < levyRoom)
                levies[k] = static_cast<int32_t>(levyWord & 0x7FFF);
            if (levyScheme && k < compoundRoom)
                compound[k] = ToExportBool16(levyWord & 0x8000);
        }
    }

    if (!FixedRead(0x0165, 2, data))
        return kFalse;
    if (Room(rates, ratesHigh, 6) == 6)
        rates[5] = 0;
    if (Room(levies, leviesHigh, 6) == 6)
        levies[5] = static_cast<int32_t>(*ReadU16(data, 0));
    return kTrue;
}

// ---- Article, day totals, receipt sums, tax table -----------------------------------------

extern "C" KRV_API KrvBool FPGetArticleInfo(uint8_t *nameLength, const char **name, int32_t *price,
                                            uint8_t *taxGroup, int32_t *salesQty,
                                            uint8_t *salesQtyFlags, int64_t *salesSum,
                                            int32_t *returnsQty, uint8_t *returnsQtyFlags,
                                            int64_t *returnsSum, const int64_t *code) {
    const ExportLock lock;
    if (!code)
        return Refuse("Не задан код товара!");
    Bytes payload{0x29};
    PutArticleCode(payload, *code);
    if (!RunStandard(payload))
        return kFalse;
    const Bytes &data = LastReply().data;
    if (data.empty())
        return Refuse(kNoReplyDataText);
    const size_t length = data[0] & 0x7F;
    Put(nameLength, static_cast<uint8_t>(length));
    if (data.size() != length + 24)
        return Refuse(kReplyFormatText);

    g_articleName = DecodeDeviceText(std::span<const uint8_t>(data).subspan(1, length));
    Put(name, static_cast<const char *>(g_articleName.c_str()));
    const bool returnsFirst = data[0] & 0x80;
    const size_t block1 = length + 1, block2 = length + 15;
    const size_t salesAt = returnsFirst ? block2 : block1;
    const size_t returnsAt = returnsFirst ? block1 : block2;
    // The sum of the first block sits after the price and tax byte.
    const size_t salesSumAt = returnsFirst ? block2 + 4 : block1 + 9;
    const size_t returnsSumAt = returnsFirst ? block1 + 9 : block2 + 4;
    Put(salesQty, static_cast<int32_t>(*ReadU24(data, salesAt)));
    Put(salesQtyFlags, data[salesAt + 3]);
    Put(salesSum, static_cast<int64_t>(*ReadSum40(data, salesSumAt)));
    Put(returnsQty, static_cast<int32_t>(*ReadU24(data, returnsAt)));
    Put(returnsQtyFlags, data[returnsAt + 3]);
    Put(returnsSum, static_cast<int64_t>(*ReadSum40(data, returnsSumAt)));
    Put(price, static_cast<int32_t>(*ReadU32(data, length + 5)));
    if (const auto group = ParseTaxGroup(data[length + 9]))
        Put(taxGroup, static_cast<uint8_t>(*group));
    return kTrue;
}

extern "C" KRV_API KrvBool FPGetDayReport(int16_t *salesCount, int16_t *returnsCount,
                                          int64_t *salesByGroup, int32_t salesByGroupHigh,
                                          int64_t *salesByForm, int32_t salesByFormHigh,
                                          int64_t *returnsByGroup, int32_t returnsByGroupHigh,
                                          int64_t *returnsByForm, int32_t returnsByFormHigh,
                                          int64_t *salesMarkups, int64_t *salesDiscounts,
                                          int64_t *returnsMarkups, int64_t *returnsDiscounts,
                                          int64_t *cashIn, int64_t *cashOut) {
    const ExportLock lock;
    const Bytes *reply = FixedReply(0x2A, 194);
    if (!reply)
        return kFalse;
    const Bytes &data = *reply;
    Put(salesCount, BcdCounter(data, 0));
    PutSums40(salesByGroup, salesByGroupHigh, 6, data, 2);
    PutSums40(salesByForm, salesByFormHigh, 10, data, 32);
    Put(salesMarkups, static_cast<int64_t>(*ReadSum40(data, 82)));
    Put(salesDiscounts, static_cast<int64_t>(*ReadSum40(data, 87)));
    Put(cashIn, static_cast<int64_t>(*ReadSum40(data, 92)));
    Put(returnsCount, BcdCounter(data, 97));
    PutSums40(returnsByGroup, returnsByGroupHigh, 6, data, 99);
    PutSums40(returnsByForm, returnsByFormHigh, 10, data, 129);
    Put(returnsMarkups, static_cast<int64_t>(*ReadSum40(data, 179)));
    Put(returnsDiscounts, static_cast<int64_t>(*ReadSum40(data, 184)));
    Put(cashOut, static_cast<int64_t>(*ReadSum40(data, 189)));
    return kTrue;
}

extern "C" KRV_API KrvBool FPGetCheckSums(int32_t *groupSums, int32_t groupSumsHigh,
                                          int32_t *formSums, int32_t formSumsHigh) {
    const ExportLock lock;
    const Bytes *reply = FixedReply(0x2B, 64);
    if (!reply)
        return kFalse;
    const size_t groupRoom = Room(groupSums, groupSumsHigh, 6);
    for (size_t i = 0; i < groupRoom; ++i)
        groupSums[i] = static_cast<int32_t>(*ReadU32(*reply, 4 * i));
    const size_t formRoom = Room(formSums, formSumsHigh, 10);
    for (size_t i = 0; i < formRoom; ++i)
        formSums[i] = static_cast<int32_t>(*ReadU32(*reply, 24 + 4 * i));
    return kTrue;
}

extern "C" KRV_API KrvBool FPFullGetTaxRate(KrvDateTime *date, uint8_t *count, KrvBool16 *addedTax,
                                            TaxRateEntry *rates, int32_t ratesHigh,
                                            KrvBool16 *withLevy, uint16_t *groupFLevy) {
    const ExportLock lock;
    if (!RunStandard(Bytes{0x2C}))
        return kFalse;
    const Bytes &data = LastReply().data;
    if (data.empty())
        return Refuse(kNoReplyDataText);
    const size_t n = data[0];
    Put(count, data[0]);
    if (data.size() < 4)
        return Refuse(kReplyFormatText);
    const auto when = ReplyDate(data[1], data[2], data[3]);
    if (!when)
        return Refuse(kReplyFormatText);
    Put(date, *when);
    if (data.size() < 5 + 2 * n)
        return Refuse(kReplyFormatText);
    const uint8_t options = data[4 + 2 * n];
    const bool levyScheme = options & 0x20;
    if (data.size() != (levyScheme ? 4 * n + 7 : 2 * n + 5))
        return Refuse(kReplyFormatText);
    // Six entries is all the caller's array holds.
    if (n > 6)
        return Refuse(kReplyFormatText);

    Put(withLevy, ToExportBool16(levyScheme));
    const size_t room = Room(rates, ratesHigh, 6);
    for (size_t k = 0; k < n && k < room; ++k) {
        TaxRateEntry &entry = rates[k];
        entry.rate = static_cast<int32_t>(*ReadU16(data, 4 + 2 * k));
        const uint32_t levyWord = levyScheme ? *ReadU16(data, 5 + 2 * n + 2 * k) : 0;
        entry.levyRate = static_cast<int32_t>(levyWord & 0x7FFF);
        entry.compound = ToExportBool16(levyWord & 0x8000);
        entry.hasLevy = ToExportBool16(entry.levyRate != 0);
    }
    const uint16_t sixthLevy = levyScheme ? static_cast<uint16_t>(*ReadU16(data, 5 + 4 * n)) : 0;
    Put(groupFLevy, sixthLevy);
    if (room == 6)
        rates[5].hasLevy = ToExportBool16(sixthLevy != 0);
    Put(addedTax, ToExportBool16(options & 0x10));
    return kTrue;
}
