#include "credentials.h"
#include "installed_products.h"
#include "installer_launch.h"
#include "local_servers.h"
#include "log.h"
#include "md5.h"
#include "messages.h"
#include "prerequisite_steps.h"
#include "program_steps.h"
#include "run_stop.h"
#include "runner_dialogs.h"
#include "setup_runner.h"
#include "support_env.h"
#include "support_windows.h"
#include "ui_strings.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace krv::setup {
namespace {

using test::ReadFile;
using test::WriteFile;

// What the fake package was told and answers.
struct PackageScript {
    int openResult = 0;
    uint32_t flags = 0x2;
    std::string id = "0123456789abcdef0123456789abcdef";
    std::string settings = "[GeneralOptions]\nMinWIVer=0\n";
    int extractResult = 0;
    std::string errorText;
    // Seen.
    int keepMode = -1;
    int keepModeAtCleanUp = -1;
    bool cleanedUp = false;
    std::string stem;
    std::string password;
    int extractions = 0;
};

class FakePackage : public RunnerPackage {
  public:
    FakePackage(PackageScript &script, std::string mainPackage)
        : m_s(script), m_main(std::move(mainPackage)) {}
    int Open(const std::string &path) override {
        m_path = path;
        return m_s.openResult;
    }
    std::string PackagePath() const override { return m_path; }
    std::string ErrorText() const override { return m_s.errorText; }
    uint32_t ContainerFlags() const override { return m_s.flags; }
    std::string PackageId() const override { return m_s.id; }
    bool ReadSettings(IniDocument &document) override {
        // Settings text lines end with CR LF.
        std::string text;
        for (char c : m_s.settings)
            text += c == '\n' ? std::string("\r\n") : std::string(1, c);
        ParseIniText(document, text);
        return true;
    }
    void SetExtractionFolder(const std::string &) override {}
    void SetSecondFolder(const std::string &) override {}
    void SetPackageNameStem(const std::string &stem) override { m_s.stem = stem; }
    void SetPassword(const std::string &password) override { m_s.password = password; }
    void SetKeepMode(int mode) override { m_s.keepMode = mode; }
    int KeepMode() const override { return m_s.keepMode; }
    void SetPackJars(bool) override {}
    int ExtractMainPackage(std::string &path, const ExtractionDialogParts &) override {
        ++m_s.extractions;
        path = m_main;
        return m_s.extractResult;
    }
    int ExtractAll(const ExtractionDialogParts &) override { return 0; }
    void CleanUpExtraction() override {
        m_s.cleanedUp = true;
        m_s.keepModeAtCleanUp = m_s.keepMode;
    }

  private:
    PackageScript &m_s;
    std::string m_main;
    std::string m_path;
};

class FunctionTaskForTest : public SetupTask {
  public:
    explicit FunctionTaskForTest(std::function<void()> body) : m_body(std::move(body)) {}
    void Run() override { m_body(); }

  private:
    std::function<void()> m_body;
};

// The steps other modules own (update check, language, conditions,
// prerequisites), answered from the test.
struct StepScript {
    bool updateStarted = false;
    int language = 0;
    bool conditionsMet = true;
    int prerequisites = 0;
    bool rebootPending = false;
};
class ScriptedUpdates : public UpdateStep {
  public:
    explicit ScriptedUpdates(StepScript s) : m_s(s) {}
    bool CheckForUpdates(SetupRunner &, SetupSettings &) override { return m_s.updateStarted; }

  private:
    StepScript m_s;
};
class ScriptedLanguage : public LanguageStep {
  public:
    explicit ScriptedLanguage(StepScript s) : m_s(s) {}
    int ChooseSetupLanguage(SetupRunner &, SetupSettings &) override { return m_s.language; }

  private:
    StepScript m_s;
};
class ScriptedConditions : public ConditionStep {
  public:
    explicit ScriptedConditions(StepScript s) : m_s(s) {}
    bool CheckLaunchConditions(SetupRunner &, SetupSettings &) override {
        return m_s.conditionsMet;
    }

  private:
    StepScript m_s;
};
class ScriptedPrerequisites : public PrerequisiteStep {
  public:
    explicit ScriptedPrerequisites(StepScript s) : m_s(s) {}
    int RunPrerequisites(SetupRunner &runner, SetupSettings &) override {
        runner.SetRebootPending(m_s.rebootPending);
        return m_s.prerequisites;
    }

  private:
    StepScript m_s;
};
SetupSteps ScriptedSteps(StepScript s) {
    SetupSteps steps;
    steps.updates = std::make_unique<ScriptedUpdates>(s);
    steps.language = std::make_unique<ScriptedLanguage>(s);
    steps.conditions = std::make_unique<ScriptedConditions>(s);
    steps.prerequisites = std::make_unique<ScriptedPrerequisites>(s);
    return steps;
}

class RunnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_root.empty());
        m_env.Set("KRV_SETUP_ROOT", m_root);
        m_env.Unset("KRV_REGISTRY_ROOT");
        // The installer: records its arguments and answers with $FAKE_CODE.
        WriteFile(m_root + "/fake-msiexec", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + m_root +
                                                "/args\"\nexit ${FAKE_CODE:-0}\n");
        ::chmod((m_root + "/fake-msiexec").c_str(), 0755);
        m_env.Set(kInstallerProgramVariable, m_root + "/fake-msiexec");
        // The user's runtime folder, where the single-instance lock lies.
        std::filesystem::create_directories(m_runtime);
        std::filesystem::permissions(m_runtime, std::filesystem::perms::owner_all);
        m_env.Set("XDG_RUNTIME_DIR", m_runtime);
        m_cwd = std::filesystem::current_path();
    }
    std::string LockFile(const std::string &id) const {
        return m_runtime + "/Parvext_" + id + ".lock";
    }
    void TearDown() override {
        std::filesystem::current_path(m_cwd);
        LoggingEnabled = false;
        UiVisible = true;
        CloseLog();
    }

    int Run(const std::string &commandLine, PackageScript &script, StepScript steps = {}) {
        SetupServices services;
        services.steps = ScriptedSteps(steps);
        return Run(commandLine, script, std::move(services));
    }
    int Run(const std::string &commandLine, PackageScript &script, SetupServices services) {
        SetupProgram program;
        program.programPath = m_root + "/TelmarSetup2.3";
        program.commandLine = commandLine;
        program.fullCommandLine = program.programPath + " " + commandLine;
        program.options = ParseCommandLine(commandLine);
        services.windows = &m_windows;
        services.messages = m_messages;
        return RunSetupProgram(program,
                               std::make_unique<FakePackage>(script, m_root + "/x/main.msi"),
                               std::move(services));
    }

    test::TempDir m_tmp{"runner"};
    const std::string m_root = m_tmp.path();
    // The system's runtime folder of the user under the test root.
    const std::string m_runtime = m_root + "/run/user/" + std::to_string(::geteuid());
    test::ScopedEnv m_env;
    std::shared_ptr<ScriptedMessageBoxes> m_boxes = std::make_shared<ScriptedMessageBoxes>();
    test::ScriptedWindows m_windows;
    std::string m_debug;
    // The run's boxes and debug output, as the program hands them down.
    SetupMessages m_messages{
        m_boxes, [this](std::string_view text) { m_debug += std::string(text) + "\n"; }};
    std::filesystem::path m_cwd;
};

TEST_F(RunnerTest, ExitCodeOfEveryEnding) {
    struct Case {
        const char *what;
        std::string commandLine = "/exenoui";
        int fakeCode = 0;
        PackageScript script;
        StepScript steps;
        bool holdLock = false;
        int exitCode = 0;
        bool installerRan = false;
        int keepMode = -1; // at clean-up; -1: not looked at
        const char *reported = nullptr;
    };
    PackageScript base;
    PackageScript openFails = base;
    openFails.openResult = 5;
    PackageScript extractCancelled = base;
    extractCancelled.extractResult = 15;
    PackageScript extractFails = base;
    extractFails.extractResult = 2;
    extractFails.errorText = "cannot read the package";
    PackageScript corrupt = base;
    corrupt.flags |= 0x4;
    PackageScript oldInstaller = base;
    oldInstaller.settings = "[GeneralOptions]\nMinWIVer=9\n";
    PackageScript keepComplete = base;
    keepComplete.settings = "[GeneralOptions]\nMinWIVer=0\nKeepFiles=complete\n";

    std::vector<Case> cases = {
        {"installed", "/exenoui", 0, base, {}, false, 0, true, 0, nullptr},
        {"restart needed", "/exenoui", 3010 & 0xFF, base, {}, false, 3010, true, 0, nullptr},
        {"user exit", "/exenoui", 1602 & 0xFF, base, {}, false, -1, true, 4, nullptr},
        {"install failed", "/exenoui", 1603 & 0xFF, base, {}, false, 1603, true, 4, nullptr},
        {"package not opened", "/exenoui", 0, openFails, {}, false, 1, false, -1, "повреждён"},
        {"extraction cancelled", "/exenoui", 0, extractCancelled, {}, false, -1, false, 0, nullptr},
        {"extraction failed",
         "/exenoui",
         0,
         extractFails,
         {},
         false,
         1,
         false,
         0,
         "cannot read the package"},
        {"second run", "/qn", 0, base, {}, true, 1, false, 3, "Уже запущена"},
        {"second run, silent", "/exenoui", 0, base, {}, true, 0, true, -1, nullptr},
        {"corrupt package", "/exenoui", 0, corrupt, {}, false, 1, false, -1, "повреждён"},
        {"installer too old", "/exenoui", 0, oldInstaller, {}, false, 1, false, -1, "9.0"},
        {"launch condition", "/exenoui", 0, base, {false, 0, false}, false, 1, false, -1, nullptr},
        {"language cancelled", "/exenoui", 0, base, {false, -1}, false, -1, false, -1, nullptr},
        {"update started", "/exefullui", 0, base, {true}, false, 0, false, -1, nullptr},
        {"reboot pending",
         "/exenoui",
         0,
         base,
         {false, 0, true, -1, true},
         false,
         -1,
         false,
         -1,
         nullptr},
        {"prerequisites failed",
         "/exenoui",
         0,
         base,
         {false, 0, true, 1},
         false,
         1,
         false,
         -1,
         nullptr},
        // The settings' keep mode holds without prerequisites too.
        {"no prerequisites",
         "/exenoui /noprereqs",
         0,
         keepComplete,
         {},
         false,
         0,
         true,
         2,
         nullptr},
    };
    // An update check runs only with an updates address.
    cases[13].script.settings += "UpdatesUrl=http://127.0.0.1:9/u.ini\n";
    for (Case &c : cases) {
        m_debug.clear();
        m_boxes->Clear();
        std::filesystem::remove(m_root + "/args");
        m_env.Set("FAKE_CODE", std::to_string(c.fakeCode));
        int held = -1;
        if (c.holdLock) {
            held = ::open(LockFile(c.script.id).c_str(), O_RDWR | O_CREAT, 0644);
            ASSERT_EQ(::flock(held, LOCK_EX), 0);
        }
        const int code = Run(c.commandLine, c.script, c.steps);
        if (held >= 0)
            ::close(held);
        EXPECT_EQ(code, c.exitCode) << c.what;
        EXPECT_EQ(std::filesystem::exists(m_root + "/args"), c.installerRan) << c.what;
        if (c.keepMode != -1) {
            EXPECT_EQ(c.script.cleanedUp ? c.script.keepModeAtCleanUp : c.script.keepMode,
                      c.keepMode)
                << c.what;
        }
        std::string shown = m_debug;
        for (const auto &box : m_boxes->Shown())
            shown += box.text + "\n";
        if (c.reported) {
            EXPECT_NE(shown.find(c.reported), std::string::npos) << c.what << ": " << shown;
        }
    }
}

TEST_F(RunnerTest, InstallerArgumentsAndLogLines) {
    PackageScript script;
    script.settings =
        "[GeneralOptions]\nMinWIVer=0\nMainAppCmdLine=/qn INSTALLDIR=\"[TempFolder]t\"\n"
        "ProductCode={12345678-1234-1234-1234-123456789ABC}\n";
    const std::string log = m_root + "/setup.log";
    const int code = Run("/exenoui /exelog " + log, script);
    ASSERT_EQ(code, 0) << ReadFile(log) << m_debug;
    // The settings' command line, expanded, and the bootstrapper's properties.
    const std::string args = ReadFile(m_root + "/args");
    EXPECT_EQ(args, "/i\n" + m_root + "/x/main.msi\n/qn\nINSTALLDIR=" + m_root +
                        "/tmp/t\nPX_SETUPEXEPATH=" + m_root + "/TelmarSetup2.3\nSETUPEXEDIR=" +
                        m_root + "/\nEXE_CMD_LINE=/exenoui  /exelog \"" + log +
                        "\" /exenoupdates  /noprereqs   \n");
    EXPECT_EQ(script.stem, "6789ABC");
    const std::string text = ReadFile(log);
    for (const char *line :
         {"-Full command line:", "-Command line to pass to MSI:\r\n", "-Maintenance mode:false\r\n",
          "-Detected Windows Installer version:0.0.0.0\r\n",
          "-Launching msiexec.exe with command line: /i", "-Return code of msiexec.exe:0\r\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

TEST_F(RunnerTest, MainPackageSwitchesReportTheirFailures) {
    PackageScript fails;
    fails.openResult = 2;
    fails.errorText = "cannot read TelmarSetup2.3";
    // A package that does not open ends with 1 and no message.
    EXPECT_EQ(Run("/extractlzma", fails), 1);
    EXPECT_TRUE(m_boxes->Shown().empty());
    EXPECT_EQ(m_debug.find("cannot read"), std::string::npos);
    PackageScript extracted;
    extracted.extractResult = 2;
    extracted.errorText = "cannot write /x/main.msi";
    EXPECT_EQ(Run("/extractlzma", extracted), 1);
    EXPECT_EQ(extracted.keepMode, 3);
    PackageScript fine;
    EXPECT_EQ(Run("/extractlzma", fine), 0);
    EXPECT_EQ(fine.extractions, 1);
}

TEST_F(RunnerTest, InstanceDialogChoiceReachesTheInstaller) {
    // An installed default instance: the dialog is asked; Cancel ends with -1.
    InstalledProduct installed;
    installed.productCode = "{D}";
    installed.productName = "Telmar";
    installed.versionString = "2.3";
    installed.upgradeCode = "{U}";
    ASSERT_TRUE(RegisterProduct(installed));
    PackageScript script;
    script.settings = "[GeneralOptions]\nMinWIVer=0\n[STARTUP]\nProductCode={D}\nUpgradeCode={U}\n"
                      "ProductVersion=2.3\n[INSTANCES]\ninst1=inst1\n[inst1]\nProductCode={I1}\n";
    int asked = 0;
    m_windows.instance = [&asked](InstalledInstances &instances, const std::string &) {
        ++asked;
        return AcceptInstanceRow(instances, true, 0) && asked == 2 ? 1 : 2;
    };
    EXPECT_EQ(Run("/exenoui", script), -1);
    EXPECT_FALSE(std::filesystem::exists(m_root + "/args"));
    EXPECT_EQ(Run("/exenoui", script), 0);
    EXPECT_EQ(asked, 2);
    const std::string args = ReadFile(m_root + "/args");
    EXPECT_NE(args.find("TRANSFORMS=:inst1.mst\nMSINEWINSTANCE=1\n"), std::string::npos) << args;
}

TEST_F(RunnerTest, PackagePasswordFromTheSwitchOrTheDialog) {
    struct Case {
        std::string commandLine;
        std::optional<std::string> typed;
        std::string password;
        int asked;
    };
    const Case cases[] = {
        {"/exebasicui", "typed secret", "typed secret", 1},
        {"/exebasicui", std::nullopt, "", 1},
        {"/exebasicui /aespassword given", "typed", "given", 0},
        {"/exenoui", "typed", "", 0}, // a silent run asks nothing
    };
    for (const Case &c : cases) {
        PackageScript script;
        script.flags = 0x2 | 0x1000;
        int asked = 0;
        m_windows.password = [&asked, &c](const std::string &) {
            ++asked;
            return c.typed;
        };
        EXPECT_EQ(Run(c.commandLine, script), 0) << c.commandLine;
        EXPECT_EQ(script.password, c.password) << c.commandLine;
        EXPECT_EQ(asked, c.asked) << c.commandLine;
    }
}

TEST(RunnerPieces, TaskRunsOnAWorkerWhileTheEventLoopTurns) {
    int argc = 1;
    char name[] = "test";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    // The task asks the user-interface thread for something and waits for
    // the answer: it comes only while that thread processes events.
    std::atomic<bool> answered{false};
    std::thread::id uiThread = std::this_thread::get_id(), taskThread;
    FunctionTaskForTest task([&] {
        taskThread = std::this_thread::get_id();
        QMetaObject::invokeMethod(
            &app, [&answered] { answered = true; }, Qt::QueuedConnection);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!answered && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
    });
    RunTaskWithMessagePump(task);
    EXPECT_TRUE(answered);
    EXPECT_NE(taskThread, uiThread);
}

TEST(RunnerPieces, RemovableMediaByTheMountOfThePath) {
    const std::string table = "/dev/sda2 / ext4 rw 0 0\n"
                              "tmpfs /tmp tmpfs rw 0 0\n"
                              "/dev/sr0 /media/cdrom iso9660 ro 0 0\n"
                              "/dev/sdb1 /media/usb vfat rw 0 0\n"
                              "/dev/sda3 /media/usb/inner ext4 rw 0 0\n"
                              "/dev/sdc1 /media/My\\040Stick vfat rw 0 0\n";
    const auto removable = [](const std::string &disk) { return disk == "sdb" || disk == "sdc"; };
    const std::pair<const char *, bool> cases[] = {
        {"/media/cdrom/TelmarSetup2.3", true},
        {"/media/usb/TelmarSetup2.3", true},
        {"/media/usb/inner/TelmarSetup2.3", false},
        {"/media/usbx/TelmarSetup2.3", false},
        {"/media/My Stick/TelmarSetup2.3", true}, // the table escapes the blank
        {"/tmp/TelmarSetup2.3", false},
        {"/opt/TelmarSetup2.3", false},
    };
    for (const auto &[path, expected] : cases)
        EXPECT_EQ(MountIsRemovable(path, table, removable), expected) << path;
}

TEST(RunnerPieces, PackageNameStemTakesSevenBeforeTheLast) {
    const std::pair<std::string, std::string> cases[] = {
        {"{12345678-1234-1234-1234-123456789ABC}", "6789ABC"},
        {"{1234}", "{1234"},
        {"ab", "a"},
        {"a", ""},
        {"", ""},
    };
    for (const auto &[code, stem] : cases)
        EXPECT_EQ(PackageNameStem(code), stem) << code;
}

// The program's steps: a main package on a web address is installed only
// when the download engine finds it, and the proxy switches reach the
// run's credential provider with the run's silence.
TEST_F(RunnerTest, ProgramStepsAskTheDownloadEngine) {
    test::LocalHttpServer http;
    ASSERT_TRUE(http.Start({})) << http.Error();
    const auto shared = std::make_shared<CredentialProvider>();
    CredentialProvider &provider = *shared;
    struct Case {
        std::string commandLine;
        std::string path;
        bool installerRan;
        const char *user; // stored afterwards; nullptr: none
        const char *password;
        bool silent;
    } cases[] = {
        {"/exenoui /proxyusername pu /proxypassword pp", "/gen/10", true, "pu", "pp", true},
        {"/exenoui /username u1", "/gen/10?status=500", true, "u1", "", true},
        {"/exenoui", "/gen/10?status=404", false, nullptr, nullptr, true},
        {"/exefullui /username u2 /password p2", "/gen/10?status=404", false, "u2", "p2", false},
    };
    for (const Case &c : cases) {
        provider.SetStoredCredentials("", "");
        provider.SetSilent(!c.silent);
        m_debug.clear();
        m_boxes->Clear();
        std::filesystem::remove(m_root + "/args");
        PackageScript script;
        script.settings += "MainAppURL=" + http.Url(c.path) + "\n";
        SetupServices services;
        services.steps.network = std::make_unique<ProgramNetworkStep>();
        services.credentials = shared;
        Run(c.commandLine, script, std::move(services));
        EXPECT_EQ(std::filesystem::exists(m_root + "/args"), c.installerRan) << c.commandLine;
        std::string shown = m_debug;
        for (const auto &box : m_boxes->Shown())
            shown += box.text + "\n";
        EXPECT_EQ(shown.find("Cannot acces URL: " + http.Url(c.path)) != std::string::npos,
                  !c.installerRan)
            << c.commandLine << ": " << shown;
        std::string user, password;
        EXPECT_EQ(provider.GetStoredCredentials(user, password), c.user != nullptr)
            << c.commandLine;
        if (c.user) {
            EXPECT_EQ(user, c.user);
            EXPECT_EQ(password, c.password);
        }
        EXPECT_EQ(provider.IsSilent(), c.silent) << c.commandLine;
    }
}

// The run's credentials reach the prerequisites' downloads: /username and
// /password answer a server that asks; without them a silent run asks
// nobody and the download goes without.
TEST_F(RunnerTest, CommandLineCredentialsReachThePrerequisiteDownloads) {
    test::LocalHttpServer http;
    ASSERT_TRUE(http.Start({})) << http.Error();
    const std::string path = "/gen/64?auth=Files";
    for (const bool given : {true, false}) {
        PackageScript script;
        script.settings += "DownloadFolder=" + m_root +
                           "/dl\n[PREREQUISITES]\nApp1=Tool\n[Tool]\nUrl=" + http.Url(path) +
                           "\nNoUiCommandLine=--quiet\n"
                           "SearchType1=5\nSearchString1=HKCU\\Software\\KrvTest\\Tool\n";
        SetupServices services;
        services.steps.prerequisites = std::make_unique<PrerequisiteSteps>(
            PrerequisiteServices{{}, [](std::chrono::milliseconds) {}, {}});
        services.steps.network = std::make_unique<ProgramNetworkStep>();
        // The downloaded bytes are no program: their start is only recorded
        // (the product's installer starts through the same launcher).
        std::vector<std::string> started;
        services.programs = [&](const platform::ProcessStartInfo &info, bool wait) {
            if (info.program.rfind(m_root + "/dl/", 0) == 0)
                started.push_back(info.commandLine);
            platform::ProcessResult result;
            result.started = true;
            result.waited = wait;
            return result;
        };
        const std::string switches = given ? " /username user /password secret" : "";
        const std::size_t before = http.Log().size(); // the server's log spans both runs
        Run("/exenoui" + switches, script, std::move(services));
        const std::vector<std::string> log = http.Log();
        int authorised = 0, asked = 0;
        for (std::size_t i = before; i < log.size(); ++i) {
            const std::string &line = log[i];
            if (line.find("GET " + path) != 0)
                continue;
            ++asked;
            authorised += line.find("auth=1") != std::string::npos;
        }
        EXPECT_GE(asked, 1) << switches;
        EXPECT_EQ(authorised > 0, given) << switches;
        // Only the download that got through is installed, silently.
        ASSERT_EQ(started.size(), given ? 1u : 0u) << switches;
        if (given) {
            EXPECT_NE(started[0].find("--quiet"), std::string::npos) << started[0];
        }
    }
}

// Services with empty places: each step takes its base answer and the run
// gets a credential provider of its own, so the run goes through.
TEST_F(RunnerTest, EmptyServicesTakeTheirBaseAnswers) {
    PackageScript script;
    script.settings += "[PREREQUISITES]\nApp1=Tool\n[Tool]\nUrl=http://127.0.0.1:9/t\n";
    SetupServices services;
    services.steps.updates = nullptr;
    services.steps.language = nullptr;
    services.steps.conditions = nullptr;
    services.steps.prerequisites = nullptr;
    services.steps.network = nullptr;
    services.steps.extraction = nullptr;
    services.credentials = nullptr;
    EXPECT_EQ(Run("/exenoui /username u /password p", script, std::move(services)), 0) << m_debug;
    EXPECT_TRUE(std::filesystem::exists(m_root + "/args"));
}

TEST_F(RunnerTest, IntegrityCheckComparesTheFileWithoutItsFooter) {
    const std::string file = m_root + "/pkg";
    WriteFile(file, std::string(1000, 'a') + std::string(76, 'f'));
    std::string id;
    ASSERT_TRUE(ComputeFileMd5Hex(file, 76, id));
    PackageScript script;
    script.flags = 0x4;
    for (std::string candidate : {id, std::string(32, '0')}) {
        for (char &c : candidate)
            c = char(std::toupper(c)); // case does not matter
        script.id = candidate;
        SetupServices services;
        services.messages = m_messages;
        SetupRunner runner("", file, std::make_unique<FakePackage>(script, ""),
                           std::move(services));
        runner.Package().Open(file);
        UiVisible = false;
        EXPECT_EQ(CheckPackageIntegrity(runner), candidate == std::string(32, '0'));
    }
}

TEST_F(RunnerTest, SingleInstanceLockSaysWhetherThisRunHoldsIt) {
    const std::string file = LockFile("lock");
    const int other = ::open(file.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    SingleInstanceLock lock;
    EXPECT_FALSE(lock.TryAcquire("Parvext_lock"));
    ::close(other);
    EXPECT_TRUE(lock.TryAcquire("Parvext_lock"));
    // Held now: another taker is refused until this run lets it go.
    const int taker = ::open(file.c_str(), O_RDWR);
    ASSERT_GE(taker, 0);
    EXPECT_NE(::flock(taker, LOCK_EX | LOCK_NB), 0);
    lock.Release();
    EXPECT_EQ(::flock(taker, LOCK_EX | LOCK_NB), 0);
    ::close(taker);
}

// The lock lies where only this user can make files, found from the root
// and the user alone: the root's runtime folder of the user, made (and made
// private) when missing, else a folder of this user in the temporary folder,
// else one in the user's data folder. A lock file someone left in the shared temporary
// folder is never taken as held; runs with different XDG_RUNTIME_DIR (a
// desktop session, sudo without it) find each other; a lock that cannot be
// opened is logged and lets the run go on.
TEST_F(RunnerTest, SingleInstanceLockLivesWhereOnlyThisUserWrites) {
    const bool root = ::geteuid() == 0;
    std::filesystem::create_directories(m_root + "/tmp");
    const std::string shared = m_root + "/tmp/Parvext_lock.lock";
    const int planted = ::open(shared.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(planted, 0);
    ASSERT_EQ(::flock(planted, LOCK_EX), 0);
    const std::string fallback = m_root + "/tmp/krv-setup-" + std::to_string(::geteuid());
    // The runtime folder of a desktop session, as XDG_RUNTIME_DIR names it.
    const std::string session = m_root + "/session-runtime";
    std::filesystem::create_directories(session);
    ::chmod(session.c_str(), 0700);
    struct Row {
        const char *what;
        const char *runtime;    // the user's runtime folder: "own", "missing", "open", "theirs"
        bool lockIsFolder;      // a folder stands where the lock file goes
        bool fallbackTaken;     // another user made the temporary folder's name first
        std::string expectedAt; // the folder the lock is made in; empty: none
    } rows[] = {
        {"own runtime folder", "own", false, false, m_runtime},
        {"no runtime folder", "missing", false, false, m_runtime},
        {"runtime folder open to others", "open", false, false, m_runtime},
        {"runtime folder of another user", "theirs", false, false, fallback},
        {"and the temporary folder's name taken", "theirs", false, true,
         m_root + "/home/.local/share/krv-setup"},
        {"lock that cannot be opened", "own", true, false, ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const std::string runtime = row.runtime;
        if (!root && (runtime == "theirs" || row.fallbackTaken))
            continue; // only root can give a folder away
        std::filesystem::remove_all(m_runtime);
        if (runtime != "missing") {
            std::filesystem::create_directories(m_runtime);
            ::chmod(m_runtime.c_str(), runtime == "open" ? 0777 : 0700);
            if (runtime == "theirs") {
                ASSERT_EQ(::lchown(m_runtime.c_str(), 65534, 65534), 0);
            }
        }
        if (row.fallbackTaken) {
            ASSERT_EQ(::lchown(fallback.c_str(), 65534, 65534), 0);
        }
        if (row.lockIsFolder) {
            std::filesystem::create_directories(LockFile("lock"));
        }
        std::string logPath = m_root + "/lock.log";
        std::filesystem::remove(logPath);
        LoggingEnabled = true;
        SetLogFilePath(logPath);
        m_env.Set("XDG_RUNTIME_DIR", session);
        SingleInstanceLock lock;
        EXPECT_TRUE(lock.TryAcquire("Parvext_lock"));
        CloseLog();
        LoggingEnabled = false;
        const std::string log = ReadFile(logPath);
        if (row.expectedAt.empty()) {
            EXPECT_NE(log.find("Cannot guard against a second setup: " + LockFile("lock")),
                      std::string::npos)
                << log;
        } else {
            // Held: a second run of the same user is refused, whatever its
            // XDG_RUNTIME_DIR (none, as through sudo).
            m_env.Unset("XDG_RUNTIME_DIR");
            SingleInstanceLock second;
            EXPECT_FALSE(second.TryAcquire("Parvext_lock"));
            const int taker = ::open((row.expectedAt + "/Parvext_lock.lock").c_str(), O_RDWR);
            ASSERT_GE(taker, 0);
            EXPECT_NE(::flock(taker, LOCK_EX | LOCK_NB), 0);
            ::close(taker);
        }
    }
    std::filesystem::remove_all(m_runtime);
    std::filesystem::create_directories(m_runtime);
    ::chmod(m_runtime.c_str(), 0700);
    m_env.Set("XDG_RUNTIME_DIR", m_runtime);
    ::close(planted);
}

// The run takes the lock of its package and lets it go when it ends: a
// later setup of the same package in this process is not turned away.
TEST_F(RunnerTest, TheRunHoldsTheLockUntilItEnds) {
    class LockProbe : public ConditionStep {
      public:
        LockProbe(std::string file, int &heldDuringRun)
            : m_file(std::move(file)), m_held(heldDuringRun) {}
        bool CheckLaunchConditions(SetupRunner &, SetupSettings &) override {
            const int fd = ::open(m_file.c_str(), O_RDWR);
            if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0)
                ++m_held;
            if (fd >= 0)
                ::close(fd);
            return true;
        }

      private:
        std::string m_file;
        int &m_held;
    };
    PackageScript script;
    const std::string file = LockFile(script.id);
    int heldDuringRun = 0;
    for (int run = 0; run < 2; ++run) {
        m_boxes->Clear();
        SetupServices services;
        services.steps.conditions = std::make_unique<LockProbe>(file, heldDuringRun);
        // No level switch: a lock still held would end the run as a second one.
        EXPECT_EQ(Run("/qn", script, std::move(services)), 0) << run;
        EXPECT_TRUE(m_boxes->Shown().empty()) << run;
        // The lock file went with the run that made it.
        EXPECT_FALSE(std::filesystem::exists(file)) << run;
    }
    EXPECT_EQ(heldDuringRun, 2);
}

// Runs that take and let go of the same lock at once: each removes the file
// while it still holds it, so a run that locked the removed file takes the
// new one instead. Never two at a time.
TEST_F(RunnerTest, LockFilesRemovedOnReleaseNeverLetTwoRunsIn) {
    std::atomic<int> holders{0};
    std::atomic<int> most{0};
    std::atomic<int> taken{0};
    std::vector<std::thread> runs;
    for (int n = 0; n < 4; ++n)
        runs.emplace_back([&] {
            for (int round = 0; round < 2000; ++round) {
                SingleInstanceLock lock;
                if (!lock.TryAcquire("Parvext_race"))
                    continue;
                ++taken;
                const int now = ++holders;
                for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);)
                    ;
                std::this_thread::yield();
                --holders;
            }
        });
    for (std::thread &run : runs)
        run.join();
    EXPECT_EQ(most.load(), 1);
    EXPECT_GT(taken.load(), 0);
    EXPECT_FALSE(std::filesystem::exists(LockFile("race")));
}

// The lock file deleted or replaced under a running setup (a clean-up of
// the user's folder): a second run locks the file now at the path, and
// neither the first run's end nor a stop that ends it removes that file, so
// a third run is still turned away while the second holds it.
TEST_F(RunnerTest, LockFileReplacedUnderARunStaysTheSecondRuns) {
    const std::string file = LockFile("swap");
    for (const bool replaced : {false, true})
        for (const bool byStop : {false, true}) {
            SCOPED_TRACE(std::string(replaced ? "replaced" : "deleted") +
                         (byStop ? ", first ended by a stop" : ", first released"));
            auto first = std::make_unique<SingleInstanceLock>();
            ASSERT_TRUE(first->TryAcquire("Parvext_swap"));
            if (replaced) {
                WriteFile(file + ".new", "");
                ASSERT_EQ(::rename((file + ".new").c_str(), file.c_str()), 0);
            } else {
                ASSERT_TRUE(std::filesystem::remove(file));
            }
            // The second run, as another process holds it.
            const int second = ::open(file.c_str(), O_RDWR | O_CREAT, 0600);
            ASSERT_GE(second, 0);
            ASSERT_EQ(::flock(second, LOCK_EX | LOCK_NB), 0);
            if (byStop)
                RemoveWhatAStopTakes();
            first.reset();
            EXPECT_TRUE(std::filesystem::exists(file));
            SingleInstanceLock third;
            EXPECT_FALSE(third.TryAcquire("Parvext_swap"));
            ::close(second);
            std::filesystem::remove(file);
        }
}

TEST_F(RunnerTest, CopyReleasesTheLockAndDeferredDeleteRemovesTheCopy) {
    // The copy is started with /originalPath naming the first program; this
    // process lets the single-instance lock go before it starts it.
    const std::string own = m_root + "/media/TelmarSetup2.3";
    WriteFile(own, "#!/bin/sh\nexec 9>\"" + m_root +
                       "/tmp/Parvext_x.lock\"\n"
                       "flock -n 9 && echo free > \"" +
                       m_root + "/copy-saw\" || echo held > \"" + m_root +
                       "/copy-saw\"\nprintf '%s\\n' \"$@\" > \"" + m_root + "/copy-args\"\n");
    ::chmod(own.c_str(), 0755);
    PackageScript script;
    SetupRunner runner("/exenoui", own, std::make_unique<FakePackage>(script, ""));
    runner.Options() = ParseCommandLine("/exenoui");
    ASSERT_TRUE(runner.InstanceLock().TryAcquire("Parvext_x"));
    CopyAndRelaunch(runner);
    EXPECT_EQ(runner.ExitCode(), 0);
    // The copy runs on its own: wait for its answer with a deadline (the
    // shell makes the file before it writes the arguments into it).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ReadFile(m_root + "/copy-args").empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_TRUE(std::filesystem::exists(m_root + "/copy-args"));
    EXPECT_EQ(ReadFile(m_root + "/copy-saw"), "free\n");
    EXPECT_NE(ReadFile(m_root + "/copy-args").find("/originalPath\n" + own + "\n"),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(m_root + "/tmp/TelmarSetup2.3"));

    DeferredDeleteRecord record;
    SetDeferredDeletePaths(m_root + "/tmp/TelmarSetup2.3", record);
    DeferredDelete(record);
    EXPECT_FALSE(std::filesystem::exists(m_root + "/tmp/TelmarSetup2.3"));
    SetDeferredDeletePaths("", record);
    EXPECT_TRUE(record.shortPath.empty());
}

// The temporary folder is shared: a link another user left under the copy's
// name must not make the run write through it, and the file started is a new
// one of the run's own.
TEST_F(RunnerTest, CopyIsANewFileEvenWhereALinkStoodInTheTemporaryFolder) {
    const std::string own = m_root + "/media/TelmarSetup2.3";
    const std::string copy = m_root + "/tmp/TelmarSetup2.3";
    WriteFile(own, "#!/bin/sh\nexit 0\n");
    const struct {
        const char *name;
        bool victimExists;
    } rows[] = {{"link to a file", true}, {"link to nothing", false}};
    for (const auto &row : rows) {
        const std::string victim = m_root + "/victim";
        std::filesystem::remove(victim);
        if (row.victimExists)
            WriteFile(victim, "kept");
        std::filesystem::create_directories(m_root + "/tmp");
        std::filesystem::remove(copy);
        std::filesystem::create_symlink(victim, copy);
        PackageScript script;
        SetupRunner runner("/exenoui", own, std::make_unique<FakePackage>(script, ""));
        runner.Options() = ParseCommandLine("/exenoui");
        CopyAndRelaunch(runner);
        EXPECT_EQ(runner.ExitCode(), 0) << row.name;
        EXPECT_EQ(std::filesystem::exists(victim), row.victimExists) << row.name;
        if (row.victimExists) {
            EXPECT_EQ(ReadFile(victim), "kept") << row.name;
        }
        struct stat st {};
        ASSERT_EQ(::lstat(copy.c_str(), &st), 0) << row.name;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << row.name;
        EXPECT_EQ(st.st_mode & 07777, 0700u) << row.name;
        EXPECT_EQ(ReadFile(copy), ReadFile(own)) << row.name;
    }
}

// A copy in the temporary folder told that it is the first program (a
// hand-written /originalPath, or a medium that holds TMPDIR itself): it
// installs from its own file instead of starting itself again.
TEST_F(RunnerTest, CopyNamedAsItsOwnOriginalRunsInsteadOfRelaunching) {
    const std::string own = m_root + "/tmp/TelmarSetup2.3";
    WriteFile(own, "#!/bin/sh\necho started >> \"" + m_root + "/relaunched\"\n");
    ::chmod(own.c_str(), 0755);
    PackageScript script;
    SetupProgram program;
    program.programPath = own;
    program.commandLine = "/exenoui /originalPath " + own;
    program.options = ParseCommandLine(program.commandLine);
    SetupServices services;
    services.messages = m_messages;
    services.steps = ScriptedSteps(StepScript{});
    const int code =
        RunSetupProgram(program, std::make_unique<FakePackage>(script, m_root + "/x/main.msi"),
                        std::move(services));
    EXPECT_EQ(code, 0) << m_debug;
    EXPECT_FALSE(std::filesystem::exists(m_root + "/relaunched"));
    EXPECT_NE(ReadFile(m_root + "/args").find(m_root + "/x/main.msi"), std::string::npos);
    // Its own file is the package the user gave: it stays.
    EXPECT_TRUE(std::filesystem::exists(own));
}

// The installer starts through the launcher the run was handed, not on its
// own.
TEST_F(RunnerTest, InstallerStartsThroughTheRunsLauncher) {
    PackageScript script;
    SetupProgram program;
    program.programPath = m_root + "/TelmarSetup2.3";
    program.commandLine = "/exenoui";
    program.options = ParseCommandLine(program.commandLine);
    std::vector<platform::ProcessStartInfo> started;
    SetupServices services;
    services.programs = [&started](const platform::ProcessStartInfo &info, bool wait) {
        started.push_back(info);
        platform::ProcessResult result;
        result.started = true;
        result.waited = wait;
        return result;
    };
    services.steps = ScriptedSteps(StepScript{});
    const int code =
        RunSetupProgram(program, std::make_unique<FakePackage>(script, m_root + "/x/main.msi"),
                        std::move(services));
    EXPECT_EQ(code, 0) << m_debug;
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].program, m_root + "/fake-msiexec");
    EXPECT_NE(started[0].commandLine.find(m_root + "/x/main.msi"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_root + "/args"));
}

} // namespace
} // namespace krv::setup
