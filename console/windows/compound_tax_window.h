// The compound-tax window: for each tax group whether it works as VAT plus
// a levy, the two rates and whether tax is charged on the levy. It edits the
// working copy of the scheme; "Применить" makes it the applied copy that the
// grid and the tax write use, "Отмена" throws the edits away.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

class TForm4 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm4(QWidget *parent = nullptr);

    QLabel *Image1 = nullptr;       // a tax sheet with a percent sign
    QLabel *Image2 = nullptr;       // a stack of coins: the levy
    QComboBox *ComboBox1 = nullptr; // tax group А..Е
    QCheckBox *CheckBox1 = nullptr; // "Использовать схему составного налога"
    QLineEdit *MaskEdit1 = nullptr; // VAT rate, "20,00%"
    QLineEdit *MaskEdit2 = nullptr; // levy rate, " 5,00%"
    QCheckBox *CheckBox2 = nullptr; // "Налог на сбор"
    QPushButton *BitBtn1 = nullptr; // "Применить", closes with Accepted
    QPushButton *BitBtn2 = nullptr; // "Отмена", closes with Rejected

  public slots:
    void FormCreate();
    void FormShow();
    void ComboBox1Change();
    void ComboBox1Enter();
    void MaskEdit1Change(); // VAT
    void MaskEdit2Change(); // levy
    void CheckBox1Click();
    void CheckBox2Click();
    void BitBtn1Click(); // "Применить"
    void BitBtn2Click(); // "Отмена"
    void FormClose();

  protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    // Index 0..5 of the group the list shows; -1 when none.
    int ChosenGroup() const;
    void LoadGroup(int group);
    void RateEditChanged(QLineEdit *edit, bool vat);

    // The group whose values the controls hold (-1 while none is loaded).
    int m_shownGroup = -1;
    bool m_settingRate = false;
};
