// Every program of the build asked for help, or given a wrong argument: the
// usage on standard output with 0, or on standard error with a failure, and
// nothing run.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string BinFolder() {
    const char *bin = std::getenv("KRV_TEST_BIN");
    return bin ? bin : "";
}

struct Outcome {
    int status = -1; // the exit status, -1 when it did not exit by itself
    std::string out, err;
};

// Runs the program with the arguments (a shell's words) and no display, in
// a folder of its own, with a trial root for the setup; `environment`
// (NAME=VALUE words) comes last.
Outcome RunTool(const std::string &program, const std::string &arguments,
                const std::string &environment = "") {
    char pattern[] = "/tmp/krv-tool-help-XXXXXX";
    const std::string folder = ::mkdtemp(pattern) ? pattern : "/tmp";
    const std::string errFile = folder + "/stderr";
    const std::string command = "cd '" + folder + "' && env -u XDG_RUNTIME_DIR QT_QPA_PLATFORM= " +
                                "DISPLAY= WAYLAND_DISPLAY= KRV_SETUP_ROOT='" + folder + "/root' " +
                                environment + " timeout 30 '" + BinFolder() + "/" + program + "' " +
                                arguments + " 2>'" + errFile + "' </dev/null";
    Outcome outcome;
    if (FILE *pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            outcome.out.append(buffer, n);
        const int status = ::pclose(pipe);
        if (WIFEXITED(status) && WEXITSTATUS(status) != 124)
            outcome.status = WEXITSTATUS(status);
    }
    std::ifstream err(errFile);
    std::stringstream text;
    text << err.rdbuf();
    outcome.err = text.str();
    std::filesystem::remove_all(folder);
    return outcome;
}

enum class Answer { Help, Refusal };

struct Case {
    const char *program;
    const char *arguments;
    Answer answer;
    const char *says; // in the usage, on the stream the answer goes to
};

const Case kCases[] = {
    {"krv-emulator", "--help", Answer::Help, "usage: krv-emulator"},
    {"krv-emulator", "--pace", Answer::Refusal, "usage: krv-emulator"},
    {"krv-emulator", "--model t300", Answer::Refusal, "usage: krv-emulator"},
    {"krv-link-bench", "--help", Answer::Help, "usage: krv-link-bench"},
    {"krv-link-bench", "many", Answer::Refusal, "usage: krv-link-bench"},
    {"krv-link-bench", "10 20", Answer::Refusal, "usage: krv-link-bench"},
    {"krv-dump-bench", "-h", Answer::Help, "usage: krv-dump-bench"},
    {"krv-dump-bench", "0", Answer::Refusal, "usage: krv-dump-bench"},
    {"krv-console-loops-bench", "--help", Answer::Help, "usage: krv-console-loops-bench"},
    {"krv-console-loops-bench", "10 1 1 4800", Answer::Refusal, "usage: krv-console-loops-bench"},
    {"krv-package-builder", "--help", Answer::Help, "usage: krv-package-builder"},
    {"krv-package-builder", "--program", Answer::Refusal, "usage: krv-package-builder"},
    {"krv-msiexec", "--help", Answer::Help, "usage: krv-msiexec"},
    {"krv-msiexec", "'/?'", Answer::Help, "usage: krv-msiexec"},
    {"krv-msiexec", "/bogus", Answer::Refusal, "usage: krv-msiexec"},
    {"krv-package-bench", "--help", Answer::Help, "usage: krv-package-bench"},
    {"krv-package-bench", "--no-such-folder", Answer::Refusal, "usage: krv-package-bench"},
    {"krv-package-bench", ". 1x", Answer::Refusal, "usage: krv-package-bench"},
    {"krv-download-bench", "--help", Answer::Help, "usage: krv-download-bench"},
    {"krv-download-bench", "0", Answer::Refusal, "usage: krv-download-bench"},
    {"krv-draw-printers", "--help", Answer::Help, "usage: krv-draw-printers"},
    {"krv-draw-printers", "", Answer::Refusal, "usage: krv-draw-printers"},
    {"Telmar23", "--help", Answer::Help, "usage: Telmar23"},
    {"TelmarSetup2.3", "--help", Answer::Help, "/exenoui"},
    {"TelmarSetup2.3", "'/?'", Answer::Help, "/exenoui"},
};

TEST(ToolHelp, HelpOnStandardOutputRefusalOnStandardError) {
    ASSERT_FALSE(BinFolder().empty());
    for (const Case &c : kCases) {
        const std::string what = std::string(c.program) + " " + c.arguments;
        if (!std::filesystem::exists(BinFolder() + "/" + c.program)) {
            std::printf("%s is not built: not asked\n", c.program);
            continue;
        }
        const Outcome run = RunTool(c.program, c.arguments);
        if (c.answer == Answer::Help) {
            EXPECT_EQ(run.status, 0) << what << "\n" << run.err;
            EXPECT_NE(run.out.find(c.says), std::string::npos) << what << "\n" << run.out;
            EXPECT_EQ(run.err, "") << what;
        } else {
            EXPECT_GT(run.status, 0) << what << "\n" << run.out;
            EXPECT_NE(run.err.find(c.says), std::string::npos) << what << "\n" << run.err;
            EXPECT_EQ(run.out, "") << what;
        }
    }
}

// The console where no display opens (none named, as over plain ssh; one
// named that is not there): one line saying what it needs and how to give
// it, and a failure status of its own, not the toolkit's abort (134).
TEST(ToolHelp, ConsoleWithoutADisplaySaysWhatItNeeds) {
    if (!std::filesystem::exists(BinFolder() + "/Telmar23"))
        GTEST_SKIP() << "Telmar23 is not built";
    for (const char *environment :
         {"", "DISPLAY=:97 XAUTHORITY=/nonexistent", "QT_QPA_PLATFORM=xcb DISPLAY=:97"}) {
        const Outcome run = RunTool("Telmar23", "-free", environment);
        EXPECT_GT(run.status, 0) << environment << "\n" << run.err;
        EXPECT_LT(run.status, 128) << environment << "\n" << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        for (const char *says : {"display", "ssh -X", "QT_QPA_PLATFORM=offscreen"})
            EXPECT_NE(run.err.find(says), std::string::npos) << environment << "\n" << run.err;
        EXPECT_EQ(run.out, "") << environment;
    }
}

// The setup as built, with no package appended: it says so and how to make
// one, instead of a read error.
TEST(ToolHelp, SetupWithoutAPackageSaysHowToMakeOne) {
    const Outcome run = RunTool("TelmarSetup2.3", "");
    EXPECT_GT(run.status, 0);
    const std::string said = run.out + run.err;
    EXPECT_NE(said.find("./scripts/package.sh"), std::string::npos) << said;
    EXPECT_NE(said.find("krv-package-builder"), std::string::npos) << said;
    EXPECT_EQ(said.find("Input/output error"), std::string::npos) << said;
}

} // namespace
