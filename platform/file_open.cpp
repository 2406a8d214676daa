#include "file_open.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <deque>

#include <sys/stat.h>

namespace krv::platform {

const char *FileErrorText(FileError error) {
    switch (error) {
    case FileError::None:
        return "no error";
    case FileError::Missing:
        return "no such file";
    case FileError::NotRegular:
        return "not a regular file";
    case FileError::TooLarge:
        return "file too large";
    case FileError::Failed:
        break;
    }
    return "cannot be read";
}

OpenedFile OpenRegularFile(const std::string &path, int flags, mode_t mode) {
    OpenedFile file;
    int fd = -1;
    do
        fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // ENXIO: a pipe with no reader, or a device that is not there;
        // EISDIR: a folder opened for writing.
        file.error = errno == ENOENT || errno == ENOTDIR                    ? FileError::Missing
                     : errno == ENXIO || errno == EISDIR || errno == ENODEV ? FileError::NotRegular
                                                                            : FileError::Failed;
        return file;
    }
    UniqueFd holder(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        file.error = FileError::Failed;
        return file;
    }
    if (!S_ISREG(info.st_mode)) {
        file.error = FileError::NotRegular;
        return file;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        file.error = FileError::Failed;
        return file;
    }
    file.size = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
    file.fd = std::move(holder);
    return file;
}

FileError ReadRegularFile(const std::string &path, uint64_t maxBytes, std::string &out) {
    out.clear();
    OpenedFile file = OpenRegularFile(path);
    if (!file)
        return file.error;
    if (file.size > maxBytes)
        return FileError::TooLarge;
    std::string text;
    text.reserve(static_cast<std::size_t>(file.size));
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(file.fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return FileError::Failed;
        if (n == 0)
            break;
        // The file may grow while it is read: the bound holds for what is read.
        if (static_cast<uint64_t>(n) > maxBytes - text.size())
            return FileError::TooLarge;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    out = std::move(text);
    return FileError::None;
}

bool WriteFully(int fd, const void *data, std::size_t size) {
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ReplaceFileAtomically(const std::string &path, std::string_view content, mode_t mode) {
    // Unique within the process, and the pid keeps processes apart.
    static std::atomic<unsigned> counter{0};
    const std::string temporary =
        path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1));
    UniqueFd fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
    if (!fd.valid())
        return false;
    bool ok = WriteFully(fd.get(), content.data(), content.size()) && ::fsync(fd.get()) == 0;
    ok = ::close(fd.release()) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    SyncFolder(SplitFolderAndName(path).folder);
    return true;
}

FolderAndName SplitFolderAndName(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

void SyncFolder(const std::string &folder) {
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid())
        ::fsync(dir.get());
}

const char *FolderRefusalText(FolderRefusal refusal) {
    switch (refusal) {
    case FolderRefusal::None:
        break;
    case FolderRefusal::Link:
        return "is a symbolic link";
    case FolderRefusal::NotFolder:
        return "is not a folder";
    case FolderRefusal::OtherOwner:
        return "is owned by another user";
    case FolderRefusal::OpenToOthers:
        return "is writable by other users";
    }
    return "";
}

namespace {

// The resolution limit of the kernel for links in one path.
constexpr int kMaxLinks = 40;

struct PathPart {
    std::string name;
    bool mayFollow; // a part of the base (or of a link's target)
};

void AppendParts(std::deque<PathPart> &parts, std::string_view path, bool mayFollow, bool atFront) {
    std::vector<PathPart> split;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view name = path.substr(0, slash);
        if (!name.empty() && name != ".")
            split.push_back({std::string(name), mayFollow});
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
    }
    if (atFront)
        parts.insert(parts.begin(), split.begin(), split.end());
    else
        parts.insert(parts.end(), split.begin(), split.end());
}

// One open folder of the walk.
struct WalkLevel {
    UniqueFd fd;
    std::string path;
    bool shared; // this folder or one above it may be written by others
};

// Starts (or starts again, for a link to a full path) the walk at "/".
bool OpenRoot(std::vector<WalkLevel> &levels) {
    UniqueFd root(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat info {};
    if (!root.valid() || ::fstat(root.get(), &info) != 0)
        return false;
    levels.clear();
    levels.push_back({std::move(root), "", (info.st_mode & S_IWOTH) != 0});
    return true;
}

} // namespace

OpenedFolder OpenFolderPath(const std::string &base, std::string_view below,
                            std::vector<std::string> *created, bool makeMissing) {
    OpenedFolder result;
    auto fail = [&](int error, const std::string &at, FolderRefusal refusal) {
        result.error = error;
        result.failedAt = at;
        result.refusal = refusal;
        return std::move(result);
    };
    // A relative base is taken from the current folder, so that every path
    // walked (and every ".." in a link's target) is a full one.
    std::string full = base;
    if (full.empty() || full[0] != '/') {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd))
            return fail(errno, base, FolderRefusal::None);
        full = std::string(cwd) + "/" + full;
    }
    std::vector<WalkLevel> levels;
    if (!OpenRoot(levels))
        return fail(errno, "/", FolderRefusal::None);

    std::deque<PathPart> parts;
    AppendParts(parts, full, true, false);
    AppendParts(parts, below, false, false);
    int links = 0;
    const uid_t self = ::geteuid();
    while (!parts.empty()) {
        const PathPart part = std::move(parts.front());
        parts.pop_front();
        WalkLevel &parent = levels.back();
        const std::string path = parent.path + "/" + part.name;
        if (part.name == "..") {
            if (!part.mayFollow)
                return fail(EINVAL, path, FolderRefusal::None);
            if (levels.size() > 1) // the parent of "/" is "/"
                levels.pop_back();
            continue;
        }
        constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        UniqueFd next(::openat(parent.fd.get(), part.name.c_str(), kFolderFlags));
        bool made = false;
        if (!next.valid() && errno == ENOENT && makeMissing) {
            // Never group- or world-writable, whatever the umask: a folder
            // others may write is one whose files the setup no longer trusts.
            made = ::mkdirat(parent.fd.get(), part.name.c_str(), parent.shared ? 0700 : 0755) == 0;
            if (!made && errno != EEXIST)
                return fail(errno, path, FolderRefusal::None);
            next.reset(::openat(parent.fd.get(), part.name.c_str(), kFolderFlags));
        }
        if (!next.valid()) {
            const int error = errno;
            struct stat info {};
            if ((error != ELOOP && error != ENOTDIR) ||
                ::fstatat(parent.fd.get(), part.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
                return fail(error, path, FolderRefusal::None);
            if (!S_ISLNK(info.st_mode))
                return fail(ENOTDIR, path, FolderRefusal::NotFolder);
            if (parent.shared || !part.mayFollow || ++links > kMaxLinks)
                return fail(ELOOP, path, FolderRefusal::Link);
            std::string target(PATH_MAX, '\0');
            const ssize_t length =
                ::readlinkat(parent.fd.get(), part.name.c_str(), target.data(), target.size());
            if (length <= 0 || static_cast<std::size_t>(length) >= target.size())
                return fail(length < 0 ? errno : ENAMETOOLONG, path, FolderRefusal::None);
            target.resize(static_cast<std::size_t>(length));
            if (target[0] == '/' && !OpenRoot(levels))
                return fail(errno, "/", FolderRefusal::None);
            AppendParts(parts, target, true, true);
            continue;
        }
        struct stat info {};
        if (::fstat(next.get(), &info) != 0)
            return fail(errno, path, FolderRefusal::None);
        if (parent.shared && info.st_uid != self)
            return fail(EPERM, path, FolderRefusal::OtherOwner);
        // A folder of ours that others may write is refused, unless it has
        // the sticky bit: then it is a temporary folder of its own (others
        // may add names to it, never take or replace ours).
        if (parent.shared && !made && (info.st_mode & (S_IWGRP | S_IWOTH)) &&
            !(info.st_mode & S_ISVTX))
            return fail(EPERM, path, FolderRefusal::OpenToOthers);
        if (made && created)
            created->push_back(path);
        const bool shared = parent.shared || (info.st_mode & S_IWOTH);
        levels.push_back({std::move(next), path, shared});
    }
    result.fd = std::move(levels.back().fd);
    return result;
}

namespace {

// The first folder on the way to `path` that is missing, is no folder or
// cannot be entered, for a path that cannot be resolved.
void FindUnreachable(const std::string &path, FolderChain &chain) {
    std::string entered = path[0] == '/' ? "/" : ".";
    for (std::size_t end = 0; end != std::string::npos;) {
        end = path.find('/', end + 1);
        const std::string at = path.substr(0, end);
        if (at.back() == '/')
            continue; // the root, or "//" in the path
        struct stat info {};
        if (::stat(at.c_str(), &info) != 0) {
            chain.error = errno;
            // Not allowed to look into the folder that holds it.
            chain.failedAt = errno == EACCES ? entered : at;
            return;
        }
        if (!S_ISDIR(info.st_mode)) {
            chain.error = 0;
            chain.refusal = FolderRefusal::NotFolder;
            chain.failedAt = at;
            return;
        }
        entered = at;
    }
}

} // namespace

FolderChain CheckFolderChain(const std::string &path) {
    FolderChain chain;
    char resolved[PATH_MAX];
    if (path.empty() || !::realpath(path.c_str(), resolved)) {
        chain.error = path.empty() ? ENOENT : errno;
        chain.failedAt = path;
        if (!path.empty())
            FindUnreachable(path, chain);
        return chain;
    }
    chain.resolved = resolved;
    const uid_t self = ::geteuid();
    // "/", then each folder below it in turn; realpath left no link.
    std::vector<std::string> folders{"/"};
    for (std::size_t slash = chain.resolved.find('/', 1); slash != std::string::npos;
         slash = chain.resolved.find('/', slash + 1))
        folders.push_back(chain.resolved.substr(0, slash));
    if (chain.resolved != "/")
        folders.push_back(chain.resolved);
    for (const std::string &folder : folders) {
        chain.failedAt = folder;
        struct stat info {};
        if (::lstat(folder.c_str(), &info) != 0) {
            chain.error = errno;
            return chain;
        }
        if (!S_ISDIR(info.st_mode))
            chain.refusal = FolderRefusal::NotFolder;
        else if (info.st_uid != 0 && info.st_uid != self)
            chain.refusal = FolderRefusal::OtherOwner;
        else if ((info.st_mode & (S_IWGRP | S_IWOTH)) && !(info.st_mode & S_ISVTX))
            chain.refusal = FolderRefusal::OpenToOthers;
        if (chain.refusal != FolderRefusal::None)
            return chain;
    }
    chain.failedAt.clear();
    return chain;
}

const char *FolderChainText(const FolderChain &chain) {
    if (chain.refusal != FolderRefusal::None)
        return FolderRefusalText(chain.refusal);
    switch (chain.error) {
    case 0:
        return "";
    case ENOENT:
        return "does not exist";
    case ENOTDIR:
        return FolderRefusalText(FolderRefusal::NotFolder);
    case EACCES:
    case EPERM:
        return "is not open to this user (no rights)";
    default:
        break;
    }
    return "cannot be reached";
}

FolderChain MakeFolderChain(const std::string &path, mode_t mode) {
    // The nearest folder that is there, and the names missing below it.
    std::string there = path;
    while (there.size() > 1 && there.back() == '/')
        there.pop_back();
    std::vector<std::string> missing;
    struct stat info {};
    while (!there.empty() && ::lstat(there.c_str(), &info) != 0 && errno == ENOENT) {
        FolderAndName split = SplitFolderAndName(there);
        if (split.name.empty() || split.name == "." || split.name == "..")
            break;
        missing.push_back(std::move(split.name));
        there = std::move(split.folder);
    }
    FolderChain chain = CheckFolderChain(there);
    if (!chain.trusted() || missing.empty())
        return chain;
    constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    UniqueFd at(::open(chain.resolved.c_str(), kFolderFlags));
    std::string made = chain.resolved == "/" ? "" : chain.resolved;
    for (auto name = missing.rbegin(); name != missing.rend() && at.valid(); ++name) {
        made += "/" + *name;
        const bool madeNow = ::mkdirat(at.get(), name->c_str(), mode) == 0;
        if (!madeNow && errno != EEXIST) {
            chain.error = errno;
            chain.failedAt = made;
            chain.resolved.clear();
            return chain;
        }
        UniqueFd next(::openat(at.get(), name->c_str(), kFolderFlags));
        // The umask may have taken rights away that the folder needs.
        if (madeNow && next.valid())
            ::fchmod(next.get(), mode);
        at = std::move(next);
    }
    return CheckFolderChain(path);
}

} // namespace krv::platform
