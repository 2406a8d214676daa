// The vendor window: personalization, the running packet number, clearing
// and acknowledging control-tape records, the tape status and the lock.
#pragma once

#include <QDialog>

#include <cstdint>
#include <optional>

class QCheckBox;
class QLineEdit;
class QPushButton;

class TForm9 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm9(QWidget *parent = nullptr);

    QLineEdit *PersonalizText = nullptr; // personalization string
    QCheckBox *CheckBox1 = nullptr;      // "Флаг персонализации"
    QPushButton *Button2 = nullptr;      // "Персонализация"
    QLineEdit *Edit1 = nullptr;          // new running packet number
    QPushButton *Button3 = nullptr;      // "Установить номер пакета"
    QLineEdit *Edit2 = nullptr;          // last packet to clear
    QPushButton *Button5 = nullptr;      // "Очистить данные в КЛЭФ"
    QLineEdit *Edit3 = nullptr;          // first acknowledged packet
    QLineEdit *Edit4 = nullptr;          // last acknowledged packet
    QPushButton *Button4 = nullptr;      // "Подтвердить передачу данных"
    QPushButton *Button7 = nullptr;      // "Продлить на 72 часа"
    QPushButton *Button8 = nullptr;      // "Снять блокировку"
    QPushButton *Button1 = nullptr;      // "Статус КЛЭФ"
    QPushButton *Button6 = nullptr;      // "Закрыть"

  public slots:
    void Button1Click(); // "Статус КЛЭФ"
    void Button2Click(); // "Персонализация"
    void Button3Click(); // "Установить номер пакета"
    void Button5Click(); // "Очистить данные в КЛЭФ"
    void Button4Click(); // "Подтвердить передачу данных"
    void Button7Click(); // "Продлить на 72 часа"
    void Button8Click(); // "Снять блокировку"
    void Button6Click(); // "Закрыть"
    // Digit checks of the four packet-number edits.
    void Edit1Change();
    void Edit2Change();
    void Edit3Change();
    void Edit4Change();

  private:
    // Resets the edit to "0" after the box when it holds a non-digit.
    void CheckDigits(QLineEdit *edit, int number);
    // The edit as a packet number; nothing (after the box) when it is none.
    std::optional<int32_t> Number(const QLineEdit *edit);
};
