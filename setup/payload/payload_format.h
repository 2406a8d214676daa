// The package format: what is appended to the setup program's file.
//
//   [program][entry contents ...][entry table][name table][footer]
//
// The payload base is where the package starts (usually the end of the
// program). All numbers are little-endian 32-bit; offsets count from the
// payload base, so a package can be copied behind another program as it is.
//
// Footer (76 bytes, the file's last bytes; found by a backward search for
// its magic, FindPayloadFooter):
//   0  name-table records        4  name-table offset
//   8  entry-table records      12  format version (100)
//  16  distance from the payload base to the footer
//  20  entry-table offset       24  reserved
//  28  package id: 32 hex digits, the MD5 of the file without its last 76
//      bytes
//  60  container flags          64  magic (10 bytes)     74  reserved
//
// Entry record: set id, type, entry flags, size, offset, name length, then
// the name (UTF-8, no terminator). Name record: key, text length, text.
//
// The magic is never stored in the program as one constant: it is put
// together at run time (PayloadMagic), so that a program without a package
// does not find a footer in its own code.
//
// Scrambling. Content whose entry flag kEntryScrambled is set is stored
// scrambled over a window of its byte stream: the bytes at stream positions
// start <= p < start + length (start 0, length KRV_SCRAMBLE_WINDOW = 512)
// are XORed with
//     kScrambleKey[p % 16] ^ (uint8_t)(p * 0x9D + 0x3B)
// and every other byte is stored as it is. The transform is its own
// inverse, so the builder scrambles with the same routine that the program
// unscrambles with. It hides the heads of the files (names, magic numbers)
// from a casual look; it is not encryption.
#pragma once

#include "extraction_api.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace krv::setup::payload {

inline constexpr std::size_t kFooterSize = 76;
inline constexpr std::size_t kMagicSize = 10;
inline constexpr std::size_t kMagicOffset = 64;
inline constexpr uint32_t kFormatVersion = 100;
inline constexpr std::size_t kEntryRecordSize = 24;
inline constexpr std::size_t kNameRecordSize = 8;
inline constexpr std::size_t kPackageIdSize = 32;

// The 10-byte footer magic, built at run time.
std::string PayloadMagic();

// Container flags (footer offset 60).
namespace container {
inline constexpr uint32_t kSeparateFiles = 0x1;
inline constexpr uint32_t kHasSettings = 0x2;
inline constexpr uint32_t kCheckIntegrity = 0x4;
inline constexpr uint32_t kMainPackageMsi = 0x8;
inline constexpr uint32_t kExtractAllowed = 0x10;
inline constexpr uint32_t kLanguageDialog = 0x20;
inline constexpr uint32_t kSeparateGroups = 0x40;
inline constexpr uint32_t kPatch = 0x80;
inline constexpr uint32_t kPreferUserLanguages = 0x100;
inline constexpr uint32_t kSettingsEntry = 0x200;
inline constexpr uint32_t kRelatedLanguage1 = 0x400;
inline constexpr uint32_t kRelatedLanguage2 = 0x800;
inline constexpr uint32_t kNeedsPassword = 0x1000;
} // namespace container

// Entry flags.
inline constexpr uint32_t kEntryKeep = 0x1;      // main-package file the default mode keeps
inline constexpr uint32_t kEntryScrambled = 0x2; // content passes the window transform

// Entry types and set ids the program reads.
namespace entry_type {
inline constexpr uint32_t kMainPackage = 0;
inline constexpr uint32_t kSettings = 3;
inline constexpr uint32_t kPrerequisite = 4;
inline constexpr uint32_t kSecondFolder = 5;
inline constexpr uint32_t kJarGroup = 6;
inline constexpr uint32_t kMsiGroup = 7;
inline constexpr uint32_t kExtractionLibrary = 8;
inline constexpr uint32_t kPrerequisiteGroup = 9;
inline constexpr uint32_t kSecondFolderGroup = 10;
inline constexpr uint32_t kDetectionProgram = 11;
inline constexpr uint32_t kLanguageLibrary = 12;
} // namespace entry_type

namespace set_id {
inline constexpr uint32_t kSettings = 0;
inline constexpr uint32_t kMainPackage = 1;
inline constexpr uint32_t kExtractionLibrary = 2;
inline constexpr uint32_t kMsiMainPackage = 3;
inline constexpr uint32_t kFirstFurtherSet = 100; // sets above 99
} // namespace set_id

// Name-table keys.
namespace name_key {
inline constexpr uint32_t kMainPackage = 0;
inline constexpr uint32_t kSettings = 3;
inline constexpr uint32_t kSecondGroup = 6;
inline constexpr uint32_t kFirstGroup = 7;
} // namespace name_key

inline bool IsGroupType(uint32_t type) {
    return type == entry_type::kJarGroup || type == entry_type::kMsiGroup ||
           type == entry_type::kPrerequisiteGroup || type == entry_type::kSecondFolderGroup;
}

struct PayloadFooter {
    uint32_t nameCount = 0;
    uint32_t nameTableOffset = 0;
    uint32_t entryCount = 0;
    uint32_t version = kFormatVersion;
    uint32_t footerDistance = 0;
    uint32_t entryTableOffset = 0;
    uint32_t reserved = 0;
    std::array<char, kPackageIdSize> packageId{};
    uint32_t flags = 0;
    bool magicPresent = false; // decoded: the magic stood at offset 64
};

std::array<unsigned char, kFooterSize> EncodeFooter(const PayloadFooter &footer);
PayloadFooter DecodeFooter(const unsigned char *bytes);

struct PayloadEntry {
    uint32_t setId = 0;
    uint32_t type = 0;
    uint32_t flags = 0;
    uint32_t size = 0;
    uint32_t offset = 0;
    std::string name;
    bool extracted = false; // in memory only
};

struct PayloadNameRecord {
    uint32_t key = 0;
    std::string text;
};

void PutU32(unsigned char *at, uint32_t value);
uint32_t GetU32(const unsigned char *at);
std::string EncodeEntryRecord(const PayloadEntry &entry);
std::string EncodeNameRecord(const PayloadNameRecord &record);

// The window transform over a byte stream.
class PayloadWindowDescrambler {
  public:
    PayloadWindowDescrambler() = default;
    // Transforms the buffer in place; the running position advances by its
    // length.
    void Transform(unsigned char *buffer, std::size_t length);
    // Starts a new pass: running position 0, window of the given length.
    void SetWindowLength(uint32_t length);
    // Nothing is transformed until the next SetWindowLength.
    void ClearWindowLength();
    // The C table the extraction library calls.
    const KrvDescrambler *Table();

  private:
    uint64_t m_start = 0;
    uint64_t m_length = KRV_SCRAMBLE_WINDOW;
    uint64_t m_position = 0;
    KrvDescrambler m_table{};
};

} // namespace krv::setup::payload
