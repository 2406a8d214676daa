#include "download_names.h"

#include "paths.h"

#include <setup_curl.h>

#include <charconv>

namespace krv::setup {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

UrlScheme SchemeOf(const std::string &name) {
    if (name == "http")
        return UrlScheme::kHttp;
    if (name == "https")
        return UrlScheme::kHttps;
    if (name == "ftp")
        return UrlScheme::kFtp;
    if (name == "gopher")
        return UrlScheme::kGopher;
    return UrlScheme::kUnknown;
}

} // namespace

bool CrackUrl(const std::string &url, UrlParts &parts) {
    platform::CurlUrl parsed = platform::MakeCurlUrl();
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(),
                                CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return false;
    std::string scheme;
    if (!platform::GetCurlUrlPart(parsed.get(), CURLUPART_SCHEME, scheme))
        return false;
    parts = UrlParts{};
    parts.scheme = SchemeOf(scheme);
    platform::GetCurlUrlPart(parsed.get(), CURLUPART_HOST, parts.host);
    if (!platform::GetCurlUrlPart(parsed.get(), CURLUPART_PATH, parts.path) || parts.path.empty())
        parts.path.assign(1, '/');
    platform::GetCurlUrlPart(parsed.get(), CURLUPART_QUERY, parts.query);
    std::string port;
    if (platform::GetCurlUrlPart(parsed.get(), CURLUPART_PORT, port, CURLU_DEFAULT_PORT)) {
        std::optional<uint64_t> number = ParseDecimal64(port);
        if (number && *number <= 0xFFFF)
            parts.port = static_cast<uint16_t>(*number);
    }
    return true;
}

std::string LocalFileNameFromUrl(const std::string &url, const std::string &target,
                                 const std::string &saveFolder) {
    if (!target.empty()) {
        if (IsFullPath(target) || saveFolder.empty())
            return target;
        std::string path = saveFolder;
        AddTrailingBackslash(path);
        return path + target;
    }
    UrlParts parts;
    if (!CrackUrl(url, parts))
        return std::string();
    const bool ftp = parts.scheme == UrlScheme::kFtp;
    const char cut = ftp ? ';' : '?';
    // The path as it stood in the URL, with what follows it.
    std::string piece = parts.path;
    if (!ftp && !parts.query.empty())
        piece += "?" + parts.query;
    if (!piece.empty() && (piece.back() == '/' || piece.back() == '\\'))
        piece.pop_back();
    const std::size_t slash = piece.find_last_of("/\\");
    if (slash != std::string::npos)
        piece.erase(0, slash + 1);
    std::string name;
    if (!piece.empty() && piece.front() == cut) {
        std::string_view params(piece);
        params.remove_prefix(1);
        params = params.substr(0, params.find('&'));
        const std::size_t equals = params.find('=');
        if (equals != std::string_view::npos)
            name = std::string(params.substr(equals + 1));
    } else {
        name = piece.substr(0, piece.find(cut));
    }
    SanitizeFileName(name);
    if (GetExtension(name).empty())
        name += ".pxu";
    else
        StripExtension(name, ".pxu");
    std::string path = saveFolder;
    if (!path.empty())
        AddTrailingBackslash(path);
    return path + name;
}

std::string ParseAuthRealm(std::string_view header) {
    const std::size_t blank = header.find(' ');
    if (blank == std::string_view::npos)
        return std::string();
    std::string_view rest = header.substr(blank + 1);
    while (true) {
        const std::size_t comma = rest.find(',');
        std::string_view item = rest.substr(0, comma);
        const std::size_t equals = item.find('=');
        if (equals != std::string_view::npos && equals == 5) {
            std::string_view name = item.substr(0, equals);
            bool isRealm = true;
            for (std::size_t i = 0; i < 5; ++i)
                if ((name[i] | 0x20) != "realm"[i])
                    isRealm = false;
            if (isRealm) {
                std::string_view value = item.substr(equals + 1);
                if (!value.empty() && value.front() == '"')
                    value.remove_prefix(1);
                if (!value.empty() && value.back() == '"')
                    value.remove_suffix(1);
                return std::string(value);
            }
        }
        if (comma == std::string_view::npos)
            return std::string();
        rest.remove_prefix(comma + 1);
    }
}

std::optional<uint64_t> ParseDecimal64(std::string_view text) {
    text = Trim(text);
    uint64_t value = 0;
    const char *end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

std::optional<ContentRange> ParseContentRange(std::string_view value) {
    value = Trim(value);
    constexpr std::string_view kUnit = "bytes ";
    if (value.size() < kUnit.size())
        return std::nullopt;
    for (std::size_t i = 0; i < kUnit.size(); ++i)
        if ((value[i] | 0x20) != kUnit[i])
            return std::nullopt;
    value.remove_prefix(kUnit.size());
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return std::nullopt;
    const std::optional<uint64_t> first = ParseDecimal64(value.substr(0, dash));
    const std::optional<uint64_t> last = ParseDecimal64(value.substr(dash + 1, slash - dash - 1));
    if (!first || !last || *last < *first || *last == UINT64_MAX)
        return std::nullopt;
    ContentRange range{*first, *last, std::nullopt};
    const std::string_view total = Trim(value.substr(slash + 1));
    if (total != "*") {
        range.total = ParseDecimal64(total);
        if (!range.total || *last >= *range.total)
            return std::nullopt;
    }
    return range;
}

} // namespace krv::setup
