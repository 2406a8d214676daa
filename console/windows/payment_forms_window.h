// The payment-form names window: the names of the ten payment forms, read
// from and written to the printer.
#pragma once

#include <QDialog>

#include <array>

class QLineEdit;
class QPushButton;

class TForm5 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm5(QWidget *parent = nullptr);

    // Edit1 .. Edit10: the names of payment forms 0 .. 9; form 3 is cash.
    QLineEdit *Edit1, *Edit2, *Edit3, *Edit4, *Edit5, *Edit6, *Edit7, *Edit8, *Edit9, *Edit10;
    QPushButton *Button1 = nullptr; // "Прочитать"
    QPushButton *Button2 = nullptr; // "Записать"
    QPushButton *Button3 = nullptr; // "Выход"

    // The name edit of payment form 0..9, nullptr for another number.
    QLineEdit *NameEdit(int form) const;

  public slots:
    // Reads the ten names into the edits and into the payment-form list of
    // the main window's tab "Операции"; the connect handler runs it right
    // after the login.
    void Button1Click();
    // Writes every name but cash's, upper case; an empty edit as "СПЛАТА".
    void Button2Click();
    void Button3Click();
};
