// The tab "Пароли" without its widgets: the checks of typed passwords, the
// driver calls that change passwords and register cashiers, and the text of
// the stored-password listing.
//
// Passwords are 16-bit numbers in the printer. Every password the operator
// types is checked against 0..65535 before it is sent or kept: a larger one
// would otherwise reach the printer cut to its low 16 bits, a password
// nobody typed.
#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace krv::console {

// Places in the printer's password table beside the cashiers 0..7.
inline constexpr int kProgrammingPasswordNumber = 8;
inline constexpr int kReportPasswordNumber = 9;
inline constexpr int kPasswordCount = 10;

// The three fields of a password change, as typed.
struct PasswordChangeFields {
    QString oldPassword;
    QString newPassword;
    QString confirmation;
};

struct PasswordChangeBuild {
    bool ok = false;
    uint16_t oldPassword = 0; // 0 when the old-password field is empty
    uint16_t newPassword = 0;
    QString error; // caption "Ошибка!"
};

// The checks in the order the operator meets them: the old password is a
// number, new and confirmation agree and are not empty, the new password is
// a number, both lie in 0..65535.
PasswordChangeBuild BuildPasswordChange(const PasswordChangeFields &fields);

struct PasswordBuild {
    bool ok = false;
    uint16_t value = 0;
    QString error;
};

// The password of a cashier registration and the programming or report
// password the console keeps: not empty, a number, 0..65535.
PasswordBuild BuildRegistrationPassword(const QString &text);

// The programming/report choice of a radio group: item 0 the programming
// password (8), any other the report password (9).
int PasswordNumberForChoice(int itemIndex);

// FPSetPassword; `name` only for cashiers (null: none).
bool CallSetPassword(uint16_t oldPassword, uint16_t newPassword, int number, const QString *name);
// FPSetCashier; an empty name with byNumber off signs the cashier off.
bool CallSetCashier(int cashier, const QString &name, uint16_t password, bool byNumber);
// FPGetPasswords: the ten stored passwords.
bool QueryPasswords(std::array<uint16_t, kPasswordCount> &passwords);

// "Кассир1 - пароль: …" for the eight cashiers, then the report password;
// the programming password is never shown.
QString StoredPasswordsText(const std::array<uint16_t, kPasswordCount> &passwords);

} // namespace krv::console
