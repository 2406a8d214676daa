// Facts about the running Linux system that the setup bootstrapper asks for:
// the distribution and kernel, the rights of the process, the environment and
// the program's own file.
//
// KRV_SETUP_ROOT, when set, roots the files read here (os-release) and the
// folders derived from them under a test directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace krv::platform {

// Fields of os-release(5); empty when absent.
struct OsRelease {
    std::string id;         // ID, e.g. "debian"
    std::string name;       // NAME, e.g. "Debian GNU/Linux"
    std::string versionId;  // VERSION_ID, e.g. "12"
    std::string prettyName; // PRETTY_NAME, e.g. "Debian GNU/Linux 12 (bookworm)"
};

// Reads $KRV_SETUP_ROOT/etc/os-release (or /etc/os-release), falling back to
// .../usr/lib/os-release. Nothing when neither can be read.
std::optional<OsRelease> ReadOsRelease();
// Parses os-release text: KEY=value lines, values optionally in single or
// double quotes with backslash escapes inside double quotes.
OsRelease ParseOsRelease(const std::string &text);

// uname(2): kernel name, release ("6.1.0-18-amd64") and machine ("x86_64").
struct KernelInfo {
    std::string sysname;
    std::string release;
    std::string machine;
};
KernelInfo ReadKernelInfo();

// Total physical memory in bytes (sysinfo(2)); 0 when it cannot be read.
uint64_t PhysicalMemoryBytes();

// The process runs with full rights (effective user id 0).
bool IsAdministrator();

// An environment variable; nothing when it is not set (set but empty gives "").
std::optional<std::string> GetEnvironmentVariable(const std::string &name);

// $KRV_SETUP_ROOT without a trailing "/", or empty when unset or empty.
std::string SetupRootDirectory();

// The folder `base` + "/" + `below` as a program may write to it: "." and
// ".." resolved in the text, and under KRV_SETUP_ROOT moved under the root
// when it is not there already (as every folder the setup derives is). `base`
// is a folder already resolved (a folder reference's path), or empty. Nothing
// when the path is not absolute, or when a ".." climbs out of `base` or out
// of the setup root.
std::optional<std::string> ConfinedFolder(std::string_view base, std::string_view below);

// The user's home: $KRV_SETUP_ROOT/home when the setup root is set, else
// $HOME, else the password database entry. No trailing "/".
std::string HomeDirectory();

// The absolute path of the running program file (/proc/self/exe); empty when
// it cannot be read.
std::string ExecutablePath();

} // namespace krv::platform
