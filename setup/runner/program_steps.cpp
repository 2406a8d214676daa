#include "program_steps.h"

#include "caller_extraction.h"
#include "command_line.h"
#include "credentials.h"
#include "download_session.h"
#include "setup_runner.h"
#include "update_checker.h"

namespace krv::setup {

bool ProgramUpdateStep::CheckForUpdates(SetupRunner &runner, SetupSettings &settings) {
    // The newer program gets this run's switches; the runner has added
    // /exenoupdates to them, and a copy's /originalPath means nothing to it.
    CommandLineOptions options = runner.Options();
    RemoveSwitch(options, switch_id::kOriginalPath);
    UpdateChecker checker(runner.Ui(), settings.general.updatesUrl, settings.general.productVersion,
                          BuildCommandLine(options, false), runner.Programs(),
                          &runner.Credentials());
    return checker.Run();
}

int ProgramCallerExtractionStep::ExtractGroupsForCaller(SetupRunner &runner,
                                                        const std::string &value) {
    return krv::setup::ExtractGroupsForCaller(runner, value);
}

void ProgramNetworkStep::ApplyProxyCredentials(SetupRunner &runner, const std::string &user,
                                               const std::string &password, bool given,
                                               bool silent) {
    CredentialProvider &provider = runner.Credentials();
    if (given)
        provider.SetStoredCredentials(user, password);
    provider.SetSilent(silent);
}

bool ProgramNetworkStep::UrlExists(SetupRunner &runner, const std::string &url) {
    return krv::setup::UrlExists(url, runner.Messages());
}

} // namespace krv::setup
