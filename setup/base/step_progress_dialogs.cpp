#include "step_progress_dialogs.h"

#include "ui_dispatcher.h"
#include "ui_strings.h"

namespace krv::setup {

namespace {

constexpr uint32_t kDownloadTextId = 199; // "Загрузка %s"

} // namespace

WorkerProgressDialog::WorkerProgressDialog(std::string caption,
                                           std::unique_ptr<WorkerWindow> window)
    : m_caption(std::move(caption)), m_window(std::move(window)) {}

WorkerProgressDialog::~WorkerProgressDialog() {
    if (m_worker.joinable())
        m_worker.join();
    m_window.reset();
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
    if (m_window) {
        m_window->SetHandlers([this] { OnCancel(); }, [this] { OnSessionEnd(); });
        result = m_window->RunModal(m_caption, startWorker);
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
    if (m_window)
        m_window->End(result);
}

void WorkerProgressDialog::SetText(const std::string &text) {
    if (m_window)
        m_window->SetText(text);
}

void WorkerProgressDialog::SetRange(uint64_t high) {
    m_high = high;
    m_position = 0;
    if (m_window)
        m_window->SetRange(high);
}

void WorkerProgressDialog::SetPosition(uint64_t position) {
    m_position = position;
    if (m_window)
        m_window->SetPosition(position, m_high);
}

void WorkerProgressDialog::AddPosition(uint64_t amount) {
    SetPosition(m_position + amount);
}

void WorkerProgressDialog::GreyCancel() {
    if (m_window)
        m_window->GreyCancel();
}

DownloadProgressDialog::DownloadProgressDialog(DownloadJob &job, std::string caption,
                                               std::unique_ptr<WorkerWindow> window)
    : WorkerProgressDialog(std::move(caption), std::move(window)), m_job(job) {}

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
                                                       std::unique_ptr<WorkerWindow> window)
    : WorkerProgressDialog(std::move(caption), std::move(window)), m_pass(pass) {}

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
