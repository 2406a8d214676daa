// The steps of the setup run that the program fills in (runner_steps.h):
// each override calls the module that builds the step.
#pragma once

#include "runner_steps.h"

namespace krv::setup {

class ProgramSteps : public RunnerSteps {
  public:
    // The update check: true when a newer setup program was started.
    bool CheckForUpdates(SetupRunner &runner, SetupSettings &settings) override;
    // /groupsextract for a calling process.
    int ExtractGroupsForCaller(SetupRunner &runner, const std::string &value) override;
};

} // namespace krv::setup
