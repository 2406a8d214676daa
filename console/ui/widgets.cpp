#include "widgets.h"

#include "toolkit_translation.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QFont>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPainter>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QRegion>
#include <QSpinBox>
#include <QStyleOptionGroupBox>
#include <QTableWidget>
#include <QTextEdit>
#include <QTimeEdit>
#include <qdrawutil.h>

#include <algorithm>

// ---------------------------------------------------------------- RadioGroup

RadioGroup::RadioGroup(const QString &caption, const QStringList &items, QWidget *parent)
    : QGroupBox(caption, parent), m_group(new QButtonGroup(this)) {
    m_group->setExclusive(true);
    for (int i = 0; i < items.size(); ++i) {
        auto *radio = new QRadioButton(items[i], this);
        m_group->addButton(radio, i);
        m_buttons.push_back(radio);
    }
    connect(m_group, &QButtonGroup::idClicked, this, [this](int id) { emit itemIndexChanged(id); });
    placeButtons();
}

int RadioGroup::itemIndex() const {
    return m_group->checkedId();
}

void RadioGroup::setItemIndex(int index) {
    if (index == itemIndex())
        return;
    if (index < 0 || index >= count()) {
        // An exclusive group refuses to uncheck its last button directly.
        m_group->setExclusive(false);
        for (auto *radio : m_buttons)
            radio->setChecked(false);
        m_group->setExclusive(true);
        index = -1;
    } else {
        m_buttons[static_cast<size_t>(index)]->setChecked(true);
    }
    emit itemIndexChanged(index);
}

int RadioGroup::count() const {
    return static_cast<int>(m_buttons.size());
}

QString RadioGroup::itemText(int index) const {
    return index >= 0 && index < count() ? m_buttons[static_cast<size_t>(index)]->text()
                                         : QString();
}

QRadioButton *RadioGroup::button(int index) const {
    return index >= 0 && index < count() ? m_buttons[static_cast<size_t>(index)] : nullptr;
}

void RadioGroup::resizeEvent(QResizeEvent *event) {
    QGroupBox::resizeEvent(event);
    placeButtons();
}

// The items share the space under the caption in one column, each row the
// same height, as the classic radio group draws them.
void RadioGroup::placeButtons() {
    if (m_buttons.empty())
        return;
    const int top = 16;
    const int available = std::max(height() - top - 4, 0);
    const int rowHeight = available / count();
    for (int i = 0; i < count(); ++i) {
        const int rowTop = top + i * rowHeight;
        m_buttons[static_cast<size_t>(i)]->setGeometry(8, rowTop + (rowHeight - 17) / 2,
                                                       std::max(width() - 16, 0), 17);
    }
}

namespace krv::console {

namespace {

void SetBaseColour(QLineEdit *edit, const QColor &colour) {
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Active, QPalette::Base, colour);
    palette.setColor(QPalette::Inactive, QPalette::Base, colour);
    palette.setColor(QPalette::Disabled, QPalette::Base, colour);
    edit->setPalette(palette);
}

QString LabelText(const QString &text) {
    // Captions keep the Windows line breaks of their origin; a label wants \n.
    QString result = text;
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return result;
}

} // namespace

void SetGreyBackground(QLineEdit *edit) {
    SetBaseColour(edit, edit->palette().color(QPalette::Disabled, QPalette::WindowText));
}

void SetWindowBackground(QLineEdit *edit) {
    SetBaseColour(edit, QApplication::palette().color(QPalette::Active, QPalette::Base));
}

QFont ConsoleFont() {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

namespace {

// Where the classic group box puts its parts: the caption at the top left,
// the frame line through the middle of the caption's height, the contents
// below the caption. The layouts place a group's controls for these.
QRect ClassicGroupBoxRect(const QStyleOptionGroupBox &box, QStyle::SubControl part) {
    const int textHeight = box.fontMetrics.height();
    const QRect &all = box.rect;
    switch (part) {
    case QStyle::SC_GroupBoxFrame:
        return all.adjusted(0, textHeight / 2 - 1, 0, 0);
    case QStyle::SC_GroupBoxLabel:
        if (box.text.isEmpty())
            return {};
        return QRect(all.left() + 8, all.top(), box.fontMetrics.horizontalAdvance(box.text) + 1,
                     textHeight)
            .intersected(all);
    case QStyle::SC_GroupBoxContents:
        return all.adjusted(2, textHeight, -2, -2);
    default:
        return {};
    }
}

// The platform style with the console's password mask and the classic
// group box. A style sheet rule on the password fields themselves is not
// enough: a field under a widget with a style sheet of its own (the tab
// pages) still took the platform's bullet. The platform's group frame lies
// a whole caption lower than the classic one, across the controls the
// layouts put at the top of a group.
class ConsoleStyle : public QProxyStyle {
  public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl part,
                         const QWidget *widget) const override {
        if (const QStyleOptionGroupBox *box = ClassicGroupBox(control, option)) {
            const QRect rect = ClassicGroupBoxRect(*box, part);
            if (rect.isValid() || part == SC_GroupBoxLabel)
                return rect;
        }
        return QProxyStyle::subControlRect(control, option, part, widget);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                            QPainter *painter, const QWidget *widget) const override {
        const QStyleOptionGroupBox *box = ClassicGroupBox(control, option);
        if (!box) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        const QRect label = ClassicGroupBoxRect(*box, SC_GroupBoxLabel);
        if (box->subControls & SC_GroupBoxFrame) {
            // An etched line (shadow, then light), broken where the caption is.
            painter->save();
            if (!label.isEmpty())
                painter->setClipRegion(QRegion(box->rect).subtracted(label));
            qDrawShadeRect(painter, ClassicGroupBoxRect(*box, SC_GroupBoxFrame), box->palette, true,
                           1, 0);
            painter->restore();
        }
        if ((box->subControls & SC_GroupBoxLabel) && !label.isEmpty())
            proxy()->drawItemText(painter, label,
                                  Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic, box->palette,
                                  box->state & State_Enabled, box->text, QPalette::WindowText);
    }

  private:
    // The option of a group box without a tick box (the console has no
    // other), else null.
    static const QStyleOptionGroupBox *ClassicGroupBox(ComplexControl control,
                                                       const QStyleOptionComplex *option) {
        if (control != CC_GroupBox)
            return nullptr;
        const auto *box = qstyleoption_cast<const QStyleOptionGroupBox *>(option);
        return box && !(box->subControls & SC_GroupBoxCheckBox) ? box : nullptr;
    }
};

} // namespace

void UseConsoleLook() {
    QApplication::setFont(ConsoleFont());
    QApplication::setStyle(new ConsoleStyle);
    // The whole interface is Russian: so are the toolkit's buttons, file
    // dialogs and context menus (English where this machine lacks them).
    krv::platform::UseToolkitLanguage(QLocale(QLocale::Russian, QLocale::Russia));
}

void SetFixedWindow(QWidget &window, const QString &caption, int width, int height,
                    bool minimizeBox) {
    Qt::WindowFlags flags = (window.windowFlags() & Qt::WindowType_Mask) | Qt::CustomizeWindowHint |
                            Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;
    if (minimizeBox)
        flags |= Qt::WindowMinimizeButtonHint;
    window.setWindowFlags(flags);
    window.setWindowTitle(caption);
    window.setFont(ConsoleFont());
    window.setFixedSize(width, height);
}

// ------------------------------------------------------------- LayoutBuilder

LayoutBuilder::LayoutBuilder(QWidget *root) : m_stack{root} {}

void LayoutBuilder::enter(QWidget *container) {
    m_stack.resize(1);
    m_stack.push_back(container);
}

template <class W> W *LayoutBuilder::place(W *widget, const char *name, QRect rect) {
    if (name)
        widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(rect);
    return widget;
}

QGroupBox *LayoutBuilder::beginGroup(const char *name, const QString &caption, QRect rect) {
    auto *group = place(new QGroupBox(caption, current()), name, rect);
    m_stack.push_back(group);
    return group;
}

QFrame *LayoutBuilder::beginPanel(const char *name, QRect rect) {
    auto *panel = place(new QFrame(current()), name, rect);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    m_stack.push_back(panel);
    return panel;
}

void LayoutBuilder::end() {
    if (m_stack.size() > 1)
        m_stack.pop_back();
}

QLabel *LayoutBuilder::label(const QString &text, int x, int y, const char *name) {
    auto *label = new QLabel(LabelText(text), current());
    label->adjustSize();
    return place(label, name, QRect(QPoint(x, y), label->size()));
}

QLabel *LayoutBuilder::label(const QString &text, QRect rect, const char *name) {
    return place(new QLabel(LabelText(text), current()), name, rect);
}

QPushButton *LayoutBuilder::button(const char *name, const QString &caption, QRect rect) {
    auto *button = place(new QPushButton(caption, current()), name, rect);
    button->setAutoDefault(false);
    return button;
}

QPushButton *LayoutBuilder::glyphButton(const char *name, const QString &caption, QRect rect,
                                        QStyle::StandardPixmap glyph) {
    auto *button = this->button(name, caption, rect);
    button->setIcon(button->style()->standardIcon(glyph));
    return button;
}

QLineEdit *LayoutBuilder::edit(const char *name, QRect rect, int maxLength, const QString &text) {
    auto *edit = place(new QLineEdit(current()), name, rect);
    if (maxLength > 0)
        edit->setMaxLength(maxLength);
    edit->setText(text);
    return edit;
}

QLineEdit *LayoutBuilder::passwordEdit(const char *name, QRect rect, int maxLength) {
    auto *edit = this->edit(name, rect, maxLength);
    // The mask character ('*') comes from the console's style (UseConsoleLook).
    edit->setEchoMode(QLineEdit::Password);
    return edit;
}

QSpinBox *LayoutBuilder::spinEdit(const char *name, QRect rect, int minimum, int maximum, int value,
                                  int maxLength) {
    auto *spin = place(new QSpinBox(current()), name, rect);
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    if (auto *text = spin->findChild<QLineEdit *>(); text && maxLength > 0)
        text->setMaxLength(maxLength);
    return spin;
}

QCheckBox *LayoutBuilder::checkBox(const char *name, const QString &caption, QRect rect,
                                   bool checked) {
    auto *box = place(new QCheckBox(caption, current()), name, rect);
    box->setChecked(checked);
    return box;
}

QRadioButton *LayoutBuilder::radioButton(const char *name, const QString &caption, QRect rect,
                                         bool checked) {
    auto *radio = place(new QRadioButton(caption, current()), name, rect);
    radio->setChecked(checked);
    return radio;
}

RadioGroup *LayoutBuilder::radioGroup(const char *name, const QString &caption, QRect rect,
                                      const QStringList &items, int index) {
    auto *group = place(new RadioGroup(caption, items, current()), name, rect);
    group->setItemIndex(index);
    return group;
}

QComboBox *LayoutBuilder::comboBox(const char *name, QRect rect, const QStringList &items,
                                   int index) {
    auto *combo = place(new QComboBox(current()), name, rect);
    combo->addItems(items);
    combo->setCurrentIndex(index);
    return combo;
}

QPlainTextEdit *LayoutBuilder::memo(const char *name, QRect rect) {
    auto *memo = place(new QPlainTextEdit(current()), name, rect);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    return memo;
}

QTextEdit *LayoutBuilder::richEdit(const char *name, QRect rect) {
    return place(new QTextEdit(current()), name, rect);
}

QDateEdit *LayoutBuilder::datePicker(const char *name, QRect rect) {
    auto *picker = place(new QDateEdit(current()), name, rect);
    picker->setCalendarPopup(true);
    return picker;
}

QTimeEdit *LayoutBuilder::timePicker(const char *name, QRect rect) {
    auto *picker = place(new QTimeEdit(current()), name, rect);
    picker->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    return picker;
}

// A grid whose first row and column are fixed headings held in ordinary
// cells, so cell (column c, row r) is item(r, c) for every c and r.
QTableWidget *LayoutBuilder::grid(const char *name, QRect rect, int columns, int rows,
                                  const std::vector<int> &columnWidths, int rowHeight) {
    auto *grid = place(new QTableWidget(rows, columns, current()), name, rect);
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setEditTriggers(QAbstractItemView::AllEditTriggers);
    for (int c = 0; c < columns && c < static_cast<int>(columnWidths.size()); ++c)
        grid->setColumnWidth(c, columnWidths[static_cast<size_t>(c)]);
    grid->verticalHeader()->setMinimumSectionSize(rowHeight);
    grid->verticalHeader()->setDefaultSectionSize(rowHeight);
    for (int r = 0; r < rows; ++r)
        grid->setRowHeight(r, rowHeight);
    const QColor fixedColour = grid->palette().color(QPalette::Button);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            auto *item = new QTableWidgetItem;
            if (r == 0 || c == 0) {
                item->setFlags(Qt::ItemIsEnabled);
                item->setBackground(fixedColour);
            }
            grid->setItem(r, c, item);
        }
    }
    return grid;
}

// ---- Handler wiring ----------------------------------------------------------

namespace {

// The signal that stands for `event` on `control`, or an invalid method.
QMetaMethod EventSignal(QObject &control, const QString &event) {
    const QMetaObject *meta = control.metaObject();
    const char *signature = nullptr;
    if (event == QLatin1String("Click")) {
        if (qobject_cast<QCheckBox *>(&control))
            signature = "toggled(bool)"; // a check box reports changes made by code too
        else if (qobject_cast<QAbstractButton *>(&control))
            signature = "clicked(bool)";
        else if (qobject_cast<QComboBox *>(&control))
            signature = "activated(int)";
        else if (meta->indexOfSignal("itemIndexChanged(int)") >= 0)
            signature = "itemIndexChanged(int)"; // a radio group
    } else if (event == QLatin1String("Change")) {
        if (qobject_cast<QLineEdit *>(&control))
            signature = "textChanged(QString)";
        else if (qobject_cast<QPlainTextEdit *>(&control))
            signature = "textChanged()";
        else if (auto *combo = qobject_cast<QComboBox *>(&control))
            signature =
                combo->isEditable() ? "currentTextChanged(QString)" : "currentIndexChanged(int)";
        else if (qobject_cast<QSpinBox *>(&control))
            signature = "valueChanged(int)";
        else if (qobject_cast<QDateTimeEdit *>(&control))
            signature = "dateTimeChanged(QDateTime)";
    }
    if (!signature)
        return {};
    return meta->method(meta->indexOfSignal(signature));
}

// Walks the handler slots of `form`: each is connected when `connect`, and
// every one that cannot be is returned.
QStringList WireHandlers(QObject &form, QWidget &root, bool connect) {
    QStringList misses;
    const QMetaObject *meta = form.metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod slot = meta->method(i);
        if (slot.methodType() != QMetaMethod::Slot || slot.parameterCount() != 0)
            continue;
        const QString name = QString::fromLatin1(slot.name());
        for (const QString &event : {QStringLiteral("Click"), QStringLiteral("Change")}) {
            if (!name.endsWith(event) || name.endsWith(QLatin1String("DblClick")))
                continue;
            const QString controlName = name.left(name.size() - event.size());
            QObject *control = root.findChild<QObject *>(controlName);
            if (!control) {
                misses << name + QStringLiteral(": no control ") + controlName;
                break;
            }
            const QMetaMethod signal = EventSignal(*control, event);
            if (!signal.isValid())
                misses << name + QStringLiteral(": ") + controlName +
                              QStringLiteral(" has no such event");
            else if (connect)
                QObject::connect(control, signal, &form, slot);
            break;
        }
    }
    return misses;
}

} // namespace

QStringList ConnectHandlersByName(QObject &form, QWidget &root) {
    const QStringList misses = WireHandlers(form, root, true);
    for (const QString &miss : misses)
        qWarning("%s: handler left unconnected: %s", form.metaObject()->className(),
                 qPrintable(miss));
    return misses;
}

QStringList UnwiredHandlers(QObject &form, QWidget &root) {
    return WireHandlers(form, root, false);
}

} // namespace krv::console
