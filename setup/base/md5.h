// MD5 of a file with its last bytes left out: the package check hashes the
// program file without its container footer; downloads are checked whole.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace krv::setup {

using Md5Digest = std::array<uint8_t, 16>;

// Hashes the first (size - trailingBytes) bytes of the file. False when the
// file cannot be read or is not longer than trailingBytes.
bool ComputeFileMd5(std::string_view path, uint64_t trailingBytes, Md5Digest &digest);
// The same for a file already open (read from its start, the offset of the
// descriptor left as it is).
bool ComputeOpenFileMd5(int fd, uint64_t trailingBytes, Md5Digest &digest);
// The same as 32 lower-case hexadecimal digits.
bool ComputeFileMd5Hex(std::string_view path, uint64_t trailingBytes, std::string &hex);

// True when the first 32 characters of expected (upper or lower case) are the
// file's digest; characters after the 32nd are not looked at. A shorter text
// or a file that cannot be hashed gives false.
bool VerifyFileMd5(std::string_view path, std::string_view expectedHex, uint64_t trailingBytes);
// The same for the whole of a file already open: the file checked is the one
// the caller holds, whatever its path names meanwhile.
bool VerifyOpenFileMd5(int fd, std::string_view expectedHex);

} // namespace krv::setup
