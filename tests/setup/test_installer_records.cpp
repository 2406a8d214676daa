#include "command_line_text.h"
#include "installed_products.h"
#include "installer_fixture.h"

#include <csignal>
#include <cstdlib>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>

namespace krv::setup {
namespace {

constexpr char kCode[] = "{PRODUCT-0001}";

mode_t ModeOf(const std::string &path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

// The modes are the installer's, not the umask's: under umask 000 nothing
// it or the store makes is open to others, and under 077 the product stays
// readable by every user. Folders are 0755, records 0644, and a file keeps
// what its package gives it less any right to write for others (or to run
// as its owner).
TEST_F(InstallerTest, ModesDoNotFollowTheUmask) {
    struct File {
        const char *name;
        int perm;    // in the package
        mode_t mode; // installed
    };
    const File files[] = {
        {"bin/run", 04777, 0755},
        {"bin/tool", 0711, 0711},
        {"lib/shared", 0666, 0644},
        {"lib/private", 0600, 0600}, // the package takes rights away
    };
    std::vector<RawEntry> entries{{"Property", AE_IFREG,
                                   "ProductCode\t{PRODUCT-0001}\nPackageCode\t{PKG-1}\n"
                                   "INSTALLDIR\t[ProgramFilesFolder]Telmar\\Telmar 2.3\\\n",
                                   ""}};
    for (const File &f : files)
        entries.push_back({std::string("files/") + f.name, AE_IFREG, "x", "", f.perm});
    WriteRawPackage(m_root + "/modes.pkg", entries);
    for (const mode_t mask : {mode_t(0), mode_t(077)}) {
        SCOPED_TRACE(mask);
        ASSERT_NO_FATAL_FAILURE(Afresh());
        const mode_t before = ::umask(mask);
        const int code = Run({"/i", m_root + "/modes.pkg"});
        // The installer program's own log too.
        const std::string log = m_root + "/msiexec-" + std::to_string(mask) + ".log";
        std::system(("'" + test::BinFolder() + "/krv-msiexec' /x {NO-SUCH-PRODUCT} /l*v '" + log +
                     "' 2>/dev/null")
                        .c_str());
        ::umask(before);
        EXPECT_EQ(ModeOf(log) & 07777, 0644u);
        ASSERT_EQ(code, installer_exit::kSuccess) << m_log;
        for (const File &f : files)
            EXPECT_EQ(ModeOf(Installed() + "/" + f.name) & 07777, f.mode) << f.name;
        // From the first folder the install made down, and the whole store.
        for (const std::string &top : {m_root + "/opt", m_root + "/registry"}) {
            EXPECT_EQ(ModeOf(top) & 07777, 0755u) << top;
            for (const auto &entry : fs::recursive_directory_iterator(top)) {
                const std::string path = entry.path().string();
                const mode_t mode = ModeOf(path);
                if (S_ISDIR(mode))
                    EXPECT_EQ(mode & 07777, 0755u) << path;
                else if (entry.path().filename() == ".values")
                    EXPECT_EQ(mode & 07777, 0644u) << path;
                else
                    EXPECT_EQ(mode & (S_IWGRP | S_IWOTH), 0u) << path;
            }
        }
    }
}

// A record the older installer wrote may name a file with a tab in its
// name. Such a line names its file: a removal and an upgrade take it away
// as any other, and a run killed with it in the backup folder is undone
// with it. A line that names no file of the folder ("x<LF>bin" read back as
// "x" and the folder "bin") is passed over with a log line.
TEST_F(InstallerTest, ARecordOfTheOlderInstallerIsRemovedAndUpgradedWhole) {
    const std::string v1 = MakePackage("v1", "2.3.0", "{PKG-1}");
    const std::string v2 = MakePackage("v2", "2.3.1", "{PKG-2}");
    const std::string tab = Installed() + "/bin/tab\there.txt";
    for (const std::vector<std::string> &run :
         {std::vector<std::string>{"/x", kCode}, std::vector<std::string>{"/fvomus", v2}}) {
        SCOPED_TRACE(run[0]);
        ASSERT_NO_FATAL_FAILURE(Afresh(v1));
        auto product = FindInstalledProduct(kCode);
        ASSERT_TRUE(product);
        WriteFile(tab, "legacy");
        product->files += "bin/tab\there.txt\nx\nbin\n";
        ASSERT_TRUE(RegisterProduct(*product));

        const int status = test::StatusOfChild([&] {
            m_step = [&](std::string_view) {
                if (!fs::exists(tab))
                    ::raise(SIGKILL);
            };
            return Run(run);
        });
        ASSERT_TRUE(WIFSIGNALED(status)) << "the file was never moved";
        m_log.clear();
        EXPECT_EQ(Run({"/x", "{NO-SUCH-PRODUCT}"}), installer_exit::kUnknownProduct) << m_log;
        EXPECT_EQ(ReadFile(tab), "legacy") << m_log;

        m_log.clear();
        ASSERT_EQ(Run(run), installer_exit::kSuccess) << m_log;
        EXPECT_FALSE(fs::exists(tab));
        EXPECT_NE(m_log.find("not a file the record can name: \"bin\""), std::string::npos)
            << m_log;
        if (run[0] == "/fvomus") {
            EXPECT_EQ(ProductInfo(kCode, "Files"), "bin/tool\nlib/a.so\n");
            ASSERT_EQ(Run({"/x", kCode}), installer_exit::kSuccess) << m_log;
        }
        EXPECT_FALSE(fs::exists(Installed()));
        EXPECT_EQ(ProductState(kCode), install_state::kUnknown);
    }
}

// Killed after its commit, a change whose old record is then damaged is
// finished all the same: the staged record (for a removal, none) is the
// one that tells the files. The damaged one is kept aside whole, one line
// names it, and the runs go on.
TEST_F(InstallerTest, AfterItsCommitAChangeSetsADamagedOldRecordAside) {
    const std::string v1 = MakePackage("v1", "2.3.0", "{PKG-1}");
    const std::string v2 = MakePackage("v2", "2.3.1", "{PKG-2}");
    const std::string key = m_root + "/registry/HKLM/Software/Krv/Installer/Products/" + kCode;
    const std::string journal = m_root + "/registry/installer.journal";
    struct Case {
        std::vector<std::string> run;
        std::string packageCode; // empty: not installed
    };
    const Case cases[] = {{{"/fvomus", v2}, "{PKG-2}"}, {{"/x", kCode}, ""}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.run[0]);
        ASSERT_NO_FATAL_FAILURE(Afresh(v1));
        const int status = test::StatusOfChild([&] {
            m_step = [&](std::string_view kind) {
                if (kind == "store" && ReadFile(journal).ends_with("\ncommit\t\n"))
                    ::raise(SIGKILL);
            };
            return Run(c.run);
        });
        m_step = nullptr;
        ASSERT_TRUE(WIFSIGNALED(status));
        const std::string damaged = ReadFile(key + "/.values") + "garbage\n";
        WriteFile(key + "/.values", damaged);

        m_log.clear();
        EXPECT_EQ(Run({"/x", "{NO-SUCH-PRODUCT}"}), installer_exit::kUnknownProduct) << m_log;
        EXPECT_FALSE(fs::exists(journal));
        EXPECT_EQ(ReadFile(key + ".damaged-1"), damaged);
        EXPECT_NE(m_log.find("kept as " + key + ".damaged-1"), std::string::npos) << m_log;
        EXPECT_EQ(ProductInfo(kCode, "PackageCode").value_or(""), c.packageCode);
        EXPECT_EQ(fs::exists(key), !c.packageCode.empty());
        EXPECT_EQ(fs::exists(Installed()), !c.packageCode.empty());
        EXPECT_EQ(Run({"/i", v1, "REINSTALL=ALL"}), c.packageCode.empty()
                                                        ? installer_exit::kUnknownProduct
                                                        : installer_exit::kSuccess)
            << m_log;
    }
}

// A journal that cannot be a change this installer writes, or that names
// no install folder while work folders remain, is neither finished nor
// undone nor thrown away: the run ends with 1603 and a line naming it, and
// the tree, the store and the journal stay as they are. An empty journal
// (or one whose first line was cut short) with no work folder anywhere is a
// run killed as it began: it goes.
TEST_F(InstallerTest, JournalsThatCannotBeOursAreKept) {
    const std::string v1 = MakePackage("v1", "2.3.0", "{PKG-1}");
    const std::string journal = m_root + "/registry/installer.journal";
    const std::string root = "root\t" + Installed() + "\n";
    const std::string backup = "backup\t.krv-backup-abc123\n";
    struct Case {
        const char *what;
        std::string text;
        bool workFolder;  // a backup folder holding a file of another version
        const char *said; // nullptr: the journal goes and the run goes on
    };
    const Case cases[] = {
        {"empty, with work folders", "", true, "names no install folder while work folders"},
        {"empty", "", false, nullptr},
        {"the first line cut short", "root\t/op", false, nullptr},
        {"a damaged first line", "roXt\t" + Installed() + "\n" + backup, true, "line 1 is no step"},
        {"no install folder first", backup + root, true, "line 1 is no step"},
        {"an install folder outside the setup root", "root\t/opt/elsewhere\n", false,
         "is not one this installer uses"},
        {"a step of no known kind", root + backup + "removed\tlib/a.so\n", true, "line 3 is no"},
        {"a moved file that leaves the folder", root + "moved\t../../etc/passwd\n", false,
         "line 2 is no"},
        {"a folder elsewhere", root + "folder\t/etc/krv\n", false, "line 2 is no"},
        {"an escape cut short", root + "placed\tlib%4\n", false, "line 2 is no"},
        {"two records", root + "record\t{A}\nunrecord\t{B}\n", false, "line 3 is no"},
        {"a line after the commit", root + "unrecord\t" + kCode + "\ncommit\t\nplaced\tx\n", false,
         "line 4 is no"},
        {"a commit with no record for the files placed",
         root + backup + "placed\tlib/a.so\ncommit\t\n", true, "a commit that names no record"},
        {"a commit with no record at all", root + "commit\t\n", false,
         "a commit that names no record"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(Afresh(v1));
        if (c.workFolder)
            WriteFile(Installed() + "/.krv-backup-abc123/lib/a.so", "library 2.2.0");
        const auto before = Tree(Installed());
        WriteFile(journal, c.text);
        m_log.clear();
        const int code = Run({"/x", "{NO-SUCH-PRODUCT}"});
        if (!c.said) {
            EXPECT_EQ(code, installer_exit::kUnknownProduct) << m_log;
            EXPECT_FALSE(fs::exists(journal));
            continue;
        }
        EXPECT_EQ(code, installer_exit::kFailure) << m_log;
        EXPECT_NE(m_log.find("the installer journal " + journal), std::string::npos) << m_log;
        EXPECT_NE(m_log.find(c.said), std::string::npos) << m_log;
        EXPECT_EQ(ReadFile(journal), c.text);
        EXPECT_EQ(Tree(Installed()), before);
        EXPECT_EQ(ProductInfo(kCode, "PackageCode"), "{PKG-1}");
    }
}

// A journal changes files only in an install folder: one a record names,
// or one that holds the work folders of the run that wrote it. One that
// would change a file elsewhere (the system folder, another product's) is
// kept with 1603 and the files stay; one whose run died before it made its
// work folders has no file to change there, and goes.
TEST_F(InstallerTest, JournalsNamingAFolderNoRecordNamesChangeNothingThere) {
    const std::string v1 = MakePackage("v1", "2.3.0", "{PKG-1}");
    const std::string journal = m_root + "/registry/installer.journal";
    const std::string lib = m_root + "/usr/lib", other = m_root + "/opt/Other";
    const std::string rows[][2] = {
        // the journal after its root line; the file that stays ("": it goes)
        {"placed\tkrv-msiexec\nplaced\tdata\nfolder\t" + lib + "\n", lib + "/krv-msiexec"},
        {"placed\tdata\n", other + "/data"},
        {"backup\t.krv-backup-1\nplaced\tdata\n", ""},
        {"folder\t" + other + "/new\n", ""},
    };
    for (const auto &[steps, stays] : rows) {
        SCOPED_TRACE(steps);
        ASSERT_NO_FATAL_FAILURE(Afresh(v1));
        fs::remove_all(m_root + "/usr");
        fs::remove_all(other);
        WriteFile(lib + "/krv-msiexec", "installer");
        WriteFile(other + "/data", "data");
        for (const char *made : {"folder", "backup"}) // what the dead run made
            if (steps.starts_with(made))
                fs::create_directories(other + (*made == 'f' ? "/new" : "/.krv-backup-1"));
        const std::string root = steps.starts_with("folder") ? other + "/new"
                                 : stays.starts_with(lib)    ? lib
                                                             : other;
        WriteFile(journal, "root\t" + root + "\n" + steps);
        m_log.clear();
        const int code = Run({"/x", "{NO-SUCH-PRODUCT}"});
        EXPECT_EQ(code, stays.empty() ? installer_exit::kUnknownProduct : installer_exit::kFailure);
        EXPECT_EQ(fs::exists(journal), !stays.empty()) << m_log;
        EXPECT_EQ(fs::exists(other + "/data"), !steps.starts_with("backup")) << m_log;
        EXPECT_FALSE(fs::exists(other + "/new"));
        EXPECT_TRUE(fs::exists(lib + "/krv-msiexec"));
        EXPECT_EQ(ProductInfo(kCode, "PackageCode"), "{PKG-1}");
    }
}

// A removal takes away the folders the product's first install made, up
// from the install folder, when nothing else lives in them (also after an
// upgrade); a folder that was there before stays, and so does one that
// holds something else. A record of the older installer does not say which
// it made: the removal leaves them, as that installer did.
TEST_F(InstallerTest, ARemovalTakesAwayTheFoldersTheInstallMade) {
    const std::string v1 = MakePackage("v1", "2.3.0", "{PKG-1}");
    const std::string v2 = MakePackage("v2", "2.3.1", "{PKG-2}");
    const std::string values =
        m_root + "/registry/HKLM/Software/Krv/Installer/Products/" + kCode + "/.values";
    struct Case {
        const char *what;
        bool optBefore, upgrade, olderRecord;
        std::string other; // a file of someone else's
        std::vector<std::string> stay, gone;
    };
    const Case cases[] = {
        {"a fresh machine", false, false, false, "", {}, {"opt"}},
        {"after an upgrade", false, true, false, "", {}, {"opt"}},
        {"opt there before", true, false, false, "", {"opt"}, {"opt/Telmar"}},
        {"another file in opt/Telmar",
         false,
         false,
         false,
         "opt/Telmar/notes.txt",
         {"opt/Telmar"},
         {"opt/Telmar/Telmar 2.3"}},
        {"a record of the older installer",
         false,
         false,
         true,
         "",
         {"opt/Telmar"},
         {"opt/Telmar/Telmar 2.3"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(Afresh());
        if (c.optBefore)
            fs::create_directories(m_root + "/opt");
        ASSERT_EQ(Run({"/i", v1}), installer_exit::kSuccess) << m_log;
        if (c.upgrade) {
            ASSERT_EQ(Run({"/fvomus", v2}), installer_exit::kSuccess) << m_log;
        }
        if (c.olderRecord) {
            std::string text;
            for (const std::string &line : SplitString(ReadFile(values), "\n"))
                if (!line.empty() && !line.starts_with("sz\tCreatedFolders\t"))
                    text += line + "\n";
            WriteFile(values, text);
        }
        if (!c.other.empty())
            WriteFile(m_root + "/" + c.other, "mine");
        ASSERT_EQ(Run({"/x", kCode}), installer_exit::kSuccess) << m_log;
        for (const std::string &folder : c.stay)
            EXPECT_TRUE(fs::is_directory(m_root + "/" + folder)) << folder;
        for (const std::string &folder : c.gone)
            EXPECT_FALSE(fs::exists(m_root + "/" + folder)) << folder;
    }
}

// Every journal a run writes is one the next run takes back: a run killed
// in the middle of a change that the journal's checks would refuse would
// stop every later run for good. A product code that cannot name a record
// is refused before anything is written; a record whose install folder an
// earlier installer kept with a trailing separator is removed (and
// upgraded) through the folder as an install names it.
TEST_F(InstallerTest, TheInstallersOwnJournalsAreTakenBack) {
    const std::string v1 = MakePackage("v1", "2.3.0", "{PKG-1}", "doc/old.txt");
    const std::string v2 = MakePackage("v2", "2.3.1", "{PKG-2}");
    const std::string badCode = MakePackage("bad", "2.3.0", "{PKG-3}", "", "{PRODUCT/0001}");
    const std::string journal = m_root + "/registry/installer.journal";
    struct Case {
        const char *what;
        std::vector<std::string> run;
        const char *killAt;   // the step
        bool installedBefore; // v1, its record's folder with a trailing "/"
    };
    const Case cases[] = {
        {"a product code that names no record", {"/i", badCode}, "store", false},
        {"a removal of a folder kept with its separator", {"/x", kCode}, "rename", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(Afresh(c.installedBefore ? v1 : ""));
        if (c.installedBefore) {
            auto product = FindInstalledProduct(kCode);
            ASSERT_TRUE(product);
            product->installLocation += "/";
            ASSERT_TRUE(RegisterProduct(*product));
        }
        test::StatusOfChild([&] {
            m_step = [&](std::string_view kind) {
                if (kind == c.killAt)
                    ::raise(SIGKILL);
            };
            return Run(c.run);
        });
        m_step = nullptr;
        m_log.clear();
        EXPECT_EQ(Run({"/x", "{NO-SUCH-PRODUCT}"}), installer_exit::kUnknownProduct) << m_log;
        EXPECT_FALSE(fs::exists(journal)) << m_log;
        EXPECT_EQ(fs::exists(Installed() + "/bin/tool"), c.installedBefore);
    }
    // The upgrade of that record takes away what the new version no longer has.
    ASSERT_EQ(Run({"/fvomus", v2}), installer_exit::kSuccess) << m_log;
    EXPECT_FALSE(fs::exists(Installed() + "/doc/old.txt"));
    ASSERT_EQ(Run({"/x", kCode}), installer_exit::kSuccess) << m_log;
    EXPECT_FALSE(fs::exists(m_root + "/opt"));
}

} // namespace
} // namespace krv::setup
