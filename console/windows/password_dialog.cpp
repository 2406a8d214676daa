#include "password_dialog.h"

#include "access_modes.h"
#include "console_state.h"
#include "widgets.h"

#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

using namespace krv::console;

TForm3::TForm3(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form3"));
    SetFixedWindow(*this, QStringLiteral("Регистрация"), 265, 121);

    LayoutBuilder b(this);
    b.beginGroup("GroupBox1", QStringLiteral(" Введите сервисный пароль "), {8, 8, 249, 57});
    m_code = b.passwordEdit("Edit1", {16, 24, 217, 21}, 15);
    b.end();
    b.glyphButton("BitBtn1", QStringLiteral("OK"), {48, 80, 81, 27}, QStyle::SP_DialogOkButton)
        ->setDefault(true);
    b.glyphButton("BitBtn2", QStringLiteral("Отмена"), {136, 80, 81, 27},
                  QStyle::SP_DialogCancelButton);

    ConnectHandlersByName(*this, *this);
}

void TForm3::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TForm3::FormActivate() {
    m_code->clear();
    State().AccessMode = kCashierMode;
    m_code->setFocus();
}

void TForm3::BitBtn1Click() {
    State().AccessMode = AccessModeForCode(m_code->text());
    accept();
}

void TForm3::BitBtn2Click() {
    State().AccessMode = kCashierMode;
    reject();
}
