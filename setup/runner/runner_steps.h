// The steps of a setup run that other modules own: the update check, the
// user-interface language, searches and launch conditions, prerequisites
// with their resume after a reboot, proxy credentials and extraction for a
// calling process. The runner reaches each through this one interface; the
// base class answers as a package without those features needs (nothing to
// update, no language choice, every condition met, no prerequisite), so a
// run goes through. A module that builds a step overrides its method in a
// class of its own and hands an instance to the runner (SetRunnerSteps).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace krv::setup {

class SetupRunner;
struct SetupSettings;
struct MsiexecLineInputs;

class RunnerSteps {
  public:
    virtual ~RunnerSteps() = default;

    // Update check (task, status 257): true when a newer bootstrapper was
    // started and the run must end with exit code 0.
    virtual bool CheckForUpdates(SetupRunner &, SetupSettings &) { return false; }

    // The language dialog and the resource module: a non-zero result
    // becomes the exit code and ends the run.
    virtual int ChooseSetupLanguage(SetupRunner &, SetupSettings &) { return 0; }
    // The language part of the installer's argument line: chosen language,
    // the package's languages, the program's own language count and the
    // suggestion rule.
    virtual void FillLanguageInputs(SetupRunner &, MsiexecLineInputs &) {}
    // /listlangs: the languages of the package ("%d-%s" lines).
    virtual std::vector<std::string> PackageLanguageLines(SetupRunner &) { return {}; }

    // Launch conditions (task, status 236): true when every condition is
    // met; a failed condition has shown its own message.
    virtual bool CheckLaunchConditions(SetupRunner &, SetupSettings &) { return true; }

    // Prerequisites after the runner has applied the keep mode: the stored
    // results of a run before a reboot, detection (status 223) and the
    // passes in the settings' UI level. 0 go on, 1 failed, -1 cancelled or a
    // reboot pending (then SetRebootPending on the runner).
    virtual int RunPrerequisites(SetupRunner &, SetupSettings &) { return 0; }
    // The resume command that a restart after a reboot runs, and its removal.
    virtual void UpdateResumeCommand(SetupRunner &, const std::string & /*commandLine*/) {}
    virtual void UnregisterResume(SetupRunner &) {}

    // Credentials for the proxy from /username and /password, and whether
    // the run is silent (asked of the download engine's credential store).
    virtual void ApplyProxyCredentials(SetupRunner &, const std::string & /*user*/,
                                       const std::string & /*password*/, bool /*given*/,
                                       bool /*silent*/) {}
    // True when the main package's URL answers (MainAppURL installs).
    virtual bool UrlExists(SetupRunner &, const std::string & /*url*/) { return false; }

    // /groupsextract for a calling process; the exit code.
    virtual int ExtractGroupsForCaller(SetupRunner &, const std::string & /*value*/) { return 0; }
};

} // namespace krv::setup
