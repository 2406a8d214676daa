#include "wizard_steps.h"

#include "log.h"
#include "messages.h"
#include "qt_message_boxes.h"
#include "setup_runner.h"
#include "setup_ui.h"
#include "system.h"
#include "wizard_sheet.h"

namespace krv::setup {

WizardSteps::WizardSteps(WizardDriver driver, PrerequisiteServices system)
    : PrerequisiteSteps(std::move(system)), m_driver(std::move(driver)) {}

int WizardSteps::RunInteractive(SetupRunner &runner, PrerequisiteInstaller &installer, bool basic) {
    if (basic || (!m_driver && !QtDisplayAvailable()))
        return PrerequisiteSteps::RunInteractive(runner, installer, basic);
    WizardEnvironment environment;
    environment.caption = runner.Ui().GetSetupCaption();
    std::string product = runner.OwnModulePath();
    if (!GetProductNameOfFile(product))
        product.clear();
    environment.productName = product;
    environment.windows = runner.Ui().Windows();
    environment.messages = runner.Messages();
    // The pages download with the credentials the installer's own downloads
    // use.
    environment.downloaderFactory =
        SessionDownloaderFactory(installer.Downloads().Credentials(), environment.messages);
    WizardSheet sheet(installer.Settings(), installer, std::move(environment));
    const bool goOn = m_driver ? m_driver(sheet) : sheet.ShowWizard();
    LogLine(goOn ? "Prerequisites wizard finished." : "Prerequisites wizard was canceled.");
    // A wizard that ends without the main installation is a cancelled run.
    return goOn ? 0 : -1;
}

} // namespace krv::setup
