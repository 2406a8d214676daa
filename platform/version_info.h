// Version numbers carried inside an ELF file, in place of Windows version
// resources. A library declares its version with KRV_DECLARE_FILE_VERSION;
// the linker keeps it in a note section ".note.krv.version" (note name "KRV",
// type 1, description four 16-bit numbers major, minor, release, build).
// ReadFileVersion() finds it by reading the file's section headers: the file
// is never loaded or run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#define KRV_VERSION_NOTE_TYPE 1

// The note as it lies in the section: namesz, descsz, type, "KRV\0", 4 x u16.
#define KRV_DECLARE_FILE_VERSION(major, minor, release, build)                                     \
    extern "C" __attribute__((section(".note.krv.version"), used, aligned(4))) const struct {      \
        uint32_t namesz, descsz, type;                                                             \
        char name[4];                                                                              \
        uint16_t v[4];                                                                             \
    } krv_file_version_note = {                                                                    \
        4, 8, KRV_VERSION_NOTE_TYPE, {'K', 'R', 'V', 0}, {major, minor, release, build}}

namespace krv::platform {

struct FileVersion {
    uint16_t major = 0, minor = 0, release = 0, build = 0;
};

// A section of an ELF file (32- or 64-bit, little-endian) by name, read
// without loading the file; nothing when the file is not a regular ELF file,
// is damaged, has no such section or a larger one than maxSize.
std::optional<std::string> ReadElfSection(const std::string &path, const char *sectionName,
                                          size_t maxSize);

// The version the file carries; nothing when the file is missing, is not an
// ELF file of this machine's class, or carries no version note.
std::optional<FileVersion> ReadFileVersion(const std::string &path);

} // namespace krv::platform
