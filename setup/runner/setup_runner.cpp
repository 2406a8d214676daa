#include "setup_runner.h"

#include "command_line_text.h"
#include "files.h"
#include "installed_products.h"
#include "installer_engine.h"
#include "installer_launch.h"
#include "instances.h"
#include "log.h"
#include "md5.h"
#include "messages.h"
#include "paths.h"
#include "payload_commands.h"
#include "prerequisite_model.h"
#include "run_stop.h"
#include "system.h"
#include "ui_strings.h"

#include <setup_process.h>

#include <cstring>
#include <optional>

#include <unistd.h>

namespace krv::setup {

namespace {

namespace flag = payload::container;

constexpr int kKeepEverything = 3;
constexpr int kKeepNothingOnFailure = 4;

namespace status_id {
constexpr uint32_t kIntegrity = 138;
constexpr uint32_t kPreparing = 220;
constexpr uint32_t kLaunchConditions = 236;
constexpr uint32_t kUpdates = 257;
constexpr uint32_t kDeleting = 266;
} // namespace status_id

constexpr uint32_t kCorruptArchiveId = 129;
constexpr uint32_t kExtractingMainFilesId = 141;
constexpr uint32_t kAlreadyRunningId = 204;
constexpr uint32_t kUrlUnreachableId = 247;

void LoadSetupSettings(SetupSettings &settings, const IniDocument &document) {
    LoadGeneralOptions(settings.general, document);
    LoadLaunchConditionSettings(settings.launchConditions, document);
    for (int n = 1;; ++n) {
        PrerequisiteRecord record;
        if (!LoadPrerequisites(document, n, record))
            break;
        settings.prerequisites.push_back(std::move(record));
    }
}

// Settings handed to the package: extraction folder, download folder and
// the name stem.
void ApplySettingsToPackage(SetupRunner &runner, const SetupSettings &settings, bool secondFolder) {
    RunnerPackage &package = runner.Package();
    package.SetExtractionFolder(SettingsExtractionFolder(settings.general));
    if (secondFolder && !settings.general.downloadFolder.empty())
        package.SetSecondFolder(ExpandReferences(settings.general.downloadFolder));
    if (const std::string stem = SettingsNameStem(settings.general); !stem.empty())
        package.SetPackageNameStem(stem);
}

} // namespace

// /extractlzma, /deletelzma and /groupsextract: the package and its settings.
bool OpenPackageAndSettings(SetupRunner &runner) {
    RunnerPackage &package = runner.Package();
    runner.Ui().SetProductName(runner.OwnModulePath());
    if (package.Open(runner.OwnModulePath()) != result_code::kOk)
        return false;
    if (!(package.ContainerFlags() & flag::kHasSettings))
        return true;
    IniDocument document;
    SetupSettings settings;
    if (package.ReadSettings(document))
        LoadSetupSettings(settings, document);
    ApplySettingsToPackage(runner, settings, false);
    package.SetKeepMode(settings.general.keepMode);
    package.SetPackJars(settings.general.packJars);
    return true;
}

namespace {

std::string SwitchText(SetupRunner &runner, int id) {
    const SwitchValue *value = FindSwitch(runner.Options(), id);
    return value ? value->value : std::string();
}

void ExtractMainPackageOnly(SetupRunner &runner) {
    // A package that does not open ends the run without a message.
    if (!OpenPackageAndSettings(runner)) {
        runner.SetExitCode(1);
        return;
    }
    RunnerPackage &package = runner.Package();
    package.SetKeepMode(kKeepEverything);
    package.SetPassword(SwitchText(runner, switch_id::kAesPassword));
    std::string path;
    const int code = package.ExtractMainPackage(path, {});
    // A failed extraction is reported and fails the run.
    if (code != result_code::kOk)
        MapErrorToExitCode(runner, package.ErrorText(), code);
}

void ShowLanguageList(SetupRunner &runner) {
    const std::string name = ProgramBaseName(runner.OwnModulePath());
    runner.Package().Open(runner.OwnModulePath());
    std::string list;
    for (const std::string &line : runner.Steps().language->PackageLanguageLines(runner))
        list += (list.empty() ? "" : "\r\n") + line;
    LogLine("Languages of setup:" + list);
    runner.Messages().MessageBoxFromStrings(nullptr, UiTextOrId(list),
                                            UiTextOrId(FormatUiString(ui_text::kLanguagesOf, name)),
                                            mb::kIconInformation);
}

int ChooseInstance(SetupRunner &runner, InstalledInstances &instances) {
    if (instances.records.empty() || !FindInstalledInstances(instances))
        return 0;
    runner.Ui().HideStatusWindow();
    SetupWindows *windows = runner.Ui().Windows();
    // Without windows the dialog's proposal stands: the first row of the
    // mode it would open in.
    const int answer =
        windows ? windows->SelectInstance(instances, runner.Ui().GetSetupCaption(),
                                          runner.Ui().GetProductName())
                : (AcceptInstanceRow(instances, NewInstancePossible(instances), 0) ? 1 : 2);
    return answer == 1 ? 0 : -1;
}

int RunPrerequisitesStep(SetupRunner &runner, SetupSettings &settings) {
    RunnerPackage &package = runner.Package();
    // The keep mode of the settings holds in every run, /noprereqs or not.
    package.SetKeepMode(settings.general.keepMode);
    package.SetPackJars(settings.general.packJars);
    int result = 0;
    if ((package.ContainerFlags() & flag::kHasSettings) &&
        !FindSwitch(runner.Options(), switch_id::kNoPrereqs))
        result = runner.Steps().prerequisites->RunPrerequisites(runner, settings);
    runner.SetExitCode(result);
    return result;
}

// A stop asked from outside (SIGTERM, SIGINT, SIGHUP): nothing more is
// started, and what this run extracted goes as after a failed install.
bool StoppedFromOutside(SetupRunner &runner) {
    if (platform::TerminationSignal() == 0)
        return false;
    if (!runner.Maintenance())
        runner.Package().SetKeepMode(kKeepNothingOnFailure);
    runner.SetExitCode(1);
    return true;
}

MsiexecLineInputs LineInputs(SetupRunner &runner) {
    MsiexecLineInputs inputs;
    inputs.containerFlags = runner.Package().ContainerFlags();
    inputs.wow64 = IsRunningUnderWow64();
    inputs.options = &runner.Options();
    inputs.messages = runner.Messages();
    runner.Steps().language->FillLanguageInputs(runner, inputs);
    return inputs;
}

} // namespace

// ---- Runner ----------------------------------------------------------------

SetupRunner::SetupRunner(std::string commandLine, std::string ownPath,
                         std::unique_ptr<RunnerPackage> package, SetupServices services)
    : m_ownPath(std::move(ownPath)), m_rawCommandLine(std::move(commandLine)),
      m_package(std::move(package)), m_ui(services.windows, services.messages),
      m_services(std::move(services)) {
    CompleteSteps(m_services.steps);
    if (!m_services.credentials)
        m_services.credentials = std::make_shared<CredentialProvider>();
}

SetupRunner::~SetupRunner() {
    DeferredDelete(m_cleanup);
}

void SetupRunner::SetRebootPending(bool pending) {
    m_rebootPending = pending;
    if (pending)
        SetKeepResumeEntry();
}

void SetupRunner::ClaimResumeEntry() {
    m_resumeEntryOurs = true;
    if (!m_keepResumeEntry)
        platform::SetFileRemovedOnStop(m_services.steps.prerequisites->ResumeEntryPath(*this));
}

void SetupRunner::SetKeepResumeEntry() {
    m_keepResumeEntry = true;
    platform::SetFileRemovedOnStop("");
    DropRemovedOnStop(m_services.steps.prerequisites->ResumeEntryPath(*this));
}

bool SetupRunner::TakeRunEnd() {
    if (m_stopsEndTheRun && !m_runEndTaken)
        m_runEndTaken = platform::TakeRunEnd();
    return !m_stopsEndTheRun || m_runEndTaken;
}

void SetupRunner::SetPrereqsSwitch(const std::string &value) {
    SetSwitchValue(m_options, switch_id::kPrereqs, value);
    UpdateResumeCommand();
}

void SetupRunner::UpdateResumeCommand() {
    m_services.steps.prerequisites->UpdateResumeCommand(*this, BuildCommandLine(m_options, false));
}

// ---- Dialogs ---------------------------------------------------------------

std::optional<std::string> PackagePasswordDialog(const std::string &caption,
                                                 SetupWindows *windows) {
    return windows ? windows->AskPackagePassword(caption) : std::nullopt;
}

// ---- Steps -----------------------------------------------------------------

bool CheckPackageIntegrity(SetupRunner &runner) {
    RunnerPackage &package = runner.Package();
    if (!(package.ContainerFlags() & flag::kCheckIntegrity))
        return false;
    if (VerifyFileMd5(package.PackagePath(), package.PackageId(), payload::kFooterSize))
        return false;
    runner.Messages().ReportMessageId(kCorruptArchiveId, false);
    return true;
}

void ProbeMaintenanceMode(SetupRunner &runner, const SetupSettings &settings) {
    std::string code;
    const bool maintenance = FindRelatedProductByPackageCode(settings.general.packageCode,
                                                             settings.general.upgradeCode, code);
    runner.SetMaintenance(maintenance);
    if (maintenance)
        runner.SetInstalledProductCode(code);
    std::string line = "Maintenance mode:";
    AppendLogBool(line, maintenance);
    LogLine(line);
}

int InstallPackage(SetupRunner &runner, std::string &text, SetupSettings &settings,
                   InstalledInstances &instances) {
    RunnerPackage &package = runner.Package();
    const uint32_t flags = package.ContainerFlags();
    RemoveSwitch(runner.Options(), switch_id::kPrereqs);
    SetSwitchValue(runner.Options(), switch_id::kNoPrereqs, "");

    if (!settings.general.mainAppUrl.empty()) {
        const std::string url = settings.general.mainAppUrl;
        if (!BuildMsiexecCommandLine(LineInputs(runner), text, runner.OwnModulePath(), url,
                                     settings, &instances)) {
            runner.SetExitCode(-1);
            return -1;
        }
        if (StoppedFromOutside(runner))
            return 1;
        if (runner.Steps().network->UrlExists(runner, url)) {
            LaunchMsiexec(text, runner);
            return runner.ExitCode();
        }
        runner.Messages().ReportError(FormatUiString(kUrlUnreachableId, url), true);
        runner.SetExitCode(1);
        return -1;
    }

    const bool separateOnly = (flags & flag::kSeparateFiles) &&
                              !(flags & (flag::kMainPackageMsi | flag::kSeparateGroups));
    const bool progressWindow = !runner.Silent() && !separateOnly;
    std::string password = SwitchText(runner, switch_id::kAesPassword);
    ExtractionDialogParts parts{};
    if (progressWindow) {
        if ((flags & flag::kNeedsPassword) && password.empty())
            password = PackagePasswordDialog(runner.Ui().GetSetupCaption(), runner.Ui().Windows())
                           .value_or("");
        parts = runner.Ui().GetExtractionProgressDialog();
        if (parts.extraction)
            parts.extraction->SetFixedText(LoadUiString(kExtractingMainFilesId));
    }
    runner.Ui().HideStatusWindow();
    package.SetPassword(password);
    std::string path;
    const int extracted = package.ExtractMainPackage(path, parts);
    if (progressWindow)
        runner.Ui().ReleaseExtractionProgressDialog();
    if (extracted != result_code::kOk) {
        runner.Steps().prerequisites->UnregisterResume(runner);
        MapErrorToExitCode(runner, package.ErrorText(), extracted);
        if (!runner.Maintenance())
            package.SetKeepMode(0);
        return extracted;
    }
    if (StoppedFromOutside(runner))
        return 1;
    if (HasLongPathPrefix(path))
        path = SkipLongPathPrefix(path);
    if (!BuildMsiexecCommandLine(LineInputs(runner), text, runner.OwnModulePath(), path, settings,
                                 &instances)) {
        runner.SetExitCode(-1);
        return -1;
    }
    if (LaunchMsiexec(text, runner) != 0) {
        if (!runner.Maintenance())
            package.SetKeepMode(kKeepNothingOnFailure);
        return runner.ExitCode();
    }
    const int code = runner.ExitCode();
    if (code == installer_exit::kSuccess || code == installer_exit::kRestartInitiated ||
        code == installer_exit::kRestartRequired) {
        if (!runner.InstalledProductCode().empty() &&
            ProductState(runner.InstalledProductCode()) != install_state::kDefault)
            package.SetKeepMode(0);
    } else if (!runner.Maintenance()) {
        package.SetKeepMode(kKeepNothingOnFailure);
    }
    if (code == installer_exit::kUserExit)
        runner.SetExitCode(-1);
    return runner.ExitCode();
}

// ---- Standalone switches and the sequence ------------------------------------

bool HandleStandaloneSwitches(SetupRunner &runner) {
    CommandLineOptions &options = runner.Options();
    options = ParseCommandLine(runner.RawCommandLine());
    ApplyLogSwitch(options, runner.OwnModulePath());
    if (FindSwitch(options, switch_id::kListLangs)) {
        ShowLanguageList(runner);
        return true;
    }
    if (FindSwitch(options, switch_id::kExtractLzma)) {
        ExtractMainPackageOnly(runner);
        return true;
    }
    if (const SwitchValue *groups = FindSwitch(options, switch_id::kGroupsExtract)) {
        runner.SetExitCode(
            runner.Steps().extraction->ExtractGroupsForCaller(runner, groups->value));
        return true;
    }
    return false;
}

namespace {

// What the steps of a run share.
struct RunState {
    std::string packagePath;
    bool startedAsCopy = false; // the program is a copy of another one
    uint32_t flags = 0;
    SetupSettings settings;
    IniDocument document;
    // The package's folder of resumable downloads outlives the run only
    // with something in it.
    ~RunState() {
        RemoveEmptyDownloadFolder(settings.general.downloadBase);
        DropRemovedOnStop(settings.general.downloadBase);
    }
};

// A step's ending of the run: the value RunSetup returns.
using RunEnd = std::optional<int>;

int EndWithExitCode(SetupRunner &runner, int code) {
    runner.SetExitCode(code);
    return code;
}

// 1. A copy started from the temporary folder opens the first program.
RunEnd FindPackageOfCopy(SetupRunner &runner, RunState &state) {
    state.packagePath = runner.OwnModulePath();
    const SwitchValue *original = FindSwitch(runner.Options(), switch_id::kOriginalPath);
    if (original && original->value == runner.OwnModulePath()) {
        // The copy that is already running goes on as the setup of its own
        // file, which it must not delete.
        if (CopyAndRelaunch(runner))
            return runner.ExitCode() == 0 ? 0 : 1;
    } else if (original) {
        state.packagePath = original->value;
        SetSetupExeDir(state.packagePath);
        SetDeferredDeletePaths(runner.OwnModulePath(), runner.Cleanup());
        runner.SetOwnModulePath(state.packagePath);
    }
    state.startedAsCopy = original != nullptr;
    return std::nullopt;
}

// 2-3. The log, the caption and the package's folder as the current one.
void EnterPackageFolder(SetupRunner &runner, const std::string &packagePath) {
    LogLine("Full command line:" + runner.FullCommandLine());
    LogLine("Command line to pass to MSI:" + runner.Options().passThrough);
    runner.Ui().SetProductName(packagePath);
    const std::string folder = GetFolderPart(ToNativePath(packagePath));
    if (!folder.empty() && ::chdir(folder.c_str()) != 0)
        LogLine("Cannot enter the folder of the package:" + folder);
}

// 4-5. The package and its settings.
RunEnd OpenPackageWithSettings(SetupRunner &runner, RunState &state) {
    RunnerPackage &package = runner.Package();
    if (const int code = package.Open(state.packagePath); code != result_code::kOk) {
        MapErrorToExitCode(runner, package.ErrorText(), code);
        return 1;
    }
    state.flags = package.ContainerFlags();
    // What the package puts nowhere of its own goes into a folder of this
    // run: in the shared temporary folder any name could be taken first.
    const std::string &own = runner.WorkFolder().Get();
    if (own.empty() && GetTempFolder().empty()) {
        // No folder to work in: files another user could swap are never
        // started as this user.
        runner.Messages().ReportError(TempFolderRefusalMessage(), true);
        return EndWithExitCode(runner, 1);
    }
    if (own.empty())
        LogLine("Cannot make a folder of this run; the temporary folder is used.");
    if (state.flags & flag::kHasSettings) {
        if (package.ReadSettings(state.document))
            LoadSetupSettings(state.settings, state.document);
        state.settings.general.workBase = own;
        // Downloads may outlive the run: one cut short is resumed next time.
        if (state.settings.general.downloadFolder.empty()) {
            // Made and registered in one step: a stop takes it if it ends empty.
            const auto hold = HoldStopTakes();
            state.settings.general.downloadBase = ResumableDownloadFolder(package.PackageId());
            AddEmptiedOnStop(state.settings.general.downloadBase);
        }
        ApplySettingsToPackage(runner, state.settings, true);
    } else if (!own.empty()) {
        package.SetExtractionFolder(own);
    }
    return std::nullopt;
}

bool HasUiLevelSwitch(const CommandLineOptions &options) {
    return FindSwitch(options, switch_id::kExeNoUi) ||
           FindSwitch(options, switch_id::kExeBasicUi) ||
           FindSwitch(options, switch_id::kExeFullUi);
}

// 6-7. The user-interface level: a switch overrides the settings.
void ApplyUiLevel(SetupRunner &runner, SetupSettings &settings) {
    const CommandLineOptions &options = runner.Options();
    if (FindSwitch(options, switch_id::kExeNoUi)) {
        SetSilentMode(settings, true);
    } else if (FindSwitch(options, switch_id::kExeBasicUi)) {
        SetBasicUiMode(settings, true);
    } else if (FindSwitch(options, switch_id::kExeFullUi)) {
        SetSilentMode(settings, false);
        SetBasicUiMode(settings, false);
    }
    runner.SetSilent(IsSilentMode(settings));
    UiVisible = !runner.Silent();
}

// 8. Proxy credentials from the command line.
void PassProxyCredentials(SetupRunner &runner) {
    const SwitchValue *user = FindSwitch(runner.Options(), switch_id::kUserName);
    if (user) {
        LogLine("User name and password for proxy server were received from command line and "
                "used.");
    }
    runner.Steps().network->ApplyProxyCredentials(runner, user ? user->value : std::string(),
                                                  SwitchText(runner, switch_id::kPassword),
                                                  user != nullptr, runner.Silent());
}

// 9. One setup of this package at a time (unless a level switch was given).
RunEnd HoldSingleInstance(SetupRunner &runner) {
    RunnerPackage &package = runner.Package();
    if (!runner.InstanceLock().TryAcquire("Parvext_" + package.PackageId()) &&
        !HasUiLevelSwitch(runner.Options())) {
        package.SetKeepMode(kKeepEverything);
        runner.Messages().ReportMessageId(kAlreadyRunningId, true);
        return EndWithExitCode(runner, 1);
    }
    return std::nullopt;
}

// 10-11. Whether the product is installed already.
void ProbeMaintenance(SetupRunner &runner, RunState &state) {
    runner.Ui().ShowStatusText(status_id::kPreparing);
    if (state.flags & flag::kHasSettings) {
        FunctionTask probe([&] { ProbeMaintenanceMode(runner, state.settings); });
        RunTaskWithStatus(runner, probe, status_id::kPreparing);
    }
}

// 12. A newer bootstrapper, which takes the run over when it started.
RunEnd StartNewerBootstrapper(SetupRunner &runner, SetupSettings &settings) {
    CommandLineOptions &options = runner.Options();
    if (runner.Maintenance() || FindSwitch(options, switch_id::kExeNoUpdates))
        return std::nullopt;
    SetSwitchValue(options, switch_id::kExeNoUpdates, "");
    if (settings.general.updatesUrl.empty() || runner.Silent())
        return std::nullopt;
    bool started = false;
    FunctionTask update(
        [&] { started = runner.Steps().updates->CheckForUpdates(runner, settings); });
    RunTaskWithStatus(runner, update, status_id::kUpdates);
    if (started)
        return EndWithExitCode(runner, 0);
    return std::nullopt;
}

// 13. The package's integrity.
RunEnd CheckIntegrity(SetupRunner &runner, uint32_t flags) {
    if (!(flags & flag::kCheckIntegrity))
        return std::nullopt;
    bool corrupt = false;
    FunctionTask check([&] { corrupt = CheckPackageIntegrity(runner); });
    RunTaskWithStatus(runner, check, status_id::kIntegrity);
    if (corrupt)
        return EndWithExitCode(runner, 1);
    return std::nullopt;
}

// 16. The language of the setup.
RunEnd ChooseLanguage(SetupRunner &runner, SetupSettings &settings) {
    if (const int language = runner.Steps().language->ChooseSetupLanguage(runner, settings);
        language != 0) {
        runner.SetExitCode(language);
        return language < 0 ? -1 : 1;
    }
    return std::nullopt;
}

// 17. The launch conditions.
RunEnd CheckConditions(SetupRunner &runner, SetupSettings &settings) {
    bool conditionsMet = true;
    FunctionTask conditions([&] {
        conditionsMet = runner.Steps().conditions->CheckLaunchConditions(runner, settings);
    });
    RunTaskWithStatus(runner, conditions, status_id::kLaunchConditions);
    if (!conditionsMet)
        return EndWithExitCode(runner, 1);
    return std::nullopt;
}

// 18-19. The prerequisites; their result, or the run's end while a restart
// is pending.
RunEnd InstallPrerequisites(SetupRunner &runner, SetupSettings &settings, int &result) {
    runner.UpdateResumeCommand();
    result = RunPrerequisitesStep(runner, settings);
    if (StoppedFromOutside(runner))
        result = 1;
    else if (runner.RebootPending())
        return EndWithExitCode(runner, -1);
    return std::nullopt;
}

// 20-25. The text to pass, the instance, the installer and the clean-up.
int InstallProduct(SetupRunner &runner, RunState &state, int result) {
    std::string text = runner.Options().passThrough;
    if (text.empty())
        text = ExpandReferences(state.settings.general.mainAppCmdLine);
    runner.Ui().HideStatusWindow();
    InstalledInstances instances;
    ParseInstanceSwitches(text, instances);
    if ((state.flags & flag::kHasSettings) && result == 0) {
        LoadInstanceList(instances, state.document);
        result = ChooseInstance(runner, instances);
        if (result == -1)
            runner.SetExitCode(-1);
    }
    if (result == -1)
        runner.Steps().prerequisites->UnregisterResume(runner);
    if (result == 0)
        result = InstallPackage(runner, text, state.settings, instances);
    FunctionTask cleanUp([&] { runner.Package().CleanUpExtraction(); });
    RunTaskWithStatus(runner, cleanUp, status_id::kDeleting);
    return result;
}

} // namespace

int RunSetup(SetupRunner &runner) {
    RunState state;
    if (RunEnd end = FindPackageOfCopy(runner, state))
        return *end;
    EnterPackageFolder(runner, state.packagePath);
    if (RunEnd end = OpenPackageWithSettings(runner, state))
        return *end;
    ApplyUiLevel(runner, state.settings);
    PassProxyCredentials(runner);
    if (RunEnd end = HoldSingleInstance(runner))
        return *end;
    runner.ClaimResumeEntry();
    ProbeMaintenance(runner, state);
    if (RunEnd end = StartNewerBootstrapper(runner, state.settings))
        return *end;
    // A stop during the update's download ends the run here, not at the
    // next question to the user.
    if (StoppedFromOutside(runner))
        return 1;
    if (RunEnd end = CheckIntegrity(runner, state.flags))
        return *end;
    // 14. The installer.
    if (CheckInstallerVersion(runner.Messages(), state.settings, state.flags, state.packagePath,
                              PrerequisiteAdmitsSystem))
        return EndWithExitCode(runner, 1);
    // 15. Removable media: run from a copy.
    if (!state.startedAsCopy && IsOnRemovableMedia(runner, state.packagePath) &&
        CopyAndRelaunch(runner))
        return runner.ExitCode() == 0 ? 0 : 1;
    if (RunEnd end = ChooseLanguage(runner, state.settings))
        return *end;
    if (RunEnd end = CheckConditions(runner, state.settings))
        return *end;
    int result = 0;
    if (RunEnd end = InstallPrerequisites(runner, state.settings, result))
        return *end;
    return InstallProduct(runner, state, result);
}

void MapErrorToExitCode(SetupRunner &runner, std::string_view errorText, int code) {
    runner.SetExitCode(ArchiveResultExitCode(runner.Messages(), errorText, code));
}

int LaunchMsiexec(std::string_view arguments, SetupRunner &runner) {
    // Until its result is taken: a stop that comes as the installer ends
    // must not end the run as a stopped one over a product it installed.
    platform::ProgramStep installing;
    const int launched = LaunchMsiexec(
        arguments,
        MsiexecLaunch{runner.Ui(), runner.ExternalLauncher(),
                      [&runner] { runner.Steps().prerequisites->UnregisterResume(runner); },
                      [&runner](int code) { runner.SetExitCode(code); }, runner.Programs()});
    const int code = runner.ExitCode();
    if (launched == 0 &&
        (code == installer_exit::kSuccess || code == installer_exit::kRestartInitiated ||
         code == installer_exit::kRestartRequired)) {
        // What it did stands: from here the run ends by itself.
        runner.SetInstallerSucceeded();
        if (!runner.TakeRunEnd())
            platform::AwaitStopEnd();
    }
    return launched;
}

int RunSetupProgram(SetupProgram &program, std::unique_ptr<RunnerPackage> package,
                    SetupServices services, bool forwardSignals) {
    SetupRunner runner(program.commandLine, program.programPath, std::move(package),
                       std::move(services));
    runner.SetFullCommandLine(program.fullCommandLine);
    if (HandleStandaloneSwitches(runner))
        return runner.ExitCode();
    if (forwardSignals) {
        runner.SetStopsEndTheRun();
        // What the run extracted goes as after a stopped install, by the
        // same keep rules as the run's own end.
        SetStopCleanUp([&runner] {
            runner.Package().CleanUpOnStop(
                runner.Maintenance() ? std::nullopt : std::optional(kKeepNothingOnFailure));
        });
        EndRunsByStopAction();
        platform::ForwardTerminationSignals();
    }
    RunSetup(runner);
    // From here the run ends by itself; a stop action that ends it already
    // is let finish.
    if (!runner.TakeRunEnd())
        platform::AwaitStopEnd();
    SetStopCleanUp({});
    // A run turned away by another one of this package leaves that run's
    // entry alone.
    if (runner.ResumeEntryOurs() && !runner.KeepResumeEntry())
        runner.Steps().prerequisites->UnregisterResume(runner);
    platform::SetFileRemovedOnStop("");
    if (const int signal = platform::TerminationSignal(); signal && runner.InstallerSucceeded()) {
        // Too late to undo: the installer had taken no stop and finished,
        // so the run ends as installed rather than as stopped.
        LogLine("Setup was asked to stop by signal " + std::to_string(signal) +
                " after the installer had finished; what it did stands.");
    } else if (signal) {
        // RunSetup has cleaned up by now; the installer's own code is logged
        // above when one ran.
        LogLine(StoppedBySignalLine(signal));
        runner.SetExitCode(128 + signal);
    }
    return runner.ExitCode();
}

} // namespace krv::setup
