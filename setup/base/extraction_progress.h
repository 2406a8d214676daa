// The extraction progress window's behaviour, shared by the window and the
// no-window sink that silent runs use: the three interface parts it hands
// out (ExtractionProgressSink, DiskSpacePrompt, StepProgressSink), the
// cancelled and not-cancellable flags, the ready event and the counting.
// A subclass supplies the window: how it is shown, ended and updated.
#pragma once

#include "extraction_progress_model.h"
#include "messages.h"
#include "progress_sinks.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace krv::setup {

struct ExtractionDialogParts {
    ExtractionProgressSink *extraction = nullptr;
    DiskSpacePrompt *diskSpace = nullptr;
    StepProgressSink *steps = nullptr;
};

class ExtractionProgress {
  public:
    // The disk-space question goes through the messages.
    explicit ExtractionProgress(SetupMessages messages);
    virtual ~ExtractionProgress();
    ExtractionProgress(const ExtractionProgress &) = delete;
    ExtractionProgress &operator=(const ExtractionProgress &) = delete;

    ExtractionDialogParts Parts();
    bool Cancelled() const { return m_cancelled; }
    // The user's Cancel: the flag is set and the window ends cancelled.
    void Cancel();

  protected:
    using Texts = ExtractionProgressModel::Texts;

    // Shows the window and returns its result once it has ended. The
    // window calls WindowReady() once it exists.
    virtual int RunWindow() = 0;
    // Ends the window with the result; nothing when it is not shown.
    // May be called from any thread.
    virtual void EndWindow(int result) = 0;
    // Updates; called from the worker, so a window posts them.
    virtual void ShowRange(uint32_t range) { (void)range; }
    virtual void ShowPosition(uint32_t position) { (void)position; }
    virtual void ShowTexts(const Texts &texts) { (void)texts; }

    // Signals the ready event, if one was handed over.
    void WindowReady();
    bool NotCancellable() const { return m_notCancellable; }
    bool StepMode() const;

  private:
    class ExtractionPart;
    class DiskSpacePart;
    class StepPart;
    friend class ExtractionPart;
    friend class StepPart;

    int ShowModal(bool stepMode);

    mutable std::mutex m_lock; // the model and the ready event
    ExtractionProgressModel m_model;
    AutoResetEvent *m_readyEvent = nullptr;
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_notCancellable{false};
    std::unique_ptr<ExtractionPart> m_extraction;
    std::unique_ptr<DiskSpacePart> m_diskSpace;
    std::unique_ptr<StepPart> m_steps;
};

// The sink silent runs use: nothing is shown; ShowModal signals the ready
// event and waits until the worker closes it or its progress reaches the
// total. Disk-space questions get AskRetryForDiskSpace's silent answer.
class SilentExtractionProgress : public ExtractionProgress {
  public:
    using ExtractionProgress::ExtractionProgress;
    ~SilentExtractionProgress() override;

  protected:
    int RunWindow() override;
    void EndWindow(int result) override;

  private:
    std::mutex m_stateLock;
    std::condition_variable m_stateChanged;
    bool m_shown = false;
    bool m_ended = false;
    int m_result = 0;
};

// The download and prerequisite sinks of a silent run: nothing is shown and
// nothing is cancelled.
class SilentProgressSink : public ProgressSink {};

} // namespace krv::setup
