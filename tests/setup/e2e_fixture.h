// The setup program end to end, shared by its test files: TelmarSetup2.3
// with a package appended, run silently with every folder under a test
// root, installing through the installer program krv-msiexec.
#pragma once

#include "installer_package.h"
#include "local_servers.h"
#include "package_writer.h"
#include "support_env.h"

#include <setup_process.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace krv::setup {
namespace {

namespace fs = std::filesystem;
using test::BinFolder;
using test::ReadFile;
using test::WriteFile;

constexpr const char *kProductCode = "{4C1E2A57-0D3B-4E8F-9A21-7B6C5D4E3F20}";
constexpr const char *kUpgradeCode = "{9E8D7C6B-5A49-4837-A625-1F0E2D3C4B5A}";

std::string Settings(const std::string &packageCode, const std::string &version,
                     const std::string &extra = "", const std::string &letters = "u") {
    std::string text = "[GeneralOptions]\r\nOptions=" + letters +
                       "\r\nProductCode=" + std::string(kProductCode) +
                       "\r\nUpgradeCode=" + kUpgradeCode + "\r\nPackageCode=" + packageCode +
                       "\r\nProductVersion=" + version + "\r\n" + extra;
    return text;
}

// TelmarSetup2.3 carrying an installer package of the tree.
std::string BuildSetup(const std::string &folder, const std::string &tree,
                       const std::string &packageCode, const std::string &version,
                       const std::string &settingsExtra = "", const std::string &letters = "u",
                       const std::vector<std::pair<std::string, std::string>> &setupFiles = {}) {
    const std::string installer = folder + "/Telmar23.msi.build";
    const std::string error =
        WriteInstallerPackage(installer,
                              {{"ProductCode", kProductCode},
                               {"ProductVersion", version},
                               {"UpgradeCode", kUpgradeCode},
                               {"PackageCode", packageCode},
                               {"ProductName", "Telmar 2.3"},
                               {"ProductLanguage", "1049"},
                               {"INSTALLDIR", "[ProgramFilesFolder]Telmar\\Telmar 2.3\\"}},
                              {}, tree);
    EXPECT_EQ(error, "");
    package::PackageWriter writer(BinFolder() + "/TelmarSetup2.3");
    writer.SetContainerFlags(0x2 | 0x4);
    writer.AddSettings(Settings(packageCode, version, settingsExtra, letters));
    writer.AddFile(0, 1, "Telmar23.msi", installer);
    // Prerequisites' setup files (type 4) by name, from a file.
    for (const auto &[name, source] : setupFiles)
        writer.AddFile(4, 100, name, source);
    const std::string out =
        folder + "/" + version + (settingsExtra.empty() ? "" : "-x") + "/TelmarSetup2.3";
    fs::create_directories(fs::path(out).parent_path());
    std::string writeError;
    EXPECT_TRUE(writer.Write(out, writeError)) << writeError;
    fs::remove(installer);
    return out;
}

// Starts the program with the arguments (the first names the program) and
// the environment; 0 when it could not be started.
pid_t Spawn(std::vector<std::string> args, char **environment) {
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, args.front().c_str(), nullptr, nullptr, argv.data(), environment) != 0)
        return 0;
    return pid;
}

// Waits until the file exists, for at most the seconds given.
[[maybe_unused]] bool AwaitFile(const std::string &path, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!fs::exists(path) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return fs::exists(path);
}

// Waits for the process for at most the seconds given, then kills it; true
// when it ended by itself.
bool AwaitEnd(pid_t pid, int &status, int seconds) {
    bool ended = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!(ended = ::waitpid(pid, &status, WNOHANG) == pid) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    return ended;
}

// The folders runs made for their work files in the temporary folder.
std::vector<std::string> RunFolders(const std::string &root) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(root + "/tmp", ec))
        if (entry.path().filename().string().rfind("TelmarSetup-", 0) == 0)
            found.push_back(entry.path().string());
    return found;
}

struct Outcome {
    int status = -1; // exit status (8 bits)
    std::string log;
};

class SetupEndToEnd : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_dir = new test::TempDir("e2e-packages");
        const std::string d = s_dir->path();
        WriteFile(d + "/v1/bin/tool", "tool 2.3.0");
        WriteFile(d + "/v1/lib/data.txt", "data 2.3.0");
        WriteFile(d + "/v1/old.txt", "only in 2.3.0");
        WriteFile(d + "/v2/bin/tool", "tool 2.3.1");
        WriteFile(d + "/v2/lib/data.txt", "data 2.3.1");
        s_v1 = BuildSetup(d, d + "/v1", "{PKG-0001}", "2.3.0");
        s_v2 = BuildSetup(d, d + "/v2", "{PKG-0002}", "2.3.1");
        // For a stand-in installer without a version of its own.
        s_anyInstaller = BuildSetup(d, d + "/v1", "{PKG-0001}", "2.3.0", "MinWIVer=0\r\n");
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }

    void SetUp() override {
        ASSERT_FALSE(BinFolder().empty());
        ASSERT_FALSE(m_root.empty());
        m_env.Set("KRV_SETUP_ROOT", m_root);
        m_env.Set("QT_QPA_PLATFORM", "offscreen");
        m_env.Unset("KRV_REGISTRY_ROOT");
        m_env.Unset("KRV_MSIEXEC");
        // The system's installer, where the folder map puts it.
        fs::create_directories(m_root + "/usr/lib");
        fs::copy_file(BinFolder() + "/krv-msiexec", m_root + "/usr/lib/krv-msiexec");
    }

    Outcome Run(const std::string &setup, const std::string &arguments) {
        const std::string log = m_root + "/setup-" + std::to_string(++m_runs) + ".log";
        uint32_t status = 0;
        const platform::ProcessResult result =
            platform::ProcessRun({setup,
                                  platform::QuoteArgument(setup) + " /exelog " +
                                      platform::QuoteArgument(log) + " " + arguments,
                                  "", false},
                                 true);
        EXPECT_TRUE(result.started);
        status = result.exitCode;
        return {int(status), ReadFile(log)};
    }

    std::string Installed() const { return m_root + "/opt/Telmar/Telmar 2.3"; }
    std::string Registered() const {
        return m_root + "/registry/HKLM/Software/Krv/Installer/Products/" + kProductCode;
    }

    // Serves the folder's files under /files/ on a port of its own.
    static void ServeFolder(test::LocalHttpServer &http, const std::string &folder) {
        fs::create_directories(folder);
        http.SetFileRoot(folder);
        ASSERT_TRUE(http.Start({})) << http.Error();
    }

    static inline test::TempDir *s_dir = nullptr;
    static inline std::string s_v1, s_v2, s_anyInstaller;
    test::TempDir m_tmp{"e2e"};
    std::string m_root = m_tmp.path();
    test::ScopedEnv m_env;
    int m_runs = 0;
};

// The package id in the footer of a setup program: it names the lock.
std::string PackageIdOf(const std::string &setup) {
    std::string id(32, '\0');
    std::ifstream in(setup, std::ios::binary);
    in.seekg(-76 + 28, std::ios::end);
    in.read(id.data(), 32);
    return id;
}

} // namespace
} // namespace krv::setup
