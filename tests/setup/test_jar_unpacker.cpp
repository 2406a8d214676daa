// Packed Java archives handed to a stand-in unpack200 (a script that records
// its arguments); the runtime message when none is found, the failure
// message with unpack200's log, and cancellation.
#include "jar_unpacker.h"
#include "log.h"
#include "messages.h"
#include "support_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace krv::setup {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

class RecordingSteps : public StepProgressSink {
  public:
    int ShowModal() override {
        m_ready->Signal();
        return dialog_result::kFinished;
    }
    void BeginSteps(uint32_t count) override { begun = int(count); }
    void Finish() override { ++finished; }
    void Step() override { ++steps; }
    bool IsCancelled() override { return cancelAfter >= 0 && steps >= cancelAfter; }
    void SetReadyEvent(AutoResetEvent *event) override { m_ready = event ? event : m_ready; }
    int begun = -1, finished = 0, steps = 0, cancelAfter = -1;

  private:
    AutoResetEvent *m_ready = nullptr;
};

class JarUnpacking : public ::testing::Test {
  protected:
    void SetUp() override {
        // No Java of the system is ever looked at.
        m_env.Set("KRV_SETUP_ROOT", m_dir.path() + "/root");
        m_env.Unset("KRV_REGISTRY_ROOT");
        UiVisible = true;
        for (const char *name : {"a.jar.pack", "b.pack", "c.JAR.PACK", "sub/d.jar.pack", "e.jar"})
            WriteFile(m_folder + "/" + name, name);
    }
    // In the runtime folder beside the groups: records its arguments, writes
    // the archive or fails with a log.
    void InstallFakeUnpack200(bool produce) {
        const std::string script = m_folder + "/jre/bin/unpack200";
        WriteFile(script, "#!/bin/sh\nprintf '%s|' \"$@\" >> '" + m_dir.path() + "/calls'\n" +
                              (produce ? "cat \"$4\" > \"$5\"; rm -f \"$4\"\n"
                                       : "echo 'bad magic' > \"${2#--log-file=}\"; exit 1\n"));
        fs::permissions(script, fs::perms::owner_all);
    }

    test::TempDir m_dir{"jar"};
    test::ScopedEnv m_env;
    std::shared_ptr<ScriptedMessageBoxes> m_boxes = std::make_shared<ScriptedMessageBoxes>();
    SetupMessages m_messages{m_boxes};
    const std::string m_folder = m_dir.path() + "/groups";
};

TEST_F(JarUnpacking, EveryPackedArchiveGoesThroughUnpack200) {
    InstallFakeUnpack200(true);
    RecordingSteps steps;
    JarUnpacker unpacker({m_folder}, m_messages);
    EXPECT_EQ(unpacker.Run(&steps), jar_result::kOk);
    EXPECT_EQ(unpacker.Unpack200Path(), m_folder + "/jre/bin/unpack200");
    EXPECT_EQ(ReadFile(m_folder + "/a.jar"), "a.jar.pack");
    EXPECT_EQ(ReadFile(m_folder + "/c.JAR"), "c.JAR.PACK");
    EXPECT_EQ(ReadFile(m_folder + "/sub/d.jar"), "sub/d.jar.pack");
    EXPECT_FALSE(fs::exists(m_folder + "/a.jar.pack"));
    EXPECT_TRUE(fs::exists(m_folder + "/b.pack")); // not a packed archive
    EXPECT_EQ(steps.begun, 3);
    EXPECT_EQ(steps.steps, 3);
    EXPECT_EQ(steps.finished, 1);
    const std::string calls = ReadFile(m_dir.path() + "/calls");
    EXPECT_TRUE(calls.starts_with("--verbose|--log-file=")) << calls;
    EXPECT_NE(calls.find("|--remove-pack-file|" + m_folder + "/a.jar.pack|" + m_folder + "/a.jar|"),
              std::string::npos)
        << calls;
    EXPECT_TRUE(m_boxes->Shown().empty());
}

TEST_F(JarUnpacking, FailuresAndCancellation) {
    struct Case {
        const char *name;
        bool install, produce;
        int cancelAfter, result;
        const char *message; // in the one box shown; null: no box
    } cases[] = {
        {"no Java runtime", false, false, -1, jar_result::kFailed, "Java"},
        {"unpack200 fails", true, false, -1, jar_result::kFailed, "bad magic"},
        {"cancelled after one", true, true, 1, jar_result::kCancelled, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_folder + "/jre");
        if (c.install)
            InstallFakeUnpack200(c.produce);
        m_boxes->Clear();
        RecordingSteps steps;
        steps.cancelAfter = c.cancelAfter;
        EXPECT_EQ(JarUnpacker({m_folder}, m_messages).Run(&steps), c.result);
        EXPECT_EQ(steps.finished, 1); // the window never stays open
        const auto shown = m_boxes->Shown();
        ASSERT_EQ(shown.size(), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_NE(shown[0].text.find(c.message), std::string::npos) << shown[0].text;
        }
    }
    EXPECT_EQ(JarUnpacker({}, m_messages).Run(nullptr), jar_result::kOk);
}

} // namespace
} // namespace krv::setup
