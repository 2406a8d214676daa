#include "settings.h"

#include "command_line_text.h"
#include "paths.h"
#include "ui_strings.h"

#include <string_view>

namespace krv::setup {

namespace {

// Copies the value of `key` into `field` when the key is present.
bool ReadText(const IniSection &section, std::string_view key, std::string &field) {
    const std::string *value = FindIniValue(section, key);
    if (!value)
        return false;
    field = *value;
    return true;
}

bool IsPresent(const IniSection &section, std::string_view key) {
    return FindIniValue(section, key) != nullptr;
}

// A present key sets `field`: true for "true" in any case, else false.
void ReadTrueFlag(const IniSection &section, std::string_view key, bool &field) {
    if (const std::string *value = FindIniValue(section, key))
        field = EqualsIgnoreCase(*value, "true");
}

int KeepModeFromText(const std::string &text) {
    if (text == "complete")
        return keep_mode::kComplete;
    if (text == "minimum")
        return keep_mode::kMinimum;
    if (text == "prereqs")
        return keep_mode::kPrereqs;
    return keep_mode::kNone;
}

std::string Numbered(std::string_view stem, int n) {
    return std::string(stem) + std::to_string(n);
}

} // namespace

void LoadGeneralOptions(GeneralOptions &record, const IniDocument &document) {
    const IniSection *section = FindIniSection(document, "GeneralOptions");
    if (!section)
        return;
    ReadText(*section, "MainAppCmdLine", record.mainAppCmdLine);
    ReadText(*section, "Options", record.flagLetters);
    ReadText(*section, "UpdatesUrl", record.updatesUrl);
    ReadText(*section, "ProductVersion", record.productVersion);
    ReadText(*section, "MinWIVer", record.minWiVersion);
    ReadText(*section, "DownloadFolder", record.downloadFolder);
    ReadText(*section, "MainAppURL", record.mainAppUrl);
    ReadText(*section, "LanguageList", record.languageList);
    if (const std::string *folder = FindIniValue(*section, "ExtractionFolder")) {
        record.extractionFolder = JoinPathParts(*folder);
        AddTrailingBackslash(record.extractionFolder);
    }
    if (const std::string *keep = FindIniValue(*section, "KeepFiles"))
        record.keepMode = KeepModeFromText(*keep);
    ReadTrueFlag(*section, "PackJars", record.packJars);
    ReadTrueFlag(*section, "AllPlatforms", record.allPlatforms);
    ReadTrueFlag(*section, "Is64PlatformTransf", record.is64PlatformTransform);
    ReadText(*section, "Langs", record.langs);
    ReadText(*section, "PackageCode", record.packageCode);
    ReadText(*section, "DefaultProdCode", record.defaultProdCode);
    ReadText(*section, "ProductCode", record.productCode);
    ReadText(*section, "UpgradeCode", record.upgradeCode);
    if (const std::string *stub = FindIniValue(*section, "ExtUIStub"))
        record.extUiStub = !stub->empty();
    ReadText(*section, "SaveExtUIStub", record.saveExtUiStub);
}

void LoadLaunchConditionSettings(LaunchConditionSettings &record, const IniDocument &document) {
    const IniSection *section = FindIniSection(document, "GlobalLaunchConds");
    if (!section)
        return;
    const IniSection &s = *section;
    if (ReadText(s, "Win9xVersions", record.win9xVersions))
        ReadText(s, "Win9xName", record.win9xName);
    if (ReadText(s, "WinNTVersions", record.winNtVersions))
        ReadText(s, "WinNTName", record.winNtName);
    if (ReadText(s, "WinNT64Versions", record.winNt64Versions))
        ReadText(s, "WinNT64Name", record.winNt64Name);
    if (ReadText(s, "MinIEVer", record.minIeVer))
        ReadText(s, "MinIEVerName", record.minIeVerName);
    ReadText(s, "MinIISVer", record.minIisVer);
    ReadText(s, "MinDotNETVer", record.minDotNetVer);
    ReadText(s, "MinScreenRes", record.minScreenRes);
    ReadText(s, "MinColorQuality", record.minColorQuality);
    ReadText(s, "MinPhisicalMem", record.minPhysicalMem);
    if (IsPresent(s, "AdminPrivileges"))
        record.adminPrivileges = true;
    if (IsPresent(s, "ActiveInternetConnection"))
        record.activeInternetConnection = true;
    ReadText(s, "MinAcrobatReaderVer", record.minAcrobatReaderVer);
    ReadText(s, "MinDirectXVer", record.minDirectXVer);
    ReadText(s, "MinJREVer", record.minJreVer);
    ReadText(s, "MinJDKVer", record.minJdkVer);
    struct OfficeApp {
        const char *key;
        int messageId;
    };
    for (const OfficeApp app : {OfficeApp{"Office2003App", ui_text::kOffice2003AppMissing},
                                OfficeApp{"Office2007App", ui_text::kOffice2007AppMissing},
                                OfficeApp{"Office2010App", ui_text::kOffice2010AppMissing}}) {
        if (const std::string *value = FindIniValue(s, app.key)) {
            record.officeAppKey = app.key;
            record.officeAppValue = *value;
            record.officeAppMessageId = app.messageId;
        }
    }
    ReadText(s, "XNAFramework", record.xnaFramework);
    ReadText(s, "SQLExpress", record.sqlExpress);
    ReadText(s, "SQLCompact", record.sqlCompact);
    ReadText(s, "ActiveSync", record.activeSync);
    ReadText(s, "Office2003Pia", record.office2003Pia);
    ReadText(s, "Office2007Pia", record.office2007Pia);
    ReadText(s, "Office2010Pia", record.office2010Pia);
    ReadText(s, "OfficeSharedPia", record.officeSharedPia);
    ReadText(s, "VisualStudioToolsOffice", record.visualStudioToolsOffice);
    ReadText(s, "SharePoint", record.sharePoint);
    if (IsPresent(s, "SharePoint_Permissions"))
        record.sharePointPermissions = true;
    if (IsPresent(s, "SharePoint_Services"))
        record.sharePointServices = true;
    ReadText(s, "SharePoint_Deployment", record.sharePointDeployment);
}

bool LoadPrerequisites(const IniDocument &document, int n, PrerequisiteRecord &record) {
    const IniSection *list = FindIniSection(document, "PREREQUISITES");
    if (!list)
        return false;
    const std::string *name = FindIniValue(*list, Numbered("App", n));
    if (!name)
        return false;
    const IniSection *section = FindIniSection(document, *name);
    if (!section)
        return false;
    record.name = *name;
    return LoadPrerequisite(record, document, *section);
}

bool LoadPrerequisite(PrerequisiteRecord &record, const IniDocument & /*document*/,
                      const IniSection &section) {
    ReadText(section, "VerMin", record.verMin);
    ReadText(section, "VerMax", record.verMax);
    if (ReadText(section, "SetupFile", record.source))
        record.sourceKind = source_kind::kSetupFile;
    else if (ReadText(section, "OpenSite", record.source))
        record.sourceKind = source_kind::kOpenSite;
    else if (ReadText(section, "Url", record.source))
        record.sourceKind = source_kind::kUrl;
    else
        return false;
    ReadText(section, "CommandLine", record.commandLine);
    ReadText(section, "BasicUiCommandLine", record.basicUiCommandLine);
    ReadText(section, "NoUiCommandLine", record.noUiCommandLine);
    ReadText(section, "Options", record.options);
    ReadText(section, "MD5", record.md5);
    if (const std::string *size = FindIniValue(section, "ExactSize"))
        record.exactSize = ParseDecimal(*size);
    ReadText(section, "Folder", record.folder);
    ReadText(section, "RetValPropName", record.retValPropName);
    ReadText(section, "ParentPrereq", record.parentPrereq);
    if (const std::string *op = FindIniValue(section, "Operator"))
        record.op = ParseDecimal(*op);
    if (!LoadSearches(section, record.searches))
        return false;
    ReadText(section, "Win9xVersions", record.win9xVersions);
    ReadText(section, "WinNTVersions", record.winNtVersions);
    ReadText(section, "WinNT64Versions", record.winNt64Versions);
    ReadText(section, "LanguageList", record.languageList);
    PreparePrerequisiteRecord(record);
    return true;
}

void PreparePrerequisiteRecord(PrerequisiteRecord &record) {
    if (!record.languageList.empty() && record.languageList.back() != ';')
        record.languageList += ';';
    if (record.sourceKind == source_kind::kUrl || record.sourceKind == source_kind::kOpenSite)
        record.source = ExpandReferences(record.source);
    record.skipDetection = record.options.find('i') != std::string::npos;
    record.state = kPrerequisiteUndetected;
    record.selected = false;
}

bool LoadSearches(const IniSection &section, std::vector<SearchRecord> &searches) {
    for (int k = 1;; ++k) {
        const std::string *type = FindIniValue(section, Numbered("SearchType", k));
        if (!type)
            return true;
        SearchRecord search;
        search.type = ParseDecimal(*type);
        if (!ReadText(section, Numbered("SearchString", k), search.searchString))
            return false;
        ReadText(section, Numbered("VerMin", k), search.verMin);
        ReadText(section, Numbered("VerMax", k), search.verMax);
        ReadText(section, Numbered("RefContent", k), search.refContent);
        ReadText(section, Numbered("SearchCmdLine", k), search.searchCmdLine);
        searches.push_back(std::move(search));
    }
}

bool LoadInstances(const IniDocument &document, int n, ProductInstanceRecord &record) {
    const IniSection *list = FindIniSection(document, "INSTANCES");
    if (!list)
        return false;
    const std::string *name = FindIniValue(*list, Numbered("inst", n));
    if (!name)
        return false;
    const IniSection *section = FindIniSection(document, *name);
    if (!section)
        return false;
    const std::string *productCode = FindIniValue(*section, "ProductCode");
    if (!productCode)
        return false;
    record.instanceName = *name;
    record.productCode = *productCode;
    record.installed = false;
    record.older = false;
    return true;
}

bool LoadStartup(ProductInstanceRecord &record, const IniDocument &document) {
    const IniSection *section = FindIniSection(document, "STARTUP");
    if (!section)
        return false;
    const std::string *productCode = FindIniValue(*section, "ProductCode");
    const std::string *upgradeCode = FindIniValue(*section, "UpgradeCode");
    const std::string *version = FindIniValue(*section, "ProductVersion");
    if (!productCode || !upgradeCode || !version)
        return false;
    record.instanceName.clear();
    record.productCode = *productCode;
    record.upgradeCode = *upgradeCode;
    VersionQuad parsed;
    ParseVersion(*version, parsed); // an unreadable version stays 0.0.0.0
    record.productVersion = parsed;
    record.installed = false;
    record.older = false;
    return true;
}

std::string SettingsWorkFolder(const std::string &setting, const GeneralOptions &general) {
    const std::string &base = general.workBase.empty() ? GetTempFolder() : general.workBase;
    std::string folder =
        setting.empty() ? base + general.defaultProdCode : JoinPathParts(ExpandReferences(setting));
    AddTrailingBackslash(folder);
    return folder;
}

std::string SettingsExtractionFolder(const GeneralOptions &general) {
    return SettingsWorkFolder(general.extractionFolder, general);
}

bool HasSetupFlagLetter(const SetupSettings &settings, char letter) {
    return settings.general.flagLetters.find(letter) != std::string::npos;
}

std::string PackageNameStem(const std::string &productCode) {
    if (productCode.size() < 2)
        return {};
    const std::size_t end = productCode.size() - 1;
    const std::size_t begin = end > 7 ? end - 7 : 0;
    return productCode.substr(begin, end - begin);
}

std::string SettingsNameStem(const GeneralOptions &general) {
    return PackageNameStem(general.productCode.empty() ? general.defaultProdCode
                                                       : general.productCode);
}

} // namespace krv::setup
