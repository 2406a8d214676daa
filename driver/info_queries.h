// Reads of the printer's memory, shared by the exports that look at fixed
// addresses.
#pragma once

#include "errors.h"

#include <cstdint>
#include <vector>

namespace krv::drv {

// Texts (UTF-8) of replies that are missing or do not have their record's shape.
inline constexpr const char *kNoReplyDataText = "Данные от ЭККР не были получены!";

// The memory read behind FPGetMemoryData: sends 1C, address (low byte
// first), bank, length and judges the exchange like FPGetMemoryData does:
// a missing reply is the time-out text, the status byte is not decoded, a
// length of 0 is refused after the exchange and a reply carrying fewer bytes
// than asked for is a failure with its own text. On success `out` holds
// exactly `length` bytes; on failure it is left empty and the last error text
// says why.
bool ReadPrinterMemory(uint16_t address, uint8_t bank, uint8_t length, std::vector<uint8_t> &out);

} // namespace krv::drv
