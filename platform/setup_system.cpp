#include "setup_system.h"

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
        std::ifstream in(root + path, std::ios::binary);
        if (!in)
            continue;
        std::ostringstream text;
        text << in.rdbuf();
        return ParseOsRelease(text.str());
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
