// Extraction for a calling process: the events the pipe sink sends as a
// caller serving the socket reads them, and /groupsextract through the setup
// program.
#include "caller_extraction.h"
#include "log.h"
#include "package_writer.h"
#include "pipe_progress_sink.h"
#include "support_env.h"

#include <setup_process.h>

#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace krv::setup {
namespace {

namespace fs = std::filesystem;

// A calling process on raw sockets: records every message (raw, and
// decoded from UTF-16LE) and answers each with what `answer` says ("OK").
class CallerServer {
  public:
    using Answer = std::function<std::string(std::size_t index)>;
    explicit CallerServer(const std::string &id, Answer answer = {}) : m_answer(std::move(answer)) {
        m_path = PipeSocketPath(id);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, m_path.c_str(), m_path.size());
        m_listen = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        EXPECT_EQ(::bind(m_listen, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(m_listen, 1), 0);
        m_thread = std::thread([this] { Serve(); });
    }
    ~CallerServer() {
        Stop();
        ::close(m_listen);
        ::unlink(m_path.c_str());
    }
    // Ends serving; a client that has gone has ended the thread already.
    void Stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    std::vector<std::string> Messages() {
        Stop();
        return m_messages;
    }
    std::vector<std::string> m_raw;

  private:
    void Serve() {
        int client = -1;
        for (pollfd p{m_listen, POLLIN, 0}; client < 0 && !m_stop;)
            if (::poll(&p, 1, 20) > 0)
                client = ::accept(m_listen, nullptr, nullptr);
        char buffer[70000];
        for (ssize_t got; client >= 0 && (got = ::recv(client, buffer, sizeof buffer, 0)) > 0;) {
            m_raw.emplace_back(buffer, std::size_t(got));
            m_messages.push_back(
                QString::fromUtf16(reinterpret_cast<const char16_t *>(buffer), got / 2)
                    .toStdString());
            const QString reply =
                QString::fromStdString(m_answer ? m_answer(m_raw.size() - 1) : "OK");
            ::send(client, reply.utf16(), std::size_t(reply.size()) * 2, MSG_NOSIGNAL);
        }
        if (client >= 0)
            ::close(client);
    }
    Answer m_answer;
    int m_listen = -1;
    std::string m_path;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::vector<std::string> m_messages;
};

const std::string kTotal = "184549376", kFile = "134217728", kName = "150994944",
                  kProgress = "167772160", kSpace = "117440512";

class CallerExtraction : public ::testing::Test {
  protected:
    void SetUp() override { m_env.Set("XDG_RUNTIME_DIR", m_dir.path()); }
    test::TempDir m_dir{"caller"};
    test::ScopedEnv m_env;
};

TEST_F(CallerExtraction, SinkSendsEveryEventAsTheCallerReadsIt) {
    CallerServer server("seq");
    {
        PipeChannel channel;
        ASSERT_TRUE(channel.Open(false, "seq"));
        PipeProgressSink sink(channel);
        AutoResetEvent ready;
        sink.SetReadyEvent(&ready);
        EXPECT_EQ(sink.ShowModal(), dialog_result::kFinished);
        EXPECT_TRUE(ready.WaitFor(std::chrono::milliseconds(0)));
        sink.SetTotal(5'000'000'000ULL); // over 4 GiB: two halves
        sink.SetCurrentFile("Ая.bin", 101);
        EXPECT_FALSE(sink.Progress(100));
        // A file without progress of its own must not count the last twice.
        sink.SetCurrentFile("empty.bin", 101);
        sink.SetCurrentFile("c.bin", 102);
        sink.Progress(4'294'967'296ULL);
        EXPECT_TRUE(sink.AskRetry("/t/c.bin", 7));
        sink.Close();
        EXPECT_FALSE(sink.IsCancelled());
    }
    const std::vector<std::string> expected = {
        kTotal, "705032704", "1",                                        //
        kFile,  "101",       kName, "Ая.bin",    kProgress, "100",  "0", //
        kFile,  "101",       kName, "empty.bin",                         //
        kFile,  "102",       kName, "c.bin",     kProgress, "100",  "1", //
        kSpace, "/t/c.bin",  "7",   "0",         "CLOSE",   "CLOSE"};
    EXPECT_EQ(server.Messages(), expected);
    // UTF-16LE without a terminator.
    EXPECT_EQ(server.m_raw[6].substr(0, 4), std::string("\x10\x04\x4F\x04", 4));
    EXPECT_EQ(server.m_raw[6].size(), 12u);
}

TEST_F(CallerExtraction, WithoutACallerEverySendIsSkipped) {
    PipeChannel channel;
    EXPECT_FALSE(channel.Open(false, "nobody"));
    EXPECT_EQ(channel.SendValue(1), "");
    PipeProgressSink sink(channel);
    sink.SetTotal(1);
    EXPECT_FALSE(sink.IsCancelled());
    // Ids that would leave the runtime folder or not fit are refused.
    EXPECT_EQ(PipeSocketPath("../x"), "");
    EXPECT_EQ(PipeSocketPath(std::string(200, 'a')), "");
    EXPECT_EQ(PipeSocketPath("7"), m_dir.path() + "/ToServer7");
}

// A caller that takes the messages but never answers must not stall the
// extraction: the channel gives up after its limit, logs why, counts as
// closed, and later sends return without waiting again.
TEST_F(CallerExtraction, CallerThatNeverAnswersEndsTheExchangeAsCancelled) {
    const std::string logPath = m_dir.path() + "/setup.log";
    SetupLog &log = TheSetupLog();
    CloseLog(log, false);
    SetLogFilePath(log, logPath);
    LoggingEnabled = true;
    const std::string path = PipeSocketPath("mute");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int listening = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listening, 1), 0);
    std::vector<std::string> received;
    std::thread caller([&] {
        const int client = ::accept(listening, nullptr, nullptr);
        char buffer[70000];
        // Reads until the setup drops the connection, answering nothing.
        for (ssize_t got; (got = ::recv(client, buffer, sizeof buffer, 0)) > 0;)
            received.push_back(
                QString::fromUtf16(reinterpret_cast<const char16_t *>(buffer), got / 2)
                    .toStdString());
        ::close(client);
    });
    {
        PipeChannel channel;
        channel.SetReplyLimit(std::chrono::milliseconds(100));
        ASSERT_TRUE(channel.Open(false, "mute"));
        PipeProgressSink sink(channel);
        sink.SetTotal(1);
        EXPECT_TRUE(sink.IsCancelled());
        EXPECT_FALSE(channel.IsOpen()) << "later sends must not wait again";
        EXPECT_EQ(channel.SendValue(5), "");
        EXPECT_FALSE(sink.AskRetry("/t/x", 1)) << "a gone caller stops the work";
    }
    caller.join();
    ::close(listening);
    ::unlink(path.c_str());
    LoggingEnabled = false;
    CloseLog(log, false);
    EXPECT_EQ(received, std::vector<std::string>{kTotal}) << "nothing follows the unanswered one";
    EXPECT_NE(test::ReadFile(logPath).find("The calling process did not answer within 100 ms; the "
                                           "extraction is cancelled."),
              std::string::npos);
}

TEST(CallerExtractionList, NumbersEndAtSemicolons) {
    const std::pair<const char *, std::vector<uint32_t>> cases[] = {
        {"1;2", {1}}, {"3;5;", {3, 5}}, {"7", {}}, {"x;4;;", {4}}, {"99999999999;1;", {1}}};
    for (const auto &[list, ids] : cases)
        EXPECT_EQ(ParseGroupList(list), ids) << list;
    EXPECT_EQ(CallerOutputFolder("\"/tmp/out dir\""), "/tmp/out dir/");
    EXPECT_EQ(CallerOutputFolder(""), "");
}

// The setup program driven by a caller over the socket.
class GroupsExtractEndToEnd : public CallerExtraction {
  protected:
    void SetUp() override {
        CallerExtraction::SetUp();
        m_env.Set("KRV_SETUP_ROOT", m_dir.path() + "/root");
        m_env.Set("QT_QPA_PLATFORM", "offscreen");
        m_writer.AddBytes(4, 101, "a.bin", std::string(1000, 'a'));
        m_writer.AddBytes(4, 101, "b.bin", "bbb");
        m_writer.AddBytes(4, 102, "c.bin", "not asked for");
    }
    int Run(const std::string &arguments) {
        std::string error;
        EXPECT_TRUE(m_writer.Write(m_setup, error)) << error;
        const platform::ProcessResult result = platform::ProcessRun(
            {m_setup, platform::QuoteArgument(m_setup) + " " + arguments, "", false}, true);
        EXPECT_TRUE(result.started);
        return int(result.exitCode);
    }
    const std::string m_bin = test::BinFolder();
    package::PackageWriter m_writer{m_bin + "/TelmarSetup2.3"};
    const std::string m_setup = m_dir.path() + "/TelmarSetup2.3", m_out = m_dir.path() + "/out";
};

TEST_F(GroupsExtractEndToEnd, CallerReceivesTheWholeSequence) {
    CallerServer server("4711");
    EXPECT_EQ(Run("/groupsextract 101; /out \"" + m_out + "\" /callbackid 4711"), 0);
    const std::string a = m_out + "/a.bin", b = m_out + "/b.bin";
    const std::vector<std::string> expected = {kTotal,  "1003", "0",                              //
                                               kFile,   "101",  kName, a, kProgress, "1000", "0", //
                                               kFile,   "101",  kName, b, kProgress, "1003", "0", //
                                               "CLOSE", "CLOSE"};
    EXPECT_EQ(server.Messages(), expected);
    EXPECT_EQ(test::ReadFile(a), std::string(1000, 'a'));
    EXPECT_FALSE(fs::exists(m_out + "/c.bin"));
}

TEST_F(GroupsExtractEndToEnd, CloseFromTheCallerCancelsTheExtraction) {
    // "CLOSE" to the high half of the total.
    CallerServer server("4712", [](std::size_t index) { return index == 2 ? "CLOSE" : "OK"; });
    EXPECT_EQ(Run("/groupsextract 101; /out " + m_out + " /callbackid 4712"), 15);
    const std::vector<std::string> messages = server.Messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), kProgress), 0);
    EXPECT_EQ(messages.back(), "CLOSE");
    EXPECT_FALSE(fs::exists(m_out + "/a.bin")); // no partial file stays
}

TEST_F(GroupsExtractEndToEnd, WithoutCallbackIdNothingIsSent) {
    CallerServer server("");
    EXPECT_EQ(Run("/groupsextract 102; /out " + m_out), 0);
    EXPECT_EQ(test::ReadFile(m_out + "/c.bin"), "not asked for");
    EXPECT_TRUE(server.Messages().empty());
}

TEST_F(GroupsExtractEndToEnd, PackedJavaArchivesOfAGroupAreUnpackedAfterIt) {
    test::WriteFile(m_dir.path() + "/jars/lib/x.jar.pack", "packed");
    m_writer.SetContainerFlags(0x2);
    m_writer.AddSettings("[GeneralOptions]\r\nPackJars=true\r\n");
    m_writer.AddExtractionLibrary(m_bin + "/libkrv_extraction.so");
    m_writer.AddGroup(6, 103, "jars", m_dir.path() + "/jars");
    // A stand-in unpack200 where a runtime beside the groups would be.
    const std::string fake = m_out + "/jre/bin/unpack200";
    test::WriteFile(fake, "#!/bin/sh\ncat \"$4\" > \"$5\"\n");
    fs::permissions(fake, fs::perms::owner_all);
    EXPECT_EQ(Run("/groupsextract 103; /out " + m_out), 0);
    EXPECT_EQ(test::ReadFile(m_out + "/lib/x.jar"), "packed");
    EXPECT_FALSE(fs::exists(m_out + "/lib/x.jar.pack"));
}

} // namespace
} // namespace krv::setup
