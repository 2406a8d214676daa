#include "language_condition_steps.h"

#include "installer_launch.h"
#include "launch_conditions.h"
#include "payload_package.h"
#include "setup_runner.h"

namespace krv::setup {

UiLanguageStep::UiLanguageStep() = default;
UiLanguageStep::~UiLanguageStep() = default;

UiLanguageSelector &UiLanguageStep::Selector(SetupRunner &runner) {
    if (!m_selector) {
        auto *payload = dynamic_cast<PayloadRunnerPackage *>(&runner.Package());
        m_selector = std::make_unique<UiLanguageSelector>(&runner.Ui(),
                                                          payload ? &payload->Archive() : nullptr);
    }
    return *m_selector;
}

int UiLanguageStep::ChooseSetupLanguage(SetupRunner &runner, SetupSettings &settings) {
    return setup::ChooseSetupLanguage(Selector(runner), runner.Options(), settings,
                                      runner.Package().ContainerFlags(), runner.Silent(),
                                      &runner.Ui());
}

void UiLanguageStep::FillLanguageInputs(SetupRunner &runner, MsiexecLineInputs &inputs) {
    UiLanguageSelector &selector = Selector(runner);
    inputs.chosenLanguage = selector.ChosenLanguage();
    inputs.availableLanguages = selector.GetAvailableLanguages();
    inputs.ownLanguageCount = static_cast<int>(selector.OwnLanguages().size());
    inputs.suggestLanguage = [](const std::vector<uint16_t> &list, bool preferUser) {
        return SuggestUiLanguage(list, preferUser);
    };
}

std::vector<std::string> UiLanguageStep::PackageLanguageLines(SetupRunner &runner) {
    std::vector<std::string> lines;
    for (uint16_t id : Selector(runner).GetAvailableLanguages())
        lines.push_back(GetLanguageName(id));
    return lines;
}

LaunchConditionStep::LaunchConditionStep(UrlCheck urlReachable, std::function<ScreenFacts()> screen)
    : m_urlReachable(std::move(urlReachable)), m_screen(std::move(screen)) {}

bool LaunchConditionStep::CheckLaunchConditions(SetupRunner &runner, SetupSettings &settings) {
    LaunchConditionContext context;
    context.productNameSource = runner.Package().PackagePath();
    context.ui = &runner.Ui();
    context.messages = runner.Messages();
    context.urlReachable = m_urlReachable;
    context.screen = m_screen;
    return setup::CheckLaunchConditions(settings, context);
}

} // namespace krv::setup
