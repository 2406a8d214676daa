#include "system.h"

#include "paths.h"

#include <setup_process.h>
#include <setup_system.h>
#include <version_info.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include <cerrno>

#include <elf.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace krv::setup {

namespace {

// Only regular files are read: a pipe or device standing at the path would
// block the read or never end it.
bool IsRegularFile(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Where a library named without a folder is looked for: the loader's
// environment, the setup folder, then the usual library folders.
std::string FindLibrary(std::string_view library) {
    std::string name = ToNativePath(library);
    if (name.find('/') != std::string::npos)
        return IsRegularFile(name) ? name : std::string();
    std::vector<std::string> dirs;
    std::string env = platform::GetEnvironmentVariable("LD_LIBRARY_PATH").value_or("");
    for (std::size_t start = 0; start < env.size();) {
        std::size_t end = env.find(':', start);
        if (end == std::string::npos)
            end = env.size();
        if (end > start)
            dirs.push_back(env.substr(start, end - start));
        start = end + 1;
    }
    std::string setupDir = GetSetupExeDir();
    if (!setupDir.empty())
        dirs.push_back(setupDir);
    for (const char *d : {"/usr/local/lib", "/usr/lib/x86_64-linux-gnu",
                          "/usr/lib/aarch64-linux-gnu", "/usr/lib", "/lib"})
        dirs.emplace_back(d);
    for (auto dir : dirs) {
        AddTrailingBackslash(dir);
        if (IsRegularFile(dir + name))
            return dir + name;
    }
    return {};
}

std::mutex g_osMutex;
bool g_osFilled = false;
OsVersionCache g_os;

uint32_t PartOrZero(int32_t part) {
    return part < 0 ? 0u : static_cast<uint32_t>(part);
}

std::string JavaBinPath(std::string home, std::string_view wantedFile) {
    AddTrailingBackslash(home);
    return ToNativePath(home) + "bin/" + std::string(wantedFile);
}

// The wanted file in the "bin" folder of the first home that has it.
std::string FirstHomeWithFile(const std::vector<JavaHome> &homes, std::string_view wantedFile) {
    for (const auto &home : homes) {
        std::string candidate = JavaBinPath(home.home, wantedFile);
        if (IsRegularFile(candidate))
            return candidate;
    }
    return {};
}

// Runs the program; the exit code is filled only when the program was
// waited for.
bool RunAndTakeExitCode(const platform::ProcessLauncher &launcher,
                        const platform::ProcessStartInfo &info, uint32_t *exitCode) {
    platform::ProcessResult result = platform::ProcessRunWith(launcher, info, exitCode != nullptr);
    if (result.started && exitCode && result.waited)
        *exitCode = result.exitCode;
    return result.started;
}

void InsertJavaHome(std::vector<JavaHome> &list, JavaHome entry, bool ascending) {
    auto pos = std::find_if(list.begin(), list.end(), [&](const JavaHome &h) {
        int c = CompareVersions(h.version, entry.version);
        return ascending ? c > 0 : c < 0;
    });
    list.insert(pos, std::move(entry));
}

} // namespace

bool GetDllVersion(std::string_view library, uint32_t &major, uint32_t &minor) {
    std::string path = FindLibrary(library);
    if (path.empty())
        return false;
    auto version = platform::ReadFileVersion(path);
    if (!version)
        return false;
    major = version->major;
    minor = version->minor;
    return true;
}

int GetFileVersionQuad(std::string_view path, uint32_t &high, uint32_t &low) {
    std::string native = ToNativePath(path);
    if (!IsRegularFile(native))
        return ENOENT;
    if (auto v = platform::ReadFileVersion(native)) {
        high = (uint32_t(v->major) << 16) | v->minor;
        low = (uint32_t(v->release) << 16) | v->build;
    }
    return 0;
}

bool GetVersionInfoString(std::string &pathInValueOut, std::string_view valueName) {
    auto data =
        krv::platform::ReadElfSection(ToNativePath(pathInValueOut), ".krv.verstrings", 65536);
    if (!data)
        return false;
    std::size_t pos = 0;
    while (pos < data->size()) {
        std::size_t end = data->find('\0', pos);
        if (end == std::string::npos)
            end = data->size();
        std::string_view entry(data->data() + pos, end - pos);
        pos = end + 1;
        auto eq = entry.find('=');
        if (eq == std::string_view::npos || eq != valueName.size())
            continue;
        if (::strncasecmp(entry.data(), valueName.data(), eq) != 0)
            continue;
        std::string_view value = entry.substr(eq + 1);
        if (value.empty())
            return false;
        pathInValueOut = std::string(value);
        return true;
    }
    return false;
}

bool GetProductNameOfFile(std::string &pathInValueOut) {
    return GetVersionInfoString(pathInValueOut, "ProductName");
}

bool GetInternetExplorerVersion(uint32_t &major) {
    auto key = platform::RegistryOpenKey(platform::RegistryHive::LocalMachine,
                                         "Software\\Microsoft\\Internet Explorer");
    if (!key)
        return false;
    if (auto v = platform::RegistryGetValue(*key, "Version");
        v && v->type == platform::RegistryValueType::Text) {
        const std::string &text = v->text;
        if (std::count(text.begin(), text.end(), '.') >= 2) {
            uint64_t n = 0;
            for (char c : text.substr(0, text.find('.'))) {
                if (c < '0' || c > '9' || n > UINT32_MAX / 10)
                    return false;
                n = n * 10 + static_cast<uint64_t>(c - '0');
            }
            if (n > UINT32_MAX)
                return false;
            major = static_cast<uint32_t>(n);
            return true;
        }
    }
    std::string iver;
    if (!QueryRegistryValueText(*key, "IVer", iver))
        return false;
    if (iver == "100")
        major = 1;
    else if (iver == "101" || iver == "102")
        major = 2;
    else if (iver == "103")
        major = 3;
    else
        return false;
    return true;
}

std::optional<platform::RegistryHive> ParseRegistryRoot(std::string_view reference) {
    std::size_t slash = reference.find('\\');
    if (slash == std::string_view::npos)
        return std::nullopt;
    std::string root(reference.substr(0, slash));
    if (::strcasecmp(root.c_str(), "HKLM") == 0)
        return platform::RegistryHive::LocalMachine;
    if (::strcasecmp(root.c_str(), "HKCU") == 0)
        return platform::RegistryHive::CurrentUser;
    if (::strcasecmp(root.c_str(), "HKCR") == 0)
        return platform::RegistryHive::ClassesRoot;
    if (::strcasecmp(root.c_str(), "HKCC") == 0)
        return platform::RegistryHive::CurrentConfig;
    return platform::RegistryHive::Users;
}

std::string ResolveRegistryReference(std::string_view reference) {
    auto hive = ParseRegistryRoot(reference);
    if (!hive)
        return {};
    std::size_t first = reference.find('\\');
    std::size_t last = reference.rfind('\\');
    std::string_view keyPath =
        last > first ? reference.substr(first + 1, last - first - 1) : std::string_view();
    std::string_view valueName = reference.substr(last + 1);
    auto key = platform::RegistryOpenKey(*hive, keyPath);
    std::string text;
    if (!key || !QueryRegistryValueText(*key, valueName, text))
        return {};
    return text;
}

bool QueryRegistryValueText(const platform::RegistryKey &key, std::string_view valueName,
                            std::string &text) {
    auto value = platform::RegistryGetValue(key, valueName);
    if (!value)
        return false;
    switch (value->type) {
    case platform::RegistryValueType::Text:
        text = value->text;
        return true;
    case platform::RegistryValueType::Number:
        text = std::to_string(value->number);
        return true;
    case platform::RegistryValueType::Binary:
        return false;
    }
    return false;
}

std::string GetOsDisplayName() {
    if (auto release = platform::ReadOsRelease()) {
        if (!release->prettyName.empty())
            return release->prettyName;
        if (!release->name.empty())
            return release->versionId.empty() ? release->name
                                              : release->name + " " + release->versionId;
    }
    platform::KernelInfo kernel = platform::ReadKernelInfo();
    if (!kernel.sysname.empty())
        return kernel.sysname + " " + kernel.release;
    return "OsNotIdentified";
}

int GetOsFamily() {
    return IsWow64() ? 2 : 1;
}

bool IsWow64() {
    return GetOsVersionCache().wow64;
}

OsVersionCache GetOsVersionCache() {
    std::lock_guard lock(g_osMutex);
    if (!g_osFilled) {
        VersionQuad v;
        if (ParseVersion(platform::ReadKernelInfo().release, v)) {
            g_os.major = PartOrZero(v.major);
            g_os.minor = PartOrZero(v.minor);
            g_os.build = PartOrZero(v.build);
        }
        g_os.servicePack = 0;
        g_os.wow64 = false;
        g_osFilled = true;
    }
    return g_os;
}

bool OsVersionAtLeast(const VersionQuad &version, bool sameMajorMinor, const OsVersionCache &os) {
    uint32_t major = PartOrZero(version.major), minor = PartOrZero(version.minor);
    if (sameMajorMinor)
        return os.major == major && os.minor == minor;
    const uint32_t mine[] = {os.major, os.minor, os.servicePack, os.build};
    const uint32_t wanted[] = {major, minor, PartOrZero(version.revision),
                               PartOrZero(version.build)};
    for (int i = 0; i < 4; ++i) {
        if (mine[i] != wanted[i])
            return mine[i] > wanted[i];
    }
    return true;
}

bool IsVistaOrLater(bool sameMajorMinor, const OsVersionCache &os) {
    return OsVersionAtLeast(SetVersion(6, 0, 0, 0), sameMajorMinor, os);
}

// There is no file-system redirection on Linux: the record stays as it is.
void DisableFsRedirection(FsRedirection &) {}
void RevertFsRedirection(FsRedirection &record) {
    record.disabled = false;
}
bool IsRunningUnderWow64() {
    return false;
}

namespace {

// Whether this process could create or change things at the folder: the
// nearest part of the path that exists must be a folder the effective user
// may write and search.
bool MayWriteFolder(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    for (;;) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0)
            return S_ISDIR(info.st_mode) &&
                   ::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
        const std::size_t slash = path.rfind('/');
        if (errno != ENOENT || path == "/" || slash == std::string::npos)
            return false;
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
}

} // namespace

bool CanLockServiceDatabase() {
    // What an install changes for the whole machine: the system folder (the
    // installer program), the program folders and the machine's registry
    // store (installed products, the installer's lock).
    for (const char *name : {"SystemFolder", "ProgramFilesFolder"}) {
        std::string folder = name;
        if (!ResolveFolderName(folder) || !MayWriteFolder(ToNativePath(folder)))
            return false;
    }
    return MayWriteFolder(platform::RegistryHiveDirectory(platform::RegistryHive::LocalMachine));
}

bool RunProcessAndWait(std::string_view program, std::string_view commandLine, uint32_t *exitCode,
                       uint32_t creationFlags, bool /*withoutRedirection*/,
                       const platform::ProcessLauncher &launcher) {
    constexpr uint32_t kCreateNoWindow = 0x08000000;
    constexpr uint32_t kDetachedProcess = 0x8;
    platform::ProcessStartInfo info;
    info.program = program.empty() ? std::string() : ToNativePath(program);
    info.commandLine = std::string(commandLine);
    info.detached = (creationFlags & (kCreateNoWindow | kDetachedProcess)) != 0;
    return RunAndTakeExitCode(launcher, info, exitCode);
}

bool ShellExecuteAndWait(std::string_view file, std::string_view parameters, uint32_t *exitCode,
                         bool hidden, const platform::ProcessLauncher &launcher) {
    platform::ProcessResult result =
        ShellExecuteProcess(file, parameters, exitCode != nullptr, hidden, launcher);
    if (result.started && exitCode && result.waited)
        *exitCode = result.exitCode;
    return result.started;
}

platform::ProcessResult ShellExecuteProcess(std::string_view file, std::string_view parameters,
                                            bool wait, bool /*hidden*/,
                                            const platform::ProcessLauncher &launcher) {
    std::string target(file);
    platform::ProcessStartInfo info;
    bool isUrl = target.find("://") != std::string::npos;
    if (!isUrl)
        target = ToNativePath(target);
    if (!isUrl && IsRegularFile(target) && ::access(target.c_str(), X_OK) == 0) {
        info.program = target;
        info.commandLine = platform::QuoteArgument(target);
        if (!parameters.empty())
            info.commandLine += " " + std::string(parameters);
        info.workingDirectory = GetFolderPart(target);
    } else {
        // Documents, packages and web addresses open in the desktop's
        // handler for them.
        info.program = "xdg-open";
        info.commandLine = "xdg-open " + platform::QuoteArgument(target);
        if (!isUrl)
            info.workingDirectory = GetFolderPart(target);
    }
    return platform::ProcessRunWith(launcher, info, wait);
}

std::vector<JavaHome> ListJavaHomes(const VersionQuad &minimum, bool developmentKit,
                                    bool ascending) {
    std::vector<JavaHome> list;
    const char *keyPath = developmentKit ? "Software\\JavaSoft\\Java Development Kit"
                                         : "Software\\JavaSoft\\Java Runtime Environment";
    auto key = platform::RegistryOpenKey(platform::RegistryHive::LocalMachine, keyPath);
    if (!key)
        return list;
    for (const auto &name : platform::RegistryListSubkeys(*key)) {
        VersionQuad version;
        if (!ParseVersion(name, version) || CompareVersions(version, minimum) < 0)
            continue;
        auto sub = platform::RegistryOpenKey(platform::RegistryHive::LocalMachine,
                                             std::string(keyPath) + "\\" + name);
        if (!sub)
            continue;
        auto home = platform::RegistryGetValue(*sub, "JavaHome");
        if (!home || home->type != platform::RegistryValueType::Text || home->text.empty())
            continue;
        InsertJavaHome(list, {version, home->text}, ascending);
    }
    return list;
}

std::string FindJavaHome(std::string_view wantedFile, std::string_view minimumVersion,
                         std::string_view preferred1, std::string_view preferred2, bool runtime,
                         bool ascending) {
    for (std::string_view preferred : {preferred1, preferred2}) {
        if (preferred.empty())
            continue;
        std::string candidate = JavaBinPath(std::string(preferred), wantedFile);
        if (IsRegularFile(candidate))
            return candidate;
    }
    VersionQuad minimum;
    ParseVersion(minimumVersion, minimum);
    if (std::string found =
            FirstHomeWithFile(ListJavaHomes(minimum, !runtime, ascending), wantedFile);
        !found.empty())
        return found;
    // Java installed by the distribution: /usr/lib/jvm/<name>, the version
    // taken from the name ("java-11-openjdk-amd64", "java-1.8.0-openjdk").
    std::vector<JavaHome> system;
    std::error_code ec;
    std::string jvm = platform::SetupRootDirectory() + "/usr/lib/jvm";
    for (std::filesystem::directory_iterator it(jvm, ec), end; !ec && it != end; it.increment(ec)) {
        VersionQuad version;
        if (!ParseVersion(it->path().filename().string(), version) ||
            CompareVersions(version, minimum) < 0)
            continue;
        InsertJavaHome(system, {version, it->path().string()}, ascending);
    }
    return FirstHomeWithFile(system, wantedFile);
}

std::string GetInternetErrorText(uint32_t code) {
    struct Entry {
        uint32_t code;
        const char *text;
    };
    static constexpr Entry kTexts[] = {
        // Internet error numbers.
        {12001, "No more handles could be generated at this time."},
        {12002, "The operation timed out."},
        {12003, "An extended error was returned from the server."},
        {12004, "An internal error has occurred."},
        {12005, "The URL is invalid."},
        {12006, "The URL scheme could not be recognized or is not supported."},
        {12007, "The server name could not be resolved."},
        {12013, "The user name is incorrect."},
        {12014, "The password is incorrect."},
        {12015, "The login request was denied."},
        {12017, "The operation was canceled."},
        {12029, "A connection with the server could not be established."},
        {12030, "The connection with the server was terminated abnormally."},
        {12031, "The connection with the server was reset."},
        {12037, "The date in the certificate is invalid or has expired."},
        {12038, "The host name in the certificate is invalid or does not match."},
        {12044, "The server is requesting client authentication."},
        {12045, "The certificate authority is invalid or incorrect."},
        {12111, "The FTP operation was not completed because the session was aborted."},
        {12150, "The requested header could not be located."},
        {12152, "The server returned an invalid or unrecognized response."},
        {12156, "The redirection failed: too many redirections, or a change of scheme."},
        {12157, "An error occurred in the secure channel support."},
        {12163, "The Internet connection has been lost."},
        // The download engine's own results.
        {0xE0000005, "No local file name could be made from the URL."},
        {0xE0000008, "The download was cancelled."},
        {0xE000000F, "The FTP transfer ended before the whole file arrived."},
        {0xE0000010, "The server cannot continue the partly downloaded file."},
        {0xE0000012, "The server asks for a user name and password."},
        {0xE0000013, "The file has not changed on the server."},
        {0xE0000016, "The server refused access to the file."},
        {0xE0000018, "The file was not found on the server."},
        {0xE0000019, "The server answered with an error instead of the file."},
    };
    // The number stays beside the text, so a report can be matched to its
    // cause; the engine's own results read best in hexadecimal.
    char number[16];
    std::snprintf(number, sizeof number, code >= 0xE0000000u ? "0x%08X" : "%u", code);
    for (const Entry &entry : kTexts)
        if (entry.code == code)
            return std::string(entry.text) + " (" + number + ")";
    if (code > 0 && code < 4096) {
        char buffer[256];
        const char *text = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
        if (text && std::strncmp(text, "Unknown error", 13) != 0)
            return std::string(text) + " (" + number + ")";
    }
    return number;
}

std::string FormatByteSize(uint32_t size, bool wholeKilobytes) {
    constexpr uint32_t kKilo = 1024;
    constexpr uint32_t kMega = 1048576;
    bool kilobytes = size <= kMega;
    uint32_t unit = kilobytes ? kKilo : kMega;
    uint32_t whole = size / unit;
    auto hundredths = static_cast<uint32_t>(uint64_t(size % unit) * 100 / unit);
    const char *unitName = kilobytes ? "KB" : "MB";
    if (wholeKilobytes && kilobytes && whole != 0)
        return std::to_string(whole) + " " + unitName;
    return std::to_string(whole) + (hundredths > 9 ? "." : ".0") + std::to_string(hundredths) +
           " " + unitName;
}

std::string FormatDecimal(int64_t number) {
    return std::to_string(number);
}

} // namespace krv::setup
