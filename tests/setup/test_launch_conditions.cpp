// Launch conditions over faked system layers and a registry store that the
// test fills with the components a condition looks for.
#include "installer_launch.h"
#include "language_condition_steps.h"
#include "launch_conditions.h"
#include "log.h"
#include "messages.h"
#include "package_writer.h"
#include "payload_package.h"
#include "program.h"
#include "setup_runner.h"
#include "setup_ui.h"
#include "support_env.h"
#include "ui_strings.h"

#include <setup_registry.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

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
        SetDebugOutputSink([this](std::string_view text) { m_messages.emplace_back(text); });
    }
    void TearDown() override {
        SetDebugOutputSink(nullptr);
        SetMessageBoxPresenter(nullptr);
        UiVisible = true;
    }

    // "HKLM\key\Name" set to a text or a number.
    void Put(const std::string &reference, const RegistryValue &value) {
        const std::string path = reference.substr(5);
        const std::size_t slash = path.rfind('\\');
        auto key =
            krv::platform::RegistryCreateKey(RegistryHive::LocalMachine, path.substr(0, slash));
        ASSERT_TRUE(key);
        ASSERT_TRUE(krv::platform::RegistrySetValue(*key, path.substr(slash + 1), value));
    }
    void PutText(const std::string &reference, const std::string &text) {
        Put(reference, RegistryValue::MakeText(text));
    }

    LaunchConditionContext Context() {
        LaunchConditionContext c;
        c.productNameSource = m_root + "/Product Setup";
        c.osFamily = [] { return 1; };
        c.osDisplayName = [] { return std::string("Debian GNU/Linux 12 (bookworm)"); };
        c.screen = [] { return ScreenFacts{1280, 1024, 24}; };
        c.physicalMemory = [] { return uint64_t(4096) << 20; };
        c.administrator = [] { return false; };
        return c;
    }

    test::TempDir m_tmp{"conditions"};
    const std::string m_root = m_tmp.path();
    test::ScopedEnv m_env;
    std::vector<std::string> m_messages;
};

constexpr const char *kNdp = "HKLM\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\";
constexpr const char *kMs = "HKLM\\SOFTWARE\\Microsoft\\";

// One condition per case: its setting, what the machine has, and the message
// a failure shows ("" = passes; "-" = fails without a message).
TEST_F(LaunchConditionTest, EachConditionPassesOrShowsItsMessage) {
    using Setup = std::function<void(LaunchConditionTest &)>;
    using Edit = std::function<void(LaunchConditionSettings &)>;
    auto net = [](const char *version, const char *row) -> Setup {
        return [=](LaunchConditionTest &t) {
            t.Put(std::string(kNdp) + row, RegistryValue::MakeNumber(1));
            if (*version)
                t.PutText(std::string(kNdp) + "v4\\Full\\Version", version);
        };
    };
    const Setup nothing = [](LaunchConditionTest &) {};
    struct Case {
        const char *name;
        Edit edit;
        Setup machine;
        const char *message;
    } cases[] = {
        {"no conditions", [](auto &) {}, nothing, ""},
        {"whole family excluded",
         [](auto &s) {
             s.winNtVersions = std::string(kWinNtFamilyLabel);
             s.winNtName = "Linux";
         },
         nothing, "Product Setup невозможно установить на Linux."},
        {"named version excluded",
         [](auto &s) {
             s.winNtVersions = "Windows XP, Debian GNU/Linux 12 (bookworm)";
             s.winNtName = "these systems";
         },
         nothing,
         "Product Setup cannot be installed on the following Windows versions: these systems."},
        {"other versions allowed", [](auto &s) { s.winNtVersions = "Windows XP, Debian"; }, nothing,
         ""},
        {"screen large enough", [](auto &s) { s.minScreenRes = "1280x1024"; }, nothing, ""},
        {"screen too small", [](auto &s) { s.minScreenRes = "1280x1200"; }, nothing,
         "Product Setup невозможно установить на системах, имеющих разрешение экрана менее "
         "1280x1200."},
        {"colour depth", [](auto &s) { s.minColorQuality = "32"; }, nothing,
         "Product Setup невозможно установить на системах, имеющих глубину цвета экрана менее "
         "32 бит."},
        {"memory", [](auto &s) { s.minPhysicalMem = "4097"; }, nothing,
         "Product Setup невозможно установить на системах, имеющих объём физической памяти "
         "менее 4097 МБ."},
        {"administrator", [](auto &s) { s.adminPrivileges = true; }, nothing,
         "Product Setup требует административных полномочий для установки."},
        {"internet unreachable", [](auto &s) { s.activeInternetConnection = true; }, nothing,
         "Product Setup для установки требует активного соединения с Интернет. Пожалуйста, "
         "проверьте конфигурацию вашей сети и настройки прокси."},
        {"no browser component",
         [](auto &s) {
             s.minIeVer = "6.0";
             s.minIeVerName = "6.0 SP1";
         },
         nothing,
         "Product Setup невозможно установить на системах с Internet Explorer версии, меньшей, "
         "чем 6.0 SP1."},
        {"no web server", [](auto &s) { s.minIisVer = "6.0"; }, nothing,
         "Product Setup невозможно установить на системах с Internet Information Services, "
         "версии, меньшей, чем 6.0."},
        {".NET 3.5 met by 4.0 Full", [](auto &s) { s.minDotNetVer = "3.5"; },
         net("", "v4\\Full\\Install"), ""},
        {".NET 4.0 not met by the client profile", [](auto &s) { s.minDotNetVer = "4.0"; },
         net("", "v4\\Client\\Install"),
         "Product Setup невозможно установить на системах с .NET Framework версии, меньшей, чем "
         "4.0."},
        {".NET client profile", [](auto &s) { s.minDotNetVer = "4.0 Client Profile"; },
         net("", "v4\\Client\\Install"), ""},
        {".NET 4.5 by its version", [](auto &s) { s.minDotNetVer = "4.5"; },
         net("4.5.50709", "v4\\Full\\Install"), ""},
        {".NET unknown version", [](auto &s) { s.minDotNetVer = "5.0"; },
         net("", "v4\\Full\\Install"), "-"},
        {".NET text", [](auto &s) { s.minDotNetVer = "latest"; }, nothing,
         "Product Setup невозможно установить на системах с .NET Framework версии, меньшей, чем "
         "latest."},
        {"Reader 7 met by 9", [](auto &s) { s.minAcrobatReaderVer = "7"; },
         [](auto &t) {
             t.PutText("HKLM\\Software\\Adobe\\Acrobat Reader\\9.0\\InstallPath\\", "C:\\");
         },
         ""},
        {"Reader 11 unknown", [](auto &s) { s.minAcrobatReaderVer = "11"; }, nothing, "-"},
        {"Reader missing", [](auto &s) { s.minAcrobatReaderVer = "8"; }, nothing,
         "Product Setup невозможно установить на системах с Adobe Reader версии, меньшей, чем "
         "8."},
        {"DirectX 9.0c met", [](auto &s) { s.minDirectXVer = "9.0c"; },
         [](auto &t) { t.PutText(std::string(kMs) + "DirectX\\Version", "4.09.00.0904"); }, ""},
        {"DirectX 9.0c older", [](auto &s) { s.minDirectXVer = "9.0c"; },
         [](auto &t) { t.PutText(std::string(kMs) + "DirectX\\Version", "4.09.00.0902"); },
         "Product Setup невозможно установить на системах с DirectX версии, меньшей, чем 9.0c."},
        {"JRE by subkey", [](auto &s) { s.minJreVer = "1.6"; },
         [](auto &t) {
             t.PutText("HKLM\\SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8\\JavaHome", "/");
         },
         ""},
        {"JDK missing", [](auto &s) { s.minJdkVer = "11"; }, nothing,
         "Продукт Product Setup не может быть установлен на системах с версией JDK меньше 11."},
        {"Word 2007 and 2010 present",
         [](auto &s) {
             s.officeAppValue = "Microsoft Word";
             s.officeAppMessageId = 228;
         },
         [](auto &t) {
             t.PutText(std::string(kMs) + "Office\\12.0\\Word\\InstallRoot\\Path", "C:\\");
             t.PutText(std::string(kMs) + "Office\\14.0\\Word\\InstallRoot\\Path", "C:\\");
         },
         ""},
        {"Word 2010 missing",
         [](auto &s) {
             s.officeAppValue = "Microsoft Word";
             s.officeAppMessageId = 228;
         },
         [](auto &t) {
             t.PutText(std::string(kMs) + "Office\\12.0\\Word\\InstallRoot\\Path", "C:\\");
         },
         "Product Setup cannot be installed on systems without Microsoft Word 2007 or higher."},
        {"unknown Office application",
         [](auto &s) {
             s.officeAppValue = "Microsoft Paint";
             s.officeAppMessageId = 227;
         },
         nothing, ""},
        {"XNA 3.1 met by 4.0", [](auto &s) { s.xnaFramework = "3.1"; },
         [](auto &t) {
             t.PutText(std::string(kMs) + "XNA\\Framework\\v4.0\\NativeLibraryPath", "C:\\");
         },
         ""},
        {"XNA unknown", [](auto &s) { s.xnaFramework = "5.0"; }, nothing, "-"},
        {"SQL Express by the second value",
         [](auto &s) { s.sqlExpress = "SQL Server Express 2008 SP1"; },
         [](auto &t) {
             t.PutText(std::string(kMs) +
                           "Microsoft SQL Server Native Client 10.0\\CurrentVersion\\Version",
                       "10.1.2531");
         },
         ""},
        {"SQL Express unknown", [](auto &s) { s.sqlExpress = "SQL Server Express 2019"; }, nothing,
         "Продукт Product Setup не может быть установлен на системах без SQL Server Express "
         "2019."},
        {"SQL Compact service pack as a number",
         [](auto &s) { s.sqlCompact = "SQL Server Compact 3.5 SP2"; },
         [](auto &t) {
             t.Put(std::string(kMs) + "Microsoft SQL Server Compact Edition\\v3.5\\ENU\\"
                                      "DesktopRuntimeServicePackLevel",
                   RegistryValue::MakeNumber(2));
         },
         ""},
        {"SQL Express name in the Compact rows",
         [](auto &s) { s.sqlCompact = "SQL Server Express 2005"; }, nothing,
         "Продукт Product Setup не может быть установлен на системах без SQL Server Express "
         "2005."},
        {"ActiveSync 4.5 met by 6.1", [](auto &s) { s.activeSync = "ActiveSync 4.5"; },
         [](auto &t) {
             t.PutText(std::string(kMs) + "Windows\\CurrentVersion\\App Paths\\CEAPPMGR.EXE\\",
                       "C:\\ceappmgr.exe");
             t.PutText(std::string(kMs) + "Windows CE Services\\MajorVersion", "6");
             t.Put(std::string(kMs) + "Windows CE Services\\MinorVersion",
                   RegistryValue::MakeNumber(1));
         },
         ""},
        {"ActiveSync 4.5 not met by 4.2", [](auto &s) { s.activeSync = "ActiveSync 4.5"; },
         [](auto &t) {
             t.PutText(std::string(kMs) + "Windows\\CurrentVersion\\App Paths\\CEAPPMGR.EXE\\",
                       "C:\\ceappmgr.exe");
             t.Put(std::string(kMs) + "Windows CE Services\\MajorVersion",
                   RegistryValue::MakeNumber(4));
             t.Put(std::string(kMs) + "Windows CE Services\\MinorVersion",
                   RegistryValue::MakeNumber(2));
         },
         "Продукт Product Setup не может быть установлен на системах без ActiveSync 4.5 или "
         "выше."},
        {"ActiveSync unknown name", [](auto &s) { s.activeSync = "ActiveSync 9"; }, nothing, ""},
        {"interop assembly 2003", [](auto &s) { s.office2003Pia = "Microsoft Excel"; }, nothing,
         "Product Setup cannot be installed on systems without Microsoft Excel 2003 Primary "
         "Interop Assembly."},
        {"interop assembly 2010", [](auto &s) { s.office2010Pia = "Microsoft Project"; }, nothing,
         "Product Setup cannot be installed on systems without Microsoft Project 2010 Primary "
         "Interop Assembly."},
        {"shared interop assembly", [](auto &s) { s.officeSharedPia = "Office Shared 2010"; },
         nothing,
         "Product Setup cannot be installed on systems without Office Shared 2010 Primary "
         "Interop Assembly."},
        {"Office tools runtime",
         [](auto &s) { s.visualStudioToolsOffice = "Visual Studio Tools for Office 2010 Runtime"; },
         [](auto &t) {
             t.Put("HKLM\\SOFTWARE\\Microsoft\\VSTO Runtime Setup\\v4\\Install",
                   RegistryValue::MakeNumber(1));
         },
         ""},
        {"Office tools unknown", [](auto &s) { s.visualStudioToolsOffice = "VSTO 2030"; }, nothing,
         "Продукт Product Setup не может быть установлен на системах без VSTO 2030."},
        {"SharePoint 2007 met by 2010",
         [](auto &s) {
             s.sharePoint =
                 "Windows SharePoint Services 3.0 or Microsoft Office SharePoint Server 2007";
         },
         [](auto &t) {
             t.PutText(std::string(kMs) + "Shared Tools\\Web Server Extensions\\14.0\\SharePoint",
                       "Installed");
         },
         ""},
        {"SharePoint unknown", [](auto &s) { s.sharePoint = "SharePoint 2030"; }, nothing, "-"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_root + "/reg");
        c.machine(*this);
        SetupSettings settings;
        c.edit(settings.launchConditions);
        m_messages.clear();
        const bool passed = CheckLaunchConditions(settings, Context());
        const std::string expected = c.message;
        EXPECT_EQ(passed, expected.empty());
        if (expected.empty() || expected == "-")
            EXPECT_TRUE(m_messages.empty()) << m_messages.front();
        else
            EXPECT_EQ(m_messages, std::vector<std::string>{expected});
    }
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
    auto boxes = std::make_shared<ScriptedMessageBoxes>();
    SetMessageBoxPresenter(boxes);
    SetupUi ui;
    ui.SetProductName(m_root + "/Product Setup");
    LaunchConditionContext context = Context();
    context.ui = &ui;
    context.administrator = [] { return false; };
    SetupSettings settings;
    settings.launchConditions.adminPrivileges = true;
    EXPECT_FALSE(CheckLaunchConditions(settings, context));
    const auto shown = boxes->Shown();
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
    const int code = ProgramRun(
        {"/exenoui", "/exelog", log}, m_root + "/Product Setup", [](SetupProgram &program) {
            return RunSetupProgram(program, std::make_unique<PayloadRunnerPackage>(), {},
                                   std::make_unique<LanguageConditionSteps>());
        });
    TheSingleInstanceLock().Release();
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

} // namespace
