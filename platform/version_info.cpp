#include "version_info.h"

#include <cstring>
#include <elf.h>
#include <fstream>
#include <iterator>
#include <vector>

#include <sys/stat.h>

namespace krv::platform {

namespace {

// Reads the whole file; version notes live in small shared libraries, and
// every offset below is checked against the real size.
bool ReadAll(const std::string &path, std::vector<unsigned char> &out) {
    // Only a regular file: a pipe or a device in its place would block the
    // read or never end it.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool InRange(size_t size, uint64_t offset, uint64_t length) {
    return offset <= size && length <= size - offset;
}

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
        if (next > end) return std::nullopt;
        if (type == KRV_VERSION_NOTE_TYPE && namesz == 4 && std::memcmp(&file[nameOff], "KRV", 4) == 0 &&
            descsz >= 8) {
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

std::optional<FileVersion> ReadFileVersion(const std::string &path) {
    std::vector<unsigned char> file;
    if (!ReadAll(path, file) || file.size() < sizeof(Elf64_Ehdr)) return std::nullopt;
    Elf64_Ehdr eh;
    std::memcpy(&eh, file.data(), sizeof eh);
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
        eh.e_shentsize != sizeof(Elf64_Shdr))
        return std::nullopt;
    if (!InRange(file.size(), eh.e_shoff, uint64_t{eh.e_shnum} * sizeof(Elf64_Shdr)))
        return std::nullopt;
    for (unsigned i = 0; i < eh.e_shnum; ++i) {
        Elf64_Shdr sh;
        std::memcpy(&sh, &file[eh.e_shoff + i * sizeof(Elf64_Shdr)], sizeof sh);
        if (sh.sh_type != SHT_NOTE || !InRange(file.size(), sh.sh_offset, sh.sh_size)) continue;
        if (auto v = FindNote(file, sh.sh_offset, sh.sh_size)) return v;
    }
    return std::nullopt;
}

} // namespace krv::platform
