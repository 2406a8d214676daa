// Programming the printer: passwords and cashiers, the receipt message lines,
// fiscalization, the taxpayer header, tax rates, articles, payment-form
// names, personalization and the running packet number.
//
// Every export checks its arguments first (nothing is sent when a check
// fails), builds one payload and runs it through the link.
#include "KRV_T100DRV.h"
#include "command_helpers.h"

#include <algorithm>
#include <string>
#include <string_view>

using namespace krv::drv;
using namespace krv::drv::cmd;

namespace {

void AppendDeviceText(Bytes &out, std::string_view cp1251) {
    const std::string device = EncodeDeviceText(cp1251);
    out.insert(out.end(), device.begin(), device.end());
}

uint8_t Attributes(bool doubleWidth, bool doubleHeight) {
    return static_cast<uint8_t>((doubleWidth ? 0x40 : 0) | (doubleHeight ? 0x80 : 0));
}

int32_t Standard(const Bytes &payload) {
    return ToExportBool(RunStandard(payload));
}

std::string LeftPadded(std::string_view text, size_t width) {
    std::string out(width > text.size() ? width - text.size() : 0, '0');
    out.append(text);
    return out;
}

// Receipt message and additional header lines, command 17.
int32_t SetReceiptLine(uint8_t index, size_t doubleWidthLimit, const char *message,
                       const char *line, KrvBool16 doubleWidth, int32_t doubleHeight) {
    const std::string_view text = TextArg(line);
    const size_t limit = doubleWidth ? doubleWidthLimit : 36;
    if (text.size() > limit)
        return Refuse(message);
    Bytes payload{0x17, index};
    if (!PutDeviceText(payload, text, Attributes(doubleWidth != 0, Flag16(doubleHeight))))
        return kFalse;
    return Standard(payload);
}

bool FiscalNumberCharacter(unsigned char c) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
        return true;
    if (c >= 0xC0)
        return true; // А..я
    switch (c) {
    case 0xA8: // Ё
    case 0xB8: // ё
    case 0xAA: // Є
    case 0xBA: // є
    case 0xB2: // І
    case 0xB3: // і
    case 0xAF: // Ї
    case 0xBF: // ї
        return true;
    default:
        return false;
    }
}

std::string g_payName;

} // namespace

// ---- Passwords and cashiers ----------------------------------------------------

extern "C" KRV_API KrvBool FPSetPassword(uint16_t password, uint16_t newPassword, uint8_t op,
                                         const char *name) {
    const ExportLock lock;
    const std::string_view text = TextArg(name);
    if (op > 9)
        return Refuse("Недопустимый номер оператора (кассира)!");
    if (text.size() > 15)
        return Refuse("Имя кассира превышает 15 символов!");
    Bytes payload = WithPassword(0x05, password);
    payload.push_back(op);
    PutU16(payload, newPassword);
    if (!PutDeviceText(payload, text))
        return kFalse;
    return Standard(payload);
}

extern "C" KRV_API KrvBool FPSetCashier(uint8_t op, const char *name, uint16_t password,
                                        KrvBool16 byNumber) {
    const ExportLock lock;
    const std::string_view text = TextArg(name);
    if (op > 9)
        return Refuse("Неверный номер кассира!");
    if (text.size() > 15)
        return Refuse("Имя кассира превышает 15 символов!");
    Bytes payload = WithPassword(0x06, password);
    payload.push_back(op);
    if (byNumber) {
        payload.push_back(0xFF);
    } else if (!PutDeviceText(payload, text)) {
        return kFalse;
    }
    return Standard(payload);
}

// ---- Receipt message and additional header lines ------------------------------

extern "C" KRV_API KrvBool FPSetInitialFirstLine(const char *line, KrvBool16 doubleWidth,
                                                 int32_t doubleHeight) {
    const ExportLock lock;
    return SetReceiptLine(0, 21, "Неверная длина 1-й строки начального сообщения чека!", line,
                          doubleWidth, doubleHeight);
}

extern "C" KRV_API KrvBool FPSetFinalFirstLine(const char *line, KrvBool16 doubleWidth,
                                               int32_t doubleHeight) {
    const ExportLock lock;
    return SetReceiptLine(1, 21, "Неверная длина 1-й строки конечного сообщения чека!", line,
                          doubleWidth, doubleHeight);
}

extern "C" KRV_API KrvBool FPSetInitialSecondLine(const char *line, KrvBool16 doubleWidth,
                                                  int32_t doubleHeight) {
    const ExportLock lock;
    return SetReceiptLine(2, 21, "Неверная длина 2-й строки начального сообщения чека!", line,
                          doubleWidth, doubleHeight);
}

extern "C" KRV_API KrvBool FPSetInitialEndLine(const char *line, KrvBool16 doubleWidth,
                                               int32_t doubleHeight) {
    const ExportLock lock;
    return SetReceiptLine(3, 21, "Неверная длина 3-й строки начального сообщения чека!", line,
                          doubleWidth, doubleHeight);
}

extern "C" KRV_API KrvBool FPSetFinalSecondLine(const char *line, KrvBool16 doubleWidth,
                                                int32_t doubleHeight) {
    const ExportLock lock;
    return SetReceiptLine(4, 21, "Неверная длина 2-й строки конечного сообщения чека!", line,
                          doubleWidth, doubleHeight);
}

extern "C" KRV_API KrvBool FPSetFinalEndLine(const char *line, KrvBool16 doubleWidth,
                                             int32_t doubleHeight) {
    const ExportLock lock;
    return SetReceiptLine(5, 21, "Неверная длина 3-й строки конечного сообщения чека!", line,
                          doubleWidth, doubleHeight);
}

extern "C" KRV_API KrvBool FPSetHeaderLineAdd1(const char *line, KrvBool16 doubleWidth,
                                               int32_t doubleHeight) {
    const ExportLock lock;
    return SetReceiptLine(6, 20, "Неверная длина 1-й доп. строки шапки чека!", line, doubleWidth,
                          doubleHeight);
}

extern "C" KRV_API KrvBool FPSetHeaderLineAdd2(const char *line, KrvBool16 doubleWidth,
                                               int32_t doubleHeight) {
    const ExportLock lock;
    return SetReceiptLine(7, 20, "Неверная длина 2-й доп. строки шапки чека!", line, doubleWidth,
                          doubleHeight);
}

// ---- Fiscalization and the taxpayer header -----------------------------------------

extern "C" KRV_API KrvBool FPFiscalization(uint16_t password, const char *fiscalNumber) {
    const ExportLock lock;
    const std::string_view text = TextArg(fiscalNumber);
    if (text.size() > 10)
        return Refuse("Длина фискального номера должна быть до 10 символов!");
    if (!std::all_of(text.begin(), text.end(),
                     [](char c) { return FiscalNumberCharacter(static_cast<unsigned char>(c)); }))
        return Refuse("Фискальный номер может состоять только из цифр!");
    Bytes payload = WithPassword(0x15, password);
    AppendDeviceText(payload, LeftPadded(text, 10));
    return Standard(payload);
}

extern "C" KRV_API KrvBool FPSetHeadLine(uint16_t password, const char *line1,
                                         KrvBool16 doubleWidth1, KrvBool16 doubleHeight1,
                                         const char *line2, KrvBool16 doubleWidth2,
                                         KrvBool16 doubleHeight2, const char *line3,
                                         KrvBool16 doubleWidth3, KrvBool16 doubleHeight3,
                                         const char *number, int32_t isIdNumber) {
    const ExportLock lock;
    struct Line {
        std::string_view text;
        bool doubleWidth, doubleHeight;
        const char *message;
    };
    const Line lines[3] = {
        {TextArg(line1), doubleWidth1 != 0, doubleHeight1 != 0,
         "Длина первой строки атрибутов налогоплательщика больше допустимой!"},
        {TextArg(line2), doubleWidth2 != 0, doubleHeight2 != 0,
         "Длина второй строки атрибутов налогоплательщика больше допустимой!"},
        {TextArg(line3), doubleWidth3 != 0, doubleHeight3 != 0,
         "Длина третьей строки атрибутов налогоплательщика больше допустимой!"},
    };
    for (const Line &line : lines) {
        if ((line.doubleWidth && line.text.size() > 20) || line.text.size() > 30)
            return Refuse(line.message);
    }
    const bool idNumber = Flag16(isIdNumber);
    const std::string_view numberText = TextArg(number);
    if (numberText.size() > 12)
        return Refuse(idNumber ? "Длина идентификационного номера больше 12 символов!"
                               : "Длина налогового номера больше 12 символов!");
    Bytes payload = WithPassword(0x16, password);
    for (const Line &line : lines)
        if (!PutDeviceText(payload, line.text, Attributes(line.doubleWidth, line.doubleHeight)))
            return kFalse;
    payload.push_back(idNumber ? 0x8C : 0x0C);
    AppendDeviceText(payload, LeftPadded(numberText, 12));
    return Standard(payload);
}

// ---- Tax rates -------------------------------------------------------------------

extern "C" KRV_API KrvBool FPSetTaxRate(uint16_t password, uint8_t count, KrvBool16 addedTax,
                                        const TaxRateEntry *rates, int32_t ratesHigh,
                                        KrvBool16 withLevy, int32_t groupFLevy) {
    const ExportLock lock;
    if (count > 5)
        return Refuse("Cлишком много налоговых ставок!");
    if (count == 0)
        return Refuse("Cлишком мало налоговых ставок!");
    if (!rates || ratesHigh < count - 1)
        return Refuse("Массив налоговых ставок меньше их количества!");
    Bytes rateWords, levyWords;
    for (int k = 0; k < count; ++k) {
        const TaxRateEntry &entry = rates[k];
        if (entry.rate < 0 || entry.rate > 9999)
            return Refuse("Значение налоговой ставки не должно превышать 99,99%!");
        if (withLevy) {
            // A negative levy would spill into the compound bit and beyond.
            if (entry.levyRate < 0 || int64_t{entry.rate} + entry.levyRate > 9999)
                return Refuse("Cумма налоговой ставки и ставки сбора не должны превышать 99,99%!");
        }
        PutU16(rateWords, static_cast<uint16_t>(entry.rate));
        levyWords.push_back(static_cast<uint8_t>(entry.levyRate & 0xFF));
        levyWords.push_back(
            static_cast<uint8_t>(((entry.levyRate >> 8) & 0xFF) + (entry.compound ? 0x80 : 0)));
    }
    Bytes payload = WithPassword(0x19, password);
    payload.push_back(count);
    payload.insert(payload.end(), rateWords.begin(), rateWords.end());
    payload.push_back(withLevy ? 0x20 : addedTax ? 0x10 : 0x00);
    if (withLevy) {
        payload.insert(payload.end(), levyWords.begin(), levyWords.end());
        PutU16(payload, static_cast<uint16_t>(groupFLevy & 0xFFFF));
    }
    return Standard(payload);
}

// ---- Articles --------------------------------------------------------------------

extern "C" KRV_API KrvBool FPProgArt(uint16_t password, uint8_t qtyFlags, int32_t price,
                                     uint8_t taxGroup, const char *name, int64_t code) {
    const ExportLock lock;
    const std::string_view text = TextArg(name);
    if (password == 0xFFFF)
        return Refuse("Неверный пароль отчетов!");
    if (taxGroup > 5)
        return Refuse(kNoSuchTaxGroupText);
    if (text.size() > 70)
        return Refuse("Название товара превышает 70 символов!");
    Bytes payload = WithPassword(0x22, password);
    payload.push_back(qtyFlags);
    // The one price whose magnitude needs 32 bits would go out as minus zero.
    if (!PutMoneySignMagnitude(payload, price))
        return Refuse("Недопустимая цена товара!");
    payload.push_back(TaxGroupByte(taxGroup));
    if (!PutDeviceText(payload, text))
        return kFalse;
    PutArticleCode(payload, code);
    return Standard(payload);
}

// ---- Payment forms -----------------------------------------------------------------

extern "C" KRV_API KrvBool FPSetPayName(uint16_t password, uint8_t index, const char *name) {
    const ExportLock lock;
    const std::string_view text = TextArg(name);
    if (index == 3 || index > 9)
        return Refuse("Недопустимый индекс оплат!");
    if (text.empty() || text.size() > 15)
        return Refuse("Недопустимая длина названия формы оплаты!");
    Bytes payload = WithPassword(0x32, password);
    payload.push_back(index);
    if (!PutDeviceText(payload, text))
        return kFalse;
    return Standard(payload);
}

// The name record of a form is 16 bytes at 2D00 + 16 * index, bank 10: the
// length, then the name.
extern "C" KRV_API KrvBool FPGetPayName(uint8_t index, const char **name) {
    const ExportLock lock;
    // Past form 9 the address would run into other records of the printer.
    if (index > 9)
        return Refuse("Недопустимый индекс оплат!");
    const Bytes payload{0x1C, static_cast<uint8_t>(index * 16), 0x2D, 0x10, 0x10};
    if (!RunStandard(payload))
        return kFalse;
    const auto data = ReplyData();
    if (data.empty())
        return Refuse(kNoReplyDataText);
    const size_t length = data[0];
    if (length > data.size() - 1)
        return Refuse(kReplyFormatText);
    g_payName = DecodeDeviceText(data.subspan(1, length));
    Put(name, static_cast<const char *>(g_payName.c_str()));
    return kTrue;
}

// ---- Personalization and packets -------------------------------------------------------
// The printer must take these even when it is locked or its tape is full, so
// the status byte is not looked at; a refusal (an error code) is still a
// failure.

extern "C" KRV_API KrvBool FPPersonalize(uint16_t password, KrvBool16 personalizationFlag,
                                         const char *text) {
    const ExportLock lock;
    const std::string_view value = TextArg(text);
    if (value.empty() || value.size() > 180)
        return Refuse("Недопустимая длина строки персонализации!");
    Bytes payload = WithPassword(0x35, password);
    payload.push_back(personalizationFlag ? 0x01 : 0x00);
    if (!PutDeviceText(payload, value))
        return kFalse;
    return ToExportBool(RunLinkCheckingCode(payload));
}

extern "C" KRV_API KrvBool FPSetTotalNumb(uint16_t password, int32_t packetNumber) {
    const ExportLock lock;
    Bytes payload = WithPassword(0x36, password);
    PutU32(payload, static_cast<uint32_t>(packetNumber));
    return ToExportBool(RunLinkCheckingCode(payload));
}
