// The stress-test window: prints receipts in a loop and shows how long each
// one took.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TForm2 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm2(QWidget *parent = nullptr);

    QLineEdit *Edit1;     // first article code of a run
    QSpinBox *SpinEdit1;  // positions per receipt
    QLabel *Label4;       // printing time of the last receipt, ms
    QLabel *Label5;       // largest printing time seen, ms
    QLabel *Label7;       // time of the whole last receipt, ms
    QLabel *Label9;       // positions of the last receipt
    QLabel *Label11;      // the note on tax rates
    QPushButton *Button1; // "Запустить"
    QPushButton *Button2; // "Остановить"
    QPushButton *Button3; // "Выход"
};
