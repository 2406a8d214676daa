#include "download_transfer.h"
#include "download_session.h"

#include "file_open.h"
#include "files.h"
#include "log.h"
#include "paths.h"

#include <cctype>
#include <cerrno>
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
    const auto [folderPath, leaf] = platform::SplitFolderAndName(ToNativePath(transfer.partPath));
    // The folder may lie in the shared temporary folder: made where missing,
    // with no link followed and no folder of another user taken below it.
    platform::OpenedFolder folder = platform::OpenFolderPath(folderPath, {});
    if (!folder) {
        if (folder.refusal != platform::FolderRefusal::None)
            LogLine("The folder " + folder.failedAt + " " +
                    platform::FolderRefusalText(folder.refusal) +
                    "; nothing is downloaded into it. Remove that folder (the setup makes it "
                    "again, closed to others) or make it writable by its owner alone.");
        transfer.fileError = folder.error;
        return kOk;
    }
    if (transfer.offset > 0) {
        // Continued only as the file checked before the request: this
        // user's own regular file.
        transfer.fd =
            ::openat(folder.fd.get(), leaf.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        struct stat info {};
        if (transfer.fd >= 0 && (::fstat(transfer.fd, &info) != 0 || !S_ISREG(info.st_mode) ||
                                 info.st_uid != ::geteuid())) {
            ::close(transfer.fd);
            transfer.fd = -1;
            errno = EPERM;
        }
    } else {
        // Whatever stands under the name (a file or link someone else left)
        // is replaced by a new file of this run, never written through.
        ::unlinkat(folder.fd.get(), leaf.c_str(), 0);
        transfer.fd = ::openat(folder.fd.get(), leaf.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    }
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

} // namespace krv::setup
