// The main window's buttons of the electronic control tape: its status with
// the tape's area, packet counter, personalization and lock date read from
// printer memory ("Чтение статуса КЛЭФ"), and the removal of the lock
// ("Снять блокировку КЛЭФ").
#include "main_window.h"

#include "driver_binding.h"
#include "driver_error_box.h"
#include "message_layer.h"
#include "tape_lock_logic.h"
#include "tape_lock_window.h"

#include <QDate>

using namespace krv::console;

void TForm1::Button54Click() {
    TapeStatus status;
    if (!CallGetTapeStatus(status)) {
        ShowDriverError(this);
        return;
    }
    std::vector<uint8_t> block;
    if (!CallReadMemory(kTapeDescriptorAddress, kTapeMemoryBank, kTapeDescriptorLength, block)) {
        ShowDriverError(this);
        return;
    }
    const auto descriptor = ParseTapeDescriptor(block);
    if (!descriptor) {
        ShowMessage(this, kErrorBoxCaption, ReplyFormatErrorText(), Icon::Error, Buttons::Ok);
        return;
    }
    const LockMoment lock = DecodeBcdDateTime(descriptor->lock, QDate::currentDate().year());
    if (!lock.error.isEmpty()) {
        ShowApplicationError(this, lock.error);
        return;
    }
    ShowMessage(this, QStringLiteral("Статус КЛЭФ"), MainTapeStatusText(status, *descriptor, lock),
                Icon::Information, Buttons::Ok);
}

void TForm1::Button47Click() {
    RemoveTapeLock(this);
}
