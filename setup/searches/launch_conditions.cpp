#include "launch_conditions.h"

#include "command_line_text.h"
#include "log.h"
#include "messages.h"
#include "program.h"
#include "search_engine.h"
#include "setup_ui.h"
#include "system.h"
#include "ui_dispatcher.h"
#include "ui_strings.h"
#include "version.h"

#include <setup_locale.h>
#include <setup_system.h>

#include <array>

namespace krv::setup {

namespace {

// The tables of the Windows components that conditions look for.

struct DotNetRow {
    const char *name;
    const char *value;
    const char *content;
};
constexpr std::array<DotNetRow, 7> kDotNetRows = {{
    {"1.0", "HKLM\\SOFTWARE\\Microsoft\\.NETFramework\\policy\\v1.0\\3705", "3321-3705"},
    {"1.1", "HKLM\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v1.1.4322\\Install", "1"},
    {"2.0", "HKLM\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727\\Install", "1"},
    {"3.0", "HKLM\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v3.0\\Setup\\InstallSuccess",
     "1"},
    {"3.5", "HKLM\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v3.5\\Install", "1"},
    {"4.0 Client Profile",
     "HKLM\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Client\\Install", "1"},
    {"4.0", "HKLM\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full\\Install", "1"},
}};
constexpr const char *kDotNet45Value =
    "HKLM\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full\\Version";

// A row of the tables below: a name and the text that goes with it (a
// version, a registry reference or an installer component code).
struct NamedText {
    const char *name;
    const char *text;
};
constexpr std::array<NamedText, 13> kDirectXRows = {{
    {"7.0", "4.07.00.0700"},
    {"7.0a", "4.07.00.0716"},
    {"7.1", "4.07.01.3000"},
    {"8.0a", "4.08.00.0400"},
    {"8.1", "4.08.01.0810"},
    {"8.1b", "4.08.01.0901"},
    {"8.2", "4.08.02.0134"},
    {"9.0", "4.09.00.0900"},
    {"9.0a", "4.09.00.0901"},
    {"9.0b", "4.09.00.0902"},
    {"9.0c", "4.09.00.0903"},
    {"10", "6.00.6000.16386"},
    {"11", "6.01.7000.0000"},
}};
constexpr const char *kDirectXValue = "HKLM\\SOFTWARE\\Microsoft\\DirectX\\Version";

// Office applications: the InstallRoot value of their 2003, 2007 and 2010
// installations (empty: that generation has none).
struct OfficeAppRow {
    const char *name;
    std::array<const char *, 3> values;
};
#define KRV_OFFICE_PATH(version, app)                                                              \
    "HKLM\\SOFTWARE\\Microsoft\\Office\\" version "\\" app "\\InstallRoot\\Path"
#define KRV_OFFICE_ROW(title, app)                                                                 \
    {                                                                                              \
        title, {                                                                                   \
            KRV_OFFICE_PATH("11.0", app), KRV_OFFICE_PATH("12.0", app),                            \
                KRV_OFFICE_PATH("14.0", app)                                                       \
        }                                                                                          \
    }
const std::array<OfficeAppRow, 10> kOfficeApps = {{
    KRV_OFFICE_ROW("Microsoft Access", "Access"),
    KRV_OFFICE_ROW("Microsoft Excel", "Excel"),
    KRV_OFFICE_ROW("Microsoft InfoPath", "InfoPath"),
    KRV_OFFICE_ROW("Microsoft OneNote", "OneNote"),
    KRV_OFFICE_ROW("Microsoft Outlook", "Outlook"),
    KRV_OFFICE_ROW("Microsoft PowerPoint", "PowerPoint"),
    KRV_OFFICE_ROW("Microsoft Publisher", "Publisher"),
    KRV_OFFICE_ROW("Microsoft Word", "Word"),
    {"Microsoft Groove", {"", KRV_OFFICE_PATH("12.0", "Excel"), ""}},
    {"Microsoft Sharepoint Workspace", {"", "", KRV_OFFICE_PATH("14.0", "Groove")}},
}};
#undef KRV_OFFICE_ROW
#undef KRV_OFFICE_PATH
constexpr const char *kVisioViewer = "Microsoft Visio Viewer";

constexpr std::array<NamedText, 5> kXnaRows = {{
    {"1.0", "HKLM\\SOFTWARE\\Microsoft\\XNA\\Framework\\v1.0\\NativeLibraryPath"},
    {"2.0", "HKLM\\SOFTWARE\\Microsoft\\XNA\\Framework\\v2.0\\NativeLibraryPath"},
    {"3.0", "HKLM\\SOFTWARE\\Microsoft\\XNA\\Framework\\v3.0\\NativeLibraryPath"},
    {"3.1", "HKLM\\SOFTWARE\\Microsoft\\XNA\\Framework\\v3.1\\NativeLibraryPath"},
    {"4.0", "HKLM\\SOFTWARE\\Microsoft\\XNA\\Framework\\v4.0\\NativeLibraryPath"},
}};
// The names the log gives the rows.
constexpr std::array<const char *, 5> kXnaLogNames = {"1.0", "2.0", "3.0", "3.2", "4.0"};

struct SqlRow {
    const char *name;
    const char *verMin;
    const char *value; // below HKLM\SOFTWARE\Microsoft\ .
};
constexpr const char *kSql2005 =
    "Microsoft SQL Server\\90\\Tools\\ClientSetup\\CurrentVersion\\CurrentVersion";
constexpr const char *kSql2008Redist =
    "Microsoft SQL Server 2008 Redist\\SQLNCLI10\\1033\\CurrentVersion\\Version";
constexpr const char *kSqlNative10 =
    "Microsoft SQL Server Native Client 10.0\\CurrentVersion\\Version";
constexpr const char *kSqlCompact35 =
    "Microsoft SQL Server Compact Edition\\v3.5\\ENU\\DesktopRuntimeServicePackLevel";
constexpr std::array<SqlRow, 19> kSqlRows = {{
    {"SQL Server Express 2005", "9.0", kSql2005},
    {"SQL Server Express 2005 SP1", "9.00.2047", kSql2005},
    {"SQL Server Express 2005 SP2", "9.00.3042", kSql2005},
    {"SQL Server Express 2005 SP3", "9.00.4035", kSql2005},
    {"SQL Server Express 2005 SP4", "9.00.5000", kSql2005},
    {"SQL Server Express 2008", "10.0",
     "Microsoft SQL Server\\SQLEXPRESS\\MSSQLServer\\CurrentVersion\\CurrentVersion"},
    {"SQL Server Express 2008", "10.0",
     "Microsoft SQL Server\\SQLSERVER2008\\MSSQLServer\\CurrentVersion\\CurrentVersion"},
    {"SQL Server Express 2008 SP1", "10.1", kSql2008Redist},
    {"SQL Server Express 2008 SP1", "10.1", kSqlNative10},
    {"SQL Server Express 2008 SP2", "10.2", kSql2008Redist},
    {"SQL Server Express 2008 SP2", "10.2", kSqlNative10},
    {"SQL Server Express 2008 R2", "10.50", kSql2008Redist},
    {"SQL Server Express 2008 R2", "10.50", kSqlNative10},
    {"SQL Server Express 2012", "11.0",
     "Microsoft SQL Server 2012 Redist\\SQLNCLI11\\1033\\CurrentVersion\\Version"},
    {"SQL Server Express 2012", "11.0",
     "Microsoft SQL Server Native Client 11.0\\CurrentVersion\\Version"},
    {"SQL Server Compact 3.5", "3.5",
     "Microsoft SQL Server Compact Edition\\v3.5\\ENU\\DesktopRuntimeVersion"},
    {"SQL Server Compact 3.5 SP1", "1", kSqlCompact35},
    {"SQL Server Compact 3.5 SP2", "2", kSqlCompact35},
    {"SQL Server Compact 4.0", "4.0",
     "Microsoft SQL Server Compact Edition\\v4.0\\ENU\\DesktopRuntimeVersion"},
}};
constexpr std::size_t kSqlExpressRows = 15;

struct ActiveSyncRow {
    const char *name;
    int major;
    int minor;
};
constexpr std::array<ActiveSyncRow, 5> kActiveSyncRows = {{
    {"ActiveSync 3.8", 3, 8},
    {"ActiveSync 4.2", 4, 2},
    {"ActiveSync 4.5", 4, 5},
    {"Windows Mobile Device Center 6.0", 6, 0},
    {"Windows Mobile Device Center 6.1", 6, 1},
}};
constexpr const char *kActiveSyncAppPath =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAPPMGR.EXE\\";
constexpr const char *kActiveSyncMajor =
    "HKLM\\SOFTWARE\\Microsoft\\Windows CE Services\\MajorVersion";
constexpr const char *kActiveSyncMinor =
    "HKLM\\SOFTWARE\\Microsoft\\Windows CE Services\\MinorVersion";

// Interop assemblies: application name and the installer component that
// carries its assembly. The component codes are not known yet, so every
// row has an empty code and the search for it finds nothing; fill them in
// when they are.
constexpr std::array<NamedText, 9> kPia2003Rows = {{
    {"Microsoft Excel", ""},
    {"Microsoft InfoPath", ""},
    {"Microsoft Outlook", ""},
    {"Microsoft PowerPoint", ""},
    {"Microsoft Visio", ""},
    {"Microsoft Word", ""},
    {"Microsoft Forms", ""},
    {"Microsoft Graph", ""},
    {"Microsoft Smart Tag", ""},
}};
constexpr std::array<NamedText, 10> kPia2007Rows = {{
    {"Microsoft Excel", ""},
    {"Microsoft InfoPath", ""},
    {"Microsoft Outlook", ""},
    {"Microsoft PowerPoint", ""},
    {"Microsoft Visio", ""},
    {"Microsoft Word", ""},
    {"Microsoft Forms", ""},
    {"Microsoft Graph", ""},
    {"Microsoft Smart Tag", ""},
    {"Microsoft Project", ""},
}};
constexpr std::array<NamedText, 10> kPia2010Rows = kPia2007Rows;
constexpr std::array<NamedText, 2> kPiaSharedRows = {{
    {"Office Shared 2007", ""},
    {"Office Shared 2010", ""},
}};

constexpr std::array<NamedText, 3> kVstoRows = {{
    {"Visual Studio Tools for Office 2005 SE Runtime",
     "HKLM\\Software\\Microsoft\\vsto runtime Setup\\v2.0.50727\\Install"},
    {"Visual Studio Tools for the Microsoft Office 3.0 Runtime",
     "HKLM\\Software\\Microsoft\\VSTO Runtime Setup\\v9.0.21022\\Install"},
    {"Visual Studio Tools for Office 2010 Runtime",
     "HKLM\\SOFTWARE\\Microsoft\\VSTO Runtime Setup\\v4\\Install"},
}};

constexpr std::array<NamedText, 2> kSharePointRows = {{
    {"Windows SharePoint Services 3.0 or Microsoft Office SharePoint Server 2007",
     "HKLM\\SOFTWARE\\Microsoft\\Shared Tools\\Web Server Extensions\\12.0\\SharePoint"},
    {"Microsoft SharePoint Foundation 2010 or Microsoft SharePoint Server 2010",
     "HKLM\\SOFTWARE\\Microsoft\\Shared Tools\\Web Server Extensions\\14.0\\SharePoint"},
}};

// One search record run and judged.
bool Search(int32_t type, std::string_view searchString, std::string_view verMin = {},
            SearchResult *out = nullptr) {
    SearchRecord record;
    record.type = type;
    record.searchString = std::string(searchString);
    record.verMin = std::string(verMin);
    SearchResult result;
    RunSearch(record, false, result);
    const bool ok = EvaluateSearchResult(record, result);
    if (out)
        *out = std::move(result);
    return ok;
}

bool ValueExists(std::string_view reference) {
    return Search(search_type::kValueExists, reference);
}

std::string FirstFound(const SearchResult &result) {
    return result.foundValues.empty() ? std::string() : result.foundValues.front();
}

void Detected(std::string_view label, std::string_view value) {
    LogLine(std::string(label) + std::string(value));
}

bool IsVersion(std::string_view text, int major, int minor) {
    VersionQuad v;
    return ParseVersion(text, v) && VersionsEqual(v, SetVersion(major, minor, 0, 0));
}

// The layers, each with its real query when the context gives none.
struct Layers {
    const LaunchConditionContext &context;
    int family;
    std::string osName;

    explicit Layers(const LaunchConditionContext &c)
        : context(c), family(c.osFamily ? c.osFamily() : GetOsFamily()),
          osName(c.osDisplayName ? c.osDisplayName() : GetOsDisplayName()) {}
    ScreenFacts Screen() const { return context.screen ? context.screen() : ScreenFacts{}; }
    uint64_t Memory() const {
        return context.physicalMemory ? context.physicalMemory() : platform::PhysicalMemoryBytes();
    }
    bool Administrator() const {
        return context.administrator ? context.administrator() : CanLockServiceDatabase();
    }
};

bool Fail(const LaunchConditionContext &context, uint32_t id, std::string_view value) {
    ReportLaunchConditionFailure(context, id, value);
    return false;
}

bool CheckOs(const LaunchConditionSettings &s, const Layers &layers) {
    bool byLabel = false;
    if (IsOsExcluded(s.win9xVersions, s.winNtVersions, s.winNt64Versions, layers.family,
                     layers.osName, &byLabel))
        return true;
    const std::string &name =
        layers.family == 0 ? s.win9xName : (layers.family == 2 ? s.winNt64Name : s.winNtName);
    return Fail(layers.context, byLabel ? ui_text::kOsExcluded : ui_text::kOsVersionsExcluded,
                name);
}

bool CheckScreen(const std::string &setting, const Layers &layers) {
    const std::size_t x = setting.find('x');
    const int width = ParseDecimal(std::string_view(setting).substr(0, x));
    const int height = x == std::string::npos ? 0 : ParseDecimal(setting.substr(x + 1));
    const ScreenFacts screen = layers.Screen();
    if (screen.width < width || screen.height < height)
        return Fail(layers.context, ui_text::kScreenTooSmall, setting);
    Detected("Detected screen resolution:",
             std::to_string(screen.width) + "x" + std::to_string(screen.height));
    return true;
}

bool CheckColour(const std::string &setting, const Layers &layers) {
    const ScreenFacts screen = layers.Screen();
    if (screen.bitsPerPixel < ParseDecimal(setting))
        return Fail(layers.context, ui_text::kColourDepthTooLow, setting);
    Detected("Detected color depth:", std::to_string(screen.bitsPerPixel));
    return true;
}

bool CheckMemory(const std::string &setting, const Layers &layers) {
    constexpr uint64_t kMiB = 1048576;
    const uint64_t bytes = layers.Memory();
    const uint64_t megabytes = bytes / kMiB + (bytes % kMiB ? 1 : 0);
    const int64_t wanted = ParseDecimal(setting);
    if (static_cast<int64_t>(megabytes) < wanted)
        return Fail(layers.context, ui_text::kMemoryTooSmall, setting);
    Detected("Detected RAM amount:", std::to_string(megabytes));
    return true;
}

bool CheckInternet(const LaunchConditionContext &context) {
    if (context.urlReachable)
        for (const std::string &url : context.internetAddresses)
            if (context.urlReachable(url)) {
                LogLine("Detected working Internet connection.");
                return true;
            }
    return Fail(context, ui_text::kInternetNeeded, "");
}

bool CheckInternetExplorer(const LaunchConditionSettings &s, const LaunchConditionContext &c) {
    SearchResult result;
    if (!Search(search_type::kFile, "[SystemFolder]wininet.dll", s.minIeVer, &result))
        return Fail(c, ui_text::kIeTooOld, s.minIeVerName);
    Detected("Detected Internet explorer:", FirstFound(result));
    return true;
}

bool CheckIis(const std::string &setting, const LaunchConditionContext &c) {
    SearchResult result;
    const bool found =
        Search(search_type::kFile, "[SystemFolder]inetsrv\\inetinfo.exe", setting, &result) ||
        Search(search_type::kFile, "[SystemFolder]inetsrv\\w3wp.exe", setting, &result);
    if (!found || !ValueExists("HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\DisplayName"))
        return Fail(c, ui_text::kIisTooOld, setting);
    Detected("Detected IIS:", FirstFound(result));
    return true;
}

bool CheckDotNet(const std::string &setting, const LaunchConditionContext &c) {
    std::size_t start = 0;
    if (IsValidVersionText(setting, false)) {
        const std::array<std::pair<std::array<int, 2>, std::size_t>, 6> starts = {
            {{{1, 0}, 0}, {{1, 1}, 1}, {{2, 0}, 2}, {{3, 0}, 3}, {{3, 5}, 4}, {{4, 0}, 6}}};
        bool known = false;
        for (const auto &[version, row] : starts)
            if (IsVersion(setting, version[0], version[1])) {
                start = row;
                known = true;
            }
        if (!known) {
            if (!IsVersion(setting, 4, 5))
                return false;
            if (!Search(search_type::kRegistryValue, kDotNet45Value, setting))
                return Fail(c, ui_text::kDotNetTooOld, setting);
            Detected("Detected .NET:", "4.5");
            return true;
        }
    } else if (IsVersion(setting, 4, 0)) {
        start = 5;
    } else {
        return Fail(c, ui_text::kDotNetTooOld, setting);
    }
    for (std::size_t row = start; row < kDotNetRows.size(); ++row) {
        SearchResult result;
        Search(search_type::kValueContent, kDotNetRows[row].value, {}, &result);
        if (result.found && result.foundText == kDotNetRows[row].content) {
            Detected("Detected .NET:", kDotNetRows[row].name);
            return true;
        }
    }
    return Fail(c, ui_text::kDotNetTooOld, setting);
}

bool CheckAcrobat(const std::string &setting, const LaunchConditionContext &c) {
    int first = 0;
    for (int n = 5; n <= 10; ++n)
        if (IsVersion(setting, n, 0))
            first = n;
    if (first == 0)
        return false;
    for (int n = first; n <= 10; ++n) {
        const std::string key =
            "HKLM\\Software\\Adobe\\Acrobat Reader\\" + std::to_string(n) + ".0\\InstallPath\\";
        if (Search(search_type::kKeyExists, key)) {
            Detected("Detected Acrobat Reader:", std::to_string(n) + ".0");
            return true;
        }
    }
    return Fail(c, ui_text::kAcrobatReaderTooOld, setting);
}

bool CheckDirectX(const std::string &setting, const Layers &layers) {
    const std::string &os = layers.osName;
    if ((setting == "10" &&
         (os == "Windows Vista x86" || os == "Windows Vista x64" ||
          os == "Windows Vista x86 Service Pack 1" || os == "Windows Vista x64 Service Pack 1")) ||
        (setting == "11" && (os == "Windows 7 x86" || os == "Windows 7 x64"))) {
        Detected("Detected DirectX:", setting);
        return true;
    }
    std::string verMin;
    for (const NamedText &row : kDirectXRows)
        if (setting == row.name)
            verMin = row.text;
    SearchResult result;
    if (!Search(search_type::kRegistryValue, kDirectXValue, verMin, &result))
        return Fail(layers.context, ui_text::kDirectXTooOld, setting);
    Detected("Detected DirectX:", FirstFound(result));
    return true;
}

bool CheckJava(const std::string &setting, bool developmentKit, const LaunchConditionContext &c) {
    SearchResult result;
    const char *key = developmentKit ? "HKLM\\SOFTWARE\\JavaSoft\\Java Development Kit"
                                     : "HKLM\\SOFTWARE\\JavaSoft\\Java Runtime Environment";
    if (!Search(search_type::kRegistryKey, key, setting, &result))
        return Fail(c, developmentKit ? ui_text::kJdkTooOld : ui_text::kJreTooOld, setting);
    // The log names the installed version that met the minimum.
    VersionQuad minimum;
    ParseVersion(setting, minimum);
    std::string detected = setting;
    for (const std::string &name : result.foundValues) {
        VersionQuad version;
        if (ParseVersion(name, version) && !IsVersionZero(version) &&
            CompareVersions(version, minimum) >= 0) {
            detected = name;
            break;
        }
    }
    Detected(developmentKit ? "Detected JDK:" : "Detected JRE:", detected);
    return true;
}

bool CheckOfficeApp(const LaunchConditionSettings &s, const LaunchConditionContext &c) {
    const std::string &name = s.officeAppValue;
    const std::size_t generation =
        s.officeAppMessageId == ui_text::kOffice2010AppMissing
            ? 2
            : (s.officeAppMessageId == ui_text::kOffice2007AppMissing ? 1 : 0);
    constexpr std::array<const char *, 3> kLabels = {
        "Detected Office 2003 application:", "Detected Office 2007 application:",
        "Detected Office 2010 application:"};
    if (name == kVisioViewer) {
        if (!Search(search_type::kFile,
                    "[ProgramFilesFolder]Microsoft Office\\Office14\\vviewer.dll", "14") &&
            !Search(search_type::kFile,
                    "[ProgramFiles64Folder]Microsoft Office\\Office14\\vviewer.dll", "14"))
            return Fail(c, static_cast<uint32_t>(s.officeAppMessageId), name);
        Detected(kLabels[generation], name);
        return true;
    }
    for (const OfficeAppRow &row : kOfficeApps) {
        if (name != row.name)
            continue;
        for (std::size_t g = generation; g < row.values.size(); ++g)
            if (*row.values[g] && !ValueExists(row.values[g]))
                return Fail(c, static_cast<uint32_t>(s.officeAppMessageId), name);
        Detected(kLabels[generation], name);
        return true;
    }
    return true;
}

bool CheckXna(const std::string &setting, const LaunchConditionContext &c) {
    std::size_t first = kXnaRows.size();
    for (std::size_t i = 0; i < kXnaRows.size(); ++i) {
        VersionQuad want, have;
        ParseVersion(kXnaRows[i].name, want);
        if (ParseVersion(setting, have) && VersionsEqual(want, have))
            first = i;
    }
    if (first == kXnaRows.size())
        return false;
    for (std::size_t i = first; i < kXnaRows.size(); ++i)
        if (ValueExists(kXnaRows[i].text)) {
            Detected("Detected XNA Framework:", kXnaLogNames[i]);
            return true;
        }
    return Fail(c, ui_text::kXnaTooOld, setting);
}

bool CheckSql(const std::string &setting, bool compact, const LaunchConditionContext &c) {
    const std::size_t begin = compact ? kSqlExpressRows : 0;
    const std::size_t end = compact ? kSqlRows.size() : kSqlExpressRows;
    for (std::size_t i = begin; i < end; ++i) {
        if (setting != kSqlRows[i].name)
            continue;
        if (Search(search_type::kRegistryValue,
                   std::string("HKLM\\SOFTWARE\\Microsoft\\") + kSqlRows[i].value,
                   kSqlRows[i].verMin)) {
            Detected(compact ? "Detected SQL Compact:" : "Detected SQL Express:", setting);
            return true;
        }
    }
    return Fail(c, ui_text::kSqlMissing, setting);
}

// The installed ActiveSync is the row's product or a later one: its major
// version above the row's, or the same major with a minor not below.
bool CheckActiveSync(const std::string &setting, const LaunchConditionContext &c) {
    for (const ActiveSyncRow &row : kActiveSyncRows) {
        if (setting != row.name)
            continue;
        SearchResult major, minor;
        const bool present = ValueExists(kActiveSyncAppPath);
        Search(search_type::kValueContent, kActiveSyncMajor, {}, &major);
        Search(search_type::kRegistryValue, kActiveSyncMinor, {}, &minor);
        const bool haveVersion =
            major.found && IsAllDigits(major.foundText) && !major.foundText.empty();
        const int installedMajor = haveVersion ? ParseDecimal(major.foundText) : -1;
        const int installedMinor = ParseDecimal(FirstFound(minor));
        const bool recent =
            haveVersion && (installedMajor > row.major ||
                            (installedMajor == row.major && installedMinor >= row.minor));
        if (!present || !recent)
            return Fail(c, ui_text::kActiveSyncMissing, setting);
        Detected("Detected application:", setting);
        return true;
    }
    return true;
}

template <std::size_t N>
bool CheckPia(const std::string &setting, const std::array<NamedText, N> &rows, uint32_t messageId,
              const LaunchConditionContext &c) {
    std::string code;
    for (const NamedText &row : rows)
        if (setting == row.name)
            code = row.text;
    if (!Search(search_type::kComponent, code))
        return Fail(c, messageId, setting);
    if (messageId == ui_text::kSharedPiaMissing)
        Detected("Detected Office Shared PIA:", setting);
    return true;
}

bool CheckVsto(const std::string &setting, const LaunchConditionContext &c) {
    for (const NamedText &row : kVstoRows)
        if (setting == row.name) {
            if (!ValueExists(row.text))
                break;
            Detected("Detected application:", setting);
            return true;
        }
    return Fail(c, ui_text::kVstoMissing, setting);
}

bool CheckSharePoint(const std::string &setting, const LaunchConditionContext &c) {
    std::size_t first = kSharePointRows.size();
    for (std::size_t i = 0; i < kSharePointRows.size(); ++i)
        if (setting == kSharePointRows[i].name)
            first = i;
    if (first == kSharePointRows.size())
        return false;
    for (std::size_t i = first; i < kSharePointRows.size(); ++i)
        if (ValueExists(kSharePointRows[i].text)) {
            Detected("Detected application:", kSharePointRows[i].name);
            return true;
        }
    return Fail(c, ui_text::kSharePointMissing, setting);
}

} // namespace

bool IsOsExcluded(std::string_view win9xList, std::string_view winNtList,
                  std::string_view winNt64List, int family, std::string_view osDisplayName,
                  bool *excludedByLabel) {
    const std::string_view list = family == 0 ? win9xList : (family == 2 ? winNt64List : winNtList);
    const std::string_view label =
        family == 0 ? kWin9xFamilyLabel : (family == 2 ? kWinNt64FamilyLabel : kWinNtFamilyLabel);
    if (excludedByLabel)
        *excludedByLabel =
            list == kWin9xFamilyLabel || list == kWinNtFamilyLabel || list == kWinNt64FamilyLabel;
    if (list.empty())
        return true;
    if (list == label)
        return false;
    std::string_view rest = list;
    while (true) {
        const std::size_t comma = rest.find(", ");
        if (rest.substr(0, comma) == osDisplayName)
            return false;
        if (comma == std::string_view::npos)
            return true;
        rest = rest.substr(comma + 2);
    }
}

bool LanguageListMatches(std::string_view list) {
    if (list.empty())
        return true;
    const uint16_t system = platform::ReadLocaleLanguages().systemDefault;
    LogLine("SystemDefault LangID=" + std::to_string(system));
    std::size_t semicolon;
    while ((semicolon = list.find(';')) != std::string_view::npos) {
        if (ParseDecimal(list.substr(0, semicolon)) == system)
            return true;
        list = list.substr(semicolon + 1);
    }
    return false;
}

void ReportLaunchConditionFailure(const LaunchConditionContext &context, uint32_t messageId,
                                  std::string_view value) {
    std::string product = context.productNameSource;
    if (!GetProductNameOfFile(product))
        product = ProgramBaseName(context.productNameSource);
    const std::string text = FormatUiString(messageId, product, std::string(value));
    LogLine(text);
    if (!UiVisible) {
        context.messages.OutputDebugText(text);
        return;
    }
    std::optional<UiTextOrId> caption;
    if (context.ui) {
        context.ui->HideStatusWindow();
        caption = UiTextOrId(context.ui->GetSetupCaption());
    }
    context.messages.MessageBoxForeground(nullptr, UiTextOrId(text), caption, mb::kIconWarning);
}

bool CheckLaunchConditions(const SetupSettings &settings, const LaunchConditionContext &context) {
    const LaunchConditionSettings &s = settings.launchConditions;
    const Layers layers(context);
    const LaunchConditionContext &c = context;
    if ((!s.win9xVersions.empty() || !s.winNtVersions.empty() || !s.winNt64Versions.empty()) &&
        !CheckOs(s, layers))
        return false;
    if (!s.minScreenRes.empty() && !CheckScreen(s.minScreenRes, layers))
        return false;
    if (!s.minColorQuality.empty() && !CheckColour(s.minColorQuality, layers))
        return false;
    if (!s.minPhysicalMem.empty() && !CheckMemory(s.minPhysicalMem, layers))
        return false;
    if (s.adminPrivileges && layers.family != 0) {
        if (!layers.Administrator())
            return Fail(c, ui_text::kAdminRightsNeeded, "");
        LogLine("We are running with elevated privileges.");
    }
    if (s.activeInternetConnection && !CheckInternet(c))
        return false;
    if (!s.minIeVer.empty() && !CheckInternetExplorer(s, c))
        return false;
    if (!s.minIisVer.empty() && !CheckIis(s.minIisVer, c))
        return false;
    if (!s.minDotNetVer.empty() && !CheckDotNet(s.minDotNetVer, c))
        return false;
    if (!s.minAcrobatReaderVer.empty() && !CheckAcrobat(s.minAcrobatReaderVer, c))
        return false;
    if (!s.minDirectXVer.empty() && !CheckDirectX(s.minDirectXVer, layers))
        return false;
    if (!s.minJreVer.empty() && !CheckJava(s.minJreVer, false, c))
        return false;
    if (!s.minJdkVer.empty() && !CheckJava(s.minJdkVer, true, c))
        return false;
    if (!s.officeAppValue.empty() && !CheckOfficeApp(s, c))
        return false;
    if (!s.xnaFramework.empty() && !CheckXna(s.xnaFramework, c))
        return false;
    if (!s.sqlExpress.empty() && !CheckSql(s.sqlExpress, false, c))
        return false;
    if (!s.sqlCompact.empty() && !CheckSql(s.sqlCompact, true, c))
        return false;
    if (!s.activeSync.empty() && !CheckActiveSync(s.activeSync, c))
        return false;
    if (!s.office2003Pia.empty() &&
        !CheckPia(s.office2003Pia, kPia2003Rows, ui_text::kPia2003Missing, c))
        return false;
    if (!s.office2007Pia.empty() &&
        !CheckPia(s.office2007Pia, kPia2007Rows, ui_text::kPia2007Missing, c))
        return false;
    if (!s.office2010Pia.empty() &&
        !CheckPia(s.office2010Pia, kPia2010Rows, ui_text::kPia2010Missing, c))
        return false;
    if (!s.officeSharedPia.empty() &&
        !CheckPia(s.officeSharedPia, kPiaSharedRows, ui_text::kSharedPiaMissing, c))
        return false;
    if (!s.visualStudioToolsOffice.empty() && !CheckVsto(s.visualStudioToolsOffice, c))
        return false;
    if (!s.sharePoint.empty() && !CheckSharePoint(s.sharePoint, c))
        return false;
    return true;
}

} // namespace krv::setup
