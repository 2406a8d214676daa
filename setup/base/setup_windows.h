// The windows and questions the setup engine needs from a user interface.
// The engine knows them only through this interface; ui/ implements it with
// Qt windows, and the program hands that implementation to SetupUi. An
// implementation shows a window only where a person can see it (the user
// interface visible, on a real display) and otherwise answers as the window
// would have proposed. Without one (tests, headless runs) the callers take
// the same windowless road: status texts are only remembered, progress runs
// without a window, and every question gets its proposed answer.
#pragma once

#include <setup_process.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QObject;

namespace krv::setup {

class ExtractionProgress;
class SetupMessages;
struct InstalledInstances;

// The window of a worker progress dialog (step_progress_dialogs.h): a text
// line, a bar and Cancel. The updates and End may come from the worker
// thread; the window carries them to the user-interface thread.
class WorkerWindow {
  public:
    virtual ~WorkerWindow() = default;
    // The user's Cancel and the end of the desktop session.
    virtual void SetHandlers(std::function<void()> onCancel,
                             std::function<void()> onSessionEnd) = 0;
    // Shows the window modally with the caption and the preparing text;
    // onReady runs once it exists. Returns the window's result.
    virtual int RunModal(const std::string &caption, std::function<void()> onReady) = 0;
    // Ends the window with the result while it is shown.
    virtual void End(int result) = 0;
    virtual void SetText(const std::string &text) = 0;
    virtual void SetRange(uint64_t high) = 0;
    virtual void SetPosition(uint64_t position, uint64_t high) = 0;
    virtual void GreyCancel() = 0;
    // The window as the owner of the questions its work asks while it
    // shows (the restart question); null when there is none.
    virtual QObject *Owner() const { return nullptr; }
};

// The language dialog's answer: 1 OK with the selected id, 2 Cancel.
struct LanguageDialogResult {
    int result = 2;
    uint16_t selected = 0;
};

class SetupWindows {
  public:
    virtual ~SetupWindows() = default;
    // The status window that asks the user to wait, over the active window.
    virtual void ShowStatus(const std::string &caption, uint32_t textId) = 0;
    virtual void HideStatus() = 0;
    // The extraction progress window, asking its disk-space question
    // through the messages; null when none is shown.
    virtual std::unique_ptr<ExtractionProgress>
    MakeExtractionProgress(const std::string &caption, const SetupMessages &messages) = 0;
    // The window of a worker progress dialog; null when none is shown.
    virtual std::unique_ptr<WorkerWindow> MakeWorkerWindow() = 0;
    // The password of a package that needs one; nothing when cancelled.
    virtual std::optional<std::string> AskPackagePassword(const std::string &caption) = 0;
    // The choice between a new and an installed product instance: 1 OK
    // (the choice stored in the instances), 2 Cancel.
    virtual int SelectInstance(InstalledInstances &instances, const std::string &caption,
                               const std::string &productName) = 0;
    virtual LanguageDialogResult ChooseLanguage(const std::vector<uint16_t> &available,
                                                uint16_t suggested, const std::string &caption) = 0;
    // Opens a web address in the desktop's handler; true when it took it.
    // Without a display xdg-open takes it, started through the run's
    // programs.
    virtual bool OpenUrl(const std::string &url, const platform::ProcessLauncher &programs) = 0;
};

} // namespace krv::setup
