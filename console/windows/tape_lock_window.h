// The lock window: pushes the electronic control tape's lock 72 hours
// further or removes it. The flows are shared with the vendor window and
// the main window's tape buttons.
#pragma once

#include <QDialog>

class QPushButton;

class TForm7 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm7(QWidget *parent = nullptr);

    QPushButton *Button3 = nullptr; // "Продлить на 72 часа"
    QPushButton *Button1 = nullptr; // "Снять блокировку"
    QPushButton *Button2 = nullptr; // "Выход"

  public slots:
    void Button3Click(); // "Продлить на 72 часа"
    void Button1Click(); // "Снять блокировку"
    void Button2Click(); // "Выход"
};

namespace krv::console {

// Moves the lock to 72 hours from now and shows when it falls; every box
// is owned by `owner`.
void ExtendTapeLock(QWidget *owner);
// Removes the lock and confirms it.
void RemoveTapeLock(QWidget *owner);
// What the application shows for an error no handler reports itself (a
// value that does not convert, a file that cannot be written).
void ShowApplicationError(QWidget *owner, const QString &text);

} // namespace krv::console
