#include "file_open.h"

#include <atomic>
#include <cerrno>

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
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid())
        ::fsync(dir.get());
    return true;
}

} // namespace krv::platform
