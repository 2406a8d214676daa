// The setup's questions to the system: file and library versions, registry
// values as text, the identity of the running system, administrator rights,
// starting programs, the Java runtime, and small presentation helpers.
//
// Linux meanings of what was asked of Windows:
// - Versions of files come from the version note that our ELF files carry
//   (platform/version_info.h); version strings such as "ProductName" from a
//   ".krv.verstrings" section (KRV_DECLARE_VERSION_STRINGS below). Shell and
//   common-controls libraries always count as new enough.
// - Registry values come from the file registry store
//   (platform/setup_registry.h).
// - The OS display name is the distribution's PRETTY_NAME (os-release), else
//   its NAME and VERSION_ID, else "Linux <kernel release>"; "OsNotIdentified"
//   when nothing can be read. The OS version is the kernel release
//   (major.minor.patch, service pack 0). The family is always 1: there is no
//   9x family, and a native program never runs under WOW64.
// - File-system redirection and WOW64 do nothing and answer false.
// - Administrator (CanLockServiceDatabase): this process may write the
//   system folder, the program folders and the machine's registry store
//   (for a folder not made yet, the nearest one that exists), as root may;
//   under KRV_SETUP_ROOT those lie in the root.
// All queries answer false, 0 or empty text on failure and show nothing.
#pragma once

#include "version.h"

#include <setup_process.h>
#include <setup_registry.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Embeds version strings into a program or library: NUL-separated
// "Name=Value" pairs, e.g.
//   KRV_DECLARE_VERSION_STRINGS("ProductName=Telmar 2.3\0CompanyName=...\0");
#define KRV_DECLARE_VERSION_STRINGS(pairs)                                                         \
    extern "C" __attribute__((section(".krv.verstrings"), used))                                   \
    const char krv_version_strings[] = pairs

namespace krv::setup {

// Libraries and files.
// Major and minor version of a library found by name (as the dynamic linker
// would look for it, or a path); false when it carries no version.
bool GetDllVersion(std::string_view library, uint32_t &major, uint32_t &minor);
// The file's version as two 32-bit words (major<<16|minor, build<<16|revision).
// 0 on success and also when the file carries no version (outputs unchanged).
int GetFileVersionQuad(std::string_view path, uint32_t &high, uint32_t &low);
// Replaces pathInValueOut by the named version string of that file; false
// (text unchanged) when the file has no such non-empty string.
bool GetVersionInfoString(std::string &pathInValueOut, std::string_view valueName);
bool GetProductNameOfFile(std::string &pathInValueOut);
// The value "Version" ("9.0.8112.16421": 9) or "IVer" of
// HKLM\Software\Microsoft\Internet Explorer in the registry store.
bool GetInternetExplorerVersion(uint32_t &major);

// Registry.
// "HKLM", "HKCU", "HKCR", "HKCC" (any case); any other text before the first
// backslash means HKEY_USERS; nothing when the reference has no backslash.
std::optional<platform::RegistryHive> ParseRegistryRoot(std::string_view reference);
// "ROOT\key\path\ValueName" (an empty value name means the default value):
// the value as text, empty when missing.
std::string ResolveRegistryReference(std::string_view reference);
// A text value as it stands, a number as unsigned decimal; false for binary
// values and missing ones.
bool QueryRegistryValueText(const platform::RegistryKey &key, std::string_view valueName,
                            std::string &text);

// Operating system.
std::string GetOsDisplayName();
int GetOsFamily();
bool IsWow64();
struct OsVersionCache {
    uint32_t major = 0, minor = 0, build = 0, servicePack = 0;
    bool wow64 = false;
};
// The cached version (filled on first use).
OsVersionCache GetOsVersionCache();
// With sameMajorMinor: the system's major and minor equal the version's;
// else the system is not lower by major, minor, service pack (the version's
// revision part) and build. The system is this machine's unless given.
bool OsVersionAtLeast(const VersionQuad &version, bool sameMajorMinor,
                      const OsVersionCache &os = GetOsVersionCache());
bool IsVistaOrLater(bool sameMajorMinor, const OsVersionCache &os = GetOsVersionCache());
struct FsRedirection {
    bool disabled = false;
};
void DisableFsRedirection(FsRedirection &record);
void RevertFsRedirection(FsRedirection &record);
bool IsRunningUnderWow64();
bool CanLockServiceDatabase();

// Processes. Windows-style command lines (platform/setup_process.h). Each
// start goes through the launcher the caller was handed; an empty one starts
// the program for real.
// Starts the program (the command line holds the program name as its first
// argument, as on Windows); with exitCode waits without a time limit and
// fills it. True when the program started. creationFlags: CREATE_NO_WINDOW
// (0x08000000) and DETACHED_PROCESS (0x8) start it in its own session; other
// flags are ignored.
bool RunProcessAndWait(std::string_view program, std::string_view commandLine, uint32_t *exitCode,
                       uint32_t creationFlags = 0, bool withoutRedirection = false,
                       const platform::ProcessLauncher &launcher = {});
// Opens a file: an executable file runs with the parameters (Windows rules),
// in the file's folder; any other file or URL goes to xdg-open. With exitCode
// waits and fills it. True when the start succeeded.
bool ShellExecuteAndWait(std::string_view file, std::string_view parameters, uint32_t *exitCode,
                         bool hidden, const platform::ProcessLauncher &launcher = {});
// The same start, with the whole result of the process (the signal that
// ended it included).
platform::ProcessResult ShellExecuteProcess(std::string_view file, std::string_view parameters,
                                            bool wait, bool hidden,
                                            const platform::ProcessLauncher &launcher = {});

// Java: homes listed in the registry store under
// HKLM\Software\JavaSoft\Java Runtime Environment (or Java Development Kit),
// one subkey per version with the value "JavaHome".
struct JavaHome {
    VersionQuad version;
    std::string home;
};
std::vector<JavaHome> ListJavaHomes(const VersionQuad &minimum, bool developmentKit,
                                    bool ascending);
// The path of wantedFile in the "bin" folder of the first qualifying home:
// preferred folder 1, preferred folder 2, then the listed homes; empty when
// none has it.
std::string FindJavaHome(std::string_view wantedFile, std::string_view minimumVersion,
                         std::string_view preferred1, std::string_view preferred2, bool runtime,
                         bool ascending);

// Presentation helpers.
// The text of an error code followed by the code in brackets: an internet
// error number (12xxx), a download engine result (0xE00000xx, shown in
// hexadecimal) or a system error (errno); the bare code when there is no
// text.
std::string GetInternetErrorText(uint32_t code);
// "1.50 MB", "1.00 KB", "1024.00 KB" (kilobytes up to and including 1 MiB);
// with wholeKilobytes "12 KB".
std::string FormatByteSize(uint32_t size, bool wholeKilobytes);
std::string FormatDecimal(int64_t number);

} // namespace krv::setup
