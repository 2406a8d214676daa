// The package appended to the setup program (payload_format.h): finding it,
// reading its tables, extracting entries and compressed groups, and removing
// what was extracted again according to a keep mode.
//
// Safety: every size and offset read from the file is checked against the
// file's length before it is used; entry names that are absolute or hold a
// ".." component are refused, so nothing is written outside the target
// folders; a copy that fails or is cancelled removes its partial file.
#pragma once

#include "extraction_progress.h"
#include "files.h"
#include "ini.h"
#include "payload_format.h"
#include "unique_fd.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krv::setup {

// Result codes of the archive's operations.
namespace payload_result {
inline constexpr int kOk = 0;
inline constexpr int kReadFailed = 2; // read, seek or write failure (texts 259, 260)
inline constexpr int kOutOfMemory = 3;
inline constexpr int kNoModuleName = 4;
inline constexpr int kBadFooter = 5; // magic or version
inline constexpr int kNoDiskSpace = 10;
inline constexpr int kLibraryMissing = 11;
inline constexpr int kTargetFailed = 14; // target folder, refused name or group failure
inline constexpr int kCancelled = 15;
} // namespace payload_result

// What the clean-up keeps (keep_mode in settings.h names 0, 1, 2 and 5).
namespace archive_keep {
inline constexpr int kDefault = 0;    // main-package files with entry flag kEntryKeep
inline constexpr int kMinimum = 1;    // the main package
inline constexpr int kComplete = 2;   // the main package and the further sets
inline constexpr int kEverything = 3; // /extract
inline constexpr int kDeleteMain = 4; // after a failed install, flagged files too
inline constexpr int kPrereqs = 5;    // the further sets
} // namespace archive_keep

// String ids of the archive's error texts.
inline constexpr uint32_t kReadFailureTextId = 259;  // "...%s...%s": package path, system text
inline constexpr uint32_t kWriteFailureTextId = 260; // target path, system text

class PayloadArchive {
  public:
    using PayloadEntry = payload::PayloadEntry;
    using PayloadNameRecord = payload::PayloadNameRecord;
    // Turns packed archives back into files after groups were extracted
    // (folders of type-6 groups); its result becomes the extraction's.
    using JarUnpackStep =
        std::function<int(const std::vector<std::string> &folders, StepProgressSink *steps)>;

    // The extraction folder starts as the temporary folder.
    PayloadArchive();
    // Runs CleanUpExtraction (nothing when it ran already).
    ~PayloadArchive();
    PayloadArchive(const PayloadArchive &) = delete;
    PayloadArchive &operator=(const PayloadArchive &) = delete;

    // The package file: the path, or the program's own file when empty
    // (kNoModuleName when that cannot be found).
    int SetArchivePath(std::string_view path);
    int OpenArchive();

    std::string GetPackageId() const;
    std::string GetPackageNameStem() const;
    void SetExtractionFolder(std::string_view folder);
    void SetSecondFolder(std::string_view folder);
    void SetArchivePassword(std::string_view text) { m_password = std::string(text); }
    void SetPackageNameStem(std::string_view text) { m_nameStem = std::string(text); }
    struct SettingsLocation {
        std::string file;
        uint64_t offset = 0;
        uint64_t size = 0;
    };
    SettingsLocation GetSettingsLocation() const;
    // The settings text at GetSettingsLocation read into the document; false
    // when there is none or it cannot be read.
    bool ReadPackageSettings(IniDocument &document) const;
    const std::string &GetArchiveErrorText() const { return m_errorText; }
    std::vector<uint16_t> GetPackageLanguages() const;

    // Extraction; the sinks may be empty (no window). Results: payload_result.
    int ExtractEntry(std::size_t index, const ExtractionDialogParts &sinks = {});
    int ExtractEntries(const std::vector<uint32_t> &setIds,
                       const ExtractionDialogParts &sinks = {});
    int ExtractMainPackage(std::string &outPath, const ExtractionDialogParts &sinks = {});
    int ExtractAll(const ExtractionDialogParts &sinks = {});
    int ExtractExternalGroups(std::string &outPath, const ExtractionDialogParts &sinks = {});
    int ExtractNumberedDll(int number, std::string &outPath);
    int ExtractNamedEntry(std::string_view name, std::string &outPath);
    // The set id of the entry (type 4, else 9) with that name, -1 when none.
    int FindPrerequisiteFile(std::string_view name, std::string &outPath);

    void CleanUpExtraction();
    // CleanUpExtraction for a stop's end, on another thread than the run's:
    // once no extraction or clean-up of the run is under way, with the keep
    // mode given (none: the one set), and nothing extracts any more after
    // it. Given up, leaving what is there, while an extraction waits for the
    // user (nothing would come to end it).
    void CleanUpOnStop(std::optional<int> keepMode);
    void DeleteExtractedEntries();
    // Removes what the package puts into the folder of the main package
    // (its entries and the members of its groups) and the folders that are
    // then empty; other files in that folder stay.
    void DeleteExtractedFiles();

    // State.
    uint32_t ContainerFlags() const { return m_footer.flags; }
    const std::vector<PayloadEntry> &Entries() const { return m_entries; }
    const std::string &ArchivePath() const { return m_path; }
    const std::string &PackageFolder() const { return m_packageFolder; }
    int KeepMode() const { return m_keepMode; }
    void SetKeepMode(int mode) { m_keepMode = mode; }
    void SetPackJars(bool on) { m_packJars = on; }
    void SetJarUnpacker(JarUnpackStep step) { m_jarUnpacker = std::move(step); }
    // How free space is asked before each file (statvfs when empty).
    void SetFreeSpaceQuery(FreeSpaceQuery query) { m_freeSpace = std::move(query); }
    const std::vector<std::string> &DeletionList() const { return m_deletionList; }
    // Where an entry is written: the folder of its type and its checked
    // name; empty when the name is refused.
    std::string TargetPath(const PayloadEntry &entry) const;
    std::string FolderOfType(uint32_t type) const;
    // True when the last group ran in the library carried by the package,
    // false when the copy linked into the program ran it.
    bool UsedCarriedLibrary() const { return m_usedCarriedLibrary; }

    // The extraction library's progress calls for one group (internal).
    static int GroupProgress(void *group, const char *currentFile, uint64_t bytesDone);

    // Opening steps (OpenArchive runs them in order).
    int FindPayloadFooter();
    int ReadEntryTable();
    int ReadNameTable();

  private:
    // Held by every extraction and the clean-up (CleanUpOnStop).
    std::recursive_mutex m_changeLock;

    struct Group;
    int PrepareExtraction(std::vector<Group> &groups, const std::vector<std::size_t> &stored,
                          const ExtractionDialogParts &sinks);
    int RunExtractionWorker(const std::vector<std::size_t> &stored, std::vector<Group> &groups,
                            const ExtractionDialogParts &sinks);
    int ExtractionThreadMain(const std::vector<std::size_t> &stored, std::vector<Group> &groups,
                             const ExtractionDialogParts &sinks, AutoResetEvent *ready);
    int ExtractGroup(Group &group, const ExtractionDialogParts &sinks);
    int ExternalGroupPrepare(std::string &outPath, const ExtractionDialogParts &sinks);
    int ReadFailure(int code = payload_result::kReadFailed);
    int WriteFailure(const std::string &target, int error, int code);
    bool ReadAt(uint64_t offset, void *buffer, std::size_t length);
    void DeleteEntryFiles(std::size_t index);
    std::string MainPackageFolder() const;
    void ForgetExtractedIn(bool secondFolder);

    payload::PayloadWindowDescrambler m_descrambler;
    payload::PayloadFooter m_footer;
    uint64_t m_footerPosition = 0;
    uint64_t m_base = 0;
    uint64_t m_fileSize = 0;
    std::string m_path;
    std::string m_packageFolder;
    std::string m_extractionFolder;
    std::string m_secondFolder;
    std::vector<PayloadEntry> m_entries;
    UniqueFd m_file;
    bool m_opened = false;
    int m_keepMode = archive_keep::kDefault;
    bool m_packJars = false;
    std::vector<PayloadNameRecord> m_names;
    bool m_namesRead = false;
    std::vector<std::string> m_deletionList;
    std::vector<std::string> m_foldersCreated;
    std::string m_nameStem;
    std::string m_errorText;
    bool m_cleanedUp = false;
    std::string m_password;
    JarUnpackStep m_jarUnpacker;
    FreeSpaceQuery m_freeSpace;
    bool m_usedCarriedLibrary = false;
    // Whether the file matches its package id, once checked (see
    // PrepareExtraction); -1 before.
    int m_packageIdMatches = -1;
    // Files the groups of this run wrote, by entry index (separate-file
    // groups under SIZE_MAX).
    std::map<std::size_t, std::vector<std::string>> m_groupMembers;
};

// An entry name as a relative path below its folder ("\" and "/" both
// separate); false for an absolute name, a drive name or a ".." component.
bool SafeEntryName(std::string_view name, std::string &relative);

} // namespace krv::setup
