// The emulated printer's receipt commands: sale and payout lines (12, 08),
// payment (14), discount or markup (23), comment (0B), line feed (0E), void
// (0F) and service cash in and out (10, 18).
#include "bytes.h"
#include "commands.h"
#include "emulator.h"

#include <algorithm>
#include <cmath>

namespace krv::emu {
namespace {

constexpr uint32_t kSignBit = 0x80000000u;
constexpr uint32_t kPercentBit = 0x02000000u;
constexpr uint8_t kCashForm = 3;
constexpr size_t kMaxNameLength = 70;
constexpr size_t kMaxCommentLength = 27;
constexpr size_t kMaxDiscountText = 25;
constexpr int64_t kMaxLineValue = 0x7FFFFFFF;

void PutSignMagnitude(Bytes &out, int64_t value) {
    const uint32_t magnitude =
        static_cast<uint32_t>(std::min<int64_t>(value < 0 ? -value : value, kMaxLineValue));
    PutLe(out, value < 0 ? magnitude | kSignBit : magnitude, 4);
}

Reply LineReply(int64_t value, int64_t sum) {
    Bytes out;
    PutSignMagnitude(out, value);
    PutLe(out, static_cast<uint64_t>(std::max<int64_t>(sum, 0)), 4);
    return Reply::Ok(std::move(out));
}

// Adds `delta` to the Sum40 at `address` (bank 10), never below zero.
void AddSum40(DeviceStateExt &ext, uint16_t address, int64_t delta) {
    const int64_t now = static_cast<int64_t>(ext.ReadLe(mem::kBank10, address, 5));
    ext.WriteLe(mem::kBank10, address, static_cast<uint64_t>(std::max<int64_t>(now + delta, 0)), 5);
}

// The four-digit BCD receipt counter, low digit pair first.
void BumpReceiptNumber(DeviceStateExt &ext, uint16_t address) {
    const Bytes bytes = ext.Read(mem::kBank10, address, 2);
    int value = FromBcd(bytes[1]) * 100 + FromBcd(bytes[0]);
    value = value >= 9999 ? 1 : value + 1;
    const Bytes next{ToBcd(value % 100), ToBcd(value / 100)};
    ext.Write(mem::kBank10, address, next);
}

void AddToSigned(uint64_t &total, int64_t delta) {
    total = static_cast<uint64_t>(std::max<int64_t>(static_cast<int64_t>(total) + delta, 0));
}

void ClearReceiptSums(DeviceStateExt &ext) {
    ext.receiptByGroup.fill(0);
    ext.receiptByForm.fill(0);
}

// Why a line of `kind` cannot go into the open receipt, if it cannot.
std::optional<uint8_t> LineRefusal(const DeviceState &st, ReceiptKind kind) {
    if (st.receipt.kind == ReceiptKind::None)
        return std::nullopt;
    if (st.receipt.paymentsBegun)
        return kErrAfterPayments;
    if (st.receipt.kind != kind)
        return kind == ReceiptKind::Sale ? kErrPayoutOpen : kErrSaleOpen;
    return std::nullopt;
}

// A new receipt of `kind` opens unless one is open already.
void OpenReceiptIfNone(DeviceState &st, ReceiptKind kind) {
    if (st.receipt.kind != ReceiptKind::None)
        return;
    st.receipt = OpenReceipt{};
    st.receipt.kind = kind;
    st.shiftOpen = true;
    ClearReceiptSums(st.ext);
}

// Sale (12) and payout (08) lines: quantity 3, flags 1, price 4 (sign and
// magnitude), tax group 1, name (FF or length + text), article code 6.
Reply RegisterLine(PrinterEmulator &emu, std::span<const uint8_t> p, ReceiptKind kind) {
    auto &st = emu.State();
    if (p.size() < 11)
        return Reply::Error(kErrFormat);
    const uint32_t quantity = static_cast<uint32_t>(*GetLe(p, 1, 3));
    const uint8_t qtyFlags = p[4];
    const uint32_t priceWire = static_cast<uint32_t>(*GetLe(p, 5, 4));
    const uint8_t taxByte = p[9];
    size_t pos = 10;
    const bool fromRegister = p[pos] == 0xFF;
    size_t nameLength = 0;
    if (!fromRegister) {
        nameLength = p[pos];
        if (nameLength > kMaxNameLength)
            return Reply::Error(kErrFormat);
    }
    pos += 1 + nameLength;
    if (p.size() != pos + 6)
        return Reply::Error(kErrFormat);
    const uint64_t code = *GetLe(p, pos, 6);

    if (taxByte < 0x80 || taxByte > 0x85)
        return Reply::Error(kErrTaxGroup);
    if (auto refused = LineRefusal(st, kind))
        return Reply::Error(*refused);

    ArticleRecord *article = nullptr;
    if (auto it = st.ext.articles.find(code); it != st.ext.articles.end())
        article = &it->second;
    if (fromRegister && !article)
        return Reply::Error(kErrArticle);

    // Cost = quantity x price, the quantity carrying (flags & 3) decimals; a
    // unit quantity costs the price itself.
    const int decimals = qtyFlags & 0x03;
    const int64_t magnitude = priceWire & ~kSignBit;
    int64_t cost = magnitude;
    if (!(qtyFlags & 0x80)) {
        const int64_t scale = decimals == 0 ? 1 : decimals == 1 ? 10 : decimals == 2 ? 100 : 1000;
        cost = (static_cast<int64_t>(quantity) * magnitude + scale / 2) / scale;
    }
    if (cost > kMaxLineValue)
        return Reply::Error(kErrCostOverflow);
    const bool negative = (priceWire & kSignBit) != 0;
    const int64_t value = negative ? -cost : cost;
    const int64_t currentSum = st.receipt.kind == kind ? st.receipt.sum : 0;
    if (negative && cost > currentSum)
        return Reply::Error(kErrNegativeSale);
    if (currentSum + value > kMaxLineValue)
        return Reply::Error(kErrCostOverflow);

    OpenReceiptIfNone(st, kind);
    if (!article && !fromRegister && kind == ReceiptKind::Sale) {
        // A named sale of an unknown code describes the article as it goes;
        // the printer counts such descriptions apart from programmed ones.
        article = &st.ext.articles[code];
        article->name.assign(p.begin() + 11,
                             p.begin() + 11 + static_cast<std::ptrdiff_t>(nameLength));
        article->qtyFlags = qtyFlags & 0x03;
        article->priceWire = priceWire;
        article->taxByte = taxByte;
        const auto bySales = st.ext.ReadLe(mem::kBank10, mem::kArticleCounts, 2);
        st.ext.WriteLe(mem::kBank10, mem::kArticleCounts, (bySales + 1) & 0xFFFF, 2);
    }
    const int group = taxByte - 0x80;
    auto &r = st.receipt;
    r.sum += value;
    r.byGroup[group] += value;
    r.lastLineValue = value;
    r.lastLineGroup = group;
    ++r.lines;
    st.ext.receiptByGroup[group] = static_cast<uint32_t>(std::max<int64_t>(r.byGroup[group], 0));
    if (qtyFlags & 0x40)
        ++st.barcodeLines;
    if (article) {
        if (kind == ReceiptKind::Sale) {
            article->salesQty += quantity;
            article->salesFlags = qtyFlags & 0x03;
            AddToSigned(article->salesSum, value);
        } else {
            article->returnsQty += quantity;
            article->returnsFlags = qtyFlags & 0x03;
            AddToSigned(article->returnsSum, value);
        }
    }
    return LineReply(value, r.sum);
}

// Moves a closed receipt into the day's totals and the drawer.
void CloseReceipt(DeviceState &st, int64_t change) {
    auto &r = st.receipt;
    auto &ext = st.ext;
    const bool sale = r.kind == ReceiptKind::Sale;
    int64_t cash = r.byForm[kCashForm] - change;
    if (!r.nonFiscal) {
        const uint16_t sums = sale ? mem::kSaleDaySums : mem::kPayDaySums;
        for (int g = 0; g < 6; ++g)
            if (r.byGroup[g] != 0)
                AddSum40(ext, static_cast<uint16_t>(sums + 5 * g), r.byGroup[g]);
        auto &forms = sale ? ext.daySalesByForm : ext.dayReturnsByForm;
        for (int f = 0; f < 10; ++f)
            AddToSigned(forms[f], f == kCashForm ? cash : r.byForm[f]);
        AddToSigned(sale ? ext.salesMarkups : ext.returnsMarkups, r.markups);
        AddToSigned(sale ? ext.salesDiscounts : ext.returnsDiscounts, r.discounts);
        BumpReceiptNumber(ext, sale ? mem::kSaleReceiptNo : mem::kPayReceiptNo);
        st.cashInDrawer += sale ? cash : -cash;
        if (st.cashInDrawer < 0)
            st.cashInDrawer = 0;
        ext.AddPackets(1);
    }
    st.anyReceiptClosed = true;
    st.receipt = OpenReceipt{};
    ClearReceiptSums(ext);
}

// Payment (14): form (+40 non-fiscal), amount (bit 31: pay the rest).
Reply Payment(PrinterEmulator &emu, std::span<const uint8_t> p) {
    auto &st = emu.State();
    if (p.size() != 6)
        return Reply::Error(kErrFormat);
    const uint8_t form = p[1] & 0x3F;
    const bool nonFiscal = (p[1] & 0x40) != 0;
    const uint32_t wire = static_cast<uint32_t>(*GetLe(p, 2, 4));
    if (form > 9)
        return Reply::Error(kErrPaymentForm);
    auto &r = st.receipt;
    if (r.kind == ReceiptKind::None)
        return Reply::Error(kErrNoReceipt);

    const int64_t rest = std::max<int64_t>(r.sum - r.paid, 0);
    const int64_t amount = (wire & kSignBit) ? rest : static_cast<int64_t>(wire & ~kSignBit);
    const int64_t change = std::max<int64_t>(r.paid + amount - r.sum, 0);
    // Change is given in cash only; a payout receipt pays out of the drawer.
    if (change > 0 && form != kCashForm)
        return Reply::Error(kErrChangeForbidden);
    if (r.kind == ReceiptKind::Payout && form == kCashForm && amount - change > st.cashInDrawer)
        return Reply::Error(kErrCashShort);

    r.paymentsBegun = true;
    r.nonFiscal = r.nonFiscal || nonFiscal;
    r.paid += amount;
    r.byForm[form] += amount;
    st.ext.receiptByForm[form] = static_cast<uint32_t>(r.byForm[form]);
    Bytes out;
    if (r.paid >= r.sum) {
        CloseReceipt(st, change);
        PutLe(out, static_cast<uint32_t>(std::min<int64_t>(change, 0x7FFFFFFF)) | kSignBit, 4);
    } else {
        PutLe(out, static_cast<uint32_t>(r.sum - r.paid), 4);
    }
    return Reply::Ok(std::move(out));
}

// Discount or markup (23): kind, value (bit 25 percent, bit 31 discount),
// text length, text.
Reply Discount(PrinterEmulator &emu, std::span<const uint8_t> p) {
    auto &st = emu.State();
    if (p.size() < 7 || p.size() != 7u + p[6])
        return Reply::Error(kErrFormat);
    if (p[6] > kMaxDiscountText)
        return Reply::Error(kErrFormat);
    const uint8_t kind = p[1];
    const uint32_t wire = static_cast<uint32_t>(*GetLe(p, 2, 4));
    if (kind > 3)
        return Reply::Error(kErrForbidden);
    auto &r = st.receipt;
    if (r.kind == ReceiptKind::None)
        return Reply::Error(kErrNoReceipt);
    if (r.paymentsBegun)
        return Reply::Error(kErrAfterPayments);
    if (r.lines == 0)
        return Reply::Error(kErrNoLines);

    const bool percent = (wire & kPercentBit) != 0;
    const bool discount = (wire & kSignBit) != 0;
    const int64_t magnitude = wire & (kPercentBit - 1);
    if (percent != (kind == 0 || kind == 2))
        return Reply::Error(kErrForbidden);
    const int64_t base = (kind <= 1) ? r.lastLineValue : r.sum;
    int64_t adjustment = percent ? (std::llabs(base) * magnitude + 50) / 100 : magnitude;
    if (discount && adjustment > std::llabs(base))
        return Reply::Error(kErrNegativeSale);
    if (!discount && r.sum + adjustment > kMaxLineValue)
        return Reply::Error(kErrCostOverflow);

    const int64_t value = discount ? -adjustment : adjustment;
    r.sum += value;
    r.byGroup[r.lastLineGroup] += value;
    st.ext.receiptByGroup[r.lastLineGroup] =
        static_cast<uint32_t>(std::max<int64_t>(r.byGroup[r.lastLineGroup], 0));
    (discount ? r.discounts : r.markups) += adjustment;
    if (kind <= 1)
        r.lastLineValue += value;
    return LineReply(value, r.sum);
}

// Comment (0B): length (+80 attribute), text. Opens a sale receipt when
// none is open, as a zero receipt needs.
Reply Comment(PrinterEmulator &emu, std::span<const uint8_t> p) {
    auto &st = emu.State();
    if (p.size() < 2)
        return Reply::Error(kErrFormat);
    const size_t length = p[1] & 0x7F;
    if (p.size() != 2 + length || length > kMaxCommentLength)
        return Reply::Error(kErrFormat);
    if (st.receipt.kind != ReceiptKind::None && st.receipt.paymentsBegun)
        return Reply::Error(kErrAfterPayments);
    OpenReceiptIfNone(st, ReceiptKind::Sale);
    return Reply::Ok();
}

Reply LineFeed(PrinterEmulator &emu, std::span<const uint8_t> p) {
    if (p.size() != 1)
        return Reply::Error(kErrFormat);
    ++emu.State().lineFeeds;
    return Reply::Ok();
}

// Void (0F): the open receipt goes into the voided-receipt counters; with no
// receipt open there is nothing to do.
Reply ResetOrder(PrinterEmulator &emu, std::span<const uint8_t> p) {
    auto &st = emu.State();
    if (p.size() != 1)
        return Reply::Error(kErrFormat);
    auto &r = st.receipt;
    if (r.kind != ReceiptKind::None) {
        if (r.lines > 0) {
            const uint16_t base = r.kind == ReceiptKind::Sale
                                      ? mem::kVoided
                                      : static_cast<uint16_t>(mem::kVoided + 7);
            const uint64_t count = st.ext.ReadLe(mem::kBank10, base, 2);
            st.ext.WriteLe(mem::kBank10, base, count + 1, 2);
            AddSum40(st.ext, static_cast<uint16_t>(base + 2), std::max<int64_t>(r.sum, 0));
        }
        r = OpenReceipt{};
        ClearReceiptSums(st.ext);
    }
    return Reply::Ok();
}

Reply CashMovement(PrinterEmulator &emu, std::span<const uint8_t> p, bool in) {
    auto &st = emu.State();
    if (p.size() != 5)
        return Reply::Error(kErrFormat);
    if (st.receipt.kind != ReceiptKind::None)
        return Reply::Error(kErrReceiptOpen);
    const int64_t amount = static_cast<int64_t>(*GetLe(p, 1, 4));
    if (!in && amount > st.cashInDrawer)
        return Reply::Error(kErrCashShort);
    st.cashInDrawer += in ? amount : -amount;
    AddToSigned(in ? st.ext.cashIn : st.ext.cashOut, amount);
    st.shiftOpen = true;
    return Reply::Ok();
}

Reply Sale(PrinterEmulator &emu, std::span<const uint8_t> p) {
    return RegisterLine(emu, p, ReceiptKind::Sale);
}
Reply PayMoney(PrinterEmulator &emu, std::span<const uint8_t> p) {
    return RegisterLine(emu, p, ReceiptKind::Payout);
}
Reply InToCash(PrinterEmulator &emu, std::span<const uint8_t> p) {
    return CashMovement(emu, p, true);
}
Reply OutOfCash(PrinterEmulator &emu, std::span<const uint8_t> p) {
    return CashMovement(emu, p, false);
}

} // namespace

void RegisterReceiptCommands(PrinterEmulator &emu) {
    emu.SetHandler(0x12, Sale);
    emu.SetHandler(0x08, PayMoney);
    emu.SetHandler(0x14, Payment);
    emu.SetHandler(0x23, Discount);
    emu.SetHandler(0x0B, Comment);
    emu.SetHandler(0x0E, LineFeed);
    emu.SetHandler(0x0F, ResetOrder);
    emu.SetHandler(0x10, InToCash);
    emu.SetHandler(0x18, OutOfCash);
}

} // namespace krv::emu
