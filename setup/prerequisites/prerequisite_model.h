// The prerequisites kept in SetupSettings: their states and selection, the
// setup flag letters, the work folders and the detection that gives each
// prerequisite its state. Every operation takes a 0-based index in list
// order; an index out of range changes nothing and answers false, -1 or 8.
#pragma once

#include "settings.h"

#include <setup_process.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace krv::setup {

// PrerequisiteRecord::state.
namespace prereq_state {
inline constexpr int32_t kFound = 0;          // an acceptable version is present
inline constexpr int32_t kFromPackage = 1;    // install from the package
inline constexpr int32_t kDownload = 2;       // download, then install
inline constexpr int32_t kOpenSite = 3;       // the user downloads it from a site
inline constexpr int32_t kExcluded = 4;       // wrong system or language, or not in /prereqs
inline constexpr int32_t kDownloaded = 5;     // already downloaded, install
inline constexpr int32_t kNoneAcceptable = 6; // no acceptable version
inline constexpr int32_t kNotSelected = 7;    // not selected for install
inline constexpr int32_t kUndetected = kPrerequisiteUndetected;
} // namespace prereq_state

// The log text of a state ("Undefined" for 8 and any unknown value).
const char *PrerequisiteStateName(int32_t state);

// Option letters of a prerequisite.
bool HasPrerequisiteOption(const PrerequisiteRecord &record, char letter);

// The setup flag letters (GeneralOptions "Options"); HasSetupFlagLetter is
// in settings.h.
bool IsSilentMode(const SetupSettings &settings);
bool IsBasicUiMode(const SetupSettings &settings);
void SetSilentMode(SetupSettings &settings, bool on);
void SetBasicUiMode(SetupSettings &settings, bool on);

int FindPrerequisiteByName(const SetupSettings &settings, std::string_view name);
// Every record whose RetValPropName equals the name gets the value.
void SetPrerequisiteResult(SetupSettings &settings, std::string_view propertyName, int32_t value);
void SetDownloadedFlag(SetupSettings &settings, int index, bool flag);
// Selects or deselects the record with its children (and, when selecting, its
// parent); see the rules in the source.
void SelectPrerequisite(SetupSettings &settings, int index, bool select);
// /prereqs: every record excluded, then the listed indices (decimal, ","
// separated, in range) brought back to "not yet detected".
void ApplyPrereqsSwitch(SetupSettings &settings, std::string_view list);
// "0,2": the selected indices.
std::string SelectedPrerequisiteList(const SetupSettings &settings);
bool AnyPrerequisiteNeedsAction(const SetupSettings &settings);
bool IsPackageSetupFile(const SetupSettings &settings, int index);

// The state a record stands for once its download is known: 2 with the
// downloaded byte set is 5.
int32_t EffectivePrerequisiteState(const PrerequisiteRecord &record);
// The state the installer works with: 7 when not selected; a selected record
// that was found takes the state of its source kind.
int32_t ManagerPrerequisiteState(const PrerequisiteRecord &record);

// The download folder: the setting expanded and normalised, else the temporary
// folder plus DefaultProdCode; with a trailing separator. The result replaces
// the setting, so later calls give the same folder.
std::string GetDownloadFolder(SetupSettings &settings);

// The package file resolver of the searches: the path of a detection
// program the package carries, extracted; empty when there is none (or no
// package). An empty function stands for no package.
using PackageFileResolver = std::function<std::string(const SearchRecord &)>;

// What detection asks of the system: whether the record's system and
// language lists admit this machine, and whether its searches find an
// acceptable version (the searches fill the record's results). Members left
// empty take the system's answers: the operating-system lists and the
// LanguageList (as the launch conditions read them) and the record's
// searches, merged by its Operator, with the package's detection programs
// started through `programs`. Every member starts empty, so callers name
// only what they hand in.
struct PrerequisiteProbe {
    std::function<bool(const PrerequisiteRecord &)> admitsSystem{};
    std::function<bool(PrerequisiteRecord &)> runSearches{};
    PackageFileResolver packageFile{};
    platform::ProcessLauncher programs{};
};
// The system's answers, as used when the probe leaves them empty.
bool PrerequisiteAdmitsSystem(const PrerequisiteRecord &record);
bool RunPrerequisiteSearches(PrerequisiteRecord &record, const PackageFileResolver &packageFile,
                             const platform::ProcessLauncher &programs = {});

void DetectPrerequisite(SetupSettings &settings, int index, bool redetect,
                        const PrerequisiteProbe &probe = {});
void DetectPrerequisites(SetupSettings &settings, const PrerequisiteProbe &probe = {});

} // namespace krv::setup
