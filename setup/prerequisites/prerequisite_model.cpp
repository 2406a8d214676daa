#include "prerequisite_model.h"

#include "launch_conditions.h"
#include "log.h"
#include "paths.h"
#include "search_engine.h"
#include "system.h"

namespace krv::setup {
namespace {

bool ValidIndex(const SetupSettings &settings, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < settings.prerequisites.size();
}

void LogPair(std::string_view label, std::string_view value) {
    std::string line(label);
    AppendLogText(line, value);
    LogLine(line);
}

bool InStates123(int32_t state) {
    return state == prereq_state::kFromPackage || state == prereq_state::kDownload ||
           state == prereq_state::kOpenSite;
}

// A decimal number made of digits only that fits an int.
bool ParseListIndex(std::string_view text, int &value) {
    if (text.empty() || text.size() > 9)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// The folder is kept in its setting, so that later readers see it resolved.
std::string ResolveWorkFolder(std::string &setting, const SetupSettings &settings) {
    std::string folder = SettingsWorkFolder(setting, settings.general);
    setting = folder;
    return folder;
}

} // namespace

const char *PrerequisiteStateName(int32_t state) {
    switch (state) {
    case prereq_state::kFound:
        return "An acceptable version was found.";
    case prereq_state::kFromPackage:
        return "No acceptable version found. It must be installed from package.";
    case prereq_state::kDownload:
        return "No acceptable version found. It must be downloaded.";
    case prereq_state::kOpenSite:
    case prereq_state::kExcluded:
        return "No acceptable version found. It must be downloaded manually from a site.";
    case prereq_state::kDownloaded:
        return "No acceptable version found. It is already downloaded and it will be installed.";
    case prereq_state::kNoneAcceptable:
        return "No acceptable version found.";
    case prereq_state::kNotSelected:
        return "Not selected for install.";
    default:
        return "Undefined";
    }
}

bool HasPrerequisiteOption(const PrerequisiteRecord &record, char letter) {
    return record.options.find(letter) != std::string::npos;
}

bool IsSilentMode(const SetupSettings &settings) {
    return HasSetupFlagLetter(settings, 'q');
}
bool IsBasicUiMode(const SetupSettings &settings) {
    return HasSetupFlagLetter(settings, 'b');
}

static void SetFlagLetter(SetupSettings &settings, char letter, bool on) {
    std::string &flags = settings.general.flagLetters;
    const std::size_t at = flags.find(letter);
    if (on && at == std::string::npos)
        flags += letter;
    else if (!on && at != std::string::npos)
        flags.erase(at, 1);
}

void SetSilentMode(SetupSettings &settings, bool on) {
    SetFlagLetter(settings, 'q', on);
}
void SetBasicUiMode(SetupSettings &settings, bool on) {
    SetFlagLetter(settings, 'b', on);
}

int FindPrerequisiteByName(const SetupSettings &settings, std::string_view name) {
    for (std::size_t i = 0; i < settings.prerequisites.size(); ++i)
        if (settings.prerequisites[i].name == name)
            return static_cast<int>(i);
    return -1;
}

void SetPrerequisiteResult(SetupSettings &settings, std::string_view propertyName, int32_t value) {
    for (PrerequisiteRecord &record : settings.prerequisites) {
        if (record.retValPropName == propertyName) {
            record.resultValue = value;
            record.resultKnown = true;
        }
    }
}

void SetDownloadedFlag(SetupSettings &settings, int index, bool flag) {
    if (ValidIndex(settings, index))
        settings.prerequisites[static_cast<std::size_t>(index)].downloaded = flag;
}

void SelectPrerequisite(SetupSettings &settings, int index, bool select) {
    if (!ValidIndex(settings, index))
        return;
    PrerequisiteRecord &record = settings.prerequisites[static_cast<std::size_t>(index)];
    if (record.selected == select)
        return;
    record.selected = select;
    LogPair("Prerequisite selected for install:", record.name);
    // Copies: the recursion below may select this record's parent, and the
    // records are reached by index only.
    const std::string name = record.name;
    const std::string parent = record.parentPrereq;
    for (std::size_t i = 0; i < settings.prerequisites.size(); ++i) {
        const PrerequisiteRecord &child = settings.prerequisites[i];
        if (static_cast<int>(i) == index || child.state == prereq_state::kExcluded ||
            child.parentPrereq != name)
            continue;
        SelectPrerequisite(settings, static_cast<int>(i), select && InStates123(child.state));
    }
    if (select && !parent.empty()) {
        const int p = FindPrerequisiteByName(settings, parent);
        if (p >= 0) {
            const int32_t state = settings.prerequisites[static_cast<std::size_t>(p)].state;
            if (state != prereq_state::kExcluded && state != prereq_state::kFound)
                SelectPrerequisite(settings, p, true);
        }
    }
}

void ApplyPrereqsSwitch(SetupSettings &settings, std::string_view list) {
    for (PrerequisiteRecord &record : settings.prerequisites)
        record.state = prereq_state::kExcluded;
    bool anyItem = false;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string_view::npos)
            end = list.size();
        const std::string_view item = list.substr(start, end - start);
        if (!item.empty()) {
            anyItem = true;
            int value = 0;
            if (ParseListIndex(item, value) && ValidIndex(settings, value))
                settings.prerequisites[static_cast<std::size_t>(value)].state =
                    prereq_state::kUndetected;
        }
        start = end + 1;
    }
    if (anyItem)
        settings.prereqsGiven = true;
}

std::string SelectedPrerequisiteList(const SetupSettings &settings) {
    std::string list;
    for (std::size_t i = 0; i < settings.prerequisites.size(); ++i) {
        if (!settings.prerequisites[i].selected)
            continue;
        if (!list.empty())
            list += ',';
        list += std::to_string(i);
    }
    return list;
}

bool AnyPrerequisiteNeedsAction(const SetupSettings &settings) {
    for (const PrerequisiteRecord &record : settings.prerequisites)
        if (InStates123(record.state))
            return true;
    return false;
}

bool IsPackageSetupFile(const SetupSettings &settings, int index) {
    return ValidIndex(settings, index) &&
           settings.prerequisites[static_cast<std::size_t>(index)].sourceKind ==
               source_kind::kSetupFile;
}

int32_t EffectivePrerequisiteState(const PrerequisiteRecord &record) {
    if (record.state == prereq_state::kDownload && record.downloaded)
        return prereq_state::kDownloaded;
    return record.state;
}

int32_t ManagerPrerequisiteState(const PrerequisiteRecord &record) {
    if (!record.selected)
        return prereq_state::kNotSelected;
    if (record.state != prereq_state::kFound)
        return EffectivePrerequisiteState(record);
    // Found, yet the user chose to install it.
    switch (record.sourceKind) {
    case source_kind::kUrl:
        return record.downloaded ? prereq_state::kDownloaded : prereq_state::kDownload;
    case source_kind::kOpenSite:
        return prereq_state::kOpenSite;
    default:
        return prereq_state::kFromPackage;
    }
}

std::string GetDownloadFolder(SetupSettings &settings) {
    GeneralOptions &general = settings.general;
    if (general.downloadFolder.empty() && !general.downloadBase.empty()) {
        general.downloadFolder = general.downloadBase;
        return general.downloadFolder;
    }
    return ResolveWorkFolder(general.downloadFolder, settings);
}

bool PrerequisiteAdmitsSystem(const PrerequisiteRecord &record) {
    return IsOsExcluded(record.win9xVersions, record.winNtVersions, record.winNt64Versions,
                        GetOsFamily(), GetOsDisplayName()) &&
           LanguageListMatches(record.languageList);
}

bool RunPrerequisiteSearches(PrerequisiteRecord &record, const PackageFileResolver &packageFile,
                             const platform::ProcessLauncher &programs) {
    DetectionProgramProvider provider = [&packageFile](const SearchRecord &search) {
        return packageFile ? packageFile(search) : std::string();
    };
    std::vector<SearchResult> results;
    return RunSearches(record.searches, results, record.op, HasPrerequisiteOption(record, 'x'),
                       provider, true, programs);
}

void DetectPrerequisite(SetupSettings &settings, int index, bool redetect,
                        const PrerequisiteProbe &probe) {
    if (!ValidIndex(settings, index))
        return;
    PrerequisiteRecord &record = settings.prerequisites[static_cast<std::size_t>(index)];
    if (record.state == prereq_state::kExcluded)
        return;
    const bool admitted =
        probe.admitsSystem ? probe.admitsSystem(record) : PrerequisiteAdmitsSystem(record);
    if (!admitted) {
        LogPair("Wrong OS or Os language for:", record.name);
        record.state = prereq_state::kExcluded;
        return;
    }
    LogPair("Searching for:", record.name);
    if (redetect && record.skipDetection) {
        record.state = prereq_state::kFound;
        return;
    }
    bool found = false;
    if (!record.skipDetection)
        found = probe.runSearches
                    ? probe.runSearches(record)
                    : RunPrerequisiteSearches(record, probe.packageFile, probe.programs);
    if (found)
        record.state = prereq_state::kFound;
    else if (record.sourceKind == source_kind::kUrl)
        record.state = prereq_state::kDownload;
    else if (record.sourceKind == source_kind::kOpenSite)
        record.state = prereq_state::kOpenSite;
    else
        record.state = prereq_state::kFromPackage;
    LogPair("Search result:", PrerequisiteStateName(record.state));
}

void DetectPrerequisites(SetupSettings &settings, const PrerequisiteProbe &probe) {
    for (std::size_t i = 0; i < settings.prerequisites.size(); ++i)
        DetectPrerequisite(settings, static_cast<int>(i), false, probe);
}

} // namespace krv::setup
