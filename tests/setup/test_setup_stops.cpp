// A setup stopped from outside at any instant of a real install, and a
// closed terminal while its installer writes: the run's result tells what
// happened, and nothing of it stays behind.
#include "e2e_fixture.h"

#include <algorithm>
#include <cstdio>

namespace krv::setup {
namespace {

class SetupStops : public SetupEndToEnd {
  protected:
    // Nothing of the run in the temporary folder, the lock folder, the
    // autostart folder (but for a stop that reached a running prerequisite's
    // setup, which may be the restart it started), and no finished download
    // in the cache folder (a ".part" waits there for the next run).
    void ExpectNothingLeft(const std::string &setup, const std::string &log) {
        // Each found is removed again, so that the next run is judged alone.
        std::error_code ec;
        for (const std::string &folder : RunFolders(m_root)) {
            ADD_FAILURE() << "left " << folder << "\n" << log;
            fs::remove_all(folder, ec);
        }
        const std::string lock = m_root + "/run/user/" + std::to_string(::geteuid()) + "/Parvext_" +
                                 PackageIdOf(setup) + ".lock";
        EXPECT_FALSE(fs::remove(lock, ec)) << log;
        const std::string autostart = m_root + "/home/.config/autostart";
        if (log.find("-Setup was stopped while prerequisites were installed; it resumes at the "
                     "next login.") != std::string::npos) {
            EXPECT_FALSE(fs::is_empty(autostart, ec)) << log;
            fs::remove_all(autostart, ec);
        }
        EXPECT_TRUE(fs::is_empty(autostart, ec) || ec) << log;
        fs::remove_all(autostart, ec);
        bool parts = false;
        for (const auto &entry : fs::recursive_directory_iterator(m_root + "/home/.cache", ec)) {
            if (entry.is_regular_file() && entry.path().extension() != ".part") {
                ADD_FAILURE() << "left " << entry.path() << "\n" << log;
                fs::remove(entry.path(), ec);
            }
            parts = parts || entry.path().extension() == ".part";
        }
        // The package's download folder stays only with a ".part" in it.
        const std::string downloads = m_root + "/home/.cache/krv-setup";
        if (!parts && !fs::is_empty(downloads, ec) && !ec) {
            ADD_FAILURE() << "left an empty folder in " << downloads << "\n" << log;
            fs::remove_all(downloads, ec);
        }
    }

    bool InstalledWhole() const {
        return ReadFile(Installed() + "/bin/tool") == "tool 2.3.0" &&
               ReadFile(Installed() + "/lib/data.txt") == "data 2.3.0" && fs::exists(Registered());
    }
    bool NothingInstalled() const {
        std::error_code ec;
        return !fs::exists(Registered()) &&
               (!fs::exists(Installed()) || fs::is_empty(Installed(), ec));
    }
};

// After the stop's own lines nothing of the run is written: the code line
// and the end line close the log.
void ExpectStopLinesLast(const std::string &log) {
    const std::size_t stopped = log.find("-Setup was stopped by signal ");
    if (stopped == std::string::npos)
        return;
    const std::size_t code = log.find("-Code returned to Windows by setup:", stopped);
    ASSERT_NE(code, std::string::npos) << log;
    std::size_t line = log.find("\r\n", code);
    ASSERT_NE(line, std::string::npos) << log;
    const std::string rest = log.substr(line + 2);
    std::size_t at = 0;
    while (at < rest.size()) {
        std::size_t next = rest.find("\r\n", at);
        if (next == std::string::npos)
            next = rest.size();
        const std::string text = rest.substr(at, next - at);
        EXPECT_TRUE(text.empty() || text.find("End of Log") != std::string::npos)
            << "a line after the stop's: " << text << "\n"
            << log;
        at = next + 2;
    }
}

// A stop (TERM, INT, HUP in turn) at instants spread over a whole silent
// install with two prerequisites from the package, a downloaded one and
// the product: each run ends non-zero with nothing installed or 0 with the
// product whole (never as stopped over an installed product), leaves
// nothing of itself, and a run after all of them installs.
TEST_F(SetupStops, StopAtEveryInstantOfAnInstall) {
    test::LocalHttpServer http;
    const std::string served = m_root + "/served";
    ASSERT_NO_FATAL_FAILURE(ServeFolder(http, served));
    WriteFile(served + "/fetched.sh", "#!/bin/sh\nexit 0\n" + std::string(200000, '#'));
    WriteFile(m_root + "/quick.sh", "#!/bin/sh\nexit 0\n");
    fs::create_directories(m_root + "/pkg");
    const std::string setup =
        BuildSetup(m_root + "/pkg", s_dir->path() + "/v1", "{PKG-0001}", "2.3.0",
                   "[PREREQUISITES]\r\nApp1=first\r\nApp2=second\r\nApp3=fetched\r\n"
                   "[first]\r\nSetupFile=first.sh\r\nOptions=i\r\n"
                   "[second]\r\nSetupFile=second.sh\r\nOptions=i\r\n"
                   "[fetched]\r\nUrl=" +
                       http.Url("/files/fetched.sh") + "\r\nOptions=i\r\n",
                   "u", {{"first.sh", m_root + "/quick.sh"}, {"second.sh", m_root + "/quick.sh"}});
    // The length of a whole run spreads the instants; the outcomes alone
    // are checked.
    const auto begun = std::chrono::steady_clock::now();
    Outcome whole = Run(setup, "/exenoui");
    const auto length = std::chrono::steady_clock::now() - begun;
    ASSERT_EQ(whole.status, 0) << whole.log;
    ASSERT_TRUE(InstalledWhole()) << whole.log;
    ASSERT_EQ(Run(setup, "/exenoui /noprereqs /x //").status, 0);

    constexpr int kInstants = 36;
    const int signals[] = {SIGTERM, SIGINT, SIGHUP};
    int stopped = 0;
    int installed = 0;
    int faulty = 0;
    int partsBefore = 0;
    for (int n = 0; n < kInstants; ++n) {
        const auto delay = length * 6 / 5 * n / kInstants;
        const int signal = signals[n % 3];
        SCOPED_TRACE(
            "signal " + std::to_string(signal) + " after " +
            std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(delay).count()) +
            " us");
        const std::string log = m_root + "/sweep-" + std::to_string(n) + ".log";
        const pid_t pid = Spawn({setup, "/exelog", log, "/exenoui"}, environ);
        ASSERT_NE(pid, 0);
        std::this_thread::sleep_for(delay);
        ::kill(pid, signal);
        int status = 0;
        ASSERT_TRUE(AwaitEnd(pid, status, 60)) << "the setup did not end\n" << ReadFile(log);
        const std::string text = ReadFile(log);
        const bool success = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (success) {
            ++installed;
            EXPECT_TRUE(InstalledWhole()) << text;
            EXPECT_EQ(text.find("-Setup was stopped by signal"), std::string::npos) << text;
        } else {
            ++stopped;
            EXPECT_TRUE(NothingInstalled()) << "status " << status << "\n" << text;
        }
        ExpectStopLinesLast(text);
        ExpectNothingLeft(setup, text);
        if (fs::exists(Registered())) {
            ASSERT_EQ(Run(setup, "/exenoui /noprereqs /x //").status, 0);
        }
        fs::remove_all(Installed());
        const int parts =
            ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
        faulty += parts > partsBefore;
        partsBefore = parts;
    }
    std::printf("[          ] %d runs stopped, %d installed, %d wrong\n", stopped, installed,
                faulty);
    const Outcome again = Run(setup, "/exenoui");
    EXPECT_EQ(again.status, 0) << again.log;
    EXPECT_TRUE(InstalledWhole()) << again.log;
    ExpectNothingLeft(setup, again.log);
}

// The terminal closed while the installer writes a large product (SIGHUP
// to the setup's whole process group): the installer undoes its work as
// on a cancel, and the setup ends 128 + 1 with nothing installed, instead
// of an installer cut off half-way with its files and journal left.
TEST_F(SetupStops, ClosedTerminalUndoesTheInstall) {
    const std::string tree = m_root + "/big-tree";
    for (int n = 0; n < 1500; ++n)
        WriteFile(tree + "/share/f" + std::to_string(n / 100) + "/" + std::to_string(n) + ".txt",
                  "file " + std::to_string(n));
    WriteFile(tree + "/bin/tool", "tool 2.3.0");
    fs::create_directories(m_root + "/pkg");
    const std::string setup = BuildSetup(m_root + "/pkg", tree, "{PKG-0001}", "2.3.0");
    const std::string log = m_root + "/hangup.log";
    std::vector<std::string> args = {setup, "/exelog", log, "/exenoui"};
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, setup.c_str(), nullptr, &attributes, argv.data(), environ), 0);
    posix_spawnattr_destroy(&attributes);
    // The installer is at work once its staging folder is in the product's.
    const auto staging = [&] {
        std::error_code ec;
        for (const auto &entry : fs::directory_iterator(Installed(), ec))
            if (entry.path().filename().string().starts_with(".krv-staging-"))
                return true;
        return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!staging() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(staging()) << ReadFile(log);
    ::kill(-pid, SIGHUP);
    int status = 0;
    ASSERT_TRUE(AwaitEnd(pid, status, 60)) << "the setup did not end\n" << ReadFile(log);
    const std::string text = ReadFile(log);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGHUP) << text;
    EXPECT_NE(text.find("-Return code of msiexec.exe:1602\r\n"), std::string::npos) << text;
    EXPECT_TRUE(NothingInstalled()) << text;
    ExpectNothingLeft(setup, text);
    const Outcome again = Run(setup, "/exenoui");
    EXPECT_EQ(again.status, 0) << again.log;
    EXPECT_EQ(ReadFile(Installed() + "/bin/tool"), "tool 2.3.0");
}

} // namespace
} // namespace krv::setup
