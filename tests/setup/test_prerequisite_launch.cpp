#include "command_line.h"
#include "interboot_context.h"
#include "launch_list.h"
#include "log.h"
#include "messages.h"
#include "prerequisite_model.h"
#include "resume.h"
#include "support_env.h"
#include "support_offscreen.h"
#include "ui_dispatcher.h"

#include <setup_autostart.h>
#include <setup_reboot.h>
#include <setup_registry.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace krv::setup {
namespace {

using test::ReadFile;
using test::WriteFile;

class PrerequisiteLaunchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_root.empty());
        m_env.Set("KRV_SETUP_ROOT", m_root);
        m_env.Unset("KRV_REGISTRY_ROOT");
        m_env.Unset("XDG_CONFIG_HOME");
    }
    void TearDown() override {
        platform::RegistryDeleteKey(platform::RegistryHive::CurrentUser, kInterbootContextKey);
    }

    // An executable script in the test folder.
    std::string Script(const std::string &name, const std::string &body) {
        const std::string path = m_root + "/" + name;
        WriteFile(path, "#!/bin/sh\n" + body + "\n");
        ::chmod(path.c_str(), 0755);
        return path;
    }
    // Counts the restarts asked for and answers as the test says.
    platform::RebootRequester Reboot() {
        return [this](const std::string &) {
            std::lock_guard guard(m_lock);
            ++m_reboots;
            return m_rebootAnswer;
        };
    }
    // Records the pauses instead of sleeping.
    LaunchPause Pause() {
        return [this](std::chrono::milliseconds pause) {
            std::lock_guard guard(m_lock);
            m_pauses.push_back(pause.count());
        };
    }
    LaunchItem Item(const std::string &file, const std::string &property, bool reboot = false) {
        LaunchItem item;
        item.file = file;
        item.name = property;
        item.retValPropName = property;
        item.rebootFlag = reboot;
        return item;
    }

    test::TempDir m_tmp{"launch"};
    const std::string m_root = m_tmp.path();
    test::ScopedEnv m_env;
    std::shared_ptr<ScriptedMessageBoxes> m_boxes = std::make_shared<ScriptedMessageBoxes>();
    SetupMessages m_messages{m_boxes};
    std::mutex m_lock;
    std::vector<long> m_pauses;
    int m_reboots = 0;
    platform::RebootOutcome m_rebootAnswer = platform::RebootOutcome::kRequested;
};

TEST_F(PrerequisiteLaunchTest, ExitCodesAreStoredAndSignalsMapToTheFailureRange) {
    struct Case {
        const char *what;
        std::string body;
        uint32_t code;
        bool paused;
    };
    const std::vector<Case> cases = {
        {"success", "exit 0", 0, false},
        {"failure", "exit 1", 1, false},
        {"arguments reach the setup", "[ \"$1\" = --quiet ] && exit 42; exit 3", 42, false},
        {"killed", "kill -KILL $$", kSignalExitBase + 9, true},
        {"crashed", "kill -SEGV $$", 0xC000000Bu, true},
    };
    RegistryValue store(kInterbootContextKey, {}, nullptr);
    LaunchList list(&store, Pause(), {}, {}, m_messages);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        LaunchItem item =
            Item(Script("setup" + std::to_string(i), cases[i].body), "RESULT" + std::to_string(i));
        item.commandLine = "--quiet";
        list.AddLaunchItem(item);
        m_pauses.clear();
        EXPECT_TRUE(list.RunLaunchItem(i)) << cases[i].what;
        int32_t stored = 0;
        EXPECT_EQ(store.GetInt(item.retValPropName, stored), 0) << cases[i].what;
        EXPECT_EQ(static_cast<uint32_t>(stored), cases[i].code) << cases[i].what;
        EXPECT_EQ(m_pauses.size(), cases[i].paused ? 1u : 0u) << cases[i].what;
    }
}

TEST_F(PrerequisiteLaunchTest, SettlingPauseFollowsRestartAndFailureCodes) {
    for (uint32_t code : {3010u, 0xC0000005u, 0xC0000000u, 0xFFFFFFFFu})
        EXPECT_TRUE(NeedsSettlingPause(code)) << code;
    for (uint32_t code : {0u, 1u, 1641u, 3011u, 0xBFFFFFFFu})
        EXPECT_FALSE(NeedsSettlingPause(code)) << code;
}

TEST_F(PrerequisiteLaunchTest, SetupThatCannotStartStoresNoResult) {
    bool launched = false;
    const platform::ProcessLauncher cannotStart = [&launched](const platform::ProcessStartInfo &,
                                                              bool) {
        launched = true;
        platform::ProcessResult result;
        result.startError = ENOENT;
        return result;
    };
    RegistryValue store(kInterbootContextKey, {}, nullptr);
    LaunchList list(&store, Pause(), cannotStart, {}, m_messages);
    list.AddLaunchItem(Item(m_root + "/missing", "RESULT"));
    EXPECT_EQ(list.RunLaunchItemWithReboot(0, true), launch_result::kFailed);
    EXPECT_EQ(list.LastError(), static_cast<uint32_t>(ENOENT));
    std::string text;
    EXPECT_EQ(store.GetString("RESULT", text), store_result::kNotFound);
    // A setup file the package lacked starts nothing at all.
    launched = false;
    list.AddLaunchItem(Item("", "EMPTY"));
    EXPECT_FALSE(list.RunLaunchItem(1));
    EXPECT_FALSE(launched);
}

TEST_F(PrerequisiteLaunchTest, RestartIsAskedForAsTheItemAndTheUserSay) {
    struct Case {
        const char *what;
        bool silent;
        int answer; // scripted box answer, 0: no box expected
        platform::RebootOutcome outcome;
        int reboots;
        bool refused;
        bool inProgress;
    };
    using platform::RebootOutcome;
    const std::vector<Case> cases = {
        {"silent restarts without asking", true, 0, RebootOutcome::kRequested, 1, false, true},
        {"yes restarts", false, answer::kYes, RebootOutcome::kRequested, 1, false, true},
        {"no refuses", false, answer::kNo, RebootOutcome::kRequested, 0, true, false},
        {"not allowed", true, 0, RebootOutcome::kNotAllowed, 1, false, false},
    };
    const std::string file = Script("setup", "exit 0");
    for (const Case &c : cases) {
        m_boxes->Clear();
        if (c.answer)
            m_boxes->Answer(c.answer);
        m_reboots = 0;
        m_rebootAnswer = c.outcome;
        LaunchList list(nullptr, {}, {}, Reboot(), m_messages);
        list.AddLaunchItem(Item(file, "R", true));
        EXPECT_EQ(list.RunLaunchItemWithReboot(0, c.silent), launch_result::kReboot) << c.what;
        EXPECT_EQ(m_reboots, c.reboots) << c.what;
        EXPECT_TRUE(list.RebootRequired()) << c.what;
        EXPECT_EQ(list.RebootRefused(), c.refused) << c.what;
        EXPECT_EQ(list.RebootInProgress(), c.inProgress) << c.what;
        EXPECT_EQ(m_boxes->Shown().size(), c.answer ? 1u : 0u) << c.what;
    }
}

// Records what the launch thread reports.
class RecordingSink : public ProgressSink {
  public:
    void BeginItem(uint64_t size, std::string_view) override {
        Add("begin " + std::to_string(size));
    }
    void SetStatus(const ProgressStatus &status) override { Add("status " + status.text); }
    void Advance(uint64_t) override { Add("advance"); }
    void OnError(std::string_view, uint32_t code) override { Add("error " + std::to_string(code)); }
    void EndItem(int result) override { Add("end " + std::to_string(result)); }
    std::vector<std::string> Calls() {
        std::lock_guard guard(m_lock);
        return m_calls;
    }

  private:
    void Add(std::string call) {
        std::lock_guard guard(m_lock);
        m_calls.push_back(std::move(call));
    }
    std::mutex m_lock;
    std::vector<std::string> m_calls;
};

TEST_F(PrerequisiteLaunchTest, ThreadStopsAfterTheItemThatNeedsARestart) {
    m_boxes->Answer(answer::kNo);
    const std::string first = Script("first", "exit 0");
    const std::string second = Script("second", "exit 0");
    const std::string third = Script("third", "touch \"" + m_root + "/third-ran\"");
    LaunchList list(nullptr, {}, {}, Reboot(), m_messages);
    list.AddLaunchItem(Item(first, "A"));
    list.AddLaunchItem(Item(second, "B", true));
    list.AddLaunchItem(Item(third, "C"));
    RecordingSink sink;
    list.StartLaunchThread(&sink);
    list.WaitLaunchThread();
    EXPECT_EQ(sink.Calls(), (std::vector<std::string>{"begin 3", "status " + first, "advance",
                                                      "status " + second, "advance", "end 1"}));
    EXPECT_NE(::access((m_root + "/third-ran").c_str(), F_OK), 0);
    EXPECT_TRUE(list.RebootRefused());
    EXPECT_EQ(m_reboots, 0);
}

// Notes the thread of each box, and of each restacking of the window it is
// installed on.
class ThreadRecorder : public QObject, public MessageBoxPresenter {
  public:
    int Show(const MessageBoxRequest &request) override {
        std::lock_guard guard(m_lock);
        m_boxThreads.push_back(QThread::currentThread());
        m_owners.push_back(request.owner);
        return answer::kNo;
    }
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::ZOrderChange) {
            std::lock_guard guard(m_lock);
            m_windowThreads.push_back(QThread::currentThread());
        }
        return false;
    }
    std::mutex m_lock;
    std::vector<QThread *> m_boxThreads, m_windowThreads;
    std::vector<QObject *> m_owners;
};

TEST_F(PrerequisiteLaunchTest, RestartQuestionFromAWorkerIsAskedOnTheInterfaceThread) {
    test::OffscreenApplication offscreen("test_prerequisite_launch");
    QApplication &app = offscreen.App();
    auto recorder = std::make_shared<ThreadRecorder>();
    QWidget owner;
    owner.show();
    owner.installEventFilter(recorder.get());

    LaunchList list(nullptr, {}, {}, Reboot(), SetupMessages(recorder));
    list.AddLaunchItem(Item(Script("setup", "exit 0"), "R", true));
    list.SetOwnerWindow(&owner);
    // The list runs on a worker while this thread keeps processing events,
    // as the install page and the progress dialog do.
    std::atomic<bool> done{false};
    int result = -1;
    std::thread worker([&] {
        result = list.RunLaunchItemWithReboot(0, false);
        done = true;
        UiDispatcher::Wake();
    });
    UiDispatcher::WaitProcessingEvents([&done] { return done.load(); });
    worker.join();
    QCoreApplication::processEvents();

    EXPECT_EQ(result, launch_result::kReboot);
    EXPECT_TRUE(list.RebootRefused());
    std::lock_guard guard(recorder->m_lock);
    EXPECT_EQ(recorder->m_boxThreads, std::vector<QThread *>{app.thread()});
    EXPECT_EQ(recorder->m_owners, std::vector<QObject *>{&owner});
    // The owner came to the front again, on its own thread.
    ASSERT_FALSE(recorder->m_windowThreads.empty());
    for (QThread *thread : recorder->m_windowThreads)
        EXPECT_EQ(thread, app.thread());
    owner.removeEventFilter(recorder.get());
}

TEST_F(PrerequisiteLaunchTest, ContextKeepsFirstCodesAndSurvivesASimulatedRestart) {
    SetupSettings settings;
    PrerequisiteRecord a, b;
    a.retValPropName = "A_RESULT";
    b.retValPropName = "B_RESULT";
    settings.prerequisites = {a, b};
    {
        // First run: codes stored, then a restart is pending.
        std::unique_ptr<RegistryValue> store = MakeInterbootContext(settings);
        EXPECT_EQ(store->SetInt("A_RESULT", 3010), store_result::kOk);
        EXPECT_EQ(store->SetInt("A_RESULT", 1), store_result::kPresent);
        EXPECT_EQ(store->SetInt("B_RESULT", -1073741819), store_result::kOk);
        EXPECT_EQ(store->AddString("TEXT", "12x"), store_result::kOk);
        int32_t value = 0;
        EXPECT_EQ(store->GetInt("TEXT", value), store_result::kNotNumber);
        EXPECT_EQ(store->GetInt("MISSING", value), store_result::kNotNumber);
        store->SetDeleteOnDestruction(false);
    }
    // The read-back at the end of the first run did not take the codes away.
    SetupSettings resumed;
    resumed.prerequisites = {a, b};
    {
        std::unique_ptr<RegistryValue> store = MakeInterbootContext(resumed);
        ReadBackPrerequisiteResults(*store, resumed);
        ASSERT_TRUE(resumed.prerequisites[0].resultKnown);
        EXPECT_EQ(resumed.prerequisites[0].resultValue, 3010);
        EXPECT_EQ(static_cast<uint32_t>(resumed.prerequisites[1].resultValue), 0xC0000005u);
    }
    // The finished run removed the key.
    EXPECT_FALSE(
        platform::RegistryOpenKey(platform::RegistryHive::CurrentUser, kInterbootContextKey));
    EXPECT_TRUE(resumed.prerequisites[1].resultKnown);
}

TEST(PrerequisiteResumeEntry, ExecArgumentsAreQuotedAndReadBack) {
    struct Case {
        const char *argument;
        const char *inFile; // as the Exec value holds it
    };
    const std::vector<Case> cases = {
        {"/exenoui", "/exenoui"},
        {"/opt/Setup Files/TelmarSetup2.3", "\"/opt/Setup Files/TelmarSetup2.3\""},
        {"say \"hi\"", "\"say \\\\\"hi\\\\\"\""},
        {"C:\\temp", "\"C:\\\\\\\\temp\""},
        {"50%", "50%%"},
        {"$HOME", "\"\\\\$HOME\""},
        {"", "\"\""},
    };
    std::vector<std::string> all;
    for (const Case &c : cases) {
        EXPECT_EQ(platform::BuildExecValue({c.argument}), c.inFile) << c.argument;
        auto back = platform::ParseExecValue(c.inFile);
        ASSERT_TRUE(back) << c.argument;
        EXPECT_EQ(*back, std::vector<std::string>{c.argument});
        all.push_back(c.argument);
    }
    EXPECT_EQ(platform::ParseExecValue(platform::BuildExecValue(all)), all);
    EXPECT_FALSE(platform::ParseExecValue("\"open"));
    EXPECT_FALSE(platform::ParseExecValue("bad\\"));
}

TEST_F(PrerequisiteLaunchTest, ResumeEntryIsWrittenUpdatedAndRemoved) {
    EXPECT_EQ(MakeJobName("C:\\Setup Files\\setup.exe"), "C__Setup Files_setup.exe.job");
    const std::string program = "/opt/Setup Files/TelmarSetup2.3";
    const std::string folder = m_root + "/home/.config/autostart/";
    EXPECT_EQ(ResumeEntryFolder(), folder);
    std::string name;
    ASSERT_TRUE(RegisterResume(&name, program, "/exenoui"));
    ASSERT_TRUE(RegisterResume(&name, program, "/exenoui /prereqs \"0,1\" /exelog"));
    EXPECT_EQ(name, "_opt_Setup Files_TelmarSetup2.3.desktop");
    const std::string text = ReadFile(folder + name);
    EXPECT_NE(text.find("\nExec=\"/opt/Setup Files/TelmarSetup2.3\" /exenoui /prereqs 0,1 "
                        "/exelog\n"),
              std::string::npos)
        << text;
    auto entry = platform::ReadAutostartEntry(folder, name);
    ASSERT_TRUE(entry);
    // What the session runs gives the runner back the same switches.
    std::vector<std::string> arguments(entry->arguments.begin() + 1, entry->arguments.end());
    CommandLineOptions options = ParseCommandLine(JoinWindowsCommandLine(arguments));
    ASSERT_TRUE(FindSwitch(options, switch_id::kPrereqs));
    EXPECT_EQ(FindSwitch(options, switch_id::kPrereqs)->value, "0,1");
    EXPECT_TRUE(FindSwitch(options, switch_id::kExeLog));
    UnregisterResume(program);
    EXPECT_FALSE(platform::ReadAutostartEntry(folder, name));
    EXPECT_FALSE(RegisterResume(nullptr, "", "/exenoui"));
    // The folders the entry needed go with it; a folder there before stays.
    EXPECT_FALSE(std::filesystem::exists(m_root + "/home/.config"));
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(RegisterResume(&name, program, "/exenoui"));
    UnregisterResume(program);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

} // namespace
} // namespace krv::setup
