#include "support_env.h"

#include <setup_process.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include <sys/wait.h>
#include <unistd.h>

using namespace krv::platform;
namespace fs = std::filesystem;

namespace {

using Args = std::vector<std::string>;

class Processes : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(m_dir.empty()); }
    std::string Script(const std::string &name, const std::string &body) {
        std::string path = m_dir + "/" + name;
        {
            std::ofstream out(path);
            out << "#!/bin/sh\n" << body << "\n";
        }
        fs::permissions(path, fs::perms::owner_all);
        return path;
    }
    std::string Read(const std::string &name) {
        return krv::setup::test::ReadFile(m_dir + "/" + name);
    }

    krv::setup::test::TempDir m_tmp{"process"};
    const std::string m_dir = m_tmp.path();
};

} // namespace

TEST(SplitCommandLine, BlanksQuotesAndBackslashes) {
    EXPECT_EQ(SplitCommandLine(""), Args{});
    EXPECT_EQ(SplitCommandLine("   \t "), Args{});
    EXPECT_EQ(SplitCommandLine("prog a  b\tc"), (Args{"prog", "a", "b", "c"}));
    EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\x.exe\" /q"),
              (Args{"C:\\Program Files\\x.exe", "/q"}));
    EXPECT_EQ(SplitCommandLine("a \"\" b"), (Args{"a", "", "b"}));
    EXPECT_EQ(SplitCommandLine("PROP=\"two words\" x"), (Args{"PROP=two words", "x"}));
    // Backslashes are literal unless they lead to a quote.
    EXPECT_EQ(SplitCommandLine("a\\\\b c\\"), (Args{"a\\\\b", "c\\"}));
    EXPECT_EQ(SplitCommandLine("a\\\"b"), (Args{"a\"b"}));
    EXPECT_EQ(SplitCommandLine("a\\\\\"b c\""), (Args{"a\\b c"}));
    EXPECT_EQ(SplitCommandLine("a\\\\\\\"b"), (Args{"a\\\"b"}));
    EXPECT_EQ(SplitCommandLine("\"a\"\"b\" c"), (Args{"a\"b", "c"}));
    EXPECT_EQ(SplitCommandLine("\"unterminated arg"), (Args{"unterminated arg"}));
    EXPECT_EQ(SplitCommandLine("\"\\\\server\\share\\\\\" x"), (Args{"\\\\server\\share\\", "x"}));
}

TEST(QuoteArgument, RoundTripsThroughSplit) {
    for (std::string arg :
         {"plain", "", "two words", "tab\there", "quote\"inside", "trailing\\", "dir with\\",
          "\\\\server\\share\\", "\\\"", "a\\\\\"b", "кириллица с пробелом"}) {
        std::string line = "prog " + QuoteArgument(arg) + " end";
        EXPECT_EQ(SplitCommandLine(line), (Args{"prog", arg, "end"})) << line;
    }
    EXPECT_EQ(QuoteArgument("plain"), "plain");
}

TEST_F(Processes, RunsAndReportsTheExitCode) {
    std::string script =
        Script("exit.sh", "echo \"$#:$1:$2\" > \"$(dirname \"$0\")/args\"; exit 37");
    ProcessStartInfo info;
    info.commandLine = QuoteArgument(script) + " \"first arg\" second";
    ProcessResult r = ProcessRun(info, true);
    EXPECT_TRUE(r.started);
    EXPECT_TRUE(r.waited);
    EXPECT_EQ(r.exitCode, 37u);
    EXPECT_EQ(Read("args"), "2:first arg:second\n");

    std::string full = Script("full.sh", "exit 255");
    info.commandLine = QuoteArgument(full);
    EXPECT_EQ(ProcessRun(info, true).exitCode, 255u);
}

TEST_F(Processes, ProgramGivenApartFromTheCommandLine) {
    std::string script = Script("argv0.sh", "echo \"$0|$1\" > \"" + m_dir + "/argv\"");
    ProcessStartInfo info;
    info.program = script;
    info.commandLine = "shown-name value";
    ProcessResult r = ProcessRun(info, true);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(Read("argv"), script + "|value\n");
}

TEST_F(Processes, SignalDeathIsNeverSuccess) {
    std::string script = Script("killed.sh", "kill -9 $$");
    ProcessStartInfo info;
    info.program = script;
    ProcessResult r = ProcessRun(info, true);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 128u + 9u);
}

TEST_F(Processes, StartFailuresAreReported) {
    ProcessStartInfo info;
    info.program = m_dir + "/missing";
    ProcessResult r = ProcessRun(info, true);
    EXPECT_FALSE(r.started);
    EXPECT_EQ(r.startError, ENOENT);

    std::string notExecutable = m_dir + "/data.txt";
    std::ofstream(notExecutable) << "text";
    info.program = notExecutable;
    r = ProcessRun(info, true);
    EXPECT_FALSE(r.started);
    EXPECT_EQ(r.startError, EACCES);

    info.program = Script("ok.sh", "exit 0");
    info.workingDirectory = m_dir + "/no-such-folder";
    r = ProcessRun(info, false);
    EXPECT_FALSE(r.started);
    EXPECT_EQ(r.startError, ENOENT);

    EXPECT_FALSE(ProcessRun(ProcessStartInfo{}, true).started);
}

TEST_F(Processes, SearchesPathForABareName) {
    ProcessStartInfo info;
    info.commandLine = "sh -c \"exit 5\"";
    ProcessResult r = ProcessRun(info, true);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 5u);
}

TEST_F(Processes, WorkingDirectoryAndSession) {
    fs::create_directories(m_dir + "/work");
    std::string script =
        Script("where.sh", "pwd > \"" + m_dir +
                               "/pwd\"; read -r a b c d e sid rest < /proc/self/stat; "
                               "echo $sid > \"" +
                               m_dir + "/sid\"");
    ProcessStartInfo info;
    info.program = script;
    info.workingDirectory = m_dir + "/work";
    info.detached = true;
    ASSERT_TRUE(ProcessRun(info, true).started);
    EXPECT_EQ(Read("pwd"), m_dir + "/work\n");
    EXPECT_NE(std::atol(Read("sid").c_str()), static_cast<long>(::getsid(0)));
}

TEST_F(Processes, WithoutWaitingNothingIsLeftBehind) {
    ProcessStartInfo info;
    info.program = "true";
    ProcessResult r = ProcessRun(info, false);
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.waited);
    // The intermediate child was reaped; the program belongs to init.
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(Processes, HandedLauncherTakesTheRunAndEmptyOneRunsForReal) {
    std::vector<std::string> seen;
    const ProcessLauncher recorder = [&](const ProcessStartInfo &info, bool wait) {
        seen.push_back(info.commandLine + (wait ? " (wait)" : ""));
        ProcessResult r;
        r.started = true;
        r.waited = wait;
        r.exitCode = 3010;
        return r;
    };
    ProcessStartInfo info;
    info.commandLine = "msiexec /i package.msi";
    EXPECT_EQ(ProcessRunWith(recorder, info, true).exitCode, 3010u);
    EXPECT_EQ(seen, std::vector<std::string>{"msiexec /i package.msi (wait)"});
    info.commandLine = "sh -c \"exit 4\"";
    EXPECT_EQ(ProcessRunWith({}, info, true).exitCode, 4u);
}
