#include "support_env.h"
#include "system.h"

#include <setup_process.h>
#include <setup_registry.h>
#include <setup_system.h>
#include <version_info.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace krv::setup;
using krv::platform::RegistryHive;
using krv::platform::RegistryValue;
namespace fs = std::filesystem;

KRV_DECLARE_FILE_VERSION(2, 3, 4, 5);
KRV_DECLARE_VERSION_STRINGS("CompanyName=Telmar\0ProductName=Telmar Service 2.3\0EmptyOne=\0");

namespace {

class SystemQueries : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_root.empty());
        m_env.Set("KRV_SETUP_ROOT", m_root);
        m_env.Unset("KRV_REGISTRY_ROOT");
    }
    static void WriteFile(const std::string &path, const std::string &content) {
        krv::setup::test::WriteFile(path, content);
    }
    void SetText(RegistryHive hive, const std::string &key, const char *name,
                 const std::string &text) {
        auto k = krv::platform::RegistryCreateKey(hive, key);
        ASSERT_TRUE(k);
        ASSERT_TRUE(krv::platform::RegistrySetValue(*k, name, RegistryValue::MakeText(text)));
    }

    krv::setup::test::TempDir m_tmp{"system"};
    const std::string m_root = m_tmp.path();
    krv::setup::test::ScopedEnv m_env;
};

} // namespace

TEST_F(SystemQueries, OsDisplayNameFromOsRelease) {
    WriteFile(m_root + "/etc/os-release",
              "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\nPRETTY_NAME=\"Debian GNU/Linux 12 "
              "(bookworm)\"\nID=debian\n");
    EXPECT_EQ(GetOsDisplayName(), "Debian GNU/Linux 12 (bookworm)");
    WriteFile(m_root + "/etc/os-release", "NAME='Alt Linux'\nVERSION_ID=10.1\n");
    EXPECT_EQ(GetOsDisplayName(), "Alt Linux 10.1");
    fs::remove(m_root + "/etc/os-release");
    WriteFile(m_root + "/usr/lib/os-release", "PRETTY_NAME=\"Fallback \\\"quoted\\\" OS\"\n");
    EXPECT_EQ(GetOsDisplayName(), "Fallback \"quoted\" OS");
    fs::remove(m_root + "/usr/lib/os-release");
    // Without os-release the kernel names the system.
    EXPECT_EQ(GetOsDisplayName().rfind("Linux ", 0), 0u);
    EXPECT_EQ(GetOsFamily(), 1);
    EXPECT_FALSE(IsWow64());
}

TEST(OsRelease, ParsesQuotingAndIgnoresComments) {
    auto r = krv::platform::ParseOsRelease(
        "# comment\nID=ubuntu\r\nNAME=\"Ubuntu\"\nBROKEN LINE\nVERSION_ID='22.04'\n");
    EXPECT_EQ(r.id, "ubuntu");
    EXPECT_EQ(r.name, "Ubuntu");
    EXPECT_EQ(r.versionId, "22.04");
    EXPECT_EQ(r.prettyName, "");
}

TEST(OsVersion, ComparesMajorMinorServicePackThenBuild) {
    const OsVersionCache os{6, 1, 7601, 1, false};
    EXPECT_TRUE(IsVistaOrLater(false, os));
    EXPECT_FALSE(IsVistaOrLater(true, os));
    EXPECT_TRUE(OsVersionAtLeast(SetVersion(6, 1, 0, 0), true, os));
    EXPECT_TRUE(OsVersionAtLeast(SetVersion(6, 1, 7601, 1), false, os));
    EXPECT_FALSE(OsVersionAtLeast(SetVersion(6, 1, 7602, 1), false, os));
    // The service pack decides before the build.
    EXPECT_FALSE(OsVersionAtLeast(SetVersion(6, 1, 100, 2), false, os));
    EXPECT_TRUE(OsVersionAtLeast(SetVersion(6, 1, 9000, 0), false, os));
    EXPECT_FALSE(OsVersionAtLeast(SetVersion(6, 2, 0, 0), false, os));
    EXPECT_FALSE(IsVistaOrLater(false, OsVersionCache{5, 15, 0, 0, false}));
}

TEST(OsVersion, RedirectionAndAdministrator) {
    FsRedirection record;
    DisableFsRedirection(record);
    RevertFsRedirection(record);
    EXPECT_FALSE(record.disabled);
    EXPECT_FALSE(IsRunningUnderWow64());
    EXPECT_EQ(CanLockServiceDatabase(), ::geteuid() == 0);
}

// Asked as an ordinary user (root drops to nobody in a child process): the
// answer is whether the machine's folders under the setup root may be
// written, not who the user is.
TEST_F(SystemQueries, AdministratorMeansTheMachineFoldersMayBeWritten) {
    struct Case {
        const char *what;
        std::vector<const char *> writable; // made with mode 0777
        const char *readOnly;               // made with mode 0555, or null
        bool administrator;
    };
    const Case cases[] = {
        {"nothing made yet", {}, nullptr, true},
        {"every folder made", {"usr/lib", "opt", "registry/HKLM"}, nullptr, true},
        {"system folder read-only", {"opt", "registry/HKLM"}, "usr/lib", false},
        {"program folders read-only", {"usr/lib"}, "opt", false},
        {"machine registry store read-only", {"registry/HKCU"}, "registry/HKLM", false},
        {"registry root read-only, hive not made", {}, "registry", false},
    };
    fs::permissions(m_root, fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
    int n = 0;
    for (const Case &c : cases) {
        const std::string root = m_root + "/case" + std::to_string(++n);
        fs::create_directories(root);
        fs::permissions(root, fs::perms::all);
        for (const char *folder : c.writable) {
            fs::create_directories(root + "/" + folder);
            for (fs::path p = root + "/" + folder; p != root; p = p.parent_path())
                fs::permissions(p, fs::perms::all);
        }
        if (c.readOnly) {
            fs::create_directories(root + "/" + c.readOnly);
            fs::permissions(root + "/" + c.readOnly,
                            fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec);
        }
        m_env.Set("KRV_SETUP_ROOT", root);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            constexpr uid_t kNobody = 65534;
            if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
                ::_exit(2);
            ::_exit(CanLockServiceDatabase() ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << c.what;
        if (WEXITSTATUS(status) == 2)
            GTEST_SKIP() << "cannot drop root rights";
        EXPECT_EQ(WEXITSTATUS(status) == 1, c.administrator) << c.what;
    }
}

TEST(RegistryRoot, AbbreviationsAndEverythingElse) {
    EXPECT_EQ(ParseRegistryRoot("HKLM\\Software"), RegistryHive::LocalMachine);
    EXPECT_EQ(ParseRegistryRoot("hkcu\\x"), RegistryHive::CurrentUser);
    EXPECT_EQ(ParseRegistryRoot("HKCR\\.msi"), RegistryHive::ClassesRoot);
    EXPECT_EQ(ParseRegistryRoot("HKCC\\x"), RegistryHive::CurrentConfig);
    EXPECT_EQ(ParseRegistryRoot("HKU\\.DEFAULT"), RegistryHive::Users);
    EXPECT_EQ(ParseRegistryRoot("Whatever\\x"), RegistryHive::Users);
    EXPECT_FALSE(ParseRegistryRoot("HKLM"));
    EXPECT_FALSE(ParseRegistryRoot(""));
}

TEST_F(SystemQueries, RegistryReferencesAsText) {
    SetText(RegistryHive::LocalMachine, "Software\\Vendor", "Path", "/opt/vendor");
    SetText(RegistryHive::LocalMachine, "Software\\Vendor", "", "default text");
    auto key = krv::platform::RegistryOpenKey(RegistryHive::LocalMachine, "Software\\Vendor");
    ASSERT_TRUE(key);
    krv::platform::RegistrySetValue(*key, "Count", RegistryValue::MakeNumber(4000000000u));
    krv::platform::RegistrySetValue(*key, "Blob", RegistryValue::MakeBinary({1, 2, 3}));

    EXPECT_EQ(ResolveRegistryReference("HKLM\\Software\\Vendor\\Path"), "/opt/vendor");
    EXPECT_EQ(ResolveRegistryReference("HKLM\\Software\\Vendor\\Count"), "4000000000");
    EXPECT_EQ(ResolveRegistryReference("HKLM\\Software\\Vendor\\"), "default text");
    EXPECT_EQ(ResolveRegistryReference("HKLM\\Software\\Vendor\\Blob"), "");
    EXPECT_EQ(ResolveRegistryReference("HKLM\\Software\\Missing\\Path"), "");
    EXPECT_EQ(ResolveRegistryReference("no backslash"), "");

    std::string text = "unchanged";
    EXPECT_FALSE(QueryRegistryValueText(*key, "Blob", text));
    EXPECT_FALSE(QueryRegistryValueText(*key, "Nope", text));
    EXPECT_TRUE(QueryRegistryValueText(*key, "count", text));
    EXPECT_EQ(text, "4000000000");
}

TEST_F(SystemQueries, InternetExplorerVersion) {
    uint32_t major = 0;
    EXPECT_FALSE(GetInternetExplorerVersion(major));
    const char *key = "Software\\Microsoft\\Internet Explorer";
    SetText(RegistryHive::LocalMachine, key, "IVer", "101");
    EXPECT_TRUE(GetInternetExplorerVersion(major));
    EXPECT_EQ(major, 2u);
    SetText(RegistryHive::LocalMachine, key, "Version", "9.0"); // one dot: IVer decides
    EXPECT_TRUE(GetInternetExplorerVersion(major));
    EXPECT_EQ(major, 2u);
    SetText(RegistryHive::LocalMachine, key, "Version", "11.0.9600.16384");
    EXPECT_TRUE(GetInternetExplorerVersion(major));
    EXPECT_EQ(major, 11u);
    SetText(RegistryHive::LocalMachine, key, "Version", "99999999999.1.1");
    EXPECT_FALSE(GetInternetExplorerVersion(major));
}

TEST_F(SystemQueries, FileVersionsAndVersionStrings) {
    std::string self = krv::platform::ExecutablePath();
    uint32_t high = 0, low = 0;
    EXPECT_EQ(GetFileVersionQuad(self, high, low), 0);
    EXPECT_EQ(high, (2u << 16) | 3u);
    EXPECT_EQ(low, (4u << 16) | 5u);

    std::string text = self;
    ASSERT_TRUE(GetProductNameOfFile(text));
    EXPECT_EQ(text, "Telmar Service 2.3");
    text = self;
    ASSERT_TRUE(GetVersionInfoString(text, "companyname"));
    EXPECT_EQ(text, "Telmar");
    text = self;
    EXPECT_FALSE(GetVersionInfoString(text, "EmptyOne"));
    EXPECT_FALSE(GetVersionInfoString(text, "Missing"));
    EXPECT_EQ(text, self);

    uint32_t major = 0, minor = 0;
    EXPECT_TRUE(GetDllVersion(self, major, minor));
    EXPECT_EQ(major, 2u);
    EXPECT_EQ(minor, 3u);
    EXPECT_FALSE(GetDllVersion("libkrv-no-such-library.so", major, minor));
}

TEST_F(SystemQueries, DamagedFilesHaveNoVersion) {
    std::string plain = m_root + "/plain.txt";
    WriteFile(plain, "not an executable");
    uint32_t high = 7, low = 8;
    EXPECT_EQ(GetFileVersionQuad(plain, high, low), 0);
    EXPECT_EQ(high, 7u);
    EXPECT_EQ(low, 8u);
    EXPECT_NE(GetFileVersionQuad(m_root + "/missing", high, low), 0);

    // A pipe with no writer would block any read of it: it is no file.
    const std::string pipe = m_root + "/pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_NE(GetFileVersionQuad(pipe, high, low), 0);
    std::string pipeText = pipe;
    EXPECT_FALSE(GetProductNameOfFile(pipeText));
    EXPECT_EQ(pipeText, pipe);

    // An ELF header whose section table points far outside the file.
    std::string self = krv::platform::ExecutablePath();
    std::ifstream in(self, std::ios::binary);
    std::string head(64, '\0');
    in.read(head.data(), 64);
    for (std::size_t cut : {16u, 63u, 64u}) {
        std::string truncated = m_root + "/truncated" + std::to_string(cut);
        WriteFile(truncated, head.substr(0, cut));
        std::string text = truncated;
        EXPECT_FALSE(GetProductNameOfFile(text));
    }
    std::string corrupt = head;
    for (int i = 0x28; i < 0x30; ++i)
        corrupt[i] = '\xFF'; // e_shoff of a 64-bit header
    WriteFile(m_root + "/corrupt", corrupt + std::string(4096, '\0'));
    std::string text = m_root + "/corrupt";
    EXPECT_FALSE(GetProductNameOfFile(text));
}

TEST_F(SystemQueries, JavaHomesSortedByVersion) {
    const std::string base = "Software\\JavaSoft\\Java Runtime Environment\\";
    for (const char *v : {"1.6", "1.8.0_301", "1.4", "11.0.2", "1.8", "CurrentVersion"})
        SetText(RegistryHive::LocalMachine, base + v, "JavaHome", m_root + "/jre/" + v);
    auto descending = ListJavaHomes(SetVersion(1, 5, 0, 0), false, false);
    std::vector<std::string> homes;
    for (const auto &h : descending)
        homes.push_back(fs::path(h.home).filename().string());
    EXPECT_EQ(homes, (std::vector<std::string>{"11.0.2", "1.8.0_301", "1.8", "1.6"}));
    auto ascending = ListJavaHomes(SetVersion(1, 5, 0, 0), false, true);
    homes.clear();
    for (const auto &h : ascending)
        homes.push_back(fs::path(h.home).filename().string());
    EXPECT_EQ(homes, (std::vector<std::string>{"1.6", "1.8", "1.8.0_301", "11.0.2"}));
    EXPECT_TRUE(ListJavaHomes(SetVersion(1, 5, 0, 0), true, false).empty());

    // The newest home that has the file wins.
    WriteFile(m_root + "/jre/1.8/bin/unpack200", "x");
    WriteFile(m_root + "/jre/1.6/bin/unpack200", "x");
    EXPECT_EQ(FindJavaHome("unpack200", "1.5", "", "", true, false),
              m_root + "/jre/1.8/bin/unpack200");
    EXPECT_EQ(FindJavaHome("unpack200", "1.5", "", "", true, true),
              m_root + "/jre/1.6/bin/unpack200");
    // Preferred folders come first.
    WriteFile(m_root + "/app/jre/bin/unpack200", "x");
    EXPECT_EQ(
        FindJavaHome("unpack200", "1.5", m_root + "/app/jre64", m_root + "/app/jre", true, false),
        m_root + "/app/jre/bin/unpack200");
    EXPECT_EQ(FindJavaHome("unpack200", "12", "", "", true, false), "");
}

TEST_F(SystemQueries, JavaOfTheDistribution) {
    WriteFile(m_root + "/usr/lib/jvm/java-1.4-old/bin/unpack200", "x");
    WriteFile(m_root + "/usr/lib/jvm/java-11-openjdk-amd64/bin/unpack200", "x");
    EXPECT_EQ(FindJavaHome("unpack200", "1.5", "", "", true, false),
              m_root + "/usr/lib/jvm/java-11-openjdk-amd64/bin/unpack200");
}

TEST_F(SystemQueries, ProcessStartsGoThroughTheLauncher) {
    std::vector<krv::platform::ProcessStartInfo> starts;
    std::vector<bool> waits;
    const krv::platform::ProcessLauncher launcher = [&](const krv::platform::ProcessStartInfo &info,
                                                        bool wait) {
        starts.push_back(info);
        waits.push_back(wait);
        krv::platform::ProcessResult r;
        r.started = true;
        r.waited = wait;
        r.exitCode = 1603;
        return r;
    };
    uint32_t code = 0;
    EXPECT_TRUE(RunProcessAndWait("/usr/bin/msiexec", "msiexec /i \"a b.msi\"", &code,
                                  0x08000000 | 0x8, false, launcher));
    EXPECT_EQ(code, 1603u);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].program, "/usr/bin/msiexec");
    EXPECT_TRUE(starts[0].detached);
    EXPECT_TRUE(waits[0]);
    EXPECT_TRUE(RunProcessAndWait("/x", "x", nullptr, 0, false, launcher));
    EXPECT_FALSE(waits[1]);
    EXPECT_FALSE(starts[1].detached);

    std::string exe = m_root + "/bin/tool";
    WriteFile(exe, "#!/bin/sh\n");
    fs::permissions(exe, fs::perms::owner_all);
    EXPECT_TRUE(ShellExecuteAndWait("\\\\?\\" + exe, "/quiet \"x y\"", &code, true, launcher));
    EXPECT_EQ(starts[2].program, exe);
    EXPECT_EQ(starts[2].workingDirectory, m_root + "/bin");
    EXPECT_EQ(krv::platform::SplitCommandLine(starts[2].commandLine),
              (std::vector<std::string>{exe, "/quiet", "x y"}));

    EXPECT_TRUE(ShellExecuteAndWait("https://example.org/a b", "", nullptr, false, launcher));
    EXPECT_EQ(starts[3].program, "xdg-open");
    EXPECT_EQ(krv::platform::SplitCommandLine(starts[3].commandLine),
              (std::vector<std::string>{"xdg-open", "https://example.org/a b"}));
}

TEST(ProcessRuns, RealProcessExitCode) {
    uint32_t code = 0;
    EXPECT_TRUE(RunProcessAndWait("", "sh -c \"exit 42\"", &code));
    EXPECT_EQ(code, 42u);
    EXPECT_FALSE(RunProcessAndWait("/nonexistent/program", "program", &code));
}

TEST(Presentation, FormatByteSize) {
    EXPECT_EQ(FormatByteSize(1572864, false), "1.50 MB");
    EXPECT_EQ(FormatByteSize(1024, false), "1.00 KB");
    EXPECT_EQ(FormatByteSize(1048576, false), "1024.00 KB");
    EXPECT_EQ(FormatByteSize(1048577, false), "1.00 MB");
    EXPECT_EQ(FormatByteSize(1100, false), "1.07 KB");
    EXPECT_EQ(FormatByteSize(0, false), "0.00 KB");
    EXPECT_EQ(FormatByteSize(4294967295u, false), "4095.99 MB");
    EXPECT_EQ(FormatByteSize(12 * 1024 + 700, true), "12 KB");
    EXPECT_EQ(FormatByteSize(500, true), "0.48 KB");
}

TEST(Presentation, ErrorTextsAndNumbers) {
    struct Row {
        uint32_t code;
        const char *text;
    };
    const Row rows[] = {
        {12007, "The server name could not be resolved. (12007)"},
        {12156, "The redirection failed: too many redirections, or a change of scheme. (12156)"},
        {12099, "12099"},
        {2, "No such file or directory (2)"},
        {0xE000000F, "The FTP transfer ended before the whole file arrived. (0xE000000F)"},
        {0xE0000019, "The server answered with an error instead of the file. (0xE0000019)"},
        {0xE00000FF, "0xE00000FF"},
        {4095, "4095"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(GetInternetErrorText(row.code), row.text) << row.code;
    EXPECT_EQ(FormatDecimal(-42), "-42");
}
