#include "prerequisite_steps.h"

#include "interboot_context.h"
#include "log.h"
#include "paths.h"
#include "payload_package.h"
#include "prerequisite_model.h"
#include "resume.h"
#include "setup_runner.h"
#include "step_progress_dialogs.h"
#include "ui_dispatcher.h"

#include <setup_process.h>

#include <QCoreApplication>

namespace krv::setup {
namespace {

constexpr uint32_t kSearchingStatusId = 223;

void LogFlag(std::string_view label, bool value) {
    std::string line(label);
    AppendLogBool(line, value);
    LogLine(line);
}

} // namespace

PrerequisiteSteps::PrerequisiteSteps(PrerequisiteServices system) : m_system(std::move(system)) {}

std::string ResumeBootstrapperPath(SetupRunner &runner) {
    std::string path = runner.Package().PackagePath();
    return path.empty() ? runner.OwnModulePath() : path;
}

void PrerequisiteSteps::UpdateResumeCommand(SetupRunner &runner, const std::string &commandLine) {
    std::lock_guard guard(m_resumeLock);
    m_resume = {ResumeBootstrapperPath(runner), commandLine};
}

void PrerequisiteSteps::UnregisterResume(SetupRunner &runner) {
    setup::UnregisterResume(ResumeBootstrapperPath(runner));
}

std::string PrerequisiteSteps::ResumeEntryPath(SetupRunner &runner) {
    return krv::setup::ResumeEntryPath(ResumeBootstrapperPath(runner));
}

std::unique_ptr<PrerequisitePackage> PrerequisiteSteps::PackageFiles(SetupRunner &runner) {
    if (auto *payload = dynamic_cast<PayloadRunnerPackage *>(&runner.Package()))
        return std::make_unique<ArchivePrerequisitePackage>(payload->Archive());
    return nullptr;
}

namespace {

// The manager as the basic progress dialog runs it.
class InstallerPass : public PrerequisitePass {
  public:
    InstallerPass(PrerequisiteInstaller &installer, WorkerWindow *window)
        : m_installer(installer), m_window(window) {}
    void ProcessPrerequisites(ProgressSink &sink) override {
        // The restart question is put over the progress window, which
        // exists by now; the owner is set where it is read, on the
        // interface thread.
        if (m_window)
            UiDispatcher::Ask(QCoreApplication::instance(),
                              [this] { m_installer.Launches().SetOwnerWindow(m_window->Owner()); });
        m_installer.ProcessPrerequisites(&sink);
    }
    bool RebootRequired() const override { return m_installer.Launches().RebootRequired(); }
    void SelectAllPrerequisites() override { m_installer.SelectAllPrerequisites(false); }
    bool MandatoryPrerequisitesDone() const override {
        return m_installer.MandatoryPrerequisitesDone();
    }
    void Abort() override { m_installer.Abort(); }

  private:
    PrerequisiteInstaller &m_installer;
    WorkerWindow *m_window;
};

} // namespace

int PrerequisiteSteps::RunInteractive(SetupRunner &runner, PrerequisiteInstaller &installer,
                                      bool /*basic*/) {
    installer.PublishSelection();
    std::unique_ptr<WorkerWindow> window = runner.Ui().MakeWorkerWindow();
    InstallerPass pass(installer, window.get());
    PrerequisiteProgressDialog dialog(pass, runner.Ui().GetSetupCaption(), std::move(window));
    switch (dialog.Run()) {
    case dialog_result::kFinished:
        return 0;
    case dialog_result::kMandatoryMissing:
        return 1;
    default:
        return -1;
    }
}

int PrerequisiteSteps::RunPrerequisites(SetupRunner &runner, SetupSettings &settings) {
    // Results of the setups that ran before a restart.
    std::unique_ptr<RegistryValue> store = MakeInterbootContext(settings);
    ReadBackPrerequisiteResults(*store, settings);

    std::unique_ptr<PrerequisitePackage> package = PackageFiles(runner);
    PrerequisiteServices system = m_system;
    // Boxes and debug output are always the run's; the other services are
    // filled from the run only where the steps were built without them.
    system.messages = runner.Messages();
    if (!system.programs)
        system.programs = runner.Programs();
    if (!system.reboot)
        system.reboot = runner.Reboot();
    if (!system.probe.programs)
        system.probe.programs = system.programs;
    if (!system.resumeCommand)
        system.resumeCommand = [this] {
            std::lock_guard guard(m_resumeLock);
            return m_resume;
        };
    if (!system.credentials)
        system.credentials = &runner.Credentials();
    if (package && !system.probe.packageFile)
        system.probe.packageFile = [&package](const SearchRecord &search) {
            return package->DetectionProgramPath(search);
        };

    if (!settings.prerequisites.empty()) {
        if (const SwitchValue *prereqs = FindSwitch(runner.Options(), switch_id::kPrereqs))
            ApplyPrereqsSwitch(settings, prereqs->value);
        FunctionTask detection(
            [&settings, &system] { DetectPrerequisites(settings, system.probe); });
        RunTaskWithStatus(runner, detection, kSearchingStatusId);
    }
    if (!AnyPrerequisiteNeedsAction(settings)) {
        LogLine("No prerequisite must be installed.");
        // An entry left by the run before a restart has done its work.
        UnregisterResume(runner);
        runner.SetExitCode(0);
        return 0;
    }

    runner.Ui().HideStatusWindow();
    PrerequisiteInstaller installer(
        [&runner](const std::string &list) { runner.SetPrereqsSwitch(list); }, settings,
        store.get(), package.get(), &runner.Ui(), system);
    int result = 0;
    if (IsSilentMode(settings)) {
        LogLine("Starting installing prerequisites in silent mode.");
        installer.PublishSelection();
        installer.DownloadPass(nullptr);
        installer.OpenSitesPass(nullptr);
        installer.InstallPass(nullptr);
        if (!installer.Launches().RebootRequired())
            installer.SelectAllPrerequisites(false);
    } else if (IsBasicUiMode(settings)) {
        LogLine("Starting installing prerequisites in basic UI mode.");
        result = RunInteractive(runner, installer, true);
    } else {
        LogLine("Starting installing prerequisites in full UI mode.");
        result = RunInteractive(runner, installer, false);
    }

    const LaunchList &launches = installer.Launches();
    LogLine("After running prerequisites we have:");
    LogFlag("  Reboot was required=", launches.RebootRequired());
    if (launches.RebootRequired()) {
        LogFlag("  Reboot was refused=", launches.RebootRefused());
        if (!launches.RebootRefused())
            LogFlag("  Reboot in Progress=", launches.RebootInProgress());
    }
    // Whatever the interface reported, the main installation needs every
    // mandatory prerequisite in place.
    bool siteToActOn = false;
    if (result >= 0 && !launches.RebootRequired()) {
        for (const int index : installer.MissingMandatoryPrerequisites()) {
            const PrerequisiteRecord &record =
                settings.prerequisites[static_cast<std::size_t>(index)];
            LogLine("Mandatory prerequisite was not installed:" + record.name);
            siteToActOn = siteToActOn || record.state == prereq_state::kOpenSite;
            result = 1;
        }
    }
    if ((launches.RebootRequired() && !launches.RebootRefused()) || launches.RebootInProgress()) {
        result = -1;
        // The next start reads the exit codes stored so far.
        store->SetDeleteOnDestruction(false);
        runner.SetRebootPending(true);
    } else if (siteToActOn) {
        // The user comes back once the site's part is in place.
        runner.SetKeepResumeEntry();
    } else if (platform::TerminationSignal() && installer.ResumeEntryForLaunches() &&
               launches.StopCameWhileASetupRan()) {
        // The stop may be the shutdown a setup started: the entry written
        // before it ran resumes the setup after that restart, with the exit
        // codes stored so far.
        LogLine("Setup was stopped while prerequisites were installed; it resumes at the next "
                "login.");
        store->SetDeleteOnDestruction(false);
        runner.SetKeepResumeEntry();
    } else {
        // Nothing brings the user back: no entry may start the setup again
        // at the next login.
        UnregisterResume(runner);
    }
    runner.SetExitCode(result);
    installer.Downloads().DeleteDownloadedFiles();
    return result;
}

} // namespace krv::setup
