// The setup program end to end: TelmarSetup2.3 with a package appended,
// run silently with every folder under a test root, installing through the
// installer program krv-msiexec.
#include "e2e_fixture.h"
#include "md5.h"

#include <setup_process.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace krv::setup {
namespace {

TEST_F(SetupEndToEnd, InstallMaintainUpgradeAndUninstall) {
    // The toolkit's runtime folder lies inside the root too, not in the
    // system's temporary folder.
    const std::string systemTmp = m_root + "/system-tmp";
    fs::create_directories(systemTmp);
    m_env.Set("TMPDIR", systemTmp);
    m_env.Unset("XDG_RUNTIME_DIR");
    Outcome run = Run(s_v1, "/exenoui");
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_EQ(ReadFile(Installed() + "/bin/tool"), "tool 2.3.0");
    EXPECT_TRUE(fs::exists(Registered()));
    for (const char *line :
         {"-Maintenance mode:false\r\n", "-Detected Windows Installer version:5.0\r\n",
          "-Launching msiexec.exe with command line: /i  \"", "-Return code of msiexec.exe:0\r\n",
          "-Code returned to Windows by setup:0\r\n", "=====End of Log====="})
        EXPECT_NE(run.log.find(line), std::string::npos) << line << "\n" << run.log;
    // Nothing extracted is left in the temporary folder.
    EXPECT_FALSE(fs::exists(m_root + "/tmp/Telmar23.msi"));
    EXPECT_TRUE(fs::is_empty(systemTmp));
    struct stat runtime {};
    ASSERT_EQ(::lstat((m_root + "/run/user/" + std::to_string(::getuid())).c_str(), &runtime), 0);
    EXPECT_TRUE(S_ISDIR(runtime.st_mode));
    EXPECT_EQ(runtime.st_mode & 0777, 0700u);

    // With the user interface (no display here): the steps run as tasks on
    // workers while the event loop turns.
    run = Run(s_v1, "/exebasicui");
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_NE(run.log.find("-Maintenance mode:true\r\n"), std::string::npos) << run.log;

    run = Run(s_v2, "/exenoui");
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_NE(run.log.find("-A minor upgrade will be applied to version:2.3.0\r\n"),
              std::string::npos)
        << run.log;
    EXPECT_NE(run.log.find("command line: /fvomus  \""), std::string::npos) << run.log;
    EXPECT_EQ(ReadFile(Installed() + "/bin/tool"), "tool 2.3.1");
    EXPECT_FALSE(fs::exists(Installed() + "/old.txt"));

    run = Run(s_v2, "/exenoui /x //");
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_NE(run.log.find("command line: /x  \""), std::string::npos) << run.log;
    EXPECT_FALSE(fs::exists(Installed()));
    EXPECT_FALSE(fs::exists(Registered()));
}

TEST_F(SetupEndToEnd, FailuresEndWithTheirExitCodes) {
    // A corrupted copy: one byte of the package changed.
    const std::string corrupt = m_root + "/corrupt/TelmarSetup2.3";
    fs::create_directories(m_root + "/corrupt");
    fs::copy_file(s_v1, corrupt);
    {
        std::fstream file(corrupt, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(-200, std::ios::end);
        file.put('\x5A');
    }
    Outcome run = Run(corrupt, "/exenoui");
    EXPECT_EQ(run.status, 1) << run.log;
    EXPECT_NE(run.log.find("-Этот архив повреждён.\r\n"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("-Code returned to Windows by setup:1\r\n"), std::string::npos);
    // The integrity check stopped it: the installer was never looked at.
    EXPECT_EQ(run.log.find("Detected Windows Installer"), std::string::npos);
    EXPECT_FALSE(fs::exists(Installed()));

    // The installer fails: the folder cannot be made (a file stands in its
    // way; any folder of the machine would be moved under the root).
    WriteFile(m_root + "/not-a-folder", "");
    run = Run(s_v1, "/exenoui INSTALLDIR=/not-a-folder/krv");
    EXPECT_EQ(run.status, 1603 & 0xFF) << run.log;
    EXPECT_NE(run.log.find("-Return code of msiexec.exe:1603\r\n"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("-Code returned to Windows by setup:1603\r\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(Registered()));

    // No installer on the system.
    fs::remove(m_root + "/usr/lib/krv-msiexec");
    run = Run(s_v1, "/exenoui");
    EXPECT_EQ(run.status, 1) << run.log;
    EXPECT_NE(run.log.find("-Detected Windows Installer version:0.0.0.0\r\n"), std::string::npos);
    // Where it was looked for, so the user knows where to put it.
    EXPECT_NE(run.log.find("-The installer program was not found at:" + m_root +
                           "/usr/lib/krv-msiexec (KRV_MSIEXEC:not set, system folder:" + m_root +
                           "/usr/lib/, KRV_SETUP_ROOT:" + m_root + ")\r\n"),
              std::string::npos)
        << run.log;

    // The user ends the installer: -1.
    WriteFile(m_root + "/fake-msiexec", "#!/bin/sh\nexit 66\n");
    ::chmod((m_root + "/fake-msiexec").c_str(), 0755);
    m_env.Set("KRV_MSIEXEC", m_root + "/fake-msiexec");
    run = Run(s_anyInstaller, "/exenoui");
    EXPECT_EQ(run.status, 255) << run.log;
    EXPECT_NE(run.log.find("-Return code of msiexec.exe:1602\r\n"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("-Code returned to Windows by setup:-1\r\n"), std::string::npos);
    m_env.Unset("KRV_MSIEXEC");
}

// A setup stopped from outside while its installer runs: the installer is
// told to stop and rolls back, the extracted package goes, and the setup
// ends with a failure code instead of leaving the installer running.
TEST_F(SetupEndToEnd, StoppedSetupStopsItsInstallerAndCleansUp) {
    const std::string pidFile = m_root + "/installer-pid";
    const std::string rolledBack = m_root + "/rolled-back";
    // At most a minute of its own, so a setup that never passes the signal
    // on does not leave it running for ever.
    WriteFile(m_root + "/slow-msiexec",
              "#!/bin/sh\ntrap 'echo yes > \"" + rolledBack + "\"; exit 1602' TERM\necho $$ > \"" +
                  pidFile + ".new\"\nmv \"" + pidFile + ".new\" \"" + pidFile +
                  "\"\ni=0\nwhile [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); done\n");
    ::chmod((m_root + "/slow-msiexec").c_str(), 0755);
    m_env.Set("KRV_MSIEXEC", m_root + "/slow-msiexec");
    const std::string log = m_root + "/stopped.log";
    const std::string setup = s_anyInstaller;
    const pid_t pid = Spawn({setup, "/exelog", log, "/exenoui"}, environ);
    ASSERT_NE(pid, 0);
    ASSERT_TRUE(AwaitFile(pidFile, 30)) << ReadFile(log);
    const pid_t installer = std::stoi(ReadFile(pidFile));
    // The package lies in a folder of the run's own.
    const std::vector<std::string> folders = RunFolders(m_root);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_TRUE(fs::exists(folders[0] + "/Telmar23.msi"));

    ::kill(pid, SIGTERM);
    int status = 0;
    const bool ended = AwaitEnd(pid, status, 30);
    const bool installerGone = ::kill(installer, 0) != 0;
    if (!installerGone)
        ::kill(installer, SIGKILL);
    ASSERT_TRUE(ended) << "the setup did not end";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    EXPECT_TRUE(installerGone);
    EXPECT_EQ(ReadFile(rolledBack), "yes\n");
    EXPECT_FALSE(fs::exists(folders[0]));
    const std::string text = ReadFile(log);
    EXPECT_NE(text.find("-Return code of msiexec.exe:1602\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("-Setup was stopped by signal 15 ("), std::string::npos) << text;
    EXPECT_NE(text.find("-Code returned to Windows by setup:143\r\n"), std::string::npos) << text;
}

// A setup stopped while it extracts, with no program of its own running:
// the extraction stops, what it wrote goes, and the run ends as a stopped
// one instead of dying over a partial file. A preloaded stand-in holds the
// extraction once the file holds bytes, so the stop comes in the middle.
TEST_F(SetupEndToEnd, StoppedDuringExtractionLeavesNothingOfIt) {
    const std::string shim = BinFolder() + "/libkrv_test_hold_copy.so";
    ASSERT_TRUE(fs::exists(shim));
    // Eight megabytes stored as they are: many blocks of the copy.
    std::string content(8 << 20, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    package::PackageWriter writer(BinFolder() + "/TelmarSetup2.3");
    writer.SetContainerFlags(0x2 | 0x4);
    writer.AddSettings(Settings("{PKG-0009}", "2.3.0", "MinWIVer=0\r\n"));
    writer.AddBytes(0, 1, "Telmar23.msi", content);
    const std::string setup = m_root + "/big/TelmarSetup2.3";
    fs::create_directories(m_root + "/big");
    std::string error;
    ASSERT_TRUE(writer.Write(setup, error)) << error;

    const std::string held = m_root + "/held";
    const std::string release = m_root + "/release";
    const std::string log = m_root + "/extraction-stopped.log";
    std::vector<std::string> environment;
    for (char **variable = environ; *variable; ++variable)
        if (!std::string(*variable).starts_with("LD_PRELOAD=") &&
            !std::string(*variable).starts_with("ASAN_OPTIONS="))
            environment.push_back(*variable);
    environment.push_back("LD_PRELOAD=" + shim);
    environment.push_back("KRV_TEST_HELD=" + held);
    environment.push_back("KRV_TEST_RELEASE=" + release);
    // A sanitized program wants its runtime first; the stand-in wraps one
    // call and does not care.
    const char *asan = std::getenv("ASAN_OPTIONS");
    environment.push_back(std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") +
                          "verify_asan_link_order=0");
    std::vector<char *> envp;
    for (std::string &variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    const pid_t pid = Spawn({setup, "/exelog", log, "/exenoui"}, envp.data());
    ASSERT_NE(pid, 0);
    AwaitFile(held, 60);
    const std::string partial = ReadFile(held);
    EXPECT_FALSE(partial.empty()) << ReadFile(log);
    std::error_code ec;
    const auto size = fs::file_size(partial, ec);
    EXPECT_GT(size, 0u);
    EXPECT_LT(size, content.size());

    ::kill(pid, SIGTERM);
    WriteFile(release, "");
    int status = 0;
    const bool ended = AwaitEnd(pid, status, 60);
    ASSERT_TRUE(ended) << "the setup did not end";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    EXPECT_FALSE(partial.empty() || fs::exists(partial)) << partial;
    const std::string text = ReadFile(log);
    EXPECT_NE(text.find("-Setup was stopped by signal 15 ("), std::string::npos) << text;
    EXPECT_NE(text.find("-Code returned to Windows by setup:143\r\n"), std::string::npos) << text;
    // Nothing was installed, and the run's own folder went with the stop.
    EXPECT_EQ(text.find("Launching msiexec.exe"), std::string::npos) << text;
    EXPECT_TRUE(RunFolders(m_root).empty());
}

TEST_F(SetupEndToEnd, SecondRunWhileTheFirstHoldsTheLock) {
    // The first run's lock: the package id names it.
    const std::string setup = s_v1;
    const std::string id = PackageIdOf(setup);
    // The lock lies in the user's runtime folder, which the program makes
    // inside the root.
    m_env.Unset("XDG_RUNTIME_DIR");
    const std::string runtime = m_root + "/run/user/" + std::to_string(::geteuid());
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    const int fd = ::open((runtime + "/Parvext_" + id + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    Outcome run = Run(setup, "/qn");
    EXPECT_EQ(run.status, 1) << run.log;
    EXPECT_NE(run.log.find("-Уже запущена другая копия установки.\r\n"), std::string::npos)
        << run.log;
    EXPECT_FALSE(fs::exists(Installed()));
    // A silent run is not stopped by it.
    run = Run(setup, "/exenoui");
    EXPECT_EQ(run.status, 0) << run.log;
    ::close(fd);
}

// Run as root with a shared temporary folder (mode 1777), after another
// user (65534) took one of the names the setup uses there: the downloaded
// prerequisite, its ".part", the extracted installer package, the folder of
// a prerequisite's setup files, the lock. Each run installs everything, and
// nothing of the other user's is run, made executable or written.
TEST_F(SetupEndToEnd, AnotherUsersNamesInTheTemporaryFolderNeitherRunNorStopTheSetup) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to plant files of another user";
    constexpr uid_t kOther = 65534;
    test::LocalHttpServer http;
    const std::string served = m_root + "/served";
    ASSERT_NO_FATAL_FAILURE(ServeFolder(http, served));
    // A script that notes the user it ran as; the other user's has the same
    // size, so that only its owner and content tell it apart.
    auto script = [&](const std::string &mark) {
        return "#!/bin/sh\nid -u >> '" + m_root + "/" + mark + "'\n";
    };
    const std::string tool = script("tool-ran");
    const std::string planted = script("evil-ran");
    ASSERT_EQ(tool.size(), planted.size());
    WriteFile(served + "/tool.sh", tool);
    std::string md5;
    ASSERT_TRUE(ComputeFileMd5Hex(served + "/tool.sh", 0, md5));
    WriteFile(m_root + "/helper.sh", script("helper-ran"));
    fs::create_directories(m_root + "/pkg");
    const std::string setup = BuildSetup(
        m_root + "/pkg", s_dir->path() + "/v1", "{PKG-0001}", "2.3.0",
        "[PREREQUISITES]\r\nApp1=tool\r\nApp2=helper\r\n[tool]\r\nUrl=" +
            http.Url("/files/tool.sh") + "\r\nMD5=" + md5 +
            "\r\nExactSize=" + std::to_string(tool.size()) +
            "\r\nOptions=i\r\n[helper]\r\nSetupFile=krv-msiexec/install\r\nOptions=i\r\n",
        "uq", {{"krv-msiexec/install", m_root + "/helper.sh"}});
    const std::string id = PackageIdOf(setup);

    // Plants a file of the other user's: its content and mode.
    auto plantFile = [&](const std::string &path, const std::string &content) {
        WriteFile(path, content);
        ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
        ASSERT_EQ(::lchown(path.c_str(), kOther, kOther), 0);
    };
    struct Row {
        std::string name; // in the temporary folder
        std::function<void(const std::string &path)> plant;
    };
    int lockFd = -1;
    const Row rows[] = {
        {"tool.sh", [&](const std::string &path) { plantFile(path, planted); }},
        {"tool.sh.part", [&](const std::string &path) { plantFile(path, planted.substr(0, 20)); }},
        {"Telmar23.msi",
         [&](const std::string &path) {
             WriteFile(path + ".target", "");
             ASSERT_EQ(::symlink((path + ".target").c_str(), path.c_str()), 0);
             ASSERT_EQ(::lchown(path.c_str(), kOther, kOther), 0);
         }},
        {"krv-msiexec",
         [&](const std::string &path) {
             ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
             ASSERT_EQ(::chown(path.c_str(), kOther, kOther), 0);
         }},
        {"Parvext_" + id + ".lock",
         [&](const std::string &path) {
             // The other user's lock, held while the setup runs.
             lockFd = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
             ASSERT_GE(lockFd, 0);
             ASSERT_EQ(::fchown(lockFd, kOther, kOther), 0);
             ASSERT_EQ(::flock(lockFd, LOCK_EX), 0);
         }},
    };
    const std::string base = m_root;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        // A machine of its own for each row.
        m_root = base + "/" + row.name.substr(0, 12) + "-machine";
        m_env.Set("KRV_SETUP_ROOT", m_root);
        m_env.Unset("XDG_RUNTIME_DIR");
        fs::create_directories(m_root + "/usr/lib");
        fs::copy_file(BinFolder() + "/krv-msiexec", m_root + "/usr/lib/krv-msiexec");
        fs::create_directories(m_root + "/tmp");
        fs::permissions(m_root + "/tmp", fs::perms::all | fs::perms::sticky_bit);
        const std::string path = m_root + "/tmp/" + row.name;
        row.plant(path);
        struct stat before {};
        ::lstat(path.c_str(), &before);

        // No level switch: the lock is asked; the package is silent itself.
        const Outcome run = Run(setup, "");
        EXPECT_EQ(run.status, 0) << run.log;
        EXPECT_EQ(ReadFile(Installed() + "/bin/tool"), "tool 2.3.0") << run.log;
        EXPECT_EQ(ReadFile(base + "/tool-ran"), "0\n") << run.log;
        EXPECT_EQ(ReadFile(base + "/helper-ran"), "0\n") << run.log;
        EXPECT_FALSE(fs::exists(base + "/evil-ran")) << run.log;
        // What the other user planted is as it was.
        struct stat after {};
        EXPECT_EQ(::lstat(path.c_str(), &after), 0) << "gone\n" << run.log;
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_uid, kOther);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_size, before.st_size);
        // The run's own folder went with the run.
        EXPECT_TRUE(RunFolders(m_root).empty());
        fs::remove(base + "/tool-ran");
        fs::remove(base + "/helper-ran");
    }
    if (lockFd >= 0)
        ::close(lockFd);
    m_root = base;
}

// A prerequisite that asks for a restart ends the first run with the restart
// pending; the run's own folder goes with it all the same. The run started
// again after the restart makes a folder of its own and takes out again
// what it still needs.
TEST_F(SetupEndToEnd, RunAfterARestartTakesOutAgainWhatItNeeds) {
    test::LocalHttpServer http;
    const std::string served = m_root + "/served";
    ASSERT_NO_FATAL_FAILURE(ServeFolder(http, served));
    WriteFile(served + "/tool.sh", "#!/bin/sh\necho ran >> '" + m_root + "/tool-ran'\n");
    WriteFile(m_root + "/helper.sh", "#!/bin/sh\necho ran >> '" + m_root + "/helper-ran'\n");
    fs::create_directories(m_root + "/pkg");
    // The tool is found once it ran; the helper has no search and runs in
    // every run.
    const std::string setup =
        BuildSetup(m_root + "/pkg", s_dir->path() + "/v1", "{PKG-0001}", "2.3.0",
                   "[PREREQUISITES]\r\nApp1=tool\r\nApp2=helper\r\n[tool]\r\nUrl=" +
                       http.Url("/files/tool.sh") +
                       "\r\nOptions=r\r\nSearchType1=0\r\nSearchString1=" + m_root +
                       "/tool-ran\r\n[helper]\r\nSetupFile=krv-msiexec/install\r\nOptions=i\r\n",
                   "uq", {{"krv-msiexec/install", m_root + "/helper.sh"}});

    Outcome run = Run(setup, "");
    EXPECT_EQ(run.status, 255) << run.log;
    EXPECT_EQ(ReadFile(m_root + "/tool-ran"), "ran\n") << run.log;
    // The restart comes before the helper, which this run had taken out.
    EXPECT_FALSE(fs::exists(m_root + "/helper-ran")) << run.log;
    EXPECT_FALSE(fs::exists(Installed())) << run.log;
    EXPECT_TRUE(RunFolders(m_root).empty());

    run = Run(setup, "");
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_EQ(ReadFile(m_root + "/tool-ran"), "ran\n") << run.log;
    EXPECT_EQ(ReadFile(m_root + "/helper-ran"), "ran\n") << run.log;
    EXPECT_EQ(ReadFile(Installed() + "/bin/tool"), "tool 2.3.0") << run.log;
    EXPECT_TRUE(RunFolders(m_root).empty());
}

// The temporary folder of a root run in the hands of another user (65534):
// it owns the folder, owns a folder above it, or may write it. Such a folder
// is never used (the system's one is the same folder under a trial root, so
// the run stops with its message before anything is extracted or started);
// a sticky folder of root's, as /tmp, is.
TEST_F(SetupEndToEnd, TemporaryFolderAnotherUserControlsIsNeverUsed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give folders away";
    constexpr uid_t kOther = 65534;
    WriteFile(m_root + "/helper.sh", "#!/bin/sh\nid -u >> '" + m_root + "/helper-ran'\n");
    fs::create_directories(m_root + "/pkg");
    const std::string setup =
        BuildSetup(m_root + "/pkg", s_dir->path() + "/v1", "{PKG-0001}", "2.3.0",
                   "[PREREQUISITES]\r\nApp1=helper\r\n[helper]\r\nSetupFile=krv-msiexec/"
                   "install\r\nOptions=i\r\n",
                   "uq", {{"krv-msiexec/install", m_root + "/helper.sh"}});
    struct Row {
        const char *what;
        std::function<void(const std::string &machine)> hand;
        bool used;
    };
    const Row rows[] = {
        {"another user owns it",
         [](const std::string &m) { ASSERT_EQ(::chown((m + "/tmp").c_str(), kOther, kOther), 0); },
         false},
        {"another user owns a folder above it",
         [](const std::string &m) { ASSERT_EQ(::chown(m.c_str(), kOther, kOther), 0); }, false},
        {"its group may write it",
         [](const std::string &m) { ::chmod((m + "/tmp").c_str(), 0775); }, false},
        {"anyone may write it, not sticky",
         [](const std::string &m) { ::chmod((m + "/tmp").c_str(), 0777); }, false},
        {"root's sticky folder", [](const std::string &m) { ::chmod((m + "/tmp").c_str(), 01777); },
         true},
    };
    const std::string base = m_root;
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        m_root = base + "/machine-" + std::to_string(++n);
        m_env.Set("KRV_SETUP_ROOT", m_root);
        fs::create_directories(m_root + "/usr/lib");
        fs::create_directories(m_root + "/tmp");
        fs::copy_file(BinFolder() + "/krv-msiexec", m_root + "/usr/lib/krv-msiexec");
        row.hand(m_root);
        const Outcome run = Run(setup, "/exenoui");
        if (row.used) {
            EXPECT_EQ(run.status, 0) << run.log;
            EXPECT_EQ(ReadFile(base + "/helper-ran"), "0\n") << run.log;
            EXPECT_EQ(ReadFile(Installed() + "/bin/tool"), "tool 2.3.0") << run.log;
        } else {
            EXPECT_EQ(run.status, 1) << run.log;
            for (const char *line : {"-The temporary folder is not used, another user could change",
                                     "-Setup cannot keep its work files from other users"})
                EXPECT_NE(run.log.find(line), std::string::npos) << line << "\n" << run.log;
            EXPECT_FALSE(fs::exists(base + "/helper-ran")) << run.log;
            EXPECT_FALSE(fs::exists(Installed()));
        }
        EXPECT_TRUE(RunFolders(m_root).empty());
        fs::remove(base + "/helper-ran");
    }
    m_root = base;
}

// A stop (SIGTERM) at points where no program of the setup runs, in a real
// install: while the wizard waits on its first page, while a silent run
// downloads (the wizard's download page is tried in test_wizard_stop.cpp). Each ends within seconds
// with 128 + 15 and its log lines, leaves nothing of the run (work folder, lock file, resume entry;
// a partial download stays in the cache folder for the next run), and a run after it installs.
TEST_F(SetupEndToEnd, StopAtAnyPointEndsTheRunClean) {
    test::LocalHttpServer http;
    ASSERT_NO_FATAL_FAILURE(ServeFolder(http, m_root + "/served"));
    fs::create_directories(m_root + "/pkg");
    // A prerequisite whose download takes its time.
    const std::string downloads =
        BuildSetup(m_root + "/pkg", s_dir->path() + "/v1", "{PKG-0001}", "2.3.0",
                   "[PREREQUISITES]\r\nApp1=beta\r\n[beta]\r\nUrl=" +
                       http.Url("/gen/4000000?throttle=50&chunk=4096") +
                       "\r\nFolder=?beta.sh\r\nOptions=i\r\n",
                   "u");
    const std::string uid = std::to_string(::geteuid());
    struct Row {
        const char *what;
        std::string setup;
        const char *level;
        std::function<bool(const std::string &log)> reached; // the point to stop at
    };
    const auto logSays = [](const char *line) {
        return [line](const std::string &log) {
            return ReadFile(log).find(line) != std::string::npos;
        };
    };
    const auto downloading = [&](const std::string &) {
        for (const std::string &request : http.Log())
            if (request.find("GET /gen/") == 0)
                return true;
        return false;
    };
    const Row rows[] = {
        {"the wizard waits on its first page", downloads, "/exefullui",
         logSays("-Starting installing prerequisites in full UI mode.")},
        {"a silent run downloads", downloads, "/exenoui", downloading},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const std::string log = m_root + "/stop-" + std::to_string(++m_runs) + ".log";
        const pid_t pid = Spawn({row.setup, "/exelog", log, row.level}, environ);
        ASSERT_NE(pid, 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!row.reached(log) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        // The page or the box is up by now.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ::kill(pid, SIGTERM);
        const auto stopped = std::chrono::steady_clock::now();
        int status = 0;
        ASSERT_TRUE(AwaitEnd(pid, status, 30)) << "the setup did not end\n" << ReadFile(log);
        EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(5));
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
        const std::string text = ReadFile(log);
        for (const char *line : {"-Setup was stopped by signal 15 (",
                                 "-Code returned to Windows by setup:143\r\n", "=====End of Log"})
            EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
        EXPECT_TRUE(RunFolders(m_root).empty()) << text;
        EXPECT_FALSE(fs::exists(m_root + "/run/user/" + uid + "/Parvext_" + PackageIdOf(row.setup) +
                                ".lock"));
        std::error_code ec;
        EXPECT_TRUE(fs::is_empty(m_root + "/home/.config/autostart", ec) || ec);
        // A download cut short waits in the cache folder for the next run,
        // as after a cancel; a finished one never stays.
        for (const auto &entry : fs::recursive_directory_iterator(m_root + "/home/.cache", ec)) {
            if (entry.is_regular_file()) {
                EXPECT_EQ(entry.path().extension(), ".part") << entry.path();
            }
        }
        const Outcome again = Run(row.setup, "/exenoui /noprereqs");
        EXPECT_EQ(again.status, 0) << again.log;
        EXPECT_EQ(ReadFile(Installed() + "/bin/tool"), "tool 2.3.0");
        ASSERT_EQ(Run(row.setup, "/exenoui /noprereqs /x //").status, 0);
    }
}

// The package as scripts/package.sh writes it, for a tree.
std::string WritePackage(const std::string &tree, const std::string &out) {
    const std::string script = KRV_WRITE_PACKAGE_SCRIPT;
    const platform::ProcessResult written = platform::ProcessRun(
        {script,
         platform::QuoteArgument(script) + " " + platform::QuoteArgument(BinFolder()) + " " +
             platform::QuoteArgument(tree) + " " + platform::QuoteArgument(out) + " 2.3.0",
         "", false},
        true);
    EXPECT_TRUE(written.started && written.exitCode == 0);
    return out;
}

// A fresh machine: no krv-msiexec anywhere but in the package, which puts it
// into the system folder before the main installer package runs.
TEST_F(SetupEndToEnd, PackageCarriesItsInstallerOntoAFreshMachine) {
    fs::remove(m_root + "/usr/lib/krv-msiexec");
    const std::string setup = WritePackage(s_dir->path() + "/v1", m_root + "/dist/TelmarSetup2.3");
    for (const auto &entry : fs::recursive_directory_iterator(m_root))
        ASSERT_NE(entry.path().filename(), "krv-msiexec") << entry.path();

    Outcome run = Run(setup, "/exenoui");
    EXPECT_EQ(run.status, 0) << run.log;
    for (const char *line :
         {"-Detected Windows Installer version:0.0.0.0\r\n",
          "-Windows installer is inluded in package.\r\n", "-We are running with elevated",
          "-Return code of launched file:0\r\n", "-Return code of msiexec.exe:0\r\n"})
        EXPECT_NE(run.log.find(line), std::string::npos) << line << "\n" << run.log;
    struct stat info {};
    ASSERT_EQ(::stat((m_root + "/usr/lib/krv-msiexec").c_str(), &info), 0);
    EXPECT_TRUE(info.st_mode & S_IXUSR);
    EXPECT_EQ(ReadFile(Installed() + "/bin/tool"), "tool 2.3.0");
    EXPECT_TRUE(fs::exists(Registered()));

    // Now the system has it: the next run finds it and launches nothing.
    run = Run(setup, "/exenoui");
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_NE(run.log.find("-Detected Windows Installer version:5.0\r\n"), std::string::npos);
    EXPECT_EQ(run.log.find("Launching file:"), std::string::npos) << run.log;
}

// A user who may not write the machine's folders is stopped by the launch
// condition before anything is extracted.
TEST_F(SetupEndToEnd, OrdinaryUserIsStoppedBeforeExtraction) {
    if (::geteuid() != 0 || !fs::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "needs root to run the setup as another user";
    fs::remove(m_root + "/usr/lib/krv-msiexec");
    const std::string setup = WritePackage(s_dir->path() + "/v1", m_root + "/dist/TelmarSetup2.3");
    // The user can reach the package, the temporary folder and a log; the
    // machine's folders stay root's.
    fs::permissions(m_root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    for (const char *folder : {"/tmp", "/home", "/logs"}) {
        fs::create_directories(m_root + folder);
        fs::permissions(m_root + folder, fs::perms::all | fs::perms::sticky_bit);
    }
    const std::string log = m_root + "/logs/setup.log";
    const platform::ProcessResult result = platform::ProcessRun(
        {"/usr/bin/setpriv",
         "setpriv --reuid=65534 --regid=65534 --clear-groups " + platform::QuoteArgument(setup) +
             " /exelog " + platform::QuoteArgument(log) + " /exenoui",
         "", false},
        true);
    ASSERT_TRUE(result.started);
    const std::string text = ReadFile(log);
    EXPECT_EQ(result.exitCode, 1u) << text;
    EXPECT_NE(text.find("требует административных полномочий"), std::string::npos) << text;
    EXPECT_EQ(text.find("Launching"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(m_root + "/tmp/Telmar23.msi"));
    EXPECT_FALSE(fs::exists(m_root + "/tmp/krv-msiexec"));
    EXPECT_FALSE(fs::exists(m_root + "/usr/lib/krv-msiexec"));
    EXPECT_FALSE(fs::exists(Installed()));
}

// The project's own tree, installed: the console starts and runs on the
// driver of its install folder.
TEST_F(SetupEndToEnd, ProjectTreeInstallsAWorkingConsole) {
    if (!fs::exists(BinFolder() + "/Telmar23"))
        GTEST_SKIP() << "the console is not built";
    const std::string stage = m_root + "/stage";
    const std::string buildDir = fs::path(BinFolder()).parent_path().string();
    const platform::ProcessResult installed =
        platform::ProcessRun({"cmake",
                              "cmake --install " + platform::QuoteArgument(buildDir) +
                                  " --prefix " + platform::QuoteArgument(stage),
                              "", false},
                             true);
    ASSERT_TRUE(installed.started && installed.exitCode == 0);
    // The setup and the packaging tools stay in the build.
    for (const auto &entry : fs::recursive_directory_iterator(stage))
        for (const char *program : {"TelmarSetup2.3", "krv-msiexec", "krv-package-builder"})
            EXPECT_NE(entry.path().filename(), program) << entry.path();
    // The console and its driver are what this run looks at; the emulator
    // would only make the package slower to build.
    for (const auto &entry : fs::recursive_directory_iterator(stage))
        if (entry.path().filename() == "krv-emulator") {
            fs::remove(entry.path());
            break;
        }
    const std::string setup = BuildSetup(m_root, stage, "{PKG-REAL}", "2.3.0");
    Outcome run = Run(setup, "/exenoui");
    ASSERT_EQ(run.status, 0) << run.log;
    // Wherever the install rules put them inside the install folder.
    std::string console, driverFile;
    for (const auto &entry : fs::recursive_directory_iterator(Installed())) {
        const std::string name = entry.path().filename().string();
        if (name == "Telmar23")
            console = entry.path().string();
        else if (name == "libKRV_T100DRV.so")
            driverFile = entry.path().string();
    }
    ASSERT_FALSE(console.empty());
    ASSERT_FALSE(driverFile.empty());
    // Its version names stay links, as the install rules made them: the
    // console then maps one file, whichever name it opens.
    EXPECT_TRUE(fs::is_symlink(driverFile));
    EXPECT_FALSE(fs::is_symlink(fs::canonical(driverFile)));

    // The installed driver loads and has its exports.
    void *driver = dlopen(driverFile.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(driver, nullptr) << dlerror();
    EXPECT_NE(dlsym(driver, "FPGetStatus"), nullptr);
    dlclose(driver);

    // The console starts and maps the driver of its own folder.
    const pid_t pid = Spawn({console}, environ);
    ASSERT_NE(pid, 0);
    const std::string wanted = fs::path(driverFile).parent_path().string() + "/libKRV_T100DRV.so";
    bool mapped = false, running = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!mapped && running && std::chrono::steady_clock::now() < deadline) {
        const std::string maps = ReadFile("/proc/" + std::to_string(pid) + "/maps");
        mapped = maps.find(wanted) != std::string::npos &&
                 maps.find("libqoffscreen") != std::string::npos;
        int status = 0;
        running = ::waitpid(pid, &status, WNOHANG) == 0;
        if (!mapped && running)
            std::this_thread::yield();
    }
    if (running) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    EXPECT_TRUE(mapped);
    EXPECT_TRUE(running) << "the console ended by itself";
}

} // namespace
} // namespace krv::setup
