// Small building blocks for the console's windows: a radio group with an item
// index, and a builder that places controls at fixed positions, one line per
// control, so each window's layout reads like a table.
#pragma once

#include <QFont>
#include <QGroupBox>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QStyle>
#include <stdexcept>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;
class QTextEdit;
class QTimeEdit;

// A captioned group of mutually exclusive choices; the chosen item is an
// index (-1 for none), as the handlers read and set it.
class RadioGroup : public QGroupBox {
    Q_OBJECT
  public:
    RadioGroup(const QString &caption, const QStringList &items, QWidget *parent = nullptr);

    int itemIndex() const;
    // Chooses an item (-1 clears the choice); announces the change like a click.
    void setItemIndex(int index);
    int count() const;
    QString itemText(int index) const;
    QRadioButton *button(int index) const;

  signals:
    // The chosen item changed, by a click or by setItemIndex.
    void itemIndexChanged(int index);

  protected:
    void resizeEvent(QResizeEvent *event) override;

  private:
    void placeButtons();

    QButtonGroup *m_group;
    std::vector<QRadioButton *> m_buttons;
};

namespace krv::console {

// A control under `root` by its layout name and class. A name the layout
// does not have, or a control of another class, is a fault of the program,
// never of the input: it throws std::logic_error naming the control, so a
// mistyped name fails the first time its code runs (in a test, say) instead
// of reading as an empty text or an unticked box.
template <class T = QWidget> T *RequiredControl(const QObject &root, const QString &name) {
    if (T *control = root.findChild<T *>(name))
        return control;
    throw std::logic_error("no control " + name.toStdString() + " of class " +
                           T::staticMetaObject.className() + " under " +
                           root.objectName().toStdString());
}

// Background colours of an edit that is switched off by the access mode
// (grey) and of a working one (the window colour).
void SetGreyBackground(QLineEdit *edit);
void SetWindowBackground(QLineEdit *edit);

// The console's font: the layouts were drawn for an 8-point Windows interface
// font at 96 dpi, 11 pixels high; Liberation Sans has the same widths.
QFont ConsoleFont();
// Makes ConsoleFont() the font of the whole program (boxes included) and
// gives it the console's style: the platform style, except that every
// password field masks with '*' and group boxes are drawn as the layouts
// expect them (the frame line through the caption's middle); the toolkit's
// own texts are Russian. Called once, before any window exists.
void UseConsoleLook();

// A window of fixed size with its caption, a title bar with the system menu
// (close) and, when asked, a minimise box; the console's font.
void SetFixedWindow(QWidget &window, const QString &caption, int width, int height,
                    bool minimizeBox = false);

// The colour that marks compound-tax rows and the compound-tax group list.
inline constexpr unsigned kMoneyGreenRgb = 0xC0DCC0;

// Creates controls on a window at absolute positions. Containers opened with
// beginGroup/beginPanel receive the controls that follow until end().
class LayoutBuilder {
  public:
    explicit LayoutBuilder(QWidget *root);

    QWidget *current() const { return m_stack.back(); }
    // Makes an existing container (a tab page, say) the current parent.
    void enter(QWidget *container);
    QGroupBox *beginGroup(const char *name, const QString &caption, QRect rect);
    QFrame *beginPanel(const char *name, QRect rect);
    void end();

    // A label sized to its text; name only for labels that handlers change.
    QLabel *label(const QString &text, int x, int y, const char *name = nullptr);
    QLabel *label(const QString &text, QRect rect, const char *name = nullptr);
    QPushButton *button(const char *name, const QString &caption, QRect rect);
    QPushButton *glyphButton(const char *name, const QString &caption, QRect rect,
                             QStyle::StandardPixmap glyph);
    QLineEdit *edit(const char *name, QRect rect, int maxLength, const QString &text = {});
    QLineEdit *passwordEdit(const char *name, QRect rect, int maxLength);
    QSpinBox *spinEdit(const char *name, QRect rect, int minimum, int maximum, int value,
                       int maxLength);
    QCheckBox *checkBox(const char *name, const QString &caption, QRect rect, bool checked = false);
    QRadioButton *radioButton(const char *name, const QString &caption, QRect rect,
                              bool checked = false);
    RadioGroup *radioGroup(const char *name, const QString &caption, QRect rect,
                           const QStringList &items, int index);
    QComboBox *comboBox(const char *name, QRect rect, const QStringList &items, int index);
    QPlainTextEdit *memo(const char *name, QRect rect);
    QTextEdit *richEdit(const char *name, QRect rect);
    QDateEdit *datePicker(const char *name, QRect rect);
    QTimeEdit *timePicker(const char *name, QRect rect);
    QTableWidget *grid(const char *name, QRect rect, int columns, int rows,
                       const std::vector<int> &columnWidths, int rowHeight);

  private:
    template <class W> W *place(W *widget, const char *name, QRect rect);

    std::vector<QWidget *> m_stack;
};

// Connects every slot of `form` named <control><event> to the signal of the
// control of that object name under `root`: "Click" to a button's click (a
// check box's change of state, a combo box's choice, a radio group's new
// item), "Change" to an edit's, combo box's, spin edit's or picker's change.
// A slot named like a handler whose control is missing (a typo in a control
// or slot name) is connected to nothing: it is reported with a warning on
// the program's error output and returned, and the tests hold every window
// to an empty list.
QStringList ConnectHandlersByName(QObject &form, QWidget &root);
// The handler slots of `form` that ConnectHandlersByName cannot connect, each
// as "<slot>: <why>"; nothing is connected.
QStringList UnwiredHandlers(QObject &form, QWidget &root);

} // namespace krv::console
