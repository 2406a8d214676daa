// The compound-tax window: for each tax group whether it works as VAT plus
// a levy, the two rates and whether tax is charged on the levy.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

class TForm4 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm4(QWidget *parent = nullptr);

    QComboBox *ComboBox1; // tax group А..Е
    QCheckBox *CheckBox1; // "Использовать схему составного налога"
    QLineEdit *MaskEdit1; // VAT rate, "20,00%"
    QLineEdit *MaskEdit2; // levy rate, " 5,00%"
    QCheckBox *CheckBox2; // "Налог на сбор"
    QPushButton *BitBtn1; // "Применить", closes with Accepted
    QPushButton *BitBtn2; // "Отмена", closes with Rejected
};
