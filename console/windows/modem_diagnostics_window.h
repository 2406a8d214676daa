// The modem diagnostics window: the KRV-L5 modem's state as its own text or
// as a detailed listing, saved to a file or printed on the receipt tape.
#pragma once

#include <QDialog>

class QPushButton;
class QTextEdit;

class TForm8 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm8(QWidget *parent = nullptr);

    QTextEdit *RichEdit1; // read-only view of the modem's state
    QPushButton *Button2; // "Опросить модем"
    QPushButton *Button3; // "Подробно"
    QPushButton *Button4; // "Сохранить"
    QPushButton *Button5; // "Распечатать"
    QPushButton *Button1; // "Выход"
};
