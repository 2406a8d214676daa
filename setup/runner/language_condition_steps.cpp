#include "language_condition_steps.h"

#include "installer_launch.h"
#include "launch_conditions.h"
#include "payload_package.h"
#include "setup_runner.h"

namespace krv::setup {

LanguageConditionSteps::LanguageConditionSteps(std::unique_ptr<RunnerSteps> others,
                                               UrlCheck urlReachable,
                                               std::function<ScreenFacts()> screen)
    : m_others(std::move(others)), m_urlReachable(std::move(urlReachable)),
      m_screen(std::move(screen)) {}

LanguageConditionSteps::~LanguageConditionSteps() = default;

UiLanguageSelector &LanguageConditionSteps::Selector(SetupRunner &runner) {
    if (!m_selector) {
        auto *payload = dynamic_cast<PayloadRunnerPackage *>(&runner.Package());
        m_selector = std::make_unique<UiLanguageSelector>(&runner.Ui(),
                                                          payload ? &payload->Archive() : nullptr);
    }
    return *m_selector;
}

int LanguageConditionSteps::ChooseSetupLanguage(SetupRunner &runner, SetupSettings &settings) {
    return setup::ChooseSetupLanguage(Selector(runner), runner.Options(), settings,
                                      runner.Package().ContainerFlags(), runner.Silent(),
                                      &runner.Ui());
}

void LanguageConditionSteps::FillLanguageInputs(SetupRunner &runner, MsiexecLineInputs &inputs) {
    UiLanguageSelector &selector = Selector(runner);
    inputs.chosenLanguage = selector.ChosenLanguage();
    inputs.availableLanguages = selector.GetAvailableLanguages();
    inputs.ownLanguageCount = static_cast<int>(selector.OwnLanguages().size());
    inputs.suggestLanguage = [](const std::vector<uint16_t> &list, bool preferUser) {
        return SuggestUiLanguage(list, preferUser);
    };
}

std::vector<std::string> LanguageConditionSteps::PackageLanguageLines(SetupRunner &runner) {
    std::vector<std::string> lines;
    for (uint16_t id : Selector(runner).GetAvailableLanguages())
        lines.push_back(GetLanguageName(id));
    return lines;
}

bool LanguageConditionSteps::CheckLaunchConditions(SetupRunner &runner, SetupSettings &settings) {
    LaunchConditionContext context;
    context.productNameSource = runner.Package().PackagePath();
    context.ui = &runner.Ui();
    context.urlReachable = m_urlReachable;
    context.screen = m_screen;
    return setup::CheckLaunchConditions(settings, context);
}

bool LanguageConditionSteps::CheckForUpdates(SetupRunner &runner, SetupSettings &settings) {
    return Others().CheckForUpdates(runner, settings);
}

int LanguageConditionSteps::RunPrerequisites(SetupRunner &runner, SetupSettings &settings) {
    return Others().RunPrerequisites(runner, settings);
}

void LanguageConditionSteps::UpdateResumeCommand(SetupRunner &runner,
                                                 const std::string &commandLine) {
    Others().UpdateResumeCommand(runner, commandLine);
}

void LanguageConditionSteps::UnregisterResume(SetupRunner &runner) {
    Others().UnregisterResume(runner);
}

void LanguageConditionSteps::ApplyProxyCredentials(SetupRunner &runner, const std::string &user,
                                                   const std::string &password, bool given,
                                                   bool silent) {
    Others().ApplyProxyCredentials(runner, user, password, given, silent);
}

bool LanguageConditionSteps::UrlExists(SetupRunner &runner, const std::string &url) {
    return Others().UrlExists(runner, url);
}

int LanguageConditionSteps::ExtractGroupsForCaller(SetupRunner &runner, const std::string &value) {
    return Others().ExtractGroupsForCaller(runner, value);
}

} // namespace krv::setup
