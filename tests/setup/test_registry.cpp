#include "support_env.h"

#include <decimal_text.h>
#include <setup_registry.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace krv::platform;
namespace fs = std::filesystem;

namespace {

class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_root.empty());
        m_env.Set("KRV_REGISTRY_ROOT", m_root);
    }
    RegistryKey Create(RegistryHive hive, const char *path) {
        auto key = RegistryCreateKey(hive, path);
        EXPECT_TRUE(key) << path;
        return key.value_or(RegistryKey{hive, path});
    }
    static std::string Text(const RegistryKey &key, const char *name) {
        auto v = RegistryGetValue(key, name);
        return v && v->type == RegistryValueType::Text ? v->text : "<none>";
    }
    static std::string ReadFile(const std::string &path) {
        return krv::setup::test::ReadFile(path);
    }

    krv::setup::test::TempDir m_tmp{"registry"};
    const std::string m_root = m_tmp.path();
    krv::setup::test::ScopedEnv m_env;
};

} // namespace

TEST_F(Registry, HivesLiveUnderTheRoot) {
    EXPECT_EQ(RegistryHiveDirectory(RegistryHive::LocalMachine), m_root + "/HKLM");
    EXPECT_EQ(RegistryHiveDirectory(RegistryHive::CurrentUser), m_root + "/HKCU");
    EXPECT_EQ(RegistryHiveDirectory(RegistryHive::Users), m_root + "/HKU");
    RegistrySetValue(Create(RegistryHive::ClassesRoot, ".msi"), "",
                     RegistryValue::MakeText("Msi.Package"));
    auto classes = RegistryOpenKey(RegistryHive::LocalMachine, "Software\\Classes\\.msi");
    ASSERT_TRUE(classes);
    EXPECT_EQ(Text(*classes, ""), "Msi.Package");
}

TEST_F(Registry, KeysAndValuesAreCaseInsensitiveButKeepTheirCase) {
    auto key = Create(RegistryHive::LocalMachine, "Software\\Vendor\\Telmar");
    ASSERT_TRUE(RegistrySetValue(key, "InstallDir", RegistryValue::MakeText("/opt/telmar")));
    auto again = RegistryOpenKey(RegistryHive::LocalMachine, "SOFTWARE\\vendor\\TELMAR");
    ASSERT_TRUE(again);
    EXPECT_EQ(Text(*again, "installdir"), "/opt/telmar");

    // Writing under another spelling replaces the value and keeps its name.
    ASSERT_TRUE(RegistrySetValue(*again, "INSTALLDIR", RegistryValue::MakeText("/srv/telmar")));
    EXPECT_EQ(RegistryListValues(key), std::vector<std::string>{"InstallDir"});
    EXPECT_EQ(Text(key, "InstallDir"), "/srv/telmar");

    RegistryCreateKey(RegistryHive::LocalMachine, "software\\VENDOR\\Other");
    EXPECT_EQ(RegistryListSubkeys(*RegistryOpenKey(RegistryHive::LocalMachine, "Software\\Vendor")),
              (std::vector<std::string>{"Other", "Telmar"}));
    EXPECT_EQ(RegistryListSubkeys(*RegistryOpenKey(RegistryHive::LocalMachine, "")),
              std::vector<std::string>{"Software"});
}

TEST_F(Registry, CyrillicNamesCompareWithoutCase) {
    auto key = Create(RegistryHive::CurrentUser, "Software\\Кассы\\Принтер");
    ASSERT_TRUE(RegistrySetValue(key, "Порт", RegistryValue::MakeText("COM1")));
    auto again = RegistryOpenKey(RegistryHive::CurrentUser, "software\\КАССЫ\\пРИНТЕР");
    ASSERT_TRUE(again);
    EXPECT_EQ(Text(*again, "ПОРТ"), "COM1");
    EXPECT_TRUE(RegistryNamesEqual("Ёлка", "ёЛКА"));
    EXPECT_TRUE(RegistryNamesEqual("Ґанок Їжак Єдність Іній", "ґАНОК їЖАК єДНІСТЬ іНІЙ"));
    EXPECT_FALSE(RegistryNamesEqual("Ґ", "Г"));
    EXPECT_FALSE(RegistryNamesEqual("Ёлка", "Елка"));
}

TEST_F(Registry, TypedValuesRoundTrip) {
    auto key = Create(RegistryHive::CurrentUser, "Software\\Test");
    std::string awkward = "line1\r\nline2\ttab %41 100%\x01";
    std::vector<uint8_t> bytes = {0x00, 0xFF, 0x10, 0x0A, 0x25};
    ASSERT_TRUE(RegistrySetValue(key, "Text", RegistryValue::MakeText(awkward)));
    ASSERT_TRUE(RegistrySetValue(key, "Number", RegistryValue::MakeNumber(4294967295u)));
    ASSERT_TRUE(RegistrySetValue(key, "Binary", RegistryValue::MakeBinary(bytes)));
    ASSERT_TRUE(RegistrySetValue(key, "", RegistryValue::MakeText("default")));
    ASSERT_TRUE(RegistrySetValue(key, "odd\tname\n%", RegistryValue::MakeNumber(7)));

    EXPECT_EQ(Text(key, "Text"), awkward);
    auto number = RegistryGetValue(key, "Number");
    ASSERT_TRUE(number);
    EXPECT_EQ(number->type, RegistryValueType::Number);
    EXPECT_EQ(number->number, 4294967295u);
    auto binary = RegistryGetValue(key, "binary");
    ASSERT_TRUE(binary);
    EXPECT_EQ(binary->type, RegistryValueType::Binary);
    EXPECT_EQ(binary->data, bytes);
    EXPECT_EQ(Text(key, ""), "default");
    ASSERT_TRUE(RegistryGetValue(key, "ODD\tNAME\n%"));
    EXPECT_EQ(RegistryGetValue(key, "odd\tname\n%")->number, 7u);
    EXPECT_EQ(RegistryListValues(key),
              (std::vector<std::string>{"Text", "Number", "Binary", "", "odd\tname\n%"}));
}

TEST_F(Registry, KeyNamesThatAreNotPlainFileNames) {
    auto key = Create(RegistryHive::LocalMachine, "Software\\..\\.hidden\\100%");
    ASSERT_TRUE(RegistrySetValue(key, "v", RegistryValue::MakeNumber(1)));
    // Nothing escapes the hive directory.
    EXPECT_FALSE(fs::exists(m_root + "/HKLM/.hidden"));
    EXPECT_EQ(RegistryListSubkeys(*RegistryOpenKey(RegistryHive::LocalMachine, "Software")),
              std::vector<std::string>{".."});
    EXPECT_TRUE(RegistryOpenKey(RegistryHive::LocalMachine, "software\\..\\.HIDDEN\\100%"));
}

TEST_F(Registry, MissingKeysAndValues) {
    EXPECT_FALSE(RegistryOpenKey(RegistryHive::LocalMachine, "Software\\Nothing"));
    auto key = Create(RegistryHive::LocalMachine, "Software\\Something");
    EXPECT_FALSE(RegistryGetValue(key, "absent"));
    EXPECT_FALSE(
        RegistryGetValue(RegistryKey{RegistryHive::LocalMachine, "Software\\Nothing"}, "x"));
    EXPECT_FALSE(RegistryDeleteValue(key, "absent"));
    EXPECT_FALSE(RegistryDeleteKey(RegistryHive::LocalMachine, "Software\\Nothing"));
    EXPECT_FALSE(RegistryDeleteKey(RegistryHive::LocalMachine, ""));
}

TEST_F(Registry, HivesInsideHklmAreNeverDeletedWhole) {
    Create(RegistryHive::ClassesRoot, ".msi");
    Create(RegistryHive::CurrentConfig, "Software\\Fonts");
    EXPECT_FALSE(RegistryDeleteKey(RegistryHive::ClassesRoot, ""));
    EXPECT_FALSE(RegistryDeleteKey(RegistryHive::CurrentConfig, "\\"));
    EXPECT_TRUE(RegistryOpenKey(RegistryHive::ClassesRoot, ".msi"));
    EXPECT_TRUE(RegistryOpenKey(RegistryHive::CurrentConfig, "Software\\Fonts"));
    EXPECT_TRUE(RegistryDeleteKey(RegistryHive::ClassesRoot, ".MSI"));
    EXPECT_FALSE(RegistryOpenKey(RegistryHive::ClassesRoot, ".msi"));
}

TEST_F(Registry, DeleteValueAndKey) {
    auto key = Create(RegistryHive::CurrentUser, "Software\\Del\\Sub\\Deeper");
    RegistrySetValue(key, "a", RegistryValue::MakeNumber(1));
    RegistrySetValue(key, "b", RegistryValue::MakeNumber(2));
    EXPECT_TRUE(RegistryDeleteValue(key, "A"));
    EXPECT_EQ(RegistryListValues(key), std::vector<std::string>{"b"});
    EXPECT_TRUE(RegistryDeleteKey(RegistryHive::CurrentUser, "software\\del\\sub"));
    EXPECT_FALSE(RegistryOpenKey(RegistryHive::CurrentUser, "Software\\Del\\Sub"));
    EXPECT_TRUE(RegistryOpenKey(RegistryHive::CurrentUser, "Software\\Del"));
    EXPECT_TRUE(
        RegistryListSubkeys(*RegistryOpenKey(RegistryHive::CurrentUser, "Software\\Del")).empty());
}

TEST_F(Registry, WritesReplaceTheFileWhole) {
    auto key = Create(RegistryHive::LocalMachine, "Software\\Atomic");
    ASSERT_TRUE(RegistrySetValue(key, "first", RegistryValue::MakeText("1")));
    std::string dir = m_root + "/HKLM/Software/Atomic";
    std::string before = ReadFile(dir + "/.values");
    EXPECT_EQ(before, "KRVREG 1\nsz\tfirst\t1\n");
    struct stat before_st {};
    ASSERT_EQ(::stat((dir + "/.values").c_str(), &before_st), 0);
    // Keep the old file alive under another name so its inode is not reused.
    ASSERT_EQ(::link((dir + "/.values").c_str(), (m_root + "/old-values").c_str()), 0);
    ASSERT_TRUE(RegistrySetValue(key, "second", RegistryValue::MakeText("2")));
    struct stat st {};
    ASSERT_EQ(::stat((dir + "/.values").c_str(), &st), 0);
    // A new file took the old one's place; no temporary file is left over.
    EXPECT_NE(st.st_ino, before_st.st_ino);
    EXPECT_EQ(ReadFile(m_root + "/old-values"), before);
    for (const auto &entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST_F(Registry, LeftoverTemporaryAndDamagedLinesAreHarmless) {
    auto key = Create(RegistryHive::LocalMachine, "Software\\Crash");
    ASSERT_TRUE(RegistrySetValue(key, "kept", RegistryValue::MakeText("yes")));
    std::string dir = m_root + "/HKLM/Software/Crash";
    // What a writer killed before its rename leaves behind.
    {
        std::ofstream half(dir + "/.values.tmp.999.0", std::ios::binary);
        half << "KRVREG 1\nsz\tkept\tno\nsz\thalf";
    }
    EXPECT_EQ(Text(key, "kept"), "yes");
    EXPECT_EQ(RegistryListValues(key), std::vector<std::string>{"kept"});
    EXPECT_TRUE(RegistryListSubkeys(key).empty());
    // A damaged file gives what can be read and never more.
    {
        std::ofstream bad(dir + "/.values", std::ios::binary);
        bad << "KRVREG 1\nsz\tgood\tvalue\ndword\tnum\t99999999999\nbinary\tbin\tABC\nbogus line\n"
               "dword\tok\t12";
    }
    EXPECT_EQ(Text(key, "good"), "value");
    EXPECT_FALSE(RegistryGetValue(key, "num"));
    EXPECT_FALSE(RegistryGetValue(key, "bin"));
    ASSERT_TRUE(RegistryGetValue(key, "ok"));
    EXPECT_EQ(RegistryGetValue(key, "ok")->number, 12u);
    {
        std::ofstream foreign(dir + "/.values", std::ios::binary);
        foreign << "not a store\nsz\tgood\tvalue\n";
    }
    EXPECT_FALSE(RegistryGetValue(key, "good"));
}

// Stored numbers (registry values, resource ids) are plain digits that fit
// 32 bits; anything else is refused rather than read in part.
TEST(DecimalText, DigitsOnlyAndWithinThirtyTwoBits) {
    const struct {
        const char *text;
        std::optional<uint32_t> value;
    } cases[] = {
        {"0", 0u},          {"0000000012", 12u}, {"4294967295", 4294967295u},
        {"4294967296", {}}, {"99999999999", {}}, {"", {}},
        {" 1", {}},         {"+1", {}},          {"-1", {}},
        {"12a", {}},        {"1.0", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ParseDecimalUint32(c.text), c.value) << '"' << c.text << '"';
}

TEST_F(Registry, ConcurrentWritersLoseNothing) {
    auto key = Create(RegistryHive::CurrentUser, "Software\\Busy");
    constexpr int kWriters = 4;
    constexpr int kValues = 25;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool ok = true;
            for (int i = 0; i < kValues; ++i)
                ok = RegistrySetValue(key, "w" + std::to_string(w) + "_" + std::to_string(i),
                                      RegistryValue::MakeNumber(static_cast<uint32_t>(i))) &&
                     ok;
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(RegistryListValues(key).size(), static_cast<std::size_t>(kWriters * kValues));
}

TEST_F(Registry, UnwritableStoreFailsCleanly) {
    m_env.Set("KRV_REGISTRY_ROOT", "/proc/krv-no-such-store");
    EXPECT_FALSE(RegistryCreateKey(RegistryHive::LocalMachine, "Software\\X"));
    EXPECT_FALSE(RegistrySetValue(RegistryKey{RegistryHive::LocalMachine, "Software\\X"}, "v",
                                  RegistryValue::MakeNumber(1)));
    EXPECT_FALSE(RegistryOpenKey(RegistryHive::LocalMachine, "Software\\X"));
}

// A values file the store cannot read cleanly is damage: reads give a
// reason, and no write, value removal or key removal touches it. None of these may hang (a pipe) or
// abort (an endless device).
TEST_F(Registry, DamagedValuesAreReportedAndLeftAlone) {
    struct Case {
        const char *name;
        void (*make)(const std::string &path);
    } cases[] = {
        {"newer header",
         [](const std::string &p) {
             krv::setup::test::WriteFile(p, "KRVREG 2\nsz\tCmd\tx\nsz\tKeep\ty\n");
         }},
        {"CRLF line ends",
         [](const std::string &p) {
             krv::setup::test::WriteFile(p, "KRVREG 1\r\nsz\tCmd\tx\r\nsz\tKeep\ty\r\n");
         }},
        {"line of no shape",
         [](const std::string &p) {
             krv::setup::test::WriteFile(p, "KRVREG 1\nsz\tCmd\tx\nsz Keep y\n");
         }},
        {"bad number",
         [](const std::string &p) {
             krv::setup::test::WriteFile(p, "KRVREG 1\nsz\tCmd\tx\ndword\tKeep\t99999999999\n");
         }},
        {"folder", [](const std::string &p) { fs::create_directory(p); }},
        {"pipe", [](const std::string &p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {"endless device", [](const std::string &p) { fs::create_symlink("/dev/zero", p); }},
        {"oversized",
         [](const std::string &p) {
             krv::setup::test::WriteFile(p, "KRVREG 1\nsz\tCmd\tx\n");
             fs::resize_file(p, 64u << 20);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string keyPath = std::string("Software\\Damaged\\") + c.name;
        const RegistryKey key = Create(RegistryHive::CurrentUser, keyPath.c_str());
        const std::string dir = m_root + "/HKCU/Software/Damaged/" + c.name;
        const std::string values = dir + "/.values";
        c.make(values);
        struct stat before {};
        ASSERT_EQ(::lstat(values.c_str(), &before), 0);
        const std::string bytes =
            S_ISREG(before.st_mode) && before.st_size < 4096 ? ReadFile(values) : std::string();

        EXPECT_FALSE(RegistryGetValue(key, "Keep"));
        EXPECT_NE(RegistryLastError(), "") << "damage is no missing value";
        RegistryListValues(key);
        EXPECT_NE(RegistryLastError(), "");
        EXPECT_FALSE(RegistrySetValue(key, "New", RegistryValue::MakeText("z")));
        EXPECT_FALSE(RegistryDeleteValue(key, "Cmd"));
        EXPECT_FALSE(RegistryDeleteKey(RegistryHive::CurrentUser, keyPath));
        EXPECT_FALSE(RegistryDeleteKey(RegistryHive::CurrentUser, "Software\\Damaged"))
            << "nor may a key above it go";

        struct stat after {};
        ASSERT_EQ(::lstat(values.c_str(), &after), 0) << "still there";
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_size, before.st_size);
        if (!bytes.empty()) {
            EXPECT_EQ(ReadFile(values), bytes);
        }
    }
}

// Lines of a type a newer store wrote are no damage: the rest reads and
// writes as always and those lines survive every rewrite as they stand.
TEST_F(Registry, LinesOfUnknownTypesSurviveRewrites) {
    const RegistryKey key = Create(RegistryHive::LocalMachine, "Software\\Newer");
    const std::string values = m_root + "/HKLM/Software/Newer/.values";
    krv::setup::test::WriteFile(values, "KRVREG 1\nqword\tBig\t123\nsz\tCmd\tx\n"
                                        "multi_sz\tList\ta%00b%00\n");
    EXPECT_EQ(Text(key, "Cmd"), "x");
    EXPECT_FALSE(RegistryGetValue(key, "Big"));
    EXPECT_NE(RegistryLastError(), "") << "a value of an unknown type is no missing value";
    ASSERT_TRUE(RegistrySetValue(key, "New", RegistryValue::MakeNumber(5)));
    ASSERT_TRUE(RegistryDeleteValue(key, "Cmd"));
    EXPECT_EQ(ReadFile(values), "KRVREG 1\nqword\tBig\t123\nmulti_sz\tList\ta%00b%00\n"
                                "dword\tNew\t5\n");
    EXPECT_EQ(RegistryListValues(key), (std::vector<std::string>{"Big", "List", "New"}));
    // Set by a caller who means it, the value takes our type.
    ASSERT_TRUE(RegistrySetValue(key, "BIG", RegistryValue::MakeText("small")));
    EXPECT_EQ(Text(key, "Big"), "small");
    EXPECT_EQ(RegistryLastError(), "");
}
