#include "selection_page.h"

#include "messages.h"
#include "prerequisite_installer.h"
#include "prerequisite_model.h"
#include "ui_strings.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMetaObject>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace krv::setup {
namespace {

constexpr uint32_t kMandatoryMessageId = 168;

} // namespace

PrerequisiteSelectionPage::PrerequisiteSelectionPage(WizardSheet &sheet)
    : WizardPage(sheet, wizard_page::kSelection, true, QStringLiteral("Требования"),
                 QStringLiteral("Эти программы необходимы для работы приложения. Установите "
                                "флажок напротив программы, чтобы установить её, или снимите, "
                                "чтобы пропустить её.")) {
    m_list =
        MakeList("1002", {ui_text::kNameColumn, ui_text::kVersionColumn, ui_text::kActionColumn},
                 {0, 180, 80});
    // The version and action texts are shown whole: their columns follow
    // the widest text and the name column takes what is left.
    m_list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    m_hint = new QLabel(QStringLiteral("Далее"), this);
    m_hint->setObjectName("1019");
    m_hint->setWordWrap(true);
    // The save-folder row is never shown; its edit mirrors the download
    // folder.
    m_folder = new QLineEdit(QString::fromStdString(sheet.Installer().Downloads().Folder()), this);
    m_folder->setObjectName("1003");
    m_folder->hide();
    Body()->addWidget(m_list, 1);
    Body()->addWidget(m_hint);
    m_autoNext = sheet.Settings().prereqsGiven;

    connect(m_list, &QTreeWidget::itemChanged, this,
            [this](QTreeWidgetItem *item, int) { OnItemChanged(item); });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *item, int) {
        SetRowChecked(m_list->indexOfTopLevelItem(item), item->checkState(0) != Qt::Checked);
    });
    ConnectRowMenu(m_list, [this](int row) { return RowMenu(row); });
}

int PrerequisiteSelectionPage::IndexOfRow(const QTreeWidgetItem *item) const {
    return item ? item->data(0, Qt::UserRole).toInt() : -1;
}

void PrerequisiteSelectionPage::OnSetActive() {
    Fill();
    Refresh();
    Sheet().EnableWizardControl(wizard_button::kBack, Sheet().HasPageBefore(this));
    if (m_autoNext) {
        m_autoNext = false;
        Sheet().PostPressButton(wizard_button::kNext);
    }
}

void PrerequisiteSelectionPage::Fill() {
    m_filling = true;
    m_list->clear();
    const SetupSettings &settings = Sheet().Settings();
    const bool hideFound = HasSetupFlagLetter(settings, 'o');
    for (std::size_t i = 0; i < settings.prerequisites.size(); ++i) {
        const PrerequisiteRecord &record = settings.prerequisites[i];
        const int32_t state = EffectivePrerequisiteState(record);
        if (state == prereq_state::kExcluded || (hideFound && state == prereq_state::kFound))
            continue;
        const auto &foundValues = Sheet().Environment().foundValues;
        const std::vector<std::string> found =
            foundValues ? foundValues(static_cast<int>(i)) : FirstSearchFoundValues(record);
        auto *item = new QTreeWidgetItem(m_list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setData(0, Qt::UserRole, static_cast<int>(i));
        item->setText(0, QString::fromStdString(record.name));
        item->setText(1, QString::fromStdString(PrerequisiteVersionText(record, found)));
        item->setCheckState(0, record.selected ? Qt::Checked : Qt::Unchecked);
    }
    m_filling = false;
}

void PrerequisiteSelectionPage::Refresh() {
    m_filling = true;
    PrerequisiteInstaller &installer = Sheet().Installer();
    m_counts = {};
    for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
        QTreeWidgetItem *item = m_list->topLevelItem(row);
        const int index = IndexOfRow(item);
        item->setCheckState(0, installer.IsSelected(index) ? Qt::Checked : Qt::Unchecked);
        const int32_t state = installer.GetPrerequisiteState(index);
        CountManagerState(state, m_counts);
        const uint32_t action = ActionTextId(state);
        item->setText(2, action ? UiText(action) : QString());
    }
    m_filling = false;
    m_nextAction = NextActionOf(m_counts);
    m_hint->setText(UiText(NextStepHintId(m_nextAction)));
    if (Sheet().CurrentPage() != this)
        return;
    const bool finish = m_nextAction == WizardNextAction::kFinish;
    Sheet().EnableWizardControl(wizard_button::kNext, !finish);
    if (finish)
        Sheet().EnableWizardControl(wizard_button::kFinish, true);
    else
        Sheet().EnableWizardControl(wizard_button::kBack, Sheet().HasPageBefore(this));
}

bool PrerequisiteSelectionPage::SetRowChecked(int row, bool checked) {
    QTreeWidgetItem *item = m_list->topLevelItem(row);
    if (!item)
        return false;
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    return Sheet().Installer().IsSelected(IndexOfRow(item)) == checked;
}

void PrerequisiteSelectionPage::OnItemChanged(QTreeWidgetItem *item) {
    if (m_filling)
        return;
    const int index = IndexOfRow(item);
    SetupSettings &settings = Sheet().Settings();
    if (index < 0 || static_cast<std::size_t>(index) >= settings.prerequisites.size())
        return;
    const bool checked = item->checkState(0) == Qt::Checked;
    const PrerequisiteRecord &record = settings.prerequisites[static_cast<std::size_t>(index)];
    if (!checked && HasPrerequisiteOption(record, 'm') && record.state != prereq_state::kFound) {
        // The box is checked again before the message shows, so it is never
        // seen unchecked behind it.
        m_filling = true;
        item->setCheckState(0, Qt::Checked);
        m_filling = false;
        Sheet().Environment().messages.MessageBoxFromStrings(this, kMandatoryMessageId,
                                                             std::nullopt, mb::kIconError);
        return;
    }
    SelectPrerequisite(settings, index, checked);
    Refresh();
}

QMenu *PrerequisiteSelectionPage::RowMenu(int row) {
    auto *menu = new QMenu(this);
    QTreeWidgetItem *item = m_list->topLevelItem(row);
    const bool checked = item && item->checkState(0) == Qt::Checked;
    QAction *install =
        menu->addAction(UiText(ui_text::kInstall), this, [this, row] { SetRowChecked(row, true); });
    install->setEnabled(!checked);
    QAction *skip =
        menu->addAction(UiText(ui_text::kSkip), this, [this, row] { SetRowChecked(row, false); });
    skip->setEnabled(checked);
    return menu;
}

int PrerequisiteSelectionPage::OnWizardNext() {
    PrerequisiteInstaller &installer = Sheet().Installer();
    int target = wizard_move::kStay;
    switch (m_nextAction) {
    case WizardNextAction::kDownload: {
        DownloadList &downloads = installer.Downloads();
        downloads.ClearDownloadList();
        const SetupSettings &settings = Sheet().Settings();
        for (std::size_t i = 0; i < settings.prerequisites.size(); ++i) {
            const PrerequisiteRecord &record = settings.prerequisites[i];
            if (installer.GetPrerequisiteState(static_cast<int>(i)) == prereq_state::kDownload)
                downloads.AddDownloadItem(record.source, static_cast<uint32_t>(record.exactSize),
                                          static_cast<int32_t>(i), download_item::kPending,
                                          record.folder);
        }
        target = wizard_page::kDownload;
        break;
    }
    case WizardNextAction::kOpenSites:
        target = wizard_page::kOpenSites;
        break;
    case WizardNextAction::kInstall:
        target = wizard_page::kInstall;
        break;
    case WizardNextAction::kFinish:
        return wizard_move::kStay;
    }
    installer.PublishSelection();
    return target;
}

} // namespace krv::setup
