// Removing what an extraction put in place, by keep mode.
#include "payload_archive.h"

#include "files.h"
#include "group_reader.h"
#include "paths.h"

#include <setup_process.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace krv::setup {

using namespace payload;

namespace {

bool Inside(const std::string &path, const std::string &folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0;
}

// Removes a file or link (never what a link points to); a folder stays.
void DeletePlacedFile(const std::string &path) {
    struct stat info {};
    const std::string native = ToNativePath(path);
    if (::lstat(native.c_str(), &info) == 0 && !S_ISDIR(info.st_mode))
        ::unlink(native.c_str());
}

// Removes the folders that hold the paths (and the paths that are folders)
// once they are empty, deepest first, up to the stop folder (included when
// asked).
void RemoveEmptiedFolders(const std::vector<std::string> &paths, const std::string &stop,
                          bool includingStop) {
    std::set<std::string> folders;
    const std::string stopFolder = stop.substr(0, stop.size() - 1); // without its "/"
    for (const std::string &path : paths) {
        for (std::string folder = path; Inside(folder, stop) || folder == stopFolder;
             folder = GetFolderPart(folder)) {
            if (folder == stopFolder) {
                if (includingStop)
                    folders.insert(folder);
                break;
            }
            folders.insert(folder);
        }
    }
    std::vector<std::string> ordered(folders.begin(), folders.end());
    std::sort(ordered.begin(), ordered.end(),
              [](const std::string &a, const std::string &b) { return a.size() > b.size(); });
    for (const std::string &folder : ordered)
        ::rmdir(ToNativePath(folder).c_str());
}

} // namespace

void PayloadArchive::CleanUpExtraction() {
    std::lock_guard guard(m_changeLock);
    if (m_cleanedUp || !m_opened)
        return;
    m_cleanedUp = true;
    if (m_keepMode != archive_keep::kEverything) {
        DeleteExtractedEntries();
        if (m_keepMode != archive_keep::kMinimum && m_keepMode != archive_keep::kComplete &&
            (m_footer.flags & (container::kMainPackageMsi | container::kSeparateGroups)))
            DeleteExtractedFiles();
    }
    for (const std::string &path : m_deletionList)
        DeletePlacedFile(path);
    for (auto folder = m_foldersCreated.rbegin(); folder != m_foldersCreated.rend(); ++folder)
        ::rmdir(ToNativePath(*folder).c_str());
}

void PayloadArchive::CleanUpOnStop(std::optional<int> keepMode) {
    std::unique_lock hold(m_changeLock, std::defer_lock);
    while (!hold.try_lock()) {
        if (platform::WaitingForUser())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (keepMode)
        m_keepMode = *keepMode;
    CleanUpExtraction();
    // Kept until the process ends, which follows the stop's end.
    hold.release();
}

void PayloadArchive::DeleteEntryFiles(std::size_t index) {
    const PayloadEntry &entry = m_entries[index];
    std::string typeFolder = FolderOfType(entry.type);
    AddTrailingBackslash(typeFolder);
    std::vector<std::string> placed;
    if (auto members = m_groupMembers.find(index); members != m_groupMembers.end()) {
        placed = std::move(members->second);
        m_groupMembers.erase(members);
    } else if (const std::string target = TargetPath(entry); !target.empty()) {
        placed.push_back(target);
    }
    for (const std::string &path : placed)
        DeletePlacedFile(path);
    RemoveEmptiedFolders(placed, typeFolder, false);
}

void PayloadArchive::DeleteExtractedEntries() {
    const uint32_t flags = m_footer.flags;
    if ((flags & container::kSeparateFiles) && !(flags & container::kSeparateGroups))
        return;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        PayloadEntry &entry = m_entries[i];
        if (!entry.extracted)
            continue;
        bool keep;
        if (entry.setId == set_id::kMainPackage || entry.setId == set_id::kMsiMainPackage) {
            if (m_keepMode == archive_keep::kMinimum || m_keepMode == archive_keep::kComplete)
                keep = true;
            else if (m_keepMode == archive_keep::kDeleteMain)
                keep = false;
            else
                keep = entry.flags & kEntryKeep;
        } else if (entry.setId >= set_id::kFirstFurtherSet) {
            keep = m_keepMode == archive_keep::kComplete || m_keepMode == archive_keep::kPrereqs;
        } else {
            keep = false;
        }
        if (keep)
            continue;
        DeleteEntryFiles(i);
        entry.extracted = false;
    }
}

std::string PayloadArchive::MainPackageFolder() const {
    std::string folder = FolderOfType(entry_type::kMainPackage);
    AddTrailingBackslash(folder);
    const uint32_t flags = m_footer.flags;
    if (flags & container::kSeparateFiles) {
        if (!(flags & container::kSeparateGroups))
            return {};
        folder += GetPackageNameStem();
        AddTrailingBackslash(folder);
        for (const PayloadNameRecord &name : m_names) {
            std::string relative;
            if (name.key == name_key::kSecondGroup && SafeEntryName(name.text, relative) &&
                !GetFolderPart(relative).empty())
                folder += GetFolderPart(relative) + "/";
        }
        return folder;
    }
    const bool msi = flags & container::kMainPackageMsi;
    for (const PayloadEntry &entry : m_entries) {
        if (entry.type != (msi ? entry_type::kMsiGroup : entry_type::kMainPackage) ||
            entry.setId != (msi ? set_id::kMsiMainPackage : set_id::kMainPackage))
            continue;
        std::string relative;
        if (!SafeEntryName(entry.name, relative))
            return {};
        const std::string part = GetFolderPart(relative);
        return part.empty() ? folder : folder + part + "/";
    }
    return {};
}

void PayloadArchive::DeleteExtractedFiles() {
    const std::string folder = MainPackageFolder();
    if (folder.empty())
        return;
    // What the package places there: its stored entries, the members of its
    // groups (listed from the package, so a later run finds them too) and
    // what this run's groups wrote.
    std::vector<std::string> placed;
    std::string base = m_packageFolder;
    AddTrailingBackslash(base);
    auto listGroup = [&](const std::string &file, uint64_t offset, uint64_t size, bool scrambled,
                         const std::string &outputFolder) {
        UniqueFd fd = OpenForReading(ToNativePath(file));
        struct stat info {};
        if (!fd.valid() || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
            return;
        if (size == 0 && offset == 0)
            size = static_cast<uint64_t>(info.st_size);
        ExtractionContext context{};
        PayloadWindowDescrambler descrambler;
        context.sourceFile = fd.get();
        context.sourceFileAgain = fd.get();
        context.groupOffset = offset;
        context.groupSize = size;
        context.descrambler = scrambled ? descrambler.Table() : nullptr;
        if (extraction::Init(&context) != KRV_EXTRACT_OK)
            return;
        extraction::ListMembers(
            &context, [&](const std::string &member) { placed.push_back(outputFolder + member); });
        extraction::End(&context);
    };
    for (const PayloadEntry &entry : m_entries) {
        const std::string target = TargetPath(entry);
        if (target.empty() || !Inside(target, folder))
            continue;
        if (IsGroupType(entry.type)) {
            std::string output = GetFolderPart(target) + "/";
            listGroup(m_path, m_base + entry.offset, entry.size, entry.flags & kEntryScrambled,
                      output);
        } else {
            placed.push_back(target);
        }
    }
    if ((m_footer.flags & container::kSeparateFiles) &&
        (m_footer.flags & container::kSeparateGroups)) {
        for (const PayloadNameRecord &name : m_names) {
            std::string relative;
            if ((name.key == name_key::kFirstGroup || name.key == name_key::kSecondGroup) &&
                SafeEntryName(name.text, relative))
                listGroup(base + relative, 0, 0, false, folder);
        }
    }
    for (const auto &[index, members] : m_groupMembers)
        for (const std::string &member : members)
            if (Inside(member, folder))
                placed.push_back(member);
    for (const std::string &path : placed)
        DeletePlacedFile(path);
    RemoveEmptiedFolders(placed, folder, true);
}

} // namespace krv::setup
