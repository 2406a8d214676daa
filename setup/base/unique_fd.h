// A file descriptor that closes itself, and the one way the setup opens a
// file for reading.
#pragma once

#include "file_open.h"

#include <string>

namespace krv::setup {

using platform::UniqueFd;

// Opens a regular file for reading without ever blocking: a named pipe or a
// device standing where a file was expected gives an invalid descriptor
// instead of hanging the open or the reads.
inline UniqueFd OpenForReading(const std::string &nativePath) {
    return std::move(platform::OpenRegularFile(nativePath).fd);
}

} // namespace krv::setup
