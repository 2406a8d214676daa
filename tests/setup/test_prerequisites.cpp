#include "download_list.h"
#include "files.h"
#include "local_servers.h"
#include "log.h"
#include "md5.h"
#include "messages.h"
#include "prerequisite_installer.h"
#include "prerequisite_model.h"
#include "resume.h"
#include "run_stop.h"
#include "support_env.h"
#include "support_windows.h"

#include <setup_autostart.h>
#include <setup_process.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>

#include <sys/stat.h>
#include <sys/wait.h>

namespace krv::setup {
namespace {

namespace fs = std::filesystem;

using test::ReadFile;
using test::WriteFile;

PrerequisiteRecord Record(std::string name, int32_t state, std::string parent = {}) {
    PrerequisiteRecord record;
    record.name = std::move(name);
    record.state = state;
    record.parentPrereq = std::move(parent);
    return record;
}

std::string SelectedFlags(const SetupSettings &settings) {
    std::string flags;
    for (const PrerequisiteRecord &record : settings.prerequisites)
        flags += record.selected ? '1' : '0';
    return flags;
}

TEST(PrerequisiteModel, SelectionFollowsParentsAndChildren) {
    // A is the parent of B, C and D.
    struct Case {
        const char *what;
        std::vector<int32_t> states; // A, B, C, D
        const char *before;          // selected flags before
        int index;
        bool select;
        const char *after;
    };
    const std::vector<Case> cases = {
        {"parent takes children that need work", {1, 1, 3, 0}, "0000", 0, true, "1110"},
        {"excluded child is left alone", {1, 4, 2, 1}, "0100", 0, true, "1111"},
        {"deselecting the parent deselects all", {1, 1, 2, 3}, "1111", 0, false, "0000"},
        {"child brings its parent and siblings", {1, 1, 2, 0}, "0000", 1, true, "1110"},
        {"found parent stays out", {0, 1, 2, 0}, "0000", 1, true, "0100"},
        {"excluded parent stays out", {4, 1, 2, 0}, "0000", 1, true, "0100"},
        {"no change, no cascade", {1, 1, 1, 1}, "1000", 0, true, "1000"},
        {"index out of range", {1, 1, 1, 1}, "0000", 9, true, "0000"},
    };
    for (const Case &c : cases) {
        SetupSettings settings;
        settings.prerequisites = {Record("A", c.states[0]), Record("B", c.states[1], "A"),
                                  Record("C", c.states[2], "A"), Record("D", c.states[3], "A")};
        for (std::size_t i = 0; i < 4; ++i)
            settings.prerequisites[i].selected = c.before[i] == '1';
        SelectPrerequisite(settings, c.index, c.select);
        EXPECT_EQ(SelectedFlags(settings), c.after) << c.what;
    }
}

TEST(PrerequisiteModel, PrereqsSwitchExcludesUnlisted) {
    struct Case {
        const char *list;
        std::vector<int32_t> states;
        bool given;
    };
    const std::vector<Case> cases = {
        {"1,7", {4, 8, 4}, true},         {"", {4, 4, 4}, false},    {",,", {4, 4, 4}, false},
        {"0,x,2", {8, 4, 8}, true},       {"-1,1", {4, 8, 4}, true}, {"2, 0", {4, 4, 8}, true},
        {"99999999999", {4, 4, 4}, true},
    };
    for (const Case &c : cases) {
        SetupSettings settings;
        settings.prerequisites = {Record("A", 0), Record("B", 1), Record("C", 2)};
        ApplyPrereqsSwitch(settings, c.list);
        std::vector<int32_t> states;
        for (const auto &record : settings.prerequisites)
            states.push_back(record.state);
        EXPECT_EQ(states, c.states) << c.list;
        EXPECT_EQ(settings.prereqsGiven, c.given) << c.list;
    }
}

TEST(PrerequisiteModel, ManagerStateOfSelectedFoundRecordComesFromItsSource) {
    struct Case {
        int32_t state;
        int32_t kind;
        bool selected;
        bool downloaded;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {0, source_kind::kOpenSite, true, false, 3}, {0, source_kind::kUrl, true, true, 5},
        {0, source_kind::kUrl, true, false, 2},      {0, source_kind::kSetupFile, true, false, 1},
        {2, source_kind::kUrl, true, true, 5},       {2, source_kind::kUrl, false, true, 7},
    };
    for (const Case &c : cases) {
        PrerequisiteRecord record = Record("A", c.state);
        record.sourceKind = c.kind;
        record.selected = c.selected;
        record.downloaded = c.downloaded;
        EXPECT_EQ(ManagerPrerequisiteState(record), c.expected) << c.state << " " << c.kind;
    }
}

TEST(PrerequisiteModel, DetectionGivesStatesBySourceAndSkipRule) {
    const PrerequisiteProbe probe{[](const PrerequisiteRecord &r) { return r.name != "wrong-os"; },
                                  [](PrerequisiteRecord &r) { return r.name == "present"; },
                                  {}};
    SetupSettings settings;
    auto add = [&](const char *name, int32_t kind, const char *options) {
        PrerequisiteRecord record = Record(name, prereq_state::kUndetected);
        record.sourceKind = kind;
        record.options = options;
        PreparePrerequisiteRecord(record);
        settings.prerequisites.push_back(record);
    };
    add("present", source_kind::kUrl, "");
    add("package", source_kind::kSetupFile, "");
    add("web", source_kind::kUrl, "");
    add("site", source_kind::kOpenSite, "");
    add("wrong-os", source_kind::kSetupFile, "");
    add("skip", source_kind::kSetupFile, "i");
    DetectPrerequisites(settings, probe);
    std::vector<int32_t> states;
    for (const auto &record : settings.prerequisites)
        states.push_back(record.state);
    EXPECT_EQ(states, (std::vector<int32_t>{0, 1, 2, 3, 4, 1}));
    // Redetected, a record without searches counts as installed.
    DetectPrerequisite(settings, 5, true, probe);
    EXPECT_EQ(settings.prerequisites[5].state, prereq_state::kFound);
}

TEST(PrerequisiteModel, MandatoryPrerequisitesMustBeFoundAfterTheirInstall) {
    // Whether each record's search finds it after the install pass.
    struct Case {
        const char *what;
        const char *options;
        bool foundAfter;
        bool done;
    };
    const std::vector<Case> cases = {
        {"mandatory, installed", "m", true, true},
        {"mandatory, still missing", "m", false, false},
        {"optional, still missing", "", false, true},
        {"mandatory, skip detection", "mi", false, true},
    };
    for (const Case &c : cases) {
        bool installed = false;
        const PrerequisiteProbe probe{
            {}, [&installed](PrerequisiteRecord &) { return installed; }, {}};
        SetupSettings settings;
        PrerequisiteRecord record = Record("A", prereq_state::kUndetected);
        record.options = c.options;
        PreparePrerequisiteRecord(record);
        settings.prerequisites = {record};
        DetectPrerequisites(settings, probe);
        PrerequisiteInstaller installer({}, settings, nullptr, nullptr, nullptr, {.probe = probe});
        EXPECT_TRUE(installer.AnyPrerequisiteToInstall()) << c.what;
        EXPECT_EQ(installer.MandatoryPrerequisitesDone(), std::string(c.options).empty()) << c.what;
        installed = c.foundAfter;
        installer.SelectAllPrerequisites(false);
        EXPECT_EQ(installer.MandatoryPrerequisitesDone(), c.done) << c.what;
    }
}

TEST(PrerequisiteNames, FileNameFromUrl) {
    struct Case {
        const char *url;
        const char *name;
    };
    const std::vector<Case> cases = {
        {"http://h/dir/setup.exe", "setup.exe"},
        // The last character belongs to the name.
        {"http://h/x.msi", "x.msi"},
        {"http://h/a/setup.exe?lang=ru", "setup.exe"},
        {"http://h/get.php?u=ftp://s/f.zip", "get.php"},
        {"ftp://h/pub/redist_x86.tar.gz", "redist_x86.tar.gz"},
        {"http://h/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.exe",
         "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.exe"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(GuessFileNameFromUrl(c.url), c.name) << c.url;
}

TEST(PrerequisiteNames, UrlWithoutFileNameGetsAStableGeneratedName) {
    const std::string a = GuessFileNameFromUrl("http://h/dir/");
    EXPECT_EQ(a.rfind("download-", 0), 0u) << a;
    EXPECT_EQ(a.size(), 17u);
    EXPECT_EQ(GuessFileNameFromUrl("http://h/dir/"), a);
    EXPECT_NE(GuessFileNameFromUrl("http://h/other/"), a);
}

TEST(PrerequisiteNames, TargetPathFromFolderText) {
    struct Case {
        const char *folderText;
        const char *path;
    };
    const std::vector<Case> cases = {
        {"net?setup.exe", "/dl/net/setup.exe"},
        {"", "/dl/x.exe"},
        {"net", "/dl/net/x.exe"},
        {"?s.exe", "/dl/s.exe"},
        {"net?", "/dl/net/x.exe"},
        {"a\\b?c.exe", "/dl/a\\b/c.exe"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(DownloadTargetPath("/dl", c.folderText, "http://h/x.exe"), c.path)
            << c.folderText;
}

TEST(PrerequisiteDownloadCheck, SizeThenMd5AndOnlyAWrongMd5DeletesTheFile) {
    test::TempDir tmp("dlcheck");
    const std::string folder = tmp.path() + "/dl/";
    const std::string file = folder + "sub/deeper/a.bin";
    const std::string bytes(100, 'x');
    WriteFile(file, bytes);
    std::string md5;
    ASSERT_TRUE(ComputeFileMd5Hex(file, 0, md5));
    const std::string wrongMd5(32, '0');

    struct Case {
        const char *what;
        uint64_t expected;
        uint64_t announced;
        std::string md5;
        bool announceAccepted;
        int verdict;
        bool md5Computed;
        bool fileKept;
    };
    const std::vector<Case> cases = {
        {"sizes agree, right MD5", 100, 100, md5, true, download_check::kAccepted, true, true},
        {"no size announced: the disk counts", 100, 0, "", true, download_check::kAccepted, false,
         true},
        {"no size announced, disk differs", 99, 0, md5, true, download_check::kWrongSize, false,
         true},
        {"announced size only, disk differs", 0, 101, md5, true, download_check::kWrongSize, false,
         true},
        {"announced size contradicts", 99, 100, md5, false, download_check::kWrongSize, false,
         true},
        {"nothing known, no MD5", 0, 0, "", true, download_check::kAccepted, false, true},
        {"wrong MD5", 0, 100, wrongMd5, true, download_check::kWrongMd5, true, false},
    };
    for (const Case &c : cases) {
        WriteFile(file, bytes);
        DownloadCheck check(file, folder, c.expected, c.md5);
        EXPECT_EQ(check.Announce(c.announced), c.announceAccepted) << c.what;
        bool computed = false;
        EXPECT_EQ(check.Finish([&] { computed = true; }), c.verdict) << c.what;
        EXPECT_EQ(computed, c.md5Computed) << c.what;
        EXPECT_EQ(FileOrFolderExists(file), c.fileKept) << c.what;
        if (c.verdict == download_check::kWrongSize && c.announceAccepted) {
            EXPECT_EQ(check.FileSize(), 100u) << c.what;
        }
    }
    // The refused file went with the folders made for it, not the download
    // folder.
    EXPECT_FALSE(FileOrFolderExists(folder + "sub"));
    EXPECT_TRUE(FileOrFolderExists(folder));
}

class PrerequisiteDownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_root.empty());
        m_env.Set("KRV_SETUP_ROOT", m_root);
        m_env.Unset("KRV_REGISTRY_ROOT");
        UiVisible = false;
    }
    void TearDown() override { UiVisible = true; }

    // One downloadable record, detected (state 2).
    SetupSettings Settings(const std::string &url, int32_t exactSize, const std::string &md5) {
        SetupSettings settings;
        settings.general.downloadFolder = m_root + "/dl";
        PrerequisiteRecord record = Record("Redist", prereq_state::kUndetected);
        record.sourceKind = source_kind::kUrl;
        record.source = url;
        record.exactSize = exactSize;
        record.md5 = md5;
        record.folder = "sub/deeper?redist.bin";
        record.options = "m";
        settings.prerequisites.push_back(record);
        DetectPrerequisites(settings, m_probe);
        return settings;
    }

    test::TempDir m_tmp{"prereq"};
    const std::string m_root = m_tmp.path();
    test::ScopedEnv m_env;
    std::string m_reported;
    SetupMessages m_messages{nullptr,
                             [this](std::string_view text) { m_reported += std::string(text); }};
    // Nothing is found on this machine.
    const PrerequisiteProbe m_probe{{}, [](PrerequisiteRecord &) { return false; }, {}};
};

// A file found where the download goes stands for it only when nobody else
// can have placed or changed it (each such way is tried on OpenOwnFile in
// test_files.cpp; one stands for them here), and with the size and MD5 of
// the download.
TEST_F(PrerequisiteDownloadTest, PresentFileStandsForTheDownloadOnlyWhenItCanBeTrusted) {
    const std::string content(16, 'x');
    std::string md5;
    WriteFile(m_root + "/good.bin", content);
    ASSERT_TRUE(ComputeFileMd5Hex(m_root + "/good.bin", 0, md5));
    const std::string folder = m_root + "/dl/sub/deeper";
    const std::string file = folder + "/redist.bin";
    struct Row {
        const char *what;
        int32_t exactSize;
        std::string md5;
        std::function<void()> plant; // after the file was written
        bool downloaded;
    } rows[] = {
        {"right size", 16, "", [] {}, true},
        {"wrong size", 15, "", [] {}, false},
        {"right MD5", 16, md5, [] {}, true},
        {"wrong MD5", 16, std::string(32, '0'), [] {}, false},
        {"folder others may write", 16, "", [&] { ::chmod(folder.c_str(), 0777); }, false},
        // A shared folder of the package's own (such as the temporary one):
        // anyone could have put the file there.
        {"sticky folder others may write", 16, "", [&] { ::chmod(folder.c_str(), 01777); }, false},
    };
    for (const Row &row : rows) {
        SetupSettings settings = Settings("http://127.0.0.1:9/none", row.exactSize, row.md5);
        fs::remove_all(m_root + "/dl");
        WriteFile(file, content);
        ::chmod(file.c_str(), 0644);
        ::chmod(folder.c_str(), 0755);
        row.plant();
        PrerequisiteInstaller installer({}, settings, nullptr, nullptr, nullptr,
                                        {.probe = m_probe, .messages = m_messages});
        EXPECT_EQ(installer.GetPrerequisiteState(0),
                  row.downloaded ? prereq_state::kDownloaded : prereq_state::kDownload)
            << row.what;
        if (row.downloaded) {
            // Nothing to fetch: the port above would refuse it.
            EXPECT_EQ(installer.DownloadPass(nullptr), 0);
            EXPECT_TRUE(installer.IsSelected(0));
        }
    }
}

// Starts no program: notes the ones asked for and answers that each ran to
// its end.
platform::ProcessLauncher RunsNothing(std::vector<std::string> *started = nullptr) {
    return [started](const platform::ProcessStartInfo &info, bool) {
        if (started)
            started->push_back(info.program);
        platform::ProcessResult result;
        result.started = result.waited = true;
        return result;
    };
}

// A download is started only while its path still names the file that was
// checked: one put in its place after the check is never run.
TEST_F(PrerequisiteDownloadTest, OnlyTheCheckedDownloadIsStarted) {
    const std::string content(16, 'x');
    const std::string folder = m_root + "/dl/sub/deeper";
    const std::string file = folder + "/redist.bin";
    const auto plantFile = [&] {
        WriteFile(file, content);
        ::chmod(file.c_str(), 0755);
    };
    struct Row {
        const char *what;
        std::function<void()> change; // after the launch list was built
        bool started;
    } rows[] = {
        {"unchanged", [] {}, true},
        {"another file put in its place",
         [&] {
             WriteFile(m_root + "/other", content);
             ::chmod((m_root + "/other").c_str(), 0755);
             fs::rename(m_root + "/other", file);
         },
         false},
        {"its folder put aside for another",
         [&] {
             fs::rename(folder, m_root + "/aside");
             fs::create_directories(folder);
             plantFile();
         },
         false},
        {"its folder left through a link",
         [&] {
             fs::rename(folder, m_root + "/aside");
             fs::create_directory_symlink(m_root + "/aside", folder);
         },
         false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(m_root + "/dl");
        fs::remove_all(m_root + "/aside");
        plantFile();
        std::vector<std::string> started;
        const platform::ProcessLauncher recorder = RunsNothing(&started);
        SetupSettings settings = Settings("http://127.0.0.1:9/none", 16, "");
        PrerequisiteInstaller installer(
            {}, settings, nullptr, nullptr, nullptr,
            {.probe = m_probe, .programs = recorder, .messages = m_messages});
        ASSERT_EQ(installer.GetPrerequisiteState(0), prereq_state::kDownloaded);
        ASSERT_EQ(installer.BuildLaunchList(false), 0);
        ASSERT_EQ(installer.Launches().Items().size(), 1u);
        row.change();
        EXPECT_EQ(installer.Launches().RunLaunchItem(0), row.started);
        EXPECT_EQ(started,
                  row.started ? std::vector<std::string>{file} : std::vector<std::string>{});
    }
}

// The entry written before the setups run stays through a stop only while
// they run (the stop may be the restart one of them started); once they are
// over with no restart to come, a stop removes it again, so that the next
// login does not start a setup that nothing left unfinished.
TEST_F(PrerequisiteDownloadTest, AStopKeepsTheResumeEntryOnlyWhileTheSetupsRun) {
    const std::string file = m_root + "/dl/sub/deeper/redist.bin";
    WriteFile(file, std::string(16, 'x'));
    ::chmod(file.c_str(), 0755);
    const std::string bootstrapper = m_root + "/TelmarSetup2.3";
    const std::string entry = ResumeEntryPath(bootstrapper);
    ASSERT_FALSE(entry.empty());
    for (const bool launchesOver : {false, true}) {
        SCOPED_TRACE(launchesOver ? "setups over" : "setups running");
        fs::remove(entry);
        const int status = test::StatusOfChild([&] {
            platform::ForwardTerminationSignals();
            platform::SetFileRemovedOnStop(entry); // as the run that holds the lock
            const platform::ProcessLauncher recorder = RunsNothing();
            SetupSettings settings = Settings("http://127.0.0.1:9/none", 16, "");
            PrerequisiteInstaller installer({}, settings, nullptr, nullptr, nullptr,
                                            {.probe = m_probe,
                                             .resumeCommand =
                                                 [&] {
                                                     return ResumeCommand{bootstrapper, "/exenoui"};
                                                 },
                                             .programs = recorder,
                                             .messages = m_messages});
            if (installer.BuildLaunchList(false) != 0 || !fs::exists(entry) ||
                !installer.Launches().RunLaunchItem(0))
                return 2;
            if (launchesOver)
                installer.LaunchesEnded();
            ::raise(SIGTERM); // no program runs: the process ends at once
            return 3;
        });
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        EXPECT_EQ(fs::exists(entry), !launchesOver);
    }
    fs::remove(entry);
}

TEST_F(PrerequisiteDownloadTest, DownloadedFileIsCheckedBeforeItIsAccepted) {
    test::LocalHttpServer server;
    ASSERT_TRUE(server.Start({})) << server.Error();
    const std::string good = m_root + "/expected.bin";
    WriteFile(good, test::PatternBytes(0, 1000));
    std::string md5;
    ASSERT_TRUE(ComputeFileMd5Hex(good, 0, md5));
    const std::string wrongMd5(32, '0');

    struct Case {
        const char *what;
        std::string path;
        int32_t size;
        std::string md5;
        int pass;
        bool accepted;
        bool selected;
        const char *reported; // part of the report, or null for none
        bool stopped;         // a stop signal comes during the download
    };
    const std::vector<Case> cases = {
        {"accepted", "/gen/1000", 1000, md5, 0, true, true, nullptr, false},
        {"wrong size", "/gen/1000", 999, md5, 5, false, true, "Redist", false},
        {"wrong MD5", "/gen/1000", 0, wrongMd5, 5, false, true, "MD5", false},
        {"failed download", "/gen/1000?status=404", 0, "", 0, false, false, nullptr, false},
        {"stopped by a signal", "/gen/100000?throttle=20&chunk=20000", 0, "", 0, false, false,
         nullptr, true},
    };
    for (const Case &c : cases) {
        std::filesystem::remove_all(m_root + "/dl");
        m_reported.clear();
        SetupSettings settings = Settings(server.Url(c.path), c.size, c.md5);
        PrerequisiteInstaller installer({}, settings, nullptr, nullptr, nullptr,
                                        {.probe = m_probe, .messages = m_messages});
        const std::string file = m_root + "/dl/sub/deeper/redist.bin";
        if (c.stopped) {
            // A stop stays for the rest of the process: the pass runs in a
            // child, and the download it cut short is no file to accept.
            const int status = test::StatusOfChild([&] {
                platform::ForwardTerminationSignals();
                struct Stopping : ProgressSink {
                    bool IsPaused() override { return ::raise(SIGTERM) != 0; }
                } sink;
                const int pass = installer.DownloadPass(&sink);
                return pass != c.pass                         ? 1
                       : settings.prerequisites[0].downloaded ? 2
                       : !m_reported.empty()                  ? 3
                                                              : 0;
            });
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.what << " " << status;
            EXPECT_FALSE(FileOrFolderExists(file)) << c.what;
            EXPECT_FALSE(FileOrFolderExists(file + ".part")) << c.what;
            continue;
        }
        EXPECT_EQ(installer.DownloadPass(nullptr), c.pass) << c.what;
        EXPECT_EQ(settings.prerequisites[0].downloaded, c.accepted) << c.what;
        EXPECT_EQ(FileOrFolderExists(file), c.accepted) << c.what;
        EXPECT_EQ(installer.IsSelected(0), c.selected) << c.what;
        // Downloaded is not installed, and a failed download deselects the
        // record without making it any less missing.
        installer.SelectAllPrerequisites(false);
        EXPECT_FALSE(installer.MandatoryPrerequisitesDone()) << c.what;
        if (c.accepted) {
            EXPECT_EQ(installer.GetPrerequisiteState(0), prereq_state::kDownloaded);
            EXPECT_EQ(installer.Downloads().FilesToDelete(), std::vector<std::string>{file});
        }
        if (c.pass != 0) {
            // The rejected file went with the folders made for it.
            EXPECT_FALSE(FileOrFolderExists(m_root + "/dl/sub")) << c.what;
            EXPECT_TRUE(FileOrFolderExists(m_root + "/dl")) << c.what;
        }
        if (c.reported)
            EXPECT_NE(m_reported.find(c.reported), std::string::npos) << c.what << m_reported;
        else
            EXPECT_EQ(m_reported, "") << c.what;
    }
}

// A download the user cancels waits in this user's own folder for the
// package, which stays the same from run to run: the next run (a new
// installer, as after a new start) continues it with a range request
// instead of fetching it again from its start.
TEST_F(PrerequisiteDownloadTest, CancelledDownloadIsResumedByTheNextRun) {
    test::LocalHttpServer server;
    ASSERT_TRUE(server.Start({})) << server.Error();
    const std::string folder = ResumableDownloadFolder("{PKG-ID}");
    ASSERT_EQ(folder, m_root + "/home/.cache/krv-setup/{PKG-ID}/");
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    const std::string part = folder + "sub/deeper/redist.bin.part";
    // Cancels once the first bytes are on disk (in the first run only).
    struct CancelOnceStarted : ProgressSink {
        bool IsCancelled() override { return armed && GetPathFileSize(path) > 0; }
        std::string path;
        bool armed = true;
    } sink;
    sink.path = part;
    for (const bool first : {true, false}) {
        SetupSettings settings =
            Settings(server.Url("/gen/400000?throttle=20&chunk=20000"), 400000, "");
        settings.general.downloadFolder.clear();
        settings.general.downloadBase = folder;
        PrerequisiteInstaller installer({}, settings, nullptr, nullptr, nullptr,
                                        {.probe = m_probe, .messages = m_messages});
        sink.armed = first;
        EXPECT_EQ(installer.DownloadPass(&sink), 0) << first;
        EXPECT_EQ(settings.prerequisites[0].downloaded, !first);
        EXPECT_EQ(GetPathFileSize(part) > 0, first);
        // Before the run ends, which takes the file away with it.
        EXPECT_EQ(ReadFile(folder + "sub/deeper/redist.bin") == test::PatternBytes(0, 400000),
                  !first);
    }
    const std::vector<std::string> requests = server.Log();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].find("range=-"), std::string::npos) << requests[0];
    EXPECT_NE(requests[1].find("range=bytes="), std::string::npos) << requests[1];
    EXPECT_EQ(requests[1].find("range=bytes=0-"), std::string::npos) << requests[1];
}

TEST_F(PrerequisiteDownloadTest, CancelledPassFetchesNothingMore) {
    test::LocalHttpServer server;
    ASSERT_TRUE(server.Start({})) << server.Error();
    struct Cancelling : ProgressSink {
        bool IsCancelled() override { return true; }
    } sink;
    SetupSettings settings = Settings(server.Url("/gen/1000"), 0, "");
    PrerequisiteInstaller installer({}, settings, nullptr, nullptr, nullptr,
                                    {.probe = m_probe, .messages = m_messages});
    EXPECT_EQ(installer.DownloadPass(&sink), 0);
    EXPECT_FALSE(settings.prerequisites[0].downloaded);
    EXPECT_TRUE(server.Log().empty());
}

TEST_F(PrerequisiteDownloadTest, SitesOpenForManualDownloadsAndSetupComesBack) {
    std::vector<std::string> started;
    const platform::ProcessLauncher opener = [&started](const platform::ProcessStartInfo &info,
                                                        bool) {
        started.push_back(info.commandLine);
        platform::ProcessResult result;
        result.started = true;
        return result;
    };
    SetupSettings settings;
    PrerequisiteRecord record = Record("Site", prereq_state::kUndetected);
    record.sourceKind = source_kind::kOpenSite;
    record.source = "https://example.invalid/get";
    settings.prerequisites = {record, Record("Other", prereq_state::kUndetected)};
    DetectPrerequisites(settings, m_probe);
    PrerequisiteInstaller installer(
        {}, settings, nullptr, nullptr, nullptr,
        {.probe = m_probe,
         .resumeCommand =
             [this] {
                 return ResumeCommand{m_root + "/TelmarSetup2.3", "/prereqs 0"};
             },
         .programs = opener,
         .messages = m_messages});
    EXPECT_TRUE(installer.AnyPrerequisiteToOpenSite());
    EXPECT_EQ(installer.OpenSitesPass(nullptr), 0);
    EXPECT_EQ(started, std::vector<std::string>{"xdg-open https://example.invalid/get"});
    // The shortcut stays in the temporary folder.
    bool shortcut = false;
    for (const auto &file : std::filesystem::directory_iterator(m_root + "/tmp"))
        if (file.path().extension() == ".url")
            shortcut = ReadFile(file.path()) ==
                       "[InternetShortcut]\r\nURL=https://example.invalid/get\r\n";
    EXPECT_TRUE(shortcut);
    auto entry = platform::ReadAutostartEntry(ResumeEntryFolder(),
                                              ResumeEntryFileName(m_root + "/TelmarSetup2.3"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->arguments,
              (std::vector<std::string>{m_root + "/TelmarSetup2.3", "/prereqs", "0"}));
}

TEST_F(PrerequisiteDownloadTest, ListDeletesWhatItRecorded) {
    const std::string kept = m_root + "/kept.bin";
    const std::string recorded = m_root + "/recorded.bin";
    WriteFile(kept, "k");
    WriteFile(recorded, "r");
    {
        DownloadList list(m_root, false, test::QuietMessages());
        EXPECT_TRUE(list.FolderSet());
        EXPECT_EQ(list.Folder(), m_root + "/");
        list.RecordFileForDeletion(recorded);
        EXPECT_EQ(list.DownloadListItem(0), download_result::kFailed);
    }
    EXPECT_FALSE(FileOrFolderExists(recorded));
    EXPECT_TRUE(FileOrFolderExists(kept));
    // The download folder may outlive the run (the user's cache): a stop
    // between two steps takes what the list would delete, and only while
    // the list has it.
    WriteFile(recorded, "r");
    {
        DownloadList list(m_root, false, test::QuietMessages());
        list.RecordFileForDeletion(recorded);
        RemoveWhatAStopTakes();
        EXPECT_FALSE(FileOrFolderExists(recorded));
        list.DeleteDownloadedFiles();
        WriteFile(recorded, "a later file of that name");
        RemoveWhatAStopTakes();
        EXPECT_TRUE(FileOrFolderExists(recorded));
    }
    EXPECT_TRUE(FileOrFolderExists(kept));
}

} // namespace
} // namespace krv::setup
