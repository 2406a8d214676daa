// From the extracted main package to a run of the installer: the installer
// version check, the installer's argument line, the minor-upgrade probe, the
// start of the installer and the mapping of failures to the exit code, and
// the product queries the runner and the language choice use.
//
// The installer is the program krv-msiexec, found through the folder map as
// "[SystemFolder]krv-msiexec" (the system's installer); the variable
// KRV_MSIEXEC names another program (tests). Its version is the version note
// of that program file.
#pragma once

#include "command_line.h"
#include "instances.h"
#include "messages.h"
#include "settings.h"
#include "version.h"

#include <setup_process.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace krv::setup {

class SetupUi;

inline constexpr std::string_view kInstallerProgramReference = "[SystemFolder]krv-msiexec";
inline constexpr const char *kInstallerProgramVariable = "KRV_MSIEXEC";

std::string InstallerProgramPath();
// The installer's version; all zero when the program is missing.
VersionQuad InstallerVersion();

// True when the run must stop: the installer is older than MinWIVer (2 when
// empty) and the package does not carry it as a prerequisite; the message
// (string 135) has been reported. `productNameSource` is the file whose
// "ProductName" version string names the product. `admitsSystem` answers
// whether this system would install a prerequisite (its languages and
// systems), which the prerequisites' own rules decide.
bool CheckInstallerVersion(const SetupMessages &messages, const SetupSettings &settings,
                           uint32_t containerFlags, std::string_view productNameSource,
                           const std::function<bool(const PrerequisiteRecord &)> &admitsSystem);

// The position of the last "//" not preceded by "|", or -1. A "|" before a
// "//" is removed from the text (a literal "//").
int FindActionPlaceholder(std::string &text);

// The "u" setup flag is set and the package's product is installed with a
// lower version than the package's ProductVersion.
bool DetectMinorUpgrade(const SetupSettings &settings, std::string_view packagePath);

// " NAME=result" for every prerequisite with RetValPropName and a known result.
void AppendResultProperties(const SetupSettings &settings, std::string &text);

// What BuildMsiexecCommandLine needs besides the settings.
struct MsiexecLineInputs {
    uint32_t containerFlags = 0;
    bool wow64 = false;                          // IsRunningUnderWow64()
    const CommandLineOptions *options = nullptr; // the bootstrapper's switches
    uint16_t chosenLanguage = 0;                 // the UI language chosen, 0 none
    std::vector<uint16_t> availableLanguages;    // of the package
    int ownLanguageCount = 1;                    // languages the program carries
    // Picks one language of the list (prefer-user flag); the first by default.
    std::function<uint16_t(const std::vector<uint16_t> &, bool)> suggestLanguage;
    SetupMessages messages; // asks before an instance is upgraded
};

// Builds the installer's argument line into `text` (the text to pass on
// entry). False when the user declined the upgrade of an instance.
bool BuildMsiexecCommandLine(const MsiexecLineInputs &inputs, std::string &text,
                             std::string_view packageFilePath, std::string installerPackagePath,
                             const SetupSettings &settings, InstalledInstances *instances);

// Replaces the start of the installer (tests, callers that install
// themselves): program, argument line, UI; gives the exit code.
using InstallerLauncher =
    std::function<uint32_t(const std::string &program, const std::string &arguments, SetupUi &)>;

// What starting the installer needs of the setup run.
struct MsiexecLaunch {
    SetupUi &ui;
    InstallerLauncher launcher;           // empty: the installer program
    std::function<void()> afterRun;       // once the installer has run or failed
    std::function<void(int)> setExitCode; // the setup's exit code
    platform::ProcessLauncher programs;   // starts the installer program; empty: for real
};

// Starts the installer and waits: 0 when it ran (the exit code is its
// return code), 7 when it could not start (reported, exit code 1).
int LaunchMsiexec(std::string_view arguments, const MsiexecLaunch &launch);

// An installed product of the upgrade code whose package code is the given
// one (exact comparison).
bool FindRelatedProductByPackageCode(std::string_view packageCode, std::string_view upgradeCode,
                                     std::string &productCode);

// The language an installed product was installed in, 0 when unknown.
uint16_t RelatedProductLanguage(std::string_view productCode);

} // namespace krv::setup
