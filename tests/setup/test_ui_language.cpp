// The user-interface language: locale names to language ids, the
// suggestion, the choice at start-up over a real package carrying a
// language module, and the module's texts replacing the program's own.
#include "command_line.h"
#include "installed_products.h"
#include "language_condition_steps.h"
#include "language_module.h"
#include "language_selector.h"
#include "messages.h"
#include "package_writer.h"
#include "payload_archive.h"
#include "payload_package.h"
#include "program_run.h"
#include "setup_runner.h"
#include "setup_ui.h"
#include "support_env.h"
#include "support_offscreen.h"
#include "support_runs.h"
#include "support_windows.h"
#include "toolkit_language.h"
#include "ui_strings.h"

#include <setup_locale.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

using namespace krv::setup;
using krv::platform::LangIdFromLocaleName;

namespace {

constexpr uint16_t kRussian = 0x0419, kEnglish = 0x0409, kGerman = 0x0407, kGermanAt = 0x0C07;

// An English module: the caption text and the language dialog's title.
const std::string kEnglishModule = "KRV-LANGUAGE-MODULE 1\r\n"
                                   "S\t161\tSetting up %s\r\n"
                                   "S\t206\tLine one\\r\\nLine\\ttwo \\\\ end\n"
                                   "D\t217\t0\tSetup language\n"
                                   "X\tignored line\n"
                                   "S\tnot-a-number\tignored\n";

class UiLanguageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_root.empty());
        m_env.Set("KRV_SETUP_ROOT", m_root);
        m_env.Set("KRV_REGISTRY_ROOT", m_root + "/reg");
        for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
            m_env.Unset(name);
        m_windows.language = [this](const std::vector<uint16_t> &available, uint16_t suggested,
                                    const std::string &) {
            ++m_dialogs;
            m_offered = available;
            m_suggested = suggested;
            return m_answer;
        };
    }
    void TearDown() override { SetResourceModule(nullptr); }

    // The program with a package behind it, opened.
    void OpenPackage(PayloadArchive &archive, uint32_t flags, bool withModule) {
        // The package is found by a backward search over the last kilobytes.
        test::WriteFile(m_root + "/program", "#!/bin/sh\nexit 0\n" + std::string(4096, '#'));
        krv::package::PackageWriter writer(m_root + "/program");
        writer.SetContainerFlags(flags);
        if (withModule)
            writer.AddBytes(payload::entry_type::kLanguageLibrary, 100, "1033.dll", kEnglishModule);
        std::string error;
        ASSERT_TRUE(writer.Write(m_root + "/setup", error)) << error;
        ASSERT_EQ(archive.SetArchivePath(m_root + "/setup"), 0);
        ASSERT_EQ(archive.OpenArchive(), 0) << archive.GetArchiveErrorText();
    }

    void Install(const std::string &code, const std::string &upgrade, const std::string &lang) {
        InstalledProduct product;
        product.productCode = code;
        product.upgradeCode = upgrade;
        product.versionString = "1.0";
        product.installedLanguage = lang;
        ASSERT_TRUE(RegisterProduct(product));
    }

    test::TempDir m_tmp{"uilang"};
    const std::string m_root = m_tmp.path();
    test::ScopedEnv m_env;
    test::ScriptedWindows m_windows;
    int m_dialogs = 0;
    std::vector<uint16_t> m_offered;
    uint16_t m_suggested = 0;
    LanguageDialogResult m_answer{1, kEnglish};
};

TEST(LocaleLanguages, NamesMapToLanguageIds) {
    struct Case {
        const char *name;
        uint16_t id;
    } cases[] = {
        {"ru_RU.UTF-8", kRussian},
        {"en_US", kEnglish},
        {"en_GB.ISO-8859-1", 0x0809},
        {"de_AT@euro", kGermanAt},
        {"de", kGerman},
        {"de_LU.UTF-8", kGerman},
        {"uk_UA.UTF-8", 0x0422},
        {"en-US", kEnglish},
        {"C", 0},
        {"POSIX", 0},
        {"", 0},
        {"xx_YY", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(LangIdFromLocaleName(c.name), c.id) << c.name;
}

// A language is named as the user's system names it: in the user's
// interface language (Russian or English; English for the others).
TEST(LocaleLanguages, NamesAreInTheUsersInterfaceLanguage) {
    struct Case {
        const char *lang, *language;
        const char *russian, *english;
    } cases[] = {
        {"ru_RU.UTF-8", "", "1049-Русский (Россия)", "1033-Английский (Соединенные Штаты)"},
        {"en_US.UTF-8", "ru", "1049-Русский (Россия)", "1033-Английский (Соединенные Штаты)"},
        {"en_US.UTF-8", "", "1049-Russian (Russia)", "1033-English (United States)"},
        {"de_DE.UTF-8", "", "1049-Russian (Russia)", "1033-English (United States)"},
        {"", "", "1049-Russian (Russia)", "1033-English (United States)"},
    };
    test::ScopedEnv env;
    for (const char *name : {"LC_ALL", "LC_MESSAGES"})
        env.Unset(name);
    for (const Case &c : cases) {
        env.Set("LANG", c.lang);
        env.Set("LANGUAGE", c.language);
        EXPECT_EQ(GetLanguageName(kRussian), c.russian) << c.lang << " " << c.language;
        EXPECT_EQ(GetLanguageName(kEnglish), c.english) << c.lang << " " << c.language;
        EXPECT_EQ(GetLanguageName(1234), "1234-");
    }
}

TEST_F(UiLanguageTest, CandidatesComeFromEveryLocaleVariable) {
    // The UI languages are used whatever the system is called.
    m_env.Set("LANG", "en_US.UTF-8");
    m_env.Set("LC_MESSAGES", "uk_UA.UTF-8");
    m_env.Set("LANGUAGE", "xx:de_AT:fr");
    LanguageCandidates c = GetLanguageCandidates();
    EXPECT_EQ(c.systemDefault, kEnglish);
    EXPECT_EQ(c.systemDefaultUi, kEnglish);
    EXPECT_EQ(c.userDefault, 0x0422);
    EXPECT_EQ(c.userDefaultUi, kGermanAt);
    m_env.Set("LC_ALL", "ru_RU.UTF-8");
    m_env.Unset("LANGUAGE");
    c = GetLanguageCandidates();
    EXPECT_EQ(c.userDefault, kRussian);
    EXPECT_EQ(c.userDefaultUi, kRussian);
}

TEST(SuggestLanguage, ExactBeforePrimaryAndUserFirstWhenPreferred) {
    const LanguageCandidates germanUser{kEnglish, kGerman, kEnglish, kGerman};
    const LanguageCandidates austrianUser{kEnglish, kGermanAt, kEnglish, kGermanAt};
    const LanguageCandidates nothingOffered{0x0411, 0x0411, 0x0411, 0x0411};
    struct Case {
        std::vector<uint16_t> available;
        bool preferUser;
        LanguageCandidates candidates;
        uint16_t expected;
    } cases[] = {
        {{kRussian, kEnglish, kGerman}, true, germanUser, kGerman},
        {{kRussian, kEnglish, kGerman}, false, germanUser, kEnglish},
        {{kRussian, kGerman}, false, germanUser, kGerman},
        {{kRussian, 0x0809, kGerman}, true, austrianUser, kGerman}, // primary language
        {{kRussian, 0x0809, kGerman}, false, austrianUser, 0x0809}, // system's primary first
        {{kRussian, kEnglish, kGerman}, true, nothingOffered, kRussian},
        {{}, false, germanUser, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SuggestUiLanguage(c.available, c.preferUser, c.candidates), c.expected)
            << "prefer user " << c.preferUser << " first " << c.available.size();
}

TEST(LanguageModules, ParseTextsAndRefuseOthers) {
    ResourceModule module;
    ASSERT_TRUE(ParseLanguageModule(kEnglishModule, module));
    EXPECT_EQ(module.strings.size(), 2u);
    EXPECT_EQ(module.strings.at(206), "Line one\r\nLine\ttwo \\ end");
    EXPECT_EQ(module.dialogs.at(217).at(0), "Setup language");
    ResourceModule other;
    EXPECT_FALSE(ParseLanguageModule("S\t161\tno header\n", other));
    EXPECT_FALSE(ParseLanguageModule("", other));
    EXPECT_TRUE(ParseLanguageModule("KRV-LANGUAGE-MODULE 1", other));
    EXPECT_FALSE(ParseLanguageModule("KRV-LANGUAGE-MODULE 1\nS\t99999999999\tx\n", other) &&
                 !other.strings.empty());

    test::TempDir dir("uilang-file");
    test::WriteFile(dir.path() + "/big.dll", std::string(kLanguageModuleHeader) + "\n" +
                                                 std::string(kLanguageModuleMaxSize, 'x'));
    EXPECT_EQ(LoadLanguageModuleFile(dir.path() + "/big.dll", kEnglish), nullptr);
    EXPECT_EQ(LoadLanguageModuleFile(dir.path() + "/missing.dll", kEnglish), nullptr);
}

// A block record as a module file carries it.
std::string BlockRecord(const std::string &kind, uint32_t id, const std::string &bytes) {
    return "B\t" + kind + "\t" + std::to_string(id) + "\t" + std::to_string(bytes.size()) + "\n" +
           bytes + "\n";
}

TEST(LanguageModules, BlocksAreReadByTheirSizeAndBoundedByTheFile) {
    // Bytes that look like records must stay inside their block.
    const std::string picture("\x89PNG\r\n\0\nS\t161\tnot a text\n", 24);
    const std::string valid = std::string(kLanguageModuleHeader) + "\n" +
                              BlockRecord("IMAGE_FILE", 222, picture) +
                              BlockRecord("RTF_FILE", 219, "<p>Licence</p>") +
                              BlockRecord("RTF_FILE", 210, "") + "S\t161\tAfter blocks\n";
    ResourceModule module;
    ASSERT_TRUE(ParseLanguageModule(valid, module));
    EXPECT_EQ(module.blocks.at("IMAGE_FILE").at(222), picture);
    EXPECT_EQ(module.blocks.at("RTF_FILE").at(219), "<p>Licence</p>");
    EXPECT_EQ(module.strings.size(), 1u);
    EXPECT_EQ(module.strings.at(161), "After blocks");

    const std::string header = std::string(kLanguageModuleHeader) + "\n";
    const struct {
        const char *what;
        std::string text;
    } refused[] = {
        {"cut one byte short", header + "B\tRTF_FILE\t219\t5\nabcd"},
        {"size past the end", header + "B\tRTF_FILE\t219\t4294967295\nabc"},
        {"oversize", header + "B\tRTF_FILE\t219\t" + std::to_string(kResourceBlockMaxSize + 1) +
                         "\n" + std::string(kResourceBlockMaxSize + 1, 'x')},
        {"size not a number", header + "B\tRTF_FILE\t219\t-1\nabc"},
        {"no size", header + "B\tRTF_FILE\t219\nabc"},
    };
    for (const auto &c : refused) {
        // An exact-size copy, so a read past the module is a read past the
        // allocation.
        const auto copy = std::make_unique<char[]>(c.text.size());
        std::copy(c.text.begin(), c.text.end(), copy.get());
        ResourceModule other;
        EXPECT_FALSE(ParseLanguageModule(std::string_view(copy.get(), c.text.size()), other))
            << c.what;
    }
}

TEST_F(UiLanguageTest, ChoiceBySwitchProductLocaleAndDialog) {
    // The toolkit's own buttons follow the chosen language too.
    test::OffscreenApplication app("ui-language");
    FollowUiLanguageInToolkit();
    const std::string upgrade = "{BBBBBBBB-0000-0000-0000-000000000001}";
    const std::string english = "Setting up %s", own = "Установка %s";
    const LanguageDialogResult cancel{2, 0};
    struct Case {
        const char *name;
        const char *commandLine;
        uint32_t flags;
        bool module;
        const char *lang;
        const char *productCodes;                   // the settings' ProductCode
        std::vector<std::string> relatedLanguages;  // products of the upgrade code
        std::optional<LanguageDialogResult> answer; // nothing: no dialog expected
        bool silent;
        int result;
        const char *exelang; // the switch after the choice ("-": absent)
        std::string caption; // string 161 after the choice
    } cases[] = {
        {"switch offered",
         "/exelang 1033",
         0x20,
         true,
         "ru_RU",
         "",
         {},
         {},
         false,
         0,
         "1033",
         english},
        {"switch not offered", "/exelang 1031", 0, true, "ru_RU", "", {}, {}, false, 0, "0", own},
        {"switch zero", "/exelang 0", 0x20, true, "en_US", "", {}, {}, false, 0, "0", own},
        {"installed product",
         "",
         0x20,
         true,
         "ru_RU",
         "1049:{AAAAAAAA-0000-0000-0000-000000000009} 1033:{AAAAAAAA-0000-0000-0000-000000000001}",
         {},
         {},
         false,
         0,
         "-",
         english},
        {"installed product with a bad language",
         "",
         0,
         true,
         "ru_RU",
         "66569:{AAAAAAAA-0000-0000-0000-000000000001}",
         {},
         {},
         false,
         0,
         "0",
         own},
        {"related products agree",
         "",
         0xC00,
         true,
         "ru_RU",
         "",
         {"1033", "0", "1033"},
         {},
         false,
         0,
         "-",
         english},
        {"related product without a language last",
         "",
         0xC00,
         true,
         "ru_RU",
         "",
         {"1033", "0"},
         {},
         false,
         0,
         "0",
         own},
        {"related products differ",
         "",
         0xC00,
         true,
         "ru_RU",
         "",
         {"1033", "1049"},
         {},
         false,
         0,
         "0",
         own},
        {"related products without both flags",
         "",
         0x400,
         true,
         "ru_RU",
         "",
         {"1033"},
         {},
         false,
         0,
         "0",
         own},
        {"locale", "", 0, true, "en_US.UTF-8", "", {}, {}, false, 0, "1033", english},
        {"dialog picks English",
         "",
         0x20,
         true,
         "ru_RU",
         "",
         {},
         LanguageDialogResult{1, kEnglish},
         false,
         0,
         "1033",
         english},
        {"dialog picks the own language",
         "",
         0x20,
         true,
         "en_US",
         "",
         {},
         LanguageDialogResult{1, kRussian},
         false,
         0,
         "0",
         own},
        {"dialog cancelled", "", 0x20, true, "ru_RU", "", {}, cancel, false, -1, "-", own},
        {"silent skips the dialog", "", 0x20, true, "en_US", "", {}, {}, true, 0, "1033", english},
        {"dialog without modules", "", 0x20, false, "en_US", "", {}, {}, false, 0, "0", own},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_root + "/reg");
        SetResourceModule(nullptr);
        m_env.Set("LANG", c.lang);
        m_dialogs = 0;
        m_answer = c.answer.value_or(LanguageDialogResult{2, 0});
        PayloadArchive archive;
        OpenPackage(archive, c.flags, c.module);
        for (std::size_t i = 0; i < c.relatedLanguages.size(); ++i)
            Install("{CCCCCCCC-0000-0000-0000-00000000000" + std::to_string(i) + "}", upgrade,
                    c.relatedLanguages[i]);
        Install("{AAAAAAAA-0000-0000-0000-000000000001}", "", "");
        SetupSettings settings;
        settings.general.productCode = c.productCodes;
        settings.general.upgradeCode = upgrade;
        CommandLineOptions options = ParseCommandLine(c.commandLine);
        SetupUi ui(&m_windows, test::QuietMessages());
        ui.SetProductName(m_root + "/setup");
        {
            UiLanguageSelector selector(&ui, &archive);
            EXPECT_EQ(ChooseSetupLanguage(selector, options, settings, c.flags, c.silent, &ui),
                      c.result);
            EXPECT_EQ(m_dialogs, c.answer ? 1 : 0);
            const SwitchValue *exelang = FindSwitch(options, switch_id::kExeLang);
            EXPECT_EQ(exelang ? exelang->value : std::string("-"), c.exelang);
            EXPECT_EQ(LoadUiString(161), c.caption);
            EXPECT_EQ(ui.GetSetupCaption(), FormatUiText(c.caption, {std::string("setup")}))
                << "the caption follows the module";
            EXPECT_EQ(ToolkitButtonText(QDialogButtonBox::Cancel).toStdString(),
                      c.caption == english ? "Cancel" : "Отмена")
                << c.name;
            if (c.answer) {
                EXPECT_EQ(m_offered, (std::vector<uint16_t>{kRussian, kEnglish}));
                EXPECT_EQ(m_suggested,
                          std::string(c.lang).rfind("en", 0) == 0 ? kEnglish : kRussian);
            }
        }
        EXPECT_EQ(LoadUiString(161), own) << "the program's texts come back with the selector";
    }
}

TEST_F(UiLanguageTest, ModuleTextsReplaceTheProgramsAndDialogTextsFallBack) {
    PayloadArchive archive;
    OpenPackage(archive, 0, true);
    UiLanguageSelector selector(nullptr, &archive);
    EXPECT_EQ(selector.PackageLanguages(), std::vector<uint16_t>{kEnglish});
    EXPECT_TRUE(selector.IsLanguageAvailable(kRussian));
    EXPECT_FALSE(selector.IsLanguageAvailable(kGerman));
    EXPECT_FALSE(selector.SelectLanguage(kGerman));
    EXPECT_EQ(LoadDialogText(217, 0), "Язык программы установки");
    ASSERT_TRUE(selector.SelectLanguage(kEnglish));
    EXPECT_EQ(selector.ChosenLanguage(), kEnglish);
    EXPECT_EQ(LoadDialogText(217, 0), "Setup language");
    EXPECT_EQ(LoadDialogText(217, 2), "Отмена") << "a text the module lacks comes from the program";
    EXPECT_EQ(LoadUiString(206), "Line one\r\nLine\ttwo \\ end");
    EXPECT_EQ(LoadUiString(236), "Проверка условий запуска...");
    ASSERT_TRUE(selector.SelectLanguage(kRussian));
    EXPECT_EQ(selector.ChosenLanguage(), 0);
    EXPECT_EQ(LoadUiString(161), "Установка %s");
    // A language the package lists but cannot deliver leaves the texts.
    EXPECT_FALSE(selector.LoadResourceModule(kGerman));
    EXPECT_EQ(LoadUiString(161), "Установка %s");
}

TEST_F(UiLanguageTest, ListedLanguagesAndTheDialogWithoutDisplay) {
    PayloadArchive archive;
    OpenPackage(archive, 0, true);
    auto boxes = std::make_shared<ScriptedMessageBoxes>();
    SetupServices services;
    services.messages = SetupMessages(boxes);
    services.steps.language = std::make_unique<UiLanguageStep>();
    ProgramRun({"/listlangs"}, m_root + "/setup", std::move(services),
               test::PayloadPackageSequence());
    const auto shown = boxes->Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "1049-Russian (Russia)\r\n1033-English (United States)");

    // Nobody can answer the dialog: its suggestion stands.
    const LanguageDialogResult answer = LanguageDialog({kRussian, kEnglish}, kEnglish, "Setup");
    EXPECT_EQ(answer.result, 1);
    EXPECT_EQ(answer.selected, kEnglish);
}

} // namespace
