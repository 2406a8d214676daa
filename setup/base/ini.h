// INI-style settings text: sections of key/value pairs, in order, duplicates
// kept (lookups return the first match). Lines end only with CR LF; there is
// no comment syntax.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace krv::setup {

struct IniSection {
    std::string name;
    std::vector<std::pair<std::string, std::string>> pairs; // (key, value)
};

struct IniDocument {
    std::vector<IniSection> sections;
};

// Replaces the document's content with the sections of the text. A section
// line's first and last non-blank characters are "[" and "]"; other lines
// with "=" are pairs of the current section (key and value trimmed). Lines
// before the first section and lines without "=" are ignored. A UTF-8 byte
// order mark at the very start is skipped.
void ParseIniText(IniDocument &document, std::string_view text);

// Reads `size` bytes at `offset` of a file and parses them. An empty path
// leaves the document empty and gives 0. Gives 2 when the file cannot be
// opened or read, or nothing is there to read; only the bytes the file holds
// are read (a size beyond its end is cut to it).
int ReadIniFromFile(IniDocument &document, const std::string &path, uint64_t offset, uint64_t size);

// Exact, case-sensitive lookups; the first match or nullptr.
const IniSection *FindIniSection(const IniDocument &document, std::string_view name);
const std::string *FindIniValue(const IniSection &section, std::string_view key);

} // namespace krv::setup
