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
    // /username and /password become the process-wide credential provider's
    // stored pair; a silent run makes the provider silent, so that no
    // download waits for a prompt nobody can answer.
    void ApplyProxyCredentials(SetupRunner &runner, const std::string &user,
                               const std::string &password, bool given, bool silent) override;
    // A HEAD request through the download engine.
    bool UrlExists(SetupRunner &runner, const std::string &url) override;
};

} // namespace krv::setup
