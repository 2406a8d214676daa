// The tab "Артикулы" without its widgets: writing and reading one article,
// the turnover box, the article-memory counters, the texts and requests of
// bulk programming, and the stress-test access code.
#pragma once

#include "driver_binding.h"

#include <QChar>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace krv::console {

// ---- One article -------------------------------------------------------------

// The fields " Запомнить" reads, as typed.
struct ArticleFields {
    QString name;          // Edit30
    QString price;         // Edit32, hryvnias
    int taxGroup = 0;      // ComboBox11 item index (0..5 for А..Е)
    int decimals = 0;      // ComboBox12 item index (0..3)
    bool isReturn = false; // CheckBox7 "Возврат товара": the price goes negative
    int64_t code = 1;      // SpinEdit2
};

// The arguments of FPProgArt besides the password.
struct ArticleRequest {
    uint8_t qtyFlags = 0;
    int32_t price = 0; // kopecks
    uint8_t taxGroup = 0;
    std::string name; // Windows-1251
    int64_t code = 0;
};

struct ArticleBuild {
    bool ok = false;
    ArticleRequest request;
    QString error; // "Введите цену в гривнах!"
};

ArticleBuild BuildArticleRequest(const ArticleFields &fields, QChar separator);
bool CallProgramArticle(uint16_t password, const ArticleRequest &request);

// What FPGetArticleInfo answers, the name in UTF-8.
struct ArticleInfo {
    uint8_t nameLength = 0;
    QString name;
    int32_t price = 0;
    uint8_t taxGroup = 0;
    int32_t salesQty = 0;
    uint8_t salesQtyFlags = 0;
    int64_t salesSum = 0;
    int32_t returnsQty = 0;
    uint8_t returnsQtyFlags = 0;
    int64_t returnsSum = 0;
};
bool CallGetArticleInfo(int64_t code, ArticleInfo &info);

// Longer names are refused by " Прочитать" with its own box.
inline constexpr int kMaxReadArticleName = 75;

// A quantity by its decimals (0 to 3, e.g. 1234 with 2 is "12,34"); nothing
// for another flags value.
std::optional<QString> QuantityText(int32_t quantity, uint8_t qtyFlags, QChar separator);
// The text and caption of the turnover box.
QString TurnoverText(const ArticleInfo &info, QChar separator);
QString TurnoverCaption(const QString &name);

// ---- Article memory ------------------------------------------------------------

// The two counters live in four bytes at address 65h, bank 10h.
inline constexpr uint16_t kArticleCountersAddress = 0x65;
inline constexpr uint8_t kArticleCountersBank = 0x10;
inline constexpr uint8_t kArticleCountersLength = 4;

// FPGetMemoryData of the counters; `length` is the length after the call.
bool CallReadArticleCounters(std::array<uint8_t, 4> &bytes, uint8_t &length);
// Bytes 2-3: articles programmed beforehand; bytes 0-1: programmed by sales.
QString ArticleCountersText(const std::array<uint8_t, 4> &bytes);

// ---- Bulk programming -------------------------------------------------------------

inline constexpr int kBulkArticleCount = 10000;
// The caption of "Программирование товаров" holds the run state.
QString BulkIdleCaption();    // stopped
QString BulkRunningCaption(); // "Стоп!"
// Article n: three decimals in the quantity, price n kopecks, group А,
// name "Товар n", code n.
ArticleRequest BulkArticleRequest(int n);
QString BulkProgressText(int n); // "Товар n из 10000"
QString BulkInterruptedText(int lastWritten);
QString BulkDoneText(int lastWritten);

// ---- Stress test ----------------------------------------------------------------

// "Стресс-тест" works exactly while this code is typed.
bool IsStressAccessCode(const QString &text);

} // namespace krv::console
