#include "installer_engine.h"

#include "command_line_text.h"
#include "files.h"
#include "installed_products.h"
#include "installer_package.h"
#include "paths.h"
#include "unique_fd.h"

#include <file_open.h>

#include <setup_registry.h>
#include <setup_system.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace krv::setup {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return out;
}

bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           EqualsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string Property(const InstallerRequest &request, const std::string &name) {
    const auto it = request.properties.find(name);
    return it == request.properties.end() ? std::string() : it->second;
}

std::string InstallerVersionText() {
    return std::to_string(kInstallerVersion[0]) + "." + std::to_string(kInstallerVersion[1]) + "." +
           std::to_string(kInstallerVersion[2]) + "." + std::to_string(kInstallerVersion[3]);
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    for (const std::string &line : SplitString(text, "\n"))
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

bool HasControlCharacter(std::string_view name) {
    return std::any_of(name.begin(), name.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// A name for a log line, in quotes, its control characters written out.
std::string QuotedName(std::string_view name) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + c;
        else if (b < 0x20 || b == 0x7F)
            out += std::string("\\x") + kHex[b >> 4] + kHex[b & 0x0F];
        else
            out += c;
    }
    return out + "\"";
}

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
    std::error_code ec;
    fs::create_directories(to.parent_path(), ec);
    if (ec) {
        errno = ec.value();
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

// The machine's store and lock are root's: an ordinary user is told what
// would help rather than left with a bare "Permission denied".
void LogRightsNeeded(int error, const std::function<void(std::string_view)> &log) {
    if ((error == EACCES || error == EPERM) && log)
        log("installing needs root rights: run krv-msiexec with sudo");
}

constexpr char kStagingStem[] = ".krv-staging-";
constexpr char kBackupStem[] = ".krv-backup-";
// Far past the lines of the largest product.
constexpr uint64_t kJournalLimit = 64u << 20;

using StepHook = std::function<void(std::string_view)>;
using LogHook = std::function<void(std::string_view)>;

void Step(const StepHook &step, std::string_view kind) {
    if (step)
        step(kind);
}

// A journal value on one line: bytes below 0x20, 0x7F and "%" as %XX, so
// that no name can end a line or pass for another record.
std::string EscapeJournalValue(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : value) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || c == '%') {
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

void SyncFolder(const fs::path &folder) {
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get());
}

// The change one run makes to an install folder and the products store, as
// its journal names it.
struct Change {
    fs::path root;
    std::string backup;               // the backup work folder's name in the root
    std::vector<std::string> folders; // made by the run, in the order made
    std::vector<std::string> moved;   // installed files moved to the backup
    std::vector<std::string> placed;  // files put in place
    std::string record;               // product whose new record is staged
    std::string unrecord;             // product whose record goes
    bool committed = false;
};

// The journal of the change in progress, next to the installer lock: one
// "kind<TAB>value" line per step, written and flushed before the step it
// names. "root" the install folder; "folder" a folder about to be made;
// "backup" the work folder that keeps replaced files; "moved" an installed
// file about to go to it; "placed" a file about to be put in place; "record"
// the product whose new record is about to be staged beside the old one, or
// "unrecord" the product whose record goes; "commit" once all of that is
// done. A run that dies leaves it behind, and the next run under the lock
// finishes (commit seen) or undoes the change from it.
class Journal {
  public:
    static std::string Path() {
        return (fs::path(InstallerLockPath()).parent_path() / "installer.journal").string();
    }
    bool Start(const std::string &root, const StepHook &step) {
        m_step = step;
        Step(m_step, "journal");
        m_fd.reset(::open(Path().c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644));
        if (!m_fd.valid())
            return false;
        // The journal itself outlives a power loss, not only its lines.
        SyncFolder(fs::path(Path()).parent_path());
        return Add("root", root);
    }
    bool Add(std::string_view kind, std::string_view value = {}) {
        if (!m_fd.valid()) {
            errno = EBADF;
            return false;
        }
        Step(m_step, "journal");
        const std::string line = std::string(kind) + "\t" + EscapeJournalValue(value) + "\n";
        return platform::WriteFully(m_fd.get(), line.data(), line.size()) &&
               ::fdatasync(m_fd.get()) == 0;
    }
    void End() {
        if (m_fd.valid()) {
            Step(m_step, "unlink");
            ::unlink(Path().c_str());
        }
        m_fd.reset();
    }

    // The change a journal names; only whole lines count.
    static Change Read(const std::string &text) {
        Change change;
        std::size_t pos = 0;
        while (pos < text.size()) {
            const std::size_t end = text.find('\n', pos);
            if (end == std::string::npos)
                break; // a line cut short was never acted on
            const std::string_view line(text.data() + pos, end - pos);
            pos = end + 1;
            const std::size_t tab = line.find('\t');
            const std::string_view kind = line.substr(0, tab);
            const auto value = UnescapeJournalValue(
                tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1));
            if (!value)
                continue;
            const bool relative =
                SafeRelativeEntryPath(std::string(kPackageFilesPrefix) + *value).has_value();
            if (kind == "root" && change.root.empty())
                change.root = *value;
            else if (kind == "folder" && !value->empty() && (*value)[0] == '/')
                change.folders.push_back(*value);
            else if (kind == "backup" && value->starts_with(kBackupStem) &&
                     value->find('/') == std::string::npos)
                change.backup = *value;
            else if (kind == "moved" && relative)
                change.moved.push_back(*value);
            else if (kind == "placed" && relative)
                change.placed.push_back(*value);
            else if (kind == "record")
                change.record = *value;
            else if (kind == "unrecord")
                change.unrecord = *value;
            else if (kind == "commit")
                change.committed = true;
        }
        return change;
    }

  private:
    UniqueFd m_fd;
    StepHook m_step;
};

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

void DropWorkFolders(const fs::path &root, const StepHook &step) {
    for (const fs::path &folder : WorkFolders(root)) {
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
// that a run killed while undoing is undone by the next.
void UndoChange(const Change &change, const LogHook &log, const StepHook &step) {
    const fs::path &root = change.root;
    const fs::path backup = change.backup.empty() ? fs::path() : root / change.backup;
    const std::set<std::string> moved(change.moved.begin(), change.moved.end());
    const std::set<std::string> placed(change.placed.begin(), change.placed.end());
    const auto putBack = [&](const std::string &relative) {
        struct stat st {};
        if (backup.empty() || ::lstat((backup / relative).c_str(), &st) != 0)
            return; // never moved, or back already
        Step(step, "rename");
        if (!StaysInside(root, relative) || !MoveInto(backup / relative, root / relative))
            log("cannot put back " + (root / relative).string() + ": " + std::strerror(errno));
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
    DropWorkFolders(root, step);
    if (!change.record.empty()) {
        Step(step, "store");
        DropStagedProductRecord(change.record);
    }
    for (auto it = change.folders.rbegin(); it != change.folders.rend(); ++it)
        RemoveFolder(*it, step);
}

// Finishes a change whose commit is written: the staged record takes the
// old one's place (or the record goes), the work folders go, and so do the
// folders that the files moved away leave empty. Each step can be done
// again.
void FinishChange(const Change &change, const LogHook &log, const StepHook &step) {
    const fs::path &root = change.root;
    std::string error;
    if (!change.record.empty()) {
        Step(step, "store");
        if (!ApplyStagedProductRecord(change.record, error))
            log("cannot put the new record of " + change.record + " in place: " + error);
    }
    if (!change.unrecord.empty() && ProductState(change.unrecord) == install_state::kDefault) {
        Step(step, "store");
        if (!UnregisterProduct(change.unrecord))
            log("cannot remove the product " + change.unrecord +
                " from the store: " + platform::RegistryLastError());
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
}

// Finishes or undoes what a dead run's change did, from its journal.
void RecoverDeadRun(const LogHook &log, const StepHook &step) {
    const std::string path = Journal::Path();
    std::string text;
    if (platform::ReadRegularFile(path, kJournalLimit, text) == platform::FileError::Missing)
        return;
    if (text.empty()) {
        // Made, and the run killed before it named anything.
        ::unlink(path.c_str());
        return;
    }
    Change change = Journal::Read(text);
    const std::string root = change.root.string();
    // Only a folder a run could have installed into is touched.
    if (root.empty() || root == "/" || platform::ConfinedFolder({}, root) != root) {
        ::unlink(path.c_str());
        log("removed an installer journal that names no install folder: " + path);
        return;
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
    if (change.committed)
        FinishChange(change, log, step);
    else
        UndoChange(change, log, step);
    ::unlink(path.c_str());
    log(std::string(change.committed ? "finished" : "undid") +
        " the change a run that ended early left in " + root);
}

// The files of one change of an install folder and the product's record,
// made or undone as a whole.
class FileTransaction {
  public:
    FileTransaction(fs::path root, LogHook log, StepHook step)
        : m_log(log ? std::move(log) : [](std::string_view) {}), m_step(std::move(step)) {
        m_change.root = std::move(root);
    }
    ~FileTransaction() {
        if (m_started && !m_done)
            Rollback();
    }

    const fs::path &Root() const { return m_change.root; }

    bool Begin(bool needStaging) {
        m_started = true;
        if (!m_journal.Start(m_change.root.string(), m_step)) {
            const int error = errno;
            Log("cannot write the installer journal " + Journal::Path() + ": " +
                std::strerror(error));
            LogRightsNeeded(error, m_log);
            return false;
        }
        if (!MakeFolders(m_change.root))
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

    const std::string &Staging() const { return m_staging; }

    // Moves an installed file away (kept until the commit).
    bool Remove(const std::string &relative) {
        const fs::path at = Root() / relative;
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0)
            return errno == ENOENT;
        if (!StaysInside(Root(), relative) || S_ISDIR(st.st_mode)) {
            Log("cannot remove " + at.string() + ": not a file of the product");
            return false;
        }
        if (!Journaled("moved", relative)) {
            return false;
        }
        m_change.moved.push_back(relative);
        Step(m_step, "rename");
        if (!MoveInto(at, Root() / m_change.backup / relative)) {
            Log("cannot remove " + at.string() + ": " + std::strerror(errno));
            return false;
        }
        return true;
    }

    // Puts a staged file in place, moving the file it replaces away.
    bool Place(const std::string &relative) {
        const fs::path at = Root() / relative;
        if (!StaysInside(Root(), relative) || !Remove(relative)) {
            Log("cannot replace " + at.string());
            return false;
        }
        if (!MakeFolders(at.parent_path()))
            return false;
        if (!Journaled("placed", relative)) {
            return false;
        }
        m_change.placed.push_back(relative);
        Step(m_step, "rename");
        if (::rename((fs::path(m_staging) / relative).c_str(), at.c_str()) != 0) {
            Log("cannot install " + at.string() + ": " + std::strerror(errno));
            return false;
        }
        return true;
    }

    // Makes the change final: the new record of the product (or its
    // removal) goes into the journal with the commit, and is put in place
    // after it. False (and everything undone) when the record cannot be
    // written.
    bool Commit(const InstalledProduct *record, const std::string &unrecord) {
        // The renames on disk before the commit that makes them final.
        std::set<fs::path> folders{Root()};
        for (const auto *list : {&m_change.placed, &m_change.moved})
            for (const std::string &relative : *list)
                folders.insert((Root() / relative).parent_path());
        for (const fs::path &folder : folders)
            SyncFolder(folder);
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
        if (!Journaled("commit")) {
            Rollback();
            return false;
        }
        m_done = true;
        m_change.committed = true;
        FinishChange(m_change, m_log, m_step);
        m_journal.End();
        return true;
    }

    void Rollback() {
        if (m_done)
            return;
        m_done = true;
        UndoChange(m_change, m_log, m_step);
        m_journal.End();
    }

  private:
    // Writes the journal's line for the next step; says why in the log when
    // it cannot.
    bool Journaled(std::string_view kind, std::string_view value = {}) {
        if (m_journal.Add(kind, value))
            return true;
        Log("cannot write the installer journal: " + std::string(std::strerror(errno)));
        return false;
    }

    // Makes the missing folders of a path, each named in the journal before
    // it is made.
    bool MakeFolders(const fs::path &folder) {
        std::vector<fs::path> missing;
        for (fs::path at = folder; !at.empty() && at != at.root_path(); at = at.parent_path()) {
            struct stat st {};
            if (::lstat(at.c_str(), &st) == 0)
                break;
            missing.push_back(at);
        }
        for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
            if (!Journaled("folder", it->string())) {
                return false;
            }
            m_change.folders.push_back(it->string());
            Step(m_step, "mkdir");
            if (::mkdir(it->c_str(), 0777) != 0 && errno != EEXIST) {
                const int error = errno;
                Log("cannot create the folder " + it->string() + ": " + std::strerror(error));
                LogRightsNeeded(error, m_log);
                return false;
            }
        }
        return true;
    }
    void Log(const std::string &line) {
        if (m_log)
            m_log(line);
    }

    LogHook m_log;
    StepHook m_step;
    Journal m_journal;
    Change m_change;
    std::string m_staging;
    bool m_started = false;
    bool m_done = false;
};

class Run {
  public:
    Run(const InstallerRequest &request, const InstallerContext &context)
        : m_request(request), m_context(context) {}

    int Execute() {
        if (m_request.action == InstallerAction::Uninstall)
            return Uninstall();
        return Install();
    }

  private:
    void Log(const std::string &line) const {
        if (m_context.log)
            m_context.log(line);
    }
    bool Cancelled() const { return m_context.cancelled && m_context.cancelled(); }

    int Finished() const {
        const std::string reboot = Lower(Property(m_request, "REBOOT"));
        if (m_request.forceRestart || (!reboot.empty() && reboot[0] == 'f')) {
            Log("a restart is required to finish");
            return installer_exit::kRestartRequired;
        }
        return installer_exit::kSuccess;
    }

    int Uninstall() {
        std::string code = m_request.instanceCode;
        if (code.empty()) {
            code = m_request.target;
            if (FileOrFolderExists(m_request.target)) {
                const auto database = OpenPackageDatabase(m_request.target);
                if (!database) {
                    Log("cannot open the package " + m_request.target);
                    return installer_exit::kPackageOpenFailed;
                }
                code = QueryMsiProperty(*database, "ProductCode").value_or("");
            }
        }
        SetAsideDamagedRecordOf(code);
        const auto installed = FindInstalledProduct(code);
        if (!installed) {
            Log("the product is not installed: " + code);
            return installer_exit::kUnknownProduct;
        }
        return Remove(*installed);
    }

    int Remove(const InstalledProduct &installed) {
        Log("removing " + installed.productName + " " + installed.versionString + " from " +
            installed.installLocation);
        if (!PathExists(installed.installLocation)) {
            // No files to take away: the record goes in one step.
            Step(m_context.step, "store");
            if (!UnregisterProduct(installed.productCode)) {
                Log("cannot remove the product from the store: " + platform::RegistryLastError());
                return installer_exit::kFailure;
            }
            return Finished();
        }
        FileTransaction files(ToNativePath(installed.installLocation), m_context.log,
                              m_context.step);
        if (!files.Begin(false))
            return installer_exit::kFailure;
        for (const std::string &relative : SplitLines(installed.files))
            if (!RemoveListed(files, relative))
                return installer_exit::kFailure;
        if (!files.Commit(nullptr, installed.productCode))
            return installer_exit::kFailure;
        return Finished();
    }

    // A file the record lists, moved away. A line that names no file of the
    // install folder (a record an earlier installer wrote with a name that
    // held a control character or a line break) is left, with a log line,
    // rather than blocking the removal for ever.
    bool RemoveListed(FileTransaction &files, const std::string &relative) const {
        struct stat st {};
        if (!SafeRelativeEntryPath(std::string(kPackageFilesPrefix) + relative) ||
            (::lstat((files.Root() / relative).c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
            Log("left in place, not a file the record can name: " + QuotedName(relative));
            return true;
        }
        return files.Remove(relative);
    }

    // A record of the product that the store cannot read would block it for
    // ever: it is kept aside and the run goes on as if there were none.
    void SetAsideDamagedRecordOf(const std::string &code) const {
        std::string why;
        InstalledProduct readable;
        const auto aside = SetAsideDamagedRecord(code, why, readable);
        if (!aside)
            return;
        // The old install's files stay where they are: those the readable
        // part of the record names are named here.
        std::string files;
        for (const std::string &relative : SplitLines(readable.files))
            files += (files.empty() ? "" : ", ") + relative;
        std::string left = "; the files of its install are not known and stay";
        if (!readable.installLocation.empty())
            left = "; the files of its install stay in " + readable.installLocation +
                   (files.empty() ? std::string() : ": " + files);
        Log("the record of the product " + code + " cannot be read (" + why + "); kept as " +
            *aside + " and the product taken as not installed" + left);
    }

    // The product code the request acts on, and the instance name.
    int ChooseProduct(const PackageDatabase &database, std::string &code, std::string &instance,
                      std::string &language) const {
        code = QueryMsiProperty(database, "ProductCode").value_or("");
        language = QueryMsiProperty(database, "ProductLanguage").value_or("");
        for (const std::string &raw : SplitString(Property(m_request, "TRANSFORMS"), ";")) {
            const std::string item(TrimBlanks(raw));
            if (item.empty())
                continue;
            if (item[0] == ':' && EndsWithIgnoreCase(item, ".mst")) {
                instance = item.substr(1, item.size() - 5);
            } else if (item[0] == ':' && item.size() > 1 &&
                       item.find_first_not_of("0123456789", 1) == std::string::npos) {
                language = item.substr(1);
            } else {
                Log("this package has no transform " + item);
                return installer_exit::kTransformFailed;
            }
        }
        const bool newInstance = Property(m_request, "MSINEWINSTANCE") == "1";
        if (newInstance || !instance.empty()) {
            const auto it =
                std::find_if(database.instances.begin(), database.instances.end(),
                             [&instance](const PackageInstance &i) { return i.name == instance; });
            if (!newInstance || it == database.instances.end()) {
                Log("no such instance in the package: " + instance);
                return installer_exit::kTransformFailed;
            }
            code = it->productCode;
        }
        if (!m_request.instanceCode.empty()) {
            const auto it =
                std::find_if(database.instances.begin(), database.instances.end(),
                             [this](const PackageInstance &i) {
                                 return EqualsIgnoreCase(i.productCode, m_request.instanceCode);
                             });
            if (it != database.instances.end())
                instance = it->name;
            else if (!EqualsIgnoreCase(code, m_request.instanceCode)) {
                Log("the package does not install the product " + m_request.instanceCode);
                return installer_exit::kUnknownProduct;
            }
            code = it != database.instances.end() ? it->productCode : code;
        }
        if (code.empty()) {
            Log("the package has no product code");
            return installer_exit::kFailure;
        }
        return installer_exit::kSuccess;
    }

    // The install folder, resolved and confined; empty (and a log line
    // naming it) when it is not usable or climbs out of its place.
    std::string InstallFolder(const PackageDatabase &database, const InstalledProduct *installed,
                              const std::string &instance) const {
        std::string base; // the folder a leading reference resolves to
        std::string folder = Property(m_request, "PX_INTANCE_LOCATION");
        if (folder.empty())
            folder = Property(m_request, "INSTALLDIR");
        if (folder.empty() && installed)
            folder = installed->installLocation;
        std::string written = folder; // as given, for the log
        if (folder.empty()) {
            folder = written = QueryMsiProperty(database, "INSTALLDIR").value_or("");
            // "[ProgramFilesFolder]..\..\x" must not climb out of the
            // folder the reference names.
            const std::size_t close = folder.find(']');
            if (!folder.empty() && folder[0] == '[' && close != std::string::npos &&
                close + 1 < folder.size()) {
                std::string reference = ExpandReferences(folder.substr(0, close + 1));
                if (!reference.empty() && IsPathSeparator(reference[0])) {
                    base = ToNativePath(reference);
                    folder.erase(0, close + 1);
                }
            }
            folder = ExpandReferences(folder);
            while (!folder.empty() && IsPathSeparator(folder.back()))
                folder.pop_back();
            if (!instance.empty() && !folder.empty())
                folder += "-" + instance;
        }
        const auto confined = platform::ConfinedFolder(base, ToNativePath(folder));
        if (!confined || *confined == "/") {
            Log("the install folder is not usable or leaves its place: " + written);
            return {};
        }
        return *confined;
    }

    int Install() {
        const auto database = OpenPackageDatabase(m_request.target);
        if (!database) {
            Log("cannot open the package " + m_request.target);
            return installer_exit::kPackageOpenFailed;
        }
        std::string code, instance, language;
        if (const int chosen = ChooseProduct(*database, code, instance, language); chosen != 0)
            return chosen;
        SetAsideDamagedRecordOf(code);
        const auto installed = FindInstalledProduct(code);
        const bool reinstall = m_request.action != InstallerAction::Install ||
                               !Property(m_request, "REINSTALL").empty();
        const bool remove = EqualsIgnoreCase(Property(m_request, "REMOVE"), "ALL");
        const std::string packageCode = QueryMsiProperty(*database, "PackageCode").value_or("");
        if (!installed && (reinstall || remove)) {
            Log("the product is not installed: " + code);
            return installer_exit::kUnknownProduct;
        }
        if (installed && remove)
            return Remove(*installed);
        if (installed && !reinstall) {
            if (installed->packageCode != packageCode) {
                Log("another version of this product is installed: " + installed->versionString);
                return installer_exit::kOtherVersionInstalled;
            }
            Log("the product is installed; nothing to change");
            return Finished();
        }

        const std::string folder =
            InstallFolder(*database, installed ? &*installed : nullptr, instance);
        if (folder.empty())
            return installer_exit::kFailure;
        InstalledProduct product;
        product.productCode = code;
        product.productName = QueryMsiProperty(*database, "ProductName").value_or("");
        product.versionString = QueryMsiProperty(*database, "ProductVersion").value_or("");
        product.packageCode = packageCode;
        product.upgradeCode = QueryMsiProperty(*database, "UpgradeCode").value_or("");
        product.installedLanguage = language;
        product.installLocation = folder;
        product.instanceName = instance;
        product.installerVersion = InstallerVersionText();
        if (const int checked = CheckEntries(product); checked != installer_exit::kSuccess)
            return checked;

        Log("installing " + QueryMsiProperty(*database, "ProductName").value_or(code) + " " +
            QueryMsiProperty(*database, "ProductVersion").value_or("") + " into " + folder);
        FileTransaction files(folder, m_context.log, m_context.step);
        if (!files.Begin(true))
            return installer_exit::kFailure;
        const PackageExtraction extracted = ExtractPackageFiles(
            m_request.target, files.Staging(), m_context.cancelled, m_context.step);
        if (extracted.cancelled)
            return installer_exit::kUserExit;
        if (!extracted.ok) {
            Log(extracted.error);
            return installer_exit::kFailure;
        }
        std::string list;
        std::set<std::string> placed;
        for (const PackageFile &file : extracted.files) {
            if (file.folder)
                continue;
            if (Cancelled())
                return installer_exit::kUserExit;
            if (!files.Place(file.relativePath))
                return installer_exit::kFailure;
            placed.insert(file.relativePath);
            list += file.relativePath + "\n";
        }
        // Files of the earlier version that this one no longer has.
        if (installed && ToNativePath(installed->installLocation) == folder)
            for (const std::string &relative : SplitLines(installed->files))
                if (!placed.count(relative) && !RemoveListed(files, relative))
                    return installer_exit::kFailure;
        if (Cancelled())
            return installer_exit::kUserExit;

        product.files = list;
        if (!files.Commit(&product, {}))
            return installer_exit::kFailure;
        Log("installed " + code);
        return Finished();
    }

    // The package's entries, read before anything is written: a name with a
    // control character would break the journal's and the record's lines,
    // and a file list past what the store reads back would leave a record
    // that blocks the product.
    int CheckEntries(InstalledProduct product) const {
        std::vector<std::string> names;
        std::string error;
        if (!ListPackageEntries(m_request.target, names, error)) {
            Log(error);
            return installer_exit::kFailure;
        }
        std::size_t count = 0;
        for (const std::string &name : names) {
            if (HasControlCharacter(name)) {
                Log("the package holds an entry whose name has a control character: " +
                    QuotedName(name));
                return installer_exit::kFailure;
            }
            const auto relative = SafeRelativeEntryPath(name);
            if (relative && !name.ends_with('/')) {
                product.files += *relative + "\n";
                ++count;
            }
        }
        if (!ProductRecordFits(product)) {
            Log("the file list is too large for the products store: " + std::to_string(count) +
                " entries");
            return installer_exit::kFailure;
        }
        return installer_exit::kSuccess;
    }

    const InstallerRequest &m_request;
    const InstallerContext &m_context;
};

} // namespace

bool ParseInstallerArguments(const std::vector<std::string> &arguments, InstallerRequest &request,
                             std::string &error) {
    request = InstallerRequest{};
    auto takeValue = [&](std::size_t &i, std::string &out) {
        if (i + 1 >= arguments.size()) {
            error = "the option " + arguments[i] + " needs a value";
            return false;
        }
        out = arguments[++i];
        return true;
    };
    auto setAction = [&](InstallerAction action, std::size_t &i) {
        if (request.action != InstallerAction::None) {
            error = "more than one action: " + arguments[i];
            return false;
        }
        request.action = action;
        return takeValue(i, request.target);
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument.empty())
            continue;
        if (argument[0] != '/' && argument[0] != '-') {
            const std::size_t equals = argument.find('=');
            // A name of blanks alone is no name either.
            const std::string name = equals == std::string::npos
                                         ? std::string()
                                         : std::string(TrimBlanks(argument.substr(0, equals)));
            if (name.empty()) {
                error = "not an option or property: " + argument;
                return false;
            }
            request.properties[name] = argument.substr(equals + 1);
            continue;
        }
        const std::string option = Lower(argument.substr(1));
        bool ok = true;
        if (option == "i" || option == "package")
            ok = setAction(InstallerAction::Install, i);
        else if (option == "x" || option == "uninstall")
            ok = setAction(InstallerAction::Uninstall, i);
        else if (option == "p" || option == "update")
            ok = setAction(InstallerAction::Patch, i);
        else if (option[0] == 'f') {
            request.reinstallMode = option.substr(1);
            ok = setAction(InstallerAction::Reinstall, i);
        } else if (option == "n")
            ok = takeValue(i, request.instanceCode);
        else if (option[0] == 'q' || option == "passive")
            request.uiLevel = argument;
        else if (option == "norestart" || option == "promptrestart")
            ;
        else if (option == "forcerestart")
            request.forceRestart = true;
        else if (option[0] == 'l')
            ok = takeValue(i, request.logFile);
        else {
            error = "unknown option " + argument;
            return false;
        }
        if (!ok)
            return false;
    }
    if (request.action == InstallerAction::None) {
        error = "no action (/i, /f, /p or /x) given";
        return false;
    }
    return true;
}

uint32_t InstallerReturnCode(uint32_t exitStatus) {
    static constexpr int kCodes[] = {installer_exit::kUnknownProduct,
                                     installer_exit::kUserExit,
                                     installer_exit::kFailure,
                                     installer_exit::kAlreadyRunning,
                                     installer_exit::kPackageOpenFailed,
                                     installer_exit::kTransformFailed,
                                     installer_exit::kOtherVersionInstalled,
                                     installer_exit::kInvalidCommandLine,
                                     installer_exit::kRestartRequired,
                                     installer_exit::kRestartInitiated};
    if (exitStatus == 0 || exitStatus > 0xFF)
        return exitStatus;
    for (const int code : kCodes)
        if ((uint32_t(code) & 0xFF) == exitStatus)
            return uint32_t(code);
    return exitStatus;
}

std::string InstallerLockPath() {
    return (fs::path(platform::RegistryHiveDirectory(platform::RegistryHive::LocalMachine))
                .parent_path() /
            "installer.lock")
        .string();
}

int RunInstaller(const InstallerRequest &request, const InstallerContext &context) {
    const std::string lockPath = InstallerLockPath();
    const int made = CreateFolderTree(lockPath, false);
    const UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!lock.valid()) {
        // A folder that could not be made explains the open that failed.
        const int error = made != 0 ? made : errno;
        if (context.log) {
            context.log("cannot open the installer lock " + lockPath + ": " + std::strerror(error));
            LogRightsNeeded(error, context.log);
        }
        return installer_exit::kFailure;
    }
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        if (context.log)
            context.log("another installation is in progress");
        return installer_exit::kAlreadyRunning;
    }
    RecoverDeadRun(
        [&context](std::string_view line) {
            if (context.log)
                context.log(line);
        },
        context.step);
    return Run(request, context).Execute();
}

} // namespace krv::setup
