#include "stress_test_window.h"

#include "widgets.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

using krv::console::LayoutBuilder;

TForm2::TForm2(QWidget *parent) : QDialog(parent) {
    setObjectName("Form2");
    krv::console::SetFixedWindow(*this, "Стресс-тест", 330, 262, true);

    LayoutBuilder b(this);
    b.label("Начать с товара под номером:", 8, 12);
    Edit1 = b.edit("Edit1", {220, 8, 100, 21}, 0);
    b.label("Количество позиций в чеке:", 8, 40);
    SpinEdit1 = b.spinEdit("SpinEdit1", {220, 36, 100, 21}, 1, 255, 1, 3);

    b.label("Время печати последнего чека, мс: ", 8, 72);
    Label4 = b.label("0", {250, 72, 70, 14}, "Label4");
    b.label("Максимальное время печати чека, мс:", 8, 92);
    Label5 = b.label("0", {250, 92, 70, 14}, "Label5");
    b.label("Общее время формирования \r\nи печати последнего чека, мс:", 8, 112);
    Label7 = b.label("0", {250, 125, 70, 14}, "Label7");
    b.label("Кол- во товаров в последнем чеке:", 8, 146);
    Label9 = b.label("0", {250, 146, 70, 14}, "Label9");
    Label11 = b.label("Для корректной работы стресс-теста\r\n  должны быть запрограммированы \r\n"
                      "           все налоговые ставки.",
                      8, 172, "Label11");

    Button1 = b.button("Button1", "Запустить", {8, 228, 100, 25});
    Button2 = b.button("Button2", "Остановить", {115, 228, 100, 25});
    Button3 = b.button("Button3", "Выход", {222, 228, 100, 25});
    // Nothing runs yet, so there is nothing to stop.
    Button2->setEnabled(false);
}
