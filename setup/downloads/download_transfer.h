// The state of one transfer that the two halves of DownloadSession share:
// the session (download_session.cpp: its worker, retries, credentials and
// the finished file) and the request (download_transfer.cpp: one libcurl
// request, the answer's headers and what they allow, the ".part" file).
#pragma once

#include "download_session.h"

#include <setup_curl.h>

#include <cstdint>
#include <optional>
#include <string>

#include <unistd.h>

namespace krv::setup {

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

} // namespace krv::setup
