// The steps of the setup run that the program fills in (setup_steps.h):
// each calls the module that builds the step.
#pragma once

#include "setup_steps.h"

namespace krv::setup {

// The update check: true when a newer setup program was started.
class ProgramUpdateStep : public UpdateStep {
  public:
    bool CheckForUpdates(SetupRunner &runner, SetupSettings &settings) override;
};

class ProgramNetworkStep : public NetworkStep {
  public:
    // /username and /password become the run's credential provider's stored
    // pair; a silent run makes the provider silent, so that no
    // download waits for a prompt nobody can answer.
    void ApplyProxyCredentials(SetupRunner &runner, const std::string &user,
                               const std::string &password, bool given, bool silent) override;
    // A HEAD request through the download engine.
    bool UrlExists(SetupRunner &runner, const std::string &url) override;
};

// /groupsextract for a calling process.
class ProgramCallerExtractionStep : public CallerExtractionStep {
  public:
    int ExtractGroupsForCaller(SetupRunner &runner, const std::string &value) override;
};

} // namespace krv::setup
