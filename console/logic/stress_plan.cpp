#include "stress_plan.h"

#include "driver_binding.h"
#include "file_open.h"
#include "receipt_logic.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace krv::console {

namespace {

constexpr int kTaxGroups = 6;

} // namespace

QString StressArticleName(int64_t code) {
    return QStringLiteral("Товар ") + QString::number(code) + QString(39, QLatin1Char('#'));
}

StressReceipt PlanStressReceipt(int64_t firstCode, int positions) {
    StressReceipt receipt;
    int64_t code = firstCode;
    for (int k = 1; k <= positions; ++k) {
        StressSale sale;
        sale.price = k * 100;
        sale.taxGroup = static_cast<uint8_t>((k - 1) % kTaxGroups);
        sale.name = ToDriverText(StressArticleName(code));
        sale.code = code;
        receipt.sales.push_back(std::move(sale));
        receipt.total += int64_t{k} * 100;
        // Codes keep counting across the receipts of a run; a code at the
        // top of the range wraps as the 64-bit counter would.
        code = static_cast<int64_t>(static_cast<uint64_t>(code) + 1);
    }
    return receipt;
}

StartCodeParse ParseStressStartCode(const QString &text) {
    StartCodeParse parse;
    if (text.isEmpty()) {
        parse.ok = true;
        return parse;
    }
    const ArticleCodeParse code = ParseArticleCodeText(text);
    if (!code.ok) {
        parse.error = code.error;
        return parse;
    }
    parse.ok = true;
    parse.code = code.value;
    return parse;
}

bool StressPositionsValid(int positions) {
    return positions >= kMinStressPositions && positions <= kMaxStressPositions;
}

QString StressPositionsErrorText() {
    return QStringLiteral("Количество позиций в чеке\r\nвыходит за пределы допустимых значений!");
}

QString StressLogErrorText() {
    return QStringLiteral("Программе не удается создать файл отчета!\r\nДанная функция "
                          "поддерживается только в Windows 2000 и XP!");
}

QString StressMaxText(const QString &labelText, int64_t lastPrintMs) {
    bool ok = false;
    const qlonglong shown = labelText.toLongLong(&ok);
    if (labelText.isEmpty() || !ok || shown < lastPrintMs)
        return QString::number(lastPrintMs);
    return labelText;
}

QString StressLogLine(int receiptNumber, int64_t lastPrintMs, int64_t totalMs,
                      const QString &maxText) {
    return QStringLiteral("Чек №%1   Время печати чека: %2мс  Время формирования и печати: "
                          "%3мс  MAX t печати: %4мс")
        .arg(receiptNumber)
        .arg(lastPrintMs)
        .arg(totalMs)
        .arg(maxText);
}

namespace {

// Opens the log for writing with `flags` added. Only a regular file: a pipe
// without a reader in its place would block the window for good.
bool OpenStressLog(QFile &file, const QString &path, int flags, QIODevice::OpenMode mode) {
    platform::OpenedFile opened = platform::OpenRegularFile(QFile::encodeName(path).toStdString(),
                                                            O_WRONLY | O_CREAT | flags);
    if (!opened)
        return false;
    const int fd = opened.fd.release();
    if (file.open(fd, QIODevice::WriteOnly | mode, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
}

} // namespace

bool ResetStressLog(const QString &path) {
    QFile file;
    return OpenStressLog(file, path, O_TRUNC, QIODevice::Truncate);
}

bool AppendStressLog(const QString &path, const QString &line) {
    QFile file;
    if (!OpenStressLog(file, path, O_APPEND, QIODevice::Append))
        return false;
    const std::string bytes = ToDriverText(line) + "\r\n";
    return file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
           static_cast<qint64>(bytes.size());
}

} // namespace krv::console
