#include "language_module.h"

#include "file_open.h"

#include <decimal_text.h>

#include <optional>
#include <vector>

namespace krv::setup {

namespace {

std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        switch (next) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            out += '\\';
            out += next;
            break;
        }
    }
    return out;
}

std::vector<std::string_view> SplitTabs(std::string_view line, std::size_t fields) {
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < fields) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos)
            break;
        parts.push_back(line.substr(0, tab));
        line = line.substr(tab + 1);
    }
    parts.push_back(line);
    return parts;
}

} // namespace

bool ParseLanguageModule(std::string_view text, ResourceModule &module) {
    bool first = true;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (first) {
            if (line != kLanguageModuleHeader)
                return false;
            first = false;
            continue;
        }
        if (line.size() > 2 && line[0] == 'S' && line[1] == '\t') {
            const auto parts = SplitTabs(line.substr(2), 2);
            const auto id = platform::ParseDecimalUint32(parts[0]);
            if (parts.size() == 2 && id)
                module.strings[*id] = Unescape(parts[1]);
        } else if (line.size() > 2 && line[0] == 'D' && line[1] == '\t') {
            const auto parts = SplitTabs(line.substr(2), 3);
            if (parts.size() != 3)
                continue;
            const auto dialog = platform::ParseDecimalUint32(parts[0]);
            const auto control = platform::ParseDecimalUint32(parts[1]);
            if (dialog && control)
                module.dialogs[*dialog][*control] = Unescape(parts[2]);
        } else if (line.size() > 2 && line[0] == 'B' && line[1] == '\t') {
            // The size decides where the next line starts, so a block line
            // that cannot be read leaves the rest of the file unreadable.
            const auto parts = SplitTabs(line.substr(2), 3);
            if (parts.size() != 3 || parts[0].empty())
                return false;
            const auto id = platform::ParseDecimalUint32(parts[1]);
            const auto size = platform::ParseDecimalUint32(parts[2]);
            if (!id || !size || *size > kResourceBlockMaxSize || *size > text.size())
                return false;
            module.blocks[std::string(parts[0])][*id] = std::string(text.substr(0, *size));
            text = text.substr(*size);
        }
    }
    return !first;
}

std::shared_ptr<const ResourceModule> LoadLanguageModuleFile(const std::string &path,
                                                             uint16_t language) {
    // A regular file only (a pipe in its place would block the open), read
    // no further than the limit.
    std::string text;
    if (platform::ReadRegularFile(path, kLanguageModuleMaxSize, text) != platform::FileError::None)
        return nullptr;
    auto module = std::make_shared<ResourceModule>();
    module->name = path;
    module->language = language;
    if (!ParseLanguageModule(text, *module))
        return nullptr;
    return module;
}

} // namespace krv::setup
