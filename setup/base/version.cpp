#include "version.h"

#include <array>
#include <cstdio>

namespace krv::setup {

namespace {

std::array<int32_t *, 4> Parts(VersionQuad &v) {
    return {&v.major, &v.minor, &v.build, &v.revision};
}
std::array<int32_t, 4> Parts(const VersionQuad &v) {
    return {v.major, v.minor, v.build, v.revision};
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

VersionQuad SetVersion(int32_t major, int32_t minor, int32_t build, int32_t revision) {
    auto clamp = [](int32_t n) { return n < 0 ? 0 : n; };
    return {clamp(major), clamp(minor), clamp(build), clamp(revision)};
}

bool ParseVersion(std::string_view text, VersionQuad &out) {
    out = {};
    VersionQuad parsed;
    auto parts = Parts(parsed);
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < text.size() && count < parts.size()) {
        if (!IsDigit(text[i])) {
            ++i;
            continue;
        }
        int64_t value = 0;
        while (i < text.size() && IsDigit(text[i])) {
            // A part must fit in a signed 32-bit number; anything larger is
            // not a version we can compare.
            value = value * 10 + (text[i] - '0');
            if (value > INT32_MAX)
                return false;
            ++i;
        }
        *parts[count++] = static_cast<int32_t>(value);
    }
    if (count == 0)
        return false;
    out = parsed;
    return true;
}

int CompareVersions(const VersionQuad &x, const VersionQuad &y) {
    auto a = Parts(x);
    auto b = Parts(y);
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] < b[i])
            return -1;
        if (a[i] > b[i])
            return 1;
    }
    return 0;
}

bool VersionsEqual(const VersionQuad &x, const VersionQuad &y) {
    return CompareVersions(x, y) == 0;
}

bool IsVersionZero(const VersionQuad &v) {
    return v.major == 0 && v.minor == 0 && v.build == 0 && v.revision == 0;
}

bool IsVersionUnset(const VersionQuad &v) {
    return IsVersionZero(v) ||
           (v.major == 0xFFFF && v.minor == 0xFFFF && v.build == 0xFFFF && v.revision == 0xFFFF);
}

std::string FormatVersion(const VersionQuad &v, bool keep65535) {
    auto parts = Parts(v);
    std::size_t n = parts.size();
    while (n > 0 && (parts[n - 1] == 0 || (!keep65535 && parts[n - 1] == 0xFFFF)))
        --n;
    if (n == 0)
        return "0.0.0.0";
    if (n < 2)
        n = 2;
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        if (i)
            text += '.';
        text += std::to_string(parts[i]);
    }
    return text;
}

bool IsValidVersionText(std::string_view text, bool smallFirstParts) {
    if (text.empty() || text.front() == '.' || text.back() == '.')
        return false;
    std::size_t group = 0;
    uint32_t value = 0;
    bool inGroup = false;
    auto limitOf = [smallFirstParts](std::size_t g) -> uint32_t {
        return smallFirstParts && g < 2 ? 256 : 65536;
    };
    for (char c : text) {
        if (c == '.') {
            if (!inGroup)
                return false; // two adjacent dots
            if (value >= limitOf(group))
                return false;
            ++group;
            if (group >= 4)
                return false; // a fifth group follows
            value = 0;
            inGroup = false;
            continue;
        }
        if (!IsDigit(c))
            return false;
        inGroup = true;
        value = value * 10 + static_cast<uint32_t>(c - '0');
        if (value >= 65536 * 10u)
            value = 65536 * 10u; // keep it bounded; already too large
    }
    // The last group is always allowed the full 16 bits.
    return value < 65536;
}

} // namespace krv::setup
