#include "command_line_text.h"
#include "installed_products.h"
#include "installer_fixture.h"

#include <setup_registry.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace krv::setup {
namespace {

TEST_F(InstallerTest, PackageTablesAndFilesComeBackAsWritten) {
    const std::string path = MakePackage("v1", "2.3.0", "{PKG-1}");
    const auto database = OpenPackageDatabase(path);
    ASSERT_TRUE(database);
    EXPECT_EQ(QueryMsiProperty(*database, "ProductVersion"), "2.3.0");
    EXPECT_EQ(QueryMsiProperty(*database, "INSTALLDIR"),
              "[ProgramFilesFolder]Telmar\\Telmar 2.3\\");
    EXPECT_FALSE(QueryMsiProperty(*database, "productversion")); // exact names
    ASSERT_EQ(database->instances.size(), 1u);
    EXPECT_EQ(database->instances[0].productCode, "{PRODUCT-0002}");

    fs::create_directories(m_root + "/out");
    const PackageExtraction extracted = ExtractPackageFiles(path, m_root + "/out");
    ASSERT_TRUE(extracted.ok) << extracted.error;
    EXPECT_EQ(ReadFile(m_root + "/out/lib/a.so"), "library 2.3.0");
    struct stat st {};
    ASSERT_EQ(::stat((m_root + "/out/bin/tool").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    ASSERT_EQ(::stat((m_root + "/out/lib/a.so").c_str(), &st), 0);
    EXPECT_FALSE(st.st_mode & S_IXUSR);
}

TEST_F(InstallerTest, EntriesLeavingTheInstallFolderAreRefused) {
    struct Case {
        const char *what;
        RawEntry entry;
    };
    const Case cases[] = {
        {"parent component", {"files/../escaped", AE_IFREG, "x", ""}},
        {"nested parent", {"files/a/../../escaped", AE_IFREG, "x", ""}},
        {"absolute", {"/escaped", AE_IFREG, "x", ""}},
        {"outside files/", {"escaped", AE_IFREG, "x", ""}},
        {"backslash", {"files/a\\..\\..\\escaped", AE_IFREG, "x", ""}},
        {"symbolic link", {"files/link", AE_IFLNK, "", "/etc/passwd"}},
        {"link up", {"files/link", AE_IFLNK, "", "../escaped"}},
        {"nested link up", {"files/a/link", AE_IFLNK, "", "b/../../../escaped"}},
        {"device", {"files/dev", AE_IFCHR, "", ""}},
        {"empty component", {"files/a//b", AE_IFREG, "x", ""}},
    };
    for (const Case &c : cases) {
        const std::string path = m_root + "/bad.pkg";
        WriteRawPackage(path, {{"Property", AE_IFREG, "ProductCode\t{X}\n", ""}, c.entry});
        const std::string target = m_root + "/target/inner";
        fs::create_directories(target);
        const PackageExtraction extracted = ExtractPackageFiles(path, target);
        EXPECT_FALSE(extracted.ok) << c.what;
        EXPECT_FALSE(extracted.error.empty()) << c.what;
        EXPECT_FALSE(fs::exists(m_root + "/target/escaped")) << c.what;
        EXPECT_FALSE(fs::exists(m_root + "/escaped")) << c.what;
        fs::remove_all(m_root + "/target");
    }
}

TEST_F(InstallerTest, FilesThatAreNotPackagesHaveNoDatabase) {
    struct Case {
        const char *what;
        std::vector<RawEntry> entries;
        std::string raw; // written as it stands when not empty
    };
    const Case cases[] = {
        {"plain text", {}, "this is not an archive"},
        {"no property table", {{"files/a", AE_IFREG, "x", ""}}, ""},
        {"row without tab", {{"Property", AE_IFREG, "ProductCode {X}\n", ""}}, ""},
        {"property twice", {{"Property", AE_IFREG, "A\t1\nA\t2\n", ""}}, ""},
        {"two tabs", {{"Property", AE_IFREG, "A\t1\t2\n", ""}}, ""},
        {"instance without code",
         {{"Property", AE_IFREG, "A\t1\n", ""}, {"Instance", AE_IFREG, "i\t\n", ""}},
         ""},
        {"table over the limit",
         {{"Property", AE_IFREG, "A\t" + std::string(kPackageTableLimit, 'x') + "\n", ""}},
         ""},
    };
    for (const Case &c : cases) {
        const std::string path = m_root + "/not.pkg";
        if (!c.raw.empty())
            WriteFile(path, c.raw);
        else
            WriteRawPackage(path, c.entries);
        EXPECT_FALSE(OpenPackageDatabase(path)) << c.what;
    }
    EXPECT_FALSE(OpenPackageDatabase(m_root + "/missing.pkg"));
}

TEST_F(InstallerTest, StoreAnswersOnlyForCompleteRecords) {
    InstalledProduct product;
    product.productCode = "{B}";
    product.productName = "Telmar 2.3";
    product.versionString = "2.3.0";
    product.packageCode = "{PKG}";
    product.upgradeCode = "{UPGRADE}";
    ASSERT_TRUE(RegisterProduct(product));
    product.productCode = "{A}";
    ASSERT_TRUE(RegisterProduct(product));
    EXPECT_EQ(ProductState("{A}"), install_state::kDefault);
    EXPECT_EQ(ProductInfo("{A}", "VersionString"), "2.3.0");
    EXPECT_FALSE(ProductInfo("{A}", "NoSuchProperty"));
    EXPECT_EQ(RelatedProduct("{upgrade}", 0), "{A}"); // upgrade codes in any case
    EXPECT_EQ(RelatedProduct("{UPGRADE}", 1), "{B}");
    EXPECT_FALSE(RelatedProduct("{UPGRADE}", 2));

    // A record cut short before its marker is not a product.
    const auto key = platform::RegistryOpenKey(platform::RegistryHive::LocalMachine,
                                               std::string(kInstalledProductsKey) + "\\{A}");
    ASSERT_TRUE(key);
    ASSERT_TRUE(platform::RegistryDeleteValue(*key, "Installed"));
    EXPECT_EQ(ProductState("{A}"), install_state::kUnknown);
    EXPECT_FALSE(ProductInfo("{A}", "ProductName"));
    EXPECT_EQ(RelatedProduct("{UPGRADE}", 0), "{B}");

    EXPECT_TRUE(UnregisterProduct("{B}"));
    EXPECT_FALSE(UnregisterProduct("{B}"));
    EXPECT_EQ(ProductState("{B}"), install_state::kUnknown);
    for (const char *bad : {"", "..", "a\\b", "a/b"}) {
        InstalledProduct unusable;
        unusable.productCode = bad;
        EXPECT_FALSE(RegisterProduct(unusable)) << bad;
    }
}

TEST(InstallerArguments, ArgumentLinesOfTheSetup) {
    struct Case {
        std::vector<std::string> arguments;
        bool ok;
        InstallerAction action;
        std::string target;
        std::string property; // NAME=value expected among the properties
    };
    const Case cases[] = {
        {{"/i", "/p/a.pkg", "PX_SETUPEXEPATH=/x/s", "SETUPEXEDIR=/x/"},
         true,
         InstallerAction::Install,
         "/p/a.pkg",
         "SETUPEXEDIR=/x/"},
        {{"/I", "a.pkg", "/qn"}, true, InstallerAction::Install, "a.pkg", ""},
        {{"/fvomus", "a.pkg"}, true, InstallerAction::Reinstall, "a.pkg", ""},
        {{"/x", "{CODE}"}, true, InstallerAction::Uninstall, "{CODE}", ""},
        {{"-uninstall", "a.pkg"}, true, InstallerAction::Uninstall, "a.pkg", ""},
        {{"/p", "patch.pkg"}, true, InstallerAction::Patch, "patch.pkg", ""},
        {{"/i", "a.pkg", "/n", "{C}", "REINSTALL=ALL", "/norestart"},
         true,
         InstallerAction::Install,
         "a.pkg",
         "REINSTALL=ALL"},
        {{"/i", "a.pkg", "EXE_CMD_LINE=/exenoui /exelog \"x y\" "},
         true,
         InstallerAction::Install,
         "a.pkg",
         "EXE_CMD_LINE=/exenoui /exelog \"x y\" "},
        {{"/i", "a.pkg", "/l*v", "log.txt"}, true, InstallerAction::Install, "a.pkg", ""},
        {{"/i"}, false, {}, "", ""},
        {{"/qn"}, false, {}, "", ""},
        {{"/i", "a.pkg", "/x", "b.pkg"}, false, {}, "", ""},
        {{"/i", "a.pkg", "/bogus"}, false, {}, "", ""},
        {{"/i", "a.pkg", "=value"}, false, {}, "", ""},
        {{"/i", "a.pkg", "loose"}, false, {}, "", ""},
    };
    for (const Case &c : cases) {
        InstallerRequest request;
        std::string error;
        const bool ok = ParseInstallerArguments(c.arguments, request, error);
        EXPECT_EQ(ok, c.ok) << c.arguments[0] << " " << error;
        if (!ok || !c.ok) {
            EXPECT_EQ(error.empty(), ok);
            continue;
        }
        EXPECT_EQ(request.action, c.action);
        EXPECT_EQ(request.target, c.target);
        if (!c.property.empty()) {
            const std::size_t eq = c.property.find('=');
            EXPECT_EQ(request.properties[c.property.substr(0, eq)], c.property.substr(eq + 1));
        }
    }
}

TEST(InstallerArguments, EightBitStatusesGiveTheFullCodeBack) {
    const std::pair<uint32_t, uint32_t> cases[] = {{0, 0},
                                                   {1603 & 0xFF, 1603},
                                                   {1602 & 0xFF, 1602},
                                                   {1618 & 0xFF, 1618},
                                                   {3010 & 0xFF, 3010},
                                                   {1605 & 0xFF, 1605},
                                                   {1, 1},
                                                   {143, 143},
                                                   {1603, 1603}};
    for (const auto &[status, code] : cases)
        EXPECT_EQ(InstallerReturnCode(status), code) << status;
}

TEST_F(InstallerTest, InstallMaintainUpgradeAndRemove) {
    const std::string v1 = MakePackage("v1", "2.3.0", "{PKG-1}", "old-only.txt");
    const std::string v2 = MakePackage("v2", "2.3.1", "{PKG-2}", "new-only.txt");

    ASSERT_EQ(Run({"/i", v1, "/qn"}), installer_exit::kSuccess) << m_log;
    EXPECT_EQ(ReadFile(Installed() + "/lib/a.so"), "library 2.3.0");
    EXPECT_TRUE(fs::exists(Installed() + "/old-only.txt"));
    const auto product = FindInstalledProduct("{PRODUCT-0001}");
    ASSERT_TRUE(product);
    EXPECT_EQ(product->installLocation, Installed());
    EXPECT_EQ(product->installedLanguage, "1049");
    EXPECT_EQ(product->installerVersion, "5.0.0.0");
    // Nothing but the files: no work folders are left behind.
    int entries = 0;
    for ([[maybe_unused]] const auto &e : fs::directory_iterator(Installed()))
        ++entries;
    EXPECT_EQ(entries, 3);

    // The same package again: maintenance, nothing changes.
    WriteFile(Installed() + "/user-notes.txt", "mine");
    EXPECT_EQ(Run({"/i", v1}), installer_exit::kSuccess);
    // A newer package without the minor-upgrade switch is refused.
    EXPECT_EQ(Run({"/i", v2}), installer_exit::kOtherVersionInstalled);
    EXPECT_EQ(ProductInfo("{PRODUCT-0001}", "VersionString"), "2.3.0");

    ASSERT_EQ(Run({"/fvomus", v2}), installer_exit::kSuccess) << m_log;
    EXPECT_EQ(ReadFile(Installed() + "/lib/a.so"), "library 2.3.1");
    EXPECT_FALSE(fs::exists(Installed() + "/old-only.txt"));
    EXPECT_TRUE(fs::exists(Installed() + "/new-only.txt"));
    EXPECT_EQ(ProductInfo("{PRODUCT-0001}", "PackageCode"), "{PKG-2}");

    ASSERT_EQ(Run({"/x", v2}), installer_exit::kSuccess) << m_log;
    EXPECT_EQ(ProductState("{PRODUCT-0001}"), install_state::kUnknown);
    // The user's own file stays, and so does its folder; ours are gone.
    EXPECT_EQ(ReadFile(Installed() + "/user-notes.txt"), "mine");
    EXPECT_FALSE(fs::exists(Installed() + "/lib"));
    EXPECT_FALSE(fs::exists(Installed() + "/bin"));
    EXPECT_EQ(Run({"/x", "{PRODUCT-0001}"}), installer_exit::kUnknownProduct);
    EXPECT_EQ(Run({"/fvomus", v2}), installer_exit::kUnknownProduct);
}

// A library's version names stay links to the file, as a plain install of
// the tree leaves them: one file, loaded once whatever name it is opened by.
// An upgrade replaces the links and a removal takes them away.
TEST_F(InstallerTest, VersionLinksOfALibraryStayLinks) {
    for (const char *version : {"2.3.0", "2.3.1"}) {
        const std::string tree = m_root + "/trees/" + version;
        WriteFile(tree + "/lib/libX.so.2.0.2", std::string("library ") + version);
        fs::create_symlink("libX.so.2.0.2", tree + "/lib/libX.so.2");
        fs::create_symlink("libX.so.2", tree + "/lib/libX.so");
        // A link written as a full path still comes out as a copy.
        fs::create_symlink(tree + "/lib/libX.so.2.0.2", tree + "/lib/full");
        EXPECT_EQ(WriteInstallerPackage(
                      m_root + "/" + version + ".pkg",
                      Properties("{PRODUCT-0001}", version, std::string("{PKG-") + version + "}"),
                      {}, tree),
                  "");
    }
    const std::string lib = Installed() + "/lib/";
    ASSERT_EQ(Run({"/i", m_root + "/2.3.0.pkg"}), installer_exit::kSuccess) << m_log;
    ASSERT_EQ(Run({"/fvomus", m_root + "/2.3.1.pkg"}), installer_exit::kSuccess) << m_log;
    EXPECT_EQ(fs::read_symlink(lib + "libX.so"), "libX.so.2");
    EXPECT_EQ(fs::read_symlink(lib + "libX.so.2"), "libX.so.2.0.2");
    EXPECT_FALSE(fs::is_symlink(lib + "libX.so.2.0.2"));
    EXPECT_EQ(ReadFile(lib + "libX.so"), "library 2.3.1");
    EXPECT_FALSE(fs::is_symlink(lib + "full"));
    EXPECT_EQ(ReadFile(lib + "full"), "library 2.3.1");
    ASSERT_EQ(Run({"/x", "{PRODUCT-0001}"}), installer_exit::kSuccess) << m_log;
    EXPECT_FALSE(fs::exists(fs::symlink_status(lib + "libX.so")));
    EXPECT_FALSE(fs::exists(Installed() + "/lib"));
}

TEST_F(InstallerTest, FailuresAndCancelLeaveTheEarlierStateWhole) {
    const std::string v1 = MakePackage("v1", "2.3.0", "{PKG-1}");
    const std::string v2 = MakePackage("v2", "2.3.1", "{PKG-2}", "bin/tool2");
    ASSERT_EQ(Run({"/i", v1}), installer_exit::kSuccess) << m_log;

    // Cancelled after the first file: every file is the old one again.
    int asked = 0;
    EXPECT_EQ(Run({"/fvomus", v2}, [&asked] { return ++asked > 6; }), installer_exit::kUserExit);
    EXPECT_EQ(ReadFile(Installed() + "/lib/a.so"), "library 2.3.0");
    EXPECT_FALSE(fs::exists(Installed() + "/bin/tool2"));
    EXPECT_EQ(ProductInfo("{PRODUCT-0001}", "VersionString"), "2.3.0");

    // A folder where the new version puts a file: the install fails whole.
    fs::create_directories(Installed() + "/bin/tool2");
    EXPECT_EQ(Run({"/fvomus", v2}), installer_exit::kFailure);
    EXPECT_EQ(ReadFile(Installed() + "/lib/a.so"), "library 2.3.0");
    EXPECT_EQ(ProductInfo("{PRODUCT-0001}", "PackageCode"), "{PKG-1}");
    fs::remove(Installed() + "/bin/tool2");

    // A first install that fails leaves no product and no folder.
    WriteRawPackage(
        m_root + "/evil.pkg",
        {{"Property", AE_IFREG, "ProductCode\t{EVIL}\nINSTALLDIR\t[ProgramFilesFolder]Evil\n", ""},
         {"files/ok.txt", AE_IFREG, "fine", ""},
         {"files/../../escaped", AE_IFREG, "x", ""}});
    EXPECT_EQ(Run({"/i", m_root + "/evil.pkg"}), installer_exit::kFailure);
    EXPECT_EQ(ProductState("{EVIL}"), install_state::kUnknown);
    EXPECT_FALSE(fs::exists(m_root + "/opt/Evil"));
    EXPECT_FALSE(fs::exists(m_root + "/opt/escaped"));

    // Another installation holds the lock.
    const std::string lockPath = InstallerLockPath();
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_EQ(Run({"/fvomus", v2}), installer_exit::kAlreadyRunning);
    ::close(fd);

    EXPECT_EQ(Run({"/i", m_root + "/missing.pkg"}), installer_exit::kPackageOpenFailed);
    EXPECT_EQ(Run({"/i", v1, "TRANSFORMS=other.mst"}), installer_exit::kTransformFailed);
}

// Kill points of a road: every step of a short one, else an even sample (and
// the first and last step of each kind). Under the sanitizers each killed
// run costs many times as much, so there a road counts as long sooner.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kKillEveryStepUpTo = 16, kKillSampleSize = 12;
#else
constexpr std::size_t kKillEveryStepUpTo = 60, kKillSampleSize = 40;
#endif

// Every road stopped at every step leaves the install tree and the store in
// agreement, as they were before the run or as the run makes them: a cancel
// at once, a run killed outright at the next run that takes the lock (which
// finishes or undoes the dead one's change from its journal). The steps are
// the installer's own: a dry run counts them, then a child is killed before
// each (or, on a long road, a sample that holds every kind of step).
TEST_F(InstallerTest, UpgradeStoppedAtEveryStepLeavesTheTreeWhole) {
    const std::string v1 = MakePackage("v1", "2.3.0", "{PKG-1}", "share/doc/old.txt");
    const std::string v2 = MakePackage("v2", "2.3.1", "{PKG-2}", "share/new/new.txt");

    // A cancel at each point the run asks: every file is the old one again.
    ASSERT_EQ(Run({"/i", v1}), installer_exit::kSuccess) << m_log;
    const auto installed = Tree(Installed());
    ASSERT_EQ(installed.size(), 7u); // bin, bin/tool, lib, lib/a.so, share, share/doc, old.txt
    int cancelled = 0;
    for (int at = 1; at < 100; ++at) {
        int asked = 0;
        if (Run({"/fvomus", v2}, [&asked, at] { return ++asked >= at; }) == 0)
            break;
        ++cancelled;
        EXPECT_EQ(Tree(Installed()), installed) << "cancelled at " << at;
        EXPECT_EQ(ProductInfo("{PRODUCT-0001}", "PackageCode"), "{PKG-1}") << at;
    }
    EXPECT_GT(cancelled, 6); // the extraction and each of the files

    struct Road {
        const char *name;
        bool installedBefore;
        std::vector<std::string> run;
        std::string codeBefore, codeAfter; // empty: not installed
    };
    const Road roads[] = {
        {"install", false, {"/i", v1}, "", "{PKG-1}"},
        {"upgrade", true, {"/fvomus", v2}, "{PKG-1}", "{PKG-2}"},
        {"patch", true, {"/p", v2}, "{PKG-1}", "{PKG-2}"},
        {"repair", true, {"/i", v1, "REINSTALL=ALL"}, "{PKG-1}", "{PKG-1}"},
        {"uninstall", true, {"/x", "{PRODUCT-0001}"}, "{PKG-1}", ""},
    };
    const auto reset = [&](const Road &road) {
        ASSERT_NO_FATAL_FAILURE(Afresh(road.installedBefore ? v1 : ""));
        if (road.installedBefore)
            WriteFile(Installed() + "/lib/a.so", "damaged"); // a repair has something to mend
    };
    using TreeState = std::optional<std::map<std::string, std::string>>;
    const auto state = [this]() -> TreeState {
        if (!fs::exists(fs::symlink_status(Installed())))
            return std::nullopt;
        return Tree(Installed());
    };
    for (const Road &road : roads) {
        SCOPED_TRACE(road.name);
        reset(road);
        const TreeState before = state();
        std::vector<std::string> kinds;
        m_step = [&kinds](std::string_view kind) { kinds.emplace_back(kind); };
        ASSERT_EQ(Run(road.run), installer_exit::kSuccess) << m_log;
        m_step = nullptr;
        const TreeState after = state();
        ASSERT_NE(before, after);

        // Every step of a short road; of a long one the first and last of
        // each kind and an even sample between.
        std::set<std::size_t> points;
        std::map<std::string, std::pair<std::size_t, std::size_t>> byKind;
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            auto [it, added] = byKind.emplace(kinds[i], std::make_pair(i, i));
            it->second.second = i;
        }
        const std::size_t stride =
            kinds.size() <= kKillEveryStepUpTo ? 1 : kinds.size() / kKillSampleSize;
        for (std::size_t i = 0; i < kinds.size(); i += stride)
            points.insert(i);
        for (const auto &[kind, range] : byKind)
            points.insert({range.first, range.second});
        for (const char *kind : {"journal", "mkdir", "rename", "store", "unlink"})
            EXPECT_TRUE(byKind.count(kind)) << kind;
        EXPECT_TRUE(byKind.count(road.run[0] == "/x" ? "rmdir" : "write"));

        for (const std::size_t point : points) {
            const std::string where =
                "killed before step " + std::to_string(point + 1) + " (" + kinds[point] + ")";
            reset(road);
            const int status = test::StatusOfChild([&] {
                std::size_t taken = 0;
                m_step = [&taken, point](std::string_view) {
                    if (taken++ == point)
                        ::raise(SIGKILL);
                };
                return Run(road.run);
            });
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << where;

            // Any run under the lock mends what the dead one left.
            m_log.clear();
            EXPECT_EQ(Run({"/x", "{NO-SUCH-PRODUCT}"}), installer_exit::kUnknownProduct);
            EXPECT_FALSE(fs::exists(m_root + "/registry/installer.journal")) << where << m_log;
            const TreeState now = state();
            const bool old = now == before;
            EXPECT_TRUE(old || now == after) << where;
            const std::string code = old ? road.codeBefore : road.codeAfter;
            EXPECT_EQ(ProductInfo("{PRODUCT-0001}", "PackageCode").value_or(""), code) << where;
            // And the installer's answer agrees with the tree.
            m_log.clear();
            EXPECT_EQ(Run({"/x", "{PRODUCT-0001}"}),
                      now ? installer_exit::kSuccess : installer_exit::kUnknownProduct)
                << where << m_log;
            EXPECT_FALSE(fs::exists(fs::symlink_status(Installed()))) << where;
            // A first install undone leaves none of the folders it made, and
            // nor does a removal, finished by whichever run.
            EXPECT_FALSE(fs::exists(m_root + "/opt")) << where;
        }
        std::printf("[          ] %s: %zu steps, %zu killed\n", road.name, kinds.size(),
                    points.size());
    }
}

// A name with a control character would break the installer's lines (the
// journal's, the record's file list): such a package is refused before
// anything is written, and the log quotes the name with its characters
// written out. A name that only looks like a journal word is a name.
TEST_F(InstallerTest, EntryNamesWithControlCharactersAreRefusedBeforeAnythingIsWritten) {
    struct Case {
        const char *what;
        std::string entry;
        const char *quoted; // nullptr: the package installs
    };
    const Case cases[] = {
        {"newline", "files/x\nbin", "\"files/x\\nbin\""},
        {"carriage return", "files/x\rbin", "\"files/x\\rbin\""},
        {"tab", "files/a\tb", "\"files/a\\tb\""},
        {"0x01", "files/a\x01", "\"files/a\\x01\""},
        {"0x7F", "files/a\x7f", "\"files/a\\x7f\""},
        {"named commit", "files/commit", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = m_root + "/hostile.pkg";
        WriteRawPackage(path,
                        {{"Property", AE_IFREG,
                          "ProductCode\t{HOSTILE}\nINSTALLDIR\t[ProgramFilesFolder]Hostile\n", ""},
                         {"files/ok.txt", AE_IFREG, "fine", ""},
                         {c.entry, AE_IFREG, "data", ""}});
        m_log.clear();
        const int code = Run({"/i", path});
        if (!c.quoted) {
            ASSERT_EQ(code, installer_exit::kSuccess) << m_log;
            EXPECT_EQ(ReadFile(m_root + "/opt/Hostile/commit"), "data");
            EXPECT_EQ(Run({"/x", "{HOSTILE}"}), installer_exit::kSuccess) << m_log;
        } else {
            EXPECT_EQ(code, installer_exit::kFailure);
            EXPECT_NE(m_log.find(std::string("control character: ") + c.quoted), std::string::npos)
                << m_log;
            EXPECT_EQ(Run({"/x", "{HOSTILE}"}), installer_exit::kUnknownProduct);
        }
        EXPECT_FALSE(fs::exists(m_root + "/opt/Hostile")) << m_log;
        EXPECT_FALSE(fs::exists(m_root + "/registry/installer.journal"));
    }
}

// A file list past what the store reads back is refused before anything is
// written, with its own reason; the ordinary package of the product then
// installs.
TEST_F(InstallerTest, AFileListPastTheStoreLimitIsRefusedBeforeAnythingIsWritten) {
    std::vector<RawEntry> entries{{"Property", AE_IFREG,
                                   "ProductCode\t{PRODUCT-0001}\nPackageCode\t{PKG-HUGE}\n"
                                   "INSTALLDIR\t[ProgramFilesFolder]Telmar\\Telmar 2.3\\\n",
                                   ""}};
    const std::string folder = "files/" + std::string(200, 'd') + "/";
    for (int i = 0; i < 20000; ++i)
        entries.push_back({folder + "file-" + std::to_string(100000 + i), AE_IFREG, "", ""});
    WriteRawPackage(m_root + "/huge.pkg", entries);
    EXPECT_EQ(Run({"/i", m_root + "/huge.pkg"}), installer_exit::kFailure);
    EXPECT_NE(m_log.find("file list is too large"), std::string::npos) << m_log;
    EXPECT_NE(m_log.find("20000 entries"), std::string::npos) << m_log;
    EXPECT_FALSE(fs::exists(Installed()));
    EXPECT_FALSE(fs::exists(m_root + "/registry/HKLM/Software/Krv/Installer/Products"));

    m_log.clear();
    ASSERT_EQ(Run({"/i", MakePackage("v1", "2.3.0", "{PKG-1}")}), installer_exit::kSuccess)
        << m_log;
    EXPECT_EQ(ProductInfo("{PRODUCT-0001}", "PackageCode"), "{PKG-1}");
}

// A record the store cannot read does not block its product: it is kept
// aside whole, one log line says so, and the run goes on as if the product
// were not installed. The old install's files it named stay.
TEST_F(InstallerTest, ADamagedRecordIsKeptAsideAndTheProductInstallsAgain) {
    const std::string v1 = MakePackage("v1", "2.3.0", "{PKG-1}", "old-only.txt");
    const std::string v2 = MakePackage("v2", "2.3.1", "{PKG-2}");
    const std::string products = m_root + "/registry/HKLM/Software/Krv/Installer/Products";
    const std::string values = products + "/{PRODUCT-0001}/.values";
    struct Damage {
        const char *what;
        std::string text;  // empty: the record with one line of garbage more
        const char *named; // what the log says of the old install's files
    };
    const Damage damages[] = {
        {"garbage", "this is not a values file\n", "are not known"},
        {"past the read limit", "KRVREG 1\nsz\tFiles\t" + std::string(5u << 20, 'x') + "\n",
         "are not known"},
        {"one line of garbage", "", "old-only.txt"},
    };
    for (const Damage &d : damages) {
        SCOPED_TRACE(d.what);
        ASSERT_NO_FATAL_FAILURE(Afresh(v1));
        const std::string damage = d.text.empty() ? ReadFile(values) + "garbage\n" : d.text;
        WriteFile(values, damage);

        m_log.clear();
        ASSERT_EQ(Run({"/i", v2}), installer_exit::kSuccess) << m_log;
        const std::string aside = products + "/{PRODUCT-0001}.damaged-1";
        EXPECT_EQ(ReadFile(aside), damage);
        std::size_t lines = 0;
        for (std::size_t at = m_log.find("cannot be read"); at != std::string::npos;
             at = m_log.find("cannot be read", at + 1))
            ++lines;
        EXPECT_EQ(lines, 1u) << m_log;
        EXPECT_NE(m_log.find("kept as " + aside), std::string::npos) << m_log;
        EXPECT_NE(m_log.find(d.named), std::string::npos) << m_log;
        EXPECT_EQ(ProductInfo("{PRODUCT-0001}", "PackageCode"), "{PKG-2}");

        // Removed, the new install takes its own files; the old one's stay,
        // and so does the damaged record.
        ASSERT_EQ(Run({"/x", "{PRODUCT-0001}"}), installer_exit::kSuccess) << m_log;
        EXPECT_TRUE(fs::exists(Installed() + "/old-only.txt"));
        EXPECT_FALSE(fs::exists(Installed() + "/lib"));
        EXPECT_EQ(ReadFile(aside), damage);
    }
}

// What the installer cannot make whole now, it neither takes for a success
// nor throws away: a record it could not read (not known to be damaged), a
// damaged record with nowhere to go, a record swap that fails after the
// commit, a journal it cannot read, a file it cannot put back. The run ends
// with 1603 and a line saying why; the record, the journal and the backup
// folder stay as they are, and once the cause is gone the next run ends the
// change whole.
TEST_F(InstallerTest, WhatCannotBeMadeWholeStaysForTheNextRun) {
    const std::string v1 = MakePackage("v1", "2.3.0", "{PKG-1}");
    const std::string v2 = MakePackage("v2", "2.3.1", "{PKG-2}");
    const std::string key =
        m_root + "/registry/HKLM/Software/Krv/Installer/Products/{PRODUCT-0001}";
    const std::string values = key + "/.values";
    const std::string journal = m_root + "/registry/installer.journal";
    std::string record; // the 2.3.0 record as written
    const auto reset = [&] {
        m_step = nullptr;
        ASSERT_NO_FATAL_FAILURE(Afresh(v1));
        record = ReadFile(values);
        m_log.clear();
    };
    reset();
    const auto tree1 = Tree(Installed());
    ASSERT_EQ(Run({"/fvomus", v2}), installer_exit::kSuccess) << m_log;
    const auto tree2 = Tree(Installed());
    const auto exists = [](const std::string &path) {
        return fs::exists(fs::symlink_status(path));
    };
    // The file the upgrade last moved to its backup folder, as its journal
    // names it.
    const auto lastMoved = [&] {
        std::string moved;
        for (const std::string &line : SplitString(ReadFile(journal), "\n"))
            if (line.starts_with("moved\t"))
                moved = line.substr(6);
        return moved;
    };
    std::string blocked; // a file whose place a folder took
    const auto block = [&] {
        blocked = lastMoved();
        ASSERT_FALSE(blocked.empty());
        fs::create_directories(Installed() + "/" + blocked + "/in the way");
    };
    const auto unblock = [&] {
        // Until then the backup folder keeps the old file.
        bool kept = false;
        for (const auto &entry : fs::directory_iterator(Installed()))
            kept = kept || (entry.path().filename().string().starts_with(".krv-backup-") &&
                            ReadFile(entry.path() / blocked) ==
                                tree1.at(blocked).substr(tree1.at(blocked).find(':') + 1));
        EXPECT_TRUE(kept) << blocked;
        fs::remove_all(Installed() + "/" + blocked);
    };
    int steps = 0; // of the kind a fault waits for, in the run under way

    struct Case {
        const char *what;
        std::function<void()> fault; // after 2.3.0 is installed
        std::vector<std::string> run;
        const char *said;
        int treeAfterRun; // 1: 2.3.0 as it was, 2: 2.3.1, 0: neither
        std::function<void()> mend;
        std::vector<std::string> rerun;
        int rerunCode;
        const char *code; // and the tree that goes with it
    };
    const std::vector<std::string> anyRun = {"/x", "{NO-SUCH-PRODUCT}"};
    // A journal in a state no run can read: it stays until it is taken away.
    const auto unreadableJournal = [&](const char *what, std::function<void()> fault) {
        return Case{what,     std::move(fault),
                    anyRun,   "cannot read the installer journal",
                    1,        [&] { fs::remove_all(journal); },
                    anyRun,   installer_exit::kUnknownProduct,
                    "{PKG-1}"};
    };
    const Case cases[] = {
        {"a record that could not be read",
         [&] {
             fs::remove(values);
             fs::create_symlink(".values", values); // opened, it gives ELOOP
         },
         {"/fvomus", v2},
         "cannot use the record of the product {PRODUCT-0001}",
         1,
         [&] {
             EXPECT_FALSE(exists(key + ".damaged-1")) << "not damage: nothing moved aside";
             EXPECT_TRUE(fs::is_symlink(values));
             fs::remove(values);
             WriteFile(values, record);
         },
         {"/fvomus", v2},
         installer_exit::kSuccess,
         "{PKG-2}"},
        {"a damaged record with no free name beside it",
         [&] {
             WriteFile(values, record + "garbage\n");
             for (int n = 1; n < 1000; ++n)
                 WriteFile(key + ".damaged-" + std::to_string(n), "");
         },
         {"/x", "{PRODUCT-0001}"},
         "every name beside it is taken",
         1,
         [&] {
             for (int n = 1; n < 1000; ++n)
                 fs::remove(key + ".damaged-" + std::to_string(n));
         },
         {"/i", v2},
         installer_exit::kSuccess,
         "{PKG-2}"},
        {"a record swap that fails after the commit",
         [&] {
             m_step = [&](std::string_view kind) {
                 if (kind == "store" && ++steps == 2) { // the staged record goes in place
                     fs::remove(values);
                     fs::create_symlink(".values", values);
                 }
             };
         },
         {"/fvomus", v2},
         "cannot put the new record of {PRODUCT-0001} in place",
         2,
         [&] {
             EXPECT_NE(ReadFile(journal).find("\ncommit\t\n"), std::string::npos);
             fs::remove(values);
             WriteFile(values, record);
         },
         anyRun,
         installer_exit::kUnknownProduct,
         "{PKG-2}"},
        unreadableJournal("a journal past the size read",
                          [&] {
                              WriteFile(journal, "root\t" + Installed() + "\n");
                              fs::resize_file(journal, 65u << 20);
                          }),
        unreadableJournal("a folder for a journal",
                          [&] { fs::create_directories(journal + "/x"); }),
        // Opened, a link to itself gives ELOOP: an error, no content.
        unreadableJournal("a journal that could not be opened",
                          [&] { fs::create_symlink("installer.journal", journal); }),
        {"a put-back blocked after a kill",
         [&] {
             const int status = test::StatusOfChild([&] {
                 // Killed after the first file went to the backup folder.
                 m_step = [&](std::string_view kind) {
                     if (kind == "rename" && ++steps == 2)
                         ::raise(SIGKILL);
                 };
                 return Run({"/fvomus", v2});
             });
             ASSERT_TRUE(WIFSIGNALED(status));
             block();
         },
         anyRun, "cannot put back", 0, unblock, anyRun, installer_exit::kUnknownProduct, "{PKG-1}"},
        {"a put-back blocked in the run's own undo",
         [&] {
             m_step = [&](std::string_view kind) {
                 if (steps == 1 && blocked.empty())
                     block(); // the new file cannot go there either
                 if (kind == "rename")
                     ++steps;
             };
         },
         {"/fvomus", v2},
         "cannot put back",
         0,
         unblock,
         anyRun,
         installer_exit::kUnknownProduct,
         "{PKG-1}"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        steps = 0;
        blocked.clear();
        c.fault();
        EXPECT_EQ(Run(c.run), installer_exit::kFailure) << m_log;
        m_step = nullptr;
        EXPECT_NE(m_log.find(c.said), std::string::npos) << m_log;
        if (c.treeAfterRun) {
            EXPECT_EQ(Tree(Installed()), c.treeAfterRun == 1 ? tree1 : tree2);
        }
        // Whatever names the change stays, and no other run starts over it.
        const bool journalKept = exists(journal);
        if (journalKept) {
            EXPECT_EQ(Run(anyRun), installer_exit::kFailure) << m_log;
            EXPECT_TRUE(exists(journal));
        }
        c.mend();
        m_log.clear();
        EXPECT_EQ(Run(c.rerun), c.rerunCode) << m_log;
        EXPECT_FALSE(exists(journal)) << m_log;
        EXPECT_EQ(ProductInfo("{PRODUCT-0001}", "PackageCode"), c.code) << m_log;
        EXPECT_EQ(Tree(Installed()), std::string(c.code) == "{PKG-1}" ? tree1 : tree2);
    }
}

// A journal an earlier installer left (no backup folder named, no moves)
// is still undone whole: the files in its backup folder go back.
TEST_F(InstallerTest, AJournalOfAnEarlierInstallerIsStillUndone) {
    ASSERT_EQ(Run({"/i", MakePackage("v1", "2.3.0", "{PKG-1}")}), installer_exit::kSuccess);
    const auto before = Tree(Installed());
    fs::create_directories(Installed() + "/.krv-backup-abc123/lib");
    fs::rename(Installed() + "/lib/a.so", Installed() + "/.krv-backup-abc123/lib/a.so");
    WriteFile(Installed() + "/lib/a.so", "library 2.3.1");
    WriteFile(Installed() + "/new.txt", "new");
    WriteFile(m_root + "/registry/installer.journal",
              "root\t" + Installed() + "\nplaced\tlib/a.so\nplaced\tnew.txt\n");
    EXPECT_EQ(Run({"/x", "{NO-SUCH-PRODUCT}"}), installer_exit::kUnknownProduct);
    EXPECT_EQ(Tree(Installed()), before) << m_log;
}

// An ordinary user cannot open the machine's lock or store: the run ends
// with a line that says root rights are needed.
TEST_F(InstallerTest, WithoutRightsTheRunSaysItNeedsRoot) {
    const std::string v1 = MakePackage("v1", "2.3.0", "{PKG-1}");
    fs::create_directories(m_root + "/registry");
    ASSERT_EQ(::chmod((m_root + "/registry").c_str(), 0500), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // As root, become nobody: root's rights pass every permission.
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        const bool told =
            Run({"/i", v1, "/qn"}) == installer_exit::kFailure &&
            m_log.find("installer lock") != std::string::npos &&
            m_log.find("needs root rights: run krv-msiexec with sudo") != std::string::npos;
        ::_exit(told ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(InstallerTest, InstancesLanguagesAndRestart) {
    const std::string v1 = MakePackage("v1", "2.3.0", "{PKG-1}");
    ASSERT_EQ(Run({"/i", v1, "TRANSFORMS=:inst1.mst", "MSINEWINSTANCE=1"}), 0) << m_log;
    const auto instance = FindInstalledProduct("{PRODUCT-0002}");
    ASSERT_TRUE(instance);
    EXPECT_EQ(instance->instanceName, "inst1");
    EXPECT_EQ(instance->installLocation, Installed() + "-inst1");
    EXPECT_EQ(ProductState("{PRODUCT-0001}"), install_state::kUnknown);
    EXPECT_EQ(Run({"/i", v1, "TRANSFORMS=:nope.mst", "MSINEWINSTANCE=1"}),
              installer_exit::kTransformFailed);

    // The default instance in a chosen language and folder, asking a restart.
    const std::string folder = m_root + "/custom place";
    EXPECT_EQ(Run({"/i", v1, "TRANSFORMS=:1058", "INSTALLDIR=" + folder, "REBOOT=Force"}),
              installer_exit::kRestartRequired);
    EXPECT_EQ(ProductInfo("{PRODUCT-0001}", "InstalledLanguage"), "1058");
    EXPECT_TRUE(fs::exists(folder + "/lib/a.so"));
    // /n names the installed instance to remove.
    EXPECT_EQ(Run({"/x", v1, "/n", "{PRODUCT-0002}"}), 0) << m_log;
    EXPECT_FALSE(fs::exists(Installed() + "-inst1"));
    EXPECT_EQ(ProductState("{PRODUCT-0001}"), install_state::kDefault);
}

} // namespace
} // namespace krv::setup
