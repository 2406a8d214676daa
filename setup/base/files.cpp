#include "files.h"

#include "file_open.h"
#include "log.h"
#include "paths.h"
#include "run_stop.h"
#include "ui_strings.h"
#include "unique_fd.h"

#include <setup_system.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace krv::setup {

namespace {

bool StatPath(std::string_view path, struct stat &st) {
    return ::stat(ToNativePath(path).c_str(), &st) == 0;
}

std::optional<uint64_t> StatvfsFreeBytes(const std::string &path) {
    struct statvfs s {};
    if (::statvfs(path.c_str(), &s) != 0)
        return std::nullopt;
    return static_cast<uint64_t>(s.f_bavail) * static_cast<uint64_t>(s.f_frsize);
}

// Octal escapes of the mount table (\040 for a blank).
std::string UnescapeMountField(const std::string &field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

} // namespace

int CreateFolderTree(std::string_view path, bool lastIsFolder, std::vector<std::string> *created) {
    if (path.empty())
        return ENOENT;
    if (FileOrFolderExists(path))
        return 0;
    std::string_view body = HasLongPathPrefix(path) ? path.substr(4) : path;
    std::vector<std::string> parts = SplitPath(body);
    std::string current;
    std::size_t first = 0;
    if (!body.empty() && IsPathSeparator(body[0]) && !IsUncPath(body)) {
        current.clear(); // an absolute path: every component is a folder below "/"
    } else {
        current = parts.front();
        first = 1;
    }
    std::size_t end = lastIsFolder ? parts.size() : (parts.empty() ? 0 : parts.size() - 1);
    std::vector<std::string> made;
    for (std::size_t i = first; i < end; ++i) {
        std::string candidate = current + "/" + parts[i];
        if (::mkdir(ToNativePath(candidate).c_str(), 0777) != 0) {
            int error = errno;
            if (error != EEXIST) {
                // Undo only what this call made; folders that were there
                // before stay whatever their content.
                for (auto it = made.rbegin(); it != made.rend(); ++it)
                    ::rmdir(ToNativePath(*it).c_str());
                if (created && created->size() >= made.size())
                    created->resize(created->size() - made.size());
                return error;
            }
        } else {
            made.push_back(candidate);
            if (created)
                created->push_back(candidate);
        }
        current = candidate;
    }
    return 0;
}

namespace {

// Works on native paths only: a name found on disk may hold a backslash,
// which must never be read as a separator (a folder named "..\x" would
// otherwise point outside the tree).
void DeleteFolderContents(const fs::path &root) {
    std::error_code ec;
    fs::directory_iterator it(root, ec);
    if (ec)
        return;
    std::vector<fs::path> entries;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        entries.push_back(it->path());
    }
    for (const auto &entry : entries) {
        auto status = fs::symlink_status(entry, ec);
        if (ec)
            continue;
        if (fs::is_directory(status)) {
            DeleteFolderContents(entry);
            ::rmdir(entry.c_str());
        } else {
            ::unlink(entry.c_str());
        }
    }
}

} // namespace

void DeleteFolderTree(std::string_view folder) {
    DeleteFolderContents(fs::path(ToNativePath(folder)));
}

void RemoveEmptyFolderChain(std::string_view folder, std::string_view base) {
    std::string current = ToNativePath(folder);
    std::string stop = ToNativePath(base);
    while (current.size() > 1 && current.back() == '/')
        current.pop_back();
    if (!stop.empty() && stop.back() == '/')
        stop.pop_back();
    while (current.size() > stop.size()) {
        ::rmdir(current.c_str());
        current = GetFolderPart(current);
        if (current.empty())
            break;
    }
}

bool PathExists(std::string_view path) {
    if (path == ".")
        return true;
    if (path.empty())
        return false;
    struct stat st {};
    if (StatPath(path, st))
        return S_ISDIR(st.st_mode);
    return false;
}

bool FileOrFolderExists(std::string_view path) {
    if (path.empty())
        return false;
    if (!IsPathSeparator(path[0]) && path.find(':') == std::string_view::npos)
        return false;
    struct stat st {};
    return StatPath(path, st);
}

bool QueryFileSize(std::string_view path, uint32_t &size) {
    const UniqueFd file = OpenForReading(ToNativePath(path));
    if (!file.valid())
        return false;
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<uint64_t>(st.st_size) > UINT32_MAX)
        return false;
    size = static_cast<uint32_t>(st.st_size);
    return true;
}

uint32_t GetPathFileSize(std::string_view path) {
    uint32_t size = 0;
    return QueryFileSize(path, size) ? size : 0;
}

bool ReadTextFile(std::string_view path, std::string &text) {
    // Only a regular file: a folder opens as a stream but has no text, and
    // a pipe or device would block the read or never end it.
    constexpr uint64_t kMaxTextFileBytes = 64u << 20;
    std::string read;
    if (platform::ReadRegularFile(ToNativePath(path), kMaxTextFileBytes, read) !=
        platform::FileError::None)
        return false;
    text = std::move(read);
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0)
        text.resize(text.size() - 2);
    return true;
}

bool MakeTempFileNameWithPrefix(std::string_view prefix, std::string &name) {
    std::string folder = GetTempFolder();
    if (folder.empty())
        return false;
    std::string stem = TruncateUtf8(prefix, 3);
    SanitizeFileName(stem);
    std::string pattern = ToNativePath(folder) + stem + "XXXXXX";
    int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(pattern.c_str());
    name = pattern;
    return true;
}

std::string MakePrivateTempFolder(std::string_view prefix) {
    const std::string folder = GetTempFolder();
    if (folder.empty())
        return {};
    std::string pattern = ToNativePath(folder) + std::string(prefix) + "XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

void RemoveEmptyFolders(std::string_view folder) {
    const std::string native = ToNativePath(folder);
    std::error_code ec;
    std::vector<std::string> inside;
    for (auto it = fs::recursive_directory_iterator(native, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec))
            inside.push_back(it->path().string());
    // Deepest first: a folder is empty only once its subfolders went.
    std::sort(inside.begin(), inside.end(),
              [](const std::string &a, const std::string &b) { return a.size() > b.size(); });
    for (const std::string &path : inside)
        ::rmdir(path.c_str());
    ::rmdir(native.c_str());
}

RunWorkFolder::~RunWorkFolder() {
    if (!m_path.empty()) {
        // Removed before it is dropped: a stop in between takes it whole.
        RemoveEmptyFolders(m_path);
        DropRemovedOnStop(m_path.substr(0, m_path.size() - 1));
    }
}

const std::string &RunWorkFolder::Get() {
    if (m_path.empty()) {
        // Made and registered in one step: a stop's end never falls between.
        const auto hold = HoldStopTakes();
        m_path = MakePrivateTempFolder("TelmarSetup-");
        if (!m_path.empty()) {
            // A run stopped between its steps takes it away whole.
            AddRemovedOnStop(m_path, true);
            m_path += "/";
        }
    }
    return m_path;
}

namespace {

// A folder of this user on which nobody else has the permissions of the mask.
bool OwnFolder(const struct stat &info, mode_t othersMask) {
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & othersMask) == 0;
}

// A folder of this user's, closed to others, that no one but root and this
// user can change a folder on the way to (links resolved): its path without
// links, else empty. With `make` it is made (0700) when missing, and its
// missing parents with it when `withParents`; the way is looked at first,
// so that nothing is made in a folder another user could change (or rename
// away later, and the lock with it).
std::string OwnPrivateFolder(const std::string &folder, bool make, bool withParents = false) {
    if (folder.empty() || folder[0] != '/')
        return {};
    if (make && !withParents && !platform::CheckFolderChain(GetFolderPart(folder)).trusted())
        return {};
    const platform::FolderChain chain =
        make ? platform::MakeFolderChain(folder, 0700) : platform::CheckFolderChain(folder);
    struct stat info {};
    if (!chain.trusted() || ::lstat(chain.resolved.c_str(), &info) != 0 || !OwnFolder(info, 077))
        return {};
    return chain.resolved;
}

// "krv-setup" in the data folder, made (with the data folder) when missing.
std::string DataRuntimeFolder(std::string data) {
    if (data.empty())
        return {};
    if (data.back() != '/')
        data += '/';
    return OwnPrivateFolder(data + "krv-setup", true, true);
}

// "krv-setup-<uid>" in the temporary folder, else "krv-setup" in the user's
// own data folder.
std::string FallbackRuntimeFolder() {
    const std::string temp = GetTempFolder();
    if (!temp.empty()) {
        std::string folder =
            OwnPrivateFolder(ToNativePath(temp) + "krv-setup-" + std::to_string(::geteuid()), true);
        if (!folder.empty())
            return folder;
    }
    // Another user took that name in the shared temporary folder first: the
    // user's own data folder is one nobody else can take.
    std::string data;
    if (!GetFolderPathByCsidl(0x1C, data) || data.empty())
        return {};
    return DataRuntimeFolder(ToNativePath(data));
}

} // namespace

std::string UserRuntimeFolder() {
    std::string folder;
    if (GetEnvironmentText("XDG_RUNTIME_DIR", folder)) {
        folder = OwnPrivateFolder(folder, false);
        if (!folder.empty())
            return folder;
    }
    return FallbackRuntimeFolder();
}

std::string RootRuntimeFolder(const std::string &root, uid_t uid) {
    if (root.empty())
        return {};
    std::string folder = ToNativePath(root);
    AddTrailingBackslash(folder);
    // A first run may find no root at all yet: its parents are made too,
    // as the system has them (0755, whatever the umask).
    const platform::FolderChain parents = platform::MakeFolderChain(folder + "run/user", 0755);
    if (!parents.trusted())
        return {};
    folder = parents.resolved + "/" + std::to_string(uid);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    // Only a folder of this user, not a link, and private to it.
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != uid ||
        ((info.st_mode & 077) && ::chmod(folder.c_str(), 0700) != 0))
        return {};
    return folder;
}

std::string UserLockFolder() {
    // From the root and the user alone: a run from a desktop session (with
    // XDG_RUNTIME_DIR), one through sudo (without) and the login's autostart
    // all find the same folder. Each place is taken only when no other user
    // could rename it away (and the lock with it), and nothing is made in
    // one before that is known.
    const std::string root = platform::SetupRootDirectory();
    const uid_t self = ::geteuid();
    std::string folder = root.empty() ? OwnPrivateFolder("/run/user/" + std::to_string(self), false)
                                      : RootRuntimeFolder(root, self);
    if (!folder.empty())
        return folder;
    // The system's temporary folder (of the root), not TMPDIR's; then the
    // data folder below the home folder, not XDG_DATA_HOME's (nor the
    // temporary folder's fallback, which follows TMPDIR).
    folder = OwnPrivateFolder(ToNativePath(root) + "/tmp/krv-setup-" + std::to_string(self), true);
    const std::string home = platform::HomeDirectory();
    if (folder.empty() && !home.empty())
        folder = DataRuntimeFolder(home + "/.local/share");
    return folder;
}

std::string ResumableDownloadFolder(const std::string &packageId) {
    std::string id = packageId;
    SanitizeFileName(id);
    if (id.empty())
        return {};
    std::string cache;
    if (platform::SetupRootDirectory().empty())
        cache = platform::GetEnvironmentVariable("XDG_CACHE_HOME").value_or("");
    if (cache.empty() || cache[0] != '/')
        cache = platform::HomeDirectory() + "/.cache";
    // Looked at before anything is made: nothing lands in a folder another
    // user could change, and what is refused stays as it was.
    const std::string folder = cache + "/krv-setup/" + id;
    const platform::FolderChain chain = platform::MakeFolderChain(folder, 0700);
    const char *why = nullptr;
    if (!chain.trusted()) {
        why = platform::FolderChainText(chain);
    } else {
        const UniqueFd opened(
            ::open(chain.resolved.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat info {};
        if (!opened.valid() || ::fstat(opened.get(), &info) != 0)
            why = "cannot be opened";
        else if (info.st_uid != ::geteuid())
            why = platform::FolderRefusalText(platform::FolderRefusal::OtherOwner);
        else if ((info.st_mode & 077) && ::fchmod(opened.get(), 0700) != 0)
            why = "cannot be made private";
    }
    if (why) {
        LogLine("Downloads are not kept for a later run: " +
                (chain.failedAt.empty() ? folder : chain.failedAt) + " " + why +
                "; remove or fix that folder.");
        return {};
    }
    return chain.resolved + "/";
}

void RemoveEmptyDownloadFolder(const std::string &folder) {
    // Subfolders the downloads made go with it; a file kept (a cancelled
    // download's .part, one KeepFiles keeps) keeps its folders.
    if (!folder.empty())
        RemoveEmptyFolders(folder);
}

namespace {

const char *OwnFileFolderRefusal(platform::FolderRefusal refusal) {
    switch (refusal) {
    case platform::FolderRefusal::Link:
        return "its folder is a symbolic link";
    case platform::FolderRefusal::OtherOwner:
        return "its folder is owned by another user";
    case platform::FolderRefusal::OpenToOthers:
        return "its folder may be written by another user";
    case platform::FolderRefusal::None:
    case platform::FolderRefusal::NotFolder:
        break;
    }
    return "its folder cannot be opened";
}

} // namespace

OwnFile OpenOwnFile(std::string_view path, bool stickyFolder) {
    OwnFile file;
    const auto [folderPath, leaf] = platform::SplitFolderAndName(ToNativePath(path));
    // Below a folder others may write (the shared temporary folder) no link
    // is followed and no folder of another user is entered: nobody else can
    // point the path at a file of ours somewhere else. Nothing is made.
    const platform::OpenedFolder folder =
        platform::OpenFolderPath(folderPath, {}, nullptr, /*makeMissing=*/false);
    struct stat info {};
    if (!folder || ::fstat(folder.fd.get(), &info) != 0) {
        file.refusal = OwnFileFolderRefusal(folder.refusal);
        return file;
    }
    // The owner of a sticky folder may still rename what others keep in it.
    const uid_t self = ::geteuid();
    const bool sticky =
        stickyFolder && (info.st_mode & S_ISVTX) && (info.st_uid == self || info.st_uid == 0);
    if (!sticky && !OwnFolder(info, S_IWGRP | S_IWOTH)) {
        file.refusal = OwnFileFolderRefusal(info.st_uid != self && info.st_uid != 0
                                                ? platform::FolderRefusal::OtherOwner
                                                : platform::FolderRefusal::OpenToOthers);
        return file;
    }
    UniqueFd fd(
        ::openat(folder.fd.get(), leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        file.refusal = errno == ELOOP ? "it is a symbolic link" : "it cannot be opened";
        return file;
    }
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        file.refusal = "it is not a regular file";
        return file;
    }
    if (info.st_uid != self) {
        file.refusal = "it is owned by another user";
        return file;
    }
    // A file of this user with a second name may be one that someone else
    // linked here (where the system lets anyone link any file): not a file
    // this run wrote.
    if (info.st_nlink != 1) {
        file.refusal = "it has another name";
        return file;
    }
    if (sticky && (info.st_mode & (S_IWGRP | S_IWOTH))) {
        file.refusal = "it may be written by another user";
        return file;
    }
    file.fd = std::move(fd);
    file.size = static_cast<uint64_t>(info.st_size);
    file.device = static_cast<uint64_t>(info.st_dev);
    file.inode = static_cast<uint64_t>(info.st_ino);
    return file;
}

void MakeOwnerExecutable(std::string_view path) {
    const UniqueFd fd(
        ::open(ToNativePath(path).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (fd.valid() && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) &&
        info.st_uid == ::geteuid() && (info.st_mode & S_IXUSR) == 0)
        ::fchmod(fd.get(), (info.st_mode & 07777) | S_IXUSR);
}

std::string MakeTempFileName() {
    std::string name;
    return MakeTempFileNameWithPrefix("log", name) ? name : std::string();
}

std::vector<MountEntry> ParseMountTable(const std::string &mountTable) {
    std::vector<MountEntry> entries;
    std::istringstream in(mountTable);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        MountEntry entry;
        if (!(fields >> entry.device >> entry.point))
            continue;
        fields >> entry.type;
        entry.device = UnescapeMountField(entry.device);
        entry.point = UnescapeMountField(entry.point);
        entry.type = UnescapeMountField(entry.type);
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string ReadMountTable() {
    constexpr uint64_t kMaxMountTableBytes = 16u << 20;
    std::string table;
    if (platform::ReadRegularFile("/proc/self/mounts", kMaxMountTableBytes, table) !=
        platform::FileError::None)
        table.clear();
    return table;
}

std::vector<std::string> ListFixedDrives() {
    return FixedDrivesOfMountTable(ReadMountTable());
}

std::vector<std::string> FixedDrivesOfMountTable(const std::string &mountTable) {
    std::vector<std::string> drives;
    for (const MountEntry &entry : ParseMountTable(mountTable)) {
        if (entry.device.compare(0, 5, "/dev/") != 0 ||
            entry.device.compare(0, 9, "/dev/loop") == 0)
            continue;
        std::string point = entry.point;
        AddTrailingBackslash(point);
        if (std::find(drives.begin(), drives.end(), point) == drives.end())
            drives.push_back(point);
    }
    return drives;
}

bool HasEnoughDiskSpace(std::string_view path, uint64_t neededBytes,
                        const FreeSpaceQuery &freeSpace) {
    std::string work = ToNativePath(path);
    while (work.size() > 1 && work.back() == '/')
        work.pop_back();
    if (work.empty())
        return false;
    for (;;) {
        if (auto free = freeSpace ? freeSpace(work) : StatvfsFreeBytes(work))
            return *free > neededBytes;
        // The folder may not exist yet: ask its parent.
        if (work == "/")
            return false;
        std::size_t cut = work.rfind('/');
        if (cut == std::string::npos)
            return false;
        work = cut == 0 ? std::string("/") : work.substr(0, cut);
    }
}

} // namespace krv::setup
