#include "open_sites_page.h"

#include "messages.h"
#include "prerequisite_installer.h"
#include "prerequisite_model.h"
#include "ui_strings.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace krv::setup {
OpenSitesPage::OpenSitesPage(WizardSheet &sheet)
    : WizardPage(sheet, wizard_page::kOpenSites, true, QStringLiteral("Открыть сайты"),
                 QStringLiteral("Необходимо установить следующие программы. Дважды щёлкните на "
                                "ссылке, чтобы открыть её в браузере.")) {
    // The requirement's name is narrow; the link takes the rest.
    m_list = MakeList("1007", {ui_text::kRequirementColumn, ui_text::kLinkColumn}, {});
    m_list->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    m_list->header()->setStretchLastSection(true);
    m_list->setColumnWidth(0, 100);
    m_hint = new QLabel(this);
    m_hint->setObjectName("1029");
    m_hint->setWordWrap(true);
    Body()->addWidget(m_list, 1);
    Body()->addWidget(m_hint);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *item, int) {
        OpenSiteOfRow(m_list->indexOfTopLevelItem(item));
    });
    ConnectRowMenu(m_list, [this](int row) { return RowMenu(row); });
}

void OpenSitesPage::OnSetActive() {
    PrerequisiteInstaller &installer = Sheet().Installer();
    const SetupSettings &settings = Sheet().Settings();
    m_list->clear();
    for (std::size_t i = 0; i < settings.prerequisites.size(); ++i) {
        if (installer.GetPrerequisiteState(static_cast<int>(i)) != prereq_state::kOpenSite)
            continue;
        auto *item = new QTreeWidgetItem(m_list);
        item->setText(0, QString::fromStdString(settings.prerequisites[i].name));
        item->setText(1, QString::fromStdString(settings.prerequisites[i].source));
    }
    installer.OpenSitesPass(nullptr);
    // Back returns to the requirements.
    Sheet().EnableWizardControl(wizard_button::kBack, true);
    if (installer.AnyPrerequisiteToInstall()) {
        m_hint->setText(UiText(ui_text::kNextInstallsSitesHint));
        Sheet().EnableWizardControl(wizard_button::kNext, true);
        Sheet().EnableWizardControl(wizard_button::kFinish, false);
    } else {
        m_hint->setText(QString::fromStdString(
            FormatUiString(ui_text::kFinishWhenSitesDone, Sheet().Environment().productName)));
        Sheet().EnableWizardControl(wizard_button::kNext, false);
        Sheet().EnableWizardControl(wizard_button::kFinish, true);
    }
}

void OpenSitesPage::OpenSiteOfRow(int row) {
    if (QTreeWidgetItem *item = m_list->topLevelItem(row))
        OpenInternetShortcut(item->text(1).toStdString(), Sheet().Environment().windows,
                             Sheet().Installer().Programs());
}

void OpenSitesPage::CopyLinkOfRow(int row) {
    if (QTreeWidgetItem *item = m_list->topLevelItem(row))
        QGuiApplication::clipboard()->setText(item->text(1));
}

QMenu *OpenSitesPage::RowMenu(int row) {
    auto *menu = new QMenu(this);
    menu->addAction(QStringLiteral("Открыть в обозревателе"), this,
                    [this, row] { OpenSiteOfRow(row); });
    menu->addAction(QStringLiteral("Скопировать ссылку в буфер обмена"), this,
                    [this, row] { CopyLinkOfRow(row); });
    return menu;
}

int OpenSitesPage::OnWizardBack() {
    return wizard_page::kSelection;
}

bool OpenSitesPage::OnWizardFinish() {
    PrerequisiteInstaller &installer = Sheet().Installer();
    installer.SelectAllPrerequisites(false);
    if (!installer.AnyPrerequisiteToProcess()) {
        Sheet().SetCancelFlag(false);
        return true;
    }
    Sheet().Environment().messages.MessageBoxFromStrings(this, ui_text::kStillMissing, std::nullopt,
                                                         mb::kIconError);
    // The user comes back to the list of requirements.
    Sheet().SetCurrentPage(wizard_page::kSelection);
    return false;
}

} // namespace krv::setup
