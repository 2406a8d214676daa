#include "files.h"
#include "ini.h"
#include "md5.h"
#include "paths.h"
#include "support_env.h"

#include <file_open.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

using namespace krv::setup;
namespace fs = std::filesystem;

namespace {

class Files : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.empty());
        m_env.Set("KRV_SETUP_ROOT", m_dir);
    }
    static void Write(const std::string &path, const std::string &content) {
        krv::setup::test::WriteFile(path, content);
    }

    krv::setup::test::TempDir m_tmp{"files"};
    const std::string m_dir = m_tmp.path();
    krv::setup::test::ScopedEnv m_env;
};

} // namespace

TEST_F(Files, CreateFolderTreeMakesEveryMissingFolderAndReportsThem) {
    std::vector<std::string> created;
    EXPECT_EQ(CreateFolderTree(m_dir + "/a/b/c", true, &created), 0);
    EXPECT_TRUE(fs::is_directory(m_dir + "/a/b/c"));
    EXPECT_EQ(created, (std::vector<std::string>{m_dir + "/a", m_dir + "/a/b", m_dir + "/a/b/c"}));

    created.clear();
    EXPECT_EQ(CreateFolderTree(m_dir + "/a/b/c", true, &created), 0);
    EXPECT_TRUE(created.empty());

    EXPECT_EQ(CreateFolderTree("\\\\?\\" + m_dir + "/long/form", true, nullptr), 0);
    EXPECT_TRUE(fs::is_directory(m_dir + "/long/form"));

    // Backslashes of settings texts are separators too.
    EXPECT_EQ(CreateFolderTree(m_dir + "\\x\\y", true, nullptr), 0);
    EXPECT_TRUE(fs::is_directory(m_dir + "/x/y"));
}

TEST_F(Files, CreateFolderTreeNeverCreatesTheFileName) {
    std::vector<std::string> created;
    EXPECT_EQ(CreateFolderTree(m_dir + "/d/e/file.txt", false, &created), 0);
    EXPECT_TRUE(fs::is_directory(m_dir + "/d/e"));
    EXPECT_FALSE(fs::exists(m_dir + "/d/e/file.txt"));
    EXPECT_EQ(created.size(), 2u);
}

TEST_F(Files, CreateFolderTreeFailureRemovesOnlyWhatItCreated) {
    std::vector<std::string> created;
    int error = 0;
    if (::geteuid() != 0) {
        // "existing/locked" was there before, empty; it cannot take
        // subfolders. It must survive the failure.
        fs::create_directories(m_dir + "/existing/locked");
        ASSERT_EQ(::chmod((m_dir + "/existing/locked").c_str(), 0555), 0);
        error = CreateFolderTree(m_dir + "/existing/locked/new/deeper", true, &created);
        EXPECT_EQ(error, EACCES);
        EXPECT_TRUE(fs::is_directory(m_dir + "/existing/locked"));
        EXPECT_TRUE(created.empty());
    }

    // The same with a name the system refuses, whoever runs the test: the
    // empty folder that was there before stays.
    fs::create_directories(m_dir + "/pre/empty");
    created.clear();
    error = CreateFolderTree(m_dir + "/pre/empty/" + std::string(300, 'n'), true, &created);
    EXPECT_EQ(error, ENAMETOOLONG);
    EXPECT_TRUE(fs::is_directory(m_dir + "/pre/empty"));
    EXPECT_TRUE(created.empty());
}

TEST_F(Files, CreateFolderTreeUndoesItsOwnFoldersOnFailure) {
    std::vector<std::string> created = {"earlier entry"};
    // The new "t/u" chain is made, then a name too long for the system
    // stops the rest.
    fs::create_directories(m_dir + "/s");
    std::string longName(300, 'n'); // longer than a file name may be
    int error = CreateFolderTree(m_dir + "/s/t/u/" + longName + "/w", true, &created);
    EXPECT_EQ(error, ENAMETOOLONG);
    EXPECT_FALSE(fs::exists(m_dir + "/s/t"));
    EXPECT_TRUE(fs::is_directory(m_dir + "/s"));
    EXPECT_EQ(created, std::vector<std::string>{"earlier entry"});
}

TEST_F(Files, DeleteFolderTreeEmptiesButKeepsTheFolderAndNeverFollowsLinks) {
    fs::create_directories(m_dir + "/outside");
    Write(m_dir + "/outside/precious", "keep me");
    fs::create_directories(m_dir + "/tree/a/b");
    Write(m_dir + "/tree/a/b/f1", "1");
    Write(m_dir + "/tree/f2", "2");
    Write(m_dir + "/tree/.hidden", "3");
    fs::create_directory_symlink(m_dir + "/outside", m_dir + "/tree/link");
    DeleteFolderTree(m_dir + "/tree");
    EXPECT_TRUE(fs::is_directory(m_dir + "/tree"));
    EXPECT_TRUE(fs::is_empty(m_dir + "/tree"));
    EXPECT_TRUE(fs::exists(m_dir + "/outside/precious"));
}

TEST_F(Files, DeleteFolderTreeTakesBackslashesInNamesLiterally) {
    // A folder inside the tree whose name reads as "..\outside" in a
    // Windows path must not lead the deletion to the tree's neighbour.
    fs::create_directories(m_dir + "/outside");
    Write(m_dir + "/outside/precious", "keep me");
    fs::create_directories(m_dir + "/tree/..\\outside");
    Write(m_dir + "/tree/..\\outside/inner", "x");
    DeleteFolderTree(m_dir + "/tree");
    EXPECT_TRUE(fs::is_empty(m_dir + "/tree"));
    EXPECT_TRUE(fs::exists(m_dir + "/outside/precious"));
}

TEST_F(Files, RemoveEmptyFolderChainStopsAtBaseAndAtContent) {
    fs::create_directories(m_dir + "/base/a/b/c");
    Write(m_dir + "/base/a/keep", "x");
    RemoveEmptyFolderChain(m_dir + "/base/a/b/c/", m_dir + "/base/");
    EXPECT_FALSE(fs::exists(m_dir + "/base/a/b"));
    EXPECT_TRUE(fs::exists(m_dir + "/base/a/keep"));
    fs::remove(m_dir + "/base/a/keep");
    RemoveEmptyFolderChain(m_dir + "/base/a", m_dir + "/base");
    EXPECT_FALSE(fs::exists(m_dir + "/base/a"));
    EXPECT_TRUE(fs::is_directory(m_dir + "/base"));
}

TEST_F(Files, ExistenceTests) {
    Write(m_dir + "/file", "x");
    EXPECT_TRUE(PathExists(m_dir));
    EXPECT_TRUE(PathExists(m_dir + "/"));
    EXPECT_FALSE(PathExists(m_dir + "/file"));
    EXPECT_FALSE(PathExists(m_dir + "/none"));
    EXPECT_TRUE(PathExists("."));
    EXPECT_TRUE(PathExists("/"));
    EXPECT_FALSE(PathExists(""));

    EXPECT_TRUE(FileOrFolderExists(m_dir + "/file"));
    EXPECT_TRUE(FileOrFolderExists(m_dir));
    EXPECT_FALSE(FileOrFolderExists(m_dir + "/none"));
    EXPECT_FALSE(FileOrFolderExists(""));
    // A relative name is never looked up, even when it exists here.
    ASSERT_EQ(::chdir(m_dir.c_str()), 0);
    EXPECT_FALSE(FileOrFolderExists("file"));
    ASSERT_EQ(::chdir("/"), 0);
}

TEST_F(Files, FileSizes) {
    Write(m_dir + "/f", std::string(12345, 'z'));
    uint32_t size = 0;
    EXPECT_TRUE(QueryFileSize(m_dir + "/f", size));
    EXPECT_EQ(size, 12345u);
    EXPECT_EQ(GetPathFileSize(m_dir + "/f"), 12345u);
    EXPECT_FALSE(QueryFileSize(m_dir + "/missing", size));
    EXPECT_EQ(GetPathFileSize(m_dir + "/missing"), 0u);
    EXPECT_FALSE(QueryFileSize(m_dir, size));
}

// A named pipe with no writer blocks a plain open, and a device such as
// /dev/zero never ends: where a file is expected, both are refused at once.
TEST_F(Files, PipesAndDevicesAreRefusedWithoutWaiting) {
    const std::string pipe = m_dir + "/pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string &path : {pipe, std::string("/dev/zero")}) {
        uint32_t size = 7;
        EXPECT_FALSE(QueryFileSize(path, size)) << path;
        EXPECT_EQ(size, 7u) << path;
        std::string text = "kept";
        EXPECT_FALSE(ReadTextFile(path, text)) << path;
        EXPECT_EQ(text, "kept") << path;
        std::string hex;
        EXPECT_FALSE(ComputeFileMd5Hex(path, 0, hex)) << path;
        IniDocument document;
        EXPECT_NE(ReadIniFromFile(document, path, 0, 100), 0) << path;
    }
}

TEST_F(Files, ReadTextFileDropsOnlyAClosingCrLf) {
    std::string text;
    Write(m_dir + "/crlf", "line1\r\nline2\r\n");
    ASSERT_TRUE(ReadTextFile(m_dir + "/crlf", text));
    EXPECT_EQ(text, "line1\r\nline2");
    Write(m_dir + "/plain", "no line end");
    ASSERT_TRUE(ReadTextFile(m_dir + "/plain", text));
    EXPECT_EQ(text, "no line end");
    Write(m_dir + "/lf", "unix\n");
    ASSERT_TRUE(ReadTextFile(m_dir + "/lf", text));
    EXPECT_EQ(text, "unix\n");
    Write(m_dir + "/one", "x");
    ASSERT_TRUE(ReadTextFile(m_dir + "/one", text));
    EXPECT_EQ(text, "x");
    std::string big(5000, 'q');
    Write(m_dir + "/big", big);
    ASSERT_TRUE(ReadTextFile(m_dir + "/big", text));
    EXPECT_EQ(text, big);
    EXPECT_FALSE(ReadTextFile(m_dir + "/missing", text));
    text = "kept";
    EXPECT_FALSE(ReadTextFile(m_dir, text));
    EXPECT_EQ(text, "kept");
    Write(m_dir + "/empty", "");
    ASSERT_TRUE(ReadTextFile(m_dir + "/empty", text));
    EXPECT_EQ(text, "");
}

TEST_F(Files, TempNamesAreUniqueAndLeaveNoFile) {
    std::string a = MakeTempFileName();
    std::string b = MakeTempFileName();
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(m_dir + "/tmp/log", 0), 0u) << a;
    EXPECT_FALSE(fs::exists(a));
    std::string name;
    ASSERT_TRUE(MakeTempFileNameWithPrefix("prq_long_prefix", name));
    EXPECT_EQ(name.rfind(m_dir + "/tmp/prq", 0), 0u) << name;
    EXPECT_EQ(name.find("_long"), std::string::npos);
    ASSERT_TRUE(MakeTempFileNameWithPrefix("a/b", name));
    EXPECT_EQ(fs::path(name).parent_path(), fs::path(m_dir + "/tmp"));
}

// A folder the setup makes for its files is closed to others even under a
// umask that leaves group writing open, so that what it puts there stays a
// file it trusts.
TEST_F(Files, FoldersMadeForWorkFilesStayClosedToOthersUnderAnyUmask) {
    // Below the shared temporary folder every folder is made 0700 anyway: the
    // build's own folder is one that only its owner writes.
    const char *bin = std::getenv("KRV_TEST_BIN");
    if (!bin)
        GTEST_SKIP() << "KRV_TEST_BIN names no build folder";
    std::string base = std::string(bin) + "/../umask-XXXXXX";
    ASSERT_NE(::mkdtemp(base.data()), nullptr);
    const mode_t old = ::umask(002);
    const krv::platform::OpenedFolder opened = krv::platform::OpenFolderPath(base, "made/below");
    ::umask(old);
    ASSERT_TRUE(opened);
    for (const char *folder : {"/made", "/made/below"}) {
        struct stat info {};
        ASSERT_EQ(::stat((base + folder).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 022, 0u) << folder;
    }
    const std::string file = base + "/made/below/setup.sh";
    Write(file, "#!/bin/sh\n");
    const OwnFile own = OpenOwnFile(file, false);
    EXPECT_TRUE(own) << own.refusal;
    fs::remove_all(base);
}

// What a run takes as its own work file, and makes executable: only a
// regular file of this user in a folder nobody else may write.
TEST_F(Files, OwnFilesAreRegularFilesOfThisUserInAFolderOnlyItWrites) {
    const bool root = ::geteuid() == 0;
    struct Row {
        const char *what;
        mode_t folderMode;
        const char *kind;    // "file", "open file", "link", "folder", "theirs"
        const char *refusal; // nullptr: taken
        bool stickyFolder = false;
        // "own"; "link": a link to such a folder stands in a folder others
        // may write; "theirs": the folder belongs to another user
        std::string folderKind = "own";
    } rows[] = {
        {"own file", 0755, "file", nullptr},
        {"folder others may write", 0777, "file", "its folder may be written by another user"},
        {"sticky folder others may write", 01777, "file",
         "its folder may be written by another user"},
        {"sticky folder, to start", 01777, "file", nullptr, true},
        {"sticky folder, file others may write", 01777, "open file",
         "it may be written by another user", true},
        {"non-sticky folder, to start", 0777, "file", "its folder may be written by another user",
         true},
        {"folder its group may write", 0775, "file", "its folder may be written by another user"},
        {"a link", 0755, "link", "it is a symbolic link"},
        {"a folder", 0755, "folder", "it is not a regular file"},
        {"another user's file", 0755, "theirs", "it is owned by another user"},
        {"a second name for the file", 0755, "hard link", "it has another name"},
        {"folder reached through a link", 0755, "file", "its folder is a symbolic link", false,
         "link"},
        {"sticky folder of another user, to start", 01777, "file",
         "its folder is owned by another user", true, "theirs"},
    };
    // A folder others may write, as the shared temporary folder.
    const std::string shared = m_dir + "/shared";
    fs::create_directories(shared);
    ::chmod(shared.c_str(), 01777);
    // The rows below the test's folder in the shared temporary folder, and
    // below one that no other user may write (beside the test programs):
    // there the folder's own mode alone must refuse it.
    std::string closedBase = test::BinFolder() + "/own-files-XXXXXX";
    ASSERT_NE(::mkdtemp(closedBase.data()), nullptr);
    struct RemovedAfter {
        std::string path;
        ~RemovedAfter() { fs::remove_all(path); }
    } closed{closedBase};
    int n = 0;
    for (const std::string &base : {m_dir, closedBase})
        for (const Row &row : rows) {
            SCOPED_TRACE(base);
            if (!root && (std::string(row.kind) == "theirs" || row.folderKind == "theirs"))
                continue; // only root can give a file away
            const std::string folder = base + "/f" + std::to_string(++n);
            std::string path = folder + "/tool";
            fs::create_directories(folder);
            if (row.folderKind == "link") {
                path = shared + "/f" + std::to_string(n) + "/tool";
                fs::create_directory_symlink(folder, shared + "/f" + std::to_string(n));
            }
            if (std::string(row.kind) == "link") {
                Write(m_dir + "/target", "#!/bin/sh\n");
                fs::create_symlink(m_dir + "/target", path);
            } else if (std::string(row.kind) == "folder") {
                fs::create_directories(path);
            } else {
                Write(path, "#!/bin/sh\n");
                ::chmod(path.c_str(), std::string(row.kind) == "open file" ? 0666 : 0644);
                if (std::string(row.kind) == "theirs") {
                    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
                }
                if (std::string(row.kind) == "hard link") {
                    ASSERT_EQ(::link(path.c_str(), (folder + "-second-name").c_str()), 0);
                }
            }
            if (row.folderKind == "theirs") {
                ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
            }
            ::chmod(folder.c_str(), row.folderMode);
            const OwnFile file = OpenOwnFile(path, row.stickyFolder);
            EXPECT_EQ(bool(file), row.refusal == nullptr) << row.what;
            EXPECT_EQ(std::string(file.refusal ? file.refusal : ""),
                      std::string(row.refusal ? row.refusal : ""))
                << row.what;
            if (file) {
                EXPECT_EQ(file.size, 10u) << row.what;
            }
            // Only a regular file of this user is made executable; a link's
            // target and another user's file keep their mode.
            MakeOwnerExecutable(path);
            struct stat info {};
            ASSERT_EQ(::stat(path.c_str(), &info), 0) << row.what;
            const bool ownFile = std::string(row.kind).find("file") != std::string::npos ||
                                 std::string(row.kind) == "hard link";
            EXPECT_EQ((info.st_mode & S_IXUSR) != 0, ownFile || std::string(row.kind) == "folder")
                << row.what;
        }
}

// The lock's folder and the package's cache folder lie where no other user
// could rename them away (root run with another user's home, as after
// `sudo -E`): the lock in the root's runtime folder of the user, else in a
// folder of the user in the temporary folder, else in the home folder's
// data folder, else nowhere. Nothing is made in a folder of theirs, the
// runtime folder's parents are 0755 under any umask, a cache folder open to
// its group is closed, and one left empty goes at the run's end.
TEST_F(Files, LockAndCacheFoldersOnlyWhereNoOtherUserCanTakeThem) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give folders away";
    const std::string uid = std::to_string(::geteuid());
    const std::string own = "run/user/" + uid, tmp = "tmp/krv-setup-" + uid;
    const std::string data = "home/.local/share/krv-setup", cache = "home/.cache/krv-setup/{ID}";
    struct Row {
        std::vector<std::string> theirs; // folders given to another user
        std::string lock, cache;         // the folders taken; empty: none
    } rows[] = {
        {{}, own, cache},
        {{own}, tmp, cache},
        {{"run/user", "home/.cache"}, tmp, ""},
        {{own, tmp}, data, cache},
        {{own, tmp, "home/.local/share"}, "", cache},
        {{own, tmp, "home"}, "", ""},
    };
    // Beside the test programs: below the shared temporary folder no folder
    // of another user's is ever walked into.
    std::string base = test::BinFolder() + "/machines-XXXXXX";
    ASSERT_NE(::mkdtemp(base.data()), nullptr);
    const std::unique_ptr<std::string, void (*)(std::string *)> removed(
        &base, [](std::string *path) { fs::remove_all(*path); });
    if (!krv::platform::CheckFolderChain(base).trusted())
        GTEST_SKIP() << "the build folder may be changed by other users";
    int n = 0;
    for (const Row &row : rows) {
        const std::string root = base + "/m" + std::to_string(++n);
        SCOPED_TRACE(root);
        m_env.Set("KRV_SETUP_ROOT", root);
        for (const char *folder : {"/home/.local/share", "/home/.cache", "/tmp"})
            fs::create_directories(root + folder);
        ::chmod((root + "/tmp").c_str(), 01777);
        if (n == 1) { // one there before, open to its group
            fs::create_directories(root + "/" + cache);
            ::chmod((root + "/" + cache).c_str(), 0750);
        }
        const auto count = [&](const std::string &folder) {
            return std::distance(fs::recursive_directory_iterator(root + "/" + folder), {});
        };
        std::vector<std::ptrdiff_t> before;
        for (const std::string &folder : row.theirs) {
            fs::create_directories(root + "/" + folder);
            ASSERT_EQ(::chown((root + "/" + folder).c_str(), 12345, 12345), 0);
            before.push_back(count(folder));
        }
        const mode_t umask = ::umask(0);
        EXPECT_EQ(UserLockFolder(), row.lock.empty() ? "" : root + "/" + row.lock);
        const std::string downloads = ResumableDownloadFolder("{ID}");
        ::umask(umask);
        EXPECT_EQ(downloads, row.cache.empty() ? "" : root + "/" + row.cache + "/");
        for (std::size_t i = 0; i < row.theirs.size(); ++i)
            EXPECT_EQ(count(row.theirs[i]), before[i]) << row.theirs[i];
        if (n > 1)
            continue;
        for (const std::string &folder : {root + "/run", root + "/run/user", downloads})
            EXPECT_EQ(fs::status(folder).permissions(),
                      fs::perms(folder == downloads ? 0700 : 0755));
        Write(downloads + "sub/tool.sh.part", "part"); // a cancelled download waits
        RemoveEmptyDownloadFolder(downloads);
        EXPECT_TRUE(fs::exists(downloads + "sub/tool.sh.part"));
        fs::remove(downloads + "sub/tool.sh.part");
        RemoveEmptyDownloadFolder(downloads);
        EXPECT_FALSE(fs::exists(downloads));
    }
}

TEST_F(Files, DiskSpaceWalksUpToAnExistingFolder) {
    std::vector<std::string> asked;
    const FreeSpaceQuery query = [&](const std::string &path) -> std::optional<uint64_t> {
        asked.push_back(path);
        if (path == "/")
            return 1000;
        return std::nullopt;
    };
    EXPECT_TRUE(HasEnoughDiskSpace("/mnt/new/folder/", 999, query));
    EXPECT_EQ(asked, (std::vector<std::string>{"/mnt/new/folder", "/mnt/new", "/mnt", "/"}));
    // Strictly more than needed.
    EXPECT_FALSE(HasEnoughDiskSpace("/mnt", 1000, query));
    EXPECT_FALSE(HasEnoughDiskSpace("relative/dir", 1, query));
    EXPECT_FALSE(HasEnoughDiskSpace("", 1, query));
}

TEST_F(Files, DiskSpaceFalseWhenNothingCanBeAsked) {
    EXPECT_FALSE(HasEnoughDiskSpace(
        "/a/b", 0, [](const std::string &) -> std::optional<uint64_t> { return std::nullopt; }));
}

TEST_F(Files, DiskSpaceOnTheRealFileSystem) {
    EXPECT_TRUE(HasEnoughDiskSpace(m_dir + "/not/yet/there", 0));
    EXPECT_FALSE(HasEnoughDiskSpace(m_dir, UINT64_MAX));
}

TEST(Drives, MountTableGivesLocalDisksOnce) {
    const std::string table = "sysfs /sys sysfs rw 0 0\n"
                              "/dev/sda1 / ext4 rw 0 0\n"
                              "/dev/loop3 /snap/core squashfs ro 0 0\n"
                              "tmpfs /tmp tmpfs rw 0 0\n"
                              "/dev/sdb1 /media/usb\\040disk vfat rw 0 0\n"
                              "/dev/sda1 / ext4 rw 0 0\n"
                              "/dev/sdc1 /data/ ext4 rw 0 0\n"
                              "broken\n";
    EXPECT_EQ(FixedDrivesOfMountTable(table),
              (std::vector<std::string>{"/", "/media/usb disk/", "/data/"}));
    EXPECT_TRUE(FixedDrivesOfMountTable("").empty());
}

TEST(Drives, FixedDrivesEndWithASeparator) {
    for (const auto &drive : ListFixedDrives()) {
        ASSERT_FALSE(drive.empty());
        EXPECT_EQ(drive.back(), '/');
        EXPECT_EQ(drive.front(), '/');
    }
}
