// The search engine over the registry store, files, the installed-products
// store, component records and detection programs.
#include "installed_products.h"
#include "search_engine.h"
#include "support_env.h"
#include "version_info.h"

#include <setup_registry.h>
#include <setup_system.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

using namespace krv::setup;
using krv::platform::RegistryHive;
using krv::platform::RegistryValue;

// The copies of this program that the file searches find carry this version.
KRV_DECLARE_FILE_VERSION(2, 3, 4, 5);

namespace {

class SearchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_root.empty());
        m_env.Set("KRV_SETUP_ROOT", m_root);
        m_env.Set("KRV_REGISTRY_ROOT", m_root + "/reg");
    }

    void SetValue(const std::string &key, const std::string &name, const RegistryValue &value) {
        auto k = krv::platform::RegistryCreateKey(RegistryHive::LocalMachine, key);
        ASSERT_TRUE(k);
        ASSERT_TRUE(krv::platform::RegistrySetValue(*k, name, value));
    }
    // A copy of this test program (it has a version) or a plain file.
    void PutFile(const std::string &path, bool versioned) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        if (versioned)
            std::filesystem::copy_file(krv::platform::ExecutablePath(), path,
                                       std::filesystem::copy_options::overwrite_existing);
        else
            test::WriteFile(path, "no version here");
    }
    bool Evaluate(SearchRecord record, SearchResult *out = nullptr) {
        SearchResult result;
        RunSearch(record, false, result, m_fixedDrives);
        const bool value = EvaluateSearchResult(record, result);
        if (out)
            *out = result;
        return value;
    }

    test::TempDir m_tmp{"searches"};
    const std::string m_root = m_tmp.path();
    test::ScopedEnv m_env;
    FixedDrivesQuery m_fixedDrives; // empty: the machine's
};

SearchRecord Record(int32_t type, std::string text, std::string verMin = {},
                    std::string verMax = {}, std::string refContent = {}) {
    SearchRecord r;
    r.type = type;
    r.searchString = std::move(text);
    r.verMin = std::move(verMin);
    r.verMax = std::move(verMax);
    r.refContent = std::move(refContent);
    return r;
}

TEST_F(SearchTest, AllAndAnyAccumulateAndStopWhenDecided) {
    const SearchRecord missingKey = Record(search_type::kKeyExists, "HKLM\\Software\\Nothing");
    const SearchRecord always = Record(99, "");
    const SearchRecord negative = Record(-3, "");
    struct Case {
        int32_t mode;
        std::vector<SearchRecord> searches;
        bool stopEarly;
        bool expected;
        std::size_t results;
    } cases[] = {
        {search_mode::kAll, {}, false, true, 0},
        {search_mode::kAny, {}, false, false, 0},
        {7, {always}, false, false, 1}, // other modes keep their start value
        {search_mode::kAll, {always, negative}, true, true, 2},
        {search_mode::kAll, {missingKey, always}, true, false, 1},
        {search_mode::kAll, {missingKey, always}, false, false, 2},
        {search_mode::kAny, {always, missingKey}, true, true, 1},
        {search_mode::kAny, {missingKey, always}, true, true, 2},
    };
    for (const Case &c : cases) {
        std::vector<SearchResult> results(3); // cleared by the run
        EXPECT_EQ(RunSearches(c.searches, results, c.mode, false, {}, c.stopEarly), c.expected)
            << "mode " << c.mode << " with " << c.searches.size() << " searches";
        ASSERT_EQ(results.size(), c.results);
        for (std::size_t i = 0; i < results.size(); ++i)
            EXPECT_EQ(results[i].found, c.searches[i].type != search_type::kKeyExists);
    }
}

TEST_F(SearchTest, TextOperators) {
    struct Case {
        const char *found, *reference;
        char op;
        bool expected;
    } cases[] = {
        {"Hello World", "lo W", 'C', true},
        {"Hello", "xyz", 'C', false},
        {"abc", "abd", 'D', true},
        {"abc", "abc", 'D', false},
        {"setup.exe", ".exe", 'E', true},
        {"ex", ".exe", 'E', false},
        {"10", "9", 'G', true},
        {"9", "10", 'G', false},
        {"12a", "10", 'G', false},
        {"007", "7", 'G', false},
        {"99999999999999999999", "9", 'G', true},
        {"9", "10", 'L', true},
        {"10", "9", 'L', false},
        {"Abc", "abc", 'M', false},
        {"abc", "abc", 'M', true},
        {"abcdef", "abc", 'S', true},
        {"ab", "abc", 'S', false},
        {"abc", "x", 'X', true},
        {"abc", "b", 'X', false},
        {"abc", "abc", 'Q', false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CompareTextWithOperator(c.found, c.reference, c.op), c.expected)
            << c.found << " " << c.op << " " << c.reference;
    EXPECT_TRUE(IsAllDigits(""));
    EXPECT_FALSE(IsAllDigits("1 2"));
}

TEST_F(SearchTest, RegistrySearches) {
    SetValue("Software\\Vendor\\App", "Version", RegistryValue::MakeText("1.2.3"));
    SetValue("Software\\Vendor\\App", "Count", RegistryValue::MakeNumber(1));
    SetValue("Software\\Vendor\\App", "Level", RegistryValue::MakeNumber(7));
    SetValue("Software\\Vendor\\App", "Blob", RegistryValue::MakeBinary({1, 2}));
    SetValue("Software\\Vendor\\App", "Text", RegistryValue::MakeText("9"));
    SetValue("Software\\Vendor\\App", "", RegistryValue::MakeText("default"));
    SetValue("Software\\Vendor\\Runtime\\1.6", "x", RegistryValue::MakeText(""));
    SetValue("Software\\Vendor\\Runtime\\1.8.0_391", "x", RegistryValue::MakeText(""));
    const std::string app = "HKLM\\Software\\Vendor\\App\\";
    struct Case {
        SearchRecord record;
        bool expected;
    } cases[] = {
        // A number value reads as its decimal text, for versions and content.
        {Record(search_type::kRegistryValue, app + "Level", "5"), true},
        {Record(search_type::kRegistryValue, app + "Level", "8"), false},
        {Record(search_type::kValueContent, app + "Count", "", "", "M1"), true},
        {Record(search_type::kValueContent, app + "Text", "", "", "G10"), false},
        {Record(search_type::kValueContent, app + "Text", "", "", "L10"), true},
        {Record(search_type::kValueContent, app + "Version", "", "", "S1.2"), true},
        {Record(search_type::kValueContent, app + "Missing", "", "", "D1"), false},
        {Record(search_type::kValueContent, app + "Version", "", "", ""), false},
        {Record(search_type::kRegistryValue, app + "Version", "1.2"), true},
        {Record(search_type::kRegistryValue, app + "Version", "", "1.1"), false},
        {Record(search_type::kRegistryValue, app + "Version", "1.0", "2.0"), true},
        {Record(search_type::kRegistryValue, app + "Blob"), false},
        {Record(search_type::kRegistryValue, app + "Missing"), false},
        {Record(search_type::kRegistryKey, "HKLM\\Software\\Vendor\\Runtime", "1.8"), true},
        {Record(search_type::kRegistryKey, "HKLM\\Software\\Vendor\\Runtime", "1.9"), false},
        {Record(search_type::kRegistryKey, "HKLM\\Software\\Vendor\\Nothing"), false},
        {Record(search_type::kKeyExists, "HKLM\\Software\\Vendor\\App\\"), true},
        {Record(search_type::kKeyMissing, "HKLM\\Software\\Vendor\\App"), false},
        {Record(search_type::kKeyMissing, "HKLM\\Software\\Vendor\\Gone"), true},
        {Record(search_type::kValueExists, app), true}, // the default value
        {Record(search_type::kValueExists, app + "Missing"), false},
        {Record(search_type::kValueMissing, app + "Missing"), true},
        {Record(search_type::kValueMissing, "HKLM\\Software\\Gone\\Value"), true},
        {Record(search_type::kValueExists, "HKCU\\Software\\Vendor\\App\\Version"), false},
        {Record(search_type::kValueExists, "NoRoot"), false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Evaluate(c.record), c.expected)
            << "type " << c.record.type << " " << c.record.searchString << " min "
            << c.record.verMin << " max " << c.record.verMax << " ref " << c.record.refContent;
}

TEST_F(SearchTest, FileSearchesWalkFoldersAndCompareVersions) {
    const std::string lib = m_root + "/usr/lib/";
    PutFile(lib + "vendor/bin/tool", true);
    PutFile(lib + "plain.dat", false);
    struct Case {
        SearchRecord record;
        bool expected;
        std::vector<std::string> found;
    } cases[] = {
        {Record(search_type::kFile, "[SystemFolder]tool"), false, {}},
        {Record(search_type::kFile, "[SystemFolder]tool?1"), false, {}},
        {Record(search_type::kFile, "[SystemFolder]tool?2", "2.3"), true, {"2.3.4.5"}},
        {Record(search_type::kFile, "[SystemFolder]vendor\\bin\\tool", "2.3.4.6"),
         false,
         {"2.3.4.5"}},
        {Record(search_type::kFile, "[SystemFolder]vendor/bin/tool", "", "2.3.4.4"),
         false,
         {"2.3.4.5"}},
        // Without a version the file counts only when no bound is set.
        {Record(search_type::kFile, "[SystemFolder]plain.dat"), true, {"0.0.0.0"}},
        {Record(search_type::kFile, "[SystemFolder]plain.dat", "1"), false, {"0.0.0.0"}},
    };
    int drivesAsked = 0;
    m_fixedDrives = [&] {
        ++drivesAsked;
        return std::vector<std::string>{};
    };
    for (const Case &c : cases) {
        SearchResult result;
        EXPECT_EQ(Evaluate(c.record, &result), c.expected) << c.record.searchString;
        EXPECT_EQ(result.foundValues, c.found) << c.record.searchString;
    }
    EXPECT_EQ(drivesAsked, 0) << "a path with a folder reference is not tried on every drive";

    // A bare name is looked for on every fixed drive, in order.
    PutFile(m_root + "/second/vendor/tool", true);
    m_fixedDrives = [&] {
        ++drivesAsked;
        return std::vector<std::string>{m_root + "/first/", m_root + "/second/"};
    };
    SearchResult result;
    EXPECT_TRUE(Evaluate(Record(search_type::kFile, "tool?1", "2"), &result));
    EXPECT_EQ(result.foundValues, std::vector<std::string>{"2.3.4.5"});
    EXPECT_EQ(drivesAsked, 1);
    EXPECT_FALSE(Evaluate(Record(search_type::kFile, "tool", "2")));
}

TEST_F(SearchTest, FileWalkDoesNotFollowFolderLinks) {
    const std::string lib = m_root + "/usr/lib/loop/";
    std::filesystem::create_directories(lib);
    std::filesystem::create_directory_symlink(lib, lib + "again");
    EXPECT_FALSE(Evaluate(Record(search_type::kFile, "[SystemFolder]loop/tool?50")));
}

TEST_F(SearchTest, ProductsComponentsAndUpgradeCodes) {
    const std::string upgrade = "{11111111-2222-3333-4444-555555555555}";
    for (const auto &[code, version] :
         {std::pair{"{AAAAAAAA-0000-0000-0000-000000000001}", "1.5.0"},
          std::pair{"{AAAAAAAA-0000-0000-0000-000000000002}", "3.0.1"}}) {
        InstalledProduct product;
        product.productCode = code;
        product.versionString = version;
        product.upgradeCode = upgrade;
        ASSERT_TRUE(RegisterProduct(product));
    }
    SetValue(std::string(kInstalledComponentsKey) + "\\{C0}", "State",
             RegistryValue::MakeNumber(3));
    SetValue(std::string(kInstalledComponentsKey) + "\\{C1}", "State",
             RegistryValue::MakeNumber(2));
    struct Case {
        SearchRecord record;
        bool expected;
    } cases[] = {
        {Record(search_type::kProduct, "{AAAAAAAA-0000-0000-0000-000000000001}", "1.4"), true},
        {Record(search_type::kProduct, "{AAAAAAAA-0000-0000-0000-000000000001}", "1.6"), false},
        {Record(search_type::kProduct, "{AAAAAAAA-0000-0000-0000-000000000009}"), false},
        {Record(search_type::kUpgradeCode, upgrade, "2.0"), true},
        {Record(search_type::kUpgradeCode, upgrade, "", "1.0"), false},
        {Record(search_type::kUpgradeCode, "{00000000-0000-0000-0000-000000000000}"), false},
        {Record(search_type::kComponent, "{C0}"), true},
        {Record(search_type::kComponent, "{C1}"), false},
        {Record(search_type::kComponent, "{C9}"), false},
        {Record(search_type::kComponent, ""), false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Evaluate(c.record), c.expected) << c.record.type << " " << c.record.searchString;
}

TEST_F(SearchTest, DetectionProgramsPassOnExitCodeZero) {
    const std::string program = m_root + "/detect.sh";
    test::WriteFile(program, "#!/bin/sh\nexit \"$1\"\n");
    ::chmod(program.c_str(), 0755);
    m_env.Set("DETECT_CODE", "0");
    SearchRecord record = Record(search_type::kDetectionProgram, "detect.sh");
    record.searchCmdLine = "%DETECT_CODE%";
    record.refContent = "WND_HIDE";
    const DetectionProgramProvider provider = [&](const SearchRecord &) { return program; };
    std::vector<SearchResult> results;
    EXPECT_TRUE(RunSearches({record}, results, search_mode::kAll, false, provider, false));
    m_env.Set("DETECT_CODE", "3");
    EXPECT_FALSE(RunSearches({record}, results, search_mode::kAll, false, provider, false));
    // No program from the package: not found.
    EXPECT_FALSE(RunSearches({record}, results, search_mode::kAll, false, {}, false));
    // A handed launcher starts it, and its exit code decides.
    std::vector<std::string> started;
    const krv::platform::ProcessLauncher launcher =
        [&started](const krv::platform::ProcessStartInfo &info, bool wait) {
            started.push_back(info.commandLine);
            krv::platform::ProcessResult r;
            r.started = true;
            r.waited = wait;
            return r;
        };
    EXPECT_TRUE(
        RunSearches({record}, results, search_mode::kAll, false, provider, false, launcher));
    EXPECT_EQ(started, std::vector<std::string>{krv::platform::QuoteArgument(program) + " 3"});
}

} // namespace
