#include "version_info.h"

#include "file_open.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <elf.h>
#include <vector>

namespace krv::platform {

namespace {

std::optional<FileVersion> FindNote(const std::vector<unsigned char> &file, uint64_t off,
                                    uint64_t len) {
    const uint64_t end = off + len;
    while (off + 12 <= end) {
        uint32_t namesz, descsz, type;
        std::memcpy(&namesz, &file[off], 4);
        std::memcpy(&descsz, &file[off + 4], 4);
        std::memcpy(&type, &file[off + 8], 4);
        uint64_t nameOff = off + 12;
        uint64_t descOff = nameOff + ((uint64_t{namesz} + 3) & ~uint64_t{3});
        uint64_t next = descOff + ((uint64_t{descsz} + 3) & ~uint64_t{3});
        if (next > end)
            return std::nullopt;
        if (type == KRV_VERSION_NOTE_TYPE && namesz == 4 &&
            std::memcmp(&file[nameOff], "KRV", 4) == 0 && descsz >= 8) {
            FileVersion v;
            uint16_t parts[4];
            std::memcpy(parts, &file[descOff], 8);
            v.major = parts[0];
            v.minor = parts[1];
            v.release = parts[2];
            v.build = parts[3];
            return v;
        }
        off = next;
    }
    return std::nullopt;
}

} // namespace

// Reads a section of an ELF file by name; nothing when the file is not ELF,
// is damaged or has no such section. Every offset and size in the file is
// checked against the file's length before it is used.
std::optional<std::string> ReadElfSection(const std::string &path, const char *sectionName,
                                          std::size_t maxSize) {
    // Only a regular file: a pipe or a device in its place would block the
    // read or never end it.
    const OpenedFile file = OpenRegularFile(path);
    if (!file)
        return std::nullopt;
    const uint64_t fileSize = file.size;
    auto readAt = [&](uint64_t offset, void *out, uint64_t size) {
        if (offset > fileSize || size > fileSize - offset)
            return false;
        auto *bytes = static_cast<char *>(out);
        uint64_t done = 0;
        while (done < size) {
            const ssize_t n = ::pread(file.fd.get(), bytes + done, size - done,
                                      static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<uint64_t>(n);
        }
        return true;
    };
    unsigned char ident[EI_NIDENT];
    if (!readAt(0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0 ||
        ident[EI_DATA] != ELFDATA2LSB)
        return std::nullopt;

    struct Section {
        uint32_t name;
        uint64_t offset, size;
        uint32_t type;
    };
    std::vector<Section> sections;
    uint16_t stringIndex = 0;
    if (ident[EI_CLASS] == ELFCLASS64) {
        Elf64_Ehdr h;
        if (!readAt(0, &h, sizeof h) || h.e_shentsize != sizeof(Elf64_Shdr) || h.e_shnum == 0)
            return std::nullopt;
        stringIndex = h.e_shstrndx;
        for (uint16_t i = 0; i < h.e_shnum; ++i) {
            Elf64_Shdr s;
            if (!readAt(h.e_shoff + uint64_t(i) * sizeof s, &s, sizeof s))
                return std::nullopt;
            sections.push_back({s.sh_name, s.sh_offset, s.sh_size, s.sh_type});
        }
    } else if (ident[EI_CLASS] == ELFCLASS32) {
        Elf32_Ehdr h;
        if (!readAt(0, &h, sizeof h) || h.e_shentsize != sizeof(Elf32_Shdr) || h.e_shnum == 0)
            return std::nullopt;
        stringIndex = h.e_shstrndx;
        for (uint16_t i = 0; i < h.e_shnum; ++i) {
            Elf32_Shdr s;
            if (!readAt(h.e_shoff + uint64_t(i) * sizeof s, &s, sizeof s))
                return std::nullopt;
            sections.push_back({s.sh_name, s.sh_offset, s.sh_size, s.sh_type});
        }
    } else {
        return std::nullopt;
    }
    if (stringIndex >= sections.size() || sections[stringIndex].size > (1u << 20))
        return std::nullopt;
    std::string names(sections[stringIndex].size, '\0');
    if (!readAt(sections[stringIndex].offset, names.data(), names.size()))
        return std::nullopt;
    for (const auto &s : sections) {
        if (s.name >= names.size() || s.type == SHT_NOBITS)
            continue;
        if (std::strcmp(names.c_str() + s.name, sectionName) != 0)
            continue; // names are NUL-terminated within the table: c_str() stops at the end
        if (s.size > maxSize)
            return std::nullopt;
        std::string data(s.size, '\0');
        if (!readAt(s.offset, data.data(), data.size()))
            return std::nullopt;
        return data;
    }
    return std::nullopt;
}

std::optional<FileVersion> ReadFileVersion(const std::string &path) {
    const auto section = ReadElfSection(path, ".note.krv.version", 4096);
    if (!section)
        return std::nullopt;
    const std::vector<unsigned char> notes(section->begin(), section->end());
    return FindNote(notes, 0, notes.size());
}

} // namespace krv::platform
