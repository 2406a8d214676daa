// Path texts, folder names and the references that package settings use in
// paths and command lines.
//
// Separators. The settings were written for Windows ("[TempFolder]sub\file"),
// while Linux paths use "/". Every function here takes both "\" and "/" as a
// separator when it reads a path, and writes "/" when it adds one. Folder
// paths returned by the folder functions end with "/". The long-path prefix
// "\\?\" is recognised and skipped; two leading separators followed by
// anything but "?" make a network (UNC-style) path.
//
// Folders. Each folder name resolves through one table to a Linux folder
// (XDG user folders where one fits), see ResolveFolderName. When
// KRV_SETUP_ROOT is set, every folder lies under that directory instead
// (its home is $KRV_SETUP_ROOT/home, its temporary folder $KRV_SETUP_ROOT/tmp),
// so a test never touches the real system.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace krv::setup {

bool IsPathSeparator(char c);
// The path as the system takes it: the long-path prefix skipped and every
// "\" turned into "/". Every function that touches the disk uses this.
std::string ToNativePath(std::string_view path);

// Path text; none of these touches the disk.
// Appends "/" unless the text is empty or already ends with a separator.
void AddTrailingBackslash(std::string &path);
// The text before the last separator (without it); empty when there is none.
std::string GetFolderPart(std::string_view path);
// The file name's text from its last "." on, dot included; empty when the
// file name has none (a "." in a folder name does not count).
std::string GetExtension(std::string_view path);
// Removes the file name's extension and appends the replacement; a file
// name without "." is left unchanged and nothing is appended.
void StripExtension(std::string &path, std::string_view replacement);
// The path with the file name's extension replaced by the given one, or the
// extension appended when the file name has none.
std::string WithExtension(std::string_view path, std::string_view extension);
// The path without a closing ".exe" (any case), as the program names that
// came from Windows carry it; longer than the suffix alone.
std::string_view WithoutExeSuffix(std::string_view path);
// Each of < > : " / \ | ? * becomes "_".
void SanitizeFileName(std::string &name);
bool HasLongPathPrefix(std::string_view path);
std::string SkipLongPathPrefix(std::string_view path);
// Longer than two characters, two leading separators, the third not "?".
bool IsUncPath(std::string_view path);
// An absolute path: begins with a separator, or has ":" as its second
// character (a Windows drive path; such a path never exists on Linux).
bool IsFullPath(std::string_view path);
// The root first, then the components:
//   C:\dir\file       -> C:, dir, file
//   \\srv\share\dir   -> \\srv, share, dir
//   /home/user/file   -> home, user, file   (an empty root is left out)
//   name              -> name
// Empty pieces between two separators are kept; a trailing separator gives no
// empty last piece.
std::vector<std::string> SplitPath(std::string_view path);
// The path rebuilt from SplitPath, each component's trailing blanks and dots
// trimmed, joined with "/" except after a component that ends with "]" (a
// folder reference whose expansion ends with a separator). A path that began
// with one separator keeps it.
std::string JoinPathParts(std::string_view path);
// "C:\" for a drive path, "\\srv\share" for a UNC path (empty when it has no
// separator after the share), "/" for an absolute Linux path; else empty.
std::string GetPathRoot(std::string_view path);
bool PathRootExists(std::string_view path);

// Environment variables.
// False and empty text when the variable is not set.
bool GetEnvironmentText(std::string_view name, std::string &value);

// Folders.
// The setup folder (SETUPEXEDIR): the folder of the given file plus "/".
void SetSetupExeDir(std::string_view path);
// The setup folder; on first use the folder of the running program.
std::string GetSetupExeDir();
// Replaces a folder name by its folder path (ending with "/"). False, name
// unchanged, for a name that is not a known folder. Known names:
//   ProgramFilesFolder, ProgramFiles, ProgramFiles64Folder  /opt/
//   CommonFilesFolder        /usr/local/lib/
//   DesktopFolder            XDG desktop folder (~/Desktop)
//   AllUsersDesktopFolder    /usr/local/share/applications/
//   AppDataFolder            $XDG_CONFIG_HOME (~/.config/)
//   LocalAppDataFolder       $XDG_DATA_HOME (~/.local/share/)
//   CommonAppDataFolder      /var/lib/
//   FavoritesFolder          $XDG_DATA_HOME/favorites/
//   StartMenuFolder, ProgramMenuFolder  $XDG_DATA_HOME/applications/
//   StartupFolder            $XDG_CONFIG_HOME/autostart/
//   FontsFolder              $XDG_DATA_HOME/fonts/
//   SystemFolder             /usr/lib/
//   WindowsFolder            /usr/
//   WindowsVolume            /
//   TempFolder               $TMPDIR or /tmp/
//   SETUPEXEDIR              the setup folder
// Under KRV_SETUP_ROOT the XDG variables are not read (~ is the root's home)
// and every path is prefixed with the root.
bool ResolveFolderName(std::string &name);
// The folder of a shell folder number (CSIDL, e.g. 0x26 program files,
// 0x1A application data) by the same table; false for an unknown number.
bool GetFolderPathByCsidl(int csidl, std::string &path);
// The folder of a known-folder id in GUID text ("{374DE290-...}" Downloads,
// Desktop, Documents, Program Files, Roaming/Local AppData, ProgramData),
// without a trailing "/"; true only with a path (unknown ids give false).
bool GetKnownFolderPath(std::string_view folderId, std::string &path);
// The temporary folder for the run's work files, with a trailing "/" and
// without links: $TMPDIR (else /tmp; [root]/tmp under KRV_SETUP_ROOT) when
// only root and this user can change it (platform::CheckFolderChain), else
// the system's temporary folder under the same rule. A folder refused is
// logged once with its reason. Empty when neither may be used.
std::string GetTempFolder();
// Why the temporary folders were refused; empty when one was taken. A
// folder is refused because another user could change it, or because it
// cannot be used at all (missing, not a folder, no rights), and the
// reason given is the real one.
std::string TempFolderRefusal();
// The message of a run that cannot go on without a temporary folder: the
// reasons and what to fix.
std::string TempFolderRefusalMessage();

// One left-to-right pass over the text: "[FolderName]" becomes the folder
// (left as it stands when unknown), "%NAME%" the environment variable (empty
// when unset), "!ROOT\key\value!" the registry value (empty when missing).
// Replaced text is not scanned again; an opening character without its
// closing one leaves the rest of the text unchanged.
std::string ExpandReferences(std::string_view text);

} // namespace krv::setup
