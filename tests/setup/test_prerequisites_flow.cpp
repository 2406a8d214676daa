#include "command_line.h"
#include "interboot_context.h"
#include "launch_list.h"
#include "local_servers.h"
#include "log.h"
#include "md5.h"
#include "messages.h"
#include "package_writer.h"
#include "payload_package.h"
#include "prerequisite_steps.h"
#include "progress_window.h"
#include "qt_setup_windows.h"
#include "resume.h"
#include "setup_runner.h"
#include "support_env.h"
#include "support_offscreen.h"
#include "support_windows.h"
#include "ui_strings.h"
#include "url_opener.h"

#include <setup_autostart.h>
#include <setup_reboot.h>
#include <setup_registry.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <mutex>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace krv::setup {
namespace {

using test::ReadFile;
using test::WriteFile;

// A whole silent setup over a real package: three prerequisites (one carried
// in the package, one downloaded from a local server, one already present),
// then the main install through a stand-in installer that records its
// arguments.
void NoPause(std::chrono::milliseconds) {}

// The scripted boxes, noting for each whether its owner was a progress
// window on the screen when it was shown.
class OwnerNotingBoxes : public ScriptedMessageBoxes {
  public:
    int Show(const MessageBoxRequest &request) override {
        const auto *window = dynamic_cast<const ProgressWindow *>(request.owner);
        std::lock_guard guard(m_ownersLock);
        m_overProgress.push_back(window && window->isVisible());
        return ScriptedMessageBoxes::Show(request);
    }
    std::vector<bool> OverProgressWindow() const {
        std::lock_guard guard(m_ownersLock);
        return m_overProgress;
    }

  private:
    mutable std::mutex m_ownersLock;
    std::vector<bool> m_overProgress;
};

class PrerequisiteFlowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_root.empty());
        m_env.Set("KRV_SETUP_ROOT", m_root);
        m_env.Unset("KRV_REGISTRY_ROOT");
        m_env.Unset("XDG_CONFIG_HOME");
        WriteFile(m_root + "/fake-msiexec",
                  "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + m_root + "/args\"\nexit 0\n");
        ::chmod((m_root + "/fake-msiexec").c_str(), 0755);
        m_env.Set("KRV_MSIEXEC", m_root + "/fake-msiexec");
        // Gamma is installed already.
        std::filesystem::create_directories(m_root + "/registry/HKCU/Software/KrvTest/Gamma");
        std::filesystem::create_directories(m_root + "/www");
        ASSERT_TRUE(m_server.Start("file_server.py", {m_root + "/www"})) << m_server.Error();
    }
    void TearDown() override {
        CloseLog();
        LoggingEnabled = false;
        UiVisible = true;
        platform::RegistryDeleteKey(platform::RegistryHive::CurrentUser, kInterbootContextKey);
    }

    // A prerequisite setup: notes its run and arguments and whether the
    // resume entry was there when it started, marks itself installed where
    // its search looks (unless told not to), and exits with the code.
    std::string SetupScript(const std::string &name, int code, bool installs = true) {
        const std::string entry = EntryFolder() + ResumeEntryFileName(m_package);
        return "#!/bin/sh\necho \"" + name + " $*\" >> \"" + m_root + "/ran\"\n" + "[ -f \"" +
               entry + "\" ] && echo " + name + " >> \"" + m_root + "/entry-seen\"\n" +
               (installs
                    ? "mkdir -p \"" + m_root + "/registry/HKCU/Software/KrvTest/" + name + "\"\n"
                    : std::string()) +
               "exit " + std::to_string(code) + "\n";
    }

    std::string Section(const std::string &name, const std::string &source,
                        const std::string &extra) {
        return "[" + name + "]\r\n" + source +
               "\r\nNoUiCommandLine=--quiet\r\nRetValPropName=" + name +
               "_RESULT\r\nSearchType1=5\r\nSearchString1=HKCU\\Software\\KrvTest\\" + name +
               "\r\n" + extra;
    }

    // How a package departs from the one that installs cleanly.
    struct Variant {
        std::string alphaSource = "SetupFile=alpha.sh";
        std::string alphaScript; // empty: SetupScript's
        std::string alphaOptions;
        std::string betaOptions;
        std::string betaFile = "beta.sh"; // as the URL names it
        bool betaWrongMd5 = false;
        bool betaInstalls = true;
        bool mandatorySite = false; // a fourth prerequisite fetched by hand
    };

    // Builds the package; Alpha asks for a restart when `alphaRestarts`.
    void BuildPackage(bool alphaRestarts) {
        Variant variant;
        variant.alphaOptions = alphaRestarts ? "r" : "";
        BuildPackage(variant);
    }
    void BuildPackage(const Variant &variant) {
        const std::string beta = SetupScript("Beta", 5, variant.betaInstalls);
        WriteFile(m_root + "/www/beta.sh", beta);
        WriteFile(m_root + "/beta-copy", beta);
        std::string md5;
        ASSERT_TRUE(ComputeFileMd5Hex(m_root + "/beta-copy", 0, md5));
        if (variant.betaWrongMd5)
            md5 = std::string(32, '0');
        const std::string url =
            "http://127.0.0.1:" + std::to_string(m_server.Port()) + "/" + variant.betaFile;
        auto options = [](const std::string &letters) {
            return letters.empty() ? std::string() : "Options=" + letters + "\r\n";
        };
        const std::string settings =
            "[GeneralOptions]\r\nMinWIVer=0\r\nDefaultProdCode={B5C1}\r\n"
            "[PREREQUISITES]\r\nApp1=Alpha\r\nApp2=Beta\r\nApp3=Gamma\r\n" +
            std::string(variant.mandatorySite ? "App4=Delta\r\n" : "") +
            Section("Alpha", variant.alphaSource, options(variant.alphaOptions)) +
            Section("Beta", "Url=" + url,
                    "MD5=" + md5 + "\r\nExactSize=" + std::to_string(beta.size()) + "\r\n" +
                        options(variant.betaOptions)) +
            Section("Gamma", "SetupFile=gamma.sh", "") +
            (variant.mandatorySite
                 ? Section("Delta", "OpenSite=https://example.invalid/delta", "Options=m\r\n")
                 : std::string());
        WriteFile(m_root + "/stub", "stub program\n");
        package::PackageWriter writer(m_root + "/stub");
        writer.SetContainerFlags(payload::container::kHasSettings);
        writer.AddSettings(settings);
        writer.AddBytes(payload::entry_type::kPrerequisite, 100, "alpha.sh",
                        variant.alphaScript.empty() ? SetupScript("Alpha", 7)
                                                    : variant.alphaScript);
        writer.AddBytes(payload::entry_type::kPrerequisite, 101, "gamma.sh",
                        SetupScript("Gamma", 0));
        writer.AddBytes(payload::entry_type::kMainPackage, payload::set_id::kMainPackage,
                        "main.msi", "main package");
        std::filesystem::create_directories(m_root + "/media");
        std::string error;
        ASSERT_TRUE(writer.Write(m_package, error)) << error;
    }

    // fake replaces steps of the run; forwardSignals as the program runs.
    int Run(const std::string &commandLine, const std::function<void(SetupSteps &)> &fake = nullptr,
            bool forwardSignals = false) {
        SetupProgram program;
        program.programPath = m_package;
        program.commandLine = commandLine;
        program.fullCommandLine = m_package + " " + commandLine;
        program.options = ParseCommandLine(commandLine);
        SetupServices services;
        // The run hands the restart down to the prerequisites' setups.
        services.reboot = [this](const std::string &) {
            ++m_reboots;
            return platform::RebootOutcome::kRequested;
        };
        services.messages = m_messages;
        services.windows = &m_windows;
        services.steps.prerequisites =
            std::make_unique<PrerequisiteSteps>(PrerequisiteServices{.launchPause = NoPause});
        if (fake)
            fake(services.steps);
        const int code =
            RunSetupProgram(program, std::make_unique<PayloadRunnerPackage>(m_messages),
                            std::move(services), forwardSignals);
        CloseLog();
        return code;
    }

    std::string EntryFolder() const { return m_root + "/home/.config/autostart/"; }
    std::vector<std::string> InstallerArguments() const {
        std::vector<std::string> lines;
        std::string text = ReadFile(m_root + "/args");
        std::size_t start = 0, end;
        while ((end = text.find('\n', start)) != std::string::npos) {
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }
    bool HasArgument(const std::string &argument) const {
        const auto lines = InstallerArguments();
        return std::find(lines.begin(), lines.end(), argument) != lines.end();
    }
    bool ContextKeyExists() const {
        return platform::RegistryOpenKey(platform::RegistryHive::CurrentUser, kInterbootContextKey)
            .has_value();
    }

    test::TempDir m_tmp{"prereq-flow"};
    const std::string m_root = m_tmp.path();
    const std::string m_package = m_root + "/media/TelmarSetup2.3";
    const std::string m_log = m_root + "/setup.log";
    test::ScopedEnv m_env;
    test::ScriptedWindows m_windows;
    test::ServerProcess m_server;
    std::string m_debug;
    std::shared_ptr<OwnerNotingBoxes> m_boxes = std::make_shared<OwnerNotingBoxes>();
    SetupMessages m_messages{m_boxes,
                             [this](std::string_view text) { m_debug += std::string(text); }};
    int m_reboots = 0;
};

TEST_F(PrerequisiteFlowTest, SilentRunInstallsMissingPrerequisitesThenTheProduct) {
    BuildPackage(false);
    ASSERT_EQ(Run("/exenoui /exelog \"" + m_log + "\""), 0) << m_debug;
    EXPECT_EQ(ReadFile(m_root + "/ran"), "Alpha --quiet\nBeta --quiet\n");
    EXPECT_TRUE(HasArgument("Alpha_RESULT=7")) << ReadFile(m_root + "/args");
    EXPECT_TRUE(HasArgument("Beta_RESULT=5"));
    EXPECT_FALSE(HasArgument("Gamma_RESULT=0"));
    const std::string log = ReadFile(m_log);
    for (const char *line :
         {"-Searching for:Gamma", "-Search result:An acceptable version was found.",
          "-Starting download of:Beta", "-Downloaded file was accepted.", "alpha.sh\r\n",
          "-Return code of launched file:7\r\n", "beta.sh\r\n",
          "-Return code of launched file:5\r\n", "  Reboot was required=false"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    // Registered before the setups started (either may restart the
    // machine), removed once the product was installed.
    EXPECT_EQ(ReadFile(m_root + "/entry-seen"), "Alpha\nBeta\n");
    EXPECT_FALSE(platform::ReadAutostartEntry(EntryFolder(), ResumeEntryFileName(m_package)));
    EXPECT_FALSE(ContextKeyExists());
    EXPECT_EQ(m_reboots, 0);
}

TEST_F(PrerequisiteFlowTest, RestartResumesWhereTheRunStopped) {
    BuildPackage(true);
    // First run: Beta is downloaded, Alpha runs and asks for a restart.
    EXPECT_EQ(Run("/exenoui /exelog \"" + m_log + "\""), -1) << m_debug;
    EXPECT_EQ(m_reboots, 1);
    EXPECT_EQ(ReadFile(m_root + "/ran"), "Alpha --quiet\n");
    EXPECT_EQ(ReadFile(m_root + "/args"), "");
    EXPECT_TRUE(ContextKeyExists());
    auto entry = platform::ReadAutostartEntry(EntryFolder(), ResumeEntryFileName(m_package));
    ASSERT_TRUE(entry);
    ASSERT_GE(entry->arguments.size(), 2u);
    EXPECT_EQ(entry->arguments[0], m_package);

    // The session starts the entry's command after the restart.
    const std::vector<std::string> arguments(entry->arguments.begin() + 1, entry->arguments.end());
    const std::string resumed = JoinWindowsCommandLine(arguments);
    EXPECT_NE(resumed.find("/prereqs"), std::string::npos) << resumed;
    EXPECT_EQ(Run(resumed), 0) << m_debug;
    EXPECT_EQ(ReadFile(m_root + "/ran"), "Alpha --quiet\nBeta --quiet\n");
    // Alpha's code came across the restart.
    EXPECT_TRUE(HasArgument("Alpha_RESULT=7")) << ReadFile(m_root + "/args");
    EXPECT_TRUE(HasArgument("Beta_RESULT=5"));
    EXPECT_FALSE(platform::ReadAutostartEntry(EntryFolder(), ResumeEntryFileName(m_package)));
    EXPECT_FALSE(ContextKeyExists());
    EXPECT_EQ(m_reboots, 1);
    const std::string log = ReadFile(m_log);
    EXPECT_NE(log.find("  Reboot in Progress=true"), std::string::npos) << log;
}

// The run after the restart ends before its prerequisites: the entry the
// first run left goes all the same, so that no later login starts the
// setup again.
TEST_F(PrerequisiteFlowTest, ResumedRunThatStopsEarlyLeavesNoEntry) {
    struct FailingConditions : ConditionStep {
        bool CheckLaunchConditions(SetupRunner &, SetupSettings &) override { return false; }
    };
    struct CancelledLanguage : LanguageStep {
        int ChooseSetupLanguage(SetupRunner &, SetupSettings &) override { return -1; }
    };
    // The user stops the setup while its language dialog waits: the
    // process ends at once.
    struct StoppedAtLanguage : LanguageStep {
        int ChooseSetupLanguage(SetupRunner &, SetupSettings &) override {
            ::raise(SIGTERM);
            return 0;
        }
    };
    BuildPackage(true);
    ASSERT_EQ(Run("/exenoui /exelog \"" + m_log + "\""), -1) << m_debug;
    const std::string entryPath = EntryFolder() + ResumeEntryFileName(m_package);
    const std::string entryText = ReadFile(entryPath);
    auto entry = platform::ReadAutostartEntry(EntryFolder(), ResumeEntryFileName(m_package));
    ASSERT_TRUE(entry);
    const std::string resumed = JoinWindowsCommandLine(
        std::vector<std::string>(entry->arguments.begin() + 1, entry->arguments.end()));

    struct Case {
        const char *what;
        std::function<void(SetupSteps &)> fake;
        bool signal;
        int code;
    };
    const Case cases[] = {
        {"launch condition fails now",
         [](SetupSteps &steps) { steps.conditions = std::make_unique<FailingConditions>(); }, false,
         1},
        {"language dialog cancelled",
         [](SetupSteps &steps) { steps.language = std::make_unique<CancelledLanguage>(); }, false,
         -1},
        {"stopped by a signal",
         [](SetupSteps &steps) { steps.language = std::make_unique<StoppedAtLanguage>(); }, true,
         0},
    };
    for (const Case &c : cases) {
        WriteFile(entryPath, entryText);
        if (!c.signal) {
            EXPECT_EQ(Run(resumed, c.fake), c.code) << c.what << m_debug;
        } else {
            // The run ends at once, as a stopped run: 128 + the signal.
            const int status = test::StatusOfChild([&] { return Run(resumed, c.fake, true); });
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << c.what;
        }
        EXPECT_FALSE(std::filesystem::exists(entryPath)) << c.what;
        // Nothing of the restart's run was started.
        EXPECT_EQ(ReadFile(m_root + "/ran"), "Alpha --quiet\n") << c.what;
    }
}

// A stop while the prerequisites' setups run may be the shutdown one of them
// started: the entry written before they ran stays, so that the login after
// that restart resumes the setup. The stop reaches a setup still running
// (the run ends by itself) or comes after it ended, in the pause for such a
// shutdown (the process ends at once).
TEST_F(PrerequisiteFlowTest, StopWhileSetupsRunKeepsTheResumeEntry) {
    const std::string entryPath = EntryFolder() + ResumeEntryFileName(m_package);
    struct Case {
        const char *what;
        std::string alphaScript;
        bool stopInPause;         // else the setup stops this run itself
        const char *alphaOptions; // "r": the setup asks for a restart
    };
    const Case cases[] = {
        {"stop reaches the running setup", "#!/bin/sh\nkill -TERM $PPID\nexec sleep 30\n", false,
         ""},
        {"stop after the setup ended", "#!/bin/sh\nkill -KILL $$\n", true, ""},
        // The stop, not the setup's wish, has the last word: no restart.
        {"stop reaches a setup that asks for a restart",
         "#!/bin/sh\nkill -TERM $PPID\nexec sleep 30\n", false, "r"},
    };
    const std::function<void(SetupSteps &)> stopInPause = [](SetupSteps &steps) {
        steps.prerequisites = std::make_unique<PrerequisiteSteps>(PrerequisiteServices{
            .launchPause = [](std::chrono::milliseconds) { ::raise(SIGTERM); }});
    };
    for (const Case &c : cases) {
        std::filesystem::remove(entryPath);
        std::filesystem::remove_all(m_root + "/tmp");
        platform::RegistryDeleteKey(platform::RegistryHive::CurrentUser, kInterbootContextKey);
        Variant variant;
        variant.alphaScript = c.alphaScript;
        variant.alphaOptions = c.alphaOptions;
        BuildPackage(variant);
        const int status = test::StatusOfChild([&] {
            return Run("/exenoui /exelog \"" + m_log + "\"", c.stopInPause ? stopInPause : nullptr,
                       true) == 128 + SIGTERM
                       ? (m_reboots == 0 ? 0 : 2)
                       : 1;
        });
        // In the pause no program runs: the stop's own end ends the process
        // with 128 + the signal, unless the run reaches its end first and
        // returns that code itself.
        const bool stopsEnd = WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM;
        const bool runsEnd = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        EXPECT_TRUE(runsEnd || (c.stopInPause && stopsEnd)) << c.what << " " << status;
        EXPECT_TRUE(std::filesystem::exists(entryPath)) << c.what;
        EXPECT_TRUE(ContextKeyExists()) << c.what; // Alpha's code, for the resumed run
        // Beta, after Alpha, was not started.
        EXPECT_FALSE(std::filesystem::exists(m_root + "/ran")) << c.what;
    }
}

TEST_F(PrerequisiteFlowTest, BasicInterfaceRunsThePassesInItsProgressDialog) {
    // The progress window on the offscreen display: the restart question is
    // put over it.
    test::OffscreenApplication app("prereq-flow");
    m_windows.worker = [] { return MakeProgressWorkerWindow(); };
    BuildPackage(true);
    // The restart question is answered "No": no restart, no resume, and the
    // run ends as the progress dialog ends after a restart was needed.
    const std::shared_ptr<OwnerNotingBoxes> &boxes = m_boxes;
    boxes->Answer(answer::kNo);
    EXPECT_EQ(Run("/exebasicui /exelog \"" + m_log + "\""), -1) << m_debug;
    // The basic interface's command line (empty here) is the one handed on.
    EXPECT_EQ(ReadFile(m_root + "/ran"), "Alpha \n");
    EXPECT_EQ(m_reboots, 0);
    ASSERT_FALSE(boxes->Shown().empty());
    // The words the user reads (a text swapped with its caption would pass a
    // comparison with the string table).
    EXPECT_EQ(boxes->Shown().front().text,
              "Для завершения установки необходимых программ компьютер необходимо "
              "перезагрузить. Перезагрузить сейчас?");
    EXPECT_EQ(boxes->Shown().front().caption, "Требуется перезагрузка");
    EXPECT_EQ(boxes->OverProgressWindow().front(), true);
    EXPECT_EQ(ReadFile(m_root + "/args"), "");
    EXPECT_FALSE(platform::ReadAutostartEntry(EntryFolder(), ResumeEntryFileName(m_package)));
    EXPECT_FALSE(ContextKeyExists());
    const std::string log = ReadFile(m_log);
    EXPECT_NE(log.find("  Reboot was refused=true"), std::string::npos) << log;
}

TEST_F(PrerequisiteFlowTest, MandatoryPrerequisiteNotInstalledStopsTheRunBeforeTheProduct) {
    struct Case {
        const char *what;
        Variant variant;
        const char *missing; // the prerequisite the log names
        bool entryKept;      // the user has a site to act on
    };
    Variant downloadFails, wrongMd5, notDetected, notStarted, site;
    downloadFails.betaOptions = wrongMd5.betaOptions = notDetected.betaOptions = "m";
    downloadFails.betaFile = "gone.sh";
    wrongMd5.betaWrongMd5 = true;
    notDetected.betaInstalls = false;
    // Without detection only the failed start tells that it is missing.
    notStarted.alphaSource = "SetupFile=absent.sh";
    notStarted.alphaOptions = "mi";
    site.mandatorySite = true;
    const std::vector<Case> cases = {
        {"download fails", downloadFails, "Beta", false},
        {"refused by MD5", wrongMd5, "Beta", false},
        {"still not detected", notDetected, "Beta", false},
        {"setup did not start", notStarted, "Alpha", false},
        {"site to act on", site, "Delta", true},
    };
    for (const Case &c : cases) {
        for (const char *file : {"/ran", "/args", "/entry-seen"})
            std::filesystem::remove(m_root + file);
        std::filesystem::remove_all(m_root + "/registry/HKCU/Software/KrvTest/Beta");
        std::filesystem::remove_all(m_root + "/registry/HKCU/Software/KrvTest/Alpha");
        std::filesystem::remove_all(m_root + "/tmp");
        std::filesystem::remove(m_log);
        BuildPackage(c.variant);
        EXPECT_EQ(Run("/exenoui /exelog \"" + m_log + "\""), 1) << c.what << m_debug;
        // The main installer never started.
        EXPECT_FALSE(std::filesystem::exists(m_root + "/args")) << c.what;
        const std::string log = ReadFile(m_log);
        EXPECT_NE(log.find(std::string("Mandatory prerequisite was not installed:") + c.missing),
                  std::string::npos)
            << c.what << "\n"
            << log;
        EXPECT_EQ(
            platform::ReadAutostartEntry(EntryFolder(), ResumeEntryFileName(m_package)).has_value(),
            c.entryKept)
            << c.what;
        platform::RemoveAutostartEntry(EntryFolder(), ResumeEntryFileName(m_package));
    }
    EXPECT_EQ(m_windows.OpenedUrls(), std::vector<std::string>{"https://example.invalid/delta"});
}

} // namespace
} // namespace krv::setup
