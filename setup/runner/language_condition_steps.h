// The runner's steps for the user-interface language and the launch
// conditions. The other steps go to the steps object given at construction
// (the base answers when none is given), so this class can stand in front of
// the steps of other modules.
#pragma once

#include "language_selector.h"
#include "launch_conditions.h"
#include "runner_steps.h"

#include <functional>
#include <memory>
#include <string>

namespace krv::setup {

class LanguageConditionSteps : public RunnerSteps {
  public:
    using UrlCheck = std::function<bool(const std::string &url)>;
    // urlReachable: the download engine's reachability test for the
    // internet condition (without one no address is reachable).
    // screen: the display's primary screen for the screen condition (without
    // one there is no screen).
    explicit LanguageConditionSteps(std::unique_ptr<RunnerSteps> others = nullptr,
                                    UrlCheck urlReachable = {},
                                    std::function<ScreenFacts()> screen = {});
    ~LanguageConditionSteps() override;

    int ChooseSetupLanguage(SetupRunner &runner, SetupSettings &settings) override;
    void FillLanguageInputs(SetupRunner &runner, MsiexecLineInputs &inputs) override;
    std::vector<std::string> PackageLanguageLines(SetupRunner &runner) override;
    bool CheckLaunchConditions(SetupRunner &runner, SetupSettings &settings) override;

    bool CheckForUpdates(SetupRunner &runner, SetupSettings &settings) override;
    int RunPrerequisites(SetupRunner &runner, SetupSettings &settings) override;
    void UpdateResumeCommand(SetupRunner &runner, const std::string &commandLine) override;
    void UnregisterResume(SetupRunner &runner) override;
    void ApplyProxyCredentials(SetupRunner &runner, const std::string &user,
                               const std::string &password, bool given, bool silent) override;
    bool UrlExists(SetupRunner &runner, const std::string &url) override;
    int ExtractGroupsForCaller(SetupRunner &runner, const std::string &value) override;

    // The runner's language selector (made on first use, over the runner's
    // package when it is the payload archive).
    UiLanguageSelector &Selector(SetupRunner &runner);

  private:
    RunnerSteps &Others() { return m_others ? *m_others : m_base; }

    std::unique_ptr<RunnerSteps> m_others;
    RunnerSteps m_base;
    UrlCheck m_urlReachable;
    std::function<ScreenFacts()> m_screen;
    std::unique_ptr<UiLanguageSelector> m_selector;
};

} // namespace krv::setup
