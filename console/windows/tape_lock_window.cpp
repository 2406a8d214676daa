#include "tape_lock_window.h"

#include "widgets.h"

#include <QPushButton>

using krv::console::LayoutBuilder;

TForm7::TForm7(QWidget *parent) : QDialog(parent) {
    setObjectName("Form7");
    krv::console::SetFixedWindow(*this, "Блокировка", 240, 112);

    LayoutBuilder b(this);
    Button3 = b.button("Button3", "Продлить на 72 часа", {8, 8, 224, 25});
    Button1 = b.button("Button1", "Снять блокировку", {8, 38, 224, 25});
    Button2 = b.button("Button2", "Выход", {8, 78, 224, 25});
}
