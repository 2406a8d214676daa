// The vendor window: personalization, the running packet number, clearing
// and acknowledging control-tape records, the tape status and the lock.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

class TForm9 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm9(QWidget *parent = nullptr);

    QLineEdit *PersonalizText; // personalization string
    QCheckBox *CheckBox1;      // "Флаг персонализации"
    QPushButton *Button2;      // "Персонализация"
    QLineEdit *Edit1;          // new running packet number
    QPushButton *Button3;      // "Установить номер пакета"
    QLineEdit *Edit2;          // last packet to clear
    QPushButton *Button5;      // "Очистить данные в КЛЭФ"
    QLineEdit *Edit3;          // first acknowledged packet
    QLineEdit *Edit4;          // last acknowledged packet
    QPushButton *Button4;      // "Подтвердить передачу данных"
    QPushButton *Button7;      // "Продлить на 72 часа"
    QPushButton *Button8;      // "Снять блокировку"
    QPushButton *Button1;      // "Статус КЛЭФ"
    QPushButton *Button6;      // "Закрыть"
};
