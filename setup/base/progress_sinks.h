// The callback interfaces through which long setup work (downloads,
// prerequisite passes, package extraction, archive unpacking) reports to
// whoever shows it. The work runs on a worker thread and calls the sink from
// there; an implementer that owns a window carries the calls to the
// user-interface thread itself (ui/ui_dispatcher.h), so callers never care
// which thread they are on.
//
// Every method has a harmless default (nothing, or false), so an
// implementer overrides only the calls it acts on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace krv::setup {

// Dialog results of the progress windows.
namespace dialog_result {
inline constexpr int kFinished = 1;
inline constexpr int kCancelled = 2;        // cancelled, closed or failed
inline constexpr int kMandatoryMissing = 7; // prerequisite pass only
} // namespace dialog_result

// An auto-reset event: Signal wakes one waiter (or the next one to wait),
// then the event is clear again. The extraction worker waits on it until its
// progress window exists.
class AutoResetEvent {
  public:
    void Signal() {
        {
            std::lock_guard lock(m_lock);
            m_signalled = true;
        }
        m_changed.notify_one();
    }
    void Wait() {
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [this] { return m_signalled; });
        m_signalled = false;
    }
    // False when the time ran out before a signal.
    bool WaitFor(std::chrono::milliseconds limit) {
        std::unique_lock lock(m_lock);
        if (!m_changed.wait_for(lock, limit, [this] { return m_signalled; }))
            return false;
        m_signalled = false;
        return true;
    }

  private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_signalled = false;
};

// What ProgressSink::SetStatus carries: the download engine's one-byte
// status code (1-7), or a prerequisite pass's step text (code 0).
struct ProgressStatus {
    uint8_t downloadStatus = 0;
    std::string text;
};

// Downloads, prerequisite passes and launches.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    // The number of items or steps that follow; reserved is always 0.
    virtual void Begin(uint32_t count, uint32_t reserved) {
        (void)count;
        (void)reserved;
    }
    // An item starts: its expected size in bytes (or a step count) and its
    // name or local path.
    virtual void BeginItem(uint64_t size, std::string_view name) {
        (void)size;
        (void)name;
    }
    // The current item, or the whole run, is finished (callers pass 1).
    virtual void EndItem(int result) { (void)result; }
    virtual void SetStatus(const ProgressStatus &status) { (void)status; }
    // Bytes received since the last call (downloads) or an item result
    // (prerequisite launches).
    virtual void Advance(uint64_t amount) { (void)amount; }
    virtual bool IsCancelled() { return false; }
    virtual bool IsPaused() { return false; }
    // A failure of the current item; text may be empty.
    virtual void OnError(std::string_view text, uint32_t code) {
        (void)text;
        (void)code;
    }
};

// Byte progress of an extraction.
class ExtractionProgressSink {
  public:
    virtual ~ExtractionProgressSink() = default;
    // Total bytes of the run; resets the counters.
    virtual void SetTotal(uint64_t total) { (void)total; }
    // False greys the Cancel button and the window's Close command.
    virtual void SetCancellable(bool cancellable) { (void)cancellable; }
    // Shows the window modally and returns when it ends:
    // dialog_result::kFinished or kCancelled. Signals the ready event once
    // the window exists.
    virtual int ShowModal() { return dialog_result::kFinished; }
    // Ends the window with kCancelled; nothing when it has ended already.
    virtual void Close() {}
    // Signalled once the window is initialised (null: none).
    virtual void SetReadyEvent(AutoResetEvent *event) { (void)event; }
    // The file being written; nullopt changes nothing, an empty name shows
    // the general extraction text.
    virtual void SetCurrentFile(std::optional<std::string_view> name, int entryId) {
        (void)name;
        (void)entryId;
    }
    // Shown in place of every file name from now on (nullopt: none).
    virtual void SetFixedText(std::optional<std::string_view> text) { (void)text; }
    // The size of the next file.
    virtual void BeginFile(uint64_t size) { (void)size; }
    // Bytes written of the current file; true when cancelled.
    virtual bool Progress(uint64_t written) {
        (void)written;
        return false;
    }
    virtual bool IsCancelled() { return false; }
};

// Progress counted in steps (archive unpacking).
class StepProgressSink {
  public:
    virtual ~StepProgressSink() = default;
    virtual void SetCancellable(bool cancellable) { (void)cancellable; }
    // Switches the window to step mode and shows it modally (kFinished or
    // kCancelled).
    virtual int ShowModal() { return dialog_result::kFinished; }
    // The number of steps; clears the text line.
    virtual void BeginSteps(uint32_t count) { (void)count; }
    // Ends the window with kFinished when it still exists.
    virtual void Finish() {}
    // A path the text line shows.
    virtual void SetStepText(std::string_view path) { (void)path; }
    // One step done; the window ends with kFinished at the last one.
    virtual void Step() {}
    virtual bool IsCancelled() { return false; }
    virtual void SetReadyEvent(AutoResetEvent *event) { (void)event; }
};

// Asked once when an extraction target lacks space: true to go on with the
// entry, false to stop.
class DiskSpacePrompt {
  public:
    virtual ~DiskSpacePrompt() = default;
    virtual bool AskRetry(std::string_view targetPath, uint64_t needed) = 0;
};

} // namespace krv::setup
