// The receipt tab "Операции" and the payment-form names window without their
// widgets: how typed money, quantity and code texts become driver values,
// which arguments each receipt button hands to the driver, what the receipt
// panel shows afterwards and when the paper check follows.
//
// A handler reads its fields into one of the plain structs below, builds the
// request (an input error comes back as the text of its box, caption
// "Ошибка!"), makes the call with the matching Call* function (false: the
// driver failed, show ShowDriverError), then updates the receipt panel.
//
// Money is read from its decimal text digit by digit, never through a binary
// float, so 0,07 is 7 kopecks and a half kopeck goes to the even neighbour.
#pragma once

#include "driver_binding.h"
#include "text_forms.h"

#include <QChar>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace krv::console {

// ---- Texts to values -------------------------------------------------------

// Largest magnitude of a 32-bit kopeck amount. The driver sends prices as
// magnitude plus sign bit, so -2^31 has no form and is refused as well.
inline constexpr int64_t kMaxAmountKopecks = 2147483647;
// Cash-in and cash-out go out as unsigned 32-bit amounts.
inline constexpr int64_t kMaxCashKopecks = 4294967295;
// An absolute discount shares its four bytes with the percent mark (bit 25)
// and the discount mark (bit 31): only the 25 bits below are the amount.
inline constexpr int32_t kMaxDiscountKopecks = 0x01FFFFFF;
// Quantities are sent as three bytes of digits.
inline constexpr int kMaxQuantityDecimals = 3;
// Bit of the decimals byte that asks the printer for a single-unit quantity.
inline constexpr uint8_t kSingleUnitFlag = 0x80;

struct AmountParse {
    bool ok = false;
    int32_t value = 0; // kopecks, |value| <= kMaxAmountKopecks
    QString error;     // the caller's text when !ok
};

// Money in hryvnias to kopecks: the text (trimmed of surrounding blanks
// unless `trim` is false) as a decimal number with `separator`, times 100,
// rounded half to even. A text that is no number or an amount outside
// ±kMaxAmountKopecks gives `errorText`.
AmountParse ParseAmountText(const QString &text, QChar separator, const QString &errorText,
                            bool trim = true);

struct CashAmountParse {
    bool ok = false;
    int64_t value = 0; // kopecks, 0 .. kMaxCashKopecks
    QString error;
    // The amount as the driver takes it: the 32 bits of the unsigned value.
    int32_t DriverValue() const { return static_cast<int32_t>(static_cast<uint32_t>(value)); }
};

// Cash-in and cash-out amounts: as ParseAmountText, in 64 bits. No number
// or a negative amount gives `notANumberText`; more than kMaxCashKopecks
// gives `limitText`.
CashAmountParse ParseCashAmountText(const QString &text, QChar separator,
                                    const QString &notANumberText, const QString &limitText);

struct QuantityParse {
    bool ok = false;
    int32_t value = 0;    // the quantity in units of 10^-decimals
    uint8_t decimals = 0; // 0..3
    uint8_t qtyFlags = 0; // decimals, plus kSingleUnitFlag on request
    QString error;        // "Неправильный формат количества!"
};

// A quantity: at most three digits after the first separator; the digits
// without the separator read as a signed decimal 32-bit integer. A negative
// quantity has no form on the wire and is refused.
QuantityParse ParseQuantityText(const QString &text, QChar separator, bool singleUnit);

struct ArticleCodeParse {
    bool ok = false;
    int64_t value = 0;
    QString error; // "Код товара задан неверно!"
};

// An article code: the trimmed text as a signed decimal 64-bit integer.
ArticleCodeParse ParseArticleCodeText(const QString &text);

struct PercentParse {
    bool ok = false;
    int32_t value = 0; // 0..100
    QString error; // "Значение процентной скидки должно от 0%..100%!"
};

// A discount percent: an integer from 0 to 100 (larger values would set
// the flag bits the printer reads beside the percent).
PercentParse ParseDiscountPercentText(const QString &text);

// ---- Sale, return and cancelled line ---------------------------------------

// The fields a line reads, as typed.
struct LineFields {
    QString code;                  // Edit39
    QString name;                  // Edit6
    QString quantity;              // Edit7
    QString price;                 // Edit8
    int taxGroup = 0;              // ComboBox3 item index (0..5 for А..Е)
    bool singleUnit = false;       // CheckBox2 "Брать единичное количество"
    bool nameFromRegister = false; // CheckBox4 "Наименование брать из ЭККР"
    bool printBarcode = false;     // CheckBox15 "Печатать штрих-код товара"
};

// The arguments of FPSale and FPPayMoney (outputs aside).
struct LineRequest {
    int32_t quantity = 0;
    uint8_t qtyFlags = 0;
    int32_t price = 0;
    uint8_t taxGroup = 0;
    int16_t nameFromRegister = 0;
    int16_t printBarcode = 0;
    std::string name; // Windows-1251
    int64_t code = 0;
};

struct LineBuild {
    bool ok = false;
    LineRequest request;
    QString error;
};

// "Продажа" and "Возврат".
LineBuild BuildLineRequest(const LineFields &fields, QChar separator);
// "Отмена поз.": the same conversions with the price negated.
LineBuild BuildCancelLineRequest(const LineFields &fields, QChar separator);

enum class LineCommand { Sale, PayMoney };
// A cancelled line goes through the return command while the printer
// reports a return receipt (flagA3, the third status flag).
LineCommand CancelLineCommand(const PrinterStatus &status);
// A comment outside an open receipt (receiptOpen, the sixth flag, clear)
// starts a new one: the receipt panel is emptied first.
bool CommentStartsNewReceipt(const PrinterStatus &status);

struct LineOutcome {
    int64_t itemCost = 0;
    int64_t receiptSum = 0;
};
bool CallLine(LineCommand command, const LineRequest &request, LineOutcome &outcome);

// ---- Payment and closing ----------------------------------------------------

// The arguments of FPPayment (outputs aside).
struct PaymentRequest {
    uint8_t form = 3;
    int32_t paid = 0;
    int16_t payRest = 0;
    int32_t fiscal = -1;
};

// "Закрыть чек" and the automatic close after a line or comment: pay the
// rest with the chosen form (ComboBox4 item index). nonFiscal is CheckBox5
// "Печатать не фискальный чек".
PaymentRequest BuildCloseRequest(int formIndex, bool nonFiscal);

struct PaymentBuild {
    bool ok = false;
    PaymentRequest request;
    QString error;
};

// "Оплатить" with the amount tendered (Edit11). The amount must lie in
// 0..2^31-1 kopecks: bit 31 of the paid field means "pay the rest".
PaymentBuild BuildPaymentRequest(const QString &tendered, int formIndex, bool nonFiscal,
                                 QChar separator);

struct PaymentOutcome {
    int32_t amount = 0; // change (isChange) or rest to pay
    int16_t isChange = 0;
};
bool CallPayment(const PaymentRequest &request, PaymentOutcome &outcome);

// ---- Discount and markup ----------------------------------------------------

struct DiscountFields {
    int kind = 0;             // ComboBox9 item index, 0..3
    QString percent;          // Edit18 (kinds 0 and 2)
    QString amount;           // Edit19 (kinds 1 and 3), read untrimmed
    int discountOrMarkup = 0; // ComboBox10 item index: 0 "Скидка", 1 "Наценка"
    QString text;             // Edit20, the explanatory line
};

struct DiscountRequest {
    uint8_t kind = 0;
    int32_t percent = 0;
    int32_t amount = 0;
    int16_t isDiscount = 0;
    std::string text; // Windows-1251
};

struct DiscountBuild {
    bool ok = false;
    DiscountRequest request;
    QString error;
};

DiscountBuild BuildDiscountRequest(const DiscountFields &fields, QChar separator);

// Which of the two value fields a discount kind uses (ComboBox9Change):
// kinds 0 and 2 the percent, kinds 1 and 3 the amount; nullopt for any
// other index (nothing changes).
enum class DiscountField { Percent, Amount };
std::optional<DiscountField> DiscountValueField(int kind);

struct DiscountOutcome {
    int64_t value = 0;
    int64_t receiptSum = 0;
};
bool CallDiscount(const DiscountRequest &request, DiscountOutcome &outcome);

// ---- Cash in and out ----------------------------------------------------------

enum class CashOperation { In, Out };

struct CashBuild {
    bool ok = false;
    int32_t amount = 0; // as FPInToCash / FPOutOfCash take it
    QString error;
};

// "Внесение" (Edit10) and "Изъятие" (Edit29).
CashBuild BuildCashRequest(CashOperation operation, const QString &text, QChar separator);
bool CallCash(CashOperation operation, int32_t amount);

// ---- Comment and barcodes ------------------------------------------------------

// FPComment of the text of Edit9, attribute off.
bool CallComment(const QString &text);
// FPSetBarCode of the text of Edit40, unchecked.
bool CallCode128(const QString &text);
// "EAN 13": nothing happens while Edit41 is empty (nullopt); otherwise the
// digits as the driver takes them.
std::optional<std::string> BuildEan13Request(const QString &digits);
bool CallEan13(const std::string &digits);

// ---- Commands without arguments -----------------------------------------------

bool CallZeroReceipt(); // FPNullCheck
bool CallVoid();        // FPResetOrder
bool CallLineFeed();    // FPLineFeed

// ---- Receipt panel ---------------------------------------------------------------

// The value labels of the group " Информация по чеку: ".
struct ReceiptPanel {
    QString label11; // caption of the third row: "Сдача:", "Остаток:", "Скидка:", "Наценка:" or ""
    QString label51; // "Стоимость:" of the last line
    QString label52; // "Сумма по чеку:"
    QString label54; // value of the third row

    bool operator==(const ReceiptPanel &) const = default;
};

// After a sale, return or cancelled line.
void ShowLineResult(ReceiptPanel &panel, const LineOutcome &outcome, QChar separator);
// After a payment or close: change or rest, the amount read as unsigned.
void ShowPaymentResult(ReceiptPanel &panel, const PaymentOutcome &outcome, QChar separator);
// After a discount or markup.
void ShowDiscountResult(ReceiptPanel &panel, const DiscountRequest &request,
                        const DiscountOutcome &outcome, QChar separator);

// ---- Paper check ---------------------------------------------------------------------

enum class ReceiptAction {
    Sale,
    Return,
    CancelLine,
    Comment, // check only after their automatic close
    Payment,
    CloseReceipt,
    ZeroReceipt,
    Void,
    CashIn,
    CashOut,
    Ean13,
    LineFeed,
    Discount,
    Code128, // never
};

// Whether PaperLowWarning follows a successful action: only on a KRV-T100
// (IsFirstModel), and for a line or comment only when its automatic close
// ran and succeeded.
bool PaperCheckFollows(ReceiptAction action, bool isFirstModel, bool autoClosed = false);

// ---- Payment-form names (TForm5) -----------------------------------------------

inline constexpr int kPaymentFormCount = 10;
inline constexpr int kCashPaymentForm = 3;
// "Записать" writes every form but cash, in this order.
inline constexpr std::array<int, 9> kWritablePaymentForms{0, 1, 2, 4, 5, 6, 7, 8, 9};
// What "Записать" sends for an edit's text: upper case, "СПЛАТА" when empty.
QString PaymentFormNameToWrite(const QString &editText);

// FPGetPayName of one form; the name in UTF-8.
bool ReadPaymentFormName(int form, QString &name);
// FPSetPayName of one form with the programming password.
bool WritePaymentFormName(uint16_t password, int form, const QString &name);

} // namespace krv::console
