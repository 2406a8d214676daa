#include "log.h"
#include "support_env.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace krv::setup {
namespace {

std::string ReadFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::tm FixedTime() {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 8;
    t.tm_hour = 7;
    t.tm_min = 5;
    t.tm_sec = 9;
    return t;
}

OsVersionBlock FixedOs() {
    OsVersionBlock block;
    block.majorVersion = 6;
    block.minorVersion = 1;
    block.buildNumber = 7601;
    block.platformId = 2;
    block.csdVersion = "Service Pack 1";
    block.extended = true;
    block.servicePackMajor = 1;
    block.productType = 1;
    return block;
}

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.empty());
        m_log.clock = FixedTime;
        m_log.osQuery = FixedOs;
        m_log.programPath = [this] { return (m_dir / "TelmarSetup2.3").string(); };
    }

    krv::setup::test::TempDir m_tmp{"log"};
    const std::filesystem::path m_dir = m_tmp.path();
    SetupLog m_log;
};

constexpr std::string_view kOsBlock =
    "<< OS Version:  MajorVersion: 6; MinorVersion: 1; BuildNumber: 7601; PlatformId: 2; "
    "CSDVersion: Service Pack 1; ServicePackMajor: 1; ServicePackMinor: 0; SuiteMask: 0; "
    "ProductType: 1; >> \r\n\r\n";

TEST_F(LogTest, FileShapeHeaderOsBlockLinesAndEndLine) {
    const auto path = m_dir / "setup.log";
    SetLogFilePath(m_log, path.string());
    SetLogHeader(m_log, "\r\n====== Starting logging of \"/x/TelmarSetup2.3\" ====\r\n");
    EXPECT_FALSE(std::filesystem::exists(path)); // nothing before the first line
    WriteLogLine(m_log, "Maintenance mode:false");
    CloseLog(m_log, true);
    EXPECT_EQ(
        ReadFile(path),
        "\r\n====== Starting logging of \"/x/TelmarSetup2.3\" ====\r\n" + std::string(kOsBlock) +
            "2026-12-08 @07:05:09-Maintenance mode:false\r\n"
            "2026-12-08 @07:05:09-=====================End of Log=====================\r\n\r\n");
}

TEST_F(LogTest, EndLineAloneCreatesTheFileAndAnotherRunAppends) {
    CloseLog(m_log, true);
    const auto path = m_dir / "TelmarSetup2.3.log";
    const std::string once = std::string(kDefaultLogHeader) + std::string(kOsBlock) +
                             "2026-12-08 @07:05:09-" + std::string(kLogEndLine) + "\r\n";
    EXPECT_EQ(ReadFile(path), once);
    CloseLog(m_log, true); // a second run appends its own header and block
    EXPECT_EQ(ReadFile(path), once + once);
    CloseLog(m_log, false);
    EXPECT_EQ(ReadFile(path), once + once);
}

// A run ended by a stop closes the log while its own thread still runs: a
// line that thread writes then must not open the file again (a second
// header after the end line, cut by the process's end).
TEST_F(LogTest, LinesAfterTheEndForGoodAreDropped) {
    WriteLogLine(m_log, "Stopped");
    EndLogForGood(m_log, true);
    WriteLogLine(m_log, "late");
    CloseLog(m_log, true);
    EXPECT_EQ(ReadFile(m_dir / "TelmarSetup2.3.log"),
              std::string(kDefaultLogHeader) + std::string(kOsBlock) +
                  "2026-12-08 @07:05:09-Stopped\r\n2026-12-08 @07:05:09-" +
                  std::string(kLogEndLine) + "\r\n");
}

TEST_F(LogTest, HeaderChangesOnlyBeforeTheFileOpensAndThePathNeverSwitches) {
    const auto first = m_dir / "first.log";
    SetLogFilePath(m_log, first.string());
    WriteLogLine(m_log, "a:1");
    SetLogHeader(m_log, "LATE HEADER");
    SetLogFilePath(m_log, (m_dir / "second.log").string());
    WriteLogLine(m_log, "b:2");
    CloseLog(m_log, false);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "second.log"));
    const std::string text = ReadFile(first);
    EXPECT_EQ(text.find("LATE HEADER"), std::string::npos);
    EXPECT_NE(text.find("-a:1\r\n2026-12-08 @07:05:09-b:2\r\n"), std::string::npos);
}

TEST_F(LogTest, UnwritablePathLosesLinesAndLaterLinesTryAgain) {
    const auto blocked = m_dir / "blocked";
    std::filesystem::create_directories(blocked / "dir.log");
    SetLogFilePath(m_log, (blocked / "dir.log").string()); // a folder: cannot be opened
    WriteLogLine(m_log, "lost:1");
    EXPECT_EQ(m_log.fd, -1);
    SetLogFilePath(m_log, (m_dir / "ok.log").string());
    WriteLogLine(m_log, "kept:2");
    CloseLog(m_log, false);
    const std::string text = ReadFile(m_dir / "ok.log");
    EXPECT_EQ(text.find("lost:1"), std::string::npos);
    EXPECT_NE(text.find("kept:2"), std::string::npos);
}

// /exelog naming a pipe or a device: the lines are lost, the program never
// hangs on the open or on a reader that does not read.
TEST_F(LogTest, PipesAndDevicesAreNoLogFiles) {
    const auto pipe = m_dir / "pipe.log";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    const auto device = m_dir / "null.log";
    std::filesystem::create_symlink("/dev/null", device);
    for (const auto &path : {pipe, device}) {
        SCOPED_TRACE(path);
        SetLogFilePath(m_log, path.string());
        WriteLogLine(m_log, "lost:1");
        EXPECT_EQ(m_log.fd, -1);
        SetLogFilePath(m_log, "");
    }
    if (reader >= 0)
        ::close(reader);
    ::unlink(pipe.c_str());
    WriteLogLine(m_log, "after:2"); // the pipe is gone: still nothing blocks
    CloseLog(m_log, false);
}

TEST_F(LogTest, PasswordsAreMaskedInEveryLine) {
    const auto path = m_dir / "p.log";
    SetLogFilePath(m_log, path.string());
    WriteLogLine(m_log, "Full command line:\"/x/TelmarSetup2.3\" /exelog /password topsecret "
                        "/proxypassword:\"two words\" /aespassword k3y /username bob");
    WriteLogLine(m_log, "Command line to pass to MSI:/password inline");
    CloseLog(m_log, false);
    const std::string text = ReadFile(path);
    for (const char *secret : {"topsecret", "two words", "k3y", "inline"})
        EXPECT_EQ(text.find(secret), std::string::npos) << secret;
    EXPECT_NE(
        text.find("/password ***** /proxypassword:\"*****\" /aespassword ***** /username bob"),
        std::string::npos);
}

TEST_F(LogTest, LinesFromManyThreadsNeverInterleave) {
    const auto path = m_dir / "threads.log";
    SetLogFilePath(m_log, path.string());
    constexpr int kThreads = 4;
    constexpr int kLines = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < kLines; ++i)
                WriteLogLine(m_log, "Thread " + std::to_string(t) + ":" + std::string(40, 'a' + t));
        });
    for (auto &thread : threads)
        thread.join();
    CloseLog(m_log, false);
    std::istringstream lines(ReadFile(path));
    const std::string prefix = "2026-12-08 @07:05:09-Thread ";
    int count = 0;
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("2026", 0) != 0)
            continue;
        // "<prefix>N:" then 40 copies of the thread's letter, then CR.
        ASSERT_EQ(line.size(), prefix.size() + 2 + 40 + 1) << line;
        ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
        const char thread = line[prefix.size()];
        ASSERT_TRUE(thread >= '0' && thread < '0' + kThreads) << line;
        EXPECT_EQ(line.substr(prefix.size() + 1),
                  ":" + std::string(40, 'a' + (thread - '0')) + "\r");
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

TEST(LogFormat, TimestampOsBlockAndPieces) {
    std::tm t{};
    t.tm_year = 99;
    t.tm_mon = 0;
    t.tm_mday = 2;
    t.tm_hour = 23;
    t.tm_min = 59;
    t.tm_sec = 0;
    EXPECT_EQ(FormatLogTimestamp(t), "1999-01-02 @23:59:00");

    OsVersionBlock basic;
    basic.majorVersion = 4;
    basic.csdVersion = std::string(200, 'x');
    EXPECT_EQ(FormatOsVersionBlock(basic),
              "<< OS Version:  MajorVersion: 4; MinorVersion: 0; BuildNumber: 0; PlatformId: 0; "
              "CSDVersion: " +
                  std::string(127, 'x') + "; >> \r\n\r\n");

    const OsVersionBlock live = QueryOsVersionBlock();
    EXPECT_EQ(live.platformId, 2u);
    EXPECT_TRUE(live.extended);
    EXPECT_FALSE(live.csdVersion.empty());

    std::string line = "Values:";
    AppendLogText(line, static_cast<const char *>(nullptr));
    AppendLogText(line, "a");
    AppendLogBool(line, true);
    AppendLogBool(line, false);
    AppendLogUShort(line, 65535);
    AppendLogInt(line, -5);
    AppendLogULong(line, 4000000000u);
    AppendLogUInt64(line, 18446744073709551615ull);
    EXPECT_EQ(line, "Values:atruefalse65535-5400000000018446744073709551615");

    EXPECT_EQ(DefaultLogPath("/opt/t/TelmarSetup2.3"), "/opt/t/TelmarSetup2.3.log");
    EXPECT_EQ(DefaultLogPath("/opt/t.d/setup"), "/opt/t.d/setup.log");
    EXPECT_EQ(DefaultLogPath("C:\\x\\Setup.EXE"), "C:\\x\\Setup.log");
}

TEST(LogSwitch, GlobalLogWritesNothingWithoutLogging) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("krv_log_global_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto path = dir / "global.log";
    LoggingEnabled = false;
    SetLogFilePath(path.string());
    LogLine("Never:1");
    CloseLog();
    EXPECT_FALSE(std::filesystem::exists(path));
    LoggingEnabled = true;
    LogLine("Now:1");
    CloseLog();
    LoggingEnabled = false;
    const std::string text = ReadFile(path);
    EXPECT_NE(text.find("-Now:1\r\n"), std::string::npos);
    EXPECT_NE(text.find(kLogEndLine), std::string::npos);
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace krv::setup
