// The runner's steps for the user-interface language and for the launch
// conditions: two objects, since a package may have either without the
// other and a test fakes one while the other stays real.
#pragma once

#include "language_selector.h"
#include "launch_conditions.h"
#include "setup_steps.h"

#include <functional>
#include <memory>
#include <string>

namespace krv::setup {

class UiLanguageStep : public LanguageStep {
  public:
    UiLanguageStep();
    ~UiLanguageStep() override;

    int ChooseSetupLanguage(SetupRunner &runner, SetupSettings &settings) override;
    void FillLanguageInputs(SetupRunner &runner, MsiexecLineInputs &inputs) override;
    std::vector<std::string> PackageLanguageLines(SetupRunner &runner) override;

    // The runner's language selector (made on first use, over the runner's
    // package when it is the payload archive).
    UiLanguageSelector &Selector(SetupRunner &runner);

  private:
    std::unique_ptr<UiLanguageSelector> m_selector;
};

class LaunchConditionStep : public ConditionStep {
  public:
    using UrlCheck = std::function<bool(const std::string &url)>;
    // urlReachable: the download engine's reachability test for the
    // internet condition (without one no address is reachable).
    // screen: the display's primary screen for the screen condition (without
    // one there is no screen).
    explicit LaunchConditionStep(UrlCheck urlReachable = {},
                                 std::function<ScreenFacts()> screen = {});

    bool CheckLaunchConditions(SetupRunner &runner, SetupSettings &settings) override;

  private:
    UrlCheck m_urlReachable;
    std::function<ScreenFacts()> m_screen;
};

} // namespace krv::setup
