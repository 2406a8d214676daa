#include "receipt_header_window.h"

#include "console_state.h"
#include "header_logic.h"
#include "widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using krv::console::LayoutBuilder;
using namespace krv::console;

TForm6::TForm6(QWidget *parent) : QDialog(parent) {
    setObjectName("Form6");
    krv::console::SetFixedWindow(*this, "Заголовок чека", 320, 330);

    LayoutBuilder b(this);
    b.beginGroup("GroupHeaderLines", " Заголовок чека: ", {8, 8, 304, 280});
    b.label("Пароль программирования", 8, 16);
    const struct {
        QLabel **label;
        const char *labelName;
        const char *caption;
        QLineEdit **edit;
        const char *editName;
        int maxLength;
    } lines[] = {
        {&Label2, "Label2", "Строка №1 (0..30 символов)", &Edit1, "Edit1", 30},
        {&Label3, "Label3", "Строка №2 (0..30 символов)", &Edit2, "Edit2", 30},
        {&Label4, "Label4", "Строка №3 (0..30 символов)", &Edit3, "Edit3", 30},
        {&Label5, "Label5", "Дополнительная строка №1 (0..36 символов)", &Edit4, "Edit4", 36},
        {&Label6, "Label6", "Дополнительная строка №2 (0..36 символов)", &Edit5, "Edit5", 36},
    };
    int y = 34;
    for (const auto &line : lines) {
        *line.label = b.label(QString::fromUtf8(line.caption), {8, y, 288, 14}, line.labelName);
        *line.edit = b.edit(line.editName, {8, y + 14, 288, 21}, line.maxLength);
        y += 40;
    }
    b.label("Строка:", 8, 242);
    ComboBox1 = b.comboBox("ComboBox1", {52, 238, 70, 21}, {"1", "2", "3", "доп.1", "доп.2"}, 0);
    CheckBox1 = b.checkBox("CheckBox1", "Двойная ширина", {134, 234, 160, 17});
    CheckBox2 = b.checkBox("CheckBox2", "Двойная высота", {134, 254, 160, 17});
    b.end();

    Button1 = b.button("Button1", "Установить", {60, 296, 96, 25});
    Button2 = b.button("Button2", "Закрыть", {164, 296, 96, 25});

    ConnectHandlersByName(*this, *this);
}

QLineEdit *TForm6::LineEdit(int line) const {
    QLineEdit *const edits[kHeaderLineCount] = {Edit1, Edit2, Edit3, Edit4, Edit5};
    return line >= 0 && line < kHeaderLineCount ? edits[line] : nullptr;
}

QLabel *TForm6::LineLabel(int line) const {
    QLabel *const labels[kHeaderLineCount] = {Label2, Label3, Label4, Label5, Label6};
    return line >= 0 && line < kHeaderLineCount ? labels[line] : nullptr;
}

void TForm6::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    FormShow();
}

void TForm6::FormShow() {
    ConsoleState &state = State();
    for (int line = 0; line < kHeaderLineCount; ++line) {
        const ReceiptHeaderLine &applied = state.ReceiptHeaderLines[static_cast<size_t>(line)];
        state.HeaderLineFlags[static_cast<size_t>(2 * line)] = applied.doubleWidth;
        state.HeaderLineFlags[static_cast<size_t>(2 * line + 1)] = applied.doubleHeight;
    }
    // The limits first, so that no applied text is cut by an earlier limit.
    UpdateLimits();
    for (int line = 0; line < kHeaderLineCount; ++line)
        LineEdit(line)->setText(state.ReceiptHeaderLines[static_cast<size_t>(line)].text);
    ComboBox1Change();
}

void TForm6::ComboBox1Change() {
    const int line = ComboBox1->currentIndex();
    if (line < 0 || line >= kHeaderLineCount)
        return;
    const auto &flags = State().HeaderLineFlags;
    CheckBox1->setChecked(flags[static_cast<size_t>(2 * line)]);
    CheckBox2->setChecked(flags[static_cast<size_t>(2 * line + 1)]);
    UpdateLimits();
}

void TForm6::CheckBox1Click() {
    const int line = ComboBox1->currentIndex();
    if (line < 0 || line >= kHeaderLineCount)
        return;
    State().HeaderLineFlags[static_cast<size_t>(2 * line)] = CheckBox1->isChecked();
    UpdateLimits();
}

void TForm6::CheckBox2Click() {
    // Double height does not shorten a line.
    const int line = ComboBox1->currentIndex();
    if (line >= 0 && line < kHeaderLineCount)
        State().HeaderLineFlags[static_cast<size_t>(2 * line + 1)] = CheckBox2->isChecked();
}

void TForm6::UpdateLimits() {
    const ConsoleState &state = State();
    for (int line = 0; line < kHeaderLineCount; ++line) {
        const int limit = HeaderLineLimit(
            line, state.HeaderLineFlags[static_cast<size_t>(2 * line)], state.IsFirstModel != 0);
        // A shorter limit cuts a longer text without a question.
        LineEdit(line)->setMaxLength(limit);
        LineLabel(line)->setText(HeaderLimitLabel(line, limit));
    }
}

void TForm6::Button1Click() {
    ConsoleState &state = State();
    for (int line = 0; line < kHeaderLineCount; ++line) {
        ReceiptHeaderLine &applied = state.ReceiptHeaderLines[static_cast<size_t>(line)];
        applied.text = LineEdit(line)->text().left(255);
        applied.doubleWidth = state.HeaderLineFlags[static_cast<size_t>(2 * line)];
        applied.doubleHeight = state.HeaderLineFlags[static_cast<size_t>(2 * line + 1)];
    }
    accept();
}

void TForm6::Button2Click() {
    reject();
}
