#include "installer_launch.h"

#include "command_line_text.h"
#include "files.h"
#include "installed_products.h"
#include "installer_engine.h"
#include "installer_package.h"
#include "log.h"
#include "messages.h"
#include "paths.h"
#include "payload_commands.h"
#include "payload_format.h"
#include "setup_ui.h"
#include "system.h"
#include "ui_strings.h"

#include <setup_process.h>
#include <setup_registry.h>
#include <setup_system.h>

#include <array>

namespace krv::setup {

namespace {

namespace container = payload::container;

constexpr uint32_t kInstallerTooOldId = 135;
constexpr uint32_t kInstallerStartFailedId = 131;
constexpr uint32_t kUpgradeQuestionId = 232;
constexpr uint32_t kQuestionCaptionId = 231;

// M: the package path with ".mst" for its extension; under WOW64 with
// Is64PlatformTransf the platform transform is added after a ";".
std::string TransformFile(const std::string &package, const SetupSettings &settings, bool wow64,
                          bool &exists) {
    std::string m = WithExtension(package, ".mst");
    exists = FileOrFolderExists(m);
    if (exists && settings.general.is64PlatformTransform && wow64)
        m += ";" + WithExtension(m, ".x64.mst");
    return m;
}

uint16_t TransformLanguage(const MsiexecLineInputs &inputs, const SetupSettings &settings) {
    if (inputs.chosenLanguage != 0)
        return inputs.chosenLanguage;
    std::vector<uint16_t> list;
    if (settings.general.allPlatforms) {
        for (const std::string &item : SplitString(settings.general.langs, ","))
            if (const int32_t id = ParseDecimal(item); id > 0 && id <= 0xFFFF)
                list.push_back(uint16_t(id));
    } else {
        list = inputs.availableLanguages;
    }
    if (inputs.ownLanguageCount != 1 || list.empty())
        return 0;
    const bool preferUser = (inputs.containerFlags & container::kPreferUserLanguages) != 0;
    const uint16_t suggested =
        inputs.suggestLanguage ? inputs.suggestLanguage(list, preferUser) : list.front();
    return suggested == list.front() ? 0 : suggested;
}

std::string DoubleQuotes(std::string_view text) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out;
}

// A decimal value found by enumerating the key's values (exact names).
std::optional<uint16_t> LanguageValue(platform::RegistryHive hive, const std::string &path) {
    const auto key = platform::RegistryOpenKey(hive, path);
    if (!key)
        return std::nullopt;
    for (const std::string &name : platform::RegistryListValues(*key)) {
        if (name != "InstallLanguage")
            continue;
        std::string text;
        if (!QueryRegistryValueText(*key, name, text))
            return std::nullopt;
        const int32_t value = ParseDecimal(text);
        if (value > 0 && value <= 0xFFFF)
            return uint16_t(value);
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::string InstallerProgramPath() {
    if (const auto named = platform::GetEnvironmentVariable(kInstallerProgramVariable);
        named && !named->empty())
        return *named;
    return ExpandReferences(kInstallerProgramReference);
}

VersionQuad InstallerVersion() {
    uint32_t high = 0, low = 0;
    GetFileVersionQuad(InstallerProgramPath(), high, low);
    return SetVersion(int32_t(high >> 16), int32_t(high & 0xFFFF), int32_t(low >> 16),
                      int32_t(low & 0xFFFF));
}

bool CheckInstallerVersion(const SetupMessages &messages, const SetupSettings &settings,
                           uint32_t containerFlags, std::string_view productNameSource,
                           const std::function<bool(const PrerequisiteRecord &)> &admitsSystem) {
    const VersionQuad installed = InstallerVersion();
    LogLine("Detected Windows Installer version:" + FormatVersion(installed));
    if (const std::string program = InstallerProgramPath(); !FileOrFolderExists(program)) {
        const std::string named =
            platform::GetEnvironmentVariable(kInstallerProgramVariable).value_or("");
        const std::string root = platform::GetEnvironmentVariable("KRV_SETUP_ROOT").value_or("");
        LogLine("The installer program was not found at:" + program + " (" +
                kInstallerProgramVariable + ":" + (named.empty() ? "not set" : named) +
                ", system folder:" + ExpandReferences("[SystemFolder]") +
                ", KRV_SETUP_ROOT:" + (root.empty() ? "not set" : root) + ")");
    }
    VersionQuad minimum = SetVersion(2, 0, 0, 0);
    if (!settings.general.minWiVersion.empty())
        ParseVersion(settings.general.minWiVersion, minimum);
    if (CompareVersions(installed, minimum) >= 0)
        return false;
    if (containerFlags & container::kHasSettings) {
        for (const PrerequisiteRecord &prerequisite : settings.prerequisites) {
            // Only a prerequisite that this system would install carries the
            // installer for it.
            if (prerequisite.searches.empty() || !admitsSystem(prerequisite))
                continue;
            const std::string &search = prerequisite.searches.front().searchString;
            if (EqualsIgnoreCase(search, "[SystemFolder]msi.dll") ||
                EqualsIgnoreCase(search, kInstallerProgramReference)) {
                LogLine("Windows installer is inluded in package.");
                return false;
            }
        }
    }
    std::string productName(productNameSource);
    if (!GetVersionInfoString(productName, "ProductName"))
        productName.clear();
    messages.ReportError(FormatUiString(kInstallerTooOldId, productName, FormatVersion(minimum)),
                         false);
    return true;
}

int FindActionPlaceholder(std::string &text) {
    int found = -1;
    std::size_t pos = text.find("//");
    while (pos != std::string::npos) {
        if (pos > 0 && text[pos - 1] == '|') {
            text.erase(pos - 1, 1);
            pos = text.find("//", pos + 1);
            continue;
        }
        found = int(pos);
        pos = text.find("//", pos + 2);
    }
    return found;
}

bool DetectMinorUpgrade(const SetupSettings &settings, std::string_view packagePath) {
    if (!HasSetupFlagLetter(settings, 'u'))
        return false;
    const auto database = OpenPackageDatabase(packagePath);
    if (!database)
        return false;
    const std::string code = QueryMsiProperty(*database, "ProductCode").value_or("");
    if (code.empty() || ProductState(code) != install_state::kDefault)
        return false;
    const std::string installedText = ProductInfo(code, "VersionString").value_or("").substr(0, 29);
    VersionQuad installed, offered;
    ParseVersion(installedText, installed);
    ParseVersion(QueryMsiProperty(*database, "ProductVersion").value_or(""), offered);
    if (CompareVersions(installed, offered) >= 0)
        return false;
    LogLine("A minor upgrade will be applied to version:" + installedText);
    return true;
}

void AppendResultProperties(const SetupSettings &settings, std::string &text) {
    for (const PrerequisiteRecord &prerequisite : settings.prerequisites)
        if (!prerequisite.retValPropName.empty() && prerequisite.resultKnown)
            text +=
                " " + prerequisite.retValPropName + "=" + std::to_string(prerequisite.resultValue);
}

bool BuildMsiexecCommandLine(const MsiexecLineInputs &inputs, std::string &text,
                             std::string_view packageFilePath, std::string installerPackagePath,
                             const SetupSettings &settings, InstalledInstances *instances) {
    const bool allPlatforms = settings.general.allPlatforms;
    const bool patch = (inputs.containerFlags & container::kPatch) != 0;
    std::string &p = installerPackagePath;
    if (allPlatforms && inputs.wow64) {
        const std::string extension = GetExtension(p);
        if (!extension.empty())
            StripExtension(p, ".x64" + extension);
    }
    std::string d = GetFolderPart(packageFilePath);
    AddTrailingBackslash(d);

    const uint16_t language = TransformLanguage(inputs, settings);
    std::string transforms;
    bool mExists = false;
    const std::string m = TransformFile(p, settings, inputs.wow64, mExists);
    if (language != 0 && allPlatforms) {
        const std::string f = GetFolderPart(p);
        const std::string lang = std::to_string(language);
        transforms = mExists ? " TRANSFORMS=\"" + m + ";" + f + "\\" + lang + "\""
                             : " TRANSFORMS=\"" + f + "\\" + lang + "\"";
    } else if (language != 0) {
        transforms = " TRANSFORMS=\":" + std::to_string(language) + "\"";
    } else if (allPlatforms) {
        if (mExists)
            transforms = " TRANSFORMS=\"" + m + "\"";
    } else if (instances && !instances->records.empty()) {
        const InstanceArguments arguments = BuildInstanceArguments(*instances);
        if (arguments.mode == instance_mode::kUpgrade &&
            inputs.messages.MessageBoxFromStrings(
                nullptr, kUpgradeQuestionId, UiTextOrId(kQuestionCaptionId),
                mb::kIconInformation | mb::kYesNo) != answer::kYes)
            return false;
        text.insert(0, arguments.text);
    }

    int position = FindActionPlaceholder(text);
    if (position < 0) {
        const std::string action = patch ? " /p //"
                                   : DetectMinorUpgrade(settings, installerPackagePath)
                                       ? " /fvomus //"
                                       : " /i //";
        text.insert(0, action);
        position = int(action.find("//"));
    }
    text.replace(std::size_t(position), 2, " \"" + p + "\" ");
    if (text.empty() || text[0] != ' ')
        text.insert(0, " ");
    if (!patch) {
        text += transforms + " PX_SETUPEXEPATH=\"" + std::string(packageFilePath) +
                "\" SETUPEXEDIR=\"" + d + "\"";
        const std::string rebuilt =
            inputs.options ? BuildCommandLine(*inputs.options, true) : std::string();
        if (!rebuilt.empty())
            text += " EXE_CMD_LINE=\"" + DoubleQuotes(rebuilt) + " \"";
    }
    AppendResultProperties(settings, text);
    return true;
}

int LaunchMsiexec(std::string_view arguments, const MsiexecLaunch &launch) {
    launch.ui.HideStatusWindow();
    const std::string program = InstallerProgramPath();
    if (launch.launcher) {
        launch.setExitCode(int(launch.launcher(program, std::string(arguments), launch.ui)));
        launch.afterRun();
        return 0;
    }
    LogLine("Launching msiexec.exe with command line:" + std::string(arguments));
    uint32_t status = 0;
    const bool started =
        RunProcessAndWait(program, platform::QuoteArgument(program) + std::string(arguments),
                          &status, 0, true, launch.programs);
    const uint32_t code = started ? InstallerReturnCode(status) : 0;
    if (started) {
        std::string line = "Return code of msiexec.exe:";
        AppendLogULong(line, code);
        LogLine(line);
    }
    launch.afterRun();
    if (!started) {
        launch.setExitCode(ArchiveResultExitCode(launch.ui.Messages(),
                                                 LoadUiString(kInstallerStartFailedId),
                                                 result_code::kInstallerStartFailed));
        return result_code::kInstallerStartFailed;
    }
    launch.setExitCode(int(code));
    return 0;
}

bool FindRelatedProductByPackageCode(std::string_view packageCode, std::string_view upgradeCode,
                                     std::string &productCode) {
    for (int index = 0;; ++index) {
        const auto related = RelatedProduct(upgradeCode, index);
        if (!related)
            return false;
        if (ProductInfo(*related, "PackageCode").value_or("") == packageCode &&
            !packageCode.empty()) {
            productCode = *related;
            return true;
        }
    }
}

uint16_t RelatedProductLanguage(std::string_view productCode) {
    using platform::RegistryHive;
    const std::array<std::string, 2> keys = {
        "Software\\Drennel\\Parvex\\" + std::string(productCode),
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + std::string(productCode)};
    // The store has one view: the 64-bit view of the registry is the same.
    for (const std::string &key : keys)
        for (RegistryHive hive : {RegistryHive::LocalMachine, RegistryHive::CurrentUser})
            if (const auto value = LanguageValue(hive, key))
                return *value;
    const int32_t installed =
        ParseDecimal(ProductInfo(productCode, "InstalledLanguage").value_or(""));
    return installed > 0 && installed <= 0xFFFF ? uint16_t(installed) : 0;
}

} // namespace krv::setup
