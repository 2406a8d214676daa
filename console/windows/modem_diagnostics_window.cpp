#include "modem_diagnostics_window.h"

#include "widgets.h"

#include <QPalette>
#include <QPushButton>
#include <QTextEdit>

using krv::console::LayoutBuilder;

TForm8::TForm8(QWidget *parent) : QDialog(parent) {
    setObjectName("Form8");
    krv::console::SetFixedWindow(*this, "Диагностика модема KRV-L5 Vertal", 456, 526);

    LayoutBuilder b(this);
    RichEdit1 = b.richEdit("RichEdit1", {0, 0, 456, 440});
    RichEdit1->setReadOnly(true);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette face = RichEdit1->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    RichEdit1->setPalette(face);

    Button2 = b.button("Button2", "Опросить модем", {8, 448, 105, 25});
    Button3 = b.button("Button3", "Подробно", {118, 448, 105, 25});
    Button4 = b.button("Button4", "Сохранить", {228, 448, 105, 25});
    Button5 = b.button("Button5", "Распечатать", {338, 448, 110, 25});
    Button1 = b.button("Button1", "Выход", {8, 484, 440, 30});
    // Nothing to save or print before the modem has answered.
    Button4->setEnabled(false);
    Button5->setEnabled(false);
}
