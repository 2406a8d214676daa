#include "setup_system.h"
#include "file_open.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include <pwd.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace krv::platform {

std::optional<std::string> GetEnvironmentVariable(const std::string &name) {
    if (name.empty() || name.find('=') != std::string::npos)
        return std::nullopt;
    const char *v = std::getenv(name.c_str());
    if (!v)
        return std::nullopt;
    return std::string(v);
}

uint64_t PhysicalMemoryBytes() {
    struct sysinfo info {};
    if (::sysinfo(&info) != 0)
        return 0;
    return static_cast<uint64_t>(info.totalram) * (info.mem_unit ? info.mem_unit : 1);
}

std::string SetupRootDirectory() {
    std::string root = GetEnvironmentVariable("KRV_SETUP_ROOT").value_or("");
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return root;
}

namespace {

// The path under the setup root (when one is set and the path is not
// already there).
std::string UnderSetupRoot(const std::string &root, std::string path) {
    if (root.empty() || path == root || path.starts_with(root + "/"))
        return path;
    return root + path;
}

// Adds the components of `path` to `parts`; false when a ".." would remove
// one of the first `floor` parts.
bool AddComponents(std::string_view path, std::size_t floor, std::vector<std::string> &parts) {
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part != "..")
            parts.emplace_back(part);
        else if (parts.size() > floor)
            parts.pop_back();
        else
            return false;
    }
    return true;
}

} // namespace

std::optional<std::string> ConfinedFolder(std::string_view base, std::string_view below) {
    const std::string_view absolute = base.empty() ? below : base;
    if (absolute.empty() || absolute[0] != '/')
        return std::nullopt;
    const std::string root = SetupRootDirectory();
    const std::string start = base.empty() ? root : UnderSetupRoot(root, std::string(base));
    // A folder given whole is taken as a path of the machine: under the
    // root it moves there unless it already names a place there.
    const std::string path =
        base.empty() ? UnderSetupRoot(root, std::string(below)) : start + "/" + std::string(below);
    if (path[0] != '/')
        return std::nullopt; // a relative setup root
    std::vector<std::string> parts;
    if (!AddComponents(start, 0, parts))
        return std::nullopt;
    const std::size_t floor = parts.size();
    if (!AddComponents(std::string_view(path).substr(start.size()), floor, parts))
        return std::nullopt;
    std::string out;
    for (const std::string &part : parts)
        out += "/" + part;
    return out.empty() ? std::string("/") : out;
}

std::string HomeDirectory() {
    std::string root = SetupRootDirectory();
    if (!root.empty())
        return root + "/home";
    std::string home = GetEnvironmentVariable("HOME").value_or("");
    if (home.empty()) {
        if (const passwd *pw = ::getpwuid(::geteuid()); pw && pw->pw_dir)
            home = pw->pw_dir;
    }
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return home;
}

std::string ExecutablePath() {
    std::vector<char> buf(4096);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buf.size())
        return {};
    return std::string(buf.data(), static_cast<std::size_t>(n));
}

OsRelease ParseOsRelease(const std::string &text) {
    OsRelease r;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        auto eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos)
            continue;
        std::string key = line.substr(0, eq);
        std::string raw = line.substr(eq + 1);
        std::string value;
        if (!raw.empty() && (raw[0] == '"' || raw[0] == '\'')) {
            char quote = raw[0];
            for (std::size_t i = 1; i < raw.size() && raw[i] != quote; ++i) {
                if (quote == '"' && raw[i] == '\\' && i + 1 < raw.size())
                    ++i;
                value += raw[i];
            }
        } else {
            value = raw;
        }
        if (key == "ID")
            r.id = value;
        else if (key == "NAME")
            r.name = value;
        else if (key == "VERSION_ID")
            r.versionId = value;
        else if (key == "PRETTY_NAME")
            r.prettyName = value;
    }
    return r;
}

std::optional<OsRelease> ReadOsRelease() {
    std::string root = SetupRootDirectory();
    for (const char *path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::string text;
        if (ReadRegularFile(root + path, 1u << 20, text) != FileError::None)
            continue;
        return ParseOsRelease(text);
    }
    return std::nullopt;
}

KernelInfo ReadKernelInfo() {
    KernelInfo info;
    utsname u{};
    if (::uname(&u) == 0) {
        info.sysname = u.sysname;
        info.release = u.release;
        info.machine = u.machine;
    }
    return info;
}

bool IsAdministrator() {
    return ::geteuid() == 0;
}

} // namespace krv::platform
