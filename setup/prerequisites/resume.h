// Starting the setup again after a restart, and the restart itself.
//
// The bootstrapper registers itself in the desktop session's autostart
// folder (an XDG autostart entry, platform/setup_autostart.h): the next
// login starts it with the resume command, and the run that finishes removes
// the entry again. The restart goes to the reboot layer
// (platform/setup_reboot.h).
#pragma once

#include <setup_reboot.h>

#include <string>
#include <string_view>

namespace krv::setup {

// The bootstrapper path and command line a restart runs.
struct ResumeCommand {
    std::string bootstrapperPath;
    std::string commandLine;
};

// Each of \ / : * ? " < > | becomes "_", then ".job" is appended.
std::string MakeJobName(std::string_view bootstrapperPath);
// The autostart entry's file name: the job name with ".desktop" in place of
// ".job".
std::string ResumeEntryFileName(std::string_view bootstrapperPath);
// The folder of the autostart entries (StartupFolder).
std::string ResumeEntryFolder();
// The entry's file in that folder; empty when the folder is unknown.
std::string ResumeEntryPath(std::string_view bootstrapperPath);

// Writes (or updates) the entry that starts the bootstrapper with the
// command line (a Windows-style line, split into arguments) at the next
// login. jobName, when given, receives the entry's file name. False when the
// path is empty or the entry cannot be written.
bool RegisterResume(std::string *jobName, std::string_view bootstrapperPath,
                    std::string_view commandLine);
// RegisterResume with the resume command.
bool RegisterResumeCommand(const ResumeCommand &command);
// Removes the entry of that bootstrapper, when there is one.
void UnregisterResume(std::string_view bootstrapperPath);

// Asks the requester (empty: the reboot layer) for a restart; true when it
// was requested.
bool RebootMachine(const platform::RebootRequester &requester = {});

} // namespace krv::setup
