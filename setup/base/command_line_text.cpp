#include "command_line_text.h"

#include <climits>

namespace krv::setup {

namespace {

bool IsSkippedBeforeToken(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    return 99;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool NextQuotedToken(std::string_view text, std::size_t &cursor, std::string &token,
                     std::string_view extraSeparators) {
    token.clear();
    if (cursor > text.size())
        return false;
    std::size_t pos = cursor;
    while (pos < text.size() && IsSkippedBeforeToken(text[pos]))
        ++pos;
    if (pos >= text.size()) {
        cursor = pos;
        return false;
    }
    const bool quoted = text[pos] == '"';
    if (quoted)
        ++pos;
    const std::size_t start = pos;
    while (pos < text.size()) {
        const char c = text[pos];
        if (extraSeparators.find(c) != std::string_view::npos)
            break;
        if (quoted && c == '"') {
            if (pos + 1 < text.size() && text[pos + 1] == '"') {
                pos += 2; // a doubled quote stays in the token
                continue;
            }
            break;
        }
        if (!quoted && c == ' ')
            break;
        ++pos;
    }
    token.assign(text.substr(start, pos - start));
    cursor = pos < text.size() ? pos + 1 : pos;
    return true;
}

std::vector<std::string> SplitQuotedTokens(std::string_view text) {
    std::vector<std::string> tokens;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == '"') {
            const std::size_t close = text.find('"', pos + 1);
            if (close == std::string_view::npos) {
                tokens.emplace_back(text.substr(pos + 1));
                break;
            }
            tokens.emplace_back(text.substr(pos + 1, close - pos - 1));
            pos = close + 1;
        } else {
            const std::size_t blank = text.find(' ', pos);
            if (blank == std::string_view::npos) {
                tokens.emplace_back(text.substr(pos));
                break;
            }
            tokens.emplace_back(text.substr(pos, blank - pos));
            pos = blank;
        }
        while (pos < text.size() && text[pos] == ' ')
            ++pos;
    }
    return tokens;
}

std::vector<std::string> SplitString(std::string_view text, std::string_view separator) {
    std::vector<std::string> pieces;
    if (text.empty())
        return pieces;
    if (separator.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    std::size_t pos = 0;
    for (;;) {
        const std::size_t hit = text.find(separator, pos);
        if (hit == std::string_view::npos)
            break;
        pieces.emplace_back(text.substr(pos, hit - pos));
        pos = hit + separator.size();
    }
    if (pos < text.size())
        pieces.emplace_back(text.substr(pos));
    return pieces;
}

int32_t ParseDecimal(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    bool negative = false;
    if (pos < text.size() && text[pos] == '-') {
        negative = true;
        ++pos;
    }
    if (pos < text.size() && text[pos] == '+')
        ++pos;
    int64_t value = 0;
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        value = value * 10 + (text[pos] - '0');
        if (value > limit)
            value = limit; // clamp, keep consuming digits
    }
    return static_cast<int32_t>(negative ? -value : value);
}

int32_t ParseIntInRadix(std::string_view text, int radix, std::size_t *endIndex) {
    std::size_t stop = text.size();
    if (endIndex && *endIndex > 0 && *endIndex < stop)
        stop = *endIndex;
    std::size_t pos = 0;
    if (radix < 2 || radix > 36) {
        if (endIndex)
            *endIndex = 0;
        return 0;
    }
    bool negative = false;
    if (pos < stop && text[pos] == '-') {
        negative = true;
        ++pos;
    }
    uint32_t value = 0;
    for (; pos < stop; ++pos) {
        const int digit = DigitValue(text[pos]);
        if (digit >= radix)
            break;
        value = value * static_cast<uint32_t>(radix) + static_cast<uint32_t>(digit);
    }
    if (negative)
        value = 0u - value;
    if (endIndex)
        *endIndex = pos;
    return static_cast<int32_t>(value);
}

GuidBytes ParseGuidText(std::string_view text) {
    GuidBytes guid{};
    std::string digits;
    for (char c : text) {
        if (c == '-' || c == '{' || c == '}')
            continue;
        digits.push_back(c);
    }
    if (digits.size() < 32)
        return guid;
    auto hexAt = [&](std::size_t index, std::size_t count) {
        std::size_t end = count;
        return static_cast<uint32_t>(
            ParseIntInRadix(std::string_view(digits).substr(index, count), 16, &end));
    };
    const uint32_t data1 = hexAt(0, 8);
    const uint32_t data2 = hexAt(8, 4);
    const uint32_t data3 = hexAt(12, 4);
    for (int i = 0; i < 4; ++i)
        guid[i] = static_cast<uint8_t>(data1 >> (8 * i));
    for (int i = 0; i < 2; ++i) {
        guid[4 + i] = static_cast<uint8_t>(data2 >> (8 * i));
        guid[6 + i] = static_cast<uint8_t>(data3 >> (8 * i));
    }
    for (std::size_t i = 0; i < 8; ++i)
        guid[8 + i] = static_cast<uint8_t>(hexAt(16 + 2 * i, 2));
    return guid;
}

std::string_view TrimBlanks(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

} // namespace krv::setup
