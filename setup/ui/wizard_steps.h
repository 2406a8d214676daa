// The runner's prerequisites step with the wizard: a full user-interface
// run on a display shows the prerequisites wizard; basic and silent runs,
// and runs without a display, go on as the prerequisite steps do without it.
#pragma once

#include "prerequisite_steps.h"

#include <functional>
#include <memory>

namespace krv::setup {

class WizardSheet;

class WizardSteps : public PrerequisiteSteps {
  public:
    // Shows the wizard and answers whether the run goes on (ShowWizard).
    using WizardDriver = std::function<bool(WizardSheet &sheet)>;

    // Without a driver the wizard is shown modally, and only on a display a
    // person can see; tests drive it themselves.
    explicit WizardSteps(WizardDriver driver = {}, PrerequisiteServices system = {});

  protected:
    int RunInteractive(SetupRunner &runner, PrerequisiteInstaller &installer, bool basic) override;

  private:
    WizardDriver m_driver;
};

} // namespace krv::setup
