// Result codes of a download: the engine's own codes for conditions the
// transfer library does not report as errors, and the classic internet error
// numbers (12xxx) that callers, logs and error texts (GetInternetErrorText)
// were written against. libcurl's codes are mapped onto them in one place.
#pragma once

#include <curl/curl.h>

#include <cerrno>
#include <cstdint>
#include <string_view>

namespace krv::setup::download_code {

inline constexpr uint32_t kOk = 0;
// Own codes.
inline constexpr uint32_t kNoLocalPath = 0xE0000005;      // no file name could be made
inline constexpr uint32_t kCancelled = 0xE0000008;        // reported to the sink after a stop only
inline constexpr uint32_t kFtpTransferShort = 0xE000000F; // FTP ended before the known size
inline constexpr uint32_t kResumeBeyondEnd = 0xE0000010;  // resume offset >= size on the server
inline constexpr uint32_t kAuthRequired = 0xE0000012;     // no credentials obtained
inline constexpr uint32_t kNotModified = 0xE0000013;      // HTTP 304, not reported
inline constexpr uint32_t kForbidden = 0xE0000016;        // HTTP 403
inline constexpr uint32_t kNotFound = 0xE0000018;         // HTTP 404 or 410
// Any other HTTP status of 400 or above: the body is an error page, never
// the file.
inline constexpr uint32_t kServerErrorStatus = 0xE0000019;

// System and internet error numbers. The engine also ends with the errno of
// a failed file operation, so its own conditions keep clear of the small
// numbers: an unsupported scheme must not read as a missing file (2), nor
// missing memory as a bad program (8).
inline constexpr uint32_t kUnknownScheme = 12006; // none of FTP, gopher, HTTP, HTTPS
inline constexpr uint32_t kNotEnoughMemory = ENOMEM;
inline constexpr uint32_t kTimeout = 12002;
inline constexpr uint32_t kExtendedError = 12003;
inline constexpr uint32_t kInternalError = 12004;
inline constexpr uint32_t kInvalidUrl = 12005;
inline constexpr uint32_t kUnrecognizedScheme = 12006; // gopher
inline constexpr uint32_t kNameNotResolved = 12007;
inline constexpr uint32_t kLoginFailure = 12015;
inline constexpr uint32_t kCannotConnect = 12029;
inline constexpr uint32_t kConnectionAborted = 12030;
inline constexpr uint32_t kConnectionReset = 12031;
inline constexpr uint32_t kCertificateDateInvalid = 12037;
inline constexpr uint32_t kCertificateNameInvalid = 12038;
inline constexpr uint32_t kCertificateAuthorityInvalid = 12045;
inline constexpr uint32_t kInvalidServerResponse = 12152;
inline constexpr uint32_t kRedirectFailed = 12156;
inline constexpr uint32_t kSecureChannelError = 12157;
inline constexpr uint32_t kNotConnected = 12163;

// The number for a libcurl result. `errorText` is libcurl's error buffer (it
// tells the certificate problems apart); `ftp` maps a short transfer to
// kFtpTransferShort instead of a broken connection. CURLE_OK gives kOk;
// CURLE_ABORTED_BY_CALLBACK gives kCancelled.
uint32_t FromCurl(CURLcode code, std::string_view errorText, bool ftp);

// Codes that reach the sink's OnError: every failure but cancellation and
// 304.
bool IsReported(uint32_t code);
// A certificate the user may still accept.
bool IsCertificateError(uint32_t code);
// A broken HTTP transfer that is continued with a new request.
bool IsResumableHttpError(uint32_t code);
// The server could not be reached: the request is tried again later.
bool IsRetryableConnectError(uint32_t code);

} // namespace krv::setup::download_code
