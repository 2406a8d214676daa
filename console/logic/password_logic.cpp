#include "password_logic.h"

#include "driver_binding.h"

#include <KRV_T100DRV.h>

#include <QStringList>

#include <optional>

namespace krv::console {

namespace {

const QString kNotANumberText = QStringLiteral("В качестве пароля может быть только число!");
const QString kOldRangeText =
    QStringLiteral("Старый пароль может принимать значения от 0 до 65535!");
const QString kNewRangeText =
    QStringLiteral("Новый пароль может принимать значения от 0 до 65535!");
const QString kEmptyPasswordText = QStringLiteral("Пароль кассира не может быть пустым");

constexpr int64_t kMaxPassword = 0xFFFF;

std::optional<int64_t> ParseNumber(const QString &text) {
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

bool InRange(int64_t value) {
    return value >= 0 && value <= kMaxPassword;
}

} // namespace

PasswordChangeBuild BuildPasswordChange(const PasswordChangeFields &fields) {
    PasswordChangeBuild build;
    std::optional<int64_t> oldValue = int64_t{0};
    if (!fields.oldPassword.isEmpty())
        oldValue = ParseNumber(fields.oldPassword);
    if (!oldValue) {
        build.error = kNotANumberText;
        return build;
    }
    if (fields.newPassword != fields.confirmation) {
        build.error =
            QStringLiteral("Значения в полях \"Новый пароль\" и \"Подтверждение\" не совпадают!");
        return build;
    }
    if (fields.newPassword.isEmpty()) {
        build.error = QStringLiteral(
            "Пустые значения в полях \"Новый пароль\" и \"Подтверждение\" не допустимы!");
        return build;
    }
    const std::optional<int64_t> newValue = ParseNumber(fields.newPassword);
    if (!newValue) {
        build.error = kNotANumberText;
        return build;
    }
    if (!InRange(*oldValue)) {
        build.error = kOldRangeText;
        return build;
    }
    if (!InRange(*newValue)) {
        build.error = kNewRangeText;
        return build;
    }
    build.oldPassword = static_cast<uint16_t>(*oldValue);
    build.newPassword = static_cast<uint16_t>(*newValue);
    build.ok = true;
    return build;
}

PasswordBuild BuildRegistrationPassword(const QString &text) {
    PasswordBuild build;
    if (text.isEmpty()) {
        build.error = kEmptyPasswordText;
        return build;
    }
    const std::optional<int64_t> value = ParseNumber(text);
    if (!value) {
        build.error = kNotANumberText;
        return build;
    }
    // The password the printer holds now: the range text of an existing
    // ("old") password.
    if (!InRange(*value)) {
        build.error = kOldRangeText;
        return build;
    }
    build.value = static_cast<uint16_t>(*value);
    build.ok = true;
    return build;
}

int PasswordNumberForChoice(int itemIndex) {
    return itemIndex == 0 ? kProgrammingPasswordNumber : kReportPasswordNumber;
}

bool CallSetPassword(uint16_t oldPassword, uint16_t newPassword, int number, const QString *name) {
    const std::string text = name ? ToDriverText(*name) : std::string();
    return DriverSucceeded(
        FPSetPassword(oldPassword, newPassword, IndexByte(number), name ? text.c_str() : nullptr));
}

bool CallSetCashier(int cashier, const QString &name, uint16_t password, bool byNumber) {
    return DriverSucceeded(
        FPSetCashier(IndexByte(cashier), ToDriverText(name).c_str(), password, byNumber ? -1 : 0));
}

bool QueryPasswords(std::array<uint16_t, kPasswordCount> &passwords) {
    std::array<uint16_t, kPasswordCount> values{};
    if (!DriverSucceeded(FPGetPasswords(values.data(), kPasswordCount - 1)))
        return false;
    passwords = values;
    return true;
}

QString StoredPasswordsText(const std::array<uint16_t, kPasswordCount> &passwords) {
    QStringList lines;
    for (size_t cashier = 0; cashier < 8; ++cashier)
        lines << QStringLiteral("Кассир%1 - пароль: %2").arg(cashier + 1).arg(passwords[cashier]);
    lines << QStringLiteral("  Пароль отчетов: ") +
                 QString::number(passwords[kReportPasswordNumber]);
    return lines.join(QStringLiteral("\r\n"));
}

} // namespace krv::console
