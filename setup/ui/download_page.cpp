#include "download_page.h"

#include "download_codes.h"
#include "files.h"
#include "log.h"
#include "messages.h"
#include "prerequisite_installer.h"
#include "prerequisite_model.h"
#include "progress_window.h"
#include "system.h"
#include "ui_dispatcher.h"
#include "ui_strings.h"
#include "wizard_texts.h"

#include <QCheckBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <limits>

#include <unistd.h>

namespace krv::setup {
namespace {

constexpr uint32_t kShortTransfer = 0xE000000Fu;
constexpr int kRowFailed = 5;
constexpr int kPollMs = 5;

// A bar shows 64-bit counts: both are scaled down until the range fits.
void SetBar(QProgressBar *bar, uint64_t value, uint64_t maximum) {
    int shift = 0;
    while ((maximum >> shift) > static_cast<uint64_t>(std::numeric_limits<int>::max()))
        ++shift;
    SetBarRange(bar, static_cast<int>(maximum >> shift));
    bar->setValue(static_cast<int>(std::min(value, maximum) >> shift));
}

// The user cannot move the list's selection; the page moves it.
class ClickBlocker : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject *, QEvent *event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
            return true;
        default:
            return false;
        }
    }
};

} // namespace

DownloadPage::DownloadPage(WizardSheet &sheet)
    : WizardPage(sheet, wizard_page::kDownload, true, QStringLiteral("Загрузка компонентов"),
                 QStringLiteral("Пожалуйста, подождите, пока загружаются выбранные компоненты.")) {
    m_list = MakeList("1007", {ui_text::kLinkColumn, ui_text::kSizeColumn, ui_text::kStateColumn},
                      {0, 70, kFitColumn});
    // An address keeps its file name in sight: it is shortened in the middle.
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setFocusPolicy(Qt::NoFocus);
    auto *blocker = new ClickBlocker(m_list);
    m_list->viewport()->installEventFilter(blocker);
    m_list->installEventFilter(blocker);

    m_overallText = new QLabel(this);
    m_overallText->setObjectName("1013");
    m_overallBar = new QProgressBar(this);
    m_overallBar->setObjectName("1009");
    m_overallBar->setTextVisible(false);
    m_currentText = new QLabel(this);
    m_currentText->setObjectName("1012");
    m_currentBar = new QProgressBar(this);
    m_currentBar->setObjectName("1008");
    m_currentBar->setTextVisible(false);
    m_speedText = new QLabel(QStringLiteral("0 КБ/с"), this);
    m_speedText->setObjectName("1014");
    // A long path is shortened in its middle, so that its file name shows;
    // its tooltip holds all of it.
    m_pathText = new ElidedLabel(this);
    m_pathText->setObjectName("1031");
    m_pathText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pathText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_pause = new QPushButton(UiText(ui_text::kPause), this);
    m_pause->setObjectName("1011");
    m_autoInstall = new QCheckBox(
        DialogText(
            wizard_page::kDownload, 1026,
            QStringLiteral("Автоматически установить необходимые программы после загрузки.")),
        this);
    m_autoInstall->setObjectName("1026");

    Body()->addWidget(m_list, 1);
    Body()->addWidget(m_overallText);
    Body()->addWidget(m_overallBar);
    Body()->addWidget(m_currentText);
    Body()->addWidget(m_currentBar);
    auto *details = new QFormLayout();
    details->setHorizontalSpacing(kWizardControlGap);
    details->addRow(DialogText(wizard_page::kDownload, 1039, QStringLiteral("Оставшееся время:")),
                    m_speedText);
    details->addRow(DialogText(wizard_page::kDownload, 1038, QStringLiteral("Сохранение в:")),
                    m_pathText);
    auto *row = new QHBoxLayout();
    row->addLayout(details, 1);
    row->addWidget(m_pause, 0, Qt::AlignTop);
    Body()->addLayout(row);
    Body()->addWidget(m_autoInstall);

    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, [this] { Tick(); });
    connect(m_pause, &QPushButton::clicked, this, [this] { TogglePause(); });
    const WizardEnvironment &environment = sheet.Environment();
    m_downloader = environment.downloaderFactory
                       ? environment.downloaderFactory(this)
                       : SessionDownloaderFactory(nullptr, environment.messages)(this);
}

DownloadPage::~DownloadPage() {
    // The worker reports to this page: it stops before the page goes.
    StopWork();
    m_downloader.reset();
}

void DownloadPage::StopWork() {
    m_abort = true;
    m_paused = false;
    m_timer->stop();
    // A worker waiting for an answer of this thread (a prompt) gets it.
    UiDispatcher::WaitProcessingEvents([this] { return !m_downloader->IsRunning(); });
    m_downloader->Wait();
}

void DownloadPage::Post(std::function<void()> fn) {
    const uint64_t generation = m_generation.load();
    UiDispatcher::Post(this, [this, generation, fn = std::move(fn)] {
        // A download given up (abort set) or one before the current one
        // reports nothing more.
        if (generation == m_generation.load() && !m_abort)
            fn();
    });
}

void DownloadPage::SetColumn(int column, const std::string &text) {
    if (QTreeWidgetItem *item = m_list->topLevelItem(m_current))
        SetCellText(item, column, QString::fromStdString(text));
}

uint64_t DownloadPage::OverallBytesTotal() const {
    uint64_t total = 0;
    for (const Row &row : m_rows) {
        if (row.knownSize == 0)
            return 0;
        total += row.knownSize;
    }
    return total;
}

void DownloadPage::ShowBars() {
    SetBar(m_overallBar, m_overallDone, m_overallTotal);
    SetBar(m_currentBar, m_currentBytes, m_currentSize);
}

void DownloadPage::OnSetActive() {
    m_active = true;
    if (Sheet().Environment().timers && !m_timer->isActive())
        m_timer->start();
    Sheet().EnableWizardControl(wizard_button::kNext, false);
    Sheet().EnableWizardControl(wizard_button::kFinish, false);
    m_failures = 0;
    if (m_cameBack) {
        m_cameBack = false;
        // The download left paused is given up; the cycle starts again at
        // the first row (a file already finished is fetched again, a partial
        // one continues from its ".part" file).
        m_abort = true;
        m_paused = false;
        ++m_generation;
        UiDispatcher::WaitProcessingEvents([this] { return !m_downloader->IsRunning(); });
        m_downloader->Wait();
    }
    FillList(true);
    const bool sites = Sheet().Installer().AnyPrerequisiteToOpenSite();
    m_autoInstall->setChecked(!sites);
    m_autoInstall->setEnabled(!sites);
}

void DownloadPage::FillList(bool start) {
    m_list->clear();
    m_rows.clear();
    m_overallTotal = 0;
    m_overallDone = 0;
    m_overallBytes = 0;
    m_cycleOver = false;
    for (const DownloadItem &item : Sheet().Installer().Downloads().Items()) {
        Row row;
        row.url = item.url;
        row.expectedSize = item.expectedSize;
        row.knownSize = item.expectedSize;
        row.sizeUnknown = item.expectedSize == 0;
        row.prerequisiteIndex = item.prerequisiteIndex;
        auto *entry = new QTreeWidgetItem(m_list);
        SetCellText(entry, 0, QString::fromStdString(item.url));
        entry->setData(0, Qt::UserRole, item.prerequisiteIndex);
        entry->setText(1, item.expectedSize
                              ? QString::fromStdString(FormatByteSize(item.expectedSize, false))
                              : QStringLiteral("???"));
        SetCellText(entry, 2, UiText(ui_text::kDownloadWaiting));
        m_overallTotal += item.expectedSize ? item.expectedSize : kUnknownSizeShare;
        m_rows.push_back(row);
    }
    m_current = -1;
    m_currentBytes = 0;
    m_currentSize = 0;
    ShowBars();
    if (!start)
        return;
    m_current = 0;
    m_cycleFirst = 0;
    if (m_rows.empty()) {
        // Nothing to fetch: the cycle is over at once.
        m_current = -1;
        RowEnded(0);
        return;
    }
    StartRow();
}

void DownloadPage::StartRow() {
    const Row &row = m_rows[static_cast<std::size_t>(m_current)];
    const DownloadList &downloads = Sheet().Installer().Downloads();
    const DownloadItem &item = downloads.Items()[static_cast<std::size_t>(m_current)];
    m_currentBytes = 0;
    m_currentCounted = 0;
    m_currentSize = row.expectedSize;
    m_succeeded = false;
    m_list->setCurrentItem(m_list->topLevelItem(m_current));
    m_abort = false;
    m_paused = false;
    m_pause->setText(UiText(ui_text::kPause));
    m_firstAdvance = true;
    m_sizeUnknown = row.sizeUnknown;
    m_target = downloads.GetDownloadTargetPath(item);
    const SetupSettings &settings = Sheet().Settings();
    const PrerequisiteRecord *record =
        HasRecord(row) ? &settings.prerequisites[static_cast<std::size_t>(row.prerequisiteIndex)]
                       : nullptr;
    m_name = record ? record->name : std::string();
    m_check = DownloadCheck(m_target, downloads.Folder(), row.expectedSize,
                            record ? record->md5 : std::string());
    m_seconds = 0;
    m_speedBase = 0;
    m_pathText->SetFullText(QString::fromStdString(m_target));
    ShowBars();
    UpdateTexts();
    Sheet().EnableWizardControl(wizard_button::kBack, false);
    Sheet().EnableWizardControl(wizard_button::kFinish, false);
    m_pause->setEnabled(false);
    LogLine("Started download from:" + row.url + ". Saving file to:" + m_target);
    ++m_generation;
    const uint32_t error = m_downloader->Start(row.url, m_target);
    if (error != 0)
        HandleError({}, error);
}

// ---- the downloader's reports

void DownloadPage::BeginItem(uint64_t size, std::string_view) {
    const bool accepted = m_check.Announce(size);
    Post([this, size, accepted] { HandleBeginItem(size, accepted); });
}

void DownloadPage::Advance(uint64_t bytes) {
    Post([this, bytes] { HandleAdvance(bytes); });
}

void DownloadPage::EndItem(int) {
    // A download given up is not checked (nor its file deleted).
    if (m_abort)
        return;
    const int verdict = m_check.Finish([this] { Post([this] { ShowChecking(); }); });
    Post([this, verdict, size = m_check.FileSize()] { HandleEndItem(verdict, size); });
}

void DownloadPage::OnError(std::string_view text, uint32_t code) {
    Post([this, text = std::string(text), code] { HandleError(text, code); });
}

void DownloadPage::HandleBeginItem(uint64_t size, bool sizeAccepted) {
    Sheet().EnableWizardControl(wizard_button::kBack, true);
    Sheet().EnableWizardControl(wizard_button::kFinish, false);
    m_pause->setEnabled(true);
    Row &row = m_rows[static_cast<std::size_t>(m_current)];
    m_sizeUnknown = row.sizeUnknown;
    if (size < 1)
        return;
    m_currentSize = size;
    if (!m_sizeUnknown) {
        if (!sizeAccepted)
            RefuseSize(true);
        return;
    }
    row.expectedSize = size;
    row.knownSize = size;
    m_currentBytes = 0;
    ShowBars();
    SetColumn(1, FormatByteSize(static_cast<uint32_t>(
                                    std::min<uint64_t>(size, std::numeric_limits<uint32_t>::max())),
                                false));
}

void DownloadPage::HandleAdvance(uint64_t bytes) {
    if (m_firstAdvance) {
        // The first report is what a resumed file already held.
        m_firstAdvance = false;
        m_speedBase = bytes;
    }
    m_currentBytes += bytes;
    m_overallBytes += bytes;
    const uint64_t counted = m_sizeUnknown ? ScaledUnknownShare(bytes, m_currentSize) : bytes;
    m_currentCounted += counted;
    m_overallDone += counted;
    ShowBars();
}

bool DownloadPage::HasRecord(const Row &row) {
    return row.prerequisiteIndex >= 0 && static_cast<std::size_t>(row.prerequisiteIndex) <
                                             Sheet().Settings().prerequisites.size();
}

void DownloadPage::RefuseSize(bool endNow) {
    LogLine("Size of downloaded file is wrong. Received size:" + std::to_string(m_currentSize));
    ++m_failures;
    SetColumn(2, LoadUiString(ui_text::kWrongSize));
    if (endNow) {
        // The rest of this download's reports are dropped.
        m_abort = true;
        RowEnded(kRowFailed);
    }
}

// The worker is about to compute the file's MD5: the row says so and the
// page cannot be left or paused until the answer is in.
void DownloadPage::ShowChecking() {
    Sheet().EnableWizardControl(wizard_button::kBack, false);
    m_pause->setEnabled(false);
    m_speedText->clear();
    m_active = false;
    SetColumn(2, LoadUiString(ui_text::kCheckingMd5));
}

void DownloadPage::HandleEndItem(int verdict, uint64_t fileSize) {
    const int keep = Sheet().Settings().general.keepMode;
    if (keep != keep_mode::kComplete && keep != keep_mode::kPrereqs)
        Sheet().Installer().Downloads().RecordFileForDeletion(m_target);
    const Row &row = m_rows[static_cast<std::size_t>(m_current)];
    if (verdict == download_check::kWrongSize) {
        m_currentSize = fileSize;
        RefuseSize(false);
    } else if (verdict == download_check::kWrongMd5) {
        LogLine("MD5 of downloaded file is invalid.");
        ++m_failures;
        SetColumn(2, LoadUiString(ui_text::kCorruptFileDeleted));
        // Errors are handled again once the next row starts.
        m_active = true;
    } else {
        if (HasRecord(row)) {
            SetupSettings &settings = Sheet().Settings();
            SetDownloadedFlag(settings, row.prerequisiteIndex, true);
            if (!settings.prerequisites[static_cast<std::size_t>(row.prerequisiteIndex)]
                     .md5.empty()) {
                // After ShowChecking the page is usable again.
                Sheet().EnableWizardControl(wizard_button::kBack, true);
                m_pause->setEnabled(true);
                m_active = true;
            }
        }
        LogLine("Download completed succesfully.");
        m_succeeded = true;
        // A file of unknown size has one now.
        if (Row &done = m_rows[static_cast<std::size_t>(m_current)]; done.knownSize == 0)
            done.knownSize = m_currentBytes;
        UpdateTexts();
        SetColumn(2, LoadUiString(ui_text::kCompleted));
    }
    RowEnded(0);
}

void DownloadPage::HandleError(const std::string &text, uint32_t code) {
    if (code == download_code::kCancelled) {
        // The setup was stopped: the wizard ends, and the run with it.
        LogLine("Download was canceled.");
        m_abort = true;
        m_timer->stop();
        Sheet().PressButton(wizard_button::kCancel);
        return;
    }
    LogLine("Download failed. Error:" + GetInternetErrorText(code));
    if (!m_active || m_current < 0)
        return;
    Row &row = m_rows[static_cast<std::size_t>(m_current)];
    if (code == kShortTransfer && row.shortRestarts < kMaxShortTransferRestarts) {
        ++row.shortRestarts;
        // The row starts again from what its ".part" file holds, which the
        // first report counts again.
        m_overallDone -= std::min(m_overallDone, m_currentCounted);
        m_overallBytes -= std::min(m_overallBytes, m_currentBytes);
        RestartRow();
        return;
    }
    row.failed = true;
    m_speedText->setText(QString::fromStdString(text));
    SetColumn(2, FormatUiString(ui_text::kDownloadError, GetInternetErrorText(code)));
    ++m_failures;
    RowEnded(kRowFailed);
}

// ---- sequencing on the user-interface thread

void DownloadPage::RestartRow() {
    m_abort = true;
    ++m_generation;
    if (m_downloader->IsRunning()) {
        QTimer::singleShot(kPollMs, this, [this] { RestartRow(); });
        return;
    }
    m_downloader->Wait();
    StartRow();
}

void DownloadPage::RowEnded(int code) {
    if (m_downloader->IsRunning()) {
        const uint64_t generation = m_generation.load();
        QTimer::singleShot(kPollMs, this, [this, code, generation] {
            if (generation == m_generation.load())
                RowEnded(code);
        });
        return;
    }
    m_downloader->Wait();
    if (m_rows.empty())
        m_current = m_cycleFirst;
    else
        m_current = m_current < 0 ? 0 : (m_current + 1) % static_cast<int>(m_rows.size());
    if (m_current != m_cycleFirst) {
        StartRow();
        return;
    }
    // The cycle is over.
    m_cycleOver = true;
    m_timer->stop();
    m_speedText->clear();
    m_pathText->SetFullText({});
    m_pause->setEnabled(false);
    if (m_failures > 0) {
        Sheet().Environment().messages.MessageBoxFromStrings(this, ui_text::kSomeNotDownloaded,
                                                             std::nullopt, mb::kIconError);
        m_cameBack = false;
        Sheet().EnableWizardControl(wizard_button::kBack, true);
        return;
    }
    Sheet().EnableWizardControl(wizard_button::kBack, true);
    Sheet().EnableWizardControl(wizard_button::kNext, true);
    if (m_autoInstall->isChecked())
        Sheet().PostPressButton(wizard_button::kNext);
}

void DownloadPage::TogglePause() {
    m_paused = !m_paused;
    if (m_paused) {
        m_pause->setText(UiText(ui_text::kResume));
        m_speedText->clear();
        UpdateTexts();
        SetColumn(2, LoadUiString(ui_text::kPaused));
    } else {
        m_pause->setText(UiText(ui_text::kPause));
        m_seconds = 0;
        m_speedBase = m_currentBytes;
    }
}

void DownloadPage::Tick() {
    if (m_paused || !m_active)
        return;
    const uint64_t speed = m_seconds == 0 || m_currentBytes < m_speedBase
                               ? 0
                               : (m_currentBytes - m_speedBase) / m_seconds;
    m_speedText->setText(
        QString::fromStdString(RemainingTimeText(speed, m_currentSize, m_currentBytes)));
    UpdateTexts();
    ++m_seconds;
}

void DownloadPage::UpdateTexts() {
    const TransferState state = m_paused      ? TransferState::kPaused
                                : m_succeeded ? TransferState::kSucceeded
                                              : TransferState::kRunning;
    const DownloadProgressTexts texts = FormatDownloadProgress(
        m_overallBytes, OverallBytesTotal(), m_currentBytes, m_currentSize, m_name, state);
    m_overallText->setText(QString::fromStdString(texts.overall));
    if (m_current < 0)
        return;
    m_currentText->setText(QString::fromStdString(texts.current));
    SetColumn(2, texts.column);
}

// ---- wizard notifications

int DownloadPage::OnWizardBack() {
    m_pausedBeforeBack = m_paused;
    m_cameBack = true;
    m_paused = true;
    return wizard_move::kDefault;
}

int DownloadPage::OnWizardNext() {
    m_cameBack = false;
    return Sheet().Installer().AnyPrerequisiteToOpenSite() ? wizard_page::kOpenSites
                                                           : wizard_page::kInstall;
}

} // namespace krv::setup
