// The receipt-header window: the three header lines and two additional
// lines, each with its double-width and double-height attributes. It edits
// working attributes; "Установить" applies texts and attributes, and every
// opening starts again from the applied copy.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

class TForm6 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm6(QWidget *parent = nullptr);

    // Header lines 1-3 (Edit1-Edit3) and additional lines 1-2 (Edit4, Edit5),
    // each under a label (Label2-Label6) that shows its current limit.
    QLineEdit *Edit1, *Edit2, *Edit3, *Edit4, *Edit5;
    QLabel *Label2, *Label3, *Label4, *Label5, *Label6;
    QComboBox *ComboBox1 = nullptr; // the line whose attributes the check boxes show
    QCheckBox *CheckBox1 = nullptr; // "Двойная ширина"
    QCheckBox *CheckBox2 = nullptr; // "Двойная высота"
    QPushButton *Button1 = nullptr; // "Установить"
    QPushButton *Button2 = nullptr; // "Закрыть"

    // The edit of header line 0..4 and the label above it; null otherwise.
    QLineEdit *LineEdit(int line) const;
    QLabel *LineLabel(int line) const;

  public slots:
    void FormShow();
    void ComboBox1Change();
    void CheckBox1Click();
    void CheckBox2Click();
    void Button1Click(); // "Установить"
    void Button2Click(); // "Закрыть"

  protected:
    void showEvent(QShowEvent *event) override;

  private:
    // Every line's limit and label from its working double-width flag.
    void UpdateLimits();
};
