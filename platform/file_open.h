// Opening a file that may turn out to be anything: the one way the programs
// open a file they read, or a log they append to; and the one way they write
// a file whole.
//
// A named pipe, a device or a folder can stand where a file was expected, and
// a file can be far larger than anything it should hold. The open never
// blocks (O_NONBLOCK: a pipe without a writer or reader cannot hang it), the
// descriptor is never inherited by a child (O_CLOEXEC) nor becomes a
// controlling terminal (O_NOCTTY), anything but a regular file is refused,
// and the non-blocking flag is cleared again once the file is known regular.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace krv::platform {

// A file descriptor that closes itself; moves hand it over.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) noexcept : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : m_fd(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() noexcept {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1) noexcept {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

  private:
    int m_fd;
};

enum class FileError {
    None,
    Missing,    // no such file (or a folder on the way is missing)
    NotRegular, // a folder, pipe, device or socket stands there
    TooLarge,   // larger than the caller reads whole
    Failed,     // no permission, an I/O error, ...
};

// A short English reason for logs and error texts.
const char *FileErrorText(FileError error);

struct OpenedFile {
    UniqueFd fd;
    uint64_t size = 0; // at the open
    FileError error = FileError::None;
    explicit operator bool() const { return fd.valid(); }
};

// Opens `path` with `flags` (O_RDONLY; O_WRONLY | O_APPEND | O_CREAT for a
// log) as described above.
OpenedFile OpenRegularFile(const std::string &path, int flags = O_RDONLY, mode_t mode = 0644);

// Reads a whole regular file of at most `maxBytes` bytes (files of the kernel
// that tell a size of 0 are read to their end, under the same bound).
FileError ReadRegularFile(const std::string &path, uint64_t maxBytes, std::string &out);

// Writes all `size` bytes, resuming after a signal or a short write. False
// on an error (errno tells which; EIO when the file took nothing).
bool WriteFully(int fd, const void *data, std::size_t size);

// Replaces the file at `path` with `content` in one rename: the text goes to
// a new temporary name beside it, is synced, renamed over the target, and the
// folder is synced. A reader sees the old file or the new one, never a part.
// False when a step fails; the temporary file is then removed.
bool ReplaceFileAtomically(const std::string &path, std::string_view content, mode_t mode = 0644);
// The folder a file's path lies in ("." for a bare name, "/" at the root)
// and the file's name in it: what an openat() in that folder takes.
struct FolderAndName {
    std::string folder;
    std::string name;
};
FolderAndName SplitFolderAndName(const std::string &path);
// Flushes the folder's entries (a name made, renamed or removed in it) to
// disk; nothing when it cannot be opened.
void SyncFolder(const std::string &folder);

// Why a folder on the way was refused.
enum class FolderRefusal {
    None,
    Link,         // a symbolic link stands where a folder is taken
    NotFolder,    // a file or something else stands there
    OtherOwner,   // below a folder others may write, owned by another user
    OpenToOthers, // below a folder others may write, writable by group or others
};

// A short English reason, to follow the folder's path in a log line.
const char *FolderRefusalText(FolderRefusal refusal);

struct OpenedFolder {
    UniqueFd fd;
    int error = 0; // errno of the failure (EPERM, ELOOP or ENOTDIR for a refusal)
    FolderRefusal refusal = FolderRefusal::None;
    std::string failedAt; // the folder that failed or was refused
    explicit operator bool() const { return fd.valid(); }
};

// Opens the folder `below` inside `base` for a program that writes files
// there which are run later, making each folder that is missing. Folders are
// opened one at a time from a descriptor of their parent.
//
// Once the walk has passed a folder that others may write (the shared
// temporary folder), another user could have made any folder below it first,
// or swap what lies in it between our write and its use. From there on no
// link is followed, every folder must be owned by this process's effective
// user, and one this walk did not make must not be writable by group or
// others unless it has the sticky bit (a temporary folder of this user's);
// missing folders are made with mode 0700 there, and 0755 above it (never
// writable by others, whatever the umask). Above that point the
// links of `base` are followed (they lie where only trusted users write);
// `below` never passes through a link, and ".." in it is refused (EINVAL).
// Each folder made is appended to *created with its path as walked. Without
// makeMissing nothing is made: a missing folder fails with ENOENT (for a
// caller that only looks at what is there).
OpenedFolder OpenFolderPath(const std::string &base, std::string_view below,
                            std::vector<std::string> *created = nullptr, bool makeMissing = true);

// Whether only root and this process's effective user can change what the
// folder `path` holds: every folder from "/" down to it (links resolved)
// belongs to root or to this user, and none may be written by group or
// others unless it has the sticky bit (as /tmp: others may add names there,
// never take or replace ours). `resolved` is the folder's path without
// links, the one to use from then on (a link on the way could be changed
// later); `failedAt` and `refusal` say why not. A path that cannot be
// reached names the first folder on the way that is missing (error ENOENT),
// is no folder (refusal NotFolder) or cannot be entered (EACCES: failedAt
// is the folder this user has no rights to look into).
struct FolderChain {
    std::string resolved;
    std::string failedAt;
    FolderRefusal refusal = FolderRefusal::None;
    int error = 0;
    bool trusted() const { return error == 0 && refusal == FolderRefusal::None; }
    // Refused because another user could change it, not because it cannot
    // be used at all.
    bool othersCouldChange() const {
        return refusal == FolderRefusal::Link || refusal == FolderRefusal::OtherOwner ||
               refusal == FolderRefusal::OpenToOthers;
    }
};
FolderChain CheckFolderChain(const std::string &path);

// A short English reason, to follow the chain's failedAt in a log line
// ("does not exist", "is owned by another user", ...).
const char *FolderChainText(const FolderChain &chain);

// The folder `path` made when missing, each missing folder on the way with
// exactly `mode` (whatever the umask), and only once the nearest folder
// that is there passed CheckFolderChain: nothing is ever made in a folder
// another user could change. The chain of `path` as it then is.
FolderChain MakeFolderChain(const std::string &path, mode_t mode);

} // namespace krv::platform
