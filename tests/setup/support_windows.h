// Windows for tests: nothing is shown, every question goes to the function a
// test gave or, without one, gets the answer the window would have proposed;
// the web addresses opened are recorded instead of reaching a browser.
#pragma once

#include "messages.h"
#include "setup_windows.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace krv::setup::test {

// The window carries the program's icon (as its title bar and taskbar show it).
bool HasProgramIcon(const QWidget &window);

// Messages of a test that looks at no box: each box gets the scripted
// answers' default instead of reaching the console.
SetupMessages QuietMessages();

class ScriptedWindows : public SetupWindows {
  public:
    std::function<std::optional<std::string>(const std::string &caption)> password;
    std::function<int(InstalledInstances &, const std::string &caption)> instance;
    // The window of a worker dialog; none when not given.
    std::function<std::unique_ptr<WorkerWindow>()> worker;
    std::function<LanguageDialogResult(const std::vector<uint16_t> &available, uint16_t suggested,
                                       const std::string &caption)>
        language;

    std::vector<std::string> OpenedUrls() const;

    void ShowStatus(const std::string &, uint32_t) override {}
    void HideStatus() override {}
    std::unique_ptr<ExtractionProgress> MakeExtractionProgress(const std::string &,
                                                               const SetupMessages &) override;
    std::unique_ptr<WorkerWindow> MakeWorkerWindow() override;
    std::optional<std::string> AskPackagePassword(const std::string &caption) override;
    int SelectInstance(InstalledInstances &instances, const std::string &caption,
                       const std::string &productName) override;
    LanguageDialogResult ChooseLanguage(const std::vector<uint16_t> &available, uint16_t suggested,
                                        const std::string &caption) override;
    bool OpenUrl(const std::string &url, const platform::ProcessLauncher &programs) override;

  private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_opened;
};

} // namespace krv::setup::test
