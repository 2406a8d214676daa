// What the program TelmarSetup2.3 knows of itself around the setup
// sequence: its file and command lines, the log switch, the usage box and the
// exit-code line. The run itself is in program_run.h.
#pragma once

#include "command_line.h"
#include "messages.h"

#include <string>
#include <string_view>

namespace krv::setup {

class SetupWindows;

struct SetupProgram {
    std::string programPath;     // the program's own file
    std::string commandLine;     // the arguments as one line (after /cmdloc)
    std::string fullCommandLine; // program path and arguments, as the log shows it
    CommandLineOptions options;
    int exitCode = 0;
    SetupWindows *windows = nullptr; // the user interface's windows; null: none
    SetupMessages messages;          // where boxes and debug output go
};

// The program's file name without its folder (and without a Windows-style
// ".exe"), as the usage and language boxes show it.
std::string ProgramBaseName(std::string_view programPath);

// /exelog given: logging on, the header naming the program, and the log
// file's path when the switch has a value.
void ApplyLogSwitch(const CommandLineOptions &options, const std::string &programPath);

// The usage box: string 144 formatted with the program's name, caption
// string 140 with the same name, information icon, no owner.
void ProgramShowUsage(const SetupProgram &program);

// "Code returned to Windows by setup:" and the exit code, then the code.
int ProgramWriteExitCodeLog(const SetupProgram &program);

// Under KRV_SETUP_ROOT without XDG_RUNTIME_DIR: the toolkit's runtime
// folder becomes $KRV_SETUP_ROOT/run/user/<uid> (made private to the user),
// set before any Qt application is built. True when it was set.
bool ProgramUseRootRuntimeFolder();

} // namespace krv::setup
