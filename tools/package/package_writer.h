// Builds a package (setup/payload/payload_format.h) behind a copy of the
// setup program: entries are collected first, then written in order with
// their tables, the name table and the footer with the package id.
//
// Each kind of entry is a content writer that streams its bytes into the
// package; a new kind is one more Add... function that queues a writer.
#pragma once

#include "payload_format.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace krv::package {

// Where an entry's bytes go; scrambles them when the entry asks for it.
class EntryOutput {
  public:
    virtual ~EntryOutput() = default;
    virtual bool Write(const void *data, std::size_t length) = 0;
};

class PackageWriter {
  public:
    using ContentWriter = std::function<bool(EntryOutput &out, std::string &error)>;

    explicit PackageWriter(std::string programPath) : m_program(std::move(programPath)) {}

    void SetContainerFlags(uint32_t flags) { m_flags = flags; }
    uint32_t ContainerFlags() const { return m_flags; }

    // A file stored as it is (entryFlags may hold kEntryScrambled, kEntryKeep).
    void AddFile(uint32_t type, uint32_t set, std::string name, std::string source,
                 uint32_t entryFlags = 0);
    // Bytes given directly.
    void AddBytes(uint32_t type, uint32_t set, std::string name, std::string content,
                  uint32_t entryFlags = 0);
    // Every regular file below the folder as a stored entry named by its
    // relative path, in name order.
    bool AddTree(uint32_t type, uint32_t set, const std::string &folder, std::string &error,
                 uint32_t entryFlags = 0);
    // A compressed group: a folder is packed as tar.xz; a file is taken as a
    // finished group.
    void AddGroup(uint32_t type, uint32_t set, std::string name, std::string source,
                  uint32_t entryFlags = 0);
    // The extraction library (type 8, set 2).
    void AddExtractionLibrary(std::string source);
    // The settings text as an entry (type 3, set 0; sets container flag 0x200).
    void AddSettings(std::string text);
    void AddName(uint32_t key, std::string text);
    // Queues an entry of any kind.
    void AddEntry(uint32_t type, uint32_t set, std::string name, uint32_t entryFlags,
                  ContentWriter content);

    // Writes program + package to the output (through a temporary file that
    // is renamed into place); false with the reason.
    bool Write(const std::string &output, std::string &error) const;

  private:
    struct QueuedEntry {
        uint32_t type, set, flags;
        std::string name;
        ContentWriter content;
    };
    std::string m_program;
    uint32_t m_flags = 0;
    std::vector<QueuedEntry> m_entries;
    std::vector<setup::payload::PayloadNameRecord> m_names;
};

// Packs the folder as a tar.xz stream (members named by relative path, in
// name order; links kept as links).
bool WriteTarXz(const std::string &folder, EntryOutput &out, std::string &error);

} // namespace krv::package
