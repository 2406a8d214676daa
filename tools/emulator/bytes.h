// Byte helpers of the emulated printer.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace krv::emu {

// Appends the low `count` bytes of value, least significant first.
inline void PutLe(std::vector<uint8_t> &out, uint64_t value, size_t count) {
    for (size_t i = 0; i < count; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Reads `count` bytes little-endian at `offset`; nothing when they are not all there.
inline std::optional<uint64_t> GetLe(std::span<const uint8_t> in, size_t offset, size_t count) {
    if (offset > in.size() || count > in.size() - offset)
        return std::nullopt;
    uint64_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value |= uint64_t{in[offset + i]} << (8 * i);
    return value;
}

inline uint8_t ToBcd(int value) {
    return static_cast<uint8_t>(((value / 10) % 10) << 4 | (value % 10));
}
inline int FromBcd(uint8_t byte) {
    return (byte >> 4) * 10 + (byte & 0x0F);
}
inline bool IsBcd(uint8_t byte) {
    return (byte >> 4) <= 9 && (byte & 0x0F) <= 9;
}

// A request's BCD day, month and two-digit year (of this century) as a
// calendar date; nothing when the bytes are not BCD or name no date.
inline std::optional<std::chrono::year_month_day> BcdDate(uint8_t day, uint8_t month,
                                                          uint8_t year) {
    if (!IsBcd(day) || !IsBcd(month) || !IsBcd(year))
        return std::nullopt;
    const std::chrono::year_month_day date{
        std::chrono::year{2000 + FromBcd(year)},
        std::chrono::month{static_cast<unsigned>(FromBcd(month))},
        std::chrono::day{static_cast<unsigned>(FromBcd(day))}};
    if (!date.ok())
        return std::nullopt;
    return date;
}

} // namespace krv::emu
