#include "step_progress_dialogs.h"

#include "extraction_progress_model.h"
#include "log.h"
#include "messages.h"
#include "progress_window.h"
#include "ui_dispatcher.h"
#include "ui_strings.h"

#include <QGuiApplication>
#include <QProgressBar>
#include <QPushButton>

namespace krv::setup {

namespace {

constexpr uint32_t kDownloadTextId = 199; // "Загрузка %s"

// The bar counts in 32-bit steps; sizes above that are shown in KiB.
int BarValue(uint64_t value, uint64_t high) {
    const uint64_t divisor = high > INT32_MAX ? 1024 : 1;
    return static_cast<int>(std::min<uint64_t>(value / divisor, INT32_MAX));
}

} // namespace

WorkerProgressDialog::WorkerProgressDialog(std::string caption, WindowMode mode)
    : m_caption(std::move(caption)),
      m_withWindow(mode == WindowMode::Window ||
                   (mode == WindowMode::Automatic && QtDisplayAvailable() && UiVisible)) {}

WorkerProgressDialog::~WorkerProgressDialog() {
    if (m_worker.joinable())
        m_worker.join();
    delete m_window.data();
}

int WorkerProgressDialog::Run() {
    {
        std::lock_guard lock(m_endLock);
        m_endedFlag = false;
        m_result = dialog_result::kCancelled;
    }
    // Work that returns without ending the window ends it cancelled, so
    // nothing waits for an end that never comes.
    auto startWorker = [this] {
        m_workerDone = false;
        m_worker = std::thread([this] {
            Work();
            End(dialog_result::kCancelled);
            m_workerDone = true;
            UiDispatcher::Wake();
        });
    };
    int result;
    if (m_withWindow) {
        if (!m_window) {
            m_window = new ProgressWindow(ActiveOwner());
            m_window->SetCancelHandler([this] { OnCancel(); });
            QObject::connect(qGuiApp, &QGuiApplication::commitDataRequest, m_window,
                             [this] { OnSessionEnd(); });
        }
        m_window->setWindowTitle(QString::fromStdString(m_caption));
        m_window->TextLine()->SetFullText(
            QString::fromStdString(LoadUiString(extraction_text::kPreparing)));
        m_window->Bar()->setValue(0);
        m_window->SetReadyHandler(startWorker);
        result = m_window->RunModal();
        std::lock_guard lock(m_endLock);
        if (m_endedFlag)
            result = m_result;
    } else {
        startWorker();
        // A question the worker asks is answered on this thread meanwhile.
        UiDispatcher::WaitProcessingEvents([this] {
            std::lock_guard lock(m_endLock);
            return m_endedFlag;
        });
        std::unique_lock lock(m_endLock);
        m_ended.wait(lock, [this] { return m_endedFlag; });
        result = m_result;
    }
    if (m_worker.joinable()) {
        UiDispatcher::WaitProcessingEvents([this] { return m_workerDone.load(); });
        m_worker.join();
    }
    return result;
}

void WorkerProgressDialog::OnCancel() {
    m_cancelled = true;
    End(dialog_result::kCancelled);
}

void WorkerProgressDialog::OnSessionEnd() {}

void WorkerProgressDialog::End(int result) {
    {
        std::lock_guard lock(m_endLock);
        if (m_endedFlag)
            return;
        m_endedFlag = true;
        m_result = result;
    }
    m_ended.notify_all();
    UiDispatcher::Wake();
    QPointer<ProgressWindow> window = m_window;
    UiDispatcher::Post(window, [window, result] {
        if (window && window->isVisible())
            window->done(result);
    });
}

void WorkerProgressDialog::SetText(const std::string &text) {
    QPointer<ProgressWindow> window = m_window;
    const QString line = QString::fromStdString(text);
    UiDispatcher::Post(window, [window, line] {
        if (window)
            window->TextLine()->SetFullText(line);
    });
}

void WorkerProgressDialog::SetRange(uint64_t high) {
    m_high = high;
    m_position = 0;
    QPointer<ProgressWindow> window = m_window;
    UiDispatcher::Post(window, [window, high] {
        if (!window)
            return;
        window->Bar()->setRange(0, BarValue(high, high));
        window->Bar()->setValue(0);
    });
}

void WorkerProgressDialog::SetPosition(uint64_t position) {
    m_position = position;
    const uint64_t high = m_high;
    QPointer<ProgressWindow> window = m_window;
    UiDispatcher::Post(window, [window, position, high] {
        if (window)
            window->Bar()->setValue(BarValue(position, high));
    });
}

void WorkerProgressDialog::AddPosition(uint64_t amount) {
    SetPosition(m_position + amount);
}

void WorkerProgressDialog::GreyCancel() {
    QPointer<ProgressWindow> window = m_window;
    UiDispatcher::Post(window, [window] {
        if (window)
            window->SetCancellable(false);
    });
}

DownloadProgressDialog::DownloadProgressDialog(DownloadJob &job, std::string caption,
                                               WindowMode mode)
    : WorkerProgressDialog(std::move(caption), mode), m_job(job) {}

DownloadProgressDialog::~DownloadProgressDialog() = default;

void DownloadProgressDialog::Work() {
    m_job.Prepare(*this);
    const uint32_t count = m_job.ItemCount();
    Begin(count, 0);
    if (count == 0) {
        End(dialog_result::kFinished); // nothing to download is a finished list
        return;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (!m_job.DownloadItem(i, *this) || m_cancelled) {
            End(dialog_result::kCancelled);
            return;
        }
    }
}

void DownloadProgressDialog::OnCancel() {
    // The window stays, greyed, until the current item ends.
    m_cancelled = true;
    GreyCancel();
}

void DownloadProgressDialog::Begin(uint32_t count, uint32_t) {
    m_done = 0;
    m_count = count;
}

void DownloadProgressDialog::BeginItem(uint64_t size, std::string_view name) {
    SetText(FormatUiString(kDownloadTextId, name));
    SetRange(size);
}

void DownloadProgressDialog::EndItem(int) {
    if (++m_done >= m_count)
        End(dialog_result::kFinished);
}

void DownloadProgressDialog::Advance(uint64_t amount) {
    AddPosition(amount);
}

PrerequisiteProgressDialog::PrerequisiteProgressDialog(PrerequisitePass &pass, std::string caption,
                                                       WindowMode mode)
    : WorkerProgressDialog(std::move(caption), mode), m_pass(pass) {}

PrerequisiteProgressDialog::~PrerequisiteProgressDialog() = default;

void PrerequisiteProgressDialog::Work() {
    m_pass.ProcessPrerequisites(*this);
}

void PrerequisiteProgressDialog::OnSessionEnd() {
    m_pass.Abort();
}

void PrerequisiteProgressDialog::Begin(uint32_t count, uint32_t) {
    m_steps = 0;
    SetRange(count);
}

void PrerequisiteProgressDialog::SetStatus(const ProgressStatus &status) {
    SetText(status.text);
    SetPosition(++m_steps);
}

void PrerequisiteProgressDialog::EndItem(int) {
    if (m_pass.RebootRequired()) {
        End(dialog_result::kCancelled);
        return;
    }
    m_pass.SelectAllPrerequisites();
    End(m_pass.MandatoryPrerequisitesDone() ? dialog_result::kFinished
                                            : dialog_result::kMandatoryMissing);
}

} // namespace krv::setup
