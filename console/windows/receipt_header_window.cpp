#include "receipt_header_window.h"

#include "widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using krv::console::LayoutBuilder;

TForm6::TForm6(QWidget *parent) : QDialog(parent) {
    setObjectName("Form6");
    krv::console::SetFixedWindow(*this, "Заголовок чека", 320, 330);

    LayoutBuilder b(this);
    b.beginGroup("GroupHeaderLines", " Заголовок чека: ", {8, 8, 304, 280});
    b.label("Пароль программирования", 8, 16);
    const struct {
        QLabel **label;
        const char *labelName;
        const char *caption;
        QLineEdit **edit;
        const char *editName;
        int maxLength;
    } lines[] = {
        {&Label2, "Label2", "Строка №1 (0..30 символов)", &Edit1, "Edit1", 30},
        {&Label3, "Label3", "Строка №2 (0..30 символов)", &Edit2, "Edit2", 30},
        {&Label4, "Label4", "Строка №3 (0..30 символов)", &Edit3, "Edit3", 30},
        {&Label5, "Label5", "Дополнительная строка №1 (0..36 символов)", &Edit4, "Edit4", 36},
        {&Label6, "Label6", "Дополнительная строка №2 (0..36 символов)", &Edit5, "Edit5", 36},
    };
    int y = 34;
    for (const auto &line : lines) {
        *line.label = b.label(QString::fromUtf8(line.caption), {8, y, 288, 14}, line.labelName);
        *line.edit = b.edit(line.editName, {8, y + 14, 288, 21}, line.maxLength);
        y += 40;
    }
    b.label("Строка:", 8, 242);
    ComboBox1 = b.comboBox("ComboBox1", {52, 238, 70, 21}, {"1", "2", "3", "доп.1", "доп.2"}, 0);
    CheckBox1 = b.checkBox("CheckBox1", "Двойная ширина", {134, 234, 160, 17});
    CheckBox2 = b.checkBox("CheckBox2", "Двойная высота", {134, 254, 160, 17});
    b.end();

    Button1 = b.button("Button1", "Установить", {60, 296, 96, 25});
    Button2 = b.button("Button2", "Закрыть", {164, 296, 96, 25});
}
