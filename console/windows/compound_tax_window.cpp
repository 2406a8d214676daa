#include "compound_tax_window.h"

#include "console_state.h"
#include "console_windows.h"
#include "tax_logic.h"
#include "widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>

using krv::console::LayoutBuilder;
using namespace krv::console;

namespace {

// An optional digit, a digit, a fixed comma, two digits and a fixed "%".
constexpr const char *kRateMask = "09,99%";
constexpr int kGroupE = kTaxGroupCount - 1;

} // namespace

TForm4::TForm4(QWidget *parent) : QDialog(parent) {
    setObjectName("Form4");
    krv::console::SetFixedWindow(*this, "Настройка схемы составного налога", 340, 232);

    LayoutBuilder b(this);
    b.label("Укажите из каких групп нужно взять значения \r\n    налоговых ставкок для работы по "
            "схеме \r\n                   с составным налогом.",
            8, 8);
    Image1 = b.label({}, {300, 8, 32, 32}, "Image1");
    Image1->setPixmap(QPixmap(QStringLiteral(":/console/compound_tax.png")));
    b.label("Составной \r\n    налог", 8, 58);
    Image2 = b.label({}, {156, 58, 32, 32}, "Image2");
    Image2->setPixmap(QPixmap(QStringLiteral(":/console/levy.png")));
    ComboBox1 = b.comboBox("ComboBox1", {80, 62, 60, 21}, {"А", "Б", "В", "Г", "Д", "Е"}, 2);
    QPalette green = ComboBox1->palette();
    green.setColor(QPalette::Base, QColor::fromRgb(krv::console::kMoneyGreenRgb));
    green.setColor(QPalette::Button, QColor::fromRgb(krv::console::kMoneyGreenRgb));
    ComboBox1->setPalette(green);

    CheckBox1 = b.checkBox("CheckBox1", "Использовать схему составного налога", {8, 96, 320, 17});

    // "без" lies under the VAT edit: with the edit hidden the line reads "без НДС".
    b.label("без", 34, 126);
    MaskEdit1 = b.edit("MaskEdit1", {8, 122, 56, 21}, 0);
    MaskEdit1->setInputMask(kRateMask);
    MaskEdit1->setText("20,00%");
    b.label("НДС", 70, 126);
    MaskEdit2 = b.edit("MaskEdit2", {130, 122, 56, 21}, 0);
    MaskEdit2->setInputMask(kRateMask);
    MaskEdit2->setText(" 5,00%");
    b.label("Сбор в ПФ", 192, 126);

    CheckBox2 = b.checkBox("CheckBox2", "Налог на сбор", {8, 156, 320, 17});

    BitBtn1 =
        b.glyphButton("BitBtn1", "Применить", {60, 192, 100, 27}, QStyle::SP_DialogApplyButton);
    BitBtn2 =
        b.glyphButton("BitBtn2", "Отмена", {176, 192, 100, 27}, QStyle::SP_DialogCancelButton);

    ConnectHandlersByName(*this, *this);
    ComboBox1->installEventFilter(this);
    connect(this, &QDialog::finished, this, &TForm4::FormClose);
    FormCreate();
}

void TForm4::FormCreate() {
    ConsoleState &state = State();
    state.CompoundTaxWorking = DefaultCompoundScheme();
    state.CompoundTaxApplied = DefaultCompoundScheme();
    state.SelectedTaxGroup = 3;
    m_shownGroup = -1;
    ComboBox1->setCurrentIndex(2);
}

void TForm4::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    FormShow();
}

bool TForm4::eventFilter(QObject *watched, QEvent *event) {
    if (watched == ComboBox1 && event->type() == QEvent::FocusIn)
        ComboBox1Enter();
    return QDialog::eventFilter(watched, event);
}

int TForm4::ChosenGroup() const {
    const int item = ComboBox1->currentIndex();
    return item >= 0 && item < kTaxGroupCount ? item : -1;
}

void TForm4::FormShow() {
    // The controls may still hold an earlier opening's values: nothing is
    // stored from them until the chosen group is loaded.
    m_shownGroup = -1;
    const int group = std::clamp(State().SelectedTaxGroup, 1, kTaxGroupCount) - 1;
    if (ComboBox1->currentIndex() != group)
        ComboBox1->setCurrentIndex(group); // loads it
    else
        LoadGroup(group);
}

void TForm4::LoadGroup(int group) {
    if (group < 0)
        return;
    m_shownGroup = -1;
    const CompoundTaxGroup values = State().CompoundTaxWorking[static_cast<size_t>(group)];
    CheckBox1->setChecked(values.useCompound);
    const bool vatShown = group != kGroupE;
    MaskEdit1->setVisible(vatShown);
    CheckBox2->setVisible(vatShown);
    if (vatShown)
        MaskEdit1->setText(RateEditText(values.vatRateText));
    MaskEdit2->setText(RateEditText(values.levyRateText));
    CheckBox2->setChecked(values.taxOnLevy);
    m_shownGroup = group;
}

void TForm4::ComboBox1Change() {
    ComboBox1Enter(); // the group shown so far keeps what its controls hold
    const int group = ChosenGroup();
    LoadGroup(group);
    if (group >= 0)
        State().SelectedTaxGroup = group + 1;
}

void TForm4::ComboBox1Enter() {
    if (m_shownGroup < 0)
        return;
    CompoundTaxGroup &group = State().CompoundTaxWorking[static_cast<size_t>(m_shownGroup)];
    group.useCompound = CheckBox1->isChecked();
    group.taxOnLevy = CheckBox2->isChecked();
    State().SelectedTaxGroup = m_shownGroup + 1;
    if (m_shownGroup != kGroupE)
        group.vatRateText = StoredRateText(MaskEdit1->displayText());
    group.levyRateText = StoredRateText(MaskEdit2->displayText());
}

void TForm4::RateEditChanged(QLineEdit *edit, bool vat) {
    if (m_settingRate)
        return;
    const int group = ChosenGroup();
    if (group < 0)
        return;
    const QString rate = NormalisedRateText(edit->displayText());
    CompoundTaxGroup &values = State().CompoundTaxWorking[static_cast<size_t>(group)];
    (vat ? values.vatRateText : values.levyRateText) = rate;
    const QString shown = RateEditText(rate);
    if (edit->displayText() != shown) {
        m_settingRate = true;
        const int cursor = edit->cursorPosition();
        edit->setText(shown);
        edit->setCursorPosition(cursor);
        m_settingRate = false;
    }
}

void TForm4::MaskEdit1Change() {
    RateEditChanged(MaskEdit1, true);
}

void TForm4::MaskEdit2Change() {
    RateEditChanged(MaskEdit2, false);
}

void TForm4::CheckBox1Click() {
    if (const int group = ChosenGroup(); group >= 0)
        State().CompoundTaxWorking[static_cast<size_t>(group)].useCompound = CheckBox1->isChecked();
}

void TForm4::CheckBox2Click() {
    if (const int group = ChosenGroup(); group >= 0)
        State().CompoundTaxWorking[static_cast<size_t>(group)].taxOnLevy = CheckBox2->isChecked();
}

void TForm4::BitBtn1Click() {
    ConsoleState &state = State();
    for (int g = 0; g < kTaxGroupCount; ++g) {
        const CompoundTaxGroup &working = state.CompoundTaxWorking[static_cast<size_t>(g)];
        CompoundTaxGroup &applied = state.CompoundTaxApplied[static_cast<size_t>(g)];
        applied.useCompound = working.useCompound;
        applied.taxOnLevy = working.taxOnLevy;
        applied.vatRateText =
            g == kGroupE ? QStringLiteral("без НДС") : StoredRateText(working.vatRateText);
        applied.levyRateText = StoredRateText(working.levyRateText);
    }
    if (const int group = ChosenGroup(); group >= 0)
        state.SelectedTaxGroup = group + 1;
    state.CompoundTaxWorking = state.CompoundTaxApplied;
    accept();
}

void TForm4::BitBtn2Click() {
    State().CompoundTaxWorking = State().CompoundTaxApplied;
    reject();
}

void TForm4::FormClose() {
    // The main window unlocks the tax type, and locks it again while a
    // group of the working copy uses the scheme.
    QWidget *main = Windows().Form1;
    if (main && main->metaObject()->indexOfMethod("ApplyTaxControlRules()") >= 0)
        QMetaObject::invokeMethod(main, "ApplyTaxControlRules", Qt::DirectConnection);
}
