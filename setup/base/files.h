// Files and folders on disk: folder trees, existence and size tests, text
// files, temporary names, drives and free space. Paths follow the rules of
// paths.h ("\" and "/" both separate; "/" is written).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krv::setup {

// Creates the folders of the path that do not exist yet; with lastIsFolder
// clear the last component is a file name and is not created. Each folder
// this call creates is appended to *created (when given). On failure the
// folders this call created are removed again (deepest first) and the errno
// of the failing folder is returned; folders that existed before are never
// touched. 0 on success, also when the path already exists.
int CreateFolderTree(std::string_view path, bool lastIsFolder,
                     std::vector<std::string> *created = nullptr);
// Deletes everything inside the folder; the folder itself stays. Symbolic
// links are removed, never followed. Failures are skipped.
void DeleteFolderTree(std::string_view folder);
// Removes the folder, then each parent, while the path is longer than base;
// a folder that is not empty stays (and so do its parents).
void RemoveEmptyFolderChain(std::string_view folder, std::string_view base);

// A folder exists ("." and the root "/" count; a file does not).
bool PathExists(std::string_view path);
// A file or folder exists at a full path; a relative path is false without a
// look at the disk.
bool FileOrFolderExists(std::string_view path);
// The size of a regular file; false when it cannot be opened or is larger
// than 4 GiB - 1.
bool QueryFileSize(std::string_view path, uint32_t &size);
// The same, 0 when it cannot be read.
uint32_t GetPathFileSize(std::string_view path);
// The whole file; a closing CR LF is dropped. False when it cannot be read.
bool ReadTextFile(std::string_view path, std::string &text);

// Temporary names in GetTempFolder(): a new file "<prefix>XXXXXX" is made
// (mkstemp) and removed at once; only the name is kept. Prefix: its first
// three characters. Empty / false on failure.
std::string MakeTempFileName();
bool MakeTempFileNameWithPrefix(std::string_view prefix, std::string &name);

// One line of a mount table in the form of /proc/self/mounts, the octal
// escapes of its fields (\040 for a blank) undone.
struct MountEntry {
    std::string device;
    std::string point;
    std::string type;
};
std::vector<MountEntry> ParseMountTable(const std::string &mountTable);
// The text of /proc/self/mounts; empty when it cannot be read.
std::string ReadMountTable();

// Mount points of local disk file systems (devices under /dev, no loop
// devices), each ending with "/", in the order of the mount table.
std::vector<std::string> ListFixedDrives();
// The same from mount-table text in the form of /proc/self/mounts.
std::vector<std::string> FixedDrivesOfMountTable(const std::string &mountTable);

// True when the free bytes available to this user on the file system of the
// path are strictly more than needed. A path whose folders do not exist yet
// is asked folder by folder upwards to its root ("/a/b/c", "/a/b", "/a", "/").
// False when no part of the path can be asked.
// The free-space query gives the free bytes available to the caller, nothing
// on failure; an empty one asks statvfs.
using FreeSpaceQuery = std::function<std::optional<uint64_t>(const std::string &path)>;
bool HasEnoughDiskSpace(std::string_view path, uint64_t neededBytes,
                        const FreeSpaceQuery &freeSpace = {});

} // namespace krv::setup
