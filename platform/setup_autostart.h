// Entries of the desktop session's autostart folder (XDG Autostart: a
// ".desktop" file in $XDG_CONFIG_HOME/autostart), through which the setup
// bootstrapper starts again once the user logs in after a restart.
//
// The Exec line follows the Desktop Entry rules in two layers: each argument
// that holds a blank or another reserved character is wrapped in double
// quotes, with " ` $ and \ escaped by a backslash inside them, and "%" is
// doubled (it starts a field code); then the whole value gets the key file's
// escapes (\\ \n \t \r). ParseExecValue undoes both.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krv::platform {

// One argument as it stands in an Exec line (before the key-file escapes).
std::string QuoteExecArgument(std::string_view argument);
// The Exec value as it is written to the file.
std::string BuildExecValue(const std::vector<std::string> &arguments);
// The arguments of an Exec value as read from the file; nothing when the
// quoting is broken (an unclosed quote, a lone backslash at the end).
std::optional<std::vector<std::string>> ParseExecValue(std::string_view value);

struct AutostartEntry {
    std::string name;                   // Name=
    std::vector<std::string> arguments; // Exec=, program first
};

// The entry's file: folder/fileName.
std::string AutostartEntryPath(const std::string &folder, const std::string &fileName);
// Writes (or replaces) folder/fileName through a temporary file renamed into
// place, creating the folder when needed. False when it cannot be written.
bool WriteAutostartEntry(const std::string &folder, const std::string &fileName,
                         const AutostartEntry &entry);
// The entry's name and command; nothing when the file is missing or has no
// valid Exec line.
std::optional<AutostartEntry> ReadAutostartEntry(const std::string &folder,
                                                 const std::string &fileName);
// False when there was no such entry or it could not be removed. The
// folders an entry's write made in this process go with it once empty.
bool RemoveAutostartEntry(const std::string &folder, const std::string &fileName);

} // namespace krv::platform
