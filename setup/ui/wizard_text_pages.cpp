#include "wizard_text_pages.h"

#include "prerequisite_installer.h"
#include "ui_strings.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace krv::setup {

RichTextView::RichTextView(bool transparent, QWidget *parent) : QTextBrowser(parent) {
    setReadOnly(true);
    setOpenLinks(false);
    // Keys and the wheel still scroll; nothing can be selected and no caret
    // is drawn.
    setTextInteractionFlags(Qt::NoTextInteraction);
    setContextMenuPolicy(Qt::NoContextMenu);
    if (transparent) {
        setFrameShape(QFrame::NoFrame);
        viewport()->setAutoFillBackground(false);
        setStyleSheet(QStringLiteral("QTextBrowser { background: transparent; }"));
    }
}

void RichTextView::SetRichText(const std::string &text) {
    const QString value = QString::fromStdString(text);
    if (Qt::mightBeRichText(value))
        setHtml(value);
    else
        setPlainText(value);
    verticalScrollBar()->setValue(0);
}

void RichTextView::contextMenuEvent(QContextMenuEvent *event) {
    event->accept();
}

// ---- components text

ComponentsTextPage::ComponentsTextPage(WizardSheet &sheet)
    : WizardPage(sheet, wizard_page::kComponentsText, false, {}, {}) {
    setWindowTitle(
        DialogText(wizard_page::kComponentsText, 0, QStringLiteral("Установка компонентов")));
    auto *row = new QHBoxLayout();
    // The text stands right of the picture's band, as the first page of a
    // wizard does.
    row->addStretch(37);
    m_text = new RichTextView(true, this);
    m_text->setObjectName("1020");
    m_text->SetRichText(
        WizardBlock(kRtfFile, kComponentsTextBlock, sheet.Environment().resources.componentsText));
    row->addWidget(m_text, 57);
    row->addStretch(6);
    Body()->addLayout(row);
}

void ComponentsTextPage::OnSetActive() {
    Sheet().EnableWizardControl(wizard_button::kBack, false);
    Sheet().EnableWizardControl(wizard_button::kNext, true);
}

int ComponentsTextPage::OnWizardNext() {
    Sheet().EnableWizardControl(wizard_button::kBack, true);
    return wizard_move::kDefault;
}

// ---- licence

LicensePage::LicensePage(WizardSheet &sheet)
    : WizardPage(sheet, wizard_page::kLicense, true, QStringLiteral("Лицензионное соглашение"),
                 QStringLiteral("Пожалуйста, внимательно прочитайте следующий текст")) {
    m_text = new RichTextView(false, this);
    m_text->setObjectName("1047");
    m_text->SetRichText(
        WizardBlock(kRtfFile, kLicenseTextBlock, sheet.Environment().resources.licenseText));
    m_accept =
        new QRadioButton(DialogText(wizard_page::kLicense, 1045,
                                    QStringLiteral("Я принимаю условия лицензионного соглашения")),
                         this);
    m_accept->setObjectName("1045");
    m_decline = new QRadioButton(
        DialogText(wizard_page::kLicense, 1046,
                   QStringLiteral("Я не принимаю условия лицензионного соглашения")),
        this);
    m_decline->setObjectName("1046");
    m_decline->setChecked(true);
    Body()->addWidget(m_text, 1);
    Body()->addWidget(m_accept);
    Body()->addWidget(m_decline);
    connect(m_accept, &QRadioButton::toggled, this, [this] { UpdateLicenseButtons(); });
    connect(m_decline, &QRadioButton::toggled, this, [this] { UpdateLicenseButtons(); });
}

void LicensePage::UpdateLicenseButtons() {
    WizardSheet &sheet = Sheet();
    m_accepted = m_accept->isChecked();
    if (sheet.CurrentPage() != this)
        return;
    sheet.EnableWizardControl(wizard_button::kBack, sheet.HasPage(wizard_page::kComponentsText));
    sheet.EnableWizardControl(wizard_button::kNext, m_accepted);
    sheet.EnableWizardControl(wizard_button::kFinish,
                              m_accepted && sheet.Installer().MandatoryPrerequisitesDone());
}

void LicensePage::OnSetActive() {
    UpdateLicenseButtons();
}

int LicensePage::OnWizardNext() {
    Sheet().EnableWizardControl(wizard_button::kBack, true);
    return wizard_move::kDefault;
}

} // namespace krv::setup
