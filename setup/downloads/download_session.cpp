#include "download_session.h"

#include "credentials.h"
#include "file_open.h"
#include "files.h"
#include "log.h"
#include "messages.h"
#include "paths.h"
#include "system.h"
#include "ui_dispatcher.h"

#include <QObject>
#include <QVariant>

#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace krv::setup {

namespace {

using namespace download_code;

constexpr const char *kUserAgent = "Parvex";
constexpr const char *kProtocols = "http,https,ftp";
constexpr long kMaxRedirects = 10;
// A transfer that brings less than a byte a second for this long counts as
// broken (and an HTTP one is continued with a new request).
constexpr long kStallSeconds = 60;
// Rounds of credentials for one request: stored ones once, then prompts.
constexpr int kMaxCredentialRounds = 3;
// Continuing a broken HTTP transfer gives up after this many requests in a
// row that brought no byte.
constexpr int kMaxStalledResumes = 3;
constexpr std::chrono::milliseconds kPollStep{10};
constexpr std::chrono::milliseconds kRetryRound{100};
constexpr const char *kFtpRealm = "FTP Server";

uint64_t FileSize64(const std::string &path) {
    struct stat info {};
    if (::stat(ToNativePath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    return static_cast<uint64_t>(info.st_size);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

DownloadTime ToDownloadTime(curl_off_t seconds) {
    DownloadTime out;
    if (seconds < 0)
        return out;
    const std::time_t value = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (!gmtime_r(&value, &parts))
        return out;
    out.year = static_cast<uint16_t>(parts.tm_year + 1900);
    out.month = static_cast<uint16_t>(parts.tm_mon + 1);
    out.dayOfWeek = static_cast<uint16_t>(parts.tm_wday);
    out.day = static_cast<uint16_t>(parts.tm_mday);
    out.hour = static_cast<uint16_t>(parts.tm_hour);
    out.minute = static_cast<uint16_t>(parts.tm_min);
    out.second = static_cast<uint16_t>(parts.tm_sec);
    return out;
}

} // namespace

struct DownloadSession::Response {
    long status = 0; // the last HTTP status line
    bool headersDone = false;
    std::optional<uint64_t> contentLength;
    bool contentRangeSeen = false;
    std::optional<ContentRange> contentRange; // nothing when absent or malformed
    std::string wwwAuthenticate;
    std::string proxyAuthenticate;
    std::optional<uint64_t> ftpSize; // the SIZE reply
    std::string serverResponse;      // the last FTP reply line
};

struct DownloadSession::Transfer {
    Verb verb = Verb::kGet;
    UrlScheme scheme = UrlScheme::kUnknown;
    platform::CurlEasy curl;
    char errorText[CURL_ERROR_SIZE] = {};
    std::string localPath;
    std::string partPath;

    // Request state.
    bool sendHeaders = true; // cleared once a certificate was accepted
    bool verifyPeer = true;
    std::string user, password;           // for the server
    std::string proxyUser, proxyPassword; // for the proxy
    bool haveUser = false, haveProxyUser = false;
    bool storedOffered[2] = {false, false}; // server, proxy
    int credentialRounds = 0;
    uint64_t sentOffset = 0; // the range start actually asked for
    Response *response = nullptr;
    uint32_t requestCode = 0; // set when the answer itself is a failure
    CURLcode curlCode = CURLE_OK;

    // What the accepted answer gives.
    bool decided = false;
    bool resuming = false;
    uint64_t offset = 0;
    uint64_t total = 0;     // 0 = unknown
    uint64_t answerEnd = 0; // where the body of a 206 answer ends; 0 = not a 206
    bool overran = false;   // a 206 body went on past its range

    // The ".part" file.
    int fd = -1;
    bool itemBegun = false;
    uint64_t written = 0; // bytes in the file
    bool cancelledInLoop = false;
    int fileError = 0; // errno of a failed open or write

    bool Http() const { return scheme == UrlScheme::kHttp || scheme == UrlScheme::kHttps; }

    ~Transfer() {
        if (fd >= 0)
            ::close(fd);
    }
};

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
    if (m_stop)
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
    const uint64_t offset = m_resumeAllowed ? FileSize64(transfer.partPath) : 0;
    return RunTransfer(transfer, offset);
}

uint32_t DownloadSession::RunTransfer(Transfer &transfer, uint64_t offset) {
    uint32_t code = RequestWithRetry(transfer, offset);
    int stalled = 0;
    while (true) {
        if (!transfer.decided) {
            // The request failed (or was refused) before any byte was kept.
            if (IsCancelled() && transfer.itemBegun == false)
                return kCancelled;
            if (IsCancelled())
                return kOk;
            Report(code);
            return code;
        }
        if (transfer.cancelledInLoop)
            return kOk; // the ".part" file stays for a later resume
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

uint32_t DownloadSession::PerformOnce(Transfer &transfer, uint64_t offset, Response &response) {
    CURL *curl = transfer.curl.get();
    curl_easy_reset(curl);
    transfer.response = &response;
    transfer.requestCode = 0;
    transfer.errorText[0] = '\0';
    transfer.sentOffset = transfer.sendHeaders ? offset : 0;

    curl_easy_setopt(curl, CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, kProtocols);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, kProtocols);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kBufferSize);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, transfer.errorText);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &DownloadSession::HeaderCallback);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &DownloadSession::WriteCallback);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &DownloadSession::ProgressCallback);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    m_current = &transfer;
    if (!m_proxy.empty())
        curl_easy_setopt(curl, CURLOPT_PROXY, m_proxy.c_str());
    if (!transfer.verifyPeer) {
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    if (transfer.verb == Verb::kHead)
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    if (m_queryLastModified && transfer.Http())
        curl_easy_setopt(curl, CURLOPT_FILETIME, 1L);
    if (transfer.haveUser) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, transfer.user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, transfer.password.c_str());
    }
    if (transfer.haveProxyUser) {
        curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, transfer.proxyUser.c_str());
        curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, transfer.proxyPassword.c_str());
    }
    const std::string range = std::to_string(transfer.sentOffset) + "-";
    if (transfer.sentOffset > 0) {
        if (transfer.Http())
            curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
        else
            curl_easy_setopt(curl, CURLOPT_RESUME_FROM_LARGE,
                             static_cast<curl_off_t>(transfer.sentOffset));
    }
    platform::CurlHeaderList headers;
    if (transfer.sendHeaders && transfer.Http()) {
        std::string_view rest(m_extraHeaders);
        while (!rest.empty()) {
            const std::size_t end = rest.find("\r\n");
            const std::string_view line = rest.substr(0, end);
            if (!line.empty() && !headers.Append(std::string(line)))
                return kNotEnoughMemory;
            if (end == std::string_view::npos)
                break;
            rest.remove_prefix(end + 2);
        }
        if (headers.get())
            curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    }

    transfer.curlCode = curl_easy_perform(curl);
    if (transfer.requestCode != 0)
        return transfer.requestCode;
    uint32_t code = FromCurl(transfer.curlCode, transfer.errorText, !transfer.Http());
    if (!transfer.decided && !transfer.cancelledInLoop) {
        // No body byte came: the answer is judged now. A transfer broken
        // right after the headers still counts as answered.
        const bool answered =
            code == kOk || (transfer.Http() && response.headersDone && IsResumableHttpError(code));
        if (answered) {
            const uint32_t verdict = AcceptResponse(transfer, response);
            if (verdict != kOk)
                return verdict;
        }
    }
    if (transfer.fileError != 0)
        return static_cast<uint32_t>(transfer.fileError);
    return code;
}

uint32_t DownloadSession::AcceptResponse(Transfer &transfer, Response &response) {
    uint64_t offset = transfer.sentOffset;
    uint64_t total = 0;
    uint64_t answerEnd = 0;
    if (transfer.Http()) {
        const long status = response.status;
        const uint64_t length = response.contentLength.value_or(0);
        if (m_queryLastModified && status != 304 && !transfer.resuming) {
            curl_off_t filetime = -1;
            curl_easy_getinfo(transfer.curl.get(), CURLINFO_FILETIME_T, &filetime);
            std::lock_guard guard(m_timeLock);
            m_lastModified = ToDownloadTime(filetime);
        }
        switch (status) {
        case 200:
            // The whole file, whatever range was asked for (a ".part" file
            // as long as the file or longer included): it is written anew.
            offset = 0;
            total = length;
            break;
        case 206: {
            // Only a range that names where its bytes start, how many come
            // and (when known) the file's size can continue the file.
            if (!response.contentRangeSeen)
                return offset > 0 ? kResumeBeyondEnd : kInvalidServerResponse;
            const std::optional<ContentRange> &range = response.contentRange;
            if (!range || range->first != offset)
                return kInvalidServerResponse;
            const uint64_t span = range->last - range->first + 1;
            if (response.contentLength && *response.contentLength != span)
                return kInvalidServerResponse;
            total = range->total.value_or(0);
            answerEnd = range->last + 1;
            break;
        }
        case 304:
            return kNotModified;
        case 416:
            // The range asked for starts at or past the end of the file.
            if (offset > 0)
                return kResumeBeyondEnd;
            return transfer.verb == Verb::kGet ? kServerErrorStatus : kOk;
        case 401:
        case 407:
            return kAuthRequired;
        case 403:
            return kForbidden;
        case 404:
        case 410:
            return kNotFound;
        default:
            // Only a success carries the file: an interim answer or a
            // redirect the transfer did not follow is no more the file than
            // an error page is.
            if ((status < 200 || status >= 300) && transfer.verb == Verb::kGet)
                return kServerErrorStatus;
            offset = 0;
            total = length;
            break;
        }
    } else {
        if (response.ftpSize)
            total = *response.ftpSize;
        if (total > 0 && offset >= total && offset > 0)
            return kResumeBeyondEnd;
    }
    if (transfer.resuming && transfer.written > 0 && offset != transfer.written)
        return kTimeout; // the server sent the whole file again: give up
    transfer.decided = true;
    transfer.offset = offset;
    transfer.total = total;
    transfer.answerEnd = answerEnd;
    SetStatus(download_status::kRequestDone);
    if (transfer.verb == Verb::kHead)
        return kOk;
    if (!transfer.itemBegun) {
        transfer.itemBegun = true;
        if (m_sink)
            m_sink->BeginItem(total, transfer.localPath);
        if (IsCancelled()) {
            transfer.cancelledInLoop = true;
            return kOk;
        }
        return OpenPartFile(transfer);
    }
    if (offset == 0 && transfer.written > 0) {
        // Only reachable without resume: the file is written anew.
        if (::ftruncate(transfer.fd, 0) != 0 || ::lseek(transfer.fd, 0, SEEK_SET) < 0)
            transfer.fileError = errno;
        transfer.written = 0;
    }
    return kOk;
}

uint32_t DownloadSession::OpenPartFile(Transfer &transfer) {
    const std::string native = ToNativePath(transfer.partPath);
    const int folderError = CreateFolderTree(native, false);
    if (folderError != 0) {
        transfer.fileError = folderError;
        return kOk;
    }
    // A link planted under the name (the folder may be the shared temporary
    // one) is not followed.
    int flags = O_WRONLY | O_CLOEXEC | O_NOFOLLOW;
    if (transfer.offset == 0)
        flags |= O_CREAT | O_TRUNC;
    transfer.fd = ::open(native.c_str(), flags, 0644);
    if (transfer.fd < 0) {
        transfer.fileError = errno;
        return kOk;
    }
    if (transfer.offset > 0) {
        // The new bytes continue the file exactly at the offset asked for.
        if (::ftruncate(transfer.fd, static_cast<off_t>(transfer.offset)) != 0 ||
            ::lseek(transfer.fd, static_cast<off_t>(transfer.offset), SEEK_SET) < 0) {
            transfer.fileError = errno;
            return kOk;
        }
    }
    transfer.written = transfer.offset;
    if (m_sink)
        m_sink->Advance(transfer.offset);
    return kOk;
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
    // A stopped download asks the user nothing more.
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
    if (IsCancelled() || !WaitForOwnerWindow(download_status::kOwnerHiddenForCertificate))
        return false;
    SetStatus(download_status::kPromptOpening);
    const bool accepted = m_certificateQuestion ? m_certificateQuestion(m_url, code)
                                                : AskAcceptCertificate(m_messages, m_url, code);
    SetStatus(download_status::kPromptClosed);
    return accepted;
}

size_t DownloadSession::HeaderCallback(char *data, size_t size, size_t count, void *context) {
    auto *transfer = static_cast<Transfer *>(context);
    const size_t bytes = size * count;
    Response *response = transfer->response;
    if (!response)
        return bytes;
    std::string_view line(data, bytes);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (!transfer->Http()) {
        response->serverResponse.assign(line);
        if (line.size() > 4 && line.substr(0, 4) == "213 ")
            response->ftpSize = ParseDecimal64(line.substr(4));
        return bytes;
    }
    if (StartsWithNoCase(line, "HTTP/")) {
        // A new answer (after a redirect or an interim one): forget the last.
        *response = Response{};
        const std::size_t blank = line.find(' ');
        if (blank != std::string_view::npos) {
            std::optional<uint64_t> status = ParseDecimal64(line.substr(blank + 1, 3));
            response->status = status && *status < 1000 ? static_cast<long>(*status) : 0;
        }
        return bytes;
    }
    if (line.empty()) {
        response->headersDone = response->status >= 200;
        return bytes;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return bytes;
    const std::string_view name = line.substr(0, colon);
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    auto is = [&name](std::string_view wanted) {
        return name.size() == wanted.size() && StartsWithNoCase(name, wanted);
    };
    if (is("Content-Length"))
        response->contentLength = ParseDecimal64(value);
    else if (is("Content-Range")) {
        response->contentRangeSeen = true;
        response->contentRange = ParseContentRange(value);
    } else if (is("WWW-Authenticate") && response->wwwAuthenticate.empty())
        response->wwwAuthenticate.assign(value);
    else if (is("Proxy-Authenticate") && response->proxyAuthenticate.empty())
        response->proxyAuthenticate.assign(value);
    return bytes;
}

size_t DownloadSession::WriteCallback(char *data, size_t size, size_t count, void *context) {
    auto *session = static_cast<DownloadSession *>(context);
    Transfer &transfer = *session->m_current;
    const size_t bytes = size * count;
    if (!transfer.decided) {
        if (transfer.requestCode != 0 || transfer.cancelledInLoop)
            return 0;
        const uint32_t verdict = session->AcceptResponse(transfer, *transfer.response);
        if (verdict != kOk) {
            transfer.requestCode = verdict;
            return 0;
        }
    }
    if (transfer.cancelledInLoop || transfer.fileError != 0 || transfer.fd < 0)
        return 0;
    if (transfer.answerEnd != 0 && bytes > transfer.answerEnd - transfer.written) {
        transfer.overran = true;
        return 0;
    }
    if (!platform::WriteFully(transfer.fd, data, bytes)) {
        transfer.fileError = errno;
        return 0;
    }
    transfer.written += bytes;
    if (session->m_sink)
        session->m_sink->Advance(bytes);
    session->WaitWhilePaused();
    if (session->IsCancelled()) {
        transfer.cancelledInLoop = true;
        return 0;
    }
    return bytes;
}

int DownloadSession::ProgressCallback(void *context, curl_off_t, curl_off_t, curl_off_t,
                                      curl_off_t) {
    auto *session = static_cast<DownloadSession *>(context);
    if (!session->IsCancelled())
        return 0;
    if (session->m_current && session->m_current->decided)
        session->m_current->cancelledInLoop = true;
    return 1;
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
