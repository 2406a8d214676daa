// The lock window: pushes the electronic control tape's lock 72 hours
// further or removes it.
#pragma once

#include <QDialog>

class QPushButton;

class TForm7 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm7(QWidget *parent = nullptr);

    QPushButton *Button3; // "Продлить на 72 часа"
    QPushButton *Button1; // "Снять блокировку"
    QPushButton *Button2; // "Выход"
};
