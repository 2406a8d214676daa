// The two progress dialogs that run work of their own on a worker thread:
// the download dialog (a list of downloads) and the prerequisite dialog (a
// prerequisite pass in basic-UI mode). Each is the ProgressSink of its
// work. The worker starts once the window exists; Run waits for it after
// the window has closed.
//
// Without a window (null) Run does the same work on a worker and returns
// the same results; the window comes from SetupWindows (setup_windows.h).
#pragma once

#include "progress_sinks.h"
#include "setup_windows.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace krv::setup {

// What the download dialog runs.
class DownloadJob {
  public:
    virtual ~DownloadJob() = default;
    // Hands the sink and the credential provider to the list, if it needs.
    virtual void Prepare(ProgressSink &sink) { (void)sink; }
    virtual uint32_t ItemCount() const = 0;
    // Downloads one item, reporting to the sink; false when it failed.
    virtual bool DownloadItem(uint32_t index, ProgressSink &sink) = 0;
};

// What the prerequisite dialog runs.
class PrerequisitePass {
  public:
    virtual ~PrerequisitePass() = default;
    virtual void ProcessPrerequisites(ProgressSink &sink) = 0;
    virtual bool RebootRequired() const = 0;
    virtual void SelectAllPrerequisites() = 0;
    virtual bool MandatoryPrerequisitesDone() const = 0;
    // The Windows session ends: stop the pass.
    virtual void Abort() = 0;
};

// The window part both dialogs share.
class WorkerProgressDialog : public ProgressSink {
  public:
    WorkerProgressDialog(std::string caption, std::unique_ptr<WorkerWindow> window);
    ~WorkerProgressDialog() override;
    // Shows the window (or none) and returns its result once the worker
    // has ended.
    int Run();
    bool IsCancelled() override { return m_cancelled; }
    WorkerWindow *Window() const { return m_window.get(); }

  protected:
    virtual void Work() = 0;
    // What the user's Cancel does: by default the window ends with 2 at once.
    virtual void OnCancel();
    // The Windows session ends.
    virtual void OnSessionEnd();
    // Ends the window (or the run) with the result; the first end counts.
    void End(int result);
    void SetText(const std::string &text);
    void SetRange(uint64_t high);
    void SetPosition(uint64_t position);
    void AddPosition(uint64_t amount);
    void GreyCancel();

    std::atomic<bool> m_cancelled{false};

  private:
    std::string m_caption;
    std::unique_ptr<WorkerWindow> m_window;
    std::thread m_worker;
    std::atomic<bool> m_workerDone{false};
    std::mutex m_endLock;
    std::condition_variable m_ended;
    bool m_endedFlag = false;
    int m_result = 0;
    std::atomic<uint64_t> m_position{0};
    std::atomic<uint64_t> m_high{0};
};

class DownloadProgressDialog : public WorkerProgressDialog {
  public:
    DownloadProgressDialog(DownloadJob &job, std::string caption,
                           std::unique_ptr<WorkerWindow> window);
    ~DownloadProgressDialog() override;
    void Begin(uint32_t count, uint32_t reserved) override;
    void BeginItem(uint64_t size, std::string_view name) override;
    void EndItem(int result) override;
    void Advance(uint64_t amount) override;

  protected:
    void Work() override;
    void OnCancel() override;

  private:
    DownloadJob &m_job;
    std::atomic<uint32_t> m_done{0};
    std::atomic<uint32_t> m_count{0};
};

class PrerequisiteProgressDialog : public WorkerProgressDialog {
  public:
    PrerequisiteProgressDialog(PrerequisitePass &pass, std::string caption,
                               std::unique_ptr<WorkerWindow> window);
    ~PrerequisiteProgressDialog() override;
    void Begin(uint32_t count, uint32_t reserved) override;
    void EndItem(int result) override;
    void SetStatus(const ProgressStatus &status) override;

  protected:
    void Work() override;
    void OnSessionEnd() override;

  private:
    PrerequisitePass &m_pass;
    std::atomic<uint32_t> m_steps{0};
};

} // namespace krv::setup
