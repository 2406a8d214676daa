#include "installer_transaction.h"

#include "installed_products.h"
#include "installer_engine.h"
#include "installer_package.h"

#include <file_open.h>

#include <setup_folders.h>
#include <setup_registry.h>
#include <setup_system.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include <stdlib.h>
#include <sys/stat.h>

namespace krv::setup {

namespace fs = std::filesystem;

namespace {

// No folder between the install folder and the file may be a symbolic
// link: a link there would carry the file out of the install folder. The
// file itself may be one (a library's version names): it is only ever
// renamed, which never follows it.
bool StaysInside(const fs::path &root, const std::string &relative) {
    fs::path at = root;
    const fs::path rel = fs::path(relative).parent_path();
    for (auto it = rel.begin(); it != rel.end(); ++it) {
        at /= *it;
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0)
            return errno == ENOENT;
        if (S_ISLNK(st.st_mode))
            return false;
    }
    return true;
}

std::string MakeWorkFolder(const fs::path &root, const char *stem) {
    std::string pattern = (root / stem).string() + "XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return {};
    return pattern;
}

// False with errno telling why.
bool MoveInto(const fs::path &from, const fs::path &to) {
    if (const int error = platform::MakePublicFolders(to.parent_path().string()); error != 0) {
        errno = error;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

constexpr char kStagingStem[] = ".krv-staging-";
constexpr char kBackupStem[] = ".krv-backup-";
// Far past the lines of the largest product.
constexpr uint64_t kJournalLimit = 64u << 20;

// A journal value on one line: bytes below 0x20, 0x7F and "%" as %XX, so
// that no name can end a line or pass for another record.
std::string EscapeJournalValue(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : value) {
        const auto b = static_cast<unsigned char>(c);
        if (IsControlCharacter(c) || c == '%') {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> UnescapeJournalValue(std::string_view value) {
    const auto hex = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '%') {
            out += value[i];
            continue;
        }
        if (i + 2 >= value.size() || hex(value[i + 1]) < 0 || hex(value[i + 2]) < 0)
            return std::nullopt;
        out += char(hex(value[i + 1]) * 16 + hex(value[i + 2]));
        i += 2;
    }
    return out;
}

} // namespace

void LogRightsNeeded(int error, const std::function<void(std::string_view)> &log) {
    if ((error == EACCES || error == EPERM) && log)
        log("installing needs root rights: run krv-msiexec with sudo");
}

void Step(const StepHook &step, std::string_view kind) {
    if (step)
        step(kind);
}

std::string Journal::Path() {
    return (fs::path(InstallerLockPath()).parent_path() / "installer.journal").string();
}

bool Journal::Start(const std::string &root, const StepHook &step) {
    m_step = step;
    Step(m_step, "journal");
    m_fd.reset(::open(Path().c_str(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!m_fd.valid())
        return false;
    // The journal itself outlives a power loss, not only its lines.
    platform::SyncFolder(fs::path(Path()).parent_path().string());
    return Add("root", root);
}

bool Journal::Add(std::string_view kind, std::string_view value) {
    if (!m_fd.valid()) {
        errno = EBADF;
        return false;
    }
    Step(m_step, "journal");
    const std::string line = std::string(kind) + "\t" + EscapeJournalValue(value) + "\n";
    return platform::WriteFully(m_fd.get(), line.data(), line.size()) &&
           ::fdatasync(m_fd.get()) == 0;
}

void Journal::End() {
    if (m_fd.valid()) {
        Step(m_step, "unlink");
        ::unlink(Path().c_str());
    }
    m_fd.reset();
}

void Journal::Keep() {
    m_fd.reset();
}

namespace {

// A full path as the journal names folders: absolute, nothing to resolve.
bool PlainFullPath(const std::string &path) {
    return path.size() > 1 && path[0] == '/' && path.back() != '/' &&
           fs::path(path).lexically_normal().string() == path;
}

// `folder` is `root` or one of the folders above it.
bool AtOrAbove(const std::string &folder, const std::string &root) {
    return root == folder || root.starts_with(folder + "/");
}

} // namespace

Change Journal::Read(const std::string &text) {
    Change change;
    const auto foreign = [&change](std::size_t number, std::string_view line) {
        change.foreign = "line " + std::to_string(number) + " is no step of this installer's: \"" +
                         EscapeJournalValue(line.substr(0, 80)) + "\"";
    };
    std::size_t pos = 0;
    for (std::size_t number = 1; pos < text.size() && change.foreign.empty(); ++number) {
        const std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            break; // a line cut short was never acted on
        const std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        const std::size_t tab = line.find('\t');
        const auto value = tab == std::string_view::npos
                               ? std::nullopt
                               : UnescapeJournalValue(line.substr(tab + 1));
        const std::string_view kind = line.substr(0, tab);
        // The install folder first, and nothing after the commit.
        if (!value || change.committed || (number == 1) != (kind == "root")) {
            foreign(number, line);
            break;
        }
        const std::string &root = change.root.native();
        const bool code =
            UsableProductCode(*value) && change.record.empty() && change.unrecord.empty();
        if (kind == "root" && PlainFullPath(*value))
            change.root = *value;
        else if (kind == "folder" && PlainFullPath(*value) &&
                 (AtOrAbove(*value, root) || value->starts_with(root + "/")))
            change.folders.push_back(*value);
        else if (kind == "backup" && value->starts_with(kBackupStem) &&
                 value->find('/') == std::string::npos &&
                 (change.backup.empty() || change.backup == *value))
            change.backup = *value;
        else if (kind == "moved" && RecordedFileName(*value))
            change.moved.push_back(*value);
        else if (kind == "placed" &&
                 SafeRelativeEntryPath(std::string(kPackageFilesPrefix) + *value))
            change.placed.push_back(*value);
        else if (kind == "record" && code)
            change.record = *value;
        else if (kind == "unrecord" && code)
            change.unrecord = *value;
        else if (kind == "unfolder" && PlainFullPath(*value) && AtOrAbove(*value, root))
            change.unfolders.push_back(*value);
        else if (kind == "commit" && value->empty())
            change.committed = true;
        else
            foreign(number, line);
    }
    // A change this installer commits has a record to put in place (files
    // placed come with one) or one to take away.
    if (change.foreign.empty() && change.committed && change.record.empty() &&
        (change.unrecord.empty() || !change.placed.empty()))
        change.foreign = "a commit that names no record of the change";
    return change;
}

namespace {

// The work folders a change made directly in the install folder.
std::vector<fs::path> WorkFolders(const fs::path &root) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (auto it = fs::directory_iterator(root, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if ((name.starts_with(kStagingStem) || name.starts_with(kBackupStem)) &&
            it->symlink_status(ec).type() == fs::file_type::directory)
            out.push_back(it->path());
    }
    return out;
}

// All but `keep` (a name in the root), when one is given.
void DropWorkFolders(const fs::path &root, const StepHook &step, const std::string &keep = {}) {
    for (const fs::path &folder : WorkFolders(root)) {
        if (!keep.empty() && folder.filename() == keep)
            continue;
        Step(step, "rmdir");
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
}

void RemoveFolder(const std::string &folder, const StepHook &step) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    Step(step, "rmdir");
    ::rmdir(folder.c_str());
}

bool IsEmptyFolder(const fs::path &folder) {
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(folder, ec)) && fs::is_empty(folder, ec) && !ec;
}

// Puts back what a change did: files it placed go (or give way to the
// installed file they replaced), files it moved aside return, its work
// folders and the folders it made go, and its staged record is dropped; the
// products store keeps the record it had. Each step can be done again, so
// that a run killed while undoing is undone by the next. False when a file
// could not be put back: the backup folder then stays, with every file not
// yet back, and the caller keeps the journal for the next run.
bool UndoChange(const Change &change, const LogHook &log, const StepHook &step) {
    const fs::path &root = change.root;
    const fs::path backup = change.backup.empty() ? fs::path() : root / change.backup;
    const std::set<std::string> moved(change.moved.begin(), change.moved.end());
    const std::set<std::string> placed(change.placed.begin(), change.placed.end());
    bool whole = true;
    const auto putBack = [&](const std::string &relative) {
        struct stat st {};
        if (backup.empty() || ::lstat((backup / relative).c_str(), &st) != 0)
            return; // never moved, or back already
        Step(step, "rename");
        if (!StaysInside(root, relative)) {
            log("cannot put back " + (root / relative).string() +
                ": a folder on its way is a link");
            whole = false;
        } else if (!MoveInto(backup / relative, root / relative)) {
            log("cannot put back " + (root / relative).string() + ": " + std::strerror(errno));
            whole = false;
        }
    };
    for (auto it = change.placed.rbegin(); it != change.placed.rend(); ++it) {
        if (moved.count(*it)) {
            putBack(*it); // the old file takes its place again
        } else if (StaysInside(root, *it)) {
            struct stat st {};
            if (::lstat((root / *it).c_str(), &st) == 0) {
                Step(step, "unlink");
                ::unlink((root / *it).c_str());
            }
        }
    }
    for (auto it = change.moved.rbegin(); it != change.moved.rend(); ++it)
        if (!placed.count(*it))
            putBack(*it);
    if (!whole)
        log("kept " + backup.string() + " with what could not be put back");
    DropWorkFolders(root, step, whole ? std::string() : change.backup);
    if (!change.record.empty()) {
        Step(step, "store");
        DropStagedProductRecord(change.record);
    }
    for (auto it = change.folders.rbegin(); it != change.folders.rend(); ++it)
        RemoveFolder(*it, step);
    return whole;
}

// Finishes a change whose commit is written: the staged record takes the
// old one's place (or the record goes), the work folders go, and so do the
// folders that the files moved away leave empty and, with a removed record,
// the folders its first install made. Each step can be done again. False
// when the store could not be changed: the files are the new ones and the
// record the old one until a run does it again. A damaged record in the way
// is no reason: the files are final, and the staged record tells them.
bool FinishChange(const Change &change, const LogHook &log, const StepHook &step) {
    const fs::path &root = change.root;
    bool stored = true;
    std::string error, aside;
    const auto setAside = [&](const std::string &code) {
        if (!aside.empty())
            log("the record of the product " + code + " in the store cannot be read; kept as " +
                aside);
        aside.clear();
    };
    if (!change.record.empty()) {
        Step(step, "store");
        if (!ApplyStagedProductRecord(change.record, error, &aside)) {
            log("cannot put the new record of " + change.record + " in place: " + error);
            stored = false;
        }
        setAside(change.record);
    }
    if (!change.unrecord.empty()) {
        Step(step, "store");
        if (!RemoveProductRecord(change.unrecord, error, aside)) {
            log("cannot remove the product " + change.unrecord + " from the store: " + error);
            stored = false;
        }
        setAside(change.unrecord);
    }
    DropWorkFolders(root, step);
    const std::set<std::string> placed(change.placed.begin(), change.placed.end());
    // Up to the install folder itself; a folder already gone (a run killed
    // while it removed them) is passed over.
    const fs::path stop = root.parent_path();
    for (const std::string &relative : change.moved) {
        if (placed.count(relative) || !StaysInside(root, relative))
            continue;
        for (fs::path at = (root / relative).parent_path();
             at.string().size() > stop.string().size(); at = at.parent_path()) {
            std::error_code ec;
            if (!fs::exists(fs::symlink_status(at, ec)))
                continue;
            if (!IsEmptyFolder(at))
                break;
            RemoveFolder(at.string(), step);
        }
    }
    if (stored)
        RemoveEmptyChain(root, change.unfolders, step);
    return stored;
}

} // namespace

void RemoveEmptyChain(const std::string &root, std::vector<std::string> folders,
                      const StepHook &step) {
    std::erase_if(folders, [&root](const std::string &folder) { return !AtOrAbove(folder, root); });
    std::sort(folders.begin(), folders.end(),
              [](const std::string &a, const std::string &b) { return a.size() > b.size(); });
    for (const std::string &folder : folders) {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(folder, ec)) && !IsEmptyFolder(folder))
            break;
        RemoveFolder(folder, step);
    }
}

namespace {

// A folder that no record in the store names and that holds no work folder
// of a run is no install folder of ours: a journal that would change a file
// there is not one a run wrote. (A run killed before it made its work
// folders, or after its recovery took them away, has no file left to
// change there.)
std::string ChangeOutsideInstallFolders(const Change &change) {
    const std::string &root = change.root.native();
    if (!WorkFolders(root).empty())
        return {};
    for (std::string location : RecordedInstallLocations()) {
        while (location.size() > 1 && location.back() == '/')
            location.pop_back();
        if (location == root)
            return {};
    }
    for (const auto *files : {&change.placed, &change.moved})
        for (const std::string &relative : *files) {
            struct stat st {};
            if (::lstat((change.root / relative).c_str(), &st) == 0)
                return "its install folder " + root +
                       " is named by no record and holds no work folder of a run, yet it names " +
                       (change.root / relative).string() + " to change";
        }
    return {};
}

} // namespace

bool RecoverDeadRun(const LogHook &log, const StepHook &step) {
    const std::string path = Journal::Path();
    std::string text;
    const platform::FileError read = platform::ReadRegularFile(path, kJournalLimit, text);
    if (read == platform::FileError::Missing)
        return true;
    if (read != platform::FileError::None) {
        // It may name a change half made: dropped, that change would stay
        // half made for good.
        const std::string why = read == platform::FileError::Failed
                                    ? std::string(std::strerror(errno))
                                    : std::string(platform::FileErrorText(read));
        log("cannot read the installer journal " + path + " (" + why +
            "): the change it names is neither finished nor undone, and no other can start");
        return false;
    }
    Change change = Journal::Read(text);
    const std::string root = change.root.string();
    // Only a folder a run could have installed into is touched.
    if (change.foreign.empty() && !root.empty() && platform::ConfinedFolder({}, root) != root)
        change.foreign = "its install folder " + root + " is not one this installer uses";
    if (change.foreign.empty() && !root.empty())
        change.foreign = ChangeOutsideInstallFolders(change);
    const std::string stays =
        ": the change it names is neither finished nor undone, and no other can start";
    if (!change.foreign.empty()) {
        log("the installer journal " + path + " is not one this installer writes (" +
            change.foreign + ")" + stays);
        return false;
    }
    if (root.empty()) {
        // Made, and the run killed before it named its install folder: no
        // work folder can be its own. Work folders where the store's
        // records install say that something else emptied it.
        std::string left;
        for (const std::string &location : RecordedInstallLocations())
            for (const fs::path &folder : WorkFolders(location))
                left += (left.empty() ? "" : ", ") + folder.string();
        if (!left.empty()) {
            log("the installer journal " + path +
                " names no install folder while work folders remain (" + left + ")" + stays);
            return false;
        }
        ::unlink(path.c_str());
        return true;
    }
    // A journal of an earlier installer names no backup folder: what its
    // backup folder holds was moved there.
    for (const fs::path &folder : WorkFolders(root)) {
        if (!change.backup.empty() || !folder.filename().string().starts_with(kBackupStem))
            continue;
        change.backup = folder.filename().string();
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(folder, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (it->symlink_status(ec).type() != fs::file_type::directory)
                change.moved.push_back(it->path().lexically_relative(folder).string());
    }
    bool done = change.committed ? FinishChange(change, log, step) : UndoChange(change, log, step);
    // Its work folders are named by nothing else.
    for (const fs::path &folder : done ? WorkFolders(root) : std::vector<fs::path>{}) {
        log("cannot remove the work folder " + folder.string());
        done = false;
    }
    if (!done) {
        log(std::string("cannot ") + (change.committed ? "finish" : "undo") +
            " the change a run that ended early left in " + root + "; " + path +
            " stays for the next run");
        return false;
    }
    ::unlink(path.c_str());
    log(std::string(change.committed ? "finished" : "undid") +
        " the change a run that ended early left in " + root);
    return true;
}

FileTransaction::FileTransaction(fs::path root, LogHook log, StepHook step)
    : m_log(log ? std::move(log) : [](std::string_view) {}), m_step(std::move(step)) {
    m_change.root = std::move(root);
}

FileTransaction::~FileTransaction() {
    if (m_started && !m_done)
        Rollback();
}

bool FileTransaction::Begin(bool needStaging) {
    m_started = true;
    if (!m_journal.Start(m_change.root.string(), m_step)) {
        const int error = errno;
        Log("cannot write the installer journal " + Journal::Path() + ": " + std::strerror(error));
        LogRightsNeeded(error, m_log);
        return false;
    }
    if (!MakeFolders(m_change.root, &m_rootFolders))
        return false;
    Step(m_step, "mkdir");
    const std::string backup = MakeWorkFolder(m_change.root, kBackupStem);
    if (backup.empty() || !m_journal.Add("backup", fs::path(backup).filename().string())) {
        Log("cannot create a work folder in " + m_change.root.string() + ": " +
            std::strerror(errno));
        return false;
    }
    m_change.backup = fs::path(backup).filename().string();
    if (needStaging) {
        Step(m_step, "mkdir");
        m_staging = MakeWorkFolder(m_change.root, kStagingStem);
        if (m_staging.empty()) {
            Log("cannot create a work folder in " + m_change.root.string() + ": " +
                std::strerror(errno));
            return false;
        }
    }
    return true;
}

bool FileTransaction::Remove(const std::string &relative) {
    const fs::path at = Root() / relative;
    struct stat st {};
    if (::lstat(at.c_str(), &st) != 0)
        return errno == ENOENT;
    if (!StaysInside(Root(), relative) || S_ISDIR(st.st_mode)) {
        Log("cannot remove " + at.string() + ": not a file of the product");
        return false;
    }
    if (!Journaled("moved", relative))
        return false;
    m_change.moved.push_back(relative);
    Step(m_step, "rename");
    if (!MoveInto(at, Root() / m_change.backup / relative)) {
        Log("cannot remove " + at.string() + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

bool FileTransaction::Place(const std::string &relative) {
    const fs::path at = Root() / relative;
    if (!StaysInside(Root(), relative) || !Remove(relative)) {
        Log("cannot replace " + at.string());
        return false;
    }
    if (!MakeFolders(at.parent_path()))
        return false;
    if (!Journaled("placed", relative))
        return false;
    m_change.placed.push_back(relative);
    Step(m_step, "rename");
    if (::rename((fs::path(m_staging) / relative).c_str(), at.c_str()) != 0) {
        Log("cannot install " + at.string() + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

bool FileTransaction::Commit(const InstalledProduct *record, const std::string &unrecord,
                             const std::vector<std::string> &unfolders) {
    // The renames on disk before the commit that makes them final.
    std::set<fs::path> folders{Root()};
    for (const auto *list : {&m_change.placed, &m_change.moved})
        for (const std::string &relative : *list)
            folders.insert((Root() / relative).parent_path());
    for (const fs::path &folder : folders)
        platform::SyncFolder(folder.string());
    if (record) {
        std::string error;
        if (!Journaled("record", record->productCode)) {
            Rollback();
            return false;
        }
        m_change.record = record->productCode;
        Step(m_step, "store");
        if (!StageProductRecord(*record, error)) {
            const int reason = errno;
            Log("cannot record the product in the store: " + error);
            LogRightsNeeded(reason, m_log);
            Rollback();
            return false;
        }
    }
    if (!unrecord.empty() && !Journaled("unrecord", unrecord)) {
        Rollback();
        return false;
    }
    m_change.unrecord = unrecord;
    for (const std::string &folder : unrecord.empty() ? std::vector<std::string>{} : unfolders) {
        if (!AtOrAbove(folder, Root().native()))
            continue;
        if (!Journaled("unfolder", folder)) {
            Rollback();
            return false;
        }
        m_change.unfolders.push_back(folder);
    }
    if (!Journaled("commit")) {
        Rollback();
        return false;
    }
    m_done = true;
    m_change.committed = true;
    if (!FinishChange(m_change, m_log, m_step)) {
        // The files are final: the next run puts the record in place.
        m_journal.Keep();
        Log("the files in " + Root().string() + " are changed but the store is not; " +
            Journal::Path() + " stays for the next run to finish it");
        return false;
    }
    m_journal.End();
    return true;
}

void FileTransaction::Rollback() {
    if (m_done)
        return;
    m_done = true;
    if (!UndoChange(m_change, m_log, m_step)) {
        m_journal.Keep();
        Log(Journal::Path() + " stays for the next run to put back the rest");
        return;
    }
    m_journal.End();
}

// Writes the journal's line for the next step; says why in the log when
// it cannot.
bool FileTransaction::Journaled(std::string_view kind, std::string_view value) {
    if (m_journal.Add(kind, value))
        return true;
    Log("cannot write the installer journal: " + std::string(std::strerror(errno)));
    return false;
}

// Makes the missing folders of a path, each named in the journal before
// it is made (and added to *made).
bool FileTransaction::MakeFolders(const fs::path &folder, std::vector<std::string> *made) {
    std::vector<fs::path> missing;
    for (fs::path at = folder; !at.empty() && at != at.root_path(); at = at.parent_path()) {
        struct stat st {};
        if (::lstat(at.c_str(), &st) == 0)
            break;
        missing.push_back(at);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (!Journaled("folder", it->string()))
            return false;
        m_change.folders.push_back(it->string());
        Step(m_step, "mkdir");
        const int error = ::mkdir(it->c_str(), 0755) == 0 ? 0 : errno;
        if (error != 0 && error != EEXIST) {
            Log("cannot create the folder " + it->string() + ": " + std::strerror(error));
            LogRightsNeeded(error, m_log);
            return false;
        }
        if (error == 0 && made)
            made->push_back(it->string());
    }
    return true;
}

void FileTransaction::Log(const std::string &line) {
    if (m_log)
        m_log(line);
}

} // namespace krv::setup
