// The download engine against real servers on 127.0.0.1: HTTP (cut,
// throttled, partial answers with and without a length, ignored ranges,
// credentials, a proxy), HTTPS with a certificate made here, and FTP with and
// without REST.
#include "download_session.h"

#include "credentials.h"
#include "local_servers.h"
#include "log.h"
#include "support_env.h"
#include "system.h"
#include "ui_dispatcher.h"

#include <setup_process.h>

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace krv::setup {
namespace {

using namespace download_code;
using test::LocalFtpServer;
using test::LocalHttpServer;
using test::PatternBytes;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr auto kDeadline = std::chrono::seconds(10);

// Records what the engine tells its sink; cancels or pauses on request.
class RecordingSink : public ProgressSink {
  public:
    void BeginItem(uint64_t size, std::string_view name) override {
        std::lock_guard guard(m_lock);
        beganSize = size;
        beganName = name;
        ++beginCount;
    }
    void EndItem(int result) override {
        std::lock_guard guard(m_lock);
        endResults.push_back(result);
    }
    void SetStatus(const ProgressStatus &status) override {
        std::lock_guard guard(m_lock);
        statuses.push_back(status.downloadStatus);
    }
    void Advance(uint64_t amount) override {
        std::lock_guard guard(m_lock);
        advances.push_back(amount);
        received += amount;
        if (cancelAfter && received >= cancelAfter)
            cancel = true;
    }
    bool IsCancelled() override {
        ++cancelChecks;
        return cancel;
    }
    bool IsPaused() override {
        if (pause)
            ++pausedChecks;
        return pause;
    }
    void OnError(std::string_view text, uint32_t code) override {
        std::lock_guard guard(m_lock);
        EXPECT_TRUE(text.empty());
        errors.push_back(code);
    }
    uint64_t Received() {
        std::lock_guard guard(m_lock);
        return received;
    }

    std::mutex m_lock;
    uint64_t beganSize = 0;
    std::string beganName;
    int beginCount = 0;
    std::vector<int> endResults;
    std::vector<uint8_t> statuses;
    std::vector<uint64_t> advances;
    uint64_t received = 0;
    uint64_t cancelAfter = 0;
    std::vector<uint32_t> errors;
    std::atomic<bool> cancel{false};
    std::atomic<bool> pause{false};
    std::atomic<int> cancelChecks{0};
    std::atomic<int> pausedChecks{0};
};

// Answers every prompt from a list; records the realms asked for.
class ScriptedPrompter : public CredentialsPrompter {
  public:
    std::optional<CredentialsAnswer> Ask(const std::string &host, const std::string &realm,
                                         QObject *) override {
        std::lock_guard guard(m_lock);
        hosts.push_back(host);
        realms.push_back(realm);
        if (answers.empty())
            return std::nullopt;
        CredentialsAnswer answer = answers.front();
        if (answers.size() > 1)
            answers.erase(answers.begin());
        return answer;
    }
    std::mutex m_lock;
    std::vector<CredentialsAnswer> answers;
    std::vector<std::string> hosts;
    std::vector<std::string> realms;
};

template <typename Condition> bool WaitUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A port nothing listens on (bound, then closed again).
uint16_t ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

bool Exists(const std::string &path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

class DownloadTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_http = new LocalHttpServer;
        ASSERT_TRUE(s_http->Start({})) << s_http->Error();
    }
    static void TearDownTestSuite() {
        delete s_http;
        s_http = nullptr;
    }
    void SetUp() override {
        // Requests to 127.0.0.1 never go to a proxy of the machine.
        for (const char *name : {"http_proxy", "https_proxy", "ftp_proxy", "all_proxy",
                                 "HTTPS_PROXY", "FTP_PROXY", "ALL_PROXY"})
            m_env.Unset(name);
        m_provider.SetPrompter(m_prompter);
    }
    // Runs one download to its end; the result code.
    uint32_t Download(const std::string &url, const std::string &target,
                      DownloadSession *session = nullptr) {
        DownloadSession own(&m_provider, m_dir.path(), &m_sink, m_messages);
        DownloadSession &used = session ? *session : own;
        EXPECT_EQ(used.Start(url, target, nullptr, true, std::string(), false), 0u);
        return used.Wait();
    }
    std::string Path(const std::string &name) const { return m_dir.path() + "/" + name; }

    static LocalHttpServer *s_http;
    test::ScopedEnv m_env;
    TempDir m_dir{"dl"};
    RecordingSink m_sink;
    CredentialProvider m_provider;
    std::shared_ptr<ScriptedPrompter> m_prompter = std::make_shared<ScriptedPrompter>();
    // Boxes a download shows are the test's (none is expected unless a test
    // scripts its own).
    SetupMessages m_messages{std::make_shared<ScriptedMessageBoxes>()};
};
LocalHttpServer *DownloadTest::s_http = nullptr;

TEST(DownloadNames, LocalPathAndRealmAndRanges) {
    struct Row {
        const char *url, *target, *folder, *expected;
    };
    const Row rows[] = {
        {"http://h/a/setup.exe", "/abs/x.bin", "/dl", "/abs/x.bin"},
        {"http://h/a/setup.exe", "D:\\x.exe", "/dl", "D:\\x.exe"},
        {"http://h/a/setup.exe", "sub\\y.exe", "/dl", "/dl/sub\\y.exe"},
        {"http://h/a/setup.exe", "sub/y.exe", "", "sub/y.exe"},
        {"http://h/a/setup.exe", "", "/dl/", "/dl/setup.pxu"},
        {"http://h/a/dir/", "", "/dl", "/dl/dir.pxu"},
        {"http://h/get.php?id=1", "", "/dl", "/dl/get.pxu"},
        {"http://h/files/?name=tool.msi&x=1", "", "/dl", "/dl/tool.pxu"},
        {"ftp://h/pub/f.zip;type=i", "", "/dl", "/dl/f.pxu"},
        {"http://h/a/we%3Fird", "", "/dl", "/dl/we%3Fird.pxu"},
        {"not a url", "", "/dl", ""},
    };
    for (const Row &row : rows)
        EXPECT_EQ(LocalFileNameFromUrl(row.url, row.target, row.folder), row.expected) << row.url;

    struct RealmRow {
        const char *header, *realm;
    };
    const RealmRow realms[] = {
        {"Basic realm=\"Files\"", "Files"},
        {"Basic REALM=Plain", "Plain"},
        {"Digest nonce=\"1\", realm=\"Late\"", ""}, // not trimmed: " realm" never matches
        {"Digest nonce=\"1\",realm=\"Second\"", "Second"},
        {"Basic", ""},
        {"", ""},
        {"Basic realm=\"", ""},
    };
    for (const RealmRow &row : realms)
        EXPECT_EQ(ParseAuthRealm(row.header), row.realm) << row.header;

    struct RangeRow {
        const char *value;
        std::optional<ContentRange> range;
    };
    const RangeRow ranges[] = {
        {"bytes 5368709120-5368713215/5368713216",
         ContentRange{5368709120, 5368713215, 5368713216}},
        {"Bytes 0-0/*", ContentRange{0, 0, std::nullopt}},
        {"bytes */100", std::nullopt},
        {"bytes 10-9/100", std::nullopt},
        {"bytes 0-99/99", std::nullopt},
        {"bytes 0-99", std::nullopt},
        {"bytes 0-18446744073709551615/*", std::nullopt},
        {"bytes 0-1/2/3", std::nullopt},
    };
    for (const RangeRow &row : ranges) {
        const std::optional<ContentRange> range = ParseContentRange(row.value);
        ASSERT_EQ(range.has_value(), row.range.has_value()) << row.value;
        if (range) {
            EXPECT_EQ(range->first, row.range->first) << row.value;
            EXPECT_EQ(range->last, row.range->last) << row.value;
            EXPECT_EQ(range->total, row.range->total) << row.value;
        }
    }
    EXPECT_EQ(ParseDecimal64(" 18446744073709551615 "), UINT64_MAX);
    EXPECT_EQ(ParseDecimal64("18446744073709551616"), std::nullopt);
    EXPECT_EQ(ParseDecimal64("12x"), std::nullopt);
}

TEST(DownloadCodes, CurlResultsMapToInternetNumbers) {
    struct Row {
        CURLcode curl;
        const char *text;
        bool ftp;
        uint32_t code;
    };
    const Row rows[] = {
        {CURLE_COULDNT_CONNECT, "", false, kCannotConnect},
        {CURLE_COULDNT_RESOLVE_HOST, "", false, kNameNotResolved},
        {CURLE_PARTIAL_FILE, "", false, kConnectionAborted},
        {CURLE_PARTIAL_FILE, "", true, kFtpTransferShort},
        {CURLE_PEER_FAILED_VERIFICATION, "SSL certificate problem: self-signed certificate", false,
         kCertificateAuthorityInvalid},
        {CURLE_PEER_FAILED_VERIFICATION, "SSL certificate problem: certificate has expired", false,
         kCertificateDateInvalid},
        {CURLE_PEER_FAILED_VERIFICATION, "no alternative certificate subject name matches", false,
         kCertificateNameInvalid},
        {CURLE_ABORTED_BY_CALLBACK, "", false, kCancelled},
        {CURLE_LOGIN_DENIED, "", true, kLoginFailure},
    };
    for (const Row &row : rows)
        EXPECT_EQ(FromCurl(row.curl, row.text, row.ftp), row.code) << row.curl;
}

// Every result the engine can end with reads as words in the log and the
// boxes, with its number beside them.
TEST(DownloadCodes, EveryResultHasATextBesideItsNumber) {
    const uint32_t codes[] = {kNoLocalPath,
                              kCancelled,
                              kFtpTransferShort,
                              kResumeBeyondEnd,
                              kAuthRequired,
                              kNotModified,
                              kForbidden,
                              kNotFound,
                              kServerErrorStatus,
                              kUnknownScheme,
                              kNotEnoughMemory,
                              kTimeout,
                              kExtendedError,
                              kInternalError,
                              kInvalidUrl,
                              kUnrecognizedScheme,
                              kNameNotResolved,
                              kLoginFailure,
                              kCannotConnect,
                              kConnectionAborted,
                              kConnectionReset,
                              kCertificateDateInvalid,
                              kCertificateNameInvalid,
                              kCertificateAuthorityInvalid,
                              kInvalidServerResponse,
                              kRedirectFailed,
                              kSecureChannelError,
                              kNotConnected};
    for (const uint32_t code : codes) {
        const std::string text = GetInternetErrorText(code);
        char number[16];
        std::snprintf(number, sizeof number, code >= 0xE0000000u ? "(0x%08X)" : "(%u)", code);
        EXPECT_TRUE(text.ends_with(std::string(" ") + number)) << text;
        EXPECT_GT(text.size(), std::strlen(number) + 10) << text;
    }
    // A scheme the engine does not speak (file://, news://) is not a missing
    // file, and missing memory is not a bad program.
    EXPECT_NE(GetInternetErrorText(kUnknownScheme).find("scheme"), std::string::npos);
    EXPECT_NE(GetInternetErrorText(kNotEnoughMemory).find("memory"), std::string::npos);
}

// One download per answer the server can give; the file and the sink are
// checked byte for byte.
TEST_F(DownloadTest, HttpAnswersTable) {
    struct Row {
        const char *name;
        std::string path;
        uint64_t partBytes; // pattern bytes already in the ".part" file
        uint32_t code;
        uint64_t fileSize;     // expected final file (0: no file)
        const char *rangeSent; // Range of the first request ("-": none)
        uint64_t firstAdvance; // the bytes already there
        uint32_t reported;     // the code OnError heard (0: none)
    };
    constexpr uint32_t kErrorPage = kServerErrorStatus;
    constexpr uint32_t kBadAnswer = kInvalidServerResponse;
    const Row rows[] = {
        {"whole", "/gen/100000", 0, kOk, 100000, "-", 0, 0},
        {"resumed", "/gen/100000", 1000, kOk, 100000, "bytes=1000-", 1000, 0},
        {"range ignored restarts", "/gen/3000?range=ignore", 1000, kOk, 3000, "bytes=1000-", 0, 0},
        {"206, no length", "/gen/3000?range=nolength", 1000, kOk, 3000, "bytes=1000-", 1000, 0},
        {"whole file for a range at its end", "/gen/1000?range=ignore", 1000, kOk, 1000,
         "bytes=1000-", 0, 0},
        {"416 drops the part", "/gen/1000", 1000, kOk, 1000, "bytes=1000-", 0, 0},
        {"part larger than the file", "/gen/60", 100, kOk, 60, "bytes=100-", 0, 0},
        {"206 without Content-Range restarts", "/gen/3000?crange=none", 1000, kOk, 3000,
         "bytes=1000-", 0, 0},
        {"206 shorter than asked is continued", "/gen/3000?span=700", 1000, kOk, 3000,
         "bytes=1000-", 1000, 0},
        {"206 of unknown total", "/gen/3000?crange=bytes%201000-2999/*", 1000, kOk, 3000,
         "bytes=1000-", 1000, 0},
        {"206 elsewhere", "/gen/3000?shift=5", 1000, kBadAnswer, 0, "bytes=1000-", 0, kBadAnswer},
        // The same with a range as long as its body: only the start tells.
        {"206 elsewhere, length agreeing", "/gen/3000?crange=bytes%201005-3004/3005", 1000,
         kBadAnswer, 0, "bytes=1000-", 0, kBadAnswer},
        {"206 range shorter than its body", "/gen/3000?crange=bytes%201000-1999/3000", 1000,
         kBadAnswer, 0, "bytes=1000-", 0, kBadAnswer},
        {"206 range past its total", "/gen/3000?crange=bytes%201000-2999/2000", 1000, kBadAnswer, 0,
         "bytes=1000-", 0, kBadAnswer},
        {"206 total the server never sends", "/gen/3000?claim=5000", 1000, kBadAnswer, 0,
         "bytes=1000-", 0, kBadAnswer},
        {"206 body past its range", "/gen/3000?range=nolength&crange=bytes%201000-1999/*", 1000,
         kBadAnswer, 0, "bytes=1000-", 0, kBadAnswer},
        {"cut and continued", "/gen/200000?cut=70000&chunk=10000", 0, kOk, 200000, "-", 0, 0},
        {"cut, all again", "/gen/200000?cut=70000&range=ignore", 0, kTimeout, 0, "-", 0, kTimeout},
        {"no length", "/gen/5000?nolength=1", 0, kOk, 5000, "-", 0, 0},
        {"redirect", "/redirect?to=/gen/2000", 0, kOk, 2000, "-", 0, 0},
        {"404", "/gen/10?status=404", 0, kNotFound, 0, "-", 0, kNotFound},
        {"410", "/gen/10?status=410", 0, kNotFound, 0, "-", 0, kNotFound},
        {"403", "/gen/10?status=403", 0, kForbidden, 0, "-", 0, kForbidden},
        {"304", "/gen/10?status=304", 0, kNotModified, 0, "-", 0, 0},
        {"302 without Location", "/gen/10?status=302", 0, kErrorPage, 0, "-", 0, kErrorPage},
        {"300", "/gen/10?status=300", 0, kErrorPage, 0, "-", 0, kErrorPage},
        {"error page", "/gen/10?status=500", 0, kErrorPage, 0, "-", 0, kErrorPage},
    };
    int index = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string target = "f" + std::to_string(index++) + ".bin";
        if (row.partBytes)
            WriteFile(Path(target + ".part"), PatternBytes(0, row.partBytes));
        const std::size_t logBefore = s_http->Log().size();
        RecordingSink sink;
        DownloadSession session(&m_provider, m_dir.path(), &sink, m_messages);
        ASSERT_EQ(session.Start(s_http->Url(row.path), target, nullptr, true, std::string(), false),
                  0u);
        EXPECT_EQ(session.Wait(), row.code);
        EXPECT_EQ(session.GetErrorCode(), row.code);
        EXPECT_EQ(sink.errors,
                  row.reported ? std::vector<uint32_t>{row.reported} : std::vector<uint32_t>{});
        if (row.fileSize) {
            EXPECT_EQ(ReadFile(Path(target)), PatternBytes(0, row.fileSize));
            EXPECT_FALSE(Exists(Path(target + ".part")));
            EXPECT_EQ(sink.endResults, std::vector<int>{1});
            EXPECT_EQ(sink.advances.empty() ? UINT64_MAX : sink.advances.front(), row.firstAdvance);
            EXPECT_EQ(sink.received, row.fileSize);
            EXPECT_EQ(sink.beganName, Path(target));
        } else {
            EXPECT_FALSE(Exists(Path(target)));
            EXPECT_TRUE(sink.endResults.empty());
        }
        const std::vector<std::string> log = s_http->Log();
        ASSERT_GT(log.size(), logBefore);
        EXPECT_NE(log[logBefore].find(std::string("range=") + row.rangeSent), std::string::npos)
            << log[logBefore];
    }
}

// A ".part" file is continued only when nobody else can have written it;
// any other is replaced by a file of this run, and what stood there (another
// user's file, a link's target) is never written.
TEST_F(DownloadTest, PartFileIsContinuedOnlyWhenItIsTheRunsOwn) {
    const bool root = ::geteuid() == 0;
    struct Row {
        const char *what;
        mode_t folderMode;
        const char *kind; // "own", "theirs", "link"
        bool resumed;
    } rows[] = {
        {"own, private folder", 0700, "own", true},
        {"own, in a sticky folder others may write", 01777, "own", false},
        {"another user's", 0755, "theirs", false},
        {"a link", 0755, "link", false},
    };
    int n = 0;
    for (const Row &row : rows) {
        if (!root && std::string(row.kind) == "theirs")
            continue; // only root can give a file away
        SCOPED_TRACE(row.what);
        const std::string folder = Path("part" + std::to_string(++n));
        ::mkdir(folder.c_str(), 0700);
        const std::string part = folder + "/f.bin.part";
        // What stood there before, seen through a name of its own.
        const std::string kept = Path("kept" + std::to_string(n));
        WriteFile(kept, "planted");
        if (std::string(row.kind) == "link") {
            ASSERT_EQ(::symlink(kept.c_str(), part.c_str()), 0);
        } else {
            WriteFile(part, std::string(row.kind) == "own" ? PatternBytes(0, 1000) : "planted");
            if (std::string(row.kind) == "theirs") {
                ASSERT_EQ(::chown(part.c_str(), 65534, 65534), 0);
                ASSERT_EQ(::link(part.c_str(), (kept + ".theirs").c_str()), 0);
            }
        }
        ::chmod(folder.c_str(), row.folderMode);
        const std::size_t logBefore = s_http->Log().size();
        ASSERT_EQ(Download(s_http->Url("/gen/3000"), folder + "/f.bin"), kOk);
        EXPECT_TRUE(ReadFile(folder + "/f.bin") == PatternBytes(0, 3000));
        struct stat info {};
        ASSERT_EQ(::lstat((folder + "/f.bin").c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, ::geteuid());
        const std::vector<std::string> log = s_http->Log();
        ASSERT_GT(log.size(), logBefore);
        EXPECT_EQ(log[logBefore].find("range=bytes=1000-") != std::string::npos, row.resumed)
            << log[logBefore];
        EXPECT_EQ(ReadFile(kept), "planted");
        if (std::string(row.kind) == "theirs") {
            EXPECT_EQ(ReadFile(kept + ".theirs"), "planted");
        }
    }
}

TEST_F(DownloadTest, ResumeAfterCutAsksForTheMissingBytesOnly) {
    const std::size_t logBefore = s_http->Log().size();
    EXPECT_EQ(Download(s_http->Url("/gen/300000?cut=120000"), "cut.bin"), kOk);
    EXPECT_EQ(ReadFile(Path("cut.bin")), PatternBytes(0, 300000));
    const std::vector<std::string> log = s_http->Log();
    ASSERT_EQ(log.size(), logBefore + 2);
    EXPECT_NE(log[logBefore + 1].find("range=bytes=120000-"), std::string::npos);
    EXPECT_EQ(m_sink.beganSize, 300000u);
    EXPECT_EQ(m_sink.beginCount, 1); // the continuation is not a new item
    // The continuation's request reports no status of its own.
    EXPECT_EQ(m_sink.statuses, (std::vector<uint8_t>{1, 2}));
}

TEST_F(DownloadTest, FiveGibibyteFileResumesWithSixtyFourBitOffsets) {
    const uint64_t have = 5ull << 30; // a sparse ".part" file: no disk used
    const uint64_t size = have + 4096;
    const std::string part = Path("big.bin.part");
    { std::ofstream create(part); }
    ASSERT_EQ(truncate(part.c_str(), static_cast<off_t>(have)), 0);
    EXPECT_EQ(Download(s_http->Url("/gen/" + std::to_string(size)), "big.bin"), kOk);
    EXPECT_EQ(m_sink.beganSize, size);
    ASSERT_FALSE(m_sink.advances.empty());
    EXPECT_EQ(m_sink.advances.front(), have);
    struct stat info {};
    ASSERT_EQ(stat(Path("big.bin").c_str(), &info), 0);
    EXPECT_EQ(static_cast<uint64_t>(info.st_size), size);
    std::ifstream file(Path("big.bin"), std::ios::binary);
    file.seekg(static_cast<std::streamoff>(have));
    std::string tail(4096, '\0');
    file.read(tail.data(), 4096);
    EXPECT_EQ(tail, PatternBytes(have, 4096));
    EXPECT_NE(s_http->Log().back().find("range=bytes=5368709120-"), std::string::npos);
    unlink(Path("big.bin").c_str());
}

TEST_F(DownloadTest, CancelKeepsThePartFileAndTheNextStartContinues) {
    const std::string url = s_http->Url("/gen/400000?throttle=20&chunk=20000");
    m_sink.cancelAfter = 40000;
    EXPECT_EQ(Download(url, "c.bin"), kOk); // cancelled in the read loop: 0
    EXPECT_FALSE(Exists(Path("c.bin")));
    const std::string part = ReadFile(Path("c.bin.part"));
    ASSERT_GE(part.size(), 40000u);
    EXPECT_LT(part.size(), 400000u);
    EXPECT_EQ(part, PatternBytes(0, part.size()));
    EXPECT_TRUE(m_sink.errors.empty());

    RecordingSink again;
    DownloadSession session(&m_provider, m_dir.path(), &again, m_messages);
    ASSERT_EQ(session.Start(s_http->Url("/gen/400000"), "c.bin", nullptr, true, {}, false), 0u);
    EXPECT_EQ(session.Wait(), kOk);
    EXPECT_EQ(again.advances.front(), part.size());
    EXPECT_EQ(ReadFile(Path("c.bin")), PatternBytes(0, 400000));
}

// A stop signal to the setup while it downloads (no program of its own
// running): the download ends as a cancelled one, told to the sink (a
// window waiting for its end), and what it fetched goes instead of staying
// for a resume. The stop comes in the middle of the transfer, or after the
// server cut it and went away, while the engine waits to try again. In a
// child process: a stop stays for the rest of the process.
TEST_F(DownloadTest, StopSignalCancelsAndDropsThePartFile) {
    for (const bool duringRetry : {false, true}) {
        SCOPED_TRACE(duringRetry ? "stop while a cut transfer waits to resume" : "stop mid-way");
        const int status = test::StatusOfChild([&] {
            platform::ForwardTerminationSignals();
            // A server of its own, which goes once it has cut the transfer.
            LocalHttpServer cutting;
            if (duringRetry && !cutting.Start({}))
                return 5;
            const std::string url = duringRetry
                                        ? cutting.Url("/gen/400000?cut=40000&chunk=20000")
                                        : s_http->Url("/gen/400000?throttle=20&chunk=20000");
            struct StoppingSink : RecordingSink {
                void Advance(uint64_t amount) override {
                    RecordingSink::Advance(amount);
                    if (Received() >= 40000 && !stopped) {
                        if (server) {
                            server->Stop();
                            return;
                        }
                        stopped = true;
                        ::raise(SIGTERM);
                    }
                }
                // Asked in the wait before another try.
                bool IsPaused() override {
                    if (server && !server->Port() && !stopped && ++waits > 2) {
                        stopped = true;
                        ::raise(SIGTERM);
                    }
                    return false;
                }
                LocalHttpServer *server = nullptr;
                int waits = 0;
                std::atomic<bool> stopped{false};
            } sink;
            if (duringRetry)
                sink.server = &cutting;
            DownloadSession session(&m_provider, m_dir.path(), &sink, m_messages);
            session.SetRetryWait(std::chrono::milliseconds(200));
            if (session.Start(url, "s.bin", nullptr, true, {}, false) != 0)
                return 2;
            // Not a success: the file it would stand for is gone.
            if (session.Wait() != kCancelled)
                return 4;
            if (sink.errors != std::vector<uint32_t>{kCancelled})
                return 6;
            return platform::TerminationSignal() == SIGTERM && sink.stopped ? 0 : 3;
        });
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_FALSE(Exists(Path("s.bin.part")));
        EXPECT_FALSE(Exists(Path("s.bin")));
    }
}

// A stop signal while a download waits for the user's answer (a doubtful
// certificate, a password): nothing checks the stop until the answer comes,
// so the setup ends at once, as it does outside a download.
TEST_F(DownloadTest, StopSignalWhileTheUserIsAskedEndsTheProcess) {
    std::string cert, key;
    ASSERT_TRUE(test::MakeTestCertificate(m_dir.path(), cert, key));
    LocalHttpServer secure;
    ASSERT_TRUE(secure.Start({"", cert, key})) << secure.Error();
    struct StoppingPrompter : CredentialsPrompter {
        std::optional<CredentialsAnswer> Ask(const std::string &, const std::string &,
                                             QObject *) override {
            ::raise(SIGTERM);
            return CredentialsAnswer{"user", "secret", false};
        }
    };
    const std::pair<const char *, std::string> rows[] = {
        {"certificate question", secure.Url("/gen/5000")},
        {"credentials prompt", s_http->Url("/gen/2000?auth=Files")},
    };
    for (const auto &[what, url] : rows) {
        const int status = test::StatusOfChild([&] {
            platform::ForwardTerminationSignals();
            m_provider.SetPrompter(std::make_shared<StoppingPrompter>());
            DownloadSession session(&m_provider, m_dir.path(), &m_sink, m_messages);
            session.SetCertificateQuestion([](const std::string &, uint32_t) {
                ::raise(SIGTERM);
                return true;
            });
            if (session.Start(url, "q.bin", nullptr, true, {}, false) == 0)
                session.Wait();
            return 3;
        });
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << what << " " << status;
    }
}

TEST_F(DownloadTest, PauseHoldsTheTransferUntilResumed) {
    m_sink.pause = true;
    DownloadSession session(&m_provider, m_dir.path(), &m_sink, m_messages);
    ASSERT_EQ(session.Start(s_http->Url("/gen/300000?chunk=50000&throttle=5"), "p.bin", nullptr,
                            true, {}, false),
              0u);
    // Paused after the first bytes: the worker keeps asking and nothing more
    // arrives.
    ASSERT_TRUE(WaitUntil([&] { return m_sink.pausedChecks >= 20; }));
    const uint64_t held = m_sink.Received();
    EXPECT_LT(held, 300000u);
    EXPECT_TRUE(session.IsRunning());
    m_sink.pause = false;
    EXPECT_EQ(session.Wait(), kOk);
    EXPECT_EQ(ReadFile(Path("p.bin")), PatternBytes(0, 300000));
}

TEST_F(DownloadTest, CredentialsAskedOncePerRealmAndRemembered) {
    m_prompter->answers = {{"user", "secret", true}};
    const std::string url = s_http->Url("/gen/2000?auth=Files");
    EXPECT_EQ(Download(url, "a1.bin"), kOk);
    EXPECT_EQ(Download(url, "a2.bin"), kOk);
    EXPECT_EQ(ReadFile(Path("a2.bin")), PatternBytes(0, 2000));
    EXPECT_EQ(m_prompter->realms, std::vector<std::string>{"Files"});
    EXPECT_EQ(m_prompter->hosts, std::vector<std::string>{"127.0.0.1"});
    // Start, prompt opening, prompt closed, answered; for each download.
    EXPECT_EQ(m_sink.statuses, (std::vector<uint8_t>{1, 5, 4, 2, 1, 5, 4, 2}));
}

TEST_F(DownloadTest, RefusedCredentialsAreBoundedAndSilentNeverPrompts) {
    m_prompter->answers = {{"user", "wrong", false}};
    const std::string url = s_http->Url("/gen/2000?auth=Files");
    EXPECT_EQ(Download(url, "w.bin"), kAuthRequired);
    EXPECT_EQ(m_prompter->realms.size(), 3u);
    EXPECT_EQ(m_sink.errors, std::vector<uint32_t>{kAuthRequired});

    m_prompter->realms.clear();
    m_provider.SetSilent(true);
    EXPECT_EQ(Download(url, "s.bin"), kAuthRequired);
    EXPECT_TRUE(m_prompter->realms.empty());
    // Without a provider nothing is asked either.
    DownloadSession bare(nullptr, m_dir.path(), nullptr, m_messages);
    EXPECT_EQ(Download(url, "n.bin", &bare), kAuthRequired);
}

TEST_F(DownloadTest, ProxyAskingForCredentials) {
    LocalHttpServer proxy;
    ASSERT_TRUE(proxy.Start({"Gate", "", ""})) << proxy.Error();
    m_prompter->answers = {{"proxy", "pass", false}};
    DownloadSession session(&m_provider, m_dir.path(), &m_sink, m_messages);
    session.SetProxy("127.0.0.1:" + std::to_string(proxy.Port()));
    EXPECT_EQ(Download("http://127.0.0.1:9/gen/3000", "x.bin", &session), kOk);
    EXPECT_EQ(ReadFile(Path("x.bin")), PatternBytes(0, 3000));
    EXPECT_EQ(m_prompter->realms, std::vector<std::string>{"Gate"});
    const std::vector<std::string> log = proxy.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[0].find("proxyauth=0"), std::string::npos);
    EXPECT_NE(log[1].find("proxyauth=1"), std::string::npos);
}

TEST_F(DownloadTest, UnreachableServerIsTriedAgainAndCancelEndsTheWait) {
    const std::string url = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/f";
    DownloadSession quick(&m_provider, m_dir.path(), &m_sink, m_messages);
    quick.SetRetryCount(2);
    quick.SetRetryWait(std::chrono::milliseconds(20));
    EXPECT_EQ(Download(url, "u.bin", &quick), kCannotConnect);
    EXPECT_EQ(m_sink.errors, std::vector<uint32_t>{kCannotConnect});

    RecordingSink sink;
    DownloadSession slow(&m_provider, m_dir.path(), &sink, m_messages);
    ASSERT_EQ(slow.Start(url, "u.bin", nullptr, true, {}, false), 0u);
    ASSERT_TRUE(WaitUntil([&] { return sink.cancelChecks >= 3; }));
    sink.cancel = true;
    EXPECT_EQ(slow.Wait(), kCancelled);
    EXPECT_TRUE(sink.errors.empty());
}

// The owner of a download (a page, a dialog) is destroyed on the interface
// thread while the worker waits for that thread: for a prompt, or for a
// sink that asks a window. The destructor must serve it, not wait for itself.
TEST_F(DownloadTest, DestroyedOnTheInterfaceThreadWhileTheWorkerWaitsForIt) {
    int argc = 1;
    char name[] = "downloads";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    class InterfacePrompter : public CredentialsPrompter {
      public:
        std::optional<CredentialsAnswer> Ask(const std::string &, const std::string &,
                                             QObject *) override {
            asked = true;
            return UiDispatcher::Ask(qApp, [] {
                return std::optional<CredentialsAnswer>(CredentialsAnswer{"user", "secret", false});
            });
        }
        std::atomic<bool> asked{false};
    };
    auto prompter = std::make_shared<InterfacePrompter>();
    m_provider.SetPrompter(prompter);
    {
        DownloadSession session(&m_provider, m_dir.path(), &m_sink, m_messages);
        ASSERT_EQ(
            session.Start(s_http->Url("/gen/2000?auth=Files"), "p.bin", nullptr, true, {}, false),
            0u);
        ASSERT_TRUE(WaitUntil([&] { return prompter->asked.load(); }));
    }
    EXPECT_FALSE(Exists(Path("p.bin"))) << "a stopped download never completes";
    EXPECT_TRUE(m_sink.errors.empty());

    // Stopped before a prompt would open: nothing is asked at all.
    prompter->asked = false;
    {
        DownloadSession session(&m_provider, m_dir.path(), &m_sink, m_messages);
        m_sink.cancel = true;
        ASSERT_EQ(
            session.Start(s_http->Url("/gen/2000?auth=Files"), "q.bin", nullptr, true, {}, false),
            0u);
        EXPECT_EQ(session.Wait(), kCancelled);
    }
    EXPECT_FALSE(prompter->asked.load());
}

TEST_F(DownloadTest, RenameOverAFolderFailsAndKeepsThePartFile) {
    WriteFile(Path("taken/inside"), "x");
    EXPECT_EQ(Download(s_http->Url("/gen/1000"), "taken"), static_cast<uint32_t>(EISDIR));
    EXPECT_EQ(m_sink.errors, std::vector<uint32_t>{static_cast<uint32_t>(EISDIR)});
    EXPECT_EQ(ReadFile(Path("taken.part")), PatternBytes(0, 1000));
    EXPECT_TRUE(m_sink.endResults.empty());
}

TEST_F(DownloadTest, SchemesLastModifiedAndOneShotChecks) {
    EXPECT_EQ(Download("news://127.0.0.1/group", "m.bin"), kUnknownScheme);
    EXPECT_EQ(Download("gopher://127.0.0.1/x", "g.bin"), kUnrecognizedScheme);
    EXPECT_EQ(m_sink.errors, (std::vector<uint32_t>{kUnknownScheme, kUnrecognizedScheme}));

    DownloadSession session(&m_provider, m_dir.path(), &m_sink, m_messages);
    ASSERT_EQ(session.Start(s_http->Url("/gen/10"), "lm.bin", nullptr, true, {}, true), 0u);
    EXPECT_EQ(session.Wait(), kOk);
    const DownloadTime time = session.GetLastModified();
    EXPECT_EQ(time.year, 2026);
    EXPECT_EQ(time.month, 12);
    EXPECT_EQ(time.day, 1);
    EXPECT_EQ(time.dayOfWeek, 2);
    EXPECT_EQ(time.hour, 10);
    EXPECT_EQ(time.second, 30);

    const std::string closed = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/";
    EXPECT_TRUE(UrlExists(s_http->Url("/gen/10"), m_messages));
    EXPECT_TRUE(UrlExists(s_http->Url("/gen/10?status=500"), m_messages));
    EXPECT_FALSE(UrlExists(s_http->Url("/gen/10?status=404"), m_messages));
    EXPECT_FALSE(UrlExists(s_http->Url("/gen/10?auth=Files"), m_messages));
    EXPECT_FALSE(UrlExists(closed, m_messages));
    EXPECT_TRUE(IsUrlReachable(s_http->Url("/anything")));
    EXPECT_FALSE(IsUrlReachable(closed));
    EXPECT_FALSE(IsUrlReachable("no url"));
}

TEST_F(DownloadTest, UntrustedCertificateAcceptedRefusedAndSilent) {
    std::string cert, key;
    ASSERT_TRUE(test::MakeTestCertificate(m_dir.path(), cert, key));
    LocalHttpServer secure;
    ASSERT_TRUE(secure.Start({"", cert, key})) << secure.Error();
    const std::string url = secure.Url("/gen/5000");

    std::vector<uint32_t> asked;
    DownloadSession refusing(&m_provider, m_dir.path(), &m_sink, m_messages);
    refusing.SetCertificateQuestion([&](const std::string &, uint32_t code) {
        asked.push_back(code);
        return false;
    });
    EXPECT_EQ(Download(url, "r.bin", &refusing), kCertificateAuthorityInvalid);
    EXPECT_EQ(asked, std::vector<uint32_t>{kCertificateAuthorityInvalid});
    EXPECT_FALSE(Exists(Path("r.bin")));

    DownloadSession accepting(&m_provider, m_dir.path(), &m_sink, m_messages);
    accepting.SetCertificateQuestion([](const std::string &, uint32_t) { return true; });
    EXPECT_EQ(Download(url, "ok.bin", &accepting), kOk);
    EXPECT_EQ(ReadFile(Path("ok.bin")), PatternBytes(0, 5000));

    // The default question is a box through the session's own messages.
    auto boxes = std::make_shared<ScriptedMessageBoxes>();
    boxes->Answer(answer::kYes);
    DownloadSession asking(&m_provider, m_dir.path(), &m_sink, SetupMessages(boxes));
    EXPECT_EQ(Download(url, "asked.bin", &asking), kOk);
    ASSERT_EQ(boxes->Shown().size(), 1u);
    EXPECT_EQ(boxes->Shown()[0].caption, "Security Warning");
    EXPECT_EQ(boxes->Shown()[0].style, mb::kYesNo | mb::kIconWarning);
    EXPECT_NE(boxes->Shown()[0].text.find("127.0.0.1"), std::string::npos);

    // Silent: the default question refuses at once and says why in the log.
    const std::string logPath = Path("setup.log");
    SetupLog &log = TheSetupLog();
    CloseLog(log, false);
    SetLogFilePath(log, logPath);
    LoggingEnabled = true;
    UiVisible = false;
    const uint32_t silent = Download(url, "s.bin");
    UiVisible = true;
    LoggingEnabled = false;
    CloseLog(log, false);
    EXPECT_EQ(silent, kCertificateAuthorityInvalid);
    EXPECT_NE(ReadFile(logPath).find("Server certificate refused in silent mode:The certificate "
                                     "authority is invalid or incorrect."),
              std::string::npos);
}

TEST_F(DownloadTest, HttpsThroughAProxyTunnelAskingForCredentials) {
    std::string cert, key;
    ASSERT_TRUE(test::MakeTestCertificate(m_dir.path(), cert, key));
    LocalHttpServer secure, proxy;
    ASSERT_TRUE(secure.Start({"", cert, key})) << secure.Error();
    ASSERT_TRUE(proxy.Start({"Tunnel", "", ""})) << proxy.Error();
    DownloadSession session(&m_provider, m_dir.path(), &m_sink, m_messages);
    session.SetProxy("127.0.0.1:" + std::to_string(proxy.Port()));
    session.SetCertificateQuestion([](const std::string &, uint32_t) { return true; });

    // Refused at the tunnel: no retries, the credentials code.
    EXPECT_EQ(Download(secure.Url("/gen/4000"), "t.bin", &session), kAuthRequired);
    EXPECT_EQ(m_prompter->realms, std::vector<std::string>{"Tunnel"});

    m_prompter->answers = {{"proxy", "pass", false}};
    EXPECT_EQ(Download(secure.Url("/gen/4000"), "t.bin", &session), kOk);
    EXPECT_EQ(ReadFile(Path("t.bin")), PatternBytes(0, 4000));
    const std::vector<std::string> log = proxy.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_NE(
        log.back().find("CONNECT 127.0.0.1:" + std::to_string(secure.Port()) + " proxyauth=1"),
        std::string::npos);
}

class FtpDownloadTest : public DownloadTest {
  protected:
    void SetUp() override {
        DownloadTest::SetUp();
        WriteFile(m_root.path() + "/f.bin", PatternBytes(0, 70000));
    }
    TempDir m_root{"ftproot"};
};

TEST_F(FtpDownloadTest, WholeResumedRestartedAndBeyondTheEnd) {
    LocalFtpServer ftp, noRest, cut;
    ASSERT_TRUE(ftp.Start(m_root.path(), "", "", false)) << ftp.Error();
    ASSERT_TRUE(noRest.Start(m_root.path(), "", "", true)) << noRest.Error();
    ASSERT_TRUE(cut.Start(m_root.path(), "", "", false, 30000)) << cut.Error();
    struct Row {
        const char *name;
        LocalFtpServer *server;
        std::string file;
        uint64_t partBytes;
        uint32_t code;
        uint64_t firstAdvance;
    };
    const Row rows[] = {
        {"whole", &ftp, "f.bin", 0, kOk, 0},
        {"resumed with REST", &ftp, "f.bin", 1000, kOk, 1000},
        {"REST refused restarts", &noRest, "f.bin", 1000, kOk, 0},
        {"offset at the end starts again", &ftp, "f.bin", 70000, kOk, 0},
        {"part larger than the file starts again", &ftp, "f.bin", 90000, kOk, 0},
        {"missing file", &ftp, "none.bin", 0, kExtendedError, 0},
        {"ends before its size", &cut, "f.bin", 0, kFtpTransferShort, 0},
    };
    int index = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string target = "ftp" + std::to_string(index++) + ".bin";
        if (row.partBytes)
            WriteFile(Path(target + ".part"), PatternBytes(0, row.partBytes));
        RecordingSink sink;
        DownloadSession session(&m_provider, m_dir.path(), &sink, m_messages);
        ASSERT_EQ(session.Start(row.server->Url(row.file), target, nullptr, true, {}, false), 0u);
        EXPECT_EQ(session.Wait(), row.code);
        if (row.code == kOk) {
            EXPECT_EQ(ReadFile(Path(target)), PatternBytes(0, 70000));
            EXPECT_EQ(sink.advances.empty() ? UINT64_MAX : sink.advances.front(), row.firstAdvance);
            EXPECT_EQ(sink.beganSize, 70000u);
        } else {
            EXPECT_EQ(sink.errors, std::vector<uint32_t>{row.code});
        }
    }
}

TEST_F(FtpDownloadTest, LoginAsksForCredentials) {
    LocalFtpServer ftp;
    ASSERT_TRUE(ftp.Start(m_root.path(), "agent", "ftp-pass", false)) << ftp.Error();
    m_prompter->answers = {{"agent", "ftp-pass", false}};
    EXPECT_EQ(Download(ftp.Url("f.bin"), "l.bin"), kOk);
    EXPECT_EQ(ReadFile(Path("l.bin")), PatternBytes(0, 70000));
    EXPECT_EQ(m_prompter->realms, std::vector<std::string>{"FTP Server"});
}

} // namespace
} // namespace krv::setup
