#include "article_logic.h"

#include "receipt_logic.h"
#include "text_forms.h"

#include "KRV_T100DRV.h"

#include <algorithm>

namespace krv::console {

namespace {

const QString kPriceText = QStringLiteral("Введите цену в гривнах!");

QString QuantityLine(const QString &label, int32_t quantity, uint8_t flags, QChar separator,
                     bool returns) {
    const std::optional<QString> value = QuantityText(quantity, flags, separator);
    if (!value)
        return {};
    // The returns line with three decimals ends with an extra carriage return.
    const QString end = returns && flags == 3 ? QStringLiteral("\r\r\n") : QStringLiteral("\r\n");
    return PaddedLabel(label, 29) + QLatin1Char('\t') + *value + end;
}

} // namespace

// ---- One article -------------------------------------------------------------

ArticleBuild BuildArticleRequest(const ArticleFields &fields, QChar separator) {
    ArticleBuild build;
    const AmountParse price = ParseAmountText(fields.price, separator, kPriceText);
    if (!price.ok) {
        build.error = price.error;
        return build;
    }
    build.request.price = fields.isReturn ? -price.value : price.value;
    build.request.qtyFlags = IndexByte(fields.decimals);
    build.request.taxGroup = IndexByte(fields.taxGroup);
    build.request.name = ToDriverText(fields.name);
    build.request.code = fields.code;
    build.ok = true;
    return build;
}

bool CallProgramArticle(uint16_t password, const ArticleRequest &request) {
    return DriverSucceeded(FPProgArt(password, request.qtyFlags, request.price, request.taxGroup,
                                     request.name.c_str(), request.code));
}

bool CallGetArticleInfo(int64_t code, ArticleInfo &info) {
    uint8_t nameLength = 0;
    const char *name = nullptr;
    ArticleInfo read;
    const bool ok = DriverSucceeded(FPGetArticleInfo(
        &nameLength, &name, &read.price, &read.taxGroup, &read.salesQty, &read.salesQtyFlags,
        &read.salesSum, &read.returnsQty, &read.returnsQtyFlags, &read.returnsSum, &code));
    if (!ok)
        return false;
    read.nameLength = nameLength;
    read.name = FromDriverText(name);
    info = read;
    return true;
}

std::optional<QString> QuantityText(int32_t quantity, uint8_t qtyFlags, QChar separator) {
    if (qtyFlags > 3)
        return std::nullopt;
    if (qtyFlags == 0)
        return QString::number(quantity);
    int divisor = 1;
    for (int i = 0; i < qtyFlags; ++i)
        divisor *= 10;
    const bool negative = quantity < 0;
    const int64_t magnitude = negative ? -static_cast<int64_t>(quantity) : quantity;
    return (negative ? QStringLiteral("-") : QString()) + QString::number(magnitude / divisor) +
           separator +
           QStringLiteral("%1").arg(magnitude % divisor, qtyFlags, 10, QLatin1Char('0'));
}

QString TurnoverText(const ArticleInfo &info, QChar separator) {
    QString text = QStringLiteral("Обороты:\r\n");
    text += QuantityLine(QStringLiteral("Количество (продажи):"), info.salesQty, info.salesQtyFlags,
                         separator, false);
    text += QuantityLine(QStringLiteral("Количество (возвраты):"), info.returnsQty,
                         info.returnsQtyFlags, separator, true);
    text += PaddedLabel(QStringLiteral("Сумма оборотов (продажи):"), 27) + QLatin1Char('\t') +
            FormatPanelMoney(info.salesSum, separator) + QStringLiteral("\r\n");
    text += PaddedLabel(QStringLiteral("Сумма оборотов (возвраты):"), 27) + QLatin1Char('\t') +
            FormatPanelMoney(info.returnsSum, separator);
    return text;
}

QString TurnoverCaption(const QString &name) {
    return QStringLiteral("Обороты по товару \"") + name + QLatin1Char('"');
}

// ---- Article memory ------------------------------------------------------------

bool CallReadArticleCounters(std::array<uint8_t, 4> &bytes, uint8_t &length) {
    std::vector<uint8_t> block;
    if (!CallReadMemory(kArticleCountersAddress, kArticleCountersBank, kArticleCountersLength,
                        block))
        return false;
    length = static_cast<uint8_t>(block.size());
    bytes = {};
    std::copy_n(block.begin(), std::min(block.size(), bytes.size()), bytes.begin());
    return true;
}

QString ArticleCountersText(const std::array<uint8_t, 4> &bytes) {
    const unsigned programmed = bytes[2] | bytes[3] << 8;
    const unsigned bySales = bytes[0] | bytes[1] << 8;
    return QStringLiteral("Количество предварительно запрограммированных описаний товаров:\t") +
           QString::number(programmed) +
           QStringLiteral("\r\nКоличество запрограммированных описаний товаров по ходу продаж:\t") +
           QString::number(bySales);
}

// ---- Bulk programming -------------------------------------------------------------

QString BulkIdleCaption() {
    return QStringLiteral("Программирование товаров");
}

QString BulkRunningCaption() {
    return QStringLiteral("Стоп!");
}

ArticleRequest BulkArticleRequest(int n) {
    ArticleRequest request;
    request.qtyFlags = 3;
    request.price = n;
    request.taxGroup = 0;
    request.name = ToDriverText(QStringLiteral("Товар %1").arg(n));
    request.code = n;
    return request;
}

QString BulkProgressText(int n) {
    return QStringLiteral("Товар %1 из %2").arg(n).arg(kBulkArticleCount);
}

QString BulkInterruptedText(int lastWritten) {
    return QStringLiteral("Запись прервана пользователем на товаре ") +
           QString::number(lastWritten);
}

QString BulkDoneText(int lastWritten) {
    return QStringLiteral("Запись товаров произведена успешно!") + QString::number(lastWritten);
}

// ---- Stress test ----------------------------------------------------------------

bool IsStressAccessCode(const QString &text) {
    return text == QLatin1String("PLOVR");
}

} // namespace krv::console
