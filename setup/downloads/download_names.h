// Pure text helpers of the download engine: URL pieces, the local file name
// made from a URL, and the header values the engine reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace krv::setup {

enum class UrlScheme { kUnknown, kFtp, kGopher, kHttp, kHttps };

// The URL split into what a request needs; false when libcurl cannot parse
// it. Any scheme parses; `scheme` tells whether it can be fetched.
struct UrlParts {
    UrlScheme scheme = UrlScheme::kUnknown;
    std::string host;
    std::string path;  // with its leading "/"; "/" when empty
    std::string query; // without the "?"
    uint16_t port = 0; // the scheme's default when the URL has none
};
bool CrackUrl(const std::string &url, UrlParts &parts);

// Where a download goes:
// - a full target (begins with a separator, or has ":" second) as it stands;
// - a relative target inside the save folder ("/" added when needed), or
//   alone when the folder is empty;
// - an empty target: the last piece of the URL path (one trailing "/"
//   dropped), cut before "?" (HTTP) or ";" (FTP); when the piece begins with
//   that character, the value of the first query parameter instead; unsafe
//   characters replaced (SanitizeFileName) and the extension replaced by
//   ".pxu" (appended when there is none).
// Empty when the target is empty and the URL cannot be parsed.
std::string LocalFileNameFromUrl(const std::string &url, const std::string &target,
                                 const std::string &saveFolder);

// The realm of an authentication header value: the text after the first
// blank split at commas; the first item whose name (before "=") is "realm" in
// any case gives its value, one leading and one trailing double quote
// removed. Items are not trimmed, so a realm that stands after ", " is not
// found. Empty when there is no blank or no realm.
std::string ParseAuthRealm(std::string_view header);

// A decimal 64-bit number that fills the whole text (blanks around it
// allowed); nothing for anything else, including overflow.
std::optional<uint64_t> ParseDecimal64(std::string_view text);

// A "Content-Range: bytes <first>-<last>/<total>" value; the total is
// absent when the server gives "*".
struct ContentRange {
    uint64_t first = 0;
    uint64_t last = 0;
    std::optional<uint64_t> total;
};
// Nothing when the value is not in that form or does not hold together
// (last before first, last at or past a known total).
std::optional<ContentRange> ParseContentRange(std::string_view value);

} // namespace krv::setup
