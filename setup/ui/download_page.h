// The wizard page that downloads the prerequisites the selection page put
// into the manager's download list, one row after the other: the list of
// files with their size and state, the overall and current bars and texts,
// the remaining time and speed, pause and resume, and an option to go on to
// the installation by itself. Each finished file is checked for its size and
// MD5 on the download's worker (DownloadCheck); a cycle over the rows ends with a message when
// anything failed, else with Next (pressed by itself when asked).
//
// The page is the ProgressSink of its downloader. The downloader calls it
// from its worker; the page carries every call to the user-interface thread
// and drops the reports of a download it has already given up on.
#pragma once

#include "download_list.h"
#include "progress_sinks.h"
#include "wizard_sheet.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QTreeWidget;

namespace krv::setup {

class ElidedLabel;

// A row whose transfer keeps ending short (0xE000000F) is started again at
// most this many times; then it fails with its error.
inline constexpr int kMaxShortTransferRestarts = 3;

class DownloadPage : public WizardPage, public ProgressSink {
  public:
    explicit DownloadPage(WizardSheet &sheet);
    ~DownloadPage() override;

    void OnSetActive() override;
    int OnWizardBack() override;
    int OnWizardNext() override;
    void StopWork() override;

    // ProgressSink, called on the download worker.
    void BeginItem(uint64_t size, std::string_view name) override;
    void EndItem(int result) override;
    void Advance(uint64_t bytes) override;
    bool IsCancelled() override { return m_abort; }
    bool IsPaused() override { return m_paused; }
    void OnError(std::string_view text, uint32_t code) override;

    // The pause button.
    void TogglePause();
    // One second of the clock: speed, remaining time and texts.
    void Tick();

    // What tests look at.
    QTreeWidget *List() const { return m_list; }
    QCheckBox *AutoInstall() const { return m_autoInstall; }
    QPushButton *PauseButton() const { return m_pause; }
    QLabel *SpeedText() const { return m_speedText; }
    ElidedLabel *PathText() const { return m_pathText; }
    uint64_t OverallTotal() const { return m_overallTotal; }
    uint64_t OverallDone() const { return m_overallDone; }
    uint64_t CurrentBytes() const { return m_currentBytes; }
    int CurrentRow() const { return m_current; }
    int Failures() const { return m_failures; }
    // A cycle over the rows has ended.
    bool CycleOver() const { return m_cycleOver; }

  private:
    struct Row {
        std::string url;
        uint64_t expectedSize = 0; // 0 = unknown
        // The package gave no size: the row weighs kUnknownSizeShare on the
        // overall bar, however often it starts again.
        bool sizeUnknown = false;
        // The expected size, else the one the server announced, else the
        // fetched file's: 0 while no size is known.
        uint64_t knownSize = 0;
        int prerequisiteIndex = -1;
        bool failed = false;
        int shortRestarts = 0;
    };

    // Runs fn on the user-interface thread unless the download it reports
    // on was given up meanwhile.
    void Post(std::function<void()> fn);
    void FillList(bool start);
    void StartRow();
    void RowEnded(int code);
    void RestartRow();
    void HandleBeginItem(uint64_t size, bool sizeAccepted);
    void HandleAdvance(uint64_t bytes);
    void ShowChecking();
    void HandleEndItem(int verdict, uint64_t fileSize);
    void HandleError(const std::string &text, uint32_t code);
    void RefuseSize(bool endNow);
    bool HasRecord(const Row &row);
    void UpdateTexts();
    void SetColumn(int column, const std::string &text);
    // The bytes of all rows once every size is known, else 0.
    uint64_t OverallBytesTotal() const;
    void ShowBars();

    QTreeWidget *m_list;
    QProgressBar *m_overallBar;
    QProgressBar *m_currentBar;
    QLabel *m_overallText;
    QLabel *m_currentText;
    QLabel *m_speedText;
    ElidedLabel *m_pathText;
    QPushButton *m_pause;
    QCheckBox *m_autoInstall;
    QTimer *m_timer;

    std::unique_ptr<PageDownloader> m_downloader;
    // Armed before each start; then only the worker touches it.
    DownloadCheck m_check;
    std::vector<Row> m_rows;
    int m_current = -1;
    int m_cycleFirst = 0;
    uint64_t m_currentBytes = 0;
    uint64_t m_currentSize = 0;
    std::string m_target;
    std::string m_name;
    uint64_t m_speedBase = 0;
    uint32_t m_seconds = 0;
    bool m_firstAdvance = true;
    // The overall bar: a row of unknown size weighs kUnknownSizeShare.
    uint64_t m_overallTotal = 0;
    uint64_t m_overallDone = 0;
    // What the current row added to m_overallDone.
    uint64_t m_currentCounted = 0;
    // The bytes received in this cycle, all rows.
    uint64_t m_overallBytes = 0;
    bool m_sizeUnknown = false;
    // The current row's transfer ended and its file passed the checks.
    bool m_succeeded = false;
    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_abort{false};
    std::atomic<uint64_t> m_generation{0};
    bool m_cameBack = false;
    bool m_pausedBeforeBack = false;
    bool m_active = false;
    bool m_cycleOver = false;
    int m_failures = 0;
};

} // namespace krv::setup
