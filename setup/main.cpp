// TelmarSetup2.3: the setup bootstrapper.
#include "credentials.h"
#include "credentials_dialog.h"
#include "display_probe.h"
#include "download_session.h"
#include "language_condition_steps.h"
#include "payload_package.h"
#include "program_icon.h"
#include "program_run.h"
#include "program_steps.h"
#include "qt_message_boxes.h"
#include "qt_setup_windows.h"
#include "setup_runner.h"
#include "setup_services.h"
#include "system.h"
#include "toolkit_language.h"
#include "version_info.h"
#include "wizard_steps.h"

#include <setup_system.h>
#include <toolkit_display.h>

#include <QApplication>

#include <memory>
#include <string>
#include <vector>

// What the program says about itself: its window captions take the product
// name from here, and the update check compares against the version.
KRV_DECLARE_VERSION_STRINGS("ProductName=Telmar 2.3\0FileDescription=Telmar 2.3 setup\0");
KRV_DECLARE_FILE_VERSION(2, 3, 0, 0);

int main(int argc, char **argv) {
    // The arguments as given, before Qt takes its own options out of argv.
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::unique_ptr<QApplication> app;
    krv::setup::ProgramUseRootRuntimeFolder();
    if (krv::platform::DisplayAvailable(argc, argv)) {
        app = std::make_unique<QApplication>(argc, argv);
        // Also for the windows the toolkit opens itself.
        QApplication::setWindowIcon(krv::setup::ProgramIcon());
        // The toolkit's buttons and menus speak the interface language.
        krv::setup::FollowUiLanguageInToolkit();
    }
    std::string self = krv::platform::ExecutablePath();
    if (self.empty() && argc > 0)
        self = argv[0];
    // The windows, boxes and credentials dialog the engine asks through, and
    // the steps the program fills in: one set for the run.
    krv::setup::QtSetupWindows windows;
    krv::setup::SetupServices services;
    services.windows = &windows;
    if (krv::setup::QtDisplayAvailable())
        services.messages =
            krv::setup::SetupMessages(std::make_shared<krv::setup::QtMessageBoxPresenter>());
    services.credentials->SetPrompter(std::make_shared<krv::setup::QtCredentialsPrompter>());
    krv::setup::SetupSteps &steps = services.steps;
    steps.updates = std::make_unique<krv::setup::ProgramUpdateStep>();
    steps.language = std::make_unique<krv::setup::UiLanguageStep>();
    steps.conditions = std::make_unique<krv::setup::LaunchConditionStep>(
        [](const std::string &url) { return krv::setup::IsUrlReachable(url); },
        krv::setup::QueryScreenFacts);
    steps.prerequisites = std::make_unique<krv::setup::WizardSteps>();
    steps.network = std::make_unique<krv::setup::ProgramNetworkStep>();
    steps.extraction = std::make_unique<krv::setup::ProgramCallerExtractionStep>();
    return krv::setup::ProgramRun(
        arguments, self, std::move(services),
        [](krv::setup::SetupProgram &program, krv::setup::SetupServices &run) {
            auto package =
                std::make_unique<krv::setup::PayloadRunnerPackage>(run.messages, run.programs);
            return krv::setup::RunSetupProgram(program, std::move(package), std::move(run),
                                               /*forwardSignals=*/true);
        });
}
