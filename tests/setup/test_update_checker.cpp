// The update check: section choice, file names, the question, downloads
// from the local HTTP server with their failures, the MD5 check, the start
// of the newer program; and the whole road through the setup program, from
// an updates file offering a newer setup built by the package builder to the
// start of that program with this run's switches.
#include "local_servers.h"
#include "log.h"
#include "md5.h"
#include "messages.h"
#include "package_writer.h"
#include "paths.h"
#include "payload_package.h"
#include "program_run.h"
#include "program_steps.h"
#include "setup_runner.h"
#include "setup_ui.h"
#include "support_env.h"
#include "support_runs.h"
#include "ui_strings.h"
#include "update_checker.h"

#include <setup_process.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char **environ;

namespace krv::setup {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

TEST(UpdateSections, ChoiceByVersionAndApplicability) {
    VersionQuad running;
    ASSERT_TRUE(ParseVersion("2.5.0.0", running));
    struct Case {
        const char *flags, *version, *applies;
        bool taken;
    } cases[] = {
        {nullptr, "2.6", nullptr, true},    {nullptr, "2.5", nullptr, false},
        {nullptr, nullptr, nullptr, false}, {"Full,IsPatchX", "9", nullptr, false},
        {"Full", "9.0", nullptr, true},     {nullptr, "3", "<2.0;=2.5", true},
        {nullptr, "3", "<2.0", false},      {nullptr, "3", ">=2.5.0.1;<=2.4", false},
        {nullptr, "3", ">2.4", true},       {nullptr, "3", ";", false},
        {nullptr, "3", "junk;2.5", true},
    };
    for (const Case &c : cases) {
        IniSection section;
        for (auto [key, value] : {std::pair{"Flags", c.flags},
                                  {"ProductVersion", c.version},
                                  {"UpdatedApplicationVersions", c.applies}})
            if (value)
                section.pairs.emplace_back(key, value);
        EXPECT_EQ(SelectUpdateSection(section, running), c.taken)
            << (c.version ? c.version : "-") << " " << (c.applies ? c.applies : "-");
    }
}

TEST(UpdateSections, UrlHelpersAndSafeFileNames) {
    const char *cases[][3] = {
        {"TelmarSetup2.3", "http://h/x/new.bin", "TelmarSetup2.3"},
        {"", "http://h/x/TelmarSetup2.3?v=2", "TelmarSetup2.3"},
        {"../../.bashrc", "http://h/a", ".bashrc"}, // never outside the folder
        {"..", "http://h/", ""},
        {"a:b", "http://h/", "a_b"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(UpdateFileName(c[0], c[1]), c[2]) << c[0] << " " << c[1];
    EXPECT_EQ(FileUrlToPath("file:///srv/u.ini"), "/srv/u.ini");
    EXPECT_EQ(FileUrlToPath("FILE:///srv/u.ini"), "");
    EXPECT_EQ(GetUrlHostName("http://updates.example:8080/u.ini"), "updates.example");
}

// Cancels the first download attempt as it starts.
class CancelFirstAttempt : public ProgressSink {
  public:
    explicit CancelFirstAttempt(UpdateChecker *&checker) : m_checker(checker) {}
    void BeginItem(uint64_t, std::string_view) override {
        if (++items == 1)
            m_checker->CancelDownload();
    }
    int items = 0;

  private:
    UpdateChecker *&m_checker;
};

class UpdateCheck : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_files = new test::TempDir("upd-files");
        WriteFile(s_files->path() + "/new.bin", std::string(5000, 'n'));
        s_http = new test::LocalHttpServer;
        s_http->SetFileRoot(s_files->path());
        ASSERT_TRUE(s_http->Start({})) << s_http->Error();
    }
    static void TearDownTestSuite() {
        delete s_http;
        delete s_files;
    }
    void SetUp() override {
        ASSERT_FALSE(m_dir.path().empty());
        m_env.Set("KRV_SETUP_ROOT", m_dir.path() + "/root");
        for (const char *name :
             {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"})
            m_env.Unset(name);
        UiVisible = true;
        m_launcher = [this](const platform::ProcessStartInfo &info, bool) {
            m_started.push_back({info.program, info.commandLine});
            return platform::ProcessResult{true, 0, false, 0};
        };
        m_downloads = m_dir.path() + "/downloads/";
    }
    void TearDown() override { UiVisible = true; }
    // An updates file offering one section (with `extra` keys) behind an
    // older section that is passed over.
    std::string UpdatesFile(const std::string &section) {
        const std::string path = m_dir.path() + "/updates.ini";
        WriteFile(path, "[patch]\r\nFlags=IsPatch\r\nProductVersion=9.9\r\nURL=x\r\nSize=1\r\n"
                        "[nosize]\r\nProductVersion=9.8\r\nURL=x\r\n"
                        "[old]\r\nProductVersion=1.0\r\nURL=x\r\nSize=1\r\n"
                        "[new]\r\nProductVersion=2.4.1\r\n" +
                            section);
        return "file://" + path;
    }

    static inline test::TempDir *s_files = nullptr;
    static inline test::LocalHttpServer *s_http = nullptr;
    test::TempDir m_dir{"upd"};
    test::ScopedEnv m_env;
    std::shared_ptr<ScriptedMessageBoxes> m_boxes = std::make_shared<ScriptedMessageBoxes>();
    SetupUi m_ui{nullptr, SetupMessages(m_boxes)};
    std::vector<std::pair<std::string, std::string>> m_started; // program, command line
    platform::ProcessLauncher m_launcher;                       // records into m_started
    std::string m_downloads;
};

TEST_F(UpdateCheck, FoundDownloadedUnderItsServerNameVerifiedAndStarted) {
    std::string md5;
    ASSERT_TRUE(ComputeFileMd5Hex(s_files->path() + "/new.bin", 0, md5));
    std::string updates;
    {
        UpdateChecker checker(
            m_ui,
            UpdatesFile("URL=" + s_http->Url("/files/new.bin") +
                        "\r\nSize=5000\r\nServerFileName=Setup.exe\r\nMD5=" + md5 + "\r\n"),
            "2.4.0.0", "/exelog \"/tmp/a b.log\" PROP=1", m_launcher);
        checker.SetDownloadFolder(m_downloads);
        m_boxes->Answer(answer::kYes);
        EXPECT_TRUE(checker.Run());
        EXPECT_EQ(checker.Offer().version, "2.4.1");
        EXPECT_EQ(checker.Target(), m_downloads + "Setup.exe");
        EXPECT_EQ(ReadFile(m_downloads + "Setup.exe"), std::string(5000, 'n'));
        const auto &starts = m_started;
        ASSERT_EQ(starts.size(), 1u);
        EXPECT_EQ(starts[0].first, m_downloads + "Setup.exe");
        EXPECT_NE(starts[0].second.find("/exenoupdates /exelog \"/tmp/a b.log\" PROP=1"),
                  std::string::npos)
            << starts[0].second;
        const auto shown = m_boxes->Shown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_NE(shown[0].text.find("(2.4.1)"), std::string::npos) << shown[0].text;
        EXPECT_EQ(shown[0].style, mb::kYesNo | mb::kIconInformation);
        updates = checker.UpdatesFile();
        EXPECT_TRUE(fs::exists(updates));
        // It lies in a folder of its own that nobody else may write to, so no
        // link planted in the shared temporary folder can stand in its way.
        struct stat folder {};
        ASSERT_EQ(::lstat(fs::path(updates).parent_path().c_str(), &folder), 0);
        EXPECT_TRUE(S_ISDIR(folder.st_mode));
        EXPECT_EQ(folder.st_mode & 0777, 0700u);
        EXPECT_EQ(folder.st_uid, ::getuid());
        EXPECT_NE(fs::path(updates).parent_path(), fs::path(GetTempFolder()).parent_path());
    }
    // The fetched updates file goes with the checker, and its folder too.
    EXPECT_FALSE(fs::exists(updates));
    EXPECT_FALSE(fs::exists(fs::path(updates).parent_path()));
}

TEST_F(UpdateCheck, NothingIsDownloadedWithoutAYes) {
    const std::string section = "URL=" + s_http->Url("/files/new.bin") + "\r\nSize=5000\r\n";
    for (bool visible : {true, false}) {
        UiVisible = visible;
        m_boxes->Clear();
        m_boxes->Answer(answer::kNo);
        UpdateChecker checker(m_ui, UpdatesFile(section), "2.4", {}, m_launcher);
        checker.SetDownloadFolder(m_downloads);
        EXPECT_FALSE(checker.Run());
        EXPECT_EQ(m_boxes->Shown().size(), visible ? 1u : 0u);
    }
    EXPECT_FALSE(fs::exists(m_downloads + "new.bin"));
    EXPECT_TRUE(m_started.empty());
    // No newer section: no question either.
    UpdateChecker current(m_ui, UpdatesFile(section), "2.4.1", {}, m_launcher);
    EXPECT_FALSE(current.Run());
}

TEST_F(UpdateCheck, FailedDownloadsAskOnceToRetryAndLeaveNothing) {
    struct Case {
        const char *name, *path, *size, *md5;
        int answer;
        int attempts;
        uint32_t box; // string of the last box
    } cases[] = {
        {"not found, retried", "/files/missing.bin", "5000", "", answer::kRetry, 2,
         kNewerDownloadFailedId},
        {"one byte short, cancelled", "/files/new.bin", "5001", "", answer::kCancel, 1,
         kNewerDownloadFailedId},
        {"wrong MD5", "/files/new.bin", "5000", "0123456789abcdef0123456789abcdef", 0, 1,
         kCorruptDownloadId},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        m_boxes->Clear();
        m_boxes->Answer(answer::kYes);
        if (c.answer)
            m_boxes->Answer(c.answer);
        UpdateChecker checker(m_ui,
                              UpdatesFile(std::string("URL=") + s_http->Url(c.path) +
                                          "\r\nSize=" + c.size + "\r\nMD5=" + c.md5 + "\r\n"),
                              "2.4", {}, m_launcher);
        checker.SetDownloadFolder(m_downloads);
        checker.SetRetryWaitMs(1);
        EXPECT_FALSE(checker.Run());
        EXPECT_EQ(checker.Attempts(), c.attempts);
        EXPECT_FALSE(fs::exists(checker.Target()));
        EXPECT_FALSE(fs::exists(checker.Target() + ".part"));
        const auto shown = m_boxes->Shown();
        ASSERT_EQ(shown.size(), 2u); // the question, then one more box
        EXPECT_EQ(shown[1].text.substr(0, 10), LoadUiString(c.box).substr(0, 10));
    }
    EXPECT_TRUE(m_started.empty());
}

// A stop signal during the newer version's download: the run is ending, so
// nobody is asked to try again, and nothing of the download stays. In a
// child process: a stop stays for the rest of the process.
TEST_F(UpdateCheck, StopSignalDuringTheDownloadAsksNothingMore) {
    struct Stopping : ProgressSink {
        void Advance(uint64_t) override { ::raise(SIGTERM); }
    } sink;
    UpdateChecker checker(m_ui,
                          UpdatesFile("URL=" + s_http->Url("/files/new.bin") + "\r\nSize=5000\r\n"),
                          "2.4", {}, m_launcher);
    checker.SetProgressSink(&sink);
    checker.SetDownloadFolder(m_downloads);
    m_boxes->Answer(answer::kYes);
    m_boxes->Answer(answer::kRetry);
    const int status = test::StatusOfChild([&] {
        platform::ForwardTerminationSignals();
        const bool ran = checker.Run();
        return ran ? 1 : m_boxes->Shown().size() != 1 ? 2 : 0; // the first question only
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(fs::exists(checker.Target()));
    EXPECT_FALSE(fs::exists(checker.Target() + ".part"));
}

// A newer program that cannot be started is no reason to end the run: it
// is reported, and the running version installs.
TEST_F(UpdateCheck, NewerVersionThatDoesNotStartIsReportedAndNotASuccess) {
    const platform::ProcessLauncher cannotStart = [this](const platform::ProcessStartInfo &info,
                                                         bool) {
        m_started.push_back({info.program, info.commandLine});
        return platform::ProcessResult{false, ENOEXEC, false, 0};
    };
    UpdateChecker checker(m_ui,
                          UpdatesFile("URL=" + s_http->Url("/files/new.bin") +
                                      "\r\nSize=5000\r\nServerFileName=TelmarSetup2.3\r\n"),
                          "2.4", {}, cannotStart);
    checker.SetDownloadFolder(m_downloads);
    m_boxes->Answer(answer::kYes);
    EXPECT_FALSE(checker.Run());
    EXPECT_EQ(m_started.size(), 1u);
    const auto shown = m_boxes->Shown();
    ASSERT_EQ(shown.size(), 2u); // the question, then the failure
    EXPECT_NE(shown[1].text.find("Cannot start the newer version"), std::string::npos)
        << shown[1].text;
    EXPECT_NE(shown[1].text.find(m_downloads + "TelmarSetup2.3"), std::string::npos);
}

TEST_F(UpdateCheck, RetryAfterACancelledAttemptIsNotCancelledAgain) {
    UpdateChecker *current = nullptr;
    CancelFirstAttempt sink(current);
    UpdateChecker checker(m_ui,
                          UpdatesFile("URL=" + s_http->Url("/files/new.bin?x=1") +
                                      "\r\nSize=5000\r\nServerFileName=TelmarSetup2.3\r\n"),
                          "2.4", {}, m_launcher);
    current = &checker;
    checker.SetProgressSink(&sink);
    checker.SetDownloadFolder(m_downloads);
    m_boxes->Answer(answer::kYes);
    m_boxes->Answer(answer::kRetry);
    EXPECT_TRUE(checker.Run());
    EXPECT_EQ(checker.Attempts(), 2);
    EXPECT_EQ(sink.items, 2);
    EXPECT_EQ(m_started.size(), 1u);
}

// An updates file is small: one that grows past 4 MiB is stopped while it
// comes (not written whole and refused afterwards), dropped, and the log
// says why; a local one that large is not copied.
TEST_F(UpdateCheck, UpdatesFileLargerThanTheCapIsStoppedAndDropped) {
    const std::string sparse = m_dir.path() + "/huge.ini";
    { std::ofstream create(sparse); }
    fs::resize_file(sparse, 64u << 20);
    struct Case {
        const char *name;
        std::string url;
    } cases[] = {
        {"size announced", s_http->Url("/gen/67108864")},
        {"size unknown", s_http->Url("/gen/67108864?nolength=1")},
        {"local file", "file://" + sparse},
    };
    const std::string logPath = m_dir.path() + "/cap.log";
    CloseLog();
    SetLogFilePath(logPath);
    LoggingEnabled = true;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        UpdateChecker checker(m_ui, c.url, "2.4");
        EXPECT_FALSE(checker.FetchUpdatesFile());
        EXPECT_FALSE(fs::exists(checker.UpdatesFile()));
        EXPECT_FALSE(fs::exists(checker.UpdatesFile() + ".part"));
    }
    LoggingEnabled = false;
    CloseLog();
    const std::string log = ReadFile(logPath);
    std::size_t lines = 0;
    for (std::size_t at = 0;
         (at = log.find("the updates file is larger than 4194304 bytes", at)) != std::string::npos;
         ++at)
        ++lines;
    EXPECT_EQ(lines, 3u) << log;
}

// The setup program itself: an older setup finds the newer one through its
// settings' UpdatesUrl, fetches and checks it and starts it with its own
// switches; the older run then ends with 0 without installing.
TEST_F(UpdateCheck, OlderSetupStartsTheNewerOneFromTheServer) {
    const std::string bin = test::BinFolder();
    const std::string d = m_dir.path();
    auto build = [&](const std::string &version, const std::string &updatesUrl,
                     const std::string &out) {
        package::PackageWriter writer(bin + "/TelmarSetup2.3");
        writer.SetContainerFlags(0x2); // settings present
        writer.AddSettings("[GeneralOptions]\r\nProductVersion=" + version +
                           "\r\nUpdatesUrl=" + updatesUrl + "\r\n");
        std::string error;
        EXPECT_TRUE(writer.Write(out, error)) << error;
    };
    const std::string served = s_files->path() + "/TelmarSetup2.3-2.3.1";
    build("2.3.1", "", served);
    std::string md5;
    ASSERT_TRUE(ComputeFileMd5Hex(served, 0, md5));
    WriteFile(s_files->path() + "/updates.ini",
              "[Telmar]\r\nProductVersion=2.3.1\r\nUpdatedApplicationVersions=<2.3.1\r\nURL=" +
                  s_http->Url("/files/TelmarSetup2.3-2.3.1") +
                  "\r\nSize=" + std::to_string(fs::file_size(served)) + "\r\nMD5=" + md5 +
                  "\r\nServerFileName=TelmarSetup2.3\r\n");
    const std::string older = d + "/old/TelmarSetup2.3";
    fs::create_directories(d + "/old");
    build("2.3.0", s_http->Url("/files/updates.ini"), older);

    // The newer program really runs (and ends) before the launch returns.
    const platform::ProcessLauncher runsIt = [this](const platform::ProcessStartInfo &info, bool) {
        m_started.push_back({info.program, info.commandLine});
        platform::ProcessResult result;
        std::vector<std::string> args = platform::SplitCommandLine(info.commandLine);
        std::vector<char *> argv;
        for (std::string &arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        result.started =
            ::posix_spawn(&pid, info.program.c_str(), nullptr, nullptr, argv.data(), environ) == 0;
        int status = 0;
        if (result.started && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
            result.waited = true;
            result.exitCode = uint32_t(WEXITSTATUS(status));
        }
        return result;
    };
    m_env.Set("QT_QPA_PLATFORM", "offscreen");
    m_boxes->Answer(answer::kYes);
    const std::string log = d + "/setup.log";
    int launches = 0;
    SetupServices services;
    services.messages = m_ui.Messages();
    services.programs = runsIt;
    services.launcher = [&launches](const std::string &, const std::string &, SetupUi &) {
        ++launches;
        return 0u;
    };
    services.steps.updates = std::make_unique<ProgramUpdateStep>();
    const int code = ProgramRun({"/exelog", log, "PROP=1"}, older, std::move(services),
                                test::PayloadPackageSequence());
    EXPECT_EQ(code, 0) << ReadFile(log);
    EXPECT_EQ(launches, 0); // nothing was installed by the older run

    const std::string downloaded = m_dir.path() + "/root/home/Downloads/TelmarSetup2.3";
    const auto &starts = m_started;
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].first, downloaded);
    EXPECT_EQ(ReadFile(downloaded), ReadFile(served));
    const std::string text = ReadFile(log);
    EXPECT_NE(text.find("Found a newer version on server. Version found:2.3.1"), std::string::npos);
    EXPECT_NE(text.find("User accepted to install a newer version."), std::string::npos);
    // The newer program logged its own start with the older run's switches.
    EXPECT_NE(text.find("Full command line:" + platform::QuoteArgument(downloaded) + " /exelog " +
                        log + " /exenoupdates PROP=1"),
              std::string::npos)
        << text;
}

} // namespace
} // namespace krv::setup
