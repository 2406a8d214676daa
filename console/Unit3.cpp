#include "Unit3.h"

#include "AccessModes.h"
#include "ConsoleState.h"
#include "Unit1.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>

using namespace krv::console;

TForm3::TForm3(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Регистрация"));
    setFixedSize(265, 121);

    auto *group = new QGroupBox(QStringLiteral(" Введите сервисный пароль "), this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    group->setGeometry(8, 8, 249, 57);
    m_code = new QLineEdit(group);
    m_code->setObjectName(QStringLiteral("Edit1"));
    m_code->setGeometry(16, 24, 217, 21);
    m_code->setMaxLength(15);
    m_code->setEchoMode(QLineEdit::Password);
    // Every typed character shows as '*', whatever the style's own mask.
    m_code->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));

    auto *ok = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                               QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("BitBtn1"));
    ok->setGeometry(48, 80, 81, 27);
    ok->setDefault(true);
    auto *cancel = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                                   QStringLiteral("Отмена"), this);
    cancel->setObjectName(QStringLiteral("BitBtn2"));
    cancel->setGeometry(136, 80, 81, 27);

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
