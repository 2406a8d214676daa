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

bool MoveInto(const fs::path &from, const fs::path &to) {
    std::error_code ec;
    fs::create_directories(to.parent_path(), ec);
    return !ec && ::rename(from.c_str(), to.c_str()) == 0;
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

// The journal of the change in progress, next to the installer lock: the
// install folder, each folder made and each file about to be placed, one
// "kind<TAB>value" line each, written before the step it names; "commit"
// once the store holds the result. A run that dies leaves it behind, and the
// next run under the lock finishes or undoes the change from it.
class Journal {
  public:
    static std::string Path() {
        return (fs::path(InstallerLockPath()).parent_path() / "installer.journal").string();
    }
    bool Start(const std::string &root) {
        m_fd.reset(::open(Path().c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644));
        return m_fd.valid() && Add("root", root);
    }
    bool Add(std::string_view kind, std::string_view value = {}) {
        const std::string line = std::string(kind) + "\t" + std::string(value) + "\n";
        return m_fd.valid() && platform::WriteFully(m_fd.get(), line.data(), line.size());
    }
    void End() {
        if (m_fd.valid())
            ::unlink(Path().c_str());
        m_fd.reset();
    }

  private:
    UniqueFd m_fd;
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

// Puts back what a dead run's change did, from its journal: files it placed
// are removed, files it moved aside return, folders it made go when empty,
// and its work folders are removed. A change that reached "commit" keeps its
// files; only the work folders go.
void RecoverDeadRun(const std::function<void(std::string_view)> &log) {
    const std::string path = Journal::Path();
    std::string text;
    if (platform::ReadRegularFile(path, kJournalLimit, text) == platform::FileError::Missing)
        return;
    std::string root;
    std::vector<std::string> placed, folders;
    bool committed = false;
    for (const std::string &line : SplitLines(text)) {
        const std::size_t tab = line.find('\t');
        const std::string kind = line.substr(0, tab);
        const std::string value = tab == std::string::npos ? std::string() : line.substr(tab + 1);
        if (kind == "root" && root.empty())
            root = value;
        else if (kind == "folder" && !value.empty() && value[0] == '/')
            folders.push_back(value);
        else if (kind == "placed" &&
                 SafeRelativeEntryPath(std::string(kPackageFilesPrefix) + value))
            placed.push_back(value);
        else if (kind == "commit")
            committed = true;
    }
    // Only a folder a run could have installed into is touched.
    if (root.empty() || root == "/" || platform::ConfinedFolder({}, root) != root) {
        ::unlink(path.c_str());
        log("removed an installer journal that names no install folder: " + path);
        return;
    }
    if (!committed) {
        for (auto it = placed.rbegin(); it != placed.rend(); ++it)
            if (StaysInside(root, *it))
                ::unlink((fs::path(root) / *it).c_str());
        for (const fs::path &folder : WorkFolders(root)) {
            if (!folder.filename().string().starts_with(kBackupStem))
                continue;
            std::vector<fs::path> saved;
            std::error_code ec;
            for (auto it = fs::recursive_directory_iterator(folder, ec);
                 !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
                if (it->symlink_status(ec).type() != fs::file_type::directory)
                    saved.push_back(it->path().lexically_relative(folder));
            for (const fs::path &relative : saved)
                if (!StaysInside(root, relative.string()) ||
                    !MoveInto(folder / relative, fs::path(root) / relative))
                    log("cannot put back " + (fs::path(root) / relative).string());
        }
    }
    std::error_code ec;
    for (const fs::path &folder : WorkFolders(root))
        fs::remove_all(folder, ec);
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        ::rmdir(it->c_str());
    ::unlink(path.c_str());
    log(std::string(committed ? "finished" : "undid") +
        " the change a run that ended early left in " + root);
}

// The files of one change of an install folder, undone as a whole.
class FileTransaction {
  public:
    FileTransaction(fs::path root, std::function<void(std::string_view)> log)
        : m_root(std::move(root)), m_log(std::move(log)) {}
    ~FileTransaction() {
        if (!m_done)
            Rollback();
    }

    const fs::path &Root() const { return m_root; }

    bool Begin(bool needStaging) {
        if (!m_journal.Start(m_root.string())) {
            const int error = errno;
            Log("cannot write the installer journal " + Journal::Path() + ": " +
                std::strerror(error));
            LogRightsNeeded(error, m_log);
            return false;
        }
        if (CreateFolderTree(m_root.string(), true, &m_createdRoot) != 0 ||
            !JournalFolders(m_createdRoot, 0)) {
            Log("cannot create the install folder " + m_root.string());
            return false;
        }
        m_backup = MakeWorkFolder(m_root, kBackupStem);
        if (needStaging)
            m_staging = MakeWorkFolder(m_root, kStagingStem);
        if (m_backup.empty() || (needStaging && m_staging.empty())) {
            Log("cannot create a work folder in " + m_root.string());
            return false;
        }
        return true;
    }

    const std::string &Staging() const { return m_staging; }

    // Moves an installed file away (kept until the commit).
    bool Remove(const std::string &relative) {
        const fs::path at = m_root / relative;
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0)
            return errno == ENOENT;
        if (!StaysInside(m_root, relative) || S_ISDIR(st.st_mode) ||
            !MoveInto(at, fs::path(m_backup) / relative)) {
            Log("cannot remove " + at.string());
            return false;
        }
        m_backedUp.push_back(relative);
        return true;
    }

    // Puts a staged file in place, moving the file it replaces away.
    bool Place(const std::string &relative) {
        if (!StaysInside(m_root, relative) || !Remove(relative)) {
            Log("cannot replace " + (m_root / relative).string());
            return false;
        }
        const fs::path at = m_root / relative;
        const std::size_t made = m_createdInside.size();
        if (CreateFolderTree(at.string(), false, &m_createdInside) != 0 ||
            !JournalFolders(m_createdInside, made) || !m_journal.Add("placed", relative) ||
            ::rename((fs::path(m_staging) / relative).c_str(), at.c_str()) != 0) {
            Log("cannot install " + at.string() + ": " + std::strerror(errno));
            return false;
        }
        m_placed.push_back(relative);
        return true;
    }

    void Commit() {
        m_done = true;
        m_journal.Add("commit");
        DropWorkFolders();
        for (const std::string &relative : m_backedUp)
            RemoveEmptyFolderChain((m_root / relative).parent_path().string(),
                                   m_root.parent_path().string());
        m_journal.End();
    }

    void Rollback() {
        m_done = true;
        for (auto it = m_placed.rbegin(); it != m_placed.rend(); ++it)
            ::unlink((m_root / *it).c_str());
        for (auto it = m_backedUp.rbegin(); it != m_backedUp.rend(); ++it)
            if (!MoveInto(fs::path(m_backup) / *it, m_root / *it))
                Log("cannot put back " + (m_root / *it).string());
        DropWorkFolders();
        for (auto it = m_createdInside.rbegin(); it != m_createdInside.rend(); ++it)
            ::rmdir(it->c_str());
        for (auto it = m_createdRoot.rbegin(); it != m_createdRoot.rend(); ++it)
            ::rmdir(it->c_str());
        m_journal.End();
    }

  private:
    bool JournalFolders(const std::vector<std::string> &folders, std::size_t from) {
        for (std::size_t i = from; i < folders.size(); ++i)
            if (!m_journal.Add("folder", folders[i]))
                return false;
        return true;
    }
    void DropWorkFolders() {
        std::error_code ec;
        if (!m_staging.empty())
            fs::remove_all(m_staging, ec);
        if (!m_backup.empty())
            fs::remove_all(m_backup, ec);
    }
    void Log(const std::string &line) {
        if (m_log)
            m_log(line);
    }

    fs::path m_root;
    std::function<void(std::string_view)> m_log;
    Journal m_journal;
    std::string m_staging, m_backup;
    std::vector<std::string> m_createdRoot, m_createdInside;
    std::vector<std::string> m_placed, m_backedUp;
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
        FileTransaction files(ToNativePath(installed.installLocation), m_context.log);
        const bool folderThere = PathExists(installed.installLocation);
        if (folderThere) {
            if (!files.Begin(false))
                return installer_exit::kFailure;
            for (const std::string &relative : SplitLines(installed.files)) {
                if (!SafeRelativeEntryPath(std::string(kPackageFilesPrefix) + relative) ||
                    !files.Remove(relative)) {
                    files.Rollback();
                    return installer_exit::kFailure;
                }
            }
        }
        if (!UnregisterProduct(installed.productCode)) {
            Log("cannot remove the product from the store");
            files.Rollback();
            return installer_exit::kFailure;
        }
        if (folderThere)
            files.Commit();
        return Finished();
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
        Log("installing " + QueryMsiProperty(*database, "ProductName").value_or(code) + " " +
            QueryMsiProperty(*database, "ProductVersion").value_or("") + " into " + folder);
        FileTransaction files(folder, m_context.log);
        if (!files.Begin(true))
            return installer_exit::kFailure;
        const PackageExtraction extracted =
            ExtractPackageFiles(m_request.target, files.Staging(), m_context.cancelled);
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
                if (!placed.count(relative) &&
                    SafeRelativeEntryPath(std::string(kPackageFilesPrefix) + relative) &&
                    !files.Remove(relative))
                    return installer_exit::kFailure;
        if (Cancelled())
            return installer_exit::kUserExit;

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
        product.files = list;
        if (!RegisterProduct(product)) {
            const int error = errno;
            Log("cannot record the product in the store: " + std::string(std::strerror(error)));
            LogRightsNeeded(error, m_context.log);
            if (installed)
                RegisterProduct(*installed);
            else
                UnregisterProduct(code);
            return installer_exit::kFailure;
        }
        files.Commit();
        Log("installed " + code);
        return Finished();
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
    RecoverDeadRun([&context](std::string_view line) {
        if (context.log)
            context.log(line);
    });
    return Run(request, context).Execute();
}

} // namespace krv::setup
