#include "tape_lock_window.h"

#include "console_state.h"
#include "driver_binding.h"
#include "driver_error_box.h"
#include "message_layer.h"
#include "tape_lock_logic.h"
#include "widgets.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QPushButton>

using krv::console::LayoutBuilder;

TForm7::TForm7(QWidget *parent) : QDialog(parent) {
    setObjectName("Form7");
    krv::console::SetFixedWindow(*this, "Блокировка", 240, 112);

    LayoutBuilder b(this);
    Button3 = b.button("Button3", "Продлить на 72 часа", {8, 8, 224, 25});
    Button1 = b.button("Button1", "Снять блокировку", {8, 38, 224, 25});
    Button2 = b.button("Button2", "Выход", {8, 78, 224, 25});
    krv::console::ConnectHandlersByName(*this, *this);
}

void TForm7::Button3Click() {
    krv::console::ExtendTapeLock(this);
}

void TForm7::Button1Click() {
    krv::console::RemoveTapeLock(this);
}

void TForm7::Button2Click() {
    close();
}

namespace krv::console {

namespace {

const QString kLockCaption = QStringLiteral("Блокировка");

} // namespace

void ShowApplicationError(QWidget *owner, const QString &text) {
    ShowMessage(owner, QCoreApplication::applicationName(), text, Icon::Error, Buttons::Ok);
}

void ExtendTapeLock(QWidget *owner) {
    const QDateTime now = QDateTime::currentDateTime();
    if (!CallSetLock(State().ReportPassword, now, true)) {
        ShowDriverError(owner);
        return;
    }
    std::vector<uint8_t> block;
    if (!CallReadMemory(kLockRecordAddress, kTapeMemoryBank, kLockRecordLength, block)) {
        ShowDriverError(owner);
        return;
    }
    const auto record = ParseLockRecord(block);
    if (!record) {
        ShowMessage(owner, kErrorBoxCaption, ReplyFormatErrorText(), Icon::Error, Buttons::Ok);
        return;
    }
    const LockMoment lock = DecodeBcdDateTime(*record, QDate::currentDate().year());
    if (!lock.error.isEmpty()) {
        ShowApplicationError(owner, lock.error);
        return;
    }
    ShowMessage(owner, kLockCaption, NextLockText(lock), Icon::Information, Buttons::Ok);
}

void RemoveTapeLock(QWidget *owner) {
    if (!CallSetLock(State().ReportPassword, QDateTime::currentDateTime(), false)) {
        ShowDriverError(owner);
        return;
    }
    ShowMessage(owner, kLockCaption, QStringLiteral("Блокировка КЛЭФ снята"), Icon::Information,
                Buttons::Ok);
}

} // namespace krv::console
