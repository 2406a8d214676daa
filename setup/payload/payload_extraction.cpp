// Extraction: stored entries by a block copy, compressed groups through the
// extraction library (the one the package carries, else the copy linked
// into the program), on a worker thread while the caller shows progress.
#include "payload_archive.h"

#include "file_open.h"
#include "files.h"
#include "group_reader.h"
#include "log.h"
#include "md5.h"
#include "paths.h"
#include "ui_dispatcher.h"

#include <setup_process.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace krv::setup {

using namespace payload;

namespace {

constexpr std::size_t kCopyBlock = 64 * 1024;
constexpr std::size_t kNoEntry = SIZE_MAX;

struct LibraryFunctions {
    InitExtractionFunction init;
    GetTotalFilesSizeFunction total;
    ExtractAllFilesFunction extract;
    EndExtractionFunction end;
};

const LibraryFunctions kLinkedIn{
    [](ExtractionContext *c) { return extraction::Init(c); },
    [](ExtractionContext *c) { return extraction::TotalSize(c); },
    [](ExtractionContext *c) { return extraction::ExtractAll(c); },
    [](ExtractionContext *c) { extraction::End(c); },
};

// The carried library, bound once per process and kept while groups use it.
class LibraryBinding {
  public:
    // The carried library's exports, or the linked-in copy when the file
    // cannot be loaded (a temporary folder mounted noexec) or lacks one.
    const LibraryFunctions *Acquire(const std::string &path, bool &carried) {
        std::lock_guard lock(m_lock);
        if (m_uses > 0 && path == m_path) {
            ++m_uses;
            carried = true;
            return &m_functions;
        }
        if (m_uses == 0) {
            if (void *handle = dlopen(ToNativePath(path).c_str(), RTLD_NOW | RTLD_LOCAL)) {
                LibraryFunctions functions{
                    reinterpret_cast<InitExtractionFunction>(dlsym(handle, "InitExtraction")),
                    reinterpret_cast<GetTotalFilesSizeFunction>(dlsym(handle, "GetTotalFilesSize")),
                    reinterpret_cast<ExtractAllFilesFunction>(dlsym(handle, "ExtractAllFiles")),
                    reinterpret_cast<EndExtractionFunction>(dlsym(handle, "EndExtraction"))};
                if (functions.init && functions.total && functions.extract && functions.end) {
                    m_handle = handle;
                    m_functions = functions;
                    m_path = path;
                    m_uses = 1;
                    carried = true;
                    return &m_functions;
                }
                dlclose(handle);
            }
        }
        carried = false;
        return &kLinkedIn;
    }
    void Release(const LibraryFunctions *functions) {
        std::lock_guard lock(m_lock);
        if (functions != &m_functions || m_uses == 0)
            return;
        if (--m_uses == 0) {
            dlclose(m_handle);
            m_handle = nullptr;
            m_path.clear();
        }
    }

  private:
    std::mutex m_lock;
    void *m_handle = nullptr;
    std::string m_path;
    int m_uses = 0;
    LibraryFunctions m_functions{};
};

LibraryBinding &Library() {
    static LibraryBinding binding;
    return binding;
}

// Opens the folder `relative` below `root`, making what is missing. The
// extraction folder is the shared temporary folder by default, and what is
// written there is run later, as root: a folder another user made first or
// may write, or a link planted in place of one of ours, is refused (see
// platform::OpenFolderPath) with a log line naming it. Each folder made is
// appended to `created`; 0 or the errno of the failure (ELOOP or ENOTDIR for
// a link in the way, EPERM for a folder others control).
int OpenFolderBelow(const std::string &root, std::string_view relative,
                    std::vector<std::string> &created, UniqueFd &out) {
    platform::OpenedFolder folder =
        platform::OpenFolderPath(ToNativePath(root), ToNativePath(relative), &created);
    if (folder.refusal != platform::FolderRefusal::None)
        LogLine("The folder " + folder.failedAt + " " +
                platform::FolderRefusalText(folder.refusal) + "; nothing is extracted into it.");
    if (!folder)
        return folder.error;
    out = std::move(folder.fd);
    return 0;
}

// The path of an open folder as it is now, for the extraction library,
// which takes a path: nothing in it can be a planted link.
std::string PathOfOpenFolder(int fd) {
    char resolved[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    if (!::realpath(link.c_str(), resolved))
        return {};
    std::string out = resolved;
    AddTrailingBackslash(out);
    return out;
}

// A group's output folder made safely as above, and the path the extraction
// library is to write under; 0 or an errno.
int OpenGroupFolder(const std::string &root, const std::string &relative,
                    std::vector<std::string> &created, std::string &libraryFolder) {
    UniqueFd folder;
    if (const int error = OpenFolderBelow(root, relative, created, folder))
        return error;
    libraryFolder = PathOfOpenFolder(folder.get());
    if (libraryFolder.empty()) {
        // No /proc: the folder's real path, which was just checked below root.
        char resolved[PATH_MAX];
        if (!::realpath(ToNativePath(root).c_str(), resolved))
            return errno;
        libraryFolder = resolved;
        AddTrailingBackslash(libraryFolder);
        libraryFolder += ToNativePath(relative);
    }
    return 0;
}

// Asks whether to try again once space is freed. A stop signal while the
// question waits ends the setup at once: nothing checks it until the answer.
bool AskDiskSpaceRetry(const ExtractionDialogParts &sinks, const std::string &target,
                       uint64_t needed) {
    if (!sinks.diskSpace)
        return false;
    platform::UserWait asking;
    return !platform::TerminationSignal() && sinks.diskSpace->AskRetry(target, needed);
}

} // namespace

// One compressed group of a run.
struct PayloadArchive::Group {
    std::size_t entryIndex = kNoEntry;
    uint32_t setId = 0;
    uint32_t type = 0;
    std::string file; // separate file; empty: the package file
    uint64_t offset = 0;
    uint64_t size = 0;
    std::string outputFolder;
    std::string root;     // the extraction folder outputFolder lies in
    std::string relative; // outputFolder below root
    std::string displayText;
    bool scrambled = false;
    uint64_t total = 0;
    ExtractionContext context{};
    int fd = -1;
    PayloadWindowDescrambler descrambler;
    const LibraryFunctions *functions = nullptr;
    bool initialised = false;
    // Progress relay.
    PayloadArchive *archive = nullptr;
    ExtractionProgressSink *sink = nullptr;
};

int PayloadArchive::ExtractEntry(std::size_t index, const ExtractionDialogParts &sinks) {
    if (index >= m_entries.size())
        return payload_result::kReadFailed;
    PayloadEntry &entry = m_entries[index];
    if (entry.extracted)
        return payload_result::kOk;
    const std::string target = TargetPath(entry);
    if (target.empty()) {
        // Absolute names and ".." never reach the disk.
        LogLine("Failed to extract file:" + entry.name + " Error:refused name");
        return WriteFailure(entry.name, EINVAL, payload_result::kTargetFailed);
    }
    std::string root = FolderOfType(entry.type);
    AddTrailingBackslash(root);
    const std::string relative = target.substr(root.size());
    const std::size_t slash = relative.find_last_of("/\\");
    const std::string leaf = slash == std::string::npos ? relative : relative.substr(slash + 1);
    std::vector<std::string> created;
    UniqueFd folder;
    const int folderError =
        OpenFolderBelow(root,
                        slash == std::string::npos ? std::string_view()
                                                   : std::string_view(relative).substr(0, slash),
                        created, folder);
    m_foldersCreated.insert(m_foldersCreated.end(), created.begin(), created.end());
    if (folderError)
        return WriteFailure(target, folderError, payload_result::kTargetFailed);
    if (!HasEnoughDiskSpace(target, entry.size, m_freeSpace) &&
        !AskDiskSpaceRetry(sinks, target, entry.size)) {
        if (platform::TerminationSignal())
            return payload_result::kCancelled;
        LogLine("Not enough disk space to extract file:" + target);
        return payload_result::kNoDiskSpace;
    }
    if (sinks.extraction) {
        sinks.extraction->BeginFile(entry.size);
        sinks.extraction->SetCurrentFile(target, static_cast<int>(entry.setId));
    }
    if (entry.type == entry_type::kLanguageLibrary)
        m_deletionList.push_back(target);

    // Non-blocking, so that a pipe left under the name (the temporary folder
    // is shared) fails the open instead of waiting for a reader; only a
    // regular file is written.
    UniqueFd out(::openat(folder.get(), leaf.c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                          0644));
    struct stat info {};
    if (out.valid() && (::fstat(out.get(), &info) != 0 || !S_ISREG(info.st_mode))) {
        out = UniqueFd();
        errno = EINVAL;
    }
    if (!out.valid()) {
        const int error = errno;
        LogLine("Failed to extract file:" + target + " Error:" + std::strerror(error));
        return WriteFailure(target, error, payload_result::kReadFailed);
    }
    // A copy that does not finish leaves no partial file behind.
    auto fail = [&](int code) {
        ::unlinkat(folder.get(), leaf.c_str(), 0);
        return code;
    };
    std::vector<unsigned char> buffer(kCopyBlock);
    m_descrambler.SetWindowLength(KRV_SCRAMBLE_WINDOW);
    uint64_t at = m_base + entry.offset;
    uint64_t remaining = entry.size;
    uint64_t written = 0;
    // Blocks the transform does not touch are copied inside the kernel
    // (copy_file_range) where the file systems allow it; the others, and
    // every block where that fails, pass through the buffer.
    bool kernelCopy = true;
    while (remaining > 0) {
        if ((sinks.extraction && sinks.extraction->IsCancelled()) || platform::TerminationSignal())
            return fail(payload_result::kCancelled);
        const std::size_t length = remaining < kCopyBlock ? remaining : kCopyBlock;
        const bool plain = !(entry.flags & kEntryScrambled) || written >= KRV_SCRAMBLE_WINDOW;
        std::size_t copied = 0;
        if (plain && kernelCopy) {
            while (copied < length) {
                loff_t from = static_cast<loff_t>(at + copied);
                const ssize_t done =
                    ::copy_file_range(m_file.get(), &from, out.get(), nullptr, length - copied, 0);
                if (done <= 0) {
                    // Not supported here, or a failure the buffered copy
                    // below reports with the right text.
                    kernelCopy = kernelCopy && done < 0 && errno != EXDEV && errno != ENOSYS &&
                                 errno != EOPNOTSUPP && errno != EINVAL;
                    break;
                }
                copied += static_cast<std::size_t>(done);
            }
        }
        if (copied < length) {
            const std::size_t rest = length - copied;
            if (!ReadAt(at + copied, buffer.data(), rest)) {
                ReadFailure();
                return fail(payload_result::kReadFailed);
            }
            if (!plain)
                m_descrambler.Transform(buffer.data(), rest);
            if (!platform::WriteFully(out.get(), buffer.data(), rest)) {
                const int error = errno;
                LogLine("Failed to extract file:" + target + " Error:" + std::strerror(error));
                WriteFailure(target, error, payload_result::kReadFailed);
                return fail(payload_result::kReadFailed);
            }
        }
        at += length;
        remaining -= length;
        written += length;
        if (sinks.extraction)
            sinks.extraction->Progress(written);
    }
    if (::close(out.release()) != 0) {
        const int error = errno;
        WriteFailure(target, error, payload_result::kReadFailed);
        return fail(payload_result::kReadFailed);
    }
    entry.extracted = true;
    return payload_result::kOk;
}

int PayloadArchive::ExtractEntries(const std::vector<uint32_t> &setIds,
                                   const ExtractionDialogParts &sinks) {
    std::lock_guard guard(m_changeLock);
    std::vector<Group> groups;
    std::vector<std::size_t> stored;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const PayloadEntry &entry = m_entries[i];
        if (entry.extracted || std::find(setIds.begin(), setIds.end(), entry.setId) == setIds.end())
            continue;
        if (!IsGroupType(entry.type)) {
            stored.push_back(i);
            continue;
        }
        const std::string target = TargetPath(entry);
        if (target.empty())
            return WriteFailure(entry.name, EINVAL, payload_result::kTargetFailed);
        Group group;
        group.entryIndex = i;
        group.setId = entry.setId;
        group.type = entry.type;
        group.offset = m_base + entry.offset;
        group.size = entry.size;
        group.outputFolder = GetFolderPart(target);
        AddTrailingBackslash(group.outputFolder);
        group.root = FolderOfType(entry.type);
        AddTrailingBackslash(group.root);
        group.relative = group.outputFolder.substr(group.root.size());
        group.scrambled = entry.flags & kEntryScrambled;
        // Prerequisite groups show where they go; the others the general text.
        if (entry.type == entry_type::kPrerequisiteGroup ||
            entry.type == entry_type::kSecondFolderGroup)
            group.displayText = target;
        groups.push_back(std::move(group));
    }
    if (groups.empty() && stored.empty())
        return payload_result::kOk;
    return PrepareExtraction(groups, stored, sinks);
}

int PayloadArchive::ExtractMainPackage(std::string &outPath, const ExtractionDialogParts &sinks) {
    std::lock_guard guard(m_changeLock);
    const uint32_t flags = m_footer.flags;
    if (flags & container::kSeparateFiles) {
        if (flags & container::kSeparateGroups)
            return ExtractExternalGroups(outPath, sinks);
        for (const PayloadNameRecord &name : m_names)
            if (name.key == name_key::kMainPackage)
                outPath = m_packageFolder + name.text;
        return payload_result::kOk;
    }
    const bool msi = flags & container::kMainPackageMsi;
    const uint32_t type = msi ? entry_type::kMsiGroup : entry_type::kMainPackage;
    const uint32_t set = msi ? set_id::kMsiMainPackage : set_id::kMainPackage;
    for (const PayloadEntry &entry : m_entries) {
        if (entry.type != type || entry.setId != set)
            continue;
        outPath = TargetPath(entry);
        if (msi)
            outPath = WithExtension(outPath, ".msi");
        return ExtractEntries({set}, sinks);
    }
    errno = ENOENT;
    return ReadFailure();
}

int PayloadArchive::ExtractAll(const ExtractionDialogParts &sinks) {
    std::lock_guard guard(m_changeLock);
    const uint32_t flags = m_footer.flags;
    if (flags & container::kSeparateFiles) {
        std::string ignored;
        return (flags & container::kSeparateGroups) ? ExtractExternalGroups(ignored, sinks)
                                                    : payload_result::kOk;
    }
    std::vector<uint32_t> sets;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const uint32_t id = m_entries[i].setId;
        if (i > 0 && m_entries[i - 1].setId == id)
            continue;
        if (id == set_id::kMainPackage || id == set_id::kMsiMainPackage ||
            id >= set_id::kFirstFurtherSet)
            sets.push_back(id);
    }
    return ExtractEntries(sets, sinks);
}

int PayloadArchive::ExtractExternalGroups(std::string &outPath,
                                          const ExtractionDialogParts &sinks) {
    std::lock_guard guard(m_changeLock);
    return ExternalGroupPrepare(outPath, sinks);
}

int PayloadArchive::ExtractNumberedDll(int number, std::string &outPath) {
    std::lock_guard guard(m_changeLock);
    const std::string name = std::to_string(number) + ".dll";
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].type == entry_type::kLanguageLibrary && m_entries[i].name == name) {
            outPath = TargetPath(m_entries[i]);
            return ExtractEntry(i);
        }
    }
    errno = ENOENT;
    return ReadFailure();
}

int PayloadArchive::ExtractNamedEntry(std::string_view name, std::string &outPath) {
    std::lock_guard guard(m_changeLock);
    if (m_footer.flags & container::kSeparateFiles) {
        outPath = m_packageFolder + std::string(name);
        return payload_result::kOk;
    }
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].type == entry_type::kDetectionProgram && m_entries[i].name == name) {
            outPath = TargetPath(m_entries[i]);
            return ExtractEntry(i);
        }
    }
    errno = ENOENT;
    return ReadFailure();
}

int PayloadArchive::FindPrerequisiteFile(std::string_view name, std::string &outPath) {
    if (m_footer.flags & container::kSeparateFiles) {
        outPath = IsFullPath(name) ? std::string(name) : m_packageFolder + std::string(name);
        return -1;
    }
    for (uint32_t type : {entry_type::kPrerequisite, entry_type::kPrerequisiteGroup}) {
        for (const PayloadEntry &entry : m_entries) {
            if (entry.type == type && entry.name == name) {
                outPath = TargetPath(entry);
                return static_cast<int>(entry.setId);
            }
        }
    }
    return -1;
}

int PayloadArchive::ExternalGroupPrepare(std::string &outPath, const ExtractionDialogParts &sinks) {
    std::string folder = FolderOfType(entry_type::kMsiGroup) + GetPackageNameStem();
    AddTrailingBackslash(folder);
    std::vector<std::size_t> none;
    std::vector<Group> groups;
    std::string base = m_packageFolder;
    AddTrailingBackslash(base);
    for (uint32_t key : {name_key::kFirstGroup, name_key::kSecondGroup}) {
        for (const PayloadNameRecord &name : m_names) {
            if (name.key != key)
                continue;
            std::string relative;
            if (!SafeEntryName(name.text, relative))
                return WriteFailure(name.text, EINVAL, payload_result::kTargetFailed);
            Group group;
            group.type =
                key == name_key::kFirstGroup ? entry_type::kMsiGroup : entry_type::kJarGroup;
            group.file = base + relative;
            group.outputFolder = folder;
            group.root = FolderOfType(entry_type::kMsiGroup);
            AddTrailingBackslash(group.root);
            group.relative = folder.substr(group.root.size());
            group.displayText = folder;
            if (key == name_key::kFirstGroup)
                outPath = WithExtension(folder + relative, ".msi");
            groups.push_back(std::move(group));
            break;
        }
    }
    if (groups.empty())
        return payload_result::kOk;
    return PrepareExtraction(groups, none, sinks);
}

namespace {

// The library's progress calls for one group: members are remembered for
// the clean-up, the count goes to the sink, whose answer cancels.
int RelayGroupProgress(void *argument, const char *currentFile, uint64_t bytesDone) {
    return PayloadArchive::GroupProgress(argument, currentFile, bytesDone);
}

} // namespace

int PayloadArchive::GroupProgress(void *argument, const char *currentFile, uint64_t bytesDone) {
    auto *group = static_cast<Group *>(argument);
    if (currentFile)
        group->archive->m_groupMembers[group->entryIndex].push_back(currentFile);
    // A stop from outside cancels as the user's Cancel does.
    if (platform::TerminationSignal())
        return 1;
    if (!group->sink)
        return 0;
    return group->sink->Progress(bytesDone) ? 1 : 0;
}

int PayloadArchive::PrepareExtraction(std::vector<Group> &groups,
                                      const std::vector<std::size_t> &stored,
                                      const ExtractionDialogParts &sinks) {
    std::string libraryPath;
    if (!groups.empty()) {
        auto library = std::find_if(m_entries.begin(), m_entries.end(), [](const PayloadEntry &e) {
            return e.type == entry_type::kExtractionLibrary &&
                   e.setId == set_id::kExtractionLibrary;
        });
        if (library == m_entries.end())
            return payload_result::kLibraryMissing;
        const std::size_t index = static_cast<std::size_t>(library - m_entries.begin());
        if (!library->extracted) {
            if (const int result = ExtractEntry(index))
                return result;
        }
        libraryPath = TargetPath(*library);
        if (std::find(m_deletionList.begin(), m_deletionList.end(), libraryPath) ==
            m_deletionList.end())
            m_deletionList.push_back(libraryPath);
    }
    // A damaged library can crash the loader itself, and only the package id
    // (the MD5 of the file) covers its bytes; a package built without the
    // integrity check is checked here, before the library is loaded, and runs
    // its groups in the program's own copy when the id does not match.
    if (!libraryPath.empty() && m_packageIdMatches < 0) {
        m_packageIdMatches = VerifyFileMd5(m_path, GetPackageId(), kFooterSize) ? 1 : 0;
        if (!m_packageIdMatches)
            LogLine("The package does not match its id; its extraction library is not loaded.");
    }
    const bool loadCarried = m_packageIdMatches == 1;

    std::vector<std::string> jarFolders;
    int result = payload_result::kOk;
    for (Group &group : groups) {
        group.archive = this;
        group.sink = sinks.extraction;
        bool carried = false;
        group.functions = loadCarried ? Library().Acquire(libraryPath, carried) : &kLinkedIn;
        m_usedCarriedLibrary = carried;
        const std::string source = group.file.empty() ? m_path : group.file;
        group.fd = ::open(ToNativePath(source).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat info {};
        if (group.fd < 0 || fstat(group.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            result = ReadFailure();
            break;
        }
        if (!group.file.empty()) {
            group.offset = 0;
            group.size = static_cast<uint64_t>(info.st_size);
        }
        std::vector<std::string> created;
        std::string folder;
        const int folderError = OpenGroupFolder(group.root, group.relative, created, folder);
        m_foldersCreated.insert(m_foldersCreated.end(), created.begin(), created.end());
        if (folderError) {
            result = WriteFailure(group.outputFolder, folderError, payload_result::kTargetFailed);
            break;
        }
        if (folder.size() >= sizeof group.context.outputFolder) {
            result = WriteFailure(group.outputFolder, ENAMETOOLONG, payload_result::kTargetFailed);
            break;
        }
        ExtractionContext &context = group.context;
        context.sourceFile = group.fd;
        context.sourceFileAgain = group.fd;
        context.groupOffset = group.offset;
        context.groupSize = group.size;
        std::memcpy(context.outputFolder, folder.c_str(), folder.size() + 1);
        context.password = m_password.c_str();
        context.progress = RelayGroupProgress;
        context.progressArgument = &group;
        context.descrambler = group.scrambled ? group.descrambler.Table() : nullptr;
        if (group.functions->init(&context) != KRV_EXTRACT_OK) {
            result = WriteFailure(group.outputFolder, EINVAL, payload_result::kTargetFailed);
            break;
        }
        group.initialised = true;
        if (m_packJars && group.type == entry_type::kJarGroup)
            jarFolders.push_back(group.outputFolder);
        if (sinks.extraction)
            group.total = group.functions->total(&context);
    }

    if (result == payload_result::kOk) {
        result = RunExtractionWorker(stored, groups, sinks);
        if (result == payload_result::kOk && !jarFolders.empty() && m_jarUnpacker)
            result = m_jarUnpacker(jarFolders, sinks.steps);
    }

    for (Group &group : groups) {
        if (group.initialised)
            group.functions->end(&group.context);
        if (group.fd >= 0)
            ::close(group.fd);
        group.fd = -1;
        if (group.functions)
            Library().Release(group.functions);
    }
    return result;
}

int PayloadArchive::RunExtractionWorker(const std::vector<std::size_t> &stored,
                                        std::vector<Group> &groups,
                                        const ExtractionDialogParts &sinks) {
    // A stop signal now cancels the extraction instead of ending the
    // process over a half-written file.
    platform::StoppableWork stoppable;
    AutoResetEvent ready;
    if (sinks.extraction)
        sinks.extraction->SetReadyEvent(&ready);
    int result = payload_result::kOk;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        result = ExtractionThreadMain(stored, groups, sinks, sinks.extraction ? &ready : nullptr);
        finished = true;
        UiDispatcher::Wake();
    });
    if (sinks.extraction) {
        uint64_t total = 0;
        for (const Group &group : groups)
            total += group.total;
        for (std::size_t index : stored)
            total += m_entries[index].size;
        sinks.extraction->SetTotal(total);
        sinks.extraction->ShowModal();
        // A sink whose ShowModal returns without signalling (no window)
        // must not leave the worker waiting.
        ready.Signal();
    }
    // A question the worker asks after the window has gone still needs the
    // user-interface thread.
    UiDispatcher::WaitProcessingEvents([&] { return finished.load(); });
    worker.join();
    if (sinks.extraction)
        sinks.extraction->SetReadyEvent(nullptr);
    return result;
}

int PayloadArchive::ExtractionThreadMain(const std::vector<std::size_t> &stored,
                                         std::vector<Group> &groups,
                                         const ExtractionDialogParts &sinks,
                                         AutoResetEvent *ready) {
    if (ready)
        ready->Wait();
    int result = payload_result::kOk;
    for (std::size_t index : stored) {
        if ((result = ExtractEntry(index, sinks)) != payload_result::kOk)
            break;
    }
    for (std::size_t i = 0; result == payload_result::kOk && i < groups.size(); ++i)
        result = ExtractGroup(groups[i], sinks);
    // The window ends here whatever happened: a total of 0, or a group that
    // unpacked less than it announced, never leaves it open.
    if (sinks.extraction)
        sinks.extraction->Close();
    return result;
}

int PayloadArchive::ExtractGroup(Group &group, const ExtractionDialogParts &sinks) {
    if (sinks.extraction) {
        sinks.extraction->BeginFile(group.total);
        sinks.extraction->SetCurrentFile(group.displayText, static_cast<int>(group.setId));
    }
    // Made again (the stored entries ran in between), and the library writes
    // where the folder is now.
    std::vector<std::string> created;
    std::string folder;
    const int folderError = OpenGroupFolder(group.root, group.relative, created, folder);
    m_foldersCreated.insert(m_foldersCreated.end(), created.begin(), created.end());
    if (folderError || folder.size() >= sizeof group.context.outputFolder)
        return WriteFailure(group.outputFolder, folderError ? folderError : ENAMETOOLONG,
                            payload_result::kTargetFailed);
    std::memcpy(group.context.outputFolder, folder.c_str(), folder.size() + 1);
    const int status = group.functions->extract(&group.context);
    group.functions->end(&group.context);
    group.initialised = false;
    if (status == KRV_EXTRACT_FAILED || status == KRV_EXTRACT_CANCELLED) {
        // What the group wrote before it stopped goes with the clean-up.
        const auto &members = m_groupMembers[group.entryIndex];
        m_deletionList.insert(m_deletionList.end(), members.begin(), members.end());
        m_groupMembers.erase(group.entryIndex);
    }
    if (status == KRV_EXTRACT_FAILED) {
        LogLine("Failed to extract file:" + group.outputFolder +
                " Error:group refused or unreadable");
        return WriteFailure(group.outputFolder, EINVAL, payload_result::kTargetFailed);
    }
    if (status == KRV_EXTRACT_CANCELLED)
        return payload_result::kCancelled;
    if (group.entryIndex != kNoEntry)
        m_entries[group.entryIndex].extracted = true;
    return payload_result::kOk;
}

} // namespace krv::setup
