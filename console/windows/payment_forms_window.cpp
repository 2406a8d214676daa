#include "payment_forms_window.h"

#include "console_state.h"
#include "console_windows.h"
#include "driver_binding.h"
#include "driver_error_box.h"
#include "message_layer.h"
#include "receipt_logic.h"
#include "widgets.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

using krv::console::LayoutBuilder;

TForm5::TForm5(QWidget *parent) : QDialog(parent) {
    setObjectName("Form5");
    krv::console::SetFixedWindow(*this, "Формы оплат", 260, 330);

    LayoutBuilder b(this);
    b.beginGroup("GroupPaymentNames", " Названия форм оплат: ", {8, 8, 244, 278});
    QLineEdit **edits[] = {&Edit1, &Edit2, &Edit3, &Edit4, &Edit5,
                           &Edit6, &Edit7, &Edit8, &Edit9, &Edit10};
    for (int i = 0; i < 10; ++i) {
        const int y = 20 + i * 25;
        b.label(QStringLiteral("%1.").arg(i + 1), 10, y + 4);
        const QByteArray name = "Edit" + QByteArray::number(i + 1);
        *edits[i] = b.edit(name.constData(), {34, y, 200, 21}, 15);
    }
    b.end();
    // Cash is fixed in the printer; its name is shown, never written.
    Edit4->setText("ГОТІВКОЮ");
    Edit4->setEnabled(false);

    Button1 = b.button("Button1", "Прочитать", {8, 296, 78, 25});
    Button2 = b.button("Button2", "Записать", {91, 296, 78, 25});
    Button3 = b.button("Button3", "Выход", {174, 296, 78, 25});
    krv::console::ConnectHandlersByName(*this, *this);
}

QLineEdit *TForm5::NameEdit(int form) const {
    const std::array<QLineEdit *, 10> edits = {Edit1, Edit2, Edit3, Edit4, Edit5,
                                               Edit6, Edit7, Edit8, Edit9, Edit10};
    return form >= 0 && form < 10 ? edits[static_cast<size_t>(form)] : nullptr;
}

namespace {

// The payment-form list of the main window's tab "Операции".
QComboBox *PaymentFormList() {
    QWidget *mainWindow = krv::console::Windows().Form1;
    return mainWindow ? mainWindow->findChild<QComboBox *>(QStringLiteral("ComboBox4")) : nullptr;
}

void SelectCash(QComboBox *list) {
    if (list)
        list->setCurrentIndex(krv::console::kCashPaymentForm);
}

} // namespace

void TForm5::Button1Click() {
    using namespace krv::console;
    QComboBox *list = PaymentFormList();
    for (int form = 0; form < kPaymentFormCount; ++form) {
        QString name;
        if (!ReadPaymentFormName(form, name)) {
            // The names read so far stay; the list falls back to cash.
            SelectCash(list);
            ShowDriverError(this);
            return;
        }
        if (QLineEdit *edit = NameEdit(form))
            edit->setText(name);
        if (list && form < list->count())
            list->setItemText(form, name);
    }
    SelectCash(list);
}

void TForm5::Button2Click() {
    using namespace krv::console;
    const uint16_t password = State().ProgrammingPassword;
    for (int form : kWritablePaymentForms) {
        const QLineEdit *edit = NameEdit(form);
        const QString name = PaymentFormNameToWrite(edit ? edit->text() : QString());
        if (!WritePaymentFormName(password, form, name)) {
            ShowDriverError(this);
            return;
        }
    }
    ShowMessage(this, QStringLiteral("Формы оплат"),
                QStringLiteral("Новые значения безналичных форм оплат успешно записаны"),
                Icon::Information, Buttons::Ok);
}

void TForm5::Button3Click() {
    close();
}
