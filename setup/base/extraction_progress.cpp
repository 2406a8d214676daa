#include "extraction_progress.h"

#include "messages.h"

namespace krv::setup {

class ExtractionProgress::ExtractionPart : public ExtractionProgressSink {
  public:
    explicit ExtractionPart(ExtractionProgress &owner) : m_owner(owner) {}

    void SetTotal(uint64_t total) override {
        uint32_t range;
        {
            std::lock_guard lock(m_owner.m_lock);
            m_owner.m_model.SetTotal(total);
            range = m_owner.m_model.Range();
        }
        m_owner.ShowRange(range);
    }
    void SetCancellable(bool cancellable) override { m_owner.m_notCancellable = !cancellable; }
    int ShowModal() override { return m_owner.ShowModal(false); }
    void Close() override { m_owner.EndWindow(dialog_result::kCancelled); }
    void SetReadyEvent(AutoResetEvent *event) override {
        std::lock_guard lock(m_owner.m_lock);
        m_owner.m_readyEvent = event;
    }
    void SetCurrentFile(std::optional<std::string_view> name, int entryId) override {
        (void)entryId;
        std::optional<Texts> texts;
        {
            std::lock_guard lock(m_owner.m_lock);
            texts = m_owner.m_model.CurrentFileTexts(name);
        }
        if (texts)
            m_owner.ShowTexts(*texts);
    }
    void SetFixedText(std::optional<std::string_view> text) override {
        std::lock_guard lock(m_owner.m_lock);
        m_owner.m_model.SetFixedText(text);
    }
    void BeginFile(uint64_t size) override {
        std::lock_guard lock(m_owner.m_lock);
        m_owner.m_model.BeginFile(size);
    }
    bool Progress(uint64_t written) override {
        if (m_owner.m_cancelled)
            return true;
        std::optional<uint32_t> position;
        {
            std::lock_guard lock(m_owner.m_lock);
            position = m_owner.m_model.Progress(written);
        }
        if (position)
            m_owner.ShowPosition(*position);
        else
            m_owner.EndWindow(dialog_result::kFinished);
        return m_owner.m_cancelled;
    }
    bool IsCancelled() override { return m_owner.m_cancelled; }

  private:
    ExtractionProgress &m_owner;
};

class ExtractionProgress::StepPart : public StepProgressSink {
  public:
    explicit StepPart(ExtractionProgress &owner) : m_owner(owner) {}

    void SetCancellable(bool cancellable) override { m_owner.m_notCancellable = !cancellable; }
    int ShowModal() override { return m_owner.ShowModal(true); }
    void BeginSteps(uint32_t count) override {
        {
            std::lock_guard lock(m_owner.m_lock);
            m_owner.m_model.BeginSteps(count);
        }
        m_owner.ShowRange(count);
        m_owner.ShowPosition(0);
        m_owner.ShowTexts(Texts{});
    }
    void Finish() override { m_owner.EndWindow(dialog_result::kFinished); }
    void SetStepText(std::string_view path) override {
        m_owner.ShowTexts(ExtractionProgressModel::StepTexts(path));
    }
    void Step() override {
        std::optional<uint32_t> position;
        {
            std::lock_guard lock(m_owner.m_lock);
            position = m_owner.m_model.Step();
        }
        if (position)
            m_owner.ShowPosition(*position);
        else
            m_owner.EndWindow(dialog_result::kFinished);
    }
    bool IsCancelled() override { return m_owner.m_cancelled; }
    void SetReadyEvent(AutoResetEvent *event) override {
        std::lock_guard lock(m_owner.m_lock);
        m_owner.m_readyEvent = event;
    }

  private:
    ExtractionProgress &m_owner;
};

class ExtractionProgress::DiskSpacePart : public DiskSpacePrompt {
  public:
    explicit DiskSpacePart(SetupMessages messages) : m_messages(std::move(messages)) {}
    bool AskRetry(std::string_view targetPath, uint64_t needed) override {
        // The question box itself reaches the user-interface thread when
        // asked from a worker (messages.h).
        return m_messages.AskRetryForDiskSpace(targetPath, needed);
    }

  private:
    SetupMessages m_messages;
};

ExtractionProgress::ExtractionProgress(SetupMessages messages)
    : m_extraction(std::make_unique<ExtractionPart>(*this)),
      m_diskSpace(std::make_unique<DiskSpacePart>(std::move(messages))),
      m_steps(std::make_unique<StepPart>(*this)) {}

ExtractionProgress::~ExtractionProgress() = default;

ExtractionDialogParts ExtractionProgress::Parts() {
    return {m_extraction.get(), m_diskSpace.get(), m_steps.get()};
}

void ExtractionProgress::Cancel() {
    m_cancelled = true;
    EndWindow(dialog_result::kCancelled);
}

void ExtractionProgress::WindowReady() {
    AutoResetEvent *event;
    {
        std::lock_guard lock(m_lock);
        event = m_readyEvent;
    }
    if (event)
        event->Signal();
}

bool ExtractionProgress::StepMode() const {
    std::lock_guard lock(m_lock);
    return m_model.StepMode();
}

int ExtractionProgress::ShowModal(bool stepMode) {
    {
        std::lock_guard lock(m_lock);
        m_model.SetStepMode(stepMode);
    }
    return RunWindow();
}

SilentExtractionProgress::~SilentExtractionProgress() {
    EndWindow(dialog_result::kFinished);
}

int SilentExtractionProgress::RunWindow() {
    {
        std::lock_guard lock(m_stateLock);
        m_shown = true;
        m_ended = false;
    }
    WindowReady();
    std::unique_lock lock(m_stateLock);
    m_stateChanged.wait(lock, [this] { return m_ended; });
    m_shown = false;
    return m_result;
}

void SilentExtractionProgress::EndWindow(int result) {
    {
        std::lock_guard lock(m_stateLock);
        if (!m_shown || m_ended)
            return;
        m_ended = true;
        m_result = result;
    }
    m_stateChanged.notify_all();
}

} // namespace krv::setup
