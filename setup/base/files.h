// Files and folders on disk: folder trees, existence and size tests, text
// files, temporary names, drives and free space. Paths follow the rules of
// paths.h ("\" and "/" both separate; "/" is written).
#pragma once

#include "unique_fd.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

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

// The folder of this run's own work files: a new folder "<prefix>XXXXXX" in
// GetTempFolder() made by mkdtemp, so it has mode 0700 and a name no other
// user can have taken first. Native path without a trailing "/"; empty when
// it cannot be made.
std::string MakePrivateTempFolder(std::string_view prefix);
// Removes the empty folders inside the folder (deepest first) and then the
// folder itself when it is empty; files, and the folders that hold them,
// stay. A link is neither followed nor removed.
void RemoveEmptyFolders(std::string_view folder);

// The run's own folder for the work files it would otherwise put into the
// shared temporary folder: made on first use (MakePrivateTempFolder), and
// removed with the object once the run took out what it placed there; what
// the run keeps (by its keep mode) stays, with the folders that hold it.
class RunWorkFolder {
  public:
    RunWorkFolder() = default;
    ~RunWorkFolder();
    RunWorkFolder(const RunWorkFolder &) = delete;
    RunWorkFolder &operator=(const RunWorkFolder &) = delete;

    // The folder with a trailing "/"; empty when it cannot be made.
    const std::string &Get();

  private:
    std::string m_path;
};

// The folder for this user's runtime files (the progress socket), without a
// trailing "/": $XDG_RUNTIME_DIR when it is a folder of this user that no one
// else may enter, else "krv-setup-<uid>" in GetTempFolder(), else
// "krv-setup" in the user's local data folder (~/.local/share), each made
// with mode 0700 when missing and taken only when it is this user's and
// private and no other user can change a folder on the way. Empty when none
// can be had.
std::string UserRuntimeFolder();
// The folder for this user's single-instance locks, without a trailing "/":
// the system's runtime folder of the effective user, /run/user/<uid> when it
// is this user's and private; under KRV_SETUP_ROOT [root]/run/user/<uid>,
// made when missing (RootRuntimeFolder); else "krv-setup-<uid>" in the
// system's temporary folder (of the root), else "krv-setup" in
// ~/.local/share of the home folder. Each is taken only when no one but
// root and this user can change a folder on the way to it, and nothing is
// made before that is known. It depends on the root and the user alone (not
// on XDG_RUNTIME_DIR, TMPDIR or XDG_DATA_HOME), so every run of the same
// user finds the same folder. Empty when none can be had.
//
// A lock file left there by a run that was killed outright does no harm:
// the folder is the user's own, and the next run takes the file as its own.
std::string UserLockFolder();
// [root]/run/user/<uid> of a trial root, made (with its parents, 0755)
// when missing and private to the user, not a link; without a trailing
// "/". Empty when it cannot be had or another user could change a folder on
// the way.
std::string RootRuntimeFolder(const std::string &root, uid_t uid);

// The folder where this user's downloads of a package wait to be resumed
// by a later run, with a trailing "/": "krv-setup/<package id>" in the
// user's cache folder ($XDG_CACHE_HOME, else ~/.cache; [root]/home/.cache
// under KRV_SETUP_ROOT), mode 0700, taken only when no one but root and
// this user can change a folder on the way to it, and made when missing
// only once that is known (platform::MakeFolderChain). Empty, with a log
// line, when it cannot be had: the run then downloads into a folder of its
// own.
std::string ResumableDownloadFolder(const std::string &packageId);
// Removes that folder at the run's end when nothing waits in it any more.
void RemoveEmptyDownloadFolder(const std::string &folder);

// A file this run may take as its own work, as a download it finds on disk:
// its folder reached without a link or another user's folder below a folder
// others may write (platform::OpenFolderPath), opened for reading without
// following a link and without blocking, a regular file with one name owned
// by this process's user, in a folder owned by this user that neither group
// nor others may write (so nobody else can have placed it or swap it later).
// With stickyFolder, a folder others may write is taken when it has the
// sticky bit, belongs to this user or root and the file is closed to writes
// of others: a file the run made there itself stays its own. `refusal` says
// why not otherwise; `device` and `inode` name the file taken.
struct OwnFile {
    UniqueFd fd;
    uint64_t size = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
    const char *refusal = nullptr; // nullptr when the file is taken
    explicit operator bool() const { return fd.valid(); }
};
OwnFile OpenOwnFile(std::string_view path, bool stickyFolder = false);
// Adds the owner's execute permission to a regular file of this user (a
// setup file the run wrote itself); nothing for a link or another user's file.
void MakeOwnerExecutable(std::string_view path);

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
