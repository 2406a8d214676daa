#include "package_writer.h"

#include "file_open.h"
#include "md5.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace krv::package {

using namespace setup::payload;
namespace fs = std::filesystem;

namespace {

// Counts the bytes of one entry and scrambles its window when asked.
class FileEntryOutput : public EntryOutput {
  public:
    FileEntryOutput(int fd, bool scrambled) : m_fd(fd), m_scrambled(scrambled) {
        m_scrambler.SetWindowLength(KRV_SCRAMBLE_WINDOW);
    }
    bool Write(const void *data, std::size_t length) override {
        if (!m_scrambled)
            return Count(platform::WriteFully(m_fd, data, length), length);
        std::vector<unsigned char> copy(static_cast<const unsigned char *>(data),
                                        static_cast<const unsigned char *>(data) + length);
        m_scrambler.Transform(copy.data(), copy.size());
        return Count(platform::WriteFully(m_fd, copy.data(), copy.size()), length);
    }
    uint64_t Size() const { return m_size; }

  private:
    bool Count(bool ok, std::size_t length) {
        if (ok)
            m_size += length;
        return ok;
    }
    int m_fd;
    bool m_scrambled;
    PayloadWindowDescrambler m_scrambler;
    uint64_t m_size = 0;
};

// Hands the file's bytes to `sink` block by block. False when the file
// cannot be read (with the reason in `error`) or `sink` refuses a block
// (`error` left to the caller).
bool StreamFile(const std::string &source,
                const std::function<bool(const char *data, std::size_t size)> &sink,
                std::string &error) {
    const platform::UniqueFd fd(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        error = "cannot open " + source + ": " + std::strerror(errno);
        return false;
    }
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = "cannot read " + source + ": " + std::strerror(errno);
            return false;
        }
        if (got == 0)
            return true;
        if (!sink(buffer.data(), static_cast<std::size_t>(got)))
            return false;
    }
}

bool CopyFileInto(const std::string &source, EntryOutput &out, std::string &error) {
    return StreamFile(
        source,
        [&](const char *data, std::size_t size) {
            if (out.Write(data, size))
                return true;
            error = std::string("cannot write the package: ") + std::strerror(errno);
            return false;
        },
        error);
}

la_ssize_t WriteArchiveBlock(struct archive *, void *data, const void *buffer, size_t length) {
    return static_cast<EntryOutput *>(data)->Write(buffer, length) ? static_cast<la_ssize_t>(length)
                                                                   : -1;
}

} // namespace

bool WriteTarXz(const std::string &folder, EntryOutput &out, std::string &error) {
    std::vector<fs::path> paths;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
         it.increment(ec))
        paths.push_back(it->path());
    if (ec) {
        error = "cannot list " + folder + ": " + ec.message();
        return false;
    }
    std::sort(paths.begin(), paths.end());
    struct archive *writer = archive_write_new();
    struct archive *disk = archive_read_disk_new();
    archive_write_set_format_pax_restricted(writer);
    archive_write_add_filter_xz(writer);
    archive_write_set_bytes_in_last_block(writer, 1);
    bool ok = archive_write_open(writer, &out, nullptr, WriteArchiveBlock, nullptr) == ARCHIVE_OK;
    for (const fs::path &path : paths) {
        if (!ok)
            break;
        struct archive_entry *entry = archive_entry_new();
        archive_entry_copy_sourcepath(entry, path.c_str());
        if (archive_read_disk_entry_from_file(disk, entry, -1, nullptr) != ARCHIVE_OK) {
            archive_entry_free(entry);
            error = "cannot read " + path.string();
            ok = false;
            break;
        }
        archive_entry_copy_pathname(entry, path.lexically_relative(folder).c_str());
        archive_entry_set_uid(entry, 0);
        archive_entry_set_gid(entry, 0);
        archive_entry_set_uname(entry, "root");
        archive_entry_set_gname(entry, "root");
        ok = archive_write_header(writer, entry) == ARCHIVE_OK;
        if (ok && archive_entry_filetype(entry) == AE_IFREG && archive_entry_size(entry) > 0)
            ok = StreamFile(
                path.string(),
                [&](const char *data, std::size_t size) {
                    return archive_write_data(writer, data, size) == static_cast<la_ssize_t>(size);
                },
                error);
        archive_entry_free(entry);
        if (!ok && error.empty())
            error = "cannot pack " + path.string() + ": " + archive_error_string(writer);
    }
    if (archive_write_close(writer) != ARCHIVE_OK && ok) {
        error = std::string("cannot finish the group: ") + archive_error_string(writer);
        ok = false;
    }
    archive_write_free(writer);
    archive_read_free(disk);
    return ok;
}

void PackageWriter::AddEntry(uint32_t type, uint32_t set, std::string name, uint32_t entryFlags,
                             ContentWriter content) {
    m_entries.push_back({type, set, entryFlags, std::move(name), std::move(content)});
}

void PackageWriter::AddFile(uint32_t type, uint32_t set, std::string name, std::string source,
                            uint32_t entryFlags) {
    AddEntry(type, set, std::move(name), entryFlags,
             [source](EntryOutput &out, std::string &error) {
                 return CopyFileInto(source, out, error);
             });
}

void PackageWriter::AddBytes(uint32_t type, uint32_t set, std::string name, std::string content,
                             uint32_t entryFlags) {
    AddEntry(type, set, std::move(name), entryFlags, [content](EntryOutput &out, std::string &) {
        return out.Write(content.data(), content.size());
    });
}

bool PackageWriter::AddTree(uint32_t type, uint32_t set, const std::string &folder,
                            std::string &error, uint32_t entryFlags) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
         it.increment(ec))
        if (it->is_regular_file(ec) && !it->is_symlink(ec))
            files.push_back(it->path());
    if (ec) {
        error = "cannot list " + folder + ": " + ec.message();
        return false;
    }
    std::sort(files.begin(), files.end());
    for (const fs::path &file : files)
        AddFile(type, set, file.lexically_relative(folder).string(), file.string(), entryFlags);
    return true;
}

void PackageWriter::AddGroup(uint32_t type, uint32_t set, std::string name, std::string source,
                             uint32_t entryFlags) {
    AddEntry(type, set, std::move(name), entryFlags,
             [source](EntryOutput &out, std::string &error) {
                 std::error_code ec;
                 return fs::is_directory(source, ec) ? WriteTarXz(source, out, error)
                                                     : CopyFileInto(source, out, error);
             });
}

void PackageWriter::AddExtractionLibrary(std::string source) {
    AddFile(entry_type::kExtractionLibrary, set_id::kExtractionLibrary, "libkrv_extraction.so",
            std::move(source));
}

void PackageWriter::AddSettings(std::string text) {
    m_flags |= container::kSettingsEntry;
    AddBytes(entry_type::kSettings, set_id::kSettings, "settings.ini", std::move(text));
}

void PackageWriter::AddName(uint32_t key, std::string text) {
    m_names.push_back({key, std::move(text)});
}

bool PackageWriter::Write(const std::string &output, std::string &error) const {
    const std::string temporary = output + ".part";
    const int fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    if (fd < 0) {
        error = "cannot create " + temporary + ": " + std::strerror(errno);
        return false;
    }
    auto fail = [&](const std::string &why) {
        error = why;
        ::close(fd);
        ::unlink(temporary.c_str());
        return false;
    };
    FileEntryOutput program(fd, false);
    if (!CopyFileInto(m_program, program, error))
        return fail(error);
    const uint64_t base = program.Size();
    uint64_t position = base;
    std::string entryTable;
    auto offsetFits = [](uint64_t value) { return value <= UINT32_MAX; };
    for (const QueuedEntry &queued : m_entries) {
        FileEntryOutput out(fd, queued.flags & kEntryScrambled);
        if (!queued.content(out, error))
            return fail(queued.name + ": " + error);
        if (!offsetFits(position - base) || !offsetFits(out.Size()))
            return fail(queued.name + ": the package would pass 4 GiB");
        PayloadEntry entry;
        entry.type = queued.type;
        entry.setId = queued.set;
        entry.flags = queued.flags;
        entry.size = static_cast<uint32_t>(out.Size());
        entry.offset = static_cast<uint32_t>(position - base);
        entry.name = queued.name;
        entryTable += EncodeEntryRecord(entry);
        position += out.Size();
    }
    PayloadFooter footer;
    footer.flags = m_flags;
    footer.entryCount = static_cast<uint32_t>(m_entries.size());
    footer.entryTableOffset = static_cast<uint32_t>(position - base);
    std::string nameTable;
    for (const PayloadNameRecord &name : m_names)
        nameTable += EncodeNameRecord(name);
    footer.nameCount = static_cast<uint32_t>(m_names.size());
    footer.nameTableOffset = static_cast<uint32_t>(position - base + entryTable.size());
    const uint64_t footerAt = position + entryTable.size() + nameTable.size();
    if (!offsetFits(footerAt - base))
        return fail("the package would pass 4 GiB");
    footer.footerDistance = static_cast<uint32_t>(footerAt - base);
    std::memset(footer.packageId.data(), '0', footer.packageId.size());
    const auto placeholder = EncodeFooter(footer);
    if (!platform::WriteFully(fd, entryTable.data(), entryTable.size()) ||
        !platform::WriteFully(fd, nameTable.data(), nameTable.size()) ||
        !platform::WriteFully(fd, placeholder.data(), placeholder.size()))
        return fail(std::string("cannot write the tables: ") + std::strerror(errno));
    // The package id: the MD5 of everything but the footer.
    std::string id;
    if (!setup::ComputeFileMd5Hex(temporary, kFooterSize, id) || id.size() != kPackageIdSize)
        return fail("cannot hash " + temporary);
    std::memcpy(footer.packageId.data(), id.data(), kPackageIdSize);
    const auto bytes = EncodeFooter(footer);
    if (::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(footerAt)) !=
            static_cast<ssize_t>(bytes.size()) ||
        ::fsync(fd) != 0)
        return fail(std::string("cannot write the footer: ") + std::strerror(errno));
    ::close(fd);
    if (::rename(temporary.c_str(), output.c_str()) != 0) {
        error = "cannot rename to " + output + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace krv::package
