#include "download_codes.h"

namespace krv::setup::download_code {

namespace {

bool Contains(std::string_view text, std::string_view piece) {
    return text.find(piece) != std::string_view::npos;
}

uint32_t CertificateProblem(std::string_view errorText) {
    if (Contains(errorText, "expired") || Contains(errorText, "not yet valid"))
        return kCertificateDateInvalid;
    if (Contains(errorText, "subject name") || Contains(errorText, "does not match"))
        return kCertificateNameInvalid;
    return kCertificateAuthorityInvalid;
}

} // namespace

uint32_t FromCurl(CURLcode code, std::string_view errorText, bool ftp) {
    switch (code) {
    case CURLE_OK:
        return kOk;
    case CURLE_ABORTED_BY_CALLBACK:
        return kCancelled;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return kUnrecognizedScheme;
    case CURLE_URL_MALFORMAT:
        return kInvalidUrl;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
        return kNameNotResolved;
    case CURLE_COULDNT_CONNECT:
        return kCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
        return kTimeout;
    case CURLE_PARTIAL_FILE:
        return ftp ? kFtpTransferShort : kConnectionAborted;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return kConnectionReset;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
        return kInvalidServerResponse;
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return kConnectionAborted;
    case CURLE_PEER_FAILED_VERIFICATION:
        return CertificateProblem(errorText);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
        return kSecureChannelError;
    case CURLE_LOGIN_DENIED:
        return kLoginFailure;
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_QUOTE_ERROR:
        return kExtendedError;
    case CURLE_BAD_DOWNLOAD_RESUME:
        return kResumeBeyondEnd;
    case CURLE_TOO_MANY_REDIRECTS:
        return kRedirectFailed;
    case CURLE_OUT_OF_MEMORY:
        return kNotEnoughMemory;
    default:
        return kInternalError;
    }
}

bool IsReported(uint32_t code) {
    return code != kCancelled && code != kNotModified;
}

bool IsCertificateError(uint32_t code) {
    return code == kCertificateDateInvalid || code == kCertificateNameInvalid || code == 12044 ||
           code == kCertificateAuthorityInvalid;
}

bool IsResumableHttpError(uint32_t code) {
    return code == kTimeout || code == kConnectionAborted || code == kConnectionReset ||
           code == kNotConnected;
}

bool IsRetryableConnectError(uint32_t code) {
    return code == kCannotConnect || code == kNameNotResolved;
}

} // namespace krv::setup::download_code
