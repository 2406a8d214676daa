#include "installer_package.h"

#include "file_open.h"
#include "files.h"
#include "group_reader.h"
#include "paths.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace krv::setup {

namespace {

// The reader does not own the descriptor it reads from: the deleter closes
// it after the reader is freed.
struct ReadArchiveFree {
    int fd = -1;
    void operator()(archive *a) const {
        archive_read_free(a);
        if (fd >= 0)
            ::close(fd);
    }
};
struct WriteArchiveFree {
    void operator()(archive *a) const { archive_write_free(a); }
};
struct EntryFree {
    void operator()(archive_entry *e) const { archive_entry_free(e); }
};
using ReadArchive = std::unique_ptr<archive, ReadArchiveFree>;
using WriteArchive = std::unique_ptr<archive, WriteArchiveFree>;
using Entry = std::unique_ptr<archive_entry, EntryFree>;

ReadArchive OpenForReading(std::string_view path) {
    // A package is a regular file: a pipe under its name would block the
    // open until something writes to it. The file checked is the one read,
    // so nothing can be swapped in under the name between the two.
    platform::OpenedFile file = platform::OpenRegularFile(ToNativePath(path));
    if (!file)
        return {};
    archive *raw = archive_read_new();
    if (!raw)
        return {};
    const int fd = file.fd.release();
    ReadArchive a(raw, ReadArchiveFree{fd});
    archive_read_support_filter_xz(a.get());
    archive_read_support_format_tar(a.get());
    if (archive_read_open_fd(a.get(), fd, 64 * 1024) != ARCHIVE_OK)
        return {};
    return a;
}

std::string ArchiveError(archive *a, std::string_view what) {
    const char *text = a ? archive_error_string(a) : nullptr;
    return std::string(what) + (text ? std::string(": ") + text : std::string());
}

// The current entry's data as text, refused beyond the table limit.
std::optional<std::string> ReadTable(archive *a, archive_entry *entry) {
    if (archive_entry_size_is_set(entry) &&
        archive_entry_size(entry) > la_int64_t(kPackageTableLimit))
        return std::nullopt;
    std::string text;
    char buffer[16384];
    for (;;) {
        const la_ssize_t n = archive_read_data(a, buffer, sizeof buffer);
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return text;
        if (text.size() + std::size_t(n) > kPackageTableLimit)
            return std::nullopt;
        text.append(buffer, std::size_t(n));
    }
}

std::vector<std::pair<std::string, std::string>> SplitTabLines(std::string_view text, bool &ok) {
    std::vector<std::pair<std::string, std::string>> rows;
    ok = true;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty())
            continue;
        const std::size_t tab = line.find('\t');
        if (tab == 0 || tab == std::string_view::npos ||
            line.find('\t', tab + 1) != std::string_view::npos) {
            ok = false;
            return {};
        }
        rows.emplace_back(std::string(line.substr(0, tab)), std::string(line.substr(tab + 1)));
    }
    return rows;
}

std::string TableText(const std::vector<std::pair<std::string, std::string>> &rows,
                      std::string &error) {
    std::string text;
    for (const auto &[name, value] : rows) {
        const auto bad = [](const std::string &s) {
            return s.find_first_of("\t\n\r") != std::string::npos;
        };
        if (name.empty() || bad(name) || bad(value)) {
            error = "a table row holds a tab or a line break: " + name;
            return {};
        }
        text += name + '\t' + value + '\n';
    }
    return text;
}

bool AddEntry(archive *a, const std::string &name, mode_t type, int perm, const std::string &data,
              std::string &error, const std::string &linkTarget = {}) {
    Entry entry(archive_entry_new());
    archive_entry_set_pathname(entry.get(), name.c_str());
    archive_entry_set_filetype(entry.get(), type);
    if (type == AE_IFLNK)
        archive_entry_set_symlink(entry.get(), linkTarget.c_str());
    archive_entry_set_perm(entry.get(), perm);
    archive_entry_set_size(entry.get(), type == AE_IFREG ? la_int64_t(data.size()) : 0);
    if (archive_write_header(a, entry.get()) != ARCHIVE_OK) {
        error = ArchiveError(a, "cannot write the entry " + name);
        return false;
    }
    if (!data.empty() &&
        archive_write_data(a, data.data(), data.size()) != la_ssize_t(data.size())) {
        error = ArchiveError(a, "cannot write the entry " + name);
        return false;
    }
    return true;
}

bool AddFile(archive *a, const std::string &name, const std::filesystem::path &source, int perm,
             std::string &error) {
    const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        error = "cannot read " + source.string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    std::string data;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        data.resize(std::size_t(st.st_size));
        std::size_t got = 0;
        while (ok && got < data.size()) {
            const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            ok = n > 0;
            if (ok)
                got += std::size_t(n);
        }
    }
    ::close(fd);
    if (!ok) {
        error = "cannot read " + source.string();
        return false;
    }
    return AddEntry(a, name, AE_IFREG, perm, data, error);
}

// Opens the folder `relative` below the folder `base` one component at a
// time, creating what is missing, and never through a symbolic link: a link
// an earlier entry made cannot carry a later one out of the install folder,
// whatever its text says. An invalid descriptor (errno set) on failure.
platform::UniqueFd OpenFolderBelow(int base, std::string_view relative) {
    platform::UniqueFd at(::fcntl(base, F_DUPFD_CLOEXEC, 0));
    std::size_t pos = 0;
    while (at.valid() && pos < relative.size()) {
        std::size_t end = relative.find('/', pos);
        if (end == std::string_view::npos)
            end = relative.size();
        const std::string part(relative.substr(pos, end - pos));
        pos = end + 1;
        if (::mkdirat(at.get(), part.c_str(), 0755) != 0 && errno != EEXIST)
            return platform::UniqueFd();
        const int next =
            ::openat(at.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        at.reset(next);
        errno = error;
    }
    return at;
}

} // namespace

std::optional<std::map<std::string, std::string>> ParsePropertyTable(std::string_view text) {
    bool ok = false;
    auto rows = SplitTabLines(text, ok);
    if (!ok)
        return std::nullopt;
    std::map<std::string, std::string> table;
    for (auto &[name, value] : rows)
        if (!table.emplace(std::move(name), std::move(value)).second)
            return std::nullopt; // a property given twice
    return table;
}

std::optional<std::vector<PackageInstance>> ParseInstanceTable(std::string_view text) {
    bool ok = false;
    auto rows = SplitTabLines(text, ok);
    if (!ok)
        return std::nullopt;
    std::vector<PackageInstance> instances;
    for (auto &[name, code] : rows) {
        if (code.empty())
            return std::nullopt;
        instances.push_back({std::move(name), std::move(code)});
    }
    return instances;
}

std::optional<PackageDatabase> OpenPackageDatabase(std::string_view path) {
    ReadArchive a = OpenForReading(path);
    if (!a)
        return std::nullopt;
    PackageDatabase database;
    database.path = std::string(path);
    bool haveProperties = false;
    archive_entry *entry = nullptr;
    for (;;) {
        const int r = archive_read_next_header(a.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK)
            return std::nullopt;
        const char *name = archive_entry_pathname(entry);
        const std::string_view entryName = name ? name : "";
        if (entryName == kPackagePropertyEntry || entryName == kPackageInstanceEntry) {
            const auto text = ReadTable(a.get(), entry);
            if (!text)
                return std::nullopt;
            if (entryName == kPackagePropertyEntry) {
                auto table = ParsePropertyTable(*text);
                if (!table || haveProperties)
                    return std::nullopt;
                database.properties = std::move(*table);
                haveProperties = true;
            } else {
                auto table = ParseInstanceTable(*text);
                if (!table)
                    return std::nullopt;
                database.instances = std::move(*table);
            }
            continue;
        }
        // The tables lead the archive; the first file ends the search.
        if (haveProperties)
            break;
        if (archive_read_data_skip(a.get()) != ARCHIVE_OK)
            return std::nullopt;
    }
    if (!haveProperties)
        return std::nullopt;
    return database;
}

std::optional<std::string> QueryMsiProperty(const PackageDatabase &database,
                                            std::string_view name) {
    const auto it = database.properties.find(std::string(name));
    if (it == database.properties.end())
        return std::nullopt;
    return it->second;
}

bool RecordedFileName(std::string_view relative) {
    if (relative.empty() || relative.find_first_of("\\\n") != std::string_view::npos)
        return false;
    std::size_t pos = 0;
    while (pos <= relative.size()) {
        std::size_t end = relative.find('/', pos);
        if (end == std::string_view::npos)
            end = relative.size();
        const std::string_view part = relative.substr(pos, end - pos);
        if (part.empty() || part == "." || part == "..")
            return false;
        pos = end + 1;
    }
    return true;
}

std::optional<std::string> SafeRelativeEntryPath(std::string_view entryName) {
    if (entryName.substr(0, kPackageFilesPrefix.size()) != kPackageFilesPrefix)
        return std::nullopt;
    std::string_view rest = entryName.substr(kPackageFilesPrefix.size());
    if (!rest.empty() && rest.back() == '/')
        rest.remove_suffix(1); // a folder entry
    if (!RecordedFileName(rest) || std::any_of(rest.begin(), rest.end(), IsControlCharacter))
        return std::nullopt;
    return std::string(rest);
}

bool ListPackageEntries(std::string_view packagePath, std::vector<std::string> &names,
                        std::string &error) {
    names.clear();
    ReadArchive a = OpenForReading(packagePath);
    if (!a) {
        error = "cannot open the package " + std::string(packagePath);
        return false;
    }
    archive_entry *entry = nullptr;
    for (;;) {
        const int r = archive_read_next_header(a.get(), &entry);
        if (r == ARCHIVE_EOF)
            return true;
        if (r != ARCHIVE_OK || archive_read_data_skip(a.get()) != ARCHIVE_OK) {
            error = ArchiveError(a.get(), "the package is damaged");
            return false;
        }
        const char *name = archive_entry_pathname(entry);
        names.emplace_back(name ? name : "");
    }
}

PackageExtraction ExtractPackageFiles(std::string_view packagePath, std::string_view targetFolder,
                                      const std::function<bool()> &cancelled,
                                      const std::function<void(std::string_view)> &step) {
    PackageExtraction result;
    ReadArchive a = OpenForReading(packagePath);
    if (!a) {
        result.error = "cannot open the package " + std::string(packagePath);
        return result;
    }
    const std::string target = ToNativePath(targetFolder);
    const int made = CreateFolderTree(target, true);
    const platform::UniqueFd targetFd(
        made != 0 ? -1 : ::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!targetFd.valid()) {
        result.error =
            "cannot open the folder " + target + ": " + std::strerror(made != 0 ? made : errno);
        return result;
    }
    archive_entry *entry = nullptr;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        if (cancelled && cancelled()) {
            result.cancelled = true;
            return result;
        }
        const int r = archive_read_next_header(a.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK) {
            result.error = ArchiveError(a.get(), "the package is damaged");
            return result;
        }
        const char *rawName = archive_entry_pathname(entry);
        const std::string_view name = rawName ? rawName : "";
        if (name == kPackagePropertyEntry || name == kPackageInstanceEntry)
            continue;
        const auto relative = SafeRelativeEntryPath(name);
        const mode_t type = archive_entry_filetype(entry);
        // A link is kept when its target stays inside the install folder
        // (a library's version names); any other is refused.
        const char *rawLink = type == AE_IFLNK ? archive_entry_symlink(entry) : nullptr;
        const bool insideLink =
            relative && rawLink && extraction::SafeLinkTarget(*relative, rawLink);
        if (!relative || (type != AE_IFREG && type != AE_IFDIR && !insideLink)) {
            result.error =
                "the package holds an entry that is not a file to install: " + std::string(name);
            return result;
        }
        const std::string path = target + "/" + *relative;
        const std::size_t slash = relative->rfind('/');
        const std::string leaf =
            slash == std::string::npos ? *relative : relative->substr(slash + 1);
        const std::string_view folders =
            type == AE_IFDIR
                ? std::string_view(*relative)
                : std::string_view(*relative).substr(0, slash == std::string::npos ? 0 : slash);
        const platform::UniqueFd folder = OpenFolderBelow(targetFd.get(), folders);
        if (!folder.valid()) {
            const int error = errno;
            result.error =
                error == ELOOP || error == ENOTDIR
                    ? "the package places an entry through a link or a file: " + std::string(name)
                    : "cannot create the folder for " + path + ": " + std::strerror(error);
            return result;
        }
        PackageFile file;
        file.relativePath = *relative;
        file.folder = type == AE_IFDIR;
        file.executable = (archive_entry_perm(entry) & 0111) != 0;
        if (file.folder) {
            result.files.push_back(file);
            continue;
        }
        if (step)
            step("write");
        if (insideLink) {
            // Like a file, never made over an existing name.
            file.executable = false;
            file.linkTarget = rawLink;
            if (::symlinkat(rawLink, folder.get(), leaf.c_str()) != 0) {
                result.error = "cannot create " + path + ": " + std::strerror(errno);
                return result;
            }
            result.files.push_back(file);
            continue;
        }
        // A name given twice, or a folder where a file goes, fails here:
        // nothing is ever written through an existing path. The package's
        // mode may take rights away, never give others the right to write
        // or the program another user's rights; the umask has no say.
        const mode_t mode = archive_entry_perm(entry) & 0755;
        const int fd = ::openat(folder.get(), leaf.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 || ::fchmod(fd, mode) != 0) {
            result.error = "cannot create " + path + ": " + std::strerror(errno);
            if (fd >= 0)
                ::close(fd);
            return result;
        }
        bool ok = true;
        for (;;) {
            const la_ssize_t n = archive_read_data(a.get(), buffer.data(), buffer.size());
            if (n < 0) {
                result.error =
                    ArchiveError(a.get(), "the package is damaged at " + file.relativePath);
                ok = false;
                break;
            }
            if (n == 0)
                break;
            if (!platform::WriteFully(fd, buffer.data(), std::size_t(n))) {
                result.error = "cannot write " + path + ": " + std::strerror(errno);
                ok = false;
                break;
            }
            file.size += uint64_t(n);
        }
        if (::fsync(fd) != 0 && ok) {
            result.error = "cannot write " + path + ": " + std::strerror(errno);
            ok = false;
        }
        ::close(fd);
        if (!ok)
            return result;
        result.files.push_back(file);
    }
    result.ok = true;
    return result;
}

std::string WriteInstallerPackage(std::string_view packagePath,
                                  const std::map<std::string, std::string> &properties,
                                  const std::vector<PackageInstance> &instances,
                                  std::string_view sourceTree) {
    std::string error;
    const std::string propertyText = TableText({properties.begin(), properties.end()}, error);
    if (!error.empty())
        return error;
    std::vector<std::pair<std::string, std::string>> instanceRows;
    for (const PackageInstance &instance : instances)
        instanceRows.emplace_back(instance.name, instance.productCode);
    const std::string instanceText = TableText(instanceRows, error);
    if (!error.empty())
        return error;

    // The tree, sorted so that the same tree always gives the same package.
    const std::filesystem::path root(ToNativePath(sourceTree));
    std::vector<std::filesystem::path> paths;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        paths.push_back(it->path());
    if (ec)
        return "cannot list " + root.string() + ": " + ec.message();
    std::sort(paths.begin(), paths.end());

    const std::string target = ToNativePath(packagePath);
    const std::string temporary = target + ".tmp." + std::to_string(::getpid());
    {
        WriteArchive a(archive_write_new());
        // The fast end of xz: the programs shrink nearly as well, in a
        // fraction of the time.
        if (!a || archive_write_add_filter_xz(a.get()) != ARCHIVE_OK ||
            archive_write_set_filter_option(a.get(), "xz", "compression-level", "1") !=
                ARCHIVE_OK ||
            archive_write_set_format_pax_restricted(a.get()) != ARCHIVE_OK ||
            archive_write_open_filename(a.get(), temporary.c_str()) != ARCHIVE_OK)
            return ArchiveError(a.get(), "cannot create " + temporary);
        bool ok = AddEntry(a.get(), std::string(kPackagePropertyEntry), AE_IFREG, 0644,
                           propertyText, error);
        if (ok && !instances.empty())
            ok = AddEntry(a.get(), std::string(kPackageInstanceEntry), AE_IFREG, 0644, instanceText,
                          error);
        for (const auto &path : paths) {
            if (!ok)
                break;
            const std::string name =
                std::string(kPackageFilesPrefix) + path.lexically_relative(root).generic_string();
            auto status = std::filesystem::symlink_status(path, ec);
            std::filesystem::path source = path;
            if (!ec && std::filesystem::is_symlink(status)) {
                // A link to a file of the tree (a library's version names)
                // is stored as that link when its own text stays inside the
                // tree, else as a copy of the file; any other link is refused.
                source = std::filesystem::canonical(path, ec);
                const auto inside = source.lexically_relative(std::filesystem::canonical(root, ec));
                status = std::filesystem::status(source, ec);
                if (ec || inside.empty() || *inside.begin() == ".." ||
                    !std::filesystem::is_regular_file(status)) {
                    error = "a link that leaves the tree: " + path.string();
                    ok = false;
                    continue;
                }
                const std::string text = std::filesystem::read_symlink(path, ec).string();
                if (!ec && extraction::SafeLinkTarget(
                               path.lexically_relative(root).generic_string(), text)) {
                    ok = AddEntry(a.get(), name, AE_IFLNK, 0777, {}, error, text);
                    continue;
                }
                ec.clear();
            }
            if (ec) {
                error = "not a plain file: " + path.string();
                ok = false;
            } else if (std::filesystem::is_directory(status)) {
                ok = AddEntry(a.get(), name + "/", AE_IFDIR, 0755, {}, error);
            } else if (std::filesystem::is_regular_file(status)) {
                const bool exec = (status.permissions() & std::filesystem::perms::owner_exec) !=
                                  std::filesystem::perms::none;
                ok = AddFile(a.get(), name, source, exec ? 0755 : 0644, error);
            } else {
                error = "not a plain file: " + path.string();
                ok = false;
            }
        }
        if (ok && archive_write_close(a.get()) != ARCHIVE_OK) {
            error = ArchiveError(a.get(), "cannot finish " + temporary);
            ok = false;
        }
        if (!ok) {
            ::unlink(temporary.c_str());
            return error;
        }
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        error = "cannot rename " + temporary + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return error;
    }
    return {};
}

} // namespace krv::setup
