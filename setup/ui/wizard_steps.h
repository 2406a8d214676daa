// The runner's prerequisites step with the wizard: a full user-interface
// run on a display shows the prerequisites wizard; basic and silent runs,
// and runs without a display, go on as the prerequisite steps do without it.
#pragma once

#include "prerequisite_steps.h"

namespace krv::setup {

class WizardSteps : public PrerequisiteSteps {
  public:
    using PrerequisiteSteps::PrerequisiteSteps;

  protected:
    int RunInteractive(SetupRunner &runner, PrerequisiteInstaller &installer, bool basic) override;
};

} // namespace krv::setup
