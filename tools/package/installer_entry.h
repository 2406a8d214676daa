// The main installer package of a setup, made from an installed tree (the
// files as they land in the install folder) and a property table.
#pragma once

#include "package_writer.h"

#include <map>
#include <string>
#include <string_view>

namespace krv::package {

// NAME=VALUE lines (blank lines skipped); false with the reason for a line
// without "=" or a name given twice.
bool ParsePropertyLines(std::string_view text, std::map<std::string, std::string> &properties,
                        std::string &error);

// Reads a whole regular file (at most 1 GiB); false with the reason.
bool ReadWholeFile(const std::string &path, std::string &content, std::string &error);

// Builds the installer package from the tree and the properties file and
// queues it as an entry of the given type and set.
bool AddInstallerPackage(PackageWriter &writer, uint32_t type, uint32_t set,
                         const std::string &name, const std::string &tree,
                         const std::string &propertiesFile, uint32_t entryFlags,
                         std::string &error);

} // namespace krv::package
