// The setup settings that the package carries as INI text: general options,
// global launch conditions, prerequisites with their searches, product
// instances and the start-up product. A missing section or key is never an
// error: the field keeps its default.
#pragma once

#include "ini.h"
#include "version.h"

#include <cstdint>
#include <string>
#include <vector>

namespace krv::setup {

// What the archive keeps of the files it extracted (KeepFiles key).
namespace keep_mode {
inline constexpr int kNone = 0;     // absent or unknown text
inline constexpr int kMinimum = 1;  // "minimum"
inline constexpr int kComplete = 2; // "complete"
inline constexpr int kPrereqs = 5;  // "prereqs"
} // namespace keep_mode

// Section "GeneralOptions".
struct GeneralOptions {
    std::string mainAppCmdLine;   // MainAppCmdLine
    std::string flagLetters;      // Options: the setup flag letters q b h e u x o
    std::string updatesUrl;       // UpdatesUrl
    std::string productVersion;   // ProductVersion
    std::string minWiVersion;     // MinWIVer
    std::string downloadFolder;   // DownloadFolder
    std::string mainAppUrl;       // MainAppURL
    std::string languageList;     // LanguageList
    std::string extractionFolder; // ExtractionFolder, normalised, ends with "\"
    int keepMode = keep_mode::kNone;
    bool packJars = false;              // PackJars=true (any case)
    bool allPlatforms = false;          // AllPlatforms=true (any case)
    bool is64PlatformTransform = false; // Is64PlatformTransf=true (any case)
    std::string langs;                  // Langs: decimal LANGIDs separated by ","
    std::string packageCode;            // PackageCode
    std::string defaultProdCode;        // DefaultProdCode
    std::string productCode;            // ProductCode
    std::string upgradeCode;            // UpgradeCode
    bool extUiStub = false;             // ExtUIStub present with a non-empty value
    std::string saveExtUiStub;          // SaveExtUIStub
    // Not a setting: the folder the work folders go to when the package
    // names none (the run's own folder, with a trailing "/"); empty: the
    // temporary folder.
    std::string workBase;
    // Not a setting: the folder downloads go to when the package names none
    // (ResumableDownloadFolder, with a trailing "/"), where a download cut
    // short waits for the next run; empty: below the work base.
    std::string downloadBase;
};

// Section "GlobalLaunchConds": one text per condition, empty = no condition.
struct LaunchConditionSettings {
    std::string win9xVersions;
    std::string win9xName; // read only with Win9xVersions
    std::string winNtVersions;
    std::string winNtName; // read only with WinNTVersions
    std::string winNt64Versions;
    std::string winNt64Name; // read only with WinNT64Versions
    std::string minIeVer;
    std::string minIeVerName; // read only with MinIEVer
    std::string minIisVer;
    std::string minDotNetVer;
    std::string minScreenRes;
    std::string minColorQuality;
    std::string minPhysicalMem;            // key MinPhisicalMem
    bool adminPrivileges = false;          // key present, any value
    bool activeInternetConnection = false; // key present, any value
    std::string minAcrobatReaderVer;
    std::string minDirectXVer;
    std::string minJreVer;
    std::string minJdkVer;
    // Office application: of Office2003App, Office2007App, Office2010App the
    // last present one (2010 over 2007 over 2003).
    std::string officeAppKey;
    std::string officeAppValue;
    int officeAppMessageId = 0; // 227, 228 or 244
    std::string xnaFramework;
    std::string sqlExpress;
    std::string sqlCompact;
    std::string activeSync;
    std::string office2003Pia;
    std::string office2007Pia;
    std::string office2010Pia;
    std::string officeSharedPia;
    std::string visualStudioToolsOffice;
    std::string sharePoint;
    bool sharePointPermissions = false; // key present, any value
    bool sharePointServices = false;    // key present, any value
    std::string sharePointDeployment;
    std::string reserved; // one more text, never read from the settings
};

// One search of a prerequisite (SearchType<K> and its companions).
struct SearchRecord {
    int32_t type = 0; // SearchType<K>
    std::string searchString;
    std::string verMin;
    std::string verMax;
    std::string refContent;
    std::string searchCmdLine;
};

namespace source_kind {
inline constexpr int32_t kSetupFile = 0;
inline constexpr int32_t kUrl = 1;
inline constexpr int32_t kOpenSite = 2;
} // namespace source_kind

// Detection has not run yet: the state after loading.
inline constexpr int32_t kPrerequisiteUndetected = 8;

struct PrerequisiteRecord {
    std::string name; // also the name of its own section
    std::string verMin;
    std::string verMax;
    std::string source;
    int32_t sourceKind = source_kind::kSetupFile;
    std::string commandLine;
    std::string basicUiCommandLine;
    std::string noUiCommandLine;
    std::string options;
    std::string md5;
    int32_t exactSize = 0;
    std::string folder;
    std::string retValPropName;
    std::string parentPrereq;
    int32_t op = 0; // Operator: how search results are merged
    std::vector<SearchRecord> searches;
    std::string win9xVersions;
    std::string winNtVersions;
    std::string winNt64Versions;
    std::string languageList;
    // Detection and selection state.
    int32_t state = kPrerequisiteUndetected;
    bool downloaded = false;
    bool selected = false;
    int32_t resultValue = 0;
    bool resultKnown = false;
    bool skipDetection = false;
};

// A product instance (INSTANCES) or the start-up product (STARTUP).
struct ProductInstanceRecord {
    std::string instanceName; // empty for the start-up product
    std::string productName;
    std::string productCode;
    std::string relatedProductCode;
    std::string upgradeCode;
    VersionQuad installedVersion;
    VersionQuad productVersion;
    std::string installLocation;
    bool installed = false;
    bool older = false;
};

struct SetupSettings {
    std::vector<PrerequisiteRecord> prerequisites;
    GeneralOptions general;
    LaunchConditionSettings launchConditions;
    bool prereqsGiven = false; // /prereqs named the prerequisites to process
};

void LoadGeneralOptions(GeneralOptions &record, const IniDocument &document);
void LoadLaunchConditionSettings(LaunchConditionSettings &record, const IniDocument &document);

// Prerequisite N (1-based) named by "App<N>" of section "PREREQUISITES".
// False when the section, the key or the named section is missing, or the
// prerequisite cannot be loaded; the caller stops at the first false.
bool LoadPrerequisites(const IniDocument &document, int n, PrerequisiteRecord &record);
// False when the section has none of SetupFile, OpenSite, Url, or a search
// lacks its SearchString. A loaded record is prepared
// (PreparePrerequisiteRecord), so every reader of the settings, the
// installer-version check included, sees it as detection will.
bool LoadPrerequisite(PrerequisiteRecord &record, const IniDocument &document,
                      const IniSection &section);
// What loading adds to the fields read: LanguageList ends with ";", Url and
// OpenSite sources are expanded (ExpandReferences), "i" in Options sets skip
// detection, and the record starts undetected and unselected.
void PreparePrerequisiteRecord(PrerequisiteRecord &record);
// SearchType<K> for K = 1, 2, ... while present; each needs SearchString<K>.
bool LoadSearches(const IniSection &section, std::vector<SearchRecord> &searches);

// Instance N (1-based): "inst<N>" of section "INSTANCES" names the instance
// and its section, whose "ProductCode" is required.
bool LoadInstances(const IniDocument &document, int n, ProductInstanceRecord &record);
// Section "STARTUP" with ProductCode, UpgradeCode and ProductVersion, all
// required.
bool LoadStartup(ProductInstanceRecord &record, const IniDocument &document);

// A working folder from its setting (ExtractionFolder, DownloadFolder): the
// setting with its references expanded, else the work base (or the temporary
// folder) plus DefaultProdCode; it ends with a backslash.
std::string SettingsWorkFolder(const std::string &setting, const GeneralOptions &general);
// The folder the package extracts into (ExtractionFolder).
std::string SettingsExtractionFolder(const GeneralOptions &general);

// Whether the setup flag letters (GeneralOptions "Options") hold the letter.
bool HasSetupFlagLetter(const SetupSettings &settings, char letter);
// The seven characters before the last of a product code (for a code in
// braces its last seven hexadecimal digits); all there are when shorter.
std::string PackageNameStem(const std::string &productCode);
// The package's name stem from ProductCode, else DefaultProdCode; empty
// when neither is set.
std::string SettingsNameStem(const GeneralOptions &general);

} // namespace krv::setup
