// Extraction for a calling process: the events the pipe sink sends, as a
// caller serving the socket receives them, and /groupsextract through the
// setup program.
#include "caller_extraction.h"
#include "package_writer.h"
#include "pipe_progress_sink.h"
#include "support_env.h"

#include <setup_process.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
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

// A calling process: serves the socket, records every message (decoded from
// UTF-16LE here, independently of the code under test) and answers each
// with what `answer` says ("OK" by default).
class CallerServer {
  public:
    using Answer = std::function<std::string(std::size_t index, const std::string &text)>;

    CallerServer(const std::string &id, Answer answer = {}) : m_answer(std::move(answer)) {
        const std::string path = PipeSocketPath(id);
        m_listen = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size());
        m_ok = !path.empty() &&
               ::bind(m_listen, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
               ::listen(m_listen, 1) == 0;
        m_path = path;
        m_thread = std::thread([this] { Serve(); });
    }
    ~CallerServer() {
        Stop();
        ::close(m_listen);
        ::unlink(m_path.c_str());
    }
    bool Ok() const { return m_ok; }
    // Stops serving (a client that has gone ends the thread at once).
    void Stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    // Waits (bounded) until the client has gone, then gives the messages.
    std::vector<std::string> Messages() {
        for (int i = 0; i < 1000 && !m_done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::lock_guard lock(m_lock);
        return m_messages;
    }
    std::vector<std::string> RawMessages() {
        std::lock_guard lock(m_lock);
        return m_raw;
    }
    bool Connected() const { return m_connected; }

  private:
    static std::string Decode(const std::string &bytes) {
        std::string out;
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            const unsigned unit = uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8);
            out += unit < 0x80 ? char(unit) : '?';
        }
        return out;
    }
    static std::string Encode(const std::string &text) {
        std::string out;
        for (char c : text) {
            out += c;
            out += '\0';
        }
        return out;
    }
    void Serve() {
        int client = -1;
        while (!m_stop && client < 0) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0)
                client = ::accept(m_listen, nullptr, nullptr);
        }
        if (client < 0) {
            m_done = true;
            return;
        }
        m_connected = true;
        char buffer[70000];
        for (;;) {
            const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            const std::string raw(buffer, std::size_t(got));
            std::string reply = "OK";
            {
                std::lock_guard lock(m_lock);
                m_raw.push_back(raw);
                m_messages.push_back(Decode(raw));
                if (m_answer)
                    reply = m_answer(m_messages.size() - 1, m_messages.back());
            }
            const std::string bytes = Encode(reply);
            ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        }
        ::close(client);
        m_done = true;
    }

    Answer m_answer;
    int m_listen = -1;
    bool m_ok = false;
    std::string m_path;
    std::thread m_thread;
    std::atomic<bool> m_stop{false}, m_done{false}, m_connected{false};
    std::mutex m_lock;
    std::vector<std::string> m_messages, m_raw;
};

class CallerExtraction : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.path().empty());
        m_env.Set("XDG_RUNTIME_DIR", m_dir.path());
    }
    test::TempDir m_dir{"caller"};
    test::ScopedEnv m_env;
};

// Codes as the caller reads them.
const std::string kTotal = "184549376", kFile = "134217728", kName = "150994944",
                  kProgress = "167772160", kSpace = "117440512";

TEST_F(CallerExtraction, SinkSendsTheEventsAsTheCallerReadsThem) {
    CallerServer server("seq");
    ASSERT_TRUE(server.Ok());
    {
        PipeChannel channel;
        ASSERT_TRUE(channel.Open(false, "seq"));
        EXPECT_TRUE(channel.Open(false, "other")); // opens once
        PipeProgressSink sink(channel);
        AutoResetEvent ready;
        sink.SetReadyEvent(&ready);
        EXPECT_EQ(sink.ShowModal(), dialog_result::kFinished);
        EXPECT_TRUE(ready.WaitFor(std::chrono::milliseconds(0)));
        sink.SetTotal(5'000'000'000ULL); // over 4 GiB: two halves
        sink.SetCurrentFile("a.bin", 101);
        EXPECT_FALSE(sink.Progress(100));
        // A file with no progress of its own must not count a.bin twice.
        sink.SetCurrentFile("empty.bin", 101);
        sink.SetCurrentFile("c.bin", 102);
        sink.Progress(4'294'967'296ULL);
        EXPECT_TRUE(sink.AskRetry("/t/c.bin", 7));
        sink.Close();
        EXPECT_FALSE(sink.IsCancelled());
    }
    const std::vector<std::string> expected = {
        kTotal,  "705032704", "1",                                       // total
        kFile,   "101",       kName, "a.bin",     kProgress, "100", "0", // a.bin
        kFile,   "101",       kName, "empty.bin",                        // nothing written
        kFile,   "102",       kName, "c.bin",     kProgress, "100", "1", // 100 + 4 GiB
        kSpace,  "/t/c.bin",  "7",   "0",                                // disk space
        "CLOSE", "CLOSE"};                                               // Close, destruction
    EXPECT_EQ(server.Messages(), expected);
}

TEST_F(CallerExtraction, TextsTravelAsUtf16LittleEndianWithoutTerminator) {
    CallerServer server("utf");
    {
        PipeChannel channel;
        ASSERT_TRUE(channel.Open(false, "utf"));
        EXPECT_EQ(channel.Send("Ая"), "OK");
        EXPECT_EQ(channel.SendNumber(-1), "OK");
        channel.SendClose();
    }
    server.Messages();
    const std::vector<std::string> raw = server.RawMessages();
    ASSERT_EQ(raw.size(), 3u);
    EXPECT_EQ(raw[0], std::string("\x10\x04\x4F\x04", 4));
    EXPECT_EQ(raw[1], std::string("-\0001\0", 4));
}

TEST_F(CallerExtraction, CloseAnswerCancelsAndStopsTheDiskSpaceQuestion) {
    // The caller answers "CLOSE" to the high half of the total.
    CallerServer server("cancel", [](std::size_t index, const std::string &) {
        return index == 2 ? std::string("CLOSE") : std::string("OK");
    });
    PipeChannel channel;
    ASSERT_TRUE(channel.Open(false, "cancel"));
    PipeProgressSink sink(channel);
    EXPECT_FALSE(sink.IsCancelled());
    sink.SetTotal(10);
    EXPECT_TRUE(sink.IsCancelled());
    EXPECT_FALSE(sink.AskRetry("/t/x", 1));
    EXPECT_FALSE(sink.Progress(5)); // never cancels through Progress itself
    EXPECT_TRUE(sink.IsCancelled());
}

TEST_F(CallerExtraction, NoCallerMeansEverySendIsSkipped) {
    PipeChannel channel;
    EXPECT_FALSE(channel.Open(false, "nobody"));
    EXPECT_EQ(channel.Send("x"), "");
    EXPECT_EQ(channel.SendValue(1), "");
    PipeProgressSink sink(channel);
    sink.SetTotal(1);
    EXPECT_FALSE(sink.IsCancelled());
    // Ids that would leave the runtime folder are refused.
    EXPECT_EQ(PipeSocketPath("../x"), "");
    EXPECT_EQ(PipeSocketPath(std::string(200, 'a')), "");
    EXPECT_EQ(PipeSocketPath("7"), m_dir.path() + "/ToServer7");
}

TEST(CallerExtractionList, NumbersEndAtSemicolons) {
    struct Case {
        const char *list;
        std::vector<uint32_t> ids;
    } cases[] = {
        {"1;2", {1}},          {"3;5;", {3, 5}},        {"", {}}, {"7", {}}, {"x;4;", {4}},
        {"12;;13;", {12, 13}}, {"99999999999;1;", {1}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ParseGroupList(c.list), c.ids) << c.list;
    EXPECT_EQ(CallerOutputFolder("\"/tmp/out dir\""), "/tmp/out dir/");
    EXPECT_EQ(CallerOutputFolder("/tmp/out/"), "/tmp/out/");
    EXPECT_EQ(CallerOutputFolder(""), "");
}

// The setup program driven by a caller over the socket.
class GroupsExtractEndToEnd : public CallerExtraction {
  protected:
    void SetUp() override {
        CallerExtraction::SetUp();
        const char *bin = std::getenv("KRV_TEST_BIN");
        ASSERT_TRUE(bin);
        package::PackageWriter writer(std::string(bin) + "/TelmarSetup2.3");
        writer.AddBytes(4, 101, "a.bin", std::string(1000, 'a'));
        writer.AddBytes(4, 101, "b.bin", "bbb");
        writer.AddBytes(4, 102, "c.bin", "not asked for");
        m_setup = m_dir.path() + "/TelmarSetup2.3";
        std::string error;
        ASSERT_TRUE(writer.Write(m_setup, error)) << error;
        m_out = m_dir.path() + "/out";
        m_env.Set("KRV_SETUP_ROOT", m_dir.path() + "/root");
        m_env.Set("QT_QPA_PLATFORM", "offscreen");
    }
    int Run(const std::string &arguments) {
        const platform::ProcessResult result = platform::ProcessRun(
            {m_setup, platform::QuoteArgument(m_setup) + " " + arguments, "", false}, true);
        EXPECT_TRUE(result.started);
        return int(result.exitCode);
    }
    std::string m_setup, m_out;
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
    EXPECT_EQ(test::ReadFile(b), "bbb");
    EXPECT_FALSE(fs::exists(m_out + "/c.bin"));
}

TEST_F(GroupsExtractEndToEnd, CloseFromTheCallerCancelsTheExtraction) {
    CallerServer server("4712", [](std::size_t index, const std::string &) {
        return index == 2 ? std::string("CLOSE") : std::string("OK");
    });
    EXPECT_EQ(Run("/groupsextract 101; /out " + m_out + " /callbackid 4712"), 15);
    const std::vector<std::string> messages = server.Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages.back(), "CLOSE");
    EXPECT_EQ(std::count(messages.begin(), messages.end(), kProgress), 0);
    EXPECT_FALSE(fs::exists(m_out + "/a.bin")); // no partial file stays
}

TEST_F(GroupsExtractEndToEnd, PackedJavaArchivesOfAGroupAreUnpackedAfterIt) {
    const char *bin = std::getenv("KRV_TEST_BIN");
    test::WriteFile(m_dir.path() + "/jars/lib/x.jar.pack", "packed");
    package::PackageWriter writer(std::string(bin) + "/TelmarSetup2.3");
    writer.SetContainerFlags(0x2);
    writer.AddSettings("[GeneralOptions]\r\nPackJars=true\r\n");
    writer.AddExtractionLibrary(std::string(bin) + "/libkrv_extraction.so");
    writer.AddGroup(6, 103, "jars", m_dir.path() + "/jars");
    std::string error;
    ASSERT_TRUE(writer.Write(m_setup, error)) << error;
    // A stand-in unpack200 where the runtime beside the groups would be.
    const std::string fake = m_out + "/jre/bin/unpack200";
    test::WriteFile(fake, "#!/bin/sh\ncat \"$4\" > \"$5\"\n");
    fs::permissions(fake, fs::perms::owner_all);
    EXPECT_EQ(Run("/groupsextract 103; /out " + m_out), 0);
    EXPECT_EQ(test::ReadFile(m_out + "/lib/x.jar"), "packed");
    EXPECT_FALSE(fs::exists(m_out + "/lib/x.jar.pack"));
}

TEST_F(GroupsExtractEndToEnd, WithoutCallbackIdNothingIsSent) {
    CallerServer server("");
    EXPECT_EQ(Run("/groupsextract 102; /out " + m_out), 0);
    EXPECT_EQ(test::ReadFile(m_out + "/c.bin"), "not asked for");
    server.Stop();
    EXPECT_TRUE(server.RawMessages().empty());
    EXPECT_FALSE(server.Connected());
}

} // namespace
} // namespace krv::setup
