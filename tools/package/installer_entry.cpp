#include "installer_entry.h"

#include "installer_package.h"

#include <cstdio>
#include <fstream>
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

bool AddInstallerPackage(PackageWriter &writer, uint32_t type, uint32_t set,
                         const std::string &name, const std::string &tree,
                         const std::string &propertiesFile, uint32_t entryFlags,
                         std::string &error) {
    std::ifstream in(propertiesFile, std::ios::binary);
    if (!in) {
        error = "cannot read " + propertiesFile;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::map<std::string, std::string> properties;
    if (!ParsePropertyLines(text.str(), properties, error))
        return false;
    char temporary[] = "/tmp/krv-installer-XXXXXX";
    const int fd = ::mkstemp(temporary);
    if (fd < 0) {
        error = "cannot make a temporary file";
        return false;
    }
    ::close(fd);
    error = setup::WriteInstallerPackage(temporary, properties, {}, tree);
    std::ostringstream bytes;
    if (error.empty()) {
        std::ifstream package(temporary, std::ios::binary);
        bytes << package.rdbuf();
    }
    std::remove(temporary);
    if (!error.empty())
        return false;
    writer.AddBytes(type, set, name, bytes.str(), entryFlags);
    return true;
}

} // namespace krv::package
