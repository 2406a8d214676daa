// The download engine: one file at a time over HTTP, HTTPS or FTP into a
// local path, on a worker thread of its own, through libcurl.
//
// What a download does: the file grows as "<local path>.part" and is renamed
// over the local path once complete (atomically, the rename checked). With
// resume allowed an existing ".part" file is continued with an exact range
// request (HTTP "Range: bytes=<size>-", FTP REST); a server that answers with
// the whole file restarts it at 0. A ".part" file the server cannot continue
// (416, as long as the file or longer, a 206 without Content-Range) is
// dropped and the file fetched once from 0. A 206 continues the file only
// when its Content-Range starts at the offset and matches the body's length;
// its total is the file's size. Only 2xx answers carry the file. A download
// succeeds only when the file holds exactly the size the server gave. A
// connection the server breaks, or a range shorter than the rest of the file,
// is continued from where it stopped. Servers that cannot be reached are tried
// again after a wait. Servers and proxies that ask for credentials get them
// from the CredentialProvider (stored, else prompted); certificates the
// system does not trust are put to the user (refused without asking in a
// silent run). Progress, errors, pause and cancel go through the
// ProgressSink; every sink call is made on the worker thread.
//
// Sizes and offsets are 64-bit throughout.
#pragma once

#include "download_codes.h"
#include "download_names.h"
#include "messages.h"
#include "progress_sinks.h"

#include <setup_curl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class QObject;

namespace krv::setup {

class CredentialProvider;

// A time as the Last-Modified header gives it (UTC), all zero when absent.
struct DownloadTime {
    uint16_t year = 0;
    uint16_t month = 0;
    uint16_t dayOfWeek = 0; // 0 Sunday
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;
};

// The status codes passed to ProgressSink::SetStatus.
namespace download_status {
inline constexpr uint8_t kStarting = 1;      // the worker starts the request
inline constexpr uint8_t kRequestDone = 2;   // the server answered
inline constexpr uint8_t kPromptClosed = 4;  // a certificate or credentials prompt closed
inline constexpr uint8_t kPromptOpening = 5; // a prompt is about to open
inline constexpr uint8_t kOwnerHiddenForCertificate = 6;
inline constexpr uint8_t kOwnerHiddenForCredentials = 7;
} // namespace download_status

// Asks whether to go on with a server whose certificate is not trusted; the
// code tells the problem (download_code::kCertificate...). True: go on.
using CertificateQuestion = std::function<bool(const std::string &url, uint32_t code)>;
// The question the engine asks by default: a yes/no box through the
// messages, refused at once with a log line in a silent run (UiVisible
// cleared).
bool AskAcceptCertificate(const SetupMessages &messages, const std::string &url, uint32_t code);

class DownloadSession {
  public:
    static constexpr int kDefaultRetryCount = 6;
    // One buffer of this size per download; reads never ask for more.
    static constexpr long kBufferSize = 51200;

    // The provider and sink are not owned and may be null. The save folder
    // takes relative targets. The certificate question is asked through the
    // messages.
    DownloadSession(CredentialProvider *provider, std::string saveFolder, ProgressSink *sink,
                    SetupMessages messages);
    // Stops a running download (every cancellation check answers yes from
    // now on) and waits for its worker, which then ends within about a
    // second (libcurl's progress calls check the stop at least that often);
    // a prompt already open waits for its answer first. On the interface
    // thread the wait keeps serving its events; a window that owns a session
    // should therefore cancel and Wait before its own destruction begins.
    ~DownloadSession();
    DownloadSession(const DownloadSession &) = delete;
    DownloadSession &operator=(const DownloadSession &) = delete;

    // Proxy text ("host:port", or a URL); empty uses the system's setting
    // (the http_proxy family of environment variables).
    void SetProxy(const std::string &proxy);
    // Tries after the first for servers that cannot be reached; negative
    // values are ignored.
    void SetRetryCount(int count);

    // Starts the worker on the URL. An empty target takes its name from the
    // URL; a relative one goes into the save folder. `extraHeaders`: request
    // header lines separated by CR LF (empty for none). Returns 0, or the
    // error of starting the thread (also kept for GetErrorCode). Must not be
    // called while a worker runs.
    uint32_t Start(const std::string &url, const std::string &target, QObject *owner,
                   bool resumeAllowed, const std::string &extraHeaders, bool queryLastModified);
    // Waits for the worker and returns its result (0 or a download code;
    // kCancelled after a stop signal, whatever was fetched); the
    // thread-start error when Start could not start it.
    uint32_t Wait();
    bool IsRunning() const;
    DownloadTime GetLastModified() const;
    // The last error recorded: the thread-start error, else the worker's
    // result of the last download (0 after success).
    uint32_t GetErrorCode() const;

    // The wait between tries for a server that cannot be reached (100 rounds
    // of 100 ms); tests shorten it.
    void SetRetryWait(std::chrono::milliseconds wait);
    // The certificate question; empty restores AskAcceptCertificate.
    void SetCertificateQuestion(CertificateQuestion question);
    // A transfer cut by a stop signal keeps its ".part" file for the next
    // run, as a cancelled one does (a folder that outlives the run); by
    // default a stop removes it.
    void SetKeepPartOnStop(bool keep) { m_keepPartOnStop = keep; }

    // The request step alone, HEAD and nothing stored (UrlExists).
    uint32_t RunHeadRequest(const std::string &url);

  private:
    enum class Verb { kGet, kHead };
    struct Response; // what the server answered to one request
    struct Transfer; // the state of one download in the worker

    uint32_t Worker();
    void JoinWorker();
    uint32_t RunTransfer(Transfer &transfer, uint64_t offset);
    uint32_t RequestWithRetry(Transfer &transfer, uint64_t offset);
    uint32_t SendRequest(Transfer &transfer, uint64_t offset);
    uint32_t PerformOnce(Transfer &transfer, uint64_t offset, Response &response);
    uint32_t AcceptResponse(Transfer &transfer, Response &response);
    uint32_t OpenPartFile(Transfer &transfer);
    uint32_t Complete(Transfer &transfer);
    bool ObtainCredentials(Transfer &transfer, const std::string &realm, bool forProxy);
    bool ConfirmCertificate(uint32_t code);
    bool WaitForOwnerWindow(uint8_t status);
    bool WaitBeforeRetry();
    void WaitWhilePaused();
    bool IsCancelled() const;
    void SetStatus(uint8_t code);
    void Report(uint32_t code);

    static size_t HeaderCallback(char *data, size_t size, size_t count, void *context);
    static size_t WriteCallback(char *data, size_t size, size_t count, void *context);
    static int ProgressCallback(void *context, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

    CredentialProvider *m_provider;
    std::string m_saveFolder;
    ProgressSink *m_sink;
    SetupMessages m_messages;

    // Settings (caller's thread, read by the worker after Start).
    std::string m_proxy;
    int m_retryCount = kDefaultRetryCount;
    std::chrono::milliseconds m_retryWait{10000};
    CertificateQuestion m_certificateQuestion;

    // Arguments of the current download.
    std::string m_url;
    std::string m_target;
    QObject *m_owner = nullptr;
    bool m_resumeAllowed = true;
    std::string m_extraHeaders;
    bool m_queryLastModified = false;

    std::thread m_worker;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stop{false};
    bool m_statusSuppressed = false; // worker only
    bool m_keepPartOnStop = false;
    Transfer *m_current = nullptr; // worker only: the download in the callbacks
    uint32_t m_result = 0;         // worker's result, read after join
    std::atomic<uint32_t> m_lastError{0};
    mutable std::mutex m_timeLock;
    DownloadTime m_lastModified;
};

// True when a HEAD request on the URL ends with result 0 (any status without
// a code of its own counts as existing, 500 included). A certificate
// question goes through the messages.
bool UrlExists(const std::string &url, const SetupMessages &messages);
// True when a connection to the URL's host and port can be made (no request
// is sent, no proxy is used).
bool IsUrlReachable(const std::string &url);

} // namespace krv::setup
