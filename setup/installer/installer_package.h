// Our installer package (the main package of a setup): an xz-compressed tar
// archive, read and written with libarchive, holding
//   Property           the property table, one "Name<TAB>Value" line each
//                      (ProductCode, ProductVersion, UpgradeCode, PackageCode,
//                      ProductName, ProductLanguage, INSTALLDIR ...)
//   Instance           optional: one "InstanceName<TAB>ProductCode" line per
//                      product instance the package can be installed as
//   files/<path>       the files to install, relative to the install folder
// The package file is untrusted: tables are read with a size limit, and file
// entries whose names leave the install folder (absolute, "..", empty
// components) or that are not plain files, folders or symbolic links that
// stay inside the install folder are refused. No entry is ever created
// through a symbolic link (an earlier entry's or one already there): each
// folder on the way is opened without following links.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krv::setup {

inline constexpr std::string_view kPackagePropertyEntry = "Property";
inline constexpr std::string_view kPackageInstanceEntry = "Instance";
inline constexpr std::string_view kPackageFilesPrefix = "files/";
// A table larger than this is not a table of ours.
inline constexpr std::size_t kPackageTableLimit = 1u << 20;

struct PackageInstance {
    std::string name;
    std::string productCode;
};

// The tables of an opened package (the database of the package).
struct PackageDatabase {
    std::string path;
    std::map<std::string, std::string> properties; // names compare exactly
    std::vector<PackageInstance> instances;
};

// Reads the tables; nothing when the file is not a package of ours (cannot
// be read, is not an archive, has no property table, or a table is malformed).
std::optional<PackageDatabase> OpenPackageDatabase(std::string_view path);
// A property's value; nothing when the table has no such property.
std::optional<std::string> QueryMsiProperty(const PackageDatabase &database, std::string_view name);

// Table texts.
std::optional<std::map<std::string, std::string>> ParsePropertyTable(std::string_view text);
std::optional<std::vector<PackageInstance>> ParseInstanceTable(std::string_view text);

// A file entry's path below "files/" when it stays inside the install folder
// (no absolute path, no "." or ".." component, no empty component, no
// backslash) and holds no control character (below 0x20, or 0x7F: the
// installer's lists are lines); nothing otherwise.
std::optional<std::string> SafeRelativeEntryPath(std::string_view entryName);
// A file's path below the install folder as a record's or the journal's
// line may hold it: relative, no "." or ".." component, no empty component,
// no backslash, no line break. Other control characters pass: an earlier
// installer let them into the records it wrote, and such a line still names
// a file of the product.
bool RecordedFileName(std::string_view relative);
// A byte below 0x20, or 0x7F: never part of a name on one of the
// installer's lines.
inline bool IsControlCharacter(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

struct PackageFile {
    std::string relativePath; // below the install folder, "/"-separated
    bool folder = false;
    bool executable = false;
    uint64_t size = 0;
    std::string linkTarget; // a symbolic link's text (inside the folder); empty for others
};

// Extracts every file entry into `targetFolder` (made when missing) and lists
// what it wrote. `cancelled` is asked before each entry. Error text on
// failure (the folder may then hold part of the files); `cancelled` set
// when the run was cancelled.
struct PackageExtraction {
    bool ok = false;
    bool cancelled = false;
    std::string error;
    std::vector<PackageFile> files;
};
// `step` is told "write" before each file or link is written.
PackageExtraction ExtractPackageFiles(std::string_view packagePath, std::string_view targetFolder,
                                      const std::function<bool()> &cancelled = {},
                                      const std::function<void(std::string_view)> &step = {});

// The names of the package's entries as they stand, the tables' among them
// (nothing is written). False with an error text when the package cannot be
// read to its end.
bool ListPackageEntries(std::string_view packagePath, std::vector<std::string> &names,
                        std::string &error);

// Writes a package: the tables, then every file and folder below
// `sourceTree`. A symbolic link to a file inside the tree is stored as a
// link when its text stays inside the tree (relative), else as a copy of
// that file; other links are refused. The file is written to a
// temporary name next to `packagePath` and renamed into place. Error text on
// failure, empty on success.
std::string WriteInstallerPackage(std::string_view packagePath,
                                  const std::map<std::string, std::string> &properties,
                                  const std::vector<PackageInstance> &instances,
                                  std::string_view sourceTree);

} // namespace krv::setup
