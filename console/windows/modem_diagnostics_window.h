// The modem diagnostics window: the KRV-L5 modem's state as its own text or
// as a detailed listing, saved to a file or printed on the receipt tape.
//
// It works with or without the main window's link: when the main window is
// not connected (its connect button is on), a query opens the port itself
// and closes it again afterwards.
#pragma once

#include <QDialog>
#include <QFont>
#include <QString>

#include <cstdint>

class QPushButton;
class QTextEdit;

class TForm8 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm8(QWidget *parent = nullptr);

    QTextEdit *RichEdit1 = nullptr; // read-only view of the modem's state
    QPushButton *Button2 = nullptr; // "Опросить модем"
    QPushButton *Button3 = nullptr; // "Подробно"
    QPushButton *Button4 = nullptr; // "Сохранить"
    QPushButton *Button5 = nullptr; // "Распечатать"
    QPushButton *Button1 = nullptr; // "Выход"

    // The view's lines, as saving writes them.
    QStringList ViewLines() const;

  public slots:
    void Button1Click(); // "Выход"
    void Button2Click(); // "Опросить модем": the modem's text
    void Button3Click(); // "Подробно": the detailed listing
    void Button4Click(); // "Сохранить"
    void Button5Click(); // "Распечатать"

  private:
    // Opens the port of the main window's lists when it is not connected;
    // false (after the box) when that fails. `opened` says whether to close.
    bool OpenPortForQuery(bool &opened);
    // Empties the view and writes what follows in `face`, at the view's size.
    void ClearView(const QFont &face);
    void AppendLine(const QString &text, uint32_t rgb, bool systemColour);

    bool m_viewEmpty = true;
};
