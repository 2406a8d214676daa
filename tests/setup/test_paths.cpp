#include "log.h"
#include "paths.h"
#include "support_env.h"

#include <setup_registry.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace krv::setup;
namespace fs = std::filesystem;

namespace {

// Roots every folder and the registry store under a fresh directory.
class RootedPaths : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_root.empty());
        m_env.Set("KRV_SETUP_ROOT", m_root);
        m_env.Unset("KRV_REGISTRY_ROOT");
    }

    krv::setup::test::TempDir m_tmp{"paths"};
    const std::string m_root = m_tmp.path();
    krv::setup::test::ScopedEnv m_env;
};

} // namespace

TEST(PathText, TrailingSeparatorFolderAndExtension) {
    std::string p = "/opt/app";
    AddTrailingBackslash(p);
    EXPECT_EQ(p, "/opt/app/");
    AddTrailingBackslash(p);
    EXPECT_EQ(p, "/opt/app/");
    std::string w = "C:\\dir\\";
    AddTrailingBackslash(w);
    EXPECT_EQ(w, "C:\\dir\\");
    std::string empty;
    AddTrailingBackslash(empty);
    EXPECT_EQ(empty, "");

    EXPECT_EQ(GetFolderPart("C:\\dir\\file.txt"), "C:\\dir");
    EXPECT_EQ(GetFolderPart("/opt/app/file"), "/opt/app");
    EXPECT_EQ(GetFolderPart("[TempFolder]sub\\x/y"), "[TempFolder]sub\\x");
    EXPECT_EQ(GetFolderPart("file"), "");

    EXPECT_EQ(GetExtension("/a/b.tar.gz"), ".gz");
    EXPECT_EQ(GetExtension("noext"), "");
}

// Only the file name carries an extension: a "." in a folder name (a
// TMPDIR of /tmp/dot.dir, a folder under ~/.local) must never cut the path.
TEST(PathText, ExtensionsComeFromTheFileNameOnly) {
    struct Case {
        const char *path, *extension, *stripped, *withMsi;
    } cases[] = {
        {"/opt/setup.exe", ".exe", "/opt/setup.log", "/opt/setup.msi"},
        {"name.msi", ".msi", "name.log", "name.msi"},
        {"/tmp/x/main.msi", ".msi", "/tmp/x/main.log", "/tmp/x/main.msi"},
        {"/opt/setup", "", "/opt/setup", "/opt/setup.msi"},
        {"/tmp/dot.dir/main", "", "/tmp/dot.dir/main", "/tmp/dot.dir/main.msi"},
        {"C:\\dir.v2\\file", "", "C:\\dir.v2\\file", "C:\\dir.v2\\file.msi"},
        {"/home/u/.local/share/T/Telmar23", "", "/home/u/.local/share/T/Telmar23",
         "/home/u/.local/share/T/Telmar23.msi"},
        {"/home/u/.local/a.b/c.tar.gz", ".gz", "/home/u/.local/a.b/c.tar.log",
         "/home/u/.local/a.b/c.tar.msi"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(GetExtension(c.path), c.extension);
        std::string stripped = c.path;
        StripExtension(stripped, ".log");
        EXPECT_EQ(stripped, c.stripped);
        EXPECT_EQ(WithExtension(c.path, ".msi"), c.withMsi);
    }
    std::string removed = "name.msi";
    StripExtension(removed, "");
    EXPECT_EQ(removed, "name");
}

TEST(PathText, SanitizeReplacesTheNineReservedCharacters) {
    std::string name = "a<b>c:d\"e/f\\g|h?i*j.k";
    SanitizeFileName(name);
    EXPECT_EQ(name, "a_b_c_d_e_f_g_h_i_j.k");
}

TEST(PathText, PathForms) {
    EXPECT_TRUE(HasLongPathPrefix("\\\\?\\C:\\x"));
    EXPECT_EQ(SkipLongPathPrefix("\\\\?\\C:\\x"), "C:\\x");
    EXPECT_EQ(SkipLongPathPrefix("C:\\x"), "C:\\x");
    EXPECT_TRUE(IsUncPath("\\\\srv\\share"));
    EXPECT_TRUE(IsUncPath("//srv/share"));
    EXPECT_FALSE(IsUncPath("\\\\?\\C:\\x"));
    EXPECT_FALSE(IsUncPath("\\\\"));
    EXPECT_TRUE(IsFullPath("C:\\x"));
    EXPECT_TRUE(IsFullPath("/usr"));
    EXPECT_TRUE(IsFullPath("\\\\srv\\x"));
    EXPECT_FALSE(IsFullPath("relative/x"));
    EXPECT_FALSE(IsFullPath(""));
    EXPECT_EQ(ToNativePath("\\\\?\\/opt\\app\\x"), "/opt/app/x");
}

TEST(PathText, SplitPathKeepsRootAndEmptyPieces) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitPath("C:\\dir\\file"), (V{"C:", "dir", "file"}));
    EXPECT_EQ(SplitPath("\\\\srv\\share\\dir"), (V{"\\\\srv", "share", "dir"}));
    EXPECT_EQ(SplitPath("name"), (V{"name"}));
    EXPECT_EQ(SplitPath("/home/user/file"), (V{"home", "user", "file"}));
    EXPECT_EQ(SplitPath("a\\\\b\\"), (V{"a", "", "b"}));
    EXPECT_EQ(SplitPath("\\\\?\\C:\\x"), (V{"\\\\?\\C:", "x"}));
}

TEST(PathText, JoinPathPartsTrimsAndJoinsAfterFolderReferences) {
    EXPECT_EQ(JoinPathParts("[TempFolder]\\sub. \\file "), "[TempFolder]sub/file");
    EXPECT_EQ(JoinPathParts("C:\\a.\\b  \\c"), "C:/a/b/c");
    EXPECT_EQ(JoinPathParts("/opt/app. /bin"), "/opt/app/bin");
    EXPECT_EQ(ToNativePath(JoinPathParts("\\\\?\\/opt/app. /bin")), "/opt/app/bin");
    EXPECT_EQ(JoinPathParts(""), "");
    EXPECT_EQ(JoinPathParts("/"), "/");
}

TEST(PathText, RootOfDriveUncAndLinuxPaths) {
    EXPECT_EQ(GetPathRoot("C:\\dir\\file"), "C:\\");
    EXPECT_EQ(GetPathRoot("\\\\srv\\share\\dir"), "\\\\srv\\share");
    EXPECT_EQ(GetPathRoot("\\\\srv\\share"), "");
    EXPECT_EQ(GetPathRoot("/usr/lib"), "/");
    EXPECT_EQ(GetPathRoot("relative"), "");
    EXPECT_TRUE(PathRootExists("/usr/lib"));
    EXPECT_FALSE(PathRootExists("relative"));
}

// The temporary folder without a trial root: $TMPDIR when only root and
// this user can change what it holds (a link on the way resolved), else the
// system's /tmp, with the reason logged.
TEST_F(RootedPaths, TemporaryFolderOthersCanChangeFallsBackToTheSystemsOne) {
    m_env.Unset("KRV_SETUP_ROOT");
    const std::string own = m_root + "/own-tmp";
    fs::create_directories(own);
    ::chmod(own.c_str(), 0700);
    fs::create_directory_symlink(own, m_root + "/link-tmp");
    const std::string open = m_root + "/open-tmp";
    fs::create_directories(open);
    ::chmod(open.c_str(), 0777);
    const std::pair<std::string, std::string> rows[] = {
        {own, own + "/"},
        {m_root + "/link-tmp", own + "/"},
        {open, "/tmp/"},
        {m_root + "/missing", "/tmp/"},
    };
    for (const auto &[tmpdir, expected] : rows) {
        m_env.Set("TMPDIR", tmpdir);
        EXPECT_EQ(GetTempFolder(), expected) << tmpdir;
        EXPECT_EQ(TempFolderRefusal(), "") << tmpdir;
    }
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
        m_env.Set("TMPDIR", own);
        EXPECT_EQ(GetTempFolder(), "/tmp/");
    }
}

// A temporary folder that cannot be used is refused for its real reason
// (not a folder, missing, no rights) in the log and in
// the message, which says what to fix; only a folder another user could
// change is refused as such.
TEST_F(RootedPaths, TemporaryFolderRefusedForItsRealReason) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to take another user's place";
    const std::string log = m_root + "/temp.log";
    krv::setup::test::WriteFile(m_root + "/a/tmp", "x");
    fs::create_directories(m_root + "/c/tmp");
    ::chmod((m_root + "/c").c_str(), 0700);
    fs::create_directories(m_root + "/d/tmp");
    ASSERT_EQ(::chown((m_root + "/d/tmp").c_str(), 23456, 23456), 0);
    ::chmod(m_root.c_str(), 01777);
    const char *const rows[][4] = {
        // the root, the folder named, its reason, what to fix or the words for others
        {"/a", "/a/tmp", "is not a folder", "Put a folder in the place of "},
        {"/b/b", "/b", "does not exist", "Make the folder "},
        {"/c", "/c", "is not open to this user (no rights)", "Give your user the rights to "},
        {"/d", "/d/tmp", "is owned by another user", "from other users"},
    };
    // As another user, who may not enter the third root.
    const int status = krv::setup::test::StatusOfChild([&] {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(12345, 12345, 12345) != 0 ||
            ::setresuid(12345, 12345, 12345) != 0)
            return 100;
        int row = 0;
        for (const auto &[machine, at, reason, fix] : rows) {
            ++row;
            m_env.Set("KRV_SETUP_ROOT", m_root + machine);
            LoggingEnabled = true;
            SetLogFilePath(log);
            const bool refused = GetTempFolder().empty();
            CloseLog();
            const std::string said = m_root + at + " " + reason + ")";
            const bool others = fix[0] == 'f';
            if (!refused || TempFolderRefusal().find(said) == std::string::npos ||
                TempFolderRefusalMessage().find(others ? fix : fix + m_root + at + ".") ==
                    std::string::npos ||
                krv::setup::test::ReadFile(log).find(
                    (others ? "another user could change it: " : "cannot be used: ") + m_root +
                    machine + "/tmp/ (" + said) == std::string::npos)
                return row;
        }
        return 0;
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "row " << WEXITSTATUS(status);
}

TEST_F(RootedPaths, FolderNamesResolveUnderTheSetupRoot) {
    std::string name = "ProgramFilesFolder";
    ASSERT_TRUE(ResolveFolderName(name));
    EXPECT_EQ(name, m_root + "/opt/");
    name = "AppDataFolder";
    ASSERT_TRUE(ResolveFolderName(name));
    EXPECT_EQ(name, m_root + "/home/.config/");
    name = "LocalAppDataFolder";
    ASSERT_TRUE(ResolveFolderName(name));
    EXPECT_EQ(name, m_root + "/home/.local/share/");
    name = "WindowsVolume";
    ASSERT_TRUE(ResolveFolderName(name));
    EXPECT_EQ(name, m_root + "/");
    name = "TempFolder";
    ASSERT_TRUE(ResolveFolderName(name));
    EXPECT_EQ(name, m_root + "/tmp/");
    EXPECT_TRUE(fs::is_directory(m_root + "/tmp"));
    EXPECT_EQ(GetTempFolder(), m_root + "/tmp/");

    // Every table name resolves to a folder path under the root.
    for (const char *n :
         {"ProgramFilesFolder", "CommonFilesFolder", "DesktopFolder", "AllUsersDesktopFolder",
          "AppDataFolder", "FavoritesFolder", "StartMenuFolder", "ProgramMenuFolder",
          "StartupFolder", "FontsFolder", "LocalAppDataFolder", "CommonAppDataFolder",
          "ProgramFiles64Folder", "ProgramFiles", "SystemFolder", "WindowsFolder"}) {
        std::string folder = n;
        ASSERT_TRUE(ResolveFolderName(folder)) << n;
        EXPECT_EQ(folder.rfind(m_root + "/", 0), 0u) << n << " -> " << folder;
        EXPECT_EQ(folder.back(), '/') << n;
    }

    std::string unknown = "NoSuchFolder";
    EXPECT_FALSE(ResolveFolderName(unknown));
    EXPECT_EQ(unknown, "NoSuchFolder");
}

TEST_F(RootedPaths, DesktopAndDownloadsFollowUserDirs) {
    fs::create_directories(m_root + "/home/.config");
    {
        std::ofstream out(m_root + "/home/.config/user-dirs.dirs");
        out << "# written by xdg-user-dirs-update\n"
               "XDG_DESKTOP_DIR=\"$HOME/Рабочий стол\"\n"
               "XDG_DOWNLOAD_DIR=\"$HOME/Загрузки\"\n";
    }
    std::string desktop = "DesktopFolder";
    ASSERT_TRUE(ResolveFolderName(desktop));
    EXPECT_EQ(desktop, m_root + "/home/Рабочий стол/");
    std::string downloads;
    ASSERT_TRUE(GetKnownFolderPath("{374DE290-123F-4565-9164-39C4925E467B}", downloads));
    EXPECT_EQ(downloads, m_root + "/home/Загрузки");
    ASSERT_TRUE(GetKnownFolderPath("{374de290-123f-4565-9164-39c4925e467b}", downloads));
}

TEST_F(RootedPaths, KnownFolderSucceedsOnlyWithAPath) {
    std::string path = "untouched";
    EXPECT_FALSE(GetKnownFolderPath("{00000000-0000-0000-0000-000000000000}", path));
    EXPECT_FALSE(GetKnownFolderPath("not a guid", path));
    EXPECT_EQ(path, "untouched");
    ASSERT_TRUE(GetKnownFolderPath("{374DE290-123F-4565-9164-39C4925E467B}", path));
    EXPECT_EQ(path, m_root + "/home/Downloads");
}

TEST_F(RootedPaths, SetupExeDirIsTheFolderOfTheGivenFile) {
    SetSetupExeDir("/media/cd/setup/TelmarSetup2.3");
    std::string name = "SETUPEXEDIR";
    ASSERT_TRUE(ResolveFolderName(name));
    EXPECT_EQ(name, "/media/cd/setup/");
    EXPECT_EQ(ExpandReferences("[SETUPEXEDIR]data.cab"), "/media/cd/setup/data.cab");
}

TEST_F(RootedPaths, ExpandReferencesReplacesFoldersEnvironmentAndRegistry) {
    m_env.Set("KRV_TEST_VAR", "value");
    m_env.Unset("KRV_TEST_UNSET");
    auto key = krv::platform::RegistryCreateKey(krv::platform::RegistryHive::LocalMachine,
                                                "Software\\Vendor\\App");
    ASSERT_TRUE(key);
    ASSERT_TRUE(krv::platform::RegistrySetValue(
        *key, "InstallDir", krv::platform::RegistryValue::MakeText("/srv/app")));
    ASSERT_TRUE(krv::platform::RegistrySetValue(*key, "Build",
                                                krv::platform::RegistryValue::MakeNumber(42)));

    EXPECT_EQ(ExpandReferences("[ProgramFilesFolder]Telmar\\bin"), m_root + "/opt/Telmar\\bin");
    EXPECT_EQ(ExpandReferences("a%KRV_TEST_VAR%b"), "avalueb");
    EXPECT_EQ(ExpandReferences("a%KRV_TEST_UNSET%b"), "ab");
    EXPECT_EQ(ExpandReferences("!HKLM\\Software\\Vendor\\App\\InstallDir!/x"), "/srv/app/x");
    EXPECT_EQ(ExpandReferences("b=!hklm\\SOFTWARE\\vendor\\app\\build!"), "b=42");
    EXPECT_EQ(ExpandReferences("!HKLM\\Software\\Vendor\\App\\Missing!end"), "end");
    EXPECT_EQ(ExpandReferences("[NoSuchFolder]x"), "[NoSuchFolder]x");
}

TEST_F(RootedPaths, ExpandReferencesLeavesUnclosedTextAlone) {
    EXPECT_EQ(ExpandReferences("100% done"), "100% done");
    EXPECT_EQ(ExpandReferences("[TempFolder"), "[TempFolder");
    EXPECT_EQ(ExpandReferences("wow!"), "wow!");
    // The closing "!" is looked for two characters on: "!!" does not close.
    EXPECT_EQ(ExpandReferences("!!x"), "!!x");
    EXPECT_EQ(ExpandReferences(""), "");
}

TEST_F(RootedPaths, ReplacedTextIsNotScannedAgain) {
    m_env.Set("KRV_TEST_NESTED", "%KRV_TEST_VAR%[TempFolder]");
    m_env.Set("KRV_TEST_VAR", "inner");
    EXPECT_EQ(ExpandReferences("<%KRV_TEST_NESTED%>"), "<%KRV_TEST_VAR%[TempFolder]>");
}

TEST(EnvironmentText, UnsetVariableIsFalseAndEmpty) {
    krv::setup::test::ScopedEnv env;
    env.Unset("KRV_TEST_UNSET");
    std::string value = "x";
    EXPECT_FALSE(GetEnvironmentText("KRV_TEST_UNSET", value));
    EXPECT_EQ(value, "");
    env.Set("KRV_TEST_EMPTY", "");
    EXPECT_TRUE(GetEnvironmentText("KRV_TEST_EMPTY", value));
}
