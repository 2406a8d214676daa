// The tab "Пароли" of the main window: password changes for the cashiers and
// for the programming and report passwords, cashier registration, the
// programming or report password the console keeps for later commands, and
// the listing of the stored passwords.
//
// No input error sends anything to the printer or changes a kept password.
#include "main_window.h"

#include "console_state.h"
#include "driver_error_box.h"
#include "message_layer.h"
#include "password_logic.h"
#include "widgets.h"

#include <QCheckBox>

using namespace krv::console;

namespace {

int ChoiceOf(const TForm1 &form, const char *name) {
    const auto *group = form.Control<RadioGroup>(QString::fromLatin1(name));
    return group ? group->itemIndex() : -1;
}

} // namespace

void TForm1::ChangePassword(const char *oldField, const char *newField, const char *confirmField,
                            int number, const QString *name) {
    const PasswordChangeBuild build = BuildPasswordChange(
        PasswordChangeFields{FieldText(oldField), FieldText(newField), FieldText(confirmField)});
    if (!build.ok) {
        ShowInputError(build.error);
        return;
    }
    if (!CallSetPassword(build.oldPassword, build.newPassword, number, name)) {
        ShowDriverError(this);
        return;
    }
    ShowMessage(this, QStringLiteral("Установка пароля"),
                QStringLiteral("Пароль успешно установлен!"), Icon::Information, Buttons::Ok);
}

void TForm1::Button6Click() {
    const QString name = FieldText("Edit21");
    ChangePassword("Edit1", "Edit2", "Edit3", ItemIndex("ComboBox1"), &name);
}

void TForm1::Button46Click() {
    ChangePassword("Edit34", "Edit35", "Edit36",
                   PasswordNumberForChoice(ChoiceOf(*this, "RadioGroup1")), nullptr);
}

void TForm1::SetCashier(bool signOn) {
    const PasswordBuild password = BuildRegistrationPassword(FieldText("Edit4"));
    if (!password.ok) {
        ShowInputError(password.error);
        return;
    }
    // Signing off sends an empty name and never asks for the programmed one.
    const bool ok = signOn
                        ? CallSetCashier(ItemIndex("ComboBox2"), FieldText("Edit5"), password.value,
                                         Checked("CheckBox3"))
                        : CallSetCashier(ItemIndex("ComboBox2"), QString(), password.value, false);
    if (!ok) {
        ShowDriverError(this);
        return;
    }
    if (signOn)
        ShowMessage(this, QStringLiteral("Регистрация"),
                    QStringLiteral("Кассир зарегистрирован успешно!"), Icon::Information,
                    Buttons::Ok);
    else
        ShowMessage(this, QStringLiteral("Разрегистрация"),
                    QStringLiteral("Кассир разрегистрирован успешно!"), Icon::Information,
                    Buttons::Ok);
}

void TForm1::Button7Click() {
    SetCashier(true);
}

void TForm1::Button8Click() {
    SetCashier(false);
}

void TForm1::Button43Click() {
    const PasswordBuild password = BuildRegistrationPassword(FieldText("Edit22"));
    if (!password.ok) {
        ShowInputError(password.error);
        return;
    }
    // Kept only: the printer sees it with the next programming or report
    // command.
    if (PasswordNumberForChoice(ChoiceOf(*this, "RadioGroup4")) == kProgrammingPasswordNumber)
        State().ProgrammingPassword = password.value;
    else
        State().ReportPassword = password.value;
}

void TForm1::CheckBox3Click() {
    const auto *byNumber = Control<QCheckBox>(QStringLiteral("CheckBox3"));
    // While the box is out of reach (no link) the access-mode plan owns the
    // name field.
    if (!byNumber || !ModeEnables(QStringLiteral("CheckBox3")))
        return;
    if (QWidget *name = Control(QStringLiteral("Edit5")))
        name->setEnabled(!byNumber->isChecked());
}

void TForm1::BitBtn18Click() {
    std::array<uint16_t, kPasswordCount> passwords{};
    if (!QueryPasswords(passwords)) {
        ShowDriverError(this);
        return;
    }
    ShowMessage(this, QStringLiteral("Информация о паролях!"), StoredPasswordsText(passwords),
                Icon::Information, Buttons::Ok);
}
