#include "installer_engine.h"

#include "command_line_text.h"
#include "files.h"
#include "installed_products.h"
#include "installer_package.h"
#include "installer_transaction.h"
#include "paths.h"
#include "unique_fd.h"

#include <setup_folders.h>
#include <setup_registry.h>
#include <setup_system.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include <fcntl.h>
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
        else if (IsControlCharacter(c))
            out += std::string("\\x") + kHex[b >> 4] + kHex[b & 0x0F];
        else
            out += c;
    }
    return out + "\"";
}

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
        if (!SetAsideDamagedRecordOf(code))
            return installer_exit::kFailure;
        const auto installed = FindInstalledProduct(code);
        if (!installed) {
            Log("the product is not installed: " + code);
            return installer_exit::kUnknownProduct;
        }
        return Remove(*installed);
    }

    // The folder a record names, as an install writes it (resolved, no
    // trailing separator: an earlier installer kept what it was given);
    // empty when it names none a run may use.
    static std::string RecordedFolder(const InstalledProduct &installed) {
        return platform::ConfinedFolder({}, ToNativePath(installed.installLocation)).value_or("");
    }

    int Remove(const InstalledProduct &installed) {
        Log("removing " + installed.productName + " " + installed.versionString + " from " +
            installed.installLocation);
        // The folders the first install made go too, when nothing else
        // lives in them.
        const std::string root = RecordedFolder(installed);
        const std::vector<std::string> made = SplitLines(installed.createdFolders);
        if (!PathExists(root.empty() ? installed.installLocation : root)) {
            // No files to take away: the record goes in one step.
            Step(m_context.step, "store");
            if (!UnregisterProduct(installed.productCode)) {
                Log("cannot remove the product from the store: " + platform::RegistryLastError());
                return installer_exit::kFailure;
            }
            RemoveEmptyChain(root, made, m_context.step);
            return Finished();
        }
        // The journal names the folder as the next run checks it: one it
        // would not take back would stop every run after a kill here.
        if (root.empty() || root == "/") {
            Log("the install folder of the record is not usable: " + installed.installLocation);
            return installer_exit::kFailure;
        }
        FileTransaction files(root, m_context.log, m_context.step);
        if (!files.Begin(false))
            return installer_exit::kFailure;
        for (const std::string &relative : SplitLines(installed.files))
            if (!RemoveListed(files, relative))
                return installer_exit::kFailure;
        if (!files.Commit(nullptr, installed.productCode, made))
            return installer_exit::kFailure;
        return Finished();
    }

    // A file the record lists, moved away. A name an earlier installer
    // wrote with a control character (a tab) still names its file. A line
    // that names no file of the install folder (a folder, or a path that
    // leaves it: a name with a line break read back in parts) is left, with
    // a log line, rather than blocking the removal for ever.
    bool RemoveListed(FileTransaction &files, const std::string &relative) const {
        struct stat st {};
        if (!RecordedFileName(relative) ||
            (::lstat((files.Root() / relative).c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
            Log("left in place, not a file the record can name: " + QuotedName(relative));
            return true;
        }
        return files.Remove(relative);
    }

    // A record of the product that the store cannot read would block it for
    // ever: it is kept aside and the run goes on as if there were none.
    // False (and a line saying why) when the record could not be read,
    // which does not make it damaged, or cannot be moved aside: the run
    // then changes nothing, as it cannot know what is installed.
    bool SetAsideDamagedRecordOf(const std::string &code) const {
        std::string why;
        InstalledProduct readable;
        const auto aside = SetAsideDamagedRecord(code, why, readable);
        if (!aside && !why.empty()) {
            Log("cannot use the record of the product " + code + ": " + why);
            return false;
        }
        if (!aside)
            return true;
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
        return true;
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
        // Refused before anything is written: the journal's record line of
        // such a code is one no later run would take back.
        if (!UsableProductCode(code)) {
            Log("the product code cannot name a record: " + code);
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
        if (!SetAsideDamagedRecordOf(code))
            return installer_exit::kFailure;
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
        if (installed && RecordedFolder(*installed) == folder)
            for (const std::string &relative : SplitLines(installed->files))
                if (!placed.count(relative) && !RemoveListed(files, relative))
                    return installer_exit::kFailure;
        if (Cancelled())
            return installer_exit::kUserExit;

        product.files = list;
        // The folders its first install made, for the removal to take away.
        std::vector<std::string> made = files.RootFolders();
        if (installed && RecordedFolder(*installed) == folder)
            for (const std::string &line : SplitLines(installed->createdFolders))
                if (std::find(made.begin(), made.end(), line) == made.end())
                    made.push_back(line);
        std::sort(made.begin(), made.end(),
                  [](const std::string &a, const std::string &b) { return a.size() < b.size(); });
        for (const std::string &line : made)
            product.createdFolders += line + "\n";
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
            if (std::any_of(name.begin(), name.end(), IsControlCharacter)) {
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

namespace {

// The product and its record serve every user of the machine: what a run
// makes has the installer's modes (folders 0755, records 0644), neither
// open to others under umask 000 nor closed to them under 077.
class InstallerUmask {
  public:
    InstallerUmask() : m_before(::umask(022)) {}
    ~InstallerUmask() { ::umask(m_before); }
    InstallerUmask(const InstallerUmask &) = delete;
    InstallerUmask &operator=(const InstallerUmask &) = delete;

  private:
    mode_t m_before;
};

} // namespace

int RunInstaller(const InstallerRequest &request, const InstallerContext &context) {
    const InstallerUmask umask;
    const std::string lockPath = InstallerLockPath();
    const int made = platform::MakePublicFolders(fs::path(lockPath).parent_path().string());
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
    // A change a dead run left that cannot be finished or undone now stays
    // named in its journal for the next run: no new change may start over it.
    if (!RecoverDeadRun(
            [&context](std::string_view line) {
                if (context.log)
                    context.log(line);
            },
            context.step))
        return installer_exit::kFailure;
    return Run(request, context).Execute();
}

} // namespace krv::setup
