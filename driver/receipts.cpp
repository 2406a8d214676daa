// Receipt commands: sale and payout lines, payment, discounts and markups,
// comments, the zero receipt, void, line feed and service cash in and out.
#include "KRV_T100DRV.h"
#include "codepage.h"
#include "command_helpers.h"

#include <string>

using namespace krv::drv;
using namespace krv::drv::cmd;

namespace {

constexpr uint8_t kCmdSale = 0x12;
constexpr uint8_t kCmdPayMoney = 0x08;
constexpr uint8_t kCmdPayment = 0x14;
constexpr uint8_t kCmdDiscount = 0x23;
constexpr uint8_t kCmdComment = 0x0B;
constexpr uint8_t kCmdLineFeed = 0x0E;
constexpr uint8_t kCmdResetOrder = 0x0F;
constexpr uint8_t kCmdInToCash = 0x10;
constexpr uint8_t kCmdOutOfCash = 0x18;

constexpr size_t kMaxNameLength = 70;
constexpr size_t kMaxDiscountTextLength = 25;
constexpr size_t kMaxCommentLength = 27;
constexpr uint8_t kMaxPaymentForm = 9;
constexpr uint8_t kCashForm = 3;
constexpr uint8_t kNonFiscalFormBit = 0x40;
constexpr uint32_t kPayRestBit = 0x80000000u;
constexpr uint32_t kDiscountBit = 0x80000000u;
constexpr uint32_t kPercentBit = 0x02000000u;
constexpr uint8_t kNameFromRegister = 0xFF;
constexpr uint8_t kCommentAttribute = 0x80;

// Sets bit 40 of qtyFlags when the code, written as 13 decimal digits, ends
// in the right EAN-13 check digit. Anything else is sent without the bit.
uint8_t WithBarcodeBit(uint8_t qtyFlags, int64_t code) {
    std::string digits = std::to_string(code);
    if (digits.size() > 13)
        return qtyFlags;
    digits.insert(0, 13 - digits.size(), '0');
    const auto check = Ean13CheckDigit(std::string_view(digits).substr(0, 12));
    if (check && digits[12] == static_cast<char>('0' + *check))
        qtyFlags |= kQtyBarcodeFlag;
    return qtyFlags;
}

// Line value (sign-magnitude) and running receipt sum of a sale, payout or
// discount reply. Nothing when the reply is too short to hold them.
bool ReadLineReply(int64_t *itemCost, int64_t *receiptSum) {
    const auto value = ReadMoneySignMagnitude(ReplyData(), 0);
    const auto sum = ReadU32(ReplyData(), 4);
    if (!value || !sum)
        return Fail(kReplyFormatText);
    Put(itemCost, *value);
    Put(receiptSum, static_cast<int64_t>(*sum));
    return true;
}

KrvBool RegisterLine(uint8_t command, int64_t *itemCost, int64_t *receiptSum, int32_t quantity,
                     uint8_t qtyFlags, int32_t price, uint8_t taxGroup, KrvBool16 nameFromRegister,
                     KrvBool16 printBarcode, const char *name, int64_t code) {
    Put<int64_t>(itemCost, 0);
    Put<int64_t>(receiptSum, 0);
    // A negative quantity has no wire form: its bytes would mean a huge one.
    if (quantity < 0 || static_cast<uint32_t>(quantity) > kMaxQuantity)
        return Refuse("Передаваемое количество больше допустимого!");
    // INT32_MIN has no sign-and-magnitude form: it would go out as minus zero.
    Bytes priceField;
    if (!PutMoneySignMagnitude(priceField, price))
        return Refuse("Недопустимая цена товара!");
    if (taxGroup >= kTaxGroups)
        return Refuse(kNoSuchTaxGroupText);

    Bytes payload{command};
    Bytes nameField;
    if (nameFromRegister != 0) {
        nameField.push_back(kNameFromRegister);
    } else {
        const std::string_view text = TextArg(name);
        if (text.size() > kMaxNameLength)
            return Refuse("Название товара превышает 70 символов!");
        if (printBarcode != 0)
            qtyFlags = WithBarcodeBit(qtyFlags, code);
        if (!PutDeviceText(nameField, text))
            return kFalse;
    }
    PutQuantity(payload, quantity, qtyFlags);
    payload.insert(payload.end(), priceField.begin(), priceField.end());
    payload.push_back(TaxGroupByte(taxGroup));
    payload.insert(payload.end(), nameField.begin(), nameField.end());
    PutArticleCode(payload, code);

    if (!RunStrict(payload))
        return kFalse;
    return ToExportBool(ReadLineReply(itemCost, receiptSum));
}

// The amount goes out as an unsigned 32-bit number: callers reach sums above
// 21 474 836,47 by passing the bit pattern, so no sign check belongs here
// (the console refuses negative input itself).
KrvBool CashMovement(uint8_t command, int32_t amount) {
    Bytes payload{command};
    PutMoneyPlain(payload, amount);
    return ToExportBool(RunStandard(payload));
}

} // namespace

extern "C" KRV_API KrvBool FPSale(int64_t *itemCost, int64_t *receiptSum, int32_t quantity,
                                  uint8_t qtyFlags, int32_t price, uint8_t taxGroup,
                                  KrvBool16 nameFromRegister, KrvBool16 printBarcode,
                                  const char *name, int64_t code) {
    const ExportLock lock;
    return RegisterLine(kCmdSale, itemCost, receiptSum, quantity, qtyFlags, price, taxGroup,
                        nameFromRegister, printBarcode, name, code);
}

extern "C" KRV_API KrvBool FPPayMoney(int64_t *itemCost, int64_t *receiptSum, int32_t quantity,
                                      uint8_t qtyFlags, int32_t price, uint8_t taxGroup,
                                      KrvBool16 nameFromRegister, KrvBool16 printBarcode,
                                      const char *name, int64_t code) {
    const ExportLock lock;
    return RegisterLine(kCmdPayMoney, itemCost, receiptSum, quantity, qtyFlags, price, taxGroup,
                        nameFromRegister, printBarcode, name, code);
}

extern "C" KRV_API KrvBool FPPayment(int32_t *amount, KrvBool16 *isChange, uint8_t form,
                                     int32_t paid, KrvBool16 payRest, int32_t fiscal) {
    const ExportLock lock;
    Put<int32_t>(amount, 0);
    Put<KrvBool16>(isChange, 0);
    if (form > kMaxPaymentForm)
        return Refuse("Недопустимая форма оплаты!");
    // Bit 31 of the amount is the pay-the-rest flag; a negative amount would
    // set it by accident.
    if (paid < 0)
        return Refuse("Недопустимая сумма оплаты!");

    uint8_t formByte = form;
    if (!Flag16(fiscal))
        formByte |= kNonFiscalFormBit;
    uint32_t value = static_cast<uint32_t>(paid);
    if (payRest != 0)
        value |= kPayRestBit;
    Bytes payload{kCmdPayment, formByte};
    PutU32(payload, value);

    if (!RunStandard(payload))
        return kFalse;
    const auto reply = ReadU32(ReplyData(), 0);
    if (!reply)
        return Refuse(kReplyFormatText);
    Put<KrvBool16>(isChange, ToExportBool16((*reply & kPayRestBit) != 0));
    Put<int32_t>(amount, static_cast<int32_t>(*reply & ~kPayRestBit));
    return kTrue;
}

extern "C" KRV_API KrvBool FPDiscount(int64_t *value, int64_t *receiptSum, uint8_t kind,
                                      int32_t percent, int32_t amount, KrvBool16 isDiscount,
                                      const char *text) {
    const ExportLock lock;
    Put<int64_t>(value, 0);
    Put<int64_t>(receiptSum, 0);
    if (kind > 3)
        return Refuse("Неправильный тип скидки!");

    const bool byPercent = kind == 0 || kind == 2;
    const int32_t magnitude = byPercent ? percent : amount;
    // Bits 25 and 31 are flags: a negative value, or one reaching bit 25
    // (a percent, or an amount the printer would take for a percent), would
    // be read by the printer as different flags.
    if (magnitude < 0 || static_cast<uint32_t>(magnitude) >= kPercentBit)
        return Refuse("Недопустимое значение скидки/наценки!");
    uint32_t field = static_cast<uint32_t>(magnitude);
    if (byPercent)
        field |= kPercentBit;
    if (isDiscount != 0)
        field |= kDiscountBit;

    const std::string_view note = TextArg(text);
    if (note.size() > kMaxDiscountTextLength)
        return Refuse("Длина пояснительной строки больше 25 символов!");

    Bytes payload{kCmdDiscount, kind};
    PutU32(payload, field);
    if (!PutDeviceText(payload, note))
        return kFalse;

    if (!RunStandard(payload))
        return kFalse;
    return ToExportBool(ReadLineReply(value, receiptSum));
}

extern "C" KRV_API KrvBool FPComment(const char *text, KrvBool16 attribute) {
    const ExportLock lock;
    const std::string_view comment = TextArg(text);
    if (comment.size() > kMaxCommentLength)
        return Refuse("Длина коментария превышает допустимую длину");
    Bytes payload{kCmdComment};
    if (!PutDeviceText(payload, comment, attribute != 0 ? kCommentAttribute : 0))
        return kFalse;
    return ToExportBool(RunStrict(payload));
}

extern "C" KRV_API KrvBool FPResetOrder(void) {
    const ExportLock lock;
    return BareCommand(kCmdResetOrder);
}

extern "C" KRV_API KrvBool FPLineFeed(void) {
    const ExportLock lock;
    return BareCommand(kCmdLineFeed);
}

extern "C" KRV_API KrvBool FPNullCheck(void) {
    const ExportLock lock;
    if (FPResetOrder() == kFalse)
        return kFalse;

    Bytes comment{kCmdComment};
    if (!PutDeviceText(comment, krv::platform::Utf8ToCp1251("НУЛЬОВИЙ ЧЕК")))
        return kFalse;
    if (!RunStrict(comment))
        return kFalse;

    int32_t amount = 0;
    KrvBool16 isChange = 0;
    return FPPayment(&amount, &isChange, kCashForm, 0, -1, -1);
}

extern "C" KRV_API KrvBool FPInToCash(int32_t amount) {
    const ExportLock lock;
    return CashMovement(kCmdInToCash, amount);
}

extern "C" KRV_API KrvBool FPOutOfCash(int32_t amount) {
    const ExportLock lock;
    return CashMovement(kCmdOutOfCash, amount);
}
