#include "paths.h"

#include "command_line_text.h"
#include "log.h"
#include "system.h"

#include <file_open.h>
#include <setup_system.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include <strings.h>
#include <sys/stat.h>

namespace krv::setup {

namespace {

constexpr std::string_view kLongPathPrefix = "\\\\?\\";

std::size_t FindLastSeparator(std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (IsPathSeparator(path[i - 1]))
            return i - 1;
    }
    return std::string_view::npos;
}

std::size_t FindSeparatorFrom(std::string_view path, std::size_t from) {
    for (std::size_t i = from; i < path.size(); ++i) {
        if (IsPathSeparator(path[i]))
            return i;
    }
    return std::string_view::npos;
}

std::string WithTrailingSeparator(std::string path) {
    AddTrailingBackslash(path);
    return path;
}

// Folders of the user, honouring the XDG variables unless a setup root holds
// everything.
struct UserFolders {
    std::string root; // setup root or empty
    std::string home;
    std::string config; // no trailing "/"
    std::string data;
};

UserFolders CurrentUserFolders() {
    UserFolders f;
    f.root = platform::SetupRootDirectory();
    f.home = platform::HomeDirectory();
    std::string config;
    std::string data;
    if (f.root.empty()) {
        config = platform::GetEnvironmentVariable("XDG_CONFIG_HOME").value_or("");
        data = platform::GetEnvironmentVariable("XDG_DATA_HOME").value_or("");
    }
    // XDG asks to ignore relative values.
    f.config = !config.empty() && config[0] == '/' ? config : f.home + "/.config";
    f.data = !data.empty() && data[0] == '/' ? data : f.home + "/.local/share";
    return f;
}

// Far past any small settings file of the system.
constexpr uint64_t kMaxSmallFileBytes = 1u << 20;

// A folder of xdg-user-dirs ("XDG_DOWNLOAD_DIR"), else home/fallback.
std::string XdgUserDir(const UserFolders &f, const std::string &key, const char *fallback) {
    std::string text;
    platform::ReadRegularFile(f.config + "/user-dirs.dirs", kMaxSmallFileBytes, text);
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size() + 1, key + "=") != 0)
            continue;
        std::string value = line.substr(key.size() + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.compare(0, 5, "$HOME") == 0)
            value = f.home + value.substr(5);
        if (!value.empty() && value[0] == '/' && value != f.home && value != f.home + "/")
            return value;
        break;
    }
    return f.home + "/" + fallback;
}

std::string TempFolderPath() {
    std::string root = platform::SetupRootDirectory();
    if (!root.empty()) {
        // A test root starts empty; its temporary folder must exist like
        // the system's does.
        std::string tmp = root + "/tmp";
        ::mkdir(root.c_str(), 0777);
        ::mkdir(tmp.c_str(), 0777);
        return tmp + "/";
    }
    std::string tmp = platform::GetEnvironmentVariable("TMPDIR").value_or("");
    if (tmp.empty() || tmp[0] != '/')
        tmp = "/tmp";
    return WithTrailingSeparator(tmp);
}

// The folder of a shell folder number, "" when there is none.
std::string FolderOfCsidl(int csidl) {
    UserFolders f = CurrentUserFolders();
    const std::string &r = f.root;
    switch (csidl) {
    case 0x26: // program files
        return r + "/opt/";
    case 0x2B: // common program files
        return r + "/usr/local/lib/";
    case 0x10: // desktop
        return WithTrailingSeparator(XdgUserDir(f, "XDG_DESKTOP_DIR", "Desktop"));
    case 0x19: // all users' desktop
        return r + "/usr/local/share/applications/";
    case 0x1A: // application data
        return f.config + "/";
    case 0x06: // favorites
        return f.data + "/favorites/";
    case 0x0B: // start menu
    case 0x02: // programs
        return f.data + "/applications/";
    case 0x07: // startup
        return f.config + "/autostart/";
    case 0x14: // fonts
        return f.data + "/fonts/";
    case 0x1C: // local application data
        return f.data + "/";
    case 0x23: // common application data
        return r + "/var/lib/";
    case 0x05: // documents
        return WithTrailingSeparator(XdgUserDir(f, "XDG_DOCUMENTS_DIR", "Documents"));
    case 0x25: // system
        return r + "/usr/lib/";
    case 0x24: // windows
        return r + "/usr/";
    default:
        return {};
    }
}

struct FolderRow {
    const char *name;
    int csidl;
};

constexpr std::array<FolderRow, 14> kFolderTable{{
    {"ProgramFilesFolder", 0x26},
    {"CommonFilesFolder", 0x2B},
    {"DesktopFolder", 0x10},
    {"AllUsersDesktopFolder", 0x19},
    {"AppDataFolder", 0x1A},
    {"FavoritesFolder", 0x06},
    {"StartMenuFolder", 0x0B},
    {"ProgramMenuFolder", 0x02},
    {"StartupFolder", 0x07},
    {"FontsFolder", 0x14},
    {"LocalAppDataFolder", 0x1C},
    {"CommonAppDataFolder", 0x23},
    {"ProgramFiles64Folder", 0x26},
    {"ProgramFiles", 0x26},
}};

std::mutex g_setupDirMutex;
std::string g_setupExeDir;

} // namespace

bool IsPathSeparator(char c) {
    return c == '\\' || c == '/';
}

std::string ToNativePath(std::string_view path) {
    std::string out = SkipLongPathPrefix(path);
    for (char &c : out) {
        if (c == '\\')
            c = '/';
    }
    return out;
}

void AddTrailingBackslash(std::string &path) {
    if (!path.empty() && !IsPathSeparator(path.back()))
        path += '/';
}

std::string GetFolderPart(std::string_view path) {
    std::size_t pos = FindLastSeparator(path);
    return pos == std::string_view::npos ? std::string() : std::string(path.substr(0, pos));
}

namespace {

// The last "." of the file name; a "." in a folder name is no extension.
std::size_t ExtensionPosition(std::string_view path) {
    const std::size_t pos = path.rfind('.');
    if (pos == std::string_view::npos)
        return pos;
    for (std::size_t i = pos + 1; i < path.size(); ++i)
        if (IsPathSeparator(path[i]))
            return std::string_view::npos;
    return pos;
}

} // namespace

std::string GetExtension(std::string_view path) {
    const std::size_t pos = ExtensionPosition(path);
    return pos == std::string_view::npos ? std::string() : std::string(path.substr(pos));
}

void StripExtension(std::string &path, std::string_view replacement) {
    const std::size_t pos = ExtensionPosition(path);
    if (pos == std::string::npos)
        return;
    path.erase(pos);
    path += replacement;
}

std::string WithExtension(std::string_view path, std::string_view extension) {
    std::string out(path);
    const std::size_t pos = ExtensionPosition(out);
    if (pos != std::string::npos)
        out.erase(pos);
    return out + std::string(extension);
}

std::string_view WithoutExeSuffix(std::string_view path) {
    if (path.size() > 4 && EqualsIgnoreCase(path.substr(path.size() - 4), ".exe"))
        path.remove_suffix(4);
    return path;
}

void SanitizeFileName(std::string &name) {
    for (char &c : name) {
        switch (c) {
        case '<':
        case '>':
        case ':':
        case '"':
        case '/':
        case '\\':
        case '|':
        case '?':
        case '*':
            c = '_';
            break;
        default:
            break;
        }
    }
}

bool HasLongPathPrefix(std::string_view path) {
    return path.substr(0, 4) == kLongPathPrefix;
}

std::string SkipLongPathPrefix(std::string_view path) {
    return std::string(HasLongPathPrefix(path) ? path.substr(4) : path);
}

bool IsUncPath(std::string_view path) {
    return path.size() > 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]) &&
           path[2] != '?';
}

bool IsFullPath(std::string_view path) {
    if (path.empty())
        return false;
    return IsPathSeparator(path[0]) || (path.size() >= 2 && path[1] == ':');
}

std::vector<std::string> SplitPath(std::string_view path) {
    std::vector<std::string> parts;
    std::string prefix;
    if (HasLongPathPrefix(path)) {
        prefix = std::string(kLongPathPrefix);
        path.remove_prefix(4);
    }
    std::size_t rootEnd = FindSeparatorFrom(path, IsUncPath(path) ? 2 : 0);
    if (rootEnd == std::string_view::npos) {
        parts.push_back(prefix + std::string(path));
        return parts;
    }
    std::string root = prefix + std::string(path.substr(0, rootEnd));
    if (!root.empty())
        parts.push_back(std::move(root));
    std::string_view rest = path.substr(rootEnd + 1);
    while (!rest.empty()) {
        std::size_t sep = FindSeparatorFrom(rest, 0);
        if (sep == std::string_view::npos) {
            parts.emplace_back(rest);
            break;
        }
        parts.emplace_back(rest.substr(0, sep));
        rest.remove_prefix(sep + 1);
    }
    return parts;
}

std::string JoinPathParts(std::string_view path) {
    std::string result;
    std::string_view body = HasLongPathPrefix(path) ? path.substr(4) : path;
    std::string_view split = path;
    // An absolute Linux path keeps its leading "/" (after a long-path
    // prefix, when there is one).
    if (!body.empty() && IsPathSeparator(body[0]) && !IsUncPath(body)) {
        result = std::string(path.substr(0, path.size() - body.size())) + "/";
        split = body;
    }
    for (std::string part : SplitPath(split)) {
        while (!part.empty() && (part.back() == ' ' || part.back() == '.'))
            part.pop_back();
        if (!result.empty() && result.back() != ']')
            AddTrailingBackslash(result);
        result += part;
    }
    return result;
}

std::string GetPathRoot(std::string_view path) {
    std::string_view body = HasLongPathPrefix(path) ? path.substr(4) : path;
    if (IsUncPath(body)) {
        std::size_t afterServer = FindSeparatorFrom(body, 2);
        if (afterServer == std::string_view::npos)
            return {};
        std::size_t afterShare = FindSeparatorFrom(body, afterServer + 1);
        if (afterShare == std::string_view::npos)
            return {};
        return std::string(body.substr(0, afterShare));
    }
    if (body.size() >= 2 && body[1] == ':')
        return std::string(body.substr(0, 3));
    if (!body.empty() && IsPathSeparator(body[0]))
        return "/";
    return {};
}

bool PathRootExists(std::string_view path) {
    std::string root = GetPathRoot(path);
    if (root.empty())
        return false;
    struct stat st {};
    return ::stat(ToNativePath(root).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool GetEnvironmentText(std::string_view name, std::string &value) {
    auto v = platform::GetEnvironmentVariable(std::string(name));
    value = v.value_or("");
    return v.has_value();
}

void SetSetupExeDir(std::string_view path) {
    std::lock_guard lock(g_setupDirMutex);
    g_setupExeDir = GetFolderPart(path) + "/";
}

std::string GetSetupExeDir() {
    std::lock_guard lock(g_setupDirMutex);
    if (g_setupExeDir.empty()) {
        std::string own = platform::ExecutablePath();
        if (!own.empty())
            g_setupExeDir = GetFolderPart(own) + "/";
    }
    return g_setupExeDir;
}

namespace {

// A temporary folder refused, and why.
struct TempRefusal {
    std::string reason; // "candidate (folder reason)"
    std::string fix;    // what the user can do about it
    bool othersCouldChange;
};

std::mutex g_tempRefusalLock;
std::vector<TempRefusal> g_tempRefusals; // the reasons of the last look
std::vector<std::string> g_tempLogged;   // refusals logged already

std::string TempFolderFix(const platform::FolderChain &chain) {
    const std::string &at = chain.failedAt;
    if (chain.othersCouldChange())
        return "Remove or fix " + at + ".";
    if (chain.refusal == platform::FolderRefusal::NotFolder)
        return "Put a folder in the place of " + at + ".";
    if (chain.error == ENOENT)
        return "Make the folder " + at + ".";
    if (chain.error == EACCES || chain.error == EPERM)
        return "Give your user the rights to " + at + ".";
    return "Check " + at + ".";
}

} // namespace

std::string GetTempFolder() {
    // Another user who may change a folder on the way could swap the run's
    // folder or its files between their writing and their start.
    std::vector<std::string> candidates{TempFolderPath()};
    const std::string root = platform::SetupRootDirectory();
    const std::string system = root.empty() ? std::string("/tmp/") : root + "/tmp/";
    if (system != candidates.front())
        candidates.push_back(system);
    std::vector<TempRefusal> refusals;
    for (const std::string &candidate : candidates) {
        const platform::FolderChain chain = platform::CheckFolderChain(candidate);
        if (chain.trusted()) {
            std::lock_guard guard(g_tempRefusalLock);
            g_tempRefusals.clear();
            return WithTrailingSeparator(chain.resolved);
        }
        const std::string reason =
            candidate + " (" + chain.failedAt + " " + platform::FolderChainText(chain) + ")";
        refusals.push_back({reason, TempFolderFix(chain), chain.othersCouldChange()});
        std::lock_guard guard(g_tempRefusalLock);
        if (LoggingEnabled &&
            std::find(g_tempLogged.begin(), g_tempLogged.end(), reason) == g_tempLogged.end()) {
            g_tempLogged.push_back(reason);
            LogLine(chain.othersCouldChange()
                        ? "The temporary folder is not used, another user could change it: " +
                              reason
                        : "The temporary folder cannot be used: " + reason);
        }
    }
    std::lock_guard guard(g_tempRefusalLock);
    g_tempRefusals = std::move(refusals);
    return {};
}

std::string TempFolderRefusal() {
    std::lock_guard guard(g_tempRefusalLock);
    std::string reasons;
    for (const TempRefusal &refusal : g_tempRefusals)
        reasons += (reasons.empty() ? "" : "; ") + refusal.reason;
    return reasons;
}

std::string TempFolderRefusalMessage() {
    const std::string reasons = TempFolderRefusal();
    std::lock_guard guard(g_tempRefusalLock);
    bool othersOnly = true;
    std::string fixes;
    for (const TempRefusal &refusal : g_tempRefusals) {
        othersOnly = othersOnly && refusal.othersCouldChange;
        if (fixes.find(refusal.fix) == std::string::npos)
            fixes += " " + refusal.fix;
    }
    if (othersOnly)
        return "Setup cannot keep its work files from other users: no temporary folder may be "
               "used (" +
               reasons +
               "). Set TMPDIR to a folder only you may write, or remove or fix the folder named.";
    return "Setup has no temporary folder for its work files (" + reasons + ")." + fixes +
           " Or set TMPDIR to a folder only you may write.";
}

bool GetFolderPathByCsidl(int csidl, std::string &path) {
    std::string folder = FolderOfCsidl(csidl);
    if (folder.empty())
        return false;
    path = folder;
    return true;
}

bool ResolveFolderName(std::string &name) {
    std::string root = platform::SetupRootDirectory();
    if (name == "ProgramFiles64Folder") {
        auto w6432 = platform::GetEnvironmentVariable("ProgramW6432");
        if (w6432 && !w6432->empty()) {
            name = WithTrailingSeparator(*w6432);
            return true;
        }
    } else if (name == "SystemFolder") {
        name = FolderOfCsidl(0x25);
        return true;
    } else if (name == "WindowsFolder") {
        name = FolderOfCsidl(0x24);
        return true;
    } else if (name == "WindowsVolume") {
        name = root + "/";
        return true;
    } else if (name == "TempFolder") {
        name = GetTempFolder();
        return true;
    } else if (name == "SETUPEXEDIR") {
        std::string dir = GetSetupExeDir();
        if (dir.empty())
            return false;
        name = dir;
        return true;
    }
    for (const auto &row : kFolderTable) {
        if (name == row.name)
            return GetFolderPathByCsidl(row.csidl, name);
    }
    return false;
}

bool GetKnownFolderPath(std::string_view folderId, std::string &path) {
    struct KnownFolder {
        const char *id;
        int csidl;          // or -1
        const char *xdgKey; // for folders of xdg-user-dirs
        const char *fallback;
    };
    static constexpr KnownFolder kKnown[] = {
        {"{374DE290-123F-4565-9164-39C4925E467B}", -1, "XDG_DOWNLOAD_DIR", "Downloads"},
        {"{B4BFCC3A-DB2C-424C-B029-7FE99A87C641}", 0x10, nullptr, nullptr},
        {"{FDD39AD0-238F-46AF-ADB4-6C85480369C7}", 0x05, nullptr, nullptr},
        {"{905E63B6-C1BF-494E-B29C-65B732D3D21A}", 0x26, nullptr, nullptr},
        {"{3EB685DB-65F9-4CF6-A03A-E3EF65729F3D}", 0x1A, nullptr, nullptr},
        {"{F1B32785-6FBA-4FCF-9D55-7B8E7F157091}", 0x1C, nullptr, nullptr},
        {"{62AB5D82-FDC1-4DC3-A9DD-070D1D495D97}", 0x23, nullptr, nullptr},
    };
    std::string id(folderId);
    for (const auto &k : kKnown) {
        if (::strcasecmp(id.c_str(), k.id) != 0)
            continue;
        std::string folder = k.csidl >= 0 ? FolderOfCsidl(k.csidl)
                                          : XdgUserDir(CurrentUserFolders(), k.xdgKey, k.fallback);
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        if (folder.empty())
            return false;
        path = folder;
        return true;
    }
    return false;
}

std::string ExpandReferences(std::string_view text) {
    std::string result;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t open = text.find_first_of("[%!", pos);
        if (open == std::string_view::npos)
            break;
        result.append(text.substr(pos, open - pos));
        char opener = text[open];
        char closer = opener == '[' ? ']' : opener;
        std::size_t searchFrom = opener == '[' ? open : opener == '%' ? open + 1 : open + 2;
        std::size_t close =
            searchFrom < text.size() ? text.find(closer, searchFrom) : std::string_view::npos;
        if (close == std::string_view::npos) {
            result.append(text.substr(open));
            return result;
        }
        std::string name(text.substr(open + 1, close - open - 1));
        if (opener == '[') {
            std::string folder = name;
            if (ResolveFolderName(folder))
                result += folder;
            else
                result += "[" + name + "]";
        } else if (opener == '%') {
            std::string value;
            GetEnvironmentText(name, value);
            result += value;
        } else {
            result += ResolveRegistryReference(name);
        }
        pos = close + 1;
    }
    if (pos < text.size())
        result.append(text.substr(pos));
    return result;
}

} // namespace krv::setup
