#include "install_page.h"

#include "prerequisite_installer.h"
#include "prerequisite_model.h"
#include "system.h"
#include "ui_dispatcher.h"
#include "ui_strings.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace krv::setup {
namespace {

constexpr int kMaxDots = 4;

} // namespace

PrerequisiteInstallPage::PrerequisiteInstallPage(WizardSheet &sheet)
    : WizardPage(
          sheet, wizard_page::kInstall, true, QStringLiteral("Установка компонентов"),
          QStringLiteral("Пожалуйста, подождите, пока устанавливаются выбранные компоненты.")) {
    m_list =
        MakeList("1024", {ui_text::kProgramColumn, ui_text::kInstallStateColumn}, {0, kFitColumn});
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setFocusPolicy(Qt::NoFocus);
    m_autoFinish = new QCheckBox(
        DialogText(wizard_page::kInstall, 1025,
                   QStringLiteral("Автоматически начать установку главного приложения после "
                                  "установки необходимых компонентов.")),
        this);
    m_autoFinish->setObjectName("1025");
    m_autoFinish->setChecked(true);
    m_icon = new QLabel(this);
    m_icon->setObjectName("1033");
    m_status = new QLabel(this);
    m_status->setObjectName("1012");
    m_status->setWordWrap(true);
    Body()->addWidget(m_list, 1);
    Body()->addWidget(m_autoFinish);
    auto *row = new QHBoxLayout();
    row->setSpacing(kWizardControlGap);
    row->addWidget(m_icon, 0, Qt::AlignTop);
    row->addWidget(m_status, 1);
    Body()->addLayout(row);
    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, [this] { Tick(); });
    // The session ends: the install pass stops before its next setup.
    if (qGuiApp)
        connect(qGuiApp, &QGuiApplication::commitDataRequest, this,
                [this] { Sheet().Installer().Abort(); });
}

PrerequisiteInstallPage::~PrerequisiteInstallPage() {
    StopWork();
}

void PrerequisiteInstallPage::StopWork() {
    // The launch thread reports to this page; a restart question it asks
    // meanwhile is answered on this thread.
    m_timer->stop();
    UiDispatcher::WaitProcessingEvents([this] { return !m_threadRunning; });
    Sheet().Installer().Launches().WaitLaunchThread();
}

void PrerequisiteInstallPage::ShowIcon(bool error) {
    const QIcon icon = style()->standardIcon(error ? QStyle::SP_MessageBoxCritical
                                                   : QStyle::SP_MessageBoxInformation);
    m_icon->setPixmap(icon.pixmap(32, 32));
}

void PrerequisiteInstallPage::OnSetActive() {
    WizardSheet &sheet = Sheet();
    sheet.EnableWizardControl(wizard_button::kFinish, false);
    sheet.EnableWizardControl(wizard_button::kBack, false);
    sheet.EnableWizardControl(wizard_button::kNext, false);
    m_autoFinish->setEnabled(true);
    ShowIcon(false);
    m_status->clear();
    m_runOver = false;
    m_failed = false;
    m_animating = false;
    m_endWithoutInstall = false;
    m_launchIndex = 0;
    m_list->clear();
    PrerequisiteInstaller &installer = sheet.Installer();
    const SetupSettings &settings = sheet.Settings();
    for (std::size_t i = 0; i < settings.prerequisites.size(); ++i) {
        const int32_t state = installer.GetPrerequisiteState(static_cast<int>(i));
        if (state != prereq_state::kFromPackage && state != prereq_state::kDownloaded)
            continue;
        auto *item = new QTreeWidgetItem(m_list);
        item->setText(0, QString::fromStdString(settings.prerequisites[i].name));
        item->setData(0, Qt::UserRole, static_cast<int>(i));
        SetCellText(item, 1, UiText(ui_text::kInstallWaiting));
    }
    if (installer.BuildLaunchList(false) != 0) {
        // The setups could not be taken out of the package.
        sheet.SetCancelFlag(true);
        sheet.PostPressButton(wizard_button::kCancel);
        return;
    }
    // Boxes of the launches belong to the window active when they start.
    installer.Launches().SetOwnerWindow(QApplication::activeWindow());
    m_threadRunning = true;
    installer.Launches().StartLaunchThread(this);
    if (sheet.Environment().timers)
        m_timer->start();
}

int PrerequisiteInstallPage::CurrentRow() const {
    const auto &items =
        const_cast<PrerequisiteInstallPage *>(this)->Sheet().Installer().Launches().Items();
    if (m_launchIndex >= items.size())
        return -1;
    const int index = items[m_launchIndex].prerequisiteIndex;
    for (int row = 0; row < m_list->topLevelItemCount(); ++row)
        if (m_list->topLevelItem(row)->data(0, Qt::UserRole).toInt() == index)
            return row;
    return -1;
}

void PrerequisiteInstallPage::SetRowState(int row, const std::string &text) {
    if (QTreeWidgetItem *item = m_list->topLevelItem(row))
        SetCellText(item, 1, QString::fromStdString(text));
}

// ---- the launch thread's reports, carried to the user-interface thread

void PrerequisiteInstallPage::SetStatus(const ProgressStatus &status) {
    UiDispatcher::Post(this, [this, path = status.text] {
        const int row = CurrentRow();
        const QTreeWidgetItem *item = m_list->topLevelItem(row);
        const std::string name = item ? item->text(0).toStdString() : std::string();
        m_status->setText(
            QString::fromStdString(FormatUiString(ui_text::kInstallingFrom, name, path)));
        if (item)
            m_list->scrollToItem(item);
        m_rowText = LoadUiString(ui_text::kInstalling);
        SetRowState(row, m_rowText);
        m_dotsAdded = 0;
        m_animating = true;
    });
}

void PrerequisiteInstallPage::Advance(uint64_t) {
    UiDispatcher::Post(this, [this] {
        m_animating = false;
        const int row = CurrentRow();
        const QTreeWidgetItem *item = m_list->topLevelItem(row);
        const bool found =
            item && Sheet().Installer().RedetectPrerequisite(item->data(0, Qt::UserRole).toInt());
        SetRowState(row, LoadUiString(found ? ui_text::kInstalled : ui_text::kInstallFailed));
        ++m_launchIndex;
    });
}

void PrerequisiteInstallPage::OnError(std::string_view, uint32_t code) {
    UiDispatcher::Post(this, [this, code] {
        m_animating = false;
        m_failed = true;
        SetRowState(CurrentRow(),
                    FormatUiString(ui_text::kInstallError, GetInternetErrorText(code)));
        ++m_launchIndex;
    });
}

void PrerequisiteInstallPage::EndItem(int) {
    m_threadRunning = false;
    UiDispatcher::Post(this, [this] {
        m_timer->stop();
        AllItemsRan();
    });
}

void PrerequisiteInstallPage::Tick() {
    if (!m_animating)
        return;
    const int row = CurrentRow();
    if (m_dotsAdded >= kMaxDots) {
        m_dotsAdded = 0;
        SetRowState(row, m_rowText);
        return;
    }
    ++m_dotsAdded;
    SetRowState(row, m_rowText + std::string(static_cast<std::size_t>(m_dotsAdded), '.'));
}

void PrerequisiteInstallPage::AllItemsRan() {
    WizardSheet &sheet = Sheet();
    PrerequisiteInstaller &installer = sheet.Installer();
    const LaunchList &launches = installer.Launches();
    m_animating = false;
    m_runOver = true;
    installer.LaunchesEnded();
    if (launches.RebootRefused()) {
        // No restart, so no main installation either.
        m_endWithoutInstall = true;
        sheet.SetCancelFlag(true);
        sheet.PressButton(wizard_button::kFinish);
        return;
    }
    m_list->clearSelection();
    const bool autoFinish = m_autoFinish->isChecked();
    m_autoFinish->setChecked(false);
    m_autoFinish->setEnabled(false);
    if (m_failed) {
        ShowIcon(true);
        m_status->setText(UiText(ui_text::kSomeNotInstalled));
        sheet.EnableWizardControl(wizard_button::kBack, true);
        return;
    }
    if (launches.RebootRequired()) {
        if (launches.RebootInProgress()) {
            ShowIcon(false);
            sheet.EnableWizardControl(wizard_button::kBack, false);
            sheet.EnableWizardControl(wizard_button::kNext, false);
            sheet.EnableWizardControl(wizard_button::kCancel, false);
            m_status->setText(UiText(ui_text::kRebootStarted));
            return;
        }
        // The restart could not be started: say so, and let the wizard end
        // (the run stops and resumes after the user's own restart).
        ShowIcon(true);
        m_status->setText(UiText(ui_text::kRebootFailed));
        sheet.EnableWizardControl(wizard_button::kFinish, true);
        return;
    }
    installer.SelectAllPrerequisites(false);
    if (!installer.AnyPrerequisiteToProcess()) {
        sheet.EnableWizardControl(wizard_button::kBack, true);
        sheet.EnableWizardControl(wizard_button::kFinish, true);
        m_status->setText(UiText(ui_text::kAllInstalled));
        if (autoFinish)
            sheet.PressButton(wizard_button::kFinish);
        return;
    }
    ShowIcon(true);
    sheet.EnableWizardControl(wizard_button::kFinish, false);
    m_status->setText(UiText(ui_text::kStillMissingAfterRun));
    sheet.EnableWizardControl(wizard_button::kBack, true);
}

int PrerequisiteInstallPage::OnWizardBack() {
    return wizard_page::kSelection;
}

bool PrerequisiteInstallPage::OnWizardFinish() {
    if (!m_endWithoutInstall)
        Sheet().SetCancelFlag(false);
    return true;
}

} // namespace krv::setup
