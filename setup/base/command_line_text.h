// Tokenizers and the small number and text routines that the command line,
// the settings reader and the other setup modules share.
//
// Texts are 8-bit strings (UTF-8 on Linux); every scan works on bytes and
// treats bytes above 0x7F as ordinary characters, never as blanks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace krv::setup {

// Reads the next token of a command line from `cursor`.
// Characters 1..32 before the token are skipped. A token that starts with a
// double quote ends at the next lone double quote (a "" pair inside the quotes
// stays in the token and does not end it); any other token ends at the next
// space (tabs do not end it). A character of `extraSeparators` also ends the
// token, in quoted mode too. The cursor moves past the ending character.
// False when the cursor is past the text or only blanks are left.
bool NextQuotedToken(std::string_view text, std::size_t &cursor, std::string &token,
                     std::string_view extraSeparators = {});

// Splits a text into blank-separated tokens; a token that starts with a quote
// runs to the next quote and loses both quotes. A leading blank gives an
// empty first token; an empty text gives no tokens.
std::vector<std::string> SplitQuotedTokens(std::string_view text);

// Pieces between occurrences of `separator` (empty pieces kept, an empty
// remainder after the last separator dropped). An empty text gives none.
std::vector<std::string> SplitString(std::string_view text, std::string_view separator);

// Decimal number: leading spaces, an optional "-" then an optional "+", then
// digits up to the first non-digit; no digits gives 0. Values beyond the
// 32-bit range are clamped to it.
int32_t ParseDecimal(std::string_view text);

// Integer in a radix of 2..36 (digits 0-9, A-Z, a-z) with an optional leading
// "-". Stops at the first character that is not a digit of the radix, or at
// `*endIndex` when that is positive; writes back the index where it stopped.
// The value wraps modulo 2^32 like the 32-bit registry numbers it reads, so
// "FFFFFFFF" in radix 16 gives -1. An invalid radix gives 0.
int32_t ParseIntInRadix(std::string_view text, int radix, std::size_t *endIndex = nullptr);

// A GUID text of 8-4-4-4-12 hexadecimal digits, with or without braces, to
// its 16 bytes (first group 32 bits, next two 16 bits, then eight bytes, as
// Windows lays a GUID out in memory). An empty text gives all zeros.
using GuidBytes = std::array<uint8_t, 16>;
GuidBytes ParseGuidText(std::string_view text);

// Trims spaces and tabs at both ends.
std::string_view TrimBlanks(std::string_view text);

// Case-insensitive comparison of ASCII letters; other bytes compare exactly.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

} // namespace krv::setup
