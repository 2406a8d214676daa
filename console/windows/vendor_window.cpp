#include "vendor_window.h"

#include "console_state.h"
#include "driver_binding.h"
#include "driver_error_box.h"
#include "message_layer.h"
#include "tape_lock_logic.h"
#include "tape_lock_window.h"
#include "text_forms.h"
#include "widgets.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace krv::console;

namespace {

// The password a group's command takes, shown in bold above its fields.
void PasswordNote(LayoutBuilder &b, const QString &text) {
    QLabel *label = b.label(text, 8, 16);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    label->adjustSize();
}

} // namespace

TForm9::TForm9(QWidget *parent) : QDialog(parent) {
    setObjectName("Form9");
    krv::console::SetFixedWindow(*this, "for vendor only!", 352, 569);

    LayoutBuilder b(this);
    b.beginGroup("GroupPersonalization", " Персонализация: ", {8, 8, 336, 130});
    PasswordNote(b, "Пароль программирования");
    b.label("Строка персонализации:", 8, 36);
    PersonalizText = b.edit("PersonalizText", {8, 50, 320, 21}, 180);
    CheckBox1 = b.checkBox("CheckBox1", "Флаг персонализации", {8, 78, 320, 17});
    Button2 = b.button("Button2", "Персонализация", {8, 98, 320, 25});
    b.end();

    b.beginGroup("GroupPacketNumber",
                 " Установка сквозного номера пакетов данных: ", {8, 142, 336, 96});
    PasswordNote(b, "Пароль программирования");
    b.label("Номер пакета:", 8, 40);
    Edit1 = b.edit("Edit1", {170, 36, 100, 21}, 9, "0");
    Button3 = b.button("Button3", "Установить номер пакета", {8, 64, 320, 25});
    b.end();

    b.beginGroup("GroupClearTape", " Очистка записей данных КЛЭФ: ", {8, 242, 336, 96});
    PasswordNote(b, "Пароль отчётов");
    b.label("Номер последнего пакета:", 8, 40);
    Edit2 = b.edit("Edit2", {170, 36, 100, 21}, 9, "0");
    Button5 = b.button("Button5", "Очистить данные в КЛЭФ", {8, 64, 320, 25});
    b.end();

    b.beginGroup("GroupAcknowledge",
                 " Подтверждение передачи записей данных КЛЭФ: ", {8, 342, 336, 110});
    PasswordNote(b, "Пароль отчётов");
    b.label("Первый  пакет:", 8, 34);
    b.label("Последний пакет:", 188, 34);
    Edit3 = b.edit("Edit3", {8, 50, 140, 21}, 9, "0");
    QLabel *dash = b.label("-", {156, 42, 24, 30});
    QFont large = dash->font();
    large.setBold(true);
    large.setPointSize(16);
    dash->setFont(large);
    dash->setAlignment(Qt::AlignCenter);
    Edit4 = b.edit("Edit4", {188, 50, 140, 21}, 9, "0");
    Button4 = b.button("Button4", "Подтвердить передачу данных", {8, 78, 320, 25});
    b.end();

    b.beginGroup("GroupLocks", " Блокировки: ", {8, 456, 336, 56});
    Button7 = b.button("Button7", "Продлить на 72 часа", {8, 20, 156, 25});
    Button8 = b.button("Button8", "Снять блокировку", {172, 20, 156, 25});
    b.end();

    Button1 = b.button("Button1", "Статус КЛЭФ", {8, 528, 160, 25});
    Button6 = b.button("Button6", "Закрыть", {184, 528, 160, 25});
    ConnectHandlersByName(*this, *this);
}

void TForm9::CheckDigits(QLineEdit *edit, int number) {
    if (FirstNonDigit(edit->text()) < 0)
        return;
    ShowMessage(this, kErrorBoxCaption, DigitErrorText(number), Icon::Error, Buttons::Ok);
    edit->setText(QStringLiteral("0"));
}

void TForm9::Edit1Change() {
    CheckDigits(Edit1, 1);
}
void TForm9::Edit2Change() {
    CheckDigits(Edit2, 2);
}
void TForm9::Edit3Change() {
    CheckDigits(Edit3, 3);
}
void TForm9::Edit4Change() {
    CheckDigits(Edit4, 4);
}

std::optional<int32_t> TForm9::Number(const QLineEdit *edit) {
    const auto number = PacketNumber(edit->text());
    if (!number)
        ShowApplicationError(this, NotAnIntegerText(edit->text()));
    return number;
}

void TForm9::Button1Click() {
    TapeStatus status;
    if (!CallGetTapeStatus(status)) {
        ShowDriverError(this);
        return;
    }
    ShowMessage(this, QStringLiteral("Статус КЛЭФ"), VendorTapeStatusText(status),
                Icon::Information, Buttons::Ok);
}

void TForm9::Button2Click() {
    const bool flag = CheckBox1->isChecked();
    if (!CallPersonalize(State().ProgrammingPassword, flag, PersonalizText->text())) {
        ShowDriverError(this);
        return;
    }
    const QString caption = QStringLiteral("Персонализация");
    if (flag)
        ShowMessage(this, caption, QStringLiteral("Персонализация успешно завершена!"),
                    Icon::Information, Buttons::Ok);
    else
        ShowMessage(this, caption, QStringLiteral("Cостояние персонализации ЭККР не изменено!"),
                    Icon::Warning, Buttons::Ok);
}

void TForm9::Button3Click() {
    const auto number = Number(Edit1);
    if (!number)
        return;
    if (!CallSetPacketNumber(State().ProgrammingPassword, *number)) {
        ShowDriverError(this);
        return;
    }
    ShowMessage(this, QStringLiteral("Пакеты данных"),
                QStringLiteral("Сквозной номер пакета данных успешно установлен!"),
                Icon::Information, Buttons::Ok);
}

void TForm9::Button5Click() {
    const auto last = Number(Edit2);
    if (!last)
        return;
    if (!CallClearTape(State().ReportPassword, *last)) {
        ShowDriverError(this);
        return;
    }
    ShowMessage(this, QStringLiteral("Очистка данных КЛЭФ"),
                QStringLiteral("Очистка записей данных КЛЭФ успешно закончена!"), Icon::Information,
                Buttons::Ok);
}

void TForm9::Button4Click() {
    const QDateTime now = QDateTime::currentDateTime();
    const auto last = Number(Edit4);
    if (!last)
        return;
    const auto first = Number(Edit3);
    if (!first)
        return;
    if (!CallAcknowledgeTape(State().ReportPassword, *first, *last, now)) {
        ShowDriverError(this);
        return;
    }
    ShowMessage(this, QStringLiteral("Подтверждение передачи данных КЛЭФ"),
                QStringLiteral("Подтверждение передачи данных КЛЭФ успешно завершено!"),
                Icon::Information, Buttons::Ok);
}

void TForm9::Button7Click() {
    ExtendTapeLock(this);
}

void TForm9::Button8Click() {
    RemoveTapeLock(this);
}

void TForm9::Button6Click() {
    close();
}
