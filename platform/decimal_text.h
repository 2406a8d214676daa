// A strict unsigned decimal number as stored in text files: digits only,
// nothing around them, and a value that fits 32 bits.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace krv::platform {

inline std::optional<uint32_t> ParseDecimalUint32(std::string_view text) {
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > UINT32_MAX)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

} // namespace krv::platform
