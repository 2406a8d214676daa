#include "log.h"
#include "messages.h"
#include "program_run.h"
#include "support_env.h"
#include "ui_strings.h"

#include <setup_registry.h>
#include <setup_system.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace krv::setup {
namespace {

constexpr const char *kProgram = "/opt/telmar/TelmarSetup2.3";

std::string ReadFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A shell command's standard output and its wait status.
std::string CommandOutput(const std::string &command, int &status) {
    std::string out;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        status = -1;
        return out;
    }
    char buffer[512];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        out.append(buffer, n);
    status = ::pclose(pipe);
    return out;
}

int CountTimestampedLines(const std::string &text) {
    int count = 0;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (line.size() > 20 && line[4] == '-' && line[10] == ' ' && line[11] == '@')
            ++count;
    return count;
}

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.empty());
        m_env.Set("KRV_REGISTRY_ROOT", (m_dir / "registry").string());
    }
    void TearDown() override { LoggingEnabled = false; }
    // A run of the program whose boxes this test sees.
    int Run(const std::vector<std::string> &arguments, const SetupSequence &sequence = {}) {
        SetupServices services;
        services.messages = m_messages;
        return ProgramRun(arguments, kProgram, std::move(services), sequence);
    }
    krv::setup::test::TempDir m_tmp{"program"};
    const std::filesystem::path m_dir = m_tmp.path();
    krv::setup::test::ScopedEnv m_env;
    std::shared_ptr<ScriptedMessageBoxes> m_boxes = std::make_shared<ScriptedMessageBoxes>();
    SetupMessages m_messages{m_boxes};
};

TEST_F(ProgramTest, HelpShowsTheUsageBoxAndEndsWithZero) {
    for (const char *spelling : {"/?", "/help", "/HELP"}) {
        m_boxes->Clear();
        EXPECT_EQ(Run({spelling}), 0) << spelling;
        const auto shown = m_boxes->Shown();
        ASSERT_EQ(shown.size(), 1u) << spelling;
        EXPECT_EQ(shown[0].text, FormatUiString(144, std::string("TelmarSetup2.3")));
        EXPECT_EQ(shown[0].caption, FormatUiString(140, std::string("TelmarSetup2.3")));
        EXPECT_NE(shown[0].caption.find("TelmarSetup2.3"), std::string::npos);
        EXPECT_FALSE(shown[0].defaultCaption);
        EXPECT_EQ(shown[0].style, mb::kIconInformation);
        EXPECT_EQ(shown[0].owner, nullptr);
    }
}

// The help names what each switch takes: /groupsextract takes the ids of
// groups ("101;102;"), not a file, in both languages.
TEST(ProgramHelp, GroupsExtractTakesAListOfIds) {
    for (const bool english : {false, true}) {
        SetResourceModule(english ? EnglishResourceModule() : nullptr);
        const std::string help = FormatUiString(144, std::string("TelmarSetup2.3"));
        const std::size_t start = help.find("/groupsextract ");
        ASSERT_NE(start, std::string::npos) << help;
        const std::string line = help.substr(start, help.find('\n', start) - start);
        EXPECT_NE(line.find(english ? " list\t" : " список\t"), std::string::npos) << line;
        EXPECT_NE(line.find("(101;102;)"), std::string::npos) << line;
        EXPECT_EQ(line.find(english ? "file" : "файл"), std::string::npos) << line;
    }
    SetResourceModule(nullptr);
}

TEST_F(ProgramTest, HelpWithLogLeavesHeaderSystemBlockAndEndLineOnly) {
    const auto path = m_dir / "help log.txt";
    EXPECT_EQ(Run({"/exelog", path.string(), "/help"}), 0);
    const std::string text = ReadFile(path);
    EXPECT_EQ(
        text.rfind(
            "\r\n====== Starting logging of \"/opt/telmar/TelmarSetup2.3\" ====\r\n<< OS Version: ",
            0),
        0u)
        << text;
    EXPECT_EQ(CountTimestampedLines(text), 1);
    EXPECT_NE(text.find("-=====================End of Log=====================\r\n\r\n"),
              std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");
    EXPECT_EQ(TheSetupLog().fd, -1); // closed at the end of the run
}

TEST_F(ProgramTest, SetupRunLogsCommandLinesWithMaskedPasswordsAndTheExitCode) {
    const auto path = m_dir / "run.log";
    EXPECT_EQ(Run({"/exelog:" + path.string(), "/password", "s3cret pass", "/qn", "PROP=a b"}), 1);
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.find("s3cret"), std::string::npos);
    EXPECT_NE(text.find("-Full command line:/opt/telmar/TelmarSetup2.3 /exelog:" + path.string() +
                        " /password \"*****\" /qn PROP=\"a b\"\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("-Command line to pass to MSI:/qn PROP=\"a b\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("-Code returned to Windows by setup:1\r\n"), std::string::npos);
    EXPECT_EQ(CountTimestampedLines(text), 4);
}

TEST_F(ProgramTest, TheSequenceGetsTheParsedLineAndGivesTheExitCode) {
    SetupProgram seen;
    const int code = Run({"/exenoui", "/exelang", "1049", "TARGETDIR=/opt/my app"},
                         [&seen](SetupProgram &program, SetupServices &) {
                             seen = program;
                             return 3010;
                         });
    EXPECT_EQ(code, 3010);
    EXPECT_EQ(seen.programPath, kProgram);
    EXPECT_EQ(seen.commandLine, "/exenoui /exelang 1049 TARGETDIR=\"/opt/my app\"");
    ASSERT_EQ(seen.options.switches.size(), 2u);
    EXPECT_EQ(seen.options.switches[1].value, "1049");
    EXPECT_EQ(seen.options.passThrough, "TARGETDIR=\"/opt/my app\"");
    EXPECT_TRUE(m_boxes->Shown().empty());
    EXPECT_FALSE(LoggingEnabled);
}

TEST_F(ProgramTest, ExtractLzmaComesBeforeExtractAndDeleteLzma) {
    struct Row {
        std::vector<std::string> arguments;
        bool sequenceRuns; // the runner's turn: /listlangs or /extractlzma
    };
    const Row rows[] = {
        {{"/extractlzma", "/extract", "/tmp"}, true},
        {{"/extractlzma", "/deletelzma"}, true},
        {{"/exenoui", "/extractlzma", "/deletelzma"}, true},
        // Parsing stops after /extract, /deletelzma and /listlangs.
        {{"/extract", "/tmp", "/listlangs"}, false},
        {{"/deletelzma", "/extractlzma"}, false},
        {{"/deletelzma"}, false},
    };
    for (const Row &row : rows) {
        bool ran = false;
        Run(row.arguments, [&ran](SetupProgram &, SetupServices &) {
            ran = true;
            return 0;
        });
        EXPECT_EQ(ran, row.sequenceRuns) << row.arguments.front() << " " << row.arguments.back();
    }
}

TEST_F(ProgramTest, CommandLineStoredForCmdlocReplacesTheArguments) {
    using namespace krv::platform;
    const auto key = RegistryCreateKey(RegistryHive::CurrentUser, "Software\\Telmar\\Run");
    ASSERT_TRUE(key);
    ASSERT_TRUE(RegistrySetValue(*key, "Line", RegistryValue::MakeText("/exebasicui REBOOT=R")));
    std::string line;
    auto capture = [&line](SetupProgram &program, SetupServices &) {
        line = program.commandLine;
        return 0;
    };
    Run({"/cmdloc", "HKCU\\Software\\Telmar\\Run\\Line"}, capture);
    EXPECT_EQ(line, "/exebasicui REBOOT=R");
    // Used once: value and emptied key are gone, so the next start with the
    // same switch keeps its own line.
    EXPECT_FALSE(RegistryOpenKey(RegistryHive::CurrentUser, "Software\\Telmar\\Run"));
    Run({"/cmdloc", "HKCU\\Software\\Telmar\\Run\\Line"}, capture);
    EXPECT_EQ(line, "/cmdloc HKCU\\Software\\Telmar\\Run\\Line");
}

TEST(ProgramNames, BaseNameDropsFolderAndWindowsExtension) {
    EXPECT_EQ(ProgramBaseName("/opt/telmar/TelmarSetup2.3"), "TelmarSetup2.3");
    EXPECT_EQ(ProgramBaseName("C:\\dl\\TelmarSetup2.3.exe"), "TelmarSetup2.3");
    EXPECT_EQ(ProgramBaseName("setup"), "setup");
}

// The program itself, started without a display, answers /? on standard
// output and ends instead of waiting for a box.
TEST(ProgramBinary, HelpWithoutDisplayPrintsUsageAndExits) {
    // The program is built into the folder of the test executables.
    const std::filesystem::path program = test::BinFolder() + "/TelmarSetup2.3";
    if (!std::filesystem::exists(program))
        GTEST_SKIP() << "TelmarSetup2.3 not built";
    // A display that is named but does not open (no server, no authority)
    // counts as none: the program must not die in Qt with code 134.
    for (const char *platform :
         {"QT_QPA_PLATFORM=offscreen", "QT_QPA_PLATFORM= DISPLAY= WAYLAND_DISPLAY=",
          "QT_QPA_PLATFORM= WAYLAND_DISPLAY= DISPLAY=:97 XAUTHORITY=/nonexistent",
          "QT_QPA_PLATFORM=xcb WAYLAND_DISPLAY= DISPLAY=:97"}) {
        const std::string command = std::string("env ") + platform + " timeout 60 '" +
                                    program.string() + "' /? 2>/dev/null";
        int status = 0;
        const std::string out = CommandOutput(command, status);
        ASSERT_TRUE(WIFEXITED(status)) << platform;
        EXPECT_EQ(WEXITSTATUS(status), 0) << platform;
        EXPECT_NE(out.find(FormatUiString(140, std::string("TelmarSetup2.3"))), std::string::npos)
            << platform << "\n"
            << out;
        EXPECT_GT(out.size(), 40u) << out;
    }
}

// The toolkit's runtime folder under the trial root: made with every
// parent on a first run (no root yet), private to this user, and the
// program says nothing about a missing XDG_RUNTIME_DIR.
TEST(ProgramBinary, FirstRunUnderAFreshRootMakesItsRuntimeFolder) {
    const std::filesystem::path program = test::BinFolder() + "/TelmarSetup2.3";
    if (!std::filesystem::exists(program))
        GTEST_SKIP() << "TelmarSetup2.3 not built";
    test::TempDir dir("runtime");
    const std::string root = dir.path() + "/not/yet/root";
    const std::string runtime = root + "/run/user/" + std::to_string(::getuid());
    const std::string command = "env -u XDG_RUNTIME_DIR KRV_SETUP_ROOT='" + root +
                                "' QT_QPA_PLATFORM=offscreen timeout 60 '" + program.string() +
                                "' /? 2>&1 >/dev/null";
    int status = 0;
    const std::string errors = CommandOutput(command, status);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(errors.find("XDG_RUNTIME_DIR"), std::string::npos) << errors;
    struct stat info {};
    ASSERT_EQ(::lstat(runtime.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, ::getuid());

    // In the process: a folder left open to others is closed again, and a
    // link in its place is not taken.
    test::ScopedEnv env;
    env.Set("KRV_SETUP_ROOT", root);
    env.Unset("XDG_RUNTIME_DIR");
    ASSERT_EQ(::chmod(runtime.c_str(), 0755), 0);
    EXPECT_TRUE(ProgramUseRootRuntimeFolder());
    EXPECT_EQ(platform::GetEnvironmentVariable("XDG_RUNTIME_DIR").value_or(""), runtime);
    ASSERT_EQ(::lstat(runtime.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    env.Unset("XDG_RUNTIME_DIR");
    ASSERT_EQ(::rmdir(runtime.c_str()), 0);
    ASSERT_EQ(::symlink(dir.path().c_str(), runtime.c_str()), 0);
    EXPECT_FALSE(ProgramUseRootRuntimeFolder());
    EXPECT_FALSE(platform::GetEnvironmentVariable("XDG_RUNTIME_DIR").has_value());
}

} // namespace
} // namespace krv::setup
