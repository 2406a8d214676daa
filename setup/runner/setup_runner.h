// The setup run: the runner object that lives for the whole process, the
// standalone switches that replace a setup, and RunSetup, the fixed sequence
// from opening the package to the installer's exit code. Its long steps run
// as tasks (setup_task.h).
#pragma once

#include "command_line.h"
#include "files.h"
#include "installer_launch.h"
#include "program.h"
#include "program_copy.h"
#include "runner_package.h"
#include "settings.h"
#include "setup_services.h"
#include "setup_task.h"
#include "setup_ui.h"
#include "single_instance_lock.h"

#include <functional>
#include <memory>
#include <string>

namespace krv::setup {

struct InstalledInstances;

class SetupRunner {
  public:
    // Replaces the start of the installer (tests, callers that install
    // themselves): program, argument line, UI; gives the exit code.
    using Launcher = InstallerLauncher;

    // The runner keeps the services for the whole run; empty steps take
    // their base answer, and a missing credential provider becomes a fresh
    // one.
    SetupRunner(std::string commandLine, std::string ownPath,
                std::unique_ptr<RunnerPackage> package, SetupServices services = {});
    ~SetupRunner(); // runs DeferredDelete
    SetupRunner(const SetupRunner &) = delete;
    SetupRunner &operator=(const SetupRunner &) = delete;

    const std::string &OwnModulePath() const { return m_ownPath; }
    void SetOwnModulePath(std::string path) { m_ownPath = std::move(path); }
    const Launcher &ExternalLauncher() const { return m_services.launcher; }
    int ExitCode() const { return m_exitCode; }
    void SetExitCode(int code) { m_exitCode = code; }
    const std::string &RawCommandLine() const { return m_rawCommandLine; }
    // The process's own command line, as the log shows it.
    const std::string &FullCommandLine() const { return m_fullCommandLine; }
    void SetFullCommandLine(std::string line) { m_fullCommandLine = std::move(line); }
    CommandLineOptions &Options() { return m_options; }
    RunnerPackage &Package() { return *m_package; }
    SetupUi &Ui() { return m_ui; }
    // Where the run's boxes and debug output go; kept with its interface,
    // whose boxes and windows use the same.
    const SetupMessages &Messages() const { return m_ui.Messages(); }
    DeferredDeleteRecord &Cleanup() { return m_cleanup; }
    SetupSteps &Steps() { return m_services.steps; }
    SingleInstanceLock &InstanceLock() { return m_instanceLock; }
    // The run's own folder for its work files (made on first use).
    RunWorkFolder &WorkFolder() { return m_workFolder; }
    CredentialProvider &Credentials() { return *m_services.credentials; }
    bool RebootPending() const { return m_rebootPending; }
    // A pending restart keeps the resume entry.
    void SetRebootPending(bool pending);
    // The run answers for this package's resume entry once it holds the
    // single-instance lock: every end of it removes the entry, unless the
    // run asks to keep it (a restart pending, a site the user must act on
    // before the setup starts again).
    bool ResumeEntryOurs() const { return m_resumeEntryOurs; }
    void ClaimResumeEntry();
    bool KeepResumeEntry() const { return m_keepResumeEntry; }
    void SetKeepResumeEntry();
    bool Maintenance() const { return m_maintenance; }
    void SetMaintenance(bool maintenance) { m_maintenance = maintenance; }
    const std::string &InstalledProductCode() const { return m_installedProductCode; }
    void SetInstalledProductCode(std::string code) { m_installedProductCode = std::move(code); }
    // The installer ran to its end with success: what it did stands, and a
    // stop that came while it finished does not make the run a stopped one.
    bool InstallerSucceeded() const { return m_installerSucceeded; }
    void SetInstallerSucceeded() { m_installerSucceeded = true; }
    // Whether a stop's own end (EndRunsByStopAction) may end this run.
    void SetStopsEndTheRun() { m_stopsEndTheRun = true; }
    // The run's end taken by the run itself (platform::TakeRunEnd), once;
    // false when a stop's end has it (the process is about to end).
    bool TakeRunEnd();
    bool Silent() const { return m_silent; }
    void SetSilent(bool silent) { m_silent = silent; }
    // How the run's steps start programs and ask for a restart; empty: for
    // real.
    const platform::ProcessLauncher &Programs() const { return m_services.programs; }
    const platform::RebootRequester &Reboot() const { return m_services.reboot; }

    // /prereqs set to the value (added when absent), and the resume command
    // refreshed.
    void SetPrereqsSwitch(const std::string &value);
    void UpdateResumeCommand();

  private:
    std::string m_ownPath;
    int m_exitCode = 0;
    std::string m_rawCommandLine;
    std::string m_fullCommandLine;
    CommandLineOptions m_options;
    // Before the package, whose end removes what it extracted there.
    RunWorkFolder m_workFolder;
    std::unique_ptr<RunnerPackage> m_package;
    DeferredDeleteRecord m_cleanup;
    SetupUi m_ui;
    // After the package and the user interface, which steps refer to, so
    // that the steps end first.
    SetupServices m_services;
    bool m_rebootPending = false;
    bool m_resumeEntryOurs = false;
    bool m_keepResumeEntry = false;
    bool m_maintenance = false;
    std::string m_installedProductCode;
    bool m_silent = false;
    bool m_installerSucceeded = false;
    bool m_stopsEndTheRun = false;
    bool m_runEndTaken = false;
    SingleInstanceLock m_instanceLock;
};

// Parses the command line, applies /exelog, and runs the first standalone
// switch given that the program did not take itself (/listlangs,
// /extractlzma, /groupsextract); true when one ran.
bool HandleStandaloneSwitches(SetupRunner &runner);
// The sequence of a setup; 1, 0 or -1 (the exit code is the runner's).
int RunSetup(SetupRunner &runner);

// The program's run after its own switches (program.h): the runner over
// the package, the remaining standalone switches, then RunSetup; the exit
// code. The runner ends (and deletes what it must) before the return.
// With forwardSignals, SIGTERM, SIGINT and SIGHUP while RunSetup waits for
// a program (installer, prerequisite) stop that program (which undoes its
// work), and during an extraction or a download they cancel it; the run
// cleans up and ends with 128 plus the signal's number. Any other time they
// end the process at once. Either way the resume entry goes with the run
// unless it was kept.
int RunSetupProgram(SetupProgram &program, std::unique_ptr<RunnerPackage> package,
                    SetupServices services = {}, bool forwardSignals = false);

// Opens the package and applies its settings (extraction folder, name stem,
// keep mode, packed archives); false when the package cannot be opened.
bool OpenPackageAndSettings(SetupRunner &runner);

// The steps of the sequence, for tests.
bool CheckPackageIntegrity(SetupRunner &runner);
void ProbeMaintenanceMode(SetupRunner &runner, const SetupSettings &settings);
// 0: exit code 0; 15 (cancelled): -1; anything else is reported (the error
// text, else the code's message) and gives exit code 1.
void MapErrorToExitCode(SetupRunner &runner, std::string_view errorText, int code);
// Starts the installer for the run (installer_launch.h).
int LaunchMsiexec(std::string_view arguments, SetupRunner &runner);
int InstallPackage(SetupRunner &runner, std::string &text, SetupSettings &settings,
                   InstalledInstances &instances);

// The password dialog for packages that need one: the text, or nothing
// when cancelled (also without windows).
std::optional<std::string> PackagePasswordDialog(const std::string &caption, SetupWindows *windows);

} // namespace krv::setup
