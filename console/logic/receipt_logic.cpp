#include "receipt_logic.h"

#include "KRV_T100DRV.h"

#include <QLocale>
#include <QStringView>

#include <limits>

namespace krv::console {

namespace {

// Input-error texts of the receipt tab.
const QString kLineFieldsEmptyText =
    QStringLiteral("Поля \"Код\", \"Наименование\", \"Количество\" и \"Цена\"\r\n           не "
                   "могут быть пустыми!");
const QString kCancelFieldsEmptyText = QStringLiteral(
    "Поля \"Наименование\", \"Количество\" и \"Цена\"\r\n           не могут быть пустыми!");
const QString kArticleCodeText = QStringLiteral("Код товара задан неверно!");
const QString kQuantityText = QStringLiteral("Неправильный формат количества!");
const QString kPriceText = QStringLiteral("Введите цену в гривнах!");
const QString kPercentText = QStringLiteral("Значение процентной скидки должно от 0%..100%!");
const QString kDiscountAmountText = QStringLiteral("Введите значение асолютной скидки в гривнах!");
const QString kTenderedEmptyText = QStringLiteral("Введите сумму принятую от клиента!");
const QString kSumText = QStringLiteral("Введите сумму в гривнах!");
const QString kCashInEmptyText = QStringLiteral("Введите сумму для служебного внесения!");
const QString kCashOutEmptyText = QStringLiteral("Введите сумму для служебного изъятия!");
const QString kCashInLimitText =
    QStringLiteral("Максимальная сумма служебного внесения составляет 42949672.95 грн!");
const QString kCashOutLimitText =
    QStringLiteral("Максимальная сумма служебного изъятия составляет 42949672.95 грн!");

unsigned DigitValue(QChar c) {
    return static_cast<unsigned>(c.unicode() - u'0');
}

// A signed decimal number: optional sign, digits, optional separator and
// digits; at least one digit somewhere ("12," and ",5" are numbers).
struct DecimalParts {
    bool negative = false;
    QStringView whole;
    QStringView fraction;
};

std::optional<DecimalParts> SplitDecimal(QStringView text, QChar separator) {
    DecimalParts parts;
    qsizetype i = 0;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        parts.negative = text[i] == u'-';
        ++i;
    }
    const qsizetype wholeStart = i;
    while (i < text.size() && IsAsciiDigit(text[i]))
        ++i;
    parts.whole = text.mid(wholeStart, i - wholeStart);
    if (i < text.size() && text[i] == separator) {
        ++i;
        const qsizetype fractionStart = i;
        while (i < text.size() && IsAsciiDigit(text[i]))
            ++i;
        parts.fraction = text.mid(fractionStart, i - fractionStart);
    }
    if (i != text.size() || (parts.whole.isEmpty() && parts.fraction.isEmpty()))
        return std::nullopt;
    return parts;
}

// The magnitude of a hryvnia amount in kopecks, the third and later
// decimals rounded half to even; nullopt above `limit`.
std::optional<uint64_t> KopecksOf(const DecimalParts &parts, uint64_t limit) {
    uint64_t kopecks = 0;
    for (QChar c : parts.whole) {
        if (__builtin_mul_overflow(kopecks, 10u, &kopecks) ||
            __builtin_add_overflow(kopecks, DigitValue(c), &kopecks))
            return std::nullopt;
        if (kopecks > limit)
            return std::nullopt;
    }
    for (qsizetype i = 0; i < 2; ++i) {
        const unsigned digit = i < parts.fraction.size() ? DigitValue(parts.fraction[i]) : 0;
        if (__builtin_mul_overflow(kopecks, 10u, &kopecks) ||
            __builtin_add_overflow(kopecks, digit, &kopecks))
            return std::nullopt;
    }
    if (parts.fraction.size() > 2) {
        const unsigned first = DigitValue(parts.fraction[2]);
        bool beyondHalf = false;
        for (qsizetype i = 3; i < parts.fraction.size(); ++i)
            beyondHalf = beyondHalf || parts.fraction[i] != u'0';
        if (first > 5 || (first == 5 && (beyondHalf || kopecks % 2 == 1)))
            ++kopecks; // cannot wrap: kopecks <= limit * 100 + 99 fitted
    }
    if (kopecks > limit)
        return std::nullopt;
    return kopecks;
}

// A signed decimal integer within [minimum, maximum]: optional sign, then
// ASCII digits only.
std::optional<int64_t> ParseInteger(QStringView text, int64_t minimum, int64_t maximum) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    const uint64_t limit =
        negative ? 0 - static_cast<uint64_t>(minimum) : static_cast<uint64_t>(maximum);
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (!IsAsciiDigit(text[i]))
            return std::nullopt;
        if (__builtin_mul_overflow(magnitude, 10u, &magnitude) ||
            __builtin_add_overflow(magnitude, DigitValue(text[i]), &magnitude) || magnitude > limit)
            return std::nullopt;
    }
    if (!negative)
        return static_cast<int64_t>(magnitude);
    // Two's complement negation of the magnitude, well defined for -2^63.
    return static_cast<int64_t>(0 - magnitude);
}

LineBuild BuildLine(const LineFields &fields, QChar separator, const QString &emptyText,
                    bool negatePrice) {
    LineBuild build;
    if (fields.code.isEmpty() || fields.name.isEmpty() || fields.quantity.isEmpty() ||
        fields.price.isEmpty()) {
        build.error = emptyText;
        return build;
    }
    const ArticleCodeParse code = ParseArticleCodeText(fields.code);
    if (!code.ok) {
        build.error = code.error;
        return build;
    }
    const QuantityParse quantity = ParseQuantityText(fields.quantity, separator, fields.singleUnit);
    if (!quantity.ok) {
        build.error = quantity.error;
        return build;
    }
    const AmountParse price = ParseAmountText(fields.price, separator, kPriceText);
    if (!price.ok) {
        build.error = price.error;
        return build;
    }
    LineRequest &r = build.request;
    r.quantity = quantity.value;
    r.qtyFlags = quantity.qtyFlags;
    // The price range is symmetric, so the negation cannot overflow.
    r.price = negatePrice ? -price.value : price.value;
    r.taxGroup = IndexByte(fields.taxGroup);
    r.nameFromRegister = fields.nameFromRegister ? -1 : 0;
    r.printBarcode = fields.printBarcode ? -1 : 0;
    r.name = ToDriverText(fields.name);
    r.code = code.value;
    build.ok = true;
    return build;
}

} // namespace

// ---- Texts to values -------------------------------------------------------

AmountParse ParseAmountText(const QString &text, QChar separator, const QString &errorText,
                            bool trim) {
    AmountParse result;
    const QString source = trim ? text.trimmed() : text;
    const std::optional<DecimalParts> parts = SplitDecimal(source, separator);
    const std::optional<uint64_t> kopecks =
        parts ? KopecksOf(*parts, static_cast<uint64_t>(kMaxAmountKopecks)) : std::nullopt;
    if (!kopecks) {
        result.error = errorText;
        return result;
    }
    const auto magnitude = static_cast<int32_t>(*kopecks);
    result.value = parts->negative ? -magnitude : magnitude;
    result.ok = true;
    return result;
}

CashAmountParse ParseCashAmountText(const QString &text, QChar separator,
                                    const QString &notANumberText, const QString &limitText) {
    CashAmountParse result;
    const QString source = text.trimmed();
    const std::optional<DecimalParts> parts = SplitDecimal(source, separator);
    if (!parts) {
        result.error = notANumberText;
        return result;
    }
    const std::optional<uint64_t> kopecks =
        KopecksOf(*parts, static_cast<uint64_t>(kMaxCashKopecks));
    if (parts->negative && kopecks != uint64_t{0}) {
        // The amount goes out unsigned: -1,00 would become 42949671,96.
        result.error = notANumberText;
        return result;
    }
    if (!kopecks) {
        result.error = limitText;
        return result;
    }
    result.value = static_cast<int64_t>(*kopecks);
    result.ok = true;
    return result;
}

QuantityParse ParseQuantityText(const QString &text, QChar separator, bool singleUnit) {
    QuantityParse result;
    QString digits = text.trimmed();
    const qsizetype point = digits.indexOf(separator);
    const qsizetype decimals = point < 0 ? 0 : digits.size() - point - 1;
    std::optional<int64_t> value;
    if (decimals <= kMaxQuantityDecimals) {
        if (point >= 0)
            digits.remove(point, 1);
        value = ParseInteger(digits, std::numeric_limits<int32_t>::min(),
                             std::numeric_limits<int32_t>::max());
    }
    // A negative quantity would reach the printer as a huge unsigned one.
    if (!value || *value < 0) {
        result.error = kQuantityText;
        return result;
    }
    result.value = static_cast<int32_t>(*value);
    result.decimals = static_cast<uint8_t>(decimals);
    result.qtyFlags = static_cast<uint8_t>(result.decimals | (singleUnit ? kSingleUnitFlag : 0));
    result.ok = true;
    return result;
}

ArticleCodeParse ParseArticleCodeText(const QString &text) {
    ArticleCodeParse result;
    const std::optional<int64_t> value = ParseInteger(
        text.trimmed(), std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
    if (!value) {
        result.error = kArticleCodeText;
        return result;
    }
    result.value = *value;
    result.ok = true;
    return result;
}

PercentParse ParseDiscountPercentText(const QString &text) {
    PercentParse result;
    const std::optional<int64_t> value = ParseInteger(
        text.trimmed(), std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    // Above 100 the value would run into the percent and discount marks.
    if (!value || *value < 0 || *value > 100) {
        result.error = kPercentText;
        return result;
    }
    result.value = static_cast<int32_t>(*value);
    result.ok = true;
    return result;
}

// ---- Sale, return and cancelled line ---------------------------------------

LineBuild BuildLineRequest(const LineFields &fields, QChar separator) {
    return BuildLine(fields, separator, kLineFieldsEmptyText, false);
}

LineBuild BuildCancelLineRequest(const LineFields &fields, QChar separator) {
    return BuildLine(fields, separator, kCancelFieldsEmptyText, true);
}

LineCommand CancelLineCommand(const PrinterStatus &status) {
    return status.flags[2] != 0 ? LineCommand::PayMoney : LineCommand::Sale;
}

bool CommentStartsNewReceipt(const PrinterStatus &status) {
    return status.flags[5] == 0;
}

bool CallLine(LineCommand command, const LineRequest &request, LineOutcome &outcome) {
    int64_t itemCost = 0;
    int64_t receiptSum = 0;
    const auto call = command == LineCommand::Sale ? &FPSale : &FPPayMoney;
    const bool ok = DriverSucceeded(call(&itemCost, &receiptSum, request.quantity, request.qtyFlags,
                                         request.price, request.taxGroup, request.nameFromRegister,
                                         request.printBarcode, request.name.c_str(), request.code));
    if (ok)
        outcome = LineOutcome{itemCost, receiptSum};
    return ok;
}

// ---- Payment and closing ----------------------------------------------------

PaymentRequest BuildCloseRequest(int formIndex, bool nonFiscal) {
    PaymentRequest request;
    request.form = IndexByte(formIndex);
    request.paid = 0;
    request.payRest = -1;
    request.fiscal = nonFiscal ? 0 : -1;
    return request;
}

PaymentBuild BuildPaymentRequest(const QString &tendered, int formIndex, bool nonFiscal,
                                 QChar separator) {
    PaymentBuild build;
    if (tendered.isEmpty()) {
        build.error = kTenderedEmptyText;
        return build;
    }
    const AmountParse paid = ParseAmountText(tendered, separator, kSumText);
    // Bit 31 of the paid field is the "pay the rest" mark: a negative amount
    // would close the receipt instead of paying what was typed.
    if (!paid.ok || paid.value < 0) {
        build.error = kSumText;
        return build;
    }
    build.request.form = IndexByte(formIndex);
    build.request.paid = paid.value;
    build.request.payRest = 0;
    build.request.fiscal = nonFiscal ? 0 : -1;
    build.ok = true;
    return build;
}

bool CallPayment(const PaymentRequest &request, PaymentOutcome &outcome) {
    int32_t amount = 0;
    KrvBool16 isChange = 0;
    const bool ok = DriverSucceeded(
        FPPayment(&amount, &isChange, request.form, request.paid, request.payRest, request.fiscal));
    if (ok)
        outcome = PaymentOutcome{amount, isChange};
    return ok;
}

// ---- Discount and markup ----------------------------------------------------

std::optional<DiscountField> DiscountValueField(int kind) {
    switch (kind) {
    case 0:
    case 2:
        return DiscountField::Percent;
    case 1:
    case 3:
        return DiscountField::Amount;
    default:
        return std::nullopt;
    }
}

DiscountBuild BuildDiscountRequest(const DiscountFields &fields, QChar separator) {
    DiscountBuild build;
    DiscountRequest &r = build.request;
    const std::optional<DiscountField> field = DiscountValueField(fields.kind);
    if (field == DiscountField::Percent) {
        const PercentParse percent = ParseDiscountPercentText(fields.percent);
        if (!percent.ok) {
            build.error = percent.error;
            return build;
        }
        r.percent = percent.value;
    } else if (field == DiscountField::Amount) {
        const AmountParse amount =
            ParseAmountText(fields.amount, separator, kDiscountAmountText, false);
        // The amount shares its bytes with the percent and discount marks.
        if (!amount.ok || amount.value < 0 || amount.value > kMaxDiscountKopecks) {
            build.error = kDiscountAmountText;
            return build;
        }
        r.amount = amount.value;
    }
    // Any other kind goes on as it is; the driver refuses it by range.
    r.kind = IndexByte(fields.kind);
    r.isDiscount = fields.discountOrMarkup == 0 ? -1 : 0;
    r.text = ToDriverText(fields.text);
    build.ok = true;
    return build;
}

bool CallDiscount(const DiscountRequest &request, DiscountOutcome &outcome) {
    int64_t value = 0;
    int64_t receiptSum = 0;
    const bool ok =
        DriverSucceeded(FPDiscount(&value, &receiptSum, request.kind, request.percent,
                                   request.amount, request.isDiscount, request.text.c_str()));
    if (ok)
        outcome = DiscountOutcome{value, receiptSum};
    return ok;
}

// ---- Cash in and out ----------------------------------------------------------

CashBuild BuildCashRequest(CashOperation operation, const QString &text, QChar separator) {
    CashBuild build;
    const bool in = operation == CashOperation::In;
    if (text.isEmpty()) {
        build.error = in ? kCashInEmptyText : kCashOutEmptyText;
        return build;
    }
    const CashAmountParse amount =
        ParseCashAmountText(text, separator, kSumText, in ? kCashInLimitText : kCashOutLimitText);
    if (!amount.ok) {
        build.error = amount.error;
        return build;
    }
    build.amount = amount.DriverValue();
    build.ok = true;
    return build;
}

bool CallCash(CashOperation operation, int32_t amount) {
    return DriverSucceeded(operation == CashOperation::In ? FPInToCash(amount)
                                                          : FPOutOfCash(amount));
}

// ---- Comment and barcodes ------------------------------------------------------

bool CallComment(const QString &text) {
    return DriverSucceeded(FPComment(ToDriverText(text).c_str(), 0));
}

bool CallCode128(const QString &text) {
    return DriverSucceeded(FPSetBarCode(ToDriverText(text).c_str()));
}

std::optional<std::string> BuildEan13Request(const QString &digits) {
    if (digits.isEmpty())
        return std::nullopt;
    return ToDriverText(digits);
}

bool CallEan13(const std::string &digits) {
    return DriverSucceeded(FPPrintEAN13(digits.c_str()));
}

// ---- Commands without arguments -----------------------------------------------

bool CallZeroReceipt() {
    return DriverSucceeded(FPNullCheck());
}
bool CallVoid() {
    return DriverSucceeded(FPResetOrder());
}
bool CallLineFeed() {
    return DriverSucceeded(FPLineFeed());
}

// ---- Receipt panel ---------------------------------------------------------------

void ShowLineResult(ReceiptPanel &panel, const LineOutcome &outcome, QChar separator) {
    panel.label11.clear();
    panel.label51 = FormatPanelMoney(outcome.itemCost, separator);
    panel.label52 = FormatPanelMoney(outcome.receiptSum, separator);
    panel.label54.clear();
}

void ShowPaymentResult(ReceiptPanel &panel, const PaymentOutcome &outcome, QChar separator) {
    panel.label11 = outcome.isChange != 0 ? QStringLiteral("Сдача:") : QStringLiteral("Остаток:");
    panel.label54 = FormatPanelMoney(static_cast<uint32_t>(outcome.amount), separator);
}

void ShowDiscountResult(ReceiptPanel &panel, const DiscountRequest &request,
                        const DiscountOutcome &outcome, QChar separator) {
    panel.label52 = FormatPanelMoney(outcome.receiptSum, separator);
    panel.label11 =
        request.isDiscount != 0 ? QStringLiteral("Скидка:") : QStringLiteral("Наценка:");
    panel.label54 = FormatPanelMoney(outcome.value, separator);
}

// ---- Paper check ---------------------------------------------------------------------

bool PaperCheckFollows(ReceiptAction action, bool isFirstModel, bool autoClosed) {
    if (!isFirstModel)
        return false;
    switch (action) {
    case ReceiptAction::Sale:
    case ReceiptAction::Return:
    case ReceiptAction::CancelLine:
    case ReceiptAction::Comment:
        return autoClosed;
    case ReceiptAction::Payment:
    case ReceiptAction::CloseReceipt:
    case ReceiptAction::ZeroReceipt:
    case ReceiptAction::Void:
    case ReceiptAction::CashIn:
    case ReceiptAction::CashOut:
    case ReceiptAction::Ean13:
    case ReceiptAction::LineFeed:
        return true;
    case ReceiptAction::Discount:
    case ReceiptAction::Code128:
        return false;
    }
    return false;
}

// ---- Payment-form names (TForm5) -----------------------------------------------

QString PaymentFormNameToWrite(const QString &editText) {
    return editText.isEmpty() ? QStringLiteral("СПЛАТА") : QLocale().toUpper(editText);
}

bool ReadPaymentFormName(int form, QString &name) {
    const char *text = nullptr;
    if (!DriverSucceeded(FPGetPayName(IndexByte(form), &text)))
        return false;
    name = FromDriverText(text);
    return true;
}

bool WritePaymentFormName(uint16_t password, int form, const QString &name) {
    return DriverSucceeded(FPSetPayName(password, IndexByte(form), ToDriverText(name).c_str()));
}

} // namespace krv::console
