// scripts/run-console.sh with the real emulator and a stand-in console that
// reports the port it was handed: every run has a link of its own, which
// lives as long as the run and no other run can take away.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// The stand-in console: prints the port, checks it leads somewhere, waits
// for the test's word (the file named by KRV_TEST_GO, when set), then
// checks the port again.
constexpr const char *kStandInConsole = R"(#!/bin/sh
echo "port: $KRV_COM1"
[ -e "$KRV_COM1" ] || { echo "no link at start" >&2; exit 3; }
if [ -n "${KRV_TEST_GO:-}" ]; then
    tries=0
    while [ ! -e "$KRV_TEST_GO" ] && [ "$tries" -lt 1200 ]; do
        sleep 0.05
        tries=$((tries + 1))
    done
fi
[ -e "$KRV_COM1" ] || { echo "link gone" >&2; exit 4; }
echo "still there"
)";

class RunConsoleScript : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *bin = std::getenv("KRV_TEST_BIN");
        ASSERT_TRUE(bin && *bin);
        char pattern[] = "/tmp/krv-run-console-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_folder = pattern;
        fs::create_directories(m_folder / "build/bin");
        fs::create_directories(m_folder / "tmp");
        fs::create_symlink(fs::path(bin) / "krv-emulator", m_folder / "build/bin/krv-emulator");
        const fs::path console = m_folder / "build/bin/Telmar23";
        std::ofstream(console) << kStandInConsole;
        fs::permissions(console, fs::perms::owner_all);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    // The script's command line with this test's build folder and
    // temporary folder.
    std::string Command(const std::string &environment) const {
        return "env -u KRV_COM1 -u KRV_EMULATOR_LINK -u KRV_EMULATOR_ARGS BUILD_DIR='" +
               (m_folder / "build").string() + "' TMPDIR='" + (m_folder / "tmp").string() + "' " +
               environment + " timeout 60 sh '" KRV_SCRIPTS_DIR "/run-console.sh' 2>&1";
    }

    // Runs the script to its end: its exit status and output.
    std::pair<int, std::string> Run(const std::string &environment) const {
        FILE *pipe = ::popen(Command(environment).c_str(), "r");
        std::string out;
        char buffer[256];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            out.append(buffer, n);
        const int status = ::pclose(pipe);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
    }

    fs::path m_folder;
};

// The port the stand-in console was handed, from the output of a run (the
// emulator's own lines come in between).
std::string PortOf(const std::string &out) {
    const std::size_t at = out.find("port: ");
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + 6;
    return out.substr(start, out.find('\n', start) - start);
}

TEST_F(RunConsoleScript, RunsSideBySideKeepTheirOwnLinks) {
    // The first run's console waits while a second run comes and goes.
    const fs::path go = m_folder / "go";
    FILE *first = ::popen(Command("KRV_TEST_GO='" + go.string() + "'").c_str(), "r");
    ASSERT_NE(first, nullptr);
    std::string firstOut;
    char line[512];
    while (PortOf(firstOut).empty() && std::fgets(line, sizeof line, first))
        firstOut += line;
    const std::string firstLink = PortOf(firstOut);
    ASSERT_FALSE(firstLink.empty()) << firstOut;

    const auto [secondStatus, secondOut] = Run("");
    EXPECT_EQ(secondStatus, 0) << secondOut;
    const std::string secondLink = PortOf(secondOut);
    EXPECT_NE(secondLink, firstLink);
    EXPECT_NE(secondOut.find("still there"), std::string::npos) << secondOut;

    std::ofstream(go).put('\n');
    while (std::size_t n = std::fread(line, 1, sizeof line, first))
        firstOut.append(line, n);
    const int firstStatus = ::pclose(first);
    EXPECT_TRUE(WIFEXITED(firstStatus) && WEXITSTATUS(firstStatus) == 0) << firstOut;
    EXPECT_NE(firstOut.find("still there"), std::string::npos) << firstOut;

    // Each link lay in a folder of the run's own under TMPDIR, gone with it.
    for (const std::string &link : {firstLink, secondLink}) {
        EXPECT_EQ(fs::path(link).parent_path().parent_path(), m_folder / "tmp") << link;
        EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << link;
    }
    EXPECT_TRUE(fs::is_empty(m_folder / "tmp"));
}

TEST_F(RunConsoleScript, ANamedLinkIsTheOneUsed) {
    const fs::path named = m_folder / "com1";
    // A link a killed run left behind is replaced.
    fs::create_symlink("/nonexistent/pts", named);
    const auto [status, out] = Run("KRV_EMULATOR_LINK='" + named.string() + "'");
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(PortOf(out), named.string());
    EXPECT_NE(out.find("still there"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(fs::symlink_status(named)));
}

} // namespace
