// Launch conditions over faked system layers and a registry store that the
// test fills with the components a condition looks for.
#include "display_probe.h"
#include "installer_launch.h"
#include "language_condition_steps.h"
#include "launch_conditions.h"
#include "log.h"
#include "messages.h"
#include "package_writer.h"
#include "payload_package.h"
#include "program_run.h"
#include "setup_runner.h"
#include "setup_ui.h"
#include "support_env.h"
#include "support_offscreen.h"
#include "support_runs.h"
#include "support_windows.h"
#include "ui_dispatcher.h"
#include "ui_strings.h"

#include <setup_registry.h>

#include <gtest/gtest.h>

#include <QApplication>

#include <filesystem>
#include <functional>
#include <thread>

using namespace krv::setup;
using krv::platform::RegistryHive;
using krv::platform::RegistryValue;

namespace {

class LaunchConditionTest : public ::testing::Test {
  public:
    void SetUp() override {
        ASSERT_FALSE(m_root.empty());
        m_env.Set("KRV_SETUP_ROOT", m_root);
        m_env.Set("KRV_REGISTRY_ROOT", m_root + "/reg");
        UiVisible = false;
    }
    void TearDown() override { UiVisible = true; }

    // "HKLM\key\Name" set to a text or a number.
    void Put(const std::string &reference, const RegistryValue &value) {
        const std::string path = reference.substr(5);
        const std::size_t slash = path.rfind('\\');
        auto key =
            krv::platform::RegistryCreateKey(RegistryHive::LocalMachine, path.substr(0, slash));
        ASSERT_TRUE(key);
        ASSERT_TRUE(krv::platform::RegistrySetValue(*key, path.substr(slash + 1), value));
    }

    LaunchConditionContext Context() {
        LaunchConditionContext c;
        c.productNameSource = m_root + "/Product Setup";
        c.osFamily = [] { return 1; };
        c.osDisplayName = [] { return std::string("Debian GNU/Linux 12 (bookworm)"); };
        c.screen = [] { return ScreenFacts{1280, 1024, 24}; };
        c.physicalMemory = [] { return uint64_t(4096) << 20; };
        c.administrator = [] { return false; };
        c.messages = m_reports;
        return c;
    }

    test::TempDir m_tmp{"conditions"};
    const std::string m_root = m_tmp.path();
    test::ScopedEnv m_env;
    std::vector<std::string> m_messages; // the debug output
    std::shared_ptr<ScriptedMessageBoxes> m_boxes = std::make_shared<ScriptedMessageBoxes>();
    SetupMessages m_reports{m_boxes,
                            [this](std::string_view text) { m_messages.emplace_back(text); }};
};

constexpr const char *kNdp = "HKLM\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\";
constexpr const char *kMs = "HKLM\\SOFTWARE\\Microsoft\\";
constexpr uint32_t kNoMessage = UINT32_MAX;

// One condition per case: its setting, the values the machine has ("#n" a
// number), and the message of a failure (0: passes) with its value.
TEST_F(LaunchConditionTest, EachConditionPassesOrShowsItsMessage) {
    using S = LaunchConditionSettings;
    using Values = std::vector<std::pair<std::string, std::string>>;
    const std::string ms = kMs, ndp = kNdp, office = ms + "Office\\";
    const std::string ce = ms + "Windows CE Services\\";
    const std::string ceApp = ms + "Windows\\CurrentVersion\\App Paths\\CEAPPMGR.EXE\\";
    const std::string sharePoint = "Windows SharePoint Services 3.0 or Microsoft Office "
                                   "SharePoint Server 2007";
    struct Case {
        const char *name;
        std::string S::*field;
        const char *setting;
        Values machine;
        uint32_t message;
        const char *value;
        std::function<void(S &)> more = {}; // settings beyond the one field
    } cases[] = {
        // clang-format off
        {"no conditions", &S::reserved, "", {}, 0, ""},
        {"whole family excluded", &S::winNtVersions, kWinNtFamilyLabel.data(), {}, 206, "Linux",
            [](S &s) { s.winNtName = "Linux"; }},
        {"named version excluded", &S::winNtVersions,
            "Windows XP, Debian GNU/Linux 12 (bookworm)", {}, 207, "these",
            [](S &s) { s.winNtName = "these"; }},
        {"screen large enough", &S::minScreenRes, "1280x1024", {}, 0, ""},
        {"screen too small", &S::minScreenRes, "1280x1200", {}, 210, "1280x1200"},
        {"colour depth", &S::minColorQuality, "32", {}, 211, "32"},
        {"memory", &S::minPhysicalMem, "4097", {}, 212, "4097"},
        {"administrator", &S::reserved, "", {}, 214, "", [](S &s) { s.adminPrivileges = true; }},
        {"internet unreachable", &S::reserved, "", {}, 226, "",
            [](S &s) { s.activeInternetConnection = true; }},
        {"no browser component", &S::minIeVer, "6.0", {}, 208, "6.0 SP1",
            [](S &s) { s.minIeVerName = "6.0 SP1"; }},
        {"no web server", &S::minIisVer, "6.0", {}, 209, "6.0"},
        {".NET 3.5 met by 4.0 Full", &S::minDotNetVer, "3.5",
            {{ndp + "v4\\Full\\Install", "#1"}}, 0, ""},
        {".NET 4.0 not met by the client profile", &S::minDotNetVer, "4.0",
            {{ndp + "v4\\Client\\Install", "#1"}}, 213, "4.0"},
        {".NET client profile", &S::minDotNetVer, "4.0 Client Profile",
            {{ndp + "v4\\Client\\Install", "1"}}, 0, ""},
        {".NET 4.5 by its version", &S::minDotNetVer, "4.5",
            {{ndp + "v4\\Full\\Version", "4.5.50709"}}, 0, ""},
        {".NET unknown version", &S::minDotNetVer, "5.0",
            {{ndp + "v4\\Full\\Install", "#1"}}, kNoMessage, ""},
        {".NET text", &S::minDotNetVer, "latest", {}, 213, "latest"},
        {"Reader 7 met by 9", &S::minAcrobatReaderVer, "7",
            {{"HKLM\\Software\\Adobe\\Acrobat Reader\\9.0\\InstallPath\\", "C:\\"}}, 0, ""},
        {"Reader 11 unknown", &S::minAcrobatReaderVer, "11", {}, kNoMessage, ""},
        {"Reader missing", &S::minAcrobatReaderVer, "8", {}, 221, "8"},
        {"DirectX 9.0c met", &S::minDirectXVer, "9.0c",
            {{ms + "DirectX\\Version", "4.09.00.0904"}}, 0, ""},
        {"DirectX 9.0c older", &S::minDirectXVer, "9.0c",
            {{ms + "DirectX\\Version", "4.09.00.0902"}}, 225, "9.0c"},
        {"JRE by subkey", &S::minJreVer, "1.6",
            {{"HKLM\\SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8\\JavaHome", "/"}}, 0, ""},
        {"JDK missing", &S::minJdkVer, "11", {}, 237, "11"},
        {"Word 2007 and 2010 present", &S::officeAppValue, "Microsoft Word",
            {{office + "12.0\\Word\\InstallRoot\\Path", "C:\\"},
             {office + "14.0\\Word\\InstallRoot\\Path", "C:\\"}}, 0, "",
            [](S &s) { s.officeAppMessageId = 228; }},
        {"Word 2010 missing", &S::officeAppValue, "Microsoft Word",
            {{office + "12.0\\Word\\InstallRoot\\Path", "C:\\"}}, 228, "Microsoft Word",
            [](S &s) { s.officeAppMessageId = 228; }},
        {"unknown Office application", &S::officeAppValue, "Microsoft Paint", {}, 0, "",
            [](S &s) { s.officeAppMessageId = 227; }},
        {"XNA 3.1 met by 4.0", &S::xnaFramework, "3.1",
            {{ms + "XNA\\Framework\\v4.0\\NativeLibraryPath", "C:\\"}}, 0, ""},
        {"XNA unknown", &S::xnaFramework, "5.0", {}, kNoMessage, ""},
        {"SQL Express by the second value", &S::sqlExpress, "SQL Server Express 2008 SP1",
            {{ms + "Microsoft SQL Server Native Client 10.0\\CurrentVersion\\Version",
              "10.1.2531"}}, 0, ""},
        {"SQL Express unknown", &S::sqlExpress, "SQL Server Express 2019", {}, 238,
            "SQL Server Express 2019"},
        {"SQL Compact service pack as a number", &S::sqlCompact, "SQL Server Compact 3.5 SP2",
            {{ms + "Microsoft SQL Server Compact Edition\\v3.5\\ENU\\"
                   "DesktopRuntimeServicePackLevel", "#2"}}, 0, ""},
        {"ActiveSync 4.5 met by 6.1", &S::activeSync, "ActiveSync 4.5",
            {{ceApp, "C:\\a.exe"}, {ce + "MajorVersion", "6"}, {ce + "MinorVersion", "#1"}},
            0, ""},
        {"ActiveSync 4.5 not met by 4.2", &S::activeSync, "ActiveSync 4.5",
            {{ceApp, "C:\\a.exe"}, {ce + "MajorVersion", "#4"}, {ce + "MinorVersion", "#2"}},
            239, "ActiveSync 4.5"},
        {"ActiveSync unknown name", &S::activeSync, "ActiveSync 9", {}, 0, ""},
        {"interop assembly 2003", &S::office2003Pia, "Microsoft Excel", {}, 241,
            "Microsoft Excel"},
        {"shared interop assembly", &S::officeSharedPia, "Office Shared 2010", {}, 255,
            "Office Shared 2010"},
        {"Office tools runtime", &S::visualStudioToolsOffice,
            "Visual Studio Tools for Office 2010 Runtime",
            {{"HKLM\\SOFTWARE\\Microsoft\\VSTO Runtime Setup\\v4\\Install", "#1"}}, 0, ""},
        {"Office tools unknown", &S::visualStudioToolsOffice, "VSTO 2030", {}, 243, "VSTO 2030"},
        {"SharePoint 2007 met by 2010", &S::sharePoint, sharePoint.c_str(),
            {{ms + "Shared Tools\\Web Server Extensions\\14.0\\SharePoint", "Installed"}}, 0, ""},
        {"SharePoint unknown", &S::sharePoint, "SharePoint 2030", {}, kNoMessage, ""},
        // clang-format on
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_root + "/reg");
        for (const auto &[reference, value] : c.machine)
            Put(reference, value[0] == '#'
                               ? RegistryValue::MakeNumber(uint32_t(std::stoul(value.substr(1))))
                               : RegistryValue::MakeText(value));
        SetupSettings settings;
        settings.launchConditions.*c.field = c.setting;
        if (c.more)
            c.more(settings.launchConditions);
        m_messages.clear();
        EXPECT_EQ(CheckLaunchConditions(settings, Context()), c.message == 0);
        if (c.message == 0 || c.message == kNoMessage)
            EXPECT_TRUE(m_messages.empty()) << m_messages.front();
        else
            EXPECT_EQ(m_messages, std::vector<std::string>{FormatUiString(
                                      c.message, std::string("Product Setup"), c.value)});
    }
    // The texts as the user reads them, for one condition of each kind.
    EXPECT_EQ(FormatUiString(212, std::string("P"), std::string("4097")),
              "P невозможно установить на системах, имеющих объём физической памяти менее 4097 "
              "МБ.");
}

// A met condition logs its fixed label and what it found.
TEST_F(LaunchConditionTest, MetConditionsLogWhatTheyDetected) {
    using S = LaunchConditionSettings;
    const std::string ms = kMs, jre = "HKLM\\SOFTWARE\\JavaSoft\\Java Runtime Environment\\";
    struct Case {
        std::function<void(S &)> set;
        std::vector<std::pair<std::string, std::string>> machine;
        const char *line;
    } cases[] = {
        {[](S &s) { s.minScreenRes = "800x600"; }, {}, "Detected screen resolution:1280x1024"},
        {[](S &s) { s.minPhysicalMem = "1"; }, {}, "Detected RAM amount:4096"},
        {[](S &s) { s.activeInternetConnection = true; },
         {},
         "Detected working Internet connection."},
        {[](S &s) { s.minDotNetVer = "2.0"; },
         {{std::string(kNdp) + "v3.5\\Install", "1"}},
         "Detected .NET:3.5"},
        {[](S &s) { s.minJreVer = "1.6"; },
         {{jre + "1.4\\JavaHome", "/"}, {jre + "1.8\\JavaHome", "/"}},
         "Detected JRE:1.8"},
        {[](S &s) { s.xnaFramework = "3.1"; },
         {{ms + "XNA\\Framework\\v3.1\\NativeLibraryPath", "C:\\"}},
         "Detected XNA Framework:3.2"},
    };
    const std::string logPath = m_root + "/conditions.log";
    SetupLog &log = TheSetupLog();
    CloseLog(log, false);
    SetLogFilePath(log, logPath);
    LoggingEnabled = true;
    for (const Case &c : cases) {
        std::filesystem::remove_all(m_root + "/reg");
        for (const auto &[reference, value] : c.machine)
            Put(reference, RegistryValue::MakeText(value));
        SetupSettings settings;
        c.set(settings.launchConditions);
        LaunchConditionContext context = Context();
        context.urlReachable = [](const std::string &) { return true; };
        EXPECT_TRUE(CheckLaunchConditions(settings, context)) << c.line;
    }
    LoggingEnabled = false;
    CloseLog(log, false);
    const std::string text = test::ReadFile(logPath);
    for (const Case &c : cases)
        EXPECT_NE(text.find(std::string("-") + c.line + "\r\n"), std::string::npos)
            << c.line << "\n"
            << text;
}

TEST_F(LaunchConditionTest, FirstFailureStopsAndLayersAreAskedOnlyWhenSet) {
    int memoryAsked = 0, reachAsked = 0;
    LaunchConditionContext context = Context();
    context.physicalMemory = [&] {
        ++memoryAsked;
        return uint64_t(1) << 20;
    };
    context.urlReachable = [&](const std::string &url) {
        ++reachAsked;
        return url == context.internetAddresses[1];
    };
    SetupSettings settings;
    settings.launchConditions.activeInternetConnection = true;
    EXPECT_TRUE(CheckLaunchConditions(settings, context));
    EXPECT_EQ(reachAsked, 2) << "the addresses are tried in order until one answers";
    EXPECT_EQ(memoryAsked, 0);

    settings.launchConditions.minScreenRes = "4000x3000";
    settings.launchConditions.minPhysicalMem = "2";
    EXPECT_FALSE(CheckLaunchConditions(settings, context));
    EXPECT_EQ(memoryAsked, 0) << "the screen failed first";
    ASSERT_EQ(m_messages.size(), 1u);

    // Memory is counted in whole megabytes, rounded up.
    settings.launchConditions.minScreenRes.clear();
    context.physicalMemory = [] { return (uint64_t(2) << 20) - 1; };
    EXPECT_TRUE(CheckLaunchConditions(settings, context));
}

TEST_F(LaunchConditionTest, VisibleFailureShowsOneBoxWithTheSetupCaption) {
    UiVisible = true;
    SetupUi ui(nullptr, test::QuietMessages());
    ui.SetProductName(m_root + "/Product Setup");
    LaunchConditionContext context = Context();
    context.ui = &ui;
    context.administrator = [] { return false; };
    SetupSettings settings;
    settings.launchConditions.adminPrivileges = true;
    EXPECT_FALSE(CheckLaunchConditions(settings, context));
    const auto shown = m_boxes->Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Product Setup требует административных полномочий для установки.");
    EXPECT_EQ(shown[0].caption, "Установка Product Setup");
    EXPECT_EQ(shown[0].style & mb::kIconMask, mb::kIconWarning);
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(LaunchConditionTest, OsListsAndLanguageLists) {
    struct Case {
        const char *list9x, *listNt, *list64;
        int family;
        const char *os;
        bool allowed, byLabel;
    } cases[] = {
        {"", "", "", 1, "Debian", true, false},
        {"Windows 9x/ME", "", "", 1, "Debian", true, false},
        {"", "Windows NT/2000/XP/Vista/Windows 7/Windows 8 x86", "", 1, "Debian", false, true},
        {"", "Windows XP/Vista/Windows 7/Windows 8 x64", "", 1, "Debian", true, true},
        {"", "", "Windows XP/Vista/Windows 7/Windows 8 x64", 2, "Debian", false, true},
        {"", "Windows XP, Debian", "", 1, "Debian", false, false},
        {"", "Windows XP,Debian", "", 1, "Debian", true, false},
        {"", "Debian, Windows XP", "", 1, "Debian 12", true, false},
        {"Debian", "", "", 0, "Debian", false, false},
    };
    for (const Case &c : cases) {
        bool byLabel = !c.byLabel;
        EXPECT_EQ(IsOsExcluded(c.list9x, c.listNt, c.list64, c.family, c.os, &byLabel), c.allowed)
            << c.list9x << "|" << c.listNt << "|" << c.list64 << " on " << c.os;
        EXPECT_EQ(byLabel, c.byLabel);
    }

    m_env.Set("LANG", "ru_RU.UTF-8");
    struct LanguageCase {
        const char *list;
        bool matches;
    } languages[] = {
        {"", true}, {"1049;", true}, {"1033;1049;", true}, {"1033;", false}, {"1049", false},
    };
    for (const LanguageCase &c : languages)
        EXPECT_EQ(LanguageListMatches(c.list), c.matches) << c.list;
}

// A silent run of the program over a package whose condition fails: the
// message goes to the log and the run ends with exit code 1.
TEST_F(LaunchConditionTest, SilentRunStopsOnAFailedConditionWithExitCodeOne) {
    test::WriteFile(m_root + "/program", "#!/bin/sh\n" + std::string(4096, '#'));
    krv::package::PackageWriter writer(m_root + "/program");
    writer.SetContainerFlags(payload::container::kHasSettings);
    writer.AddSettings("[GeneralOptions]\r\nMinWIVer=0\r\n[GlobalLaunchConds]\r\n"
                       "MinPhisicalMem=2000000000\r\n");
    std::string error;
    ASSERT_TRUE(writer.Write(m_root + "/Product Setup", error)) << error;
    m_env.Set(kInstallerProgramVariable, m_root + "/no-installer");
    const std::string log = m_root + "/setup.log";
    SetupServices services;
    services.messages = m_reports;
    services.steps.language = std::make_unique<UiLanguageStep>();
    services.steps.conditions = std::make_unique<LaunchConditionStep>();
    const int code = ProgramRun({"/exenoui", "/exelog", log}, m_root + "/Product Setup",
                                std::move(services), test::PayloadPackageSequence());
    LoggingEnabled = false;
    CloseLog();
    EXPECT_EQ(code, 1);
    const std::string message = "Product Setup невозможно установить на системах, имеющих объём "
                                "физической памяти менее 2000000000 МБ.";
    EXPECT_NE(test::ReadFile(log).find("-" + message + "\r\n"), std::string::npos)
        << test::ReadFile(log);
    EXPECT_NE(test::ReadFile(log).find("Code returned to Windows by setup:1"), std::string::npos);
    EXPECT_EQ(m_messages, std::vector<std::string>{message});
}

TEST_F(LaunchConditionTest, ScreenIsReadOnTheInterfaceThread) {
    EXPECT_EQ(QueryScreenFacts().width, 0) << "no application: no screen";
    test::OffscreenApplication offscreen("conditions");
    ScreenFacts fromWorker;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        fromWorker = QueryScreenFacts();
        done = true;
        UiDispatcher::Wake();
    });
    UiDispatcher::WaitProcessingEvents([&] { return done.load(); });
    worker.join();
    const ScreenFacts direct = QueryScreenFacts();
    EXPECT_GT(direct.width, 0);
    EXPECT_EQ(fromWorker.width, direct.width);
    EXPECT_EQ(fromWorker.height, direct.height);
    EXPECT_EQ(fromWorker.bitsPerPixel, direct.bitsPerPixel);
}

} // namespace
