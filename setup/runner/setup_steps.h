// The steps of a setup run that other modules own, one object per concern:
// the update check, the user-interface language, the launch conditions, the
// prerequisites with their resume after a reboot, the network (proxy
// credentials and the main package's URL) and extraction for a calling
// process. Each base class answers as a package without that feature needs
// (nothing to update, no language choice, every condition met, no
// prerequisite), so a run goes through with any of them left as it is. A
// module that builds a step derives from its class and the program puts an
// instance into SetupSteps; a test replaces only the step it fakes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace krv::setup {

class SetupRunner;
struct SetupSettings;
struct MsiexecLineInputs;

class UpdateStep {
  public:
    virtual ~UpdateStep() = default;
    // Update check (task, status 257): true when a newer bootstrapper was
    // started and the run must end with exit code 0.
    virtual bool CheckForUpdates(SetupRunner &, SetupSettings &) { return false; }
};

class LanguageStep {
  public:
    virtual ~LanguageStep() = default;
    // The language dialog and the resource module: a non-zero result
    // becomes the exit code and ends the run.
    virtual int ChooseSetupLanguage(SetupRunner &, SetupSettings &) { return 0; }
    // The language part of the installer's argument line: chosen language,
    // the package's languages, the program's own language count and the
    // suggestion rule.
    virtual void FillLanguageInputs(SetupRunner &, MsiexecLineInputs &) {}
    // /listlangs: the languages of the package ("%d-%s" lines).
    virtual std::vector<std::string> PackageLanguageLines(SetupRunner &) { return {}; }
};

class ConditionStep {
  public:
    virtual ~ConditionStep() = default;
    // Launch conditions (task, status 236): true when every condition is
    // met; a failed condition has shown its own message.
    virtual bool CheckLaunchConditions(SetupRunner &, SetupSettings &) { return true; }
};

class PrerequisiteStep {
  public:
    virtual ~PrerequisiteStep() = default;
    // Prerequisites after the runner has applied the keep mode: the stored
    // results of a run before a reboot, detection (status 223) and the
    // passes in the settings' UI level. 0 go on, 1 failed, -1 cancelled or a
    // reboot pending (then SetRebootPending on the runner).
    virtual int RunPrerequisites(SetupRunner &, SetupSettings &) { return 0; }
    // The resume command that a restart after a reboot runs, and its removal.
    virtual void UpdateResumeCommand(SetupRunner &, const std::string & /*commandLine*/) {}
    virtual void UnregisterResume(SetupRunner &) {}
    // The file of the resume entry (removed when a signal ends the process
    // at once); empty when there is none.
    virtual std::string ResumeEntryPath(SetupRunner &) { return {}; }
};

class NetworkStep {
  public:
    virtual ~NetworkStep() = default;
    // Credentials for the proxy from /username and /password, and whether
    // the run is silent (asked of the download engine's credential store).
    virtual void ApplyProxyCredentials(SetupRunner &, const std::string & /*user*/,
                                       const std::string & /*password*/, bool /*given*/,
                                       bool /*silent*/) {}
    // True when the main package's URL answers (MainAppURL installs).
    virtual bool UrlExists(SetupRunner &, const std::string & /*url*/) { return false; }
};

class CallerExtractionStep {
  public:
    virtual ~CallerExtractionStep() = default;
    // /groupsextract for a calling process; the exit code.
    virtual int ExtractGroupsForCaller(SetupRunner &, const std::string & /*value*/) { return 0; }
};

// One object per concern; each starts as its base answer.
struct SetupSteps {
    std::unique_ptr<UpdateStep> updates = std::make_unique<UpdateStep>();
    std::unique_ptr<LanguageStep> language = std::make_unique<LanguageStep>();
    std::unique_ptr<ConditionStep> conditions = std::make_unique<ConditionStep>();
    std::unique_ptr<PrerequisiteStep> prerequisites = std::make_unique<PrerequisiteStep>();
    std::unique_ptr<NetworkStep> network = std::make_unique<NetworkStep>();
    std::unique_ptr<CallerExtractionStep> extraction = std::make_unique<CallerExtractionStep>();
};

// A step left empty becomes its base answer again, so the runner can call
// every step unguarded.
void CompleteSteps(SetupSteps &steps);

} // namespace krv::setup
