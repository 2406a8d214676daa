// The setup's windows on Qt: what the engine asks of a user interface
// (setup_windows.h), shown only while the user interface is visible on a
// display a person can see, and otherwise answered as the window would
// propose.
#pragma once

#include "setup_windows.h"

#include <memory>

namespace krv::setup {

class StatusWindow;

class QtSetupWindows : public SetupWindows {
  public:
    QtSetupWindows();
    ~QtSetupWindows() override;
    QtSetupWindows(const QtSetupWindows &) = delete;
    QtSetupWindows &operator=(const QtSetupWindows &) = delete;

    void ShowStatus(const std::string &caption, uint32_t textId) override;
    void HideStatus() override;
    std::unique_ptr<ExtractionProgress>
    MakeExtractionProgress(const std::string &caption, const SetupMessages &messages) override;
    std::unique_ptr<WorkerWindow> MakeWorkerWindow() override;
    std::optional<std::string> AskPackagePassword(const std::string &caption) override;
    int SelectInstance(InstalledInstances &instances, const std::string &caption,
                       const std::string &productName) override;
    LanguageDialogResult ChooseLanguage(const std::vector<uint16_t> &available, uint16_t suggested,
                                        const std::string &caption) override;
    bool OpenUrl(const std::string &url, const platform::ProcessLauncher &programs) override;

  private:
    std::unique_ptr<StatusWindow> m_status;
};

// The progress window of a worker dialog, shown whatever the display.
std::unique_ptr<WorkerWindow> MakeProgressWorkerWindow();

} // namespace krv::setup
