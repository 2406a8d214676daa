#include "ini.h"

#include "command_line_text.h"
#include "messages.h"
#include "unique_fd.h"

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>

namespace krv::setup {

namespace {

// Far past any settings file; a larger one is refused, not loaded whole.
constexpr uint64_t kMaxIniBytes = 16u << 20;

bool IsAboveBlank(char c) {
    return static_cast<unsigned char>(c) > 32;
}

// The section name when the line is a section line.
bool SectionName(std::string_view line, std::string &name) {
    std::size_t first = 0;
    while (first < line.size() && !IsAboveBlank(line[first]))
        ++first;
    std::size_t last = line.size();
    while (last > first && !IsAboveBlank(line[last - 1]))
        --last;
    if (first >= last || line[first] != '[' || line[last - 1] != ']' || last - first < 2)
        return false;
    name.assign(line.substr(first + 1, last - 1 - (first + 1)));
    return true;
}

} // namespace

void ParseIniText(IniDocument &document, std::string_view text) {
    document.sections.clear();
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    IniSection *current = nullptr;
    std::string name;
    for (const std::string &line : SplitString(text, "\r\n")) {
        if (line.empty())
            continue;
        if (SectionName(line, name)) {
            document.sections.push_back({name, {}});
            current = &document.sections.back();
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!current || equals == std::string::npos)
            continue;
        const std::string_view view(line);
        current->pairs.emplace_back(std::string(TrimBlanks(view.substr(0, equals))),
                                    std::string(TrimBlanks(view.substr(equals + 1))));
    }
}

int ReadIniFromFile(IniDocument &document, const std::string &path, uint64_t offset,
                    uint64_t size) {
    using result_code::kReadFailed;
    if (path.empty())
        return 0;
    const UniqueFd file = OpenForReading(path);
    if (!file.valid())
        return kReadFailed;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || info.st_size < 0)
        return kReadFailed;
    const auto fileSize = static_cast<uint64_t>(info.st_size);
    if (offset >= fileSize || size == 0)
        return kReadFailed;
    const uint64_t wanted = std::min<uint64_t>(size, fileSize - offset);
    if (wanted > kMaxIniBytes)
        return kReadFailed;
    std::string buffer(static_cast<std::size_t>(wanted), '\0');
    std::size_t got = 0;
    while (got < buffer.size()) {
        const ssize_t n = ::pread(file.get(), buffer.data() + got, buffer.size() - got,
                                  static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return kReadFailed;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (got == 0)
        return kReadFailed;
    buffer.resize(got);
    ParseIniText(document, buffer);
    return 0;
}

const IniSection *FindIniSection(const IniDocument &document, std::string_view name) {
    for (const auto &section : document.sections)
        if (section.name == name)
            return &section;
    return nullptr;
}

const std::string *FindIniValue(const IniSection &section, std::string_view key) {
    for (const auto &pair : section.pairs)
        if (pair.first == key)
            return &pair.second;
    return nullptr;
}

} // namespace krv::setup
