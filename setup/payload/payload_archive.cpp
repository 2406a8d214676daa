// Opening the package: the footer search, the entry and name tables, the
// folders and the lookups that need no extraction.
#include "payload_archive.h"

#include "command_line_text.h"
#include "files.h"
#include "log.h"
#include "paths.h"
#include "ui_strings.h"

#include <setup_system.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace krv::setup {

using namespace payload;

namespace {

constexpr std::size_t kSearchWindow = 1024;
constexpr std::size_t kWindowStep = 1014; // windows overlap by the magic's length

std::string SystemText(int error) {
    return std::strerror(error ? error : EIO);
}

} // namespace

bool SafeEntryName(std::string_view name, std::string &relative) {
    relative.clear();
    if (name.empty() || IsPathSeparator(name[0]) || (name.size() >= 2 && name[1] == ':'))
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsPathSeparator(name[end]))
            ++end;
        const std::string_view part = name.substr(start, end - start);
        if (part == ".." || part.find('\0') != std::string_view::npos)
            return false;
        if (!part.empty() && part != ".") {
            if (!relative.empty())
                relative += '/';
            relative += part;
        }
        start = end + 1;
    }
    return !relative.empty();
}

PayloadArchive::PayloadArchive() : m_extractionFolder(GetTempFolder()) {}

PayloadArchive::~PayloadArchive() {
    CleanUpExtraction();
}

int PayloadArchive::SetArchivePath(std::string_view path) {
    m_path = std::string(path);
    if (m_path.empty()) {
        m_path = platform::ExecutablePath();
        if (m_path.empty())
            return payload_result::kNoModuleName;
    }
    m_packageFolder = GetFolderPart(m_path);
    AddTrailingBackslash(m_packageFolder);
    return payload_result::kOk;
}

int PayloadArchive::ReadFailure(int code) {
    m_errorText = FormatUiString(kReadFailureTextId, m_path, SystemText(errno));
    return code;
}

int PayloadArchive::WriteFailure(const std::string &target, int error, int code) {
    m_errorText = FormatUiString(kWriteFailureTextId, target, SystemText(error));
    return code;
}

bool PayloadArchive::ReadAt(uint64_t offset, void *buffer, std::size_t length) {
    if (offset > m_fileSize || length > m_fileSize - offset) {
        errno = EIO;
        return false;
    }
    auto *out = static_cast<char *>(buffer);
    while (length > 0) {
        const ssize_t got = pread(m_file.get(), out, length, static_cast<off_t>(offset));
        if (got <= 0) {
            if (got == 0)
                errno = EIO;
            return false;
        }
        out += got;
        offset += static_cast<uint64_t>(got);
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

int PayloadArchive::OpenArchive() {
    AddTrailingBackslash(m_extractionFolder);
    AddTrailingBackslash(m_secondFolder);
    m_file = OpenForReading(ToNativePath(m_path));
    struct stat info {};
    if (!m_file.valid() || fstat(m_file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return ReadFailure();
    m_fileSize = static_cast<uint64_t>(info.st_size);
    m_packageIdMatches = -1;
    if (const int result = FindPayloadFooter())
        return result;
    m_opened = true;
    if (const int result = ReadEntryTable())
        return result;
    if (const int result = ReadNameTable())
        return result;
    for (PayloadEntry &entry : m_entries)
        entry.extracted = false;
    return payload_result::kOk;
}

int PayloadArchive::FindPayloadFooter() {
    const std::string magic = PayloadMagic();
    std::vector<unsigned char> window(kSearchWindow);
    // Windows step backwards from the end; the last one is clamped to the
    // file's start so that a file shorter than a window, and the first bytes
    // of any file, are searched too.
    bool reachedStart = false;
    for (uint64_t k = 1;; ++k) {
        const uint64_t back = k == 1 ? kSearchWindow : kWindowStep * k;
        if (reachedStart || m_fileSize <= kMagicSize) {
            // Past the file's start: no package was ever appended (the
            // program as built), not a read error.
            m_errorText = FormatUiString(ui_text::kNoPackage, m_path);
            return payload_result::kReadFailed;
        }
        const uint64_t start = back < m_fileSize ? m_fileSize - back : 0;
        reachedStart = start == 0;
        const std::size_t length =
            static_cast<std::size_t>(std::min<uint64_t>(kSearchWindow, m_fileSize - start));
        if (!ReadAt(start, window.data(), length))
            return ReadFailure();
        bool matched = false;
        int64_t found = 0;
        for (std::size_t offset = 0; offset + kMagicSize < length; ++offset) {
            if (std::memcmp(window.data() + offset, magic.data(), kMagicSize) == 0) {
                matched = true; // the last match in the window wins
                found = static_cast<int64_t>(start + offset) - static_cast<int64_t>(kMagicOffset);
                offset += kMagicSize - 1;
            }
        }
        if (!matched)
            continue;
        if (found < 0) {
            errno = EIO;
            return ReadFailure(); // a magic too near the start for a footer
        }
        unsigned char bytes[kFooterSize];
        m_footerPosition = static_cast<uint64_t>(found);
        if (!ReadAt(m_footerPosition, bytes, kFooterSize))
            return ReadFailure();
        m_footer = DecodeFooter(bytes);
        if (!m_footer.magicPresent || m_footer.version != kFormatVersion)
            return payload_result::kBadFooter;
        if (m_footer.footerDistance > m_footerPosition) {
            errno = EIO;
            return ReadFailure(); // the package would start before the file
        }
        m_base = m_footerPosition - m_footer.footerDistance;
        return payload_result::kOk;
    }
}

int PayloadArchive::ReadEntryTable() {
    m_entries.clear();
    if (m_footer.entryCount == 0)
        return payload_result::kOk;
    uint64_t at = m_base + m_footer.entryTableOffset;
    const uint64_t payloadSize = m_footerPosition - m_base;
    // Each record takes at least its fixed part before the footer.
    if (at > m_footerPosition || m_footer.entryCount > (m_footerPosition - at) / kEntryRecordSize) {
        errno = EIO;
        return ReadFailure();
    }
    m_entries.reserve(m_footer.entryCount);
    for (uint32_t i = 0; i < m_footer.entryCount; ++i) {
        unsigned char record[kEntryRecordSize];
        if (at + kEntryRecordSize > m_footerPosition || !ReadAt(at, record, kEntryRecordSize))
            return ReadFailure();
        at += kEntryRecordSize;
        PayloadEntry entry;
        entry.setId = GetU32(record);
        entry.type = GetU32(record + 4);
        entry.flags = GetU32(record + 8);
        entry.size = GetU32(record + 12);
        entry.offset = GetU32(record + 16);
        const uint32_t nameLength = GetU32(record + 20);
        // The name and the content must lie inside the package.
        if (nameLength > m_footerPosition - at ||
            static_cast<uint64_t>(entry.offset) + entry.size > payloadSize) {
            errno = EIO;
            return ReadFailure();
        }
        entry.name.resize(nameLength);
        if (nameLength && !ReadAt(at, entry.name.data(), nameLength))
            return ReadFailure();
        at += nameLength;
        m_entries.push_back(std::move(entry));
    }
    return payload_result::kOk;
}

int PayloadArchive::ReadNameTable() {
    if (m_namesRead)
        return payload_result::kOk;
    m_names.clear();
    uint64_t at = m_base + m_footer.nameTableOffset;
    if (m_footer.nameCount &&
        (at > m_footerPosition || m_footer.nameCount > (m_footerPosition - at) / kNameRecordSize)) {
        errno = EIO;
        return ReadFailure();
    }
    for (uint32_t i = 0; i < m_footer.nameCount; ++i) {
        unsigned char record[kNameRecordSize];
        if (at + kNameRecordSize > m_footerPosition || !ReadAt(at, record, kNameRecordSize))
            return ReadFailure();
        at += kNameRecordSize;
        PayloadNameRecord name;
        name.key = GetU32(record);
        const uint32_t length = GetU32(record + 4);
        if (length > m_footerPosition - at) {
            errno = EIO;
            return ReadFailure();
        }
        name.text.resize(length);
        if (length && !ReadAt(at, name.text.data(), length))
            return ReadFailure();
        at += length;
        m_names.push_back(std::move(name));
    }
    m_namesRead = true;
    return payload_result::kOk;
}

std::string PayloadArchive::GetPackageId() const {
    return std::string(m_footer.packageId.data(), kPackageIdSize);
}

std::string PayloadArchive::GetPackageNameStem() const {
    return m_nameStem.empty() ? GetPackageId().substr(0, 7) : m_nameStem;
}

std::string PayloadArchive::FolderOfType(uint32_t type) const {
    const bool second = type == entry_type::kPrerequisite || type == entry_type::kSecondFolder ||
                        type == entry_type::kPrerequisiteGroup ||
                        type == entry_type::kSecondFolderGroup;
    return second && !m_secondFolder.empty() ? m_secondFolder : m_extractionFolder;
}

std::string PayloadArchive::TargetPath(const PayloadEntry &entry) const {
    std::string relative;
    if (!SafeEntryName(entry.name, relative))
        return {};
    std::string folder = FolderOfType(entry.type);
    AddTrailingBackslash(folder);
    return folder + relative;
}

void PayloadArchive::ForgetExtractedIn(bool secondFolder) {
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        PayloadEntry &entry = m_entries[i];
        const bool inSecond = FolderOfType(entry.type) == m_secondFolder && !m_secondFolder.empty();
        if (!entry.extracted || inSecond != secondFolder)
            continue;
        const std::string target = TargetPath(entry);
        if (!target.empty())
            m_deletionList.push_back(target);
        if (auto members = m_groupMembers.find(i); members != m_groupMembers.end()) {
            m_deletionList.insert(m_deletionList.end(), members->second.begin(),
                                  members->second.end());
            m_groupMembers.erase(members);
        }
        entry.extracted = false;
    }
}

void PayloadArchive::SetExtractionFolder(std::string_view folder) {
    std::string next(folder);
    AddTrailingBackslash(next);
    if (next != m_extractionFolder) {
        ForgetExtractedIn(false);
        m_extractionFolder = next;
    }
    LogLine("Extraction path set to:" + m_extractionFolder);
}

void PayloadArchive::SetSecondFolder(std::string_view folder) {
    std::string next(folder);
    AddTrailingBackslash(next);
    if (next != m_secondFolder) {
        if (!m_secondFolder.empty())
            ForgetExtractedIn(true);
        m_secondFolder = next;
    }
    LogLine("Extraction path set to:" + m_secondFolder);
}

PayloadArchive::SettingsLocation PayloadArchive::GetSettingsLocation() const {
    SettingsLocation location;
    if (m_footer.flags & container::kSettingsEntry) {
        for (const PayloadEntry &entry : m_entries) {
            if (entry.type == entry_type::kSettings && entry.setId == set_id::kSettings) {
                location.file = m_path;
                location.offset = m_base + entry.offset;
                location.size = entry.size;
                return location;
            }
        }
        return location;
    }
    for (const PayloadNameRecord &name : m_names) {
        if (name.key != name_key::kSettings)
            continue;
        std::string relative;
        if (!SafeEntryName(name.text, relative))
            return location;
        std::string folder = m_packageFolder;
        AddTrailingBackslash(folder);
        struct stat info {};
        if (::stat(ToNativePath(folder + relative).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return location;
        location.file = folder + relative;
        location.size = static_cast<uint64_t>(info.st_size);
        return location;
    }
    return location;
}

bool PayloadArchive::ReadPackageSettings(IniDocument &document) const {
    const SettingsLocation location = GetSettingsLocation();
    if (location.file.empty())
        return false;
    return ReadIniFromFile(document, location.file, location.offset, location.size) == 0;
}

std::vector<uint16_t> PayloadArchive::GetPackageLanguages() const {
    std::vector<uint16_t> languages;
    for (const PayloadEntry &entry : m_entries)
        if (entry.type == entry_type::kLanguageLibrary)
            languages.push_back(static_cast<uint16_t>(ParseDecimal(entry.name)));
    return languages;
}

} // namespace krv::setup
