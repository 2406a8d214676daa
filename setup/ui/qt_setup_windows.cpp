#include "qt_setup_windows.h"

#include "extraction_progress_dialog.h"
#include "extraction_progress_model.h"
#include "log.h"
#include "messages.h"
#include "progress_window.h"
#include "qt_message_boxes.h"
#include "runner_dialogs.h"
#include "status_window.h"
#include "system.h"
#include "ui_dispatcher.h"
#include "ui_strings.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QPointer>
#include <QProgressBar>
#include <QString>
#include <QUrl>

#include <algorithm>

namespace krv::setup {

namespace {

bool WindowsShown() {
    return UiVisible && QtDisplayAvailable();
}

// The bar counts in 32-bit steps; sizes above that are shown in KiB.
int BarValue(uint64_t value, uint64_t high) {
    const uint64_t divisor = high > INT32_MAX ? 1024 : 1;
    return static_cast<int>(std::min<uint64_t>(value / divisor, INT32_MAX));
}

class QtWorkerWindow : public WorkerWindow {
  public:
    ~QtWorkerWindow() override { delete m_window.data(); }

    void SetHandlers(std::function<void()> onCancel, std::function<void()> onSessionEnd) override {
        m_onCancel = std::move(onCancel);
        m_onSessionEnd = std::move(onSessionEnd);
    }

    int RunModal(const std::string &caption, std::function<void()> onReady) override {
        if (!m_window) {
            m_window = new ProgressWindow(ActiveOwner());
            m_window->SetCancelHandler([this] {
                if (m_onCancel)
                    m_onCancel();
            });
            QObject::connect(qGuiApp, &QGuiApplication::commitDataRequest, m_window, [this] {
                if (m_onSessionEnd)
                    m_onSessionEnd();
            });
        }
        m_window->setWindowTitle(QString::fromStdString(caption));
        m_window->TextLine()->SetFullText(
            QString::fromStdString(LoadUiString(extraction_text::kPreparing)));
        m_window->Bar()->setValue(0);
        m_window->SetReadyHandler(std::move(onReady));
        return m_window->RunModal();
    }

    void End(int result) override {
        QPointer<ProgressWindow> window = m_window;
        UiDispatcher::Post(window, [window, result] {
            if (window && window->isVisible())
                window->done(result);
        });
    }

    void SetText(const std::string &text) override {
        QPointer<ProgressWindow> window = m_window;
        const QString line = QString::fromStdString(text);
        UiDispatcher::Post(window, [window, line] {
            if (window)
                window->TextLine()->SetFullText(line);
        });
    }

    void SetRange(uint64_t high) override {
        QPointer<ProgressWindow> window = m_window;
        UiDispatcher::Post(window, [window, high] {
            if (!window)
                return;
            SetBarRange(window->Bar(), BarValue(high, high));
            window->Bar()->setValue(0);
        });
    }

    void SetPosition(uint64_t position, uint64_t high) override {
        QPointer<ProgressWindow> window = m_window;
        UiDispatcher::Post(window, [window, position, high] {
            if (window)
                window->Bar()->setValue(BarValue(position, high));
        });
    }

    void GreyCancel() override {
        QPointer<ProgressWindow> window = m_window;
        UiDispatcher::Post(window, [window] {
            if (window)
                window->SetCancellable(false);
        });
    }

    QObject *Owner() const override { return m_window.data(); }

  private:
    QPointer<ProgressWindow> m_window;
    std::function<void()> m_onCancel;
    std::function<void()> m_onSessionEnd;
};

} // namespace

std::unique_ptr<WorkerWindow> MakeProgressWorkerWindow() {
    return std::make_unique<QtWorkerWindow>();
}

QtSetupWindows::QtSetupWindows() = default;
QtSetupWindows::~QtSetupWindows() = default;

void QtSetupWindows::ShowStatus(const std::string &caption, uint32_t textId) {
    if (!WindowsShown())
        return;
    if (!m_status)
        m_status = std::make_unique<StatusWindow>();
    m_status->Show(ActiveOwner());
    m_status->SetCaption(caption);
    m_status->SetText(textId);
}

void QtSetupWindows::HideStatus() {
    if (m_status)
        m_status->Close();
}

std::unique_ptr<ExtractionProgress>
QtSetupWindows::MakeExtractionProgress(const std::string &caption, const SetupMessages &messages) {
    if (!WindowsShown())
        return nullptr;
    return std::make_unique<ExtractionProgressDialog>(caption, messages);
}

std::unique_ptr<WorkerWindow> QtSetupWindows::MakeWorkerWindow() {
    if (!WindowsShown())
        return nullptr;
    return MakeProgressWorkerWindow();
}

// Without a display a person can see, no window is shown: the password
// dialog counts as cancelled, and the instance dialog takes what it proposes
// (the first row of the mode it opens in), so an unattended run goes on as
// the dialog would have suggested.
std::optional<std::string> QtSetupWindows::AskPackagePassword(const std::string &caption) {
    if (!QtDisplayAvailable())
        return std::nullopt;
    return ShowPackagePasswordDialog(caption);
}

int QtSetupWindows::SelectInstance(InstalledInstances &instances, const std::string &caption,
                                   const std::string &productName) {
    if (!QtDisplayAvailable())
        return AcceptInstanceRow(instances, NewInstancePossible(instances), 0) ? 1 : 2;
    return InstanceSelectionDialog(instances, caption, productName);
}

LanguageDialogResult QtSetupWindows::ChooseLanguage(const std::vector<uint16_t> &available,
                                                    uint16_t suggested,
                                                    const std::string &caption) {
    if (!QtDisplayAvailable() || available.empty()) {
        // Nobody can answer: the dialog's own proposal stands.
        LanguageDialogResult out;
        out.result = 1;
        out.selected = suggested;
        return out;
    }
    return ShowLanguageDialog(available, suggested, caption);
}

bool QtSetupWindows::OpenUrl(const std::string &url, const platform::ProcessLauncher &programs) {
    if (QtDisplayAvailable())
        return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
    return ShellExecuteProcess(url, "", false, false, programs).started;
}

} // namespace krv::setup
