#include "installer_entry.h"

#include "file_open.h"
#include "installer_package.h"

#include <cstdio>
#include <filesystem>
#include <sstream>

#include <unistd.h>

namespace krv::package {

bool ParsePropertyLines(std::string_view text, std::map<std::string, std::string> &properties,
                        std::string &error) {
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        const std::size_t equals = line.find('=');
        if (equals == 0 || equals == std::string::npos) {
            error = "not a NAME=VALUE line: " + line;
            return false;
        }
        if (!properties.emplace(line.substr(0, equals), line.substr(equals + 1)).second) {
            error = "property given twice: " + line.substr(0, equals);
            return false;
        }
    }
    return true;
}

bool ReadWholeFile(const std::string &path, std::string &content, std::string &error) {
    // An entry's source is read whole into memory, so it is bounded.
    constexpr uint64_t kMaxEntryBytes = uint64_t{1} << 30;
    const platform::FileError failure = platform::ReadRegularFile(path, kMaxEntryBytes, content);
    if (failure == platform::FileError::None)
        return true;
    error = "cannot read " + path + ": " + platform::FileErrorText(failure);
    return false;
}

bool AddInstallerPackage(PackageWriter &writer, uint32_t type, uint32_t set,
                         const std::string &name, const std::string &tree,
                         const std::string &propertiesFile, uint32_t entryFlags,
                         std::string &error) {
    std::string text;
    if (!ReadWholeFile(propertiesFile, text, error))
        return false;
    std::map<std::string, std::string> properties;
    if (!ParsePropertyLines(text, properties, error))
        return false;
    std::error_code ec;
    std::string temporary =
        (std::filesystem::temp_directory_path(ec) / "krv-installer-XXXXXX").string();
    const int fd = ec ? -1 : ::mkstemp(temporary.data());
    if (fd < 0) {
        error = "cannot make a temporary file";
        return false;
    }
    ::close(fd);
    error = setup::WriteInstallerPackage(temporary, properties, {}, tree);
    std::string bytes;
    if (error.empty())
        ReadWholeFile(temporary, bytes, error);
    std::remove(temporary.c_str());
    if (!error.empty())
        return false;
    writer.AddBytes(type, set, name, std::move(bytes), entryFlags);
    return true;
}

} // namespace krv::package
