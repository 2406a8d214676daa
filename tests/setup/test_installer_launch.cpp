#include "installed_products.h"
#include "installer_launch.h"
#include "installer_package.h"
#include "instances.h"
#include "log.h"
#include "messages.h"
#include "prerequisite_model.h"
#include "setup_runner.h"
#include "support_env.h"
#include "ui_strings.h"

#include <setup_registry.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace krv::setup {
namespace {

using test::WriteFile;

TEST(ActionPlaceholder, LastUnescapedDoubleSlash) {
    struct Case {
        std::string text;
        int position;
        std::string after;
    };
    const Case cases[] = {
        {"/x //", 3, "/x //"},     {"", -1, ""},
        {"/qn", -1, "/qn"},        {"a // b //", 7, "a // b //"},
        {"a |// b", -1, "a // b"}, {"|// x //", 5, "// x //"},
        {"x //|//", 2, "x ////"},  {"URL=http://host/a //", 18, "URL=http://host/a //"},
    };
    for (const Case &c : cases) {
        std::string text = c.text;
        EXPECT_EQ(FindActionPlaceholder(text), c.position) << c.text;
        EXPECT_EQ(text, c.after) << c.text;
    }
}

TEST(InstanceSwitches, OnlyWholeSwitchesCount) {
    struct Case {
        std::string text;
        bool given;
        int mode;
        std::string after;
    };
    const Case cases[] = {
        {"/qn", false, instance_mode::kNew, "/qn"},
        {"/norestart", false, instance_mode::kNew, "/norestart"},
        {"URL=http://h/i/x /qb", false, instance_mode::kNew, "URL=http://h/i/x /qb"},
        {"NOTE=\"a /i b\"", false, instance_mode::kNew, "NOTE=\"a /i b\""},
        {"MSINEWINSTANCE=1 TRANSFORMS=:a.mst", true, instance_mode::kNew,
         "MSINEWINSTANCE=1 TRANSFORMS=:a.mst"},
        {"/n {CODE}", true, instance_mode::kNew, "/n {CODE}"},
        {"/qn /i  X=1 /I", true, instance_mode::kMaintain, "/qn X=1"},
    };
    for (const Case &c : cases) {
        InstalledInstances instances;
        std::string text = c.text;
        ParseInstanceSwitches(text, instances);
        EXPECT_EQ(instances.switchesGiven, c.given) << c.text;
        EXPECT_EQ(instances.mode, c.mode) << c.text;
        EXPECT_EQ(text, c.after) << c.text;
    }
}

ProductInstanceRecord Record(const std::string &name, const std::string &code, bool installed,
                             bool older, const std::string &location = "") {
    ProductInstanceRecord r;
    r.instanceName = name;
    r.productCode = code;
    r.installed = installed;
    r.older = older;
    r.installLocation = location;
    return r;
}

TEST(InstanceArguments, ChoiceToArguments) {
    struct Case {
        const char *what;
        int chosen;
        int mode;
        bool switchesGiven;
        int outMode;
        std::string text;
    };
    const Case cases[] = {
        {"new default", 0, instance_mode::kNew, false, 0, ""},
        {"new named", 1, instance_mode::kNew, false, 0, " TRANSFORMS=:inst1.mst MSINEWINSTANCE=1 "},
        {"maintain default", 0, instance_mode::kMaintain, false, 1, ""},
        {"maintain named", 1, instance_mode::kMaintain, false, 1, " /n {I1} "},
        {"upgrade default", 2, instance_mode::kMaintain, false, 2, ""},
        {"upgrade named", 3, instance_mode::kMaintain, false, 2,
         " /n {I3}  REINSTALL=ALL REINSTALLMODE=vomus "},
        {"switches given", 1, instance_mode::kNew, true, 0, ""},
        {"nothing chosen", -1, instance_mode::kMaintain, false, 1, ""},
    };
    for (const Case &c : cases) {
        InstalledInstances instances;
        instances.records = {Record("", "{D}", true, false), Record("inst1", "{I1}", true, false),
                             Record("", "{D}", true, true, "/opt/t"),
                             Record("inst3", "{I3}", true, true)};
        if (std::string(c.what) == "upgrade default") {
            // The start-up product itself is the older one.
            instances.records.front() = Record("", "{D}", true, true, "/opt/t a");
            instances.chosen = 0;
        } else {
            instances.chosen = c.chosen;
        }
        instances.mode = c.mode;
        instances.switchesGiven = c.switchesGiven;
        const InstanceArguments out = BuildInstanceArguments(instances);
        EXPECT_EQ(out.mode, c.outMode) << c.what;
        if (std::string(c.what) == "upgrade default")
            EXPECT_EQ(out.text,
                      " PX_INTANCE_LOCATION=\"/opt/t a\"  REINSTALL=ALL REINSTALLMODE=vomus ");
        else
            EXPECT_EQ(out.text, c.text) << c.what;
    }
}

class LaunchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_root.empty());
        m_env.Set("KRV_SETUP_ROOT", m_root);
        m_env.Unset("KRV_REGISTRY_ROOT");
        std::filesystem::create_directories(m_dir);
    }

    void Register(const std::string &code, const std::string &version, const std::string &upgrade,
                  const std::string &packageCode = "{PKG}") {
        InstalledProduct p;
        p.productCode = code;
        p.productName = "Telmar " + version;
        p.versionString = version;
        p.upgradeCode = upgrade;
        p.packageCode = packageCode;
        p.installLocation = "/opt/" + code;
        ASSERT_TRUE(RegisterProduct(p));
    }

    test::TempDir m_tmp{"launch"};
    const std::string m_root = m_tmp.path();
    const std::string m_dir = m_root + "/x";
    test::ScopedEnv m_env;
    std::shared_ptr<ScriptedMessageBoxes> m_boxes = std::make_shared<ScriptedMessageBoxes>();
    SetupMessages m_messages{m_boxes};
};

TEST_F(LaunchTest, CommandLineForEveryBranch) {
    const std::string setupFile = "/media/Telmar Setup/TelmarSetup2.3";
    const std::string tail = " PX_SETUPEXEPATH=\"/media/Telmar Setup/TelmarSetup2.3\" "
                             "SETUPEXEDIR=\"/media/Telmar Setup/\"";
    const std::string p = m_dir + "/main.msi";
    const std::string p64 = m_dir + "/main.x64.msi";
    // A package of ours at P for the minor-upgrade probe: installed 2.3.0,
    // package 2.3.1.
    WriteFile(m_root + "/tree/f", "x");
    ASSERT_EQ(WriteInstallerPackage(p, {{"ProductCode", "{P}"}, {"ProductVersion", "2.3.1"}}, {},
                                    m_root + "/tree"),
              "");
    Register("{P}", "2.3.0", "{U}");

    struct Case {
        const char *what;
        std::string text;
        uint32_t flags = 0;
        std::string letters;
        bool allPlatforms = false;
        bool is64Transform = false;
        bool wow64 = false;
        bool mstExists = false;
        uint16_t chosen = 0;
        std::string langs;
        uint16_t suggested = 0;
        std::string switches;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"first install", "", 0, "", false, false, false, false, 0, "", 0, "",
         " /i  \"" + p + "\" " + tail},
        {"text after the package", "/qn A=1", 0, "", false, false, false, false, 0, "", 0, "",
         " /i  \"" + p + "\" /qn A=1" + tail},
        {"uninstall placeholder", "/x //", 0, "", false, false, false, false, 0, "", 0, "",
         " /x  \"" + p + "\" " + tail},
        {"literal double slash", "U=a|//b", 0, "", false, false, false, false, 0, "", 0, "",
         " /i  \"" + p + "\" U=a//b" + tail},
        {"patch", "/qn", 0x80, "", false, false, false, false, 1049, "", 0, "/exenoui",
         " /p  \"" + p + "\" /qn"},
        {"minor upgrade", "", 0, "qu", false, false, false, false, 0, "", 0, "",
         " /fvomus  \"" + p + "\" " + tail},
        {"embedded language", "", 0, "", false, false, false, false, 1049, "", 0, "",
         " /i  \"" + p + "\"  TRANSFORMS=\":1049\"" + tail},
        {"language and transform file", "", 0, "", true, false, false, true, 1058, "", 0, "",
         " /i  \"" + p + "\"  TRANSFORMS=\"" + m_dir + "/main.mst;" + m_dir + "\\1058\"" + tail},
        {"language without transform file", "", 0, "", true, false, false, false, 1058, "", 0, "",
         " /i  \"" + p + "\"  TRANSFORMS=\"" + m_dir + "\\1058\"" + tail},
        {"transform file only", "", 0, "", true, false, false, true, 0, "", 0, "",
         " /i  \"" + p + "\"  TRANSFORMS=\"" + m_dir + "/main.mst\"" + tail},
        {"64-bit package", "", 0, "", true, false, true, false, 0, "", 0, "",
         " /i  \"" + p64 + "\" " + tail},
        {"suggested language", "", 0, "", true, false, false, false, 0, "1033,1049", 1049, "",
         " /i  \"" + p + "\"  TRANSFORMS=\"" + m_dir + "\\1049\"" + tail},
        {"suggestion is the first language", "", 0, "", true, false, false, false, 0, "1033,1049",
         1033, "", " /i  \"" + p + "\" " + tail},
        {"switches handed on", "", 0, "", false, false, false, false, 0, "", 0,
         "/exenoui /exelog \"my log\" PX_SETUPEXEPATH=x KEEP=1",
         " /i  \"" + p + "\" " + tail +
             " EXE_CMD_LINE=\"/exenoui  /exelog \"\"my log\"\" KEEP=1 \""},
    };
    for (const Case &c : cases) {
        std::filesystem::remove(m_dir + "/main.mst");
        if (c.mstExists)
            WriteFile(m_dir + "/main.mst", "t");
        SetupSettings settings;
        settings.general.flagLetters = c.letters;
        settings.general.allPlatforms = c.allPlatforms;
        settings.general.is64PlatformTransform = c.is64Transform;
        settings.general.langs = c.langs;
        CommandLineOptions options = ParseCommandLine(c.switches);
        MsiexecLineInputs inputs;
        inputs.containerFlags = c.flags;
        inputs.wow64 = c.wow64;
        inputs.options = &options;
        inputs.chosenLanguage = c.chosen;
        inputs.suggestLanguage = [&c](const std::vector<uint16_t> &, bool) { return c.suggested; };
        std::string text = c.text;
        ASSERT_TRUE(BuildMsiexecCommandLine(inputs, text, setupFile, p, settings, nullptr))
            << c.what;
        EXPECT_EQ(text, c.expected) << c.what;
    }
}

// A package without an extension in a folder whose name has a ".": its
// transform lies beside it, not at a name cut out of the folder.
TEST_F(LaunchTest, TransformBesideAPackageInADottedFolder) {
    const std::string folder = m_root + "/dot.dir";
    const std::string p = folder + "/main";
    WriteFile(folder + "/main.mst", "t");
    WriteFile(m_root + "/dot.mst", "not ours");
    SetupSettings settings;
    settings.general.allPlatforms = true;
    MsiexecLineInputs inputs;
    inputs.chosenLanguage = 1049;
    std::string text;
    ASSERT_TRUE(
        BuildMsiexecCommandLine(inputs, text, "/media/TelmarSetup2.3", p, settings, nullptr));
    EXPECT_NE(text.find(" TRANSFORMS=\"" + folder + "/main.mst;" + folder + "\\1049\""),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(" /i  \"" + p + "\" "), std::string::npos) << text;
}

TEST_F(LaunchTest, ResultPropertiesAndInstanceQuestion) {
    SetupSettings settings;
    PrerequisiteRecord known;
    known.retValPropName = "NETFX";
    known.resultKnown = true;
    known.resultValue = -3;
    PrerequisiteRecord unknown;
    unknown.retValPropName = "OTHER";
    settings.prerequisites = {known, unknown, PrerequisiteRecord{}};
    std::string text = "/qn";
    AppendResultProperties(settings, text);
    EXPECT_EQ(text, "/qn NETFX=-3");

    // Upgrading an older instance asks first; No stops the build.
    MsiexecLineInputs inputs;
    inputs.messages = m_messages;
    for (const int answer : {answer::kNo, answer::kYes}) {
        InstalledInstances instances;
        instances.records = {Record("", "{D}", true, false), Record("inst2", "{I2}", true, true)};
        instances.chosen = 1;
        instances.mode = instance_mode::kMaintain;
        m_boxes->Clear();
        m_boxes->Answer(answer);
        text = "";
        const bool built =
            BuildMsiexecCommandLine(inputs, text, "/s/setup", "/s/m.msi", settings, &instances);
        ASSERT_EQ(m_boxes->Shown().size(), 1u);
        EXPECT_EQ(m_boxes->Shown()[0].text, LoadUiString(232));
        EXPECT_EQ(m_boxes->Shown()[0].caption, LoadUiString(231));
        EXPECT_EQ(built, answer == answer::kYes);
        if (built) {
            EXPECT_EQ(
                text.rfind(" /i  \"/s/m.msi\"  /n {I2}  REINSTALL=ALL REINSTALLMODE=vomus ", 0),
                0u);
        }
    }
}

TEST_F(LaunchTest, InstalledInstancesFromTheStore) {
    // The start-up product 2.3.5 and two instances: inst1 installed at
    // 2.3.0 (older), inst2 not installed; another product of the upgrade code.
    Register("{I1}", "2.3.0", "{U}");
    Register("{OTHER}", "2.0", "{U}");
    InstalledInstances instances;
    ProductInstanceRecord startup = Record("", "{D}", false, false);
    startup.upgradeCode = "{U}";
    ParseVersion("2.3.5", startup.productVersion);
    instances.records = {startup, Record("inst1", "{I1}", false, false),
                         Record("inst2", "{I2}", false, false)};
    EXPECT_TRUE(FindInstalledInstances(instances));
    EXPECT_EQ(instances.records[0].relatedProductCode, "{OTHER}");
    EXPECT_TRUE(instances.records[0].installed);
    EXPECT_TRUE(instances.records[1].installed);
    EXPECT_TRUE(instances.records[1].older);
    EXPECT_EQ(instances.records[1].installLocation, "/opt/{I1}");
    EXPECT_FALSE(instances.records[2].installed);
    EXPECT_FALSE(instances.upgradeOffered);
    EXPECT_TRUE(NewInstancePossible(instances));
    const auto newRows = InstanceDialogRows(instances, true);
    ASSERT_EQ(newRows.size(), 1u);
    EXPECT_EQ(newRows[0].cells, std::vector<std::string>{"inst2"});
    const auto installedRows = InstanceDialogRows(instances, false);
    ASSERT_EQ(installedRows.size(), 2u);
    EXPECT_EQ(installedRows[1].cells,
              (std::vector<std::string>{"Telmar 2.3.0", "2.3", "/opt/{I1}"}));

    InstalledInstances given;
    given.switchesGiven = true;
    given.records = instances.records;
    EXPECT_FALSE(FindInstalledInstances(given));
}

TEST_F(LaunchTest, InstallerVersionAndProductQueries) {
    m_env.Set(kInstallerProgramVariable, test::BinFolder() + "/krv-msiexec");
    EXPECT_EQ(FormatVersion(InstallerVersion()), "5.0");
    UiVisible = false;
    std::string reported;
    const SetupMessages messages(m_boxes, [&reported](std::string_view text) { reported = text; });
    struct Case {
        const char *minimum;
        bool stops;
    };
    for (const Case &c : {Case{"", false}, Case{"4.5", false}, Case{"5.0.1", true}}) {
        SetupSettings settings;
        settings.general.minWiVersion = c.minimum;
        reported.clear();
        EXPECT_EQ(
            CheckInstallerVersion(messages, settings, 0, "/nowhere", PrerequisiteAdmitsSystem),
            c.stops)
            << c.minimum;
        EXPECT_EQ(reported.find("5.0.1") != std::string::npos, c.stops) << c.minimum;
    }
    // No installer at all: too old, unless the package carries it.
    m_env.Set(kInstallerProgramVariable, m_root + "/missing");
    SetupSettings settings;
    EXPECT_TRUE(
        CheckInstallerVersion(messages, settings, 0x2, "/nowhere", PrerequisiteAdmitsSystem));
    PrerequisiteRecord carried;
    carried.searches.push_back(SearchRecord{});
    carried.searches[0].searchString = "[systemfolder]MSI.DLL";
    settings.prerequisites.push_back(carried);
    EXPECT_FALSE(
        CheckInstallerVersion(messages, settings, 0x2, "/nowhere", PrerequisiteAdmitsSystem));
    EXPECT_TRUE(CheckInstallerVersion(messages, settings, 0, "/nowhere", PrerequisiteAdmitsSystem));
    // A prerequisite for other systems (here: another language) carries
    // nothing for this one.
    settings.prerequisites[0].languageList = "1;";
    EXPECT_TRUE(
        CheckInstallerVersion(messages, settings, 0x2, "/nowhere", PrerequisiteAdmitsSystem));
    UiVisible = true;

    Register("{A}", "1.0", "{U}", "{PKG-A}");
    Register("{B}", "1.1", "{U}", "{PKG-B}");
    std::string code;
    EXPECT_TRUE(FindRelatedProductByPackageCode("{PKG-B}", "{U}", code));
    EXPECT_EQ(code, "{B}");
    EXPECT_FALSE(FindRelatedProductByPackageCode("{pkg-b}", "{U}", code)); // exact
    EXPECT_FALSE(FindRelatedProductByPackageCode("{PKG-B}", "{V}", code));

    // Language: our registry key, then the uninstall key, then the store.
    EXPECT_EQ(RelatedProductLanguage("{A}"), 0);
    InstalledProduct withLanguage = *FindInstalledProduct("{A}");
    withLanguage.installedLanguage = "1058";
    ASSERT_TRUE(RegisterProduct(withLanguage));
    EXPECT_EQ(RelatedProductLanguage("{A}"), 1058);
    using namespace platform;
    auto key = RegistryCreateKey(RegistryHive::CurrentUser,
                                 "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{A}");
    ASSERT_TRUE(RegistrySetValue(*key, "InstallLanguage", RegistryValue::MakeNumber(1049)));
    EXPECT_EQ(RelatedProductLanguage("{A}"), 1049);
    key = RegistryCreateKey(RegistryHive::LocalMachine, "Software\\Drennel\\Parvex\\{A}");
    ASSERT_TRUE(RegistrySetValue(*key, "installlanguage", RegistryValue::MakeText("1033")));
    EXPECT_EQ(RelatedProductLanguage("{A}"), 1049); // names compare exactly
    ASSERT_TRUE(RegistryDeleteValue(*key, "installlanguage"));
    ASSERT_TRUE(RegistrySetValue(*key, "InstallLanguage", RegistryValue::MakeText("1033")));
    EXPECT_EQ(RelatedProductLanguage("{A}"), 1033);
}

// The installer-version check reads the prerequisites as loaded from the
// settings text, before any prerequisite runs.
TEST_F(LaunchTest, PackageCarriesTheInstallerAsSoonAsTheSettingsAreRead) {
    m_env.Set(kInstallerProgramVariable, m_root + "/missing");
    m_env.Set("LANG", "ru_RU.UTF-8"); // system language 1049
    UiVisible = false;
    const SetupMessages messages(m_boxes, [](std::string_view) {});
    struct Case {
        const char *languageList;
        bool stops;
    };
    for (const Case &c : {Case{"", false}, Case{"1049", false}, Case{"1049;", false},
                          Case{"1033;1049", false}, Case{"1033", true}}) {
        IniDocument document;
        ParseIniText(document, "[PREREQUISITES]\r\nApp1=Installer\r\n[Installer]\r\n"
                               "SetupFile=krv-msiexec\r\nSearchType1=0\r\n"
                               "SearchString1=[SystemFolder]krv-msiexec\r\nLanguageList=" +
                                   std::string(c.languageList) + "\r\n");
        SetupSettings settings;
        settings.prerequisites.emplace_back();
        ASSERT_TRUE(LoadPrerequisites(document, 1, settings.prerequisites.back()));
        EXPECT_EQ(
            CheckInstallerVersion(messages, settings, 0x2, "/nowhere", PrerequisiteAdmitsSystem),
            c.stops)
            << c.languageList;
    }
    UiVisible = true;
}

TEST_F(LaunchTest, MinorUpgradeNeedsTheLetterAndALowerInstalledVersion) {
    WriteFile(m_root + "/tree/f", "x");
    const std::string p = m_dir + "/main.msi";
    ASSERT_EQ(WriteInstallerPackage(p, {{"ProductCode", "{P}"}, {"ProductVersion", "2.3.1"}}, {},
                                    m_root + "/tree"),
              "");
    SetupSettings settings;
    settings.general.flagLetters = "u";
    EXPECT_FALSE(DetectMinorUpgrade(settings, p)); // not installed
    Register("{P}", "2.3.1", "{U}");
    EXPECT_FALSE(DetectMinorUpgrade(settings, p)); // same version
    Register("{P}", "2.3.0.9", "{U}");
    EXPECT_TRUE(DetectMinorUpgrade(settings, p));
    settings.general.flagLetters = "q";
    EXPECT_FALSE(DetectMinorUpgrade(settings, p));
    EXPECT_FALSE(DetectMinorUpgrade(SetupSettings{}, m_root + "/missing"));
}

} // namespace
} // namespace krv::setup
