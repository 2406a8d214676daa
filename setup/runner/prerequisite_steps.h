// The runner's prerequisites step: the results stored before a restart,
// detection, the passes in the run's user-interface level, the decision on
// a pending restart, and the resume command with its registration.
#pragma once

#include "prerequisite_installer.h"
#include "setup_steps.h"

#include <memory>
#include <mutex>

namespace krv::setup {

class PrerequisiteSteps : public PrerequisiteStep {
  public:
    explicit PrerequisiteSteps(PrerequisiteServices system = {});

    // 0 go on, 1 failed, -1 cancelled or a restart pending.
    int RunPrerequisites(SetupRunner &runner, SetupSettings &settings) override;
    void UpdateResumeCommand(SetupRunner &runner, const std::string &commandLine) override;
    void UnregisterResume(SetupRunner &runner) override;
    std::string ResumeEntryPath(SetupRunner &runner) override;

  protected:
    // The package's setup files: the payload archive when the runner's
    // package is one; null otherwise (then nothing can be installed from the
    // package).
    virtual std::unique_ptr<PrerequisitePackage> PackageFiles(SetupRunner &runner);
    // The passes with a window: the basic progress dialog, which also stands
    // in for the full user interface (the prerequisites wizard takes this
    // over there). 0 go on, 1 a mandatory prerequisite is missing, -1
    // cancelled.
    virtual int RunInteractive(SetupRunner &runner, PrerequisiteInstaller &installer, bool basic);

  private:
    PrerequisiteServices m_system;
    std::mutex m_resumeLock;
    ResumeCommand m_resume; // the runner's latest
};

// The file the resume starts: the package file (the first program file when
// this run is a copy), else the program itself.
std::string ResumeBootstrapperPath(SetupRunner &runner);

} // namespace krv::setup
