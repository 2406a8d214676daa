// Packed Java archives: found below the extracted folders and handed to a
// stand-in unpack200 (a script that records its arguments); the runtime
// message when none is found, the failure message with unpack200's log, and
// cancellation.
#include "jar_unpacker.h"
#include "log.h"
#include "messages.h"
#include "support_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <sys/stat.h>

namespace krv::setup {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

// Counts steps and cancels when told to.
class RecordingSteps : public StepProgressSink {
  public:
    int ShowModal() override {
        if (m_ready)
            m_ready->Signal();
        return dialog_result::kFinished;
    }
    void BeginSteps(uint32_t count) override { begun = int(count); }
    void Finish() override { ++finished; }
    void SetStepText(std::string_view path) override { texts.emplace_back(path); }
    void Step() override { ++steps; }
    bool IsCancelled() override { return cancelAfter >= 0 && steps >= cancelAfter; }
    void SetReadyEvent(AutoResetEvent *event) override { m_ready = event; }

    int begun = -1, finished = 0, steps = 0, cancelAfter = -1;
    std::vector<std::string> texts;

  private:
    AutoResetEvent *m_ready = nullptr;
};

class JarUnpacking : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.path().empty());
        // No Java of the system is ever looked at.
        m_env.Set("KRV_SETUP_ROOT", m_dir.path() + "/root");
        m_env.Unset("KRV_REGISTRY_ROOT");
        m_boxes = std::make_shared<ScriptedMessageBoxes>();
        SetMessageBoxPresenter(m_boxes);
        UiVisible = true;
        m_folder = m_dir.path() + "/groups";
        WriteFile(m_folder + "/a.jar.pack", "A");
        WriteFile(m_folder + "/b.pack", "B");
        WriteFile(m_folder + "/c.JAR.PACK", "C");
        WriteFile(m_folder + "/sub/d.jar.pack", "D");
        WriteFile(m_folder + "/sub/e.jar", "E");
    }
    void TearDown() override { SetMessageBoxPresenter(nullptr); }

    // A stand-in unpack200 in the runtime folder beside the groups: records
    // its arguments, and writes the archive unless it is told to fail.
    void InstallFakeUnpack200(bool produce) {
        const std::string script = m_folder + "/jre/bin/unpack200";
        WriteFile(script, std::string("#!/bin/sh\n") + "printf '%s|' \"$@\" >> '" + m_dir.path() +
                              "/calls'\necho >> '" + m_dir.path() + "/calls'\n" +
                              "log=${2#--log-file=}\n" +
                              (produce ? "cat \"$4\" > \"$5\"; rm -f \"$4\"\n"
                                       : "echo 'bad magic in pack' > \"$log\"; exit 1\n"));
        ::chmod(script.c_str(), 0755);
    }
    std::vector<std::string> Calls() {
        std::vector<std::string> lines;
        std::string text = ReadFile(m_dir.path() + "/calls"), line;
        for (char c : text) {
            if (c == '\n') {
                lines.push_back(line);
                line.clear();
            } else {
                line += c;
            }
        }
        return lines;
    }

    test::TempDir m_dir{"jar"};
    test::ScopedEnv m_env;
    std::shared_ptr<ScriptedMessageBoxes> m_boxes;
    std::string m_folder;
};

TEST_F(JarUnpacking, FindsPackedArchivesByTheirDoubleEnding) {
    std::vector<PackedArchive> found;
    FindPackedArchives(m_folder, 3, found);
    std::vector<std::string> names;
    for (const PackedArchive &entry : found) {
        names.push_back(fs::path(entry.path).filename().string());
        EXPECT_EQ(entry.folder, 3u);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.jar.pack", "c.JAR.PACK", "d.jar.pack"}));
}

TEST_F(JarUnpacking, EveryArchiveGoesThroughUnpack200) {
    InstallFakeUnpack200(true);
    RecordingSteps steps;
    JarUnpacker unpacker({m_folder});
    EXPECT_EQ(unpacker.Run(&steps), jar_result::kOk);
    EXPECT_EQ(unpacker.Unpack200Path(), m_folder + "/jre/bin/unpack200");
    EXPECT_EQ(ReadFile(m_folder + "/a.jar"), "A");
    EXPECT_EQ(ReadFile(m_folder + "/c.JAR"), "C");
    EXPECT_EQ(ReadFile(m_folder + "/sub/d.jar"), "D");
    EXPECT_FALSE(fs::exists(m_folder + "/a.jar.pack"));
    EXPECT_TRUE(fs::exists(m_folder + "/b.pack"));
    EXPECT_EQ(steps.begun, 3);
    EXPECT_EQ(steps.steps, 3);
    EXPECT_EQ(steps.finished, 1);
    const std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), 3u);
    for (const std::string &call : calls) {
        EXPECT_TRUE(call.starts_with("--verbose|--log-file=")) << call;
        EXPECT_NE(call.find("|--remove-pack-file|" + m_folder + "/"), std::string::npos) << call;
    }
    EXPECT_NE(calls[0].find(".pack|" + m_folder), std::string::npos) << calls[0];
    EXPECT_TRUE(m_boxes->Shown().empty());
}

TEST_F(JarUnpacking, FailuresAndCancellation) {
    struct Case {
        const char *name;
        bool install;
        bool produce;
        int cancelAfter;
        int result;
        const char *message; // a piece of the one box shown, or null for none
    } cases[] = {
        {"no Java runtime", false, false, -1, jar_result::kFailed, "Java"},
        {"unpack200 fails", true, false, -1, jar_result::kFailed, "bad magic in pack"},
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
        EXPECT_EQ(JarUnpacker({m_folder}).Run(&steps), c.result);
        EXPECT_EQ(steps.finished, 1); // the window never stays open
        const auto shown = m_boxes->Shown();
        if (c.message) {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_NE(shown[0].text.find(c.message), std::string::npos) << shown[0].text;
        } else {
            EXPECT_TRUE(shown.empty());
        }
    }
    EXPECT_EQ(JarUnpacker({}).Run(nullptr), jar_result::kOk);
}

} // namespace
} // namespace krv::setup
