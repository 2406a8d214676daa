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

    QComboBox *ComboBox1; // tax group А..Е
    QCheckBox *CheckBox1; // "Использовать схему составного налога"
    QLineEdit *MaskEdit1; // VAT rate, "20,00%"
    QLineEdit *MaskEdit2; // levy rate, " 5,00%"
    QCheckBox *CheckBox2; // "Налог на сбор"
    QPushButton *BitBtn1; // "Применить", closes with Accepted
    QPushButton *BitBtn2; // "Отмена", closes with Rejected

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
