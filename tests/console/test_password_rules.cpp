// The password tab's checks without widgets, in the order the operator meets
// them, and the stored-password listing.
#include "password_logic.h"

#include <gtest/gtest.h>

using namespace krv::console;

namespace {

const QString kNumber = QStringLiteral("В качестве пароля может быть только число!");
const QString kMismatch =
    QStringLiteral("Значения в полях \"Новый пароль\" и \"Подтверждение\" не совпадают!");
const QString kEmpty =
    QStringLiteral("Пустые значения в полях \"Новый пароль\" и \"Подтверждение\" не допустимы!");
const QString kOldRange = QStringLiteral("Старый пароль может принимать значения от 0 до 65535!");
const QString kNewRange = QStringLiteral("Новый пароль может принимать значения от 0 до 65535!");
const QString kCashierEmpty = QStringLiteral("Пароль кассира не может быть пустым");

TEST(PasswordRules, ChangeChecksInOrder) {
    struct Case {
        const char *oldText, *newText, *confirm;
        QString error;
        uint16_t oldValue, newValue;
    } cases[] = {
        {"", "65535", "65535", {}, 0, 65535}, // an empty old password is 0
        {"12", "0", "0", {}, 12, 0},
        {"x", "1", "2", kNumber, 0, 0},    // the old password is looked at first
        {"1", "5", " 5", kMismatch, 0, 0}, // the texts are compared, not the numbers
        {"1", "", "", kEmpty, 0, 0},
        {"1", "5a", "5a", kNumber, 0, 0},
        {"70000", "70000", "70000", kOldRange, 0, 0}, // old before new
        {"-1", "1", "1", kOldRange, 0, 0},
        {"1", "65536", "65536", kNewRange, 0, 0},
        {"1", "-1", "-1", kNewRange, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.oldText) + " / " + c.newText + " / " + c.confirm);
        const PasswordChangeBuild b = BuildPasswordChange(
            PasswordChangeFields{QString::fromUtf8(c.oldText), QString::fromUtf8(c.newText),
                                 QString::fromUtf8(c.confirm)});
        EXPECT_EQ(b.ok, c.error.isEmpty());
        EXPECT_EQ(b.error, c.error);
        EXPECT_EQ(b.oldPassword, c.oldValue);
        EXPECT_EQ(b.newPassword, c.newValue);
    }
}

TEST(PasswordRules, RegistrationPasswordIsCheckedNotCut) {
    struct Case {
        const char *text;
        QString error;
        uint16_t value;
    } cases[] = {
        {"0", {}, 0},        {"65535", {}, 65535},    {"", kCashierEmpty, 0},
        {"abc", kNumber, 0}, {"70000", kOldRange, 0}, {"-5", kOldRange, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const PasswordBuild b = BuildRegistrationPassword(QString::fromUtf8(c.text));
        EXPECT_EQ(b.ok, c.error.isEmpty());
        EXPECT_EQ(b.error, c.error);
        EXPECT_EQ(b.value, c.value);
    }
}

TEST(PasswordRules, ListingLeavesOutTheProgrammingPassword) {
    const std::array<uint16_t, kPasswordCount> stored{1, 2, 3, 4, 5, 6, 7, 65535, 4242, 9};
    EXPECT_EQ(StoredPasswordsText(stored),
              QStringLiteral("Кассир1 - пароль: 1\r\nКассир2 - пароль: 2\r\nКассир3 - пароль: "
                             "3\r\nКассир4 - пароль: 4\r\nКассир5 - пароль: 5\r\nКассир6 - "
                             "пароль: 6\r\nКассир7 - пароль: 7\r\nКассир8 - пароль: 65535\r\n  "
                             "Пароль отчетов: 9"));
    EXPECT_EQ(PasswordNumberForChoice(0), 8);
    EXPECT_EQ(PasswordNumberForChoice(1), 9);
}

} // namespace
