#include "compound_tax_window.h"

#include "widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

using krv::console::LayoutBuilder;

namespace {

// An optional digit, a digit, a fixed comma, two digits and a fixed "%".
constexpr const char *kRateMask = "09,99%";

} // namespace

TForm4::TForm4(QWidget *parent) : QDialog(parent) {
    setObjectName("Form4");
    krv::console::SetFixedWindow(*this, "Настройка схемы составного налога", 340, 232);

    LayoutBuilder b(this);
    b.label("Укажите из каких групп нужно взять значения \r\n    налоговых ставкок для работы по "
            "схеме \r\n                   с составным налогом.",
            8, 8);
    b.label("Составной \r\n    налог", 8, 58);
    ComboBox1 = b.comboBox("ComboBox1", {80, 62, 60, 21}, {"А", "Б", "В", "Г", "Д", "Е"}, 2);
    QPalette green = ComboBox1->palette();
    green.setColor(QPalette::Base, QColor::fromRgb(krv::console::kMoneyGreenRgb));
    green.setColor(QPalette::Button, QColor::fromRgb(krv::console::kMoneyGreenRgb));
    ComboBox1->setPalette(green);

    CheckBox1 = b.checkBox("CheckBox1", "Использовать схему составного налога", {8, 96, 320, 17});

    // "без" lies under the VAT edit: with the edit hidden the line reads "без НДС".
    b.label("без", 34, 126);
    MaskEdit1 = b.edit("MaskEdit1", {8, 122, 56, 21}, 0);
    MaskEdit1->setInputMask(kRateMask);
    MaskEdit1->setText("20,00%");
    b.label("НДС", 70, 126);
    MaskEdit2 = b.edit("MaskEdit2", {130, 122, 56, 21}, 0);
    MaskEdit2->setInputMask(kRateMask);
    MaskEdit2->setText(" 5,00%");
    b.label("Сбор в ПФ", 192, 126);

    CheckBox2 = b.checkBox("CheckBox2", "Налог на сбор", {8, 156, 320, 17});

    BitBtn1 =
        b.glyphButton("BitBtn1", "Применить", {60, 192, 100, 27}, QStyle::SP_DialogApplyButton);
    BitBtn2 =
        b.glyphButton("BitBtn2", "Отмена", {176, 192, 100, 27}, QStyle::SP_DialogCancelButton);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}
