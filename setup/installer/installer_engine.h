// The installer: what the program krv-msiexec does with the argument line the
// setup builds for it. It installs a package of ours (installer_package.h)
// into its install folder, maintains, reinstalls and removes installed
// products, records them in the installed-products store and answers with
// the Windows Installer's exit codes.
//
// Argument line (options in any case, "/" or "-"):
//   /i PACKAGE            install (an installed product with the same
//                         package code: maintenance, nothing changes unless
//                         REMOVE=ALL or REINSTALL=... is given)
//   /f[modes] PACKAGE     reinstall / minor upgrade of the installed product
//   /p PACKAGE            apply a package over the installed product (as /f)
//   /x PACKAGE|CODE       remove
//   /n CODE               the installed instance to act on
//   /q.. /passive         user-interface level (the installer shows none)
//   /norestart /promptrestart /forcerestart
//   /l[flags] FILE        log lines to FILE
//   NAME=value            properties: INSTALLDIR, PX_INTANCE_LOCATION (the
//                         install folder), TRANSFORMS (":LANGID" sets the
//                         language, ":NAME.mst" with MSINEWINSTANCE=1 picks
//                         an instance of the package's Instance table),
//                         REINSTALL, REINSTALLMODE, REMOVE, REBOOT; others are
//                         recorded in the log only.
//
// Files go only inside the install folder. Each file is written to a staging
// folder inside the install folder first, then renamed into place; a file it
// replaces is moved to a backup folder there. The product's new record is
// written whole beside its old one once the last file is in place, and put
// in its place by one rename after the commit; any failure (or a cancel)
// before the commit puts every file back and leaves the store as it was. A
// journal next to the installer lock names each step before it is taken
// (folders, files, the record, the commit), so that the next run that takes
// the lock finishes (commit written) or undoes (no commit) the files and the
// record of a run that was killed outright, together. What cannot be made
// whole now ends the run with kFailure and stays for the next run: a record
// that cannot be put in place (or removed) after the commit leaves the
// journal committed; a file that cannot be put back leaves the backup folder
// and the journal; a journal that cannot be read, cannot be a change of
// ours, or names no install folder while work folders remain is left as it
// is. Until then every run ends with kFailure and changes nothing. After the
// commit the staged record is the truth: a damaged record in its way is set
// aside, not a reason to stop.
//
// A run makes its folders (and the store's) 0755 and its records 0644, and
// an installed file takes its package's mode less the right of group and
// others to write, whatever the umask it was started with. The record names the folders at and
// above the install folder that the first install made; the removal takes them away when empty.
//
// A package entry whose name holds a control character, or a product whose
// file list would make a record past what the store reads back, is refused
// before anything is written; a record line an earlier installer wrote with
// such a name still names its file. A damaged record of the product (not a values
// file of the store, or past its size limit) is moved aside (see
// SetAsideDamagedRecord) and the run goes on as if the product were not
// installed; a record that could not be read (no permission, an I/O error),
// or a damaged one that cannot be moved aside, ends the run with kFailure
// before anything is written.
//
// Under KRV_SETUP_ROOT every install folder lies under the root; a folder
// whose ".." climbs out of the root, or out of the folder a leading
// reference ("[ProgramFilesFolder]") names, is refused with kFailure.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace krv::setup {

// Exit codes (the Windows Installer's numbers).
namespace installer_exit {
inline constexpr int kSuccess = 0;
inline constexpr int kUnknownProduct = 1605;
inline constexpr int kUserExit = 1602;
inline constexpr int kFailure = 1603;
inline constexpr int kAlreadyRunning = 1618;
inline constexpr int kPackageOpenFailed = 1619;
inline constexpr int kTransformFailed = 1624;
inline constexpr int kOtherVersionInstalled = 1638;
inline constexpr int kInvalidCommandLine = 1639;
inline constexpr int kRestartRequired = 3010;
inline constexpr int kRestartInitiated = 1641; // never given by ours, known from others
} // namespace installer_exit

// The installer's own version, as its program file carries it and as it is
// recorded with each product.
inline constexpr uint16_t kInstallerVersion[4] = {5, 0, 0, 0};

enum class InstallerAction { None, Install, Reinstall, Patch, Uninstall };

struct InstallerRequest {
    InstallerAction action = InstallerAction::None;
    std::string target;        // package path or, for /x, a product code
    std::string reinstallMode; // letters after /f
    std::string instanceCode;  // /n
    std::map<std::string, std::string> properties;
    std::string uiLevel; // "/qn", "/passive", ... as given
    bool forceRestart = false;
    std::string logFile;
};

// A process exit status keeps only eight bits of the code a program exits
// with. The installer's own codes are told apart by their low byte (1603 is
// 67, 3010 is 194 ...): such a status gives back the full code; any other
// status is returned as it stands.
uint32_t InstallerReturnCode(uint32_t exitStatus);

// Reads the argument list (without the program name); false and an error
// text for an option it does not know or one that lacks its value.
bool ParseInstallerArguments(const std::vector<std::string> &arguments, InstallerRequest &request,
                             std::string &error);

struct InstallerContext {
    // Asked between files; true ends the run with kUserExit after rollback.
    std::function<bool()> cancelled;
    // Diagnostic lines (the program writes them to standard error and the
    // /l file).
    std::function<void(std::string_view)> log;
    // Called before each change the run makes on disk, with its kind:
    // "journal" (a journal line), "write" (a file extracted), "mkdir",
    // "rmdir", "rename", "unlink" or "store" (a write to the products
    // store). A test counts the steps and stops a run at any one of them.
    std::function<void(std::string_view)> step;
};

// Runs a request under the installer lock, with the process's umask set to
// 022 until it returns; the exit code.
int RunInstaller(const InstallerRequest &request, const InstallerContext &context);

// The file that holds the installer lock (next to the products store).
std::string InstallerLockPath();

} // namespace krv::setup
