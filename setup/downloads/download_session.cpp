#include "download_session.h"
#include "download_transfer.h"

#include "credentials.h"
#include "file_open.h"
#include "files.h"
#include "log.h"
#include "messages.h"
#include "paths.h"
#include "system.h"
#include "ui_dispatcher.h"

#include <setup_process.h>

#include <QObject>
#include <QVariant>

#include <cerrno>

#include <unistd.h>

namespace krv::setup {

namespace {

using namespace download_code;

// Rounds of credentials for one request: stored ones once, then prompts.
constexpr int kMaxCredentialRounds = 3;
// Continuing a broken HTTP transfer gives up after this many requests in a
// row that brought no byte.
constexpr int kMaxStalledResumes = 3;
constexpr std::chrono::milliseconds kPollStep{10};
constexpr std::chrono::milliseconds kRetryRound{100};
constexpr const char *kFtpRealm = "FTP Server";

// The bytes of a ".part" file to continue: only a file nobody else can have
// placed or written (OpenOwnFile); any other is replaced from the start.
uint64_t ResumableSize(const std::string &path) {
    const OwnFile part = OpenOwnFile(path);
    return part ? part.size : 0;
}

} // namespace

bool AskAcceptCertificate(const SetupMessages &messages, const std::string &url, uint32_t code) {
    const std::string problem = GetInternetErrorText(code);
    if (!UiVisible) {
        std::string line = "Server certificate refused in silent mode:";
        AppendLogText(line, problem);
        AppendLogText(line, " ");
        AppendLogText(line, url);
        LogLine(line);
        return false;
    }
    const std::string text = "There is a problem with the security certificate of " +
                             HostOfUrl(url) + ":\r\n" + problem + "\r\nDo you want to continue?";
    return messages.MessageBoxForeground(nullptr, text, std::string("Security Warning"),
                                         mb::kYesNo | mb::kIconWarning) == answer::kYes;
}

DownloadSession::DownloadSession(CredentialProvider *provider, std::string saveFolder,
                                 ProgressSink *sink, SetupMessages messages)
    : m_provider(provider), m_saveFolder(std::move(saveFolder)), m_sink(sink),
      m_messages(std::move(messages)) {}

DownloadSession::~DownloadSession() {
    m_stop = true;
    JoinWorker();
}

void DownloadSession::JoinWorker() {
    if (!m_worker.joinable())
        return;
    // The worker may be waiting for the interface thread (a prompt, a sink
    // that asks a window); on that thread its events are served until the
    // worker ends, so the join never waits for itself.
    UiDispatcher::WaitProcessingEvents([this] { return !m_running.load(); });
    m_worker.join();
}

void DownloadSession::SetProxy(const std::string &proxy) {
    m_proxy = proxy;
}

void DownloadSession::SetRetryCount(int count) {
    if (count >= 0)
        m_retryCount = count;
}

void DownloadSession::SetRetryWait(std::chrono::milliseconds wait) {
    m_retryWait = wait;
}

void DownloadSession::SetCertificateQuestion(CertificateQuestion question) {
    m_certificateQuestion = std::move(question);
}

uint32_t DownloadSession::Start(const std::string &url, const std::string &target, QObject *owner,
                                bool resumeAllowed, const std::string &extraHeaders,
                                bool queryLastModified) {
    JoinWorker();
    m_url = url;
    m_target = target;
    m_owner = owner;
    m_resumeAllowed = resumeAllowed;
    m_extraHeaders = extraHeaders;
    m_queryLastModified = queryLastModified;
    m_lastError = 0;
    m_result = 0;
    m_running = true;
    try {
        m_worker = std::thread([this] {
            m_result = Worker();
            m_lastError = m_result;
            m_running = false;
            UiDispatcher::Wake();
        });
    } catch (const std::system_error &error) {
        m_running = false;
        m_lastError = static_cast<uint32_t>(error.code().value());
        return m_lastError;
    }
    return 0;
}

uint32_t DownloadSession::Wait() {
    if (!m_worker.joinable())
        return m_lastError;
    JoinWorker();
    return m_result;
}

bool DownloadSession::IsRunning() const {
    return m_running;
}

DownloadTime DownloadSession::GetLastModified() const {
    std::lock_guard guard(m_timeLock);
    return m_lastModified;
}

uint32_t DownloadSession::GetErrorCode() const {
    return m_lastError;
}

bool DownloadSession::IsCancelled() const {
    // A stop signal to the setup cancels as the user's Cancel does.
    if (m_stop || platform::TerminationSignal())
        return true;
    return m_sink && m_sink->IsCancelled();
}

void DownloadSession::WaitWhilePaused() {
    while (m_sink && m_sink->IsPaused()) {
        if (IsCancelled())
            return;
        std::this_thread::sleep_for(kPollStep);
    }
}

void DownloadSession::SetStatus(uint8_t code) {
    if (m_statusSuppressed || !m_sink)
        return;
    ProgressStatus status;
    status.downloadStatus = code;
    m_sink->SetStatus(status);
}

void DownloadSession::Report(uint32_t code) {
    if (m_sink && IsReported(code))
        m_sink->OnError(std::string_view(), code);
}

bool DownloadSession::WaitForOwnerWindow(uint8_t status) {
    // The owner is a window; its "visible" property says whether it shows.
    const auto visible = [this] { return m_owner->property("visible").toBool(); };
    if (!m_owner || visible())
        return true;
    SetStatus(status);
    while (!visible()) {
        if (IsCancelled())
            return false;
        std::this_thread::sleep_for(kPollStep);
    }
    return true;
}

bool DownloadSession::WaitBeforeRetry() {
    auto left = m_retryWait;
    do {
        WaitWhilePaused();
        if (IsCancelled())
            return false;
        const auto step = std::min(left, kRetryRound);
        std::this_thread::sleep_for(step);
        left -= step;
    } while (left.count() > 0);
    return !IsCancelled();
}

uint32_t DownloadSession::Worker() {
    platform::StoppableWork stoppable;
    {
        std::lock_guard guard(m_timeLock);
        m_lastModified = DownloadTime{};
    }
    Transfer transfer;
    transfer.curl = platform::MakeCurlEasy();
    if (!transfer.curl) {
        Report(kInternalError);
        return kInternalError;
    }
    UrlParts parts;
    if (!CrackUrl(m_url, parts)) {
        Report(kInvalidUrl);
        return kInvalidUrl;
    }
    transfer.scheme = parts.scheme;
    if (parts.scheme == UrlScheme::kUnknown || parts.scheme == UrlScheme::kGopher) {
        const uint32_t code =
            parts.scheme == UrlScheme::kGopher ? kUnrecognizedScheme : kUnknownScheme;
        Report(code);
        return code;
    }
    transfer.localPath = LocalFileNameFromUrl(m_url, m_target, m_saveFolder);
    if (transfer.localPath.empty()) {
        Report(kNoLocalPath);
        return kNoLocalPath;
    }
    transfer.partPath = transfer.localPath + ".part";
    SetStatus(download_status::kStarting);
    const uint64_t offset = m_resumeAllowed ? ResumableSize(transfer.partPath) : 0;
    const uint32_t code = RunTransfer(transfer, offset);
    // A window that waits for the download's end hears of a stop too (a
    // user's Cancel it asked for itself).
    if (code == kCancelled && platform::TerminationSignal() && m_sink)
        m_sink->OnError(std::string_view(), kCancelled);
    return code;
}

uint32_t DownloadSession::RunTransfer(Transfer &transfer, uint64_t offset) {
    uint32_t code = RequestWithRetry(transfer, offset);
    int stalled = 0;
    while (true) {
        if (!transfer.decided) {
            // The request failed (or was refused) before any byte was kept.
            // A stop signal is no success: nothing was fetched. What this
            // transfer wrote before it was cut goes with the stop.
            if (IsCancelled() && (!transfer.itemBegun || platform::TerminationSignal())) {
                if (transfer.itemBegun && !m_keepPartOnStop)
                    ::unlink(ToNativePath(transfer.partPath).c_str());
                return kCancelled;
            }
            if (IsCancelled())
                return kOk;
            Report(code);
            return code;
        }
        if (transfer.cancelledInLoop) {
            // The ".part" file stays for a later resume, unless the setup
            // was stopped: then nothing this run fetched is left behind
            // (but in a folder kept for resumes), and the caller must not
            // take the missing file for a download.
            if (platform::TerminationSignal()) {
                if (!m_keepPartOnStop)
                    ::unlink(ToNativePath(transfer.partPath).c_str());
                return kCancelled;
            }
            return kOk;
        }
        if (transfer.fileError != 0) {
            const uint32_t error = static_cast<uint32_t>(transfer.fileError);
            Report(error);
            return error;
        }
        if (code == kOk) {
            // Complete only when the file holds exactly what the server said
            // it has: the total when known, else the end of the range sent.
            const uint64_t expected = transfer.total != 0 ? transfer.total : transfer.answerEnd;
            if (expected == 0 || transfer.written == expected)
                return Complete(transfer);
            if (transfer.written > expected)
                transfer.overran = true;
            else if (!transfer.Http()) {
                Report(kFtpTransferShort);
                return kFtpTransferShort;
            } else {
                code = kConnectionAborted;
            }
        }
        if (transfer.overran) {
            Report(kInvalidServerResponse);
            return kInvalidServerResponse;
        }
        if (!transfer.Http() || !IsResumableHttpError(code)) {
            Report(code);
            return code;
        }
        // Continue the broken transfer with a new request from the bytes kept.
        const uint64_t before = transfer.written;
        m_statusSuppressed = true;
        transfer.decided = false;
        transfer.resuming = true;
        code = RequestWithRetry(transfer, m_resumeAllowed ? transfer.written : 0);
        m_statusSuppressed = false;
        stalled = transfer.written == before ? stalled + 1 : 0;
        if (stalled >= kMaxStalledResumes && transfer.decided && code != kOk) {
            Report(code);
            return code;
        }
    }
}

uint32_t DownloadSession::RequestWithRetry(Transfer &transfer, uint64_t offset) {
    if (m_provider)
        m_provider->Reset();
    for (int tries = 0;; ++tries) {
        const uint32_t code = SendRequest(transfer, offset);
        if (!IsRetryableConnectError(code) || tries >= m_retryCount)
            return code;
        if (!WaitBeforeRetry())
            return kCancelled;
    }
}

uint32_t DownloadSession::SendRequest(Transfer &transfer, uint64_t offset) {
    while (true) {
        if (m_provider)
            m_provider->Reset();
        Response response;
        const uint32_t code = PerformOnce(transfer, offset, response);
        if (transfer.decided || IsCancelled())
            return code;
        if (IsCertificateError(code) && transfer.verifyPeer) {
            if (!ConfirmCertificate(code))
                return code;
            // Sent again without the range and the extra headers; the answer
            // is taken for the request actually sent.
            transfer.verifyPeer = false;
            transfer.sendHeaders = false;
            continue;
        }
        const bool ftpLogin = !transfer.Http() && code == kLoginFailure;
        // A proxy that refuses a tunnel (CONNECT) ends the transfer with a
        // connection error; its 407 answer tells what it wants.
        const bool forProxy = transfer.Http() && response.status == 407;
        if (code == kAuthRequired || ftpLogin || forProxy) {
            const uint32_t refused = ftpLogin ? code : kAuthRequired;
            if (++transfer.credentialRounds > kMaxCredentialRounds)
                return refused;
            if (!WaitForOwnerWindow(download_status::kOwnerHiddenForCredentials))
                return kCancelled;
            SetStatus(download_status::kPromptOpening);
            std::string realm = kFtpRealm;
            if (transfer.Http())
                realm = ParseAuthRealm(forProxy ? response.proxyAuthenticate
                                                : response.wwwAuthenticate);
            const bool obtained = ObtainCredentials(transfer, realm, forProxy);
            SetStatus(download_status::kPromptClosed);
            if (!obtained)
                return refused;
            continue;
        }
        if (!transfer.Http() && transfer.curlCode == CURLE_FTP_COULDNT_USE_REST && offset > 0) {
            offset = 0; // the server cannot restart: the file starts again
            continue;
        }
        if (code == kResumeBeyondEnd && offset > 0 && !transfer.itemBegun) {
            // The ".part" file cannot be continued (it is as long as the
            // file or longer, or the server answers the range without
            // saying which bytes it sends): it is dropped and the file
            // fetched once from its start.
            ::unlink(ToNativePath(transfer.partPath).c_str());
            offset = 0;
            continue;
        }
        return code;
    }
}

uint32_t DownloadSession::Complete(Transfer &transfer) {
    const int fd = transfer.fd;
    transfer.fd = -1;
    if (fd >= 0 && ::close(fd) != 0) {
        const uint32_t error = static_cast<uint32_t>(errno);
        Report(error);
        return error;
    }
    // rename(2) replaces an older file at the local path in one step, so the
    // path never lacks a file; its result is checked.
    if (::rename(ToNativePath(transfer.partPath).c_str(),
                 ToNativePath(transfer.localPath).c_str()) != 0) {
        const uint32_t error = static_cast<uint32_t>(errno);
        Report(error);
        return error;
    }
    if (m_sink)
        m_sink->EndItem(1);
    return kOk;
}

bool DownloadSession::ObtainCredentials(Transfer &transfer, const std::string &realm,
                                        bool forProxy) {
    // A stopped download asks the user nothing more; a stop while the user
    // is asked ends the setup at once.
    platform::UserWait asking;
    if (!m_provider || IsCancelled())
        return false;
    std::string user;
    std::string password;
    // Stored credentials are offered once; when the server refuses them the
    // user is asked.
    bool &storedOffered = transfer.storedOffered[forProxy ? 1 : 0];
    if (storedOffered || !m_provider->GetStoredCredentials(user, password)) {
        if (!m_provider->PromptCredentials(m_url, realm, m_owner, user, password))
            return false;
    }
    storedOffered = true;
    if (forProxy) {
        transfer.proxyUser = user;
        transfer.proxyPassword = password;
        transfer.haveProxyUser = true;
    } else {
        transfer.user = user;
        transfer.password = password;
        transfer.haveUser = true;
    }
    m_provider->CredentialsApplied();
    return true;
}

bool DownloadSession::ConfirmCertificate(uint32_t code) {
    platform::UserWait asking;
    if (IsCancelled() || !WaitForOwnerWindow(download_status::kOwnerHiddenForCertificate))
        return false;
    SetStatus(download_status::kPromptOpening);
    const bool accepted = m_certificateQuestion ? m_certificateQuestion(m_url, code)
                                                : AskAcceptCertificate(m_messages, m_url, code);
    SetStatus(download_status::kPromptClosed);
    return accepted;
}

uint32_t DownloadSession::RunHeadRequest(const std::string &url) {
    m_url = url;
    Transfer transfer;
    transfer.verb = Verb::kHead;
    transfer.curl = platform::MakeCurlEasy();
    if (!transfer.curl)
        return kInternalError;
    UrlParts parts;
    if (!CrackUrl(url, parts))
        return kInvalidUrl;
    transfer.scheme = parts.scheme;
    if (parts.scheme == UrlScheme::kUnknown)
        return kUnknownScheme;
    if (parts.scheme == UrlScheme::kGopher)
        return kUnrecognizedScheme;
    return SendRequest(transfer, 0);
}

bool UrlExists(const std::string &url, const SetupMessages &messages) {
    DownloadSession session(nullptr, std::string(), nullptr, messages);
    return session.RunHeadRequest(url) == kOk;
}

bool IsUrlReachable(const std::string &url) {
    UrlParts parts;
    if (!CrackUrl(url, parts) || parts.host.empty() || parts.port == 0)
        return false;
    platform::CurlEasy curl = platform::MakeCurlEasy();
    if (!curl)
        return false;
    // Only the connection is tried: a plain address of host and port keeps
    // libcurl from starting TLS or sending a request.
    const std::string address = "http://" + parts.host + ":" + std::to_string(parts.port) + "/";
    constexpr long kConnectTimeoutSeconds = 15;
    curl_easy_setopt(curl.get(), CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    return curl_easy_perform(curl.get()) == CURLE_OK;
}

} // namespace krv::setup
