// The wizard page that runs the prerequisites' setups on the launch thread,
// shows each one's outcome, and decides how the wizard ends: Back to the
// requirements after a failure, Finish (pressed by itself when asked) when
// everything is installed, the restart notice, or the end without the main
// installation when the user refused a restart.
#pragma once

#include "progress_sinks.h"
#include "wizard_sheet.h"

#include <atomic>
#include <cstddef>
#include <string>

class QCheckBox;
class QLabel;
class QTimer;
class QTreeWidget;

namespace krv::setup {

class PrerequisiteInstallPage : public WizardPage, public ProgressSink {
  public:
    explicit PrerequisiteInstallPage(WizardSheet &sheet);
    ~PrerequisiteInstallPage() override;

    void OnSetActive() override;
    int OnWizardBack() override;
    bool OnWizardFinish() override;
    void StopWork() override;

    // ProgressSink, called on the launch thread.
    void EndItem(int result) override;
    void SetStatus(const ProgressStatus &status) override;
    void Advance(uint64_t amount) override;
    void OnError(std::string_view text, uint32_t code) override;

    // One second of the status animation.
    void Tick();

    QTreeWidget *List() const { return m_list; }
    QCheckBox *AutoFinish() const { return m_autoFinish; }
    QLabel *Status() const { return m_status; }
    bool Failed() const { return m_failed; }
    // Every item ran and the outcome is shown.
    bool RunOver() const { return m_runOver; }

  private:
    void AllItemsRan();
    // The row of the launch item now running; -1 when none.
    int CurrentRow() const;
    void SetRowState(int row, const std::string &text);
    void ShowIcon(bool error);

    QTreeWidget *m_list;
    QCheckBox *m_autoFinish;
    QLabel *m_icon;
    QLabel *m_status;
    QTimer *m_timer;
    std::size_t m_launchIndex = 0;
    bool m_failed = false;
    bool m_animating = false;
    int m_dotsAdded = 0;
    std::string m_rowText;
    bool m_runOver = false;
    bool m_endWithoutInstall = false;
    std::atomic<bool> m_threadRunning{false};
};

} // namespace krv::setup
